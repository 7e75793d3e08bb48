#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/PrivacySettings.hpp"
#include "support/FakeConfirmation.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

// The privacy section's rules without a display: which tabs a deletion
// takes, the listing, the order of a deletion's steps against the tabs and
// the store with the gate closed, its refusals and silent stops, and the
// restore switch over a real restoration. (A failed removal and a deletion
// that outlives its view are tested on real windows.)

using namespace velmora;
namespace fs = std::filesystem;
using test::spinUntil;

namespace {

// Everything the tabs and the store are asked, in order, with whether the
// gate of normal data was closed at that moment.
struct Journal {
    std::vector<std::string> steps;
    std::set<bool>* deleting = nullptr;
    void add(const std::string& step) {
        steps.push_back(step + (deleting && deleting->contains(false) ? " [gate]" : ""));
    }
};

class FakeTab final : public PrivacyTab {
public:
    FakeTab(Journal& journal, std::string label, bool privateTab, std::optional<std::string> current,
            std::string typed = "")
        : journal_(journal), label_(std::move(label)), private_(privateTab), current_(std::move(current)),
          typed_(std::move(typed)) {}

    UUID id() const override { return id_; }
    bool isPrivate() const override { return private_; }
    std::optional<std::string> currentURL() const override { return current_; }
    std::string address() const override { return typed_; }
    bool active() const override { return busy; }
    void cancel() override { journal_.add("cancel " + label_); }
    void close() override {
        if (busy) return;
        closed = true;
        journal_.add("close " + label_);
    }

    bool busy = false;
    bool closed = false;

private:
    Journal& journal_;
    UUID id_ = UUID::random();
    std::string label_;
    bool private_;
    std::optional<std::string> current_;
    std::string typed_;
};

class FakeWindows final : public PrivacyWindows {
public:
    std::vector<std::shared_ptr<FakeTab>> open;
    int snapshots = 0;

    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override {
        std::vector<std::shared_ptr<PrivacyTab>> out;
        for (const auto& tab : open) {
            if (!tab->closed) out.push_back(tab);
        }
        return out;
    }
    void saveSnapshot() override { ++snapshots; }
};

class FakeStores final : public SiteDataStores {
public:
    explicit FakeStores(Journal& journal) : journal_(journal) { journal.deleting = &deleting; }

    std::vector<std::string> normalNames;
    std::vector<std::string> privateNames;
    bool privateStoreOpen = false;
    std::set<bool> deleting;

    Task<std::vector<WebsiteDataRecord>> records(bool privateMode) override {
        std::vector<WebsiteDataRecord> out;
        if (privateMode && !privateStoreOpen) co_return out;
        co_await sleepFor(std::chrono::milliseconds(1));
        for (const auto& name : privateMode ? privateNames : normalNames) out.push_back({name, nullptr});
        co_return out;
    }
    std::shared_ptr<Store> store(bool privateMode) override {
        if (privateMode && !privateStoreOpen) return nullptr;
        return std::make_shared<FakeStore>(*this, privateMode);
    }
    bool beginDeletion(bool privateMode) override { return deleting.insert(privateMode).second; }
    void endDeletion(bool privateMode) override { deleting.erase(privateMode); }

private:
    class FakeStore final : public Store {
    public:
        FakeStore(FakeStores& owner, bool privateMode) : owner_(owner), private_(privateMode) {}
        Task<void> remove(std::vector<WebsiteDataRecord> records) override {
            std::string names;
            for (const auto& r : records) names += " " + r.name;
            owner_.journal_.add(std::string(private_ ? "remove private" : "remove normal") + names);
            co_await sleepFor(std::chrono::milliseconds(1));
        }

    private:
        FakeStores& owner_;
        bool private_;
    };
    Journal& journal_;
};

class PrivacySettingsTest : public testing::Test {
protected:
    PrivacySettingsTest() {
        controller->sheet = [this] { return sheetShown ? confirmation : nullptr; };
    }

    std::shared_ptr<FakeTab> tab(const std::string& label, std::optional<std::string> current,
                                 std::string typed = "", bool privateTab = false) {
        auto made = std::make_shared<FakeTab>(journal, label, privateTab, std::move(current), std::move(typed));
        windows->open.push_back(made);
        return made;
    }
    void listed(std::vector<std::string> names) {
        stores->normalNames = std::move(names);
        controller->loadRecords();
        ASSERT_TRUE(spinUntil([&] { return !controller->working; }));
    }
    // Confirms and waits until the deletion has ended (or was refused).
    void deleteAndWait(bool all) {
        const std::size_t asked = confirmation->requests.size();
        controller->confirm(all);
        ASSERT_TRUE(spinUntil([&] {
            return confirmation->requests.size() > asked && !controller->working && stores->deleting.empty();
        }));
        test::spinFor(std::chrono::milliseconds(20));
    }

    test::TempDir tmp;
    SettingsStore settings{tmp / "settings"};
    TabRestoration restoration{tmp / "tabs", settings};
    Journal journal;
    std::shared_ptr<FakeStores> stores = std::make_shared<FakeStores>(journal);
    std::shared_ptr<FakeWindows> windows = std::make_shared<FakeWindows>();
    std::shared_ptr<PrivacySettings> controller = PrivacySettings::create(settings, restoration, stores, windows);
    std::shared_ptr<test::FakeConfirmation> confirmation = std::make_shared<test::FakeConfirmation>();
    bool sheetShown = true;
};

std::set<std::string> names(std::initializer_list<std::string> list) { return {list}; }

}  // namespace

TEST_F(PrivacySettingsTest, HostsMatchTheSiteOrItsSubdomainsAsPlainText) {
    const auto n = names({"example.jp"});
    EXPECT_TRUE(PrivacySettings::hostMatches("example.jp", n));
    EXPECT_TRUE(PrivacySettings::hostMatches("a.b.example.jp", n));
    EXPECT_FALSE(PrivacySettings::hostMatches("xexample.jp", n));
    EXPECT_FALSE(PrivacySettings::hostMatches("example.jp.x", n));
    // No trailing-dot removal, no trimming.
    EXPECT_FALSE(PrivacySettings::hostMatches("example.jp.", n));
    EXPECT_FALSE(PrivacySettings::hostMatches(" example.jp", n));
    EXPECT_FALSE(PrivacySettings::hostMatches(".example.jp", names({"jp.example.jp"})));
    EXPECT_TRUE(PrivacySettings::hostMatches("127.0.0.1", names({"localhost", "127.0.0.1"})));

    auto on = [&](std::optional<std::string> current, std::string typed = "", bool privateTab = false) {
        FakeTab t(journal, "t", privateTab, std::move(current), std::move(typed));
        return PrivacySettings::isAffected(t, false, false, n);
    };
    EXPECT_TRUE(on("https://example.jp/"));
    EXPECT_TRUE(on(std::nullopt, "HTTPS://WWW.EXAMPLE.JP/Path?q=1"));
    EXPECT_TRUE(on("https://a.b.example.jp:8443/x"));
    EXPECT_FALSE(on("https://xexample.jp/"));
    EXPECT_FALSE(on("https://example.jp.x/"));
    // The page on one site, the address field on another: either counts.
    EXPECT_TRUE(on("https://other.example/", "https://example.jp/login"));
    EXPECT_TRUE(on("https://example.jp/", "https://other.example/"));
    EXPECT_FALSE(on("https://other.example/", "example.jp"));  // not a web address
    // No host at all.
    EXPECT_FALSE(on(std::nullopt, ""));
    EXPECT_FALSE(on("about:blank", "検索語"));

    // The kinds never cross, also for all sites; all takes hostless tabs.
    FakeTab privateTab(journal, "p", true, "https://example.jp/");
    FakeTab blank(journal, "b", false, std::nullopt);
    EXPECT_FALSE(PrivacySettings::isAffected(privateTab, false, false, n));
    EXPECT_FALSE(PrivacySettings::isAffected(privateTab, false, true, n));
    EXPECT_TRUE(PrivacySettings::isAffected(privateTab, true, false, n));
    EXPECT_FALSE(PrivacySettings::isAffected(blank, true, true, n));
    EXPECT_TRUE(PrivacySettings::isAffected(blank, false, true, {}));
}

TEST_F(PrivacySettingsTest, ListsAreSortedByScalarsAndDroppedWhenTheKindChangedMeanwhile) {
    listed({"éa.jp", "b.jp", "Zz.jp", "a.jp", "例え.jp"});
    std::vector<std::string> order;
    for (const auto& r : controller->records.get()) order.push_back(r.name);
    EXPECT_EQ(order, (std::vector<std::string>{"Zz.jp", "a.jp", "b.jp", "éa.jp", "例え.jp"}));
    EXPECT_EQ(controller->notice.get(), PrivacySettings::listedNotice);
    EXPECT_EQ(controller->selected.get(), "");

    controller->select("b.jp");
    ASSERT_EQ(controller->selectedRecords().size(), 1u);
    EXPECT_EQ(controller->selectedRecords()[0].name, "b.jp");
    controller->select("B.jp");
    EXPECT_TRUE(controller->selectedRecords().empty());

    // Another kind empties the list and the selection, not the notice.
    controller->select("b.jp");
    controller->setPrivateData(true);
    EXPECT_TRUE(controller->records->empty());
    EXPECT_EQ(controller->selected.get(), "");
    EXPECT_EQ(controller->notice.get(), PrivacySettings::listedNotice);

    // No private store: an empty list.
    controller->loadRecords();
    ASSERT_TRUE(spinUntil([&] { return !controller->working; }));
    EXPECT_EQ(controller->notice.get(), PrivacySettings::emptyNotice);

    // A normal list still on its way when the picker moves is dropped.
    controller->setPrivateData(false);
    controller->loadRecords();
    EXPECT_TRUE(controller->working);
    controller->setPrivateData(true);
    ASSERT_TRUE(spinUntil([&] { return !controller->working; }));
    EXPECT_TRUE(controller->records->empty());
    EXPECT_EQ(controller->notice.get(), PrivacySettings::emptyNotice);
}

TEST_F(PrivacySettingsTest, TabsStopAndCloseInOrderBeforeTheDataGoesWithTheGateClosed) {
    auto first = tab("first", "https://www.example.jp/");
    auto other = tab("other", "https://other.example/");
    auto second = tab("second", "https://other.example/", "example.jp");  // not an address
    auto third = tab("third", "https://other.example/", "https://example.jp/");
    auto privateTab = tab("private", "https://example.jp/", "", true);
    first->busy = true;
    listed({"example.jp", "other.example"});
    controller->select("example.jp");
    confirmation->answer = true;

    controller->confirm(false);
    ASSERT_TRUE(spinUntil([&] { return controller->working.get(); }));
    ASSERT_EQ(confirmation->requests.size(), 1u);
    EXPECT_EQ(confirmation->requests[0].message, "通常の選択サイトのWebデータを削除しますか？");
    EXPECT_EQ(confirmation->requests[0].informativeText,
              "対象サイトのタブ2件を閉じ、関連する保存・ダウンロードを停止します。ログインが解除される場合があります。"
              "保存済みファイル、OCR、他のサイト、他のブラウザは変更しません。");
    EXPECT_EQ(confirmation->requests[0].cancelLabel, "取消");
    EXPECT_EQ(confirmation->requests[0].confirmLabel, "対象タブを閉じて削除");

    // The busy tab keeps the deletion waiting: nothing closed, nothing
    // removed, looking again every 50 ms.
    test::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(journal.steps, (std::vector<std::string>{"cancel first [gate]", "cancel third [gate]"}));
    EXPECT_TRUE(controller->working);
    const int delay = test::nextTimerDelay();
    EXPECT_GE(delay, 0);
    EXPECT_LE(delay, 50);

    first->busy = false;
    ASSERT_TRUE(spinUntil([&] { return !controller->working; }));
    EXPECT_EQ(journal.steps, (std::vector<std::string>{"cancel first [gate]", "cancel third [gate]",
                                                        "close first [gate]", "close third [gate]",
                                                        "remove normal example.jp [gate]"}));
    EXPECT_TRUE(stores->deleting.empty());
    EXPECT_FALSE(other->closed || second->closed || privateTab->closed);
    EXPECT_TRUE(controller->records->empty());
    EXPECT_EQ(controller->selected.get(), "");
    EXPECT_EQ(controller->notice.get(), PrivacySettings::deletedNotice);

    // All sites of the private store: the private tabs only, the question
    // saying so.
    controller->setPrivateData(true);
    stores->privateStoreOpen = true;
    stores->privateNames = {"example.jp"};
    controller->loadRecords();
    ASSERT_TRUE(spinUntil([&] { return !controller->working && !controller->records->empty(); }));
    journal.steps.clear();
    deleteAndWait(true);
    EXPECT_EQ(confirmation->requests.back().message, "私用の全サイトのWebデータを削除しますか？");
    EXPECT_NE(confirmation->requests.back().informativeText.find("タブ1件"), std::string::npos);
    EXPECT_EQ(journal.steps, (std::vector<std::string>{"cancel private", "close private",
                                                        "remove private example.jp"}));
    EXPECT_FALSE(other->closed || second->closed);
}

TEST_F(PrivacySettingsTest, RefusalsAndEmptyCasesTouchNothing) {
    auto shown = tab("shown", "https://example.jp/");
    listed({"example.jp"});

    // No selection, no window, no private store (its last tab closed after
    // the list was read): no question at all.
    controller->confirm(false);
    sheetShown = false;
    controller->confirm(true);
    test::spinFor(std::chrono::milliseconds(20));
    sheetShown = true;
    controller->setPrivateData(true);
    stores->privateStoreOpen = true;
    stores->privateNames = {"example.jp"};
    controller->loadRecords();
    ASSERT_TRUE(spinUntil([&] { return !controller->working && !controller->records->empty(); }));
    stores->privateStoreOpen = false;
    controller->confirm(true);
    test::spinFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(confirmation->requests.empty());
    controller->setPrivateData(false);
    listed({"example.jp"});
    controller->select("example.jp");

    // The user keeps the data.
    confirmation->answer = false;
    deleteAndWait(false);
    EXPECT_EQ(controller->notice.get(), PrivacySettings::listedNotice);

    // Another section deletes this kind already.
    confirmation->answer = true;
    ASSERT_TRUE(stores->beginDeletion(false));
    controller->confirm(false);
    ASSERT_TRUE(spinUntil([&] { return controller->notice.get() == PrivacySettings::busyNotice; }));
    EXPECT_EQ(stores->deleting, std::set<bool>{false});
    stores->endDeletion(false);

    // A matching tab opened while the question was up.
    confirmation->meanwhile = [&] { tab("late", std::nullopt, "http://sub.example.jp/"); };
    controller->confirm(false);
    ASSERT_TRUE(spinUntil([&] { return controller->notice.get() == PrivacySettings::changedNotice; }));
    EXPECT_TRUE(stores->deleting.empty());
    EXPECT_FALSE(controller->working);
    EXPECT_EQ(controller->records->size(), 1u);
    EXPECT_TRUE(journal.steps.empty());
    EXPECT_EQ(confirmation->requests.size(), 3u);
    confirmation->meanwhile = nullptr;

    // None of the tabs matches: only the data goes.
    windows->open.clear();
    deleteAndWait(false);
    EXPECT_NE(confirmation->requests.back().informativeText.find("タブ0件"), std::string::npos);
    EXPECT_EQ(journal.steps, std::vector<std::string>{"remove normal example.jp [gate]"});
    EXPECT_FALSE(shown->closed);
}

TEST_F(PrivacySettingsTest, TheRestoreSwitchWritesTheSnapshotOnlyWhenSwitchedOnAndKeepsTheStoredValueOnFailure) {
    int changes = 0;
    controller->changed.connect([&] { ++changes; });
    EXPECT_FALSE(controller->restoreTabs());
    controller->setRestoreTabs(true);
    EXPECT_TRUE(controller->restoreTabs());
    EXPECT_EQ(windows->snapshots, 1);
    EXPECT_EQ(controller->restorationNotice(), TabRestoration::enabledNotice);
    EXPECT_GT(changes, 0);
    controller->setRestoreTabs(false);
    EXPECT_FALSE(controller->restoreTabs());
    EXPECT_EQ(windows->snapshots, 1);
    EXPECT_EQ(controller->restorationNotice(), TabRestoration::disabledNotice);

    // The tab state folder replaced by a link: refused, nothing changed.
    fs::remove_all(tmp / "tabs");
    fs::create_directories(tmp / "elsewhere");
    fs::create_directory_symlink(tmp / "elsewhere", tmp / "tabs");
    const std::string before = test::readFile(tmp / "settings" / "preferences.json");
    controller->setRestoreTabs(true);
    EXPECT_FALSE(controller->restoreTabs());
    EXPECT_EQ(controller->notice.get(),
              "復元の設定を変更できません。別のベルモラや保存情報を確認してください。元の情報は保持します。");
    EXPECT_EQ(controller->restorationNotice(), TabRestoration::disabledNotice);
    EXPECT_EQ(windows->snapshots, 1);
    EXPECT_EQ(test::readFile(tmp / "settings" / "preferences.json"), before);
    EXPECT_TRUE(fs::is_empty(tmp / "elsewhere"));
}
