#pragma once

// The browser privacy section wired to the application: its controller over
// the services' settings, tab restoration and website data stores, and over
// the open windows through WorkspacePrivacyWindows. The settings screen takes
// the finished widget and places it.

#include <memory>

#include <gtkmm/widget.h>

#include "settingsui/PrivacyPorts.hpp"

namespace velmora {

class AppServices;
class WorkspaceWindows;

// The windows of a window set as the privacy section sees them. The tabs it
// hands out hold their window's model and the tab weakly, so a window or a
// tab closed while a deletion waits is skipped. The set outlives it.
class WorkspacePrivacyWindows final : public PrivacyWindows {
public:
    explicit WorkspacePrivacyWindows(WorkspaceWindows& windows) : windows_(windows) {}

    // In the set's window order.
    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override;
    void saveSnapshot() override;

private:
    WorkspaceWindows& windows_;
};

// A new privacy section (a BrowserSettings) with a controller of its own.
// services and windows outlive the controller, which lives as long as the
// widget or a deletion it started.
std::unique_ptr<Gtk::Widget> makePrivacySection(AppServices& services, WorkspaceWindows& windows);

}  // namespace velmora
