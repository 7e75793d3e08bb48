#include "settingsui/ImportSheet.hpp"

#include <functional>

#include <gtkmm/shortcutcontroller.h>

#include "gui/DialogAnswers.hpp"

namespace velmora {

namespace {

void plainLine(Gtk::Label& label, const char* name) {
    label.set_name(name);
    // The summary and the version come from the file: never markup.
    label.set_use_markup(false);
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    label.set_max_width_chars(1);
    label.set_hexpand(true);
}

}  // namespace

ImportSheet::ImportSheet(SettingsScreenModel& model)
    : Gtk::MessageDialog(title, /*use_markup=*/false, Gtk::MessageType::QUESTION, Gtk::ButtonsType::NONE,
                         /*modal=*/true),
      model_(model) {
    set_name("settings.import");
    set_title(title);
    set_resizable(false);
    set_default_size(width, -1);
    set_size_request(width, -1);
    set_hide_on_close(true);
    DialogAnswers::headingAsTitle(*this);
    // Room above the heading, as every question has.
    get_message_area()->set_margin_top(18);

    plainLine(version_, "settings.import.version");
    plainLine(summary_, "settings.import.summary");
    plainLine(permissions_, "settings.import.permissions");
    permissions_.set_text(permissionsNote);
    permissions_.add_css_class("caption");
    plainLine(unknownKeys_, "settings.import.unknownKeys");
    unknownKeys_.set_text(unknownKeysNote);
    details_.append(version_);
    details_.append(summary_);
    details_.append(permissions_);
    details_.append(unknownKeys_);
    details_.set_hexpand(true);
    // Taller than its content (a window made larger), the sheet keeps its
    // answers at its foot, as every question does.
    details_.set_vexpand(true);
    get_message_area()->append(details_);

    // Loading replaces the settings in use but destroys nothing the user
    // cannot set again: it is the suggested answer, though Return still
    // answers "取消", as in every question about the user's own data.
    cancel_ = add_button("取消", Gtk::ResponseType::CANCEL);
    load_ = add_button("読み込む", Gtk::ResponseType::ACCEPT);
    cancel_->set_name("settings.import.cancel");
    load_->set_name("settings.import.load");
    DialogAnswers::style(*cancel_, *load_, DialogAnswers::Ahead::suggested);
    set_default_response(Gtk::ResponseType::CANCEL);
    signal_response().connect([this](int response) {
        if (response == Gtk::ResponseType::ACCEPT) model_.confirmImport();
        hide();
    });

    // Escape closes the sheet as "取消" does.
    auto keys = Gtk::ShortcutController::create();
    keys->add_shortcut(Gtk::Shortcut::create(
        Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
        Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
            hide();
            return true;
        })));
    add_controller(keys);

    // However it closes, the pending import is over.
    hidden_ = signal_hide().connect([this] { model_.cancelImport(); });
}

ImportSheet::~ImportSheet() {
    // Taking the sheet down with its screen is not the user's answer.
    hidden_.disconnect();
}

void ImportSheet::presentOver(Gtk::Window& parent) {
    set_transient_for(parent);
    sync();
    present();
    // The safe answer has the focus, as in every question.
    cancel_->grab_focus();
}

void ImportSheet::sync() {
    const auto& incoming = model_.flow().incoming.get();
    details_.set_visible(incoming.has_value());
    if (!incoming) return;
    version_.set_text(SettingsScreenModel::importVersionLine(*incoming));
    summary_.set_text(incoming->settings.summary());
    unknownKeys_.set_visible(model_.flow().unknownKeys.get());
}

}  // namespace velmora
