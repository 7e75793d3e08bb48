#include <gtest/gtest.h>

#include <pango/pangocairo.h>

#include <filesystem>

#include "PortFakes.hpp"
#include "RunFixtures.hpp"
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

// Pages of text drawn as text, 32 pixels high at the queue's resolution.
fs::path writeTextPDF(const fs::path& path, const std::vector<std::vector<std::string>>& pages) {
    const double points = 32 * 72.0 / OCRSettings().dpi;
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

// The body of one page of a text with page separators.
std::string pageBody(const std::string& text, int page) {
    const std::string header = "--- ページ " + std::to_string(page) + " ---\n";
    const std::size_t start = text.find(header);
    if (start == std::string::npos) return "";
    const std::size_t from = start + header.size();
    const std::size_t end = text.find("\n\n--- ページ ", from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

// Real files and real recognition through the controller: a PNG, a 2-page
// PDF and a locked PDF, opened as the capture hand-off opens them and
// started with the automatic TXT on.
TEST(RunRecognition, AQueueOfRealDocumentsEndsInItsAutomaticText) {
    test::RunRoots roots;
    const fs::path png = roots.tmp / "猫.png";
    const auto image = test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, imageLines);
    test::writeFile(png, [&] {
        const auto bytes = Raster::png(image.image);
        return std::string(bytes.begin(), bytes.end());
    }());
    const fs::path pdf = writeTextPDF(roots.tmp / "枕草子.pdf", documentPages);
    const fs::path locked =
        test::lockPDF(writeTextPDF(roots.tmp / "plain.pdf", {lockedLines}), roots.tmp / "秋.pdf", "あき");

    auto c = QueueController::create();
    c->autoSave = true;
    c->select({png, pdf, locked}, nullptr);
    ASSERT_TRUE(c->engine);

    test::RunRoots::runToEnd(*c);
    EXPECT_EQ(c->status.get(), "PDFのパスワードを入力してください。");
    EXPECT_EQ(c->snapshot->value().inputs[2].status, InputStatus::waitingPassword);
    EXPECT_TRUE(c->lastExports->empty());

    c->password = "あき";
    test::RunRoots::runToEnd(*c);
    EXPECT_EQ(c->status.get(), "完了");
    const fs::path txt = c->output / "OCR-結果.txt";
    ASSERT_EQ(c->lastExports.get(), std::vector<fs::path>{txt});
    const std::string text = test::readFile(txt);
    EXPECT_LE(test::characterErrorRate(joined(imageLines), pageBody(text, 1)), 0.05) << text;
    EXPECT_LE(test::characterErrorRate(joined(documentPages[0]), pageBody(text, 2)), 0.05) << text;
    EXPECT_LE(test::characterErrorRate(joined(documentPages[1]), pageBody(text, 3)), 0.05) << text;
    EXPECT_LE(test::characterErrorRate(joined(lockedLines), pageBody(text, 4)), 0.05) << text;
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);
}

// A tall capture read as one page: the run tells how far the page's reading
// has come while it lasts, and a cancel given part way stops the page there
// instead of after it, the page left to read again.
TEST(RunRecognition, ATallPageTellsHowFarItIsReadAndACancelStopsItPartWay) {
    test::RunRoots roots;
    std::vector<std::string> paragraphs;
    for (int i = 0; i < 120; ++i) paragraphs.push_back(i % 2 ? imageLines[0] : documentPages[0][i % 2]);
    const auto tall = test::renderParagraphs(
        {.width = 731, .height = 6000, .pixelSize = 18, .left = 24, .top = 24, .lineAdvance = 1.8}, paragraphs);
    const fs::path png = roots.tmp / "縦長キャプチャ.png";
    test::writeFile(png, [&] {
        const auto bytes = Raster::png(tall.image);
        return std::string(bytes.begin(), bytes.end());
    }());

    auto c = QueueController::create();
    c->select({png}, nullptr);
    ASSERT_TRUE(c->engine);
    const UUID input = c->snapshot->value().inputs[0].id;
    std::vector<double> told;
    c->changed.connect([&] {
        const auto& reading = c->reading.get();
        if (!reading) return;
        EXPECT_EQ(reading->inputID, input);
        EXPECT_EQ(reading->page, 1);
        if (told.empty() || told.back() != reading->fraction) told.push_back(reading->fraction);
        // Part way through the page: cancelled.
        if (reading->fraction >= 0.2 && c->control->stop() == JobControl::Stop::none) c->stop(JobControl::Stop::cancel);
    });
    test::runTask(c->start());
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(120)));

    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_GT(told.front(), 0);
    EXPECT_LT(told.back(), 1);
    // Stopped before the page was read: nothing committed, the page to read
    // again, the reading no longer told.
    EXPECT_EQ(c->status.get(), "処理を中止しました。完成済みページは保持しています。");
    EXPECT_EQ(c->snapshot->value().completedPages(), 0);
    EXPECT_FALSE(c->reading->has_value());
}

// An item keeps its mode, so a retry after the mode changed reads it in the
// old one again: the sentence names a way that reads in the new one, and it does.
TEST(RunRecognition, APageRefusedForItsModeIsToldAWayThatReadsItInTheModeChosenNow) {
    test::RunRoots roots;
    const fs::path png = roots.tmp / "横書き.png";
    const auto bytes = Raster::png(test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, imageLines).image);
    test::writeFile(png, std::string(bytes.begin(), bytes.end()));
    auto confirmer = std::make_shared<test::FakeConfirmer>();
    QueuePorts ports;
    ports.confirmer = confirmer;
    auto c = QueueController::create(std::nullopt, std::nullopt, ports);
    c->recognitionMode = OCRMode::vertical;
    c->select({png}, nullptr);
    test::RunRoots::runToEnd(*c);
    const QueueInput refused = c->snapshot->value().inputs.at(0);
    ASSERT_EQ(refused.pages.at(0).error, ErrorCase::looksHorizontal);
    const std::string told = c->status.get();
    EXPECT_NE(told.find("「OCRを再実行」"), std::string::npos) << told;

    c->recognitionMode = OCRMode::standard;
    test::runTask(c->retryFailures(std::map<UUID, std::set<int64_t>>{{refused.id, {1}}}));
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(120)));
    EXPECT_EQ(c->status.get(), told);
    // "OCRを再実行": a new trial in the mode chosen now.
    confirmer->answers = {true};
    test::runTask(c->startProduct(), std::chrono::seconds(60));
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(120)));
    EXPECT_LE(test::characterErrorRate(joined(imageLines), c->documentPages().at(0).text), 0.05);
}
