#pragma once

#include "foundation/UptimeClock.hpp"

namespace velmora {

// The uptime clock on which the recognisers measure their time limits. The
// recognisers are static functions called on the page worker's thread, so a
// clock is put in place per thread: tests move a ManualUptimeClock from
// inside the cancellation predicate, which every limit check calls, and never
// wait for real time to pass.
namespace RecognitionClock {

// The calling thread's clock: the innermost Scope's, else the system's.
const UptimeClock& current();

// Puts a clock in place for the calling thread while it lives. Scopes nest;
// each gives back the clock that was in place before it.
class Scope {
public:
    explicit Scope(const UptimeClock& clock);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    const UptimeClock* previous_;
};

}  // namespace RecognitionClock
}  // namespace velmora
