// The main-thread cost of searching and re-flowing a whole queue: find(1)
// over every recognised page (each page's result read back from disk), and
// a plain line re-flow, which stores every completed page with its own
// queue write (fsync included), on queues of 100 and 1000 pages (inputs of
// 10 pages).
// Run by hand: build/benchmarks/QueueControllerNavigationBenchmark [pages ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<int> sizes{100, 1000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    }
    for (int pages : sizes) {
        const int inputs = std::max(pages / 10, 1);
        // Measured on disk; the queue is recognised in memory (one write per
        // page) and moved there.
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
        c->goPage(1);

        // A hit on the last page of each input: every step reads every page.
        c->setSearch("第10頁");
        double best = 1e300, worst = 0;
        for (int k = 0; k < 5; ++k) {
            const auto start = Clock::now();
            c->find(1);
            const double ms = msSince(start);
            best = std::min(best, ms);
            worst = std::max(worst, ms);
        }
        std::printf("%5d pages: find(1) %.1f ms best, %.1f ms worst (%zu hits)\n", inputs * 10, best, worst,
                    c->searchMatches().size());

        const auto start = Clock::now();
        test::runTask(c->changeLines(false), std::chrono::minutes(30));
        const double reflow = msSince(start);
        std::printf("%5d pages: plain re-flow %.0f ms on the main thread (%.2f ms a page, queue.json %.1f MB) (%s)\n",
                    inputs * 10, reflow, reflow / (inputs * 10), double(fs::file_size(folder / "queue.json")) / 1e6,
                    c->preserveLines.get() ? "failed" : "done");
    }
    return 0;
}
