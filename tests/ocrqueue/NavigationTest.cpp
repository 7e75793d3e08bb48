#include <gtest/gtest.h>

#include <filesystem>

#include "ControllerFixtures.hpp"
#include "PortFakes.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr const char* pageNotSwitched = "編集を保持できませんでした。ページは切り替えていません。";
constexpr const char* linesQuestion = "認識原文から改行を整え直しますか？";
constexpr const char* linesFailed = "改行を変更できませんでした。保存済みの結果は保持しています。";

// The low-confidence second line of a fixed page, in UTF-16 units.
const std::vector<TextRange> uncertainLine{{8, 6}};

Task<bool> answer(int* calls, bool value) {
    *calls += 1;
    co_return value;
}

class Navigation : public ::testing::Test, protected test::ControllerRoots {
protected:
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    std::shared_ptr<QueueController> c;

    void SetUp() override {
        QueuePorts ports = test::fakeRecognition();
        ports.confirmer = confirmer;
        c = controller(std::move(ports));
    }

    UUID input(std::size_t index) const { return c->snapshot->value().inputs[index].id; }
    std::map<int64_t, std::string> editedPages(std::size_t index) const {
        return c->engine->snapshot().inputs[index].editedPages;
    }
    static fs::path folderOf(const OCRQueueEngine& engine) { return engine.directory()->url(); }

    // Stores page texts as edits, as if typed and stored earlier.
    void store(std::size_t index, const std::map<int64_t, std::string>& pages) {
        for (const auto& [number, text] : pages) c->engine->edit(input(index), number, text);
        c->snapshot = c->engine->snapshot();
    }

    // Makes the next store of the queue fail: the file is rewritten behind
    // the engine.
    void spoilQueueFile() {
        // After the stores still on their way, which would otherwise find
        // the file spoiled and report it later instead of at once.
        c->engine->flush();
        const fs::path file = folderOf(*c->engine) / "queue.json";
        test::writeFile(file, test::readFile(file) + " ");
    }

    // A queue of documents run to its end, each input fixed to the
    // presentation given (line breaks kept), opened with its first input.
    std::shared_ptr<OCRQueueEngine> openPresented(const std::vector<int>& pageCounts, const OCRSettings& settings) {
        std::vector<OCRQueueEngine::InputFile> files;
        for (std::size_t i = 0; i < pageCounts.size(); ++i) {
            files.push_back({test::writeDocument(tmp / ("p" + std::to_string(i) + ".pdf"), pageCounts[i])});
        }
        std::shared_ptr<OCRQueueEngine> engine =
            OCRQueueEngine::create(files, settings, c->parent, QueuePresentation(true, false, true, true, false));
        c->ports().configure(*engine);
        JobControl control;
        engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
        c->engine = engine;
        c->snapshot = engine->snapshot();
        c->selectedID = engine->snapshot().inputs.front().id;
        c->page = 1;
        return engine;
    }
};

}  // namespace

// ---- moving through pages and inputs

TEST_F(Navigation, APageSwitchStoresTheEditAndLoadsOptionsOnlyForAnotherInput) {
    openRunQueue(*c, {3, 2}, c->currentSettings());
    const UUID a = input(0), b = input(1);
    EXPECT_TRUE(c->goPage(0));
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_EQ(c->edited.get(), test::fixedText(1));

    // Leaving A stores its options with it; B has none yet.
    c->editText("新" + test::fixedText(1), std::nullopt, std::nullopt, false);
    c->searchSelection = OCRProduct::Match{a, 1, {0, 1}};
    EXPECT_TRUE(c->goPage(2, b));
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_EQ(editedPages(0).at(1), "新" + test::fixedText(1));
    EXPECT_EQ(c->selectedID.get(), b);
    EXPECT_EQ(c->edited.get(), test::fixedText(2));

    c->preserveLines = false;
    c->goPage(1, b);
    EXPECT_FALSE(c->preserveLines.get());  // the same input: not reloaded
    c->goPage(1, a);
    EXPECT_TRUE(c->preserveLines.get());  // A's own options
    EXPECT_EQ(c->edited.get(), "新" + test::fixedText(1));

    // An edit that cannot be stored keeps the page.
    c->editText("再" + test::fixedText(1), std::nullopt, std::nullopt, false);
    spoilQueueFile();
    EXPECT_FALSE(c->goPage(2, b));
    EXPECT_EQ(c->status.get(), pageNotSwitched);
    EXPECT_EQ(c->selectedID.get(), a);
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_EQ(c->edited.get(), "再" + test::fixedText(1));
}

// ---- search

TEST_F(Navigation, SearchFindsCaseInsensitiveNonOverlappingHitsAndTellsWidthsApart) {
    openRunQueue(*c, {3, 1}, c->currentSettings());
    const UUID a = input(0);
    store(0, {{1, "ABC abc"}, {2, "xabcy"}, {3, "aaaa"}});
    c->showPage();

    c->setSearch("abc");
    EXPECT_EQ(c->searchMatches(), (std::vector<OCRProduct::Match>{{a, 1, {0, 3}}, {a, 1, {4, 3}}, {a, 2, {1, 3}}}));
    c->setSearch("aa");
    EXPECT_EQ(c->searchMatches(), (std::vector<OCRProduct::Match>{{a, 3, {0, 2}}, {a, 3, {2, 2}}}));
    c->setSearch("Ａ");
    EXPECT_TRUE(c->searchMatches().empty());
    c->setSearch("");
    EXPECT_TRUE(c->searchMatches().empty());

    // The shown page is searched in the editor's text, before any store.
    c->editText("ABC abc 頁", std::nullopt, std::nullopt, false);
    c->setSearch("頁");
    const auto hits = c->searchMatches();
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front(), (OCRProduct::Match{a, 1, {8, 1}}));
}

TEST_F(Navigation, RepeatedCountsFollowEveryChangeOfTheTextsTheySearch) {
    // The recognised pages are read once and their hits kept: each count
    // must still see what changed since the last one.
    openRunQueue(*c, {3, 2}, c->currentSettings());
    const UUID a = input(0), b = input(1);
    c->showPage();
    c->setSearch("本文");
    using Hits = std::vector<OCRProduct::Match>;
    const Hits recognised{{a, 1, {4, 2}}, {a, 2, {4, 2}}, {a, 3, {4, 2}}, {b, 1, {4, 2}}, {b, 2, {4, 2}}};
    EXPECT_EQ(c->searchMatches(), recognised);
    EXPECT_EQ(c->searchMatches(), recognised);

    // Keystrokes in the shown page, one count after each.
    std::string text = c->edited.get();
    text = "本文" + text;
    c->editText(text, TextRange{0, 0}, "本文", false);
    Hits typed = recognised;
    typed.insert(typed.begin(), {a, 1, {0, 2}});
    typed[1].range = {6, 2};
    EXPECT_EQ(c->searchMatches(), typed);
    c->editText(test::fixedText(1), std::nullopt, std::nullopt, true);
    EXPECT_EQ(c->searchMatches(), recognised);

    // A stored edit of a page not shown, and a page with its result gone.
    store(1, {{2, "本文なし"}});
    Hits stored = recognised;
    stored.back().range = {0, 2};
    EXPECT_EQ(c->searchMatches(), stored);

    // Another query is counted in the pages themselves, not the last hits.
    c->setSearch("読みにくい");
    EXPECT_EQ(c->searchMatches().size(), 4u);
    c->setSearch("本文");
    EXPECT_EQ(c->searchMatches(), stored);
}

TEST_F(Navigation, FindStepsThroughTheQueueAndWrapsAround) {
    openRunQueue(*c, {3, 2}, c->currentSettings());
    const UUID a = input(0), b = input(1);
    store(0, {{1, "猫がいる"}, {3, "また猫"}});
    store(1, {{2, "白い猫"}});
    c->showPage();
    c->setSearch("猫");

    c->find(-1);  // previous with no hit: the last one
    EXPECT_EQ(c->searchSelection.get(), (OCRProduct::Match{b, 2, {2, 1}}));
    EXPECT_EQ(c->selectedID.get(), b);
    EXPECT_EQ(c->page.get(), 2);
    EXPECT_EQ(c->edited.get(), "白い猫");

    c->find(1);  // next from the last: wraps to A's page 1
    EXPECT_EQ(c->searchSelection.get(), (OCRProduct::Match{a, 1, {0, 1}}));
    EXPECT_EQ(c->selectedID.get(), a);
    EXPECT_EQ(c->page.get(), 1);
    c->find(1);
    EXPECT_EQ(c->searchSelection.get(), (OCRProduct::Match{a, 3, {2, 1}}));
    c->find(-1);
    EXPECT_EQ(c->searchSelection.get(), (OCRProduct::Match{a, 1, {0, 1}}));

    // Nothing to find: the hit goes, the page stays.
    c->setSearch("犬");
    c->searchSelection = OCRProduct::Match{a, 1, {0, 1}};
    c->find(1);
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_EQ(c->selectedID.get(), a);
    EXPECT_EQ(c->page.get(), 1);

    // A switch refused for an edit that cannot be stored selects nothing in
    // the text of the page that stays.
    c->setSearch("猫");
    c->editText("猫がいる!", std::nullopt, std::nullopt, false);
    spoilQueueFile();
    c->find(1);
    EXPECT_EQ(c->status.get(), pageNotSwitched);
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_EQ(c->page.get(), 1);
}

// ---- line re-flow

TEST_F(Navigation, TheLineOptionAloneChangesWhileBusyOrWithoutAQueue) {
    c->preserveLines = true;
    test::runTask(c->changeLines(false));
    EXPECT_FALSE(c->preserveLines.get());

    openRunQueue(*c, {1}, c->currentSettings());
    c->goPage(1);
    c->setBusy(true);
    test::runTask(c->changeLines(true));
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_TRUE(editedPages(0).empty());
    c->setBusy(false);

    // The value it has, edited text or not: nothing asked, nothing written.
    c->editText("新" + test::fixedText(1), std::nullopt, std::nullopt, false);
    test::runTask(c->changeLines(true));
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_TRUE(editedPages(0).empty());

    // Declined: the option shows its old value again.
    confirmer->answers = {false};
    test::runTask(c->changeLines(false));
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, linesQuestion);
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_TRUE(editedPages(0).empty());
    EXPECT_EQ(c->edited.get(), "新" + test::fixedText(1));
}

TEST_F(Navigation, APlainReflowRewritesEveryCompletedPageFromItsRecognisedText) {
    openRunQueue(*c, {2, 1}, c->currentSettings(), {{1, {1}}});
    c->goPage(2);
    test::runTask(c->changeLines(false));
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_FALSE(c->preserveLines.get());
    const std::string joined1 = "第1頁の本文が 読みにくい行";
    EXPECT_EQ(OCRProduct::readable(test::fixedText(1)), joined1);
    EXPECT_EQ(editedPages(0), (std::map<int64_t, std::string>{{1, joined1}, {2, OCRProduct::readable(test::fixedText(2))}}));
    EXPECT_TRUE(editedPages(1).empty());  // its page failed
    EXPECT_EQ(c->snapshot->value().inputs[0].editedPages, editedPages(0));
    EXPECT_EQ(c->edited.get(), OCRProduct::readable(test::fixedText(2)));
    EXPECT_EQ(c->currentDecoration().yellow(), uncertainLine);
    EXPECT_TRUE(c->currentDecoration().green().empty());

    // Back, over a hand edit once the user agrees.
    c->editText("手" + OCRProduct::readable(test::fixedText(2)), std::nullopt, std::nullopt, false);
    confirmer->answers = {true};
    test::runTask(c->changeLines(true));
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_EQ(editedPages(0), (std::map<int64_t, std::string>{{1, test::fixedText(1)}, {2, test::fixedText(2)}}));
    EXPECT_EQ(c->edited.get(), test::fixedText(2));
    EXPECT_EQ(c->currentDecoration().yellow(), uncertainLine);
    EXPECT_FALSE(c->hasEditedText());
}

TEST_F(Navigation, AReflowThatFailsPartWayKeepsWhatItRewroteAndTheOldOption) {
    auto engine = openRunQueue(*c, {3}, c->currentSettings());
    const QueueInput first = engine->snapshot().inputs[0];
    ASSERT_TRUE(first.attemptID);
    const fs::path job = OCRQueueEngine::jobFolder(folderOf(*engine), *first.attemptID);
    test::writeFile(job / CheckpointFile::pageFileName(2), "{}");
    test::runTask(c->changeLines(false));
    EXPECT_EQ(c->status.get(), linesFailed);
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_EQ(editedPages(0), (std::map<int64_t, std::string>{{1, OCRProduct::readable(test::fixedText(1))}}));

    // A queue that cannot be written at all rewrites nothing.
    auto other = openRunQueue(*c, {1}, c->currentSettings());
    spoilQueueFile();
    test::runTask(c->changeLines(false));
    EXPECT_EQ(c->status.get(), linesFailed);
    EXPECT_TRUE(c->preserveLines.get());
    EXPECT_TRUE(other->snapshot().inputs[0].editedPages.empty());
}

TEST_F(Navigation, AnAnnotationReflowStoresOnlyHighlightStates) {
    openRunQueue(*c, {2}, test::settingsIn(OCRMode::handwriting));
    const UUID id = input(0);
    c->goPage(1);
    test::runTask(c->changeLines(false));
    EXPECT_FALSE(c->preserveLines.get());
    EXPECT_TRUE(editedPages(0).empty());
    EXPECT_EQ(c->edited.get(), OCRProduct::readable(test::fixedText(1)));
    EXPECT_EQ(c->editorDocumentKey(), id.text() + "-1-annotation-true-false-false");
    EXPECT_EQ(c->currentDecoration().yellow(), uncertainLine);
    const auto& states = QueueControllerProbe::decorations(*c);
    ASSERT_TRUE(states.count(id.text() + "-2-annotation-true-false-false"));
    EXPECT_EQ(states.at(id.text() + "-2-annotation-true-false-false").text(),
              OCRProduct::readable(test::fixedText(2)));
}

TEST_F(Navigation, AMixedQueueReflowsEachInputInItsOwnForm) {
    const fs::path plain = test::writeDocument(tmp / "plain.pdf", 1);
    const fs::path hand = test::writeDocument(tmp / "hand.pdf", 1);
    auto engine = openQueue(*c, {{plain}}, c->currentSettings(), false);
    engine->append({{hand}}, test::settingsIn(OCRMode::handwriting), c->currentPresentation());
    JobControl control;
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = engine->snapshot();
    const UUID a = input(0), b = input(1);
    ASSERT_FALSE(c->annotationMode(a));
    ASSERT_TRUE(c->annotationMode(b));

    // Each input selected in turn, the option turned to the other form than
    // the plain input holds.
    for (const auto& [selected, preserve] : {std::pair{a, false}, std::pair{b, true}}) {
        c->goPage(1, selected);
        c->preserveLines = !preserve;
        confirmer->answers = {true};
        test::runTask(c->changeLines(preserve));
        ASSERT_EQ(c->preserveLines.get(), preserve);
        const std::string form = preserve ? test::fixedText(1) : OCRProduct::readable(test::fixedText(1));
        EXPECT_EQ(editedPages(0).at(1), form);
        EXPECT_TRUE(editedPages(1).empty());
        const auto& states = QueueControllerProbe::decorations(*c);
        const std::string key = b.text() + "-1-annotation-true-false-" + (preserve ? "true" : "false");
        ASSERT_TRUE(states.count(key));
        EXPECT_EQ(states.at(key).text(), form);
        EXPECT_FALSE(states.count(a.text() + "-1-annotation-true-false-" + (preserve ? "true" : "false")));
    }
}

TEST_F(Navigation, AnInputNotSelectedShowsItsOwnFormWhenSelectedAfterAReflow) {
    openPresented({1, 1}, test::settingsIn(OCRMode::handwriting));
    const UUID b = input(1);
    c->goPage(1);
    test::runTask(c->changeLines(false));
    EXPECT_EQ(c->edited.get(), OCRProduct::readable(test::fixedText(1)));

    // B keeps the line form stored with it, and shows its text in that form.
    c->goPage(1, b);
    const std::string expected =
        c->preserveLines.get() ? test::fixedText(1) : OCRProduct::readable(test::fixedText(1));
    EXPECT_EQ(c->edited.get(), expected);
    EXPECT_EQ(c->currentDecoration().text(), expected);
    EXPECT_EQ(c->editorDocumentKey(),
              b.text() + "-1-annotation-true-false-" + (c->preserveLines.get() ? "true" : "false"));
}

// ---- the annotation filter

TEST_F(Navigation, TheFilterSwitchesAtOnceWithoutEditedTextAndAsksOtherwise) {
    openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    c->goPage(1);
    int calls = 0;
    std::function<Task<bool>()> refuse = [&calls] { return answer(&calls, false); };
    std::function<Task<bool>()> agree = [&calls] { return answer(&calls, true); };

    EXPECT_FALSE(test::runTask(c->changeAnnotationFilter(AnnotationFilter{}, agree)));
    EXPECT_EQ(calls, 0);

    const AnnotationFilter instructions{true, true};
    c->searchSelection = OCRProduct::Match{input(0), 1, {0, 1}};
    EXPECT_TRUE(test::runTask(c->changeAnnotationFilter(instructions, agree)));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(c->annotationFilter.get(), instructions);
    EXPECT_FALSE(c->searchSelection->has_value());
    EXPECT_TRUE(c->regions->empty());
    EXPECT_EQ(c->edited.get(), "");

    EXPECT_TRUE(test::runTask(c->changeAnnotationFilter(AnnotationFilter{}, nullptr)));
    EXPECT_EQ(c->edited.get(), test::fixedText(1));
    c->editText("新" + test::fixedText(1), std::nullopt, std::nullopt, false);

    // Declined, through the caller's question and through the default one.
    EXPECT_FALSE(test::runTask(c->changeAnnotationFilter(instructions, refuse)));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(c->annotationFilter.get(), AnnotationFilter{});
    confirmer->answers = {false};
    confirmer->afterTurn = true;
    EXPECT_FALSE(test::runTask(c->changeAnnotationFilter(instructions)));
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, "表示対象を切り替えますか？");
    EXPECT_EQ(confirmer->asked[0].informative,
              "現在の編集は表示対象ごとに保持します。元の表示対象へ戻すと編集内容も戻ります。必要なら先にTXTへ保存してください。");
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "切り替える");
    EXPECT_EQ(c->annotationFilter.get(), AnnotationFilter{});
    EXPECT_EQ(c->edited.get(), "新" + test::fixedText(1));

    // Agreed, but the edit cannot be stored: the filter stays.
    spoilQueueFile();
    EXPECT_FALSE(test::runTask(c->changeAnnotationFilter(instructions, agree)));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(c->status.get(), "編集を保持できません");
    EXPECT_EQ(c->annotationFilter.get(), AnnotationFilter{});
    EXPECT_EQ(c->edited.get(), "新" + test::fixedText(1));
}

// ---- on text recognised for real

// Two scans of Japanese text, recognised by the real engine: the search
// finds a word of the second scan from the first and one of the first from
// the second, and the re-flow joins the recognised lines of a paragraph.
TEST(NavigationRecognised, SearchAndReflowWorkOnRecognisedJapanese) {
    test::ControllerRoots roots;
    auto c = roots.controller(QueuePorts{});
    auto scan = [&](const std::string& name, const std::vector<std::string>& lines) {
        const fs::path png = roots.tmp / name;
        const auto page = test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, lines);
        const auto bytes = Raster::png(page.image);
        test::writeFile(png, std::string(bytes.begin(), bytes.end()));
        return png;
    };
    const fs::path cat = scan("猫.png", {"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。"});
    const fs::path spring = scan("春.png", {"春はあけぼの。やうやう白くなりゆく山ぎは、"});
    roots.openQueue(*c, {{cat}, {spring}}, c->currentSettings(), true);
    ASSERT_EQ(c->engine->snapshot().completedPages(), 2);
    const UUID first = c->snapshot->value().inputs[0].id, second = c->snapshot->value().inputs[1].id;
    c->showPage();
    const std::string recognised = c->original.get();
    ASSERT_NE(recognised.find('\n'), std::string::npos) << recognised;
    EXPECT_LE(test::characterErrorRate("吾輩は猫である。名前はまだ無い。\nどこで生れたかとんと見当がつかぬ。", recognised),
              0.1)
        << recognised;

    c->setSearch("あけぼの");
    c->find(1);
    ASSERT_TRUE(c->searchSelection->has_value()) << c->engine->result(second, 1)->text();
    EXPECT_EQ(c->searchSelection->value().inputID, second);
    EXPECT_EQ(c->selectedID.get(), second);
    c->setSearch("猫");
    c->find(1);
    ASSERT_TRUE(c->searchSelection->has_value());
    EXPECT_EQ(c->searchSelection->value().inputID, first);
    EXPECT_EQ(c->selectedID.get(), first);

    test::runTask(c->changeLines(false));
    EXPECT_FALSE(c->preserveLines.get());
    const std::string joined = c->engine->snapshot().inputs[0].editedPages.at(1);
    EXPECT_EQ(joined, OCRProduct::readable(recognised));
    EXPECT_EQ(joined.find('\n'), std::string::npos);
    EXPECT_EQ(c->edited.get(), joined);
}
