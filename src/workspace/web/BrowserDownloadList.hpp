#pragma once

// The downloads of one tab, shown in its web pane: nothing at all while the
// tab has none; otherwise a caption (the longer one for a private tab, which
// says that explicitly saved files remain) over a list that grows to 100
// pixels and then scrolls. One row per download, in the tab's order, kept
// with the download's id: its file name (the saved one, once there is one),
// its state, while it runs its size received with a progress bar and "中止",
// once its file is published "フォルダで表示"; its notice on a line of its
// own under it. The names, states, counts, bars and buttons stand in columns
// from row to row, a failed row's too, whose state and reason read as an
// error. While no download runs the list folds to one line: the caption and
// its newest row beside it.
//
// "フォルダで表示" asks the desktop to show the published file in the file
// manager (DesktopActions::reveal), never to open it: a downloaded file is
// untrusted, and opening it would run whatever handles its type. The rows
// only display: downloading and publishing belong to BrowserDownload. Names
// and notices are plain text. Main thread only.

#include <map>
#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>
#include <gtkmm/scrollbar.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/sizegroup.h>
#include <gtkmm/togglebutton.h>

#include "foundation/UUID.hpp"

namespace velmora {

class BrowserDownload;
class BrowserTab;
class DesktopActions;

class DownloadRow : public Gtk::Box {
public:
    static constexpr const char* rowPrefix = "download.row.";
    static constexpr const char* namePrefix = "download.name.";
    static constexpr const char* bytesPrefix = "download.bytes.";
    static constexpr const char* noticePrefix = "download.notice.";
    static constexpr const char* progressPrefix = "download.progress.";
    static constexpr const char* failureIconPrefix = "download.failureIcon.";

    // The download and the desktop outlive the row.
    DownloadRow(std::shared_ptr<BrowserDownload> item, DesktopActions& desktop);
    // Joins the list's columns of states and byte counts. A failed row's
    // state, the widest, stands outside its column: nothing after it
    // needs to line up, and the running rows' buttons keep their room.
    void align(const Glib::RefPtr<Gtk::SizeGroup>& states, const Glib::RefPtr<Gtk::SizeGroup>& bytes);
    // The row's height at that width (-1: its natural width).
    int heightAt(int width);
    ~DownloadRow() override;
    DownloadRow(const DownloadRow&) = delete;
    DownloadRow& operator=(const DownloadRow&) = delete;

    const std::shared_ptr<BrowserDownload>& item() const noexcept { return item_; }

    // The actions of the buttons, as they run when clicked.
    void cancel();
    void reveal();

private:
    void sync();
    void styleFailure(bool failed);

    std::shared_ptr<BrowserDownload> item_;
    DesktopActions& desktop_;
    // The row's line, then its notice under it.
    Gtk::Box line_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Label* name_ = nullptr;
    // The state's column: the failure's icon beside the state.
    Gtk::Box stateColumn_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Box iconHolder_{Gtk::Orientation::VERTICAL, 0};
    Gtk::Image failureIcon_;
    Gtk::Label state_;
    Glib::RefPtr<Gtk::SizeGroup> states_;
    bool failed_ = false;
    Gtk::Label bytes_;
    Gtk::ProgressBar progress_;
    // The bytes the bar last pulsed for: without a total it moves as they
    // arrive.
    int64_t pulsedAt_ = -1;
    Gtk::Button cancel_;
    Gtk::Button reveal_;
    Gtk::Label notice_;
    sigc::connection observation_;
};

class BrowserDownloadList : public Gtk::Box {
public:
    static constexpr const char* listName = "web.downloads";
    static constexpr const char* captionName = "web.downloads.caption";
    static constexpr const char* scrollName = "web.downloads.scroll";
    static constexpr const char* toggleName = "web.downloads.toggle";
    static constexpr const char* foldedName = "web.downloads.folded";

    // The desktop outlives the list; the tab may be null (nothing shown).
    BrowserDownloadList(std::shared_ptr<BrowserTab> tab, DesktopActions& desktop);
    ~BrowserDownloadList() override;
    BrowserDownloadList(const BrowserDownloadList&) = delete;
    BrowserDownloadList& operator=(const BrowserDownloadList&) = delete;

    // Shows another tab's downloads (the pane's selected tab changed); the
    // same tab again changes nothing.
    void show(const std::shared_ptr<BrowserTab>& tab);
    const std::shared_ptr<BrowserTab>& tab() const noexcept { return tab_; }

    // The downloads the rows stand for, in their order.
    std::vector<UUID> shownDownloads() const { return order_; }
    DownloadRow* row(const UUID& downloadID) const;

private:
    void sync();
    void fold();
    // The folded row back at the end of the list.
    void unfold();
    void scrollToNewest();

    std::shared_ptr<BrowserTab> tab_;
    DesktopActions& desktop_;
    Gtk::Box header_{Gtk::Orientation::HORIZONTAL, 4};
    Gtk::ToggleButton toggle_;
    Gtk::Label caption_;
    // Folded, the newest row stands here, beside the caption.
    Gtk::Box foldedRow_{Gtk::Orientation::HORIZONTAL, 0};
    DownloadRow* folded_ = nullptr;
    Gtk::ScrolledWindow scroll_;
    Gtk::Box rows_{Gtk::Orientation::VERTICAL, 3};
    std::map<UUID, std::unique_ptr<DownloadRow>> byID_;
    std::vector<UUID> order_;
    // The states and byte counts of all rows share their widths, so that
    // the bars and the buttons after them stand in one column.
    Glib::RefPtr<Gtk::SizeGroup> states_ = Gtk::SizeGroup::create(Gtk::SizeGroup::Mode::HORIZONTAL);
    Glib::RefPtr<Gtk::SizeGroup> bytes_ = Gtk::SizeGroup::create(Gtk::SizeGroup::Mode::HORIZONTAL);
    // Whether a download ran at the last look: the list opens and folds
    // when this changes, and otherwise keeps the user's choice.
    std::optional<bool> running_;
    bool folding_ = false;
    // The list shows its newest row: set when a download joins it, cleared
    // when the user scrolls it elsewhere.
    bool followNewest_ = false;
    bool scrolling_ = false;
    // The rows' width the list's height was fitted at, and the fit again
    // once they are given another (the first opening measures them before
    // they have one, where a reason takes one line rather than two).
    int fittedWidth_ = -1;
    sigc::connection refit_;
    sigc::connection follow_;
    sigc::connection observation_;
};

}  // namespace velmora
