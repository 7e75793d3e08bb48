#pragma once

namespace velmora {

// Seconds since an arbitrary fixed point that never jumps (system uptime).
// Deadlines are measured on it; tests inject a clock they move by hand.
class UptimeClock {
public:
    virtual ~UptimeClock() = default;
    virtual double seconds() const = 0;

    // The monotonic clock of GLib.
    static const UptimeClock& system();
};

class ManualUptimeClock : public UptimeClock {
public:
    explicit ManualUptimeClock(double start = 1000.0) : now_(start) {}
    double seconds() const override { return now_; }
    void advance(double by) { now_ += by; }
    void set(double to) { now_ = to; }

private:
    double now_;
};

// Whether the caller runs on the thread that started the process, which owns
// the default main context.
bool isMainThread();

}  // namespace velmora
