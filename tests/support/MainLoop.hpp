#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "foundation/Task.hpp"

namespace velmora::test {

using namespace std::chrono_literals;

// Turns the default main context until pred holds; false when the bound
// passed first. Never blocks longer than a few milliseconds at a time.
bool spinUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound = 10s);

// Turns the default main context for a while (to let things that should not
// happen have their chance).
void spinFor(std::chrono::milliseconds duration);

// The delay in milliseconds until the earliest timer of the default main
// context is due, or -1 when it has no timer (and nothing else is ready).
int nextTimerDelay();

// What a task run by runTask produced.
template <typename T>
struct Outcome {
    std::optional<detail::Stored<T>> value;
    std::exception_ptr error;
    bool finished = false;
};

template <typename T>
Task<void> collect(Task<T> task, std::shared_ptr<Outcome<T>> out) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out->value.emplace();
        } else {
            out->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        out->error = std::current_exception();
    }
    out->finished = true;
}

// Spawns a task and turns the main context until it ends; its value comes
// back, its exception is thrown again. A task still running after the bound
// is discarded and reported as a std::runtime_error.
template <typename T>
T runTask(Task<T> task, std::chrono::milliseconds bound = 10s) {
    auto out = std::make_shared<Outcome<T>>();
    TaskHandle handle = spawn(collect(std::move(task), out));
    if (!spinUntil([&] { return out->finished; }, bound)) {
        handle.discard();
        throw std::runtime_error("the task did not finish within its bound");
    }
    if (out->error) std::rethrow_exception(out->error);
    if constexpr (!std::is_void_v<T>) return std::move(*out->value);
}

// A task spawned by hand, so a test can cancel it, discard it or move a clock
// while it runs. One still running when this goes is discarded, so it cannot
// outlive what it works on.
template <typename T>
struct Spawned {
    std::shared_ptr<Outcome<T>> out = std::make_shared<Outcome<T>>();
    TaskHandle handle;

    explicit Spawned(Task<T> task) { handle = spawn(collect(std::move(task), out)); }
    ~Spawned() {
        if (!out->finished) handle.discard();
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    bool finished() const { return out->finished; }
    bool finish(std::chrono::milliseconds bound = 20s) {
        return spinUntil([this] { return out->finished; }, bound);
    }
};

}  // namespace velmora::test
