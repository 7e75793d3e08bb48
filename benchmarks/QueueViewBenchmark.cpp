// The queue panel on long queues, each figure from a change to the frame
// clock's after-paint of the frame that shows it, with GSK's cairo renderer
// (the one a display without GL gets):
//   1. the panel built for a queue of 1,000 inputs (10 pages each, the
//      first tenth done, a few failed pages) to its first frame;
//   2. a simulated run publishing a snapshot every 50 ms in which one
//      input gained a page, 200 times: median and 95th percentile of the
//      frame, and of the panel's refresh alone;
//   3. the same scrolled to the middle of the queue, where the running
//      input is;
//   4. all of it again at 5,000 inputs, the engine's limit.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/QueueViewBenchmark
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/box.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/QueueView.hpp"
#include "FrameTiming.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using namespace velmora::bench;

// n inputs of 10 pages each: every tenth input finished, with a failed
// page now and then; the rest waiting.
QueueSnapshot longQueue(std::size_t n) {
    std::vector<QueueInput> inputs;
    inputs.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        QueueInput input("/home/user/スキャン/2026年度/資料-" + std::to_string(i + 1) + ".pdf", InputOrigin::normal);
        input.source = SourceIdentity(input.path, 120000, 10, "digest");
        if (i % 10 == 0) {
            for (int64_t page = 1; page <= 10; ++page) {
                input.pages.emplace_back(page, page == 4 && i % 30 == 0 ? PageState::failed : PageState::completed);
            }
            input.status = InputStatus::completed;
        } else {
            for (int64_t page = 1; page <= 10; ++page) input.pages.emplace_back(page);
        }
        inputs.push_back(std::move(input));
    }
    return QueueSnapshot(OCRSettings{}, std::move(inputs));
}

// The next published snapshot of the run: one more page done of the
// input at `running`.
void advance(QueueSnapshot& s, std::size_t running) {
    QueueInput& input = s.inputs[running];
    input.status = InputStatus::running;
    for (PageRecord& record : input.pages) {
        if (record.state == PageState::pending) {
            record.state = PageState::completed;
            return;
        }
    }
    input.status = InputStatus::completed;
}

void figures(std::size_t n) {
    test::ControllerRoots roots;
    auto c = roots.controller();
    QueueSnapshot queue = longQueue(n);
    c->snapshot = queue;
    c->selectedID = queue.inputs.front().id;
    std::printf("%zu inputs:\n", n);

    Gtk::Window window;
    window.set_default_size(1100, 700);
    auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    window.set_child(box);
    window.present();
    test::spinUntil([&] { return box.get_mapped(); });
    Paints paints(window);
    test::spinFor(100ms);

    auto start = Clock::now();
    auto* view = Gtk::make_managed<QueueView>(c);
    const double built = ms(Clock::now() - start);
    box.append(*view);
    const double first = paints.until(start, *view);
    std::printf("  built: %.1f ms; to its first frame: %.1f ms\n", built, first);

    auto run = [&](const char* where, std::size_t from) {
        Figures frames;
        Figures work;
        for (int i = 0; i < 200; ++i) {
            test::spinFor(50ms);
            const std::size_t running = from + static_cast<std::size_t>(i) / 10;
            advance(queue, running);
            // The run hands the controller its own snapshot.
            QueueSnapshot published = queue;
            start = Clock::now();
            c->snapshot = std::move(published);
            // The refresh is an idle source above redrawing: run it alone
            // first to time the panel's own work, then wait for the frame.
            const auto refreshStart = Clock::now();
            while (view->refreshPending()) g_main_context_iteration(nullptr, false);
            work.values.push_back(ms(Clock::now() - refreshStart));
            frames.values.push_back(paints.until(start, *view));
        }
        std::printf("  run %s: frame median %.1f ms, p95 %.1f ms; refresh median %.2f ms, p95 %.2f ms\n", where,
                    frames.percentile(0.5), frames.percentile(0.95), work.percentile(0.5), work.percentile(0.95));
    };
    run("at the top", 1);
    auto v = view->get_vadjustment();
    v->set_value(v->get_upper() / 2);
    test::spinFor(200ms);
    // The row near the middle of what the list shows now.
    const std::size_t middle = n / 2;
    run("in the middle", middle);
}

}  // namespace

int main() {
    ::setenv("GSK_RENDERER", "cairo", 1);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    figures(1000);
    figures(5000);
    return 0;
}
