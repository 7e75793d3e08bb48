#include <gtest/gtest.h>

#include <filesystem>

#include <pango/pangocairo.h>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

void drawLines(cairo_t* cr, const std::vector<std::string>& lines, double pixelSize, double margin) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP");
    pango_font_description_set_absolute_size(font, pixelSize * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        cairo_move_to(cr, margin, margin + double(i) * 2 * pixelSize);
        pango_layout_set_text(layout, lines[i].c_str(), -1);
        pango_cairo_show_layout(cr, layout);
    }
    pango_font_description_free(font);
    g_object_unref(layout);
}

std::string body(const std::string& text, std::size_t page) {
    const std::string header = "--- ページ " + std::to_string(page) + " ---\n";
    const std::size_t start = text.find(header);
    if (start == std::string::npos) return {};
    const std::size_t from = start + header.size();
    return text.substr(from, text.find("\n\n", from) - from);
}

}  // namespace

// A queue in the automatic mode reads a PDF whose first page is horizontal
// and whose second is vertical, each the way it is written.
TEST(QueueAutomatic, APDFWithAHorizontalAndAVerticalPage) {
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    const std::vector<std::string> horizontal{"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。"};
    const std::vector<std::string> vertical{"春はあけぼの。やうやう白くなりゆく", "夏は夜。月のころはさらなり。"};
    OCRSettings settings = test::currentSettings();
    settings.mode = OCRMode::automatic;
    const double toPoints = 72.0 / settings.dpi;
    const fs::path pdf = tmp / "自動.pdf";
    test::writePDF(pdf, {test::PageSize{420, 200}, test::PageSize{200, 420}},
                   [&](cairo_t* cr, int page, test::PageSize size) {
                       cairo_set_source_rgb(cr, 1, 1, 1);
                       cairo_paint(cr);
                       if (page == 0) {
                           drawLines(cr, horizontal, 36 * toPoints, 20 * toPoints);
                           return;
                       }
                       test::VerticalLayout layout;
                       layout.width = static_cast<int>(size.width);
                       layout.height = static_cast<int>(size.height);
                       layout.pixelSize = 40 * toPoints;
                       layout.right = layout.top = 20 * toPoints;
                       test::drawColumns(cr, layout, vertical);
                   });

    auto engine = OCRQueueEngine::create({{pdf}}, settings, tmp / "queues");
    JobControl control;
    engine->run(control, true, {}, {}, [](const QueueSnapshot&) {});
    const QueueSnapshot s = engine->snapshot();
    ASSERT_EQ(s.inputs.size(), 1u);
    EXPECT_EQ(s.inputs[0].status, InputStatus::completed);
    EXPECT_EQ(s.completedPages(), 2);

    const std::string text = engine->text(s.inputs[0].id);
    EXPECT_LE(test::characterErrorRate(horizontal[0] + "\n" + horizontal[1], body(text, 1)), 0.1) << text;
    EXPECT_LE(test::characterErrorRate(vertical[0] + "\n" + vertical[1], body(text, 2)), 0.05) << text;
}
