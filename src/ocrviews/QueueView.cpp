#include "ocrviews/QueueView.hpp"

#include <gtk/gtk.h>
#include <giomm/liststore.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/listitem.h>
#include <gtkmm/noselection.h>
#include <gtkmm/signallistitemfactory.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/stringobject.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Task.hpp"
#include "gui/DisplayStyle.hpp"
#include "ocrviews/ColumnStyle.hpp"
#include "ocrviews/IdleRefresh.hpp"
#include "ocrviews/ProgressColumns.hpp"
#include "ocrviews/QueuePanelRules.hpp"

namespace velmora {

namespace Rules = QueuePanelRules;

namespace {

// The panel's own look, once per display: the orange of errors (the pane's
// warningColour, 5.2:1 on the window's background), the mark
// of the selected input, and a list that reads as a plain panel (no view
// background, no row padding or hover of a list of choices).
const char* panelStyle() {
    static const std::string css =
        std::string(".queue-error { color: ") + warningColour + "; }\n"
        "button.queue-selected { font-weight: bold; box-shadow: inset 0 0 0 2px rgb(53, 132, 228); }\n"
        "listview.queue-list { background: none; }\n"
        "listview.queue-list > row { padding: 0; background: none; }\n"
        ".queue-input { border-bottom: 1px solid alpha(currentColor, 0.12); padding-bottom: 3px; }\n"
        // A dense panel: its controls a line of text high, so that its
        // toolbars, its summary and three inputs fit above the page.
        ".queue-panel button { min-height: 20px; padding-top: 1px; padding-bottom: 1px; }\n"
        ".queue-panel checkbutton { min-height: 20px; padding-top: 0; padding-bottom: 0; }\n";
    return css.c_str();
}

void installStyle() { installDisplayStyle(panelStyle()); }

void setText(Gtk::Label& label, const std::string& text) {
    if (label.get_text().raw() != text) label.set_text(text);
}

void setSensitive(Gtk::Widget& widget, bool sensitive) {
    if (widget.get_sensitive() != sensitive) widget.set_sensitive(sensitive);
}

void setVisible(Gtk::Widget& widget, bool visible) {
    if (widget.get_visible() != visible) widget.set_visible(visible);
}

// A label that breaks its text into lines at most `Rules::reasonChars`
// wide, between words or, in Japanese, between characters.
Gtk::Label& wrapping(Gtk::Label& label) {
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    label.set_natural_wrap_mode(Gtk::NaturalWrapMode::NONE);
    label.set_max_width_chars(Rules::reasonChars);
    label.set_xalign(0);
    return label;
}

Gtk::Label& leading(Gtk::Label& label) {
    label.set_halign(Gtk::Align::START);
    label.set_xalign(0);
    return label;
}

Gtk::Label& caption(Gtk::Label& label) {
    label.add_css_class("caption");
    return leading(label);
}

void spawnDropped(Task<void> task) { (void)spawn(std::move(task)); }

// "現在の設定で別の試行を作る": the new trial only once the user agreed.
Task<void> confirmedTrial(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self) co_return;
    auto question = self->confirmDiscard(Rules::newTrialQuestion, Rules::newTrialAnswer);
    self.reset();
    const bool proceed = co_await question;
    self = weak.lock();
    if (!self || !proceed) co_return;
    auto trial = self->restartRejected();
    self.reset();
    co_await trial;
}

// One column of an input's line: exactly `width` wide whatever its child
// would like, so the columns of every row line up; a label in it is cut
// short with an ellipsis. Its one-line content is as high at any width, so
// it asks for a constant size and spares the list height-for-width passes.
class FixedColumn : public Gtk::Widget {
public:
    FixedColumn(Gtk::Widget& child, int width) : Glib::ObjectBase("VelmoraQueueColumn"), child_(&child), width_(width) {
        child.set_parent(*this);
        signal_destroy().connect([this] { release(); });
    }
    ~FixedColumn() override {
        if (gobj()) release();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }
    void measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        minimumBaseline = naturalBaseline = -1;
        minimum = natural = 0;
        if (!child_) return;
        if (orientation == Gtk::Orientation::HORIZONTAL) {
            minimum = natural = width_;
            return;
        }
        int b1 = -1, b2 = -1;
        child_->measure(orientation, -1, minimum, natural, b1, b2);
    }
    void size_allocate_vfunc(int width, int height, int) override {
        if (child_) child_->size_allocate(Gtk::Allocation(0, 0, width, height), -1);
    }

private:
    void release() {
        if (child_) child_->unparent();
        child_ = nullptr;
    }

    Gtk::Widget* child_;
    int width_;
};

class Slot;

// One row of the list: a part of the panel that is always the same widget
// (the rows of controls, the texts, the single buttons), one line of the
// folder listing, or one input with its failed pages.
class RowItem : public Glib::Object {
public:
    enum class Kind { fixed, candidate, input };

    static Glib::RefPtr<RowItem> create(Kind kind, Gtk::Widget* fixed = nullptr) {
        return Glib::make_refptr_for_instance<RowItem>(new RowItem(kind, fixed));
    }

    const Kind kind;
    Gtk::Widget* const fixed;
    std::string candidate;
    std::optional<Rules::InputFacts> facts;
    Rules::InputRow input;
    std::size_t position = 0;
    bool last = false;
    // The slot showing this row now, if any.
    Slot* slot = nullptr;

protected:
    RowItem(Kind kind, Gtk::Widget* fixed) : Glib::ObjectBase(typeid(RowItem)), kind(kind), fixed(fixed) {}
};

// What an input's group calls.
struct InputActions {
    std::function<void(const UUID&)> select;
    std::function<void(int64_t)> move;
    std::function<void(const UUID&, int64_t)> retryPage;
};

// One input: its line in columns (the button with its name, the progress
// columns, the move buttons of the selected one, the error) and, indented
// under it, one row per failed page. The list builds far more groups than
// it shows, so the parts most inputs never show (the move buttons, the
// error) are made only when an input first needs them.
class InputGroup : public Gtk::Box {
public:
    // With the progress columns and the selected input's move buttons, the
    // line fits the panel of the least window beside its scroll bar.
    static constexpr int nameWidth = 230;
    static constexpr int failedIndent = 24;

    explicit InputGroup(const InputActions& actions) : Gtk::Box(Gtk::Orientation::VERTICAL, 6), actions_(actions) {
        add_css_class("queue-input");
        line_.set_halign(Gtk::Align::START);
        input_.set_name(QueueView::inputName);
        input_.set_label(" ");
        if (auto* text = dynamic_cast<Gtk::Label*>(input_.get_child())) {
            leading(*text).set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        }
        progress_.set_name(QueueView::progressName);
        for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{&column(input_, nameWidth), &progress_}) {
            w->set_valign(Gtk::Align::CENTER);
            line_.append(*w);
        }
        append(line_);
        input_.signal_clicked().connect([this] { actions_.select(row_.id); });
    }

    void show(const Rules::InputRow& row, std::size_t position, bool retryEnabled) {
        const std::string name = QueueView::rowPrefix + std::to_string(position + 1);
        if (get_name().raw() != name) set_name(name);
        if (input_.get_label().raw() != row.label) input_.set_label(row.label);
        if (row.selected != row_.selected || !shown_) {
            if (row.selected) {
                input_.add_css_class(QueueView::selectedClass);
            } else {
                input_.remove_css_class(QueueView::selectedClass);
            }
            gtk_accessible_update_state(GTK_ACCESSIBLE(input_.gobj()), GTK_ACCESSIBLE_STATE_SELECTED,
                                        static_cast<gboolean>(row.selected), -1);
        }
        progress_.show(row.pages, row.fraction, row.state);
        if (row.progress != row_.progress || !shown_) {
            gtk_accessible_update_property(GTK_ACCESSIBLE(line_.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                           row.progress.c_str(), -1);
        }
        if (row.selected) moveButtons();
        if (up_) {
            setVisible(*up_, row.selected);
            setVisible(*down_, row.selected);
        }
        if (row.error) setText(errorLabel(), *row.error);
        if (error_) setVisible(*error_, row.error.has_value());

        while (failed_.size() < row.failed.size()) addFailedRow();
        for (std::size_t i = 0; i < failed_.size(); ++i) {
            FailedRow& f = failed_[i];
            const bool used = i < row.failed.size();
            setVisible(*f.row, used);
            if (!used) continue;
            setText(*f.text, row.failed[i].text);
            setSensitive(*f.retry, retryEnabled);
        }
        row_ = row;
        shown_ = true;
    }

    void enableRetry(bool enabled) {
        for (FailedRow& f : failed_) setSensitive(*f.retry, enabled);
    }

    // The heights of its lines at the width, top to bottom: the input's
    // line, then each failed page's, each with the spacing above it.
    std::vector<int> lineHeights(int width) const {
        std::vector<int> heights;
        int minimum = 0, natural = 0, b1 = -1, b2 = -1;
        line_.measure(Gtk::Orientation::VERTICAL, width, minimum, natural, b1, b2);
        heights.push_back(natural);
        for (const FailedRow& f : failed_) {
            if (!f.row->get_visible()) continue;
            f.row->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, b1, b2);
            heights.push_back(natural + get_spacing());
        }
        return heights;
    }

private:
    struct FailedRow {
        Gtk::Box* row;
        Gtk::Label* text;
        Gtk::Button* retry;
    };

    // "上へ" and "下へ", after the progress and before the error.
    void moveButtons() {
        if (up_) return;
        up_ = Gtk::make_managed<Gtk::Button>("上へ");
        down_ = Gtk::make_managed<Gtk::Button>("下へ");
        up_->set_name(QueueView::upName);
        down_->set_name(QueueView::downName);
        up_->signal_clicked().connect([this] { actions_.move(-1); });
        down_->signal_clicked().connect([this] { actions_.move(1); });
        for (Gtk::Button* button : {up_, down_}) button->set_valign(Gtk::Align::CENTER);
        line_.insert_child_after(*up_, progress_);
        line_.insert_child_after(*down_, *up_);
    }

    Gtk::Label& errorLabel() {
        if (!error_) {
            error_ = Gtk::make_managed<Gtk::Label>();
            error_->set_name(QueueView::errorName);
            caption(*error_).add_css_class(QueueView::errorClass);
            error_->set_valign(Gtk::Align::CENTER);
            // A reason is a sentence or two: it wraps beside the columns,
            // never pushing the line past the panel's edge.
            wrapping(*error_);
            line_.append(*error_);
        }
        return *error_;
    }

    void addFailedRow() {
        const std::size_t index = failed_.size();
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        row->set_halign(Gtk::Align::START);
        row->set_margin_start(failedIndent);
        auto* text = Gtk::make_managed<Gtk::Label>();
        text->set_name(QueueView::failedPageName);
        caption(*text).set_valign(Gtk::Align::CENTER);
        wrapping(*text);
        auto* retry = Gtk::make_managed<Gtk::Button>("この失敗ページだけ再実行");
        retry->set_name(QueueView::retryPageName);
        retry->set_valign(Gtk::Align::CENTER);
        retry->signal_clicked().connect([this, index] {
            if (index < row_.failed.size()) actions_.retryPage(row_.id, row_.failed[index].page);
        });
        row->append(*text);
        row->append(*retry);
        append(*row);
        failed_.push_back({row, text, retry});
    }

    // The column's widget is the column's own: it goes with the line.
    Gtk::Widget& column(Gtk::Widget& child, int width) { return *Gtk::make_managed<FixedColumn>(child, width); }

    const InputActions& actions_;
    Gtk::Box line_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button& input_ = *Gtk::make_managed<Gtk::Button>();
    ProgressColumns& progress_ = *Gtk::make_managed<ProgressColumns>(QueueView::progressBarName);
    Gtk::Button* up_ = nullptr;
    Gtk::Button* down_ = nullptr;
    Gtk::Label* error_ = nullptr;
    std::vector<FailedRow> failed_;
    Rules::InputRow row_;
    bool shown_ = false;
};

// The widget of one list position: it shows whichever row it is bound to.
// A fixed part is the panel's own widget, lent to the slot that shows it.
class Slot : public Gtk::Box {
public:
    explicit Slot(const InputActions& actions) : Gtk::Box(Gtk::Orientation::VERTICAL), actions_(actions) {
        set_margin_start(8);
        set_margin_end(8);
        set_size_request(QueueView::minimumContentWidth, -1);
    }

    void bind(RowItem& item, bool retryEnabled) {
        release();
        item_ = &item;
        item.slot = this;
        // Sections 6 apart, the inputs of the queue 3 apart.
        set_margin_top(item.kind == RowItem::Kind::input ? 3 : 6);
        set_margin_bottom(item.last ? 8 : 0);
        switch (item.kind) {
        case RowItem::Kind::fixed:
            if (Gtk::Widget* holder = item.fixed->get_parent()) {
                // Still lent to a slot that the list has not let go of yet.
                if (auto* other = dynamic_cast<Slot*>(holder)) other->release();
            }
            fixed_ = item.fixed;
            append(*fixed_);
            break;
        case RowItem::Kind::candidate:
            candidateLabel().set_visible(true);
            setText(candidateLabel(), item.candidate);
            break;
        case RowItem::Kind::input:
            group().set_visible(true);
            group().show(item.input, item.position, retryEnabled);
            break;
        }
    }

    // Gives back a lent widget and forgets the row.
    void release() {
        if (fixed_ && fixed_->get_parent() == this) remove(*fixed_);
        fixed_ = nullptr;
        if (candidate_) candidate_->set_visible(false);
        if (group_) group_->set_visible(false);
        if (item_ && item_->slot == this) item_->slot = nullptr;
        item_ = nullptr;
    }

    const RowItem* item() const { return item_; }
    const InputGroup* inputGroup() const { return group_; }

    void showCandidate(const std::string& text) { setText(candidateLabel(), text); }
    void showInput(const RowItem& item, bool retryEnabled) { group().show(item.input, item.position, retryEnabled); }
    void enableRetry(bool enabled) {
        if (group_) group_->enableRetry(enabled);
    }

private:
    Gtk::Label& candidateLabel() {
        if (!candidate_) {
            candidate_ = Gtk::make_managed<Gtk::Label>();
            candidate_->set_name(QueueView::candidateName);
            caption(*candidate_);
            append(*candidate_);
        }
        return *candidate_;
    }
    InputGroup& group() {
        if (!group_) {
            group_ = Gtk::make_managed<InputGroup>(actions_);
            append(*group_);
        }
        return *group_;
    }

    const InputActions& actions_;
    RowItem* item_ = nullptr;
    Gtk::Widget* fixed_ = nullptr;
    Gtk::Label* candidate_ = nullptr;
    InputGroup* group_ = nullptr;
};

// A labelled picker of a fixed width over a string list.
struct Picker {
    Gtk::Box box{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Label title;
    Glib::RefPtr<Gtk::StringList> choices;
    Gtk::DropDown dropDown;
    sigc::connection chosen;

    // A picker of long choices cuts the one on its button to about
    // `shownChars` characters, so that it keeps its width; the open list
    // shows every choice whole.
    Picker(const char* label, const char* name, int width, std::vector<Glib::ustring> items, int shownChars = 0)
        : title(label), choices(Gtk::StringList::create(items)) {
        dropDown.set_model(choices);
        if (shownChars > 0) {
            dropDown.set_factory(choiceFactory(shownChars));
            dropDown.set_list_factory(choiceFactory(0));
        }
        dropDown.set_name(name);
        dropDown.set_hexpand(true);
        gtk_accessible_update_property(GTK_ACCESSIBLE(dropDown.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label, -1);
        box.set_size_request(width, -1);
        box.set_valign(Gtk::Align::CENTER);
        box.append(title);
        box.append(dropDown);
    }

    static Glib::RefPtr<Gtk::ListItemFactory> choiceFactory(int shownChars) {
        auto factory = Gtk::SignalListItemFactory::create();
        factory->signal_setup().connect([shownChars](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto* label = Gtk::make_managed<Gtk::Label>();
            leading(*label);
            if (shownChars > 0) {
                label->set_ellipsize(Pango::EllipsizeMode::END);
                label->set_width_chars(shownChars);
                label->set_max_width_chars(shownChars);
            }
            item->set_child(*label);
        });
        factory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto choice = std::dynamic_pointer_cast<Gtk::StringObject>(item->get_item());
            if (auto* label = dynamic_cast<Gtk::Label*>(item->get_child()); label && choice) {
                label->set_text(choice->get_string());
            }
        });
        return factory;
    }

    // Shows the index without reporting it as the user's choice.
    void select(unsigned index) {
        if (dropDown.get_selected() == index) return;
        chosen.block();
        dropDown.set_selected(index);
        chosen.unblock();
    }
};

Gtk::Box& row(Gtk::Box& box, std::initializer_list<Gtk::Widget*> widgets) {
    box.set_halign(Gtk::Align::START);
    for (Gtk::Widget* w : widgets) {
        w->set_valign(Gtk::Align::CENTER);
        box.append(*w);
    }
    return box;
}

Gtk::Button& named(Gtk::Button& button, const char* name) {
    button.set_name(name);
    button.set_halign(Gtk::Align::START);
    return button;
}

}  // namespace

struct QueueView::Parts {
    std::shared_ptr<QueueController> controller;
    InputActions actions;

    // Add row.
    Gtk::Box addRow{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button choose{"ファイルを追加"};
    Gtk::Button folder{"フォルダを選ぶ"};
    Gtk::CheckButton recursive{"サブフォルダを含む"};
    Gtk::Button stopListing{"列挙を中止"};
    Gtk::Button close{"一覧を閉じる"};
    // Folder listing.
    Gtk::Label candidatesTitle;
    Gtk::Box candidateButtons{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button addCandidates{"この一覧を追加"};
    Gtk::Button dropCandidates{"追加を取消"};
    // Run row.
    Gtk::Box runRow{Gtk::Orientation::HORIZONTAL, 6};
    Picker order{"処理方式", QueueView::orderName, 210, {"自動調整", "順番"}};
    Gtk::Button start{"開始・続きから再開"};
    Gtk::Button pause{"一時停止"};
    Gtk::Button cancel{"中止"};
    Gtk::Button restart{"最初から"};
    // Saved-queue row.
    Gtk::Box savedRow{Gtk::Orientation::HORIZONTAL, 6};
    Picker saved{"再開候補", QueueView::savedName, 250, {Rules::unselectedSaved}, 17};
    Gtk::Button loadSaved{"続きを読み込む"};
    Gtk::Button later{"あとで"};
    Gtk::Button reselect{"原稿を選び直す"};
    std::vector<std::filesystem::path> savedShown;
    // Rejection panel.
    Gtk::Label rejectionReason;
    Gtk::Box rejectionButtons{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button newTrial{"現在の設定で別の試行を作る"};
    Gtk::Button closeRejection{"再開を取消"};
    // Queue section.
    // The counts and the persistence note, one line.
    Gtk::Box summary{Gtk::Orientation::HORIZONTAL, 12};
    Gtk::Label counts;
    Gtk::Label note;
    Gtk::Button retryAll{"全失敗ページだけ再実行"};
    // Export row and status line.
    Gtk::Box exportRow{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::CheckButton exportWhole{"全キューを保存・コピー"};
    Picker exportOneFile{"全キューTXT", QueueView::exportOneFileName, 220, {"全結果1TXT", "ファイル別TXT"}};
    sigc::connection recursiveToggled;
    sigc::connection exportWholeToggled;

    // The rows of the list: the fixed parts, and the lines and inputs by
    // position.
    Glib::RefPtr<RowItem> addItem, candidatesTitleItem, candidateButtonsItem, runItem, savedItem, rejectionItem,
        rejectionButtonsItem, summaryItem, retryAllItem, exportItem;
    std::vector<Glib::RefPtr<RowItem>> candidateItems;
    std::vector<std::filesystem::path> candidatesShown;
    std::vector<Glib::RefPtr<RowItem>> inputItems;
    Glib::RefPtr<Gio::ListStore<RowItem>> store = Gio::ListStore<RowItem>::create();
    std::vector<RowItem*> listed;  // what the store holds, in order
    Gtk::ListView list;
    bool retryEnabled = true;

    sigc::connection changed;
    IdleRefresh refresh{[this] { update(); }};

    // The usable height last measured, and its application to the panel,
    // out of the allocation that measured it.
    QueueView* view = nullptr;
    std::optional<UUID> shownQueue;
    bool scrollToTop = false;
    // Out of the allocation and its frame: a scroll inside an allocation
    // leaves the list to be drawn before it is laid out again.
    IdleRefresh toTop{[this] {
        if (view) view->get_vadjustment()->set_value(0);
    }};
    int usable = QueueView::minimumHeight;
    IdleRefresh applyUsable{[this] { applyUsableHeight(); }};

    explicit Parts(std::shared_ptr<QueueController> c) : controller(std::move(c)) {
        actions.select = [this](const UUID& id) { controller->goPage(1, id); };
        actions.move = [this](int64_t delta) { controller->moveSelected(delta); };
        actions.retryPage = [this](const UUID& id, int64_t page) {
            spawnDropped(controller->retryFailures(std::map<UUID, std::set<int64_t>>{{id, {page}}}));
        };
        build();
        connect();
    }

    void build() {
        named(choose, QueueView::chooseName);
        named(folder, QueueView::folderName);
        recursive.set_name(QueueView::recursiveName);
        named(stopListing, QueueView::stopListingName);
        named(close, QueueView::closeName);
        row(addRow, {&choose, &folder, &recursive, &stopListing, &close});

        candidatesTitle.set_name(QueueView::candidatesTitleName);
        leading(candidatesTitle);
        named(addCandidates, QueueView::addCandidatesName);
        named(dropCandidates, QueueView::dropCandidatesName);
        // Each answer stands beside the other, on the row of its question.
        row(candidateButtons, {&addCandidates, &dropCandidates});

        named(start, QueueView::startName);
        named(pause, QueueView::pauseName);
        named(cancel, QueueView::cancelName);
        named(restart, QueueView::restartName);
        row(runRow, {&order.box, &start, &pause, &cancel, &restart});

        named(loadSaved, QueueView::loadSavedName);
        named(later, QueueView::laterName);
        named(reselect, QueueView::reselectName);
        row(savedRow, {&saved.box, &loadSaved, &later, &reselect});

        rejectionReason.set_name(QueueView::rejectionName);
        leading(rejectionReason).add_css_class(QueueView::errorClass);
        named(newTrial, QueueView::newTrialName);
        named(closeRejection, QueueView::closeRejectionName);
        row(rejectionButtons, {&newTrial, &closeRejection});

        counts.set_name(QueueView::countsName);
        leading(counts);
        note.set_name(QueueView::noteName);
        caption(note);
        // The counts and the note share the line and wrap in it rather than
        // widen the panel past what the least window gives it.
        for (Gtk::Label* label : {&counts, &note}) {
            label->set_wrap(true);
            label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        }
        named(retryAll, QueueView::retryFailedName);

        exportWhole.set_name(QueueView::exportWholeName);
        row(exportRow, {&exportWhole, &exportOneFile.box});

        using K = RowItem::Kind;
        addItem = RowItem::create(K::fixed, &addRow);
        candidatesTitleItem = RowItem::create(K::fixed, &candidatesTitle);
        candidateButtonsItem = RowItem::create(K::fixed, &candidateButtons);
        runItem = RowItem::create(K::fixed, &runRow);
        savedItem = RowItem::create(K::fixed, &savedRow);
        rejectionItem = RowItem::create(K::fixed, &rejectionReason);
        rejectionButtonsItem = RowItem::create(K::fixed, &rejectionButtons);
        row(summary, {&counts, &note});
        summaryItem = RowItem::create(K::fixed, &summary);
        retryAllItem = RowItem::create(K::fixed, &retryAll);
        exportItem = RowItem::create(K::fixed, &exportRow);
        // The status is the pane's own line right under the panel: said
        // once, not again at the foot of the list.
        exportItem->last = true;

        auto factory = Gtk::SignalListItemFactory::create();
        factory->signal_setup().connect([this](const Glib::RefPtr<Gtk::ListItem>& listItem) {
            listItem->set_activatable(false);
            listItem->set_selectable(false);
            listItem->set_child(*Gtk::make_managed<Slot>(actions));
        });
        factory->signal_bind().connect([this](const Glib::RefPtr<Gtk::ListItem>& listItem) {
            auto item = std::dynamic_pointer_cast<RowItem>(listItem->get_item());
            auto* slot = dynamic_cast<Slot*>(listItem->get_child());
            if (item && slot) slot->bind(*item, retryEnabled);
        });
        factory->signal_unbind().connect([](const Glib::RefPtr<Gtk::ListItem>& listItem) {
            if (auto* slot = dynamic_cast<Slot*>(listItem->get_child())) slot->release();
        });
        list.set_factory(factory);
        list.set_model(Gtk::NoSelection::create(store));
        list.add_css_class("queue-list");
    }

    void connect() {
        QueueController& c = *controller;
        choose.signal_clicked().connect([this] { spawnDropped(controller->chooseAdditional()); });
        folder.signal_clicked().connect([this] { spawnDropped(controller->chooseFolder()); });
        recursiveToggled = recursive.signal_toggled().connect(
            [this] { controller->folderRecursive = recursive.get_active(); });
        stopListing.signal_clicked().connect([this] { controller->stopFolder(); });
        close.signal_clicked().connect([this] { controller->processingList = false; });

        addCandidates.signal_clicked().connect([this] {
            // The list empties whatever the append makes of it.
            std::vector<std::filesystem::path> candidates = controller->folderCandidates.get();
            controller->folderCandidates = std::vector<std::filesystem::path>{};
            spawnDropped(controller->appendFiles(std::move(candidates), true));
        });
        dropCandidates.signal_clicked().connect(
            [this] { controller->folderCandidates = std::vector<std::filesystem::path>{}; });

        order.chosen = order.dropDown.property_selected().signal_changed().connect(
            [this] { controller->automatic = Rules::choiceValue(order.dropDown.get_selected()); });
        start.signal_clicked().connect([this] {
            controller->managedQueue = true;
            spawnDropped(controller->start());
        });
        pause.signal_clicked().connect([this] { controller->stop(JobControl::Stop::pause); });
        cancel.signal_clicked().connect([this] { controller->stop(JobControl::Stop::cancel); });
        restart.signal_clicked().connect([this] { spawnDropped(controller->requestRestart()); });

        saved.chosen = saved.dropDown.property_selected().signal_changed().connect(
            [this] { controller->selectedSaved = Rules::savedChoice(savedShown, saved.dropDown.get_selected()); });
        loadSaved.signal_clicked().connect([this] { spawnDropped(controller->loadRecovery()); });
        later.signal_clicked().connect([this] {
            controller->recoveryDeferred = true;
            controller->status = Rules::deferredStatus;
        });
        reselect.signal_clicked().connect([this] { spawnDropped(controller->reselect()); });

        newTrial.signal_clicked().connect([this] { spawnDropped(confirmedTrial(controller)); });
        closeRejection.signal_clicked().connect([this] { controller->closeRejection(); });

        retryAll.signal_clicked().connect([this] { spawnDropped(controller->retryFailures(std::nullopt)); });

        exportWholeToggled = exportWhole.signal_toggled().connect(
            [this] { controller->exportWholeQueue = exportWhole.get_active(); });
        exportOneFile.chosen = exportOneFile.dropDown.property_selected().signal_changed().connect(
            [this] { controller->exportOneFile = Rules::choiceValue(exportOneFile.dropDown.get_selected()); });

        changed = c.changed.connect([this] { refresh.schedule(); });
    }

    void disconnect() {
        changed.disconnect();
        recursiveToggled.disconnect();
        exportWholeToggled.disconnect();
        order.chosen.disconnect();
        saved.chosen.disconnect();
        exportOneFile.chosen.disconnect();
    }

    static void setActive(Gtk::CheckButton& toggle, sigc::connection& handler, bool active) {
        if (toggle.get_active() == active) return;
        handler.block();
        toggle.set_active(active);
        handler.unblock();
    }

    void update() {
        QueueController& c = *controller;
        const Rules::PanelState state = Rules::state(c);
        const Rules::Sections shown = Rules::sections(state);
        const Rules::Enablement enabled = Rules::enablement(state);

        setSensitive(folder, enabled.chooseFolder);
        setActive(recursive, recursiveToggled, c.folderRecursive.get());
        setVisible(stopListing, shown.stopListing);

        setSensitive(order.dropDown, enabled.order);
        order.select(Rules::choiceIndex(c.automatic.get()));
        setSensitive(start, enabled.start);
        setSensitive(pause, enabled.pause);
        setSensitive(cancel, enabled.cancel);
        setSensitive(restart, enabled.restart);

        const auto& candidates = c.folderCandidates.get();
        if (shown.candidates) setText(candidatesTitle, Rules::candidatesTitle(candidates.size()));

        if (shown.saved) updateSaved();
        setSensitive(loadSaved, enabled.loadSaved);
        setSensitive(reselect, enabled.reselect);

        if (const auto& rejection = c.rejection.get()) {
            setText(rejectionReason, BrindlexError::message(rejection->reason));
        }
        setSensitive(newTrial, enabled.newTrial);

        const auto& snapshot = c.snapshot.get();
        if (snapshot) {
            setText(counts, Rules::countsLine(*snapshot));
            setText(note, Rules::persistenceNote(snapshot->persistent()));
        }
        setSensitive(retryAll, enabled.retry);

        setActive(exportWhole, exportWholeToggled, c.exportWholeQueue.get());
        exportOneFile.select(Rules::choiceIndex(c.exportOneFile.get()));

        updateCandidates(shown.candidates ? candidates : std::vector<std::filesystem::path>{});
        updateInputs(snapshot ? &snapshot->inputs : nullptr, c.selectedID.get(), enabled.retry, c.reading.get());
        updateList(shown);
        // Another queue opened, loaded or let go: the panel shows it from
        // its toolbars, not from where the last one was scrolled to.
        const std::optional<UUID> queue = snapshot ? std::optional<UUID>(snapshot->id) : std::nullopt;
        if (queue != shownQueue) {
            shownQueue = queue;
            // Once the list has laid out the new rows (it keeps the row of
            // a button just pressed in view as it does): see
            // size_allocate_vfunc.
            scrollToTop = true;
        }
    }

    void updateSaved() {
        QueueController& c = *controller;
        // Each label inspects its queue: made once per list of queues.
        if (c.savedQueues.get() != savedShown) {
            savedShown = c.savedQueues.get();
            std::vector<Glib::ustring> labels{Rules::unselectedSaved};
            for (const auto& folder : savedShown) labels.push_back(c.savedQueueLabel(folder));
            saved.chosen.block();
            saved.choices->splice(0, saved.choices->get_n_items(), labels);
            saved.chosen.unblock();
        }
        const unsigned index = Rules::savedIndex(savedShown, c.selectedSaved.get());
        saved.select(index);
        // The button shows the label cut short; the whole one on hovering.
        saved.dropDown.set_tooltip_text(saved.choices->get_string(index));
    }

    void updateCandidates(const std::vector<std::filesystem::path>& candidates) {
        // A listing may hold thousands of files and stays while the queue
        // runs: its lines are looked at only when it changed.
        if (candidates == candidatesShown) return;
        candidatesShown = candidates;
        candidateItems.resize(std::min(candidateItems.size(), candidates.size()));
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            if (i == candidateItems.size()) candidateItems.push_back(RowItem::create(RowItem::Kind::candidate));
            RowItem& item = *candidateItems[i];
            std::string name = candidates[i].filename().string();
            if (item.candidate == name) continue;
            item.candidate = std::move(name);
            if (item.slot) item.slot->showCandidate(item.candidate);
        }
    }

    void updateInputs(const std::vector<QueueInput>* inputs, const std::optional<UUID>& selectedID, bool retry,
                      const std::optional<QueueController::Reading>& reading) {
        const std::size_t count = inputs ? inputs->size() : 0;
        inputItems.resize(std::min(inputItems.size(), count));
        const bool retryChanged = retry != retryEnabled;
        retryEnabled = retry;
        for (std::size_t i = 0; i < count; ++i) {
            if (i == inputItems.size()) {
                inputItems.push_back(RowItem::create(RowItem::Kind::input));
                inputItems.back()->position = i;
            }
            RowItem& item = *inputItems[i];
            const QueueInput& input = (*inputs)[i];
            const bool selected = selectedID && *selectedID == input.id;
            const std::optional<double> read =
                reading && reading->inputID == input.id ? std::optional<double>(reading->fraction) : std::nullopt;
            if (!item.facts || !Rules::sameFacts(*item.facts, input, selected, read)) {
                item.facts = Rules::inputFacts(input, selected, read);
                Rules::InputRow row = Rules::inputRow(*item.facts, i);
                if (row != item.input) {
                    item.input = std::move(row);
                    if (item.slot) item.slot->showInput(item, retry);
                    continue;
                }
            }
            if (retryChanged && item.slot) item.slot->enableRetry(retry);
        }
    }

    // Brings the store to the rows the sections ask for, replacing only the
    // stretch between the first and the last difference.
    void updateList(const Rules::Sections& shown) {
        std::vector<RowItem*> wanted;
        wanted.reserve(listed.size() + 16);
        wanted.push_back(addItem.get());
        if (shown.candidates) {
            wanted.push_back(candidatesTitleItem.get());
            for (const auto& item : candidateItems) wanted.push_back(item.get());
            wanted.push_back(candidateButtonsItem.get());
        }
        wanted.push_back(runItem.get());
        if (shown.saved && !shown.savedAfterQueue) wanted.push_back(savedItem.get());
        if (shown.rejection) {
            wanted.push_back(rejectionItem.get());
            wanted.push_back(rejectionButtonsItem.get());
        }
        if (shown.queue) {
            wanted.push_back(summaryItem.get());
            for (const auto& item : inputItems) wanted.push_back(item.get());
            if (shown.retryAll) wanted.push_back(retryAllItem.get());
        }
        if (shown.savedAfterQueue) wanted.push_back(savedItem.get());
        wanted.push_back(exportItem.get());
        if (wanted == listed) return;

        std::size_t head = 0;
        while (head < wanted.size() && head < listed.size() && wanted[head] == listed[head]) ++head;
        std::size_t tail = 0;
        while (tail < wanted.size() - head && tail < listed.size() - head &&
               wanted[wanted.size() - 1 - tail] == listed[listed.size() - 1 - tail]) {
            ++tail;
        }
        std::vector<Glib::RefPtr<RowItem>> additions;
        additions.reserve(wanted.size() - head - tail);
        for (std::size_t i = head; i < wanted.size() - tail; ++i) additions.push_back(refOf(wanted[i]));
        store->splice(static_cast<guint>(head), static_cast<guint>(listed.size() - head - tail), additions);
        listed = std::move(wanted);
    }

    // The rows that must be in view, in list order: everything down to the
    // third line of an open queue's inputs (an input's line or one of its
    // failed pages), or, with none open, down to the export row; of a folder
    // listing, its title and first lines only.
    std::vector<const RowItem*> neededRows() const {
        std::vector<const RowItem*> needed;
        int candidates = 0;
        const bool queueShown = std::find(listed.begin(), listed.end(), summaryItem.get()) != listed.end();
        for (const RowItem* item : listed) {
            if (item == exportItem.get() || item == retryAllItem.get()) break;
            if (item == savedItem.get() && queueShown) break;
            if (item->kind == RowItem::Kind::candidate && ++candidates > QueueView::rowsInView) continue;
            needed.push_back(item);
        }
        return needed;
    }

    // The height of the needed rows at the list's width: measured on the
    // row that shows each, or, for a row not made yet, on its widget (a
    // fixed part) or as the last input line measured; of the inputs, their
    // first `rowsInView` lines.
    // What an input's group keeps under its last line: its padding and its
    // rule (the panel's style).
    static constexpr int groupFoot = 4;

    int measureUsable() const {
        const int width = list.get_width() > 0 ? list.get_width() : QueueView::minimumContentWidth;
        std::map<const RowItem*, const Gtk::Widget*> rows;
        for (const Gtk::Widget* row = list.get_first_child(); row; row = row->get_next_sibling()) {
            auto* slot = dynamic_cast<const Slot*>(row->get_first_child());
            if (slot && slot->item() && row->get_visible()) rows[slot->item()] = row;
        }
        int total = 0;
        int lines = 0;
        int lineHeight = 28;
        int minimum = 0, natural = 0, b1 = -1, b2 = -1;
        for (const RowItem* item : neededRows()) {
            if (item->kind == RowItem::Kind::input) {
                if (lines >= QueueView::rowsInView) break;
                // The slot's margin above the input.
                total += 3;
                auto row = rows.find(item);
                const Slot* slot = row == rows.end() ? nullptr : dynamic_cast<const Slot*>(row->second->get_first_child());
                std::vector<int> heights;
                if (slot && slot->inputGroup()) heights = slot->inputGroup()->lineHeights(width - 16);
                if (heights.empty()) heights = {lineHeight};
                lineHeight = heights.front();
                std::size_t taken = 0;
                for (int h : heights) {
                    if (lines >= QueueView::rowsInView) break;
                    total += h;
                    ++lines;
                    ++taken;
                }
                // A group shown whole ends with its padding and its rule.
                if (taken == heights.size()) total += groupFoot;
                continue;
            }
            if (auto row = rows.find(item); row != rows.end()) {
                row->second->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, b1, b2);
                total += natural;
            } else if (item->kind == RowItem::Kind::fixed && item->fixed) {
                item->fixed->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, b1, b2);
                total += natural + 6;
            } else {
                total += lineHeight;
            }
        }
        return total;
    }

    void checkUsable() {
        const int measured = std::max(measureUsable(), static_cast<int>(QueueView::minimumHeight));
        if (measured == usable) return;
        usable = measured;
        applyUsable.schedule();
    }

    void applyUsableHeight() {
        if (!view) return;
        // What it asks for; its least height stays the bare one, so that in
        // a pane too low for it and the rows below, it gives up its height
        // (and scrolls) before the page does.
        view->set_max_content_height(std::max(QueueView::maximumHeight, usable));
        view->usableChanged.emit();
    }

    // Another reference to one of our items.
    static Glib::RefPtr<RowItem> refOf(RowItem* item) {
        item->reference();
        return Glib::make_refptr_for_instance<RowItem>(item);
    }
};

QueueView::QueueView(std::shared_ptr<QueueController> controller, SettingsStore*)
    : parts_(std::make_unique<Parts>(std::move(controller))) {
    installStyle();
    add_css_class("queue-panel");
    parts_->view = this;
    set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    set_overlay_scrolling(false);
    set_max_content_height(maximumHeight);
    set_min_content_height(minimumHeight);
    set_propagate_natural_height(true);
    set_child(parts_->list);
    parts_->update();
}

QueueView::~QueueView() {
    parts_->view = nullptr;
    parts_->disconnect();
    // The slots give the lent widgets back before either goes.
    parts_->list.set_model({});
}

Gtk::ListView& QueueView::list() { return parts_->list; }

bool QueueView::refreshPending() const { return parts_->refresh.pending(); }

int QueueView::usableHeight() const { return parts_->usable; }

void QueueView::size_allocate_vfunc(int width, int height, int baseline) {
    Gtk::ScrolledWindow::size_allocate_vfunc(width, height, baseline);
    if (std::exchange(parts_->scrollToTop, false)) parts_->toTop.schedule();
    // The rows are laid out now; what they need is applied on a later
    // turn, never inside this allocation.
    parts_->checkUsable();
}

}  // namespace velmora
