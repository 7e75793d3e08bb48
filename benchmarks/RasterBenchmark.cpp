// Times the page loaders and the PNG encoder on files made here, and shows
// what a refused oversize image costs in memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include <cairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/Raster.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;

namespace {

double seconds(const std::function<void()>& f, int repeat) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeat; ++i) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeat;
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs body in a fresh child and reports the child's peak resident memory.
long childPeakKiB(const std::function<void()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        try {
            body();
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    test::TempDir dir;
    const auto letter = dir / "letter.pdf";
    test::writePDF(letter, {{612, 792}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_select_font_face(cr, "Noto Sans CJK JP", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 11);
        for (int line = 0; line < 60; ++line) {
            cairo_move_to(cr, 54, 60 + line * 12);
            cairo_show_text(cr, "ベルモラ benchmark 日本語の本文と English text on one line 0123456789");
        }
    });
    for (double dpi : {150.0, 300.0, 600.0}) {
        RasterImage image;
        const double t = seconds([&] { image = Raster::pdf(letter, 0, dpi); }, 3);
        std::printf("pdf Letter @%3.0f dpi -> %dx%d: %.1f ms\n", dpi, image.width(), image.height(), t * 1000);
    }

    const auto photo = dir / "photo.png";
    test::writePNG(photo, 2480, 3508, 3, [](int y, uint8_t* row) {
        for (int x = 0; x < 2480; ++x) {
            row[x * 3] = static_cast<uint8_t>(x ^ y);
            row[x * 3 + 1] = static_cast<uint8_t>(x + y);
            row[x * 3 + 2] = static_cast<uint8_t>(x * y);
        }
    });
    RasterImage loaded;
    const double tLoad = seconds([&] { loaded = Raster::image(photo).image; }, 3);
    std::printf("image A4 @300 dpi PNG (2480x3508): %.1f ms\n", tLoad * 1000);
    std::vector<uint8_t> encoded;
    const double tPNG = seconds([&] { encoded = Raster::png(loaded); }, 3);
    std::printf("png encode 2480x3508 RGB: %.1f ms, %zu bytes\n", tPNG * 1000, encoded.size());

    const auto huge = dir / "huge.png";
    test::writePNG(huge, 10000, 10000, 3, [](int, uint8_t* row) { std::fill(row, row + 30000, 255); });
    const auto large = dir / "large.png";
    test::writePNG(large, 5000, 5000, 3, [](int, uint8_t* row) { std::fill(row, row + 15000, 255); });
    const long before = peakKiB();
    const long refused = childPeakKiB([&] { (void)Raster::image(huge); });
    const long refusedPreview = childPeakKiB([&] { (void)Raster::preview(huge); });
    const long decoded = childPeakKiB([&] { (void)Raster::image(large); });
    const long decodedPreview = childPeakKiB([&] { (void)Raster::preview(large); });
    RasterImage largeImage;
    const double tLarge = seconds([&] { largeImage = Raster::image(large).image; }, 1);
    std::printf("peak resident memory: parent %ld MiB; 10000x10000 PNG refused by image() %ld MiB, by preview() %ld MiB;"
                " 5000x5000 PNG decoded by image() %ld MiB (%.0f ms), by preview() %ld MiB\n",
                before / 1024, refused / 1024, refusedPreview / 1024, decoded / 1024, tLarge * 1000,
                decodedPreview / 1024);

    const double tEstimate = seconds([] {
        volatile int64_t sink = CaptureBudget::estimate(12345, 67890);
        (void)sink;
    }, 1000000);
    std::printf("estimate: %.1f ns\n", tEstimate * 1e9);
    return 0;
}
