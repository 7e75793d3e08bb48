#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "ocrjobs/JobFixtures.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRAdmission.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
using Stop = JobControl::Stop;

namespace {

// A recogniser that takes a little time per page and records what it saw.
struct FakeRecognizer {
    std::mutex lock;
    std::vector<int64_t> order;
    std::atomic<int> threads{0};  // threads it has been called on
    std::atomic<int> inside{0};
    std::atomic<int> worst{0};
    std::chrono::milliseconds delay{15};
    std::function<void(int64_t)> during;

    PDFJob::Recognizer bind() {
        return [this](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                      const std::function<bool()>&) {
            EXPECT_TRUE(image);
            {
                std::lock_guard g(lock);
                order.push_back(page);
            }
            // Fresh in every new thread, even one that reuses an old id.
            thread_local bool counted = false;
            if (!counted) {
                counted = true;
                ++threads;
            }
            const int now = ++inside;
            int seen = worst.load();
            while (now > seen && !worst.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(delay);
            if (during) during(page);
            --inside;
            return test::sampleResult(page, "page " + std::to_string(page));
        };
    }
};

class Runner : public ::testing::Test {
protected:
    test::TempDir tmp;
    std::unique_ptr<JobStore> store;
    FakeRecognizer fake;

    void SetUp() override {
        WorkerBudget::shared().setBytes(int64_t{1} << 30);
        store = JobStore::create(SourceIdentity::read(test::writeSamplePDF(tmp / "doc.pdf", 6)),
                                 test::currentSettings(), tmp / "jobs");
    }

    PDFJob::Options options(int concurrency = 2) {
        PDFJob::Options o;
        o.concurrency = concurrency;
        o.recognize = fake.bind();
        return o;
    }

    std::vector<PageState> states() const {
        std::vector<PageState> out;
        for (const auto& r : store->checkpoint().pages) out.push_back(r.state);
        return out;
    }
};

}  // namespace

TEST_F(Runner, BeginsInOrderWithAtMostTwoInFlight) {
    std::vector<std::pair<int64_t, PageState>> events;
    int inProgress = 0, worstInProgress = 0;
    auto o = options(2);
    o.workerLimit = [] { return 5; };  // more than two still means two
    o.onPage = [&](const PageRecord& r) {
        events.push_back({r.page, r.state});
        if (r.state == PageState::inProgress) worstInProgress = std::max(worstInProgress, ++inProgress);
        else --inProgress;
    };
    JobSummary s = PDFJob::run(*store, *std::make_unique<JobControl>(), o);
    EXPECT_EQ(s.completed, 6);
    EXPECT_EQ(s.pending, 0);
    EXPECT_EQ(s.submittedToVision, 6);
    EXPECT_FALSE(s.blockedError);
    EXPECT_EQ(worstInProgress, 2);
    std::vector<int64_t> begun;
    for (const auto& [page, state] : events) {
        if (state == PageState::inProgress) begun.push_back(page);
    }
    EXPECT_EQ(begun, (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(events.size(), 12u);
    EXPECT_LE(fake.worst.load(), 2);
    EXPECT_EQ(store->result(4)->text(), "page 4");
    // The recogniser keeps its engine per thread: six pages run on two.
    EXPECT_LE(fake.threads.load(), 2);
}

TEST_F(Runner, OneAtATimeInPageOrderWithALimitOfOne) {
    for (auto limit : {std::function<int()>(), std::function<int()>([] { return 0; })}) {
        test::TempDir other;
        auto job = JobStore::create(SourceIdentity::read(test::writeSamplePDF(other / "d.pdf", 4)),
                                    test::currentSettings(), other / "jobs");
        FakeRecognizer f;
        PDFJob::Options o;
        o.concurrency = 1;
        o.workerLimit = limit;
        o.recognize = f.bind();
        JobControl control;
        EXPECT_EQ(PDFJob::run(*job, control, o).completed, 4);
        EXPECT_EQ(f.worst.load(), 1);
        EXPECT_EQ(f.threads.load(), 1);
        EXPECT_EQ(f.order, (std::vector<int64_t>{1, 2, 3, 4}));
    }
}

TEST_F(Runner, AStopBeforeTheRunDoesNothing) {
    JobControl control;
    control.request(Stop::pause);
    int calls = 0;
    auto o = options();
    o.onPage = [&](const PageRecord&) { ++calls; };
    JobSummary s = PDFJob::run(*store, control, o);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(s.pending, 6);
    EXPECT_EQ(s.submittedToVision, 0);
    EXPECT_TRUE(fake.order.empty());
}

TEST_F(Runner, PauseAndCancelKeepWhatIsCommitted) {
    for (Stop stop : {Stop::pause, Stop::cancel}) {
        test::TempDir other;
        auto job = JobStore::create(SourceIdentity::read(test::writeSamplePDF(other / "d.pdf", 6)),
                                    test::currentSettings(), other / "jobs");
        JobControl control;
        FakeRecognizer f;
        f.during = [&](int64_t page) {
            if (page == 3) control.request(stop);
        };
        PDFJob::Options o;
        o.concurrency = 1;
        o.recognize = f.bind();
        JobSummary s = PDFJob::run(*job, control, o);
        // The page in recognition when the stop came still completes.
        EXPECT_EQ(s.completed, 3);
        EXPECT_EQ(s.pending, 3);
        for (const auto& r : job->checkpoint().pages) {
            EXPECT_EQ(r.state, r.page <= 3 ? PageState::completed : PageState::pending) << r.page;
        }
    }
}

TEST_F(Runner, PageFailuresAreRecordedNotThrown) {
    auto o = options(1);
    o.failPages = {2};
    auto base = fake.bind();
    o.recognize = [&](const RasterImage& i, uint32_t orientation, int64_t page, const OCRSettings& s,
                      const std::function<bool()>& c) -> PageResult {
        if (page == 3) throw std::runtime_error("not one of ours");
        if (page == 4) raise(ErrorCase::emptyResult);
        if (page == 5) throw CancellationError();
        return base(i, orientation, page, s, c);
    };
    JobControl control;
    JobSummary s = PDFJob::run(*store, control, o);
    const Checkpoint cp = store->checkpoint();
    EXPECT_EQ(cp.pages[1].error, ErrorCase::injectedFailure);
    EXPECT_EQ(cp.pages[2].error, ErrorCase::renderFailed);
    EXPECT_EQ(cp.pages[3].error, ErrorCase::emptyResult);
    EXPECT_EQ(cp.pages[4].state, PageState::pending);  // a cancelled page is deferred, never failed
    EXPECT_EQ(s.failed, (std::vector<int64_t>{2, 3, 4}));
    EXPECT_EQ(s.completed, 2);
    EXPECT_EQ(s.pending, 1);
    EXPECT_EQ(s.submittedToVision, 5);  // the injected failure never reached the recogniser
    EXPECT_EQ(control.stop(), Stop::none);
}

TEST_F(Runner, ABlockedDocumentPausesAndReportsTheLastBlockingError) {
    auto o = options(1);
    int checks = 0;
    o.accessCheck = [&](const std::filesystem::path& source, int64_t page) {
        EXPECT_EQ(source, tmp / "doc.pdf");
        ++checks;
        if (page == 2) raise(ErrorCase::sourceMissing);
    };
    JobControl control;
    JobSummary s = PDFJob::run(*store, control, o);
    EXPECT_EQ(s.blockedError, ErrorCase::sourceMissing);
    EXPECT_EQ(control.stop(), Stop::pause);
    EXPECT_EQ(states(), (std::vector<PageState>{PageState::completed, PageState::pending, PageState::pending,
                                                PageState::pending, PageState::pending, PageState::pending}));
    EXPECT_EQ(checks, 3);
    // Loading errors other than ours become invalidInput, not submitted.
    test::TempDir other;
    auto broken = JobStore::create(SourceIdentity::read(test::writeSamplePDF(other / "d.pdf", 2)),
                                   test::currentSettings(), other / "jobs");
    auto o2 = options(1);
    o2.accessCheck = [](const std::filesystem::path&, int64_t page) {
        if (page == 1) throw std::runtime_error("odd");
    };
    JobControl c2;
    JobSummary s2 = PDFJob::run(*broken, c2, o2);
    EXPECT_EQ(broken->checkpoint().pages[0].error, ErrorCase::invalidInput);
    EXPECT_EQ(s2.submittedToVision, 1);
}

TEST_F(Runner, ACommitFailureDefersPausesAndThrows) {
    auto o = options(2);
    auto base = fake.bind();
    o.recognize = [&](const RasterImage& i, uint32_t orientation, int64_t page, const OCRSettings& s,
                      const std::function<bool()>& c) {
        PageResult r = base(i, orientation, page, s, c);
        if (page == 2) r.page = 99;  // a result the store cannot commit
        return r;
    };
    JobControl control;
    EXPECT_THROW(PDFJob::run(*store, control, o), BrindlexError);
    EXPECT_EQ(control.stop(), Stop::pause);
    EXPECT_EQ(store->checkpoint().pages[1].state, PageState::pending);
    // Every worker is gone: nothing holds an admission slot.
    EXPECT_EQ(OCRAdmission::shared().active(), 0);
}

TEST_F(Runner, ABoundaryErrorEndsTheRunAfterJoiningEveryWorker) {
    auto o = options(2);
    fake.delay = std::chrono::milliseconds(40);
    o.commitBoundary = [](int64_t page, bool committed) {
        if (page == 1 && committed) throw std::runtime_error("boundary");
    };
    JobControl control;
    EXPECT_THROW(PDFJob::run(*store, control, o), std::runtime_error);
    EXPECT_EQ(store->checkpoint().pages[0].state, PageState::completed);
    EXPECT_EQ(OCRAdmission::shared().active(), 0);
    EXPECT_EQ(fake.inside.load(), 0);
}

TEST_F(Runner, CallerCancellationDefersEveryWaitingPage) {
    std::stop_source source;
    source.request_stop();
    auto o = options(2);
    o.stop = source.get_token();
    JobControl control;
    JobSummary s = PDFJob::run(*store, control, o);
    EXPECT_EQ(s.pending, 6);
    EXPECT_EQ(s.submittedToVision, 0);
    EXPECT_TRUE(fake.order.empty());
}

TEST_F(Runner, TwoConcurrentRunsShareTheGate) {
    test::TempDir other;
    auto second = JobStore::create(SourceIdentity::read(test::writeSamplePDF(other / "d.pdf", 6)),
                                   test::currentSettings(), other / "jobs");
    JobControl a, b;
    auto oa = options(2), ob = options(2);
    std::jthread t([&] { PDFJob::run(*second, b, ob); });
    PDFJob::run(*store, a, oa);
    t.join();
    EXPECT_LE(fake.worst.load(), 2);
    EXPECT_EQ(fake.order.size(), 12u);
    EXPECT_LE(OCRAdmission::shared().maximumObserved(), 2);
}
