#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/window.h>

#include <string>
#include <vector>

#include "ocrviews/OCRTextEditor.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"

// The result editor on a real text view in a presented window: typing as the
// keyboard does, the view's own undo and redo actions, the input method's
// composition signal, and the tags as the buffer holds them.

using namespace velmora;
using namespace velmora::test;

namespace {

struct Report {
    std::string text;
    std::optional<TextRange> range;
    std::optional<std::string> replacement;
    bool undoOrRedo = false;
};

// An editor in a window, with an owner that stores every report and hands
// the text back, as the result column does.
struct EditorWindow {
    Gtk::Window window;
    OCRTextEditor* editor = Gtk::make_managed<OCRTextEditor>();
    std::vector<Report> reports;
    OCRTextEditor::Value value;

    EditorWindow() {
        window.set_default_size(480, 320);
        window.set_child(*editor);
        value.onEdit = [this](std::string text, std::optional<TextRange> range, std::optional<std::string> replacement,
                              bool undoOrRedo) {
            reports.push_back({text, range, replacement, undoOrRedo});
            value.text = text;
        };
        window.present();
        spinUntil([&] { return editor->textView().get_mapped(); });
    }
    ~EditorWindow() { window.destroy(); }

    void show(std::string text, std::string key) {
        value.text = std::move(text);
        value.documentKey = std::move(key);
        editor->update(value);
    }
    void handBack() { editor->update(value); }
    std::string bufferText() { return editor->buffer()->get_text(true); }
    void caretAt(int offset) { editor->buffer()->place_cursor(editor->buffer()->get_iter_at_offset(offset)); }
    int caret() { return editor->buffer()->get_insert()->get_iter().get_offset(); }
    // The character offsets that carry the tag.
    std::vector<int> tagged(const Glib::RefPtr<Gtk::TextTag>& tag) {
        std::vector<int> offsets;
        for (auto it = editor->buffer()->begin(); !it.is_end(); ++it) {
            if (it.has_tag(tag)) offsets.push_back(it.get_offset());
        }
        return offsets;
    }
};

std::vector<int> span(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i) v.push_back(i);
    return v;
}

TEST(OCRTextEditor, ReportsTypingUndoAndRedoAndKeepsTheHistoryOfItsOwnText) {
    EditorWindow w;
    w.show("認識した本文", "page-1");
    EXPECT_EQ(w.bufferText(), "認識した本文");
    EXPECT_FALSE(w.editor->buffer()->get_can_undo());
    EXPECT_EQ(w.editor->textView().get_name(), "ocr.editor");

    w.editor->textView().grab_focus();
    w.caretAt(4);
    w.editor->buffer()->insert_interactive_at_cursor("の", true);
    ASSERT_EQ(w.reports.size(), 1u);
    EXPECT_EQ(w.reports[0].text, "認識したの本文");
    EXPECT_EQ(w.reports[0].range, (TextRange{4, 0}));
    EXPECT_EQ(w.reports[0].replacement, "の");
    EXPECT_FALSE(w.reports[0].undoOrRedo);

    // Handed back, the text is the buffer's own: kept, history and all.
    w.handBack();
    EXPECT_EQ(w.bufferText(), "認識したの本文");
    EXPECT_TRUE(w.editor->buffer()->get_can_undo());

    w.editor->textView().activate_action("text.undo");
    ASSERT_EQ(w.reports.size(), 2u);
    EXPECT_EQ(w.reports[1].text, "認識した本文");
    EXPECT_EQ(w.reports[1].range, (TextRange{4, 1}));
    EXPECT_TRUE(w.reports[1].undoOrRedo);
    w.handBack();
    w.editor->textView().activate_action("text.redo");
    ASSERT_EQ(w.reports.size(), 3u);
    EXPECT_EQ(w.reports[2].text, "認識したの本文");
    EXPECT_TRUE(w.reports[2].undoOrRedo);
    w.handBack();
    EXPECT_TRUE(w.editor->buffer()->get_can_undo());

    // A text the owner replaced is loaded as new, without history and
    // without a report.
    w.value.text = "別の本文";
    w.handBack();
    EXPECT_EQ(w.bufferText(), "別の本文");
    EXPECT_FALSE(w.editor->buffer()->get_can_undo());
    EXPECT_EQ(w.reports.size(), 3u);

    // Another document with the very same text reloads too.
    w.editor->buffer()->insert_interactive_at_cursor("。", true);
    w.handBack();
    ASSERT_TRUE(w.editor->buffer()->get_can_undo());
    w.show(w.value.text, "page-2");
    EXPECT_FALSE(w.editor->buffer()->get_can_undo());
    EXPECT_EQ(w.reports.size(), 4u);

    // Read-only follows `editable`.
    w.value.editable = false;
    w.handBack();
    EXPECT_FALSE(w.editor->textView().get_editable());
}

TEST(OCRTextEditor, PaintsTheThreeLayersInOrderAndSkipsRangesOutsideTheText) {
    EditorWindow w;
    // 0-4 low; 3-4 a search hit over it; 6-7 manual; two ranges that do not
    // lie in the text.
    w.value.lowRanges = {{0, 5}, {-1, 2}, {9, 100}};
    w.value.manualRanges = {{6, 2}};
    w.value.searchRanges = {{3, 2}, {12, 1}};
    w.show("低信頼な文字と手入力", "k");
    EXPECT_EQ(w.tagged(w.editor->lowTag()), span(0, 5));
    EXPECT_EQ(w.tagged(w.editor->manualTag()), span(6, 8));
    EXPECT_EQ(w.tagged(w.editor->searchTag()), span(3, 5));
    // The later layer wins: blue over yellow, in the theme's text colour.
    EXPECT_LT(w.editor->lowTag()->get_priority(),
              w.editor->manualTag()->get_priority());
    EXPECT_LT(w.editor->manualTag()->get_priority(),
              w.editor->searchTag()->get_priority());
    const Gdk::RGBA text = w.editor->textView().get_style_context()->get_color();
    EXPECT_EQ(w.editor->searchTag()->property_foreground_rgba().get_value(), text);
    EXPECT_EQ(w.editor->manualTag()->property_foreground_rgba().get_value(), text);
    EXPECT_TRUE(w.editor->searchTag()->property_foreground_set().get_value());
    const Gdk::RGBA black = w.editor->lowTag()->property_foreground_rgba().get_value();
    EXPECT_EQ(black.get_red() + black.get_green() + black.get_blue(), 0);
    // Yellow at 0.55 under the low text, green and blue more faintly.
    const Gdk::RGBA yellow = w.editor->lowTag()->property_background_rgba().get_value();
    EXPECT_GT(yellow.get_red(), 0.9);
    EXPECT_GT(yellow.get_green(), 0.75);
    EXPECT_LT(yellow.get_blue(), 0.3);
    EXPECT_NEAR(yellow.get_alpha(), 0.55, 1e-6);
    EXPECT_NEAR(w.editor->manualTag()->property_background_rgba().get_value().get_alpha(), 0.25, 1e-6);
    EXPECT_NEAR(w.editor->searchTag()->property_background_rgba().get_value().get_alpha(), 0.45, 1e-6);
    // The help counts the lists as passed, skipped ranges included.
    EXPECT_EQ(w.editor->help(), "黄：低信頼、緑：手動修正、青：検索結果。黄色3箇所、緑1箇所。色は正誤を保証しません。");

    // A keystroke inside the low range, handed back with the ranges moved
    // as the owner moves them: the tags follow exactly.
    w.caretAt(2);
    w.editor->buffer()->insert_interactive_at_cursor("な", true);
    w.value.lowRanges = {{0, 2}, {3, 3}};
    w.value.manualRanges = {{2, 1}, {7, 2}};
    w.value.searchRanges = {};
    w.handBack();
    EXPECT_EQ(w.tagged(w.editor->lowTag()), (std::vector<int>{0, 1, 3, 4, 5}));
    EXPECT_EQ(w.tagged(w.editor->manualTag()), (std::vector<int>{2, 7, 8}));
    EXPECT_TRUE(w.tagged(w.editor->searchTag()).empty());

    // Empty lists: no colour at all and both counts 0.
    w.value.lowRanges = {};
    w.value.manualRanges = {};
    w.handBack();
    EXPECT_TRUE(w.tagged(w.editor->lowTag()).empty());
    EXPECT_TRUE(w.tagged(w.editor->manualTag()).empty());
    EXPECT_EQ(w.editor->help(), "黄：低信頼、緑：手動修正、青：検索結果。黄色0箇所、緑0箇所。色は正誤を保証しません。");
}

TEST(OCRTextEditor, KeepsRangesOnTheirCharactersOutsideTheBMP) {
    EditorWindow w;
    // UTF-16: 𠀋 0-1, a 2, 𝟘 3-4, 漢 5, 字 6.
    const std::string text = "\xF0\xA0\x80\x8B" "a\xF0\x9D\x9F\x98漢字";
    w.value.lowRanges = {{5, 1}};
    w.value.manualRanges = {{0, 2}};
    w.value.searchRanges = {{4, 1}};  // half of 𝟘: widened to all of it
    w.show(text, "k");
    EXPECT_EQ(w.tagged(w.editor->lowTag()), (std::vector<int>{3}));
    EXPECT_EQ(w.tagged(w.editor->manualTag()), (std::vector<int>{0}));
    EXPECT_EQ(w.tagged(w.editor->searchTag()), (std::vector<int>{2}));

    // Typing after 𝟘 is reported at its UTF-16 offset; deleting 𠀋 as two
    // units.
    w.caretAt(3);
    w.editor->buffer()->insert_interactive_at_cursor("x", true);
    ASSERT_EQ(w.reports.size(), 1u);
    EXPECT_EQ(w.reports[0].range, (TextRange{5, 0}));
    w.handBack();
    auto buffer = w.editor->buffer();
    buffer->erase_interactive(buffer->get_iter_at_offset(0), buffer->get_iter_at_offset(1), true);
    ASSERT_EQ(w.reports.size(), 2u);
    EXPECT_EQ(w.reports[1].range, (TextRange{0, 2}));
    EXPECT_EQ(w.reports[1].replacement, "");
    EXPECT_EQ(w.reports[1].text, "a\xF0\x9D\x9F\x98x漢字");
}

TEST(OCRTextEditor, RevealsEachNewSelectionOnceAsACaretAtItsStart) {
    EditorWindow w;
    std::string text;
    for (int line = 0; line < 200; ++line) text += "行" + std::to_string(1000 + line) + "の本文\n";
    w.show(text, "k");
    // Line 150 is far below the window; its characters 10 to 14 are "000の本"
    // of "行1150の本文", at UTF-16 150 × 9 + 2.
    const int64_t location = 150 * 9 + 2;
    w.value.selection = TextRange{location, 5};
    w.handBack();
    EXPECT_EQ(w.caret(), location);
    EXPECT_FALSE(w.editor->buffer()->get_has_selection());
    auto& view = w.editor->textView();
    const auto visible = [&] {
        Gdk::Rectangle rect;
        view.get_visible_rect(rect);
        Gdk::Rectangle at;
        view.get_iter_location(w.editor->buffer()->get_iter_at_offset(static_cast<int>(location)), at);
        return at.get_y() >= rect.get_y() && at.get_y() + at.get_height() <= rect.get_y() + rect.get_height();
    };
    EXPECT_TRUE(spinUntil(visible, 5s));

    // The same selection again leaves the user's caret alone.
    w.caretAt(3);
    w.handBack();
    EXPECT_EQ(w.caret(), 3);
    // A selection beyond the text is not revealed.
    w.value.selection = TextRange{static_cast<int64_t>(text.size()), 5};
    w.handBack();
    EXPECT_EQ(w.caret(), 3);
    // (10, 5) in a fresh selection: the caret at 10, nothing selected.
    w.value.selection = TextRange{10, 5};
    w.handBack();
    EXPECT_EQ(w.caret(), 10);
    EXPECT_FALSE(w.editor->buffer()->get_has_selection());
}

TEST(OCRTextEditor, HoldsColoursHelpAndSelectionWhileAnInputMethodComposes) {
    EditorWindow w;
    w.show("かな漢字変換の途中", "k");
    auto* view = GTK_WIDGET(w.editor->textView().gobj());
    g_signal_emit_by_name(view, "preedit-changed", "へんかん");
    ASSERT_TRUE(w.editor->composing());
    const int caret = w.caret();
    ASSERT_NE(caret, 4);
    w.value.lowRanges = {{0, 2}};
    w.value.selection = TextRange{4, 2};
    w.handBack();
    EXPECT_TRUE(w.tagged(w.editor->lowTag()).empty());
    EXPECT_EQ(w.caret(), caret);
    EXPECT_EQ(w.editor->help(), "黄：低信頼、緑：手動修正、青：検索結果。黄色0箇所、緑0箇所。色は正誤を保証しません。");

    // The end of the composition brings the held update in.
    g_signal_emit_by_name(view, "preedit-changed", "");
    EXPECT_TRUE(spinUntil([&] { return !w.tagged(w.editor->lowTag()).empty(); }, 5s));
    EXPECT_EQ(w.tagged(w.editor->lowTag()), span(0, 2));
    EXPECT_EQ(w.caret(), 4);
    EXPECT_EQ(w.editor->help(), "黄：低信頼、緑：手動修正、青：検索結果。黄色1箇所、緑0箇所。色は正誤を保証しません。");
}

}  // namespace
