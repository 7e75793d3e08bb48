// Takes a real web page (1280 × 20,000 CSS pixels of text served on
// loopback) with the tile capture, then encodes its composed image with
// Raster::png, beside libpng at its default settings, and checks that the
// output decodes to the same pixels.
// Needs a display: xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/WebCapturePNGBenchmark
#include <gtk/gtk.h>
#include <png.h>
#include <webkit/webkit.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtkmm/init.h>

#include "PixelCompare.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "support/MainLoop.hpp"
#include "support/OwnTemporaryFolder.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/CaptureRun.hpp"

using namespace velmora;
using namespace std::chrono_literals;

namespace {

constexpr int pageWidth = 1280;
constexpr int pageHeight = 20000;

double seconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A long article: headings, paragraphs of Japanese and English text, a
// coloured box now and then, exactly pageHeight pixels tall.
std::string longPage() {
    std::string html =
        "<!doctype html><meta charset=utf-8><style>html,body{margin:0;overflow:hidden}"
        "#page{height:" + std::to_string(pageHeight) + "px;overflow:hidden;padding:0 48px;"
        "font:16px/1.6 'Noto Sans CJK JP',sans-serif;color:#222;background:#fff}"
        "h2{color:#1a4f8b;margin:24px 0 8px}.box{background:#eef4fb;border-left:6px solid #3366cc;padding:8px 16px}"
        "</style><div id=page>";
    for (int section = 0; section < 200; ++section) {
        html += "<h2>第" + std::to_string(section + 1) + "章 ベルモラの長いページ Section " + std::to_string(section + 1) +
                "</h2>";
        for (int p = 0; p < 3; ++p) {
            html += std::string(p == 1 ? "<p class=box>" : "<p>") +
                    "縦長の画像として保存するページの本文です。日本語の文章と English text alternate here, "
                    "with numbers 0123456789 and punctuation, so that the encoder sees what a real article "
                    "looks like: mostly white, with lines of anti-aliased glyphs. 段落ごとに少しずつ内容を変えて、"
                    "同じ行が続かないようにしています。 paragraph " +
                    std::to_string(section * 3 + p) + "</p>";
        }
    }
    html += "</div>";
    return html;
}

// libpng as an application gets it without tuning: default level (6) and
// adaptive filtering, RGB rows.
std::vector<uint8_t> libpngDefaults(const PixelBuffer& image) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), d, d + n);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<std::size_t>(image.width()) * 3);
    for (int64_t y = 0; y < image.height(); ++y) {
        const uint8_t* s = image.row(y);
        for (int64_t x = 0; x < image.width(); ++x) {
            row[x * 3] = s[x * 4 + 2];
            row[x * 3 + 1] = s[x * 4 + 1];
            row[x * 3 + 2] = s[x * 4];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Prepares and takes the capture, keeping its one part.
Task<void> capture(BrowserSession& session, CaptureOptions options, std::filesystem::path output,
                   std::vector<ComposedPart>* parts, int* tiles) {
    std::unique_ptr<CaptureRun> run = co_await session.prepareCapture(std::move(options));
    PartHandOver handOver = [parts](ComposedPart part) -> Task<void> {
        parts->push_back(std::move(part));
        co_return;
    };
    co_await session.captureParts(*run, output, std::move(handOver));
    for (const auto& part : *parts) *tiles += static_cast<int>(run->planned->plan.tiles(part.span).size());
    co_await run->restore();
    run->release();
}

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
    std::filesystem::create_directories(dir / "storage");
    AppRuntime::ScopedOverride runtime{AppRuntime{dir / "storage", dir / "out"}};
    test::WebTestServer server;
    server.html("/long", longPage());

    auto store = GObjectRef<WebKitNetworkSession>::adopt(
        webkit_network_session_new((dir / "data").c_str(), (dir / "cache").c_str()));
    BrowserSession session(false, store.get());
    test::WebTestWindow window(session.frame(), pageWidth, 800);
    if (!window.waitUntilShown()) return 1;
    if (!test::loadPage(session, server.url("/long"), "", 30s)) return 1;

    CaptureOptions options;
    options.viewportWidth = pageWidth;
    options.lazyLoad = false;
    std::vector<ComposedPart> parts;
    int tiles = 0;
    const double tCapture =
        seconds([&] { test::runTask(capture(session, options, dir / "out", &parts, &tiles), 120s); });
    if (parts.size() != 1) return 1;
    const PixelBuffer& image = *parts[0].image;
    const int64_t width = image.width();
    const int64_t height = image.height();
    std::printf("tile capture of the page, %lld x %lld in %d tiles (100 ms settle each), PNG included: %.2f s\n",
                static_cast<long long>(width), static_cast<long long>(height), tiles, tCapture);
    const double megapixels = static_cast<double>(width) * static_cast<double>(height) / 1e6;

    std::vector<uint8_t> ours;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) best = std::min(best, seconds([&] { ours = Raster::png(image); }));
    std::printf("Raster::png: %.3f s, %.1f Mpixel/s, %zu bytes\n", best, megapixels / best, ours.size());

    std::vector<uint8_t> reference;
    const double tDefault = seconds([&] { reference = libpngDefaults(image); });
    std::printf("libpng defaults: %.3f s, %.1f Mpixel/s, %zu bytes\n", tDefault, megapixels / tDefault,
                reference.size());

    const int64_t differ = bench::mismatches(ours, image);
    std::printf("Raster::png output decodes %s (%lld pixels differ)\n", differ == 0 ? "pixel-exact" : "WRONG",
                static_cast<long long>(differ));
    return differ == 0 ? 0 : 1;
}

}  // namespace

int main() { return test::runInTemporaryFolderOfItsOwn(measure); }
