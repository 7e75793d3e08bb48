// The main thread's share of adding originals and of recovering a queue:
// appendFiles() of 1000 files onto an open queue, a drop of 5000 items
// routed onto the shown list, and loadRecovery() of a queue whose originals
// total about 500 MB (hashed on workers). Every turn of the main loop that
// dispatched something is timed; the figures are their sum and the longest.
// Run by hand: build/benchmarks/QueueControllerInputsBenchmark
#include <glib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "ocrqueue/ControllerFixtures.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct MainThreadTime {
    int turns = 0;
    double total = 0;
    double longest = 0;
    double first = 0;            // the first turn that dispatched anything
    double last = 0;             // the last one
    double longestBetween = 0;   // the longest of the others
};

// Turns the main loop until done holds, timing each turn that dispatched.
MainThreadTime turnUntil(const std::function<bool()>& done, const std::function<void()>& begin = nullptr) {
    MainThreadTime t;
    if (begin) {
        const auto start = Clock::now();
        begin();
        t.total = t.longest = msSince(start);
    }
    while (!done()) {
        const auto start = Clock::now();
        if (!g_main_context_iteration(nullptr, FALSE)) continue;
        const double ms = msSince(start);
        if (t.turns++ == 0) t.first = ms;
        if (t.turns > 2) t.longestBetween = std::max(t.longestBetween, t.last);
        t.total += ms;
        t.last = ms;
        t.longest = std::max(t.longest, ms);
    }
    return t;
}

void writeLargePDF(const fs::path& path, std::size_t padding, uint32_t seed) {
    std::string bytes(padding, '\0');
    std::mt19937 random(seed);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const uint32_t word = random();
        std::memcpy(&bytes[i], &word, 4);
    }
    test::writeRawPDF(path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 216] /Contents 4 0 R >>",
                             "<< /Length 0 >>\nstream\n\nendstream",
                             "<< /Length " + std::to_string(padding) + " >>\nstream\n" + bytes + "\nendstream"});
}

std::vector<fs::path> documents(const fs::path& dir, const std::string& stem, int count) {
    fs::create_directories(dir);
    const fs::path one = test::writeDocument(dir / (stem + "-model.pdf"), 1);
    std::vector<fs::path> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(dir / (stem + std::to_string(i) + ".pdf"));
        fs::copy_file(one, out.back());
    }
    return out;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    {
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        c->select(documents(roots.tmp / "open", "o", 2), nullptr);
        const auto files = documents(roots.tmp / "added", "a", 1000);
        bool started = false;
        spawn([](std::shared_ptr<QueueController> c, std::vector<fs::path> files, bool* started) -> Task<void> {
            auto add = c->appendFiles(std::move(files), true);
            co_await add;
            *started = true;
        }(c, files, &started));
        const auto start = Clock::now();
        const MainThreadTime t = turnUntil([&] { return started && !c->importing.get(); });
        std::printf("appendFiles, 1000 files: main thread %.1f ms in all, longest turn %.1f ms (%.0f ms overall) %s\n",
                    t.total, t.longest, msSince(start), c->status.get().c_str());

    }
    {
        // 5000 files dropped with the list shown and no queue open: read in
        // order, checked and opened as one managed queue.
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        const auto dropped = documents(roots.tmp / "dropped", "d", 5000);
        std::vector<QueueController::DropItem> items;
        for (const auto& f : dropped) {
            items.push_back([f]() -> Task<std::optional<fs::path>> { co_return f; });
        }
        c->processingList = true;
        const auto dropStart = Clock::now();
        const MainThreadTime d = turnUntil([&] { return c->dropTask && c->dropTask->done(); },
                                           [&] { c->receiveDrop(std::move(items)); });
        // The first turn after receiveDrop() loads and routes the items; the
        // longest is the opening's install of the queue built (select()).
        std::printf("drop of %zu items: routing turn %.1f ms, longest turn %.1f ms, main thread %.1f ms in all (%.0f "
                    "ms overall) %s\n",
                    dropped.size(), d.first, d.longest, d.total, msSince(dropStart), c->status.get().c_str());
    }
    {
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        std::vector<OCRQueueEngine::InputFile> files;
        std::uintmax_t total = 0;
        for (int i = 0; i < 5; ++i) {
            const fs::path path = roots.tmp / ("large" + std::to_string(i) + ".pdf");
            writeLargePDF(path, 100'000'000, static_cast<uint32_t>(i));
            total += fs::file_size(path);
            files.push_back({path});
        }
        const fs::path folder = [&] {
            auto made = OCRQueueEngine::create(files, c->currentSettings(), c->parent);
            c->ports().configure(*made);
            JobControl control;
            made->run(control, false, {}, {}, [](const QueueSnapshot&) {});
            return made->directory()->url();
        }();
        for (int round = 0; round < 3; ++round) {
            c->selectedSaved = folder;
            bool ended = false;
            spawn([](std::shared_ptr<QueueController> c, bool* ended) -> Task<void> {
                auto recovery = c->loadRecovery();
                co_await recovery;
                *ended = true;
            }(c, &ended));
            const auto start = Clock::now();
            const MainThreadTime t = turnUntil([&] { return ended; });
            const double overall = msSince(start);
            const auto shown = Clock::now();
            c->showPage();
            const double showPage = msSince(shown);
            // The first turn stores the open queue's edit state (a write of
            // its queue file) and lets it go; the last applies the result.
            std::printf("loadRecovery, originals %.0f MB, %s: first turn %.2f ms, longest turn between %.2f ms, "
                        "result turn %.1f ms (a showPage() alone: %.1f ms), main thread %.1f ms in all, %.0f ms "
                        "overall %s\n",
                        double(total) / 1e6, round == 0 ? "no queue open" : "the last one open with its page shown",
                        t.first, t.longestBetween, t.last, showPage, t.total, overall,
                        c->rejection->has_value() ? "REJECTED" : "");
        }
    }
    return 0;
}
