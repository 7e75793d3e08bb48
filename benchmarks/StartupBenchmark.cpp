// Start-up of the application, from exec to its first window's first painted
// frame: each run is a new process of the application's own code (the
// launch with its real steps, on a fresh temporary home) with a probe that
// notes the frame clock's first after-paint of the first window and quits.
// Each home holds a tab snapshot of two windows of five tabs each, with
// restoration on, so the launch reopens both. Median and worst of 10 runs. Target: median under 0.5 s from the build
// tree. Needs a display and a session bus:
//   xvfb-run -a -s "-screen 0 1920x1200x24" dbus-run-session -- build/benchmarks/StartupBenchmark
#include <gtk/gtk.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/TempDir.hpp"
#include "workspace/app/BrindlexApp.hpp"

using namespace velmora;

namespace {

constexpr int runs = 10;

long long monotonicNanoseconds() {
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Probe {
    BrindlexApp* app = nullptr;
    int fd = -1;
    bool noted = false;
};

// The first after-paint of the first window: note it once and quit.
void afterPaint(Probe* probe) {
    if (probe->noted) return;
    probe->noted = true;
    const std::string line = std::to_string(monotonicNanoseconds()) + "\n";
    if (::write(probe->fd, line.data(), line.size()) < 0) std::perror("write");
    probe->app->quit(0);
}

// The application as main() runs it, plus the probe; writes the moment of the
// first painted frame to fd and returns the application's status.
int probe(int fd) {
    BrindlexApp app;

    Probe state{&app, fd};
    app.windowOpened.connect([&](Gtk::ApplicationWindow& window) {
        GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
        if (clock) g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(afterPaint), &state);
    });
    char name[] = "velmora";
    char* argv[] = {name, nullptr};
    return app.run(1, argv);
}

// Two windows of five normal tabs, as a quit of an earlier run leaves them
// under this storage root; the store is let go before the run starts.
void writeSnapshot(const std::filesystem::path& storage) {
    SettingsStore settings(storage / "settings");
    TabRestoration restoration(storage / "tabs", settings);
    restoration.setEnabled(true);
    std::vector<RestoredWindow> windows;
    for (int w = 0; w < 2; ++w) {
        RestoredWindow window{UUID::random(), {}, UUID()};
        for (int t = 0; t < 5; ++t) {
            const std::string address =
                "https://example.com/window" + std::to_string(w) + "/tab" + std::to_string(t);
            window.tabs.push_back(RestoredTab{UUID::random(), address, false});
        }
        window.selected = window.tabs.front().id;
        windows.push_back(window);
    }
    restoration.save(windows);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--probe") return probe(std::stoi(argv[2]));

    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        test::TempDir home;
        writeSnapshot(home.path() / ".local" / "share" / ProductBrand::current().applicationSupportPath);
        int pipeFDs[2];
        if (::pipe(pipeFDs) != 0) return 1;
        const long long started = monotonicNanoseconds();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFDs[0]);
            ::setenv("HOME", home.path().c_str(), 1);
            for (const char* n : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) ::unsetenv(n);
            const std::string fd = std::to_string(pipeFDs[1]);
            ::execl("/proc/self/exe", argv[0], "--probe", fd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFDs[1]);
        char buffer[64] = {};
        const ssize_t n = ::read(pipeFDs[0], buffer, sizeof buffer - 1);
        ::close(pipeFDs[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (n <= 0) {
            std::fprintf(stderr, "run %d: no frame (status %d)\n", i + 1, status);
            return 1;
        }
        const double s = (std::stoll(buffer) - started) / 1e9;
        seconds.push_back(s);
        std::printf("run %2d: %.3f s\n", i + 1, s);
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = (seconds[runs / 2 - 1] + seconds[runs / 2]) / 2;
    std::printf("exec to first painted frame, %d runs: median %.3f s, worst %.3f s (target: median < 0.5 s)\n", runs,
                median, seconds.back());
    return 0;
}
