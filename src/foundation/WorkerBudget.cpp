#include "foundation/WorkerBudget.hpp"

#include <algorithm>

#include "foundation/CaptureBudget.hpp"

namespace velmora {

WorkerBudget& WorkerBudget::shared() {
    static WorkerBudget budget;
    return budget;
}

WorkerBudget::WorkerBudget() : bytes_(CaptureBudget::conservativeBytes()) {}

void WorkerBudget::capture(int64_t change) {
    std::lock_guard guard(lock_);
    captures_ = std::max<int64_t>(captures_ + change, 0);
}

void WorkerBudget::setBytes(int64_t bytes) {
    std::lock_guard guard(lock_);
    bytes_ = bytes;
}

int WorkerBudget::limit() const {
    std::lock_guard guard(lock_);
    return captures_ < 1 && bytes_ >= twoWorkerBytes ? 2 : 1;
}

int64_t WorkerBudget::captures() const {
    std::lock_guard guard(lock_);
    return captures_;
}

}  // namespace velmora
