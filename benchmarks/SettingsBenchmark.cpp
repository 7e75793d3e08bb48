// The time of the settings screen as the user sees it: from building the
// screen into a presented window (its refresh re-reads the stored
// preferences when it maps) until the window's frame clock has painted it
// once. 20 screens, each replacing the last; prints every time and the
// median. Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/SettingsBenchmark
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

struct PaintWatch {
    int paints = 0;
    static void afterPaint(GdkFrameClock*, gpointer self) { ++static_cast<PaintWatch*>(self)->paints; }
};

}  // namespace

int main() {
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    test::TempDir dir;
    SettingsStore store(dir / "settings");
    store.update(&AppPreferences::mobileWidth, int64_t{390});
    OutputAccess access(AppRuntime{dir / "storage", dir / "out"});
    SettingsFlow flow;

    Gtk::Window window;
    window.set_default_size(1240, 850);
    window.present();
    if (!test::spinUntil([&] { return window.get_mapped(); }, 10s)) {
        std::fprintf(stderr, "the window did not map\n");
        return 1;
    }
    test::spinFor(300ms);

    constexpr int runs = 20;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        PaintWatch paints;
        GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
        const gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(PaintWatch::afterPaint), &paints);
        const auto start = Clock::now();
        auto* screen = Gtk::make_managed<SettingsScreen>(SettingsScreen::Parts{store, access, nullptr, nullptr}, flow);
        window.set_child(*screen);
        const bool painted = test::spinUntil([&] { return screen->get_mapped() && paints.paints > 0; }, 10s);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        g_signal_handler_disconnect(clock, handler);
        if (!painted) {
            std::fprintf(stderr, "screen %d was never painted\n", i + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("screen %2d: %7.1f ms\n", i + 1, ms);
        window.unset_child();
        test::spinFor(50ms);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = (sorted[runs / 2 - 1] + sorted[runs / 2]) / 2;
    std::printf("settings screen built until painted: median %.1f ms, min %.1f ms, max %.1f ms (%d screens)\n",
                median, sorted.front(), sorted.back(), runs);
    std::printf("target: median under 200 ms: %s\n", median < 200 ? "met" : "NOT met");
    return 0;
}
