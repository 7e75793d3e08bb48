#pragma once

// Coroutine tasks on the GLib default main context.
//
// A Task<T> is lazy: it runs when awaited by another task or when spawned.
// Everything here is used from the main thread, except runOnWorker's function
// and the cancellation reads (checkCancellation, isCurrentTaskCancelled),
// which are safe on its worker too.
//
// A rule for every coroutine of the project: g++ 12 destroys a temporary
// lambda or aggregate that holds non-trivial members (a captured std::string,
// shared_ptr, future...) twice when it is created inside a co_await
// expression. Create such a callable or record in its own statement and
// await afterwards, or pass the values as arguments of runOnWorker. Lambdas
// that capture only references, pointers and numbers are not affected.

#include <gio/gio.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "foundation/CancellationError.hpp"
#include "foundation/GObjectRef.hpp"

namespace velmora {

namespace detail {

// What a spawned task shares with every child it awaits: one cancellation
// flag, and the sleeps to wake when it is set.
class TaskState {
public:
    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }
    // Sets the flag and wakes every sleep of the task; main thread only.
    void cancel();

    uint64_t addWaker(std::function<void()> wake);
    void removeWaker(uint64_t id);

    // How many resumptions of this task are on the main thread's stack now.
    int running = 0;
    // The frame of the spawned task once it has ended; destroyed by the
    // resumption that ended it, after it has returned.
    std::coroutine_handle<> finished;

private:
    std::atomic<bool> cancelled_{false};
    std::vector<std::pair<uint64_t, std::function<void()>>> wakers_;
    uint64_t nextWaker_ = 1;
};

using StateRef = std::shared_ptr<TaskState>;

// The task this thread is running, or null outside any task.
const StateRef& currentState() noexcept;

// Makes state the current task of this thread for the lifetime of the scope;
// on the main thread it also counts as the task running.
class CurrentScope {
public:
    CurrentScope(StateRef state, bool onMainThread = true);
    ~CurrentScope();
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

private:
    StateRef previous_;
    TaskState* entered_;
};

// Resumes a suspended task as its own current task.
void resumeTask(std::coroutine_handle<> handle, const StateRef& state);

// Runs fn from the default main context at the next turn (an idle source at
// default priority, safe to attach from any thread). Returns the source id.
guint onMainContext(std::function<void()> fn);

// Runs job on a thread of a shared worker pool.
void runOnWorkerThread(std::function<void()> job);

struct PromiseBase {
    StateRef state;
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    // A spawned task has no continuation: when it ends, rootDone receives
    // root, the record that owns the frame, moved out of the frame; the
    // frame is destroyed once the resumption that ended it has returned.
    void (*rootDone)(std::shared_ptr<void>) = nullptr;
    std::shared_ptr<void> root;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <typename P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
            PromiseBase& p = h.promise();
            if (p.continuation) return p.continuation;
            if (p.rootDone) p.rootDone(std::move(p.root));
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename P>
const StateRef& stateOf(std::coroutine_handle<P> h) {
    static_assert(std::is_base_of_v<PromiseBase, P>, "toolkit awaitables are awaited inside a Task");
    return h.promise().state;
}

template <typename T>
using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

}  // namespace detail

template <typename T = void>
class Task;

namespace detail {

template <typename T>
struct TaskPromise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object() noexcept;
    template <typename U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
};

template <>
struct TaskPromise<void> : PromiseBase {
    Task<void> get_return_object() noexcept;
    void return_void() noexcept {}
};

}  // namespace detail

// A coroutine whose value or exception passes to the task that awaits it. An
// awaited task runs as a child: it shares its parent's cancellation.
template <typename T>
class [[nodiscard]] Task {
public:
    using promise_type = detail::TaskPromise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) noexcept : h_(h) {}
    Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
    Task& operator=(Task&& o) noexcept {
        if (this != &o) {
            if (h_) h_.destroy();
            h_ = std::exchange(o.h_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    // Destroying a suspended task destroys its frame; whatever it waited for
    // finds it gone and touches nothing.
    ~Task() {
        if (h_) h_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    template <typename P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
        h_.promise().state = detail::stateOf(parent);
        h_.promise().continuation = parent;
        return h_;
    }
    T await_resume() {
        auto& p = h_.promise();
        if (p.error) std::rethrow_exception(p.error);
        if constexpr (!std::is_void_v<T>) return std::move(*p.value);
    }

    Handle release() noexcept { return std::exchange(h_, {}); }

private:
    Handle h_;
};

namespace detail {
template <typename T>
Task<T> TaskPromise<T>::get_return_object() noexcept {
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}
inline Task<void> TaskPromise<void>::get_return_object() noexcept {
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}
}  // namespace detail

// The handle of a spawned task. Copies refer to the same task.
class TaskHandle {
public:
    TaskHandle() = default;

    // Asks the task and its children to stop (main thread). Sleeps end at
    // once with a CancellationError; everything else sees it at its next
    // check. A platform call the task starts afterwards still starts.
    void cancel() const;
    bool isCancelled() const;
    // The task has ended (returned, thrown or been discarded).
    bool done() const;
    // Destroys a task that is not running right now, without resuming it:
    // for an owner that goes away before its task. Its pending callbacks,
    // sleeps and worker results are dropped when they arrive.
    void discard() const;

    struct Shared;
    explicit TaskHandle(std::shared_ptr<Shared> s) : s_(std::move(s)) {}

    bool operator==(const TaskHandle& o) const { return s_ == o.s_; }

private:
    std::shared_ptr<Shared> s_;
};

// Starts a task on the next turn of the default main context, so the handle
// is in the caller's hands before the body runs. A task spawned here has
// nobody to pass an error to: it is expected to handle its own, and one that
// escapes anyway is reported as a critical warning.
TaskHandle spawn(Task<void> task);

// Throws CancellationError when the current task has been cancelled.
void checkCancellation();
bool isCurrentTaskCancelled() noexcept;

// Suspends the current task for a duration on a GLib timeout. A cancel ends it
// at once with CancellationError and removes its timer; a task already
// cancelled does not sleep at all.
class SleepAwaiter {
public:
    explicit SleepAwaiter(std::chrono::milliseconds duration) : duration_(duration) {}
    SleepAwaiter(SleepAwaiter&&) = default;
    ~SleepAwaiter();

    bool await_ready() const noexcept { return isCurrentTaskCancelled(); }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> h) {
        start(h, detail::stateOf(h));
    }
    void await_resume() const;

    struct Shared;

private:
    void start(std::coroutine_handle<> h, const detail::StateRef& state);
    std::chrono::milliseconds duration_;
    std::shared_ptr<Shared> s_;
};

template <typename Rep, typename Period>
SleepAwaiter sleepFor(std::chrono::duration<Rep, Period> d) {
    return SleepAwaiter(std::chrono::ceil<std::chrono::milliseconds>(d));
}

// What a callback wait does when its task is cancelled. Most platform calls
// are waited for to the end, so that what they hold is released in order;
// a wait on something that may never answer (a page script, a print run)
// ends at once with CancellationError and drops the late answer. A task
// already cancelled does not start such a call at all.
enum class WhenCancelled { keepWaiting, stopWaiting };

// The once-only bridge from a callback into the task waiting for it.
template <typename T>
class CallbackAwaiter;

template <typename T>
struct CallbackShared {
    std::optional<detail::Stored<T>> value;
    std::exception_ptr error;
    bool completed = false;
    bool suspended = false;
    std::coroutine_handle<> handle;
    detail::StateRef state;
    guint resumeSource = 0;
    uint64_t waker = 0;  // registered on state while a cancel ends the wait

    void dropWaker() {
        if (waker && state) state->removeWaker(std::exchange(waker, 0));
    }
};

// Handed to whoever calls back. Only the first resume or fail counts; later
// calls, and calls after the waiting task is gone, do nothing.
template <typename T>
class Resumer {
public:
    explicit Resumer(std::shared_ptr<CallbackShared<T>> s) : s_(std::move(s)) {}

    template <typename U = T>
        requires(!std::is_void_v<U>)
    void resume(U value) const {
        if (!claim()) return;
        s_->value.emplace(std::move(value));
        deliver();
    }
    template <typename U = T>
        requires std::is_void_v<U>
    void resume() const {
        if (!claim()) return;
        s_->value.emplace();
        deliver();
    }
    void fail(std::exception_ptr error) const {
        if (!claim()) return;
        s_->error = std::move(error);
        deliver();
    }
    // Whether no resume or fail has come yet.
    bool pending() const { return !s_->completed; }

private:
    bool claim() const {
        if (s_->completed) return false;
        s_->completed = true;
        return true;
    }
    // A callback that comes while its task is still starting is picked up
    // when the start returns; a later one resumes the task on the next turn,
    // so no platform call sees its caller's task run inside it.
    void deliver() const {
        if (!s_->suspended || !s_->handle) return;
        std::weak_ptr<CallbackShared<T>> weak = s_;
        s_->resumeSource = detail::onMainContext([weak] {
            auto s = weak.lock();
            if (!s) return;
            s->resumeSource = 0;
            if (auto h = std::exchange(s->handle, {})) detail::resumeTask(h, s->state);
        });
    }
    std::shared_ptr<CallbackShared<T>> s_;
};

template <typename T>
class CallbackAwaiter {
public:
    using Start = std::function<void(Resumer<T>)>;
    explicit CallbackAwaiter(Start start, WhenCancelled whenCancelled = WhenCancelled::keepWaiting)
        : start_(std::move(start)), whenCancelled_(whenCancelled), s_(std::make_shared<CallbackShared<T>>()) {}
    CallbackAwaiter(CallbackAwaiter&&) = default;
    ~CallbackAwaiter() {
        if (!s_) return;
        s_->handle = {};
        if (s_->resumeSource) g_source_remove(std::exchange(s_->resumeSource, 0));
        s_->dropWaker();
    }

    // Ready without starting anything only when the cancel has already come.
    bool await_ready() const noexcept {
        return whenCancelled_ == WhenCancelled::stopWaiting && isCurrentTaskCancelled();
    }
    template <typename P>
    bool await_suspend(std::coroutine_handle<P> h) {
        s_->state = detail::stateOf(h);
        s_->handle = h;
        if (whenCancelled_ == WhenCancelled::stopWaiting && s_->state) {
            std::weak_ptr<CallbackShared<T>> weak = s_;
            s_->waker = s_->state->addWaker([weak] {
                auto s = weak.lock();
                if (!s) return;
                s->waker = 0;  // the state drops its wakers as it runs them
                Resumer<T>(s).fail(std::make_exception_ptr(CancellationError()));
            });
        }
        start_(Resumer<T>(s_));
        if (s_->completed) {
            s_->handle = {};
            s_->dropWaker();
            return false;  // called back before suspending: go straight on
        }
        s_->suspended = true;
        return true;
    }
    T await_resume() {
        if (!s_->completed) throw CancellationError();  // never started
        s_->dropWaker();
        if (s_->error) std::rethrow_exception(s_->error);
        if constexpr (!std::is_void_v<T>) return std::move(*s_->value);
    }

private:
    Start start_;
    WhenCancelled whenCancelled_;
    std::shared_ptr<CallbackShared<T>> s_;
};

// Waits for one callback: start receives the resumer and starts the platform
// call (or connects the signal) that will call it.
template <typename T>
CallbackAwaiter<T> awaitCallback(std::function<void(Resumer<T>)> start,
                                 WhenCancelled whenCancelled = WhenCancelled::keepWaiting) {
    return CallbackAwaiter<T>(std::move(start), whenCancelled);
}

// Waits for one GAsyncReadyCallback: start passes the callback and its data to
// an *_async call; the result is the GAsyncResult to give to its *_finish.
CallbackAwaiter<GObjectRef<GAsyncResult>> awaitAsync(std::function<void(GAsyncReadyCallback, gpointer)> start,
                                                     WhenCancelled whenCancelled = WhenCancelled::keepWaiting);

// Runs fn on a worker thread and resumes the task on the main context with
// its value or exception. fn runs as part of the task: checkCancellation
// there reads the task's cancellation. A task that is gone by then drops the
// result.
template <typename R>
class WorkerAwaiter {
public:
    struct Shared {
        std::function<R()> fn;
        std::optional<detail::Stored<R>> value;
        std::exception_ptr error;
        std::coroutine_handle<> handle;  // main thread only
        detail::StateRef state;
    };

    explicit WorkerAwaiter(std::function<R()> fn) : s_(std::make_shared<Shared>()) { s_->fn = std::move(fn); }
    WorkerAwaiter(WorkerAwaiter&&) = default;
    ~WorkerAwaiter() {
        if (s_) s_->handle = {};
    }

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> h) {
        s_->state = detail::stateOf(h);
        s_->handle = h;
        auto s = s_;
        detail::runOnWorkerThread([s]() mutable {
            {
                detail::CurrentScope scope(s->state, false);
                try {
                    if constexpr (std::is_void_v<R>) {
                        s->fn();
                        s->value.emplace();
                    } else {
                        s->value.emplace(s->fn());
                    }
                } catch (...) {
                    s->error = std::current_exception();
                }
            }
            // The function's captures go away here, on the worker; the result
            // is released on the main thread, whether the task takes it or not.
            s->fn = nullptr;
            detail::onMainContext([s = std::move(s)] {
                if (auto h = std::exchange(s->handle, {})) detail::resumeTask(h, s->state);
            });
        });
    }
    R await_resume() {
        if (s_->error) std::rethrow_exception(s_->error);
        if constexpr (!std::is_void_v<R>) return std::move(*s_->value);
    }

private:
    std::shared_ptr<Shared> s_;
};

template <typename F>
auto runOnWorker(F fn) {
    using R = std::invoke_result_t<F>;
    return WorkerAwaiter<R>(std::function<R()>(std::move(fn)));
}

// The same with the values the function needs passed along, so the closure
// that holds them is made here rather than inside the caller's co_await.
template <typename F, typename... Args>
    requires(sizeof...(Args) > 0)
auto runOnWorker(F fn, Args... args) {
    using R = std::invoke_result_t<F, Args&...>;
    return WorkerAwaiter<R>(std::function<R()>(
        [fn = std::move(fn), ... args = std::move(args)]() mutable -> R { return fn(args...); }));
}

}  // namespace velmora
