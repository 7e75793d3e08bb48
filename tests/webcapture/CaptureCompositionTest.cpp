#include <gtest/gtest.h>

#include <png.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/ProductBrand.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/Errors.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureOutcome.hpp"
#include "webcapture/CaptureComposition.hpp"
#include "webcapture/CaptureRun.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::runTask;
using test::spinUntil;
using Stage = WebCaptureDiagnosticStage;
namespace fs = std::filesystem;

namespace {

using RGB = std::array<uint8_t, 3>;

constexpr int64_t pageWidth = 390;
constexpr int bands = 30;  // of 100 CSS pixels: a 3000-pixel page
const RGB headColour{255, 0, 255};
const RGB footColour{0, 255, 255};

RGB bandColour(int i) {
    return {static_cast<uint8_t>(i * 71 % 200), static_cast<uint8_t>(i * 113 % 200),
            static_cast<uint8_t>(80 + i * 29 % 150)};
}

std::string css(const RGB& c) {
    return "rgb(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) + ")";
}

// Solid bands of 100 pixels, the whole page wide, with more in front of them.
std::string bandPage(const std::string& before, const std::string& after = "") {
    std::string html = "<!doctype html><html><head><meta charset=utf-8><title>帯</title>"
                       "<style>html,body{margin:0}.band{height:100px}</style></head><body>" +
                       before;
    for (int i = 0; i < bands; ++i) html += "<div class=band style=\"background:" + css(bandColour(i)) + "\"></div>";
    return html + after + "</body></html>";
}

// A sticky header and a fixed footer, each 100 pixels wide at the left, over
// the bands; sticky elements without a box; an element fixed by a class,
// without a style attribute.
const std::string frozenElements =
    "<style>.pinned{position:fixed;right:0;top:10px;width:20px;height:20px;background:" + css(footColour) +
    "}</style><div class=pinned></div>"
    "<div id=head style=\"position:sticky;top:0;width:100px;height:60px;margin-bottom:-60px;background:" +
    css(headColour) +
    "\"></div>"
    "<div style=\"position:sticky;top:0;display:none;height:50px;background:red\"></div>"
    "<div style=\"position:sticky;top:0;display:contents\"></div>"
    "<div id=foot style=\"position:fixed;left:0;bottom:0;width:100px;height:40px;background:" +
    css(footColour) + "\"></div>";

// Text over the bands: what a real page puts at tile seams.
std::string prose() {
    std::string text = "<div style=\"position:absolute;top:0;left:0;right:0;font:16px/1.5 sans-serif\">";
    for (int i = 0; i < 110; ++i) text += "<p style=\"margin:0 8px 3px\">段落 " + std::to_string(i) + " 縦長の画像 seams</p>";
    return text + "</div>";
}

// Every style attribute of the document, in document order.
const char* const styleAttributes =
    "JSON.stringify([...document.querySelectorAll('*')].map(e=>e.getAttribute('style')))";

RGB pixel(const PixelBuffer& b, int64_t x, int64_t y) {
    const uint8_t* p = b.row(y) + x * 4;
    return {p[2], p[1], p[0]};
}

// Where a colour occurs down one column: [first, end) of each run.
std::vector<std::pair<int64_t, int64_t>> runsOf(const PixelBuffer& b, int64_t x, const RGB& colour) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int64_t y = 0; y < b.height(); ++y) {
        if (pixel(b, x, y) != colour) continue;
        if (!runs.empty() && runs.back().second == y) {
            ++runs.back().second;
        } else {
            runs.push_back({y, y + 1});
        }
    }
    return runs;
}

// What an error says, for a failure message.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an error that is no exception";
    }
}

struct CaptureResult {
    std::unique_ptr<CaptureRun> run;
    std::vector<ComposedPart> parts;
    std::exception_ptr error;
};

class CaptureComposition : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "storage");
        session_ = std::make_unique<BrowserSession>(false, test::sharedPersistentStore());
        session_->setWaitBounds(test::patientBounds());
        window_ = std::make_unique<test::WebTestWindow>(session_->frame());
        ASSERT_TRUE(window_->waitUntilShown());
    }
    void TearDown() override {
        window_.reset();
        session_.reset();
    }

    void load(const std::string& html) {
        const std::string path = "/p" + std::to_string(++pages_);
        server_.html(path, html);
        ASSERT_TRUE(test::loadPage(*session_, server_.url(path), "帯"));
        ASSERT_EQ(session_->currentURL.get(), server_.url(path));
    }

    CaptureOptions options(int64_t scale) {
        CaptureOptions o;
        o.diagnostic = diagnostic_;
        o.scale = scale;
        o.viewportWidth = pageWidth;
        o.lazyLoad = false;
        return o;
    }

    // Prepares and takes a capture; tune may change the prepared run's
    // options before the parts are taken. On success the page stays frozen
    // until finish().
    static Task<void> capture(BrowserSession& session, CaptureOptions options, fs::path output,
                              std::function<void(CaptureRun&)> tune, CaptureResult* result) {
        try {
            result->run = co_await session.prepareCapture(std::move(options));
            if (tune) tune(*result->run);
            PartHandOver handOver = [result](ComposedPart part) -> Task<void> {
                result->parts.push_back(std::move(part));
                co_return;
            };
            co_await session.captureParts(*result->run, output, std::move(handOver));
        } catch (...) {
            result->error = std::current_exception();
        }
    }

    CaptureResult take(CaptureOptions o, std::function<void(CaptureRun&)> tune = nullptr) {
        CaptureResult r;
        runTask(capture(*session_, std::move(o), dir_ / "out", std::move(tune), &r), 30s);
        return r;
    }

    // Puts the page back after a successful capture.
    void finish(CaptureResult& r) {
        if (!r.run) return;
        runTask(r.run->restore());
        r.run->release();
    }

    std::string evaluate(const std::string& script) { return runTask(test::evaluate(session_->webView(), script)); }

    // The whole document as the view draws it at the capture's zoom.
    PixelBuffer wholeDocument() {
        GObjectRef<GdkTexture> texture =
            runTask(session_->snapshot(WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE));
        PixelBuffer b(gdk_texture_get_width(texture.get()), gdk_texture_get_height(texture.get()));
        gdk_texture_download(texture.get(), b.data(), static_cast<gsize>(b.bytesPerRow()));
        return b;
    }

    test::TempDir dir_;
    AppRuntime::ScopedOverride runtime_{AppRuntime{dir_ / "storage", dir_ / "out"}};
    test::WebTestServer server_;
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
    std::shared_ptr<WebCaptureDiagnostic> diagnostic_ = std::make_shared<WebCaptureDiagnostic>(nullptr);
    int pages_ = 0;
};

}  // namespace

// The bands land on their own rows at both scales; the sticky header shows
// once, at the top where it stood, and the fixed footer once, at the foot of
// the first viewport; sticky elements without a box do not stop the capture.
TEST_F(CaptureComposition, StickyAndFixedElementsAppearOnceWhereTheyStoodAtFreeze) {
    load(bandPage(frozenElements));
    for (int64_t s : {1, 2}) {
        SCOPED_TRACE("scale " + std::to_string(s));
        CaptureResult r = take(options(s));
        ASSERT_FALSE(r.error) << describe(r.error);
        ASSERT_EQ(r.parts.size(), 1u);
        const PixelBuffer& image = *r.parts[0].image;
        ASSERT_EQ(image.width(), pageWidth * s);
        ASSERT_EQ(image.height(), 3000 * s);
        EXPECT_GT(r.run->planned->plan.tiles(r.parts[0].span).size(), 3u);
        for (int64_t row : {0, 799, 800, 1600, 2999}) {
            EXPECT_EQ(pixel(image, 300 * s, row * s), bandColour(static_cast<int>(row / 100))) << row;
            EXPECT_EQ(pixel(image, 300 * s, row * s + s - 1), bandColour(static_cast<int>(row / 100))) << row;
        }
        using Runs = std::vector<std::pair<int64_t, int64_t>>;
        EXPECT_EQ(runsOf(image, 50 * s, headColour), (Runs{{0, 60 * s}}));
        const auto viewport = static_cast<int64_t>(r.run->viewportHeight);
        EXPECT_EQ(runsOf(image, 50 * s, footColour), (Runs{{(viewport - 40) * s, viewport * s}}));
        // The element fixed by its class, at the right edge, 10 pixels down.
        EXPECT_EQ(runsOf(image, 380 * s, footColour), (Runs{{10 * s, 30 * s}}));
        finish(r);
    }
}

// Without fixed or sticky elements the tiles join into exactly what the view
// draws of the whole document: crops, offsets and zoom are right to the pixel.
TEST_F(CaptureComposition, TilesJoinIntoTheWholeDocumentPixelForPixel) {
    load(bandPage(prose()));
    for (int64_t s : {1, 2}) {
        SCOPED_TRACE("scale " + std::to_string(s));
        CaptureResult r = take(options(s));
        ASSERT_FALSE(r.error) << describe(r.error);
        ASSERT_EQ(r.parts.size(), 1u);
        const PixelBuffer& image = *r.parts[0].image;
        const PixelBuffer whole = wholeDocument();
        ASSERT_EQ(whole.width(), image.width());
        ASSERT_EQ(whole.height(), image.height());
        int64_t differ = 0;
        for (int64_t y = 0; y < image.height(); ++y) {
            differ += std::memcmp(image.row(y), whole.row(y), static_cast<std::size_t>(image.bytesPerRow())) != 0;
        }
        EXPECT_EQ(differ, 0) << "rows differ";

        // The last tile is taken where the page could scroll to; the report
        // says where in the snapshot its rows were and what came back.
        const auto& events = diagnostic_->report().events;
        auto last = [&](Stage stage) {
            for (auto e = events.rbegin(); e != events.rend(); ++e) {
                if (e->stage == stage) return e->values;
            }
            return std::map<std::string, double>{};
        };
        const CapturePlan& planned = r.run->planned->plan;
        const CaptureTile tail = planned.tiles(r.parts[0].span).back();
        const int64_t device = gtk_widget_get_scale_factor(GTK_WIDGET(session_->webView()));
        EXPECT_EQ(last(Stage::scroll), (std::map<std::string, double>{{"tileY", tail.top},
                                                                       {"scrollY", tail.scrollTarget},
                                                                       {"tileRows", tail.rows}}));
        const auto start = last(Stage::snapshotStart);
        EXPECT_EQ(start.at("rectY"), tail.top - tail.scrollTarget);
        EXPECT_EQ(start.at("rectHeight"), tail.rows);
        EXPECT_EQ(start.at("snapshotWidth"), static_cast<double>(pageWidth * s) / device);
        EXPECT_EQ(start.at("backingScale"), device);
        const auto tile = last(Stage::snapshotTile);
        EXPECT_EQ(tile.at("actualPixelWidth"), pageWidth * s);
        EXPECT_EQ(tile.at("actualPixelHeight"), tail.rows * s);
        EXPECT_EQ(tile.at("imageLogicalHeight"), static_cast<double>(tail.rows * s) / device);
        EXPECT_EQ(last(Stage::pngEncode),
                  (std::map<std::string, double>{{"pixelWidth", pageWidth * s}, {"pixelHeight", 3000 * s}}));

        const auto plan = planned.memoryPlan(r.run->observed);
        EXPECT_EQ(plan.at("observedCanvasBytesPerRow"), pageWidth * s * 4);
        EXPECT_EQ(plan.at("observedTileBytesPerRow"), pageWidth * s * 4);
        EXPECT_EQ(plan.at("observedTileBitsPerPixel"), 32);
        finish(r);
    }
}

// A page over budget is taken in parts of one tile, each its own bitmap:
// the journal knows their number before the first tile, the hook sees every
// tile and every part's joining, and each part starts on its own rows.
TEST_F(CaptureComposition, SplitPartsAreAnnouncedTakenAndJoinedOneByOne) {
    load(bandPage(""));
    auto journal = std::make_shared<CaptureLifecycle>(dir_ / "storage" / "lifecycle");
    std::vector<CaptureOptions::Stage> seen;
    std::vector<std::optional<int64_t>> expectedAtTile;
    CaptureOptions o = options(1);
    o.lifecycle = journal;
    std::vector<std::string> status;
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        seen.push_back(stage);
        status.push_back(session_->stage.get());
        if (stage == CaptureOptions::Stage::tile) expectedAtTile.push_back(journal->journal().expectedCount);
        co_return;
    };
    int64_t viewport = 0;
    CaptureResult r = take(o, [&](CaptureRun& run) {
        // Between a part's estimate and the whole page's.
        viewport = static_cast<int64_t>(run.viewportHeight);
        run.options.budget = CaptureBudget::estimate(pageWidth, viewport, viewport) + 1;
    });
    ASSERT_FALSE(r.error) << describe(r.error);
    // A part is what one view yields clear of its edges.
    const int64_t height = r.run->planned->plan.partHeight;
    EXPECT_EQ(height, viewport - 2 * CapturePlan::seamMargin);
    const int64_t parts = (3000 + height - 1) / height;
    ASSERT_EQ(static_cast<int64_t>(r.parts.size()), parts);
    EXPECT_EQ(r.run->planned->plan.splitReason(), std::optional<std::string>("memoryBudget"));
    EXPECT_EQ(journal->journal().expectedCount, std::optional<int64_t>(parts));
    ASSERT_FALSE(expectedAtTile.empty());
    EXPECT_EQ(expectedAtTile.front(), std::optional<int64_t>(parts));

    std::vector<CaptureOptions::Stage> expected{CaptureOptions::Stage::waiting};
    for (int64_t k = 0; k < parts; ++k) {
        expected.push_back(CaptureOptions::Stage::tile);
        expected.push_back(CaptureOptions::Stage::joining);
    }
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(status.size(), expected.size());
    EXPECT_EQ(status[1], "撮影中 0/3000");
    EXPECT_EQ(status[2], "結合・保存中");
    EXPECT_EQ(status[3], "撮影中 " + std::to_string(height) + "/3000");
    for (int64_t k = 0; k < parts; ++k) {
        const PixelBuffer& image = *r.parts[k].image;
        EXPECT_EQ(r.parts[k].span.top, k * height);
        EXPECT_EQ(image.height(), std::min(height, 3000 - k * height));
        EXPECT_EQ(pixel(image, 200, 0), bandColour(static_cast<int>(k * height / 100)));
        const int64_t lastRow = k * height + image.height() - 1;
        EXPECT_EQ(pixel(image, 200, image.height() - 1), bandColour(static_cast<int>(lastRow / 100)));
        // The PNG is the bitmap's.
        png_image decoded{};
        decoded.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&decoded, r.parts[k].png.data(), r.parts[k].png.size()));
        EXPECT_EQ(decoded.height, image.height());
        png_image_free(&decoded);
    }
    finish(r);
}

// A page that gets shorter below the rows taken ends its part at its real
// end; one that loses rows above them (rows already taken moved) fails
// instead of handing on shifted rows, and gets its style attributes back.
TEST_F(CaptureComposition, PageThatGetsShorterIsCroppedOrFailsWhenRowsTakenMoved) {
    load(bandPage(frozenElements));
    int tiles = 0;
    CaptureOptions o = options(1);
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage == CaptureOptions::Stage::tile && ++tiles == 2) {
            co_await test::evaluate(session_->webView(),
                                    "document.querySelectorAll('.band').forEach((e,i)=>{if(i>=9)e.remove()});true");
        }
    };
    CaptureResult cropped = take(o);
    ASSERT_FALSE(cropped.error) << describe(cropped.error);
    ASSERT_EQ(cropped.parts.size(), 1u);
    EXPECT_EQ(cropped.parts[0].span, (CapturePartSpan{0, 0, 900}));
    EXPECT_EQ(cropped.parts[0].image->height(), 900);
    EXPECT_EQ(cropped.run->planned->plan.plannedHeight, 3000);
    for (int64_t row : {0, 450, 899}) EXPECT_EQ(pixel(*cropped.parts[0].image, 300, row), bandColour(static_cast<int>(row / 100)));
    auto observed = [&] {
        for (auto e = diagnostic_->report().events.rbegin(); e != diagnostic_->report().events.rend(); ++e) {
            if (e->values.contains("observedHeight")) return e->values;
        }
        return std::map<std::string, double>{};
    };
    // The second tile: from the first one's end, as many rows as the view
    // shows clear of its edges.
    const auto viewport = static_cast<int64_t>(cropped.run->viewportHeight);
    const int64_t margin = CapturePlan::seamMargin;
    EXPECT_EQ(observed(), (std::map<std::string, double>{{"tileY", viewport - margin},
                                                          {"tileRows", viewport - 2 * margin},
                                                          {"documentHeight", 3000},
                                                          {"observedHeight", 900}}));
    finish(cropped);

    load(bandPage(frozenElements));
    const std::string stylesBefore = evaluate(styleAttributes);
    tiles = 0;
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage == CaptureOptions::Stage::tile && ++tiles == 2) {
            co_await test::evaluate(session_->webView(),
                                    "document.querySelectorAll('.band').forEach((e,i)=>{if(i<3)e.remove()});true");
        }
    };
    CaptureResult r = take(o);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(test::caseOf([&] { std::rethrow_exception(r.error); }), ErrorCase::renderFailed);
    EXPECT_TRUE(r.parts.empty());
    EXPECT_EQ(tiles, 2);
    ASSERT_TRUE(diagnostic_->report().failure);
    EXPECT_EQ(diagnostic_->report().failure->stage, Stage::scroll);
    EXPECT_EQ(observed().at("observedHeight"), 2700);
    // The removed bands had style attributes of their own; the rest match.
    const std::string stylesAfter = evaluate(styleAttributes);
    const std::string kept = evaluate("JSON.stringify((()=>{const a=" + stylesBefore +
                                      ";const i=a.findIndex(v=>v&&v.startsWith('background'));a.splice(i,3);return a})())");
    EXPECT_EQ(stylesAfter, kept);
    EXPECT_EQ(evaluate("document.querySelector('.pinned').getAttribute('style')"), "null");
    EXPECT_EQ(evaluate("document.getElementById('head').style.position"), "sticky");
}

// An element the re-pin cannot move is left alone while it is where it
// stood, and fails the capture once scrolling puts it elsewhere.
TEST_F(CaptureComposition, StickyElementThatCannotBeMovedFailsAfterTheFirstScroll) {
    load(bandPage("<div id=odd style=\"position:sticky;top:0;height:20px;background:red\"></div>"
                  "<script>document.getElementById('odd').getBoundingClientRect=()=>new DOMRect(0,0,390,20)</script>"));
    int tiles = 0;
    CaptureOptions o = options(1);
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        tiles += stage == CaptureOptions::Stage::tile;
        co_return;
    };
    CaptureResult r = take(o);
    ASSERT_TRUE(r.error);
    try {
        std::rethrow_exception(r.error);
    } catch (const GLibError& e) {
        EXPECT_NE(e.message().find("capture-position"), std::string::npos) << e.message();
        EXPECT_EQ(CaptureOutcome::failureSentence(r.error), CaptureOutcome::stickyNotPinned);
    } catch (...) {
        ADD_FAILURE() << "expected the page's error";
    }
    EXPECT_EQ(tiles, 2);
    EXPECT_TRUE(r.parts.empty());
    EXPECT_EQ(diagnostic_->report().failure->stage, Stage::scroll);
}

// A cancel between tiles stops the capture before the page is scrolled
// again; the page then goes back to where it was.
TEST_F(CaptureComposition, CancelBetweenTilesStopsBeforeTheNextScroll) {
    load(bandPage("", "<script>window.seen=[];addEventListener('scroll',()=>seen.push(scrollY))</script>"));
    TaskHandle handle;
    int tiles = 0;
    CaptureOptions o = options(1);
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage == CaptureOptions::Stage::tile && ++tiles == 3) handle.cancel();
        co_return;
    };
    CaptureResult r;
    handle = spawn(capture(*session_, o, dir_ / "out", nullptr, &r));
    ASSERT_TRUE(spinUntil([&] { return handle.done(); }, 30s));
    ASSERT_TRUE(r.error);
    EXPECT_THROW(std::rethrow_exception(r.error), CancellationError);
    EXPECT_EQ(tiles, 3);
    EXPECT_TRUE(r.parts.empty());
    const auto viewport = static_cast<int64_t>(r.run ? r.run->viewportHeight : 0);
    // The page hears of a scroll at its next frame, so the way back to the
    // top is waited for; every scroll before it has been heard by then. The
    // second tile's scroll (a margin above its first row), then the way
    // back; never the third.
    EXPECT_TRUE(spinUntil([&] { return evaluate("seen[seen.length-1]===0") == "true"; }));
    EXPECT_EQ(evaluate("JSON.stringify(seen)"),
              "[" + std::to_string(viewport - 2 * CapturePlan::seamMargin) + ",0]");
}
