#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BrowserFixture.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::caseOf;
using test::spinUntil;

namespace {

class Tabs : public test::BrowserFixture {};

}  // namespace

TEST_F(Tabs, TheTitleFollowsRestorationThenThePageThenItsHost) {
    auto tab = newTab(false);
    EXPECT_EQ(tab->title(), "空のタブ");

    const std::string place = "127.0.0.1:" + std::to_string(server_.port());
    tab->deferredURL = server_.url("/later");
    EXPECT_EQ(tab->title(), "復元待ち：" + place);
    tab->restorationUnavailable = true;
    EXPECT_EQ(tab->title(), "復元待ち：" + place) << "the deferred address comes first";
    for (const char* address : {"file:///home/user/a.html", "::not an address", "http:///path"}) {
        tab->deferredURL = std::string(address);
        EXPECT_EQ(tab->title(), "復元待ち：ページ") << address;
    }
    tab->deferredURL = std::nullopt;
    EXPECT_EQ(tab->title(), "再度開いてください");
    tab->restorationUnavailable = false;

    server_.html("/a", test::page("ページA の題"));
    load(*tab, "/a", "ページA の題");
    EXPECT_EQ(tab->title(), "ページA の題");

    // WebKitGTK reports at most the first 1000 characters of a document's
    // title; whatever the session holds, however long, is the tab's title.
    std::string longTitle;
    for (int i = 0; i < 100000; ++i) longTitle += static_cast<char>('a' + i % 26);
    tab->browser->pageTitle = longTitle;
    EXPECT_EQ(tab->title(), longTitle);

    server_.html("/untitled", "<!doctype html><body>no title");
    load(*tab, "/untitled");
    ASSERT_TRUE(spinUntil([&] { return tab->browser->pageTitle->empty(); }));
    EXPECT_EQ(tab->title(), place);
}

TEST_F(Tabs, AFailedLoadIsTitledByTheAddressThatFailedUntilAnotherLoad) {
    // A port nobody listens on: the engine cannot reach it.
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(test::WebTestServer::closedPort()) + "/notice";

    // On an empty tab, and after a page: the address that failed either way.
    auto tab = newTab(false);
    tab->browser->navigate(unreachable);
    ASSERT_TRUE(spinUntil([&] { return tab->browser->failedURL->has_value() && !tab->browser->loading; }));
    EXPECT_EQ(tab->title(), unreachable);
    server_.html("/a", test::page("ページA の題"));
    load(*tab, "/a", "ページA の題");
    EXPECT_EQ(tab->title(), "ページA の題");
    tab->browser->navigate(unreachable);
    ASSERT_TRUE(spinUntil([&] { return tab->browser->failedURL->has_value() && !tab->browser->loading; }));
    EXPECT_EQ(tab->title(), unreachable) << "not the page shown before";
    load(*tab, "/a", "ページA の題");
    EXPECT_EQ(tab->title(), "ページA の題");
}

TEST_F(Tabs, ABusyTabIsNotClosedUntilItsWorkHasEnded) {
    auto other = newTab(true);
    auto tab = newTab(true);
    server_.html("/", test::page("保存するページ", "<div style='height:1200px'>本文</div>"));
    load(*tab, "/");
    tab->address = server_.url("/");
    tab->deferredURL = server_.url("/");

    // A capture that waits for an image the server holds back.
    startHeldCapture(*tab);
    EXPECT_TRUE(tab->active());
    int changes = 0;
    auto counting = tab->changed.connect([&] { ++changes; });
    tab->shutdown();
    EXPECT_FALSE(tab->closed());
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(tab->address.get(), server_.url("/"));
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(tab->browser->webView())), GTK_WIDGET(tab->browser->frame().gobj()));
    EXPECT_TRUE(stores_->privateOwners->contains(tab->id));
    endHeldCapture(*tab);

    // A running download keeps it open the same way; a finished one not.
    handDownloads(*tab);
    saveAutomatically(granted_);
    server_.bytes("/done.txt", "text/plain", "done", {{"Content-Disposition", "attachment; filename=done.txt"}});
    auto old = download(*tab, "/done.txt");
    ASSERT_TRUE(ends(old));
    server_.stream("/slow.bin", {.length = 262144, .chunk = 8192, .interval = 20ms,
                                 .headers = {{"Content-Disposition", "attachment; filename=slow.bin"}}});
    auto running = download(*tab, "/slow.bin");
    ASSERT_TRUE(running);
    ASSERT_TRUE(spinUntil([&] { return running->state() == BrowserDownload::State::receiving; }, 60s));
    EXPECT_TRUE(tab->active());
    tab->shutdown();
    EXPECT_FALSE(tab->closed());
    EXPECT_EQ(tab->downloads->size(), 2u);

    ASSERT_TRUE(ends(running));
    EXPECT_EQ(running->state(), BrowserDownload::State::completed);
    EXPECT_FALSE(tab->active());
    tab->shutdown();
    EXPECT_TRUE(tab->closed());
    EXPECT_TRUE(tab->downloads->empty());
    EXPECT_FALSE(tab->deferredURL->has_value());
    EXPECT_EQ(tab->address.get(), "");
    EXPECT_TRUE(tab->browser->closingWeb());
    EXPECT_EQ(stores_->privateOwners.get(), std::set<UUID>{other->id});
    EXPECT_EQ(std::count_if(running->events().begin(), running->events().end(),
                         [](const auto& e) { return e.event == "cancel-handler"; }), 0)
        << "shutting down cancels nothing";

    // Once closed, a second shutdown touches nothing, and in particular does
    // not give back the private store again.
    tab->address = std::string("kept");
    int announced = 0;
    stores_->privateOwnersChanged.connect([&] { ++announced; });
    tab->shutdown();
    EXPECT_EQ(tab->address.get(), "kept");
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(stores_->privateOwners.get(), std::set<UUID>{other->id});

    // The last private tab takes the private store with it.
    other->shutdown();
    EXPECT_TRUE(stores_->privateOwners->empty());
    EXPECT_EQ(stores_->privateStore(), nullptr);
}

TEST_F(Tabs, CancelStopsTheSaveAndEachRunningDownloadOnce) {
    auto tab = newTab(true);
    server_.html("/", test::page("保存するページ", "<div style='height:1200px'>本文</div>"));
    load(*tab, "/");
    handDownloads(*tab);
    saveAutomatically(granted_);
    auto cancels = [](const std::shared_ptr<BrowserDownload>& d) {
        return std::count_if(d->events().begin(), d->events().end(),
                             [](const auto& e) { return e.event == "cancel-handler"; });
    };

    // Idle, with finished downloads only: nothing is called.
    server_.bytes("/done.txt", "text/plain", "done", {{"Content-Disposition", "attachment; filename=done.txt"}});
    auto done1 = download(*tab, "/done.txt");
    ASSERT_TRUE(ends(done1));
    auto done2 = download(*tab, "/done.txt");
    ASSERT_TRUE(ends(done2));
    const std::size_t eventsBefore = done1->events().size();
    const auto traceBefore = tab->browser->operation.get();
    const std::size_t itemsBefore = traceBefore->items().size();
    tab->cancel();
    EXPECT_EQ(done1->events().size(), eventsBefore);
    EXPECT_EQ(done1->state(), BrowserDownload::State::completed);
    EXPECT_EQ(tab->browser->operation.get(), traceBefore);
    EXPECT_EQ(traceBefore->items().size(), itemsBefore) << "not even a late cancel was recorded";

    // Busy: the capture and the running downloads, each once, also when a
    // cancelled download leaves the list at once (as the window drops an
    // ended one).
    server_.stream("/endless.bin", {.length = int64_t{1} << 30, .chunk = 4096, .interval = 50ms,
                                    .headers = {{"Content-Disposition", "attachment; filename=endless.bin"}}});
    auto first = download(*tab, "/endless.bin");
    auto second = download(*tab, "/endless.bin");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(spinUntil([&] {
        return first->state() == BrowserDownload::State::receiving && second->state() == BrowserDownload::State::receiving;
    }, 60s));
    auto leaving = first->changed.connect([&] {
        if (first->state() != BrowserDownload::State::cancelling) return;
        auto list = tab->downloads.get();
        std::erase(list, first);
        tab->downloads = std::move(list);
    });
    tab->downloads = {done1, first, second};
    startHeldCapture(*tab);
    tab->cancel();
    leaving.disconnect();
    EXPECT_EQ(first->state(), BrowserDownload::State::cancelling);
    EXPECT_EQ(second->state(), BrowserDownload::State::cancelling);
    EXPECT_EQ(tab->downloads.get(), (std::vector<std::shared_ptr<BrowserDownload>>{done1, second}));
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    ASSERT_TRUE(ends(first) && ends(second));
    EXPECT_EQ(first->state(), BrowserDownload::State::cancelled);
    EXPECT_EQ(second->state(), BrowserDownload::State::cancelled);
    EXPECT_EQ(cancels(first), 1);
    EXPECT_EQ(cancels(second), 1);
    EXPECT_EQ(cancels(done1), 0);
    EXPECT_EQ(tab->browser->stage.get(), BrindlexError::message(ErrorCase::cancelled));
    int uiCancels = 0;
    for (const auto& item : tab->browser->operation.get()->items())
        if (item.event == OperationTrace::Event::uiCancel) ++uiCancels;
    EXPECT_EQ(uiCancels, 1);
    EXPECT_FALSE(tab->active());
    tab->shutdown();
    EXPECT_TRUE(tab->closed());
}

TEST_F(Tabs, ADeletionStopsOnlyTheTabsOfItsModeAndAGoneStoreStopsAll) {
    server_.html("/a", test::page("A"));
    auto normal = newTab(false);
    auto privateTab = newTab(true);

    ASSERT_TRUE(stores_->beginDeletion(true));
    EXPECT_EQ(caseOf([&] { privateTab->browser->navigate(server_.url("/a")); }), ErrorCase::navigationBusy);
    load(*normal, "/a");
    stores_->endDeletion(true);

    ASSERT_TRUE(stores_->beginDeletion(false));
    EXPECT_EQ(caseOf([&] { normal->browser->navigate(server_.url("/a")); }), ErrorCase::navigationBusy);
    load(*privateTab, "/a");
    stores_->endDeletion(false);
    load(*normal, "/a");

    // A session that outlives its tab and the application's stores has no
    // gate to ask: it refuses.
    std::shared_ptr<BrowserSession> kept = normal->browser;
    std::weak_ptr<BrowserStores> gone = stores_;
    normal.reset();
    // A private tab dropped without a shutdown owns the private store no
    // longer either.
    privateTab.reset();
    EXPECT_TRUE(stores_->privateOwners->empty());
    EXPECT_EQ(stores_->privateStore(), nullptr);
    stores_.reset();
    ASSERT_TRUE(gone.expired());
    EXPECT_EQ(caseOf([&] { kept->navigate(server_.url("/a")); }), ErrorCase::navigationBusy);
}

TEST_F(Tabs, ATabForAPagesNewWindowSharesItsOpenersSessionAndForwardsChangesWhileItLives) {
    // An opener on a store of its own, so sharing it cannot be mistaken for
    // the normal store.
    BrowserSession opener(false, test::sharedEphemeralStore());
    auto child = std::make_unique<BrowserTab>(UUID::random(), false, stores_,
                                              WebViewConfiguration{GObjectRef<WebKitWebView>::ref(opener.webView())});
    show(*child);
    EXPECT_EQ(networkOf(*child), test::sharedEphemeralStore());
    EXPECT_NE(networkOf(*child), stores_->normal());

    int changes = 0;
    child->changed.connect([&] { ++changes; });
    server_.html("/a", test::page("A"));
    load(*child, "/a");
    EXPECT_GT(changes, 0);
    changes = 0;
    child->address = std::string("typed");
    EXPECT_EQ(changes, 1);

    // The session kept (as a capture context keeps it) after the tab went:
    // its changes reach nothing.
    std::shared_ptr<BrowserSession> kept = child->browser;
    child.reset();
    changes = 0;
    kept->pageTitle = std::string("after");
    server_.html("/b", test::page("B"));
    kept->navigate(server_.url("/b"));
    ASSERT_TRUE(spinUntil([&] { return kept->pageTitle.get() == "B" && !kept->loading; }));
    EXPECT_EQ(changes, 0);
}
