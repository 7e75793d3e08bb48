#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "QueueFixtures.hpp"
#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/StateLease.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

std::vector<PageState> pageStates(const QueueInput& in) {
    std::vector<PageState> out;
    for (const auto& r : in.pages) out.push_back(r.state);
    return out;
}

uint64_t inodeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
}

void editQueueFile(const fs::path& folder, const std::function<void(QueueSnapshot&)>& change) {
    QueueSnapshot s = OCRQueueEngine::inspect(folder);
    change(s);
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, JSON::encode(QueueEnvelope::seal(s)));
}

std::vector<uint8_t> bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

constexpr auto completed = PageState::completed;
constexpr auto pending = PageState::pending;
constexpr auto cancelled = PageState::cancelled;
constexpr auto failed = PageState::failed;

class QueueEdit : public ::testing::Test {
protected:
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    test::FakeRecognizer fake;

    void SetUp() override { WorkerBudget::shared().setBytes(int64_t{1} << 30); }

    std::unique_ptr<OCRQueueEngine> make(const std::vector<OCRQueueEngine::InputFile>& files, bool withFolder = true) {
        auto engine = OCRQueueEngine::create(files, test::currentSettings(),
                                             withFolder ? std::optional<fs::path>(tmp / "queues") : std::nullopt);
        engine->setRecognizer(fake.bind());
        return engine;
    }

    // Runs the queue, pausing it once `until` holds for a progress report.
    void run(OCRQueueEngine& engine, const std::map<UUID, std::set<int64_t>>& failPages = {},
             const std::function<bool(const QueueSnapshot&)>& until = nullptr) {
        JobControl control;
        engine.run(control, false, {}, failPages, [&](const QueueSnapshot& s) {
            if (until && until(s)) control.request(JobControl::Stop::pause);
        });
    }
    // Runs until the queue has that many completed pages.
    void runPages(OCRQueueEngine& engine, int64_t pages) {
        run(engine, {}, [pages](const QueueSnapshot& s) { return s.completedPages() >= pages; });
    }

    std::string queueFile(const OCRQueueEngine& engine) const {
        return test::readFile(engine.directory()->url() / "queue.json");
    }
    Checkpoint checkpointOf(const OCRQueueEngine& engine, const QueueInput& input) const {
        return CheckpointFile::read(SecureDirectory(OCRQueueEngine::jobFolder(engine.directory()->url(), *input.attemptID), false));
    }
    std::unique_ptr<OCRQueueEngine> reopen(const OCRQueueEngine& engine) {
        auto again = OCRQueueEngine::resume(engine.directory()->url(), test::currentSettings());
        again->setRecognizer(fake.bind());
        return again;
    }
};

}  // namespace

TEST_F(QueueEdit, AReChosenFileWithTheSameBytesTakesOverItsInputAndItsJob) {
    const fs::path doc = test::writeWidePDF(tmp / "doc.pdf", 3, 300);
    auto engine = make({{doc}});
    const UUID id = engine->snapshot().inputs[0].id;
    runPages(*engine, 1);
    const QueueSnapshot before = engine->snapshot();
    ASSERT_EQ(pageStates(before.inputs[0]), (std::vector<PageState>{completed, pending, pending}));
    const std::string file = queueFile(*engine);

    // One byte more is another document; no file, nothing at all.
    const fs::path changed = tmp / "changed.pdf";
    test::writeFile(changed, test::readFile(doc) + "\n");
    EXPECT_EQ(caseOf([&] { engine->reselect(id, changed); }), ErrorCase::sourceChanged);
    EXPECT_EQ(caseOf([&] { engine->reselect(UUID::random(), doc); }), ErrorCase::sourceChanged);
    engine->reselect(id, std::nullopt);
    EXPECT_EQ(engine->snapshot(), before);
    EXPECT_EQ(queueFile(*engine), file);

    fs::create_directories(tmp / "moved");
    const fs::path moved = tmp / "moved" / "doc.pdf";
    fs::rename(doc, moved);
    EXPECT_EQ(caseOf([&] { engine->reselect(id, doc); }), ErrorCase::sourceMissing);
    engine->reselect(id, moved);
    const QueueInput after = engine->snapshot().inputs[0];
    EXPECT_EQ(after.path, moved.string());
    EXPECT_EQ(after.source->path, moved.string());
    EXPECT_EQ(after.status, InputStatus::pending);
    EXPECT_FALSE(after.error);
    EXPECT_EQ(after.attemptID, before.inputs[0].attemptID);
    EXPECT_EQ(after.pages, before.inputs[0].pages);
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()), engine->snapshot());

    // The view shows the finished page (reopening the job), and the next run
    // reads the rest from the new place.
    EXPECT_EQ(engine->result(id, 1)->text(), test::fakeText(moved, 1));
    run(*engine);
    const QueueInput done = engine->snapshot().inputs[0];
    EXPECT_EQ(done.status, InputStatus::completed);
    EXPECT_EQ(pageStates(done), (std::vector<PageState>{completed, completed, completed}));
    EXPECT_EQ(fake.count(), 3u);
    EXPECT_EQ(checkpointOf(*engine, done).source.path, moved.string());
}

TEST_F(QueueEdit, AQueueInMemoryKeepsItsResultsThroughAReChoice) {
    const fs::path doc = test::writeWidePDF(tmp / "doc.pdf", 3, 300);
    auto engine = make({{doc}}, false);
    const UUID id = engine->snapshot().inputs[0].id;
    runPages(*engine, 1);
    const fs::path moved = tmp / "again.pdf";
    fs::rename(doc, moved);
    engine->reselect(id, moved);
    EXPECT_EQ(engine->result(id, 1)->text(), test::fakeText(moved, 1));
    run(*engine);
    EXPECT_EQ(engine->snapshot().inputs[0].status, InputStatus::completed);
    // Only the two pages left were recognised, from the new file.
    EXPECT_EQ(fake.count(), 3u);
    EXPECT_EQ(engine->result(id, 3)->text(), test::fakeText(moved, 3));
}

TEST_F(QueueEdit, ACancelledInputKeepsItsFinishedPagesAndItsJobAgrees) {
    const fs::path a = test::writeSamplePDF(tmp / "a.pdf", 3);
    const fs::path b = test::writeSamplePDF(tmp / "b.pdf", 3);
    const fs::path empty = test::writeEmptyPDF(tmp / "empty.pdf");
    const fs::path locked = test::lockPDF(test::writeSamplePDF(tmp / "plain.pdf", 1), tmp / "locked.pdf", "pw");
    auto engine = make({{a}, {b}, {empty}, {locked}});
    const QueueSnapshot s = engine->snapshot();
    runPages(*engine, 1);

    // A queue just reopened has no job open: the job is reopened, and its
    // finished page stays in the queue, the text and the checkpoint.
    auto reopened = reopen(*engine);
    reopened->cancelInput(s.inputs[0].id);
    QueueInput in = reopened->snapshot().inputs[0];
    EXPECT_EQ(in.status, InputStatus::cancelled);
    EXPECT_EQ(in.error, ErrorCase::cancelled);
    EXPECT_EQ(pageStates(in), (std::vector<PageState>{completed, cancelled, cancelled}));
    EXPECT_EQ(checkpointOf(*reopened, in).pages, in.pages);
    EXPECT_EQ(reopened->result(in.id, 1)->text(), test::fakeText(a, 1));

    // Never started: one cancelled record per page, none for no pages, and
    // only the status for a file never read.
    reopened->cancelInput(s.inputs[1].id);
    reopened->cancelInput(s.inputs[2].id);
    reopened->cancelInput(s.inputs[3].id);
    const QueueSnapshot after = reopened->snapshot();
    EXPECT_EQ(pageStates(after.inputs[1]), (std::vector<PageState>{cancelled, cancelled, cancelled}));
    EXPECT_FALSE(after.inputs[1].pages[0].checksum);
    EXPECT_TRUE(after.inputs[2].pages.empty());
    EXPECT_TRUE(after.inputs[3].pages.empty());
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(after.inputs[i].status, InputStatus::cancelled);
        EXPECT_EQ(after.inputs[i].error, ErrorCase::cancelled);
    }
    EXPECT_EQ(OCRQueueEngine::inspect(reopened->directory()->url()), after);
    EXPECT_EQ(caseOf([&] { reopened->cancelInput(UUID::random()); }), ErrorCase::navigationBusy);

    // With its job open in this process.
    auto other = make({{test::writeSamplePDF(tmp / "c.pdf", 2)}});
    runPages(*other, 1);
    other->cancelInput(other->snapshot().inputs[0].id);
    in = other->snapshot().inputs[0];
    EXPECT_EQ(pageStates(in), (std::vector<PageState>{completed, cancelled}));
    EXPECT_EQ(checkpointOf(*other, in).pages, in.pages);

    // A job that can no longer be reopened is left as it is; the input is
    // given up whole.
    auto broken = reopen(*other);
    const fs::path checkpoint =
        OCRQueueEngine::jobFolder(broken->directory()->url(), *in.attemptID) / "checkpoint.json";
    test::writeFile(checkpoint, "{}");
    broken->cancelInput(in.id);
    EXPECT_EQ(pageStates(broken->snapshot().inputs[0]), (std::vector<PageState>{cancelled, cancelled}));
    EXPECT_EQ(test::readFile(checkpoint), "{}");
}

TEST_F(QueueEdit, AppendKeepsToItsLimitAndNeverMixesAPrivateFileIntoASavedQueue) {
    std::vector<OCRQueueEngine::InputFile> many;
    for (int i = 0; i < 4990; ++i) many.push_back({tmp / ("missing-" + std::to_string(i) + ".png")});
    auto engine = make(many);
    const QueueSnapshot before = engine->snapshot();
    const std::string file = queueFile(*engine);
    auto files = [&](int n, InputOrigin origin = InputOrigin::normal) {
        std::vector<OCRQueueEngine::InputFile> out;
        for (int i = 0; i < n; ++i) out.push_back({tmp / ("more-" + std::to_string(i) + ".png"), origin});
        return out;
    };
    const QueuePresentation shown(false, true, false, false, true);

    EXPECT_EQ(caseOf([&] { engine->append(files(11), test::currentSettings(), shown); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([&] { engine->append({}, test::currentSettings(), shown); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(caseOf([&] { engine->append(files(1, InputOrigin::privateSession), test::currentSettings(), shown); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(engine->snapshot(), before);
    EXPECT_EQ(queueFile(*engine), file);

    engine->append(files(10), test::currentSettings(), shown);
    const QueueSnapshot after = engine->snapshot();
    ASSERT_EQ(after.inputs.size(), 5000u);
    EXPECT_EQ(after.inputs.back().path, (tmp / "more-9.png").string());
    EXPECT_EQ(after.inputs.back().presentation, shown);
    EXPECT_EQ(after.inputs.back().settings, test::currentSettings());
    EXPECT_EQ(after.status, QueueStatus::ready);
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()), after);

    // A queue that already holds a private file takes both kinds.
    auto privateQueue = make({{test::writeSamplePNG(tmp / "p.png"), InputOrigin::privateSession}});
    privateQueue->append(files(1, InputOrigin::privateSession), test::currentSettings(), std::nullopt);
    privateQueue->append(files(1), test::currentSettings(), std::nullopt);
    EXPECT_EQ(privateQueue->snapshot().inputs.size(), 3u);
    EXPECT_FALSE(privateQueue->directory());
}

TEST_F(QueueEdit, MoveEditAndRestartFollowTheirRules) {
    const fs::path a = test::writeSamplePDF(tmp / "a.pdf", 2);
    std::vector<OCRQueueEngine::InputFile> files{{a}};
    for (const char* name : {"b.png", "c.png", "d.png"}) files.push_back({test::writeSamplePNG(tmp / name)});
    auto engine = make(files);
    const QueueSnapshot s = engine->snapshot();
    const UUID ida = s.inputs[0].id, idb = s.inputs[1].id, idc = s.inputs[2].id, idd = s.inputs[3].id;
    run(*engine, {{ida, {2}}}, [&](const QueueSnapshot& q) { return q.inputs[0].status == InputStatus::completed; });
    ASSERT_EQ(pageStates(engine->snapshot().inputs[0]), (std::vector<PageState>{completed, failed}));
    auto order = [&] {
        std::vector<UUID> out;
        for (const auto& in : engine->snapshot().inputs) out.push_back(in.id);
        return out;
    };
    const fs::path queueJSON = engine->directory()->url() / "queue.json";

    // Onto a started neighbour, or past the end: nothing moves, but the
    // queue is written all the same.
    uint64_t inode = inodeOf(queueJSON);
    engine->move(idb, -1);
    engine->move(idd, 1);
    EXPECT_EQ(order(), (std::vector<UUID>{ida, idb, idc, idd}));
    EXPECT_NE(inodeOf(queueJSON), inode);
    engine->move(idb, 2);
    EXPECT_EQ(order(), (std::vector<UUID>{ida, idd, idc, idb}));
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()).inputs[1].id, idd);
    EXPECT_EQ(caseOf([&] { engine->move(ida, 1); }), ErrorCase::navigationBusy);
    EXPECT_EQ(caseOf([&] { engine->move(UUID::random(), 1); }), ErrorCase::navigationBusy);

    // Only a completed page takes the user's text; the last one wins.
    EXPECT_EQ(caseOf([&] { engine->edit(ida, 2, "失敗した頁"); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->edit(idb, 1, "まだの頁"); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->edit(UUID::random(), 1, "x"); }), ErrorCase::invalidInput);
    engine->edit(ida, 1, "一度目");
    engine->edit(ida, 1, "二度目");
    EXPECT_EQ(engine->snapshot().inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "二度目"}}));
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()).inputs[0].editedPages.at(1), "二度目");

    // A new queue of the same files beside this one, which stays as it is.
    const std::string file = test::readFile(queueJSON);
    auto fresh = engine->restart(tmp / "queues");
    ASSERT_TRUE(fresh->directory());
    EXPECT_EQ(fresh->directory()->url().parent_path(), engine->directory()->url().parent_path());
    const QueueSnapshot n = fresh->snapshot();
    EXPECT_NE(n.id, engine->snapshot().id);
    ASSERT_EQ(n.inputs.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(n.inputs[i].path, engine->snapshot().inputs[i].path);
        EXPECT_NE(n.inputs[i].id, engine->snapshot().inputs[i].id);
        EXPECT_NE(n.inputs[i].jobID, engine->snapshot().inputs[i].jobID);
        EXPECT_FALSE(n.inputs[i].attemptID);
        EXPECT_TRUE(n.inputs[i].editedPages.empty());
        EXPECT_FALSE(n.inputs[i].presentation);
    }
    EXPECT_EQ(test::readFile(queueJSON), file);
    auto privateQueue = make({{a, InputOrigin::privateSession}});
    EXPECT_FALSE(privateQueue->restart(tmp / "queues")->directory());
}

TEST_F(QueueEdit, ARetryIsCheckedWholeBeforeAnyJobChanges) {
    const fs::path a = test::writeSamplePDF(tmp / "a.pdf", 2);
    const fs::path b = test::writeSamplePDF(tmp / "b.pdf", 2);
    auto first = make({{a}, {b}});
    const QueueSnapshot s = first->snapshot();
    run(*first, {{s.inputs[0].id, {2}}, {s.inputs[1].id, {1}}});
    // Reopened, so every job has to be reopened for the retry.
    auto engine = reopen(*first);
    const QueueSnapshot before = engine->snapshot();
    ASSERT_EQ(pageStates(before.inputs[0]), (std::vector<PageState>{completed, failed}));
    ASSERT_EQ(pageStates(before.inputs[1]), (std::vector<PageState>{failed, completed}));
    const std::map<UUID, int64_t> failedPage{{before.inputs[0].id, 2}, {before.inputs[1].id, 1}};
    const UUID earlier = failedPage.begin()->first, later = std::next(failedPage.begin())->first;
    const QueueInput& inputEarlier = *before.input(earlier);
    const fs::path checkpointFile =
        OCRQueueEngine::jobFolder(engine->directory()->url(), *inputEarlier.attemptID) / "checkpoint.json";
    const std::string checkpointBytes = test::readFile(checkpointFile);
    const std::string file = queueFile(*engine);

    // The second entry names a page that has not failed: nothing changes,
    // the first entry's job included.
    const int64_t notFailed = 3 - failedPage.at(later);
    EXPECT_EQ(caseOf([&] { engine->prepareRetry({{earlier, {failedPage.at(earlier)}}, {later, {notFailed}}}); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->prepareRetry({{earlier, {failedPage.at(earlier)}}, {later, {3}}}); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->prepareRetry({{UUID::random(), {1}}}); }), ErrorCase::invalidInput);
    EXPECT_EQ(test::readFile(checkpointFile), checkpointBytes);
    EXPECT_EQ(engine->snapshot(), before);
    EXPECT_EQ(queueFile(*engine), file);

    // An empty set leaves its input alone and still makes the queue ready.
    engine->prepareRetry({{earlier, {}}});
    EXPECT_EQ(engine->snapshot().status, QueueStatus::ready);
    EXPECT_EQ(engine->snapshot().inputs, before.inputs);

    engine->prepareRetry({{earlier, {failedPage.at(earlier)}}, {later, {failedPage.at(later)}}});
    for (const auto& in : engine->snapshot().inputs) {
        EXPECT_EQ(in.status, InputStatus::pending);
        EXPECT_EQ(checkpointOf(*engine, in).pages, in.pages);
    }
    EXPECT_EQ(pageStates(*engine->snapshot().input(s.inputs[0].id)), (std::vector<PageState>{completed, pending}));
    EXPECT_EQ(engine->snapshot().input(s.inputs[0].id)->pages[1].priorFailures,
              std::vector<ErrorCase>{ErrorCase::injectedFailure});
    run(*engine);
    EXPECT_EQ(engine->snapshot().status, QueueStatus::completed);
    EXPECT_EQ(fake.count(), 4u);
}

TEST_F(QueueEdit, TheEditorsStateIsKeptOnlyForCompletedPagesAndOnlyWhileTheyAreUnchanged) {
    const fs::path a = test::writeSamplePDF(tmp / "a.pdf", 2);
    auto engine = make({{a}});
    const UUID id = engine->snapshot().inputs[0].id;
    run(*engine, {{id, {2}}});
    const OCRDecorationState decoration("第一頁", {TextRange{0, 1}});
    const QueuePresentation shown(true, false, true, false, false);
    const QueueSnapshot before = engine->snapshot();

    EXPECT_EQ(caseOf([&] { engine->saveEditor("頁2", id, 2, decoration, shown); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->saveEditor("頁3", id, 3, decoration, shown); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->saveEditor("誰", UUID::random(), 1, decoration, shown); }), ErrorCase::invalidInput);
    EXPECT_EQ(engine->snapshot(), before);

    engine->saveEditor("頁1", id, 1, decoration, shown);
    engine->saveSelection(id, 1);
    engine->saveSelection(std::nullopt, 2);
    engine->markAutomaticExport("queue-completed");
    engine->markAutomaticExport("queue-completed");
    const QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(s.editorStates->at("頁1"), QueueEditorState(id, 1, *before.inputs[0].pages[0].checksum, decoration));
    EXPECT_EQ(s.viewStates->at(id.text()), shown);
    EXPECT_FALSE(s.selectedInput);
    EXPECT_EQ(s.selectedPage, 2);
    EXPECT_EQ(s.automaticExports, (std::vector<std::string>{"queue-completed", "queue-completed"}));
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()), s);
    EXPECT_EQ(reopen(*engine)->restoreEditors(), (std::map<std::string, OCRDecorationState>{{"頁1", decoration}}));

    // Saved against another text of the page: none of the states is given.
    const fs::path folder = engine->directory()->url();
    engine.reset();
    editQueueFile(folder, [](QueueSnapshot& q) { q.editorStates->at("頁1").resultChecksum = std::string(64, '0'); });
    auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
    const std::string file = test::readFile(folder / "queue.json");
    EXPECT_EQ(caseOf([&] { reopened->restoreEditors(); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(test::readFile(folder / "queue.json"), file);
}

TEST_F(QueueEdit, ATextIsPublishedOncePerKeyWhateverHappensOnTheWay) {
    auto engine = make({{test::writeSamplePNG(tmp / "a.png")}});
    const fs::path folder = engine->directory()->url();
    const fs::path out = tmp / "出力";
    const auto data = bytes("全文\n");

    const fs::path url = engine->exportOnce("k", data, out, "OCR-combined");
    EXPECT_EQ(url, out / "OCR-combined.txt");
    EXPECT_EQ(engine->exportOnce("k", data, out, "OCR-combined"), url);
    EXPECT_EQ(test::listNames(out), std::vector<std::string>{"OCR-combined.txt"});
    EXPECT_TRUE(OCRQueueEngine::inspect(folder).exportJournal->at("k").complete);
    EXPECT_EQ(caseOf([&] { engine->exportOnce("k", bytes("別の本文"), out, "OCR-combined"); }),
              ErrorCase::confirmationChanged);

    // A name already taken by the user's file.
    test::writeFile(out / "名前.txt", "利用者のファイル");
    EXPECT_EQ(engine->exportOnce("k2", data, out, "名前"), out / "名前_001.txt");
    EXPECT_EQ(test::readFile(out / "名前.txt"), "利用者のファイル");

    // Changed or removed by the user afterwards: refused, never published twice.
    test::writeFile(url, "書き換え");
    EXPECT_EQ(caseOf([&] { engine->exportOnce("k", data, out, "OCR-combined"); }), ErrorCase::confirmationChanged);
    fs::remove(out / "名前_001.txt");
    EXPECT_EQ(caseOf([&] { engine->exportOnce("k2", data, out, "名前"); }), ErrorCase::sourceMissing);

    // The caller's step after publishing fails: the next call completes the
    // record without a second file.
    EXPECT_THROW(engine->exportOnce("k3", data, out, "後", [] { throw std::runtime_error("登録失敗"); }),
                 std::runtime_error);
    EXPECT_FALSE(OCRQueueEngine::inspect(folder).exportJournal->at("k3").complete);
    EXPECT_EQ(engine->exportOnce("k3", data, out, "後"), out / "後.txt");
    EXPECT_TRUE(OCRQueueEngine::inspect(folder).exportJournal->at("k3").complete);
    EXPECT_FALSE(fs::exists(out / "後_001.txt"));

    // Records a crashed process left: one whose file was never linked, and
    // one that names the user's file (another inode) met at a clash.
    test::writeFile(out / "他人.txt", "他人のファイル");
    const uint64_t userInode = inodeOf(out / "他人.txt");
    const FileStamp userStamp = FileStamp::read(out / "他人.txt");
    engine.reset();
    editQueueFile(folder, [&](QueueSnapshot& q) {
        FileStamp staged = userStamp;
        staged.inode += 1;
        staged.sha256 = Digest::data(data);
        (*q.exportJournal)["k4"] = QueueExportRecord((out / "消えた.txt").string(), staged, false);
        (*q.exportJournal)["k5"] = QueueExportRecord((out / "他人.txt").string(), staged, false);
    });
    engine = OCRQueueEngine::resume(folder, test::currentSettings());
    EXPECT_EQ(engine->exportOnce("k4", data, out, "消えた"), out / "消えた.txt");
    EXPECT_EQ(engine->exportOnce("k5", data, out, "他人"), out / "他人_001.txt");
    EXPECT_EQ(test::readFile(out / "他人.txt"), "他人のファイル");
    EXPECT_EQ(inodeOf(out / "他人.txt"), userInode);
    EXPECT_EQ(test::readFile(out / "他人_001.txt"), "全文\n");
    const auto journal = *OCRQueueEngine::inspect(folder).exportJournal;
    EXPECT_TRUE(journal.at("k4").complete && journal.at("k5").complete);
    EXPECT_EQ(journal.at("k5").path, (out / "他人_001.txt").string());
}

// Another holder of the lease, another writer of the file, a write that
// fails, and a run under way.
TEST_F(QueueEdit, EveryChangeIsGuarded) {
    const fs::path a = test::writeSamplePDF(tmp / "a.pdf", 2);
    const fs::path b = test::writeSamplePNG(tmp / "b.png", 60);
    const fs::path c = test::writeSamplePNG(tmp / "c.png", 120);
    auto engine = make({{a}, {b}, {c}});
    const QueueSnapshot s = engine->snapshot();
    const UUID ida = s.inputs[0].id, idb = s.inputs[1].id, idc = s.inputs[2].id;
    run(*engine, {{ida, {2}}}, [&](const QueueSnapshot& q) { return q.inputs[0].status == InputStatus::completed; });
    const fs::path folder = engine->directory()->url();
    const OCRDecorationState decoration("頁", {});
    const fs::path out = tmp / "out";
    auto everyWrite = [&] {
        return std::vector<std::function<void()>>{
            [&] { engine->reselect(ida, a); },
            [&] { engine->cancelInput(idb); },
            [&] { engine->edit(ida, 1, "編集"); },
            [&] { engine->append({{c}}, test::currentSettings(), std::nullopt); },
            [&] { engine->move(idb, 1); },
            [&] { engine->prepareRetry({{ida, {2}}}); },
            [&] { engine->saveSelection(ida, 1); },
            [&] { engine->saveEditor("k", ida, 1, decoration, std::nullopt); },
            [&] { engine->markAutomaticExport("k"); },
            [&] { engine->exportOnce("k", bytes("x"), out, "x"); },
        };
    };

    {
        test::HeldChild child([&] {
            static std::optional<StateLease> held;
            held.emplace(SecureDirectory(folder, false), "queue-lease", true);
        });
        ASSERT_TRUE(child.setupSucceeded());
        const std::string file = test::readFile(folder / "queue.json");
        for (const auto& op : everyWrite()) EXPECT_EQ(caseOf(op), ErrorCase::navigationBusy);
        EXPECT_EQ(test::readFile(folder / "queue.json"), file);
        EXPECT_EQ(engine->snapshot().inputs.size(), 3u);
    }

    editQueueFile(folder, [](QueueSnapshot& q) { q.selectedPage = 99; });
    const std::string theirs = test::readFile(folder / "queue.json");
    for (const auto& op : everyWrite()) EXPECT_EQ(caseOf(op), ErrorCase::confirmationChanged);
    EXPECT_EQ(test::readFile(folder / "queue.json"), theirs);
    EXPECT_FALSE(fs::exists(out));

    // A write that fails (no file may grow in this child) puts the snapshot
    // back for the changes that keep a copy.
    engine = reopen(*engine);
    const QueueSnapshot now = engine->snapshot();
    for (const auto& op : std::vector<std::function<void()>>{
             [&] { engine->append({{c}}, test::currentSettings(), std::nullopt); },
             [&] { engine->move(idb, 1); },
             [&] { engine->prepareRetry({{ida, {}}}); }}) {
        EXPECT_EQ(test::runInChild([&] {
                      ::signal(SIGXFSZ, SIG_IGN);
                      const rlimit none{0, 0};
                      ::setrlimit(RLIMIT_FSIZE, &none);
                      try {
                          op();
                      } catch (...) {
                          if (engine->snapshot() == now) return;
                      }
                      throw std::runtime_error("the change stayed");
                  }),
                  0);
    }

    // During a run: the changes a run allows land in the file it writes;
    // the others are refused, and a re-choice does nothing.
    std::atomic<int> calls{0};
    std::vector<ErrorCase> refused;
    QueueSnapshot during;
    fake.during = [&](int64_t) {
        if (++calls != 1) return;
        engine->edit(ida, 1, "走行中");
        engine->append({{b}}, test::currentSettings(), std::nullopt);
        engine->saveSelection(ida, 1);
        engine->saveEditor("k", ida, 1, decoration, std::nullopt);
        engine->markAutomaticExport("auto");
        for (const auto& op : std::vector<std::function<void()>>{
                 [&] { engine->cancelInput(ida); },
                 [&] { engine->prepareRetry({}); },
                 [&] { engine->exportOnce("k", bytes("x"), out, "x"); }}) {
            refused.push_back(caseOf(op));
        }
        engine->reselect(idb, b);
        during = engine->snapshot();
    };
    engine->setRecognizer(fake.bind());
    const std::size_t inputsBefore = engine->snapshot().inputs.size();
    run(*engine);
    EXPECT_EQ(refused, std::vector<ErrorCase>(3, ErrorCase::navigationBusy));
    EXPECT_EQ(during.input(idb)->status, InputStatus::running);
    const QueueSnapshot written = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(written, engine->snapshot());
    EXPECT_EQ(written.inputs[0].editedPages.at(1), "走行中");
    EXPECT_EQ(written.inputs.size(), inputsBefore + 1);
    EXPECT_EQ(written.selectedInput, ida);
    EXPECT_TRUE(written.editorStates->count("k"));
    EXPECT_EQ(written.automaticExports, std::vector<std::string>{"auto"});
    EXPECT_EQ(written.status, QueueStatus::completed);
    (void)idc;
}
