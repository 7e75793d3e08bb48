#include "workspace/web/BrowserDownloadList.hpp"

#include <glibmm/main.h>
#include <gtkmm/adjustment.h>

#include <algorithm>

#include "browser/BrowserDownload.hpp"
#include "browser/BrowserTab.hpp"
#include "foundation/DesktopActions.hpp"
#include "gui/PhraseBreaks.hpp"
#include "workspace/web/WebPaneRules.hpp"
#include "workspace/web/WebWorkspaceStyle.hpp"

namespace velmora {

namespace {

// A one-line label that asks for its cap and is never wider: a long file
// name is shortened at its end instead of widening the row, and in a narrow
// pane it gives up its width before the buttons after it are cut.
class CappedLabel : public Gtk::Label {
public:
    explicit CappedLabel(int cap) : cap_(cap) {
        set_single_line_mode(true);
        set_ellipsize(Pango::EllipsizeMode::END);
        set_xalign(0);
    }

protected:
    void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                       int& minimum_baseline, int& natural_baseline) const override {
        Gtk::Label::measure_vfunc(orientation, for_size, minimum, natural, minimum_baseline, natural_baseline);
        if (orientation != Gtk::Orientation::HORIZONTAL) return;
        minimum = std::min(minimum, cap_);
        natural = cap_;
    }

private:
    int cap_;
};

// Holds a bar that asks for the given width and makes do with its theme's
// least one in a narrow pane. A plain widget, since a box measures by its
// layout and would not ask for more than the bar does.
class BarHolder : public Gtk::Widget {
public:
    BarHolder(Gtk::Widget& bar, int natural) : bar_(bar), natural_(natural) {
        bar.set_parent(*this);
        // Held by its line, the holder is finalized before its C++ side
        // goes: the bar is let go while the holder is still a widget.
        signal_destroy().connect([this] { release(); });
    }
    ~BarHolder() override {
        if (gobj()) release();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

    void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                       int& minimum_baseline, int& natural_baseline) const override {
        bar_.measure(orientation, for_size, minimum, natural, minimum_baseline, natural_baseline);
        if (orientation == Gtk::Orientation::HORIZONTAL) natural = std::max(natural, natural_);
    }

    void size_allocate_vfunc(int width, int height, int baseline) override {
        bar_.size_allocate(Gtk::Allocation(0, 0, width, height), baseline);
    }

private:
    // The bar itself may already be gone with its row.
    void release() {
        while (Gtk::Widget* child = get_first_child()) child->unparent();
    }

    Gtk::Widget& bar_;
    int natural_;
};

void caption(Gtk::Label& label) {
    label.add_css_class("caption");
    label.set_use_markup(false);
    label.set_xalign(0);
}

}  // namespace

// --- One row.

DownloadRow::DownloadRow(std::shared_ptr<BrowserDownload> item, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 2), item_(std::move(item)), desktop_(desktop) {
    const std::string id = item_->id.text();
    set_name(rowPrefix + id);
    name_ = Gtk::make_managed<CappedLabel>(WebPaneRules::downloadNameMaxWidth);
    name_->set_name(namePrefix + id);
    // The name's column is as wide as its cap in every row where there is
    // room, so that the states, bars and buttons after it line up.
    failureIcon_.set_name(failureIconPrefix + id);
    failureIcon_.set_from_icon_name("dialog-error-symbolic");
    failureIcon_.add_css_class("error");
    // The icon in a box of its own, without a baseline: beside the state on
    // one baseline it would measure one height with a width and another
    // without (CaptureStatusRow).
    iconHolder_.append(failureIcon_);
    iconHolder_.set_visible(false);
    iconHolder_.set_valign(Gtk::Align::CENTER);
    state_.set_name(WebPaneRules::statePrefix + id);
    state_.set_xalign(0);
    stateColumn_.append(iconHolder_);
    stateColumn_.append(state_);
    bytes_.set_name(bytesPrefix + id);
    caption(bytes_);
    bytes_.set_single_line_mode(true);
    bytes_.set_ellipsize(Pango::EllipsizeMode::END);
    // Compact buttons keep a row as low as its text and bar, so that three
    // rows fit the list's height whole.
    cancel_.add_css_class(WebWorkspaceStyle::compactClass);
    reveal_.add_css_class(WebWorkspaceStyle::compactClass);
    cancel_.set_label(std::string(WebPaneRules::cancelLabel));
    cancel_.set_name(WebPaneRules::cancelPrefix + id);
    reveal_.set_label(std::string(WebPaneRules::revealLabel));
    reveal_.set_name(WebPaneRules::revealPrefix + id);
    progress_.set_name(progressPrefix + id);
    progress_.set_pulse_step(0.1);
    auto* bar = Gtk::make_managed<BarHolder>(progress_, WebPaneRules::downloadProgressWidth);
    for (Gtk::Widget* child :
         std::initializer_list<Gtk::Widget*>{name_, &stateColumn_, &bytes_, bar, &cancel_, &reveal_}) {
        child->set_valign(Gtk::Align::CENTER);
        line_.append(*child);
    }
    // The line's content stands at its leading edge.
    auto& spacer = *Gtk::make_managed<Gtk::Box>();
    spacer.set_hexpand(true);
    line_.append(spacer);
    append(line_);
    // The notice (a failure's reason) under the line, from the name's
    // column on, wrapped whole however narrow the pane.
    notice_.set_name(noticePrefix + id);
    caption(notice_);
    notice_.set_wrap(true);
    notice_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    append(notice_);
    cancel_.signal_clicked().connect([this] { cancel(); });
    reveal_.signal_clicked().connect([this] { reveal(); });
    observation_ = item_->changed.connect([this] { sync(); });
    sync();
}

DownloadRow::~DownloadRow() {
    observation_.disconnect();
    // The bar is the row's own, its holder the line's: the holder goes only
    // when the line is finalized, after the bar, too late to let go of it
    // without the toolkit finding it still there.
    progress_.unparent();
}

void DownloadRow::align(const Glib::RefPtr<Gtk::SizeGroup>& states, const Glib::RefPtr<Gtk::SizeGroup>& bytes) {
    states_ = states;
    if (!failed_) states_->add_widget(stateColumn_);
    bytes->add_widget(bytes_);
}

int DownloadRow::heightAt(int width) {
    int minimum = 0, natural = 0, baseline = -1, naturalBaseline = -1;
    measure(Gtk::Orientation::VERTICAL, width, minimum, natural, baseline, naturalBaseline);
    return natural;
}

void DownloadRow::cancel() { item_->cancel(); }

void DownloadRow::reveal() {
    // Only the published file, and only shown in its folder, never opened.
    if (const auto& output = item_->output()) desktop_.reveal(*output);
}

void DownloadRow::sync() {
    const BrowserDownload& item = *item_;
    std::optional<std::string> savedName;
    if (const auto& output = item.output()) savedName = output->filename().string();
    const auto view = WebPaneRules::row({.name = item.name(),
                                         .savedName = savedName,
                                         .state = rawValue(item.state()),
                                         .active = item.active(),
                                         .failed = item.state() == BrowserDownload::State::failed,
                                         .received = item.received(),
                                         .expected = item.expected(),
                                         .hasOutput = item.output().has_value(),
                                         .notice = item.notice()});
    if (name_->get_text().raw() != view.name) {
        name_->set_text(view.name);
        name_->set_tooltip_text(view.name);
    }
    if (state_.get_text().raw() != view.state) state_.set_text(view.state);
    styleFailure(view.failed);
    progress_.set_visible(view.progress);
    progress_.get_parent()->set_visible(view.progress);
    if (view.fraction) {
        if (progress_.get_fraction() != *view.fraction) progress_.set_fraction(*view.fraction);
    } else if (view.progress && item.received() != pulsedAt_) {
        pulsedAt_ = item.received();
        progress_.pulse();
    }
    bytes_.set_visible(view.bytes.has_value());
    if (view.bytes && bytes_.get_text().raw() != *view.bytes) bytes_.set_text(*view.bytes);
    cancel_.set_visible(view.cancel);
    reveal_.set_visible(view.reveal);
    notice_.set_visible(view.notice.has_value());
    if (view.notice && notice_.get_text().raw() != *view.notice) notice_.set_text(*view.notice);
}

void DownloadRow::styleFailure(bool failed) {
    if (failed == failed_) return;
    failed_ = failed;
    // The state stays in its column; its icon and the error colours, with
    // the reason under the line, say that it failed.
    iconHolder_.set_visible(failed);
    if (states_) {
        if (failed) states_->remove_widget(stateColumn_);
        else states_->add_widget(stateColumn_);
    }
    for (Gtk::Label* label : {&state_, &notice_}) {
        if (failed) label->add_css_class("error");
        else label->remove_css_class("error");
    }
}

// --- The list.

BrowserDownloadList::BrowserDownloadList(std::shared_ptr<BrowserTab> tab, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 3), desktop_(desktop) {
    set_name(listName);
    set_margin_start(8);
    set_margin_end(8);
    set_margin_top(2);
    set_margin_bottom(2);
    caption_.set_name(captionName);
    caption(caption_);
    scroll_.set_name(scrollName);
    scroll_.add_css_class(WebWorkspaceStyle::downloadsClass);
    scroll_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    // As high as the rows up to the cap, then scrolling.
    scroll_.set_max_content_height(WebPaneRules::downloadsMaxHeight);
    scroll_.set_propagate_natural_height(true);
    scroll_.set_child(rows_);
    toggle_.set_name(toggleName);
    toggle_.add_css_class("flat");
    toggle_.add_css_class(WebWorkspaceStyle::compactClass);
    toggle_.set_icon_name("pan-end-symbolic");
    toggle_.set_valign(Gtk::Align::CENTER);
    toggle_.signal_toggled().connect([this] {
        if (!folding_) fold();
    });
    caption_.set_valign(Gtk::Align::CENTER);
    // Folded, the caption shares its line with the newest row: it wraps
    // rather than push the row past the page's edge in a narrow window (a
    // private tab's caption is as long as the row itself), between its
    // phrases, never inside a word.
    caption_.set_wrap(true);
    caption_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    foldedRow_.set_name(foldedName);
    foldedRow_.set_hexpand(true);
    foldedRow_.set_margin_start(8);
    header_.append(toggle_);
    header_.append(caption_);
    header_.append(foldedRow_);
    append(header_);
    append(scroll_);
    // A download just begun is the one the user looks for: the list follows
    // its newest row until the user scrolls it.
    auto adjustment = scroll_.get_vadjustment();
    adjustment->signal_changed().connect([this] {
        // The range changes while the list is laid out, where a new value
        // would not move the rows already placed: the list follows after.
        if (followNewest_ && !follow_.connected()) {
            follow_ = Glib::signal_idle().connect([this] {
                if (followNewest_) scrollToNewest();
                scroll_.queue_allocate();
                return false;
            });
        }
        // Changed while the list is laid out, where its height may not be
        // set: fitted again after.
        if (rows_.get_width() > 0 && rows_.get_width() != fittedWidth_ && !refit_.connected()) {
            refit_ = Glib::signal_idle().connect([this] {
                fold();
                if (followNewest_) scrollToNewest();
                return false;
            });
        }
    });
    adjustment->signal_value_changed().connect([this] {
        if (!scrolling_) followNewest_ = false;
    });
    WebWorkspaceStyle::install();
    show(tab);
}

void BrowserDownloadList::scrollToNewest() {
    auto adjustment = scroll_.get_vadjustment();
    scrolling_ = true;
    adjustment->set_value(std::max(adjustment->get_upper() - adjustment->get_page_size(), adjustment->get_lower()));
    scrolling_ = false;
}

BrowserDownloadList::~BrowserDownloadList() {
    observation_.disconnect();
    refit_.disconnect();
    follow_.disconnect();
    // The rows are the list's own: taken out before they go.
    unfold();
    for (auto& [id, row] : byID_) rows_.remove(*row);
}

void BrowserDownloadList::show(const std::shared_ptr<BrowserTab>& tab) {
    if (tab != tab_) {
        observation_.disconnect();
        tab_ = tab;
        if (tab_) observation_ = tab_->changed.connect([this] { sync(); });
    }
    sync();
}

DownloadRow* BrowserDownloadList::row(const UUID& downloadID) const {
    auto it = byID_.find(downloadID);
    return it == byID_.end() ? nullptr : it->second.get();
}

void BrowserDownloadList::sync() {
    static const std::vector<std::shared_ptr<BrowserDownload>> none;
    const auto& downloads = tab_ ? tab_->downloads.get() : none;
    std::vector<UUID> order;
    order.reserve(downloads.size());
    for (const auto& item : downloads) order.push_back(item->id);
    const bool sameOrder = order == order_;
    if (!sameOrder) {
        // Every row in the list while it is put in order; the newest goes
        // beside the caption again when the list is folded.
        unfold();
        // Rows of downloads no longer listed go; the others stay the same
        // widgets and are put back in the tab's order.
        for (auto it = byID_.begin(); it != byID_.end();) {
            if (std::find(order.begin(), order.end(), it->first) == order.end()) {
                rows_.remove(*it->second);
                it = byID_.erase(it);
            } else {
                ++it;
            }
        }
        Gtk::Widget* previous = nullptr;
        for (const auto& item : downloads) {
            auto& row = byID_[item->id];
            if (!row) {
                followNewest_ = true;
                row = std::make_unique<DownloadRow>(item, desktop_);
                row->align(states_, bytes_);
                if (previous) rows_.insert_child_after(*row, *previous);
                else rows_.insert_child_at_start(*row);
            } else if (previous) {
                rows_.reorder_child_after(*row, *previous);
            } else {
                rows_.reorder_child_at_start(*row);
            }
            previous = row.get();
        }
        order_ = std::move(order);
    }
    const auto text = WebPaneRules::downloadsCaptionFor(tab_ && tab_->isPrivate(), order_.empty());
    set_visible(text.has_value());
    if (text && caption_.get_text().raw() != *text) {
        caption_.set_text(std::string(*text));
        breakAtPhrases(caption_);
        gtk_accessible_update_property(GTK_ACCESSIBLE(toggle_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       caption_.get_text().c_str(), -1);
    }
    const bool running = std::any_of(downloads.begin(), downloads.end(), [](const auto& item) { return item->active(); });
    if (running_ != running) {
        running_ = running;
        folding_ = true;
        toggle_.set_active(WebPaneRules::downloadsOpen(running));
        folding_ = false;
    }
    fold();
    if (followNewest_) scrollToNewest();
}

void BrowserDownloadList::unfold() {
    if (!folded_) return;
    foldedRow_.remove(*folded_);
    rows_.append(*folded_);
    folded_ = nullptr;
}

void BrowserDownloadList::fold() {
    const bool open = toggle_.get_active() || order_.empty();
    toggle_.set_icon_name(open ? "pan-down-symbolic" : "pan-end-symbolic");
    // Folded, the list is one line: the caption and, beside it, the newest
    // row (what the user downloaded last, with its folder or its reason).
    DownloadRow* newest = order_.empty() ? nullptr : byID_[order_.back()].get();
    if (open || newest != folded_) unfold();
    if (!open && newest && !folded_) {
        rows_.remove(*newest);
        foldedRow_.append(*newest);
        folded_ = newest;
    }
    foldedRow_.set_visible(folded_ != nullptr);
    scroll_.set_visible(open && !order_.empty());
    if (!open) return;
    // The list grows by whole rows up to its cap and scrolls past it: a
    // row is never cut at the list's edges. The rows are measured at
    // the width they are given, where a reason may take two lines; the
    // list keeps at least its first row in view, however little room the
    // page leaves it.
    const int width = rows_.get_width() > 0 ? rows_.get_width() : -1;
    fittedWidth_ = width;
    // The least the list is ever given: whole rows, as many as the scroll
    // bar needs to stand (fewer would show a row cut through).
    int scrollbar = 0;
    if (Gtk::Scrollbar* bar = scroll_.get_vscrollbar()) {
        int natural = 0, baseline = -1, naturalBaseline = -1;
        bar->measure(Gtk::Orientation::VERTICAL, -1, scrollbar, natural, baseline, naturalBaseline);
    }
    // Counted from the newest row, which the list shows (scrollToNewest):
    // the rows in view are whole from the list's foot up.
    int height = 0;
    int least = 0;
    bool full = false;
    for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
        DownloadRow* row = byID_[*it].get();
        const int next = height + (height > 0 ? rows_.get_spacing() : 0) + row->heightAt(width);
        if (next > WebPaneRules::downloadsMaxHeight && height > 0) full = true;
        if (full) break;
        height = next;
        if (least == 0 || least < scrollbar) least = height;
    }
    const int cap = std::min(std::max(height, 1), WebPaneRules::downloadsMaxHeight);
    least = std::min(std::max(least, 1), cap);
    // The toolkit wants the least never above the most, at every step.
    if (scroll_.get_min_content_height() > cap) scroll_.set_min_content_height(least);
    if (scroll_.get_max_content_height() != cap) scroll_.set_max_content_height(cap);
    if (scroll_.get_min_content_height() != least) scroll_.set_min_content_height(least);
}

}  // namespace velmora
