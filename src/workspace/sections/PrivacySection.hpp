#pragma once

// The browser privacy section wired to the application: its controller over
// the services' settings, tab restoration and website data stores, and over
// the open windows through WorkspacePrivacyWindows. The settings screen takes
// the finished widget and places it.

#include <memory>
#include <vector>

#include <gtkmm/widget.h>

#include "settingsui/PrivacyPorts.hpp"

namespace velmora {

class AppServices;
class WorkspaceWindows;

// The windows of a window set as the privacy section sees them. The tabs it
// hands out hold their window's model and the tab weakly, so a window or a
// tab closed while a deletion waits is skipped.
class WorkspacePrivacyWindows final : public PrivacyWindows {
public:
    // The set of the process (WorkspaceWindows::shared()), looked up at
    // each use: no windows while there is none.
    WorkspacePrivacyWindows() = default;
    // That set, which outlives this.
    explicit WorkspacePrivacyWindows(WorkspaceWindows& windows) : windows_(&windows) {}

    // In the set's window order.
    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override;
    void saveSnapshot() override;

private:
    WorkspaceWindows* set() const;

    WorkspaceWindows* windows_ = nullptr;
};

// A new privacy section (a BrowserSettings) with a controller of its own, as
// a managed widget for the caller to place (its container then owns it).
// It works on the windows of the process's window set; services outlive it.
// The controller lives as long as the widget or a deletion it started.
Gtk::Widget& makePrivacySection(AppServices& services);
// The same on the windows of a given set.
Gtk::Widget& makePrivacySection(AppServices& services, WorkspaceWindows& windows);

}  // namespace velmora
