#include "settingsui/SettingsScreen.hpp"

#include <algorithm>

#include "foundation/BrindlexError.hpp"

namespace velmora {

namespace {

void textLine(Gtk::Label& label, const char* name = nullptr) {
    if (name) label.set_name(name);
    // Notices and messages are shown verbatim, never as markup.
    label.set_use_markup(false);
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
}

// A status line takes no room while it has nothing to say.
void setStatus(Gtk::Label& label, const std::string& text) {
    if (label.get_text().raw() != text) label.set_text(text);
    label.set_visible(!text.empty());
}

}  // namespace

SettingsScreen::SettingsScreen(Parts parts, SettingsFlow& flow)
    : clearHistory_(std::move(parts.clearHistory)),
      confirmation_([this] { return hostWindow(); }),
      panels_([this] { return hostWindow(); }),
      model_(SettingsScreenModel::Services{parts.store, flow, parts.access, confirmation_, panels_,
                                           [this] {
                                               if (!clearHistory_) raise(ErrorCase::accessDenied);
                                               clearHistory_();
                                           }}),
      form_(model_.form()) {
    set_name("settings");
    set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::ALWAYS);
    set_hexpand(true);
    set_vexpand(true);

    column_.set_margin(padding);
    clamp_.set_child(column_);
    clamp_.set_hexpand(true);
    set_child(clamp_);

    textLine(title_);
    title_.set_text(title);
    title_.add_css_class("title-2");
    textLine(caption_);
    caption_.set_text(caption);
    caption_.add_css_class("caption");
    form_.set_name(formName);
    textLine(privacyHeading_);
    privacyHeading_.set_text(privacyHeading);
    privacyHeading_.add_css_class("heading");
    textLine(historyCaption_);
    historyCaption_.set_text(historyCaption);
    historyCaption_.add_css_class("caption");
    textLine(managementHeading_);
    managementHeading_.set_text(managementHeading);
    managementHeading_.add_css_class("heading");
    textLine(notice_, noticeName);
    notice_.add_css_class("caption");
    textLine(result_, resultName);
    textLine(flowMessage_, flowMessageName);

    column_.append(title_);
    column_.append(caption_);
    column_.append(form_);
    column_.append(addButton(apply_, applyName));
    column_.append(addButton(reread_, rereadName));
    column_.append(addButton(folder_, folderName));
    column_.append(firstDivider_);
    column_.append(privacyHeading_);
    if (parts.privacy) column_.append(*parts.privacy);
    column_.append(historyCaption_);
    column_.append(addButton(clearHistoryButton_, clearHistoryName));
    column_.append(secondDivider_);
    column_.append(managementHeading_);
    column_.append(addButton(wizardButton_, wizardName));
    column_.append(addButton(export_, exportName));
    column_.append(addButton(import_, importName));
    column_.append(addButton(reset_, resetName));
    column_.append(notice_);
    column_.append(result_);
    column_.append(flowMessage_);

    apply_.signal_clicked().connect([this] { model_.apply(); });
    reread_.signal_clicked().connect([this] { model_.reread(); });
    folder_.signal_clicked().connect([this] { start(model_.chooseFolder()); });
    clearHistoryButton_.signal_clicked().connect([this] { start(model_.clearHistory()); });
    wizardButton_.signal_clicked().connect([this] { model_.openWizard(); });
    export_.signal_clicked().connect([this] { start(model_.exportSettings()); });
    import_.signal_clicked().connect([this] { start(model_.importSettings()); });
    reset_.signal_clicked().connect([this] { start(model_.resetSettings()); });

    SettingsStore& store = model_.store();
    connections_.push_back(model_.changed().connect([this] { followModel(); }));
    connections_.push_back(store.noticeChanged().connect([this](const std::string&) { followStore(); }));
    connections_.push_back(store.readOnlyChanged().connect([this](const bool&) { followStore(); }));
    connections_.push_back(flow.changed.connect([this] { followFlow(); }));
    // Each time it comes on screen: the stored values, and whatever the
    // flow asked for meanwhile.
    signal_map().connect([this] {
        model_.refresh();
        followFlow();
    });
    followModel();
    followStore();
    followFlow();
}

SettingsScreen::~SettingsScreen() {
    for (auto& connection : connections_) connection.disconnect();
    // The actions use the model and their dialogs; both go with the screen.
    for (const TaskHandle& action : actions_) {
        if (!action.done()) action.discard();
    }
}

Gtk::Button& SettingsScreen::addButton(Gtk::Button& button, const char* name) {
    button.set_name(name);
    button.set_halign(Gtk::Align::START);
    return button;
}

Gtk::Window* SettingsScreen::hostWindow() { return dynamic_cast<Gtk::Window*>(get_root()); }

void SettingsScreen::start(Task<void> action) {
    std::erase_if(actions_, [](const TaskHandle& handle) { return handle.done(); });
    actions_.push_back(spawn(std::move(action)));
}

void SettingsScreen::followModel() { setStatus(result_, model_.message()); }

void SettingsScreen::followStore() {
    SettingsStore& store = model_.store();
    setStatus(notice_, store.notice());
    const bool writable = !store.readOnly();
    form_.set_sensitive(writable);
    apply_.set_sensitive(writable);
}

void SettingsScreen::followFlow() {
    SettingsFlow& flow = model_.flow();
    setStatus(flowMessage_, flow.message.get());
    Gtk::Window* host = get_mapped() ? hostWindow() : nullptr;

    if (flow.wizard.get() && host && !(wizard_ && wizard_->get_visible())) {
        if (!wizard_) wizard_ = std::make_unique<SetupWizard>(model_.store(), flow);
        wizard_->presentOver(*host);
    }

    if (flow.incoming.get()) {
        if (importSheet_ && importSheet_->get_visible()) {
            importSheet_->sync();
        } else if (host) {
            if (!importSheet_) importSheet_ = std::make_unique<ImportSheet>(model_);
            importSheet_->presentOver(*host);
        }
    } else if (importSheet_ && importSheet_->get_visible()) {
        importSheet_->hide();
    }
}

}  // namespace velmora
