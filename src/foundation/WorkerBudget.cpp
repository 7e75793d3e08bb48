#include "foundation/WorkerBudget.hpp"

#include <algorithm>
#include <thread>

#include "foundation/CaptureBudget.hpp"

namespace velmora {

WorkerBudget& WorkerBudget::shared() {
    static WorkerBudget budget;
    return budget;
}

WorkerBudget::WorkerBudget() : bytes_(CaptureBudget::conservativeBytes()) {}

void WorkerBudget::capture(int64_t change) {
    {
        std::lock_guard guard(lock_);
        captures_ = std::max<int64_t>(captures_ + change, 0);
    }
    notify();
}

void WorkerBudget::setBytes(int64_t bytes) {
    {
        std::lock_guard guard(lock_);
        bytes_ = bytes;
    }
    notify();
}

int WorkerBudget::subscribe(std::function<void()> changed) {
    std::lock_guard guard(subscribersLock_);
    const int id = nextID_++;
    subscribers_.emplace(id, std::move(changed));
    return id;
}

void WorkerBudget::unsubscribe(int id) {
    std::lock_guard guard(subscribersLock_);
    subscribers_.erase(id);
}

void WorkerBudget::notify() {
    std::lock_guard guard(subscribersLock_);
    for (const auto& [id, changed] : subscribers_) changed();
}

int WorkerBudget::limit() const {
    std::lock_guard guard(lock_);
    return captures_ < 1 && bytes_ >= twoWorkerBytes ? 2 : 1;
}

int WorkerBudget::pageThreads() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

int64_t WorkerBudget::captures() const {
    std::lock_guard guard(lock_);
    return captures_;
}

}  // namespace velmora
