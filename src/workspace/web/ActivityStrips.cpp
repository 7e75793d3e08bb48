#include "workspace/web/ActivityStrips.hpp"

#include <algorithm>
#include <utility>

#include "ocrqueue/QueueController.hpp"
#include "ocrviews/PaneRules.hpp"
#include "webcapture/BrowserSession.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebWorkspaceStyle.hpp"

namespace velmora {

namespace {

// The strip's row: its text, a flexible space, then its buttons; hidden
// until there is something to report.
void buildRow(Gtk::Box& row, Gtk::Label& text, std::initializer_list<Gtk::Button*> buttons) {
    row.add_css_class(WebWorkspaceStyle::stripClass);
    row.set_visible(false);
    text.set_use_markup(false);
    text.set_xalign(0);
    text.set_hexpand(true);
    text.set_ellipsize(Pango::EllipsizeMode::END);
    text.add_css_class("caption");
    text.set_valign(Gtk::Align::CENTER);
    row.append(text);
    for (auto* button : buttons) {
        button->set_valign(Gtk::Align::CENTER);
        // As low as the line it stands in: a strip is one line.
        button->add_css_class(WebWorkspaceStyle::compactClass);
        row.append(*button);
    }
}

void setText(Gtk::Label& label, const std::string& text) {
    if (label.get_text().raw() == text) return;
    label.set_text(text);
    label.set_tooltip_text(text);
}

}  // namespace

QueueActivityStrip::QueueActivityStrip(std::shared_ptr<QueueController> controller, std::function<void()> show)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), controller_(std::move(controller)), show_(std::move(show)) {
    WebWorkspaceStyle::install();
    set_name(stripName);
    text_.set_name(textName);
    button_.set_name(showName);
    buildRow(row_, text_, {&button_});
    append(row_);
    button_.signal_clicked().connect([this] {
        if (show_) show_();
    });
    observation_ = controller_->changed.connect([this] { sync(); });
    sync();
}

QueueActivityStrip::~QueueActivityStrip() { observation_.disconnect(); }

void QueueActivityStrip::sync() {
    const QueueController& c = *controller_;
    const auto& snapshot = c.snapshot.get();
    const bool working = WebWorkspaceRules::queueStripShown(
        c.busy, snapshot ? std::optional<QueueStatus>(snapshot->status) : std::nullopt);
    // Work saved by an earlier session (a crash during a run) is told where
    // the window opens, as the OCR section's banner tells it there.
    const bool saved =
        !working && PaneLayout::showsRecoveryBanner(c.recoveryDeferred, !c.savedQueues->empty(), c.engine != nullptr);
    if (working) setText(text_, WebWorkspaceRules::queueStripText(c.status.get()));
    if (saved) setText(text_, WebWorkspaceRules::queueStripText(PaneLayout::savedWorkSentence));
    const bool shown = working || saved;
    if (row_.get_visible() != shown) row_.set_visible(shown);
}

WebActivityStrip::WebActivityStrip(std::shared_ptr<BrowserSession> browser, std::function<void()> show)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), browser_(std::move(browser)), show_(std::move(show)) {
    WebWorkspaceStyle::install();
    set_name(stripName);
    text_.set_name(textName);
    showButton_.set_name(showName);
    cancel_.set_name(cancelName);
    buildRow(row_, text_, {&showButton_, &cancel_});
    append(row_);
    showButton_.signal_clicked().connect([this] {
        if (show_) show_();
    });
    cancel_.signal_clicked().connect([this] { browser_->cancel(); });
    observation_ = browser_->changed.connect([this] { sync(); });
    sync();
}

WebActivityStrip::~WebActivityStrip() { observation_.disconnect(); }

void WebActivityStrip::sync() {
    const bool shown = browser_->hasPendingOperation();
    if (shown) {
        setText(text_, WebWorkspaceRules::webStripText(browser_->stage.get()));
        const std::string_view cancel = WebWorkspaceRules::webStripCancel(browser_->stage.get());
        if (cancel_.get_label().raw() != cancel) cancel_.set_label(std::string(cancel));
    }
    if (row_.get_visible() != shown) row_.set_visible(shown);
}

WebActivityStrips::WebActivityStrips(std::shared_ptr<WindowModel> model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), model_(std::move(model)) {
    observation_ = model_->changed.connect([this] { sync(); });
    sync();
}

WebActivityStrips::~WebActivityStrips() { observation_.disconnect(); }

std::vector<UUID> WebActivityStrips::shownTabs() const {
    std::vector<UUID> shown;
    for (const auto& id : order_) {
        if (strips_.at(id)->shown()) shown.push_back(id);
    }
    return shown;
}

void WebActivityStrips::showTab(const UUID& tabID) {
    model_->selectTab(tabID, false);
    model_->section = WindowModel::Section::web;
}

void WebActivityStrips::sync() {
    std::vector<UUID> order;
    for (const auto& tab : model_->tabs.get()) order.push_back(tab->id);
    for (auto it = strips_.begin(); it != strips_.end();) {
        if (std::find(order.begin(), order.end(), it->first) == order.end()) {
            remove(*it->second);
            it = strips_.erase(it);
        } else {
            ++it;
        }
    }
    if (order == order_) return;
    Gtk::Widget* previous = nullptr;
    for (const auto& tab : model_->tabs.get()) {
        auto& strip = strips_[tab->id];
        if (!strip) {
            strip = Gtk::make_managed<WebActivityStrip>(tab->browser, [this, id = tab->id] { showTab(id); });
            strip->set_name(stripPrefix + tab->id.text());
        }
        if (strip->get_parent()) {
            if (previous) reorder_child_after(*strip, *previous);
            else reorder_child_at_start(*strip);
        } else {
            if (previous) insert_child_after(*strip, *previous);
            else insert_child_at_start(*strip);
        }
        previous = strip;
    }
    order_ = std::move(order);
}

}  // namespace velmora
