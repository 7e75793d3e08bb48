#include <gtest/gtest.h>

#include <pango/pangocairo.h>

#include <filesystem>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> imageLines{
    "吾輩は猫である。名前はまだ無い。",
    "どこで生れたかとんと見当がつかぬ。",
};
const std::vector<std::vector<std::string>> documentPages{
    {"春はあけぼの。やうやう白くなりゆく山ぎは、", "少しあかりて、紫だちたる雲の細くたなびきたる。"},
    {"夏は夜。月のころはさらなり、闇もなほ、", "蛍の多く飛びちがひたる。"},
};
const std::vector<std::string> lockedLines{
    "秋は夕暮れ。夕日のさして山の端いと近うなりたるに、",
    "烏の寝どころへ行くとて、三つ四つ、二つ三つなど、",
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

// Pages of real text in a PDF, drawn as text (not as pictures) at 32 pixels
// for the queue's resolution.
fs::path writeTextPDF(const fs::path& path, const std::vector<std::vector<std::string>>& pages) {
    const double points = 32 * 72.0 / test::currentSettings().dpi;
    test::writePDF(path, std::vector<test::PageSize>(pages.size(), test::PageSize{500, 160}),
                   [&](cairo_t* cr, int page, test::PageSize) {
                       cairo_set_source_rgb(cr, 1, 1, 1);
                       cairo_paint(cr);
                       cairo_set_source_rgb(cr, 0, 0, 0);
                       PangoLayout* layout = pango_cairo_create_layout(cr);
                       PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP");
                       pango_font_description_set_absolute_size(font, points * PANGO_SCALE);
                       pango_layout_set_font_description(layout, font);
                       const auto& lines = pages[static_cast<std::size_t>(page)];
                       for (std::size_t i = 0; i < lines.size(); ++i) {
                           pango_layout_set_text(layout, lines[i].c_str(), -1);
                           cairo_move_to(cr, 20, 20 + static_cast<double>(i) * points * 2);
                           pango_cairo_show_layout(cr, layout);
                       }
                       pango_font_description_free(font);
                       g_object_unref(layout);
                   });
    return path;
}

// The body of one page in a text with page headers.
std::string pageBody(const std::string& text, int64_t page) {
    const std::string header = "--- ページ " + std::to_string(page) + " ---\n";
    const std::size_t start = text.find(header);
    if (start == std::string::npos) return "";
    const std::size_t from = start + header.size();
    const std::size_t end = text.find("\n\n", from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

// Real files, real recognition: an image, a two-page PDF and a locked PDF of
// drawn Japanese text.
TEST(QueueRecognition, AQueueOfRealDocumentsIsReadAndExported) {
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    const fs::path png = tmp / "猫.png";
    const auto image = test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, imageLines);
    test::writeFile(png, [&] {
        const auto bytes = Raster::png(image.image);
        return std::string(bytes.begin(), bytes.end());
    }());
    const fs::path pdf = writeTextPDF(tmp / "枕草子.pdf", documentPages);
    const fs::path locked = test::lockPDF(writeTextPDF(tmp / "plain.pdf", {lockedLines}), tmp / "秋.pdf", "あき");

    auto engine = OCRQueueEngine::create({{png}, {pdf}, {locked}}, test::currentSettings(), tmp / "queues");
    const auto ids = [&] {
        std::vector<UUID> out;
        for (const auto& in : engine->snapshot().inputs) out.push_back(in.id);
        return out;
    }();

    JobControl first;
    engine->run(first, true, {}, {}, [](const QueueSnapshot&) {});
    QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(s.inputs[0].status, InputStatus::completed);
    EXPECT_EQ(s.inputs[1].status, InputStatus::completed);
    EXPECT_EQ(s.inputs[2].status, InputStatus::waitingPassword);
    EXPECT_EQ(s.status, QueueStatus::waitingInput);

    JobControl second;
    engine->run(second, true, {{ids[2], "あき"}}, {}, [](const QueueSnapshot&) {});
    s = engine->snapshot();
    for (const auto& in : s.inputs) EXPECT_EQ(in.status, InputStatus::completed);
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(s.completedPages(), 4);

    const fs::path out = tmp / "出力";
    const auto combined = engine->exportTo(out);
    ASSERT_EQ(combined, std::vector<fs::path>{out / "OCR-combined.txt"});
    const std::string all = test::readFile(combined[0]);
    const std::size_t second_ = all.find("\n\n=== 文書 2: 枕草子.pdf ===\n");
    const std::size_t third = all.find("\n\n=== 文書 3: 秋.pdf ===\n");
    ASSERT_TRUE(all.starts_with("=== 文書 1: 猫.png ===\n--- ページ 1 ---\n")) << all;
    ASSERT_NE(second_, std::string::npos) << all;
    ASSERT_NE(third, std::string::npos) << all;
    const std::string first_ = all.substr(0, second_);
    const std::string middle = all.substr(second_, third - second_);
    const std::string last = all.substr(third);
    EXPECT_LE(test::characterErrorRate(joined(imageLines), pageBody(first_, 1)), 0.05) << all;
    EXPECT_LE(test::characterErrorRate(joined(documentPages[0]), pageBody(middle, 1)), 0.05) << all;
    EXPECT_LE(test::characterErrorRate(joined(documentPages[1]), pageBody(middle, 2)), 0.05) << all;
    EXPECT_LE(test::characterErrorRate(joined(lockedLines), pageBody(last, 1)), 0.05) << all;

    const auto separate = engine->exportTo(out, TXTOptions(true, true, false));
    ASSERT_EQ(separate, (std::vector<fs::path>{out / "OCR-1-猫.txt", out / "OCR-2-枕草子.txt", out / "OCR-3-秋.txt"}));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(test::readFile(separate[i]), engine->text(ids[i]));
    EXPECT_EQ(test::readFile(separate[1]), middle.substr(middle.find("--- ページ 1")));
    EXPECT_EQ(engine->exportTo(out), std::vector<fs::path>{out / "OCR-combined-1.txt"});
    EXPECT_EQ(test::readFile(out / "OCR-combined-1.txt"), all);
}
