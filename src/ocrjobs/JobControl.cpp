#include "ocrjobs/JobControl.hpp"

#include <algorithm>

namespace velmora {

JobControl::JobControl(const JobControl* outer) : outer_(outer) {
    if (outer_) forward_.emplace(outer_->token(), std::function<void()>([this] { stopped_.request_stop(); }));
}

void JobControl::request(Stop s) {
    {
        std::lock_guard guard(lock_);
        if (value_ == Stop::cancel || s == Stop::none) return;
        value_ = s;
    }
    // Outside the lock: the token's callbacks take the waiters' locks, and
    // those may read this control under their own.
    stopped_.request_stop();
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

}  // namespace velmora
