// Pages per second and peak memory of a 20-page rendered PDF run through the
// job runner with one and with two workers, beside a plain loop that
// rasterises and recognises the same pages with no job, checkpoint or gate.
// Each measurement runs in its own child process so its peak memory is its
// own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pango/pangocairo.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "recognition/engine/OCRSettings.hpp"
#include "foundation/Raster.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "recognition/OCREngine.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int pages = 20;

const char* paragraph =
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で"
    "ニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。";

void writeBook(const std::filesystem::path& pdf) {
    test::writePDF(pdf, std::vector<test::PageSize>(pages, {595.28, 841.89}), [](cairo_t* cr, int page, test::PageSize) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP 10.5");
        pango_layout_set_font_description(layout, font);
        pango_layout_set_width(layout, static_cast<int>((595.28 - 108) * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_CHAR);
        std::string text = "第" + std::to_string(page + 1) + "頁\n";
        for (int i = 0; i < 12; ++i) text += std::string(paragraph) + "\n";
        pango_layout_set_text(layout, text.c_str(), -1);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, 54, 54);
        pango_cairo_show_layout(cr, layout);
        pango_font_description_free(font);
        g_object_unref(layout);
    });
}

OCRSettings settings() {
    OCRSettings s;
    return s;
}

// Runs body in a child; returns {seconds, peak resident KiB}.
std::pair<double, long> measured(const std::function<void()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const auto t0 = Clock::now();
        body();
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        (void)!::write(fds[1], &seconds, sizeof seconds);
        ::_exit(0);
    }
    ::close(fds[1]);
    double seconds = 0;
    (void)!::read(fds[0], &seconds, sizeof seconds);
    ::close(fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    return {seconds, usage.ru_maxrss};
}

void report(const char* name, std::pair<double, long> m) {
    std::printf("%-34s %6.2f s  %5.2f pages/s  peak %6.1f MiB\n", name, m.first, pages / m.first, m.second / 1024.0);
}

}  // namespace

int main() {
    test::TempDir tmp;
    const auto pdf = tmp / "book.pdf";
    writeBook(pdf);
    std::printf("%d A4 pages at 150 dpi, 10.5 pt Japanese, %ld cores online\n", pages, ::sysconf(_SC_NPROCESSORS_ONLN));

    const auto plain = measured([&] {
        const OCRSettings s = settings();
        for (int p = 0; p < pages; ++p) {
            RasterImage image = Raster::pdf(pdf, p, s.dpi);
            OCREngine::recognize(image, 1, p + 1, s, [] { return false; });
        }
    });
    report("plain loop (no job)", plain);

    for (int workers : {1, 2}) {
        const auto m = measured([&] {
            auto store = JobStore::create(SourceIdentity::read(pdf), settings(), tmp / ("jobs" + std::to_string(workers)));
            JobControl control;
            PDFJob::Options o;
            o.concurrency = workers;
            const JobSummary summary = PDFJob::run(*store, control, o);
            if (summary.completed != pages) std::fprintf(stderr, "only %lld pages completed\n", (long long)summary.completed);
        });
        report(workers == 1 ? "job runner, 1 worker" : "job runner, 2 workers", m);
        if (workers == 1) std::printf("  overhead over the plain loop: %+.1f %%\n", 100.0 * (m.first / plain.first - 1));
        if (workers == 2) std::printf("  speed-up over the plain loop: %.2f×\n", plain.first / m.first);
    }
    return 0;
}
