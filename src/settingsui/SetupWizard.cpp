#include "settingsui/SetupWizard.hpp"

#include <functional>

#include <gtkmm/adjustment.h>
#include <gtkmm/shortcutcontroller.h>
#include <pangomm/attrlist.h>

namespace velmora {

namespace {

constexpr int padding = 20;

}  // namespace

SetupWizard::SetupWizard(SettingsStore& store, SettingsFlow& flow)
    : flow_(flow), model_(store), form_(model_.form()) {
    set_name("wizard");
    set_title(title);
    set_modal(true);
    set_resizable(false);
    set_default_size(width, height);
    set_size_request(width, height);
    set_hide_on_close(true);

    content_.set_margin(padding);
    set_child(content_);

    heading_.set_text(title);
    heading_.set_xalign(0);
    heading_.add_css_class("title-2");
    content_.append(heading_);

    // Two toggle buttons in one group, drawn joined: the segmented picker.
    courseRow_.set_name("wizard.course");
    courseRow_.append(courseLabel_);
    courseButtons_.add_css_class("linked");
    shortCourse_.set_name("wizard.course.short");
    detailedCourse_.set_name("wizard.course.detailed");
    detailedCourse_.set_group(shortCourse_);
    courseButtons_.append(shortCourse_);
    courseButtons_.append(detailedCourse_);
    courseRow_.append(courseButtons_);
    content_.append(courseRow_);
    shortCourse_.signal_toggled().connect([this] {
        if (!refreshing_ && shortCourse_.get_active()) model_.setDetailed(false);
    });
    detailedCourse_.signal_toggled().connect([this] {
        if (!refreshing_ && detailedCourse_.get_active()) model_.setDetailed(true);
    });

    stepLine_.set_name("wizard.step");
    stepLine_.set_xalign(0);
    content_.append(stepLine_);

    scroller_.set_name("wizard.scroll");
    scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::ALWAYS);
    scroller_.set_vexpand(true);
    scroller_.set_child(scrolled_);
    scrolled_.set_margin_end(12);
    scrolled_.append(form_);
    // The summary is the user's own record: plain text, never markup.
    summary_.set_name("wizard.summary");
    summary_.set_use_markup(false);
    summary_.set_xalign(0);
    summary_.set_yalign(0);
    summary_.set_wrap(true);
    summary_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    summary_.set_selectable(true);
    summary_.set_margin(8);
    scrolled_.append(summary_);
    content_.append(scroller_);

    message_.set_name("wizard.message");
    message_.set_use_markup(false);
    message_.set_xalign(0);
    message_.set_wrap(true);
    message_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    content_.append(message_);

    cancel_.set_name("wizard.cancel");
    back_.set_name("wizard.back");
    next_.set_name("wizard.next");
    apply_.set_name("wizard.apply");
    apply_.add_css_class("suggested-action");
    auto& spacer = *Gtk::make_managed<Gtk::Box>();
    spacer.set_hexpand(true);
    buttons_.append(cancel_);
    buttons_.append(spacer);
    buttons_.append(back_);
    buttons_.append(next_);
    buttons_.append(apply_);
    content_.append(buttons_);

    cancel_.signal_clicked().connect([this] { dismiss(); });
    back_.signal_clicked().connect([this] { model_.back(); });
    next_.signal_clicked().connect([this] { model_.next(); });
    apply_.signal_clicked().connect([this] { applyDraft(); });

    // Escape is "取消"; Return is the default button ("次へ", or "適用" at
    // the summary) wherever the focus is, as a sheet's default button is.
    // Caught before the focused widget sees it: a focused button would
    // otherwise take Return as a press of its own. A dropdown's open list is
    // a surface of its own and keeps its keys.
    auto keys = Gtk::ShortcutController::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    auto onKey = [&](guint keyval, std::function<void()> act) {
        keys->add_shortcut(Gtk::Shortcut::create(
            Gtk::KeyvalTrigger::create(keyval),
            Gtk::CallbackAction::create([act](Gtk::Widget&, const Glib::VariantBase&) {
                act();
                return true;
            })));
    };
    auto pressDefault = [this] {
        if (model_.step() == WizardModel::summaryStep) {
            applyDraft();
        } else {
            model_.next();
        }
    };
    for (guint key : {GDK_KEY_Return, GDK_KEY_KP_Enter, GDK_KEY_ISO_Enter}) onKey(key, pressDefault);
    onKey(GDK_KEY_Escape, [this] { dismiss(); });
    add_controller(keys);

    // However it was closed, the request to show it is over.
    signal_hide().connect([this] {
        if (flow_.wizard.get()) flow_.wizard = false;
    });
    // A host that clears the flag closes the wizard.
    flowConnection_ = flow_.changed.connect([this] {
        if (!flow_.wizard.get() && get_visible()) hide();
    });
    modelConnection_ = model_.changed().connect([this] { refresh(); });
    refresh();
}

SetupWizard::~SetupWizard() {
    modelConnection_.disconnect();
    flowConnection_.disconnect();
}

void SetupWizard::presentOver(Gtk::Window& parent) {
    set_transient_for(parent);
    flow_.wizardApplied = false;
    model_.start();
    refresh();
    present();
}

void SetupWizard::dismiss() { hide(); }

void SetupWizard::applyDraft() {
    if (!model_.apply()) return;
    flow_.wizardApplied = true;
    dismiss();
}

void SetupWizard::refresh() {
    refreshing_ = true;
    (model_.detailed() ? detailedCourse_ : shortCourse_).set_active(true);
    refreshing_ = false;

    const bool summary = model_.step() == WizardModel::summaryStep;
    stepLine_.set_text(model_.stepLine());
    form_.set_visible(!summary);
    summary_.set_visible(summary);
    if (summary) summary_.set_text(model_.summary());
    message_.set_text(model_.message());
    back_.set_sensitive(model_.step() > 0);
    next_.set_visible(!summary);
    apply_.set_visible(summary);
    set_default_widget(summary ? apply_ : next_);
    // A new step starts at the top of its section.
    scroller_.get_vadjustment()->set_value(0);
}

}  // namespace velmora
