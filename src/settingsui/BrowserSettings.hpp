#pragma once

// The browser privacy section on screen: the restore check box with its
// caption and the restoration's notice, then the website data rows (the
// store kind, the listing button, the site picker with the two delete
// buttons while a list is shown) and the section's status line. It shows
// what its controller holds and forwards the user's actions; syncing a
// control never writes back (its handler is blocked), so the check box shows
// the stored value again after a change that failed.
//
// The view shares its controller with the controller's tasks: a deletion
// started here runs to its end after the view is gone. The question asked
// before a deletion belongs to the window that holds the view.

#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/checkbutton.h>

#include "settingsui/PrivacySettings.hpp"

namespace velmora {

class BrowserSettings : public Gtk::Box {
public:
    // Widget names, for tests and the accessibility tree.
    static constexpr const char* sectionName = "settings.privacy";
    static constexpr const char* restoreName = "settings.restoreTabs";
    static constexpr const char* restorationNoticeName = "settings.restoreNotice";
    static constexpr const char* kindName = "webdata.kind";
    static constexpr const char* loadName = "webdata.load";
    static constexpr const char* siteName = "webdata.site";
    static constexpr const char* deleteSelectedName = "webdata.deleteSelected";
    static constexpr const char* deleteAllName = "webdata.deleteAll";
    static constexpr const char* noticeName = "webdata.notice";

    explicit BrowserSettings(std::shared_ptr<PrivacySettings> controller);
    ~BrowserSettings() override;
    BrowserSettings(const BrowserSettings&) = delete;
    BrowserSettings& operator=(const BrowserSettings&) = delete;

    const std::shared_ptr<PrivacySettings>& controller() const noexcept { return controller_; }

private:
    void sync();
    // The site picker's entries follow the list only when it changed: a
    // new model would drop the user's open popover.
    void syncSites();

    std::shared_ptr<PrivacySettings> controller_;

    Gtk::CheckButton restore_;
    Gtk::Label restorationNotice_;
    Gtk::DropDown kind_;
    Gtk::Button load_;
    Gtk::Box sites_{Gtk::Orientation::VERTICAL, 8};
    Gtk::DropDown site_;
    Gtk::Button deleteSelected_;
    Gtk::Button deleteAll_;
    Gtk::Label notice_;

    // The names the site picker lists, after its first entry.
    std::vector<std::string> listed_;
    sigc::connection restoreHandler_;
    sigc::connection kindHandler_;
    sigc::connection siteHandler_;
    sigc::connection changed_;
};

}  // namespace velmora
