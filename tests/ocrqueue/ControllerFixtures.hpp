#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrqueue/QueueController.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

namespace velmora {

// Reaches the controller's private page states, so tests can build the
// states the page display and the export will make.
class QueueControllerProbe {
public:
    static std::map<std::string, OCRDecorationState>& decorations(QueueController& c) { return c.decorations; }
    static std::map<std::string, std::string>& exportedEdits(QueueController& c) { return c.exportedEdits; }
};

namespace test {

// Two regions per page, the second below the low-confidence threshold.
inline std::vector<TextRegion> fixedRegions(int64_t page) {
    return {TextRegion("第" + std::to_string(page) + "頁の本文が", 0.95f, 0.1, 0.6, 0.8, 0.1),
            TextRegion("読みにくい行", 0.5f, 0.1, 0.3, 0.8, 0.1)};
}

// Waits until the shown page's picture, prepared on a worker, is shown.
inline bool pictured(const QueueController& c) { return spinUntil([&] { return !c.picturePending.get(); }); }

inline std::string fixedText(int64_t page) { return "第" + std::to_string(page) + "頁の本文が\n読みにくい行"; }

// What the application leaves empty: every engine reads its pages with the
// fixed regions instead of the recogniser.
inline QueuePorts fakeRecognition(QueuePorts ports = {}) {
    ports.configureEngine = [](OCRQueueEngine& engine) {
        engine.setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                const std::function<bool()>&) {
            return PageResult(page, fixedRegions(page), 0.01, image.width(), image.height());
        });
    };
    return ports;
}

// Pages of 2 × 3 inches: 200 × 300 pixels at 100 dpi.
inline std::filesystem::path writeDocument(const std::filesystem::path& path, int pages) {
    std::vector<PageSize> sizes(static_cast<std::size_t>(pages), PageSize{144, 216});
    writePDF(path, sizes, [](cairo_t* cr, int page, PageSize) {
        cairo_rectangle(cr, 10 + page * 5, 10, 30, 30);
        cairo_fill(cr);
    });
    return path;
}

// A controller on temporary roots whose queues are made through its ports.
class ControllerRoots {
public:
    ControllerRoots() = default;
    // On disk rather than in memory, for figures that include fsync.
    explicit ControllerRoots(bool inMemory) : tmp(inMemory) {}

    TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};

    std::shared_ptr<QueueController> controller(QueuePorts ports = fakeRecognition()) {
        return QueueController::create(std::nullopt, std::nullopt, std::move(ports));
    }

    // A queue of the documents made, configured by the controller's ports
    // and run to its end (failing the pages named), then opened in the
    // controller with its first input selected.
    std::shared_ptr<OCRQueueEngine> openRunQueue(QueueController& c, const std::vector<int>& pageCounts,
                                                 const OCRSettings& settings,
                                                 const std::map<std::size_t, std::set<int64_t>>& fail = {}) {
        std::vector<OCRQueueEngine::InputFile> files;
        for (std::size_t i = 0; i < pageCounts.size(); ++i) {
            files.push_back({writeDocument(tmp / ("doc" + std::to_string(++made_) + ".pdf"), pageCounts[i])});
        }
        return openQueue(c, files, settings, true, fail);
    }

    // The queue of the files, run or not, opened in the controller.
    std::shared_ptr<OCRQueueEngine> openQueue(QueueController& c, const std::vector<OCRQueueEngine::InputFile>& files,
                                              const OCRSettings& settings, bool run,
                                              const std::map<std::size_t, std::set<int64_t>>& fail = {}) {
        std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::create(files, settings, c.parent);
        c.ports().configure(*engine);
        if (run) {
            std::map<UUID, std::set<int64_t>> failPages;
            for (const auto& [index, pages] : fail) failPages[engine->snapshot().inputs[index].id] = pages;
            JobControl control;
            engine->run(control, false, {}, failPages, [](const QueueSnapshot&) {});
        }
        c.engine = engine;
        c.snapshot = engine->snapshot();
        c.selectedID = c.snapshot->value().inputs.front().id;
        c.page = 1;
        return engine;
    }

private:
    int made_ = 0;
};

// Grows a recognised queue on disk to `inputs` inputs with copies of its
// first input's page records, as a finished run leaves them but without
// jobs (each copy names a file that is not there): a queue of that size
// whose first input alone is shown.
inline void padQueue(const std::filesystem::path& folder, int inputs) {
    QueueSnapshot s = OCRQueueEngine::inspect(folder);
    const QueueInput first = s.inputs.front();
    for (int i = static_cast<int>(s.inputs.size()); i < inputs; ++i) {
        const std::string path = (folder.parent_path() / ("missing-" + std::to_string(i) + ".pdf")).string();
        QueueInput copy(path, InputOrigin::normal);
        copy.status = InputStatus::completed;
        copy.source = SourceIdentity(path, 1, static_cast<int64_t>(first.pages.size()), std::string(64, 'a'));
        copy.settings = first.settings;
        copy.pages = first.pages;
        s.inputs.push_back(std::move(copy));
    }
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, JSON::encode(QueueEnvelope::seal(s)));
}

inline OCRSettings settingsIn(OCRMode mode) {
    OCRSettings s;
    s.mode = mode;
    return s;
}

}  // namespace test
}  // namespace velmora
