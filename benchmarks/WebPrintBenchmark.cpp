// A whole print-style save as a tab asks for it (print(options, output) in a
// normal session: journal, history, PDF and page PNGs) of a 20-page A4
// article with a 12 mm margin and a header and footer, beside the web
// engine's bare print of the same page with the same page setup to the file
// printer, and the pages' drawing and encoding beside the same on one
// thread. At 150 and at 300 dpi. Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/WebPrintBenchmark
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtkmm/init.h>

#include "capture/PrintOptions.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/WorkerBudget.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/PrintRun.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int pages = 20;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Twenty pages of text, each section ending its page.
std::string article() {
    std::string body;
    for (int p = 1; p <= pages; ++p) {
        body += std::string(p < pages ? "<section style='break-after:page'>" : "<section>") + "<h1>第" +
                std::to_string(p) + "章 Section " + std::to_string(p) + "</h1>";
        for (int i = 0; i < 8; ++i) {
            body += "<p>印刷用に保存する記事の本文です。日本語の文章と English text alternate here, with numbers "
                    "0123456789 and punctuation, long enough to wrap across several printed lines. 段落 " +
                    std::to_string(i) + "</p>";
        }
        body += "</section>";
    }
    return "<!doctype html><html><head><meta charset=utf-8><title>印刷ベンチマーク</title></head>"
           "<body style=\"font:15px/1.6 'Noto Sans CJK JP',sans-serif\">" + body + "</body></html>";
}

long statusKB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    }
    return -1;
}

// The bands and threads a save of A4 pages at dpi draws with (see
// stagePages in WebPrinter.cpp).
std::pair<int64_t, int> bandAndThreads(double dpi) {
    const auto side = [dpi](double points) { return static_cast<int64_t>(std::ceil(dpi * points / 72)); };
    const int64_t width = side(595.2756), height = side(841.8898);
    const int64_t band = std::max<int64_t>(width * height * 4 / 8, width * 4);
    const int64_t room = width * height * 7 / (band + Raster::PDFPages::encoderBytes);
    return {band, static_cast<int>(std::clamp<int64_t>(std::min<int64_t>(WorkerBudget::pageThreads(), room), 1, pages))};
}

// The PDF's pages drawn and encoded as a save draws them, on this many
// threads each with its own document, without writing them anywhere.
double drawAndEncode(const fs::path& pdf, double dpi, int threads) {
    std::atomic<int> next{0};
    const int64_t band = bandAndThreads(dpi).first;
    auto work = [&] {
        Raster::PDFPages document(pdf);
        for (int i = next++; i < document.count(); i = next++) (void)document.png(i, dpi, band);
    };
    const auto start = Clock::now();
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t) others.emplace_back(work);
    work();
    for (auto& t : others) t.join();
    return seconds(start, Clock::now());
}

// Lets VmHWM start again from the resident size now.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace

int main() {
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
    SettingsStore settings{storage / "settings"};
    FixedOutputRoots roots{{output}};
    AppHistory::ScopedEnvironment history({storage, &settings, &roots});

    test::WebTestServer server;
    server.html("/article", article());
    BrowserSession session(false, test::sharedEphemeralStore());
    test::WebTestWindow window(session.frame(), 1024, 800);
    if (!window.waitUntilShown()) return 1;
    session.navigate(server.url("/article"));
    if (!test::spinUntil([&] { return session.pageTitle.get() == "印刷ベンチマーク" && !session.loading; })) return 1;

    PrintSelection selection;
    selection.headerFooter = true;

    // The bare print, three times; the best counts.
    double bare = 1e9;
    {
        auto printer = test::runTask(PrintRun::pdfPrinterName());
        if (!printer) {
            std::printf("no file printer\n");
            return 1;
        }
        PrintOptions o = selection.options(session.currentURL.get(), session.pageTitle.get(), Date());
        auto setup = PrintRun::pageSetup(o);
        for (int i = 0; i < 3; ++i) {
            auto settingsOut = PrintRun::printSettings(*printer, dir / ("bare-" + std::to_string(i) + ".pdf"));
            const auto start = Clock::now();
            test::runTask(PrintRun::print(session.webView(), setup.get(), settingsOut.get()), 60s);
            bare = std::min(bare, seconds(start, Clock::now()));
        }
    }

    for (double dpi : {150.0, 300.0}) {
        for (int round = 0; round < 2; ++round) {
            PrintOptions o = selection.options(session.currentURL.get(), session.pageTitle.get(),
                                               std::chrono::system_clock::now());
            o.dpi = dpi;
            std::map<std::string, Clock::time_point> at;
            std::vector<double> publish;
            // Every output is staged (the pages drawn, encoded, written and
            // synced) between beforePublish and the first writing.
            o.checkpoint = [&](PrintOptions::Stage s) -> Task<void> {
                const auto now = Clock::now();
                if (s == PrintOptions::Stage::printing) at["print"] = now;
                if (s == PrintOptions::Stage::beforePublish) at["staging"] = now;
                if (s == PrintOptions::Stage::writing) {
                    if (!at.count("staged")) at["staged"] = now;
                    at["write"] = now;
                }
                co_return;
            };
            std::vector<double> announcing;
            fs::path publishedPDF;
            o.willPublish = [&](const fs::path&, const FileStamp&) { at["announce"] = Clock::now(); };
            o.onPublished = [&](const fs::path& url) {
                if (url.extension() == ".pdf") publishedPDF = url;
                publish.push_back(seconds(at["write"], Clock::now()));
                announcing.push_back(seconds(at["write"], at["announce"]));
            };
            o.nativeEvent = [&](bool returned) {
                if (returned) at["printed"] = Clock::now();
            };
            o.nativeObservation = [&](const NativePrintObservation& n) {
                if (n.kind == NativePrintObservation::Kind::decorationBegin) at["stamp"] = Clock::now();
                if (n.kind == NativePrintObservation::Kind::decorationEnd) at["stamped"] = Clock::now();
            };
            const fs::path folder = output / ("Print-" + std::to_string(int(dpi)) + "-" + std::to_string(round));
            const long before = statusKB("VmRSS:");
            resetPeak();
            const auto start = Clock::now();
            session.print(o, folder);
            test::spinUntil([&] { return !session.operationPending.get(); }, 120s);
            const double total = seconds(start, Clock::now());
            const long peak = statusKB("VmHWM:");
            if (round == 0) continue;  // the first round warms the fonts and the engine
            double publishSum = 0;
            for (double p : publish) publishSum += p;
            // The same pages drawn and encoded one after another on one
            // thread, from the PDF the save published (the stamped one).
            const int threads = bandAndThreads(dpi).second;
            const double oneThread = drawAndEncode(publishedPDF, dpi, 1);
            const double parallel = drawAndEncode(publishedPDF, dpi, threads);
            // Each page drawn whole and then encoded, one after another.
            double whole = 0;
            {
                const auto start1 = Clock::now();
                for (int i = 0; i < pages; ++i) (void)Raster::png(Raster::pdf(publishedPDF, i, dpi));
                whole = seconds(start1, Clock::now());
            }
            const double staged = seconds(at["staging"], at["staged"]);
            std::printf("%.0f dpi: %s\n", dpi, session.stage.get().c_str());
            std::printf("  print(options, output) total   %.2f s, %.1f pages/s\n", total, pages / total);
            std::printf("  print run                      %.3f s (bare print of the same page %.3f s)\n",
                        seconds(at["print"], at["printed"]), bare);
            std::printf("  check                          %.3f s\n", seconds(at["printed"], at["stamp"]));
            std::printf("  stamp                          %.3f s\n", seconds(at["stamp"], at["stamped"]));
            double announceSum = 0;
            for (double x : announcing) announceSum += x;
            std::printf("  staging (pages drawn, encoded, %.3f s\n    written and synced)\n", staged);
            std::printf("  pages drawn and encoded         %.3f s on %d threads, %.3f s on one: %.2f x\n", parallel,
                        threads, oneThread, parallel / oneThread);
            std::printf("  each page drawn whole, encoded  %.3f s on one thread: %.2f x\n", whole, parallel / whole);
            std::printf("  publications (%zu)              %.3f s (naming %.3f s, journal and link %.3f s)\n",
                        publish.size(), publishSum, announceSum, publishSum - announceSum);
            std::printf("  peak resident above the start  %.0f MiB\n", (peak - before) / 1024.0);
        }
    }
    return 0;
}
