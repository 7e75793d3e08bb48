#pragma once

// What the browser tests share: the application's stores on the process's
// one persistent test store, pages on the loopback server, tabs shown in
// windows of their own, private captures that wait on an image the server
// holds back, and downloads saved into a granted temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserStores.hpp"
#include "browser/BrowserTab.hpp"
#include "browser/BrowserDownload.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureSelection.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
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

// A folder chooser that stays open until the test answers for the user.
class HeldFolderChooser final : public FolderChooser {
public:
    int opened = 0;
    bool open() const { return pending_.has_value(); }
    void answer(std::optional<std::filesystem::path> folder) {
        if (auto resumer = std::exchange(pending_, std::nullopt)) resumer->resume(std::move(folder));
    }
    Task<std::optional<std::filesystem::path>> choose(const Request&) override {
        ++opened;
        co_return co_await awaitCallback<std::optional<std::filesystem::path>>(
            [this](Resumer<std::optional<std::filesystem::path>> r) { pending_.emplace(std::move(r)); });
    }

private:
    std::optional<Resumer<std::optional<std::filesystem::path>>> pending_;
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

    // Downloads: the settings and output folders of the application on the
    // fixture's storage root, "automatic" into a granted folder.
    struct Logged {
        SafeEvent::Stage stage;
        UUID id;
        std::optional<ErrorCase> error;
    };
    void saveAutomatically(const std::optional<std::filesystem::path>& folder) {
        std::optional<UUID> grant;
        if (folder) grant = access_.approve(*folder).id;
        settings_.change([&](AppPreferences& p) {
            p.saveMode = AppPreferences::SaveMode::automatic;
            p.destinationID = grant;
        });
    }
    void askEachTime() {
        settings_.change([&](AppPreferences& p) { p.saveMode = AppPreferences::SaveMode::ask; });
    }
    BrowserDownload::Services downloadServices() {
        return {&settings_, &access_, [this](SafeEvent::Stage stage, const UUID& id, std::optional<ErrorCase> error, Date) {
                    logged_.push_back({stage, id, error});
                }};
    }
    // What the window does with each download the tab's session hands on.
    void handDownloads(BrowserTab& tab) {
        tab.browser->downloadStarted = [this, &tab](WebKitDownload* d) {
            auto download = BrowserDownload::make(d, tab.id, windowID_, tab.isPrivate(), downloadServices());
            download->changed.connect([&tab] { tab.changed.emit(); });
            auto list = tab.downloads.get();
            list.push_back(std::move(download));
            tab.downloads = std::move(list);
        };
    }
    // Navigates the tab to a path that the server answers with a file, and
    // returns the download the tab gained.
    std::shared_ptr<BrowserDownload> download(BrowserTab& tab, const std::string& path) {
        return downloadFrom(tab, server_.url(path));
    }
    // The same for a whole address (another server's).
    std::shared_ptr<BrowserDownload> downloadFrom(BrowserTab& tab, const std::string& url) {
        const std::size_t before = tab.downloads->size();
        tab.browser->navigate(url);
        EXPECT_TRUE(spinUntil([&] { return tab.downloads->size() > before; }, 60s)) << url;
        return tab.downloads->size() > before ? tab.downloads->back() : nullptr;
    }
    static bool ends(const std::shared_ptr<BrowserDownload>& d) {
        return d && spinUntil([&] { return !d->active(); }, 300s);
    }
    static std::vector<std::string> eventNames(const BrowserDownload& d) {
        std::vector<std::string> names;
        for (const auto& e : d.events()) names.push_back(e.event);
        return names;
    }

    TempDir dir_;
    std::filesystem::path output_ = dir_ / "Screenshots";
    std::filesystem::path granted_ = [this] {
        std::filesystem::create_directories(dir_ / "保存先");
        return dir_ / "保存先";
    }();
    UUID windowID_ = UUID::random();
    SettingsStore settings_{dir_ / "storage" / "settings"};
    HeldFolderChooser chooser_;
    OutputAccess access_{AppRuntime{dir_ / "storage", dir_ / "out"}, &chooser_};
    std::vector<Logged> logged_;
    AppRuntime::ScopedOverride runtime_{AppRuntime{dir_ / "storage", dir_ / "out"}};
    std::shared_ptr<BrowserStores> stores_ = std::make_shared<BrowserStores>(sharedPersistentStore());
    WebTestServer server_;
    // A tab that goes first takes its frame out of its window.
    std::vector<std::unique_ptr<WebTestWindow>> windows_;
};

}  // namespace velmora::test
