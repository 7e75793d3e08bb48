#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string_view>

#include "foundation/RawValue.hpp"
#include "foundation/WorkerBudget.hpp"

namespace velmora {

// The stop request of one run. A request never clears a stop, and cancel is
// final, so a control never goes back to running.
class JobControl {
public:
    enum class Stop { none, pause, cancel };

    JobControl() = default;
    // A control for one part of a run (one document of a queue): it stops
    // whenever the outer control does, while its own requests stop only
    // that part. The outer control must outlive it.
    explicit JobControl(const JobControl* outer);
    JobControl(const JobControl&) = delete;
    JobControl& operator=(const JobControl&) = delete;

    void request(Stop s);
    // The stronger of this control's own request and the outer one's.
    Stop stop() const;
    bool stopRequested() const { return stop() != Stop::none; }
    // Triggered by the first request of this control or of the outer one,
    // so that a waiter can be woken instead of polling stopRequested.
    std::stop_token token() const noexcept { return stopped_.get_token(); }

private:
    mutable std::mutex lock_;
    Stop value_ = Stop::none;
    const JobControl* outer_ = nullptr;
    std::stop_source stopped_;
    // Declared last: it is removed first, before the source it triggers.
    std::optional<std::stop_callback<std::function<void()>>> forward_;
};

std::string_view rawValue(JobControl::Stop s);
template <>
std::optional<JobControl::Stop> fromRaw<JobControl::Stop>(std::string_view raw);

}  // namespace velmora
