// How soon a page's reading stops once 中止 asks it to. The page stands for
// a tall capture of a Japanese web page: the clean pages of the web
// printouts in ../shared/ocr-real (browser typography, code boxes, tables,
// Latin runs) at half their resolution, so that their text is the size a
// capture's is, stacked into one image (seven of them by default, the
// tallest page the automatic mode takes). The stop is asked as the queue asks
// it: through the thread's recognition watch and the recogniser's cancel
// predicate.
//
// The figure that bounds the wait is the longest stretch of a reading in
// which nothing looks at the stop (a stop asked at its start waits that
// long): every look is recorded, those of the watch (RecognitionProgress's
// checks and Tesseract's between words, through a look observer) and the
// predicate's, and the longest stretches between two looks (or the start or
// end and a look) are printed for the tall page and for each printout read
// alone, per mode (target: at most 2 s). Then the tall page is read ten times
// more with a stop requested at 5 %, 15 %, … 95 % of its whole reading's
// time T, and for each the seconds from the request to the reading's end are
// printed with how it ended; a stop the reading ended before making is
// counted as never made, not left out.
//
// Usage: OCRStopBenchmark [real=DIR] [pages=N] [modes=standard,automatic]
// Run with OMP_THREAD_LIMIT=1 for figures on one core.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Raster.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "support/SharedFolder.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> listOf(const std::string& value) {
    std::vector<std::string> out;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(item);
    return out;
}

// The clean web printouts of the set, in the manifest's order.
std::vector<fs::path> webPages(const fs::path& real) {
    std::ifstream manifest(real / "manifest.tsv");
    std::vector<fs::path> out;
    std::string line;
    while (std::getline(manifest, line)) {
        const std::vector<std::string> fields = [&] {
            std::vector<std::string> f;
            std::stringstream in(line);
            std::string item;
            while (std::getline(in, item, '\t')) f.push_back(item);
            return f;
        }();
        if (fields.size() < 6 || fields[5] != "none" || fields[2] != "horizontal") continue;
        const std::string name = fs::path(fields[0]).filename().string();
        if (name.rfind("maint_", 0) == 0 || name.rfind("faq_", 0) == 0) out.push_back(real / fields[0]);
    }
    return out;
}

// The pages at half size, one below the other, on white.
RasterImage tallPage(const std::vector<fs::path>& pages) {
    std::vector<GdkPixbuf*> halves;
    int width = 0, height = 0;
    for (const fs::path& p : pages) {
        const RasterImage image = Raster::image(p).image;
        GdkPixbuf* half = gdk_pixbuf_scale_simple(image.pixbuf(), image.width() / 2, image.height() / 2,
                                                  GDK_INTERP_BILINEAR);
        width = std::max(width, gdk_pixbuf_get_width(half));
        height += gdk_pixbuf_get_height(half);
        halves.push_back(half);
    }
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 3, 255);
    int top = 0;
    for (GdkPixbuf* half : halves) {
        const int w = gdk_pixbuf_get_width(half), h = gdk_pixbuf_get_height(half);
        const int n = gdk_pixbuf_get_n_channels(half), stride = gdk_pixbuf_get_rowstride(half);
        const guchar* from = gdk_pixbuf_read_pixels(half);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    pixels[(static_cast<std::size_t>(top + y) * width + x) * 3 + c] =
                        from[static_cast<std::size_t>(y) * stride + x * n + c];
                }
            }
        }
        top += h;
        g_object_unref(half);
    }
    return RasterImage::fromPixels(width, height, 3, pixels);
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Run {
    double seconds = 0;  // from the start to the reading's end
    bool stopped = false;
    std::string error;  // the case of a reading that failed
    std::vector<double> looks;  // when the stop was looked at, from the start
};

// One reading, a stop requested `stopAt` seconds after it starts (never
// when negative).
Run readOnce(const RasterImage& page, OCRMode mode, double stopAt) {
    OCRSettings settings;
    settings.mode = mode;
    Run run;
    const Clock::time_point start = Clock::now();
    const auto stop = [&] {
        const double now = since(start);
        run.looks.push_back(now);
        return stopAt >= 0 && now >= stopAt;
    };
    RecognitionProgress::Watch watch;
    watch.stop = stop;
    const RecognitionProgress::Scope scope(std::move(watch));
    const RecognitionProgress::LookObserver observer([&] { run.looks.push_back(since(start)); });
    try {
        OCREngine::recognize(page, 1, 1, settings, stop);
    } catch (const CancellationError&) {
        run.stopped = true;
    } catch (const BrindlexError& e) {
        run.stopped = e.errorCase() == ErrorCase::cancelled;
        if (!run.stopped) run.error = std::string(BrindlexError::rawValue(e.errorCase()));
    }
    run.seconds = since(start);
    return run;
}

// The stretches between looks, longest first, with where each begins.
std::vector<std::pair<double, double>> stretches(const Run& run) {
    std::vector<double> looks = run.looks;
    std::sort(looks.begin(), looks.end());
    std::vector<std::pair<double, double>> out;
    double previous = 0;
    for (double t : looks) {
        out.emplace_back(t - previous, previous);
        previous = t;
    }
    out.emplace_back(run.seconds - previous, previous);
    std::sort(out.rbegin(), out.rend());
    return out;
}

// The longest stretch without a look of one reading of the page; false for
// a page refused.
bool longest(const RasterImage& page, OCRMode mode, const std::string& label) {
    const Run run = readOnce(page, mode, -1);
    if (!run.error.empty()) {
        std::printf("%-44s refused (%s)\n", label.c_str(), run.error.c_str());
        return false;
    }
    const auto gaps = stretches(run);
    std::printf("%-44s %8.2f %8zu %10.2f %8.0f %%\n", label.c_str(), run.seconds, run.looks.size(), gaps[0].first,
                100 * gaps[0].second / run.seconds);
    return true;
}

void benchmark(const RasterImage& page, const std::vector<fs::path>& pages, OCRMode mode, const char* name) {
    readOnce(page, mode, -1);  // engines loaded
    std::printf("\n%s mode: the longest stretch without a look at the stop, per page (target at most 2 s)\n", name);
    std::printf("%-44s %8s %8s %10s %10s\n", "page", "read s", "looks", "longest s", "from");
    for (const fs::path& p : pages) longest(Raster::image(p).image, mode, p.stem().string() + " (alone)");
    const Run whole = readOnce(page, mode, -1);
    const double total = whole.seconds;
    if (!whole.error.empty()) {
        std::printf("the tall page is refused (%s)\n", whole.error.c_str());
        return;
    }
    const auto gaps = stretches(whole);
    std::printf("%-44s %8.2f %8zu %10.2f %8.0f %%\n", "the tall page", total, whole.looks.size(), gaps[0].first,
                100 * gaps[0].second / total);
    std::printf("its longest stretches: ");
    for (std::size_t i = 0; i < gaps.size() && i < 5; ++i) {
        std::printf("%s%.2f s from %.0f %%", i ? ", " : "", gaps[i].first, 100 * gaps[i].second / total);
    }
    std::printf("\n%-8s %10s %14s  %s\n", "point", "stop at s", "to stopped s", "end");
    double worst = 0;
    int made = 0, neverMade = 0, failed = 0;
    for (int i = 0; i < 10; ++i) {
        const double at = total * (i + 0.5) / 10;
        const Run r = readOnce(page, mode, at);
        const double latency = r.seconds - at;
        // A reading that ends without stopping never made the stop: how late
        // it would have been is unknown, so it counts apart.
        if (r.stopped) {
            made += 1;
            worst = std::max(worst, latency);
        } else if (r.error.empty()) {
            neverMade += 1;
        } else {
            failed += 1;
        }
        std::printf("%5.0f %%  %10.2f %14.2f  %s\n", 100 * (i + 0.5) / 10, at, latency,
                    r.stopped ? "stopped" : r.error.empty() ? "never stopped: read to its end" : r.error.c_str());
    }
    std::printf("stops made %d of 10, worst %.2f s; never made %d; failed %d; longest stretch without a look %.2f s\n",
                made, worst, neverMade, failed, gaps[0].first);
}

}  // namespace

int main(int argc, char** argv) {
    fs::path real = "../shared/ocr-real";
    std::size_t count = 7;
    std::vector<std::string> modes{"standard", "automatic"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("real=", 0) == 0) real = arg.substr(5);
        if (arg.rfind("pages=", 0) == 0) count = std::stoul(arg.substr(6));
        if (arg.rfind("modes=", 0) == 0) modes = listOf(arg.substr(6));
    }
    if (const auto missing = test::missingSharedFolder(real)) {
        std::fprintf(stderr, "%s: %s\n", test::underCI() ? "failed" : "skipped", missing->c_str());
        return test::underCI() ? 1 : 0;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<fs::path> pages = webPages(real);
    if (pages.size() > count) pages.resize(count);
    if (pages.empty()) {
        std::fprintf(stderr, "no web printouts in %s\n", real.c_str());
        return 1;
    }
    const RasterImage page = tallPage(pages);
    std::printf("a tall page of %zu web printouts, %d x %d pixels; one thread per reading\n", pages.size(),
                page.width(), page.height());
    for (const std::string& m : modes) {
        const OCRMode mode = m == "automatic" ? OCRMode::automatic : m == "vertical" ? OCRMode::vertical
                                                                                     : OCRMode::standard;
        benchmark(page, pages, mode, m.c_str());
    }
    return 0;
}
