// A 1 GiB download from a loopback server through a normal tab's session
// into an approved folder: the whole transfer, the publication (from the
// engine's finish to the published file: the exclusive rename and the owner
// record), the byte check of the result, and the launch sweep of a stage a
// crash left holding 1 GiB (two stamps of the payload). Needs a display:
//   xvfb-run -a -s "-screen 0 1920x1200x24" build/benchmarks/WebDownloadBenchmark [MiB]
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "browser/BrowserDownload.hpp"
#include "browser/BrowserStores.hpp"
#include "browser/BrowserTab.hpp"
#include "capture/DownloadStage.hpp"
#include "foundation/Digest.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double eventTime(const BrowserDownload& d, const std::string& name) {
    for (const auto& e : d.events())
        if (e.event == name) return e.time;
    return 0;
}

int run(int64_t mib) {
    const int64_t length = mib << 20;
    test::TempDir dir;
    const fs::path destination = dir / "dest";
    fs::create_directories(destination);
    const AppRuntime runtime{dir / "storage", dir / "out"};
    AppRuntime::ScopedOverride roots(runtime);
    SettingsStore settings(dir / "storage" / "settings");
    OutputAccess access(runtime, nullptr);
    const UUID grant = access.approve(destination).id;
    settings.change([&](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = grant;
    });
    test::WebTestServer server;
    server.stream("/big", {.length = length, .chunk = 1 << 20,
                           .headers = {{"Content-Disposition", "attachment; filename=big.bin"}}});

    auto stores = std::make_shared<BrowserStores>(test::sharedPersistentStore());
    BrowserTab tab(UUID::random(), false, stores);
    test::WebTestWindow window(tab.browser->frame(), 900, 700);
    window.waitUntilShown();
    std::shared_ptr<BrowserDownload> download;
    tab.browser->downloadStarted = [&](WebKitDownload* d) {
        download = BrowserDownload::make(d, tab.id, UUID::random(), false, {&settings, &access, nullptr});
        tab.downloads = {download};
    };
    const auto start = Clock::now();
    tab.browser->navigate(server.url("/big"));
    if (!test::spinUntil([&] { return download && !download->active(); }, 30min)) {
        std::fprintf(stderr, "the download did not end\n");
        return 1;
    }
    const auto end = Clock::now();
    if (download->state() != BrowserDownload::State::completed) {
        std::fprintf(stderr, "the download ended %s\n", std::string(rawValue(download->state())).c_str());
        return 1;
    }
    const auto checkStart = Clock::now();
    const bool exact = Digest::file(*download->output()) == test::WebTestServer::generatedDigest(length);
    const auto checkEnd = Clock::now();
    std::printf("download of %lld MiB: %.2f s (%.0f MiB/s)\n", static_cast<long long>(mib), seconds(start, end),
                static_cast<double>(mib) / seconds(start, end));
    std::printf("publication (finish to published): %.4f s\n",
                eventTime(*download, "terminal") - eventTime(*download, "received-complete"));
    std::printf("byte check against the server's digest: %s (%.2f s)\n", exact ? "exact" : "DIFFERENT",
                seconds(checkStart, checkEnd));

    // A crash's stage holding the same amount: the launch sweep stamps the
    // payload twice before it removes it.
    {
        DownloadStage stage(destination, UUID::random());
        fs::copy_file(*download->output(), stage.payload());
    }
    const auto sweepStart = Clock::now();
    const CleanupResult swept = DownloadStage::cleanup(destination);
    const auto sweepEnd = Clock::now();
    std::printf("launch sweep of a %lld MiB stage: %.2f s (removed %lld)\n", static_cast<long long>(mib),
                seconds(sweepStart, sweepEnd), static_cast<long long>(swept.removed));
    return exact ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    return run(argc > 1 ? std::atoll(argv[1]) : 1024);
}
