#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dragsource.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/textview.h>
#include <glibmm/convert.h>
#include <glibmm/main.h>
#include <glibmm/spawn.h>
#include <gtkmm/window.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "PaneFixture.hpp"
#include "ocrviews/OCRTextEditor.hpp"
#include "ocrviews/PaneRules.hpp"
#include "ocrviews/QueueView.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/gui/Pointer.hpp"

// The OCR pane's layout, split, banner, drop and search focus.

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

// ---- layout

TEST_F(Pane, ANarrowPaneScrollsItsMinimumPageAndWrapsItsRowsBelow900) {
    c = fixed();
    PaneWindow w(c, settings, 600, 700);
    OCRProductView& pane = *w.pane;
    EXPECT_EQ(pane.contentWidth(), 680);
    EXPECT_EQ(pane.split().get_width(), 680);
    EXPECT_EQ(w.widget(OCRControlPanel::statusName).get_parent()->get_width(), 680);
    auto h = pane.scroller().get_hadjustment();
    EXPECT_EQ(h->get_upper(), 704);
    EXPECT_EQ(h->get_page_size(), 600);
    EXPECT_TRUE(pane.compact());

    // Controls keep their state and identity across the switch.
    auto& search = w.find<Gtk::Entry>(OCROptionRows::searchName);
    search.set_text("本文");
    auto& privateInput = w.find<Gtk::CheckButton>(OCRControlPanel::privateName);
    privateInput.set_active(true);
    EXPECT_TRUE(c->privateInput.get());
    search.grab_focus();
    std::vector<OCRControlRow*> rows = pane.controlPanel().rows();
    for (OCRControlRow* row : pane.optionRows().rows()) rows.push_back(row);

    w.resize(899, 700);
    for (OCRControlRow* row : rows) EXPECT_TRUE(row->compact());
    EXPECT_EQ(pane.contentWidth(), 875);
    EXPECT_EQ(h->get_upper(), h->get_page_size());
    double x = 0, copyY = 0, saveY = 0;

    w.resize(900, 700);
    EXPECT_FALSE(pane.compact());
    for (OCRControlRow* row : rows) {
        EXPECT_FALSE(row->compact());
        EXPECT_EQ(row->get_orientation(), Gtk::Orientation::HORIZONTAL);
        EXPECT_EQ(row->get_spacing(), 8);
    }
    ASSERT_TRUE(w.widget(OCROptionRows::copyName).translate_coordinates(pane, 0, 0, x, copyY));
    double saveX = 0;
    ASSERT_TRUE(w.widget(OCROptionRows::saveName).translate_coordinates(pane, 0, 0, saveX, saveY));
    EXPECT_EQ(saveY, copyY);
    EXPECT_GT(saveX, x);
    // The fixed widths of the pickers and the password field.
    c->recognitionMode = OCRMode::handwriting;
    settle();
    w.nextFrame();
    EXPECT_EQ(w.widget(OCRControlPanel::modeName).get_parent()->get_width(), 240);
    EXPECT_EQ(w.widget(OCRControlPanel::targetName).get_parent()->get_width(), 220);
    EXPECT_EQ(w.widget(OCROptionRows::txtName).get_parent()->get_width(), 170);
    EXPECT_LE(w.widget(OCROptionRows::linesName).get_parent()->get_width(), 350);
    EXPECT_EQ(&w.find<Gtk::Entry>(OCROptionRows::searchName), &search);
    EXPECT_EQ(search.get_text(), "本文");
    EXPECT_TRUE(w.focused(search));
    EXPECT_TRUE(privateInput.get_active());
}

TEST_F(Pane, ThePageAndTheResultTakeTheHeightTheRowsLeave) {
    c = fixed();
    openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    OCRSplit& split = w.pane->split();
    OCRTextEditor& editor = split.resultColumn().editor();
    auto v = w.pane->scroller().get_vadjustment();
    // The rows around the split keep their height; the split takes the rest
    // down to the option rows, which end 12 above the pane's bottom.
    const auto bottomOfOptions = [&] {
        double x = 0, y = 0;
        EXPECT_TRUE(w.pane->optionRows().translate_coordinates(*w.pane, 0, w.pane->optionRows().get_height(), x, y));
        return y;
    };
    EXPECT_EQ(v->get_upper(), v->get_page_size());
    EXPECT_NEAR(bottomOfOptions(), 850 - 12, 1);
    EXPECT_GT(split.get_height(), 320);
    const int editorAt850 = editor.get_height();
    const int previewAt850 = split.sourceColumn().scroller().get_height();

    // 150 higher: the editor and the page image are 150 higher.
    w.resize(1240, 1000);
    EXPECT_EQ(editor.get_height(), editorAt850 + 150);
    EXPECT_EQ(split.sourceColumn().scroller().get_height(), previewAt850 + 150);
    EXPECT_NEAR(bottomOfOptions(), 1000 - 12, 1);
    EXPECT_EQ(v->get_upper(), v->get_page_size());

    // The queue panel above takes its height from the split: the split
    // keeps what the rows leave with the panel at its usable height, up to
    // half the pane and never below 200.
    const int withoutList = split.get_height();
    c->processingList = true;
    settle();
    w.nextFrame();
    ASSERT_TRUE(w.shows(OCRProductView::queueSlotName));
    const int queueHeight = w.widget(OCRProductView::queueSlotName).get_height();
    EXPECT_GT(queueHeight, 0);
    EXPECT_EQ(split.get_height(), std::max(withoutList - queueHeight - 8, 200));
    EXPECT_GE(split.get_height(), 0.4 * 850);
    double x = 0, queueY = 0, panelY = 0;
    ASSERT_TRUE(w.widget(OCRProductView::queueSlotName).translate_coordinates(*w.pane, 0, 0, x, queueY));
    ASSERT_TRUE(w.pane->controlPanel().translate_coordinates(*w.pane, 0, 0, x, panelY));
    EXPECT_EQ(queueY, 12);
    EXPECT_GT(panelY, queueY + 8);
    // Lower than the rows and the least split need: the panel gives up its
    // height, scrolling its rows, and the option rows stay in the pane.
    w.resize(1240, 500);
    EXPECT_EQ(split.get_height(), 200);
    auto* queue = dynamic_cast<QueueView*>(w.widget(OCRProductView::queueSlotName).get_first_child());
    ASSERT_NE(queue, nullptr);
    EXPECT_LT(queue->get_height(), queue->usableHeight());
    EXPECT_GE(queue->get_height(), QueueView::minimumHeight);
    EXPECT_EQ(v->get_upper(), v->get_page_size());
    EXPECT_NEAR(bottomOfOptions(), 500 - 12, 1);
    c->processingList = false;
    settle();
    w.nextFrame();
    EXPECT_FALSE(w.shows(OCRProductView::queueSlotName));
    EXPECT_EQ(findByName(w.window, "queue.status"), nullptr);

    // Compact, the split keeps half the height too.
    w.resize(860, 850);
    ASSERT_TRUE(w.pane->compact());
    EXPECT_GE(split.get_height(), 425);
    EXPECT_GE(editor.get_height(), 425 / 2);

    // The source column is the preferred 360 wide, the result the rest.
    w.resize(1240, 850);
    EXPECT_EQ(split.get_width(), 1216);
    EXPECT_EQ(split.sourceWidth(), 360);
    EXPECT_EQ(split.resultWidth(), 1216 - 360 - 8);
    EXPECT_EQ(split.divider().get_width(), 8);
    EXPECT_EQ(split.divider().label(), "原稿とOCR結果の幅を変更");
    EXPECT_EQ(split.divider().drag().panelSize, 1216 - 360 - 8);
}

// Where a widget lies in the pane: top and bottom.
std::pair<double, double> verticalExtent(Gtk::Widget& widget, Gtk::Widget& pane) {
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(widget.gobj(), pane.gobj(), &bounds)) return {-1, -1};
    return {bounds.origin.y, bounds.origin.y + bounds.size.height};
}

TEST_F(Pane, TheEditorsControlsStayInTheWindowWithTheQueuePanelOpen) {
    c = fixed();
    openRunQueue(*c, {1, 1, 1}, OCRSettings{});
    c->showPage();
    c->processingList = true;
    c->managedQueue = true;
    PaneWindow w(c, settings, 1240, 850);
    auto v = w.pane->scroller().get_vadjustment();
    for (const int width : {1240, 860}) {
        w.resize(width, 850);
        ASSERT_TRUE(w.shows(OCRProductView::queueSlotName));
        EXPECT_EQ(w.pane->compact(), width < 900);
        // Nothing scrolls out of the window: the queue panel gave up its
        // height, not the page or the editor's controls.
        EXPECT_EQ(v->get_upper(), v->get_page_size()) << width;
        for (const char* name : {OCROptionRows::searchName, OCROptionRows::nextName, OCROptionRows::copyName,
                                 OCROptionRows::saveName, OCROptionRows::listName}) {
            const auto [top, bottom] = verticalExtent(w.widget(name), *w.pane);
            EXPECT_GE(top, 0) << name << " at " << width;
            EXPECT_LE(bottom, 850) << name << " at " << width;
        }
        // The page and the result keep at least half the height.
        EXPECT_GE(w.pane->split().get_height(), 425) << width;
        const int queueHeight = w.widget(OCRProductView::queueSlotName).get_height();
        EXPECT_GE(queueHeight, QueueView::minimumHeight) << width;
        EXPECT_LT(queueHeight, QueueView::maximumHeight) << width;
    }

    // Compact, the controls that belong together share a line.
    const auto sameLine = [&](const char* a, const char* b) {
        const auto [aTop, aBottom] = verticalExtent(w.widget(a), *w.pane);
        const auto [bTop, bBottom] = verticalExtent(w.widget(b), *w.pane);
        return std::abs((aTop + aBottom) - (bTop + bBottom)) <= 2;
    };
    EXPECT_TRUE(sameLine(OCRControlPanel::openName, OCRControlPanel::nameName));
    EXPECT_TRUE(sameLine(OCRControlPanel::startName, OCRControlPanel::cancelName));
    EXPECT_TRUE(sameLine(OCROptionRows::saveName, OCROptionRows::listName));
    // Narrower still, the mode's explanation is one line beside its
    // picker, never broken into a column of short lines.
    w.resize(600, 850);
    for (const OCRMode mode : {OCRMode::standard, OCRMode::vertical, OCRMode::automatic}) {
        c->recognitionMode = mode;
        settle();
        w.nextFrame();
        auto& explanation = w.find<Gtk::Label>(OCRControlPanel::explanationName);
        EXPECT_EQ(explanation.get_layout()->get_line_count(), 1) << explanation.get_text();
        EXPECT_TRUE(sameLine(OCRControlPanel::modeName, OCRControlPanel::explanationName));
    }
    EXPECT_TRUE(sameLine(OCRControlPanel::openName, OCRControlPanel::nameName));
    EXPECT_TRUE(sameLine(OCRControlPanel::startName, OCRControlPanel::cancelName));
    EXPECT_TRUE(sameLine(OCROptionRows::saveName, OCROptionRows::listName));
    EXPECT_LE(verticalExtent(w.widget(OCROptionRows::saveName), *w.pane).second, 850);
}

// A narrow result column wraps its note to two lines; in a pane so short
// that the split is at its least height, both lines stay inside it, with the
// queue panel above as tall as it needs.
TEST_F(Pane, TheResultColumnsNoteStaysWholeInAShortPaneWithTheQueuePanelOpen) {
    c = fixed();
    c->processingList = true;
    PaneWindow w(c, settings, 740, 520);
    ASSERT_TRUE(w.shows(OCRProductView::queueSlotName));
    ASSERT_TRUE(w.shows(OCRResultColumn::hintName));
    auto& note = w.find<Gtk::Label>(OCRResultColumn::cautionName);
    EXPECT_EQ(note.get_layout()->get_line_count(), 2);
    const auto [top, bottom] = verticalExtent(note, w.pane->split());
    EXPECT_GE(top, 0);
    EXPECT_LE(bottom, w.pane->split().get_height());
    auto& queue = dynamic_cast<QueueView&>(*w.widget(OCRProductView::queueSlotName).get_first_child());
    EXPECT_GE(w.widget(OCRProductView::queueSlotName).get_height(), queue.usableHeight());
}

// Whether the widget lies whole inside the queue panel's visible area.
bool inView(Gtk::Widget& widget, Gtk::Widget& panel) {
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(widget.gobj(), panel.gobj(), &bounds)) return false;
    return bounds.origin.y >= 0 && bounds.origin.y + bounds.size.height <= panel.get_height() + 0.5;
}

TEST_F(Pane, TheQueuePanelShowsItsToolbarsSummaryAndThreeRowsAtTheDefaultSize) {
    c = fixed();
    // Two queues kept from before: the resume candidates.
    for (int i = 0; i < 2; ++i) openRunQueue(*c, {1}, OCRSettings{});
    c->engine.reset();
    c->snapshot = std::nullopt;
    c->selectedID = std::nullopt;
    c->refreshSaved();
    ASSERT_EQ(c->savedQueues->size(), 2u);
    c->recoveryDeferred = false;

    // The OCR pane as the default 1240 x 850 window holds it, below the
    // window's bars; and taller.
    PaneWindow w(c, settings, 1064, 708);
    // The banner's 再開候補を表示 opens the panel with the candidates in view.
    ASSERT_TRUE(w.shows(OCRProductView::bannerShowName));
    press(w.widget(OCRProductView::bannerShowName));
    settle();
    w.nextFrame();
    w.nextFrame();
    ASSERT_TRUE(w.shows(OCRProductView::queueSlotName));
    Gtk::Widget& panel = w.widget(OCRProductView::queueSlotName);
    for (const char* name : {QueueView::chooseName, QueueView::startName, QueueView::savedName, QueueView::loadSavedName}) {
        EXPECT_TRUE(inView(w.widget(name), panel)) << name;
    }

    // A queue of five open: the toolbars, the summary and three inputs are
    // in view, the page and the result keep at least 40 % of the pane, and
    // the editor's controls stay in the window.
    openRunQueue(*c, {1, 2, 1, 1, 1}, OCRSettings{});
    c->managedQueue = true;
    c->showPage();
    auto v = w.pane->scroller().get_vadjustment();
    for (const int height : {708, 850, 1000}) {
        w.resize(1064, height);
        w.nextFrame();
        for (const std::string& name : {std::string(QueueView::chooseName), std::string(QueueView::startName),
                                       std::string(QueueView::countsName), std::string(QueueView::rowPrefix) + "1",
                                       std::string(QueueView::rowPrefix) + "2", std::string(QueueView::rowPrefix) + "3"}) {
            EXPECT_TRUE(inView(w.widget(name.c_str()), panel)) << name << " at " << height;
        }
        EXPECT_GE(w.pane->split().get_height(), 0.4 * height) << height;
        EXPECT_EQ(v->get_upper(), v->get_page_size()) << height;
        const auto [top, bottom] = verticalExtent(w.widget(OCROptionRows::listName), *w.pane);
        EXPECT_LE(bottom, height) << height;
    }
    // Said once: the status is the pane's line, not the panel's too.
    EXPECT_EQ(findByName(w.window, "queue.status"), nullptr);
}

TEST_F(Pane, WithoutADocumentTheResultColumnShowsTheHintAndNothingPagesOrZooms) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    ASSERT_TRUE(w.shows(OCRResultColumn::hintName));
    EXPECT_EQ(w.pane->split().resultColumn().hint().label().get_text(),
              "PNG・JPEG・PDFをここへドロップ\nまたは「ファイルを開く」");
    EXPECT_FALSE(w.pane->split().resultColumn().editor().get_visible());
    for (const char* name : {OCRSourceColumn::previousName, OCRSourceColumn::nextName, OCRSourceColumn::zoomOutName,
                             OCRSourceColumn::fitName, OCRSourceColumn::zoomInName}) {
        EXPECT_FALSE(w.usable(name)) << name;
    }
    // The hint stands in the middle of the result column, not at its top.
    graphene_rect_t hint;
    Gtk::Widget& column = w.pane->split().resultColumn();
    ASSERT_TRUE(gtk_widget_compute_bounds(w.widget(OCRResultColumn::hintName).gobj(), column.gobj(), &hint));
    const double centre = hint.origin.y + hint.size.height / 2;
    EXPECT_GT(centre, column.get_height() * 0.35);
    EXPECT_LT(centre, column.get_height() * 0.65);
}

// ---- the divider and the preference

TEST_F(Pane, DraggingTheDividerStopsAtTheClampsAndWritesThePreferenceOnceAtTheEnd) {
    // The other window first: the one dragged is mapped above it.
    auto other = fixed();
    PaneWindow second(other, settings, 1240, 850);
    c = fixed();
    PaneWindow first(c, settings, 1240, 850);
    OCRSplit& split = first.pane->split();
    int writes = 0;
    auto counting = settings.valueChanged().connect([&](const AppPreferences&) { ++writes; });

    auto drag = [&](int toX, double expected) {
        const WindowPoint start = centreOf(split.divider());
        ASSERT_TRUE(pointerPress(start));
        ASSERT_TRUE(spinUntil([&] { return split.divider().drag().dragging(); }));
        WindowPoint far = start;
        far.x = toX;
        ASSERT_TRUE(pointerMove(far));
        ASSERT_TRUE(spinUntil([&] { return first.pane->preferred() == expected; }));
        settle();
        EXPECT_EQ(writes, 0) << "nothing is written while the drag goes on";
        EXPECT_EQ(second.pane->preferred(), settings.value().ocrPreviewPreferredWidth);
        ASSERT_TRUE(pointerRelease());
        ASSERT_TRUE(spinUntil([&] { return writes == 1; }));
        settle();
        EXPECT_EQ(writes, 1);
    };

    // Far left, past the split's edge: the lower clamp, not the default.
    // The column is never narrower than its controls need (its page row is
    // wider than 300 points at the default theme).
    drag(1, 300);
    EXPECT_EQ(first.pane->preferred(), 300);
    int sourceMinimum = 0, natural = 0, b1 = -1, b2 = -1;
    split.sourceColumn().measure(Gtk::Orientation::HORIZONTAL, -1, sourceMinimum, natural, b1, b2);
    const int narrowest = std::max(300, sourceMinimum);
    ASSERT_TRUE(spinUntil([&] { return split.sourceWidth() == narrowest; })) << split.sourceWidth();
    EXPECT_EQ(settings.value().ocrPreviewPreferredWidth, 300);
    EXPECT_EQ(SettingsStore(settings.root()).value().ocrPreviewPreferredWidth, 300);
    // The other window follows.
    EXPECT_EQ(second.pane->preferred(), 300);
    ASSERT_TRUE(spinUntil([&] { return second.pane->split().sourceWidth() == narrowest; }));

    // Far right: the upper clamp, 1216 − 8 − 320.
    writes = 0;
    drag(1900, 888);
    EXPECT_EQ(first.pane->preferred(), 888);
    ASSERT_TRUE(spinUntil([&] { return split.sourceWidth() == 888 && split.resultWidth() == 320; }));
    EXPECT_EQ(SettingsStore(settings.root()).value().ocrPreviewPreferredWidth, 888);
    EXPECT_EQ(second.pane->preferred(), 888);

    // A change through the store moves both splits.
    settings.update(&AppPreferences::ocrPreviewPreferredWidth, 500.0);
    ASSERT_TRUE(spinUntil([&] {
        return split.sourceWidth() == 500 && second.pane->split().sourceWidth() == 500;
    }));
    EXPECT_EQ(split.divider().drag().panelSize, 1216 - 500 - 8);
    counting.disconnect();

    // A new pane starts from the stored width.
    auto third = fixed();
    PaneWindow late(third, settings, 1240, 850);
    EXPECT_EQ(late.pane->preferred(), 500);
    EXPECT_EQ(late.pane->split().sourceWidth(), 500);
}

// ---- the recovery banner

TEST_F(Pane, TheRecoveryBannerShowsOnlyWithSavedQueuesAndGoesWithEitherButton) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    EXPECT_FALSE(w.shows(OCRProductView::bannerName));
    c->savedQueues = std::vector<fs::path>{tmp / "storage" / "queues" / "a"};
    settle();
    EXPECT_TRUE(w.shows(OCRProductView::bannerName));

    press(w.widget(OCRProductView::bannerLaterName));
    settle();
    EXPECT_TRUE(c->recoveryDeferred.get());
    EXPECT_FALSE(c->processingList.get());
    EXPECT_FALSE(w.shows(OCRProductView::bannerName));

    c->recoveryDeferred = false;
    settle();
    EXPECT_TRUE(w.shows(OCRProductView::bannerName));
    press(w.widget(OCRProductView::bannerShowName));
    settle();
    EXPECT_TRUE(c->recoveryDeferred.get());
    EXPECT_TRUE(c->processingList.get());
    EXPECT_FALSE(w.shows(OCRProductView::bannerName));

    // Not while a queue is open.
    c->recoveryDeferred = false;
    c->processingList = false;
    openRunQueue(*c, {1}, OCRSettings{});
    settle();
    EXPECT_FALSE(w.shows(OCRProductView::bannerName));
}

// ---- the drop

TEST_F(Pane, DroppedFilesOpenAsAManagedQueueAndTheHoverTintsThePane) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    const auto& target = w.pane->dropTarget();
    GdkContentFormats* formats = gtk_drop_target_get_formats(target->gobj());
    EXPECT_TRUE(gdk_content_formats_contain_gtype(formats, GDK_TYPE_FILE_LIST));
    EXPECT_FALSE(gdk_content_formats_contain_gtype(formats, G_TYPE_STRING));
    EXPECT_FALSE(gdk_content_formats_contain_mime_type(formats, "text/plain"));
    EXPECT_FALSE(gdk_content_formats_contain_mime_type(formats, "text/plain;charset=utf-8"));

    // The hover tints the pane's empty background with the accent colour.
    const std::array<int, 3> plain = w.paintedAt(1230, 840);
    EXPECT_EQ(plain[0], plain[2]) << "grey without a drag";
    GdkDragAction action{};
    g_signal_emit_by_name(target->gobj(), "enter", 10.0, 10.0, &action);
    EXPECT_EQ(action, GDK_ACTION_COPY);
    EXPECT_TRUE(w.pane->targeted());
    EXPECT_TRUE(w.pane->has_css_class(OCRProductView::targetedClass));
    w.nextFrame();
    const std::array<int, 3> tinted = w.paintedAt(1230, 840);
    EXPECT_GT(tinted[2] - tinted[0], 8) << "bluer while files hover: " << tinted[0] << " " << tinted[2];
    g_signal_emit_by_name(target->gobj(), "leave");
    EXPECT_FALSE(w.pane->targeted());
    EXPECT_FALSE(w.pane->has_css_class(OCRProductView::targetedClass));
    w.nextFrame();
    EXPECT_EQ(w.paintedAt(1230, 840), plain);

    auto emitDrop = [&](std::vector<GFile*> files) {
        GdkFileList* list = gdk_file_list_new_from_array(files.data(), files.size());
        GValue value = G_VALUE_INIT;
        g_value_init(&value, GDK_TYPE_FILE_LIST);
        g_value_take_boxed(&value, list);
        gboolean accepted = FALSE;
        g_signal_emit_by_name(target->gobj(), "drop", &value, 10.0, 10.0, &accepted);
        g_value_unset(&value);
        for (GFile* f : files) g_object_unref(f);
        return accepted == TRUE;
    };

    // A file without a local path: nothing is added.
    const fs::path a = writeDocument(tmp / "a.pdf", 2);
    const fs::path b = writeDocument(tmp / "b.pdf", 1);
    EXPECT_TRUE(emitDrop({g_file_new_for_path(a.c_str()), g_file_new_for_uri("http://127.0.0.1:9/remote.pdf")}));
    ASSERT_TRUE(spinUntil([&] { return c->dropTask->done(); }));
    EXPECT_EQ(c->status.get(), "一部の入力を読み込めません。追加は行っていません。");
    EXPECT_EQ(c->engine, nullptr);

    // Two real PDFs: one managed queue of both.
    EXPECT_TRUE(emitDrop({g_file_new_for_path(a.c_str()), g_file_new_for_path(b.c_str())}));
    ASSERT_TRUE(spinUntil([&] { return c->dropTask->done() && c->engine != nullptr; }));
    EXPECT_TRUE(c->managedQueue.get());
    ASSERT_TRUE(c->snapshot->has_value());
    ASSERT_EQ(c->snapshot.get()->inputs.size(), 2u);
    EXPECT_EQ(c->snapshot.get()->inputs[0].path, a.string());
    EXPECT_EQ(c->snapshot.get()->inputs[1].path, b.string());
    settle();
    EXPECT_TRUE(w.usable(OCRControlPanel::startName));
}

// A file dragged with the display's own pointer from a source beside the
// pane, across the result text and its edges (where a text view scrolls
// towards a text drop) to the page: the text keeps its place, and the page
// takes the file.
TEST_F(Pane, AFileDraggedAcrossTheResultTextLeavesItsPlace) {
    c = fixed();
    openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1000, 700);
    std::string lines;
    for (int i = 1; i <= 200; ++i) lines += std::to_string(i) + "行目の本文\n";
    c->setEdited(lines);
    const fs::path dragged = writeDocument(tmp / "dragged.pdf", 1);

    // The source: a file, as a file manager offers it.
    Gtk::Label source("dragged.pdf");
    source.set_size_request(160, 160);
    auto drag = Gtk::DragSource::create();
    drag->set_actions(Gdk::DragAction::COPY);
    GFile* file = g_file_new_for_path(dragged.c_str());
    GdkFileList* list = gdk_file_list_new_from_array(&file, 1);
    drag->set_content(Glib::wrap(gdk_content_provider_new_typed(GDK_TYPE_FILE_LIST, list)));
    g_boxed_free(GDK_TYPE_FILE_LIST, list);
    g_object_unref(file);
    source.add_controller(drag);
    w.box.append(source);
    ASSERT_TRUE(spinUntil([&] { return source.get_mapped() && source.get_width() > 0; }));
    settle();

    auto& text = w.find<Gtk::TextView>(OCRTextEditor::viewName);
    auto place = text.get_vadjustment();
    ASSERT_TRUE(spinUntil([&] { return place->get_upper() > place->get_page_size() * 3; }));
    place->set_value((place->get_upper() - place->get_page_size()) / 2);
    settle();
    const double kept = place->get_value();
    ASSERT_TRUE(pointerPress(centreOf(source)));
    // Out of the source in steps, as a hand moves, until the drag begins.
    for (int i = 1; i <= 6; ++i) {
        ASSERT_TRUE(pointerMove(pointOf(source, source.get_width() / 2.0 - 10 * i, source.get_height() / 2.0)));
        settle();
    }
    const int width = text.get_width();
    const int height = text.get_height();
    for (const auto& [x, y] : std::vector<std::pair<double, double>>{
             {width * 0.8, height * 0.5}, {width * 0.5, 4.0}, {width * 0.5, height * 0.5}, {width * 0.5, height - 4.0}}) {
        ASSERT_TRUE(pointerMove(pointOf(text, x, y)));
        // A text view scrolls towards a drop on a timer of a tenth of a second.
        spinFor(std::chrono::milliseconds(400));
        EXPECT_NEAR(place->get_value(), kept, 1.0) << "at " << x << ", " << y;
    }
    ASSERT_TRUE(pointerMove(centreOf(w.widget(OCRSourceColumn::previewName))));
    spinFor(std::chrono::milliseconds(200));
    // The text was edited: the opening asks first.
    confirmer->answers = {true};
    ASSERT_TRUE(pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return c->dropTask && c->dropTask->done() && c->currentName() == "dragged.pdf"; }));
}

TEST_F(Pane, ARefusedDropEndsTheHoverNamesTheFileAndTheNextDropIsTaken) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    const auto& target = w.pane->dropTarget();
    auto hoverAndDrop = [&](const fs::path& file) {
        GdkDragAction action{};
        g_signal_emit_by_name(target->gobj(), "enter", 10.0, 10.0, &action);
        EXPECT_TRUE(w.pane->targeted());
        GFile* one = g_file_new_for_path(file.c_str());
        GdkFileList* list = gdk_file_list_new_from_array(&one, 1);
        GValue value = G_VALUE_INIT;
        g_value_init(&value, GDK_TYPE_FILE_LIST);
        g_value_take_boxed(&value, list);
        gboolean accepted = FALSE;
        g_signal_emit_by_name(target->gobj(), "drop", &value, 10.0, 10.0, &accepted);
        g_value_unset(&value);
        g_object_unref(one);
        return accepted == TRUE;
    };

    // A text file named as a PDF: refused, naming the file, and the pane
    // leaves its drop state.
    const fs::path fake = tmp / "メモ.pdf";
    writeFile(fake, "PDFではない文書です。");
    hoverAndDrop(fake);
    ASSERT_TRUE(spinUntil([&] { return c->dropTask && c->dropTask->done() && !c->importing.get(); }));
    EXPECT_EQ(c->status.get(), "メモ.pdf：" + std::string(BrindlexError::message(ErrorCase::invalidInput)));
    EXPECT_EQ(c->engine, nullptr);
    EXPECT_FALSE(w.pane->targeted());
    EXPECT_FALSE(w.pane->has_css_class(OCRProductView::targetedClass));

    // The next drop is taken.
    EXPECT_TRUE(hoverAndDrop(writeDocument(tmp / "real.pdf", 1)));
    ASSERT_TRUE(spinUntil([&] { return c->dropTask->done() && c->engine != nullptr; }));
    EXPECT_FALSE(w.pane->targeted());
}

// Two files from another application's file manager, which drags from one
// window: onto the edited page (取消), then one the OCR does not read onto
// the text. The document stays, the refusal names it, the toolkit is quiet.
TEST_F(Pane, TwoDropsFromAnotherApplicationLeaveTheToolkitQuiet) {
    c = fixed();
    openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1000, 700);
    c->setEdited("直した本文");
    settle();
    const std::string opened = c->currentName();
    const fs::path note = tmp / "メモ.txt";
    writeFile(note, "OCRでは読まないファイルです。");
    const WindowPoint page = centreOf(w.widget(OCRSourceColumn::previewName));
    const WindowPoint text = centreOf(w.find<Gtk::TextView>(OCRTextEditor::viewName));
    GPid child = 0;
    ASSERT_NO_THROW(Glib::spawn_async("", {VELMORA_EXTERNAL_DRAG, std::to_string(page.window), std::to_string(page.x),
                                           std::to_string(page.y), Glib::filename_to_uri(writeDocument(tmp / "次.pdf", 1)),
                                           std::to_string(text.x), std::to_string(text.y), Glib::filename_to_uri(note)},
                                      Glib::SpawnFlags::DO_NOT_REAP_CHILD, {}, &child));
    std::optional<int> status;
    Glib::signal_child_watch().connect([&](GPid, int wait) { status = wait; }, child);
    ASSERT_TRUE(spinUntil([&] { return status.has_value(); }, 30s));
    EXPECT_TRUE(g_spawn_check_wait_status(*status, nullptr)) << "a drop was never finished";
    ASSERT_TRUE(spinUntil([&] { return c->dropTask && c->dropTask->done() && !c->importing.get(); }));
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(c->currentName(), opened);
    EXPECT_EQ(c->status.get().rfind("メモ.txt：", 0), 0u) << c->status.get();
}

// ---- the search focus

TEST_F(Pane, TheFindCommandFocusesTheSearchFieldEvenWhenItHasFocus) {
    c = fixed();
    openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    auto& search = w.find<Gtk::Entry>(OCROptionRows::searchName);
    w.pane->split().resultColumn().editor().textView().grab_focus();
    ASSERT_FALSE(w.focused(search));
    c->focusSearch = true;
    ASSERT_TRUE(spinUntil([&] { return !c->focusSearch.get(); }));
    EXPECT_TRUE(w.focused(search));
    search.set_text("本文");
    search.select_region(0, 0);
    c->focusSearch = true;
    ASSERT_TRUE(spinUntil([&] { return !c->focusSearch.get(); }));
    EXPECT_TRUE(w.focused(search));
    // Focused again: what was typed is selected, ready to be replaced.
    int start = -1, end = -1;
    EXPECT_TRUE(search.get_selection_bounds(start, end));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 2);
    c->focusSearch = false;
    settle();
    EXPECT_TRUE(w.focused(search));
}

}  // namespace
