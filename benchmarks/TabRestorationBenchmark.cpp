// Times tab restoration's save and load, which the window set runs on the
// main thread (a save 200 ms after the last change of tabs): every save reads
// and decodes the stored snapshot, encodes the new one, decodes it again and
// replaces the file. Snapshots from a typical session up to the 2 MiB limit.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/TempDir.hpp"

using namespace velmora;

namespace {

double medianMs(const std::function<void()>& f, int repeat) {
    std::vector<double> times;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::vector<RestoredWindow> windows(int count, int tabs, std::size_t addressBytes) {
    std::vector<RestoredWindow> out;
    for (int w = 0; w < count; ++w) {
        RestoredWindow window;
        window.id = UUID::random();
        for (int t = 0; t < tabs; ++t) {
            std::string url = "https://www.example.co.jp/記事/" + std::to_string(w) + "/" + std::to_string(t) + "?q=";
            url.resize(std::max(url.size(), addressBytes), 'a');
            // As the window set hands them on: the kept text of each address.
            window.tabs.push_back({UUID::random(), TabRestoration::eligible(url, "GET"), false});
        }
        window.selected = window.tabs.front().id;
        out.push_back(std::move(window));
    }
    return out;
}

}  // namespace

int main() {
    test::TempDir dir;
    SettingsStore settings(dir / "storage/settings");
    TabRestoration restoration(dir / "storage/tabs", settings);
    restoration.setEnabled(true);

    std::printf("windows  tabs  address(B)  file(KiB)  save(ms)  load(ms)\n");
    struct Case {
        int windows, tabs;
        std::size_t address;
    };
    for (const Case c : {Case{2, 10, 80}, Case{10, 50, 200}, Case{100, 10, 1800}}) {
        const auto w = windows(c.windows, c.tabs, c.address);
        const double save = medianMs([&] { restoration.save(w); }, 21);
        if (restoration.blocked()) {
            std::printf("blocked: %s\n", restoration.notice().c_str());
            return 1;
        }
        const double load = medianMs([&] { restoration.load(); }, 21);
        const auto size = std::filesystem::file_size(dir / "storage/tabs/snapshot.json");
        std::printf("%7d  %4d  %10zu  %9.0f  %8.1f  %8.1f\n", c.windows, c.tabs, c.address, size / 1024.0, save, load);
    }
    return 0;
}
