#pragma once

#include <gtk/gtk.h>
#include <gtkmm/widget.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "support/MainLoop.hpp"

// Frame timing of the view benchmarks: the time from a change until the
// frame clock has painted, and the figures taken from many such times.
namespace velmora::bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The processor time the calling thread has used, in milliseconds: what a
// change costs the main thread, apart from the waits for the display and
// for other processes on a busy machine.
inline double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Counts the after-paints of a widget's frame clock; the clock is held, and
// the handler goes with this object, so it may end before the window.
struct Paints {
    long count = 0;
    GdkFrameClock* clock = nullptr;
    gulong handler = 0;
    explicit Paints(Gtk::Widget& widget) {
        clock = GDK_FRAME_CLOCK(g_object_ref(gtk_widget_get_frame_clock(widget.gobj())));
        handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer self) {
                                       ++static_cast<Paints*>(self)->count;
                                   }),
                                   this);
    }
    ~Paints() {
        // A clock disposed with its window has dropped its handlers already.
        if (g_signal_handler_is_connected(clock, handler)) g_signal_handler_disconnect(clock, handler);
        g_object_unref(clock);
    }
    Paints(const Paints&) = delete;
    Paints& operator=(const Paints&) = delete;
    // The time from `start` until the next after-paint.
    double until(Clock::time_point start) {
        const long before = count;
        test::spinUntil([&] { return count > before; }, std::chrono::seconds(10));
        return ms(Clock::now() - start);
    }
    // The same, asking `dirty` for a frame first: a change out of sight
    // draws nothing by itself.
    double until(Clock::time_point start, Gtk::Widget& dirty) {
        dirty.queue_draw();
        return until(start);
    }
};

struct Figures {
    std::vector<double> values;
    double percentile(double p) {
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
    }
    double worst() { return *std::max_element(values.begin(), values.end()); }
};

}  // namespace velmora::bench
