#pragma once

// The body of a window's web section under its tab bar: the address bar
// (back, forward, reload, stop, the address field and "開く") over the
// split area that takes the rest: the page's column beside or above the
// control panel, with the divider between them. The page's column holds,
// over the page, the hint of a restored tab not loaded yet, the button that
// downloads a displayed PDF, the status row and the strips of other tabs'
// saves; then every tab's web view; under it, the selected tab's downloads,
// which appear, grow and fold away from the page, never moving it. While
// the selected tab has no page, a centred page with an icon and the
// sentence of that state stands over the web area; after a failed load the
// failure and its address cover it; the session's navigation notice stands
// at its foot.
//
// - The page keeps half the window's height whatever the rows hold
//   (WebPaneRules::column): the panel at the bottom gives way first, then
//   the downloads' list scrolls. The panel at the bottom stops between two
//   of its rows, never through one (CapturePanel::wholeRows), the page
//   taking the rest. The panel on the right has the whole
//   column's height, so it never moves when a row comes or goes.
// - Every tab's web view stays in the pane for the tab's whole life, stacked
//   on the others; choosing a tab only changes which one is seen and takes
//   input. (A stack or notebook would unmap the others, and a page whose
//   save runs in a background tab would stop being drawn and throttled.)
// - A tab whose save runs keeps its locked size whatever the area does; the
//   divider and the panel are fixed while any tab saves or the window closes.
// - Dragging the divider moves the panel at every step; only the drag's end
//   is written to the preferences.
// - Texts from pages and downloads are shown as plain text, never markup.
// The rules are display-free (WebPaneRules.hpp). Main thread only.

#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>

#include "foundation/UUID.hpp"

namespace velmora {

class BrowserDownloadList;
class BrowserTab;
class CaptureStatusRow;
class DesktopActions;
class OtherTabSaveStrips;
class WindowModel;

class WebWorkspaceContent : public Gtk::Box {
public:
    // Widget names: the first three are the accessibility identifiers
    // automation addresses, the others name the pieces for tests.
    static constexpr const char* addressName = "web.address";
    static constexpr const char* noticeName = "web.navigationNotice";
    static constexpr const char* downloadPDFName = "web.downloadPDF";
    static constexpr const char* addressBarName = "web.addressBar";
    static constexpr const char* backName = "web.back";
    static constexpr const char* forwardName = "web.forward";
    static constexpr const char* reloadName = "web.reload";
    static constexpr const char* stopName = "web.stop";
    static constexpr const char* openName = "web.open";
    static constexpr const char* hintName = "web.restoredHint";
    static constexpr const char* splitName = "web.split";
    static constexpr const char* webAreaName = "web.area";
    static constexpr const char* emptyPageName = "web.emptyPage";
    static constexpr const char* dividerName = "web.divider";
    static constexpr const char* panelBoxName = "web.panelBox";
    static constexpr const char* rowsName = "web.rows";
    static constexpr const char* noticeBoxName = "web.navigationNotice.box";
    static constexpr const char* failedPageName = "web.failedPage";
    static constexpr const char* failedSentenceName = "web.failedPage.sentence";
    static constexpr const char* failedAddressName = "web.failedPage.address";
    // Shown on that page only once the page's process ended.
    static constexpr const char* endedReloadName = "web.failedPage.reload";

    static constexpr const char* addressPlaceholder = "https://… を貼り付け";
    static constexpr const char* restoredHint = "復元したタブです。「開く」かタブ名を押すと読み込みます。";
    static constexpr const char* downloadPDFLabel = "表示中のPDFをダウンロード";

    // The model and the desktop (the status row's folder and clipboard, the
    // downloads' "フォルダで表示") outlive the pane.
    WebWorkspaceContent(std::shared_ptr<WindowModel> model, DesktopActions& desktop);
    ~WebWorkspaceContent() override;
    WebWorkspaceContent(const WebWorkspaceContent&) = delete;
    WebWorkspaceContent& operator=(const WebWorkspaceContent&) = delete;

    const std::shared_ptr<WindowModel>& model() const noexcept { return model_; }

    // The web area's widget of a tab (its surface); null for a tab the
    // window does not hold.
    Gtk::Widget* surface(const UUID& tabID) const;
    // The surface seen: the selected tab's. The others are drawn unseen.
    Gtk::Widget* shownSurface() const;
    // The control panel's size along the split at the last layout.
    double panelSize() const;

    class SplitArea;
    class WebArea;

private:
    void sync();
    void syncAddress();
    void focusChanged(bool focused);

    std::shared_ptr<WindowModel> model_;
    DesktopActions& desktop_;

    Gtk::Box addressBar_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button back_;
    Gtk::Button forward_;
    Gtk::Button reload_;
    Gtk::Button stop_;
    Gtk::Entry address_;
    Gtk::Button open_{"開く"};
    // The rows over the page (the downloads under it); the split places them.
    Gtk::Box* rows_ = nullptr;
    Gtk::Label* hint_ = nullptr;
    Gtk::Button* downloadPDF_ = nullptr;
    CaptureStatusRow* status_ = nullptr;
    OtherTabSaveStrips* strips_ = nullptr;
    BrowserDownloadList* downloads_ = nullptr;
    SplitArea* split_ = nullptr;

    // The focus request seen last: only a new one focuses the field.
    UUID focusRequest_;
    // The tab whose editingAddress the field set, while it has the focus.
    std::weak_ptr<BrowserTab> editing_;
    bool focused_ = false;
    // The field is being set from the model, not typed in.
    bool syncingAddress_ = false;
    sigc::connection observation_;
};

}  // namespace velmora
