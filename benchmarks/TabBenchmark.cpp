// The time of one new tab as the user sees it: addTab on a window model
// whose tab frames sit in a presented window (a stack showing the selected
// tab, as the web pane will), from the call until the new tab's frame has
// been painted once. 30 tabs; prints every time and the median.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/TabBenchmark
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/stack.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "browser/BrowserStores.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestStores.hpp"
#include "workspace/AppServices.hpp"
#include "workspace/WindowModel.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

class Windows final : public WindowSetLink {
public:
    Gtk::Window* window = nullptr;
    void scheduleSnapshot() override {}
    Gtk::Window* platformWindow(const UUID&) override { return window; }
};

// Counts the paints of a widget's frame clock once the widget is mapped.
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
    const AppRuntime roots{dir / "storage", dir / "out"};
    std::filesystem::create_directories(roots.storage);
    std::filesystem::create_directories(roots.output);
    AppRuntime::ScopedOverride runtime{roots};
    AppServices services(roots, std::make_shared<BrowserStores>(test::sharedPersistentStore()));

    Gtk::Window window;
    window.set_default_size(1280, 900);
    Gtk::Stack stack;
    window.set_child(stack);
    Windows windows;
    windows.window = &window;
    auto model = WindowModel::create(services, std::nullopt, windows);

    // The pane's part: every tab's frame in the stack, the selected one
    // shown.
    std::map<UUID, Gtk::Widget*> placed;
    auto place = [&] {
        for (const auto& tab : model->tabs.get()) {
            if (placed.contains(tab->id)) continue;
            Gtk::Widget& frame = tab->browser->frame();
            stack.add(frame, tab->id.text());
            placed[tab->id] = &frame;
        }
        stack.set_visible_child(*placed.at(model->selectedTab()->id));
    };
    auto watch = model->changed.connect(place);
    place();
    window.present();
    if (!test::spinUntil([&] { return window.get_mapped(); }, 10s)) {
        std::fprintf(stderr, "the window did not map\n");
        return 1;
    }
    test::spinFor(500ms);

    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        PaintWatch paints;
        gulong handler = 0;
        GdkFrameClock* clock = nullptr;
        const auto start = Clock::now();
        auto tab = model->addTab(false);
        GtkWidget* view = GTK_WIDGET(tab->browser->webView());
        const bool painted = test::spinUntil(
            [&] {
                if (!clock && gtk_widget_get_mapped(view)) {
                    clock = gtk_widget_get_frame_clock(view);
                    if (clock) handler = g_signal_connect(clock, "after-paint", G_CALLBACK(PaintWatch::afterPaint), &paints);
                }
                return paints.paints > 0;
            },
            10s);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (clock && handler) g_signal_handler_disconnect(clock, handler);
        if (!painted) {
            std::fprintf(stderr, "tab %d was never painted\n", i + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("tab %2d: %7.1f ms\n", i + 2, ms);
        test::spinFor(50ms);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = (sorted[14] + sorted[15]) / 2;
    std::printf("addTab until the new tab's frame painted: median %.1f ms, min %.1f ms, max %.1f ms (30 tabs)\n",
                median, sorted.front(), sorted.back());
    std::printf("target: median under 100 ms: %s\n", median < 100 ? "met" : "NOT met");
    watch.disconnect();
    window.unset_child();
    return 0;
}
