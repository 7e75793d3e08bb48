// The time of one new tab as the user sees it: a pointer click of the tab
// bar's "tab.add" (its "clicked") in a presented window that holds the bar above the tabs' frames
// (a stack showing the selected tab), from the click until the window has
// painted a frame in which the bar shows the new tab selected and its web
// view is on screen. 30 tabs; prints every time and the median.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/TabBenchmark
#include <gtk/gtk.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
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
#include "workspace/BrowserTabBar.hpp"
#include "workspace/WebWorkspaceStyle.hpp"
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

// The first widget named `name` under root, depth first.
Gtk::Widget* named(Gtk::Widget& root, const std::string& name) {
    if (root.get_name().raw() == name) return &root;
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* found = named(*child, name)) return found;
    }
    return nullptr;
}

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
    Gtk::Box column(Gtk::Orientation::VERTICAL, 0);
    Gtk::Stack stack;
    stack.set_vexpand(true);
    Windows windows;
    windows.window = &window;
    auto model = WindowModel::create(services, std::nullopt, windows);
    BrowserTabBar bar(model);
    column.append(bar);
    column.append(stack);
    window.set_child(column);

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

    // The bar's own button, found by name as a user's click reaches it.
    auto* add = dynamic_cast<Gtk::Button*>(named(bar, BrowserTabBar::addName));
    if (!add) {
        std::fprintf(stderr, "the bar has no %s\n", BrowserTabBar::addName);
        return 1;
    }
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        PaintWatch paints;
        const std::size_t before = model->tabs->size();
        std::shared_ptr<BrowserTab> tab;
        Gtk::Widget* item = nullptr;
        gulong handler = 0;
        const auto start = Clock::now();
        // What the button does when the pointer's button is released over
        // it. (A keyboard activation shows the button pressed for 250 ms
        // before it reports the click.)
        g_signal_emit_by_name(add->gobj(), "clicked");
        const bool painted = test::spinUntil(
            [&] {
                if (!tab && model->tabs->size() > before) {
                    tab = model->tabs->back();
                    item = named(bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, tab->id));
                }
                // Counted from the first frame after the new tab is shown
                // selected in the bar and its view is mapped.
                if (tab && !handler && item && item->has_css_class(WebWorkspaceStyle::selectedTabClass) &&
                    gtk_widget_get_mapped(GTK_WIDGET(tab->browser->webView()))) {
                    handler = g_signal_connect(clock, "after-paint", G_CALLBACK(PaintWatch::afterPaint), &paints);
                }
                return paints.paints > 0;
            },
            10s);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (handler) g_signal_handler_disconnect(clock, handler);
        if (!painted) {
            std::fprintf(stderr, "tab %d was never painted selected\n", i + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("tab %2d: %7.1f ms\n", i + 2, ms);
        test::spinFor(50ms);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = (sorted[14] + sorted[15]) / 2;
    std::printf("tab.add until the new tab is painted selected: median %.1f ms, min %.1f ms, max %.1f ms (30 tabs)\n",
                median, sorted.front(), sorted.back());
    std::printf("target: median under 100 ms: %s\n", median < 100 ? "met" : "NOT met");
    watch.disconnect();
    window.unset_child();
    return 0;
}
