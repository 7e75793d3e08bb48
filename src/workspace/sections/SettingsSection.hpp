#pragma once

#include <memory>

namespace Gtk {
class Widget;
}

namespace velmora {

class AppServices;
class PrivacyWindows;

// The settings screen as a workspace window shows it in its settings
// section: over the services' settings store and output folders, clearing
// the process's capture history, with the browser privacy section placed
// under its heading, over `windows`. A managed widget, for the caller to
// place.
Gtk::Widget& makeSettingsSection(AppServices& services, std::shared_ptr<PrivacyWindows> windows);

}  // namespace velmora
