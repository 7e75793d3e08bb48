#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "ocrjobs/JobControl.hpp"

namespace velmora {

// The process-wide gate on page recognitions: at most WorkerBudget's limit
// at the moment of admission, across every running job.
class OCRAdmission {
public:
    static OCRAdmission& shared();

    OCRAdmission();
    ~OCRAdmission();
    OCRAdmission(const OCRAdmission&) = delete;
    OCRAdmission& operator=(const OCRAdmission&) = delete;

    // Waits for a free slot, woken by a release, by a change of the worker
    // budget, and by the stop of the control or of the caller's token; false
    // once either asks to stop.
    bool acquire(const JobControl& control, std::stop_token stop = {});
    bool tryAcquire();
    // Gives one slot back. A release without a held slot is ignored: counting
    // below zero would admit more than the limit afterwards.
    void release();

    int maximumObserved() const;
    int active() const;

private:
    // With lock_ held.
    bool admit();
    void wake();

    mutable std::mutex lock_;
    std::condition_variable freed_;
    int active_ = 0;
    int maximum_ = 0;
    int budgetSubscription_ = 0;
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
