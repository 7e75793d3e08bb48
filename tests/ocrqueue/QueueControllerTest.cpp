#include <gtest/gtest.h>

#include <filesystem>

#include "ControllerFixtures.hpp"
#include "PortFakes.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"
#include "recognition/automatic/AutoOCR.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class QueueControllerTest : public ::testing::Test, protected test::ControllerRoots {};

}  // namespace

TEST_F(QueueControllerTest, ANewControllerStartsWithTheModelsInitialValues) {
    auto c = controller();
    EXPECT_EQ(c->parent, tmp / "storage" / "queues");
    EXPECT_EQ(c->output, tmp / "output");
    EXPECT_EQ(c->status.get(), "PNG・JPEG・PDFを開いて、OCRを開始してください。");
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_EQ(c->zoom.get(), 1.0);
    EXPECT_EQ(c->previewPageCount.get(), 1);
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::standard);
    EXPECT_TRUE(c->languageCorrection.get());
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_TRUE(c->pageSeparators.get());
    EXPECT_TRUE(c->combined.get());
    EXPECT_TRUE(c->exportOneFile.get());
    EXPECT_FALSE(c->exportWholeQueue.get());
    EXPECT_FALSE(c->autoSave.get());
    EXPECT_TRUE(c->automatic.get());
    EXPECT_EQ(c->annotationFilter.get(), (AnnotationFilter{true, false}));
    EXPECT_TRUE(c->showAnnotationCandidates.get());
    EXPECT_TRUE(c->productPresentation.get());
    EXPECT_FALSE(c->engine);
    EXPECT_FALSE(c->snapshot->has_value());
    EXPECT_FALSE(c->selectedID->has_value());
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_FALSE(c->busy.get());
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->control->stop(), JobControl::Stop::none);
    EXPECT_EQ(c->folderControl->stop(), JobControl::Stop::none);
    EXPECT_EQ(c->editorDocumentKey(), "");
    // Each controller runs under its own identity.
    EXPECT_NE(c->generation, controller()->generation);
}

TEST_F(QueueControllerTest, BusyAnnouncesEveryAssignmentAndSearchKeepsItsHitOnlyForTheSameText) {
    auto c = controller();
    int changes = 0, busyChanges = 0;
    c->changed.connect([&] { ++changes; });
    c->busyChanged.connect([&] { ++busyChanges; });
    c->setBusy(true);
    c->setBusy(true);
    c->setBusy(false);
    EXPECT_EQ(busyChanges, 3);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(c->busy.get());

    const OCRProduct::Match hit{UUID::random(), 2, TextRange{3, 2}};
    c->setSearch("本文");
    c->searchSelection = hit;
    c->setSearch("本文");
    EXPECT_EQ(c->searchSelection.get(), hit);
    c->setSearch("本");
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_EQ(c->search.get(), "本");
}

TEST_F(QueueControllerTest, OnlyAPrivateInputMakesTheQueuePrivate) {
    auto c = controller();
    EXPECT_FALSE(c->isPrivateQueue());
    c->snapshot = QueueSnapshot(OCRSettings(), {});
    EXPECT_FALSE(c->isPrivateQueue());

    const fs::path a = test::writeDocument(tmp / "a.pdf", 1), b = test::writeDocument(tmp / "b.pdf", 1);
    auto normal = OCRQueueEngine::create({{a}, {b}}, c->currentSettings(), c->parent);
    c->snapshot = normal->snapshot();
    EXPECT_FALSE(c->isPrivateQueue());
    auto mixed = OCRQueueEngine::create({{a}, {b, InputOrigin::privateSession}}, c->currentSettings(), c->parent);
    c->snapshot = mixed->snapshot();
    EXPECT_TRUE(c->isPrivateQueue());
}

TEST_F(QueueControllerTest, EmptyPortsDeclineAndFakesAnswerAsTold) {
    QueuePorts empty;
    EXPECT_FALSE(test::runTask(empty.confirm("m", "i", "開く", AnswerAhead::suggested)));
    EXPECT_TRUE(test::runTask(empty.openFiles(true, {FileKind::pdf})).empty());
    EXPECT_FALSE(test::runTask(empty.chooseFolder()).has_value());
    EXPECT_FALSE(test::runTask(empty.chooseSaveFolder(tmp.path(), "このフォルダに保存", true)).has_value());
    try {
        empty.setText("x");
        ADD_FAILURE() << "an empty clipboard port accepted text";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::saveFailed);
    }

    auto confirmer = std::make_shared<test::FakeConfirmer>();
    confirmer->answers = {true, false};
    confirmer->afterTurn = true;
    auto picker = std::make_shared<test::FakeFilePicker>();
    picker->saveFolder = tmp / "out";
    auto clipboard = std::make_shared<test::FakeClipboard>();
    QueuePorts ports{confirmer, picker, clipboard, {}};
    EXPECT_TRUE(test::runTask(ports.confirm("置き換えますか？", "保持します", "置き換える", AnswerAhead::destructive)));
    EXPECT_FALSE(test::runTask(ports.confirm("m", "i", "開く", AnswerAhead::suggested)));
    ASSERT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(confirmer->asked[0].informative, "保持します");
    EXPECT_EQ(confirmer->asked[0].ahead, AnswerAhead::destructive);
    EXPECT_EQ(confirmer->asked[1].ahead, AnswerAhead::suggested);
    EXPECT_EQ(test::runTask(ports.chooseSaveFolder(tmp.path(), "このフォルダに保存", true)), tmp / "out");
    ASSERT_EQ(picker->saveRequests.size(), 1u);
    EXPECT_EQ(picker->saveRequests[0].acceptLabel, "このフォルダに保存");
    ports.setText("本文");
    EXPECT_EQ(clipboard->text, "本文");
}

TEST_F(QueueControllerTest, SettingsFollowTheModeAndTheBuiltLanguages) {
    auto c = controller();
    EXPECT_EQ(c->currentSettings(), OCRSettings());
    c->recognitionMode = OCRMode::vertical;
    EXPECT_EQ(c->currentSettings().engineVersion, "vertical-reflow-r1");
    c->recognitionMode = OCRMode::handwriting;
    EXPECT_EQ(c->currentSettings().engineVersion, "annotation-geometry-r4.0");
    c->recognitionMode = OCRMode::automatic;
    EXPECT_EQ(c->currentSettings().engineVersion, "auto-router-c1");
    EXPECT_EQ(c->currentSettings().mode, OCRMode::automatic);
    c->recognitionMode = OCRMode::standard;
    c->languageCorrection = false;
    const OCRSettings s = c->currentSettings();
    EXPECT_EQ(s.engineVersion, "phase0-1");
    EXPECT_FALSE(s.languageCorrection);
    EXPECT_EQ(s.languages, OCRSettings().languages);
}

TEST_F(QueueControllerTest, TheOpenQueueNotTheLiveModeDecidesAnnotationMode) {
    auto c = controller();
    c->recognitionMode = OCRMode::handwriting;
    EXPECT_FALSE(c->annotationMode(UUID::random()));
    EXPECT_FALSE(c->annotationMode(std::nullopt));

    openRunQueue(*c, {1, 1, 1}, OCRSettings());
    QueueSnapshot s = *c->snapshot.get();
    s.inputs[1].settings = test::settingsIn(OCRMode::handwriting);
    c->snapshot = s;
    EXPECT_TRUE(c->annotationMode(s.inputs[1].id));
    EXPECT_FALSE(c->annotationMode(s.inputs[0].id));
    EXPECT_FALSE(c->annotationMode(s.inputs[2].id));
    EXPECT_FALSE(c->hasAnnotationResult());
    c->selectedID = s.inputs[1].id;
    EXPECT_TRUE(c->hasAnnotationResult());

    // An input without settings of its own follows the queue's.
    s.settings = test::settingsIn(OCRMode::automatic);
    c->snapshot = s;
    EXPECT_FALSE(c->annotationMode(s.inputs[0].id));
    s.inputs[0].settings.reset();
    c->snapshot = s;
    EXPECT_TRUE(c->annotationMode(s.inputs[0].id));
    EXPECT_TRUE(c->annotationMode(std::nullopt));
}

TEST_F(QueueControllerTest, ViewOptionsFollowTheSelectedInputAndTheProductDefaults) {
    auto c = controller();
    openRunQueue(*c, {1, 1, 1}, OCRSettings());
    QueueSnapshot s = *c->snapshot.get();
    const UUID first = s.inputs[0].id, second = s.inputs[1].id, third = s.inputs[2].id;
    const QueuePresentation viewState(false, true, false, false, true);
    const QueuePresentation ownState(true, true, true, false, false);
    s.viewStates = std::map<std::string, QueuePresentation>{{second.text(), viewState}};
    s.inputs[1].presentation = ownState;
    s.inputs[2].presentation = ownState;
    s.inputs[0].presentation.reset();
    c->snapshot = s;

    c->preserveLines = false;
    EXPECT_FALSE(c->presentation(first).preserveLines);
    EXPECT_EQ(c->presentation(second), viewState);
    EXPECT_EQ(c->presentation(third), ownState);
    c->preserveLines = true;
    EXPECT_TRUE(c->presentation(first).preserveLines);
    EXPECT_EQ(c->presentation(second), viewState);

    // Nothing stored: the toggles stay.
    c->loadPresentation(first);
    c->loadPresentation(std::nullopt);
    EXPECT_EQ(c->currentPresentation(), QueuePresentation(true, false, true, true, false));
    // The view state wins over the input's own; automatic save is kept.
    c->loadPresentation(second);
    EXPECT_EQ(c->currentPresentation(), QueuePresentation(false, true, false, false, false));
    c->loadPresentation(third);
    EXPECT_EQ(c->currentPresentation(), QueuePresentation(true, true, true, false, false));

    ProductDefaults d;
    d.ocrMode = OCRMode::vertical;
    d.handwriting = false;
    d.preserveLines = false;
    d.pageSeparators = true;
    d.combinedTXT = false;
    d.ocrAutoSave = true;
    c->automatic = false;
    c->annotationFilter = AnnotationFilter{true, true};
    c->applyProductDefaults(d);
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::vertical);
    EXPECT_EQ(c->annotationFilter.get(), (AnnotationFilter{false, false}));
    EXPECT_EQ(c->currentPresentation(), QueuePresentation(false, false, false, true, true));
    EXPECT_FALSE(c->combined.get());
    EXPECT_FALSE(c->exportOneFile.get());
    EXPECT_FALSE(c->automatic.get());
}

TEST_F(QueueControllerTest, KeysNameThePageAndItsAnnotationPresentation) {
    auto c = controller();
    EXPECT_EQ(c->currentDecoration().baseline(), "");
    c->setEdited("まだ表示なし");
    EXPECT_EQ(c->editorDocumentKey(), "");
    const OCRDecorationState none = c->currentDecoration();
    EXPECT_EQ(none.baseline(), "まだ表示なし");
    EXPECT_TRUE(none.yellow().empty());
    EXPECT_TRUE(none.green().empty());

    openRunQueue(*c, {2, 2}, OCRSettings());
    QueueSnapshot s = *c->snapshot.get();
    const UUID plain = s.inputs[0].id, hand = s.inputs[1].id;
    s.inputs[1].settings = test::settingsIn(OCRMode::handwriting);
    c->snapshot = s;
    EXPECT_EQ(c->pageDecorationKey(plain, 1), plain.text() + "-1");
    EXPECT_EQ(c->pageDecorationKey(hand, 2), hand.text() + "-2-annotation-true-false-true");
    c->selectedID = hand;
    c->annotationFilter = AnnotationFilter{false, true};
    c->preserveLines = false;
    EXPECT_EQ(c->pageDecorationKey(hand, 2), hand.text() + "-2-annotation-false-true-false");
    EXPECT_EQ(c->pageDecorationKey(plain, 1), plain.text() + "-1");

    // The editor's change updates the shown page's state and drops the hit.
    const std::string key = c->pageDecorationKey(plain, 1);
    c->selectedID = plain;
    c->decorationKey = key;
    QueueControllerProbe::decorations(*c)[key] = OCRDecorationState(test::fixedText(1), {});
    c->searchSelection = OCRProduct::Match{plain, 1, TextRange{0, 1}};
    c->editText("X" + test::fixedText(1), TextRange{0, 0}, std::string("X"), false);
    EXPECT_EQ(c->edited.get(), "X" + test::fixedText(1));
    EXPECT_EQ(c->currentDecoration().text(), "X" + test::fixedText(1));
    EXPECT_EQ(c->currentDecoration().green(), (std::vector<TextRange>{{0, 1}}));
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_EQ(c->editorDocumentKey(), key);
}

TEST_F(QueueControllerTest, OnlyACompletedRecordOfTheShownPageIsComplete) {
    auto c = controller();
    EXPECT_FALSE(c->selectedComplete());
    openRunQueue(*c, {3}, OCRSettings(), {{0, {2}}});
    EXPECT_TRUE(c->selectedComplete());
    c->page = 2;
    EXPECT_FALSE(c->selectedComplete());
    c->page = 4;
    EXPECT_FALSE(c->selectedComplete());
    c->page = 3;
    c->selectedID = std::nullopt;
    EXPECT_FALSE(c->selectedComplete());
    c->selectedID = UUID::random();
    EXPECT_FALSE(c->selectedComplete());
}

TEST_F(QueueControllerTest, AnnotationModeDrawsEveryStoredRegion) {
    auto c = controller();
    auto engine = openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    c->regions = std::vector<TextRegion>{test::fixedRegions(1)[0]};
    EXPECT_EQ(c->previewRegions(), test::fixedRegions(1));
    c->page = 2;
    EXPECT_TRUE(c->previewRegions().empty());
    c->engine.reset();
    EXPECT_TRUE(c->previewRegions().empty());

    openRunQueue(*c, {1}, OCRSettings());
    c->regions = std::vector<TextRegion>{test::fixedRegions(1)[0]};
    EXPECT_EQ(c->previewRegions().size(), 1u);
}

TEST_F(QueueControllerTest, StoredEditsCountUntilTheirTextIsExported) {
    auto c = controller();
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());

    auto engine = openRunQueue(*c, {2, 1}, OCRSettings());
    QueueSnapshot s = *c->snapshot.get();
    const UUID first = s.inputs[0].id;
    // A stored edit that says what was recognised is no edit.
    s.inputs[0].editedPages[2] = test::fixedText(2);
    c->snapshot = s;
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());

    s.inputs[1].editedPages[1] = "直した本文";
    c->snapshot = s;
    EXPECT_TRUE(c->hasEditedText());
    EXPECT_TRUE(c->hasUnsavedEdits());
    auto& exported = QueueControllerProbe::exportedEdits(*c);
    exported[QueueController::pageKey(s.inputs[1].id, 1)] = "直した本文";
    EXPECT_TRUE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());

    // A page file that cannot be read counts as empty recognised text: the
    // edit that equalled it is an edit now.
    const QueueInput& input = engine->snapshot().inputs[0];
    const fs::path pageFile = OCRQueueEngine::jobFolder(c->parent / s.id.text(), *input.attemptID) /
                              CheckpointFile::pageFileName(2);
    ASSERT_TRUE(fs::exists(pageFile));
    test::writeFile(pageFile, "{}");
    EXPECT_TRUE(c->hasUnsavedEdits());
    exported[QueueController::pageKey(first, 2)] = test::fixedText(2);
    EXPECT_FALSE(c->hasUnsavedEdits());

    // The shown page's text against its export, keystroke by keystroke.
    c->original = test::fixedText(1);
    c->setEdited(test::fixedText(1) + "。");
    EXPECT_TRUE(c->hasUnsavedEdits());
    exported[QueueController::pageKey(first, 1)] = test::fixedText(1) + "。";
    EXPECT_FALSE(c->hasUnsavedEdits());
    EXPECT_TRUE(c->hasEditedText());
    c->setEdited(test::fixedText(1) + "。。");
    EXPECT_TRUE(c->hasUnsavedEdits());

    // A decoration edited in this window, against its key's export.
    c->setEdited(test::fixedText(1));
    exported.clear();
    s.inputs[1].editedPages.clear();
    s.inputs[0].editedPages.clear();
    c->snapshot = s;
    EXPECT_FALSE(c->hasEditedText());
    OCRDecorationState state(test::fixedText(2), {});
    state.update("改" + test::fixedText(2));
    QueueControllerProbe::decorations(*c)["key"] = state;
    EXPECT_TRUE(c->hasEditedText());
    EXPECT_TRUE(c->hasUnsavedEdits());
    exported["key"] = "改" + test::fixedText(2);
    EXPECT_FALSE(c->hasUnsavedEdits());
}

TEST_F(QueueControllerTest, AnUntouchedAnnotationPageIsNoEditInEitherLineForm) {
    auto c = controller();
    openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    const UUID id = c->selectedID->value();
    c->original = test::fixedText(1);

    // Line breaks off: the display shows the readable form of the text.
    c->preserveLines = false;
    c->loadingDecoration = true;
    c->setEdited(OCRProduct::readable(test::fixedText(1)));
    c->loadingDecoration = false;
    ASSERT_NE(c->edited.get(), c->original.get());
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());

    // Typed, exported under the decoration key, then typed again.
    c->setEdited(OCRProduct::readable(test::fixedText(1)) + "追記");
    EXPECT_TRUE(c->hasEditedText());
    EXPECT_TRUE(c->hasUnsavedEdits());
    QueueControllerProbe::exportedEdits(*c)[c->pageDecorationKey(id, 1)] = c->edited.get();
    EXPECT_FALSE(c->hasUnsavedEdits());
    EXPECT_TRUE(c->hasEditedText());
    c->setEdited(c->edited.get() + "。");
    EXPECT_TRUE(c->hasUnsavedEdits());

    // Line breaks on: the text as recognised is the untouched form.
    c->preserveLines = true;
    c->setEdited(test::fixedText(1));
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());
}
