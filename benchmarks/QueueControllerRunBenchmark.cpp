// The queue controller's run against the engine's own: a 30-page queue
// (three PDFs of ten A4 pages of Japanese text at 150 dpi, real recognition,
// two pages at once as the automatic method allows) run by the engine alone
// and started through the controller, whose run thread reports every change
// to the main loop; pages per second of each, best of two. Then the main
// thread's time of one progress delivery on a queue of 1000 inputs.
// Run by hand: build/benchmarks/QueueControllerRunBenchmark
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <cairo.h>

#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrqueue/QueueController.hpp"
#include "recognition/OCREngine.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace velmora {

// Hands a report to the controller as its run's thread does.
class QueueRunProbe {
public:
    static void deliver(QueueController& c, QueueSnapshot s, const UUID& generation) {
        c.deliverProgress(std::move(s), generation);
    }
};

}  // namespace velmora

namespace {

const std::vector<std::string> paragraphs{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。",
    "この書生というのは時々我々を捕えて煮て食うという話である。しかしその当時は何という考もなかったから別段恐しいとも思わなかった。",
    "会議は午後3時から第2会議室で行います。資料は前日までに共有フォルダへ保存してください。出席者：営業部 5 名、開発部 3 名、管理部 2 名。",
    "掌の上で少し落ちついて書生の顔を見たのがいわゆる人間というものの見始であろう。この時妙なものだと思った感じが今でも残っている。",
};

constexpr int documents = 3;
constexpr int pagesPerDocument = 10;
constexpr int pageCount = documents * pagesPerDocument;
constexpr int a4Width = 1240;
constexpr int a4Height = 1754;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each rendered page placed on a PDF page of its size at 150 dpi.
void writeDocument(const fs::path& path, const std::vector<test::TextPage>& pages) {
    const double scale = 72.0 / 150.0;
    test::writePDF(path, std::vector<test::PageSize>(pages.size(), {a4Width * scale, a4Height * scale}),
                   [&](cairo_t* cr, int page, test::PageSize) {
                       const RasterImage& image = pages[static_cast<std::size_t>(page)].image;
                       cairo_surface_t* surface =
                           cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width(), image.height());
                       auto* data = cairo_image_surface_get_data(surface);
                       const int stride = cairo_image_surface_get_stride(surface);
                       for (int y = 0; y < image.height(); ++y) {
                           auto* row = reinterpret_cast<uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
                           for (int x = 0; x < image.width(); ++x) {
                               const uint8_t* p = image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * y +
                                                  static_cast<std::ptrdiff_t>(x) * image.channels();
                               row[x] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
                           }
                       }
                       cairo_surface_mark_dirty(surface);
                       cairo_scale(cr, scale, scale);
                       cairo_set_source_surface(cr, surface, 0, 0);
                       cairo_paint(cr);
                       cairo_surface_destroy(surface);
                   });
}

bool finished(const QueueSnapshot& s) {
    if (s.status == QueueStatus::completed && s.completedPages() == pageCount) return true;
    std::fprintf(stderr, "the queue ended %s with %lld pages\n", std::string(rawValue(s.status)).c_str(),
                 static_cast<long long>(s.completedPages()));
    return false;
}

}  // namespace

int main() {
    test::TempDir dir;
    AppRuntime::ScopedOverride roots{AppRuntime{dir / "storage", dir / "output"}};
    WorkerBudget::shared().setBytes(int64_t{1} << 30);

    std::vector<fs::path> files;
    for (int d = 0; d < documents; ++d) {
        std::vector<test::TextPage> pages;
        for (int i = 0; i < pagesPerDocument; ++i) {
            const int n = d * pagesPerDocument + i;
            std::vector<std::string> text;
            for (std::size_t k = 0; k < paragraphs.size(); ++k) text.push_back(paragraphs[(k + n) % paragraphs.size()]);
            pages.push_back(test::renderParagraphs(
                {.width = a4Width, .height = a4Height, .pixelSize = 22, .left = 118, .top = 148, .lineAdvance = 1.7},
                text));
        }
        files.push_back(dir / ("document-" + std::to_string(d + 1) + ".pdf"));
        writeDocument(files.back(), pages);
    }
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (const auto& file : files) inputs.push_back({file});
    const OCRSettings settings;
    std::printf("%d A4 pages at 150 dpi in %d PDFs; %u hardware threads\n\n", pageCount, documents,
                std::thread::hardware_concurrency());

    // One queue run by each road first, untimed, so that both find every
    // worker's recogniser loaded.
    auto engineRun = [&]() -> double {
        const auto start = std::chrono::steady_clock::now();
        auto engine = OCRQueueEngine::create(inputs, settings, dir / "queues");
        JobControl control;
        engine->run(control, true, {}, {}, [](const QueueSnapshot&) {});
        const double seconds = secondsSince(start);
        return finished(engine->snapshot()) ? seconds : -1;
    };
    auto controllerRun = [&]() -> double {
        auto c = QueueController::create(dir / "queues", dir / "output");
        const auto start = std::chrono::steady_clock::now();
        c->select(files, nullptr);
        auto started = c->start();
        spawn(std::move(started));
        test::spinUntil([&] { return c->busy.get(); }, std::chrono::seconds(10));
        test::spinUntil([&] { return !c->busy.get(); }, std::chrono::minutes(10));
        const double seconds = secondsSince(start);
        return finished(c->snapshot->value()) ? seconds : -1;
    };
    if (engineRun() < 0 || controllerRun() < 0) return 1;

    double engineBest = 1e9;
    double controllerBest = 1e9;
    for (int round = 0; round < 2; ++round) {
        const double e = engineRun();
        const double c = controllerRun();
        if (e < 0 || c < 0) return 1;
        engineBest = std::min(engineBest, e);
        controllerBest = std::min(controllerBest, c);
    }
    std::printf("%-52s %6.3f pages/s  %6.0f ms/page\n", "engine alone (best of 2)", pageCount / engineBest,
                engineBest * 1000 / pageCount);
    std::printf("%-52s %6.3f pages/s  %6.0f ms/page\n", "through the controller (best of 2)",
                pageCount / controllerBest, controllerBest * 1000 / pageCount);
    std::printf("%-52s %+6.2f %%\n\n", "controller against engine (pages/s)",
                (engineBest / controllerBest - 1) * 100);

    // One delivery on a 1000-input queue: the reported snapshot taken in,
    // with the selected page not yet complete (the common case), and the
    // delivery in which it completes and is shown.
    constexpr int manyInputs = 1000;
    const fs::path tiny = dir / "tiny";
    fs::create_directories(tiny);
    std::vector<OCRQueueEngine::InputFile> many;
    for (int i = 0; i < manyInputs; ++i) {
        const fs::path file = tiny / ("page-" + std::to_string(i) + ".png");
        test::writePNG(file, 40, 30, 3, [i](int y, uint8_t* row) {
            for (int x = 0; x < 40 * 3; ++x) row[x] = static_cast<uint8_t>((x + y + i) & 0xff);
        });
        many.push_back({file});
    }
    auto c = QueueController::create(dir / "queues", dir / "output");
    auto engine = std::shared_ptr<OCRQueueEngine>(OCRQueueEngine::create(many, settings, dir / "queues"));
    engine->setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                             const std::function<bool()>&) {
        return PageResult(page, {TextRegion("本文", 0.9f, 0.1, 0.1, 0.8, 0.1)}, 0.01, image.width(), image.height());
    });
    c->engine = engine;
    c->snapshot = engine->snapshot();
    c->selectedID = engine->snapshot().inputs.back().id;
    // The reports of a real run over the queue, as its thread would post
    // them: every one a whole copy of the queue.
    std::vector<QueueSnapshot> reports;
    {
        JobControl control;
        engine->run(control, false, {}, {}, [&](const QueueSnapshot& s) { reports.push_back(s); });
    }
    // The selected (last) input finishes last: the delivery in which its
    // page completes also shows it; every other one only takes the report.
    const UUID selected = c->selectedID->value();
    auto selectedDone = [&](const QueueSnapshot& s) {
        const QueueInput* input = s.input(selected);
        return input && !input->pages.empty() && input->pages.front().state == PageState::completed;
    };
    c->snapshot = reports.front();
    c->setBusy(true);
    std::vector<double> millis;
    double shown = -1;
    for (QueueSnapshot& report : reports) {
        const bool showing = selectedDone(report) && !selectedDone(c->snapshot->value());
        const auto start = std::chrono::steady_clock::now();
        QueueRunProbe::deliver(*c, std::move(report), c->generation);
        const double ms = secondsSince(start) * 1000;
        if (showing) {
            shown = ms;
        } else {
            millis.push_back(ms);
        }
    }
    std::sort(millis.begin(), millis.end());
    std::printf("%-52s %6zu\n", "progress deliveries on 1000 inputs", reports.size());
    std::printf("%-52s %6.3f ms median  %6.3f ms p99  %6.3f ms max\n", "  one delivery (main thread)",
                millis[millis.size() / 2], millis[millis.size() * 99 / 100], millis.back());
    std::printf("%-52s %6.3f ms\n", "  the delivery that completes and shows the page", shown);
    c->setBusy(false);
    return 0;
}
