#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
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
    explicit JobControl(const JobControl* outer) : outer_(outer) {}
    JobControl(const JobControl&) = delete;
    JobControl& operator=(const JobControl&) = delete;

    void request(Stop s);
    // The stronger of this control's own request and the outer one's.
    Stop stop() const;
    bool stopRequested() const { return stop() != Stop::none; }

private:
    mutable std::mutex lock_;
    Stop value_ = Stop::none;
    const JobControl* outer_ = nullptr;
};

std::string_view rawValue(JobControl::Stop s);
template <>
std::optional<JobControl::Stop> fromRaw<JobControl::Stop>(std::string_view raw);

}  // namespace velmora
