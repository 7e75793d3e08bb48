// A whole tall-PNG save as a tab asks for it (capture(options, output) in a
// normal session: journal, history, diagnostic report, one published PNG)
// of a 1280 × 20,000 CSS pixel page of text and coloured blocks in a
// 1280 × 1000 view, beside the cheapest way the engine offers to the same
// pixels: one whole-document snapshot, its download and the same PNG
// encoder. Then the same at scale 2 with a budget that keeps one part.
// Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/WebCaptureRequestBenchmark
#include <gtk/gtk.h>
#include <png.h>
#include <sys/resource.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtkmm/init.h>

#include "foundation/CaptureBudget.hpp"
#include "PixelCompare.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "support/OwnTemporaryFolder.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureOptions.hpp"
#include "webcapture/WebHooks.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int pageWidth = 1280;
constexpr int pageHeight = 20000;
constexpr int viewHeight = 1000;
constexpr double settle = 0.1;

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Text and coloured blocks, exactly pageHeight pixels tall, nothing fixed.
std::string longPage() {
    std::string html =
        "<!doctype html><meta charset=utf-8><title>長いページ</title><style>html,body{margin:0}"
        "#page{height:" + std::to_string(pageHeight) + "px;overflow:hidden;padding:0 48px;"
        "font:16px/1.6 'Noto Sans CJK JP',sans-serif;color:#222;background:#fff}"
        "h2{color:#1a4f8b;margin:24px 0 8px}.block{height:120px;margin:12px 0}"
        "</style><div id=page>";
    const char* colours[] = {"#e94f37", "#3f88c5", "#44bba4", "#f6ae2d", "#8e5572"};
    for (int section = 0; section < 160; ++section) {
        html += "<h2>第" + std::to_string(section + 1) + "章 ベルモラの長いページ Section " +
                std::to_string(section + 1) + "</h2>";
        html += "<div class=block style=\"background:" + std::string(colours[section % 5]) + "\"></div>";
        for (int p = 0; p < 2; ++p) {
            html += "<p>縦長の画像として保存するページの本文です。日本語の文章と English text alternate here, "
                    "with numbers 0123456789 and punctuation. 段落ごとに少しずつ内容を変えています。 paragraph " +
                    std::to_string(section * 2 + p) + "</p>";
        }
    }
    html += "</div>";
    return html;
}

std::vector<uint8_t> fileBytes(const fs::path& file) {
    const std::string text = test::readFile(file);
    return std::vector<uint8_t>(text.begin(), text.end());
}

double peakResidentMiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The snapshot the engine makes of the whole document at the capture's
// layout, downloaded into a bitmap and encoded as the capture encodes.
Task<void> baseline(BrowserSession& session, int64_t scale, PixelBuffer* out, double* seconds) {
    const SavedLayout saved = session.saveLayout();
    session.layOutWidth(pageWidth, scale);
    co_await session.measureGeometry(pageWidth, scale, nullptr);
    const auto start = Clock::now();
    GObjectRef<GdkTexture> texture =
        co_await session.snapshot(WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE);
    PixelBuffer image(gdk_texture_get_width(texture.get()), gdk_texture_get_height(texture.get()));
    gdk_texture_download(texture.get(), image.data(), static_cast<gsize>(image.bytesPerRow()));
    texture = {};
    std::vector<uint8_t> png = Raster::png(image);
    *seconds = since(start);
    *out = std::move(image);
    co_await session.restoreLayout(saved, false, "true");
}

struct Figures {
    double total = 0;
    double sink = 0;
    double encode = 0;
    int tiles = 0;
};

}  // namespace

namespace {

// What the web engine writes to the temporary folder goes with the
// program's own temporary folder once its processes have ended.
int measure() {
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    test::TempDir dir;
    const fs::path storage = dir / "storage";
    const fs::path output = dir / "out";
    fs::create_directories(storage);
    fs::create_directories(output);
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, output}};
    SettingsStore settings(storage / "settings");
    FixedOutputRoots roots({output});
    AppHistory::ScopedEnvironment history({storage, &settings, &roots});

    // The application's sink, timed; the last report it got gives the
    // encoder's time (from pngEncode to write).
    double sinkSeconds = 0;
    std::optional<WebCaptureDiagnosticReport> lastReport;
    WebHooks::shared().logCapture = [&](const WebCaptureDiagnosticReport& report) {
        const auto start = Clock::now();
        WebCaptureDiagnostic::storeLatest(storage, report);
        sinkSeconds += since(start);
        lastReport = report;
    };

    test::WebTestServer server;
    server.html("/long", longPage());
    BrowserSession session(false, test::sharedPersistentStore());
    test::WebTestWindow window(session.frame(), pageWidth, viewHeight);
    if (!window.waitUntilShown()) return 1;
    if (!test::loadPage(session, server.url("/long"), "長いページ", 30s)) return 1;

    bool ok = true;
    for (int64_t scale : {1, 2}) {
        CaptureOptions options;
        options.viewportWidth = pageWidth;
        options.scale = scale;
        options.lazyLoad = false;
        options.waitSeconds = 0;
        // Scale 2 needs more than the default share of memory to stay whole;
        // a tile band as high as the whole view bounds the real one.
        if (scale == 2) options.budget = CaptureBudget::estimate(pageWidth * 2, pageHeight * 2, viewHeight * 2);
        options.filenameStem = "bench-scale" + std::to_string(scale);
        std::optional<CaptureReceipt> receipt;
        options.completed = [&receipt](CaptureReceipt r) -> Task<std::optional<std::string>> {
            receipt = r;
            co_return std::nullopt;
        };

        Figures f;
        sinkSeconds = 0;
        const auto start = Clock::now();
        session.capture(options, output);
        if (!test::spinUntil([&] { return !session.operationPending.get(); }, 300s)) return 1;
        f.total = since(start);
        f.sink = sinkSeconds;
        const double peak = peakResidentMiB();
        if (!receipt || receipt->parts.size() != 1) {
            std::printf("scale %lld: the capture did not save one part: %s\n", static_cast<long long>(scale),
                        session.stage.get().c_str());
            return 1;
        }
        std::optional<Date> encodeStart;
        for (const auto& event : lastReport->events) {
            if (event.stage == WebCaptureDiagnosticStage::scroll) ++f.tiles;
            if (event.stage == WebCaptureDiagnosticStage::pngEncode) encodeStart = event.date;
            if (event.stage == WebCaptureDiagnosticStage::write && encodeStart)
                f.encode = std::chrono::duration<double>(event.date - *encodeStart).count();
        }
        const CapturePart& part = receipt->parts[0];
        const double megapixels = static_cast<double>(part.widthPixels) * static_cast<double>(part.heightPixels) / 1e6;

        PixelBuffer whole(1, 1);
        double base = 0;
        test::runTask(baseline(session, scale, &whole, &base), 300s);
        const int64_t differ = bench::mismatches(fileBytes(output / part.file), whole);

        const double settles = f.tiles * settle;
        const double ratio = f.total / base;
        const double ratioWithout = (f.total - settles) / base;
        const double rate = megapixels / f.encode;
        std::printf("scale %lld: %lld x %lld pixels, %d tiles\n", static_cast<long long>(scale),
                    static_cast<long long>(part.widthPixels), static_cast<long long>(part.heightPixels), f.tiles);
        std::printf("  capture(options, output) total     %.2f s\n", f.total);
        std::printf("  fixed settles (tiles x 0.1 s)      %.2f s\n", settles);
        std::printf("  PNG encode                         %.2f s, %.1f Mpixel/s\n", f.encode, rate);
        std::printf("  diagnostic sink                    %.3f s\n", f.sink);
        std::printf("  baseline (snapshot, download, PNG) %.2f s\n", base);
        std::printf("  ratio                              %.2f x, %.2f x without the settles\n", ratio, ratioWithout);
        std::printf("  peak resident                      %.0f MiB, estimate E %.0f MiB\n", peak,
                    static_cast<double>(receipt->memoryPlan->at("estimatedBytes")) / 1048576.0);
        std::printf("  published PNG against the snapshot %s (%lld pixels differ)\n",
                    differ == 0 ? "pixel-exact" : "DIFFERENT", static_cast<long long>(differ));
        if (differ != 0 || ratioWithout > 3 || rate < 50) ok = false;
    }
    WebHooks::shared().logCapture = nullptr;
    return ok ? 0 : 1;
}

}  // namespace

int main() { return test::runInTemporaryFolderOfItsOwn(measure); }
