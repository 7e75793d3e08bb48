#include "workspace/SettingsSection.hpp"

#include "history/CaptureHistory.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "workspace/AppServices.hpp"

namespace velmora {

Gtk::Widget& makeSettingsSection(AppServices& services) {
    return *Gtk::make_managed<SettingsScreen>(SettingsScreen::Parts{
        services.settings,
        services.access,
        // References only: the saved files stay where they are.
        [] { AppHistory::required()->removeAllReferences(); },
        nullptr,
    });
}

}  // namespace velmora
