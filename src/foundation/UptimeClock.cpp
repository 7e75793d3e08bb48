#include "foundation/UptimeClock.hpp"

#include <glib.h>

#include <thread>

namespace velmora {

namespace {

class SystemUptimeClock final : public UptimeClock {
public:
    double seconds() const override { return static_cast<double>(g_get_monotonic_time()) / 1e6; }
};

// Dynamic initialisation runs before main, on the process's first thread.
const std::thread::id startupThread = std::this_thread::get_id();

}  // namespace

const UptimeClock& UptimeClock::system() {
    static const SystemUptimeClock clock;
    return clock;
}

bool isMainThread() { return std::this_thread::get_id() == startupThread; }

}  // namespace velmora
