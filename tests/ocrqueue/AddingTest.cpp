#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "PortFakes.hpp"
#include "RunFixtures.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* importingSentence = "原稿を確認中です。完了後に追加してください。";
constexpr const char* privateRule =
    "通常キューへprivate原稿は追加できません。新しいウインドウでメモリ限定の処理一覧を作成してください。";
constexpr const char* openedSentence = "原稿を開きました。「OCRを開始」を押してください。";
constexpr const char* duplicateQuestion = "同じ原稿を別の項目として追加しますか？";
constexpr const char* refusedKinds = "PNG・JPEG・PDFを選んでください。";
constexpr const char* dropLimit = "一度に追加できる上限は5000件です。";
constexpr const char* partialDrop = "一部の入力を読み込めません。追加は行っていません。";

std::string added(std::size_t n) { return std::to_string(n) + "件を末尾へ追加しました。設定は各項目に固定しました。"; }

std::vector<std::string> pathsOf(const QueueController& c) {
    std::vector<std::string> out;
    if (const auto& s = c.snapshot.get()) {
        for (const auto& input : s->inputs) out.push_back(input.path);
    }
    return out;
}

// A dropped item naming the file, or nothing; after a main-loop turn when
// asked, as a platform's drop data arrives.
QueueController::DropItem item(std::optional<fs::path> url, bool afterTurn = false) {
    return [url, afterTurn]() -> Task<std::optional<fs::path>> {
        if (afterTurn) co_await test::oneTurn();
        co_return url;
    };
}

class Adding : public ::testing::Test, protected test::RunRoots {
protected:
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    std::shared_ptr<test::FakeFilePicker> picker = std::make_shared<test::FakeFilePicker>();
    test::PageGate gate;

    // A failed check never leaves a run held at the gate for good.
    Adding() { gate.passOnStop = true; }

    std::shared_ptr<QueueController> portedController(QueuePorts ports = test::fakeRecognition()) {
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        return controller(ports);
    }

    fs::path doc(const std::string& name, int pages = 1) { return test::writeDocument(tmp / name, pages); }

    // Waits until every import has settled.
    static void settle(QueueController& c) { ASSERT_TRUE(test::spinUntil([&] { return !c.importing.get(); })); }

    static void add(QueueController& c, std::vector<fs::path> urls, bool confirm = true) {
        test::runTask(c.appendFiles(std::move(urls), confirm));
        settle(c);
    }

    static void open(QueueController& c, std::vector<fs::path> urls) {
        test::runTask(c.requestSelection(std::move(urls)));
        settle(c);
    }

    // Every drop so far has ended.
    static void dropped(QueueController& c) {
        ASSERT_TRUE(test::spinUntil([&] { return c.dropTask && c.dropTask->done(); }));
        settle(c);
    }
};

}  // namespace

TEST_F(Adding, DuplicatesAreAskedAboutOnceAndDecideForTheWholeCall) {
    auto c = portedController();
    const fs::path a = doc("が.pdf"), b = doc("b.pdf"), fresh = doc("c.pdf");
    open(*c, {a, b});
    ASSERT_EQ(pathsOf(*c).size(), 2u);
    ASSERT_TRUE(c->managedQueue.get());

    // Two of three are queued: one question, and "取消" adds none.
    const std::string before = c->status.get();
    confirmer->answers = {false};
    add(*c, {a, fresh, b});
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, duplicateQuestion);
    EXPECT_EQ(confirmer->asked[0].informative, "");
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "追加");
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    EXPECT_EQ(c->status.get(), before);

    // "追加" adds all three, each duplicate an item of its own.
    confirmer->answers = {true};
    add(*c, {a, fresh, b});
    EXPECT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{a, b, a, fresh, b}));
    std::set<UUID> ids;
    for (const auto& input : c->snapshot->value().inputs) ids.insert(input.id);
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(c->status.get(), added(3));

    // Without the check nobody is asked.
    add(*c, {fresh}, false);
    EXPECT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(pathsOf(*c).size(), 6u);

    // The decomposed spelling of a queued name is the same original.
    const std::string decomposed = (tmp / "か\u3099.pdf").string();
    ASSERT_NE(decomposed, a.string());
    test::writeDocument(decomposed, 1);
    confirmer->answers = {false};
    add(*c, {fs::path(decomposed)});
    EXPECT_EQ(confirmer->asked.size(), 3u);
    EXPECT_EQ(pathsOf(*c).size(), 6u);
}

TEST_F(Adding, AFileGivenTwiceInOneChoiceOrDropIsAskedAboutAsADuplicate) {
    auto c = portedController();
    const fs::path a = doc("a.pdf"), b = doc("b.pdf");
    // Chosen twice in the open panel: asked, and "取消" opens nothing.
    picker->files = {a, b, a};
    confirmer->answers = {false};
    test::runTask(c->choose());
    settle(*c);
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, duplicateQuestion);
    EXPECT_FALSE(c->engine);

    // Dropped twice with no queue open: "追加" makes two items of it.
    confirmer->answers = {true};
    EXPECT_TRUE(c->receiveDrop({item(b), item(b)}));
    dropped(*c);
    EXPECT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{b, b}));
}

TEST_F(Adding, AFileThatWouldFailWhenRunIsRefusedAtAdding) {
    auto c = portedController();
    const fs::path a = doc("a.pdf"), b = doc("b.pdf");
    open(*c, {a, b});
    const auto saved = c->savedQueues.get();
    // A real document of many pages cut off part way, as an interrupted
    // download leaves it.
    const fs::path whole = tmp / "manual.pdf";
    test::writePDF(whole, std::vector<test::PageSize>(40, test::PageSize{595, 842}), [](cairo_t* cr, int page, test::PageSize) {
        for (int i = 0; i < 60; ++i) cairo_rectangle(cr, 20 + (i * 37 + page * 11) % 500, 20 + (i * 53) % 780, 3, 2);
        cairo_fill(cr);
    });
    const std::string bytes = test::readFile(whole);
    ASSERT_GT(bytes.size(), 20000u);
    test::writeFile(tmp / "cut.pdf", bytes.substr(0, 20000));

    // Refused with the opening's sentence, naming the file; nothing is
    // added and the duplicate is not even asked about.
    add(*c, {a, doc("c.pdf"), tmp / "cut.pdf"});
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{a, b}));
    EXPECT_EQ(c->status.get(), std::string("cut.pdf：") + BrindlexError::message(ErrorCase::invalidInput));
    EXPECT_EQ(c->refusedStatus.get(), c->status.get());
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->savedQueues.get(), saved);
    add(*c, {tmp / "cut.pdf"});
    EXPECT_EQ(c->status.get(), std::string("cut.pdf：") + BrindlexError::message(ErrorCase::invalidInput));
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    // With no queue open, no queue is made of it either.
    auto d = portedController();
    add(*d, {tmp / "cut.pdf"});
    EXPECT_FALSE(d->engine);
    EXPECT_EQ(d->status.get(), std::string("cut.pdf：") + BrindlexError::message(ErrorCase::invalidInput));
}

TEST_F(Adding, AnAdditionWaitsItsTurnAndRefusesAnotherMeanwhile) {
    auto c = portedController();
    open(*c, {doc("a.pdf"), doc("b.pdf")});
    const fs::path third = doc("c.pdf"), fourth = doc("d.pdf");

    // An opening still ahead in the chain holds the addition back.
    auto ahead = std::make_shared<QueueController::Completion>();
    c->importTask = ahead;
    test::runTask(c->appendFiles({third}, true));
    EXPECT_TRUE(c->importing.get());
    test::runTask(c->appendFiles({fourth}, true));
    EXPECT_EQ(c->status.get(), importingSentence);
    EXPECT_EQ(pathsOf(*c).size(), 2u);

    ahead->finish();
    settle(*c);
    EXPECT_EQ(pathsOf(*c).size(), 3u);
    EXPECT_EQ(c->status.get(), added(1));
    EXPECT_TRUE(c->importTask->done());
}

TEST_F(Adding, PrivateOriginalsStayOutOfASavedQueue) {
    auto c = portedController();
    open(*c, {doc("a.pdf"), doc("b.pdf")});
    ASSERT_TRUE(c->snapshot->value().persistent());
    c->privateInput = true;
    add(*c, {doc("secret.pdf")});
    EXPECT_EQ(c->status.get(), privateRule);
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    EXPECT_FALSE(c->importing.get());

    // A queue that already holds a private original takes more.
    auto p = portedController();
    p->privateInput = true;
    open(*p, {doc("x.pdf")});
    ASSERT_TRUE(p->isPrivateQueue());
    add(*p, {doc("y.pdf")});
    EXPECT_EQ(p->status.get(), added(1));
    EXPECT_EQ(p->snapshot->value().inputs[1].origin, InputOrigin::privateSession);
}

TEST_F(Adding, WithNoQueueOpenTheFilesOpenAsAManagedQueue) {
    auto c = portedController();
    c->nextProductDefaults = ProductDefaults{};
    c->nextProductDefaults->ocrMode = OCRMode::vertical;
    add(*c, {doc("one.pdf")});
    ASSERT_TRUE(c->engine);
    EXPECT_EQ(c->status.get(), openedSentence);
    EXPECT_TRUE(c->managedQueue.get());
    EXPECT_TRUE(c->processingList.get());
    EXPECT_EQ(pathsOf(*c).size(), 1u);
    // The opening applies the waiting defaults, once.
    EXPECT_EQ(c->snapshot->value().settings.mode, OCRMode::vertical);
    EXPECT_FALSE(c->nextProductDefaults.has_value());

    // Another kind of file, with no queue open, is refused by the opening.
    auto d = portedController();
    const fs::path note = tmp / "note.txt";
    test::writeFile(note, "メモ");
    add(*d, {doc("two.pdf"), note});
    EXPECT_EQ(d->status.get(), std::string("note.txt：") + refusedKinds);
    EXPECT_FALSE(d->engine);
}

TEST_F(Adding, EachAdditionKeepsTheSettingsOfItsMoment) {
    auto c = portedController();
    open(*c, {doc("a.pdf"), doc("b.pdf")});
    c->recognitionMode = OCRMode::vertical;
    c->preserveLines = false;
    add(*c, {doc("v1.pdf"), doc("v2.pdf")});
    EXPECT_EQ(c->status.get(), added(2));
    c->recognitionMode = OCRMode::standard;
    c->preserveLines = true;
    add(*c, {doc("s.pdf")});
    EXPECT_EQ(c->status.get(), added(1));

    // Waiting product defaults describe new work: read, and left waiting.
    ProductDefaults defaults;
    defaults.ocrMode = OCRMode::handwriting;
    defaults.pageSeparators = false;
    defaults.ocrAutoSave = true;
    c->nextProductDefaults = defaults;
    add(*c, {doc("h.pdf")});
    EXPECT_TRUE(c->nextProductDefaults.has_value());
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::standard);

    const auto& inputs = c->snapshot->value().inputs;
    ASSERT_EQ(inputs.size(), 6u);
    for (std::size_t i : {2u, 3u}) {
        ASSERT_TRUE(inputs[i].settings);
        EXPECT_EQ(inputs[i].settings->mode, OCRMode::vertical);
        EXPECT_EQ(inputs[i].settings->engineVersion, "vertical-reflow-r1");
        EXPECT_FALSE(inputs[i].presentation->preserveLines);
    }
    EXPECT_EQ(inputs[4].settings->mode, OCRMode::standard);
    EXPECT_EQ(inputs[4].settings->engineVersion, OCRSettings().engineVersion);
    EXPECT_TRUE(inputs[4].presentation->preserveLines);
    EXPECT_EQ(inputs[5].settings->mode, OCRMode::handwriting);
    EXPECT_EQ(inputs[5].settings->engineVersion, AnnotationOCR::version);
    EXPECT_EQ(inputs[5].presentation, QueuePresentation(true, false, true, false, true));
}

TEST_F(Adding, TheCallFixesItsQueueAndSettingsBeforeTheFilesAreRead) {
    auto c = portedController();
    open(*c, {doc("a.pdf"), doc("b.pdf")});
    c->recognitionMode = OCRMode::vertical;
    c->languageCorrection = false;
    c->preserveLines = false;
    // Adds the file with `meanwhile` queued in the turn that starts the call:
    // it runs once the check is on its worker, before its answer is back.
    auto addWhileChecking = [&](const fs::path& file, const std::function<void()>& meanwhile) {
        bool checking = false;
        test::Spawned<void> call(c->appendFiles({file}, true));
        detail::onMainContext([&] {
            checking = c->importing.get();
            meanwhile();
        });
        ASSERT_TRUE(call.finish());
        EXPECT_TRUE(checking);
        settle(*c);
    };

    // Toggled while the files are read: the item keeps what the call saw.
    addWhileChecking(doc("c.pdf"), [&] {
        c->recognitionMode = OCRMode::standard;
        c->languageCorrection = true;
        c->preserveLines = true;
    });
    EXPECT_EQ(c->status.get(), added(1));
    const QueueInput& kept = c->snapshot->value().inputs.at(2);
    EXPECT_EQ(kept.settings->mode, OCRMode::vertical);
    EXPECT_FALSE(kept.settings->languageCorrection);
    EXPECT_FALSE(kept.presentation->preserveLines);

    // The queue is replaced while the files are read: they go to neither
    // queue, and the window says so.
    const std::shared_ptr<OCRQueueEngine> old = c->engine;
    const fs::path other = doc("other.pdf");
    addWhileChecking(doc("d.pdf"), [&] { c->select({other}, nullptr); });
    ASSERT_NE(c->engine, old);
    EXPECT_EQ(old->snapshot().inputs.size(), 3u);
    EXPECT_EQ(pathsOf(*c), std::vector<std::string>{other.string()});
    EXPECT_EQ(c->status.get(), "確認中に処理一覧が替わったため、追加は行っていません。");
}

TEST_F(Adding, TheQueueLimitIsTheEnginesAndClearsTheFlag) {
    auto c = portedController();
    std::vector<OCRQueueEngine::InputFile> files;
    for (int i = 0; i < 4999; ++i) files.push_back({tmp / "gone" / (std::to_string(i) + ".png")});
    openQueue(*c, files, c->currentSettings(), false);
    add(*c, {doc("a.pdf"), doc("b.pdf")});
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::budgetExceeded));
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->engine->snapshot().inputs.size(), 4999u);
    add(*c, {doc("c.pdf")});
    EXPECT_EQ(c->status.get(), added(1));
}

TEST_F(Adding, AdditionsDuringARunAndToAReplacedQueue) {
    auto c = portedController(gate.ports());
    open(*c, {doc("a.pdf", 2), doc("b.pdf")});
    test::runTask(c->start());
    ASSERT_TRUE(c->busy.get());
    ASSERT_TRUE(gate.held(1));
    add(*c, {doc("late.pdf")});
    EXPECT_EQ(c->status.get(), added(1));
    EXPECT_EQ(pathsOf(*c).size(), 3u);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    for (const auto& input : c->snapshot->value().inputs) EXPECT_EQ(input.status, InputStatus::completed);

    // The window opens other originals while an addition waits: the
    // addition goes to the queue it was made for, and the window's queue
    // and sentence stay.
    auto ahead = std::make_shared<QueueController::Completion>();
    c->importTask = ahead;
    const std::shared_ptr<OCRQueueEngine> old = c->engine;
    test::runTask(c->appendFiles({doc("x.pdf")}, true));
    c->select({doc("other.pdf")}, nullptr);
    ASSERT_NE(c->engine, old);
    const QueueSnapshot replaced = c->snapshot->value();
    ahead->finish();
    settle(*c);
    EXPECT_EQ(old->snapshot().inputs.size(), 4u);
    EXPECT_EQ(c->snapshot->value(), replaced);
    EXPECT_EQ(c->status.get(), openedSentence);
}

TEST_F(Adding, TheAddPanelOffersOriginalsAndAddsWhatIsChosen) {
    auto c = portedController();
    open(*c, {doc("a.pdf"), doc("b.pdf")});
    picker->files = {};
    test::runTask(c->chooseAdditional());
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    picker->afterTurn = true;
    picker->files = {doc("c.pdf")};
    test::runTask(c->chooseAdditional());
    settle(*c);
    ASSERT_EQ(picker->openRequests.size(), 2u);
    EXPECT_TRUE(picker->openRequests[0].first);
    EXPECT_EQ(picker->openRequests[0].second, (std::vector<FileKind>{FileKind::png, FileKind::jpeg, FileKind::pdf}));
    EXPECT_EQ(pathsOf(*c).size(), 3u);
}

// ---- drops

TEST_F(Adding, ADropTakesUpTo5000ItemsAndAllOrNothing) {
    auto c = portedController();
    EXPECT_FALSE(c->receiveDrop({}));
    EXPECT_EQ(c->status.get(), dropLimit);

    // 5001 names of one small image: each is read before it is added.
    const fs::path image = tmp / "dropped" / "0.png";
    fs::create_directories(image.parent_path());
    test::writePNG(image, 4, 4, 3, [](int, uint8_t* row) { std::fill(row, row + 12, uint8_t{255}); });
    std::vector<QueueController::DropItem> many;
    for (int i = 0; i < 5001; ++i) {
        const fs::path name = image.parent_path() / (std::to_string(i) + ".png");
        if (i > 0) fs::create_hard_link(image, name);
        many.push_back(item(name));
    }
    c->status = "";
    EXPECT_FALSE(c->receiveDrop(many));
    EXPECT_EQ(c->status.get(), dropLimit);
    EXPECT_FALSE(c->dropTask);
    many.pop_back();
    EXPECT_TRUE(c->receiveDrop(many));
    dropped(*c);
    EXPECT_EQ(pathsOf(*c).size(), 5000u);
    EXPECT_TRUE(c->managedQueue.get());

    // One item without a file: nothing happens but the sentence.
    auto d = portedController();
    EXPECT_TRUE(d->receiveDrop({item(doc("a.pdf")), item(std::nullopt, true), item(doc("b.pdf"))}));
    dropped(*d);
    EXPECT_EQ(d->status.get(), partialDrop);
    EXPECT_FALSE(d->engine);
    EXPECT_FALSE(d->processingList.get());
}

TEST_F(Adding, OneDroppedFileReplacesTheQueueUnlessAListIsShownOrARunGoesOn) {
    auto c = portedController(gate.ports());
    open(*c, {doc("a.pdf", 2)});
    ASSERT_FALSE(c->processingList.get());
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));

    // During a run: appended.
    EXPECT_TRUE(c->receiveDrop({item(doc("b.pdf"), true)}));
    dropped(*c);
    EXPECT_EQ(c->status.get(), added(1));
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));

    // Idle, no list shown, with unsaved edits: the opening's question first.
    ASSERT_TRUE(c->processingList.get());
    c->processingList = false;
    c->selectedID = c->snapshot->value().inputs[0].id;
    c->page = 1;
    c->showPage();
    c->editText("直した" + c->edited.get(), TextRange{0, 0}, std::string("直した"), false);
    ASSERT_TRUE(c->hasUnsavedEdits());
    const fs::path replacement = doc("c.pdf");
    confirmer->answers = {false};
    EXPECT_TRUE(c->receiveDrop({item(replacement)}));
    dropped(*c);
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, "別の原稿を開きますか？");
    EXPECT_EQ(pathsOf(*c).size(), 2u);
    confirmer->answers = {true};
    EXPECT_TRUE(c->receiveDrop({item(replacement)}));
    dropped(*c);
    EXPECT_EQ(pathsOf(*c), std::vector<std::string>{replacement.string()});
    EXPECT_EQ(c->status.get(), openedSentence);

    // With the list shown: appended, the duplicate asked about.
    c->processingList = true;
    confirmer->answers = {true};
    EXPECT_TRUE(c->receiveDrop({item(replacement)}));
    dropped(*c);
    EXPECT_EQ(confirmer->asked.size(), 3u);
    EXPECT_EQ(pathsOf(*c).size(), 2u);
}

TEST_F(Adding, SeveralDroppedFilesGoToTheEndAndDropsTakeTurns) {
    auto c = portedController();
    const fs::path note = tmp / "note.txt";
    test::writeFile(note, "メモ");
    // Onto no queue: the opening refuses a text file.
    EXPECT_TRUE(c->receiveDrop({item(doc("a.pdf")), item(note)}));
    dropped(*c);
    EXPECT_EQ(c->status.get(), std::string("note.txt：") + refusedKinds);
    EXPECT_FALSE(c->engine);

    // Two drops at once: the second is handled after the first one's
    // opening, so it adds to that queue instead of meeting the import.
    EXPECT_TRUE(c->receiveDrop({item(doc("first.pdf"), true)}));
    EXPECT_TRUE(c->receiveDrop({item(doc("second.pdf")), item(note, true)}));
    dropped(*c);
    // Onto an open queue, a file of another kind is refused as well: it
    // would only fail when the run reached it.
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{tmp / "first.pdf"}));
    EXPECT_EQ(c->status.get(), std::string("note.txt：") + refusedKinds);
    EXPECT_TRUE(c->receiveDrop({item(doc("second.pdf")), item(doc("third.pdf"), true)}));
    dropped(*c);
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{tmp / "first.pdf", tmp / "second.pdf", tmp / "third.pdf"}));
    EXPECT_EQ(c->status.get(), added(2));
}

// ---- folder listings

TEST_F(Adding, AFolderIsListedForReview) {
    auto c = portedController();
    const fs::path folder = tmp / "scans";
    fs::create_directories(folder / "inner");
    doc("scans/p10.pdf");
    doc("scans/p9.pdf");
    doc("scans/inner/deep.pdf");
    test::writeFile(folder / "readme.txt", "x");
    picker->folder = folder;
    test::runTask(c->chooseFolder());
    EXPECT_EQ(picker->folderRequests, 1);
    EXPECT_FALSE(c->folderListing.get());
    EXPECT_EQ(c->folderCandidates.get(), (std::vector<fs::path>{folder / "p9.pdf", folder / "p10.pdf"}));
    EXPECT_EQ(c->status.get(), "2件の一覧を確認してから追加してください。");

    c->folderRecursive = true;
    test::runTask(c->chooseFolder());
    EXPECT_EQ(c->folderCandidates->size(), 3u);
    EXPECT_EQ(c->status.get(), "3件の一覧を確認してから追加してください。");

    // Nothing chosen: nothing changes.
    picker->folder = std::nullopt;
    test::runTask(c->chooseFolder());
    EXPECT_EQ(c->folderCandidates->size(), 3u);

    // The reviewed list is added as chosen files are.
    add(*c, c->folderCandidates.get());
    EXPECT_EQ(pathsOf(*c).size(), 3u);

    // No originals: zero and an empty list.
    fs::create_directories(tmp / "empty");
    test::writeFile(tmp / "empty" / "a.txt", "x");
    picker->folder = tmp / "empty";
    test::runTask(c->chooseFolder());
    EXPECT_TRUE(c->folderCandidates->empty());
    EXPECT_EQ(c->status.get(), "0件の一覧を確認してから追加してください。");

    // A file is no folder: the listing's error.
    picker->folder = tmp / "scans" / "p9.pdf";
    test::runTask(c->chooseFolder());
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::unsafePath));
}

TEST_F(Adding, AFolderListGoesWithTheQueueItWasChosenFor) {
    auto c = portedController();
    fs::create_directories(tmp / "scans");
    doc("scans/a.pdf");
    doc("scans/b.pdf");
    open(*c, {doc("first.pdf")});
    picker->folder = tmp / "scans";
    test::runTask(c->chooseFolder());
    ASSERT_EQ(c->folderCandidates->size(), 2u);

    // Another file opened replaces the queue: its pending list goes too,
    // and nothing of it can be added to the new queue.
    open(*c, {doc("second.pdf")});
    EXPECT_TRUE(c->folderCandidates->empty());
    EXPECT_FALSE(c->folderListing.get());
    EXPECT_EQ(pathsOf(*c), (std::vector<std::string>{(tmp / "second.pdf").string()}));
}

TEST_F(Adding, AStoppedListingEndsWithoutCandidatesAndListingWorksDuringARun) {
    auto c = portedController(gate.ports());
    const fs::path folder = tmp / "scans";
    fs::create_directories(folder);
    doc("scans/a.pdf");
    picker->folder = folder;
    // Stopped the moment it begins, before the walk has looked at a file.
    bool stopped = false;
    sigc::connection stopper = c->changed.connect([&] {
        if (c->folderListing.get() && !stopped) {
            stopped = true;
            c->stopFolder();
        }
    });
    test::runTask(c->chooseFolder());
    stopper.disconnect();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::cancelled));
    EXPECT_TRUE(c->folderCandidates->empty());
    EXPECT_FALSE(c->folderListing.get());

    open(*c, {doc("run.pdf", 2)});
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    test::runTask(c->chooseFolder());
    EXPECT_EQ(c->folderCandidates->size(), 1u);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
}

TEST_F(Adding, ANewerListingStopsTheOlderAndAloneSpeaks) {
    auto c = portedController();
    fs::create_directories(tmp / "one");
    fs::create_directories(tmp / "two");
    doc("one/a.pdf");
    doc("two/b.pdf");
    doc("two/c.pdf");
    picker->afterTurn = true;
    picker->folder = tmp / "one";
    auto first = std::make_shared<test::Outcome<void>>();
    spawn(test::collect(c->chooseFolder(), first));
    ASSERT_TRUE(test::spinUntil([&] { return c->folderListing.get(); }));
    const std::shared_ptr<JobControl> older = c->folderControl;
    picker->folder = tmp / "two";
    test::runTask(c->chooseFolder());
    ASSERT_TRUE(test::spinUntil([&] { return first->finished; }));
    EXPECT_EQ(older->stop(), JobControl::Stop::cancel);
    EXPECT_EQ(c->folderCandidates.get(), (std::vector<fs::path>{tmp / "two" / "b.pdf", tmp / "two" / "c.pdf"}));
    EXPECT_EQ(c->status.get(), "2件の一覧を確認してから追加してください。");
    EXPECT_FALSE(c->folderListing.get());
}
