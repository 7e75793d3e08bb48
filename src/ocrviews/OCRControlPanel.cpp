#include "ocrviews/OCRControlPanel.hpp"

#include <pangomm/layout.h>

#include "ocrviews/ColumnStyle.hpp"
#include "ocrviews/PaneRules.hpp"

namespace velmora {

namespace {

std::vector<std::string> modeChoices() {
    std::vector<std::string> labels;
    for (OCRMode mode : ControlPanelRules::modes()) labels.push_back(ControlPanelRules::modeLabel(mode));
    return labels;
}

unsigned modeIndex(OCRMode mode) {
    const auto& modes = ControlPanelRules::modes();
    for (std::size_t i = 0; i < modes.size(); ++i) {
        if (modes[i] == mode) return static_cast<unsigned>(i);
    }
    return 0;
}

void setText(Gtk::Label& label, const std::string& text) {
    if (label.get_text() != Glib::ustring(text)) label.set_text(text);
}

void setActive(Gtk::CheckButton& button, sigc::connection& handler, bool active) {
    if (button.get_active() == active) return;
    handler.block();
    button.set_active(active);
    handler.unblock();
}

}  // namespace

OCRControlPanel::OCRControlPanel(std::shared_ptr<QueueController> controller)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 7),
      controller_(std::move(controller)),
      mode_("認識", modeChoices()),
      target_("表示対象", {"全文", "校正指示のみ"}) {
    set_halign(Gtk::Align::FILL);
    buildRunRow();
    buildModeRow();
    buildHandwriting();
    verdict_.set_name(verdictName);
    verdict_.set_xalign(0);
    captionFont(verdict_);
    append(verdict_);
    buildPasswordRow();
    buildStatusRow();
    buildRejectionRow();
    changed_ = controller_->changed.connect([this] { refresh_.schedule(); });
    refresh();
}

OCRControlPanel::~OCRControlPanel() {
    changed_.disconnect();
    privateToggled_.disconnect();
    includeToggled_.disconnect();
    candidatesToggled_.disconnect();
    passwordChanged_.disconnect();
}

std::vector<OCRControlRow*> OCRControlPanel::rows() {
    return {&runRow_, &modeRow_, &handwritingRow_, &passwordRow_, &statusRow_, &rejectionRow_};
}

void OCRControlPanel::buildRunRow() {
    open_.set_name(openName);
    name_.set_name(nameName);
    name_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    name_.set_single_line_mode(true);
    name_.set_xalign(0);
    start_.set_name(startName);
    cancel_.set_name(cancelName);
    runRow_.addPair(open_, name_);
    runRow_.addSpace(8);
    runRow_.addPair(start_, cancel_);
    append(runRow_);

    open_.signal_clicked().connect([this] { spawn(controller_->choose()); });
    start_.signal_clicked().connect([this] { spawn(controller_->startProduct()); });
    cancel_.signal_clicked().connect([this] { controller_->stop(JobControl::Stop::cancel); });
}

void OCRControlPanel::buildModeRow() {
    mode_.set_size_request(ControlPanelRules::modeWidth, -1);
    mode_.dropDown().set_name(modeName);
    explanation_.set_name(explanationName);
    explanation_.set_xalign(0);
    explanation_.set_wrap(true);
    explanation_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    // Asking for its one line: Japanese breaks between any two characters,
    // so a label asking as it wraps would settle for a narrow column of
    // short lines beside room to spare.
    explanation_.set_natural_wrap_mode(Gtk::NaturalWrapMode::NONE);
    explanation_.add_css_class("dim-label");
    captionFont(explanation_);
    private_.set_name(privateName);
    captionFont(private_);
    modeRow_.add(mode_);
    modeRow_.add(explanation_);
    modeRow_.add(private_);
    append(modeRow_);

    mode_.chosen = [this](unsigned index) {
        const auto& modes = ControlPanelRules::modes();
        if (index < modes.size()) controller_->recognitionMode = modes[index];
    };
    privateToggled_ = private_.signal_toggled().connect([this] { controller_->privateInput = private_.get_active(); });
}

void OCRControlPanel::buildHandwriting() {
    handwriting_.set_name(handwritingName);
    calloutFont(handwriting_);
    include_.set_name(includeName);
    target_.set_size_request(ControlPanelRules::targetWidth, -1);
    target_.dropDown().set_name(targetName);
    candidates_.set_name(candidatesName);
    handwritingRow_.add(include_);
    handwritingRow_.add(target_);
    handwritingRow_.add(candidates_);
    handwriting_.append(handwritingRow_);
    note_.set_text(
        "不明な領域は全文に残します。指示の実行や原稿の書き換えは行いません。切替後も各表示の編集を起動中に保持します。");
    note_.set_xalign(0);
    note_.set_wrap(true);
    note_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    note_.add_css_class("dim-label");
    captionFont(note_);
    handwriting_.append(note_);
    append(handwriting_);

    includeToggled_ = include_.signal_toggled().connect([this] {
        filterChosen(include_.get_active(), controller_->annotationFilter->instructionsOnly);
    });
    target_.chosen = [this](unsigned index) {
        filterChosen(controller_->annotationFilter->includeHandwriting, index == 1);
    };
    candidatesToggled_ = candidates_.signal_toggled().connect(
        [this] { controller_->showAnnotationCandidates = candidates_.get_active(); });
}

void OCRControlPanel::filterChosen(bool includeHandwriting, bool instructionsOnly) {
    // The filter changes only once the controller agrees (it may ask
    // first); until then, and after a refusal, the controls show its value.
    spawn(afterAction(controller_->changeAnnotationFilter(AnnotationFilter{includeHandwriting, instructionsOnly}),
                      alive_, [this] { refresh(); }));
}

void OCRControlPanel::buildPasswordRow() {
    passwordRow_.set_name(passwordRowName);
    password_.set_name(passwordName);
    password_.property_placeholder_text() = "PDFパスワード";
    password_.set_show_peek_icon(true);
    password_.set_size_request(ControlPanelRules::passwordWidth, -1);
    password_.set_hexpand(false);
    accessibleLabel(password_, "PDFパスワード");
    unlock_.set_name(unlockName);
    passwordCancel_.set_name(passwordCancelName);
    passwordRow_.add(password_);
    passwordRow_.add(unlock_);
    passwordRow_.add(passwordCancel_);
    append(passwordRow_);

    passwordChanged_ = password_.signal_changed().connect([this] {
        const std::string text = password_.get_text();
        if (controller_->password.get() != text) controller_->password = text;
    });
    unlock_.signal_clicked().connect([this] { spawn(controller_->start()); });
    // Return in the field is the button beside it (gtkmm 4.8 does not wrap
    // the field's own signal for it).
    g_signal_connect_swapped(password_.gobj(), "activate", G_CALLBACK(+[](OCRControlPanel* panel) {
                                 if (panel->unlock_.is_sensitive()) spawn(panel->controller_->start());
                             }),
                             this);
    passwordCancel_.signal_clicked().connect([this] { controller_->cancelPassword(); });
}

void OCRControlPanel::buildStatusRow() {
    spinner_.set_name(spinnerName);
    status_.set_name(statusName);
    status_.set_xalign(0);
    status_.set_wrap(true);
    status_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    status_.set_natural_wrap_mode(Gtk::NaturalWrapMode::NONE);
    status_.set_selectable(false);
    calloutFont(status_);
    // A refusal stands in the theme's error colour where it was asked for.
    styleWidget(status_, "label.error { color: @error_color; }");
    count_.set_name(countName);
    captionFont(count_);
    styleWidget(count_, "label { font-feature-settings: \"tnum\"; }");
    unsaved_.set_name(unsavedName);
    unsaved_.set_text("未保存の編集");
    captionFont(unsaved_);
    styleWidget(unsaved_, std::string("label { color: ") + warningColour + "; }");
    openOutput_.set_name(openOutputName);
    openOutput_.set_valign(Gtk::Align::CENTER);
    // A line of text high: the row keeps its height when it comes and goes.
    styleWidget(openOutput_, "button { min-height: 16px; padding-top: 0; padding-bottom: 0; }");
    openOutput_.signal_clicked().connect([this] { controller_->revealExports(); });
    statusRow_.add(spinner_);
    statusRow_.add(status_);
    statusRow_.add(openOutput_);
    statusRow_.add(count_);
    statusRow_.add(unsaved_);
    append(statusRow_);
}

void OCRControlPanel::buildRejectionRow() {
    rejectionRow_.set_name(rejectionName);
    rejectionText_.set_text("続きから再開できません。前回の結果は保持しています。");
    rejectionText_.set_xalign(0);
    captionFont(rejectionText_);
    choices_.set_name(choicesName);
    rejectionCancel_.set_name(rejectionCancelName);
    rejectionRow_.add(rejectionText_);
    rejectionRow_.add(choices_);
    rejectionRow_.add(rejectionCancel_);
    append(rejectionRow_);

    choices_.signal_clicked().connect([this] {
        controller_->processingList = true;
        controller_->managedQueue = true;
    });
    rejectionCancel_.signal_clicked().connect([this] { controller_->closeRejection(); });
}

void OCRControlPanel::refresh() {
    QueueController& c = *controller_;
    const PaneFacts facts = PaneFacts::of(c);
    namespace R = ControlPanelRules;

    // Open and run.
    open_.set_sensitive(R::openEnabled(facts));
    const std::string name = c.currentName();
    setText(name_, name);
    if (name_.get_tooltip_text() != Glib::ustring(name)) name_.set_tooltip_text(name);
    start_.set_label(R::runLabel(facts));
    start_.set_sensitive(R::runEnabled(facts));
    cancel_.set_sensitive(R::cancelEnabled(facts));

    // Mode and private input.
    mode_.show(modeIndex(facts.mode));
    mode_.set_sensitive(R::modeEnabled(facts));
    setText(explanation_, R::modeExplanation(facts.mode));
    setActive(private_, privateToggled_, c.privateInput);
    private_.set_sensitive(R::modeEnabled(facts));

    // Handwriting options.
    handwriting_.set_visible(R::showsHandwriting(facts));
    handwriting_.set_sensitive(R::handwritingEnabled(facts));
    setActive(include_, includeToggled_, c.annotationFilter->includeHandwriting);
    target_.show(c.annotationFilter->instructionsOnly ? 1 : 0);
    setActive(candidates_, candidatesToggled_, c.showAnnotationCandidates);

    // The automatic verdict.
    const std::optional<std::string> verdict = R::verdict(facts.autoPresentation);
    verdict_.set_visible(verdict.has_value());
    if (verdict) setText(verdict_, *verdict);

    // The password.
    passwordRow_.set_visible(R::showsPassword(facts));
    if (password_.get_text() != Glib::ustring(c.password.get())) {
        passwordChanged_.block();
        password_.set_text(c.password.get());
        passwordChanged_.unblock();
    }
    unlock_.set_sensitive(R::passwordButtonsEnabled(facts));
    passwordCancel_.set_sensitive(R::passwordButtonsEnabled(facts));

    // Status.
    spinner_.set_visible(facts.busy);
    spinner_.set_spinning(facts.busy);
    setText(status_, c.status.get());
    if (facts.refusal != status_.has_css_class("error")) {
        if (facts.refusal) status_.add_css_class("error");
        else status_.remove_css_class("error");
    }
    const std::optional<std::string> count = R::pageCount(facts, c.status.get());
    count_.set_visible(count.has_value());
    if (count) setText(count_, *count);
    unsaved_.set_visible(facts.unsavedEdits);
    openOutput_.set_visible(R::showsOpenOutput(facts));

    // The refused resume.
    rejectionRow_.set_visible(facts.rejection);
}

}  // namespace velmora
