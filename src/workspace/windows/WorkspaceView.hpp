#pragma once

// The content of every workspace window: the section bar on the left (the
// application's name and one row per section), and the main column: the top
// bar (the section's title, the private mark, the new-window button), the
// section pane, the strips of work running outside the section shown, the
// status line and the notice shown while the window stops its work.
//
// - The section pane is an overlay whose main child is the window's web
//   pane, always there and never unmapped: outside the web section it is
//   drawn at no opacity, takes no input or focus and is hidden from
//   accessibility, so a page saving in the background goes on being drawn
//   (the toolkit skips a widget whose own opacity is 0 altogether, and a web
//   view that is never drawn gets no frames from its engine). The OCR,
//   history and settings panes are opaque overlay children made when their
//   section is chosen and dropped when another is; their models outlive
//   them. (A stack would unmap the web pane with its pages.)
// - A change of section (not the first one shown) tells the window set, so
//   the menu commands follow the section, and takes the keyboard focus away
//   from whatever field of the previous section had it.
// The view observes the model and keeps no state of its own beyond its
// widgets. Main thread only.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <gtkmm/separator.h>

#include "gui/GtkDesktopActions.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

class QueueActivityStrip;
class UnseenHolder;
class WebActivityStrips;
class WebWorkspace;
class WorkspaceWindows;

class WorkspaceView : public Gtk::Box {
public:
    static constexpr int sidebarWidth = 170;
    static constexpr const char* sectionRowPrefix = "sidebar.";
    // The selected row's accessible description.
    static constexpr const char* selectedDescription = "選択中";
    static constexpr const char* privateLabel = "プライベート";
    static constexpr const char* privateIcon = "changes-prevent-symbolic";
    static constexpr const char* newWindowLabel = "新しいウインドウ";
    static constexpr const char* newWindowIcon = "window-new-symbolic";
    static constexpr const char* stoppingNotice = "処理を止めています。保存済みの結果は保持します。";

    // Widget names, for tests and the accessibility tree.
    static constexpr const char* sidebarName = "workspace.sidebar";
    static constexpr const char* titleName = "workspace.title";
    static constexpr const char* sectionTitleName = "workspace.sectionTitle";
    static constexpr const char* privateName = "workspace.private";
    static constexpr const char* newWindowName = "workspace.newWindow";
    static constexpr const char* paneName = "workspace.pane";
    static constexpr const char* sectionPaneName = "workspace.sectionPane";
    static constexpr const char* ocrStripSlotName = "workspace.ocrStrip";
    static constexpr const char* webStripsSlotName = "workspace.webStrips";
    static constexpr const char* messageName = "workspace.message";
    static constexpr const char* stoppingName = "workspace.stopping";

    // The CSS classes of the section rows; "selected" tints the chosen one.
    static constexpr const char* rowClass = "velmora-section-row";
    static constexpr const char* selectedClass = "selected";

    // The name of a section's row: "sidebar." and the section's label.
    static std::string rowName(WindowModel::Section section);

    // The model and the window set outlive the view.
    WorkspaceView(std::shared_ptr<WindowModel> model, WorkspaceWindows& windows);
    ~WorkspaceView() override;
    WorkspaceView(const WorkspaceView&) = delete;
    WorkspaceView& operator=(const WorkspaceView&) = delete;

    WebWorkspace& webPane() noexcept { return *web_; }
    // Whether the web pane is seen (the web section), not only drawn.
    bool webPaneSeen() const noexcept;
    // The opaque holder of the chosen section's pane, over the web pane;
    // null in the web section.
    Gtk::Widget* sectionPane() const noexcept { return sectionPane_; }

private:
    void buildSidebar();
    void buildMainColumn();
    void followModel();
    void showSection(WindowModel::Section section);
    Gtk::Widget& makePane(WindowModel::Section section);

    std::shared_ptr<WindowModel> model_;
    WorkspaceWindows& windows_;
    GtkDesktopActions desktop_;

    Gtk::Box sidebar_{Gtk::Orientation::VERTICAL, 5};
    Gtk::Label title_;
    std::array<Gtk::Button, 4> rows_;
    Gtk::Separator sidebarDivider_{Gtk::Orientation::VERTICAL};

    Gtk::Box column_{Gtk::Orientation::VERTICAL, 0};
    Gtk::Box topBar_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Label sectionTitle_;
    Gtk::Box private_{Gtk::Orientation::HORIZONTAL, 4};
    Gtk::Button newWindow_;
    Gtk::Separator topDivider_{Gtk::Orientation::HORIZONTAL};
    Gtk::Overlay pane_;
    // Holds the web pane under the other sections' panes: drawn there at no
    // opacity, so its pages still get their frames.
    UnseenHolder* webHolder_ = nullptr;
    WebWorkspace* web_ = nullptr;
    Gtk::Widget* sectionPane_ = nullptr;
    Gtk::Box ocrStripSlot_{Gtk::Orientation::VERTICAL, 0};
    Gtk::Box webStripsSlot_{Gtk::Orientation::VERTICAL, 0};
    QueueActivityStrip* ocrStrip_ = nullptr;
    WebActivityStrips* webStrips_ = nullptr;
    Gtk::Label message_;
    Gtk::Label stopping_;

    // The section on screen; none until the first one is shown.
    std::optional<WindowModel::Section> shown_;
    sigc::connection modelChanged_;
};

}  // namespace velmora
