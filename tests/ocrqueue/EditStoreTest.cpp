#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>

#include "ControllerFixtures.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr const char* unsavedSentence = QueueController::unsavedSentence;

class EditStore : public ::testing::Test, protected test::ControllerRoots {
protected:
    fs::path queueFile(const QueueController& c) const {
        return c.parent / c.snapshot->value().id.text() / "queue.json";
    }
    QueueSnapshot stored(const QueueController& c) const {
        return OCRQueueEngine::inspect(c.parent / c.snapshot->value().id.text());
    }
    // Waits for the write the typing scheduled.
    static void written(const QueueController& c) {
        EXPECT_TRUE(c.editWritePending());
        EXPECT_TRUE(test::spinUntil([&] { return !c.editWritePending(); }));
    }
};

// "が" as one code point and as "か" with the combining voiced mark.
const std::string composedGa = "\u304C";
const std::string decomposedGa = "\u304B\u3099";

}  // namespace

TEST_F(EditStore, TypingOnARecognisedPageStoresTheTextTheStateAndTheSelection) {
    auto c = controller();
    openRunQueue(*c, {2}, c->currentSettings());
    const UUID id = c->selectedID->value();
    c->page = 2;
    c->showPage();
    const std::string key = c->editorDocumentKey();

    c->editText("直" + test::fixedText(2), TextRange{0, 0}, std::string("直"), false);
    written(*c);
    QueueSnapshot s = stored(*c);
    EXPECT_EQ(s.inputs[0].editedPages.at(2), "直" + test::fixedText(2));
    ASSERT_TRUE(s.editorStates.has_value());
    EXPECT_EQ(s.editorStates->at(key).decoration.text(), "直" + test::fixedText(2));
    EXPECT_EQ(s.selectedInput, id);
    EXPECT_EQ(s.selectedPage, 2);
    EXPECT_EQ(c->snapshot->value().inputs[0].editedPages.at(2), "直" + test::fixedText(2));

    // Typed and taken back: the stored edit follows the text shown.
    c->page = 1;
    c->showPage();
    c->editText(test::fixedText(1) + "x", std::nullopt, std::nullopt, false);
    written(*c);
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), test::fixedText(1) + "x");
    c->editText(test::fixedText(1), std::nullopt, std::nullopt, false);
    written(*c);
    s = stored(*c);
    EXPECT_EQ(s.inputs[0].editedPages.at(1), test::fixedText(1));
    EXPECT_EQ(s.selectedPage, 1);
}

TEST_F(EditStore, ARestoredRecognisedTextWritesNoPageEditButADecomposedOneDoes) {
    auto c = controller();
    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    c->setEdited(test::fixedText(1));
    written(*c);
    QueueSnapshot s = stored(*c);
    EXPECT_TRUE(s.inputs[0].editedPages.empty());
    ASSERT_TRUE(s.editorStates.has_value());
    EXPECT_EQ(s.editorStates->size(), 1u);

    std::string nfd = test::fixedText(1);
    nfd.replace(nfd.find(composedGa), composedGa.size(), decomposedGa);
    c->setEdited(nfd);
    written(*c);
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), nfd);
}

TEST_F(EditStore, NothingIsWrittenForAPageWithoutResultOrWhileThePageIsLoading) {
    auto c = controller();
    openQueue(*c, {{test::writeDocument(tmp / "a.pdf", 1)}}, c->currentSettings(), false);
    c->showPage();
    const std::string before = test::readFile(queueFile(*c));
    c->editText("入力", std::nullopt, std::nullopt, false);
    EXPECT_FALSE(c->editWritePending());
    EXPECT_EQ(test::readFile(queueFile(*c)), before);

    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    const std::string shown = test::readFile(queueFile(*c));
    const OCRDecorationState state = c->currentDecoration();
    c->loadingDecoration = true;
    c->setEdited("読み込み中");
    c->loadingDecoration = false;
    EXPECT_FALSE(c->editWritePending());
    EXPECT_EQ(test::readFile(queueFile(*c)), shown);
    EXPECT_EQ(c->currentDecoration(), state);
}

TEST_F(EditStore, AnAnnotationPageKeepsItsTextInTheEditorStateOnly) {
    auto c = controller();
    openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    c->showPage();
    c->setEdited(test::fixedText(1) + "追記");
    written(*c);
    const QueueSnapshot s = stored(*c);
    EXPECT_TRUE(s.inputs[0].editedPages.empty());
    ASSERT_TRUE(s.editorStates.has_value());
    EXPECT_EQ(s.editorStates->at(c->editorDocumentKey()).decoration.text(), test::fixedText(1) + "追記");
    EXPECT_EQ(s.selectedInput, c->selectedID.get());
}

TEST_F(EditStore, AFailedStoreKeepsTheTextAndTheNextStoreWritesIt) {
    auto c = controller();
    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    const fs::path file = queueFile(*c);
    const std::string good = test::readFile(file);
    // Someone else's write: the engine refuses to overwrite it.
    test::writeFile(file, good + " ");
    c->setEdited(test::fixedText(1) + "。");
    written(*c);
    EXPECT_EQ(c->status.get(), unsavedSentence);
    EXPECT_EQ(c->edited.get(), test::fixedText(1) + "。");
    EXPECT_EQ(c->currentDecoration().text(), test::fixedText(1) + "。");

    test::writeFile(file, good);
    c->applyEdit();
    EXPECT_FALSE(c->editWritePending());
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), test::fixedText(1) + "。");
}

namespace {

// While it lives no file of this process may grow: every write of the
// queue fails with saveFailed, while reading and checking it still work.
class NoFileGrowth {
public:
    NoFileGrowth() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit none{0, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoFileGrowth() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    NoFileGrowth(const NoFileGrowth&) = delete;
    NoFileGrowth& operator=(const NoFileGrowth&) = delete;

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

}  // namespace

TEST_F(EditStore, AStoreTheDiskRefusesStopsItsStepAndKeepsTheTextForTheNextStep) {
    auto c = controller();
    openRunQueue(*c, {2}, c->currentSettings());
    c->showPage();
    const fs::path file = queueFile(*c);
    const std::string before = test::readFile(file);
    const std::string typed = test::fixedText(1) + "。";
    {
        NoFileGrowth full;
        c->editText(typed, std::nullopt, std::nullopt, false);
        // The step cannot make the edit durable, so it does not go on.
        EXPECT_FALSE(c->goPage(2));
        EXPECT_EQ(c->page.get(), 1);
        EXPECT_EQ(test::readFile(file), before);
        EXPECT_TRUE(c->engine->unwritten());
        EXPECT_EQ(c->engine->snapshot().inputs[0].editedPages.at(1), typed);
        EXPECT_EQ(c->edited.get(), typed);

        // The next step writes the queue itself, fails again and stays.
        c->status = "";
        EXPECT_FALSE(c->goPage(2));
        EXPECT_EQ(c->page.get(), 1);
        EXPECT_EQ(test::readFile(file), before);
    }
    // Once the disk takes it, the next step writes what was kept.
    EXPECT_TRUE(c->goPage(2));
    EXPECT_FALSE(c->engine->unwritten());
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), typed);
    // The selection is the page shown, where the queue reopens.
    EXPECT_EQ(stored(*c).selectedPage, 2);
    EXPECT_TRUE(c->goPage(1));
    EXPECT_EQ(stored(*c).selectedPage, 1);
}

namespace {

// The queue's folder as a crash at this instant would leave it: its files
// copied into a folder of the same name elsewhere.
fs::path crashImage(const fs::path& folder, const fs::path& into) {
    const fs::path image = into / folder.filename();
    fs::create_directories(image);
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) fs::copy_file(entry.path(), image / entry.path().filename());
    }
    return image;
}

}  // namespace

TEST_F(EditStore, TheEditOfAPageLeftIsOnDiskWhenThePageSwitchReturns) {
    auto c = controller();
    // A queue of 2000 inputs, so that a write of all of it takes longer
    // than the page switch.
    fs::path folder;
    {
        const auto run = openRunQueue(*c, {3}, c->currentSettings());
        folder = run->directory()->url();
        c->engine.reset();
    }
    test::padQueue(folder, 2000);
    c->engine = OCRQueueEngine::resume(folder, c->currentSettings());
    c->snapshot = c->engine->snapshot();
    c->selectedID = c->snapshot->value().inputs.front().id;
    c->page = 1;
    c->showPage();
    int crashes = 0;
    for (int64_t page : {1, 2, 3, 1}) {
        SCOPED_TRACE("page " + std::to_string(page));
        if (c->page.get() != page) {
            ASSERT_TRUE(c->goPage(page));
        }
        const std::string typed = test::fixedText(page) + "改" + std::to_string(crashes);
        c->editText(typed, std::nullopt, std::nullopt, false);
        ASSERT_TRUE(c->goPage(page % 3 + 1));
        // Read at once, and as a process starting after a crash right now
        // would read it.
        const auto textOf = [&](const QueueSnapshot& s) {
            const auto found = s.inputs[0].editedPages.find(page);
            return found == s.inputs[0].editedPages.end() ? std::string("(no edit)") : found->second;
        };
        EXPECT_EQ(textOf(stored(*c)), typed);
        const fs::path image = crashImage(folder, tmp / ("crash" + std::to_string(crashes++)));
        const QueueSnapshot crashed = OCRQueueEngine::inspect(image);
        EXPECT_EQ(textOf(crashed), typed);
        EXPECT_EQ(crashed.selectedPage, page % 3 + 1);
    }
}

TEST_F(EditStore, ClosingTheWindowFindsTheEditOnDiskWhenItReturns) {
    auto c = controller();
    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    c->editText(test::fixedText(1) + "閉", std::nullopt, std::nullopt, false);
    c->prepareToClose();
    EXPECT_FALSE(c->engine->unwritten());
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), test::fixedText(1) + "閉");

    // And its failure passes on to the window.
    c->editText(test::fixedText(1) + "閉じ", std::nullopt, std::nullopt, false);
    NoFileGrowth full;
    EXPECT_THROW(c->prepareToClose(), BrindlexError);
}

TEST_F(EditStore, TypingIsWrittenOncePerIntervalAndAtOnceByEveryStepThatStores) {
    auto c = controller();
    openRunQueue(*c, {2}, c->currentSettings());
    c->showPage();
    const fs::path file = queueFile(*c);
    const std::string before = test::readFile(file);
    const auto start = std::chrono::steady_clock::now();
    std::string text = test::fixedText(1);
    for (const char* typed : {"あ", "い", "う"}) {
        text += typed;
        c->editText(text, std::nullopt, std::nullopt, false);
    }
    // Kept in memory at once, on disk not yet.
    EXPECT_EQ(c->edited.get(), text);
    EXPECT_EQ(c->currentDecoration().text(), text);
    EXPECT_TRUE(c->hasUnsavedEdits());
    EXPECT_EQ(test::readFile(file), before);
    written(*c);
    EXPECT_GE(std::chrono::steady_clock::now() - start, QueueController::editWriteInterval);
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), text);

    // A step that stores (the page switch, an export, a start) takes the
    // held text at once, on disk when the step goes on.
    c->editText(text + "え", std::nullopt, std::nullopt, false);
    ASSERT_TRUE(c->editWritePending());
    c->applyEdit();
    EXPECT_FALSE(c->editWritePending());
    EXPECT_EQ(c->engine->snapshot().inputs[0].editedPages.at(1), text + "え");
    EXPECT_EQ(stored(*c).inputs[0].editedPages.at(1), text + "え");
    EXPECT_EQ(test::readFile(file), before);

    // Letting go of the queue writes it into the queue it was typed in.
    const fs::path folder = file.parent_path();
    const auto engine = c->engine;
    const UUID id = c->selectedID->value();
    c->editText(text + "か", std::nullopt, std::nullopt, false);
    c->detachQueue();
    EXPECT_FALSE(c->editWritePending());
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), text + "か");
    c->engine = engine;
    c->snapshot = engine->snapshot();
    c->selectedID = id;
    c->showPage();

    // The window closing writes what the interval held back.
    c->editText(text + "お", std::nullopt, std::nullopt, false);
    c.reset();
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), text + "お");
}
