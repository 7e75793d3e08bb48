#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include <fstream>
#include <string>

#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/OCRResultColumn.hpp"
#include "ocrviews/OCRSourceColumn.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"
#include "support/gui/GuiHelpers.hpp"

// The two columns of the OCR pane on a real queue controller: queues of
// PDF pages run by a fixed recogniser, and one page of Japanese text drawn
// with Pango and read by Tesseract.

using namespace velmora;
using namespace velmora::test;

namespace {

// A column in a presented window, refreshed as the main loop runs.
template <typename Column>
struct ColumnWindow {
    Gtk::Window window;
    Column* column;

    explicit ColumnWindow(std::shared_ptr<QueueController> controller, int width = 480, int height = 640)
        : column(Gtk::make_managed<Column>(std::move(controller))) {
        window.set_default_size(width, height);
        window.set_child(*column);
        window.present();
        spinUntil([&] { return column->get_mapped(); });
    }
    ~ColumnWindow() { window.destroy(); }

    template <typename W>
    W& find(const char* name) {
        auto* widget = dynamic_cast<W*>(findByName(window, name));
        if (!widget) throw std::runtime_error(std::string("no widget named ") + name);
        return *widget;
    }
};

// A click, as the button reports it (activating a button clicks it only
// after a visual press of a quarter second).
void press(Gtk::Button& button) {
    ASSERT_TRUE(button.get_sensitive());
    g_signal_emit_by_name(button.gobj(), "clicked");
}

// Turns the main loop until nothing is ready to run: the columns' refresh
// (an idle source) has run by then.
void settle() {
    ASSERT_TRUE(spinUntil([] { return !g_main_context_pending(nullptr); }, 5s));
}

std::vector<int> tagged(OCRTextEditor& editor, const Glib::RefPtr<Gtk::TextTag>& tag) {
    std::vector<int> offsets;
    for (auto it = editor.buffer()->begin(); !it.is_end(); ++it) {
        if (it.has_tag(tag)) offsets.push_back(it.get_offset());
    }
    return offsets;
}

TEST(OCRResultColumn, BindsTheEditorToTheShownPageItsEditsAndTheSearchHit) {
    ControllerRoots roots;
    auto c = roots.controller();
    roots.openRunQueue(*c, {2}, OCRSettings{});
    c->showPage();
    ColumnWindow<OCRResultColumn> w(c);
    OCRTextEditor& editor = w.column->editor();
    EXPECT_EQ(std::string(editor.buffer()->get_text(true)), fixedText(1));
    EXPECT_TRUE(editor.textView().get_editable());
    // "第1頁の本文が\n" is 8 units; the second, low-confidence line is yellow.
    EXPECT_EQ(tagged(editor, editor.lowTag()), (std::vector<int>{8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(w.find<Gtk::Label>(OCRResultColumn::titleName).get_text(), "OCR結果 · 編集できます");

    // The current hit is blue while a search text is typed.
    const UUID input = c->selectedID->value();
    c->setSearch("本文");
    c->searchSelection = OCRProduct::Match{input, 1, {4, 2}};
    settle();
    EXPECT_EQ(tagged(editor, editor.searchTag()), (std::vector<int>{4, 5}));

    // Typing stores the edit in the queue and ends the highlight.
    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->get_iter_at_offset(7));
    editor.buffer()->insert_interactive_at_cursor("。", true);
    EXPECT_EQ(c->edited.get(), "第1頁の本文が。\n読みにくい行");
    EXPECT_TRUE(c->editWritePending());
    EXPECT_FALSE(c->searchSelection->has_value());
    settle();
    EXPECT_TRUE(tagged(editor, editor.searchTag()).empty());
    EXPECT_EQ(tagged(editor, editor.manualTag()), (std::vector<int>{7}));
    EXPECT_TRUE(editor.buffer()->get_can_undo());
    EXPECT_EQ(std::string(editor.buffer()->get_text(true)), c->edited.get());

    // An empty search text marks nothing, even with a hit left over.
    c->setSearch("");
    c->searchSelection = OCRProduct::Match{input, 1, {4, 2}};
    settle();
    EXPECT_TRUE(tagged(editor, editor.searchTag()).empty());

    // Another page is another document: its text, no history.
    ASSERT_TRUE(c->goPage(2));
    settle();
    EXPECT_EQ(std::string(editor.buffer()->get_text(true)), fixedText(2));
    EXPECT_FALSE(editor.buffer()->get_can_undo());
    // The edit of page 1 was stored on leaving it.
    EXPECT_EQ(c->snapshot.get()->inputs[0].editedPages.at(1), "第1頁の本文が。\n読みにくい行");
}

TEST(OCRResultColumn, BeforeAnyDocumentAStatusPageSaysWhereToDropOne) {
    ControllerRoots roots;
    auto c = roots.controller();
    ColumnWindow<OCRResultColumn> w(c);
    settle();
    EXPECT_TRUE(w.column->hint().is_drawable());
    EXPECT_FALSE(w.column->editor().get_visible());
    EXPECT_EQ(w.column->hint().label().get_text(), "PNG・JPEG・PDFをここへドロップ\nまたは「ファイルを開く」");
    // It stands in the middle of the room the editor leaves to it.
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(w.column->hint().label().gobj()), GTK_WIDGET(w.column->gobj()), &bounds));
    const double centre = bounds.origin.y + bounds.size.height / 2;
    EXPECT_GT(centre, w.column->get_height() * 0.3);
    EXPECT_LT(centre, w.column->get_height() * 0.7);

    roots.openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    settle();
    EXPECT_TRUE(w.column->editor().is_drawable());
    EXPECT_FALSE(w.column->hint().get_visible());
}

TEST(OCRResultColumn, AnUnfinishedPageIsReadOnlyUntilItCompletes) {
    ControllerRoots roots;
    auto c = roots.controller();
    auto engine = roots.openQueue(*c, {{writeDocument(roots.tmp / "doc.pdf", 1)}}, OCRSettings{}, false);
    c->showPage();
    ColumnWindow<OCRResultColumn> w(c);
    EXPECT_FALSE(w.column->editor().textView().get_editable());

    JobControl control;
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = engine->snapshot();
    c->showPage();
    settle();
    EXPECT_TRUE(w.column->editor().textView().get_editable());
    EXPECT_EQ(std::string(w.column->editor().buffer()->get_text(true)), fixedText(1));
}

TEST(OCRSourceColumn, PageRowZoomAndPickerFollowTheControllerAndDriveIt) {
    ControllerRoots roots;
    auto c = roots.controller();
    ColumnWindow<OCRSourceColumn> w(c);
    // No document: a status page, its picture only (the result column
    // beside says where to drop one), and nothing to page or zoom.
    auto& status = w.find<Gtk::Widget>(OCRSourceColumn::statusPageName);
    auto& empty = w.find<Gtk::Label>(OCRSourceColumn::emptyName);
    EXPECT_TRUE(status.get_visible());
    EXPECT_FALSE(empty.get_visible());
    for (const char* name : {OCRSourceColumn::previousName, OCRSourceColumn::nextName, OCRSourceColumn::zoomOutName,
                             OCRSourceColumn::fitName, OCRSourceColumn::zoomInName}) {
        EXPECT_FALSE(w.find<Gtk::Button>(name).get_sensitive()) << name;
    }

    roots.openRunQueue(*c, {3, 2}, OCRSettings{});
    c->showPage();
    settle();
    auto& previous = w.find<Gtk::Button>(OCRSourceColumn::previousName);
    auto& next = w.find<Gtk::Button>(OCRSourceColumn::nextName);
    auto& label = w.find<Gtk::Label>(OCRSourceColumn::pageName);
    EXPECT_FALSE(status.get_visible());
    EXPECT_EQ(label.get_text(), "1 / 3");
    EXPECT_FALSE(previous.get_sensitive());
    EXPECT_TRUE(next.get_sensitive());
    press(next);
    press(next);
    settle();
    EXPECT_EQ(c->page.get(), 3);
    EXPECT_EQ(label.get_text(), "3 / 3");
    EXPECT_FALSE(next.get_sensitive());
    EXPECT_TRUE(previous.get_sensitive());
    press(previous);
    settle();
    EXPECT_EQ(c->page.get(), 2);
    c->previewPageCount = 0;
    settle();
    EXPECT_FALSE(next.get_sensitive());

    // Zoom: down to 0.5 in steps of 1.25, fit, up to 4 at the seventh press.
    auto& out = w.find<Gtk::Button>(OCRSourceColumn::zoomOutName);
    std::vector<double> zooms;
    for (int i = 0; i < 5; ++i) {
        press(out);
        zooms.push_back(c->zoom.get());
    }
    EXPECT_NEAR(zooms[0], 0.8, 1e-12);
    EXPECT_NEAR(zooms[2], 0.512, 1e-12);
    EXPECT_EQ(zooms[3], 0.5);
    EXPECT_EQ(zooms[4], 0.5);
    press(w.find<Gtk::Button>(OCRSourceColumn::fitName));
    EXPECT_EQ(c->zoom.get(), 1.0);
    auto& in = w.find<Gtk::Button>(OCRSourceColumn::zoomInName);
    for (int i = 0; i < 6; ++i) press(in);
    EXPECT_LT(c->zoom.get(), 4.0);
    press(in);
    EXPECT_EQ(c->zoom.get(), 4.0);
    EXPECT_EQ(in.get_tooltip_text(), "原稿を拡大");
    EXPECT_EQ(out.get_tooltip_text(), "原稿を縮小");

    // Two inputs: the picker, and choosing the second shows its page 1.
    auto& picker = w.find<Gtk::DropDown>(OCRSourceColumn::pickerName);
    EXPECT_TRUE(picker.get_parent()->get_visible());
    EXPECT_EQ(picker.get_selected(), 0u);
    picker.set_selected(1);
    const UUID second = c->snapshot.get()->inputs[1].id;
    EXPECT_EQ(c->selectedID.get(), second);
    EXPECT_EQ(c->page.get(), 1);
    settle();
    EXPECT_EQ(label.get_text(), "1 / 2");

    // One input: no picker.
    roots.openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    ASSERT_TRUE(pictured(*c));
    settle();
    EXPECT_FALSE(picker.get_parent()->get_visible());

    // A page without an image in an open queue.
    c->preview = std::nullopt;
    settle();
    EXPECT_TRUE(empty.get_visible());
    EXPECT_EQ(empty.get_text(), "ページを表示できません。");
    EXPECT_TRUE(w.column->preview().boxes().empty());
}

TEST(OCRSourceColumn, DrawsTheBoxesOfARealRecognitionOnTheFittedAndZoomedPage) {
    ControllerRoots roots;
    // A page of two lines of Japanese, recognised by Tesseract.
    TextLayout layout;
    layout.width = 900;
    layout.height = 360;
    layout.pixelSize = 40;
    const TextPage page = renderLines(layout, {"吾輩は猫である。", "名前はまだ無い。"});
    const auto file = roots.tmp / "page.png";
    {
        const auto bytes = Raster::png(page.image);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    }
    auto c = roots.controller(QueuePorts{});
    roots.openQueue(*c, {{file}}, OCRSettings{}, true);
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    ASSERT_TRUE(c->preview->has_value());
    ASSERT_FALSE(c->regions->empty());

    ColumnWindow<OCRSourceColumn> w(c, 600, 500);
    OCRPreviewArea& area = w.column->preview();
    auto viewport = [&] {
        return Size{w.column->scroller().get_hadjustment()->get_page_size(),
                    w.column->scroller().get_vadjustment()->get_page_size()};
    };
    ASSERT_TRUE(spinUntil([&] { return viewport().width > 100 && area.frame() ==
                                           SourceColumnRules::pageFrame({900, 360}, viewport(), 1.0); }));
    // Fitted to the column's width, each region's box on it.
    const Rect frame = area.frame();
    EXPECT_NEAR(frame.width, viewport().width, 0.5);
    EXPECT_EQ(frame.x, 0);
    EXPECT_EQ(area.boxes().size(), c->regions->size());
    for (std::size_t i = 0; i < area.boxes().size(); ++i) {
        const auto& box = area.boxes()[i];
        EXPECT_GE(box.rect.minX(), frame.minX() - 1e-9);
        EXPECT_LE(box.rect.maxY(), frame.maxY() + 1e-9);
        EXPECT_EQ(box.tinted, c->regions.get()[i].lowConfidence());
        EXPECT_FALSE(box.tag);
    }
    // The first line's box lies over the first drawn line.
    const Rect ink = page.lines[0].ink;
    const double scale = frame.width / 900;
    const Rect first = area.boxes()[0].rect;
    EXPECT_LT(std::abs(first.minY() - (frame.y + ink.y * scale)), 12 * scale);
    EXPECT_NE(area.description().find("認識候補の元領域"), std::string::npos);

    // Zoom 2: the content grows to the zoomed frame and scrolls.
    c->zoom = 2.0;
    ASSERT_TRUE(spinUntil([&] {
        return std::abs(area.frame().width - 2 * frame.width) < 1 &&
               w.column->scroller().get_hadjustment()->get_upper() >= area.frame().maxX() - 1;
    }));
    EXPECT_EQ(area.frame().x, 0);
    EXPECT_NEAR(area.boxes()[0].rect.width, 2 * first.width, 1e-6);
}

TEST(OCRSourceColumn, AnnotationPagesTagTheirBoxesOnlyWhileTheCandidatesShow) {
    ControllerRoots roots;
    QueuePorts ports;
    ports.configureEngine = [](OCRQueueEngine& engine) {
        engine.setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                const std::function<bool()>&) {
            return PageResult(page,
                              {TextRegion("本文", 0.95f, 0.1, 0.6, 0.8, 0.1, RegionKind::printedCandidate),
                               TextRegion("赤字", 0.6f, 0.1, 0.3, 0.3, 0.1, RegionKind::handwrittenCandidate),
                               TextRegion("？", 0.9f, 0.5, 0.1, 0.2, 0.1, RegionKind::unknown)},
                              0.01, image.width(), image.height());
        });
    };
    auto c = roots.controller(ports);
    roots.openRunQueue(*c, {1}, settingsIn(OCRMode::handwriting));
    c->showPage();
    ASSERT_TRUE(c->hasAnnotationResult());
    ColumnWindow<OCRSourceColumn> w(c);
    OCRPreviewArea& area = w.column->preview();
    ASSERT_TRUE(spinUntil([&] { return area.boxes().size() == 3; }));
    EXPECT_EQ(area.boxes()[0].tag, "印刷候補");
    EXPECT_EQ(area.boxes()[1].lineWidth, 2);
    EXPECT_TRUE(area.boxes()[2].dashed);
    EXPECT_EQ(area.description(), "印刷候補\n手書き候補\n不明");
    c->showAnnotationCandidates = false;
    settle();
    EXPECT_TRUE(area.boxes().empty());
    EXPECT_EQ(area.description(), "");
}

}  // namespace
