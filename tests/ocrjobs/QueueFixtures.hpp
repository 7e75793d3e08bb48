#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JobFixtures.hpp"
#include "foundation/Raster.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/RasterFiles.hpp"

namespace velmora::test {

// A recogniser whose text names the page and the width of the image it was
// given, so a result shows which document page it came from. Records each
// call; can wait a little and run a hook per page.
struct FakeRecognizer {
    std::mutex lock;
    std::vector<std::pair<int, int64_t>> calls;  // (image width, page)
    std::chrono::milliseconds delay{0};
    std::function<void(int64_t page)> during;
    std::string padding;  // appended to every text, to make results large

    static std::string textFor(int width, int64_t page) {
        return "第" + std::to_string(page) + "頁\n幅" + std::to_string(width);
    }

    PDFJob::Recognizer bind() {
        return [this](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                      const std::function<bool()>&) {
            {
                std::lock_guard guard(lock);
                calls.emplace_back(image.width(), page);
            }
            if (delay.count() > 0) std::this_thread::sleep_for(delay);
            if (during) during(page);
            return PageResult(page, {TextRegion(textFor(image.width(), page) + padding, 0.9f, 0.1, 0.1, 0.8, 0.1)},
                              0.01, image.width(), image.height());
        };
    }

    std::size_t count() {
        std::lock_guard guard(lock);
        return calls.size();
    }
};

// The width at which the run sees a document's pages.
inline int pageWidth(const std::filesystem::path& file) {
    if (file.extension() == ".pdf") return Raster::pdf(file, 0, currentSettings().dpi).width();
    return Raster::image(file).image.width();
}

// What the fake recogniser reads on a page of a document.
inline std::string fakeText(const std::filesystem::path& file, int64_t page) {
    return FakeRecognizer::textFor(pageWidth(file), page);
}

// A PDF of pages of the given width in points, so documents of one queue
// differ in width.
inline std::filesystem::path writeWidePDF(const std::filesystem::path& path, int pages, double width) {
    std::vector<PageSize> sizes(static_cast<std::size_t>(pages), PageSize{width, 300});
    writePDF(path, sizes, [](cairo_t* cr, int page, PageSize) {
        cairo_rectangle(cr, 20 + page * 10, 20, 40, 40);
        cairo_fill(cr);
    });
    return path;
}

// The same document locked with qpdf.
inline std::filesystem::path lockPDF(const std::filesystem::path& plain, const std::filesystem::path& locked,
                                     const std::string& password) {
    if (runProgram({"qpdf", "--encrypt", password, "owner-secret", "256", "--", plain.string(), locked.string()}) !=
        0) {
        throw std::runtime_error("qpdf failed");
    }
    return locked;
}

// A store of the editor that sets a page's text.
inline OCRQueueEngine::EditorRecord textRecord(const UUID& id, int64_t page, std::string text,
                                               bool selection = false) {
    OCRQueueEngine::EditorRecord r;
    r.inputID = id;
    r.page = page;
    r.text = std::move(text);
    r.selection = selection;
    return r;
}

// A queue of documents of these page counts under dir/"queues", run to its
// end with the fake recogniser.
inline std::unique_ptr<OCRQueueEngine> runQueue(const std::filesystem::path& dir, FakeRecognizer& fake,
                                                const std::vector<int>& pageCounts) {
    std::vector<OCRQueueEngine::InputFile> files;
    for (std::size_t i = 0; i < pageCounts.size(); ++i) {
        files.push_back({writeSamplePDF(dir / ("d" + std::to_string(i) + ".pdf"), pageCounts[i])});
    }
    auto engine = OCRQueueEngine::create(files, currentSettings(), dir / "queues");
    engine->setRecognizer(fake.bind());
    JobControl control;
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    return engine;
}

}  // namespace velmora::test
