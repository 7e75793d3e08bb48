#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "foundation/BrindlexError.hpp"
#include "ocrjobs/JobControl.hpp"
#include "ocrjobs/OCRAdmission.hpp"
#include "ocrjobs/QueueFolderInput.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using Stop = JobControl::Stop;

TEST(JobControl, CancelIsFinalAndNothingClearsAStop) {
    JobControl c;
    EXPECT_EQ(c.stop(), Stop::none);
    c.request(Stop::none);
    EXPECT_EQ(c.stop(), Stop::none);
    c.request(Stop::pause);
    c.request(Stop::none);
    EXPECT_EQ(c.stop(), Stop::pause);
    c.request(Stop::cancel);
    c.request(Stop::pause);
    c.request(Stop::none);
    EXPECT_EQ(c.stop(), Stop::cancel);
    EXPECT_EQ(fromRaw<Stop>("pause"), Stop::pause);
    EXPECT_FALSE(fromRaw<Stop>("Pause"));
}

TEST(JobControl, APartStopsWithTheWholeButKeepsItsOwnStopToItself) {
    JobControl whole;
    JobControl part(&whole);
    part.request(Stop::pause);
    EXPECT_EQ(part.stop(), Stop::pause);
    EXPECT_EQ(whole.stop(), Stop::none);

    JobControl other(&whole);
    whole.request(Stop::pause);
    EXPECT_EQ(other.stop(), Stop::pause);
    whole.request(Stop::cancel);
    // The stronger request wins, whichever control holds it.
    EXPECT_EQ(part.stop(), Stop::cancel);
    EXPECT_EQ(other.stop(), Stop::cancel);

    // The tokens a waiter is woken by: a part's fires with the whole, and a
    // part made after the whole stopped starts stopped.
    JobControl outer;
    JobControl inner(&outer);
    EXPECT_FALSE(inner.token().stop_requested());
    outer.request(Stop::none);
    EXPECT_FALSE(inner.token().stop_requested());
    outer.request(Stop::pause);
    EXPECT_TRUE(inner.token().stop_requested());
    EXPECT_TRUE(JobControl(&outer).token().stop_requested());
}

TEST(WorkerBudget, TwoWorkersOnlyWithoutCapturesAndWithEnoughMemory) {
    WorkerBudget b;
    b.setBytes(WorkerBudget::twoWorkerBytes);
    EXPECT_EQ(b.limit(), 2);
    b.setBytes(WorkerBudget::twoWorkerBytes - 1);
    EXPECT_EQ(b.limit(), 1);
    b.setBytes(int64_t{8} << 30);
    b.capture(-1);
    EXPECT_EQ(b.captures(), 0);
    b.capture(1);
    EXPECT_EQ(b.captures(), 1);
    EXPECT_EQ(b.limit(), 1);
    b.capture(-1);
    EXPECT_EQ(b.limit(), 2);
}

class Admission : public ::testing::Test {
protected:
    void SetUp() override { WorkerBudget::shared().setBytes(int64_t{1} << 30); }
    void TearDown() override {
        while (WorkerBudget::shared().captures() > 0) WorkerBudget::shared().capture(-1);
    }
};

TEST_F(Admission, NeverAdmitsMoreThanTheLimitAndIgnoresStrayReleases) {
    OCRAdmission gate;
    EXPECT_TRUE(gate.tryAcquire());
    EXPECT_TRUE(gate.tryAcquire());
    EXPECT_FALSE(gate.tryAcquire());
    gate.release();
    gate.release();
    gate.release();  // no slot held: must not open a third
    gate.release();
    EXPECT_EQ(gate.active(), 0);
    EXPECT_TRUE(gate.tryAcquire());
    EXPECT_TRUE(gate.tryAcquire());
    EXPECT_FALSE(gate.tryAcquire());
    EXPECT_EQ(gate.maximumObserved(), 2);
    gate.release();
    gate.release();
    // A capture in progress lowers the limit for new admissions.
    WorkerBudget::shared().capture(1);
    EXPECT_TRUE(gate.tryAcquire());
    EXPECT_FALSE(gate.tryAcquire());
    gate.release();
}

TEST_F(Admission, ManyThreadsNeverExceedTwo) {
    OCRAdmission gate;
    JobControl control;
    std::atomic<int> inside{0}, worst{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                ASSERT_TRUE(gate.acquire(control));
                int now = ++inside;
                int seen = worst.load();
                while (now > seen && !worst.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --inside;
                gate.release();
            }
        });
    }
    threads.clear();
    EXPECT_EQ(worst.load(), 2);
    EXPECT_EQ(gate.maximumObserved(), 2);
}

TEST_F(Admission, WaitingEndsOnAStopOrAStopToken) {
    OCRAdmission gate;
    ASSERT_TRUE(gate.tryAcquire());
    ASSERT_TRUE(gate.tryAcquire());
    JobControl control;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        control.request(Stop::pause);
    });
    EXPECT_FALSE(gate.acquire(control));
    stopper.join();
    std::stop_source source;
    JobControl running;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        source.request_stop();
    });
    EXPECT_FALSE(gate.acquire(running, source.get_token()));
    canceller.join();
    // A document's control, stopped through the queue's.
    JobControl queue;
    JobControl document(&queue);
    std::thread pauser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        queue.request(Stop::pause);
    });
    EXPECT_FALSE(gate.acquire(document));
    pauser.join();
    EXPECT_EQ(gate.active(), 2);
}

// A waiter sleeps until something can change its answer: a slot given back,
// or a capture ending, which raises the limit without any release.
TEST_F(Admission, AWaiterIsAdmittedWhenASlotIsFreedOrTheBudgetGrows) {
    OCRAdmission gate;
    JobControl control;
    WorkerBudget::shared().capture(1);
    ASSERT_TRUE(gate.tryAcquire());
    auto waiter = std::async(std::launch::async, [&] { return gate.acquire(control); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    WorkerBudget::shared().capture(-1);
    const bool woken = waiter.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!woken) gate.release();  // lets the waiter end, so the test can report
    EXPECT_TRUE(woken);
    EXPECT_TRUE(waiter.get());
    EXPECT_EQ(gate.active(), woken ? 2 : 1);

    auto third = std::async(std::launch::async, [&] { return gate.acquire(control); });
    EXPECT_EQ(third.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    gate.release();
    EXPECT_EQ(third.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(third.get());
    gate.release();
    gate.release();
}

namespace {

std::vector<std::string> names(const std::vector<fs::path>& paths, const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.lexically_relative(root).string());
    return out;
}

}  // namespace

TEST(QueueFolderInput, AcceptsImagesAndPDFsInNaturalOrder) {
    test::TempDir tmp;
    for (const char* n : {"page10.png", "page2.png", "Page1.PNG", "scan.JPEG", "doc.PDF", "b.jpg", "notes.txt",
                          "photo.tiff", "._page3.png", ".hidden.png"}) {
        test::writeFile(tmp / n, "x");
    }
    fs::create_directory(tmp / "sub");
    test::writeFile(tmp / "sub/inner.png", "x");
    fs::create_directory(tmp / ".git");
    test::writeFile(tmp / ".git/secret.png", "x");
    fs::create_symlink(tmp / "page2.png", tmp / "link.png");
    fs::create_directory_symlink(tmp / "sub", tmp / "sublink");
    JobControl control;
    auto flat = QueueFolderInput::enumerate(tmp.path(), false, control);
    EXPECT_EQ(names(flat, tmp.path()), (std::vector<std::string>{"b.jpg", "doc.PDF", "Page1.PNG", "page2.png",
                                                                 "page10.png", "scan.JPEG"}));
    auto deep = QueueFolderInput::enumerate(tmp.path(), true, control);
    EXPECT_EQ(deep.size(), 7u);
    EXPECT_EQ(names({deep.back()}, tmp.path()), (std::vector<std::string>{"sub/inner.png"}));
}

TEST(QueueFolderInput, RefusesRootsThatAreNotPlainFolders) {
    test::TempDir tmp;
    fs::create_directory(tmp / "real");
    fs::create_directory_symlink(tmp / "real", tmp / "link");
    test::writeFile(tmp / "file.png", "x");
    JobControl control;
    EXPECT_EQ(caseOf([&] { QueueFolderInput::enumerate(tmp / "link", true, control); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { QueueFolderInput::enumerate(tmp / "file.png", true, control); }), ErrorCase::unsafePath);
    EXPECT_THROW(QueueFolderInput::enumerate(tmp / "missing", true, control), std::system_error);
}

TEST(QueueFolderInput, LimitsAndStops) {
    test::TempDir tmp(true);
    for (int i = 0; i < 5000; ++i) test::writeFile(tmp / ("p" + std::to_string(i) + ".png"), "");
    JobControl control;
    EXPECT_EQ(QueueFolderInput::enumerate(tmp.path(), false, control).size(), 5000u);
    test::writeFile(tmp / "one-more.pdf", "");
    EXPECT_EQ(caseOf([&] { QueueFolderInput::enumerate(tmp.path(), false, control); }), ErrorCase::budgetExceeded);
    EXPECT_EQ(QueueFolderInput::enumerate(tmp.path(), false, control, 6000).size(), 5001u);
    JobControl stopped;
    stopped.request(Stop::cancel);
    EXPECT_EQ(caseOf([&] { QueueFolderInput::enumerate(tmp.path(), false, stopped); }), ErrorCase::cancelled);
    test::TempDir empty;
    EXPECT_TRUE(QueueFolderInput::enumerate(empty.path(), false, stopped).empty());
}

TEST(QueueFolderInput, MoreThanFiftyThousandEntriesAreRefused) {
    test::TempDir tmp(true);
    // Folders and rejected files count as entries too.
    for (int d = 0; d < 50; ++d) {
        const fs::path dir = tmp / ("d" + std::to_string(d));
        fs::create_directory(dir);
        for (int i = 0; i < 1000; ++i) {
            ::close(::open((dir / (std::to_string(i) + ".txt")).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        }
    }
    JobControl control;
    EXPECT_TRUE(QueueFolderInput::enumerate(tmp.path(), false, control).empty());
    EXPECT_EQ(caseOf([&] { QueueFolderInput::enumerate(tmp.path(), true, control); }), ErrorCase::budgetExceeded);
}
