#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <set>

#include "JobFixtures.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr int64_t pageCount = 24;

PageResult expectedResult(int64_t page) { return test::sampleResult(page, "ページ" + std::to_string(page)); }

// Retries what failed and works through the pending pages, failing one in
// six when a generator is given, and tells `committed` each page whose
// commit has returned.
void finishPending(JobStore& store, std::mt19937* rng, const std::function<void(int64_t)>& committed) {
    std::set<int64_t> failed;
    for (const auto& r : store.checkpoint().pages) {
        if (r.state == PageState::failed) failed.insert(r.page);
    }
    store.retryFailed(failed);
    for (const auto& r : store.checkpoint().pages) {
        if (r.state != PageState::pending) continue;
        store.begin(r.page);
        if (rng && (*rng)() % 6 == 0) {
            store.fail(r.page, ErrorCase::emptyResult);
            continue;
        }
        store.commit(expectedResult(r.page));
        committed(r.page);
    }
}

// The worker of one run: resumes the job and finishes what it can,
// reporting each committed page. Having nothing left to do it reports page 0
// and waits to be killed, so every run ends with a kill.
[[noreturn]] void runWorker(const fs::path& folder, const SourceIdentity& source, unsigned seed, int reportFD) {
    std::mt19937 rng(seed);
    auto store = JobStore::resume(folder, source, test::currentSettings());
    finishPending(*store, &rng, [reportFD](int64_t page) { test::report(reportFD, page); });
    test::report(reportFD, int64_t{0});
    for (;;) ::pause();
}

}  // namespace

// A worker is killed at random points, in the middle of a resume, a begin, a
// page-file write or a checkpoint save, again and again. After every kill the
// job must still resume, with every page whose commit had returned completed
// and intact.
TEST(JobStoreCrash, AKilledWorkerNeverDamagesTheJobNorLosesACommittedPage) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    test::TempDir tmp;
    const SourceIdentity source = SourceIdentity::read(test::writeSamplePDF(tmp / "book.pdf", pageCount));
    const auto newJob = [&] {
        return JobStore::create(source, test::currentSettings(), tmp / "jobs")->directory()->url();
    };
    fs::path folder = newJob();
    std::set<int64_t> committed;
    int jobs = 1;
    for (int run = 0; run < 80; ++run) {
        test::KilledWorker worker([&, seed = rng()](int reportFD) { runWorker(folder, source, seed, reportFD); });

        // Let it commit a few pages, then kill it somewhere within the next
        // few milliseconds.
        const int wanted = static_cast<int>(rng() % 3);
        int64_t page = 0;
        bool working = true;
        for (int i = 0; i < wanted && working; ++i) {
            working = worker.read(page) && page != 0;
            if (working) committed.insert(page);
        }
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        const int status = worker.kill<int64_t>([&](int64_t p) {
            if (p != 0) committed.insert(p);
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the worker failed on its own in run " << run << " with " << WEXITSTATUS(status);

        std::unique_ptr<JobStore> inspected;
        ASSERT_NO_THROW(inspected = JobStore::resume(folder, source, test::currentSettings(), true))
            << "after run " << run;
        const Checkpoint c = inspected->checkpoint();
        for (int64_t p : committed) {
            ASSERT_EQ(c.pages[static_cast<std::size_t>(p - 1)].state, PageState::completed) << "page " << p;
            ASSERT_EQ(inspected->result(p), expectedResult(p)) << "page " << p;
        }
        bool finished = true;
        for (const auto& r : c.pages) finished = finished && r.state == PageState::completed;
        if (finished) {
            folder = newJob();
            committed.clear();
            ++jobs;
        }
    }

    // Whatever is left is finished normally, and the text has every page.
    auto store = JobStore::resume(folder, source, test::currentSettings());
    finishPending(*store, nullptr, [](int64_t) {});
    std::string expected;
    for (int64_t p = 1; p <= pageCount; ++p) {
        if (p > 1) expected += "\n\n";
        expected += "--- ページ " + std::to_string(p) + " ---\nページ" + std::to_string(p);
    }
    EXPECT_EQ(store->text(), expected);
}
