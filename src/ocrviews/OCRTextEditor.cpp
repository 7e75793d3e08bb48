#include "ocrviews/OCRTextEditor.hpp"

#include <gtk/gtk.h>

#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

// The desktop palette's yellow, green and blue, painted under the text.
Gdk::RGBA colour(double r, double g, double b, double alpha) {
    Gdk::RGBA c;
    c.set_rgba(r / 255.0, g / 255.0, b / 255.0, alpha);
    return c;
}

// Whether a drag carries files (a file list, however it is offered).
bool offersFiles(GdkDrop* drop) {
    GdkContentFormats* offered =
        gdk_content_formats_union_deserialize_gtypes(gdk_content_formats_ref(gdk_drop_get_formats(drop)));
    const bool files = gdk_content_formats_contain_gtype(offered, GDK_TYPE_FILE_LIST);
    gdk_content_formats_unref(offered);
    return files;
}

}  // namespace

// A file dragged over the text on its way to the page is the pane's to take,
// never text to drop here (a file list is offered as plain text too). Nor
// may it move the text: the view follows any drag near its edges by
// scrolling towards it, and the reader's place would be lost. So while files
// pass over the editor, the view's drop target refuses them and its
// following of the drag is off; a dragged text is still dropped and followed.
void OCRTextEditor::refuseFileDrops() {
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(view_.gobj()));
    for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
        GObject* controller = G_OBJECT(g_list_model_get_item(controllers, i));
        if (GTK_IS_DROP_TARGET(controller)) {
            g_signal_connect(controller, "accept", G_CALLBACK(+[](GtkDropTarget* target, GdkDrop* drop, gpointer) {
                                 if (offersFiles(drop)) return FALSE;
                                 // Otherwise what the target accepts by itself.
                                 GdkContentFormats* wanted = gtk_drop_target_get_formats(target);
                                 GdkContentFormats* offered = gdk_content_formats_union_deserialize_gtypes(
                                     gdk_content_formats_ref(gdk_drop_get_formats(drop)));
                                 const bool accepted =
                                     (gdk_drop_get_actions(drop) & gtk_drop_target_get_actions(target)) != 0 &&
                                     (!wanted || gdk_content_formats_match_gtype(wanted, offered) != G_TYPE_INVALID);
                                 gdk_content_formats_unref(offered);
                                 return static_cast<gboolean>(accepted);
                             }),
                             nullptr);
        } else if (GTK_IS_DROP_CONTROLLER_MOTION(controller)) {
            viewFollowsDrags_ = GTK_EVENT_CONTROLLER(controller);
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
    if (!viewFollowsDrags_) return;
    // Around the view, so it hears of a drag before the view does.
    GtkEventController* around = gtk_drop_controller_motion_new();
    g_signal_connect_swapped(around, "enter", G_CALLBACK(+[](OCRTextEditor* editor) {
                                 GdkDrop* drop = gtk_drop_controller_motion_get_drop(
                                     GTK_DROP_CONTROLLER_MOTION(editor->dragsAround_));
                                 gtk_event_controller_set_propagation_phase(
                                     editor->viewFollowsDrags_,
                                     drop && offersFiles(drop) ? GTK_PHASE_NONE : GTK_PHASE_BUBBLE);
                             }),
                             this);
    g_signal_connect_swapped(around, "leave", G_CALLBACK(+[](OCRTextEditor* editor) {
                                 gtk_event_controller_set_propagation_phase(editor->viewFollowsDrags_, GTK_PHASE_BUBBLE);
                             }),
                             this);
    dragsAround_ = around;
    gtk_widget_add_controller(GTK_WIDGET(gobj()), around);
}

OCRTextEditor::OCRTextEditor() {
    set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    set_hexpand(true);
    set_vexpand(true);
    set_child(view_);

    view_.set_name(viewName);
    view_.set_monospace(false);
    view_.set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    view_.set_left_margin(8);
    view_.set_right_margin(8);
    view_.set_top_margin(8);
    view_.set_bottom_margin(8);
    css_ = Gtk::CssProvider::create();
    css_->load_from_data("textview { font-size: 14pt; }");
    view_.get_style_context()->add_provider(css_, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_accessible_update_property(GTK_ACCESSIBLE(view_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, accessibleLabel, -1);

    refuseFileDrops();

    auto buffer = view_.get_buffer();
    buffer->set_enable_undo(true);
    // Created in painting order, so a later layer wins where they overlap.
    low_ = buffer->create_tag("ocr-low");
    low_->property_background_rgba() = colour(246, 211, 45, 0.55);
    low_->property_foreground_rgba() = colour(0, 0, 0, 1);
    manual_ = buffer->create_tag("ocr-manual");
    manual_->property_background_rgba() = colour(51, 209, 122, 0.25);
    search_ = buffer->create_tag("ocr-search");
    search_->property_background_rgba() = colour(53, 132, 228, 0.45);
    applyTextColour();
    revealMark_ = buffer->create_mark(buffer->begin(), true);

    // Announcements come before the buffer changes (its offsets are still
    // the old text's), reports after.
    insertConnection_ = buffer->signal_insert().connect(sigc::mem_fun(*this, &OCRTextEditor::onInsert), false);
    eraseConnection_ = buffer->signal_erase().connect(sigc::mem_fun(*this, &OCRTextEditor::onErase), false);
    changedConnection_ = buffer->signal_changed().connect(sigc::mem_fun(*this, &OCRTextEditor::onChanged), true);
    // One undo or redo may make several changes; all of them are its own.
    buffer->signal_undo().connect([this] { inUndo_ = true; }, false);
    buffer->signal_undo().connect([this] { inUndo_ = false; }, true);
    buffer->signal_redo().connect([this] { inUndo_ = true; }, false);
    buffer->signal_redo().connect([this] { inUndo_ = false; }, true);
    preeditConnection_ = SignalConnection(
        view_.gobj(), g_signal_connect(view_.gobj(), "preedit-changed",
                                       G_CALLBACK(+[](GtkTextView*, const char* preedit, gpointer self) {
                                           static_cast<OCRTextEditor*>(self)->onPreedit(preedit);
                                       }),
                                       this));
    view_.signal_state_flags_changed().connect([this](Gtk::StateFlags) { applyTextColour(); });
}

OCRTextEditor::~OCRTextEditor() {
    insertConnection_.disconnect();
    eraseConnection_.disconnect();
    changedConnection_.disconnect();
    preeditConnection_.disconnect();
}

void OCRTextEditor::applyTextColour() {
    // The two upper layers name the theme's text colour, so a hit over a
    // low-confidence range does not keep the low layer's black.
    const Gdk::RGBA text = view_.get_style_context()->get_color();
    if (textColour_ && *textColour_ == text) return;
    textColour_ = text;
    manual_->property_foreground_rgba() = text;
    search_->property_foreground_rgba() = text;
}

void OCRTextEditor::update(Value value) {
    value_ = std::move(value);
    hasValue_ = true;
    apply();
}

void OCRTextEditor::apply() {
    if (!hasValue_) return;
    view_.set_editable(value_.editable);
    const bool keep = documentKey_ && *documentKey_ == value_.documentKey && OCRProduct::sameUTF16(shown_, value_.text);
    if (!keep) load(value_);
    if (composing_) return;

    paint(value_);
    std::string help = EditorHighlights::help(value_.lowRanges.size(), value_.manualRanges.size());
    if (help != help_) {
        help_ = std::move(help);
        gtk_accessible_update_property(GTK_ACCESSIBLE(view_.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       help_.c_str(), -1);
    }
    if (EditorHighlights::reveals(value_.selection, lastSelection_, map_.utf16Length())) reveal(*value_.selection);
    lastSelection_ = value_.selection;
}

void OCRTextEditor::load(const Value& value) {
    auto buffer = view_.get_buffer();
    insertConnection_.block();
    eraseConnection_.block();
    changedConnection_.block();
    // An irreversible action also empties the undo history: a loaded text
    // has none.
    buffer->begin_irreversible_action();
    buffer->set_text(value.text);
    buffer->end_irreversible_action();
    changedConnection_.unblock();
    eraseConnection_.unblock();
    insertConnection_.unblock();
    pending_.reset();
    documentKey_ = value.documentKey;
    shown_ = value.text;
    map_ = UTF16Map(shown_);
    lowLayer_.clear();
    manualLayer_.clear();
    searchLayer_.clear();
}

void OCRTextEditor::paint(const Value& value) {
    auto buffer = view_.get_buffer();
    const auto run = [&](HighlightLayer& layer, const std::vector<TextRange>& ranges,
                         const Glib::RefPtr<Gtk::TextTag>& tag) {
        const HighlightLayer::Changes changes = layer.update(EditorHighlights::paintedSpans(ranges, map_));
        for (const CharacterSpan& span : changes.remove) {
            buffer->remove_tag(tag, buffer->get_iter_at_offset(static_cast<int>(span.start)),
                               buffer->get_iter_at_offset(static_cast<int>(span.end)));
        }
        for (const CharacterSpan& span : changes.add) {
            buffer->apply_tag(tag, buffer->get_iter_at_offset(static_cast<int>(span.start)),
                              buffer->get_iter_at_offset(static_cast<int>(span.end)));
        }
    };
    run(lowLayer_, value.lowRanges, low_);
    run(manualLayer_, value.manualRanges, manual_);
    run(searchLayer_, value.searchRanges, search_);
}

void OCRTextEditor::reveal(const TextRange& range) {
    auto buffer = view_.get_buffer();
    // A caret at the start, nothing selected, scrolled to once the view is
    // laid out (the view keeps one scroll pending, to a mark).
    const auto start = buffer->get_iter_at_offset(static_cast<int>(map_.characterStart(range.location)));
    buffer->place_cursor(start);
    buffer->move_mark(revealMark_, start);
    view_.scroll_to(revealMark_);
}

void OCRTextEditor::onInsert(const Gtk::TextBuffer::iterator& at, const Glib::ustring& text, int bytes) {
    const int64_t offset = at.get_offset();
    const std::string inserted(text.raw(), 0, static_cast<std::size_t>(bytes));
    pending_ = Pending{{map_.utf16Offset(offset), 0}, inserted};
    undoing_ = inUndo_;
    const int64_t characters = UTF16Map(inserted).characters();
    lowLayer_.inserted(offset, characters);
    manualLayer_.inserted(offset, characters);
    searchLayer_.inserted(offset, characters);
}

void OCRTextEditor::onErase(const Gtk::TextBuffer::iterator& start, const Gtk::TextBuffer::iterator& end) {
    const int64_t from = start.get_offset();
    const int64_t to = end.get_offset();
    const int64_t location = map_.utf16Offset(from);
    pending_ = Pending{{location, map_.utf16Offset(to) - location}, ""};
    undoing_ = inUndo_;
    lowLayer_.deleted(from, to);
    manualLayer_.deleted(from, to);
    searchLayer_.deleted(from, to);
}

void OCRTextEditor::onChanged() {
    // A keystroke can reach the main loop in the same turn as a due frame
    // (the caret blinks in a focused window, so one is due every few
    // milliseconds), before the idle in which the view lays out its changed
    // text; the view then lays it out while the frame is drawn, and the
    // scroll bar, told of the new height after its own layout, is drawn
    // unplaced (GTK warns). Asked for a new allocation, the view lays its
    // text out in the frame's layout, before anything is drawn.
    view_.queue_allocate();
    shown_ = view_.get_buffer()->get_text(true);
    map_ = UTF16Map(shown_);
    const bool flag = undoing_ || inUndo_;
    std::optional<TextRange> range;
    std::optional<std::string> replacement;
    if (pending_) {
        range = pending_->range;
        replacement = std::move(pending_->replacement);
    }
    pending_.reset();
    undoing_ = false;
    // A copy: the owner's handler may hand a new value in before it returns.
    const EditHandler onEdit = value_.onEdit;
    if (onEdit) onEdit(shown_, range, replacement, flag);
}

void OCRTextEditor::onPreedit(const char* preedit) {
    composing_ = preedit && *preedit;
    // The updates held back while composing are applied once it ends,
    // whether or not it committed text.
    if (!composing_) afterComposition_.schedule();
}

}  // namespace velmora
