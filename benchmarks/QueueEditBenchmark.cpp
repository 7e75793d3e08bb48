// Cost of the editor's changes: an edited page, a saved highlight state and
// the shown page each rewrite the whole "queue.json" (lease, check of the
// file on disk, envelope, fsync, rename), so they grow with the queue.
// Run by hand: build/benchmarks/QueueEditBenchmark
#include <chrono>
#include <cstdio>
#include <functional>

#include "ocrjobs/OCRQueueEngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

// Milliseconds per call over a number of calls.
double timed(int calls, const std::function<void(int)>& call) {
    const auto start = Clock::now();
    for (int k = 0; k < calls; ++k) call(k);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / calls;
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
        SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName,
                                                    JSON::encode(QueueEnvelope::seal(s)));
        auto engine = OCRQueueEngine::resume(folder, settings);
        const UUID last = s.inputs.back().id;

        constexpr int calls = 20;
        const double editMs = timed(calls, [&](int k) { engine->edit(last, 1 + k % size.pages, "編集した本文"); });
        const OCRDecorationState decoration("第一頁の本文", {TextRange{0, 2}});
        const double editorMs = timed(calls, [&](int k) {
            engine->saveEditor("page-" + std::to_string(k % size.pages), last, 1 + k % size.pages, decoration,
                               std::nullopt);
        });
        const double selectionMs = timed(calls, [&](int k) { engine->saveSelection(last, 1 + k % size.pages); });
        std::printf("%5d inputs x %3d pages: edit %7.2f ms, saveEditor %7.2f ms, saveSelection %7.2f ms\n",
                    size.inputs, size.pages, editMs, editorMs, selectionMs);
    }
    return 0;
}
