// The whole OCR pane as the user sees it, each figure from a change to the
// frame clock's after-paint of the frame that shows it, with GSK's cairo
// renderer (the one a display without GL gets):
//   1. a pane on a finished 100-page queue, from its construction to its
//      first frame, 20 times: median and worst;
//   2. a resize across 900 points (1000 → 880 → 1000, 20 times each way):
//      the frames painted until the pane shows the other layout;
//   3. one keystroke in the editor while a search text is set, on a 100-page
//      and on a 1,000-page queue (the hit count reads every page): median
//      and 95th percentile over 100 keys to the key's frame and to the end
//      of the count that follows it, and one count on its own.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/OCRPaneBenchmark [first|resize|keys ...]
// Arguments, when given, name the parts to measure.
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "foundation/SettingsStore.hpp"
#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "FrameTiming.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using namespace velmora::bench;

// A controller on temporary roots with a finished queue of `pages` pages in
// documents of at most 100, its first page shown.
struct Queue {
    test::ControllerRoots roots;
    std::shared_ptr<QueueController> c = roots.controller();
    SettingsStore settings{roots.tmp / "settings"};

    explicit Queue(int pages) {
        std::vector<int> counts;
        for (int left = pages; left > 0; left -= 100) counts.push_back(std::min(left, 100));
        roots.openRunQueue(*c, counts, OCRSettings{});
        c->showPage();
    }
};

void firstFrame() {
    Queue q(100);
    Figures frames;
    Figures settled;
    for (int i = 0; i < 20; ++i) {
        Gtk::Window window;
        window.set_default_size(1240, 850);
        window.present();
        test::spinUntil([&] { return gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj())) != nullptr; });
        test::spinFor(50ms);
        Paints paints(window);
        const auto start = Clock::now();
        auto& pane = *Gtk::make_managed<OCRProductView>(q.c, q.settings);
        window.set_child(pane);
        const double first = paints.until(start);
        frames.values.push_back(first);
        // The frame that shows the layout of the pane's size.
        test::spinUntil([&] { return pane.contentWidth() == 1216 && !pane.layoutPending(); });
        settled.values.push_back(paints.until(start));
        window.destroy();
        test::spinFor(20ms);
    }
    std::printf("first frame of a pane on a 100-page queue: median %.1f ms, worst %.1f ms; "
                "the frame of its settled layout: median %.1f ms, worst %.1f ms\n",
                frames.percentile(0.5), frames.worst(), settled.percentile(0.5), settled.worst());
}

void resizeAcross900() {
    Queue q(100);
    Gtk::Window window;
    Gtk::Box box;
    auto& pane = *Gtk::make_managed<OCRProductView>(q.c, q.settings);
    pane.set_halign(Gtk::Align::START);
    pane.set_valign(Gtk::Align::START);
    pane.set_size_request(1000, 850);
    box.append(pane);
    window.set_child(box);
    window.present();
    test::spinUntil([&] { return pane.get_width() == 1000 && !pane.layoutPending(); });
    test::spinFor(100ms);
    Paints paints(window);
    Gtk::Widget& start = *test::findByName(window, OCRControlPanel::startName);
    // Shown wrapped: the run button follows the file name instead of
    // standing at the row's far end.
    auto stackedOnScreen = [&] {
        double startX = 0, y = 0;
        start.translate_coordinates(pane, 0, 0, startX, y);
        return startX < pane.get_width() / 2.0;
    };
    Figures toCompact;
    Figures toWide;
    long mostFrames = 0;
    for (int i = 0; i < 40; ++i) {
        const bool compact = i % 2 == 0;
        const long before = paints.count;
        pane.set_size_request(compact ? 880 : 1000, 850);
        // After each painted frame: does it show the new layout?
        long settledAt = -1;
        test::spinUntil([&] {
            if (paints.count > before && settledAt < 0 && !pane.layoutPending() && pane.compact() == compact &&
                stackedOnScreen() == compact) {
                settledAt = paints.count;
            }
            return settledAt >= 0;
        }, 5s);
        const long frames = settledAt - before;
        (compact ? toCompact : toWide).values.push_back(static_cast<double>(frames));
        mostFrames = std::max(mostFrames, frames);
        // No further frame follows a settled layout.
        test::spinFor(60ms);
    }
    std::printf("resize across 900: frames until the new layout shows: median %.0f (to compact), %.0f (to wide), "
                "most %ld\n",
                toCompact.percentile(0.5), toWide.percentile(0.5), mostFrames);
    window.destroy();
}

void keystrokeWithSearch(int pages) {
    Queue q(pages);
    Gtk::Window window;
    window.set_default_size(1240, 850);
    auto& pane = *Gtk::make_managed<OCRProductView>(q.c, q.settings);
    window.set_child(pane);
    window.present();
    test::spinUntil([&] { return pane.get_mapped() && !pane.layoutPending(); });
    q.c->setSearch("本文");
    test::spinUntil([&] { return !g_main_context_pending(nullptr); });
    Paints paints(window);
    OCRTextEditor& editor = pane.split().resultColumn().editor();
    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->get_iter_at_offset(3));
    Figures keys;
    Figures counted;
    Figures counts;
    Figures cpu;
    OCROptionRows& rows = pane.optionRows();
    for (int i = 0; i < 100; ++i) {
        test::spinFor(100ms);
        const int64_t countings = rows.countings();
        const auto start = Clock::now();
        const double cpuStart = threadMs();
        editor.buffer()->insert_interactive_at_cursor("字", true);
        keys.values.push_back(paints.until(start));
        cpu.values.push_back(threadMs() - cpuStart);
        // The count follows after the key's frame (its text, here the same
        // number, is painted only when it changes).
        test::spinUntil([&] { return rows.countings() > countings; }, 10s);
        counted.values.push_back(ms(Clock::now() - start));
        const auto countStart = Clock::now();
        const std::size_t hits = q.c->searchMatches().size();
        counts.values.push_back(ms(Clock::now() - countStart));
        if (hits == 0) std::printf("  (no hits?)\n");
    }
    std::printf("keystroke with a search set, %d pages: median %.1f ms, p95 %.1f ms to its frame; "
                "the hit count done: median %.1f ms, p95 %.1f ms after the key; one count alone: median %.1f ms\n",
                pages, keys.percentile(0.5), keys.percentile(0.95), counted.percentile(0.5),
                counted.percentile(0.95), counts.percentile(0.5));
    std::printf("  the main thread's processor time to the key's frame: median %.1f ms, p95 %.1f ms\n",
                cpu.percentile(0.5), cpu.percentile(0.95));
    window.destroy();
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("GSK_RENDERER", "cairo", 1);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    auto wanted = [&](std::string_view part) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; ++i) {
            if (part == argv[i]) return true;
        }
        return false;
    };
    if (wanted("first")) firstFrame();
    if (wanted("resize")) resizeAcross900();
    if (wanted("keys")) {
        keystrokeWithSearch(100);
        keystrokeWithSearch(1000);
    }
    return 0;
}
