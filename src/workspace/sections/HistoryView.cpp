#include "workspace/sections/HistoryView.hpp"

#include <algorithm>

#include <gdkmm/texture.h>
#include <glibmm/bytes.h>
#include <glibmm/main.h>
#include <gtkmm/image.h>
#include <gtkmm/picture.h>
#include <gtkmm/signallistitemfactory.h>
#include <gtkmm/stack.h>
#include <gtkmm/window.h>
#include <pangomm/attrlist.h>

#include "gui/DisplayStyle.hpp"

namespace velmora {

namespace {

constexpr int inset = 12;

// A row's warning on a selected row, and the warnings' text elsewhere. The theme's warning colour reads
// poorly on its selection blue (orange 1.4:1), and even the selection's own
// white text reaches only 3.8:1 on it; so there the line is set in the
// selection's text colour on a pill of the selection colour darkened, about
// 6.7:1. The pill's padding is taken back from the margin, so the text keeps
// its place as the row is selected.
constexpr const char* rowAlertStyle =
        ".history-row-alert { padding: 1px 4px; margin-left: -4px; border-radius: 4px; }\n"
        "row:selected .history-row-alert { background-color: shade(@theme_selected_bg_color, 0.7); }\n"
        "row:selected .history-row-alert label.warning, row:selected .history-row-alert image.warning,"
        " row:selected .history-row-alert label.error, row:selected .history-row-alert image.error"
        " { color: @theme_selected_fg_color; }\n"
        // The theme's warning orange is 2.8:1 on the list's white, too faint
        // for a state the user must read; darkened towards the text colour
        // it is 5:1 there and 4.6:1 on the window's grey.
        ".history-view label.warning { color: mix(@warning_color, @theme_fg_color, 0.4); }\n";

Gtk::Label* caption(const std::string& text, const char* name = nullptr) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->add_css_class("caption");
    label->set_xalign(0);
    label->set_wrap(true);
    label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    if (name) label->set_name(name);
    return label;
}

Gtk::Button* button(const std::string& label, const std::string& name) {
    auto* b = Gtk::make_managed<Gtk::Button>(label);
    b->set_name(name);
    b->set_halign(Gtk::Align::START);
    return b;
}

// The sentences that report a failed action: the status line shows them
// with the theme's error colour and icon, as every failure of the
// application (a state that is not a full save is a warning, not this).
bool failure(const std::string& status) {
    for (const char* sentence : {HistoryViewModel::loadFailed, HistoryViewModel::historyOnlyFailed,
                                 HistoryViewModel::trashFailed}) {
        if (status == sentence) return true;
    }
    // A refusal of the desktop goes on to say why.
    return status.starts_with(HistoryViewModel::openFailed) || status.starts_with(HistoryViewModel::revealFailed);
}

void setClass(Gtk::Widget& widget, const char* name, bool on) {
    if (widget.has_css_class(name) == on) return;
    if (on) {
        widget.add_css_class(name);
    } else {
        widget.remove_css_class(name);
    }
}

// A refusal where the user acted: the theme's error colour and icon, as
// every failed action of the application shows it.
Gtk::Box* refusalLine(const char* text, const std::string& name) {
    auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
    line->set_name(name);
    line->set_halign(Gtk::Align::START);
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("dialog-error-symbolic");
    icon->add_css_class("error");
    icon->set_valign(Gtk::Align::START);
    line->append(*icon);
    Gtk::Label* label = caption(text);
    label->add_css_class("error");
    label->set_hexpand(true);
    line->append(*label);
    return line;
}

// One row of buttons, side by side at their natural widths.
Gtk::Box* actionRow(const char* name = nullptr) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    if (name) row->set_name(name);
    row->set_halign(Gtk::Align::START);
    return row;
}

}  // namespace

// One entry of the list store.
class HistoryView::Item : public Glib::Object {
public:
    static Glib::RefPtr<Item> create(CaptureHistoryEntry entry) {
        return Glib::make_refptr_for_instance<Item>(new Item(std::move(entry)));
    }
    const CaptureHistoryEntry entry;

protected:
    explicit Item(CaptureHistoryEntry e) : entry(std::move(e)) {}
};

// One row: the thumbnail, then the title, the caption line and the state.
class HistoryView::Row : public Gtk::Box {
public:
    Row()
        : Gtk::Box(Gtk::Orientation::HORIZONTAL, inset),
          text_(Gtk::Orientation::VERTICAL, 2),
          stateLine_(Gtk::Orientation::HORIZONTAL, 4) {
        set_valign(Gtk::Align::CENTER);
        // Without it the thumbnails of neighbouring rows touch.
        set_margin_top(4);
        set_margin_bottom(4);
        set_margin_start(6);
        set_margin_end(6);
        frame_.set_size_request(60, 60);
        frame_.set_valign(Gtk::Align::CENTER);
        gtk_accessible_update_property(GTK_ACCESSIBLE(frame_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       "成果物プレビュー", -1);
        placeholder_.set_from_icon_name("x-office-document-symbolic");
        placeholder_.set_pixel_size(28);
        placeholder_.set_name(Names::rowPlaceholder);
        picture_.set_content_fit(Gtk::ContentFit::CONTAIN);
        picture_.set_can_shrink(true);
        picture_.set_size_request(60, 60);
        picture_.set_name(Names::rowPicture);
        frame_.add(placeholder_);
        frame_.add(picture_);
        frame_.set_visible_child(placeholder_);
        append(frame_);

        title_.set_name(Names::rowTitle);
        title_.set_xalign(0);
        title_.set_wrap(true);
        title_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        title_.set_lines(2);
        title_.set_ellipsize(Pango::EllipsizeMode::END);
        for (auto [label, name] : {std::pair{&caption_, Names::rowCaption}, std::pair{&state_, Names::rowState}}) {
            label->set_name(name);
            label->set_xalign(0);
            label->add_css_class("caption");
        }
        text_.set_valign(Gtk::Align::CENTER);
        text_.set_hexpand(true);
        text_.append(title_);
        text_.append(caption_);
        // A state that is not a full save reads as a warning, with its icon.
        warning_.set_from_icon_name("dialog-warning-symbolic");
        warning_.add_css_class("warning");
        warning_.set_visible(false);
        stateLine_.set_halign(Gtk::Align::START);
        stateLine_.append(warning_);
        stateLine_.append(state_);
        text_.append(stateLine_);
        append(text_);
    }
    ~Row() override { thumbnail_.discard(); }

    void bind(const CaptureHistoryEntry& entry, HistoryViewModel& model) {
        title_.set_text(HistoryViewModel::title(entry));
        caption_.set_text(HistoryViewModel::captionText(entry));
        // The date's digits take the script of the word after them, so a
        // kind written in kanji (印刷) would set them in the Japanese face
        // while every other row's are in the Latin one: marked as Latin
        // text, they are set alike in every row.
        Pango::AttrList attributes;
        auto latin = Pango::Attribute::create_attr_language(Pango::Language("en"));
        latin.set_end_index(static_cast<unsigned>(HistoryViewModel::dateText(entry).size()));
        attributes.insert(latin);
        caption_.set_attributes(attributes);
        state_.set_text(HistoryViewModel::stateText(entry));
        const bool warns = HistoryViewModel::missing(entry) || entry.state != "completed";
        setClass(state_, "warning", warns);
        setClass(stateLine_, "history-row-alert", warns);
        warning_.set_visible(warns);
        thumbnail_ = spawn(loadThumbnail(model, entry));
    }

    void unbind() {
        thumbnail_.cancel();
        thumbnail_.discard();
        picture_.set_paintable({});
        frame_.set_visible_child(placeholder_);
    }

private:
    Task<void> loadThumbnail(HistoryViewModel& model, CaptureHistoryEntry entry) {
        std::optional<std::vector<uint8_t>> data = co_await model.thumbnail(std::move(entry));
        if (!data || isCurrentTaskCancelled()) co_return;
        try {
            auto bytes = Glib::Bytes::create(data->data(), data->size());
            picture_.set_paintable(Gdk::Texture::create_from_bytes(bytes));
            frame_.set_visible_child(picture_);
        } catch (const Glib::Error&) {
            // Data that does not decode keeps the placeholder; the cache
            // made it, so there is nothing to tell the user.
        }
    }

    Gtk::Stack frame_;
    Gtk::Image placeholder_;
    Gtk::Picture picture_;
    Gtk::Box text_;
    Gtk::Label title_;
    Gtk::Label caption_;
    Gtk::Box stateLine_;
    Gtk::Image warning_;
    Gtk::Label state_;
    TaskHandle thumbnail_;
};

HistoryView::HistoryView(RecaptureHost* host, bool active, DesktopActions* desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 12),
      confirmation_([this] { return dynamic_cast<Gtk::Window*>(get_root()); }),
      model_(std::make_unique<HistoryViewModel>(confirmation_, desktop ? *desktop : desktop_, host,
                                                HistoryThumbnailCache::shared(), active)),
      heading_("出力の履歴"), reload_("履歴を更新") {
    set_name(Names::view);
    add_css_class("history-view");
    set_margin(inset);
    installStateColours();
    installDisplayStyle(rowAlertStyle);

    // The heading and its one command share a line, so the list below
    // keeps the height.
    auto& top = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, inset);
    heading_.add_css_class("title-2");
    heading_.set_halign(Gtk::Align::START);
    heading_.set_hexpand(true);
    heading_.set_xalign(0);
    top.append(heading_);
    reload_.set_name(Names::reload);
    reload_.set_halign(Gtk::Align::END);
    reload_.set_valign(Gtk::Align::CENTER);
    reload_.signal_clicked().connect([this] { model_->reload(); });
    top.append(reload_);
    append(top);

    // A failure's line carries the error's icon as well as its colour.
    auto& statusLine = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    statusIcon_.set_from_icon_name("dialog-error-symbolic");
    statusIcon_.add_css_class("error");
    statusIcon_.set_valign(Gtk::Align::START);
    statusIcon_.set_visible(false);
    statusLine.append(statusIcon_);
    for (auto [label, name] : {std::pair{&status_, Names::status}, std::pair{&notice_, Names::notice}}) {
        label->set_name(name);
        label->add_css_class("caption");
        label->set_xalign(0);
        label->set_wrap(true);
        label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        label->set_hexpand(true);
    }
    statusLine.append(status_);
    append(statusLine);
    append(notice_);

    empty_.set_name(Names::statePage);
    empty_.label().set_name(Names::empty);

    store_ = Gio::ListStore<Item>::create();
    selection_ = Gtk::SingleSelection::create(store_);
    selection_->set_autoselect(false);
    selection_->set_can_unselect(true);
    selection_->set_selected(GTK_INVALID_LIST_POSITION);
    selection_->signal_selection_changed().connect([this](guint, guint) { selectFromList(); });
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect(
        [](const Glib::RefPtr<Gtk::ListItem>& item) { item->set_child(*Gtk::make_managed<Row>()); });
    factory->signal_bind().connect([this](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto entry = std::dynamic_pointer_cast<Item>(item->get_item());
        if (auto* row = dynamic_cast<Row*>(item->get_child()); row && entry) row->bind(entry->entry, *model_);
    });
    factory->signal_unbind().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        if (auto* row = dynamic_cast<Row*>(item->get_child())) row->unbind();
    });
    list_.set_model(selection_);
    list_.set_factory(factory);
    list_.set_name(Names::list);
    list_.add_css_class("rich-list");
    listScroller_.set_child(list_);
    listScroller_.set_min_content_height(160);
    listScroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    listScroller_.add_css_class("frame");
    listArea_.add(listScroller_, "list");
    listArea_.add(empty_, "state");
    listArea_.set_vexpand(true);
    listArea_.set_vhomogeneous(false);
    append(listArea_);

    detailScroller_.set_name(Names::detail);
    detailScroller_.set_max_content_height(250);
    detailScroller_.set_propagate_natural_height(true);
    detailScroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    detailScroller_.set_vexpand(false);
    // An entry with several outputs is taller than the area; a scrollbar
    // that stays in sight says that the deletions are further down.
    detailScroller_.set_overlay_scrolling(false);
    append(detailScroller_);

    model_->entriesChanged().connect([this] {
        fillList();
        showDetail();
    });
    model_->selectionChanged().connect([this] {
        followSelection();
        showDetail();
    });
    model_->statusChanged().connect([this] { showStatus(); });
    // A refused open is told under its output, in place: the detail is not
    // rebuilt, so the button that was pressed keeps the focus.
    model_->refusalChanged().connect([this] { showRefusal(); });
    model_->noticeChanged().connect([this] { showStatus(); });
    // Shown again, read again: captures and other windows change the
    // history behind this view.
    signal_map().connect([this] { model_->reload(); });

    fillList();
    showStatus();
    showDetail();
}

HistoryView::~HistoryView() = default;

void HistoryView::fillList() {
    filling_ = true;
    std::vector<Glib::RefPtr<Item>> items;
    for (const CaptureHistoryEntry& entry : model_->entries()) items.push_back(Item::create(entry));
    store_->splice(0, store_->get_n_items(), items);
    filling_ = false;
    followSelection();
    showListState();
}

void HistoryView::showListState() {
    const bool empty = model_->entries().empty();
    const bool unreadable = model_->status() == HistoryViewModel::loadFailed;
    if (empty && unreadable) {
        empty_.show("dialog-warning-symbolic", HistoryViewModel::loadFailed, StatusPage::Tone::warning);
    } else {
        empty_.show("document-open-recent-symbolic", "保存した成果物はまだありません。");
    }
    listArea_.set_visible_child(empty ? "state" : "list");
    // The status page says it already; the line would only repeat it.
    status_.set_visible(!(empty && unreadable));
    statusIcon_.set_visible(status_.get_visible() && failure(model_->status()));
}

void HistoryView::followSelection() {
    guint position = GTK_INVALID_LIST_POSITION;
    const auto& entries = model_->entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (model_->selected() == entries[i].id) position = static_cast<guint>(i);
    }
    if (selection_->get_selected() == position) return;
    filling_ = true;
    selection_->set_selected(position);
    filling_ = false;
    if (position != GTK_INVALID_LIST_POSITION) bringIntoSight(position);
}

// Selected from elsewhere (a reload refills the list): the row is brought
// into sight, since the detail below now speaks of it. The detail that
// appears with a selection shrinks the list only at the next layout, so the
// list scrolls again two frames later, when it has its new height.
void HistoryView::bringIntoSight(guint position) {
    const auto scroll = [this, position] {
        if (selection_->get_selected() != position) return;
        list_.activate_action("list.scroll-to-item", Glib::Variant<guint32>::create(position));
    };
    scroll();
    list_.add_tick_callback([scroll, frames = 0](const Glib::RefPtr<Gdk::FrameClock>&) mutable {
        if (++frames < 2) return true;
        scroll();
        return false;
    });
}

void HistoryView::selectFromList() {
    if (filling_) return;
    auto item = std::dynamic_pointer_cast<Item>(selection_->get_selected_item());
    model_->select(item ? std::optional<UUID>(item->entry.id) : std::nullopt);
}

void HistoryView::showRefusal() {
    const auto& refused = model_->openRefusal();
    for (const RefusalLine& line : refusals_) {
        const bool shown = refused && refused->entry == line.entry &&
                           std::find(line.files.begin(), line.files.end(), refused->file) != line.files.end();
        if (shown) dynamic_cast<Gtk::Label&>(*line.widget->get_last_child()).set_text(refused->text);
        line.widget->set_visible(shown);
    }
}

void HistoryView::showStatus() {
    status_.set_text(model_->status());
    setClass(status_, "error", failure(model_->status()));
    showListState();
    const std::string notice = model_->notice();
    notice_.set_text(notice);
    notice_.set_visible(!notice.empty());
}

void HistoryView::showDetail() {
    const CaptureHistoryEntry* selected = model_->selectedEntry();
    detailScroller_.set_visible(selected != nullptr);
    // Where the focus was in the old detail (the button that deleted the
    // entry, say), it goes to the list rather than to whatever the toolkit
    // finds next, which would be a file name, selected whole.
    const bool focused = gtk_widget_get_focus_child(GTK_WIDGET(detailScroller_.gobj())) != nullptr;
    // The detail is rebuilt while one of its own buttons delivers its click
    // ("履歴のみ削除" reloads the list): the old box must outlive that
    // delivery, so it goes on the next idle turn instead of here.
    if (Gtk::Widget* old = detailScroller_.get_child()) {
        GtkWidget* held = GTK_WIDGET(g_object_ref(old->gobj()));
        Glib::signal_idle().connect_once([held] { g_object_unref(held); });
        detailScroller_.unset_child();
    }
    refusals_.clear();
    if (focused) list_.grab_focus();
    if (!selected) return;
    const CaptureHistoryEntry& entry = *selected;
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    box->set_hexpand(true);

    auto* title = Gtk::make_managed<Gtk::Label>(HistoryViewModel::title(entry));
    title->add_css_class("heading");
    title->set_name(Names::detailTitle);
    title->set_xalign(0);
    title->set_wrap(true);
    title->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    box->append(*title);

    // One line per output, or per type of which the entry has several (a
    // print's pages): the deletions below stay in sight however many pages.
    const std::vector<HistoryViewModel::OutputLine> lines = HistoryViewModel::outputLines(entry);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const HistoryViewModel::OutputLine& line = lines[i];
        const std::string index = std::to_string(i);
        // The file's name (or the type and count, over the names of the
        // first and the last file) with its two actions on one line.
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        auto* names = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
        names->set_hexpand(true);
        names->set_valign(Gtk::Align::CENTER);
        auto* name = Gtk::make_managed<Gtk::Label>(line.name);
        name->set_name(Names::outputName + index);
        name->set_selectable(line.range.empty());
        name->set_xalign(0);
        name->set_wrap(true);
        name->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        names->append(*name);
        if (!line.range.empty()) {
            // One line whatever the width, its end (the page numbers) kept:
            // a line that wraps only at some widths would leave the detail
            // short of its height.
            Gtk::Label* range = caption(line.range, (Names::outputRange + index).c_str());
            range->set_wrap(false);
            range->set_ellipsize(Pango::EllipsizeMode::START);
            range->set_tooltip_text(line.range);
            range->add_css_class("dim-label");
            names->append(*range);
        }
        row->append(*names);

        std::vector<std::filesystem::path> files;
        for (std::size_t o : line.outputs) files.emplace_back(entry.outputs[o].path);
        const std::optional<std::filesystem::path> target =
                line.target ? std::optional<std::filesystem::path>(entry.outputs[*line.target].path) : std::nullopt;
        auto* actions = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        actions->set_valign(Gtk::Align::CENTER);
        auto* open = button("開く", Names::open + index);
        auto* reveal = button("フォルダで表示", Names::reveal + index);
        open->set_sensitive(target.has_value());
        reveal->set_sensitive(target.has_value());
        if (target) {
            open->signal_clicked().connect([this, path = *target] {
                const std::filesystem::path file = path;
                model_->openOutput(file);
            });
            reveal->signal_clicked().connect([this, path = *target] {
                const std::filesystem::path file = path;
                model_->revealOutput(file);
            });
        }
        actions->append(*open);
        actions->append(*reveal);
        row->append(*actions);
        box->append(*row);
        if (const std::string missing = HistoryViewModel::unavailableText(line); !missing.empty()) {
            Gtk::Label* note = caption(missing, (Names::unavailable + index).c_str());
            note->add_css_class("warning");
            box->append(*note);
        }
        Gtk::Box* refusal = refusalLine(HistoryViewModel::openFailed, Names::refusal + index);
        box->append(*refusal);
        refusals_.push_back({refusal, entry.id, std::move(files)});
    }
    showRefusal();

    if (const std::optional<std::string> url = HistoryViewModel::pageAddress(entry)) {
        auto* address = Gtk::make_managed<Gtk::Label>(*url);
        address->set_name(Names::address);
        address->set_xalign(0);
        address->set_wrap(true);
        address->set_wrap_mode(Pango::WrapMode::CHAR);
        address->set_lines(2);
        address->set_ellipsize(Pango::EllipsizeMode::END);
        box->append(*address);
    }

    // The actions on the whole entry, side by side: the address's two, then
    // the two deletions.
    Gtk::Box& entryActions = *actionRow(Names::actions);
    if (const std::optional<std::string> url = HistoryViewModel::pageAddress(entry)) {
        auto* copy = button("URLをコピー", Names::copyURL);
        copy->signal_clicked().connect([this, text = *url] {
            const std::string value = text;
            model_->copyURL(value);
        });
        entryActions.append(*copy);
        auto* reopen = button("再キャプチャ用に開く", Names::reopen);
        reopen->signal_clicked().connect([this, text = *url] {
            const std::string value = text;
            model_->reopenForRecapture(value);
        });
        entryActions.append(*reopen);
    }

    // Both deletions rebuild this box while their own click is delivered;
    // the handlers touch nothing of it after calling the model.
    auto* deleteOnly = button("履歴のみ削除", Names::deleteOnly);
    deleteOnly->signal_clicked().connect([this] { model_->deleteHistoryOnly(); });
    entryActions.append(*deleteOnly);
    auto* trash = button("履歴＋関連成果物を削除…", Names::trash);
    trash->add_css_class("destructive-action");
    trash->signal_clicked().connect([this] { model_->startTrashOutputs(); });
    entryActions.append(*trash);
    box->append(entryActions);

    detailScroller_.set_child(*box);
}

}  // namespace velmora
