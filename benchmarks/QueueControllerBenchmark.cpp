// What the views ask the queue controller often: the two edit predicates on a
// queue of 500 edited pages (each reads every stored page result in its
// worst case), the label of a saved queue of 5000 inputs (an inspection with
// its digest) and the saved-queue list over 200 folders.
// Run by hand: build/benchmarks/QueueControllerBenchmark
#include <chrono>
#include <cstdio>

#include "foundation/JSON.hpp"
#include "ocrqueue/ControllerFixtures.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename F>
double bestOf(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        best = std::min(best, msSince(start));
    }
    return best;
}

void writeQueue(const std::filesystem::path& parent, const QueueSnapshot& s) {
    const std::filesystem::path folder = parent / s.id.text();
    std::filesystem::create_directories(folder);
    const std::vector<uint8_t> bytes = JSON::encode(QueueEnvelope::seal(s));
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, bytes);
}

}  // namespace

int main() {
    test::ControllerRoots roots;
    auto c = roots.controller();

    // 50 documents of 10 pages, every page edited.
    roots.openRunQueue(*c, std::vector<int>(50, 10), OCRSettings());
    QueueSnapshot s = *c->snapshot.get();
    for (QueueInput& input : s.inputs) {
        for (int64_t p = 1; p <= 10; ++p) input.editedPages[p] = test::fixedText(p);
    }
    c->snapshot = s;
    // Every edit equal to its recognised text: both predicates read all 500.
    const double editedSame = bestOf(5, [&] { (void)c->hasEditedText(); });
    const double unsavedSame = bestOf(5, [&] { (void)c->hasUnsavedEdits(); });
    std::printf("500 stored edits equal to the results: hasEditedText %.1f ms, hasUnsavedEdits %.1f ms\n",
                editedSame, unsavedSame);
    // Every edit different and exported: hasUnsavedEdits reads all 500.
    for (QueueInput& input : s.inputs) {
        for (auto& [p, text] : input.editedPages) {
            text += "。";
            QueueControllerProbe::exportedEdits(*c)[QueueController::pageKey(input.id, p)] = text;
        }
    }
    c->snapshot = s;
    const double unsavedExported = bestOf(5, [&] { (void)c->hasUnsavedEdits(); });
    std::printf("500 stored edits, all exported: hasUnsavedEdits %.1f ms\n", unsavedExported);

    // A saved queue of 5000 inputs.
    test::TempDir big(true);
    std::vector<QueueInput> inputs;
    for (int i = 0; i < 5000; ++i) {
        inputs.emplace_back((big.path() / ("original-" + std::to_string(i) + ".pdf")).string(), InputOrigin::normal);
    }
    const QueueSnapshot large(OCRSettings(), std::move(inputs));
    writeQueue(big.path(), large);
    std::string label;
    const double labelMs = bestOf(5, [&] { label = c->savedQueueLabel(big.path() / large.id.text()); });
    std::printf("savedQueueLabel of a 5000-input queue: %.1f ms (%s)\n", labelMs, label.c_str());

    // 200 saved queues.
    test::TempDir many(true);
    for (int i = 0; i < 200; ++i) {
        writeQueue(many.path(),
                   QueueSnapshot(OCRSettings(), {QueueInput("/tmp/x-" + std::to_string(i) + ".pdf", InputOrigin::normal)}));
    }
    auto lister = QueueController::create(many.path(), roots.tmp / "output");
    const double refreshMs = bestOf(5, [&] { lister->refreshSaved(); });
    std::printf("refreshSaved over %zu saved queues: %.2f ms\n", lister->savedQueues->size(), refreshMs);
    return 0;
}
