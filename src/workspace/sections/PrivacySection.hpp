#pragma once

// The browser privacy section wired to the application: its controller over
// the services' settings, tab restoration and website data stores, and over
// the open windows as the window set shows them (WorkspacePrivacyWindows,
// which lives with the set above this). The settings screen takes the
// finished widget and places it.

#include <memory>

#include <gtkmm/widget.h>

#include "settingsui/PrivacyPorts.hpp"

namespace velmora {

class AppServices;

// A new privacy section (a BrowserSettings) with a controller of its own, as
// a managed widget for the caller to place (its container then owns it),
// over `windows`; services outlive it. The controller lives as long as the
// widget or a deletion it started.
Gtk::Widget& makePrivacySection(AppServices& services, std::shared_ptr<PrivacyWindows> windows);

}  // namespace velmora
