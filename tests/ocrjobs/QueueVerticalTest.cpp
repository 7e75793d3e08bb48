#include <gtest/gtest.h>

#include <filesystem>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

// A queue in the vertical mode reads a PDF of vertical text with the real
// recogniser, page by page, column by column.
TEST(QueueVertical, APDFOfVerticalTextIsReadInTheVerticalMode) {
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    const std::vector<std::vector<std::string>> pages{
        {"どこで生れたかとんと見当がつかぬ。", "何でも薄暗いじめじめした所で泣いていた。"},
        {"春はあけぼの。やうやう白くなりゆく", "夏は夜。月のころはさらなり。"},
    };
    OCRSettings settings = test::currentSettings();
    settings.mode = OCRMode::vertical;
    // 40 pixels at the queue's resolution, in points.
    const double toPoints = 72.0 / settings.dpi;
    const fs::path pdf = tmp / "縦書き.pdf";
    test::writePDF(pdf, std::vector<test::PageSize>(2, test::PageSize{200, 420}),
                   [&](cairo_t* cr, int page, test::PageSize size) {
                       cairo_set_source_rgb(cr, 1, 1, 1);
                       cairo_paint(cr);
                       test::VerticalLayout layout;
                       layout.width = static_cast<int>(size.width);
                       layout.height = static_cast<int>(size.height);
                       layout.pixelSize = 40 * toPoints;
                       layout.right = layout.top = 20 * toPoints;
                       test::drawColumns(cr, layout, pages[static_cast<std::size_t>(page)]);
                   });

    auto engine = OCRQueueEngine::create({{pdf}}, settings, tmp / "queues");
    JobControl control;
    engine->run(control, true, {}, {}, [](const QueueSnapshot&) {});
    const QueueSnapshot s = engine->snapshot();
    ASSERT_EQ(s.inputs.size(), 1u);
    EXPECT_EQ(s.inputs[0].status, InputStatus::completed);
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(s.completedPages(), 2);

    const std::string text = engine->text(s.inputs[0].id);
    for (std::size_t p = 0; p < 2; ++p) {
        const std::string header = "--- ページ " + std::to_string(p + 1) + " ---\n";
        const std::size_t start = text.find(header);
        ASSERT_NE(start, std::string::npos) << text;
        const std::size_t from = start + header.size();
        const std::string body = text.substr(from, text.find("\n\n", from) - from);
        EXPECT_LE(test::characterErrorRate(pages[p][0] + "\n" + pages[p][1], body), 0.05) << body;
    }
}
