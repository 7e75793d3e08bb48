#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/passwordentry.h>

#include <algorithm>
#include <string>

#include "PaneFixture.hpp"
#include "ocrviews/OCRSourceColumn.hpp"
#include "ocrviews/QueueView.hpp"

// The OCR pane's control panel, search and option rows on real queues:
// what they show, what they let the user do, and what they call.

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

bool busyAndHeld(QueueController& c, PageGate& gate) { return spinUntil([&] { return c.busy.get(); }) && gate.held(1); }

std::vector<std::string> choices(Gtk::DropDown& picker) {
    std::vector<std::string> out;
    GListModel* model = G_LIST_MODEL(picker.get_model()->gobj());
    for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
        out.push_back(gtk_string_list_get_string(GTK_STRING_LIST(model), i));
    }
    return out;
}

TEST_F(Pane, WithoutAQueueOnlyOpeningAndTheListAreUsable) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    EXPECT_EQ(w.find<Gtk::Button>(OCRControlPanel::startName).get_label(), "OCRを開始");
    EXPECT_FALSE(w.usable(OCRControlPanel::startName));
    EXPECT_FALSE(w.usable(OCRControlPanel::cancelName));
    EXPECT_TRUE(w.usable(OCRControlPanel::openName));
    EXPECT_FALSE(w.shows(OCRControlPanel::countName));
    EXPECT_FALSE(w.shows(OCRControlPanel::spinnerName));
    EXPECT_FALSE(w.shows(OCRControlPanel::unsavedName));
    EXPECT_FALSE(w.shows(OCRControlPanel::passwordName));
    EXPECT_FALSE(w.shows(OCRControlPanel::rejectionName));
    EXPECT_FALSE(w.shows(OCRControlPanel::verdictName));
    EXPECT_FALSE(w.shows(OCRControlPanel::handwritingName));
    EXPECT_EQ(w.text(OCRControlPanel::statusName), QueueController::initialStatus);
    EXPECT_EQ(w.text(OCRControlPanel::nameName), "原稿未選択");
    EXPECT_EQ(w.text(OCRControlPanel::explanationName), "横書きの日本語／英語／数字");

    EXPECT_FALSE(w.usable(OCROptionRows::copyName));
    EXPECT_FALSE(w.usable(OCROptionRows::saveName));
    EXPECT_FALSE(w.usable(OCROptionRows::txtName));
    EXPECT_TRUE(w.usable(OCROptionRows::linesName));
    EXPECT_TRUE(w.usable(OCROptionRows::listName));
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "0件");
    EXPECT_EQ(w.find<Gtk::Entry>(OCROptionRows::searchName).get_placeholder_text(), "文書全体を検索");
    EXPECT_EQ(w.text(OCROptionRows::privateNoteName), "");

    // "ファイルを開く" asks the file panel; "処理一覧" opens the managed list.
    picker->files = {writeDocument(tmp / "chosen.pdf", 2)};
    press(w.widget(OCRControlPanel::openName));
    ASSERT_TRUE(spinUntil([&] { return c->engine != nullptr; }));
    EXPECT_EQ(picker->openRequests.size(), 1u);
    settle();
    EXPECT_EQ(w.text(OCRControlPanel::nameName), "chosen.pdf");
    EXPECT_EQ(w.widget(OCRControlPanel::nameName).get_tooltip_text(), "chosen.pdf");
    EXPECT_TRUE(w.usable(OCRControlPanel::startName));
    press(w.widget(OCROptionRows::listName));
    EXPECT_TRUE(c->processingList.get());
    EXPECT_TRUE(c->managedQueue.get());
    press(w.widget(OCROptionRows::listName));
    EXPECT_FALSE(c->processingList.get());
    EXPECT_TRUE(c->managedQueue.get());
}

TEST_F(Pane, ASingleRunLocksTheModeAManagedRunDoesNot) {
    c = gated();
    openQueue(*c, {{writeDocument(tmp / "three.pdf", 3)}}, c->currentSettings(), false);
    PaneWindow w(c, settings, 1240, 850);
    press(w.widget(OCRControlPanel::startName));
    ASSERT_TRUE(busyAndHeld(*c, gate));
    settle();
    // Before the first page: the count is 0 of 3.
    EXPECT_EQ(w.text(OCRControlPanel::countName), "完了 0 / 3 ページ");
    EXPECT_TRUE(w.shows(OCRControlPanel::spinnerName));
    EXPECT_FALSE(w.usable(OCRControlPanel::startName));
    EXPECT_FALSE(w.usable(OCRControlPanel::openName));
    EXPECT_TRUE(w.usable(OCRControlPanel::cancelName));
    EXPECT_FALSE(w.usable(OCRControlPanel::modeName));
    EXPECT_FALSE(w.usable(OCRControlPanel::privateName));
    // The first option row and the TXT shape wait; copy, save and the list
    // do not.
    EXPECT_FALSE(w.usable(OCROptionRows::linesName));
    EXPECT_FALSE(w.usable(OCROptionRows::separatorsName));
    EXPECT_FALSE(w.usable(OCROptionRows::txtName));
    EXPECT_TRUE(w.usable(OCROptionRows::copyName));
    EXPECT_TRUE(w.usable(OCROptionRows::saveName));
    EXPECT_TRUE(w.usable(OCROptionRows::listName));

    // "中止" cancels the run.
    gate.passOnStop = true;
    press(w.widget(OCRControlPanel::cancelName));
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));
    settle();
    EXPECT_EQ(c->snapshot.get()->status, QueueStatus::cancelled);
    // Stopped part way, the main row goes on from there.
    ASSERT_GT(c->snapshot.get()->completedPages(), 0);
    ASSERT_LT(c->snapshot.get()->completedPages(), 3);
    EXPECT_EQ(w.find<Gtk::Button>(OCRControlPanel::startName).get_label(), "続きから再開");
    EXPECT_FALSE(w.shows(OCRControlPanel::spinnerName));
    EXPECT_TRUE(w.usable(OCRControlPanel::modeName));

    // A managed queue takes a mode during its run.
    PageGate managedGate;
    auto m = controller(withFakes(managedGate.ports()));
    openQueue(*m, {{writeDocument(tmp / "managed.pdf", 2)}}, m->currentSettings(), false);
    m->managedQueue = true;
    PaneWindow managed(m, settings, 1240, 850);
    press(managed.widget(OCRControlPanel::startName));
    ASSERT_TRUE(busyAndHeld(*m, managedGate));
    settle();
    EXPECT_TRUE(managed.usable(OCRControlPanel::modeName));
    EXPECT_TRUE(managed.usable(OCRControlPanel::privateName));
    managed.find<Gtk::DropDown>(OCRControlPanel::modeName).set_selected(1);
    EXPECT_EQ(m->recognitionMode.get(), OCRMode::vertical);
    managed.find<Gtk::CheckButton>(OCRControlPanel::privateName).set_active(true);
    EXPECT_TRUE(m->privateInput.get());
    settle();
    EXPECT_EQ(managed.text(OCRControlPanel::explanationName),
              "縦書き活字：単純な縦列向け。ルビ・混在・特殊な約物は不得意です。");
    managedGate.open();
    ASSERT_TRUE(spinUntil([&] { return !m->busy.get(); }, 20s));
    settle();
    // Beside "完了" the count does not say it twice.
    EXPECT_EQ(managed.text(OCRControlPanel::countName), "2 / 2 ページ");
    EXPECT_EQ(managed.find<Gtk::Button>(OCRControlPanel::startName).get_label(), "OCRを再実行");
}

TEST_F(Pane, ACancelledQueueWithoutFinishedPagesOffersARerun) {
    c = fixed();
    openQueue(*c, {{writeDocument(tmp / "a.pdf", 1)}}, c->currentSettings(), false);
    PaneWindow w(c, settings, 1240, 850);
    EXPECT_EQ(w.find<Gtk::Button>(OCRControlPanel::startName).get_label(), "OCRを開始");
    QueueSnapshot cancelled = *c->snapshot.get();
    cancelled.status = QueueStatus::cancelled;
    c->snapshot = cancelled;
    settle();
    EXPECT_EQ(w.find<Gtk::Button>(OCRControlPanel::startName).get_label(), "OCRを再実行");
    EXPECT_EQ(w.text(OCRControlPanel::countName), "完了 0 / 1 ページ");
}

TEST_F(Pane, TheHandwritingOptionsFollowTheModeAndStayOnAnAnnotationPage) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    auto& mode = w.find<Gtk::DropDown>(OCRControlPanel::modeName);
    EXPECT_FALSE(w.shows(OCRControlPanel::handwritingName));
    mode.set_selected(2);
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::handwriting);
    settle();
    EXPECT_TRUE(w.shows(OCRControlPanel::handwritingName));
    EXPECT_EQ(w.text(OCRControlPanel::explanationName), "手書きは候補分類です。実手書きの品質は未評価です。");
    mode.set_selected(3);
    settle();
    EXPECT_TRUE(w.shows(OCRControlPanel::handwritingName));
    mode.set_selected(0);
    settle();
    EXPECT_FALSE(w.shows(OCRControlPanel::handwritingName));

    // A page recognised in the handwriting mode keeps the options under the
    // standard mode.
    openRunQueue(*c, {2}, settingsIn(OCRMode::handwriting));
    c->showPage();
    settle();
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::standard);
    EXPECT_TRUE(w.shows(OCRControlPanel::handwritingName));
    EXPECT_TRUE(w.usable(OCRControlPanel::includeName));
    EXPECT_EQ(w.find<Gtk::Entry>(OCROptionRows::searchName).get_placeholder_text(), "表示中の本文を検索");
    auto& candidates = w.find<Gtk::CheckButton>(OCRControlPanel::candidatesName);
    EXPECT_TRUE(candidates.get_active());
    candidates.set_active(false);
    EXPECT_FALSE(c->showAnnotationCandidates.get());
}

TEST_F(Pane, DeclinedFilterAndLineChangesShowTheOldChoiceAgain) {
    c = fixed();
    openRunQueue(*c, {2}, settingsIn(OCRMode::handwriting));
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    // Edited text makes both changes ask first; the fake declines.
    OCRTextEditor& editor = w.pane->split().resultColumn().editor();
    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->end());
    editor.buffer()->insert_interactive_at_cursor("。", true);
    ASSERT_TRUE(c->hasEditedText());
    settle();
    EXPECT_TRUE(w.shows(OCRControlPanel::unsavedName));
    EXPECT_EQ(w.text(OCRControlPanel::unsavedName), "未保存の編集");

    auto& include = w.find<Gtk::CheckButton>(OCRControlPanel::includeName);
    ASSERT_TRUE(include.get_active());
    include.set_active(false);
    ASSERT_TRUE(spinUntil([&] { return confirmer->asked.size() == 1 && include.get_active(); }));
    EXPECT_TRUE(c->annotationFilter->includeHandwriting);

    auto& target = w.find<Gtk::DropDown>(OCRControlPanel::targetName);
    target.set_selected(1);
    ASSERT_TRUE(spinUntil([&] { return confirmer->asked.size() == 2 && target.get_selected() == 0; }));
    EXPECT_FALSE(c->annotationFilter->instructionsOnly);

    auto& lines = w.find<Gtk::DropDown>(OCROptionRows::linesName);
    ASSERT_EQ(lines.get_selected(), 0u);
    lines.set_selected(1);
    ASSERT_TRUE(spinUntil([&] { return confirmer->asked.size() == 3 && lines.get_selected() == 0; }));
    EXPECT_TRUE(c->preserveLines.get());

    // Agreed to, the change holds.
    confirmer->answers = {true};
    target.set_selected(1);
    ASSERT_TRUE(spinUntil([&] { return c->annotationFilter->instructionsOnly; }));
    settle();
    EXPECT_EQ(target.get_selected(), 1u);
}

TEST_F(Pane, TheAutomaticVerdictShowsItsLabelAndTheHandwritingSuffix) {
    std::string handwriting = "detected";
    QueuePorts ports;
    ports.configureEngine = [&handwriting](OCRQueueEngine& engine) {
        engine.setRecognizer([&handwriting](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                            const std::function<bool()>&) {
            PageResult result(page, fixedRegions(page), 0.01, image.width(), image.height());
            result.autoPresentation = AutoPresentation{AutoResolved::vertical, page == 1 ? handwriting : "uncertain"};
            return result;
        });
    };
    c = controller(withFakes(ports));
    openRunQueue(*c, {2}, settingsIn(OCRMode::automatic));
    c->showPage();
    ASSERT_TRUE(c->autoPresentation().has_value());
    PaneWindow w(c, settings, 1240, 850);
    EXPECT_TRUE(w.shows(OCRControlPanel::verdictName));
    EXPECT_EQ(w.text(OCRControlPanel::verdictName), "自動判定：縦書き　手書き候補：あり");
    ASSERT_TRUE(c->goPage(2));
    settle();
    EXPECT_EQ(w.text(OCRControlPanel::verdictName), "自動判定：縦書き");
}

TEST_F(Pane, TheLockedPDFsPasswordRowWaitsForTheRunAndGoesWhenNoInputWaits) {
    c = gated();
    const fs::path locked = lockPDF(writeDocument(tmp / "plain.pdf", 1), tmp / "locked.pdf", "ひらけ");
    openQueue(*c, {{locked}, {writeDocument(tmp / "two.pdf", 2)}}, c->currentSettings(), false);
    c->managedQueue = true;
    PaneWindow w(c, settings, 1240, 850);
    EXPECT_FALSE(w.shows(OCRControlPanel::passwordRowName));

    // The locked PDF waits while the other input runs.
    press(w.widget(OCRControlPanel::startName));
    ASSERT_TRUE(busyAndHeld(*c, gate));
    ASSERT_TRUE(spinUntil([&] { return w.shows(OCRControlPanel::passwordRowName); }));
    EXPECT_FALSE(w.usable(OCRControlPanel::unlockName));
    EXPECT_FALSE(w.usable(OCRControlPanel::passwordCancelName));
    EXPECT_EQ(w.find<Gtk::PasswordEntry>(OCRControlPanel::passwordName).get_property<Glib::ustring>("placeholder-text"),
              "PDFパスワード");
    gate.open();
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));
    settle();
    EXPECT_TRUE(w.usable(OCRControlPanel::unlockName));
    EXPECT_TRUE(w.usable(OCRControlPanel::passwordCancelName));

    // The typed password reaches the controller; "解除してOCR" runs with it.
    w.find<Gtk::PasswordEntry>(OCRControlPanel::passwordName).set_text("ひらけ");
    EXPECT_EQ(c->password.get(), "ひらけ");
    press(w.widget(OCRControlPanel::unlockName));
    ASSERT_TRUE(spinUntil([&] { return c->snapshot.get()->inputs[0].status == InputStatus::completed; }, 20s));
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));
    settle();
    EXPECT_FALSE(w.shows(OCRControlPanel::passwordRowName));
    EXPECT_EQ(w.find<Gtk::PasswordEntry>(OCRControlPanel::passwordName).get_text(), "");
}

// Opened from the panel, a locked PDF says so with its field; Return in the
// field unlocks it, and its page shows while it is read.
TEST_F(Pane, ALockedPDFAsksForItsPasswordOnOpeningAndReturnUnlocksIt) {
    c = gated();
    c->automatic = false;
    PaneWindow w(c, settings, 1240, 850);
    picker->files = {lockPDF(writeDocument(tmp / "plain.pdf", 2), tmp / "locked.pdf", "ひらけ")};
    press(w.widget(OCRControlPanel::openName));
    ASSERT_TRUE(spinUntil([&] { return c->engine != nullptr && !c->importing.get(); }));
    ASSERT_TRUE(pictured(*c));
    settle();
    EXPECT_TRUE(w.shows(OCRControlPanel::passwordRowName));
    EXPECT_TRUE(w.usable(OCRControlPanel::unlockName));
    EXPECT_EQ(w.text(OCRControlPanel::statusName), c->status.get());
    EXPECT_EQ(w.text(OCRSourceColumn::emptyName), "パスワードで保護されたPDFです。\nPDFパスワードを入力してください。");
    EXPECT_EQ(w.text(OCRSourceColumn::pageName), "");

    auto& field = w.find<Gtk::PasswordEntry>(OCRControlPanel::passwordName);
    field.set_text("ひらけ");
    g_signal_emit_by_name(field.gobj(), "activate");
    ASSERT_TRUE(busyAndHeld(*c, gate));
    ASSERT_TRUE(pictured(*c));
    settle();
    EXPECT_FALSE(w.shows(OCRSourceColumn::statusPageName));
    EXPECT_EQ(w.text(OCRSourceColumn::pageName), "1 / 2");
    gate.open();
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));
    settle();
    EXPECT_FALSE(w.shows(OCRControlPanel::passwordRowName));
    EXPECT_EQ(c->snapshot.get()->inputs[0].status, InputStatus::completed);
}

TEST_F(Pane, GivingUpThePasswordRemovesItsRow) {
    c = fixed();
    const fs::path locked = lockPDF(writeDocument(tmp / "plain.pdf", 1), tmp / "locked.pdf", "ひらけ");
    openQueue(*c, {{locked}}, c->currentSettings(), false);
    PaneWindow w(c, settings, 1240, 850);
    RunRoots::runToEnd(*c);
    settle();
    ASSERT_TRUE(w.shows(OCRControlPanel::passwordRowName));
    press(w.widget(OCRControlPanel::passwordCancelName));
    settle();
    EXPECT_NE(c->snapshot.get()->inputs[0].status, InputStatus::waitingPassword);
    EXPECT_FALSE(w.shows(OCRControlPanel::passwordRowName));
}

TEST_F(Pane, ARefusedResumeOffersItsChoicesAndCloses) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    c->rejection = QueueController::ResumeRejection{};
    settle();
    ASSERT_TRUE(w.shows(OCRControlPanel::rejectionName));
    press(w.widget(OCRControlPanel::choicesName));
    EXPECT_TRUE(c->processingList.get());
    EXPECT_TRUE(c->managedQueue.get());
    press(w.widget(OCRControlPanel::rejectionCancelName));
    settle();
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_FALSE(w.shows(OCRControlPanel::rejectionName));
}

TEST_F(Pane, OptionRowsBindTheirOptionsAndCopyTheText) {
    c = fixed();
    openRunQueue(*c, {2}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    auto& separators = w.find<Gtk::CheckButton>(OCROptionRows::separatorsName);
    EXPECT_TRUE(separators.get_active());
    separators.set_active(false);
    EXPECT_FALSE(c->pageSeparators.get());
    auto& txt = w.find<Gtk::DropDown>(OCROptionRows::txtName);
    EXPECT_EQ(txt.get_selected(), 0u);
    txt.set_selected(1);
    EXPECT_FALSE(c->combined.get());
    c->combined = true;
    settle();
    EXPECT_EQ(txt.get_selected(), 0u);

    // Without edited text the line form changes at once.
    w.find<Gtk::DropDown>(OCROptionRows::linesName).set_selected(1);
    ASSERT_TRUE(spinUntil([&] { return !c->preserveLines.get(); }));
    EXPECT_TRUE(confirmer->asked.empty());

    press(w.widget(OCROptionRows::copyName));
    ASSERT_TRUE(clipboard->text.has_value());
    EXPECT_NE(clipboard->text->find("第2頁の本文が"), std::string::npos);

    // A private queue says so.
    c->snapshot.get();
    QueueSnapshot privateQueue = *c->snapshot.get();
    privateQueue.inputs[0].origin = InputOrigin::privateSession;
    c->snapshot = privateQueue;
    settle();
    EXPECT_EQ(w.text(OCROptionRows::privateNoteName), "プライベート：再開情報を保存しません");
}

// The pane's TXT choice (one TXT per original or per page) and the queue
// panel's (one TXT for the whole queue or one per original) are different
// choices: no name stands for both.
TEST_F(Pane, TheTXTChoiceAndTheWholeQueuesShareNoName) {
    c = fixed();
    PaneWindow w(c, settings, 1240, 850);
    c->processingList = true;
    ASSERT_TRUE(spinUntil([&] { return findByName(w.window, QueueView::exportOneFileName) != nullptr; }));
    const auto perOriginal = choices(w.find<Gtk::DropDown>(OCROptionRows::txtName));
    const auto wholeQueue = choices(w.find<Gtk::DropDown>(QueueView::exportOneFileName));
    EXPECT_EQ(perOriginal, (std::vector<std::string>{"結合TXT", "ページ別TXT"}));
    EXPECT_EQ(wholeQueue, (std::vector<std::string>{"全結果1TXT", "ファイル別TXT"}));
    for (const auto& name : wholeQueue) {
        EXPECT_EQ(std::count(perOriginal.begin(), perOriginal.end(), name), 0) << name;
    }
}

// Two PDFs dropped, run, searched, edited on the hit's page and saved.
TEST_F(Pane, ARealisticSessionFromDropToSavedEdit) {
    // The second document's pages are wider; only its page 2 holds the word.
    QueuePorts ports;
    ports.configureEngine = [](OCRQueueEngine& engine) {
        engine.setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                const std::function<bool()>&) {
            std::vector<TextRegion> regions = fixedRegions(page);
            if (image.width() == image.height() && page == 2) regions.emplace_back("索引の語", 0.95f, 0.1, 0.1, 0.8, 0.1);
            return PageResult(page, regions, 0.01, image.width(), image.height());
        });
    };
    c = controller(withFakes(ports));
    PaneWindow w(c, settings, 1240, 850);
    const fs::path first = writeDocument(tmp / "first.pdf", 2);
    const fs::path second = tmp / "second.pdf";
    writePDF(second, {{216, 216}, {216, 216}, {216, 216}}, [](cairo_t* cr, int, PageSize) {
        cairo_rectangle(cr, 10, 10, 30, 30);
        cairo_fill(cr);
    });

    std::vector<GFile*> files{g_file_new_for_path(first.c_str()), g_file_new_for_path(second.c_str())};
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GDK_TYPE_FILE_LIST);
    g_value_take_boxed(&value, gdk_file_list_new_from_array(files.data(), files.size()));
    gboolean accepted = FALSE;
    g_signal_emit_by_name(w.pane->dropTarget()->gobj(), "drop", &value, 50.0, 50.0, &accepted);
    g_value_unset(&value);
    for (GFile* f : files) g_object_unref(f);
    ASSERT_TRUE(accepted);
    ASSERT_TRUE(spinUntil([&] { return c->dropTask->done() && c->engine != nullptr; }));
    settle();

    press(w.widget(OCRControlPanel::startName));
    ASSERT_TRUE(spinUntil([&] { return c->busy.get() || c->snapshot.get()->completedPages() == 5; }));
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 30s));
    settle();
    EXPECT_EQ(w.text(OCRControlPanel::countName), "5 / 5 ページ");

    auto& search = w.find<Gtk::Entry>(OCROptionRows::searchName);
    search.set_text("索引");
    EXPECT_EQ(c->search.get(), "索引");
    settle();
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "1件");
    press(w.widget(OCROptionRows::nextName));
    const UUID secondInput = c->snapshot.get()->inputs[1].id;
    EXPECT_EQ(c->selectedID.get(), secondInput);
    EXPECT_EQ(c->page.get(), 2);
    settle();

    // The hit is painted blue in the page's text.
    OCRTextEditor& editor = w.pane->split().resultColumn().editor();
    const std::string shown = editor.buffer()->get_text(true);
    EXPECT_NE(shown.find("索引の語"), std::string::npos);
    std::vector<int> blue;
    for (auto it = editor.buffer()->begin(); !it.is_end(); ++it) {
        if (it.has_tag(editor.searchTag())) blue.push_back(it.get_offset());
    }
    const int at = static_cast<int>(Glib::ustring(shown).find("索引"));
    EXPECT_EQ(blue, (std::vector<int>{at, at + 1}));
    EXPECT_EQ(w.find<Gtk::Label>(OCRSourceColumn::pageName).get_text(), "2 / 3");

    // Edited there and saved: the TXT in the output folder has the edit.
    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->end());
    editor.buffer()->insert_interactive_at_cursor("（加筆）", true);
    settle();
    EXPECT_TRUE(w.shows(OCRControlPanel::unsavedName));
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "1件");
    press(w.widget(OCROptionRows::saveName));
    ASSERT_TRUE(spinUntil([&] { return !c->lastExports->empty(); }));
    bool found = false;
    for (const fs::path& written : c->lastExports.get()) {
        EXPECT_EQ(written.parent_path(), tmp / "output");
        if (read(written).find("索引の語（加筆）") != std::string::npos) found = true;
    }
    EXPECT_TRUE(found);
    settle();
    EXPECT_FALSE(w.shows(OCRControlPanel::unsavedName));
    // The sentence names the file and its folder, and the folder opens
    // with the file selected; another sentence takes the button away.
    EXPECT_EQ(w.text(OCRControlPanel::statusName), QueueController::savedSentence(c->lastExports));
    EXPECT_NE(w.text(OCRControlPanel::statusName).find(c->lastExports->front().filename().string()), std::string::npos);
    ASSERT_TRUE(w.shows(OCRControlPanel::openOutputName));
    press(w.widget(OCRControlPanel::openOutputName));
    EXPECT_EQ(desktop->revealed, std::vector<fs::path>{c->lastExports->front()});
    press(w.widget(OCROptionRows::copyName));
    settle();
    EXPECT_FALSE(w.shows(OCRControlPanel::openOutputName));
}

TEST_F(Pane, TheSearchFieldKeepsItsWidthWhateverTheHitCount) {
    c = fixed();
    openRunQueue(*c, {12}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    auto& search = w.find<Gtk::Entry>(OCROptionRows::searchName);
    Gtk::Widget& hits = w.widget(OCROptionRows::hitsName);
    // Laid out for the count shown: the count has the width it asks for.
    auto laidOut = [&] {
        settle();
        return spinUntil([&] {
            int minimum = 0, natural = 0, b1 = -1, b2 = -1;
            hits.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, b1, b2);
            return hits.get_width() == natural;
        });
    };
    ASSERT_TRUE(laidOut());
    const int empty = search.get_width();
    ASSERT_GT(empty, 0);
    for (const char* query : {"本文", "頁の", "ー", "第1"}) {
        search.set_text(query);
        ASSERT_TRUE(laidOut()) << query;
        EXPECT_EQ(search.get_width(), empty) << query << " " << w.text(OCROptionRows::hitsName);
    }
    search.set_text("本文");
    settle();
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "12件");
}

TEST_F(Pane, TheHitCountIsCountedOnlyWhenItsInputsChange) {
    c = fixed();
    openRunQueue(*c, {3}, OCRSettings{});
    c->showPage();
    PaneWindow w(c, settings, 1240, 850);
    OCROptionRows& rows = w.pane->optionRows();
    EXPECT_EQ(rows.countings(), 0) << "an empty search reads nothing";
    w.find<Gtk::Entry>(OCROptionRows::searchName).set_text("本文");
    settle();
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "3件");
    const int64_t once = rows.countings();
    EXPECT_EQ(once, 1);
    // Changes that touch none of its inputs count nothing again.
    c->zoom = 2.0;
    c->status = "別の文";
    settle();
    EXPECT_EQ(rows.countings(), once);
    // Several changes in one turn count once.
    c->setSearch("頁");
    c->setSearch("読み");
    settle();
    EXPECT_EQ(rows.countings(), once + 1);
    EXPECT_EQ(w.text(OCROptionRows::hitsName), "3件");
    EXPECT_EQ(w.find<Gtk::Entry>(OCROptionRows::searchName).get_text(), "読み");
    press(w.widget(OCROptionRows::nextName));
    press(w.widget(OCROptionRows::nextName));
    EXPECT_EQ(c->page.get(), 2);
    press(w.widget(OCROptionRows::previousName));
    EXPECT_EQ(c->page.get(), 1);
    // Return in the field finds the next hit.
    g_signal_emit_by_name(w.find<Gtk::Entry>(OCROptionRows::searchName).gobj(), "activate");
    EXPECT_EQ(c->page.get(), 2);
}

}  // namespace
