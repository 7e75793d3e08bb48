#pragma once

#include <mutex>
#include <stop_token>

#include "ocrjobs/JobControl.hpp"

namespace velmora {

// The process-wide gate on page recognitions: at most WorkerBudget's limit
// at the moment of admission, across every running job.
class OCRAdmission {
public:
    static OCRAdmission& shared();

    // Polls every 10 ms for a free slot; false once the control asks to stop
    // or the caller's stop token is triggered.
    bool acquire(const JobControl& control, std::stop_token stop = {});
    bool tryAcquire();
    // Gives one slot back. A release without a held slot is ignored: counting
    // below zero would admit more than the limit afterwards.
    void release();

    int maximumObserved() const;
    int active() const;

private:
    mutable std::mutex lock_;
    int active_ = 0;
    int maximum_ = 0;
};

// Holds one admission slot for its lifetime.
class AdmissionSlot {
public:
    explicit AdmissionSlot(OCRAdmission& gate) : gate_(&gate) {}
    ~AdmissionSlot() {
        if (gate_) gate_->release();
    }
    AdmissionSlot(const AdmissionSlot&) = delete;
    AdmissionSlot& operator=(const AdmissionSlot&) = delete;

private:
    OCRAdmission* gate_;
};

}  // namespace velmora
