#include "ocrjobs/JobControl.hpp"

#include <algorithm>

#include "foundation/CaptureBudget.hpp"

namespace velmora {

void JobControl::request(Stop s) {
    std::lock_guard guard(lock_);
    if (value_ == Stop::cancel || s == Stop::none) return;
    value_ = s;
}

JobControl::Stop JobControl::stop() const {
    Stop own;
    {
        std::lock_guard guard(lock_);
        own = value_;
    }
    // Read after this control's lock is released: no lock is held while
    // another is taken.
    if (!outer_) return own;
    return std::max(own, outer_->stop());
}

std::string_view rawValue(JobControl::Stop s) {
    switch (s) {
    case JobControl::Stop::none: return "none";
    case JobControl::Stop::pause: return "pause";
    case JobControl::Stop::cancel: return "cancel";
    }
    return "";
}

template <>
std::optional<JobControl::Stop> fromRaw<JobControl::Stop>(std::string_view raw) {
    for (auto s : {JobControl::Stop::none, JobControl::Stop::pause, JobControl::Stop::cancel}) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

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
