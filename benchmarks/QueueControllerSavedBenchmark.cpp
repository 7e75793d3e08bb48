// The main-thread cost of reopening a saved queue and of the queue's text:
// loadSaved() on a queue whose originals total about 500 MB (every original
// hashed, every checkpoint re-read), and documentPages() and a managed
// whole-queue export over 1000 recognised pages.
// Run by hand: build/benchmarks/QueueControllerSavedBenchmark
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "ocrqueue/ControllerFixtures.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A one-page PDF carrying an unreferenced stream of `padding` random bytes:
// hashed whole, never read by the page display.
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

// A queue of the files run to its end in memory, then moved under the
// controller's parent on disk; returns its folder.
fs::path runQueue(QueueController& c, const std::vector<fs::path>& documents) {
    test::TempDir memory(true);
    std::vector<OCRQueueEngine::InputFile> files;
    for (const auto& d : documents) files.push_back({d});
    auto made = OCRQueueEngine::create(files, c.currentSettings(), memory.path());
    c.ports().configure(*made);
    JobControl control;
    made->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    const std::string id = made->snapshot().id.text();
    made.reset();
    fs::create_directories(c.parent);
    fs::copy(memory / id, c.parent / id, fs::copy_options::recursive);
    return c.parent / id;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    {
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        std::vector<fs::path> documents;
        std::uintmax_t total = 0;
        for (int i = 0; i < 5; ++i) {
            documents.push_back(roots.tmp / ("large" + std::to_string(i) + ".pdf"));
            writeLargePDF(documents.back(), 100'000'000, static_cast<uint32_t>(i));
            total += fs::file_size(documents.back());
        }
        const fs::path folder = runQueue(*c, documents);
        for (int round = 0; round < 3; ++round) {
            c->selectedSaved = folder;
            const auto start = Clock::now();
            c->loadSaved();
            const double ms = msSince(start);
            std::printf("loadSaved, originals %.0f MB: %.0f ms (%.0f MB/s) %s\n", double(total) / 1e6, ms,
                        double(total) / 1e6 / (ms / 1000), c->rejection->has_value() ? "REJECTED" : "");
        }
    }
    {
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        std::vector<fs::path> documents;
        for (int i = 0; i < 100; ++i) {
            documents.push_back(test::writeDocument(roots.tmp / ("doc" + std::to_string(i) + ".pdf"), 10));
        }
        c->selectedSaved = runQueue(*c, documents);
        c->loadSaved();
        c->exportWholeQueue = true;
        c->exportOneFile = true;
        double best = 1e300;
        std::size_t count = 0;
        for (int round = 0; round < 5; ++round) {
            const auto start = Clock::now();
            count = c->documentPages().size();
            best = std::min(best, msSince(start));
        }
        std::printf("documentPages, %zu pages: %.1f ms\n", count, best);
        best = 1e300;
        for (int round = 0; round < 5; ++round) {
            const auto start = Clock::now();
            c->exportText(roots.tmp / "export");
            best = std::min(best, msSince(start));
        }
        std::printf("managed whole-queue export, %zu pages: %.1f ms (%s)\n", count, best,
                    c->lastExports->front().filename().c_str());
    }
    return 0;
}
