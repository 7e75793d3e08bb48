// Cost of the job store's durability: every begin and commit rewrites the
// whole checkpoint (and a page file) with fsync, and a resume re-reads and
// verifies every completed page. Run by hand: build/benchmarks/JobStoreBenchmark
#include <chrono>
#include <cstdio>

#include "recognition/engine/OCRSettings.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// About the size of a dense Japanese page: 40 regions of 40 characters.
PageResult typicalPage(int64_t page) {
    std::vector<TextRegion> regions;
    for (int i = 0; i < 40; ++i) {
        std::string text;
        for (int k = 0; k < 40; ++k) text += "文";
        regions.emplace_back(text, 0.93f, 0.05, 0.02 * i, 0.9, 0.018);
    }
    return PageResult(page, std::move(regions), 1.25, 1654, 2339);
}

}  // namespace

int main() {
    const OCRSettings settings;
    std::printf("page result: %zu bytes of JSON\n", JSON::encode(typicalPage(1)).size());
    for (int64_t pages : {10, 100, 1000}) {
        test::TempDir tmp;
        const SourceIdentity source("/bench.pdf", 1, pages, std::string(64, 'a'));
        auto store = JobStore::create(source, settings, tmp / "jobs");
        const auto start = Clock::now();
        for (int64_t p = 1; p <= pages; ++p) {
            store->begin(p);
            store->commit(typicalPage(p));
        }
        const double commitMs = msSince(start) / static_cast<double>(pages);
        const auto resumeStart = Clock::now();
        auto resumed = JobStore::resume(store->directory()->url(), source, settings, true);
        const double resumeMs = msSince(resumeStart);
        const auto textStart = Clock::now();
        const std::size_t textBytes = resumed->text().size();
        const double textMs = msSince(textStart);
        std::printf("%5lld pages with a folder: begin+commit %.2f ms/page, resume %.1f ms, text %.1f ms (%zu bytes)\n",
                    static_cast<long long>(pages), commitMs, resumeMs, textMs, textBytes);
    }
    {
        const int64_t pages = 1000;
        const SourceIdentity source("/private.pdf", 1, pages, std::string(64, 'a'));
        auto store = JobStore::create(source, settings, std::nullopt);
        const auto start = Clock::now();
        for (int64_t p = 1; p <= pages; ++p) {
            store->begin(p);
            store->commit(typicalPage(p));
        }
        std::printf(" 1000 pages in memory: begin+commit %.3f ms/page, %lld bytes held\n",
                    msSince(start) / static_cast<double>(pages), static_cast<long long>(store->memoryBytes()));
    }
    return 0;
}
