#pragma once

// What the window model's tests share: a service container on temporary
// roots with the process's one persistent test store and a folder chooser
// of the test's own, a window set that counts snapshot requests and names a
// plain presented window, pages on the loopback server, tab frames shown in
// windows of their own, and real tall-PNG captures held by an image the
// server holds back.

#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/BrowserStores.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureSelection.hpp"
#include "capture/WebCaptureDiagnostic.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/FakeFolderChooser.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora::test {

class FakeWindowSet final : public WindowSetLink {
public:
    int snapshots = 0;
    Gtk::Window* window = nullptr;
    // Makes the model of a window the set opens; none without it.
    std::function<std::shared_ptr<WindowModel>()> opener;
    void scheduleSnapshot() override { ++snapshots; }
    Gtk::Window* platformWindow(const UUID&) override { return window; }
    std::shared_ptr<WindowModel> openWindow() override { return opener ? opener() : nullptr; }
};

inline std::string page(const std::string& title, const std::string& body = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title></head><body>" + body +
           "</body></html>";
}

class WindowFixture : public testing::Test {
protected:
    WindowFixture() {
        std::filesystem::create_directories(storage);
        std::filesystem::create_directories(out);
        std::filesystem::create_directories(screenshots);
        services = std::make_unique<AppServices>(AppRuntime{storage, out},
                                                 std::make_shared<BrowserStores>(sharedPersistentStore()), &chooser);
        // The captures' journals, history and diagnostics go to these roots,
        // and their outputs into an approved folder.
        services->wire();
        services->access.approve(out);
        host.set_default_size(400, 300);
        host.present();
        windows.window = &host;
        server.html("/page", page("ページ", "<p>本文</p>"));
    }
    ~WindowFixture() override { host.destroy(); }

    std::shared_ptr<WindowModel> makeModel(std::optional<RestoredWindow> restored = std::nullopt) {
        return WindowModel::create(*services, std::move(restored), windows);
    }

    // Shows the tab's frame in a window of its own until the test ends.
    void show(BrowserTab& tab) {
        frames.push_back(std::make_unique<WebTestWindow>(tab.browser->frame(), 900, 700));
        ASSERT_TRUE(frames.back()->waitUntilShown());
    }
    // Loads a page through the model's navigate, as the address bar does,
    // and waits until it has loaded.
    void load(WindowModel& model, const std::string& path) {
        const std::string url = server.url(path);
        model.setAddress(url);
        model.navigate();
        BrowserSession& session = model.browser();
        ASSERT_TRUE(spinUntil([&] {
            return session.currentURL.get() == url && !session.loading && !webkit_web_view_is_loading(session.webView());
        }));
    }
    std::string run(BrowserTab& tab, const std::string& script) {
        return runTask(evaluate(tab.browser->webView(), script));
    }

    // A tall-PNG capture of the tab's loaded page that waits, as long as the
    // server holds it back, for an image the page adds.
    void startHeldCapture(BrowserTab& tab, const std::string& image = "/held.png") {
        server.held(image, "no image");
        run(tab, "document.body.insertAdjacentHTML('beforeend','<img src=" + image + " width=10 height=10>');true");
        ASSERT_TRUE(spinUntil([&] { return server.requests(image) > 0; }));
        tab.browser->capture(captureOptions(), screenshots);
        ASSERT_TRUE(tab.browser->hasPendingOperation());
        ASSERT_TRUE(spinUntil([&] { return tab.browser->stage.get() == "下部の画像を読み込み中"; }));
    }
    // Lets the held image through; the capture then ends and the session is
    // idle again.
    void endHeldCapture(BrowserTab& tab, const std::string& image = "/held.png") {
        server.release(image);
        ASSERT_TRUE(spinUntil([&] { return !tab.browser->hasPendingOperation(); }, 60s));
    }
    static CaptureOptions captureOptions() {
        CaptureSelection selection;
        selection.widthMode = "mobile";
        selection.mobileWidth = 390;
        CaptureOptions options = selection.options(std::nullopt);
        options.budget = 805306368;
        return options;
    }

    // The event-log records written so far, in no particular order.
    std::vector<SafeEvent> events() const {
        std::vector<SafeEvent> found;
        const auto logs = storage / AppServices::logFolder;
        if (!std::filesystem::exists(logs)) return found;
        for (const auto& name : listNames(logs)) {
            if (name == WebCaptureDiagnostic::latestFileName) continue;
            found.push_back(JSON::decode<SafeEvent>(JSON::parse(readFile(logs / name))));
        }
        return found;
    }

    TempDir dir;
    std::filesystem::path storage = dir / "storage";
    std::filesystem::path out = dir / "out";
    std::filesystem::path screenshots = out / "Screenshots";
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};
    FakeFolderChooser chooser;
    std::unique_ptr<AppServices> services;
    FakeWindowSet windows;
    WebTestServer server;
    Gtk::Window host;
    // A tab that goes first takes its frame out of its window.
    std::vector<std::unique_ptr<WebTestWindow>> frames;
};

}  // namespace velmora::test
