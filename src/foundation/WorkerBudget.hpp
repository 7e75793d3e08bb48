#pragma once

#include <cstdint>
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
    int64_t captures() const;

private:
    mutable std::mutex lock_;
    int64_t captures_ = 0;
    int64_t bytes_;
};

}  // namespace velmora
