#include <gtest/gtest.h>

#include "foundation/GLibError.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"

using namespace velmora;
using test::runTask;
using test::spinUntil;

// The pages later captures wait for: decoded images, one that never decodes,
// a missing one, and a page that is rendered and measured in a shown window.
TEST(WebHarness, ServesPagesImagesAndFailuresToAShownView) {
    test::WebTestServer server;
    server.image("/blue.png", 120, 80, 0x0000ff);
    server.brokenImage("/broken.png");
    server.status("/gone", 404, "<title>消えた</title>");
    server.html("/page", "<!doctype html><meta charset=utf-8><title>画像</title>"
                         "<img id=ok src=/blue.png><img id=bad src=/broken.png><img id=missing src=/gone>");
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    ASSERT_TRUE(window.waitUntilShown());
    session.navigate(server.url("/page"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "画像" && !session.loading; }));

    auto view = session.webView();
    EXPECT_EQ(runTask(test::evaluate(view, "[ok.complete, ok.naturalWidth, ok.naturalHeight].join()")), "true,120,80");
    EXPECT_EQ(runTask(test::evaluate(view, "[bad.complete, bad.naturalWidth].join()")), "true,0");
    EXPECT_EQ(runTask(test::evaluate(view, "missing.naturalWidth")), "0");
    EXPECT_EQ(runTask(test::evaluate(view, "window.innerWidth > 0 && document.visibilityState")), "visible");
    EXPECT_EQ(server.requests("/gone"), 1);
    // Animation frames run only in a view that is shown.
    EXPECT_EQ(runTask(test::callAsync(view, "return await new Promise(r => requestAnimationFrame(() => r('frame')));")), "frame");

    EXPECT_THROW(runTask(test::evaluate(view, "throw new Error('boom')")), GLibError);
}
