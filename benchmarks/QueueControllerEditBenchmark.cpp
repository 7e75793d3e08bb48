// The main-thread cost of the edit road and of the page display: one
// keystroke (its write coalesced) and one store (highlight state, page edit,
// selection, each written with fsync) on queues of 10, 100 and 1000 inputs of
// 10 pages, and showPage() of an A4 PDF page and of 300-dpi A4 scans as JPEG
// and PNG.
//
// With "switch" it measures the page switch instead: an edit typed, then
// goPage() to the next page, on a queue of 1000 inputs of 100 pages (its
// first input recognised, the others copies of its records), the edit
// durable when the call returns; p50, p95 and the worst of 200 switches.
// Between switches any write the switch left to a worker is waited for,
// untimed, as a user reading the next page would give it time.
// Run by hand: build/benchmarks/QueueControllerEditBenchmark [inputs ...]
//              build/benchmarks/QueueControllerEditBenchmark switch [inputs [pages]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ocrqueue/ControllerFixtures.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int pageSwitches(int inputs, int pages) {
    test::ControllerRoots roots(false);
    auto c = roots.controller();
    const OCRSettings settings;
    fs::path folder;
    {
        auto made = OCRQueueEngine::create({{test::writeDocument(roots.tmp / "doc.pdf", pages)}}, settings,
                                           c->parent);
        c->ports().configure(*made);
        JobControl control;
        made->run(control, false, {}, {}, [](const QueueSnapshot&) {});
        folder = made->directory()->url();
    }
    test::padQueue(folder, inputs);
    auto start = Clock::now();
    std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::resume(folder, settings);
    const double resumeMs = msSince(start);
    c->ports().configure(*engine);
    c->engine = engine;
    c->snapshot = engine->snapshot();
    c->selectedID = c->snapshot->value().inputs.front().id;
    c->page = 1;
    c->showPage();

    constexpr int switches = 200;
    std::vector<double> times;
    for (int k = 0; k < switches; ++k) {
        c->editText(c->edited.get() + "字", std::nullopt, std::nullopt, false);
        const int64_t next = c->page.get() % pages + 1;
        start = Clock::now();
        const bool switched = c->goPage(next);
        times.push_back(msSince(start));
        if (!switched) {
            std::printf("the page switch failed: %s\n", c->status.get().c_str());
            return 1;
        }
        test::spinUntil([&] { return !c->editWritePending(); }, std::chrono::minutes(2));
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
    std::printf("%d inputs x %d pages (queue.json %.1f MB, reopened in %.0f ms): page switch with an edit "
                "p50 %.2f ms, p95 %.2f ms, worst %.2f ms over %d (%s)\n",
                inputs, pages, double(fs::file_size(folder / "queue.json")) / 1e6, resumeMs, at(0.5), at(0.95),
                times.back(), switches, c->status.get().c_str());
    return 0;
}

}  // namespace

// Arguments, when given, are the queue sizes to measure (inputs of 10
// pages); the largest default one takes half an hour to set up.
int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc > 1 && std::strcmp(argv[1], "switch") == 0) {
        return pageSwitches(argc > 2 ? std::atoi(argv[2]) : 1000, argc > 3 ? std::atoi(argv[3]) : 100);
    }
    std::vector<int> sizes{10, 100, 1000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    }
    for (int inputs : sizes) {
        // The figures are taken on disk, so they include the real fsync; the
        // queue is run in memory (one write per page) and then moved there.
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        const OCRSettings settings;
        fs::path folder;
        {
            test::TempDir memory(true);
            std::vector<OCRQueueEngine::InputFile> files;
            for (int i = 0; i < inputs; ++i) {
                files.push_back({test::writeDocument(roots.tmp / ("doc" + std::to_string(i) + ".pdf"), 10)});
            }
            auto made = OCRQueueEngine::create(files, settings, memory.path());
            c->ports().configure(*made);
            JobControl control;
            made->run(control, false, {}, {}, [](const QueueSnapshot&) {});
            const std::string id = made->snapshot().id.text();
            made.reset();
            fs::create_directories(c->parent);
            folder = c->parent / id;
            fs::copy(memory / id, folder, fs::copy_options::recursive);
        }
        std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::resume(folder, settings);
        c->ports().configure(*engine);
        c->engine = engine;
        c->snapshot = engine->snapshot();
        c->selectedID = c->snapshot->value().inputs.front().id;
        c->page = 1;
        c->showPage();
        const auto queueBytes = fs::file_size(folder / "queue.json");

        // What the keystroke costs now: the text and its highlight state in
        // memory, the write left to the coalescing timer.
        constexpr int keystrokes = 20;
        std::string text = c->edited;
        double worst = 0, total = 0;
        for (int k = 0; k < keystrokes; ++k) {
            text += "字";
            const auto start = Clock::now();
            c->editText(text, std::nullopt, std::nullopt, false);
            const double ms = msSince(start);
            total += ms;
            worst = std::max(worst, ms);
        }
        // What one write costs: applyEdit() of a changed text, the three
        // stores with their fsync, as the timer or a page switch runs it.
        double writeWorst = 0, writeTotal = 0;
        for (int k = 0; k < keystrokes; ++k) {
            text += "字";
            c->editText(text, std::nullopt, std::nullopt, false);
            const auto start = Clock::now();
            c->applyEdit();
            const double ms = msSince(start);
            writeTotal += ms;
            writeWorst = std::max(writeWorst, ms);
        }
        std::printf("%5d inputs x 10 pages (queue.json %.1f MB): keystroke %.3f ms mean, %.3f ms worst; "
                    "applyEdit %.2f ms mean, %.2f ms worst (at most one per %lld ms) (%s)\n",
                    inputs, double(queueBytes) / 1e6, total / keystrokes, worst, writeTotal / keystrokes, writeWorst,
                    static_cast<long long>(QueueController::editWriteInterval.count()), c->status.get().c_str());
    }

    test::ControllerRoots roots;
    auto c = roots.controller();
    const auto a4pdf = roots.tmp / "a4.pdf";
    test::writePDF(a4pdf, {test::PageSize{595.276, 841.89}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_rectangle(cr, 50, 50, 400, 600);
        cairo_fill(cr);
    });
    const RasterImage scan = test::makeImage(2480, 3508, 3, [](int x, int y, uint8_t* px) {
        px[0] = static_cast<uint8_t>(x);
        px[1] = static_cast<uint8_t>(y);
        px[2] = static_cast<uint8_t>(x ^ y);
    });
    const auto jpeg = roots.tmp / "scan.jpg";
    test::writeJPEG(jpeg, scan);
    const auto png = roots.tmp / "scan.png";
    test::writePNG(png, 2480, 3508, 3, [](int y, uint8_t* row) {
        for (int x = 0; x < 2480 * 3; ++x) row[x] = static_cast<uint8_t>((x + y) & 0xFF);
    });
    for (const auto& file : {a4pdf, jpeg, png}) {
        roots.openQueue(*c, {{file}}, OCRSettings(), false);
        double best = 1e300;
        for (int k = 0; k < 5; ++k) {
            const auto start = Clock::now();
            c->showPage();
            best = std::min(best, msSince(start));
        }
        std::printf("showPage %-9s %.1f ms (image %dx%d)\n", file.filename().c_str(), best,
                    c->preview->has_value() ? c->preview->value().width() : 0,
                    c->preview->has_value() ? c->preview->value().height() : 0);
    }
    return 0;
}
