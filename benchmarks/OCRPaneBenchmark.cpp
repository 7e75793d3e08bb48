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
//      of the count that follows it, and one count on its own;
//   4. the longest stall of the main loop while a heavy original is opened,
//      read (with the fake recogniser: recognition has its own thread) and
//      turned page by page: A4 pages each holding one 20,000 × 20,000 grey
//      image, a 600-dpi colour scan and a 48-megapixel photo; beside it, the
//      time the page display's preparation of the first page takes, which
//      the main thread spent whole when it prepared the page itself.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/OCRPaneBenchmark [first|resize|keys|stall ...]
// Arguments, when given, name the parts to measure.
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "FrameTiming.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
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

// The longest time the main loop was held: a timer of the highest priority
// asks for a turn every 5 ms, and a gap between two turns beyond that is
// a stall. Beside the time on the clock, the main thread's processor time
// in that gap: on a loaded machine a stall may be the thread waiting for a
// processor rather than working.
struct Stalls {
    static constexpr double period = 5;
    Clock::time_point last = Clock::now();
    double lastCPU = threadMs();
    double longest = 0;
    double busiest = 0;
    guint source = 0;
    Stalls() {
        source = g_timeout_add_full(
            G_PRIORITY_HIGH, static_cast<guint>(period),
            +[](gpointer data) -> gboolean {
                static_cast<Stalls*>(data)->turn();
                return G_SOURCE_CONTINUE;
            },
            this, nullptr);
    }
    ~Stalls() { g_source_remove(source); }
    Stalls(const Stalls&) = delete;
    Stalls& operator=(const Stalls&) = delete;
    void turn() {
        const auto now = Clock::now();
        const double cpu = threadMs();
        longest = std::max(longest, ms(now - last) - period);
        busiest = std::max(busiest, cpu - lastCPU);
        last = now;
        lastCPU = cpu;
    }
    // The longest stall since the last call, and the most processor time
    // the main thread spent between two turns.
    std::pair<double, double> take() {
        turn();
        return {std::exchange(longest, 0), std::exchange(busiest, 0)};
    }
};

// An A4 document whose pages each show one grey image of side x side
// pixels, run-length coded so the file stays small; dark bars stand for
// lines of text.
void writeLargeImagePDF(const std::filesystem::path& path, int pages, int side) {
    std::string data;
    std::string row;
    for (int y = 0; y < side; ++y) {
        const bool ink = (y / 200) % 3 == 1;
        row.clear();
        for (int x = 0; x < side;) {
            const int run = std::min(128, side - x);
            const bool dark = ink && (x / 1000) % 2 == 0 && x > 1500 && x < side - 1500;
            row += static_cast<char>(257 - run);
            row += static_cast<char>(dark ? 30 : 250);
            x += run;
        }
        data += row;
    }
    data += static_cast<char>(128);
    std::vector<std::string> objects;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(side) + " /Height " +
                      std::to_string(side) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /RunLengthDecode" +
                      " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
    const std::string content = "q 595 0 0 842 0 0 cm /Im0 Do Q";
    for (int i = 0; i < pages; ++i) {
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject << /Im0 3 0 R >> >>"
                          " /Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    test::writeRawPDF(path, objects);
}

void stallsOn(const std::string& name, const std::filesystem::path& file) {
    test::ControllerRoots roots;
    auto c = roots.controller();
    SettingsStore settings{roots.tmp / "settings"};
    Gtk::Window window;
    window.set_default_size(1240, 850);
    window.present();
    window.set_child(*Gtk::make_managed<OCRProductView>(c, settings));
    test::spinFor(200ms);

    // What the display's preparation of the first page costs, on its own.
    const auto before = Clock::now();
    try {
        if (OCRProduct::isPDF(file)) {
            (void)Raster::pdfPageCount(file);
            (void)Raster::pdf(file, 0, 100);
        } else {
            (void)Raster::preview(file);
        }
    } catch (const std::exception&) {
    }
    const double preparation = ms(Clock::now() - before);

    Stalls stalls;
    const auto settled = [&] { return !c->importing.get() && !c->busy.get() && !c->picturePending.get(); };
    stalls.take();
    test::runTask(c->requestSelection({file}), 120s);
    test::spinUntil(settled, 120s);
    const auto opening = stalls.take();
    const std::string opened = c->status.get();
    test::runTask(c->start(), 120s);
    test::spinUntil(settled, 300s);
    const auto reading = stalls.take();
    std::pair<double, double> turning{0, 0};
    if (c->previewPageCount.get() > 1) {
        c->goPage(2);
        test::spinFor(50ms);
        c->goPage(3);
        c->goPage(2);
        test::spinUntil(settled, 300s);
        turning = stalls.take();
    }
    std::printf("%s: preparing its first page %.0f ms; longest main-loop stall (main thread's processor time in "
                "its longest turn): opening %.0f ms (%.0f), reading %.0f ms (%.0f), turning pages %.0f ms (%.0f)\n"
                "  said: %s / %s\n",
                name.c_str(), preparation, opening.first, opening.second, reading.first, reading.second, turning.first,
                turning.second, opened.c_str(), c->status.get().c_str());
    window.destroy();
    test::spinFor(50ms);
}

void heavyOriginals() {
    test::TempDir tmp{true};
    const std::filesystem::path large = tmp / "large-image.pdf";
    writeLargeImagePDF(large, 3, 20000);
    stallsOn("3 A4 pages, each one 20,000 px grey image", large);

    const std::filesystem::path scan = tmp / "scan-600dpi.png";
    test::writePNG(scan, 4960, 7016, 3, [](int y, uint8_t* row) {
        for (int x = 0; x < 4960; ++x) {
            const bool ink = (y / 60) % 3 == 1 && (x / 40) % 3 != 2 && x > 400 && x < 4560;
            row[3 * x] = ink ? 20 : static_cast<uint8_t>(235 + (x + y) % 20);
            row[3 * x + 1] = ink ? 20 : 230;
            row[3 * x + 2] = ink ? 40 : 220;
        }
    });
    stallsOn("600-dpi colour scan (4960 × 7016 PNG)", scan);

    const std::filesystem::path photo = tmp / "photo-48mp.jpg";
    {
        const int w = 6048, h = 8064;
        std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &pixels[(static_cast<std::size_t>(y) * w + x) * 3];
                const bool ink = (y / 90) % 3 == 1 && (x / 60) % 3 != 2;
                p[0] = ink ? 30 : static_cast<uint8_t>(200 + (x / 7 + y / 5) % 40);
                p[1] = ink ? 30 : 190;
                p[2] = ink ? 50 : 170;
            }
        }
        test::writeJPEG(photo, RasterImage::fromPixels(w, h, 3, pixels));
    }
    stallsOn("48-megapixel photo (6048 × 8064 JPEG)", photo);
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
    if (wanted("stall")) heavyOriginals();
    return 0;
}
