// Peak resident memory of one page's reading (the page loaded as the OCR
// section loads it, then recognised), each in a fresh process: an ordinary
// grey A4 PDF page at 300 dpi beside an A4 page holding one image of 20,000
// pixels square, and a 48-megapixel phone photo of a text page (6048 × 8064)
// beside its 12-megapixel half, also with a 4 GiB memory setting.
//   build/benchmarks/PageMemoryBenchmark
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include <cairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/Raster.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> prose{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。",
    "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。",
    "吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という",
    "人間中で一番獰悪な種族であったそうだ。",
};

// Reads the page in a child and prints its peak, its time and its outcome;
// the child's outcome travels through a pipe.
void measure(const char* label, const std::function<Raster::SourceImage()>& load, uint64_t memory = 0) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string outcome;
        try {
            std::optional<CaptureBudget::ScopedPhysicalMemory> setting;
            if (memory) setting.emplace(memory);
            const Raster::SourceImage page = load();
            OCRSettings settings;
            const PageResult result = OCREngine::recognize(page.image, page.orientation, 1, settings, [] { return false; });
            outcome = "read at " + std::to_string(page.image.width()) + "x" + std::to_string(page.image.height()) + ", " +
                      std::to_string(result.text().size()) + " bytes of text";
        } catch (const BrindlexError& e) {
            outcome = std::string("refused: ") + e.what();
        } catch (const std::exception& e) {
            outcome = std::string("failed: ") + e.what();
        }
        (void)!::write(fds[1], outcome.data(), outcome.size());
        _exit(0);
    }
    ::close(fds[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) outcome.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s peak %5ld MiB  %6.2f s  %s\n", label, usage.ru_maxrss / 1024, seconds, outcome.c_str());
    std::fflush(stdout);
}

}  // namespace

int main() {
    test::TempDir dir;
    const fs::path grey = dir / "grey.pdf";
    test::writePDF(grey, {{595, 842}}, [](cairo_t* cr, int, test::PageSize size) {
        cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
        cairo_rectangle(cr, 0, 0, size.width, size.height);
        cairo_fill(cr);
    });
    const fs::path large = dir / "image-20000.pdf";
    test::writeImagePagePDF(large, 20000, 20000);
    std::printf("files: grey A4 %ju bytes, A4 with a 20000 x 20000 image %ju bytes\n",
                static_cast<uintmax_t>(fs::file_size(grey)), static_cast<uintmax_t>(fs::file_size(large)));
    measure("grey A4 PDF page @300 dpi", [&] { return Raster::SourceImage{Raster::pdf(grey, 0, 300), 1}; });
    measure("A4 PDF page, 20000 px image @300 dpi", [&] { return Raster::SourceImage{Raster::pdf(large, 0, 300), 1}; });

    // A text page as a phone's 48-megapixel mode takes it, and its half.
    for (int width : {6048, 3024}) {
        test::TextLayout layout;
        layout.width = width;
        layout.height = width * 4 / 3;
        layout.pixelSize = 11 * width / 8.27 / 72;
        layout.left = layout.top = width / 10.0;
        layout.lineAdvance = 1.8;
        layout.family = "Noto Serif CJK JP";
        test::writeJPEG(dir / ("photo-" + std::to_string(width) + ".jpg"), test::renderParagraphs(layout, prose).image);
    }
    const fs::path photo = dir / "photo-6048.jpg";
    std::printf("files: 48 MP photo %ju bytes\n", static_cast<uintmax_t>(fs::file_size(photo)));
    measure("12 MP photo (3024 x 4032)", [&] { return Raster::image(dir / "photo-3024.jpg"); });
    measure("48 MP photo (6048 x 8064)", [&] { return Raster::image(photo); });
    measure("48 MP photo, 4 GiB of memory", [&] { return Raster::image(photo); }, uint64_t{4} << 30);
    measure("48 MP photo, 2 GiB of memory", [&] { return Raster::image(photo); }, uint64_t{2} << 30);
    return 0;
}
