#include "support/MainLoop.hpp"

#include <glib.h>

#include <vector>

namespace velmora::test {

namespace {

gboolean keepTicking(gpointer) { return G_SOURCE_CONTINUE; }

}  // namespace

bool spinUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
    if (pred()) return true;
    // A short tick bounds every blocking iteration, so the deadline is seen.
    guint tick = g_timeout_add(5, keepTicking, nullptr);
    gint64 deadline = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(bound).count();
    bool held = false;
    while (!(held = pred()) && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return held;
}

void spinFor(std::chrono::milliseconds duration) {
    gint64 end = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
    spinUntil([&] { return g_get_monotonic_time() >= end; }, duration + 1s);
}

int nextTimerDelay() {
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) throw std::runtime_error("the default main context is owned elsewhere");
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    std::vector<GPollFD> fds(16);
    gint timeout = -1;
    gint n = g_main_context_query(context, priority, &timeout, fds.data(), static_cast<gint>(fds.size()));
    if (n > static_cast<gint>(fds.size())) {
        fds.resize(n);
        n = g_main_context_query(context, priority, &timeout, fds.data(), n);
    }
    // Completes the iteration protocol without dispatching anything.
    g_main_context_check(context, priority, fds.data(), n);
    g_main_context_release(context);
    return timeout;
}

}  // namespace velmora::test
