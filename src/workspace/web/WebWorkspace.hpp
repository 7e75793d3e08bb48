#pragma once

// The pane of a window's web section: the tab bar above the content of the
// selected tab (address bar, notices, status row, downloads, and the split
// area with every tab's web view and the control panel). The content follows
// the tab the model's selection names by itself; it is made once, so no
// tab's web view ever leaves the pane while the tab lives, and the address
// field starts without the keyboard focus.
//
// The workspace view keeps the pane in the window at all times and hides it
// by opacity and input, never by unmapping it: a page whose save runs while
// another section is shown goes on being drawn. Main thread only.

#include <memory>

#include <gtkmm/box.h>

namespace velmora {

class BrowserTabBar;
class DesktopActions;
class WebWorkspaceContent;
class WindowModel;

class WebWorkspace : public Gtk::Box {
public:
    static constexpr const char* paneName = "workspace.web";

    // The model and the desktop (the content's folder, clipboard and
    // download actions) outlive the pane.
    WebWorkspace(std::shared_ptr<WindowModel> model, DesktopActions& desktop);
    ~WebWorkspace() override;
    WebWorkspace(const WebWorkspace&) = delete;
    WebWorkspace& operator=(const WebWorkspace&) = delete;

    BrowserTabBar& tabBar() noexcept { return *tabBar_; }
    WebWorkspaceContent& content() noexcept { return *content_; }

private:
    std::shared_ptr<WindowModel> model_;
    BrowserTabBar* tabBar_ = nullptr;
    WebWorkspaceContent* content_ = nullptr;
};

}  // namespace velmora
