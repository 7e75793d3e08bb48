#include "settingsui/BrowserSettings.hpp"

#include <gtk/gtk.h>
#include <gtkmm/grid.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/window.h>
#include <pangomm/attrlist.h>

#include "gui/GtkConfirmation.hpp"

namespace velmora {

namespace {

void asCaption(Gtk::Label& label) {
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    // Site names and notices are plain text, never markup.
    label.set_use_markup(false);
    label.add_css_class("dim-label");
    Pango::AttrList attributes;
    auto small = Pango::Attribute::create_attr_scale(0.85);
    attributes.insert(small);
    label.set_attributes(attributes);
}

Gtk::Label& rowLabel(const char* text) {
    auto& label = *Gtk::make_managed<Gtk::Label>(text);
    label.set_xalign(0);
    label.set_hexpand(true);
    label.set_wrap(true);
    return label;
}

}  // namespace

BrowserSettings::BrowserSettings(std::shared_ptr<PrivacySettings> controller)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 10),
      controller_(std::move(controller)),
      kind_(Gtk::StringList::create({PrivacySettings::normalKind, PrivacySettings::privateKind})),
      load_(PrivacySettings::loadLabel),
      deleteSelected_(PrivacySettings::deleteSelectedLabel),
      deleteAll_(PrivacySettings::deleteAllLabel) {
    set_name(sectionName);

    // 1-3: the check box, its caption, the restoration's notice.
    restore_.set_label(PrivacySettings::restoreLabel);
    restore_.set_name(restoreName);
    append(restore_);
    auto& caption = *Gtk::make_managed<Gtk::Label>(PrivacySettings::restoreCaption);
    asCaption(caption);
    append(caption);
    restorationNotice_.set_name(restorationNoticeName);
    asCaption(restorationNotice_);
    append(restorationNotice_);

    // 4-5: the store kind and the listing.
    auto& kindRow = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 24);
    kindRow.set_margin_top(8);
    kindRow.append(rowLabel(PrivacySettings::kindLabel));
    kind_.set_name(kindName);
    kind_.set_valign(Gtk::Align::CENTER);
    kindRow.append(kind_);
    append(kindRow);
    load_.set_name(loadName);
    load_.set_halign(Gtk::Align::START);
    append(load_);

    // 6: the sites, while a list is shown.
    auto& siteRow = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 24);
    siteRow.append(rowLabel(PrivacySettings::siteLabel));
    site_.set_name(siteName);
    site_.set_valign(Gtk::Align::CENTER);
    siteRow.append(site_);
    sites_.append(siteRow);
    auto& buttons = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    deleteSelected_.set_name(deleteSelectedName);
    deleteAll_.set_name(deleteAllName);
    deleteSelected_.add_css_class("destructive-action");
    deleteAll_.add_css_class("destructive-action");
    buttons.append(deleteSelected_);
    buttons.append(deleteAll_);
    sites_.append(buttons);
    append(sites_);

    // 7: the status line.
    notice_.set_name(noticeName);
    asCaption(notice_);
    append(notice_);

    restoreHandler_ = restore_.property_active().signal_changed().connect(
        [this] { controller_->setRestoreTabs(restore_.get_active()); });
    kindHandler_ = kind_.property_selected().signal_changed().connect([this] {
        const guint chosen = kind_.get_selected();
        if (chosen != GTK_INVALID_LIST_POSITION) controller_->setPrivateData(chosen == 1);
    });
    siteHandler_ = site_.property_selected().signal_changed().connect([this] {
        const guint chosen = site_.get_selected();
        controller_->select(chosen == GTK_INVALID_LIST_POSITION || chosen == 0 || chosen > listed_.size()
                                ? std::string()
                                : listed_[chosen - 1]);
    });
    load_.signal_clicked().connect([this] { controller_->loadRecords(); });
    deleteSelected_.signal_clicked().connect([this] { controller_->confirm(false); });
    deleteAll_.signal_clicked().connect([this] { controller_->confirm(true); });

    // The question goes on the window that holds the section when it is
    // asked; a section in no window asks nothing.
    controller_->sheet = [this]() -> std::shared_ptr<Confirmation> {
        auto* window = dynamic_cast<Gtk::Window*>(get_root());
        if (!window) return nullptr;
        return std::make_shared<GtkConfirmation>(window);
    };
    changed_ = controller_->changed.connect([this] { sync(); });
    sync();
}

BrowserSettings::~BrowserSettings() {
    changed_.disconnect();
    restoreHandler_.disconnect();
    kindHandler_.disconnect();
    siteHandler_.disconnect();
    controller_->sheet = nullptr;
}

void BrowserSettings::sync() {
    const PrivacySettings& c = *controller_;
    restoreHandler_.block();
    restore_.set_active(c.restoreTabs());
    restoreHandler_.unblock();
    restorationNotice_.set_text(c.restorationNotice());
    restorationNotice_.set_visible(!c.restorationNotice().empty());

    kindHandler_.block();
    kind_.set_selected(c.privateData ? 1 : 0);
    kindHandler_.unblock();
    load_.set_sensitive(!c.working);

    syncSites();
    sites_.set_visible(!c.records->empty());
    deleteSelected_.set_sensitive(!c.selected->empty() && !c.working);
    deleteAll_.set_sensitive(!c.working);

    notice_.set_text(c.notice.get());
    notice_.set_visible(!c.notice->empty());
}

void BrowserSettings::syncSites() {
    const PrivacySettings& c = *controller_;
    std::vector<std::string> names;
    for (const auto& record : c.records.get()) names.push_back(record.name);
    siteHandler_.block();
    if (names != listed_) {
        listed_ = std::move(names);
        std::vector<Glib::ustring> entries{PrivacySettings::noSite};
        entries.insert(entries.end(), listed_.begin(), listed_.end());
        site_.set_model(Gtk::StringList::create(entries));
    }
    guint position = 0;
    for (std::size_t i = 0; i < listed_.size(); ++i) {
        if (listed_[i] == c.selected.get()) {
            position = static_cast<guint>(i + 1);
            break;
        }
    }
    site_.set_selected(position);
    siteHandler_.unblock();
}

}  // namespace velmora
