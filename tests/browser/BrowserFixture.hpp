#pragma once

// What the browser tests share: the application's stores on the process's
// one persistent test store, pages on the loopback server, tabs shown in
// windows of their own, private captures that wait on an image the server
// holds back, and downloads that only say whether they run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserStores.hpp"
#include "browser/BrowserTab.hpp"
#include "browser/TabDownload.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureSelection.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"

namespace velmora::test {

inline std::string page(const std::string& title, const std::string& body = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title></head><body>" + body +
           "</body></html>";
}

// A download as the tab sees it; every cancel is written to a shared log.
class FakeDownload : public TabDownload {
public:
    FakeDownload(std::string name, bool running, std::vector<std::string>& log)
        : name_(std::move(name)), running_(running), log_(log) {}
    bool active() const override { return running_; }
    void cancel() override {
        log_.push_back(name_);
        running_ = false;
        if (onCancel) onCancel();
    }
    void finish() { running_ = false; }
    std::function<void()> onCancel;

private:
    std::string name_;
    bool running_;
    std::vector<std::string>& log_;
};

class BrowserFixture : public testing::Test {
protected:
    // Shows the tab's frame in a window of its own until the fixture ends.
    BrowserTab& show(BrowserTab& tab) {
        windows_.push_back(std::make_unique<WebTestWindow>(tab.browser->frame(), 900, 700));
        EXPECT_TRUE(windows_.back()->waitUntilShown());
        return tab;
    }
    std::unique_ptr<BrowserTab> newTab(bool privateMode) {
        auto tab = std::make_unique<BrowserTab>(UUID::random(), privateMode, stores_);
        show(*tab);
        return tab;
    }
    // Navigates through the session and waits until the page has loaded
    // (and, when given, the session shows its title).
    void load(BrowserTab& tab, const std::string& path, const std::string& title = "") {
        const std::string url = server_.url(path);
        tab.browser->navigate(url);
        ASSERT_TRUE(spinUntil([&] {
            return tab.browser->currentURL.get() == url && !tab.browser->loading &&
                   !webkit_web_view_is_loading(tab.browser->webView()) &&
                   (title.empty() || tab.browser->pageTitle.get() == title);
        }));
    }
    std::string run(BrowserTab& tab, const std::string& script) {
        return runTask(evaluate(tab.browser->webView(), script));
    }
    WebKitNetworkSession* networkOf(BrowserTab& tab) { return webkit_web_view_get_network_session(tab.browser->webView()); }

    // A tall-PNG capture of the tab's loaded page that waits, as long as
    // the server holds it back, for an image the page adds.
    void startHeldCapture(BrowserTab& tab) {
        server_.held("/held.png", "no image");
        run(tab, "document.body.insertAdjacentHTML('beforeend','<img src=/held.png width=10 height=10>');true");
        ASSERT_TRUE(spinUntil([&] { return server_.requests("/held.png") > 0; }));
        CaptureSelection selection;
        selection.widthMode = "mobile";
        selection.mobileWidth = 390;
        CaptureOptions options = selection.options(std::nullopt);
        options.budget = 805306368;
        tab.browser->capture(std::move(options), output_);
        ASSERT_TRUE(tab.browser->hasPendingOperation());
        ASSERT_TRUE(spinUntil([&] { return tab.browser->stage.get() == "下部の画像を読み込み中"; }));
    }
    // Lets the held image through; the capture then ends (the page's image
    // is no image) and the session is idle again.
    void endHeldCapture(BrowserTab& tab) {
        server_.release("/held.png");
        ASSERT_TRUE(spinUntil([&] { return !tab.browser->hasPendingOperation(); }, 60s));
    }

    TempDir dir_;
    std::filesystem::path output_ = dir_ / "Screenshots";
    AppRuntime::ScopedOverride runtime_{AppRuntime{dir_ / "storage", dir_ / "out"}};
    std::shared_ptr<BrowserStores> stores_ = std::make_shared<BrowserStores>(sharedPersistentStore());
    WebTestServer server_;
    // A tab that goes first takes its frame out of its window.
    std::vector<std::unique_ptr<WebTestWindow>> windows_;
};

}  // namespace velmora::test
