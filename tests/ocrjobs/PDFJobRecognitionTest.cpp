#include <gtest/gtest.h>

#include <pango/pangocairo.h>

#include "ocrjobs/JobFixtures.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

const std::vector<std::vector<std::string>> pageLines{
    {"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。"},
    {"春はあけぼの。やうやう白くなりゆく", "山ぎは少しあかりて紫だちたる雲の"},
    {"国境の長いトンネルを抜けると雪国であった。", "夜の底が白くなった。"},
    {"メロスは激怒した。必ず、かの邪智暴虐の", "王を除かなければならぬと決意した。"},
};

// Vector text in the page, as a PDF from another program would carry it.
void drawLines(cairo_t* cr, const std::vector<std::string>& lines) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP 16");
    pango_layout_set_font_description(layout, font);
    cairo_set_source_rgb(cr, 0, 0, 0);
    double y = 72;
    for (const auto& line : lines) {
        pango_layout_set_text(layout, line.c_str(), -1);
        cairo_move_to(cr, 54, y);
        pango_cairo_show_layout(cr, layout);
        y += 36;
    }
    pango_font_description_free(font);
    g_object_unref(layout);
}

}  // namespace

// The whole road of one document: pages rasterised from a PDF, recognised by
// the real recogniser two at a time, committed, read back from the store.
TEST(PDFJobRecognition, AFourPagePDFOfJapaneseTextComesBackAsDrawn) {
    test::TempDir tmp;
    const auto pdf = tmp / "novel.pdf";
    test::writePDF(pdf, std::vector<test::PageSize>(4, {595.28, 841.89}),
                   [](cairo_t* cr, int page, test::PageSize) { drawLines(cr, pageLines[static_cast<std::size_t>(page)]); });
    auto store = JobStore::create(SourceIdentity::read(pdf), test::currentSettings(), tmp / "jobs");
    JobControl control;
    PDFJob::Options options;
    options.concurrency = 2;
    const JobSummary summary = PDFJob::run(*store, control, options);
    EXPECT_EQ(summary.completed, 4);
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_EQ(summary.submittedToVision, 4);
    for (int64_t page = 1; page <= 4; ++page) {
        const auto result = store->result(page);
        ASSERT_TRUE(result) << page;
        std::string expected, actual;
        for (const auto& l : pageLines[static_cast<std::size_t>(page - 1)]) expected += l;
        for (const auto& region : result->regions) actual += region.text;
        EXPECT_LE(test::characterErrorRate(expected, actual), 0.05) << "page " << page << ": " << actual;
    }
}
