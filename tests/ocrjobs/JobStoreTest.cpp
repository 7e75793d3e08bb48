#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "JobFixtures.hpp"
#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

struct Job {
    test::TempDir tmp;
    fs::path sourcePath;
    SourceIdentity source;
    std::unique_ptr<JobStore> store;

    explicit Job(int pages) {
        sourcePath = test::writeSamplePDF(tmp / "doc.pdf", pages);
        source = SourceIdentity::read(sourcePath);
        store = JobStore::create(source, test::currentSettings(), tmp / "jobs");
    }
    fs::path folder() const { return store->directory()->url(); }
    std::unique_ptr<JobStore> resume(bool validateOnly = false) const {
        return JobStore::resume(folder(), source, test::currentSettings(), validateOnly);
    }
};

std::vector<PageState> states(const JobStore& store) {
    std::vector<PageState> out;
    for (const auto& r : store.checkpoint().pages) out.push_back(r.state);
    return out;
}

void rewriteCheckpoint(const fs::path& folder, const std::function<void(Checkpoint&)>& change) {
    SecureDirectory dir(folder, false);
    Checkpoint c = CheckpointFile::read(dir);
    change(c);
    CheckpointFile::write(dir, c);
}

// A PageResult whose encoding takes exactly `bytes` bytes.
PageResult resultOfSize(int64_t page, std::size_t bytes) {
    const std::size_t base = JSON::encode(test::sampleResult(page, "")).size();
    return test::sampleResult(page, std::string(bytes - base, 'a'));
}

}  // namespace

TEST(JobStore, ANewJobIsCheckpointedInItsAttemptFolder) {
    Job job(3);
    const Checkpoint c = job.store->checkpoint();
    EXPECT_EQ(job.folder(), job.tmp / "jobs" / c.attemptID.text());
    EXPECT_EQ(test::listNames(job.folder()), std::vector<std::string>{"checkpoint.json"});
    EXPECT_EQ(CheckpointFile::read(*job.store->directory()), c);
    EXPECT_EQ(c.pages, (std::vector<PageRecord>{PageRecord(1), PageRecord(2), PageRecord(3)}));
    EXPECT_EQ(c.source, job.source);
    EXPECT_EQ(c.dictionaryHash, test::currentSettings().dictionaryHash());

    // The same job created again is a new attempt beside the first.
    auto again = JobStore::create(job.source, test::currentSettings(), job.tmp / "jobs", c.jobID);
    EXPECT_EQ(again->checkpoint().jobID, c.jobID);
    EXPECT_NE(again->checkpoint().attemptID, c.attemptID);
    EXPECT_EQ(test::listNames(job.tmp / "jobs").size(), 2u);
}

TEST(JobStore, ADocumentWithoutPagesIsNoJob) {
    test::TempDir tmp;
    const SourceIdentity empty = SourceIdentity::read(test::writeEmptyPDF(tmp / "empty.pdf"));
    EXPECT_EQ(caseOf([&] { JobStore::create(empty, test::currentSettings(), tmp / "jobs"); }),
              ErrorCase::invalidInput);
    const auto folders = test::listNames(tmp / "jobs");
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(test::listNames(tmp / "jobs" / folders[0]).empty());
    EXPECT_EQ(caseOf([&] { JobStore::create(empty, test::currentSettings(), std::nullopt); }),
              ErrorCase::invalidInput);
}

TEST(JobStore, AJobWithoutAFolderWritesNothing) {
    test::TempDir tmp;
    const fs::path source = test::writeSamplePNG(tmp / "private.png");
    fs::create_directories(tmp / "cwd");
    fs::create_directories(tmp / "storage");
    fs::create_directories(tmp / "output");
    AppRuntime::ScopedOverride roots(AppRuntime{tmp / "storage", tmp / "output"});
    const fs::path previous = fs::current_path();
    fs::current_path(tmp / "cwd");

    auto store = JobStore::create(SourceIdentity::read(source), test::currentSettings(), std::nullopt);
    EXPECT_FALSE(store->directory());
    store->begin(1);
    store->commit(test::sampleResult(1, "秘密"));
    EXPECT_EQ(store->result(1), test::sampleResult(1, "秘密"));
    EXPECT_EQ(store->checkpoint().pages[0].resultFile, "page-1.json");
    EXPECT_EQ(store->memoryBytes(), static_cast<int64_t>(JSON::encode(test::sampleResult(1, "秘密")).size()));
    EXPECT_EQ(store->text(), "--- ページ 1 ---\n秘密");

    fs::current_path(previous);
    EXPECT_EQ(test::listNames(tmp.path()), (std::vector<std::string>{"cwd", "output", "private.png", "storage"}));
    EXPECT_TRUE(test::listNames(tmp / "cwd").empty());
    EXPECT_TRUE(test::listNames(tmp / "storage").empty());
    EXPECT_TRUE(test::listNames(tmp / "output").empty());
}

TEST(JobStore, PagesMoveThroughTheirStatesAndAreSavedEachTime) {
    Job job(12);
    JobStore& s = *job.store;
    s.begin(12);
    s.commit(test::sampleResult(12, "十二"));
    const auto record = s.checkpoint().pages[11];
    EXPECT_EQ(record.state, PageState::completed);
    EXPECT_EQ(record.resultFile, "page-12.json");
    EXPECT_EQ(record.checksum, Digest::file(job.folder() / "page-12.json"));
    EXPECT_EQ(CheckpointFile::read(*s.directory()), s.checkpoint());

    s.begin(1);
    EXPECT_EQ(caseOf([&] { s.begin(1); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { s.commit(test::sampleResult(2, "x")); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { s.commit(test::sampleResult(13, "x")); }), ErrorCase::damagedCheckpoint);
    for (int64_t outside : {0, 13, -1}) {
        EXPECT_EQ(caseOf([&] { s.begin(outside); }), ErrorCase::damagedCheckpoint);
        EXPECT_EQ(caseOf([&] { s.fail(outside, ErrorCase::renderFailed); }), ErrorCase::damagedCheckpoint);
        EXPECT_EQ(caseOf([&] { s.deferPage(outside); }), ErrorCase::damagedCheckpoint);
        EXPECT_EQ(caseOf([&] { s.result(outside); }), ErrorCase::invalidInput);
    }
    s.fail(1, ErrorCase::renderFailed);
    s.begin(2);
    s.deferPage(2);
    s.begin(3);
    s.skipPending();
    const Checkpoint c = s.checkpoint();
    EXPECT_EQ(c.pages[0], PageRecord(1, PageState::failed, std::nullopt, std::nullopt, ErrorCase::renderFailed));
    EXPECT_EQ(c.pages[1].state, PageState::cancelled);
    EXPECT_EQ(c.pages[2].state, PageState::inProgress);
    EXPECT_EQ(c.pages[11].state, PageState::completed);
    EXPECT_EQ(CheckpointFile::read(*s.directory()), c);
    EXPECT_FALSE(s.result(2));
    EXPECT_EQ(s.result(12), test::sampleResult(12, "十二"));
    EXPECT_EQ(test::listNames(job.folder()), (std::vector<std::string>{"checkpoint.json", "page-12.json"}));
}

TEST(JobStore, RetryingMovesTheErrorToThePriorFailures) {
    Job job(3);
    JobStore& s = *job.store;
    s.begin(1);
    s.fail(1, ErrorCase::emptyResult);
    s.begin(2);
    s.commit(test::sampleResult(2, "ok"));
    const Checkpoint before = s.checkpoint();
    EXPECT_EQ(caseOf([&] { s.retryFailed({1, 2}); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { s.retryFailed({1, 4}); }), ErrorCase::invalidInput);
    EXPECT_EQ(s.checkpoint(), before);

    s.retryFailed({1});
    EXPECT_EQ(s.checkpoint().pages[0], PageRecord(1, PageState::pending, std::nullopt, std::nullopt, std::nullopt,
                                                  std::vector<ErrorCase>{ErrorCase::emptyResult}));
    s.begin(1);
    s.fail(1, ErrorCase::renderFailed);
    s.retryFailed({1});
    EXPECT_EQ(s.checkpoint().pages[0].priorFailures,
              (std::vector<ErrorCase>{ErrorCase::emptyResult, ErrorCase::renderFailed}));
    EXPECT_EQ(CheckpointFile::read(*s.directory()), s.checkpoint());
}

TEST(JobStore, TheTextHasOnePartPerPage) {
    Job job(2);
    job.store->begin(1);
    job.store->commit(test::sampleResult(1, "abc"));
    job.store->begin(2);
    job.store->fail(2, ErrorCase::renderFailed);
    EXPECT_EQ(job.store->text(), "--- ページ 1 ---\nabc\n\n--- ページ 2 ---\n[failed]");

    // Results are read from their files every time, and checked.
    test::writeFile(job.folder() / "page-1.json", JSON::print(test::sampleResult(1, "abd")));
    EXPECT_EQ(caseOf([&] { job.store->text(); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { job.store->result(1); }), ErrorCase::damagedCheckpoint);
}

TEST(JobStore, ResumeTakesUpWhereTheJobStoodAndFollowsAMovedFile) {
    Job job(3);
    job.store->begin(1);
    job.store->commit(test::sampleResult(1, "一"));
    job.store->begin(2);
    job.store->skipPending();
    // What a writer killed before its rename leaves behind.
    test::writeFile(job.folder() / (".stage-" + UUID::random().text()), "{\"payload\" : \"e3");
    const auto before = test::folderBytes(job.folder());

    // Only inspecting leaves every byte as it was.
    auto inspected = job.resume(true);
    EXPECT_EQ(states(*inspected), (std::vector<PageState>{PageState::completed, PageState::pending,
                                                          PageState::pending}));
    EXPECT_EQ(test::folderBytes(job.folder()), before);

    fs::create_directory(job.tmp / "elsewhere");
    fs::rename(job.sourcePath, job.tmp / "elsewhere" / "renamed.pdf");
    const SourceIdentity moved = SourceIdentity::read(job.tmp / "elsewhere" / "renamed.pdf");
    auto resumed = JobStore::resume(job.folder().string() + "/", moved, test::currentSettings());
    EXPECT_EQ(resumed->checkpoint().source, moved);
    EXPECT_EQ(test::listNames(job.folder()), (std::vector<std::string>{"checkpoint.json", "page-1.json"}));
    EXPECT_EQ(CheckpointFile::read(*resumed->directory()), resumed->checkpoint());
    EXPECT_EQ(states(*resumed), states(*inspected));
    EXPECT_EQ(resumed->result(1), test::sampleResult(1, "一"));
    resumed->begin(2);
    resumed->commit(test::sampleResult(2, "二"));
    EXPECT_EQ(resumed->text(), "--- ページ 1 ---\n一\n\n--- ページ 2 ---\n二\n\n--- ページ 3 ---\n[pending]");
}

// Each fault is set up together with every fault checked after it, so the
// case shows which check came first; a failed resume leaves the folder as it
// was.
TEST(JobStore, ResumeChecksFireInOrder) {
    OCRSettings changedSettings = test::currentSettings();
    changedSettings.dpi = 300;
    OCRSettings shortFingerprint = test::currentSettings();
    shortFingerprint.implementationSHA256.pop_back();
    OCRSettings shortBundle = test::currentSettings();
    shortBundle.bundledCodeSHA256 += "0";

    struct Case {
        const char* name;
        std::function<void(Job&)> damage;
        bool changeSource;
        std::optional<OCRSettings> settings;
        ErrorCase expected;
    };
    const auto rewrite = [](std::function<void(Checkpoint&)> f) {
        return [f](Job& job) { rewriteCheckpoint(job.folder(), f); };
    };
    const auto writeRaw = [](std::string content) {
        return [content](Job& job) { test::writeFile(job.folder() / "checkpoint.json", content); };
    };
    const std::vector<Case> cases{
        {"no checkpoint", [](Job& job) { fs::remove(job.folder() / "checkpoint.json"); }, true, changedSettings,
         ErrorCase::damagedCheckpoint},
        {"not an envelope", writeRaw("{\"payload\":1}"), true, changedSettings, ErrorCase::damagedCheckpoint},
        {"digest mismatch", writeRaw(R"({"payload":"e30=","sha256":")" + std::string(64, '0') + "\"}"), true,
         changedSettings, ErrorCase::damagedCheckpoint},
        {"payload no checkpoint", writeRaw(R"({"payload":"e30=","sha256":")" + Digest::data(std::string_view("{}")) +
                                           "\"}"),
         true, changedSettings, ErrorCase::damagedCheckpoint},
        {"schema", rewrite([](Checkpoint& c) { c.schemaVersion = 2; }), true, changedSettings,
         ErrorCase::damagedCheckpoint},
        {"other attempt", rewrite([](Checkpoint& c) { c.attemptID = UUID::random(); }), true, changedSettings,
         ErrorCase::damagedCheckpoint},
        {"record count", rewrite([](Checkpoint& c) { c.pages.pop_back(); }), true, changedSettings,
         ErrorCase::damagedCheckpoint},
        {"numbering", rewrite([](Checkpoint& c) { std::swap(c.pages[1], c.pages[2]); }), true, changedSettings,
         ErrorCase::damagedCheckpoint},
        {"no pages", rewrite([](Checkpoint& c) { c.pages.clear(); c.source.pageCount = 0; }), true,
         changedSettings, ErrorCase::damagedCheckpoint},
        {"source changed", nullptr, true, changedSettings, ErrorCase::sourceChanged},
        {"fingerprint length", nullptr, false, shortFingerprint, ErrorCase::settingsChanged},
        {"bundle fingerprint length", nullptr, false, shortBundle, ErrorCase::settingsChanged},
        {"settings changed", nullptr, false, changedSettings, ErrorCase::settingsChanged},
        {"dictionary", rewrite([](Checkpoint& c) { c.dictionaryHash = std::string(64, 'f'); }), false, std::nullopt,
         ErrorCase::settingsChanged},
        {"page file gone", [](Job& job) { fs::remove(job.folder() / "page-1.json"); }, false, std::nullopt,
         ErrorCase::damagedCheckpoint},
        {"page file altered",
         [](Job& job) { test::writeFile(job.folder() / "page-1.json", JSON::print(test::sampleResult(1, "x"))); },
         false, std::nullopt, ErrorCase::damagedCheckpoint},
        {"page file of another page",
         [](Job& job) {
             const std::string other = JSON::print(test::sampleResult(2, "一"));
             test::writeFile(job.folder() / "page-1.json", other);
             rewriteCheckpoint(job.folder(), [&](Checkpoint& c) { c.pages[0].checksum = Digest::data(other); });
         },
         false, std::nullopt, ErrorCase::damagedCheckpoint},
        {"result file misnamed", rewrite([](Checkpoint& c) { c.pages[0].resultFile = "page-01.json"; }), false,
         std::nullopt, ErrorCase::damagedCheckpoint},
        {"no checksum", rewrite([](Checkpoint& c) { c.pages[0].checksum.reset(); }), false, std::nullopt,
         ErrorCase::damagedCheckpoint},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Job job(3);
        job.store->begin(1);
        job.store->commit(test::sampleResult(1, "一"));
        job.store->begin(2);
        if (k.damage) k.damage(job);
        // Every check before the walk over the pages must fire first.
        if (k.expected != ErrorCase::damagedCheckpoint || k.settings) fs::remove(job.folder() / "page-1.json");
        SourceIdentity source = job.source;
        if (k.changeSource) source.sha256 = Digest::data(std::string_view("another file"));
        const OCRSettings settings = k.settings.value_or(test::currentSettings());
        const auto before = test::folderBytes(job.folder());
        EXPECT_EQ(caseOf([&] { JobStore::resume(job.folder(), source, settings); }), k.expected);
        EXPECT_EQ(test::folderBytes(job.folder()), before);
    }

    Job job(1);
    EXPECT_EQ(caseOf([&] {
                  JobStore::resume(job.tmp / "jobs" / UUID::random().text(), job.source, test::currentSettings());
              }),
              ErrorCase::unsafePath);
    EXPECT_EQ(test::listNames(job.tmp / "jobs").size(), 1u);
}

TEST(JobStore, ResultsInMemoryStopAtTheLimit) {
    const int64_t limit = JobStore::privateTextLimit;
    ASSERT_EQ(limit, 67108864);
    test::TempDir tmp;
    const SourceIdentity source("/private.pdf", 1, 3, std::string(64, 'a'));
    for (int64_t over : {0, 1}) {
        SCOPED_TRACE(over);
        auto s = JobStore::create(source, test::currentSettings(), std::nullopt);
        s->begin(1);
        s->commit(resultOfSize(1, 1000));
        s->begin(2);
        const PageResult big = resultOfSize(2, static_cast<std::size_t>(limit - 1000 + over));
        if (over == 0) {
            s->commit(big);
            EXPECT_EQ(s->memoryBytes(), limit);
            s->begin(3);
            EXPECT_EQ(caseOf([&] { s->commit(resultOfSize(3, 1000)); }), ErrorCase::budgetExceeded);
            EXPECT_EQ(s->checkpoint().pages[2].state, PageState::inProgress);
        } else {
            EXPECT_EQ(caseOf([&] { s->commit(big); }), ErrorCase::budgetExceeded);
            EXPECT_EQ(s->memoryBytes(), 1000);
            EXPECT_EQ(s->checkpoint().pages[1], PageRecord(2, PageState::inProgress));
            EXPECT_FALSE(s->result(2));
        }
    }
}

TEST(JobStore, ConcurrentWorkersNeverLoseAPage) {
    Job job(64);
    JobStore& s = *job.store;
    std::atomic<int64_t> next{1};
    std::atomic<bool> done{false};
    std::atomic<int> lost{0};
    const SecureDirectory disk(job.folder(), false);
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int64_t page = next++; page <= 64; page = next++) {
                s.begin(page);
                if (page % 9 == 0) s.fail(page, ErrorCase::emptyResult);
                else s.commit(test::sampleResult(page, "p" + std::to_string(page)));
                // Every save after this one includes this page, so the file
                // on disk shows it now, whatever the other workers do.
                const PageRecord onDisk = CheckpointFile::read(disk).pages[static_cast<std::size_t>(page - 1)];
                if (onDisk.state != (page % 9 == 0 ? PageState::failed : PageState::completed)) ++lost;
            }
        });
    }
    std::thread reader([&] {
        while (!done) {
            // Every copy is whole: a completed page always carries its file.
            for (const auto& r : s.checkpoint().pages) {
                if (r.state == PageState::completed) {
                    ASSERT_TRUE(r.resultFile && r.checksum);
                }
            }
        }
    });
    for (auto& w : workers) w.join();
    done = true;
    reader.join();
    EXPECT_EQ(lost, 0);
    auto resumed = job.resume();
    for (int64_t page = 1; page <= 64; ++page) {
        const PageRecord r = resumed->checkpoint().pages[static_cast<std::size_t>(page - 1)];
        if (page % 9 == 0) {
            EXPECT_EQ(r.state, PageState::failed) << page;
        } else {
            EXPECT_EQ(r.state, PageState::completed) << page;
            EXPECT_EQ(resumed->result(page), test::sampleResult(page, "p" + std::to_string(page)));
        }
    }
}
