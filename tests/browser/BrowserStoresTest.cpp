#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "BrowserFixture.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::runTask;
using test::spinUntil;

namespace {

std::vector<std::string> names(const std::vector<WebsiteDataRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.name);
    return out;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Runs a task to its end without turning the main loop: it must not wait
// for anything. False when it suspended.
template <typename T>
bool finishesAtOnce(Task<T> task, T& out) {
    bool done = false;
    auto probe = [](Task<T> t, T& into, bool& flag) -> Task<void> {
        into = co_await std::move(t);
        flag = true;
    };
    Task<void> wrapper = probe(std::move(task), out, done);
    auto handle = wrapper.release();
    handle.resume();
    handle.destroy();
    return done;
}

class Stores : public test::BrowserFixture {
protected:
    void SetUp() override {
        server_.html("/set", test::page("set"), {{"Set-Cookie", "tab=A; Path=/"}});
        server_.html("/read", "<!doctype html><body><script>document.title='cookies:'+document.cookie</script>");
    }
    std::string cookiesSeen(BrowserTab& tab) {
        load(tab, "/read");
        EXPECT_TRUE(spinUntil([&] { return tab.browser->pageTitle->starts_with("cookies:"); }));
        return tab.browser->pageTitle.get().substr(8);
    }
};

}  // namespace

TEST_F(Stores, NormalTabsShareOneStoreAndPrivateTabsShareOneThatGoesWithTheLastOfThem) {
    std::vector<std::set<UUID>> announced;
    stores_->privateOwnersChanged.connect([&] { announced.push_back(stores_->privateOwners.get()); });

    auto normal1 = newTab(false);
    auto normal2 = newTab(false);
    EXPECT_EQ(networkOf(*normal1), stores_->normal());
    EXPECT_EQ(networkOf(*normal2), stores_->normal());
    EXPECT_FALSE(normal1->isPrivate());
    EXPECT_EQ(stores_->privateStore(), nullptr);
    EXPECT_TRUE(announced.empty()) << "normal tabs own no private store";

    // With no private store the listing answers before the main loop turns:
    // nothing was asked of the engine.
    std::vector<WebsiteDataRecord> none{WebsiteDataRecord{"stale", nullptr}};
    EXPECT_TRUE(finishesAtOnce(stores_->records(true), none));
    EXPECT_TRUE(none.empty());

    auto a = newTab(true);
    auto b = newTab(true);
    ASSERT_NE(stores_->privateStore(), nullptr);
    ASSERT_NE(stores_->privateStore(), stores_->normal());
    EXPECT_EQ(networkOf(*a), stores_->privateStore());
    EXPECT_EQ(networkOf(*b), stores_->privateStore());
    // Held by the test, so a later store cannot take its address.
    auto first = GObjectRef<WebKitNetworkSession>::ref(stores_->privateStore());
    EXPECT_EQ(announced, (std::vector<std::set<UUID>>{{a->id}, {a->id, b->id}}));

    // A cookie set in A is seen in B: one store.
    load(*a, "/set");
    EXPECT_EQ(cookiesSeen(*b), "tab=A");
    EXPECT_TRUE(contains(names(runTask(stores_->records(true))), "127.0.0.1"));

    // An identifier that never acquired, and a second acquire, change nothing.
    stores_->releasePrivate(UUID::random());
    EXPECT_EQ(stores_->acquirePrivate(a->id), first.get());
    EXPECT_EQ(announced.size(), 2u);

    a->shutdown();
    EXPECT_EQ(stores_->privateStore(), first.get());
    EXPECT_EQ(stores_->privateOwners.get(), std::set<UUID>{b->id});
    b->shutdown();
    EXPECT_EQ(stores_->privateStore(), nullptr);
    EXPECT_EQ(announced.size(), 4u);
    EXPECT_TRUE(announced.back().empty());

    // The next private tab gets a new, empty store.
    auto c = newTab(true);
    ASSERT_NE(stores_->privateStore(), nullptr);
    EXPECT_NE(stores_->privateStore(), first.get());
    EXPECT_EQ(networkOf(*c), stores_->privateStore());
    EXPECT_TRUE(runTask(stores_->records(true)).empty());
    EXPECT_EQ(cookiesSeen(*c), "");
    // The normal store never saw the private cookie.
    EXPECT_EQ(cookiesSeen(*normal1), "");
    c->shutdown();
    EXPECT_EQ(stores_->privateStore(), nullptr);
}

TEST_F(Stores, TheDeletionGateOfOneModeLeavesTheOtherOpen) {
    EXPECT_TRUE(stores_->permitsNavigation(false));
    EXPECT_TRUE(stores_->permitsNavigation(true));
    EXPECT_TRUE(stores_->beginDeletion(false));
    EXPECT_FALSE(stores_->beginDeletion(false)) << "a second deletion of the same mode is turned away";
    EXPECT_EQ(stores_->deleting(), std::set<bool>{false});
    EXPECT_FALSE(stores_->permitsNavigation(false));
    EXPECT_TRUE(stores_->permitsNavigation(true));
    EXPECT_TRUE(stores_->beginDeletion(true));
    EXPECT_FALSE(stores_->permitsNavigation(true));
    stores_->endDeletion(true);
    stores_->endDeletion(true);
    EXPECT_TRUE(stores_->permitsNavigation(true));
    EXPECT_FALSE(stores_->permitsNavigation(false));
    stores_->endDeletion(false);
    EXPECT_TRUE(stores_->permitsNavigation(false));
    EXPECT_TRUE(stores_->beginDeletion(false));
    stores_->endDeletion(false);
    EXPECT_TRUE(stores_->deleting().empty());
}

TEST(StoreFolders, TheNormalStoreIsMadePrivateAndNeverThroughALink) {
    // Only the folders are checked here: a persistent session is opened on
    // folders of its own by the launch test's child processes alone.
    test::TempDir dir;
    const auto data = BrowserStores::normalDataFolder(dir.path());
    EXPECT_EQ(data, dir.path() / "web" / ProductBrand::current().normalWebStoreID.text() / "data");
    EXPECT_EQ(BrowserStores::normalCacheFolder(dir.path()), data.parent_path() / "cache");

    // A link where the store's folder belongs is refused, not followed.
    test::TempDir elsewhere;
    std::filesystem::create_directories(dir.path() / "linked");
    std::filesystem::create_directory_symlink(elsewhere.path(), dir.path() / "linked" / "web");
    EXPECT_EQ(test::caseOf([&] { BrowserStores stores(AppRuntime{dir.path() / "linked", dir.path() / "out"}); }),
              ErrorCase::unsafePath);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));

    // A file where a folder of the store belongs.
    std::filesystem::create_directories(dir.path() / "filed");
    test::writeFile(dir.path() / "filed" / "web", "not a folder");
    EXPECT_EQ(test::caseOf([&] { BrowserStores stores(AppRuntime{dir.path() / "filed", dir.path() / "out"}); }),
              ErrorCase::unsafePath);

    // A storage root the user may not write into (no mode stops root).
    if (::geteuid() != 0) {
        std::filesystem::create_directories(dir.path() / "locked");
        ::chmod((dir.path() / "locked").c_str(), 0500);
        EXPECT_EQ(test::caseOf([&] { BrowserStores stores(AppRuntime{dir.path() / "locked", dir.path() / "out"}); }),
                  ErrorCase::saveFailed);
        ::chmod((dir.path() / "locked").c_str(), 0700);
    }
}
