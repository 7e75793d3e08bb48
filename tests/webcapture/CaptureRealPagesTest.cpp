// Tall PNGs of pages written as pages in the wild are: scripts that restyle
// the page on every scroll, headers that turn fixed, banners that go away,
// content that grows at the bottom, lazy images, a root that does not
// scroll, sections as high as the view. Each is saved whole (pixel for pixel
// what the engine draws of the same frozen page), cropped with the status
// line that says so, or refused with the stage, tile and heights.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CapturePlan.hpp"
#include "capture/CaptureOutcome.hpp"
#include "webcapture/WebHooks.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::runTask;
using test::spinUntil;

namespace {

constexpr int64_t width = 390;
constexpr const char* saved = "画像を保存しました（1枚）";

std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", rgb);
    return text;
}

// The colour of row block i of a page: distinct for every block of a page.
uint32_t blockColour(int i) {
    return (static_cast<uint32_t>(i * 53 % 200 + 40) << 16) | (static_cast<uint32_t>(i * 97 % 200 + 40) << 8) |
           static_cast<uint32_t>(i * 31 % 200 + 40);
}

// Blocks of the given height, each a colour and a line of text, so a row
// shown twice or left out shows in the image.
std::string blocks(int count, int height, int from = 0) {
    std::string html;
    for (int i = from; i < from + count; ++i) {
        html += "<div class=block style=\"height:" + std::to_string(height) + "px;background:" + hex(blockColour(i)) +
                "\">行 " + std::to_string(i) + " row</div>";
    }
    return html;
}

std::string page(const std::string& title, const std::string& style, const std::string& body) {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title +
           "</title><style>html,body{margin:0}body{font:14px/20px sans-serif}" + style + "</style></head><body>" +
           body + "</body></html>";
}

struct Decoded {
    int64_t width = 0;
    int64_t height = 0;
    // R, G, B, A per pixel.
    std::vector<uint8_t> rgba;

    uint32_t rgb(int64_t x, int64_t y) const {
        const uint8_t* p = rgba.data() + (y * width + x) * 4;
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
};

Decoded decode(const fs::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded out;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return out;
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) return {};
    out.width = image.width;
    out.height = image.height;
    return out;
}

// Rows of the PNG that differ from the engine's bitmap (premultiplied BGRA,
// opaque pages only); -1 when the sizes differ.
int64_t rowsDiffering(const Decoded& png, const PixelBuffer& whole) {
    if (png.width != whole.width() || png.height != whole.height()) return -1;
    int64_t rows = 0;
    for (int64_t y = 0; y < whole.height(); ++y) {
        const uint8_t* s = whole.row(y);
        const uint8_t* d = png.rgba.data() + y * png.width * 4;
        for (int64_t x = 0; x < whole.width(); ++x) {
            if (d[x * 4] != s[x * 4 + 2] || d[x * 4 + 1] != s[x * 4 + 1] || d[x * 4 + 2] != s[x * 4] ||
                d[x * 4 + 3] != s[x * 4 + 3]) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

// Where a colour occurs down one column: [first, end) of each run.
std::vector<std::pair<int64_t, int64_t>> runsOf(const Decoded& png, int64_t x, uint32_t colour) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int64_t y = 0; y < png.height; ++y) {
        if (png.rgb(x, y) != colour) continue;
        if (!runs.empty() && runs.back().second == y) {
            ++runs.back().second;
        } else {
            runs.push_back({y, y + 1});
        }
    }
    return runs;
}
using Runs = std::vector<std::pair<int64_t, int64_t>>;

class CaptureRealPages : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(storage_);
        fs::create_directories(outputRoot_);
        WebHooks::shared().logCapture = [this](const WebCaptureDiagnosticReport& report) { report_ = report; };
        session_ = std::make_unique<BrowserSession>(false, test::sharedEphemeralStore());
        // Scroll listeners run with the frames after a scroll: the capture
        // waits for those however late a loaded machine draws them.
        session_->setWaitBounds(test::patientBounds());
        window_ = std::make_unique<test::WebTestWindow>(session_->frame(), 1024, 800);
        ASSERT_TRUE(window_->waitUntilShown());
    }
    void TearDown() override {
        WebHooks::shared().logCapture = nullptr;
        window_.reset();
        session_.reset();
    }

    // Waits for the page's own title: the address and the end of loading
    // alone can be the previous page's.
    void load(const std::string& path, const std::string& html, const std::string& title) {
        server_.html(path, html);
        session_->navigate(server_.url(path));
        ASSERT_TRUE(spinUntil([&] {
            return session_->currentURL.get() == server_.url(path) && session_->pageTitle.get() == title &&
                   !session_->loading;
        }));
    }

    CaptureOptions options(bool lazyLoad) {
        CaptureOptions o;
        o.viewportWidth = width;
        o.scale = 1;
        o.lazyLoad = lazyLoad;
        o.waitSeconds = 0;
        o.budget = 805306368;
        o.filenameStem = "page";
        o.completed = [this](CaptureReceipt r) -> Task<std::optional<std::string>> {
            receipt_ = r;
            co_return std::nullopt;
        };
        // The whole document as the engine draws the frozen page, taken
        // after the last tile while the page is still frozen.
        o.checkpoint = [this](CaptureOptions::Stage stage) -> Task<void> {
            if (stage != CaptureOptions::Stage::joining) co_return;
            GObjectRef<GdkTexture> texture =
                co_await session_->snapshot(WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE);
            frozen_ = std::make_unique<PixelBuffer>(gdk_texture_get_width(texture.get()),
                                                    gdk_texture_get_height(texture.get()));
            gdk_texture_download(texture.get(), frozen_->data(), static_cast<gsize>(frozen_->bytesPerRow()));
        };
        return o;
    }

    // Requests the capture and waits for its end.
    void capture(CaptureOptions o) {
        receipt_.reset();
        frozen_.reset();
        report_.reset();
        session_->capture(std::move(o), folder_);
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s));
    }

    // The one saved PNG, checked against the frozen page's whole document.
    Decoded savedWhole(int64_t height) {
        EXPECT_EQ(session_->stage.get(), saved);
        if (!receipt_ || receipt_->parts.size() != 1) {
            ADD_FAILURE() << "no single part: " << session_->stage.get();
            return {};
        }
        EXPECT_EQ(receipt_->heightCSS, height);
        EXPECT_FALSE(receipt_->plannedHeightCSS);
        const Decoded png = decode(folder_ / receipt_->parts[0].file);
        EXPECT_EQ(png.height, height);
        if (!frozen_) {
            ADD_FAILURE() << "no snapshot of the frozen page";
            return png;
        }
        EXPECT_EQ(rowsDiffering(png, *frozen_), 0);
        return png;
    }

    // The last event that carries the metric.
    std::map<std::string, double> lastWith(const std::string& metric) const {
        if (!report_) return {};
        for (auto e = report_->events.rbegin(); e != report_->events.rend(); ++e) {
            if (e->values.contains(metric)) return e->values;
        }
        return {};
    }

    static std::string failure(const std::string& sentence, const std::string& code) {
        return sentence + " 診断コード: " + code;
    }

    int64_t viewport() { return runTask(session_->evaluate("innerHeight")).integer(); }

    PageValue eval(const std::string& script) { return runTask(session_->evaluate(script)); }

    test::TempDir dir_;
    fs::path storage_ = dir_ / "storage";
    fs::path outputRoot_ = dir_ / "out";
    fs::path folder_ = outputRoot_ / "Screenshots";
    AppRuntime::ScopedOverride runtime_{AppRuntime{storage_, outputRoot_}};
    SettingsStore settings_{storage_ / "settings"};
    FixedOutputRoots roots_{{outputRoot_}};
    AppHistory::ScopedEnvironment historyEnvironment_{{storage_, &settings_, &roots_}};
    test::WebTestServer server_;
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
    std::optional<CaptureReceipt> receipt_;
    std::unique_ptr<PixelBuffer> frozen_;
    std::optional<WebCaptureDiagnosticReport> report_;
};

}  // namespace

// A documentation site's menu: a sticky placeholder in the flow, then the
// bar, which one scroll listener hides (fixed, above the view) when
// scrolling down and makes sticky when scrolling up, and another gives a
// border past the top. The page keeps its look at the top throughout.
TEST_F(CaptureRealPages, MenuBarMovedByScrollListenersShowsOnceAtTheTop) {
    const uint32_t bar = 0x203040;
    const std::string style = "#reveal{position:sticky;top:0;height:50px;z-index:2}"
                              "#bar{position:relative;height:50px;background:" + hex(bar) + ";z-index:3}"
                              "#bar.bordered{border-bottom:3px solid #ff8000}"
                              "#reveal:hover+#bar{top:0!important}";
    const std::string script =
        "<script>let last=scrollY;const bar=document.getElementById('bar');"
        "addEventListener('scroll',()=>{const y=scrollY;"
        "if(y>last){bar.style.position='fixed';bar.style.top='-60px'}else{bar.style.position='sticky';bar.style.top='0px'}"
        "last=y},{passive:true});"
        "addEventListener('scroll',()=>bar.classList.toggle('bordered',scrollY>0),{passive:true});</script>";
    load("/menu", page("メニュー", style, "<div id=reveal></div><nav id=bar></nav>" + blocks(129, 100) + script),
         "メニュー");
    capture(options(false));
    const Decoded png = savedWhole(13000);
    ASSERT_EQ(png.height, 13000);
    EXPECT_EQ(runsOf(png, 200, bar), (Runs{{50, 100}}));
    EXPECT_TRUE(runsOf(png, 200, 0xff8000).empty());
    for (int i : {0, 64, 128}) EXPECT_EQ(png.rgb(300, 100 + i * 100 + 50), blockColour(i)) << i;
    // The page is its own again afterwards: its listeners restyle it. Its
    // listener must first have seen the scroll back to the top (a scroll
    // event comes with the next frame, which a loaded machine delays), or
    // the scroll below would look like one upwards from the last tile.
    ASSERT_TRUE(spinUntil([&] { return eval("last===scrollY&&scrollY===0").booleanValue() == true; }));
    eval("scrollTo(0,500);true");
    ASSERT_TRUE(spinUntil([&] { return eval("document.getElementById('bar').style.position").stringValue() == "fixed"; }));
}

// A header that turns fixed and 40 pixels lower after 100 pixels of scroll.
TEST_F(CaptureRealPages, ShrinkingHeaderShowsOnceAtItsFullHeight) {
    const uint32_t head = 0x801010;
    const std::string style = "header{height:120px;background:" + hex(head) + "}"
                              "header.compact{position:fixed;top:0;left:0;right:0;height:80px}";
    const std::string script = "<script>addEventListener('scroll',()=>document.querySelector('header')"
                               ".classList.toggle('compact',scrollY>100))</script>";
    load("/header", page("見出し", style, "<header></header>" + blocks(38, 100) + script), "見出し");
    capture(options(true));
    const Decoded png = savedWhole(3920);
    ASSERT_EQ(png.height, 3920);
    EXPECT_EQ(runsOf(png, 200, head), (Runs{{0, 120}}));
}

// A banner at the end that a scroll listener removes at the first scroll:
// the rows taken stay where they were, so the part ends at the new end.
// The same banner at the top moves every row taken: the capture fails.
TEST_F(CaptureRealPages, BannerRemovedByTheFirstScrollCropsOrFailsWhereRowsTakenMoved) {
    const std::string banner = "<div id=banner style=\"height:30px;background:#ffcc00\">お知らせ ×</div>";
    const std::string script =
        "<script>addEventListener('scroll',()=>{const b=document.getElementById('banner');if(b)b.remove()})</script>";
    load("/banner", page("お知らせ", "", blocks(30, 100) + banner + script), "お知らせ");
    capture(options(false));
    EXPECT_EQ(session_->stage.get(), std::string(saved) + " " + CaptureOutcome::heightChanged);
    ASSERT_TRUE(receipt_);
    EXPECT_EQ(receipt_->heightCSS, 3000);
    EXPECT_EQ(receipt_->plannedHeightCSS, 3030);
    ASSERT_EQ(receipt_->parts.size(), 1u);
    EXPECT_EQ(receipt_->parts[0].heightCSS, 3000);
    EXPECT_EQ(receipt_->orderedFiles(folder_).size(), 1u);
    const Decoded png = decode(folder_ / receipt_->parts[0].file);
    EXPECT_EQ(png.height, 3000);
    ASSERT_TRUE(frozen_);
    EXPECT_EQ(rowsDiffering(png, *frozen_), 0);
    EXPECT_EQ(lastWith("observedHeight").at("documentHeight"), 3030);
    EXPECT_EQ(lastWith("observedHeight").at("observedHeight"), 3000);
    ASSERT_TRUE(report_);
    EXPECT_FALSE(report_->failure);

    load("/top-banner", page("上のお知らせ", "", banner + blocks(30, 100) + script), "上のお知らせ");
    capture(options(false));
    EXPECT_EQ(session_->stage.get(), failure(CaptureOutcome::rowsMoved, "WC-038"));
    ASSERT_TRUE(report_ && report_->failure);
    EXPECT_EQ(report_->failure->appError, ErrorCase::renderFailed);
    const auto seen = lastWith("observedHeight");
    // The second tile: the first one stops a seam margin short of the view's end.
    EXPECT_EQ(seen.at("tileY"), viewport() - CapturePlan::seamMargin);
    EXPECT_EQ(seen.at("documentHeight"), 3030);
    EXPECT_EQ(seen.at("observedHeight"), 3000);
    EXPECT_FALSE(fs::exists(folder_ / "page_001.png"));
}

// More content appended as the bottom comes near, with no lazy loading to
// bring it in first: the tile that finds the page taller names itself.
TEST_F(CaptureRealPages, PageThatGrowsAtTheBottomFailsNamingTheTile) {
    const std::string script =
        "<script>addEventListener('scroll',()=>{if(window.grown||scrollY<1||2*innerHeight+scrollY<"
        "document.documentElement.scrollHeight)return;grown=true;"
        "const d=document.createElement('div');d.style.height='2000px';"
        "d.style.background='#00aa00';document.body.append(d)})</script>";
    load("/grow", page("続き", "", blocks(25, 100) + script), "続き");
    capture(options(false));
    EXPECT_EQ(session_->stage.get(), failure(CaptureOutcome::heightChangedDuringSave, "WC-038"));
    ASSERT_TRUE(report_ && report_->failure);
    EXPECT_EQ(report_->failure->stage, WebCaptureDiagnosticStage::scroll);
    const auto seen = lastWith("observedHeight");
    const int64_t v = viewport();
    // The page grows in its scroll listener, which runs a frame after the
    // scroll that comes within a view of the end: the tile of that scroll or,
    // at the latest, the last tile sees it, and nothing after it is taken.
    const CapturePlan plan = CapturePlan::make({width, 1, static_cast<double>(v), 2500, 30000, int64_t{1} << 40});
    const std::vector<CaptureTile> tiles = plan.tiles(plan.part(0));
    ASSERT_GE(tiles.size(), 2u);
    const int64_t last = tiles.back().top, before = tiles[tiles.size() - 2].top;
    EXPECT_TRUE(seen.at("tileY") == last || seen.at("tileY") == before) << seen.at("tileY");
    EXPECT_EQ(seen.at("documentHeight"), 2500);
    EXPECT_EQ(seen.at("observedHeight"), 4500);
    EXPECT_FALSE(receipt_);
}

// A sticky table header inside a long table beside a sticky sidebar.
TEST_F(CaptureRealPages, StickyTableHeaderAndSidebarShowOnce) {
    const uint32_t head = 0xaa0000, side = 0x00aa00;
    std::string rows;
    for (int i = 0; i < 120; ++i) {
        rows += "<tr><td style=\"height:29px;background:" + hex(blockColour(i)) + "\">" + std::to_string(i) + "</td></tr>";
    }
    const std::string style =
        "#wrap{display:flex;align-items:flex-start}aside{position:sticky;top:0;width:80px;height:300px;background:" +
        hex(side) + "}table{flex:1;border-collapse:collapse;border-spacing:0}td{padding:0}"
        "th{position:sticky;top:0;height:40px;padding:0;background:" + hex(head) + "}";
    load("/table",
         page("表", style,
              blocks(3, 100) + "<div id=wrap><aside></aside><table><thead><tr><th></th></tr></thead><tbody>" + rows +
                  "</tbody></table></div>" + blocks(10, 100, 3)),
         "表");
    capture(options(true));
    const int64_t height = eval("document.documentElement.scrollHeight").integer();
    const Decoded png = savedWhole(height);
    ASSERT_EQ(png.height, height);
    EXPECT_EQ(runsOf(png, 40, side), (Runs{{300, 600}}));
    EXPECT_EQ(runsOf(png, 200, head), (Runs{{300, 340}}));
}

// Images that load only once scrolled into view, with lazy loading on: the
// pre-scroll brings every one in before the freeze.
TEST_F(CaptureRealPages, ImagesLoadedOnScrollAreAllInTheImage) {
    std::string body;
    for (int i = 0; i < 8; ++i) {
        server_.image("/img" + std::to_string(i) + ".png", 200, 100, blockColour(i + 50));
        body += "<div style=\"height:600px\"><img data-src=/img" + std::to_string(i) +
                ".png width=200 height=100 style=\"display:block\"></div>";
    }
    const std::string script =
        "<script>const io=new IntersectionObserver(es=>{for(const e of es){if(!e.isIntersecting)continue;"
        "e.target.src=e.target.dataset.src;io.unobserve(e.target)}});"
        "document.querySelectorAll('img').forEach(i=>io.observe(i))</script>";
    load("/images", page("画像", "", body + script), "画像");
    capture(options(true));
    const Decoded png = savedWhole(4800);
    ASSERT_EQ(png.height, 4800);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(png.rgb(100, i * 600 + 50), blockColour(i + 50)) << "image " << i;
}

// The root does not scroll; an inner element holds the page. The capture
// sees only one view of it, so it refuses rather than pass that off as the
// page, and the report says how high the inner content is.
TEST_F(CaptureRealPages, RootThatDoesNotScrollIsRefusedWithTheInnerHeight) {
    const std::string style = "html,body{height:100%;overflow:hidden}main{height:100%;overflow:auto}";
    load("/app", page("アプリ", style, "<main>" + blocks(40, 100) + "</main>"), "アプリ");
    capture(options(true));
    EXPECT_EQ(session_->stage.get(), failure(CaptureOutcome::innerScroller, "WC-036"));
    ASSERT_TRUE(report_ && report_->failure);
    const auto plan = lastWith("innerScrollHeight");
    EXPECT_EQ(plan.at("innerScrollHeight"), 4000);
    EXPECT_EQ(plan.at("documentHeight"), viewport());
    EXPECT_FALSE(receipt_);
    EXPECT_FALSE(fs::exists(folder_ / "page.png"));

    // The body is the scroller under a root that hides its overflow (a
    // slide deck's scroll view), at a desktop and a phone width.
    const std::string body = "html{overflow:hidden;height:100%}body{height:100%;overflow-y:auto}";
    load("/deck", page("スライド", body, blocks(120, 100)), "スライド");
    for (int64_t captureWidth : {1280, 430}) {
        CaptureOptions o = options(true);
        o.viewportWidth = captureWidth;
        capture(std::move(o));
        EXPECT_EQ(session_->stage.get(), failure(CaptureOutcome::innerScroller, "WC-036")) << captureWidth;
        EXPECT_EQ(lastWith("innerScrollHeight")["innerScrollHeight"], 12000) << captureWidth;
        EXPECT_FALSE(receipt_) << captureWidth;
        EXPECT_FALSE(fs::exists(folder_ / "page.png")) << captureWidth;
    }

    // A page of one view with a small scrolling box is still a page.
    load("/box", page("箱", "pre{height:100px;overflow:auto;margin:0}", "<pre>" + std::string(40, '\n') + "</pre>"), "箱");
    capture(options(true));
    EXPECT_EQ(session_->stage.get(), saved);
}

// Sections as high as the view: the image has them at the capture's view
// height.
TEST_F(CaptureRealPages, ViewHighSectionsSaveAtTheCapturesViewHeight) {
    std::string body;
    for (int i = 0; i < 5; ++i) body += "<section style=\"height:100vh;background:" + hex(blockColour(i)) + "\">第" + std::to_string(i) + "節</section>";
    load("/sections", page("節", "", body), "節");
    capture(options(true));
    const int64_t v = viewport();
    const Decoded png = savedWhole(5 * v);
    ASSERT_EQ(png.height, 5 * v);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(runsOf(png, 300, blockColour(i)), (Runs{{i * v, (i + 1) * v}})) << i;
}

// A banner that fades out once the page is scrolled past 100 pixels and
// back in at the top, over a second: the capture's own scrolling down and
// back starts that fade, which must have ended, the banner whole, before
// the first tile, at a desktop and a phone width.
TEST_F(CaptureRealPages, ABannerFadedByTheCapturesOwnScrollingIsSavedWhole) {
    const uint32_t colour = 0x1050a0;
    const std::string style = "#banner{height:120px;background:" + hex(colour) +
                              ";transition:opacity 1s linear}#banner.away{opacity:0}p{margin:0 0 8px}";
    std::string body = "<div id=banner></div>";
    for (int i = 0; i < 150; ++i) body += "<p>段落 " + std::to_string(i) + " paragraph</p>";
    const std::string script = "<script>addEventListener('scroll',()=>document.getElementById('banner')"
                               ".classList.toggle('away',scrollY>100))</script>";
    load("/fade", page("帯", style, body + script), "帯");
    for (int64_t captureWidth : {1280, 430}) {
        CaptureOptions o = options(true);
        o.viewportWidth = captureWidth;
        o.filenameStem = "fade" + std::to_string(captureWidth);
        capture(std::move(o));
        ASSERT_EQ(session_->stage.get(), saved) << captureWidth;
        ASSERT_TRUE(receipt_ && receipt_->parts.size() == 1);
        const Decoded png = decode(folder_ / receipt_->parts[0].file);
        ASSERT_EQ(png.width, captureWidth);
        for (int64_t y : {2, 60, 117}) EXPECT_EQ(hex(png.rgb(captureWidth / 2, y)), hex(colour)) << captureWidth;
        EXPECT_GE(lastWith("runningAnimations")["runningAnimations"], 1) << "the fade was seen and waited for";
    }
}

// A root that scrolls smoothly, as a common framework's stylesheet sets it,
// under a sticky header: the capture's own scrolls jump, and the page keeps
// its setting and its place afterwards.
TEST_F(CaptureRealPages, RootThatScrollsSmoothlySavesAsTheViewShowsIt) {
    const uint32_t head = 0x602080;
    const std::string style = "html{scroll-behavior:smooth}header{position:sticky;top:0;height:50px;background:" +
                              hex(head) + "}";
    load("/smooth", page("滑らか", style, "<header></header>" + blocks(60, 100)), "滑らか");
    for (int64_t captureWidth : {1280, 430}) {
        eval("scrollTo({top:700,behavior:'instant'});true");
        ASSERT_TRUE(spinUntil([&] { return eval("scrollY").integer() == 700; }));
        CaptureOptions o = options(false);
        o.viewportWidth = captureWidth;
        capture(std::move(o));
        const Decoded png = savedWhole(6050);
        ASSERT_EQ(png.height, 6050) << captureWidth;
        EXPECT_EQ(runsOf(png, 10, head), (Runs{{0, 50}})) << captureWidth;
        EXPECT_EQ(eval("scrollY").integer(), 700) << "put back at once, not on its way";
        EXPECT_EQ(eval("getComputedStyle(document.documentElement).scrollBehavior").stringValue(), "smooth");
        EXPECT_TRUE(eval("document.documentElement.getAttribute('style')").isNull());
    }
}

// A root that snaps its scrolling to every block, mandatory or near one:
// no tile is pulled onto a snap point, and the page snaps as before after.
TEST_F(CaptureRealPages, RootThatSnapsItsScrollingSavesAsTheViewShowsIt) {
    for (const std::string snap : {"mandatory", "proximity"}) {
        const std::string style = "html{scroll-snap-type:y " + snap + "}.block{scroll-snap-align:start}";
        load("/snap-" + snap, page("吸着", style, blocks(60, 130)), "吸着");
        const auto snapping = [&] { return eval("getComputedStyle(document.documentElement).scrollSnapType").stringValue(); };
        const auto before = snapping();
        ASSERT_NE(before, "none");
        for (int64_t captureWidth : {1280, 430}) {
            CaptureOptions o = options(false);
            o.viewportWidth = captureWidth;
            capture(std::move(o));
            const Decoded png = savedWhole(7800);
            ASSERT_EQ(png.height, 7800) << snap << " " << captureWidth;
            for (int i : {0, 17, 33, 59}) EXPECT_EQ(png.rgb(300, i * 130 + 60), blockColour(i)) << snap << " " << i;
            EXPECT_EQ(snapping(), before);
        }
    }
}

// A banner that the page's script fades out frame by frame once scrolled and
// back in at the top, and a button to the top that a timer fades in past 300
// pixels and out again: the capture's scrolling starts both fades, and the
// page is saved as it stood before, banner whole and button away.
TEST_F(CaptureRealPages, FadesRunByThePagesScriptAreSavedAsThePageStoodBefore) {
    const uint32_t colour = 0x1050a0, button = 0xe02020;
    const std::string style = "#banner{height:120px;background:" + hex(colour) +
                              "}#up{position:fixed;right:0;bottom:0;width:60px;height:60px;opacity:0;background:" +
                              hex(button) + "}";
    const std::string script =
        "<script>const banner=document.getElementById('banner'),up=document.getElementById('up');"
        "let shown=1,lifted=0;"
        "const frame=()=>{const goal=scrollY>100?0:1;if(shown!==goal){"
        "shown=Math.max(0,Math.min(1,shown+(goal>shown?0.02:-0.02)));banner.style.opacity=shown}"
        "requestAnimationFrame(frame)};requestAnimationFrame(frame);"
        "setInterval(()=>{const goal=scrollY>300?1:0;if(lifted===goal)return;"
        "lifted=Math.max(0,Math.min(1,lifted+(goal>lifted?0.04:-0.04)));up.style.opacity=lifted},16)</script>";
    load("/script-fade", page("フェード", style, "<div id=banner></div>" + blocks(60, 100) + "<div id=up></div>" + script),
         "フェード");
    for (int64_t captureWidth : {1280, 430}) {
        CaptureOptions o = options(true);
        o.viewportWidth = captureWidth;
        o.filenameStem = "fade" + std::to_string(captureWidth);
        capture(std::move(o));
        const Decoded png = savedWhole(6120);
        ASSERT_EQ(png.height, 6120) << captureWidth;
        for (int64_t y : {2, 60, 117}) EXPECT_EQ(hex(png.rgb(captureWidth / 2, y)), hex(colour)) << captureWidth;
        const int64_t bottom = viewport() - 30;
        EXPECT_EQ(hex(png.rgb(captureWidth - 30, bottom)), hex(blockColour(static_cast<int>((bottom - 120) / 100))))
            << captureWidth;
        const double waited = lastWith("viewStillAfter")["viewStillAfter"];
        EXPECT_GT(waited, 0) << "the fades were seen and waited for";
    }
}

// A plain page taller than the limit, with or without lazy loading and at a
// phone's width, where narrowing does not help: the refusal names the height
// and the print-style save.
TEST_F(CaptureRealPages, APageTallerThanTheLimitIsRefusedSayingSo) {
    load("/tall", page("長い", "", blocks(560, 100)), "長い");
    for (const bool lazy : {true, false}) {
        CaptureOptions o = options(lazy);
        o.viewportWidth = 430;
        capture(std::move(o));
        EXPECT_EQ(session_->stage.get(),
                  CaptureOutcome::tallerThanLimit(30000) + " 診断コード: " + (lazy ? "WC-030" : "WC-036"))
            << lazy;
        ASSERT_TRUE(report_ && report_->failure);
        EXPECT_EQ(report_->failure->appError, ErrorCase::budgetExceeded);
        EXPECT_FALSE(receipt_);
        EXPECT_FALSE(fs::exists(folder_));
    }
}

// A feed that appends twenty items 150 ms after its end comes into view: the
// pre-scroll waits for it to stop growing, so three batches are saved whole;
// one that never stops is refused for the height limit, at a desktop and a
// phone width.
TEST_F(CaptureRealPages, AFeedThatGrowsSlowlyIsSavedWholeOrRefusedForItsHeight) {
    std::string batches;
    for (int k = 0; k < 3; ++k) batches += std::string(k ? "," : "") + "'" + blocks(20, 100, 20 + 20 * k) + "'";
    const auto feed = [&](const std::string& limit) {
        return page("フィード", "",
                    "<div id=feed>" + blocks(20, 100) + "</div><div id=end style=\"height:1px\"></div>"
                    "<script>const batches=[" + batches + "];let added=0,waiting=false;"
                    "new IntersectionObserver(es=>{if(!es[0].isIntersecting||waiting||added>=" + limit + ")return;"
                    "waiting=true;setTimeout(()=>{feed.insertAdjacentHTML('beforeend',batches[added++%3]);"
                    "waiting=false},150)}).observe(end)</script>");
    };
    for (int64_t captureWidth : {1280, 430}) {
        load("/feed", feed("3"), "フィード");
        CaptureOptions o = options(true);
        o.viewportWidth = captureWidth;
        capture(std::move(o));
        const Decoded png = savedWhole(8001);
        ASSERT_EQ(png.height, 8001) << captureWidth;
        for (int i : {0, 25, 45, 79}) EXPECT_EQ(png.rgb(captureWidth / 2, i * 100 + 60), blockColour(i)) << i;

        load("/endless", feed("Infinity"), "フィード");
        CaptureOptions endless = options(true);
        endless.viewportWidth = captureWidth;
        endless.maximumHeight = 12000;
        capture(std::move(endless));
        EXPECT_EQ(session_->stage.get(), CaptureOutcome::tallerThanLimit(12000) + " 診断コード: WC-030") << captureWidth;
        EXPECT_FALSE(receipt_) << captureWidth;
    }
}

// A bar fixed at the view's foot casts a shadow below itself, outside the
// view: the save has the bar once, at the foot of the first view, and the
// rows under it as the page draws them.
TEST_F(CaptureRealPages, AFixedBarsShadowOutsideTheViewIsNotSaved) {
    const uint32_t bar = 0x202020;
    const std::string style = "#bar{position:fixed;left:0;right:0;bottom:0;height:60px;background:" + hex(bar) +
                              ";box-shadow:0 25px 50px -12px rgba(0,0,0,.6)}";
    load("/bar", page("帯", style, blocks(30, 100) + "<div id=bar></div>"), "帯");
    for (int64_t captureWidth : {1280, 430}) {
        CaptureOptions o = options(false);
        o.viewportWidth = captureWidth;
        capture(std::move(o));
        const Decoded png = savedWhole(3000);
        ASSERT_EQ(png.height, 3000) << captureWidth;
        const int64_t v = viewport();
        EXPECT_EQ(runsOf(png, captureWidth / 2, bar), (Runs{{v - 60, v}})) << captureWidth;
        for (int64_t y = v; y < v + 70; ++y) {
            ASSERT_EQ(hex(png.rgb(captureWidth / 2, y)), hex(blockColour(static_cast<int>(y / 100))))
                << "row " << y << " at " << captureWidth;
        }
    }
}
