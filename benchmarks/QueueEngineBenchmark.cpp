// Cost of the queue's durability: a queue with a folder rewrites the whole
// "queue.json" (envelope, fsync, rename) after every change, and a run makes
// one such change per page. Resume reads, verifies and decodes it once.
// Then runs of 1,000 small pages with an instant recogniser, in one document
// and in ten, with the time per page over the first and the last 100 pages:
// what of a page's cost grows with the queue.
// Run by hand: build/benchmarks/QueueEngineBenchmark
#include <chrono>
#include <cstdio>

#include "recognition/engine/OCRSettings.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void runGrowth(int documents, int pagesEach) {
    test::TempDir tmp;
    std::vector<OCRQueueEngine::InputFile> files;
    for (int d = 0; d < documents; ++d) {
        const auto path = tmp / ("doc-" + std::to_string(d) + ".pdf");
        test::writePDF(path, std::vector<test::PageSize>(static_cast<std::size_t>(pagesEach), {144, 216}),
                       [](cairo_t* cr, int page, test::PageSize) {
                           cairo_rectangle(cr, 10 + page % 50, 10, 30, 30);
                           cairo_fill(cr);
                       });
        files.push_back({path});
    }
    auto engine = OCRQueueEngine::create(files, OCRSettings(), tmp / "queues");
    engine->setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                             const std::function<bool()>&) {
        return PageResult(page, {TextRegion("第" + std::to_string(page) + "頁", 0.9f, 0.1, 0.1, 0.8, 0.1)}, 0.01,
                          image.width(), image.height());
    });
    std::vector<Clock::time_point> committed;
    JobControl control;
    const auto start = Clock::now();
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {}, [&](const UUID&, int64_t, bool done) {
        if (done) committed.push_back(Clock::now());
    });
    const auto block = [&](std::size_t from) {
        const auto begin = from == 0 ? start : committed[from - 1];
        return std::chrono::duration<double, std::milli>(committed[from + 99] - begin).count() / 100;
    };
    std::error_code ec;
    const auto size = fs::file_size(engine->directory()->url() / OCRQueueEngine::queueFileName, ec);
    std::printf("run of %d x %d pages: first 100 pages %.1f ms/page, last 100 %.1f ms/page; queue.json %zu bytes\n",
                documents, pagesEach, block(0), block(committed.size() - 100), static_cast<std::size_t>(size));
}

}  // namespace

int main() {
    const OCRSettings settings;
    struct Size {
        int inputs;
        int pages;
    };
    for (Size size : {Size{10, 10}, Size{1, 1000}, Size{10, 100}, Size{100, 100}, Size{1000, 100}}) {
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
    runGrowth(1, 1000);
    runGrowth(10, 100);
    return 0;
}
