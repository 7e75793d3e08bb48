#pragma once

#include <glib.h>

#include <functional>
#include <utility>

namespace velmora {

// One refresh of a view per turn of the main loop, however many changes
// asked for it. It runs above redrawing (G_PRIORITY_HIGH_IDLE), so the next
// frame shows every change once; a refresh still waiting when this goes
// never runs.
class IdleRefresh {
public:
    // A refresh that may wait for the frame (G_PRIORITY_DEFAULT_IDLE) runs
    // after redrawing instead.
    explicit IdleRefresh(std::function<void()> refresh, int priority = G_PRIORITY_HIGH_IDLE)
        : refresh_(std::move(refresh)), priority_(priority) {}
    IdleRefresh(const IdleRefresh&) = delete;
    IdleRefresh& operator=(const IdleRefresh&) = delete;
    ~IdleRefresh() {
        if (source_ != 0) g_source_remove(source_);
    }

    void schedule() {
        if (source_ != 0) return;
        source_ = g_idle_add_full(
            priority_,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<IdleRefresh*>(data);
                self->source_ = 0;
                self->refresh_();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
    }
    bool pending() const noexcept { return source_ != 0; }

private:
    std::function<void()> refresh_;
    int priority_;
    guint source_ = 0;
};

}  // namespace velmora
