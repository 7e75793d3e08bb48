#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BrowserFixture.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::caseOf;
using test::FakeDownload;
using test::spinUntil;

namespace {

class Tabs : public test::BrowserFixture {};

}  // namespace

TEST_F(Tabs, TheTitleFollowsRestorationThenThePageThenItsHost) {
    auto tab = newTab(false);
    EXPECT_EQ(tab->title(), "空のタブ");

    tab->deferredURL = server_.url("/later");
    EXPECT_EQ(tab->title(), "復元待ち：127.0.0.1");
    tab->restorationUnavailable = true;
    EXPECT_EQ(tab->title(), "復元待ち：127.0.0.1") << "the deferred address comes first";
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
    EXPECT_EQ(tab->title(), "127.0.0.1");
}

TEST_F(Tabs, ABusyTabIsNotClosedUntilItsWorkHasEnded) {
    std::vector<std::string> cancelled;
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
    auto download = std::make_shared<FakeDownload>("d", true, cancelled);
    tab->downloads = {std::make_shared<FakeDownload>("old", false, cancelled), download};
    EXPECT_TRUE(tab->active());
    tab->shutdown();
    EXPECT_FALSE(tab->closed());
    EXPECT_EQ(tab->downloads->size(), 2u);

    download->finish();
    EXPECT_FALSE(tab->active());
    tab->shutdown();
    EXPECT_TRUE(tab->closed());
    EXPECT_TRUE(tab->downloads->empty());
    EXPECT_FALSE(tab->deferredURL->has_value());
    EXPECT_EQ(tab->address.get(), "");
    EXPECT_TRUE(tab->browser->closingWeb());
    EXPECT_EQ(stores_->privateOwners.get(), std::set<UUID>{other->id});
    EXPECT_TRUE(cancelled.empty()) << "shutting down cancels nothing";

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
    std::vector<std::string> cancelled;
    auto tab = newTab(true);
    server_.html("/", test::page("保存するページ", "<div style='height:1200px'>本文</div>"));
    load(*tab, "/");

    // Idle, with finished downloads only: nothing is called.
    tab->downloads = {std::make_shared<FakeDownload>("done1", false, cancelled),
                      std::make_shared<FakeDownload>("done2", false, cancelled)};
    const auto traceBefore = tab->browser->operation.get();
    const std::size_t itemsBefore = traceBefore->items().size();
    tab->cancel();
    EXPECT_TRUE(cancelled.empty());
    EXPECT_EQ(tab->browser->operation.get(), traceBefore);
    EXPECT_EQ(traceBefore->items().size(), itemsBefore) << "not even a late cancel was recorded";

    // Busy: the capture and the running downloads, in list order, each once,
    // also when a cancelled download leaves the list at once (as the window
    // drops an ended one).
    auto first = std::make_shared<FakeDownload>("first", true, cancelled);
    auto second = std::make_shared<FakeDownload>("second", true, cancelled);
    first->onCancel = [&] {
        auto list = tab->downloads.get();
        std::erase(list, first);
        tab->downloads = std::move(list);
    };
    tab->downloads = {first, std::make_shared<FakeDownload>("finished", false, cancelled), second};
    startHeldCapture(*tab);
    tab->cancel();
    EXPECT_EQ(cancelled, (std::vector<std::string>{"first", "second"}));
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
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
