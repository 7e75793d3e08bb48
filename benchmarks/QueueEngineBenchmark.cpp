// Cost of the queue's durability: a queue with a folder rewrites the whole
// "queue.json" (envelope, fsync, rename) after every change, and a run makes
// one such change per page. Resume reads, verifies and decodes it once.
// Run by hand: build/benchmarks/QueueEngineBenchmark
#include <chrono>
#include <cstdio>

#include "recognition/engine/OCRSettings.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
    const OCRSettings settings;
    struct Size {
        int inputs;
        int pages;
    };
    for (Size size : {Size{10, 10}, Size{100, 100}, Size{1000, 100}}) {
        test::TempDir tmp;
        // Files that cannot be read make inputs at once; their records are
        // then filled in as a finished run leaves them.
        std::vector<OCRQueueEngine::InputFile> files;
        for (int i = 0; i < size.inputs; ++i) files.push_back({tmp / ("missing-" + std::to_string(i) + ".pdf")});
        auto made = OCRQueueEngine::create(files, settings, tmp / "queues");
        const auto folder = made->directory()->url();
        QueueSnapshot s = made->snapshot();
        made.reset();
        for (auto& input : s.inputs) {
            input.source = SourceIdentity(input.path, 1, size.pages, std::string(64, 'a'));
            for (int p = 1; p <= size.pages; ++p) {
                input.pages.emplace_back(p, PageState::completed, "page-" + std::to_string(p) + ".json",
                                         std::string(64, 'b'));
            }
        }
        const auto bytes = JSON::encode(QueueEnvelope::seal(s));
        SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, bytes);

        const auto resumeStart = Clock::now();
        auto engine = OCRQueueEngine::resume(folder, settings);
        const double resumeMs = msSince(resumeStart);

        constexpr int writes = 20;
        const auto persistStart = Clock::now();
        for (int k = 0; k < writes; ++k) engine->persist();
        const double persistMs = msSince(persistStart) / writes;

        std::printf("%5d inputs x %3d pages: queue.json %8zu bytes, resume %7.1f ms, persist %7.2f ms/write\n",
                    size.inputs, size.pages, bytes.size(), resumeMs, persistMs);
    }
    return 0;
}
