#include "workspace/web/CaptureStatusRow.hpp"

#include <glibmm/main.h>
#include <pangomm/attrlist.h>

#include <filesystem>
#include <system_error>

#include "foundation/DesktopActions.hpp"
#include "foundation/Task.hpp"
#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebPaneActions.hpp"

namespace velmora {

namespace {

// How often a bar without a fraction moves: often enough to read as
// running, seldom enough to cost nothing.
constexpr unsigned pulseInterval = 120;

CapturePanelRules::StatusFacts facts(const WindowModel& model) {
    const auto& tab = model.selectedTab();
    const BrowserSession& session = *tab->browser;
    CapturePanelRules::StatusFacts facts;
    facts.panel = model.panel.get();
    facts.webSaving = model.webSaving();
    facts.closing = model.closing.get();
    facts.stage = session.stage.get();
    facts.isPrivate = tab->isPrivate();
    facts.diagnostic = session.captureDiagnosticText.get();
    facts.pending = session.hasPendingOperation();
    facts.hasLastOutput = tab->lastOutput->has_value();
    const auto& trace = session.operation.get();
    facts.failed = trace && WindowModel::operationStage(*trace) == SafeEvent::Stage::failed;
    facts.published = trace && trace->publishedCount() > 0;
    facts.shownPage = session.currentURL.get();
    facts.loading = session.loading.get();
    facts.savedPage = tab->savedPage.get();
    facts.refusal = tab->refusal.get();
    return facts;
}

}  // namespace

CaptureStatusRow::CaptureStatusRow(std::shared_ptr<WindowModel> model, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8), model_(std::move(model)), desktop_(desktop) {
    set_name(rowName);
    set_margin_start(12);
    set_margin_end(12);
    set_margin_top(4);
    set_margin_bottom(4);
    stage_.set_name(stageName);
    stage_.set_use_markup(false);
    stage_.set_xalign(0);
    stage_.set_hexpand(true);
    // A long sentence wraps to as many lines as it needs beside the buttons,
    // so that the end of a failure (its diagnostic code) is never cut away;
    // between any two characters where the text has no space (Japanese),
    // and without the hyphens Pango would add inside a word of Latin
    // letters: the row shows the stage's text as it is. A short one stays
    // one line (sync).
    stage_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    stage_.set_ellipsize(Pango::EllipsizeMode::END);
    auto attributes = Pango::AttrList();
    pango_attr_list_insert(attributes.gobj(), pango_attr_insert_hyphens_new(FALSE));
    stage_.set_attributes(attributes);
    failureIcon_.set_name(failureIconName);
    failureIcon_.set_from_icon_name("dialog-error-symbolic");
    failureIcon_.add_css_class("error");
    failureIcon_.set_valign(Gtk::Align::START);
    iconHolder_.set_visible(false);
    // The icon stands in a box of its own, which has no baseline: an icon
    // beside a wrapped label on one baseline measures one height without a
    // width and another with one, and the toolkit then lays the row out
    // lower than its sentence.
    iconHolder_.append(failureIcon_);
    line_.append(iconHolder_);
    line_.append(stage_);
    progress_.set_name(progressName);
    progress_.set_visible(false);
    progress_.set_pulse_step(0.1);
    text_.set_hexpand(true);
    text_.append(line_);
    text_.append(progress_);
    copy_.set_name(copyName);
    capture_.set_name(captureName);
    print_.set_name(printName);
    cancel_.set_name(cancelName);
    open_.set_name(openOutputName);
    text_.set_valign(Gtk::Align::CENTER);
    append(text_);
    for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&copy_, &capture_, &print_, &cancel_, &open_}) {
        child->set_valign(Gtk::Align::CENTER);
        append(*child);
    }
    copy_.signal_clicked().connect([this] { copyDiagnostic(); });
    capture_.signal_clicked().connect([this] { startSave(model_, false); });
    print_.signal_clicked().connect([this] { startSave(model_, true); });
    cancel_.signal_clicked().connect([this] { model_->browser().cancel(); });
    open_.signal_clicked().connect([this] { openOutput(); });
    observation_ = model_->changed.connect([this] { sync(); });
    sync();
}

CaptureStatusRow::~CaptureStatusRow() {
    observation_.disconnect();
    pulsing_.disconnect();
}

void CaptureStatusRow::copyDiagnostic() {
    // The row may lag a change by nothing, but the rule is checked again:
    // a private tab's diagnostic never reaches the clipboard.
    const auto row = CapturePanelRules::statusRow(facts(*model_));
    if (!row.copyDiagnostic) return;
    desktop_.copyText(model_->browser().captureDiagnosticText.get());
}

void CaptureStatusRow::openOutput() {
    const auto row = CapturePanelRules::statusRow(facts(*model_));
    const auto& folder = model_->lastOutput();
    if (!row.openOutput || !folder) return;
    // Only a folder is handed to the desktop: the save request records the
    // output folder, and a file in its place would be opened, not shown.
    std::error_code error;
    if (!std::filesystem::is_directory(*folder, error)) return;
    desktop_.open(*folder);
}

void CaptureStatusRow::sync() {
    const auto row = CapturePanelRules::statusRow(facts(*model_));
    if (get_visible() != row.visible) set_visible(row.visible);
    if (stage_.get_wrap() != row.wraps) {
        stage_.set_wrap(row.wraps);
        stage_.set_ellipsize(row.wraps ? Pango::EllipsizeMode::NONE : Pango::EllipsizeMode::END);
    }
    if (stage_.get_text().raw() != row.stage) stage_.set_text(row.stage);
    if (iconHolder_.get_visible() != row.failure) {
        iconHolder_.set_visible(row.failure);
        if (row.failure) stage_.add_css_class("error");
        else stage_.remove_css_class("error");
    }
    if (progress_.get_visible() != row.progress) progress_.set_visible(row.progress);
    if (row.fraction && progress_.get_fraction() != *row.fraction) progress_.set_fraction(*row.fraction);
    pulse(row.progress && !row.fraction);
    copy_.set_visible(row.copyDiagnostic);
    capture_.set_visible(row.saveButtons);
    print_.set_visible(row.saveButtons);
    capture_.set_sensitive(row.savesEnabled);
    print_.set_sensitive(row.savesEnabled);
    // Only while there is a save to stop: a button that cannot act is not
    // shown (and a disabled one would keep the row standing for nothing).
    cancel_.set_visible(row.cancel);
    open_.set_visible(row.openOutput);
}

void CaptureStatusRow::pulse(bool on) {
    if (on == pulsing_.connected()) return;
    if (!on) {
        pulsing_.disconnect();
        return;
    }
    progress_.pulse();
    pulsing_ = Glib::signal_timeout().connect(
        [this] {
            progress_.pulse();
            return true;
        },
        pulseInterval);
}

}  // namespace velmora
