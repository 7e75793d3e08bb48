#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace velmora {

// The web captures in progress and the memory figure that decide how many
// OCR page workers may run: two only while no capture holds memory and at
// least 512 MiB are available.
class WorkerBudget {
public:
    static constexpr int64_t twoWorkerBytes = 536870912;

    static WorkerBudget& shared();
    WorkerBudget();

    // +1 when a capture starts, -1 on every way it ends; never below zero.
    void capture(int64_t change);
    void setBytes(int64_t bytes);
    int limit() const;
    // The threads one save may draw and encode its pages on at once: one
    // per processor this process may run on.
    static int pageThreads();
    int64_t captures() const;

    // Calls back after every change that may move the limit (outside the
    // budget's lock), until the returned id is unsubscribed; a callback
    // never runs after unsubscribe returns.
    int subscribe(std::function<void()> changed);
    void unsubscribe(int id);

private:
    void notify();

    mutable std::mutex lock_;
    int64_t captures_ = 0;
    int64_t bytes_;
    // Its own lock, held while callbacks run: a callback may read the limit.
    std::mutex subscribersLock_;
    std::map<int, std::function<void()>> subscribers_;
    int nextID_ = 0;
};

}  // namespace velmora
