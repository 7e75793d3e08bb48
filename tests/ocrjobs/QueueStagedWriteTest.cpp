// The editor's stores (stageEditor, journalled at once, the queue written by
// a later flush when asked for) and edits of many pages written at once
// (editPages): what is checked at once, what a failed write keeps, the order
// of concurrent writes, and what a process killed while it wrote leaves on
// disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/StateLease.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Errors.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
using test::textRecord;
namespace fs = std::filesystem;

namespace {

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

class QueueStagedWrite : public ::testing::Test {
protected:
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    test::FakeRecognizer fake;

    void SetUp() override { WorkerBudget::shared().setBytes(int64_t{1} << 30); }

    // A queue of documents of these page counts, run to its end.
    std::unique_ptr<OCRQueueEngine> recognised(const std::vector<int>& pageCounts) {
        auto engine = test::runQueue(tmp.path(), fake, pageCounts);
        EXPECT_EQ(engine->snapshot().status, QueueStatus::completed);
        return engine;
    }
    static fs::path folderOf(const OCRQueueEngine& engine) { return engine.directory()->url(); }
    static std::string queueFile(const OCRQueueEngine& engine) {
        return test::readFile(folderOf(engine) / "queue.json");
    }
};

}  // namespace

TEST_F(QueueStagedWrite, AStoreIsInMemoryAndOnDiskAtOnceWithoutAWriteOfTheQueue) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const std::string before = queueFile(*engine);
    const QueueSnapshot untouched = engine->snapshot();

    EXPECT_EQ(caseOf([&] { engine->stageEditor(textRecord(id, 3, "無")); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { engine->stageEditor(textRecord(UUID::random(), 1, "無")); }), ErrorCase::invalidInput);
    EXPECT_EQ(engine->snapshot(), untouched);
    EXPECT_FALSE(engine->unwritten());

    OCRQueueEngine::EditorRecord record = textRecord(id, 2, "第二頁");
    record.key = "頁2";
    record.decoration = OCRDecorationState("第二頁", {TextRange{0, 1}});
    record.presentation = QueuePresentation(true, false, false, true, false);
    record.selection = true;
    engine->stageEditor(record);
    const QueueSnapshot staged = engine->snapshot();
    EXPECT_EQ(staged.inputs[0].editedPages.at(2), "第二頁");
    EXPECT_EQ(staged.editorStates->at("頁2"),
              QueueEditorState(id, 2, *untouched.inputs[0].pages[1].checksum, record.decoration));
    EXPECT_EQ(staged.viewStates->at(id.text()), *record.presentation);
    EXPECT_EQ(staged.selectedInput, id);
    EXPECT_EQ(staged.selectedPage, 2);
    EXPECT_FALSE(engine->unwritten());
    EXPECT_EQ(queueFile(*engine), before);
    EXPECT_EQ(OCRQueueEngine::inspect(folderOf(*engine)), staged);

    engine->flush();
    EXPECT_EQ(queueFile(*engine), before);

    // The same store again changes nothing, and nothing is written.
    const uint64_t inode = inodeOf(folderOf(*engine) / "queue.json");
    engine->stageEditor(record);
    EXPECT_FALSE(engine->unwritten());
    engine->flush();
    EXPECT_EQ(inodeOf(folderOf(*engine) / "queue.json"), inode);

    // An engine let go writes what it still held.
    engine->stageEditor(textRecord(id, 1, "最後"));
    const fs::path folder = folderOf(*engine);
    engine.reset();
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), "最後");
}

TEST_F(QueueStagedWrite, ManyPagesAreEditedWithOneCheckedWrite) {
    auto engine = recognised({2, 1});
    const QueueSnapshot s = engine->snapshot();
    const UUID a = s.inputs[0].id, b = s.inputs[1].id;
    const fs::path folder = folderOf(*engine);

    // One page that cannot be edited refuses all of them.
    EXPECT_EQ(caseOf([&] { engine->editPages({{a, 1, "一"}, {b, 2, "無"}}); }), ErrorCase::invalidInput);
    EXPECT_EQ(engine->snapshot(), s);

    const uint64_t inode = inodeOf(folder / "queue.json");
    engine->editPages({{a, 1, "一"}, {a, 2, "二"}, {b, 1, "三"}});
    EXPECT_NE(inodeOf(folder / "queue.json"), inode);
    const QueueSnapshot stored = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(stored, engine->snapshot());
    EXPECT_EQ(stored.inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "一"}, {2, "二"}}));
    EXPECT_EQ(stored.inputs[1].editedPages, (std::map<int64_t, std::string>{{1, "三"}}));
}

TEST_F(QueueStagedWrite, WhatAStoreCanKnowIsToldAtOnceAndAFailedFlushKeepsTheChange) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    const QueueSnapshot untouched = engine->snapshot();
    {
        test::HeldChild child([&] {
            static std::optional<StateLease> held;
            held.emplace(SecureDirectory(folder, false), "queue-lease", true);
        });
        ASSERT_TRUE(child.setupSucceeded());
        EXPECT_EQ(caseOf([&] { engine->stageEditor(textRecord(id, 1, "一")); }), ErrorCase::navigationBusy);
        EXPECT_EQ(caseOf([&] { engine->editPages({{id, 1, "一"}}); }), ErrorCase::navigationBusy);
        EXPECT_EQ(engine->snapshot(), untouched);
    }
    const std::string ours = queueFile(*engine);
    editQueueFile(folder, [](QueueSnapshot& q) { q.selectedPage = 99; });
    const std::string theirs = test::readFile(folder / "queue.json");
    EXPECT_EQ(caseOf([&] { engine->stageEditor(textRecord(id, 1, "一")); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(caseOf([&] { engine->editPages({{id, 1, "一"}}); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(engine->snapshot(), untouched);
    EXPECT_EQ(test::readFile(folder / "queue.json"), theirs);

    // A write behind the engine after the store: the fold refuses it and
    // keeps the change, and so does the next store, which writes itself.
    test::writeFile(folder / "queue.json", ours);
    engine->stageEditor(textRecord(id, 1, "一"));
    // (Their write read the journal too, so it holds the store.)
    editQueueFile(folder, [](QueueSnapshot& q) { q.selectedPage = 99; });
    const std::string theirsAgain = test::readFile(folder / "queue.json");
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), "一");
    EXPECT_EQ(caseOf([&] { engine->compact(); }), ErrorCase::confirmationChanged);
    EXPECT_TRUE(engine->unwritten());
    EXPECT_EQ(engine->snapshot().inputs[0].editedPages.at(1), "一");
    EXPECT_EQ(caseOf([&] { engine->stageEditor(textRecord(id, 1, "一")); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(test::readFile(folder / "queue.json"), theirsAgain);
    test::writeFile(folder / "queue.json", ours);
    engine->stageEditor(textRecord(id, 2, "二"));  // writes both
    EXPECT_FALSE(engine->unwritten());
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages,
              (std::map<int64_t, std::string>{{1, "一"}, {2, "二"}}));

    // A store the journal cannot take and a write that fails (no file may
    // grow in this child) keep the change staged, and a batch of page edits
    // is put back whole.
    const std::string written = queueFile(*engine);
    EXPECT_EQ(test::runInChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit none{0, 0};
                  ::setrlimit(RLIMIT_FSIZE, &none);
                  if (caseOf([&] { engine->stageEditor(textRecord(id, 1, "三")); }) != ErrorCase::saveFailed) {
                      throw std::runtime_error("journalled");
                  }
                  if (caseOf([&] { engine->flush(); }) != ErrorCase::saveFailed) throw std::runtime_error("flushed");
                  if (!engine->unwritten() || engine->snapshot().inputs[0].editedPages.at(1) != "三") {
                      throw std::runtime_error("the change was lost");
                  }
                  const QueueSnapshot now = engine->snapshot();
                  if (caseOf([&] { engine->editPages({{id, 2, "四"}}); }) != ErrorCase::saveFailed ||
                      !(engine->snapshot() == now)) {
                      throw std::runtime_error("the batch stayed");
                  }
              }),
              0);
    EXPECT_EQ(queueFile(*engine), written);
}

// Stores and flushes from several threads at once, each store numbered in
// the order it was made: once a flush returns, the file holds that store or
// a later one, never an older snapshot written over a newer.
TEST_F(QueueStagedWrite, ConcurrentFlushesNeverTakeBackALaterWrite) {
    auto engine = recognised({1});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    std::mutex order;
    int next = 0;
    std::atomic<int> overtaken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                int mine = 0;
                {
                    std::lock_guard lock(order);
                    mine = ++next;
                    engine->stageEditor(textRecord(id, 1, std::to_string(mine)));
                }
                engine->flush();
                if (std::stoi(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1)) < mine) ++overtaken;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(overtaken, 0);
    EXPECT_FALSE(engine->unwritten());
    EXPECT_EQ(OCRQueueEngine::inspect(folder), engine->snapshot());
    EXPECT_EQ(engine->snapshot().inputs[0].editedPages.at(1), std::to_string(next));
}

// A process storing page edits over and over (one round all pages stored one
// by one, the next all pages in one batch) is killed at random points. Every
// reopening finds an intact queue whose pages carry the same round, or two
// following rounds when the kill came between the stores of one, at least
// the last one the process reported written.
TEST_F(QueueStagedWrite, AWriterKilledAnywhereLeavesOneWholeRoundOnDisk) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const fs::path folder = [&] {
        auto engine = recognised({3, 2});
        std::vector<OCRQueueEngine::PageEdit> edits;
        for (const auto& input : engine->snapshot().inputs) {
            for (const auto& r : input.pages) edits.push_back({input.id, r.page, "round 0"});
        }
        engine->editPages(edits);
        return folderOf(*engine);
    }();

    int32_t round = 0;
    int kills = 0;
    for (int attempt = 0; kills < 12 && attempt < 40; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const int32_t first = round + 1;
        test::KilledWorker worker([&](int reportFD) {
            auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
            const QueueSnapshot s = engine->snapshot();
            for (int32_t k = first; k < first + 1000; ++k) {
                const std::string text = "round " + std::to_string(k);
                std::vector<OCRQueueEngine::PageEdit> edits;
                for (const auto& input : s.inputs) {
                    for (const auto& r : input.pages) edits.push_back({input.id, r.page, text});
                }
                if (k % 2 == 0) {
                    engine->editPages(edits);
                } else {
                    for (const auto& e : edits) engine->stageEditor(textRecord(e.inputID, e.page, e.text));
                    engine->flush();
                }
                test::report(reportFD, k);
            }
        });
        const int wanted = 1 + static_cast<int>(rng() % 4);
        int32_t reported = round;
        int32_t value = 0;
        for (int i = 0; i < wanted && worker.read(value); ++i) reported = value;
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        const int status = worker.kill<int32_t>([&](int32_t k) { reported = k; });
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the writer failed: " << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ++kills;

        std::unique_ptr<OCRQueueEngine> reopened;
        ASSERT_NO_THROW(reopened = OCRQueueEngine::resume(folder, test::currentSettings()));
        std::set<int32_t> rounds;
        for (const auto& input : reopened->snapshot().inputs) {
            ASSERT_EQ(input.editedPages.size(), input.pages.size());
            for (const auto& [page, text] : input.editedPages) rounds.insert(std::stoi(text.substr(6)));
        }
        ASSERT_FALSE(rounds.empty());
        EXPECT_LE(*rounds.rbegin() - *rounds.begin(), 1);
        // Only a round stored page by page is ever found half-way.
        if (rounds.size() > 1) {
            EXPECT_EQ(*rounds.rbegin() % 2, 1);
        }
        EXPECT_GE(*rounds.begin(), reported);
        round = *rounds.rbegin();
    }
    EXPECT_EQ(kills, 12);
}
