#include "workspace/sections/SettingsSection.hpp"

#include "history/CaptureHistory.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/sections/PrivacySection.hpp"

namespace velmora {

Gtk::Widget& makeSettingsSection(AppServices& services, std::shared_ptr<PrivacyWindows> windows) {
    // Managed: the screen owns the privacy section once it places it.
    Gtk::Widget* privacy = &makePrivacySection(services, std::move(windows));
    return *Gtk::make_managed<SettingsScreen>(SettingsScreen::Parts{
        services.settings,
        services.access,
        // References only: the saved files stay where they are.
        [] { AppHistory::required()->removeAllReferences(); },
        privacy,
    });
}

}  // namespace velmora
