#include "workspace/sections/PrivacySection.hpp"

#include "settingsui/BrowserSettings.hpp"
#include "settingsui/PrivacySettings.hpp"
#include "workspace/model/AppServices.hpp"

namespace velmora {

Gtk::Widget& makePrivacySection(AppServices& services, std::shared_ptr<PrivacyWindows> windows) {
    auto controller = PrivacySettings::create(services.settings, services.restoration,
                                              std::make_shared<BrowserSiteDataStores>(services.webStores),
                                              std::move(windows));
    return *Gtk::make_managed<BrowserSettings>(std::move(controller));
}

}  // namespace velmora
