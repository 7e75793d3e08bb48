#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "capture/CaptureOutcome.hpp"
#include "capture/PrintOptions.hpp"
#include "foundation/Raster.hpp"
#include "support/web/WebTestLoad.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"

// Every value of every capture and print choice, each saved once through the
// web pane's own buttons in a real window, over one short page with a mark at
// its right edge: the files are the size the choices ask for, the mark in them.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Paper = PrintOptions::Paper;
using Output = PrintOptions::Output;

class SaveChoicesTest : public test::WebPaneFixture {};

TEST_F(SaveChoicesTest, EachCaptureAndPrintChoiceSavesFilesOfTheSizeItAsksFor) {
    server.html("/short", test::page("短い", "<style>html,body{margin:0}</style><div style='height:1200px'></div>"
                                             "<div style='position:absolute;right:0;top:0;width:24px;height:24px;"
                                             "background:#f00'></div>"));
    server.html("/tall", test::page("長い", "<div style='height:40000px'></div>"));
    auto model = makeModel();
    model->widthMode = "current";
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto tab = model->selectedTab();
    tab->browser->setWaitBounds(test::patientBounds());
    load(*model, "/short");
    const int64_t current = std::lround(tab->browser->viewMetrics().boundsWidth);
    // The files a click on the button adds, once the save has ended.
    const auto saved = [&](const char* button) {
        const auto files = [&] {
            std::set<fs::path> found;
            for (const auto& entry : fs::recursive_directory_iterator(out)) found.insert(entry.path());
            return found;
        };
        const std::set<fs::path> before = files();
        click(shownNamed(shown.content, button));
        EXPECT_TRUE(test::spinUntil([&] { return tab->browser->hasPendingOperation(); }, 10s));
        EXPECT_TRUE(test::spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 120s));
        std::vector<fs::path> added;
        for (const auto& file : files()) {
            if (!before.contains(file) && fs::is_regular_file(file)) added.push_back(file);
        }
        return added;
    };

    // widthMode, mobileWidth, customWidth, scale, lazyLoad, waitSeconds, and the width asked for.
    const std::vector<std::tuple<std::string, int64_t, int64_t, int64_t, bool, int64_t, int64_t>> choices{
        {"current", 430, 1440, 2, true, 3, current}, {"mobile", 375, 1440, 1, true, -1, 375},
        {"mobile", 390, 1440, 2, false, 0, 390},     {"mobile", 430, 1440, 1, false, 1, 430},
        {"custom", 430, 1000, 1, true, 5, 1000},     {"custom", 430, 600, 2, false, 10, 600}};
    for (const auto& [mode, mobile, custom, scale, lazy, wait, width] : choices) {
        model->widthMode = mode, model->mobileWidth = mobile, model->customWidth = custom;
        model->scale = scale, model->lazyLoad = lazy, model->waitSeconds = wait;
        const std::string asked = mode + " " + std::to_string(width) + " ×" + std::to_string(scale);
        const std::vector<fs::path> files = saved(CapturePanel::captureName);
        EXPECT_EQ(files.size(), 1u) << asked << ": " << tab->browser->stage.get();
        if (files.size() != 1) continue;
        const auto png = RasterImage::adopt(gdk_pixbuf_new_from_file(files[0].c_str(), nullptr));
        ASSERT_TRUE(png) << asked;
        EXPECT_EQ(png.width(), width * scale) << asked;
        EXPECT_EQ(png.height(), 1200 * scale) << asked;
        const uint8_t* mark = png.pixels() + 12 * scale * png.rowStride() + (png.width() - 12 * scale) * png.channels();
        EXPECT_EQ((std::array<int, 3>{mark[0], mark[1], mark[2]}), (std::array<int, 3>{255, 0, 0})) << asked;
    }

    // A page over the height limit at twice the scale is refused naming it.
    load(*model, "/tall");
    model->widthMode = "current", model->waitSeconds = 0;
    EXPECT_TRUE(saved(CapturePanel::captureName).empty());
    EXPECT_EQ(tab->browser->stage.get(), CaptureOutcome::tallerThanLimit(30000) + " 診断コード: WC-036");

    // Each format once, and each paper's page images that size at 150 dpi,
    // within the engine's rounding of the paper to whole points.
    load(*model, "/short");
    for (const auto& [paper, format] : std::vector<std::pair<Paper, Output>>{{Paper::a4, Output::pdf},
                                                                            {Paper::a4, Output::png},
                                                                            {Paper::a3, Output::both},
                                                                            {Paper::b5, Output::png},
                                                                            {Paper::letter, Output::png}}) {
        model->paper = paper, model->format = format;
        const std::string asked = std::string(rawValue(paper)) + " " + std::string(rawValue(format));
        PrintOptions options;
        options.paper = paper;
        const Size points = options.size();
        int pdfs = 0, pngs = 0;
        for (const fs::path& file : saved(CapturePanel::printName)) {
            pdfs += file.extension() == ".pdf";
            if (file.extension() != ".png") continue;
            ++pngs;
            const auto png = RasterImage::adopt(gdk_pixbuf_new_from_file(file.c_str(), nullptr));
            ASSERT_TRUE(png) << asked;
            EXPECT_NEAR(png.width(), 150 * points.width / 72, 2) << asked;
            EXPECT_NEAR(png.height(), 150 * points.height / 72, 2) << asked;
        }
        EXPECT_EQ(pdfs, format == Output::png ? 0 : 1) << asked << ": " << tab->browser->stage.get();
        EXPECT_EQ(pngs > 0, format != Output::pdf) << asked;
    }
}
