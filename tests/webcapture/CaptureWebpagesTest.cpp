// Tall PNGs of real documentation pages, served whole from the shared folder
// of copied pages on loopback and saved as a user saves them, at the desktop
// and the smartphone width, with the default options. Each is saved row for
// row as the engine draws the same frozen page in its whole-document
// snapshot, or refused as the page calls for: too tall for the height limit
// before any scrolling, or with images that cannot be loaded. And the seams
// of the tiles on a page whose every row has a colour of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "support/SharedFolder.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/CaptureComposition.hpp"
#include "webcapture/WebHooks.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureOutcome.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::runTask;
using test::spinUntil;

namespace {

constexpr const char* saved = "画像を保存しました（1枚）";
constexpr int viewHeight = 1000;

// The page paths of the folder's catalogue: every row of its README's tables
// names them in backticks, those of the catalogue and those of pages still
// waiting to be moved into it, whatever the row's first column looks like.
std::vector<std::string> cataloguedPages(const fs::path& folder) {
    std::ifstream in(folder / "README.md");
    std::vector<std::string> pages;
    const std::regex path("`(/[^`]+\\.html)`");
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("| ")) continue;
        for (auto m = std::sregex_iterator(line.begin(), line.end(), path); m != std::sregex_iterator(); ++m)
            pages.push_back((*m)[1]);
    }
    return pages;
}

std::string failure(ErrorCase error, const std::string& code) {
    return std::string(BrindlexError::message(error)) + " 診断コード: " + code;
}

// The rows of the PNG that are not the engine's row (premultiplied BGRA of
// an opaque page) over the PNG's width. Exactly: a row the engine drew
// again at a view's edge differs only by a few channel steps on the edges
// of glyphs.
std::vector<int64_t> rowsDiffering(const RasterImage& png, const PixelBuffer& whole) {
    std::vector<int64_t> rows;
    const int channels = png.channels();
    for (int64_t y = 0; y < png.height() && y < whole.height(); ++y) {
        const uint8_t* s = whole.row(y);
        const uint8_t* d = png.pixels() + y * png.rowStride();
        for (int64_t x = 0; x < png.width(); ++x) {
            const uint8_t* a = d + x * channels;
            const uint8_t* b = s + x * 4;
            if (a[0] != b[2] || a[1] != b[1] || a[2] != b[0]) {
                rows.push_back(y);
                break;
            }
        }
    }
    return rows;
}

std::string first(const std::vector<int64_t>& rows) {
    std::string text;
    for (std::size_t i = 0; i < rows.size() && i < 8; ++i) text += " " + std::to_string(rows[i]);
    return text;
}

// One session in a presented window as wide as the capture, its pages
// served on loopback, each capture followed to its end with its receipt, its
// report and the engine's snapshot of the whole frozen document.
class WebpageCapture {
public:
    explicit WebpageCapture(int width) : width_(width) {
        fs::create_directories(storage_);
        fs::create_directories(outputRoot_);
        WebHooks::shared().logCapture = [this](const WebCaptureDiagnosticReport& report) { report_ = report; };
        session_ = std::make_unique<BrowserSession>(false, test::sharedEphemeralStore());
        session_->setWaitBounds(test::patientBounds());
        // A page's scripts read the view's width as they load (a book's
        // sidebar is shown only on a wide one): the page is loaded as wide
        // as it is saved.
        window_ = std::make_unique<test::WebTestWindow>(session_->frame(), width, viewHeight);
        shown_ = window_->waitUntilShown();
    }
    ~WebpageCapture() { WebHooks::shared().logCapture = nullptr; }

    bool shown() const { return shown_; }
    test::WebTestServer& server() { return server_; }
    BrowserSession& session() { return *session_; }

    bool load(const std::string& path) {
        test::LoadWatch watch(session_->webView());
        session_->navigate(server_.url(path));
        return spinUntil([&] { return watch.finished() > 0 && !session_->loading.get(); }, 30s);
    }

    PageValue eval(const std::string& script) { return runTask(session_->evaluate(script)); }

    // The engine's drawing of the whole document as it stands.
    std::unique_ptr<PixelBuffer> wholeDocument() {
        return runTask(grab(*session_));
    }

    // The view as it shows the page now.
    std::unique_ptr<PixelBuffer> view() { return runTask(grab(*session_, WEBKIT_SNAPSHOT_REGION_VISIBLE)); }

    void capture(int64_t scale = 1) {
        receipt_.reset();
        frozen_.reset();
        report_.reset();
        CaptureOptions o;
        o.viewportWidth = width_;
        o.scale = scale;
        o.filenameStem = "page";
        o.completed = [this](CaptureReceipt r) -> Task<std::optional<std::string>> {
            receipt_ = r;
            co_return std::nullopt;
        };
        // The fixed elements' boxes in the document as the view shows them
        // at its top, before anything is frozen.
        fixedMoved_.clear();
        eval("scrollTo(0,0);window.fixedAtTop=[...document.querySelectorAll('*')].filter(e=>"
             "getComputedStyle(e).position==='fixed'&&e.getClientRects().length>0).map(e=>{"
             "const r=e.getBoundingClientRect();return [e,[r.x+scrollX,r.y+scrollY,r.width,r.height]]});true");
        // After the last tile, while the page is still frozen.
        o.checkpoint = [this](CaptureOptions::Stage stage) -> Task<void> {
            if (stage != CaptureOptions::Stage::joining) co_return;
            frozen_ = co_await grab(*session_);
            const PageValue moved = co_await session_->evaluate(
                "JSON.stringify(fixedAtTop.filter(([e,[x,y,w,h]])=>{const r=e.getBoundingClientRect();"
                "return Math.abs(r.x+scrollX-x)>0.5||Math.abs(r.y+scrollY-y)>0.5||Math.abs(r.width-w)>0.5||"
                "Math.abs(r.height-h)>0.5}).map(([e])=>e.tagName+'#'+e.id+'.'+e.className))");
            fixedMoved_ = moved.stringValue().value_or("?");
        };
        session_->capture(std::move(o), folder_);
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 180s));
    }

    // The one PNG saved.
    std::optional<RasterImage> savedImage() const {
        if (!receipt_ || receipt_->parts.size() != 1) return std::nullopt;
        return Raster::image(folder_ / receipt_->parts[0].file).image;
    }

    const std::optional<CaptureReceipt>& receipt() const { return receipt_; }
    const PixelBuffer* frozen() const { return frozen_.get(); }
    // The fixed elements that the frozen page no longer shows with the box
    // the view gave them at its top (a JSON list; "[]" for none).
    const std::string& fixedMoved() const { return fixedMoved_; }
    const std::optional<WebCaptureDiagnosticReport>& report() const { return report_; }

    // Whether any event of the report is at the stage.
    bool reached(WebCaptureDiagnosticStage stage) const {
        if (!report_) return false;
        for (const auto& e : report_->events) {
            if (e.stage == stage) return true;
        }
        return false;
    }

private:
    static Task<std::unique_ptr<PixelBuffer>> grab(BrowserSession& session,
                                                   WebKitSnapshotRegion region = WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT) {
        GObjectRef<GdkTexture> texture = co_await session.snapshot(region, WEBKIT_SNAPSHOT_OPTIONS_NONE);
        auto whole = std::make_unique<PixelBuffer>(gdk_texture_get_width(texture.get()),
                                                   gdk_texture_get_height(texture.get()));
        gdk_texture_download(texture.get(), whole->data(), static_cast<gsize>(whole->bytesPerRow()));
        co_return whole;
    }

    int width_;
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
    bool shown_ = false;
    std::optional<CaptureReceipt> receipt_;
    std::unique_ptr<PixelBuffer> frozen_;
    std::string fixedMoved_;
    std::optional<WebCaptureDiagnosticReport> report_;
};

// A tile of the save as its report tells it: the page rows it took, where
// the page was asked to scroll and where it stood when its snapshot was
// taken.
struct SavedTile {
    int64_t top = 0;
    int64_t rows = 0;
    int64_t target = 0;
    int64_t scrollY = 0;
};

// The tiles of the save in the order taken; a tile taken again (after the
// page got shorter) replaces the one before it.
std::vector<SavedTile> savedTiles(const WebCaptureDiagnosticReport& report) {
    std::vector<SavedTile> tiles;
    std::optional<SavedTile> scrolled;
    for (const auto& e : report.events) {
        const auto& v = e.values;
        if (e.stage == WebCaptureDiagnosticStage::scroll && v.contains("scrollY")) {
            scrolled = SavedTile{static_cast<int64_t>(v.at("tileY")), static_cast<int64_t>(v.at("tileRows")),
                                 static_cast<int64_t>(v.at("scrollY")), 0};
        } else if (e.stage == WebCaptureDiagnosticStage::snapshotStart && scrolled) {
            scrolled->scrollY = scrolled->top - static_cast<int64_t>(v.at("rectY"));
            std::erase_if(tiles, [&](const SavedTile& t) { return t.top == scrolled->top; });
            tiles.push_back(*scrolled);
            scrolled.reset();
        }
    }
    return tiles;
}

// Of the rows given, those where a pixel of the PNG that differs from the
// whole document is not the view's pixel at that place either, the view
// scrolled exactly where the save's tile of that row stood when it was
// taken, the page frozen again as the save froze it. A row at another place
// in the view is drawn otherwise at the view's edges (the rounded corners
// of a box with an inset shadow, for one), so no other place will do. A
// row that no tile of the report took is wrong.
std::vector<int64_t> rowsNotAsTheViewDraws(WebpageCapture& c, const RasterImage& png, const PixelBuffer& whole,
                                           const std::vector<int64_t>& rows) {
    std::vector<int64_t> wrong;
    if (rows.empty()) return wrong;
    const std::vector<SavedTile> tiles = c.report() ? savedTiles(*c.report()) : std::vector<SavedTile>{};
    const std::string key = "__velmora_test_refrozen";
    c.eval("scrollTo(0,0);true");
    runTask(c.session().waitForAnimationFrames());
    c.eval("window['" + key + "']={x:0,y:0,focus:null,items:[]};true");
    c.eval(CaptureScripts::freeze(key));
    std::unique_ptr<PixelBuffer> view;
    const SavedTile* shown = nullptr;
    const int channels = png.channels();
    for (const int64_t y : rows) {
        const auto tile = std::find_if(tiles.begin(), tiles.end(),
                                       [y](const SavedTile& t) { return t.top <= y && y < t.top + t.rows; });
        if (tile == tiles.end()) {
            wrong.push_back(y);
            continue;
        }
        if (shown != &*tile) {
            // As the save's tile loop does: scroll, let the page draw and
            // settle, pin its sticky and fixed elements again.
            c.eval("scrollTo(0," + std::to_string(tile->target) + ");true");
            runTask(c.session().settleAfterScroll(100ms));
            c.eval(CaptureScripts::repin(key));
            shown = &*tile;
            view = c.eval("scrollY").integer() == tile->scrollY ? c.view() : nullptr;
        }
        const int64_t at = y - tile->scrollY;
        bool differs = !view || at < 0 || at >= view->height();
        for (int64_t x = 0; !differs && x < png.width(); ++x) {
            const uint8_t* a = png.pixels() + y * png.rowStride() + x * channels;
            const uint8_t* b = whole.row(y) + x * 4;
            if (a[0] == b[2] && a[1] == b[1] && a[2] == b[0]) continue;
            const uint8_t* v = x < view->width() ? view->row(at) + x * 4 : nullptr;
            differs = !v || a[0] != v[2] || a[1] != v[1] || a[2] != v[0];
        }
        if (differs) wrong.push_back(y);
    }
    c.eval("(()=>{const s=window['" + key + "'];for(const [e,v] of s.items){if(v===null)e.removeAttribute('style');"
           "else e.setAttribute('style',v)}delete window['" + key + "'];scrollTo(0,0);return true})()");
    return wrong;
}

// The saved PNG against the engine's whole frozen document: as high, as
// wide as the page's layout (the view less a scroll bar that takes room, or
// the document where it is narrower), every row the same.
// The fixed elements keep the boxes the view gave them just before the save
// unless they move in the view by themselves (an animation).
void expectSavedAsDrawn(WebpageCapture& c, const std::string& what, bool fixedStill = true) {
    EXPECT_EQ(c.session().stage.get(), saved) << what;
    const std::optional<RasterImage> png = c.savedImage();
    ASSERT_TRUE(png) << what;
    ASSERT_TRUE(c.frozen()) << what;
    const PixelBuffer& whole = *c.frozen();
    EXPECT_EQ(png->height(), whole.height()) << what;
    EXPECT_EQ(c.receipt()->heightCSS, whole.height()) << what;
    const int64_t layoutWidth = c.eval("document.scrollingElement.clientWidth").integer();
    EXPECT_EQ(png->width(), std::min<int64_t>(layoutWidth, whole.width())) << what;
    EXPECT_EQ(c.receipt()->widthCSS, png->width()) << what;
    ASSERT_LE(png->width(), whole.width()) << what;
    std::vector<int64_t> rows = rowsDiffering(*png, whole);
    // The whole-document snapshot is one drawing of the page, not the only
    // one: it draws some rounded corners a few levels off from the view's
    // own drawing of the same rows, most of all those of boxes with an
    // inset shadow that lie more than about 8,100 px down the document
    // (identical boxes come out different there, while the view draws them
    // alike). Each pixel the save draws otherwise than that snapshot must
    // then be the view's pixel at that place, the view scrolled exactly where
    // the save's tile of that row was; nothing else is let through.
    rows = rowsNotAsTheViewDraws(c, *png, whole, rows);
    EXPECT_TRUE(rows.empty()) << what << ": " << rows.size() << " rows differ:" << first(rows);
    if (fixedStill) {
        EXPECT_EQ(c.fixedMoved(), "[]") << what;
    }
}

}  // namespace

// Every catalogued page at 1280 and 430 px, in one session per width.
TEST(CaptureWebpages, EveryPageSavesAsTheEngineDrawsItOrIsRefusedAsItCallsFor) {
    const fs::path folder = VELMORA_WEBPAGES;
    VELMORA_REQUIRE_SHARED_FOLDER(folder);
    const std::vector<std::string> pages = cataloguedPages(folder);
    ASSERT_GE(pages.size(), 11u) << "the page catalogue " << folder / "README.md";
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        c.server().folder("/", folder);
        for (const std::string& path : pages) {
            const std::string what = path + " at " + std::to_string(width);
            ASSERT_TRUE(c.load(path)) << what;
            // What the page is, from the engine's drawing and the server's
            // answers: its height, and whether an image it shows was
            // missing.
            const int64_t height = c.wholeDocument()->height();
            const std::string images =
                c.eval("JSON.stringify(Array.from(document.images).map(i=>new URL(i.src,location.href).pathname))")
                    .stringValue()
                    .value_or("");
            bool missingImage = false;
            for (const std::string& missing : c.server().notFound())
                missingImage = missingImage || images.find("\"" + missing + "\"") != std::string::npos;
            c.eval("window.scrollsSeen=0;addEventListener('scroll',()=>scrollsSeen++);true");

            c.capture();
            SCOPED_TRACE(what + ", " + std::to_string(height) + " px high");
            ASSERT_TRUE(c.report());
            if (height > 30000) {
                // Refused, naming the height limit, before the page moved.
                EXPECT_EQ(c.session().stage.get(), CaptureOutcome::tallerThanLimit(30000) + " 診断コード: WC-030");
                EXPECT_FALSE(c.reached(WebCaptureDiagnosticStage::scroll));
                runTask(c.session().waitForAnimationFrames());
                EXPECT_EQ(c.eval("scrollsSeen").integer(), 0);
                EXPECT_FALSE(c.receipt());
            } else if (missingImage) {
                EXPECT_EQ(c.session().stage.get(), failure(ErrorCase::incompleteImages, "WC-030"));
                EXPECT_FALSE(c.reached(WebCaptureDiagnosticStage::scroll));
                EXPECT_FALSE(c.receipt());
            } else {
                expectSavedAsDrawn(c, what);
            }
        }
    }
}

// A first block whose negative top margin collapses through the body: the
// body's box starts above the document, rows no scroll reaches. The page
// saves as high as it scrolls.
TEST(CaptureWebpages, BodyMarginAboveTheDocumentIsLeftOut) {
    const std::string html =
        "<!DOCTYPE html><html><head><title>余白</title><style>body{margin:0} .page{margin-top:-50px} "
        ".band{height:500px} .band:nth-child(odd){background:#fcc} .band:nth-child(even){background:#ccf}"
        "</style></head><body><div class=page><div class=band>1</div><div class=band>2</div><div class=band>3</div>"
        "<div class=band>4</div><div class=band>5</div><div class=band>6</div><div class=band>7</div></div></body>"
        "</html>";
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        c.server().html("/margin", html);
        ASSERT_TRUE(c.load("/margin"));
        ASSERT_EQ(c.eval("document.body.scrollHeight").integer(), 3500);
        c.capture();
        expectSavedAsDrawn(c, "at " + std::to_string(width));
        EXPECT_EQ(c.receipt() ? c.receipt()->heightCSS : 0, 3450);
    }
}

namespace {

// A page of ruled paragraphs, 3,000 px high, with one red fixed box inside a
// block 120 px down and 200 px in, the block styled as given.
std::string fixedPage(const std::string& block, const std::string& box) {
    std::string html = "<!doctype html><html><head><meta charset=utf-8><title>固定</title><style>body{margin:0}"
                       "#block{margin:120px 0 0 200px;height:60px;background:#ccf}#box{position:fixed;background:#f00}"
                       "p{margin:0;height:480px;border-top:20px solid #888}</style></head><body><div id=block style=\"" +
                       block + "\"><div id=box style=\"" + box + "\"></div></div>";
    for (int i = 0; i < 6; ++i) html += "<p>段落 " + std::to_string(i) + "</p>";
    return html + "</body></html>";
}

int64_t redPixels(const RasterImage& png) {
    int64_t n = 0;
    for (int64_t y = 0; y < png.height(); ++y) {
        for (int64_t x = 0; x < png.width(); ++x) {
            const uint8_t* p = png.pixels() + y * png.rowStride() + x * png.channels();
            n += p[0] == 255 && p[1] == 0 && p[2] == 0;
        }
    }
    return n;
}

int64_t redPixels(const PixelBuffer& b, int64_t width) {
    int64_t n = 0;
    for (int64_t y = 0; y < b.height(); ++y) {
        for (int64_t x = 0; x < width && x < b.width(); ++x) {
            const uint8_t* p = b.row(y) + x * 4;
            n += p[2] == 255 && p[1] == 0 && p[0] == 0;
        }
    }
    return n;
}

}  // namespace

// A fixed element is saved once, with the place and size the view gives it
// at the top of the document, whatever block it lies in: one that is
// positioned (against which an absolute box would be placed and sized), or
// one that already places its fixed descendants (transform, filter,
// will-change, containment, perspective). Where the engine's whole-document
// snapshot draws the box as the view does (anchored top and left, sized in
// pixels), the save is that snapshot row for row; a box sized or anchored
// against the view's height the snapshot lays out against the whole
// document, so there the save's first view is the view's own drawing, and
// the box is nowhere below it.
TEST(CaptureWebpages, FixedElementsKeepThePlaceAndSizeTheViewGivesThem) {
    struct Case {
        const char* what;
        const char* block;
        const char* box;
        bool asTheDocumentSnapshot;
    };
    const std::string small = "top:8px;left:8px;width:34px;height:34px";
    const std::vector<Case> cases{
        {"relative block", "position:relative", small.c_str(), true},
        {"absolute block", "position:absolute;top:300px;left:150px;width:300px", small.c_str(), true},
        {"transformed block", "transform:translate(30px,40px)", small.c_str(), true},
        {"filtered block", "filter:blur(0px)", small.c_str(), true},
        {"will-change block", "will-change:transform", small.c_str(), true},
        {"contained block", "contain:paint", small.c_str(), true},
        {"perspective block", "perspective:100px", small.c_str(), true},
        {"percentage height", "position:relative", "top:0;left:0;width:40px;height:100%", false},
        {"right and bottom", "position:relative", "right:20px;bottom:10px;width:40px;height:30px", false},
        {"stretched with percentages", "position:relative",
         "left:10px;right:10px;top:50%;height:20%;padding:2%;box-sizing:border-box", false},
    };
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        int n = 0;
        for (const Case& k : cases) {
            const std::string what = std::string(k.what) + " at " + std::to_string(width);
            const std::string path = "/fixed" + std::to_string(++n);
            c.server().html(path, fixedPage(k.block, k.box));
            ASSERT_TRUE(c.load(path)) << what;
            const std::unique_ptr<PixelBuffer> view = c.view();
            const std::unique_ptr<PixelBuffer> whole = c.wholeDocument();
            c.capture();
            EXPECT_EQ(c.session().stage.get(), saved) << what;
            const std::optional<RasterImage> png = c.savedImage();
            ASSERT_TRUE(png) << what;
            ASSERT_EQ(png->height(), whole->height()) << what;
            EXPECT_EQ(c.fixedMoved(), "[]") << what;
            const std::vector<int64_t> inView = rowsDiffering(*png, *view);
            EXPECT_TRUE(inView.empty()) << what << ": " << inView.size() << " rows of the view differ:" << first(inView);
            EXPECT_GT(redPixels(*view, png->width()), 0) << what;
            EXPECT_EQ(redPixels(*png), redPixels(*view, png->width())) << what;
            if (k.asTheDocumentSnapshot) {
                const std::vector<int64_t> rows = rowsDiffering(*png, *whole);
                EXPECT_TRUE(rows.empty()) << what << ": " << rows.size() << " rows differ:" << first(rows);
            }
        }
    }
}

namespace {

// A page of 150 lines of text, about 5,300 px high at 1280, with the given
// style and, before the lines, the given elements.
std::string linesPage(const std::string& style, const std::string& before) {
    std::string html = "<!doctype html><html><head><meta charset=utf-8><title>行</title><style>"
                       "body{margin:0;font:16px sans-serif}" + style + "</style></head><body>" + before;
    for (int i = 1; i <= 150; ++i) html += "<p>line " + std::to_string(i) + ": some text to make the page tall.</p>";
    return html + "</body></html>";
}

}  // namespace

// Fixed and sticky elements with a transition or an animation of their own
// (a "back to top" button with `transition: all`, a drawer off the view's
// left edge that slides in, a badge that bobs, a header that changes with
// the scroll): the freeze and each tile's re-pin place them without the
// transition or animation in the way, so each is saved once where the view
// shows it at the top of the page, and stays there while the page is
// frozen. Those anchored to the view's foot are compared with the view (the
// engine's whole-document snapshot lays them out against the whole
// document), the others with that snapshot too.
TEST(CaptureWebpages, ElementsWithTransitionsOrAnimationsAreFrozenWhereTheViewShowsThem) {
    struct Case {
        const char* what;
        std::string style;
        std::string before;
        bool asTheDocumentSnapshot;
        // Whether the view shows it moving: then its place in the save is
        // one the view showed at some moment, not at the moment compared.
        bool moving = false;
    };
    const std::string button = "<div id=top></div>";
    const std::string box = "width:42px;height:42px;background:#f00;";
    const std::vector<Case> cases{
        {"transition on all", "#top{position:fixed;bottom:12px;right:32px;" + box + "transition:all .3s}", button,
         false},
        {"transition on transform",
         "#top{position:fixed;top:12px;right:32px;" + box + "transform:translateY(4px);transition:transform .3s}",
         button, true},
        {"transition on top", "#top{position:fixed;top:60px;right:32px;" + box + "transition:top .4s}", button, true},
        {"drawer off the view's left edge",
         "#top{position:fixed;top:0;bottom:0;left:-310px;width:300px;background:#f00;transition:left .4s}", button,
         true},
        {"animation",
         "@keyframes bob{from{transform:translateY(0)}to{transform:translateY(30px)}}"
         "#top{position:fixed;top:40px;left:32px;" + box + "animation:bob .7s linear infinite alternate}",
         button, true, true},
        {"sticky header with a transition",
         "header{position:sticky;top:16px;height:48px;background:#f00;transition:all .3s}", "<header></header>", true},
    };
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        int n = 0;
        for (const Case& k : cases) {
            const std::string what = std::string(k.what) + " at " + std::to_string(width);
            const std::string path = "/moving" + std::to_string(++n);
            c.server().html(path, linesPage(k.style, k.before));
            ASSERT_TRUE(c.load(path)) << what;
            const std::unique_ptr<PixelBuffer> view = c.view();
            c.capture();
            EXPECT_EQ(c.session().stage.get(), saved) << what;
            const std::optional<RasterImage> png = c.savedImage();
            // The next case is a page of its own.
            if (!png || !c.frozen()) {
                ADD_FAILURE() << what << ": not saved";
                continue;
            }
            EXPECT_EQ(png->height(), c.frozen()->height()) << what;
            // The element once, as the view showed it: the first view's
            // rows are the view's, and nowhere below is there more of it.
            // One that moves by itself stayed where the freeze found it: the
            // first tile, taken first, is as the page stood after the last.
            if (!k.moving) {
                EXPECT_EQ(c.fixedMoved(), "[]") << what;
                const std::vector<int64_t> inView = rowsDiffering(*png, *view);
                EXPECT_TRUE(inView.empty()) << what << ": " << inView.size() << " rows of the view differ:"
                                            << first(inView);
                EXPECT_EQ(redPixels(*png), redPixels(*view, png->width())) << what;
            } else {
                // Stopped between two pixels, its edges are blends that
                // the view, stopped elsewhere, draws otherwise: its inside
                // is there, and all of it within the first view.
                const int64_t red = redPixels(*png);
                EXPECT_GT(red, 0) << what;
                int64_t below = 0;
                for (int64_t y = view->height(); y < png->height(); ++y) {
                    for (int64_t x = 0; x < png->width(); ++x) {
                        const uint8_t* p = png->pixels() + y * png->rowStride() + x * png->channels();
                        below += p[0] == 255 && p[1] == 0 && p[2] == 0;
                    }
                }
                EXPECT_EQ(below, 0) << what;
            }
            if (k.asTheDocumentSnapshot) expectSavedAsDrawn(c, what, !k.moving);
        }
    }
}

// A document one view high whose text scrolls in a pane of its own beside a
// navigation column (a generator's "tree view" layout) is refused as an
// inner scroller at every width, the pane as narrow as the view makes it:
// saving the view would pass its first lines off as the page. The report
// names the pane and its content height. A column of links that scrolls by
// itself beside a document, whether that scrolls or is one view high, is
// saved as the view shows it, and so is a one-view page with a small
// scrolling box of text.
TEST(CaptureWebpages, TextPaneThatScrollsByItselfIsRefusedAtEveryWidth) {
    std::string links;
    for (int i = 1; i <= 300; ++i) links += "<a href=#s" + std::to_string(i) + ">Section " + std::to_string(i) + "</a><br>";
    std::string lines;
    for (int i = 1; i <= 150; ++i) lines += "<p>line " + std::to_string(i) + ": some text to make the pane tall.</p>";
    const std::string head = "<!doctype html><html><head><meta charset=utf-8><title>枠</title><style>";
    const std::string treeView =
        head + "html,body{margin:0;height:100%;overflow:hidden;font:16px sans-serif}"
               "#nav{position:absolute;left:0;top:0;bottom:0;width:250px;overflow:auto;background:#eee}"
               "#content{position:absolute;left:250px;right:0;top:0;bottom:0;overflow:auto}"
               "</style></head><body><div id=nav>navigation</div><div id=content class=\"doc main\">" + lines +
        "</div></body></html>";
    const std::string besideScrolling =
        head + "body{margin:0 0 0 250px;font:16px sans-serif}"
               "#nav{position:fixed;left:0;top:0;width:250px;height:100%;overflow:auto;background:#eee}"
               "</style></head><body><nav id=nav>" + links + "</nav>" + lines + "</body></html>";
    const std::string besideOneView =
        head + "html,body{margin:0;height:100%;overflow:hidden;font:16px sans-serif}"
               "#nav{position:absolute;left:0;top:0;bottom:0;width:250px;overflow:auto;background:#eee}"
               "#content{margin-left:250px}</style></head><body><div id=nav>" + links +
        "</div><div id=content><p>One view of text beside the list.</p></div></body></html>";
    std::string code;
    for (int i = 1; i <= 30; ++i) code += "let x" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
    const std::string smallBox =
        head + "body{margin:0;font:16px sans-serif}pre{height:120px;overflow:auto;margin:0}</style></head><body><p>"
               "A page of one view.</p><pre>" + code + "</pre></body></html>";
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        c.server().html("/tree", treeView);
        c.server().html("/beside-scrolling", besideScrolling);
        c.server().html("/beside-one-view", besideOneView);
        c.server().html("/small-box", smallBox);
        const std::string at = " at " + std::to_string(width);

        ASSERT_TRUE(c.load("/tree")) << at;
        const int64_t paneHeight = c.eval("document.getElementById('content').scrollHeight").integer();
        c.capture();
        EXPECT_EQ(c.session().stage.get(), std::string(CaptureOutcome::innerScroller) + " 診断コード: WC-036")
            << "tree view" << at;
        EXPECT_FALSE(c.receipt()) << "tree view" << at;
        EXPECT_FALSE(c.savedImage()) << "tree view" << at;
        ASSERT_TRUE(c.report() && c.report()->failure) << "tree view" << at;
        bool named = false;
        for (const auto& e : c.report()->events) {
            if (e.stage != WebCaptureDiagnosticStage::plan || !e.values.contains("innerScrollHeight")) continue;
            named = true;
            EXPECT_EQ(e.element, "div#content.doc.main") << at;
            EXPECT_EQ(e.values.at("innerScrollHeight"), paneHeight) << at;
            EXPECT_EQ(e.values.at("documentHeight"), viewHeight) << at;
        }
        EXPECT_TRUE(named) << "the refusal names no element" << at;

        for (const std::string path : {"/beside-scrolling", "/beside-one-view", "/small-box"}) {
            ASSERT_TRUE(c.load(path)) << path << at;
            c.capture();
            expectSavedAsDrawn(c, path + at);
        }
    }
}

// Fifty identical boxes with rounded corners and an inset shadow, one every
// 300 px down a 15,000 px page: the save draws every one of them as it draws
// the first, pixel for pixel, wherever it falls in its tile. (The engine's
// whole-document snapshot does not: it draws those below about 8,100 px a
// few levels off at their corners.)
TEST(CaptureWebpages, IdenticalShadowedBoxesSaveAlikeAllTheWayDown) {
    constexpr int boxes = 50;
    std::string html = "<!doctype html><html><head><meta charset=utf-8><title>影</title><style>body{margin:0}"
                       ".b{margin:0 40px 200px;height:100px;background:#f5f5f5;border-radius:11px;"
                       "box-shadow:0 2px 5px #aaa inset}</style></head><body>";
    for (int i = 0; i < boxes; ++i) html += "<div class=b></div>";
    html += "</body></html>";
    for (const int width : {1280, 430}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        c.server().html("/boxes", html);
        ASSERT_TRUE(c.load("/boxes"));
        c.capture();
        const std::optional<RasterImage> png = c.savedImage();
        ASSERT_TRUE(png) << width;
        ASSERT_EQ(png->height(), boxes * 300) << width;
        const auto stride = static_cast<std::size_t>(png->width() * png->channels());
        std::vector<int> unlike;
        for (int i = 1; i < boxes; ++i) {
            for (int64_t y = 0; y < 100; ++y) {
                if (std::memcmp(png->pixels() + y * png->rowStride(), png->pixels() + (300 * i + y) * png->rowStride(),
                                stride) != 0) {
                    unlike.push_back(i);
                    break;
                }
            }
        }
        EXPECT_TRUE(unlike.empty()) << width << ": " << unlike.size() << " boxes drawn otherwise than the first";
    }
}

namespace {

// The colour of CSS row y of the stripe page: every row its own, and next
// rows far apart in each channel.
uint32_t stripe(int64_t y) {
    return (static_cast<uint32_t>(y * 67 % 256) << 16) | (static_cast<uint32_t>(y / 256 * 41 % 256) << 8) |
           static_cast<uint32_t>((y * 131 + 17) % 256);
}

std::string stripePage(int64_t rows, const std::string& style) {
    std::string html = "<!doctype html><html><head><meta charset=utf-8><title>縞</title><style>html,body{margin:0}"
                       "div{height:1px}" + style + "</style></head><body>";
    char colour[64];
    for (int64_t y = 0; y < rows; ++y) {
        std::snprintf(colour, sizeof colour, "<div style=background:#%06x></div>", stripe(y));
        html += colour;
    }
    return html + "</body></html>";
}

}  // namespace

// A page of one-pixel stripes, several views high, saved at both widths and
// both scales: row y of the image is the page's row y / scale, every row,
// every column. The second page styles its scroll bars and is wider than
// the view, so both scroll bars take room from what the page draws in.
TEST(CaptureWebpages, TileSeamsJoinWithoutGapRepeatOrRedrawnRow) {
    constexpr int64_t rows = 3 * viewHeight + 377;
    const std::string plain = stripePage(rows, "");
    const std::string barred =
        stripePage(rows, "::-webkit-scrollbar{width:12px;height:12px}::-webkit-scrollbar-thumb{background:#888}"
                         "body{width:150%}");
    for (const int width : {430, 1280}) {
        WebpageCapture c(width);
        ASSERT_TRUE(c.shown());
        c.server().html("/plain", plain);
        c.server().html("/barred", barred);
        for (const std::string path : {"/plain", "/barred"}) {
            for (const int64_t scale : {1, 2}) {
                const std::string what = path + " at " + std::to_string(width) + " × " + std::to_string(scale);
                ASSERT_TRUE(c.load(path)) << what;
                const int64_t layoutWidth = c.eval("document.scrollingElement.clientWidth").integer();
                c.capture(scale);
                EXPECT_EQ(c.session().stage.get(), saved) << what;
                const std::optional<RasterImage> png = c.savedImage();
                ASSERT_TRUE(png) << what;
                ASSERT_EQ(png->height(), rows * scale) << what;
                ASSERT_EQ(png->width(), layoutWidth * scale) << what;
                std::vector<int64_t> wrong;
                for (int64_t y = 0; y < png->height(); ++y) {
                    const uint32_t want = stripe(y / scale);
                    const uint8_t* row = png->pixels() + y * png->rowStride();
                    for (int64_t x = 0; x < png->width(); ++x) {
                        const uint8_t* p = row + x * png->channels();
                        if (((uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]) != want) {
                            wrong.push_back(y);
                            break;
                        }
                    }
                }
                EXPECT_TRUE(wrong.empty()) << what << ": " << wrong.size() << " rows wrong:" << first(wrong);
            }
        }
    }
}
