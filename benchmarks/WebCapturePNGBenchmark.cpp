// Encodes a tall page image taken from a real web page (1280 × 20,000 CSS
// pixels of text served on loopback) with Raster::png, beside libpng at its
// default settings, and checks that the output decodes to the same pixels.
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

#include "foundation/PixelBuffer.hpp"
#include "foundation/Raster.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestServer.hpp"

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

void onSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
    auto* out = static_cast<GdkTexture**>(data);
    GError* error = nullptr;
    *out = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (error) {
        std::fprintf(stderr, "snapshot failed: %s\n", error->message);
        g_error_free(error);
    }
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

// Pixels that differ between the decoded PNG and the (opaque) source.
int64_t mismatches(const std::vector<uint8_t>& encoded, const PixelBuffer& source) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, encoded.data(), encoded.size())) return -1;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return -1;
    if (image.width != source.width() || image.height != source.height()) return -1;
    int64_t differ = 0;
    for (int64_t y = 0; y < source.height(); ++y) {
        const uint8_t* s = source.row(y);
        const uint8_t* d = rgba.data() + y * source.width() * 4;
        for (int64_t x = 0; x < source.width(); ++x) {
            differ += d[x * 4] != s[x * 4 + 2] || d[x * 4 + 1] != s[x * 4 + 1] || d[x * 4 + 2] != s[x * 4] ||
                      d[x * 4 + 3] != s[x * 4 + 3];
        }
    }
    return differ;
}

}  // namespace

int main() {
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    test::WebTestServer server;
    server.html("/long", longPage());

    GtkWidget* window = gtk_window_new();
    GtkWidget* view = webkit_web_view_new();
    gtk_window_set_default_size(GTK_WINDOW(window), pageWidth, 800);
    gtk_window_set_child(GTK_WINDOW(window), view);
    gtk_window_present(GTK_WINDOW(window));
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), server.url("/long").c_str());
    test::spinUntil([&] { return gtk_widget_get_mapped(window) && !webkit_web_view_is_loading(WEBKIT_WEB_VIEW(view)); },
                    30s);
    test::spinFor(500ms);

    GdkTexture* texture = nullptr;
    const double tSnapshot = seconds([&] {
        webkit_web_view_get_snapshot(WEBKIT_WEB_VIEW(view), WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                                     WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr, onSnapshot, &texture);
        test::spinUntil([&] { return texture != nullptr; }, 60s);
    });
    if (!texture) return 1;
    const int width = gdk_texture_get_width(texture);
    const int height = gdk_texture_get_height(texture);
    std::printf("page snapshot %d x %d: %.2f s\n", width, height, tSnapshot);

    PixelBuffer image(width, height);
    const double tDownload = seconds(
        [&] { gdk_texture_download(texture, image.data(), static_cast<std::size_t>(image.bytesPerRow())); });
    g_object_unref(texture);
    std::printf("texture download into the part buffer: %.2f s\n", tDownload);
    const double megapixels = static_cast<double>(width) * height / 1e6;

    std::vector<uint8_t> ours;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) best = std::min(best, seconds([&] { ours = Raster::png(image); }));
    std::printf("Raster::png: %.3f s, %.1f Mpixel/s, %zu bytes\n", best, megapixels / best, ours.size());

    std::vector<uint8_t> reference;
    const double tDefault = seconds([&] { reference = libpngDefaults(image); });
    std::printf("libpng defaults: %.3f s, %.1f Mpixel/s, %zu bytes\n", tDefault, megapixels / tDefault,
                reference.size());

    const int64_t differ = mismatches(ours, image);
    std::printf("Raster::png output decodes %s (%lld pixels differ)\n", differ == 0 ? "pixel-exact" : "WRONG",
                static_cast<long long>(differ));
    gtk_window_destroy(GTK_WINDOW(window));
    return differ == 0 ? 0 : 1;
}
