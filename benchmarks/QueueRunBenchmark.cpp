// A 30-page OCR queue (three PDFs of ten A4 pages of Japanese text at
// 150 dpi) run end to end: identity checks, rasterising, recognition,
// checkpoint and queue writes after every page. Prints pages per second
// beside the plain loops over the same pages: Tesseract's API with a warm
// engine on the prepared page (as in the OCR benchmark), and the standard
// pass with a warm engine.
// Run by hand: build/benchmarks/QueueRunBenchmark
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cairo.h>
#include <omp.h>
#include <tesseract/baseapi.h>

#include "recognition/engine/EngineIdentity.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/TesseractEngines.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> paragraphs{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という人間中で一番獰悪な種族であったそうだ。",
    "この書生というのは時々我々を捕えて煮て食うという話である。しかしその当時は何という考もなかったから別段恐しいとも思わなかった。ただ彼の掌に載せられてスーと持ち上げられた時何だかフワフワした感じがあったばかりである。",
    "ベルモラ version 1.0 は 2024 年に公開されました。OCR の対象は PNG、JPEG、PDF の三種類です。Pages are recognised with Tesseract 5 and the results are exported as plain text.",
    "掌の上で少し落ちついて書生の顔を見たのがいわゆる人間というものの見始であろう。この時妙なものだと思った感じが今でも残っている。第一毛をもって装飾されべきはずの顔がつるつるしてまるで薬缶だ。その後猫にもだいぶ逢ったがこんな片輪には一度も出会わした事がない。",
    "会議は午後3時から第2会議室で行います。資料は前日までに共有フォルダへ保存してください。出席者：営業部 5 名、開発部 3 名、管理部 2 名。",
};

constexpr int documents = 3;
constexpr int pagesPerDocument = 10;
constexpr int pageCount = documents * pagesPerDocument;
constexpr int a4Width = 1240;  // 210 mm at 150 dpi
constexpr int a4Height = 1754;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string withoutBreaks(const std::string& s) {
    std::string o;
    for (char ch : s) {
        if (ch != ' ' && ch != '\n') o += ch;
    }
    return o;
}

// Each rendered page placed on a PDF page of its size at 150 dpi, so the
// queue rasterises it back to the same pixels.
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

}  // namespace

int main() {
    test::TempDir dir;
    AppRuntime::ScopedOverride roots{AppRuntime{dir / "storage", dir / "output"}};
    WorkerBudget::shared().setBytes(int64_t{1} << 30);

    std::vector<fs::path> files;
    std::vector<std::string> expected;
    for (int d = 0; d < documents; ++d) {
        std::vector<test::TextPage> pages;
        for (int i = 0; i < pagesPerDocument; ++i) {
            const int n = d * pagesPerDocument + i;
            std::vector<std::string> text;
            for (std::size_t k = 0; k < paragraphs.size(); ++k) text.push_back(paragraphs[(k + n) % paragraphs.size()]);
            pages.push_back(test::renderParagraphs(
                {.width = a4Width, .height = a4Height, .pixelSize = 22, .left = 118, .top = 148, .lineAdvance = 1.7},
                text));
            std::string all;
            for (const auto& l : pages.back().lines) all += l.text;
            expected.push_back(withoutBreaks(all));
        }
        files.push_back(dir / ("document-" + std::to_string(d + 1) + ".pdf"));
        writeDocument(files.back(), pages);
    }

    const OCRSettings settings;
    // The pages as the queue sees them, rasterised once, outside the timing.
    std::vector<RasterImage> images;
    for (const auto& file : files) {
        for (int i = 0; i < pagesPerDocument; ++i) images.push_back(Raster::pdf(file, i, settings.dpi));
    }
    auto meanError = [&](const std::vector<std::string>& texts) {
        double sum = 0;
        for (int i = 0; i < pageCount; ++i) sum += test::characterErrorRate(expected[i], withoutBreaks(texts[i]));
        return sum / pageCount;
    };
    auto line = [](const char* what, double seconds, double error) {
        std::printf("%-58s %6.3f pages/s  %6.0f ms/page  error %.3f\n", what, pageCount / seconds,
                    seconds * 1000 / pageCount, error);
    };
    std::printf("%d A4 pages at 150 dpi in %d PDFs, 10.5 pt Japanese with English; %u hardware threads\n\n",
                pageCount, documents, std::thread::hardware_concurrency());

    std::vector<std::string> texts(pageCount);
    const auto never = [] { return false; };
    omp_set_max_active_levels(0);
    {
        const TextRequest request = OCREngine::request(settings);
        tesseract::TessBaseAPI api;
        const std::string data = EngineIdentity::languageDataDirectory().string();
        if (api.Init(data.c_str(), OCREngine::engineLanguages(request).c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
            std::fprintf(stderr, "Tesseract failed to load its languages\n");
            return 1;
        }
        api.SetPageSegMode(tesseract::PSM_AUTO);
        std::vector<GreyPage> prepared;
        for (const auto& image : images) prepared.push_back(GreyPage::from(image).forRecognition());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < pageCount; ++i) {
            const GreyPage& page = prepared[static_cast<std::size_t>(i)];
            api.SetImage(page.pixels.data(), page.width, page.height, 1, page.width);
            if (page.resolution > 0) api.SetSourceResolution(page.resolution);
            char* text = api.GetUTF8Text();
            texts[static_cast<std::size_t>(i)] = text ? text : "";
            delete[] text;
            api.Clear();
        }
        line("plain loop: Tesseract API, warm, prepared page, one core", secondsSince(start), meanError(texts));
    }
    {
        (void)OCREngine::recognize(images[0], 1, 1, settings, never);  // loads this thread's engine
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < pageCount; ++i) {
            texts[static_cast<std::size_t>(i)] = OCREngine::recognize(images[static_cast<std::size_t>(i)], 1, i + 1,
                                                                      settings, never).text();
        }
        line("plain loop: standard pass, warm engine, one thread", secondsSince(start), meanError(texts));
        TesseractEngines::releaseThreadEngines();
    }

    for (bool automatic : {false, true}) {
        std::vector<OCRQueueEngine::InputFile> inputs;
        for (const auto& file : files) inputs.push_back({file});
        const uint64_t loadsBefore = TesseractEngines::loadCount();
        const auto start = std::chrono::steady_clock::now();
        auto engine = OCRQueueEngine::create(inputs, settings, dir / "queues");
        JobControl control;
        engine->run(control, automatic, {}, {}, [](const QueueSnapshot&) {});
        const double seconds = secondsSince(start);
        const QueueSnapshot s = engine->snapshot();
        if (s.status != QueueStatus::completed || s.completedPages() != pageCount) {
            std::fprintf(stderr, "the queue ended %s with %lld pages\n", std::string(rawValue(s.status)).c_str(),
                         static_cast<long long>(s.completedPages()));
            return 1;
        }
        for (int d = 0; d < documents; ++d) {
            for (int i = 0; i < pagesPerDocument; ++i) {
                texts[static_cast<std::size_t>(d * pagesPerDocument + i)] =
                    engine->result(s.inputs[static_cast<std::size_t>(d)].id, i + 1)->text();
            }
        }
        line(automatic ? "queue run, automatic (worker budget: 2 pages at once)" : "queue run, one page at a time",
             seconds, meanError(texts));
        std::printf("%-58s %6llu\n", "  engines loaded", static_cast<unsigned long long>(TesseractEngines::loadCount() - loadsBefore));
    }
    return 0;
}
