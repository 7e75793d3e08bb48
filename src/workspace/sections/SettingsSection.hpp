#pragma once

namespace Gtk {
class Widget;
}

namespace velmora {

class AppServices;
class WorkspaceWindows;

// The settings screen as a workspace window shows it in its settings
// section: over the services' settings store and output folders, clearing
// the process's capture history, with the browser privacy section placed
// under its heading, over the windows of `windows`. A managed widget, for the
// caller to place.
Gtk::Widget& makeSettingsSection(AppServices& services, WorkspaceWindows& windows);

}  // namespace velmora
