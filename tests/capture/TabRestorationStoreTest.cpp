#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/StateLease.hpp"
#include "support/Bounded.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

RestoredWindow windowOf(int tabs, const std::string& path = "page") {
    RestoredWindow w;
    w.id = UUID::random();
    for (int i = 0; i < tabs; ++i) {
        w.tabs.push_back({UUID::random(), "https://example.jp/" + path + "/" + std::to_string(i), false});
    }
    if (!w.tabs.empty()) w.selected = w.tabs.front().id;
    return w;
}

class Restoration : public ::testing::Test {
protected:
    fs::path tabs() const { return tmp / "storage/tabs"; }
    fs::path file() const { return tabs() / "snapshot.json"; }
    std::unique_ptr<TabRestoration> fresh() { return std::make_unique<TabRestoration>(tabs(), settings); }
    std::string contents() const { return test::readFile(file()); }
    TabSnapshot stored() const {
        const std::string text = contents();
        return TabRestoration::decode({text.begin(), text.end()});
    }
    // Switches restoration on in an instance that is gone afterwards, so
    // that the lease is free again; returns the new period.
    UUID switchOn() {
        TabRestoration r(tabs(), settings);
        r.setEnabled(true);
        return *settings.value().restoreEpoch;
    }
    // Writes a file of the current period holding the windows.
    void saveAndForget(const std::vector<RestoredWindow>& windows) {
        TabRestoration r(tabs(), settings);
        r.save(windows);
        ASSERT_FALSE(r.blocked());
    }
    void writeRaw(const std::string& text) { SecureDirectory(tabs(), true).replaceState("snapshot.json", {text.begin(), text.end()}); }
    bool holdsStages() const {
        for (const auto& name : test::listNames(tabs())) {
            if (name.starts_with(".stage-")) return true;
        }
        return false;
    }

    test::TempDir tmp;
    SettingsStore settings{tmp / "storage/settings"};
    const std::vector<RestoredWindow> two{windowOf(3, "a"), windowOf(1, "b")};
};

}  // namespace

TEST_F(Restoration, SwitchedOffItTouchesNothing) {
    auto r = fresh();
    EXPECT_TRUE(r->load().empty());
    r->save(two);
    EXPECT_FALSE(fs::exists(tabs()));
    EXPECT_FALSE(r->blocked());
    EXPECT_FALSE(r->holdsLease());
    EXPECT_EQ(r->notice(), "");
}

TEST_F(Restoration, SavedWindowsComeBackInTheNextProcessWithRisingGenerations) {
    const UUID epoch = switchOn();
    EXPECT_EQ(stored(), (TabSnapshot{1, epoch, 0, {}}));
    {
        auto a = fresh();
        EXPECT_TRUE(a->load().empty());
        EXPECT_EQ(a->generation(), 0u);
        std::vector<std::string> notices;
        a->noticeChanged().connect([&](const std::string& n) { notices.push_back(n); });
        a->save(two);
        a->save({two[1]});
        EXPECT_EQ(a->generation(), 2u);
        EXPECT_TRUE(notices.empty());
        EXPECT_EQ(contents(), JSON::print(Json(TabSnapshot{1, epoch, 2, {two[1]}})));
        a->save(two);
    }
    {
        auto b = fresh();
        EXPECT_EQ(b->load(), two);
        EXPECT_EQ(b->generation(), 3u);
        EXPECT_EQ(b->notice(), "");
        b->save(two);
    }
    {
        // Without a load the stored generation still counts.
        auto c = fresh();
        c->save(two);
        EXPECT_EQ(c->generation(), 5u);
        // An older file of the same period does not send the count back.
        TabSnapshot older{1, epoch, 1, two};
        writeRaw(JSON::print(Json(older)));
        c->save(two);
        EXPECT_EQ(stored().generation, 6u);
    }
}

// Each save reads the preferences again, for the switch and its period; the
// windows observing the preferences hear only of a real change.
TEST_F(Restoration, ASaveNotifiesThePreferencesOnlyWhenTheStoredValueChanged) {
    switchOn();
    int notified = 0;
    settings.valueChanged().connect([&](const AppPreferences&) { ++notified; });
    auto r = fresh();
    r->save(two);
    r->save({two[1]});
    EXPECT_EQ(notified, 0);
    ASSERT_FALSE(r->blocked());

    // Another process changes the file: the next save publishes it, once.
    SettingsStore other(tmp / "storage/settings");
    other.update(&AppPreferences::mobileWidth, int64_t{390});
    r->save(two);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(settings.value(), other.value());
    r->save(two);
    EXPECT_EQ(notified, 1);

    // Writing what is already stored is no change either.
    settings.update(&AppPreferences::mobileWidth, other.value().mobileWidth);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(stored().generation, 4u);
}

TEST_F(Restoration, ASnapshotThatWouldNotReadBackBlocksEverySaveAndKeepsTheFile) {
    switchOn();
    std::vector<RestoredWindow> manyWindows;
    for (int i = 0; i < 101; ++i) manyWindows.push_back(windowOf(1));
    std::vector<RestoredWindow> sharedTab{windowOf(2), windowOf(1)};
    sharedTab[1].tabs[0].id = sharedTab[0].tabs[1].id;
    sharedTab[1].selected = sharedTab[1].tabs[0].id;
    std::vector<RestoredWindow> token{windowOf(1)};
    token[0].tabs[0].url = "https://example.jp/?code=1";
    const std::vector<std::vector<RestoredWindow>> refused{{windowOf(201)}, manyWindows, sharedTab, token};

    for (const auto& windows : refused) {
        auto r = fresh();
        r->load();
        r->save(two);
        const std::string before = contents();
        r->save(windows);
        EXPECT_TRUE(r->blocked());
        EXPECT_EQ(r->notice(), "タブを保存できません。別のベルモラや保存先を確認してください。元の情報は保持します。");
        EXPECT_EQ(contents(), before);
        r->save({windowOf(2)});
        EXPECT_EQ(contents(), before) << "a blocked restoration writes nothing more";
    }

    // The last generation there is cannot be followed by another.
    TabSnapshot last = stored();
    last.generation = 18446744073709551615u;
    writeRaw(JSON::print(Json(last)));
    auto r = fresh();
    EXPECT_EQ(r->load(), last.windows);
    r->save(two);
    EXPECT_TRUE(r->blocked());
    EXPECT_EQ(r->notice(), TabRestoration::saveNotice());
    EXPECT_EQ(stored(), last);
}

TEST_F(Restoration, ALoadThatCannotTrustTheFileOpensEmptyAndBlocks) {
    const UUID epoch = switchOn();
    saveAndForget(two);
    const TabSnapshot good = stored();
    auto variant = [&](const std::function<void(Json&)>& change) {
        Json j = Json(good);
        change(j);
        return JSON::print(j);
    };
    std::string oversized = JSON::print(Json(good));
    oversized.resize(2097153, ' ');
    const std::vector<std::string> files{
        oversized,
        variant([](Json& j) { j["schema"] = 2; }),
        variant([&](Json& j) {
            for (int i = 0; i < 99; ++i) j["windows"].push_back(Json(windowOf(1)));  // 101 in all
        }),
        variant([](Json& j) { j["windows"][1]["id"] = j["windows"][0]["id"]; }),
        variant([](Json& j) { j["windows"][1]["tabs"] = Json::array(); }),
        variant([](Json& j) { j["windows"][0]["selected"] = UUID::random(); }),
        variant([](Json& j) { j["windows"][0]["tabs"][0]["url"] = "https://example.jp/oauth/x"; }),
        variant([](Json& j) { j["generation"] = -1; }),
        "{\"schema\" : 1",
        "",
    };
    for (const auto& text : files) {
        writeRaw(text);
        auto r = fresh();
        EXPECT_TRUE(r->load().empty());
        EXPECT_TRUE(r->blocked());
        EXPECT_EQ(r->notice(), "前回のタブを確認できないため、空画面で開きました。元の情報は保持しています。");
        r->save(two);
        EXPECT_EQ(contents(), text) << "the file stays as it was";
    }

    // A file of another period is not restored, without a word; the next
    // save does not replace it.
    TabSnapshot foreign = good;
    foreign.epoch = UUID::random();
    writeRaw(JSON::print(Json(foreign)));
    {
        auto r = fresh();
        EXPECT_TRUE(r->load().empty());
        EXPECT_FALSE(r->blocked());
        EXPECT_EQ(r->notice(), "");
        r->save(two);
        EXPECT_TRUE(r->blocked());
        EXPECT_EQ(r->notice(), TabRestoration::saveNotice());
        EXPECT_EQ(stored(), foreign);
    }
    EXPECT_EQ(*settings.value().restoreEpoch, epoch);
}

TEST_F(Restoration, OnlyARegularFileIsReadAndNothingElseIsWaitedOnOrFollowed) {
    switchOn();
    saveAndForget(two);
    // A link to a valid snapshot elsewhere: followed, it would restore.
    fs::rename(file(), tmp / "elsewhere.json");
    fs::create_symlink(tmp / "elsewhere.json", file());
    auto linked = fresh();
    EXPECT_TRUE(linked->load().empty());
    EXPECT_TRUE(linked->blocked());
    EXPECT_EQ(linked->notice(), TabRestoration::loadNotice);
    linked->save(two);
    EXPECT_TRUE(fs::is_symlink(file()));
    linked.reset();

    fs::remove(file());
    fs::create_directory(file());
    auto folder = fresh();
    EXPECT_TRUE(folder->load().empty());
    EXPECT_EQ(folder->notice(), TabRestoration::loadNotice);
    folder.reset();

    // A FIFO is refused at once; a read that waited for a writer would hang
    // the launch (and the bounded child reports it).
    fs::remove(file());
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(10, [&] {
                  TabRestoration r(tabs(), settings);
                  test::require(r.load().empty() && r.blocked(), "the FIFO was not refused");
                  test::require(r.notice() == TabRestoration::loadNotice, "no load notice");
                  r.save(two);
              }),
              0);
    EXPECT_TRUE(fs::is_fifo(file()));
}

TEST_F(Restoration, TheLeaseHeldByAnotherProcessKeepsThisOneOut) {
    const UUID epoch = switchOn();
    saveAndForget(two);
    const std::string before = contents();
    test::HeldChild child([&] {
        static std::optional<StateLease> held;
        held.emplace(SecureDirectory(tabs(), false), "session-lock", true);
    });
    ASSERT_TRUE(child.setupSucceeded());

    auto loading = fresh();
    EXPECT_TRUE(loading->load().empty());
    EXPECT_TRUE(loading->blocked());
    EXPECT_EQ(loading->notice(), TabRestoration::loadNotice);
    auto saving = fresh();
    saving->save({windowOf(1)});
    EXPECT_TRUE(saving->blocked());
    EXPECT_EQ(saving->notice(), TabRestoration::saveNotice());
    auto switching = fresh();
    EXPECT_EQ(caseOf([&] { switching->setEnabled(false); }), ErrorCase::navigationBusy);
    EXPECT_EQ(switching->notice(), "");
    EXPECT_EQ(*settings.value().restoreEpoch, epoch);
    EXPECT_EQ(contents(), before);

    child.stop();
    EXPECT_EQ(fresh()->load(), two);
}

TEST_F(Restoration, SwitchingStartsANewPeriodAndLeavesNoAddressOnDisk) {
    auto r = fresh();
    r->setEnabled(true);
    const UUID first = *settings.value().restoreEpoch;
    EXPECT_TRUE(settings.value().restoreTabs);
    EXPECT_EQ(contents(), JSON::print(Json(TabSnapshot{1, first, 0, {}})));
    EXPECT_EQ(r->notice(), "タブの復元を開始しました。");
    EXPECT_TRUE(r->holdsLease());
    r->save(two);
    r->save(two);
    EXPECT_EQ(r->generation(), 2u);

    r->setEnabled(false);
    EXPECT_FALSE(settings.value().restoreTabs);
    EXPECT_EQ(settings.value().restoreEpoch, std::nullopt);
    const TabSnapshot off = stored();
    EXPECT_TRUE(off.windows.empty());
    EXPECT_EQ(off.generation, 0u);
    EXPECT_NE(off.epoch, first);
    EXPECT_EQ(contents().find("example.jp"), std::string::npos);
    EXPECT_EQ(r->notice(), "タブの復元を停止しました。Cookieや保存ファイルは保持します。");
    EXPECT_EQ(r->generation(), 0u);
    EXPECT_FALSE(r->holdsLease());
    EXPECT_EQ(test::runInChild([&] { StateLease(SecureDirectory(tabs(), false), "session-lock", true); }), 0)
        << "the lease is given up";

    // Switched on again: another period, and nothing of the first restored.
    r->setEnabled(true);
    EXPECT_NE(*settings.value().restoreEpoch, first);
    r.reset();
    EXPECT_TRUE(fresh()->load().empty());
}

TEST_F(Restoration, AnUnreadableFileIsKeptWhicheverWayRestorationIsSwitched) {
    switchOn();
    const std::string damaged = "{\"schema\" : 1, \"windows\" : [";
    writeRaw(damaged);
    const AppPreferences before = settings.value();
    auto r = fresh();
    r->load();
    ASSERT_TRUE(r->blocked());
    EXPECT_THROW(r->setEnabled(true), JSON::DecodeError);
    EXPECT_EQ(settings.value(), before);
    EXPECT_TRUE(r->blocked());
    EXPECT_EQ(r->notice(), TabRestoration::loadNotice);
    EXPECT_EQ(contents(), damaged);

    r->setEnabled(false);
    EXPECT_EQ(contents(), damaged);
    EXPECT_FALSE(settings.value().restoreTabs);
    EXPECT_FALSE(r->blocked());
    EXPECT_EQ(r->notice(), TabRestoration::disabledNotice);
}

// Saves blocked by a window too large to keep leave a file that reads
// back; switching restoration off must still take its addresses off the
// disk, and switching on must start a period whose saves work.
TEST_F(Restoration, SwitchingAfterABlockedSaveReplacesAFileThatReadsBack) {
    auto r = fresh();
    r->setEnabled(true);
    r->save(two);
    r->save({windowOf(201)});
    ASSERT_TRUE(r->blocked());
    r->setEnabled(false);
    EXPECT_EQ(contents().find("example.jp"), std::string::npos);

    r->save(two);
    r->setEnabled(true);
    r->save(two);
    EXPECT_FALSE(r->blocked());
    EXPECT_EQ(stored().windows, two);
    EXPECT_EQ(stored().epoch, *settings.value().restoreEpoch);
}

TEST_F(Restoration, AFailedSettingsChangeLeavesNoticeBlockAndGenerationAlone) {
    switchOn();
    auto r = fresh();
    r->save(two);
    r->save({windowOf(201)});
    ASSERT_TRUE(r->blocked());
    const uint64_t generation = r->generation();
    test::HeldChild child([&] {
        static std::optional<StateLease> held;
        held.emplace(SecureDirectory(tmp / "storage/settings", false), "preferences-lock", true);
    });
    ASSERT_TRUE(child.setupSucceeded());
    for (bool enabled : {true, false}) {
        EXPECT_EQ(caseOf([&] { r->setEnabled(enabled); }), ErrorCase::navigationBusy);
        EXPECT_TRUE(r->blocked());
        EXPECT_EQ(r->notice(), TabRestoration::saveNotice());
        EXPECT_EQ(r->generation(), generation);
        EXPECT_TRUE(settings.value().restoreTabs);
    }
}

TEST_F(Restoration, AFullDiskFailsTheSaveAndLeavesTheFileWhole) {
    switchOn();
    saveAndForget(two);
    const std::string before = contents();
    std::vector<RestoredWindow> large;
    for (int i = 0; i < 10; ++i) large.push_back(windowOf(100, std::string(200, 'x')));
    // A file-size limit makes the kernel refuse the write part-way, in a
    // child so that the limit goes with it.
    const int status = test::runInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TabRestoration r(tabs(), settings);
        r.save(large);
        if (r.blocked() && r.notice() == TabRestoration::saveNotice()) ::_exit(7);
        ::_exit(0);
    });
    EXPECT_EQ(status, 7);
    EXPECT_EQ(contents(), before);
    EXPECT_FALSE(holdsStages());
}
