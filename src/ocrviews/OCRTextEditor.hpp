#pragma once

// The editable view of one page's recognised text.
//
// The owner hands the editor everything it shows in one `update(value)`:
// the text, three lists of ranges to paint (low confidence, hand-edited,
// search hits), a document key, a selection to reveal and whether typing is
// allowed. The editor never keeps a text of its own: every change the user
// makes is reported through `onEdit` with the whole new text, the replaced
// UTF-16 range, the replacement and whether it came from undo or redo; the
// owner stores it and hands it back in the next update.
//
// A text handed back equal to what the buffer holds, under the same
// document key, is kept with its undo history; any other text, or another
// key, is loaded as a new document with an empty history. Painting touches
// only the ranges that changed since the last update (EditorHighlights.hpp),
// so a keystroke in a long page stays fluent. While an input method composes,
// nothing is repainted, revealed or described; the last update is applied
// when the composition ends.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtkmm/cssprovider.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/textbuffer.h>
#include <gtkmm/texttag.h>
#include <gtkmm/textview.h>

#include "foundation/GObjectRef.hpp"
#include "foundation/TextRange.hpp"
#include "ocrviews/EditorHighlights.hpp"
#include "ocrviews/IdleRefresh.hpp"

namespace velmora {

class OCRTextEditor : public Gtk::ScrolledWindow {
public:
    // text, replaced range, replacement, undo-or-redo. The range and the
    // replacement are absent together, for a change the buffer did not
    // announce.
    using EditHandler = std::function<void(std::string, std::optional<TextRange>, std::optional<std::string>, bool)>;

    struct Value {
        std::string text;
        std::vector<TextRange> lowRanges;
        std::vector<TextRange> manualRanges;
        EditHandler onEdit;
        std::string documentKey;
        std::vector<TextRange> searchRanges;
        std::optional<TextRange> selection;
        bool editable = true;
    };

    // The text view's name, as automation addresses it.
    static constexpr const char* viewName = "ocr.editor";
    static constexpr const char* accessibleLabel = "編集可能なOCR結果";

    OCRTextEditor();
    ~OCRTextEditor() override;

    void update(Value value);

    Gtk::TextView& textView() { return view_; }
    Glib::RefPtr<Gtk::TextBuffer> buffer() { return view_.get_buffer(); }
    // The three layers, lowest first: later ones win where they overlap.
    Glib::RefPtr<Gtk::TextTag> lowTag() const { return low_; }
    Glib::RefPtr<Gtk::TextTag> manualTag() const { return manual_; }
    Glib::RefPtr<Gtk::TextTag> searchTag() const { return search_; }
    // The accessible description last set.
    const std::string& help() const noexcept { return help_; }
    // Whether an input method is composing in the view.
    bool composing() const noexcept { return composing_; }

private:
    void refuseFileDrops();
    void apply();
    void load(const Value& value);
    void paint(const Value& value);
    void reveal(const TextRange& range);
    void applyTextColour();

    void onInsert(const Gtk::TextBuffer::iterator& at, const Glib::ustring& text, int bytes);
    void onErase(const Gtk::TextBuffer::iterator& start, const Gtk::TextBuffer::iterator& end);
    void onChanged();
    void onPreedit(const char* preedit);

    Gtk::TextView view_;
    Glib::RefPtr<Gtk::CssProvider> css_;
    // The view's own following of a drag, and ours around it (both owned by
    // their widgets).
    GtkEventController* viewFollowsDrags_ = nullptr;
    GtkEventController* dragsAround_ = nullptr;
    Glib::RefPtr<Gtk::TextTag> low_;
    Glib::RefPtr<Gtk::TextTag> manual_;
    Glib::RefPtr<Gtk::TextTag> search_;
    std::optional<Gdk::RGBA> textColour_;
    HighlightLayer lowLayer_;
    HighlightLayer manualLayer_;
    HighlightLayer searchLayer_;

    // The newest value given; callbacks reach its `onEdit`.
    Value value_;
    bool hasValue_ = false;
    std::optional<TextRange> lastSelection_;
    std::optional<std::string> documentKey_;
    // The change announced by the buffer and not yet reported.
    struct Pending {
        TextRange range;
        std::string replacement;
    };
    std::optional<Pending> pending_;
    bool undoing_ = false;
    // Inside the buffer's own undo or redo, which may make several changes.
    bool inUndo_ = false;
    // What the buffer holds, as last loaded or reported, and its offsets.
    std::string shown_;
    UTF16Map map_;
    std::string help_;
    bool composing_ = false;
    Glib::RefPtr<Gtk::TextBuffer::Mark> revealMark_;

    sigc::connection insertConnection_;
    sigc::connection eraseConnection_;
    sigc::connection changedConnection_;
    SignalConnection preeditConnection_;
    IdleRefresh afterComposition_{[this] { apply(); }};
};

}  // namespace velmora
