// Pages per second of a 20-page rendered PDF recognised through the
// single-file controller, beside the job runner alone on the same document:
// the controller's own cost is its identity read, the source check before
// each page and the progress lines sent to the main thread. Both let the
// worker budget decide the workers. The two take turns, three rounds each,
// so that a slow moment of the machine does not fall on one side only.
// Beside the wall time each round prints the process's processor time, which
// a busy machine disturbs far less.
#include <glib.h>
#include <pango/pangocairo.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/ProductBrand.hpp"
#include "foundation/WorkerBudget.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "ocrqueue/OCRController.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int pages = 20;
constexpr int rounds = 3;

const char* paragraph =
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で"
    "ニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。";

double processorSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Measure {
    double wall = 0;
    double processor = 0;
};

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

Measure jobAlone(const std::filesystem::path& pdf, const std::filesystem::path& parent) {
    const auto t0 = Clock::now();
    const double c0 = processorSeconds();
    auto store = JobStore::create(SourceIdentity::read(pdf), OCRSettings(), parent);
    JobControl control;
    PDFJob::Options options;
    options.workerLimit = [] { return WorkerBudget::shared().limit(); };
    const JobSummary summary = PDFJob::run(*store, control, options);
    const Measure m{std::chrono::duration<double>(Clock::now() - t0).count(), processorSeconds() - c0};
    if (summary.completed != pages) std::fprintf(stderr, "job runner: %lld pages completed\n", (long long)summary.completed);
    return m;
}

Measure throughController(const std::filesystem::path& pdf) {
    auto c = OCRController::create();
    c->input = pdf;
    const auto t0 = Clock::now();
    const double c0 = processorSeconds();
    c->start();
    while (c->busy.get()) g_main_context_iteration(nullptr, TRUE);
    const Measure m{std::chrono::duration<double>(Clock::now() - t0).count(), processorSeconds() - c0};
    if (c->status.get() != "処理完了: 成功20、失敗0、未処理0") std::fprintf(stderr, "controller: %s\n", c->status->c_str());
    return m;
}

}  // namespace

int main() {
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    const auto pdf = tmp / "book.pdf";
    writeBook(pdf);
    std::printf("%d A4 pages at 150 dpi, 10.5 pt Japanese, worker limit %d, %ld cores online\n", pages,
                WorkerBudget::shared().limit(), ::sysconf(_SC_NPROCESSORS_ONLN));

    std::vector<double> alone, controller, aloneCPU, controllerCPU;
    for (int round = 0; round < rounds; ++round) {
        const Measure a = jobAlone(pdf, tmp / ("jobs-" + std::to_string(round)));
        const Measure c = throughController(pdf);
        alone.push_back(a.wall);
        controller.push_back(c.wall);
        aloneCPU.push_back(a.processor);
        controllerCPU.push_back(c.processor);
        std::printf("round %d: job runner %6.2f s (%5.2f pages/s, %6.2f s processor), controller %6.2f s (%5.2f pages/s, "
                    "%6.2f s processor)\n",
                    round + 1, a.wall, pages / a.wall, a.processor, c.wall, pages / c.wall, c.processor);
        std::fflush(stdout);
    }
    auto summary = [](const char* name, double a, double c) {
        std::printf("%s: job runner %.2f pages/s, controller %.2f pages/s, controller %+.1f %%\n", name, pages / a,
                    pages / c, 100.0 * (a / c - 1));
    };
    for (auto* v : {&alone, &controller, &aloneCPU, &controllerCPU}) std::sort(v->begin(), v->end());
    summary("best", alone.front(), controller.front());
    summary("median", alone[rounds / 2], controller[rounds / 2]);
    summary("median per processor second", aloneCPU[rounds / 2], controllerCPU[rounds / 2]);
    return 0;
}
