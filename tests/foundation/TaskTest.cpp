#include <gtest/gtest.h>

#include <gio/gio.h>

#include <atomic>
#include <future>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/GLibError.hpp"
#include "foundation/Task.hpp"
#include "foundation/UptimeClock.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::runTask;
using test::spinUntil;

namespace {

// Records how long after `from` the sleep of ms ended.
Task<void> sleeper(int ms, double from, std::map<int, double>& woke) {
    co_await sleepFor(std::chrono::milliseconds(ms));
    woke[ms] = UptimeClock::system().seconds() - from;
}

Task<int> doubled(Task<int> inner) { co_return 2 * co_await std::move(inner); }

Task<int> valueAfterSleep(int v) {
    co_await sleepFor(1ms);
    co_return v;
}

Task<int> throwsAfterSleep() {
    co_await sleepFor(1ms);
    throw std::runtime_error("child failed");
}

// Records what a task saw; lives in the test, outside every frame.
struct Seen {
    bool started = false;
    bool afterSleep = false;
    bool cancelledError = false;
    bool otherError = false;
    int resumes = 0;
    std::optional<int> value;
};

// Sets its flag when the frame that holds it is destroyed.
struct FrameGuard {
    bool* destroyed;
    ~FrameGuard() { *destroyed = true; }
};

}  // namespace

// A sleep ends no earlier than asked. (Their order is not promised: a main
// loop held up past several deadlines runs the timers in the order they
// were made.)
TEST(Task, SleepsWakeNoEarlierThanAskedAndValuesAndErrorsPassUp) {
    std::map<int, double> woke;
    const double start = UptimeClock::system().seconds();
    auto a = spawn(sleeper(60, start, woke));
    auto b = spawn(sleeper(20, start, woke));
    auto c = spawn(sleeper(0, start, woke));
    auto d = spawn(sleeper(40, start, woke));
    ASSERT_TRUE(spinUntil([&] { return a.done() && b.done() && c.done() && d.done(); }));
    ASSERT_EQ(woke.size(), 4u);
    for (const auto& [ms, after] : woke) EXPECT_GE(after, ms / 1000.0) << ms;

    EXPECT_EQ(runTask(doubled(valueAfterSleep(21))), 42);
    try {
        runTask(doubled(throwsAfterSleep()));
        FAIL() << "the child's exception did not pass up";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "child failed");
    }
}

TEST(Task, CancelEndsALongSleepAtOnceAndRemovesItsTimer) {
    Seen seen;
    ASSERT_EQ(test::nextTimerDelay(), -1) << "the test needs a quiet main context";
    auto handle = spawn([](Seen& s) -> Task<void> {
        s.started = true;
        try {
            co_await sleepFor(10s);
            s.afterSleep = true;
        } catch (const CancellationError&) {
            s.cancelledError = true;
        }
    }(seen));
    ASSERT_TRUE(spinUntil([&] { return seen.started; }));
    int delay = test::nextTimerDelay();
    EXPECT_GT(delay, 9000);
    EXPECT_LE(delay, 10000);

    handle.cancel();
    EXPECT_TRUE(handle.isCancelled());
    // The cancel returns before the task goes on.
    EXPECT_FALSE(seen.cancelledError);
    ASSERT_TRUE(spinUntil([&] { return handle.done(); }, 2s));
    EXPECT_TRUE(seen.cancelledError);
    EXPECT_FALSE(seen.afterSleep);
    EXPECT_EQ(test::nextTimerDelay(), -1) << "the sleep's timer outlived the cancel";

    // A task cancelled before it sleeps does not sleep at all, and a cancelled
    // task may still start the platform calls it needs to clean up.
    Seen late;
    auto second = spawn([](Seen& s) -> Task<void> {
        try {
            co_await sleepFor(10s);
            s.afterSleep = true;
        } catch (const CancellationError&) {
            s.cancelledError = true;
        }
        s.value = co_await awaitCallback<int>([](Resumer<int> r) { r.resume(7); });
        s.value = *s.value + co_await runOnWorker([] { return 1; });
    }(late));
    second.cancel();
    ASSERT_TRUE(spinUntil([&] { return second.done(); }, 2s));
    EXPECT_TRUE(late.cancelledError);
    EXPECT_FALSE(late.afterSleep);
    EXPECT_EQ(late.value, 8);
    EXPECT_EQ(test::nextTimerDelay(), -1);
}

namespace {

// A helper deep inside a task: it learns of the cancellation without a token.
bool helperSeesCancellation() { return isCurrentTaskCancelled(); }

Task<int> childWaitingForCallback(std::optional<Resumer<int>>& slot, Seen& s) {
    int v = co_await awaitCallback<int>([&slot](Resumer<int> r) { slot = r; });
    s.value = v;
    s.afterSleep = helperSeesCancellation();
    checkCancellation();
    co_return v;
}

}  // namespace

TEST(Task, AChildSharesItsParentsCancellation) {
    Seen seen;
    std::optional<Resumer<int>> slot;
    EXPECT_FALSE(isCurrentTaskCancelled());
    EXPECT_NO_THROW(checkCancellation());
    auto handle = spawn([](std::optional<Resumer<int>>& slot, Seen& s) -> Task<void> {
        try {
            co_await childWaitingForCallback(slot, s);
        } catch (const CancellationError&) {
            s.cancelledError = true;
        }
    }(slot, seen));
    ASSERT_TRUE(spinUntil([&] { return slot.has_value(); }));
    handle.cancel();
    // Cancellation does not wake a task waiting for a platform callback.
    test::spinFor(30ms);
    EXPECT_FALSE(seen.value.has_value());
    slot->resume(5);
    ASSERT_TRUE(spinUntil([&] { return handle.done(); }));
    EXPECT_EQ(seen.value, 5);
    EXPECT_TRUE(seen.afterSleep) << "the helper did not see the parent's cancellation";
    EXPECT_TRUE(seen.cancelledError);
    // Outside every task nothing is cancelled.
    EXPECT_FALSE(isCurrentTaskCancelled());
}

TEST(Task, AWaitThatStopsWaitingEndsOnCancelAndDropsTheLateAnswer) {
    // Cancelled while waiting: it ends at once, and the answer that comes
    // later resumes nothing.
    Seen waiting;
    std::optional<Resumer<int>> slot;
    auto first = spawn([](std::optional<Resumer<int>>& slot, Seen& s) -> Task<void> {
        try {
            s.value = co_await awaitCallback<int>([&slot](Resumer<int> r) { slot = r; },
                                                  WhenCancelled::stopWaiting);
            ++s.resumes;
        } catch (const CancellationError&) {
            s.cancelledError = true;
        }
    }(slot, waiting));
    ASSERT_TRUE(spinUntil([&] { return slot.has_value(); }));
    first.cancel();
    ASSERT_TRUE(spinUntil([&] { return first.done(); }));
    EXPECT_TRUE(waiting.cancelledError);
    EXPECT_FALSE(slot->pending());
    slot->resume(4);
    test::spinFor(20ms);
    EXPECT_EQ(waiting.resumes, 0);
    EXPECT_FALSE(waiting.value.has_value());

    // Answered before the cancel: the answer stands, the cancel reaches the
    // next wait that stops, and a wait that keeps waiting still gets its
    // answer; a task already cancelled starts no such call at all.
    Seen answered;
    std::optional<Resumer<int>> keep;
    bool startedAfterCancel = false;
    auto second = spawn([](std::optional<Resumer<int>>& keep, bool& started, Seen& s) -> Task<void> {
        s.value = co_await awaitCallback<int>([](Resumer<int> r) { detail::onMainContext([r] { r.resume(1); }); },
                                              WhenCancelled::stopWaiting);
        ++s.resumes;
        s.value = *s.value + co_await awaitCallback<int>([&keep](Resumer<int> r) { keep = r; });
        ++s.resumes;
        try {
            co_await awaitCallback<void>([&started](Resumer<void> r) {
                started = true;
                r.resume();
            }, WhenCancelled::stopWaiting);
        } catch (const CancellationError&) {
            s.cancelledError = true;
        }
    }(keep, startedAfterCancel, answered));
    ASSERT_TRUE(spinUntil([&] { return keep.has_value(); }));
    second.cancel();
    test::spinFor(20ms);
    EXPECT_FALSE(second.done()) << "a wait that keeps waiting ended on the cancel";
    keep->resume(10);
    ASSERT_TRUE(spinUntil([&] { return second.done(); }));
    EXPECT_EQ(answered.value, 11);
    EXPECT_EQ(answered.resumes, 2);
    EXPECT_TRUE(answered.cancelledError);
    EXPECT_FALSE(startedAfterCancel);
}

TEST(Task, ACallbackResumesItsTaskExactlyOnce) {
    // Called back twice, later.
    Seen twice;
    std::optional<Resumer<int>> slot;
    auto first = spawn([](std::optional<Resumer<int>>& slot, Seen& s) -> Task<void> {
        s.value = co_await awaitCallback<int>([&slot](Resumer<int> r) { slot = r; });
        ++s.resumes;
    }(slot, twice));
    ASSERT_TRUE(spinUntil([&] { return slot.has_value(); }));
    EXPECT_TRUE(slot->pending());
    slot->resume(1);
    slot->resume(2);
    slot->fail(std::make_exception_ptr(std::runtime_error("late")));
    EXPECT_FALSE(slot->pending());
    ASSERT_TRUE(spinUntil([&] { return first.done(); }));
    test::spinFor(20ms);
    EXPECT_EQ(twice.resumes, 1);
    EXPECT_EQ(twice.value, 1);

    // Called back synchronously inside its start, then again.
    Seen sync;
    auto second = spawn([](Seen& s) -> Task<void> {
        s.value = co_await awaitCallback<int>([](Resumer<int> r) {
            r.resume(3);
            r.resume(4);
        });
        ++s.resumes;
        co_await awaitCallback<void>([](Resumer<void> r) { r.resume(); });
        ++s.resumes;
    }(sync));
    ASSERT_TRUE(spinUntil([&] { return second.done(); }));
    EXPECT_EQ(sync.resumes, 2);
    EXPECT_EQ(sync.value, 3);

    // A failure passes into the task as its own exception, domain and code kept.
    try {
        runTask([]() -> Task<void> {
            co_await awaitCallback<void>([](Resumer<void> r) {
                detail::onMainContext([r] {
                    r.fail(std::make_exception_ptr(GLibError(G_IO_ERROR, G_IO_ERROR_BUSY, "busy")));
                });
            });
        }());
        FAIL() << "the failure did not reach the task";
    } catch (const GLibError& e) {
        EXPECT_TRUE(e.matches(G_IO_ERROR, G_IO_ERROR_BUSY));
        EXPECT_EQ(e.domainName(), "g-io-error-quark");
        EXPECT_STREQ(e.what(), "busy");
    }
}

TEST(Task, ACallbackAfterItsTaskIsGoneTouchesNothing) {
    // The task is discarded while it waits; the callback comes afterwards.
    Seen seen;
    bool frameGone = false;
    std::optional<Resumer<int>> slot;
    auto handle = spawn([](std::optional<Resumer<int>>& slot, Seen& s, bool& gone) -> Task<void> {
        FrameGuard guard{&gone};
        s.value = co_await awaitCallback<int>([&slot](Resumer<int> r) { slot = r; });
        ++s.resumes;
    }(slot, seen, frameGone));
    ASSERT_TRUE(spinUntil([&] { return slot.has_value(); }));
    handle.discard();
    EXPECT_TRUE(handle.done());
    EXPECT_TRUE(frameGone);
    slot->resume(9);
    test::spinFor(20ms);
    EXPECT_EQ(seen.resumes, 0);
    EXPECT_FALSE(seen.value.has_value());

    // The callback came and its resumption is queued when the task goes.
    Seen queued;
    std::optional<Resumer<int>> slot2;
    auto second = spawn([](std::optional<Resumer<int>>& slot, Seen& s) -> Task<void> {
        s.value = co_await awaitCallback<int>([&slot](Resumer<int> r) { slot = r; });
        ++s.resumes;
    }(slot2, queued));
    ASSERT_TRUE(spinUntil([&] { return slot2.has_value(); }));
    slot2->resume(1);
    second.discard();
    test::spinFor(20ms);
    EXPECT_EQ(queued.resumes, 0);

    // A discarded sleep takes its timer with it; a task not yet started never starts.
    Seen sleeping;
    auto third = spawn([](Seen& s) -> Task<void> {
        s.started = true;
        co_await sleepFor(10s);
        s.afterSleep = true;
    }(sleeping));
    ASSERT_TRUE(spinUntil([&] { return sleeping.started; }));
    EXPECT_GT(test::nextTimerDelay(), 9000);
    third.discard();
    EXPECT_EQ(test::nextTimerDelay(), -1);
    Seen never;
    auto fourth = spawn([](Seen& s) -> Task<void> {
        s.started = true;
        co_return;
    }(never));
    fourth.discard();
    test::spinFor(20ms);
    EXPECT_FALSE(never.started);
}

TEST(Task, WorkerResultsArriveOnTheMainThread) {
    ASSERT_TRUE(isMainThread());
    // The worker finishes while nobody turns the main loop: its result must
    // still wait for the main thread instead of running the task on the worker.
    std::promise<void> workerFinished;
    auto finished = workerFinished.get_future();
    struct Result {
        bool fnOnWorker = false;
        bool resumedOnMain = false;
        int value = 0;
    } result;
    auto handle = spawn([](Result& r, std::promise<void>& finished) -> Task<void> {
        r.value = co_await runOnWorker([&r, &finished] {
            r.fnOnWorker = !isMainThread();
            finished.set_value();
            return 41;
        });
        r.resumedOnMain = isMainThread();
        ++r.value;
    }(result, workerFinished));
    ASSERT_TRUE(spinUntil([&] { return finished.wait_for(0s) == std::future_status::ready; }, 5s));
    ASSERT_TRUE(spinUntil([&] { return handle.done(); }));
    EXPECT_TRUE(result.fnOnWorker);
    EXPECT_TRUE(result.resumedOnMain);
    EXPECT_EQ(result.value, 42);

    // Exceptions come back as they were thrown.
    try {
        runTask([]() -> Task<void> {
            co_await runOnWorker([] { throw GLibError(G_IO_ERROR, G_IO_ERROR_NO_SPACE, "disk full"); });
        }());
        FAIL() << "the worker's exception was lost";
    } catch (const GLibError& e) {
        EXPECT_TRUE(e.matches(G_IO_ERROR, G_IO_ERROR_NO_SPACE));
    }

    // The worker's function reads its task's cancellation.
    std::promise<void> go;
    auto goFuture = go.get_future().share();
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> workerStarted{false};
    auto cancelled = spawn([](std::shared_future<void> go, std::atomic<bool>& saw, std::atomic<bool>& started) -> Task<void> {
        co_await runOnWorker(
            [&saw, &started](std::shared_future<void>& go) {
                started = true;
                go.wait();
                saw = isCurrentTaskCancelled();
            },
            go);
    }(goFuture, sawCancel, workerStarted));
    ASSERT_TRUE(spinUntil([&] { return workerStarted.load(); }));
    cancelled.cancel();
    go.set_value();
    ASSERT_TRUE(spinUntil([&] { return cancelled.done(); }));
    EXPECT_TRUE(sawCancel);
}

TEST(Task, ASpawnedTaskStartsOnTheNextTurnWithItsHandleStored) {
    std::optional<TaskHandle> holder;
    bool handleWasStored = false;
    bool ran = false;
    holder = spawn([](std::optional<TaskHandle>& h, bool& stored, bool& ran) -> Task<void> {
        ran = true;
        stored = h.has_value() && !h->done();
        h.reset();  // a task that ends without suspending clears its own handle
        co_return;
    }(holder, handleWasStored, ran));
    TaskHandle copy = *holder;
    EXPECT_FALSE(ran);
    EXPECT_FALSE(copy.done());
    ASSERT_TRUE(spinUntil([&] { return copy.done(); }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(handleWasStored);
    EXPECT_FALSE(holder.has_value());
    copy.cancel();  // harmless once it has ended
    copy.discard();
    EXPECT_TRUE(copy.done());
    EXPECT_TRUE(TaskHandle().done());
}

TEST(Task, AsyncCallsOfGIOPassTheirResultOrErrorThrough) {
    test::TempDir tmp;
    test::writeFile(tmp / "page.txt", "ページ");
    auto load = [](std::string path) -> Task<std::string> {
        GObjectRef<GFile> file = GObjectRef<GFile>::adopt(g_file_new_for_path(path.c_str()));
        auto result = co_await awaitAsync([&](GAsyncReadyCallback cb, gpointer data) {
            g_file_load_contents_async(file.get(), nullptr, cb, data);
        });
        char* contents = nullptr;
        gsize length = 0;
        GError* error = nullptr;
        if (!g_file_load_contents_finish(file.get(), result.get(), &contents, &length, nullptr, &error))
            GLibError::raise(error);
        std::string text(contents, length);
        g_free(contents);
        co_return text;
    };
    EXPECT_EQ(runTask(load((tmp / "page.txt").string())), "ページ");
    try {
        runTask(load((tmp / "missing.txt").string()));
        FAIL() << "a missing file loaded";
    } catch (const GLibError& e) {
        EXPECT_TRUE(e.matches(G_IO_ERROR, G_IO_ERROR_NOT_FOUND)) << e.domainName() << " " << e.code();
    }
}
