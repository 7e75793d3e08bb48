#include "ocrjobs/OCRAdmission.hpp"

#include <algorithm>
#include <thread>

namespace velmora {

OCRAdmission& OCRAdmission::shared() {
    static OCRAdmission gate;
    return gate;
}

bool OCRAdmission::tryAcquire() {
    std::lock_guard guard(lock_);
    // Admission lock first, budget lock second, never the other way round.
    if (active_ >= WorkerBudget::shared().limit()) return false;
    active_ += 1;
    maximum_ = std::max(maximum_, active_);
    return true;
}

bool OCRAdmission::acquire(const JobControl& control, std::stop_token stop) {
    for (;;) {
        if (control.stopRequested() || stop.stop_requested()) return false;
        if (tryAcquire()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void OCRAdmission::release() {
    std::lock_guard guard(lock_);
    if (active_ > 0) active_ -= 1;
}

int OCRAdmission::maximumObserved() const {
    std::lock_guard guard(lock_);
    return maximum_;
}

int OCRAdmission::active() const {
    std::lock_guard guard(lock_);
    return active_;
}

}  // namespace velmora
