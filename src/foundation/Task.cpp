#include "foundation/Task.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <typeinfo>

namespace velmora {

namespace detail {

namespace {

thread_local StateRef current;

struct IdleCall {
    std::function<void()> fn;
};

gboolean runIdleCall(gpointer data) {
    static_cast<IdleCall*>(data)->fn();
    return G_SOURCE_REMOVE;
}

void freeIdleCall(gpointer data) { delete static_cast<IdleCall*>(data); }

// The jobs running on the pool. Never destroyed: a job that outlives the
// wait at exit still finds it.
struct RunningJobs {
    std::mutex lock;
    std::condition_variable idle;
    int count = 0;
};

RunningJobs& runningJobs() {
    static RunningJobs* jobs = new RunningJobs;
    return *jobs;
}

// The libraries a job uses (Poppler's global state, fontconfig) are torn down
// once the program's own exit handlers have run; a job still inside them then
// crashes the exit. This handler, registered before the first job, waits for
// the running jobs, bounded so that a job waiting on the main loop cannot
// hold the exit.
struct ExitWait {
    ~ExitWait() {
        RunningJobs& jobs = runningJobs();
        std::unique_lock held(jobs.lock);
        jobs.idle.wait_for(held, std::chrono::seconds(3), [&] { return jobs.count == 0; });
    }
};

void runPoolJob(gpointer data, gpointer) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(data));
    (*job)();
    job.reset();
    RunningJobs& jobs = runningJobs();
    std::lock_guard held(jobs.lock);
    if (--jobs.count == 0) jobs.idle.notify_all();
}

}  // namespace

void TaskState::cancel() {
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    // A waker may remove other wakers or add none; run from a copy.
    auto wakers = std::move(wakers_);
    wakers_.clear();
    for (auto& [id, wake] : wakers) wake();
}

uint64_t TaskState::addWaker(std::function<void()> wake) {
    uint64_t id = nextWaker_++;
    wakers_.emplace_back(id, std::move(wake));
    return id;
}

void TaskState::removeWaker(uint64_t id) {
    std::erase_if(wakers_, [id](const auto& w) { return w.first == id; });
}

const StateRef& currentState() noexcept { return current; }

CurrentScope::CurrentScope(StateRef state, bool onMainThread)
    : previous_(std::exchange(current, state)), entered_(onMainThread ? state.get() : nullptr) {
    if (entered_) ++entered_->running;
}

CurrentScope::~CurrentScope() {
    if (entered_) --entered_->running;
    current = std::move(previous_);
}

void resumeTask(std::coroutine_handle<> handle, const StateRef& state) {
    // The copy keeps the state alive even when the task ends during this
    // resumption and its frame, which holds the other references, goes.
    StateRef keep = state;
    {
        CurrentScope scope(keep);
        handle.resume();
    }
    if (auto frame = std::exchange(keep->finished, {})) frame.destroy();
}

guint onMainContext(std::function<void()> fn) {
    // g_idle_add_full attaches to the global default context from any thread
    // and wakes it; unlike g_main_context_invoke it never runs fn on the
    // calling thread.
    return g_idle_add_full(G_PRIORITY_DEFAULT, runIdleCall, new IdleCall{std::move(fn)}, freeIdleCall);
}

void runOnWorkerThread(std::function<void()> job) {
    static ExitWait exitWait;
    {
        RunningJobs& jobs = runningJobs();
        std::lock_guard held(jobs.lock);
        ++jobs.count;
    }
    static GThreadPool* pool = [] {
        GError* error = nullptr;
        // Not exclusive and unbounded: threads are made on demand and reused.
        GThreadPool* p = g_thread_pool_new(runPoolJob, nullptr, -1, FALSE, &error);
        if (!p) g_error("worker pool: %s", error ? error->message : "unknown error");
        return p;
    }();
    GError* error = nullptr;
    auto* data = new std::function<void()>(std::move(job));
    if (!g_thread_pool_push(pool, data, &error)) {
        // Without a worker the task could never resume: that is no state to go on in.
        g_error("worker pool: %s", error ? error->message : "unknown error");
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Spawned tasks

struct TaskHandle::Shared {
    detail::StateRef state = std::make_shared<detail::TaskState>();
    Task<void>::Handle frame;  // owned until the task ends or is discarded
    guint startSource = 0;
    bool done = false;
};

namespace {

void rootDone(std::shared_ptr<void> root) {
    // Runs inside the final suspension of the spawned task's own frame, which
    // stays intact until the resumption returns to resumeTask.
    auto shared = std::static_pointer_cast<TaskHandle::Shared>(root);
    auto frame = std::exchange(shared->frame, {});
    shared->done = true;
    if (std::exception_ptr error = std::exchange(frame.promise().error, nullptr)) {
        try {
            std::rethrow_exception(error);
        } catch (const CancellationError&) {
            // A cancelled task that lets the cancellation end it has done
            // what it was asked; there is nothing to report.
        } catch (const std::exception& e) {
            g_critical("a spawned task ended with an unhandled %s: %s", typeid(e).name(), e.what());
        } catch (...) {
            g_critical("a spawned task ended with an unhandled non-standard exception");
        }
    }
    shared->state->finished = frame;
}

}  // namespace

TaskHandle spawn(Task<void> task) {
    auto shared = std::make_shared<TaskHandle::Shared>();
    shared->frame = task.release();
    auto& promise = shared->frame.promise();
    promise.state = shared->state;
    // The frame keeps its record alive until it ends, also when every
    // handle has been dropped; discarding or ending breaks the cycle.
    promise.rootDone = rootDone;
    promise.root = shared;
    shared->startSource = detail::onMainContext([shared] {
        shared->startSource = 0;
        if (shared->frame) detail::resumeTask(shared->frame, shared->state);
    });
    return TaskHandle(shared);
}

void TaskHandle::cancel() const {
    if (s_) s_->state->cancel();
}

bool TaskHandle::isCancelled() const { return s_ && s_->state->cancelled(); }

bool TaskHandle::done() const { return !s_ || s_->done; }

void TaskHandle::discard() const {
    if (!s_ || s_->done) return;
    if (s_->state->running > 0) {
        g_critical("a task cannot discard itself while it runs");
        return;
    }
    if (s_->startSource) g_source_remove(std::exchange(s_->startSource, 0));
    s_->done = true;
    // Destroying the frame destroys the awaiters suspended in it, which
    // detach their callbacks and remove their sources.
    if (auto frame = std::exchange(s_->frame, {})) frame.destroy();
}

void checkCancellation() {
    if (isCurrentTaskCancelled()) throw CancellationError();
}

bool isCurrentTaskCancelled() noexcept {
    const auto& s = detail::currentState();
    return s && s->cancelled();
}

// ---------------------------------------------------------------------------
// Sleeps

struct SleepAwaiter::Shared {
    std::coroutine_handle<> handle;
    detail::StateRef state;
    guint timer = 0;
    guint wakeSource = 0;
    uint64_t waker = 0;
};

namespace {

struct TimerData {
    std::shared_ptr<SleepAwaiter::Shared> shared;
};

gboolean sleepTimerFired(gpointer data) {
    auto s = static_cast<TimerData*>(data)->shared;
    s->timer = 0;
    if (s->waker) s->state->removeWaker(std::exchange(s->waker, 0));
    if (auto h = std::exchange(s->handle, {})) detail::resumeTask(h, s->state);
    return G_SOURCE_REMOVE;
}

void freeTimerData(gpointer data) { delete static_cast<TimerData*>(data); }

}  // namespace

void SleepAwaiter::start(std::coroutine_handle<> h, const detail::StateRef& state) {
    s_ = std::make_shared<Shared>();
    s_->handle = h;
    s_->state = state;
    auto ms = duration_.count() < 0 ? 0 : duration_.count();
    guint interval = ms > G_MAXUINT ? G_MAXUINT : static_cast<guint>(ms);
    s_->timer = g_timeout_add_full(G_PRIORITY_DEFAULT, interval, sleepTimerFired, new TimerData{s_}, freeTimerData);
    std::weak_ptr<Shared> weak = s_;
    s_->waker = state->addWaker([weak] {
        auto s = weak.lock();
        if (!s) return;
        s->waker = 0;  // the state drops its wakers as it runs them
        if (s->timer) g_source_remove(std::exchange(s->timer, 0));
        // Resumed on the next turn, so whoever cancels finishes first.
        s->wakeSource = detail::onMainContext([weak] {
            auto shared = weak.lock();
            if (!shared) return;
            shared->wakeSource = 0;
            if (auto h = std::exchange(shared->handle, {})) detail::resumeTask(h, shared->state);
        });
    });
}

SleepAwaiter::~SleepAwaiter() {
    if (!s_) return;
    s_->handle = {};
    if (s_->timer) g_source_remove(std::exchange(s_->timer, 0));
    if (s_->wakeSource) g_source_remove(std::exchange(s_->wakeSource, 0));
    if (s_->waker) s_->state->removeWaker(std::exchange(s_->waker, 0));
}

void SleepAwaiter::await_resume() const { checkCancellation(); }

// ---------------------------------------------------------------------------
// GAsyncReadyCallback bridge

namespace {

using AsyncResumer = Resumer<GObjectRef<GAsyncResult>>;

void asyncReady(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<AsyncResumer> resumer(static_cast<AsyncResumer*>(data));
    resumer->resume(GObjectRef<GAsyncResult>::ref(result));
}

}  // namespace

CallbackAwaiter<GObjectRef<GAsyncResult>> awaitAsync(std::function<void(GAsyncReadyCallback, gpointer)> start,
                                                     WhenCancelled whenCancelled) {
    return CallbackAwaiter<GObjectRef<GAsyncResult>>(
        [start = std::move(start)](AsyncResumer resumer) { start(asyncReady, new AsyncResumer(std::move(resumer))); },
        whenCancelled);
}

}  // namespace velmora
