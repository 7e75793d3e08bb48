#include "recognition/engine/RecognitionClock.hpp"

namespace velmora::RecognitionClock {

namespace {
thread_local const UptimeClock* override = nullptr;
}  // namespace

const UptimeClock& current() { return override ? *override : UptimeClock::system(); }

Scope::Scope(const UptimeClock& clock) : previous_(override) { override = &clock; }

Scope::~Scope() { override = previous_; }

}  // namespace velmora::RecognitionClock
