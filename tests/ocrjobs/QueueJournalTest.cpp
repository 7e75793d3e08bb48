// The edit journal beside "queue.json": what reopening replays and in which
// order, what it leaves out, what it refuses, and how a whole write of the
// queue folds it without ever losing a store, killed at any step.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueEditJournal.hpp"
#include "support/Bounded.hpp"
#include "support/Errors.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
using test::textRecord;
namespace fs = std::filesystem;

namespace {

uint64_t sizeOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class QueueJournal : public ::testing::Test {
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
    static fs::path journalOf(const fs::path& folder) { return folder / std::string(QueueEditJournal::fileName); }
    static QueueJournalRecord record(const QueueSnapshot& s, std::size_t input, int64_t page, uint64_t sequence,
                                     std::string text) {
        QueueJournalRecord r;
        r.sequence = sequence;
        r.queueID = s.id;
        r.inputID = s.inputs[input].id;
        r.page = page;
        r.text = std::move(text);
        return r;
    }
    static void appendBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
        test::writeFile(file, test::readFile(file) + asText(bytes));
    }
};

}  // namespace

TEST_F(QueueJournal, AStoreIsOneRecordOnDiskAndEveryReaderReplaysIt) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    const std::string queueBefore = test::readFile(folder / "queue.json");
    EXPECT_FALSE(fs::exists(journalOf(folder)));

    OCRQueueEngine::EditorRecord r = textRecord(id, 2, "二頁目");
    r.key = "頁2";
    r.decoration = OCRDecorationState("二頁目", {TextRange{0, 1}});
    r.presentation = QueuePresentation(true, false, false, true, false);
    r.selection = true;
    engine->stageEditor(r);
    // Nothing waits, and "queue.json" was not rewritten for it.
    EXPECT_FALSE(engine->unwritten());
    EXPECT_EQ(test::readFile(folder / "queue.json"), queueBefore);
    const uint64_t oneRecord = sizeOf(journalOf(folder));
    EXPECT_GT(oneRecord, QueueEditJournal::headerBytes);

    // A record costs what the page costs: a second one on another page is
    // about as large, whatever the queue holds.
    engine->stageEditor(textRecord(id, 1, "一頁目"));
    EXPECT_LT(sizeOf(journalOf(folder)) - oneRecord, oneRecord);

    const QueueSnapshot now = engine->snapshot();
    EXPECT_EQ(OCRQueueEngine::inspect(folder), now);
    EXPECT_EQ(now.inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "一頁目"}, {2, "二頁目"}}));
    EXPECT_EQ(now.editorStates->at("頁2").decoration, r.decoration);
    EXPECT_EQ(now.viewStates->at(id.text()), *r.presentation);
    EXPECT_EQ(now.selectedPage, 2);
    {
        auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
        EXPECT_EQ(reopened->snapshot(), now);
        EXPECT_EQ(reopened->setAsideJournalBytes(), 0u);
        EXPECT_EQ(reopened->restoreEditors().at("頁2"), r.decoration);
        // The TXT text takes the journal's edit.
        EXPECT_NE(reopened->text(id).find("二頁目"), std::string::npos);
    }
    // The same store again records nothing.
    const uint64_t size = sizeOf(journalOf(folder));
    engine->stageEditor(textRecord(id, 1, "一頁目"));
    EXPECT_EQ(sizeOf(journalOf(folder)), size);
}

TEST_F(QueueJournal, RecordsAreReplayedInSequenceOrderAfterWhatTheQueueHolds) {
    auto engine = recognised({2});
    const fs::path folder = folderOf(*engine);
    QueueSnapshot s = engine->snapshot();
    engine.reset();
    ASSERT_FALSE(s.journalSequence.has_value());

    std::vector<uint8_t> bytes;
    for (const auto& [sequence, text] : std::vector<std::pair<uint64_t, std::string>>{
             {3, "三"}, {1, "一"}, {5, "五"}, {2, "二"}, {4, "四"}}) {
        const std::vector<uint8_t> one = QueueEditJournal::encode(record(s, 0, sequence % 2 + 1, sequence, text));
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    test::writeFile(journalOf(folder), asText(bytes));
    // Page 2 takes the odd sequences, the last being 5; page 1 the even,
    // the last 4, although 2 comes after 4 in the file.
    QueueSnapshot replayed = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(replayed.inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "四"}, {2, "五"}}));
    EXPECT_EQ(replayed.journalSequence, 5u);

    // A queue that holds the records up to 4 takes only the fifth.
    s.journalSequence = 4;
    s.inputs[0].editedPages = {{1, "保存済み"}};
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, JSON::encode(QueueEnvelope::seal(s)));
    replayed = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(replayed.inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "保存済み"}, {2, "五"}}));

    // The next store follows the last sequence, and the next whole write
    // empties the journal.
    auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
    reopened->stageEditor(textRecord(s.inputs[0].id, 1, "六"));
    EXPECT_EQ(reopened->snapshot().journalSequence, 6u);
    const QueueEditJournal::Contents contents = QueueEditJournal::read(SecureDirectory(folder, false));
    EXPECT_EQ(contents.records.back().sequence, 6u);
    reopened->saveSelection(s.inputs[0].id, 2);
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    EXPECT_EQ(OCRQueueEngine::inspect(folder), reopened->snapshot());
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), "六");
}

TEST_F(QueueJournal, ATornOrDamagedTailIsLeftOutReportedAndCutBeforeTheNextRecord) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    const QueueSnapshot s = engine->snapshot();
    engine.reset();
    const std::string intact = asText(QueueEditJournal::encode(record(s, 0, 1, 1, "残る")));

    // Cut anywhere: in the header, in the payload, one byte short.
    const std::vector<uint8_t> next = QueueEditJournal::encode(record(s, 0, 2, 2, "消える"));
    for (std::size_t cut : {std::size_t{1}, QueueEditJournal::headerBytes - 1, QueueEditJournal::headerBytes + 3,
                            next.size() - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        test::writeFile(journalOf(folder), intact + asText(std::vector<uint8_t>(next.begin(), next.begin() + cut)));
        const QueueSnapshot read = OCRQueueEngine::inspect(folder);
        EXPECT_EQ(read.inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "残る"}}));
        auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
        EXPECT_EQ(reopened->setAsideJournalBytes(), cut);
        EXPECT_EQ(reopened->snapshot().inputs[0].editedPages, read.inputs[0].editedPages);
    }
    // A whole record whose bytes no longer match its digest, and one after
    // it: both are left out.
    std::vector<uint8_t> damaged = next;
    damaged.back() ^= 0x01;
    test::writeFile(journalOf(folder),
                    intact + asText(damaged) + asText(QueueEditJournal::encode(record(s, 0, 1, 3, "後ろ"))));
    auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
    EXPECT_EQ(reopened->snapshot().inputs[0].editedPages, (std::map<int64_t, std::string>{{1, "残る"}}));
    EXPECT_GT(reopened->setAsideJournalBytes(), next.size());

    // The next store cuts the damage first, so that it is not hidden
    // behind it.
    reopened->stageEditor(textRecord(id, 2, "新しい"));
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages,
              (std::map<int64_t, std::string>{{1, "残る"}, {2, "新しい"}}));
    EXPECT_EQ(QueueEditJournal::read(SecureDirectory(folder, false)).setAsideBytes, 0u);
}

TEST_F(QueueJournal, RecordsOfAnotherQueueAnUnknownInputOrAPageWithoutResultChangeNothing) {
    auto engine = recognised({2, 1});
    const fs::path folder = folderOf(*engine);
    const QueueSnapshot s = engine->snapshot();
    engine.reset();

    QueueJournalRecord foreign = record(s, 0, 1, 1, "別の列");
    foreign.queueID = UUID::random();
    QueueJournalRecord unknown = record(s, 0, 1, 2, "知らない原稿");
    unknown.inputID = UUID::random();
    QueueJournalRecord missingPage = record(s, 0, 7, 3, "ない頁");
    QueueJournalRecord staleHighlights = record(s, 1, 1, 4, "古い強調");
    staleHighlights.key = "k";
    staleHighlights.editor = QueueEditorState(s.inputs[1].id, 1, std::string(64, 'f'), OCRDecorationState());
    const QueueJournalRecord good = record(s, 1, 1, 5, "正しい");
    std::string bytes;
    for (const auto& r : {foreign, unknown, missingPage, staleHighlights, good}) {
        bytes += asText(QueueEditJournal::encode(r));
    }
    test::writeFile(journalOf(folder), bytes);

    auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
    const QueueSnapshot read = reopened->snapshot();
    EXPECT_TRUE(read.inputs[0].editedPages.empty());
    EXPECT_EQ(read.inputs[1].editedPages, (std::map<int64_t, std::string>{{1, "正しい"}}));
    EXPECT_FALSE(read.editorStates.has_value());
    EXPECT_EQ(reopened->setAsideJournalBytes(), 0u);
    EXPECT_NO_THROW(reopened->restoreEditors());
    EXPECT_EQ(OCRQueueEngine::inspect(folder), read);
}

TEST_F(QueueJournal, AJournalThatIsNoFileOfOursIsRefusedAsTheOtherStateFilesAre) {
    auto engine = recognised({1});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    const fs::path journal = journalOf(folder);
    engine.reset();

    // A FIFO: refused at once by every reader and by the writer, never
    // waited on.
    ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(5, [&] {
                  test::require(caseOf([&] { OCRQueueEngine::inspect(folder); }) == ErrorCase::unsafePath,
                                "inspect refuses the FIFO");
                  test::require(caseOf([&] { OCRQueueEngine::resume(folder, test::currentSettings()); }) ==
                                    ErrorCase::unsafePath,
                                "resume refuses the FIFO");
              }),
              0);
    fs::remove(journal);

    // A writer finding a FIFO put there after the queue was opened.
    auto opened = OCRQueueEngine::resume(folder, test::currentSettings());
    ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(5, [&] {
                  test::require(caseOf([&] { opened->stageEditor(textRecord(id, 1, "x")); }) == ErrorCase::unsafePath,
                                "the store refuses the FIFO");
              }),
              0);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(journal)));
    fs::remove(journal);
    opened.reset();

    // A symbolic link, even to a real journal.
    const fs::path elsewhere = tmp / "elsewhere";
    test::writeFile(elsewhere, "");
    fs::create_symlink(elsewhere, journal);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(folder); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::resume(folder, test::currentSettings()); }), ErrorCase::damagedCheckpoint);
    fs::remove(journal);

    // A file larger than any journal of ours (sparse: nothing is written).
    test::writeFile(journal, "");
    ASSERT_EQ(::truncate(journal.c_str(), static_cast<off_t>(QueueEditJournal::maximumBytes + 1)), 0);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(folder); }), ErrorCase::damagedCheckpoint);
    fs::remove(journal);

    // A folder.
    fs::create_directory(journal);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(folder); }), ErrorCase::unsafePath);
}

TEST_F(QueueJournal, AWholeWriteFoldsTheJournalAndALargeOneAsksForIt) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);

    engine->stageEditor(textRecord(id, 1, "一"));
    EXPECT_GT(sizeOf(journalOf(folder)), 0u);
    // Any whole write holds the record, and the journal is emptied.
    engine->compact();
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    QueueSnapshot stored = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(stored, engine->snapshot());
    EXPECT_EQ(stored.inputs[0].editedPages.at(1), "一");

    // Pages of 512 KiB: the journal passes its size on the eighth store,
    // which leaves the queue for the next flush to write.
    const std::string large(512 * 1024, 'a');
    int stores = 0;
    while (!engine->unwritten() && stores < 20) {
        engine->stageEditor(textRecord(id, 1 + stores % 2, large + std::to_string(stores)));
        ++stores;
    }
    EXPECT_EQ(stores, 8);
    EXPECT_GT(sizeOf(journalOf(folder)), QueueEditJournal::foldBytes);
    engine->flush();
    EXPECT_FALSE(engine->unwritten());
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    EXPECT_EQ(OCRQueueEngine::inspect(folder), engine->snapshot());

    // An engine let go folds what it appended.
    engine->stageEditor(textRecord(id, 2, "最後"));
    engine.reset();
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(2), "最後");
}

// The steps of a fold, each as a crash right after it leaves the folder:
// records appended; "queue.json" replaced with the records' last sequence;
// the journal emptied. Every state reopens to the same queue, no record
// applied twice over a later store.
TEST_F(QueueJournal, ACrashBetweenTheStepsOfAFoldLeavesTheOldPairOrTheNewOne) {
    auto engine = recognised({2});
    const UUID id = engine->snapshot().inputs[0].id;
    const fs::path folder = folderOf(*engine);
    engine->stageEditor(textRecord(id, 1, "一回目"));
    engine->stageEditor(textRecord(id, 1, "二回目"));
    engine->stageEditor(textRecord(id, 2, "頁二"));
    const QueueSnapshot expected = engine->snapshot();
    const std::string oldQueue = test::readFile(folder / "queue.json");
    const std::string journal = test::readFile(journalOf(folder));

    // The old pair.
    EXPECT_EQ(OCRQueueEngine::inspect(folder), expected);
    engine->compact();
    const std::string newQueue = test::readFile(folder / "queue.json");
    EXPECT_NE(newQueue, oldQueue);
    // The new "queue.json" beside the journal not yet emptied: its records
    // are held already, and replaying them changes nothing, not even the
    // page edited twice in them.
    test::writeFile(journalOf(folder), journal);
    EXPECT_EQ(OCRQueueEngine::inspect(folder), expected);
    // ... also once a later store follows them.
    test::writeFile(journalOf(folder),
                    journal + asText(QueueEditJournal::encode(
                                  record(expected, 0, 1, *expected.journalSequence + 1, "三回目"))));
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(1), "三回目");
    const QueueSnapshot later = OCRQueueEngine::inspect(folder);
    // The new pair.
    auto reopened = OCRQueueEngine::resume(folder, test::currentSettings());
    reopened->compact();
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    EXPECT_EQ(OCRQueueEngine::inspect(folder), later);
    // A staging file left by a crash inside the replace is no state.
    test::writeFile(folder / ".stage-leftover", "{");
    EXPECT_EQ(OCRQueueEngine::inspect(folder), later);
}

// A process storing edits and folding its journal every few stores is
// killed at random moments: inside an append, inside a fold, between them.
// Every reopening finds every store the process reported.
TEST_F(QueueJournal, AWriterKilledInsideAnAppendOrAFoldKeepsEveryReportedStore) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const fs::path folder = folderOf(*recognised({2, 2}));
    const QueueSnapshot s = OCRQueueEngine::inspect(folder);

    int32_t next = 1;
    int kills = 0;
    for (int attempt = 0; kills < 12 && attempt < 40; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const int32_t first = next;
        test::KilledWorker worker([&](int reportFD) {
            auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
            for (int32_t k = first; k < first + 100000; ++k) {
                const std::size_t input = static_cast<std::size_t>(k % 2);
                engine->stageEditor(textRecord(s.inputs[input].id, 1 + (k / 2) % 2, "edit " + std::to_string(k)));
                test::report(reportFD, k);
                if (k % 5 == 0) engine->compact();
            }
        });
        std::map<std::pair<std::size_t, int64_t>, int32_t> reported;
        const auto note = [&](int32_t k) { reported[{static_cast<std::size_t>(k % 2), 1 + (k / 2) % 2}] = k; };
        int32_t value = 0;
        const int wanted = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < wanted && worker.read(value); ++i) note(value);
        ::usleep(static_cast<useconds_t>(rng() % 4000));
        const int status = worker.kill<int32_t>(note);
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the writer failed: " << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ++kills;

        QueueSnapshot stored;
        ASSERT_NO_THROW(stored = OCRQueueEngine::inspect(folder));
        int32_t highest = next - 1;
        for (const auto& [where, k] : reported) {
            const auto& pages = stored.inputs[where.first].editedPages;
            const auto found = pages.find(where.second);
            ASSERT_NE(found, pages.end()) << "edit " << k << " lost";
            const int32_t kept = std::stoi(found->second.substr(5));
            EXPECT_GE(kept, k);
            highest = std::max(highest, kept);
        }
        next = highest + 1;
    }
    EXPECT_EQ(kills, 12);
}

// Typing stores records while a whole write of the queue is under way, so
// a write often ends behind the journal's last record: the fold then keeps
// only the records the queue does not hold yet, and a journal kept ahead of
// every write stays the size of a few records instead of growing to its
// limit until stores fail.
TEST_F(QueueJournal, AFoldBehindTheLastStoreKeepsOnlyTheLaterRecords) {
    auto engine = recognised({2});
    const QueueSnapshot s = engine->snapshot();
    const fs::path folder = folderOf(*engine);
    QueueEditJournal journal(*engine->directory());
    const std::string page(256 * 1024, 'x');
    uint64_t largest = 0;
    for (uint64_t sequence = 1; sequence <= 40; ++sequence) {
        journal.append(record(s, 0, 1 + static_cast<int64_t>(sequence % 2), sequence, page + std::to_string(sequence)));
        if (sequence > 1) {
            EXPECT_FALSE(journal.foldedUpTo(sequence - 1));
        }
        largest = std::max(largest, sizeOf(journalOf(folder)));
    }
    EXPECT_LT(largest, 3 * page.size());
    const QueueEditJournal::Contents left = QueueEditJournal::read(*engine->directory());
    ASSERT_EQ(left.records.size(), 1u);
    EXPECT_EQ(left.records[0].sequence, 40u);
    EXPECT_EQ(left.setAsideBytes, 0u);
    // Appends go on after the journal was written anew, and a fold that
    // holds them all empties it.
    journal.append(record(s, 0, 2, 41, "次"));
    EXPECT_EQ(QueueEditJournal::read(*engine->directory()).records.size(), 2u);
    EXPECT_TRUE(journal.foldedUpTo(41));
    EXPECT_EQ(sizeOf(journalOf(folder)), 0u);
    EXPECT_FALSE(fs::exists(folder / (std::string(QueueEditJournal::fileName) + ".fold")));
}
