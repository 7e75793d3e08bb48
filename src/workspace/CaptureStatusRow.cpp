#include "workspace/CaptureStatusRow.hpp"

#include <filesystem>
#include <system_error>

#include "foundation/DesktopActions.hpp"
#include "foundation/Task.hpp"
#include "workspace/CapturePanelRules.hpp"
#include "workspace/WebPaneActions.hpp"
#include "workspace/WindowModel.hpp"

namespace velmora {

namespace {

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
    return facts;
}

}  // namespace

CaptureStatusRow::CaptureStatusRow(std::shared_ptr<WindowModel> model, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8), model_(std::move(model)), desktop_(desktop) {
    set_name(rowName);
    set_margin(12);
    stage_.set_name(stageName);
    stage_.set_use_markup(false);
    stage_.set_xalign(0);
    stage_.set_hexpand(true);
    // One line, shortened at its end when the row is narrow, the whole text
    // in its tooltip. (A wrapping label beside buttons with Japanese labels
    // makes the row's height depend on how it is measured.)
    stage_.set_ellipsize(Pango::EllipsizeMode::END);
    copy_.set_name(copyName);
    capture_.set_name(captureName);
    print_.set_name(printName);
    cancel_.set_name(cancelName);
    open_.set_name(openOutputName);
    for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&stage_, &copy_, &capture_, &print_, &cancel_, &open_}) {
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

CaptureStatusRow::~CaptureStatusRow() { observation_.disconnect(); }

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
    if (stage_.get_text().raw() != row.stage) {
        stage_.set_text(row.stage);
        stage_.set_tooltip_text(row.stage);
    }
    copy_.set_visible(row.copyDiagnostic);
    capture_.set_visible(row.saveButtons);
    print_.set_visible(row.saveButtons);
    capture_.set_sensitive(row.savesEnabled);
    print_.set_sensitive(row.savesEnabled);
    cancel_.set_sensitive(row.cancelEnabled);
    open_.set_visible(row.openOutput);
}

}  // namespace velmora
