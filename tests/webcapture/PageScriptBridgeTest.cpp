#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/Raster.hpp"
#include "foundation/UptimeClock.hpp"
#include "support/Errors.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::caseOf;
using test::runTask;
using test::spinFor;
using test::spinUntil;

namespace {

std::string page(const std::string& title, const std::string& body, const std::string& head = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title>" + head +
           "</head><body style=\"margin:0\">" + body + "</body></html>";
}

void load(BrowserSession& session, const std::string& url, const std::string& title) {
    ASSERT_TRUE(test::loadPage(session, url, title));
}

// Whether the page still holds a property whose name starts with prefix.
bool pageHas(BrowserSession& session, const std::string& prefix) {
    return runTask(session.evaluate("Object.keys(window).some(k=>k.startsWith('" + prefix + "'))")).booleanValue() ==
           true;
}


ErrorCase caseOfError(const std::exception_ptr& error) {
    return caseOf([&] { std::rethrow_exception(error); });
}

// The snapshot's pixels as straight RGBA (the page is opaque, so the
// premultiplied texture's colours are the colours).
RasterImage imageOf(GdkTexture* texture) {
    int w = gdk_texture_get_width(texture), h = gdk_texture_get_height(texture);
    std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
    gdk_texture_download(texture, argb.data(), static_cast<size_t>(w) * 4);
    std::vector<uint8_t> rgba(argb.size());
    for (size_t i = 0; i < argb.size(); i += 4) {
        uint32_t px;
        std::memcpy(&px, &argb[i], 4);
        rgba[i] = (px >> 16) & 0xff;
        rgba[i + 1] = (px >> 8) & 0xff;
        rgba[i + 2] = px & 0xff;
        rgba[i + 3] = (px >> 24) & 0xff;
    }
    return RasterImage::fromPixels(w, h, 4, rgba);
}

class PageScriptBridge : public testing::Test {
protected:
    test::WebTestServer server_;
    BrowserSession session_{true};
};

}  // namespace

TEST_F(PageScriptBridge, NumbersAreReadOnlyWhenTheyAreLengthsAndScriptErrorsPassThrough) {
    server_.html("/", page("数", "<p>x</p>"));
    test::WebTestWindow window(session_.frame());
    ASSERT_TRUE(window.waitUntilShown());
    load(session_, server_.url("/"), "数");

    EXPECT_EQ(runTask(session_.evaluateInteger("2147483647")), 2147483647);
    EXPECT_EQ(runTask(session_.evaluateInteger("12.9")), 12);
    EXPECT_EQ(runTask(session_.evaluateInteger("true")), 1);
    EXPECT_EQ(runTask(session_.evaluateInteger("false")), 0);
    for (const char* script : {"2147483648", "-0.5", "NaN", "Infinity", "'x'", "null", "undefined", "({})"}) {
        SCOPED_TRACE(script);
        EXPECT_EQ(caseOf([&] { runTask(session_.evaluateInteger(script)); }), ErrorCase::dimensionOverflow);
    }
    EXPECT_EQ(runTask(session_.evaluateDouble("devicePixelRatio")), 1.0);
    EXPECT_EQ(runTask(session_.evaluateDouble("2.5")), 2.5);
    EXPECT_EQ(caseOf([&] { runTask(session_.evaluateDouble("'1'")); }), ErrorCase::dimensionOverflow);

    EXPECT_TRUE(runTask(session_.evaluate("undefined")).isNull());
    EXPECT_TRUE(runTask(session_.evaluate("null")).isNull());
    EXPECT_EQ(runTask(session_.evaluate("document.title")).stringValue(), "数");
    EXPECT_EQ(runTask(session_.evaluate("[1,2]")).kind, PageValue::Kind::other);

    try {
        runTask(session_.evaluate("throw new Error('boom')"));
        ADD_FAILURE() << "the script's error did not come back";
    } catch (const GLibError& e) {
        EXPECT_EQ(e.domain(), WEBKIT_JAVASCRIPT_ERROR);
        EXPECT_EQ(e.code(), WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED);
        EXPECT_NE(e.message().find("boom"), std::string::npos) << e.message();
    }
}

TEST_F(PageScriptBridge, TheReadyMarkerWaitsForTwoFramesAndNeverStaysBehind) {
    server_.html("/", page("動く", "<p>x</p>"));
    server_.html("/still", page("止まる", "<p>x</p>", "<script>window.requestAnimationFrame=()=>0</script>"));
    // A page that drops every marker it is given.
    server_.html("/forget",
                 page("忘れる", "<p>x</p>",
                      "<script>window.requestAnimationFrame=()=>{for(const k of Object.keys(window))"
                      "if(k.startsWith('__brindlex_ready_'))delete window[k];return 0}</script>"));
    test::WebTestWindow window(session_.frame());
    ASSERT_TRUE(window.waitUntilShown());
    // Where frames come, they come however long a loaded machine takes.
    session_.setWaitBounds(test::patientBounds());

    load(session_, server_.url("/"), "動く");
    EXPECT_TRUE(runTask(session_.waitForAnimationFrames()));
    EXPECT_FALSE(pageHas(session_, "__brindlex_ready_"));

    // No frame ever comes: false once the product's deadline has passed on
    // the session's clock, and not before.
    load(session_, server_.url("/still"), "止まる");
    ManualUptimeClock still;
    session_.setClock(still);
    session_.setWaitBounds({});
    test::Spawned<bool> waiting(session_.waitForAnimationFrames());
    // The deadline counts from the marker's placing.
    ASSERT_TRUE(spinUntil([&] { return pageHas(session_, "__brindlex_ready_"); }));
    spinFor(100ms);
    still.advance(0.34);
    spinFor(100ms);
    EXPECT_FALSE(waiting.finished());
    still.advance(0.02);
    ASSERT_TRUE(waiting.finish());
    ASSERT_FALSE(waiting.out->error);
    EXPECT_FALSE(*waiting.out->value);
    session_.setClock(UptimeClock::system());
    EXPECT_FALSE(pageHas(session_, "__brindlex_ready_"));

    // A cancel ends the wait with the cancellation error (the bound is far
    // enough away that the cancel comes first).
    session_.setWaitBounds(test::patientBounds());
    test::Spawned<bool> cancelled(session_.waitForAnimationFrames());
    spinFor(60ms);
    cancelled.handle.cancel();
    ASSERT_TRUE(cancelled.finish());
    EXPECT_THROW(std::rethrow_exception(cancelled.out->error), CancellationError);

    load(session_, server_.url("/forget"), "忘れる");
    EXPECT_EQ(caseOf([&] { runTask(session_.waitForAnimationFrames()); }), ErrorCase::dimensionOverflow);

    // A hidden window draws nothing: the wait ends at its deadline.
    load(session_, server_.url("/"), "動く");
    window.window().set_visible(false);
    spinFor(100ms);
    ManualUptimeClock hidden;
    session_.setClock(hidden);
    session_.setWaitBounds({});
    test::Spawned<bool> unseen(session_.waitForAnimationFrames());
    ASSERT_TRUE(spinUntil([&] { return pageHas(session_, "__brindlex_ready_"); }));
    spinFor(100ms);
    hidden.advance(0.36);
    ASSERT_TRUE(unseen.finish());
    ASSERT_FALSE(unseen.out->error);
    EXPECT_FALSE(*unseen.out->value);
    session_.setClock(UptimeClock::system());
    EXPECT_FALSE(pageHas(session_, "__brindlex_ready_"));
}

TEST_F(PageScriptBridge, TheWidthProbeMeasuresThePageAtTheRequestedWidthAndScale) {
    server_.html("/", page("幅", "<div style=\"height:2000px;background:#3366cc\"></div>"));
    test::WebTestWindow window(session_.frame(), 1280, 800);
    ASSERT_TRUE(window.waitUntilShown());
    load(session_, server_.url("/"), "幅");
    WebKitWebView* view = session_.webView();
    WebCaptureDiagnostic diagnostic([](const WebCaptureDiagnosticReport&) {});

    for (int64_t width : {279, 4097})
        EXPECT_EQ(caseOf([&] { runTask(session_.measureGeometry(width, 1, &diagnostic)); }), ErrorCase::invalidInput);
    EXPECT_TRUE(diagnostic.report().events.empty());

    SavedLayout saved = session_.saveLayout();
    session_.layOutWidth(390, 1);
    CaptureGeometry one = runTask(session_.measureGeometry(390, 1, &diagnostic));
    EXPECT_EQ(one.requestedWidth, 390);
    EXPECT_EQ(one.innerWidth, 390);
    EXPECT_EQ(one.webViewBoundsWidth, 390);
    EXPECT_EQ(one.webViewVisibleWidth, 390);
    EXPECT_EQ(one.windowContentWidth, 1280);
    EXPECT_EQ(one.outputPixelWidth, 390);
    EXPECT_EQ(one.snapshotRectWidth, 390);
    EXPECT_FALSE(diagnostic.report().events.empty());
    EXPECT_EQ(diagnostic.report().events.back().values.at("requestedWidth"), 390);

    session_.layOutWidth(390, 2);
    CaptureGeometry two = runTask(session_.measureGeometry(390, 2, nullptr));
    EXPECT_EQ(gtk_widget_get_width(GTK_WIDGET(view)), 780);
    EXPECT_EQ(two.innerWidth, 390);
    EXPECT_EQ(two.webViewBoundsWidth, 390);
    EXPECT_EQ(two.outputPixelWidth, 780);
    EXPECT_EQ(two.devicePixelRatio, 1.0);
    EXPECT_EQ(two.scale, 2);

    // The visible part of the page comes out at the output width, drawn at
    // the scale, and encodes on a worker.
    auto texture = runTask(session_.snapshot(WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE));
    ASSERT_TRUE(texture);
    EXPECT_EQ(gdk_texture_get_width(texture.get()), 780);
    RasterImage shot = imageOf(texture.get());
    std::vector<uint8_t> png = runTask(BrowserSession::encodePNG(shot));
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
    const uint8_t* px = shot.pixels() + shot.rowStride() * 10 + 10 * 4;
    EXPECT_EQ((px[0] << 16) | (px[1] << 8) | px[2], 0x3366cc);

    runTask(session_.restoreLayout(saved, false, "true"));
    EXPECT_FALSE(session_.frame().allocatedWidth());
    EXPECT_EQ(webkit_web_view_get_zoom_level(view), 1.0);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(GTK_WIDGET(view)) == 1280; }));

    // A view that never takes the width fails once its clock passes 2 s.
    ManualUptimeClock clock;
    session_.setClock(clock);
    test::Spawned<CaptureGeometry> never(session_.measureGeometry(390, 1, nullptr));
    spinFor(300ms);
    EXPECT_FALSE(never.finished());
    clock.advance(2.01);
    ASSERT_TRUE(never.finish());
    EXPECT_EQ(caseOfError(never.out->error), ErrorCase::renderFailed);
    session_.setClock(UptimeClock::system());

    // Outside any window the window's width is the view's own.
    BrowserSession alone(true);
    ViewMetrics m = alone.viewMetrics();
    EXPECT_FALSE(m.attached);
    EXPECT_EQ(m.backingScale, 0);
    EXPECT_EQ(m.windowContentWidth, m.boundsWidth);
    EXPECT_FALSE(alone.saveLayout().window);
}
