#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "ControllerFixtures.hpp"
#include "PortFakes.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class PageDisplay : public ::testing::Test, protected test::ControllerRoots {
protected:
    fs::path writeSmallPNG(const fs::path& path, int width, int height) {
        test::writePNG(path, width, height, 3, [width](int y, uint8_t* row) {
            for (int x = 0; x < width * 3; ++x) row[x] = static_cast<uint8_t>((x + y) & 0xFF);
        });
        return path;
    }
};

// UTF-16 length of the first region's line and its line break.
constexpr int64_t secondLineStart = 8;
constexpr int64_t secondLineLength = 6;

}  // namespace

TEST_F(PageDisplay, AnUnrecognisedPageShowsOnlyItsImageAndPageCount) {
    auto c = controller();
    c->setEdited("前のページ");
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 3)}}, c->currentSettings(), false);
    c->page = 2;
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_TRUE(c->regions->empty());
    EXPECT_EQ(c->original.get(), "");
    EXPECT_EQ(c->edited.get(), "");
    EXPECT_EQ(c->editorDocumentKey(), "");
    EXPECT_EQ(c->previewPageCount.get(), 3);
    ASSERT_TRUE(c->preview->has_value());
    EXPECT_EQ(c->preview->value().width(), 200);
    EXPECT_EQ(c->preview->value().height(), 300);
    EXPECT_FALSE(c->autoPresentation().has_value());
    EXPECT_FALSE(c->loadingDecoration);
}

TEST_F(PageDisplay, ARecognisedPageShowsItsTextWithTheUncertainLineInYellow) {
    auto c = controller();
    openRunQueue(*c, {2}, c->currentSettings());
    c->page = 2;
    c->showPage();
    EXPECT_EQ(c->regions.get(), test::fixedRegions(2));
    EXPECT_EQ(c->original.get(), test::fixedText(2));
    EXPECT_EQ(c->edited.get(), test::fixedText(2));
    EXPECT_EQ(c->editorDocumentKey(), c->pageDecorationKey(c->selectedID->value(), 2));
    EXPECT_EQ(c->currentDecoration().yellow(), (std::vector<TextRange>{{secondLineStart, secondLineLength}}));
    EXPECT_TRUE(c->currentDecoration().green().empty());
    EXPECT_EQ(c->previewPageCount.get(), 2);

    // Coming back to a page shows the marks made earlier in this window.
    c->editText("新" + test::fixedText(2), TextRange{0, 0}, std::string("新"), false);
    c->page = 1;
    c->showPage();
    EXPECT_EQ(c->edited.get(), test::fixedText(1));
    c->page = 2;
    c->showPage();
    EXPECT_EQ(c->edited.get(), "新" + test::fixedText(2));
    EXPECT_EQ(c->currentDecoration().green(), (std::vector<TextRange>{{0, 1}}));
    EXPECT_TRUE(c->hasUnsavedEdits());
}

TEST_F(PageDisplay, AnUntouchedPlainPageWithLineBreaksOffIsNoEdit) {
    auto c = controller();
    openRunQueue(*c, {1}, c->currentSettings());
    c->preserveLines = false;
    c->showPage();
    EXPECT_EQ(c->edited.get(), test::fixedText(1));
    EXPECT_TRUE(c->currentDecoration().green().empty());
    EXPECT_EQ(c->currentDecoration().yellow(), (std::vector<TextRange>{{secondLineStart, secondLineLength}}));
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());
}

TEST_F(PageDisplay, AnAnnotationPageShowsItsFilteredRegionsInTheChosenLineForm) {
    auto c = controller();
    auto engine = openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    const UUID id = c->selectedID->value();
    c->preserveLines = false;
    c->showPage();
    EXPECT_EQ(c->edited.get(), OCRProduct::readable(test::fixedText(1)));
    EXPECT_EQ(c->editorDocumentKey(), id.text() + "-1-annotation-true-false-false");
    EXPECT_TRUE(c->currentDecoration().green().empty());
    EXPECT_FALSE(c->hasEditedText());
    EXPECT_FALSE(c->hasUnsavedEdits());

    c->preserveLines = true;
    c->showPage();
    EXPECT_EQ(c->edited.get(), test::fixedText(1));
    EXPECT_EQ(c->editorDocumentKey(), id.text() + "-1-annotation-true-false-true");
    EXPECT_FALSE(c->hasEditedText());
}

TEST_F(PageDisplay, ALockedPDFShowsNoImageAndADeletedPNGKeepsThePreviousOne) {
    auto c = controller();
    const fs::path plain = test::writeDocument(tmp / "plain.pdf", 1);
    const fs::path locked = tmp / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "pw", "owner", "256", "--", plain.string(), locked.string()}), 0);
    const fs::path png = writeSmallPNG(tmp / "scan.png", 40, 30);
    openQueue(*c, {{png}, {locked}}, c->currentSettings(), false);

    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    ASSERT_TRUE(c->preview->has_value());
    EXPECT_EQ(c->preview->value().width(), 40);
    const std::string before = c->status;

    // The sentence says why, as the queue's row does.
    fs::remove(png);
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::sourceMissing));
    ASSERT_TRUE(c->preview->has_value());
    EXPECT_EQ(c->preview->value().width(), 40);

    c->status = before;
    c->selectedID = c->snapshot->value().inputs[1].id;
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_FALSE(c->preview->has_value());
    EXPECT_EQ(c->status.get(), before);
    EXPECT_EQ(c->previewPageCount.get(), 1);
}

// Decoding or rendering a page can take seconds: the main thread only asks
// for it, and of pages turned faster than they come only the last shows.
TEST_F(PageDisplay, APageIsPreparedOffTheMainThreadAndOnlyTheLatestShows) {
    auto c = controller();
    // Each page's width at 100 dpi tells which page a picture is of.
    const fs::path doc = tmp / "widths.pdf";
    test::writePDF(doc, {{144, 288}, {216, 288}, {288, 288}}, [](cairo_t*, int, test::PageSize) {});
    openQueue(*c, {{doc}}, c->currentSettings(), false);
    std::vector<int> shown;
    sigc::connection watch = c->changed.connect([&] {
        const int width = c->preview->has_value() ? c->preview->value().width() : 0;
        if (shown.empty() || shown.back() != width) shown.push_back(width);
    });
    c->showPage();
    EXPECT_TRUE(c->picturePending.get());
    EXPECT_FALSE(c->preview->has_value());
    ASSERT_TRUE(test::pictured(*c));
    c->page = 2;
    c->showPage();
    c->page = 3;
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    watch.disconnect();
    EXPECT_EQ(shown, (std::vector<int>{0, 200, 400}));
}

TEST_F(PageDisplay, NothingChangesWithoutAQueueOrASelectedInput) {
    auto c = controller();
    c->setEdited("残す");
    c->showPage();
    openRunQueue(*c, {1}, c->currentSettings());
    c->selectedID = UUID::random();
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    c->selectedID = std::nullopt;
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_EQ(c->edited.get(), "残す");
    EXPECT_FALSE(c->preview->has_value());
}

TEST_F(PageDisplay, AFIFONamedLikeAPDFShowsWithoutHanging) {
    auto c = controller();
    const fs::path fifo = tmp / "x.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    openQueue(*c, {{fifo}}, c->currentSettings(), false);
    c->showPage();
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_FALSE(c->preview->has_value());
    EXPECT_EQ(c->previewPageCount.get(), 1);
}

TEST_F(PageDisplay, TheConfirmationsSayWhatIsKeptAndProceedOnlyOnContinue) {
    auto confirmer = std::make_shared<test::FakeConfirmer>();
    confirmer->answers = {false, true};
    confirmer->afterTurn = true;
    QueuePorts ports = test::fakeRecognition();
    ports.confirmer = confirmer;
    auto c = controller(ports);
    EXPECT_FALSE(test::runTask(c->confirmDiscard("別の原稿を開きますか？", "開く")));
    EXPECT_TRUE(test::runTask(c->confirmReplaceEditedText("認識原文から改行を整え直しますか？", "整え直す")));
    ASSERT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(confirmer->asked[0].message, "別の原稿を開きますか？");
    EXPECT_EQ(confirmer->asked[0].informative,
              "未保存の編集があります。必要な場合は先にTXTを保存してください。以前の認識・編集データと保存済みファイルは削除しません。");
    EXPECT_EQ(confirmer->asked[1].informative,
              "編集した認識結果が上書きされます。TXTへ保存済みの場合も、現在の編集内容は画面から置き換わります。保存済みファイルと原稿は削除しません。");
    // Each answer ahead says what it does: leaving edits stored where they
    // are loses nothing, replacing them does.
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "開く");
    EXPECT_EQ(confirmer->asked[0].ahead, AnswerAhead::suggested);
    EXPECT_EQ(confirmer->asked[1].confirmLabel, "整え直す");
    EXPECT_EQ(confirmer->asked[1].ahead, AnswerAhead::destructive);
}

TEST_F(PageDisplay, AStoredEditWithoutAStateHereGetsOneOnTheRecognisedTextBroughtUpToIt) {
    auto c = controller();
    auto engine = openRunQueue(*c, {1}, c->currentSettings());
    const UUID id = c->selectedID->value();
    const std::string stored = "前置き" + test::fixedText(1);
    engine->edit(id, 1, stored);
    c->snapshot = engine->snapshot();
    c->showPage();
    EXPECT_EQ(c->edited.get(), stored);
    const OCRDecorationState state = c->currentDecoration();
    EXPECT_EQ(state.text(), stored);
    EXPECT_EQ(state.baseline(), test::fixedText(1));
    // The three characters put before the text are the hand edit, and the
    // uncertain line keeps its yellow, moved along.
    EXPECT_EQ(state.green(), (std::vector<TextRange>{{0, 3}}));
    EXPECT_EQ(state.yellow(), (std::vector<TextRange>{{secondLineStart + 3, secondLineLength}}));
    EXPECT_TRUE(c->hasEditedText());
}

TEST_F(PageDisplay, APageRecognisedAgainRebuildsItsStaleStateOnlyWithLineBreaksOn) {
    auto c = controller();
    auto engine = openRunQueue(*c, {1}, c->currentSettings(), {{0, {1}}});
    const UUID id = c->selectedID->value();
    c->showPage();
    EXPECT_FALSE(c->decorationKey.has_value());
    // The state of the page as an earlier recognition left it in this window.
    const std::string key = c->pageDecorationKey(id, 1);
    const OCRDecorationState earlier("前の認識結果", {});
    JobControl control;
    engine->prepareRetry({{id, {1}}});
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = engine->snapshot();
    ASSERT_TRUE(c->selectedComplete());

    QueueControllerProbe::decorations(*c)[key] = earlier;
    c->preserveLines = false;
    c->showPage();
    EXPECT_EQ(c->edited.get(), "前の認識結果");
    EXPECT_EQ(c->currentDecoration(), earlier);

    // Rebuilt on the new recognition and brought up to the text the user
    // had, which stays: everything of it is now a hand edit.
    c->preserveLines = true;
    c->showPage();
    EXPECT_EQ(c->edited.get(), "前の認識結果");
    EXPECT_EQ(c->currentDecoration().baseline(), test::fixedText(1));
    EXPECT_EQ(c->currentDecoration().text(), "前の認識結果");
    EXPECT_FALSE(c->currentDecoration().green().empty());
    EXPECT_TRUE(c->hasEditedText());
}
