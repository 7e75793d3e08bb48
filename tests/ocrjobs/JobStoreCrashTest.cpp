#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>

#include "JobFixtures.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr int64_t pageCount = 24;

PageResult expectedResult(int64_t page) { return test::sampleResult(page, "ページ" + std::to_string(page)); }

// The worker of one run: resumes the job, retries what failed and works
// through the pending pages, failing some, and reports each page on the pipe
// once its commit has returned. Having nothing left to do it reports page 0
// and waits to be killed, so every run ends with a kill.
[[noreturn]] void runWorker(const fs::path& folder, const SourceIdentity& source, unsigned seed, int reportFD) {
    try {
        std::mt19937 rng(seed);
        auto store = JobStore::resume(folder, source, test::currentSettings());
        std::set<int64_t> failed;
        for (const auto& r : store->checkpoint().pages) {
            if (r.state == PageState::failed) failed.insert(r.page);
        }
        store->retryFailed(failed);
        for (const auto& r : store->checkpoint().pages) {
            if (r.state != PageState::pending) continue;
            store->begin(r.page);
            if (rng() % 6 == 0) {
                store->fail(r.page, ErrorCase::emptyResult);
                continue;
            }
            store->commit(expectedResult(r.page));
            if (::write(reportFD, &r.page, sizeof r.page) != sizeof r.page) ::_exit(3);
        }
    } catch (...) {
        ::_exit(2);
    }
    const int64_t done = 0;
    if (::write(reportFD, &done, sizeof done) != sizeof done) ::_exit(3);
    for (;;) ::pause();
}

// Reads one report; false at the end of the stream or of the work. A worker that neither
// reports nor ends within the time limit fails the test rather than hanging.
bool readReport(int fd, int64_t* page) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1) throw std::runtime_error("the worker stopped answering");
    const ssize_t n = ::read(fd, page, sizeof *page);
    if (n == 0) return false;
    if (n != sizeof *page) throw std::runtime_error("a torn report");
    return *page != 0;
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
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            runWorker(folder, source, rng(), fds[1]);
        }
        ::close(fds[1]);

        // Let it commit a few pages, then kill it somewhere within the next
        // few milliseconds.
        const int wanted = static_cast<int>(rng() % 3);
        int64_t page = 0;
        bool working = true;
        for (int i = 0; i < wanted && working; ++i) {
            working = readReport(fds[0], &page);
            if (working) committed.insert(page);
        }
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        ::kill(pid, SIGKILL);
        while (working && (working = readReport(fds[0], &page))) committed.insert(page);
        ::close(fds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
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
    std::set<int64_t> failed;
    for (const auto& r : store->checkpoint().pages) {
        if (r.state == PageState::failed) failed.insert(r.page);
    }
    store->retryFailed(failed);
    for (const auto& r : store->checkpoint().pages) {
        if (r.state != PageState::pending) continue;
        store->begin(r.page);
        store->commit(expectedResult(r.page));
    }
    std::string expected;
    for (int64_t p = 1; p <= pageCount; ++p) {
        if (p > 1) expected += "\n\n";
        expected += "--- Page " + std::to_string(p) + " ---\nページ" + std::to_string(p);
    }
    EXPECT_EQ(store->text(), expected);
}
