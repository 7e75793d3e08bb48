// The main-thread cost of the edit road and of the page display: one
// keystroke's store (highlight state, page edit, selection, each written with
// fsync) on queues of 10 and 100 inputs, and showPage() of an A4 PDF page and of
// 300-dpi A4 scans as JPEG and PNG.
// Run by hand: build/benchmarks/QueueControllerEditBenchmark
#include <chrono>
#include <cstdio>

#include "ocrqueue/ControllerFixtures.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // The queues are made by running them, one fsync per page: the largest
    // takes minutes to set up.
    for (int inputs : {10, 100}) {
        // On disk (not memory), so the figure includes the real fsync.
        test::ControllerRoots roots(false);
        auto c = roots.controller();
        roots.openRunQueue(*c, std::vector<int>(static_cast<std::size_t>(inputs), 10), OCRSettings());
        c->showPage();
        constexpr int keystrokes = 20;
        std::string text = c->edited;
        double worst = 0, total = 0;
        for (int k = 0; k < keystrokes; ++k) {
            text += "字";
            const auto start = Clock::now();
            c->editText(text, std::nullopt, std::nullopt, false);
            const double ms = msSince(start);
            total += ms;
            worst = std::max(worst, ms);
        }
        std::printf("%5d inputs x 10 pages: keystroke %.2f ms mean, %.2f ms worst (%s)\n", inputs, total / keystrokes,
                    worst, c->status.get().c_str());
    }

    test::ControllerRoots roots;
    auto c = roots.controller();
    const auto a4pdf = roots.tmp / "a4.pdf";
    test::writePDF(a4pdf, {test::PageSize{595.276, 841.89}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_rectangle(cr, 50, 50, 400, 600);
        cairo_fill(cr);
    });
    const RasterImage scan = test::makeImage(2480, 3508, 3, [](int x, int y, uint8_t* px) {
        px[0] = static_cast<uint8_t>(x);
        px[1] = static_cast<uint8_t>(y);
        px[2] = static_cast<uint8_t>(x ^ y);
    });
    const auto jpeg = roots.tmp / "scan.jpg";
    test::writeJPEG(jpeg, scan);
    const auto png = roots.tmp / "scan.png";
    test::writePNG(png, 2480, 3508, 3, [](int y, uint8_t* row) {
        for (int x = 0; x < 2480 * 3; ++x) row[x] = static_cast<uint8_t>((x + y) & 0xFF);
    });
    for (const auto& file : {a4pdf, jpeg, png}) {
        roots.openQueue(*c, {{file}}, OCRSettings(), false);
        double best = 1e300;
        for (int k = 0; k < 5; ++k) {
            const auto start = Clock::now();
            c->showPage();
            best = std::min(best, msSince(start));
        }
        std::printf("showPage %-9s %.1f ms (image %dx%d)\n", file.filename().c_str(), best,
                    c->preview->has_value() ? c->preview->value().width() : 0,
                    c->preview->has_value() ? c->preview->value().height() : 0);
    }
    return 0;
}
