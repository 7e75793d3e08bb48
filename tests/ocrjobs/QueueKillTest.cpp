#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>

#include "QueueFixtures.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

using PageKey = std::pair<std::size_t, int64_t>;  // (input position, page)

// Reports in a whole run of the queue below: the start, per input its
// opening, two per page and its end, and the end.
constexpr int fullRunReports = 1 + (1 + 2 * 5 + 1) + (1 + 2 + 1) + (1 + 2 * 6 + 1) + 1;

// The worker process: reopens the queue and runs it, reporting after every
// progress call how many pages the queue had completed then.
void runWorker(const fs::path& folder, int reportFD) {
    test::FakeRecognizer fake;
    fake.delay = std::chrono::milliseconds(4);
    auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
    engine->setRecognizer(fake.bind());
    JobControl control;
    engine->run(control, false, {}, {}, [reportFD](const QueueSnapshot& s) {
        test::report(reportFD, static_cast<int32_t>(s.completedPages()));
    });
}

std::set<PageKey> completedPages(const QueueSnapshot& s) {
    std::set<PageKey> out;
    for (std::size_t i = 0; i < s.inputs.size(); ++i) {
        for (const auto& r : s.inputs[i].pages) {
            if (r.state == PageState::completed) out.insert({i, r.page});
        }
    }
    return out;
}

bool holdsStagingFiles(const fs::path& folder) {
    for (const auto& name : test::listNames(folder)) {
        if (name.starts_with(".stage-")) return true;
    }
    return false;
}

}  // namespace

// A process running a 12-page queue is killed at a random point, twenty
// times over: while a page is recognised, committed, or the queue or a
// checkpoint is written. Reopening the queue and running it again completes
// it with every page once, recognising none that had been committed.
TEST(QueueKill, AQueueKilledAnywhereResumesWithEveryPageExactlyOnce) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    WorkerBudget::shared().setBytes(int64_t{1} << 30);

    int kills = 0;
    for (int round = 0; kills < 20 && round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        test::TempDir tmp(true);
        const std::vector<fs::path> files{test::writeWidePDF(tmp / "five.pdf", 5, 300),
                                          test::writeSamplePNG(tmp / "one.png"),
                                          test::writeWidePDF(tmp / "six.pdf", 6, 400)};
        std::map<int, std::size_t> inputOfWidth;
        for (std::size_t i = 0; i < files.size(); ++i) inputOfWidth[test::pageWidth(files[i])] = i;
        ASSERT_EQ(inputOfWidth.size(), 3u);
        std::vector<OCRQueueEngine::InputFile> inputs;
        for (const auto& f : files) inputs.push_back({f});
        const fs::path folder =
            OCRQueueEngine::create(inputs, test::currentSettings(), tmp / "queues")->directory()->url();

        test::KilledWorker worker([&](int reportFD) { runWorker(folder, reportFD); });

        // Some reports in, before the last page has ended, and then a little
        // later still: within a page's recognition at most.
        const int wanted = 1 + static_cast<int>(rng() % (fullRunReports - 3));
        int32_t completed = 0, reported = 0;
        bool working = true;
        for (int i = 0; i < wanted && working; ++i) {
            working = worker.read(completed);
            if (working) reported = completed;
        }
        ::usleep(static_cast<useconds_t>(rng() % 2000));
        const int status = worker.kill<int32_t>([&](int32_t c) { reported = c; });
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0)
            << "after " << wanted << " reports the worker failed with " << WEXITSTATUS(status);
        // A worker that outran its kill on a busy machine made no kill point.
        if (WIFSIGNALED(status)) ++kills;

        // Reopening checks every started job; what was committed is there,
        // at least as much as the last report showed.
        std::unique_ptr<OCRQueueEngine> engine;
        ASSERT_NO_THROW(engine = OCRQueueEngine::resume(folder, test::currentSettings()));
        const std::set<PageKey> committed = completedPages(engine->snapshot());
        EXPECT_GE(committed.size(), static_cast<std::size_t>(reported));

        test::FakeRecognizer fake;
        engine->setRecognizer(fake.bind());
        JobControl control;
        engine->run(control, true, {}, {}, [](const QueueSnapshot&) {});

        std::set<PageKey> recognised;
        for (const auto& [width, page] : fake.calls) {
            const PageKey key{inputOfWidth.at(width), page};
            EXPECT_FALSE(committed.count(key)) << "page " << page << " of input " << key.first << " recognised again";
            EXPECT_TRUE(recognised.insert(key).second) << "page " << page << " of input " << key.first << " twice";
        }
        const QueueSnapshot s = engine->snapshot();
        EXPECT_EQ(s.status, QueueStatus::completed);
        EXPECT_EQ(completedPages(s).size(), 12u);
        EXPECT_EQ(committed.size() + recognised.size(), 12u);
        for (std::size_t i = 0; i < s.inputs.size(); ++i) {
            EXPECT_EQ(s.inputs[i].status, InputStatus::completed);
            for (const auto& r : s.inputs[i].pages) {
                EXPECT_EQ(engine->result(s.inputs[i].id, r.page)->text(), test::fakeText(files[i], r.page));
            }
        }
        EXPECT_EQ(OCRQueueEngine::inspect(folder), s);
        // What a killed writer was staging is gone from the queue's folder and
        // from the jobs it runs. (A job made just before the kill and never
        // recorded in the queue is left as it is.)
        EXPECT_FALSE(holdsStagingFiles(folder));
        for (const auto& in : s.inputs) EXPECT_FALSE(holdsStagingFiles(OCRQueueEngine::jobFolder(folder, *in.attemptID)));
    }
    EXPECT_EQ(kills, 20);
}
