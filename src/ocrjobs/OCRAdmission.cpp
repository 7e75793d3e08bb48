#include "ocrjobs/OCRAdmission.hpp"

#include <algorithm>
#include <functional>

namespace velmora {

OCRAdmission& OCRAdmission::shared() {
    static OCRAdmission gate;
    return gate;
}

OCRAdmission::OCRAdmission() : budgetSubscription_(WorkerBudget::shared().subscribe([this] { wake(); })) {}

OCRAdmission::~OCRAdmission() { WorkerBudget::shared().unsubscribe(budgetSubscription_); }

bool OCRAdmission::admit() {
    // Admission lock first, budget lock second, never the other way round.
    if (active_ >= WorkerBudget::shared().limit()) return false;
    active_ += 1;
    maximum_ = std::max(maximum_, active_);
    return true;
}

// Notifies under the lock: a waiter between its last check and its wait
// holds the lock, so the notification cannot fall in that gap.
void OCRAdmission::wake() {
    std::lock_guard guard(lock_);
    freed_.notify_all();
}

bool OCRAdmission::tryAcquire() {
    std::lock_guard guard(lock_);
    return admit();
}

bool OCRAdmission::acquire(const JobControl& control, std::stop_token stop) {
    // Registered before the lock is taken: a callback whose stop has already
    // happened runs at once, and it takes the lock itself.
    std::stop_callback onStop(stop, std::function<void()>([this] { wake(); }));
    std::stop_callback onControl(control.token(), std::function<void()>([this] { wake(); }));
    std::unique_lock guard(lock_);
    for (;;) {
        if (stop.stop_requested() || control.token().stop_requested()) return false;
        if (admit()) return true;
        freed_.wait(guard);
    }
}

void OCRAdmission::release() {
    {
        std::lock_guard guard(lock_);
        if (active_ == 0) return;
        active_ -= 1;
    }
    freed_.notify_all();
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
