#include "ocrviews/OCROptionRows.hpp"

#include "ocrviews/ColumnStyle.hpp"
#include "ocrviews/PaneRules.hpp"

namespace velmora {

OCROptionRows::OCROptionRows(std::shared_ptr<QueueController> controller)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 7),
      controller_(std::move(controller)),
      lines_("改行", {"原稿の改行をできるだけ保持", "読みやすい文章"}),
      txt_("TXT", {"結合TXT", "ページ別TXT"}) {
    // The search row.
    search_.set_name(searchName);
    search_.set_hexpand(true);
    accessibleLabel(search_, "検索");
    hits_.set_name(hitsName);
    styleWidget(hits_, "label { font-feature-settings: \"tnum\"; }");
    // One width for every count, so the search field beside it never
    // changes width as the count grows or shrinks.
    hits_.set_width_chars(OptionRowRules::hitsWidthChars);
    hits_.set_max_width_chars(OptionRowRules::hitsWidthChars);
    hits_.set_xalign(1);
    previous_.set_name(previousName);
    next_.set_name(nextName);
    searchRow_.append(search_);
    searchRow_.append(hits_);
    searchRow_.append(previous_);
    searchRow_.append(next_);
    append(searchRow_);

    // The options and the ways out, one row that wraps only where the pane
    // is too narrow for it: the editor's controls take as few lines as
    // fit, so the page keeps the height.
    lines_.set_hexpand(false);
    lines_.dropDown().set_name(linesName);
    separators_.set_name(separatorsName);
    privateNote_.set_name(privateNoteName);
    privateNote_.set_xalign(0);
    captionFont(privateNote_);
    optionsRow_.addPair(lines_, separators_);
    optionsRow_.add(privateNote_);
    copy_.set_name(copyName);
    txt_.set_size_request(OptionRowRules::txtWidth, -1);
    txt_.set_hexpand(false);
    txt_.dropDown().set_name(txtName);
    save_.set_name(saveName);
    list_.set_name(listName);
    optionsRow_.addPair(copy_, txt_);
    optionsRow_.addPair(save_, list_);
    optionsRow_.setCompact(true);
    append(optionsRow_);

    searchChanged_ = search_.signal_changed().connect([this] {
        const std::string text = search_.get_text();
        if (controller_->search.get() != text) controller_->setSearch(text);
    });
    search_.signal_activate().connect([this] { controller_->find(1); });
    next_.signal_clicked().connect([this] { controller_->find(1); });
    previous_.signal_clicked().connect([this] { controller_->find(-1); });
    lines_.chosen = [this](unsigned index) {
        // The controller may ask first or decline; the picker shows its
        // value once it has decided.
        spawn(afterAction(controller_->changeLines(index == 0), alive_, [this] { refresh(); }));
    };
    separatorsToggled_ =
        separators_.signal_toggled().connect([this] { controller_->pageSeparators = separators_.get_active(); });
    copy_.signal_clicked().connect([this] { controller_->copyAll(); });
    txt_.chosen = [this](unsigned index) { controller_->combined = index == 0; };
    save_.signal_clicked().connect([this] { spawn(controller_->save(false)); });
    list_.signal_clicked().connect([this] {
        controller_->processingList = !controller_->processingList.get();
        controller_->managedQueue = true;
    });

    changed_ = controller_->changed.connect([this] { refresh_.schedule(); });
    refresh();
}

OCROptionRows::~OCROptionRows() {
    changed_.disconnect();
    searchChanged_.disconnect();
    separatorsToggled_.disconnect();
}

std::vector<OCRControlRow*> OCROptionRows::rows() { return {}; }

void OCROptionRows::refresh() {
    QueueController& c = *controller_;
    const PaneFacts facts = PaneFacts::of(c, false);
    namespace R = OptionRowRules;

    const std::string placeholder = R::searchPlaceholder(facts.annotationResult);
    if (search_.get_placeholder_text() != Glib::ustring(placeholder)) search_.set_placeholder_text(placeholder);
    if (search_.get_text() != Glib::ustring(c.search.get())) {
        searchChanged_.block();
        search_.set_text(c.search.get());
        searchChanged_.unblock();
    }
    count_.schedule();

    // The options, not the ways out, wait for the run.
    for (Gtk::Widget* option : std::initializer_list<Gtk::Widget*>{&lines_, &separators_, &privateNote_}) {
        option->set_sensitive(R::firstRowEnabled(facts));
    }
    lines_.show(c.preserveLines ? 0 : 1);
    if (separators_.get_active() != c.pageSeparators.get()) {
        separatorsToggled_.block();
        separators_.set_active(c.pageSeparators);
        separatorsToggled_.unblock();
    }
    const std::string note = R::privateNote(facts.privateQueue);
    if (privateNote_.get_text() != Glib::ustring(note)) privateNote_.set_text(note);
    // An empty note takes no place in the row.
    if (privateNote_.get_visible() == note.empty()) privateNote_.set_visible(!note.empty());

    copy_.set_sensitive(R::copyEnabled(facts));
    txt_.show(c.combined ? 0 : 1);
    txt_.set_sensitive(R::txtEnabled(facts));
    save_.set_sensitive(R::saveEnabled(facts));
}

void OCROptionRows::refreshHits() {
    QueueController& c = *controller_;
    // Without a search text nothing is read, and nothing need be kept.
    if (c.search->empty()) {
        counted_.reset();
        const std::string none = OptionRowRules::hitCount(0);
        if (hits_.get_text() != Glib::ustring(none)) hits_.set_text(none);
        return;
    }
    // Compared in place: copying a long queue's snapshot on every turn
    // would cost more than the comparison.
    if (counted_ && counted_->search == c.search.get() && counted_->text == c.edited.get() &&
        counted_->input == c.selectedID.get() && counted_->page == c.page.get() &&
        counted_->snapshot == c.snapshot.get()) {
        return;
    }
    const std::size_t hits = c.searchMatches().size();
    ++countings_;
    counted_ = HitKey{c.search.get(), c.edited.get(), c.selectedID.get(), c.page.get(), c.snapshot.get()};
    hits_.set_text(OptionRowRules::hitCount(hits));
}

}  // namespace velmora
