// The OCR columns as the user sees them, each figure from a change to the
// frame clock's after-paint of the frame that shows it, with GSK's cairo
// renderer (the one a display without GL gets):
//   1. a 100,000-character result with 2,000 yellow and 500 green ranges
//      loaded into the editor;
//   2. one keystroke in it, handed back with its moved ranges (the owner's
//      highlight state computes them), 200 times: median and 95th
//      percentile;
//   3. the same keystroke through the real controller and result column
//      (edit state, then `applyEdit` with its write, timed on its own), on a
//      queue of that one page, of 100 inputs and of 1,000 pages (the other
//      pages a few lines each);
//   4. a 300-dpi A4 page (2480 × 3508) set as the controller's preview,
//      to the first frame that shows it;
//   5. scrolling it at zoom 2, 40 pixels a step, 200 steps.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/OCRColumnsBenchmark [editor|controller|preview ...]
// Arguments, when given, name the parts to measure.
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Unicode.hpp"
#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrviews/OCRResultColumn.hpp"
#include "ocrviews/OCRSourceColumn.hpp"
#include "ocrjobs/OCRDecorationState.hpp"
#include "FrameTiming.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using namespace velmora::bench;

// Keys come about ten a second: a change then waits for no frame still
// paced behind the last one (the frame clock ticks at most once per
// refresh interval).
void typingPause() { test::spinFor(60ms); }

// 100,000 characters in lines of 50, with every 50th character recognised
// with low confidence (2,000 ranges).
std::string longText() {
    std::string text;
    const std::string line = "本報告書は地域図書館の利用状況と課題をまとめたものである。貸出冊数は増加し児童書と郷土資料の伸びが目立";
    const auto scalars = Unicode::scalars(line);
    for (int i = 0; i < 100000; ++i) {
        if (i % 50 == 49) {
            text += '\n';
        } else {
            Unicode::appendScalar(text, scalars[static_cast<std::size_t>(i) % scalars.size()]);
        }
    }
    return text;
}

void editorFigures() {
    Gtk::Window window;
    window.set_default_size(800, 900);
    auto& editor = *Gtk::make_managed<OCRTextEditor>();
    window.set_child(editor);
    window.present();
    test::spinUntil([&] { return editor.get_mapped(); });
    Paints paints(window);

    const std::string text = longText();
    std::vector<TextRange> low;
    for (int64_t i = 0; i < 2000; ++i) low.push_back({i * 50 + 10, 3});
    OCRDecorationState state(text, low);
    // 500 hand edits, one character each, as the user made them.
    for (int64_t i = 0; i < 500; ++i) {
        std::u16string t = state.text16();
        const int64_t at = i * 200 + 30;
        t[static_cast<std::size_t>(at)] = u'正';
        state.update(Unicode::fromUTF16(t), TextRange{at, 1}, "正", false);
    }
    Figures owner;
    Figures updates;
    OCRTextEditor::Value value;
    value.text = state.text();
    value.lowRanges = state.yellow();
    value.manualRanges = state.green();
    value.documentKey = "page";
    value.onEdit = [&](std::string t, std::optional<TextRange> range, std::optional<std::string> replacement,
                       bool undo) {
        const auto ownerStart = Clock::now();
        std::optional<std::string_view> change;
        if (replacement) change = *replacement;
        state.update(t, range, change, undo);
        value.text = std::move(t);
        value.lowRanges = state.yellow();
        value.manualRanges = state.green();
        const auto updateStart = Clock::now();
        owner.values.push_back(ms(updateStart - ownerStart));
        editor.update(value);
        updates.values.push_back(ms(Clock::now() - updateStart));
    };
    std::printf("editor: %zu yellow and %zu green ranges in %lld characters\n", value.lowRanges.size(),
                value.manualRanges.size(), static_cast<long long>(UTF16Map(value.text).characters()));
    auto start = Clock::now();
    editor.update(value);
    std::printf("  load to its frame: %.1f ms\n", paints.until(start, editor.textView()));

    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->get_iter_at_offset(120));
    Figures keys;
    Figures work;
    for (int i = 0; i < 200; ++i) {
        typingPause();
        start = Clock::now();
        editor.buffer()->insert_interactive_at_cursor("字", true);
        work.values.push_back(ms(Clock::now() - start));
        keys.values.push_back(paints.until(start, editor.textView()));
    }
    std::printf("  keystroke to its frame: median %.1f ms, p95 %.1f ms\n", keys.percentile(0.5),
                keys.percentile(0.95));
    std::printf("  of which the report, the owner's ranges and the update: median %.1f ms, p95 %.1f ms\n",
                work.percentile(0.5), work.percentile(0.95));
    std::printf("    the owner's highlight state: median %.1f ms; the editor's update: median %.1f ms, p95 %.1f ms\n",
                owner.percentile(0.5), updates.percentile(0.5), updates.percentile(0.95));
}

void controllerFigures(const std::vector<int>& pageCounts, const char* queue) {
    test::ControllerRoots roots;
    // One page whose regions make a 100,000-character text with 2,000
    // low-confidence lines; every other page is two short lines.
    const std::string text = longText();
    std::vector<TextRegion> regions;
    std::size_t lineStart = 0;
    int n = 0;
    while (lineStart < text.size()) {
        std::size_t end = text.find('\n', lineStart);
        if (end == std::string::npos) end = text.size();
        regions.emplace_back(text.substr(lineStart, end - lineStart), n++ % 2 == 0 ? 0.6f : 0.95f, 0.1, 0.1, 0.8,
                             0.01);
        lineStart = end + 1;
    }
    auto longGiven = std::make_shared<std::atomic<bool>>(false);
    QueuePorts ports;
    ports.configureEngine = [regions, longGiven](OCRQueueEngine& engine) {
        engine.setRecognizer([regions, longGiven](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                                  const std::function<bool()>&) {
            if (!longGiven->exchange(true)) return PageResult(page, regions, 0.01, image.width(), image.height());
            return PageResult(page, test::fixedRegions(page), 0.01, image.width(), image.height());
        });
    };
    auto c = roots.controller(ports);
    roots.openRunQueue(*c, pageCounts, OCRSettings{});
    // The long page, wherever the runs put it.
    std::optional<std::pair<UUID, int64_t>> shown;
    for (const QueueInput& input : c->snapshot.get()->inputs) {
        for (const PageRecord& record : input.pages) {
            auto result = c->engine->result(input.id, record.page);
            if (result && result->text().size() > 100000) shown = {input.id, record.page};
        }
    }
    if (shown) c->goPage(shown->second, shown->first);
    c->showPage();

    Gtk::Window window;
    window.set_default_size(800, 900);
    auto& column = *Gtk::make_managed<OCRResultColumn>(c);
    window.set_child(column);
    window.present();
    test::spinUntil([&] { return column.get_mapped(); });
    Paints paints(window);
    OCRTextEditor& editor = column.editor();
    std::printf("controller, %s: %zu yellow ranges in the shown page\n", queue,
                c->currentDecoration().yellow().size());
    editor.textView().grab_focus();
    editor.buffer()->place_cursor(editor.buffer()->get_iter_at_offset(120));
    Figures keys;
    Figures cpu;
    Figures writes;
    for (int i = 0; i < 100; ++i) {
        typingPause();
        auto start = Clock::now();
        const double cpuStart = threadMs();
        editor.buffer()->insert_interactive_at_cursor("字", true);
        keys.values.push_back(paints.until(start, editor.textView()));
        cpu.values.push_back(threadMs() - cpuStart);
        start = Clock::now();
        c->applyEdit();
        writes.values.push_back(ms(Clock::now() - start));
    }
    std::printf("  keystroke through the controller to its frame: median %.1f ms, p95 %.1f ms\n",
                keys.percentile(0.5), keys.percentile(0.95));
    std::printf("  the main thread's processor time to the key's frame: median %.1f ms, p95 %.1f ms\n",
                cpu.percentile(0.5), cpu.percentile(0.95));
    std::printf("  applyEdit with its write (in memory folders): median %.1f ms, p95 %.1f ms\n",
                writes.percentile(0.5), writes.percentile(0.95));
}

void previewFigures() {
    test::ControllerRoots roots;
    auto c = roots.controller();
    roots.openRunQueue(*c, {1}, OCRSettings{});
    c->showPage();
    Gtk::Window window;
    window.set_default_size(700, 900);
    auto& column = *Gtk::make_managed<OCRSourceColumn>(c);
    window.set_child(column);
    window.present();
    test::spinUntil([&] { return column.get_mapped(); });
    Paints paints(window);

    std::vector<uint8_t> pixels(static_cast<std::size_t>(2480) * 3508 * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(200 + (i / 3 / 2480) % 50);
    const RasterImage page = RasterImage::fromPixels(2480, 3508, 3, pixels);
    auto start = Clock::now();
    c->preview = page;
    const double first = paints.until(start, column.preview());
    std::printf("preview: A4 at 300 dpi to its first frame: %.1f ms\n", first);

    c->zoom = 2.0;
    auto adjustment = column.scroller().get_vadjustment();
    test::spinUntil([&] { return adjustment->get_upper() > 2 * adjustment->get_page_size(); });
    paints.until(Clock::now(), column.preview());
    Figures frames;
    for (int i = 0; i < 200; ++i) {
        typingPause();
        start = Clock::now();
        adjustment->set_value(adjustment->get_value() + 40);
        frames.values.push_back(paints.until(start, column.preview()));
    }
    std::printf("  scrolling at zoom 2: median %.1f ms, p95 %.1f ms\n", frames.percentile(0.5),
                frames.percentile(0.95));
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
    if (wanted("editor")) editorFigures();
    if (wanted("controller")) {
        controllerFigures({1}, "one page");
        controllerFigures(std::vector<int>(100, 1), "100 inputs");
        controllerFigures(std::vector<int>(10, 100), "1,000 pages in 10 inputs");
    }
    if (wanted("preview")) previewFigures();
    return 0;
}
