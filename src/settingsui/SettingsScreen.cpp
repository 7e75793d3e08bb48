#include "settingsui/SettingsScreen.hpp"

#include <algorithm>

#include <gtkmm/frame.h>
#include <gtkmm/grid.h>
#include <gtkmm/separator.h>

#include "foundation/BrindlexError.hpp"
#include "gui/StatusPage.hpp"
#include "settingsui/BrowserSettings.hpp"

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

// The controller of a privacy section that is the browser's: its restore
// switch writes the store at once, as part of this screen.
std::shared_ptr<PrivacySettings> privacyOf(Gtk::Widget* section) {
    auto* browser = dynamic_cast<BrowserSettings*>(section);
    return browser ? browser->controller() : nullptr;
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
                                           },
                                           privacyOf(parts.privacy)}),
      form_(model_.form()) {
    set_name("settings");
    installStateColours();
    set_orientation(Gtk::Orientation::VERTICAL);
    set_hexpand(true);
    set_vexpand(true);

    scroller_.set_name(scrollName);
    scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::ALWAYS);
    scroller_.set_hexpand(true);
    scroller_.set_vexpand(true);
    column_.set_margin(padding);
    clamp_.set_child(column_);
    clamp_.set_hexpand(true);
    scroller_.set_child(clamp_);
    append(scroller_);

    textLine(title_);
    title_.set_text(title);
    title_.add_css_class("title-2");
    textLine(caption_);
    caption_.set_text(caption);
    caption_.add_css_class("caption");
    // The reason the form is greyed, where the eye meets the form.
    readOnly_.set_name(readOnlyName);
    readOnlyIcon_.set_from_icon_name("dialog-warning-symbolic");
    readOnlyIcon_.set_valign(Gtk::Align::START);
    readOnlyIcon_.add_css_class("warning");
    textLine(readOnlyReason_, readOnlyReasonName);
    readOnlyReason_.set_hexpand(true);
    readOnlyReason_.add_css_class("warning");
    readOnly_.append(readOnlyIcon_);
    readOnly_.append(readOnlyReason_);
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
    column_.append(readOnly_);
    column_.append(form_);
    addSection(nullptr, {&addButton(folder_, folderName)});
    addSection(&privacyHeading_, {parts.privacy, &historyCaption_, &addButton(clearHistoryButton_, clearHistoryName)});
    // The four commands two by two, in their order.
    auto& management = *Gtk::make_managed<Gtk::Grid>();
    management.set_row_spacing(8);
    management.set_column_spacing(8);
    int position = 0;
    for (Gtk::Button* button : {&addButton(wizardButton_, wizardName), &addButton(export_, exportName),
                                &addButton(import_, importName), &addButton(reset_, resetName)}) {
        button->set_hexpand(false);
        management.attach(*button, position % 2, position / 2);
        ++position;
    }
    addSection(&managementHeading_, {&management});
    column_.append(notice_);
    column_.append(flowMessage_);

    // The action bar: apply and its outcome beside it, re-read at the end.
    // It lies outside the scrolled column, so it never scrolls away.
    append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));
    actionBar_.set_name(actionBarName);
    actionBar_.set_margin(8);
    actionBar_.set_margin_start(padding);
    actionBar_.set_margin_end(padding);
    addButton(apply_, applyName).add_css_class("suggested-action");
    apply_.set_valign(Gtk::Align::CENTER);
    result_.set_hexpand(true);
    result_.set_valign(Gtk::Align::CENTER);
    addButton(reveal_, revealName).set_valign(Gtk::Align::CENTER);
    reveal_.set_visible(false);
    addButton(reread_, rereadName).set_halign(Gtk::Align::END);
    reread_.set_valign(Gtk::Align::CENTER);
    actionBar_.append(apply_);
    actionBar_.append(result_);
    actionBar_.append(reveal_);
    actionBar_.append(reread_);
    append(actionBar_);

    apply_.signal_clicked().connect([this] { model_.apply(); });
    reread_.signal_clicked().connect([this] { model_.reread(); });
    reveal_.signal_clicked().connect([this] {
        if (!model_.exportedFile().empty()) desktop_.reveal(model_.exportedFile());
    });
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

void SettingsScreen::addSection(Gtk::Label* heading, std::initializer_list<Gtk::Widget*> rows) {
    auto& section = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    if (heading) section.append(*heading);
    auto& frame = *Gtk::make_managed<Gtk::Frame>();
    auto& inside = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    inside.set_margin(12);
    for (Gtk::Widget* row : rows) {
        if (row) inside.append(*row);
    }
    frame.set_child(inside);
    section.append(frame);
    column_.append(section);
}

Gtk::Window* SettingsScreen::hostWindow() { return dynamic_cast<Gtk::Window*>(get_root()); }

void SettingsScreen::start(Task<void> action) {
    std::erase_if(actions_, [](const TaskHandle& handle) { return handle.done(); });
    actions_.push_back(spawn(std::move(action)));
}

void SettingsScreen::followModel() {
    // Unlike the column's lines, the result keeps its place in the bar while
    // it is empty: it is the room between the two buttons, and without it
    // re-read would sit beside apply and jump to the end with the first
    // sentence. An empty label adds no height to the bar.
    if (result_.get_text().raw() != model_.message()) result_.set_text(model_.message());
    reveal_.set_visible(!model_.exportedFile().empty());
    const bool failed = model_.messageIsFailure();
    if (result_.has_css_class("error") != failed) {
        if (failed) {
            result_.add_css_class("error");
        } else {
            result_.remove_css_class("error");
        }
    }
}

void SettingsScreen::followStore() {
    SettingsStore& store = model_.store();
    const bool writable = !store.readOnly();
    // Read-only, the notice is the reason and stands above the form.
    setStatus(notice_, store.notice());
    if (!writable) notice_.set_visible(false);
    setStatus(readOnlyReason_, writable ? std::string() : store.notice());
    readOnly_.set_visible(!writable);
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
