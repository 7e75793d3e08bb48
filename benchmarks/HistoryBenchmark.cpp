// Times the capture history as it grows: every operation reads and rewrites
// the whole file, so its cost follows the number of entries. Also times a
// launch's recovery of many unfinished capture journals.
#include <chrono>
#include <cstdio>
#include <functional>

#include "foundation/ProductBrand.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/TempDir.hpp"

using namespace velmora;

namespace {

double seconds(const std::function<void()>& f, int repeat) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeat; ++i) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeat;
}

}  // namespace

int main() {
    test::TempDir dir;
    const auto out = dir / "out";
    std::filesystem::create_directories(out);
    AppRuntime::ScopedOverride roots{AppRuntime{dir / "storage", out}};
    const auto file = out / "page.png";
    test::writeFile(file, std::string(200000, 'x'));
    CaptureHistory history(dir / "storage" / "history", {out});

    std::printf("entries  register(ms)  entries(ms)  file(KiB)\n");
    int count = 0;
    for (int target : {100, 1000, 5000}) {
        // Entries with one output each, as a capture would record them.
        SavedOutput o;
        o.path = file.string();
        o.stamp = FileStamp::read(file);
        std::vector<CaptureHistoryEntry> bulk;
        for (; count < target - 1; ++count) {
            CaptureHistoryEntry e;
            e.kind = "capture";
            e.state = "completed";
            e.outputs = {o};
            e.metadata = CaptureMetadata{"https://example.com/page", "ページの題名", "PNG", std::nullopt};
            bulk.push_back(e);
        }
        if (!bulk.empty()) {
            auto all = history.entries();
            all.insert(all.end(), bulk.begin(), bulk.end());
            Json j = Json::object();
            j["schemaVersion"] = 1;
            j["entries"] = all;
            history.directory().replaceState("history.json", JSON::bytes(j));
        }
        const double reg = seconds([&] { history.registerOutputs({file}, "ocr", false, std::nullopt, {}); }, 1);
        ++count;
        const double read = seconds([&] { history.entries(); }, 5);
        const auto size = std::filesystem::file_size(dir / "storage" / "history" / "history.json");
        std::printf("%7d  %12.2f  %11.2f  %9ju\n", count, reg * 1e3, read * 1e3, static_cast<uintmax_t>(size / 1024));
    }

    // 200 journals of attempts that died while publishing, two files each.
    const auto root = dir / "storage" / "work" / "lifecycle";
    for (int i = 0; i < 200; ++i) {
        const auto a = out / ("j" + std::to_string(i) + "-a.png");
        const auto b = out / ("j" + std::to_string(i) + "-b.png");
        test::writeFile(a, "a" + std::to_string(i));
        test::writeFile(b, "b" + std::to_string(i));
        CaptureLifecycle life(root, "capture");
        life.expect(2);
        life.prepare(a, FileStamp::read(a));
        life.prepare(b, FileStamp::read(b));
    }
    CaptureHistory fresh(dir / "storage" / "history2", {out});
    CaptureLifecycle::Recovery r;
    const double recover = seconds([&] { r = CaptureLifecycle::recover(root, fresh); }, 1);
    std::printf("recover 200 journals: %.1f ms (recovered %lld)\n", recover * 1e3, static_cast<long long>(r.recovered));
    const double again = seconds([&] { r = CaptureLifecycle::recover(root, fresh); }, 1);
    std::printf("recover again: %.1f ms (already reconciled %lld)\n", again * 1e3,
                static_cast<long long>(r.alreadyReconciled));
    return 0;
}
