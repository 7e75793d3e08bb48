#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/stringobject.h>
#include <gtkmm/checkbutton.h>

#include <algorithm>
#include <chrono>

#include "foundation/GLibError.hpp"
#include "foundation/SecureDirectory.hpp"
#include "gui/GtkConfirmation.hpp"
#include "settingsui/BrowserSettings.hpp"
#include "settingsui/PrivacySettings.hpp"
#include "support/Errors.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/sections/PrivacySection.hpp"
#include "workspace/window/WindowFixture.hpp"
#include "workspace/windows/WorkspacePrivacyWindows.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

// The privacy section as the settings screen shows it, driven through its
// real widgets and its real question, over real windows whose tabs load
// pages from the loopback server into the real website data stores: what is
// listed, what a deletion closes in which window, what it waits for, what
// it refuses, and the restore switch.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinFor;
using test::runTask;
using test::spinUntil;

namespace {

constexpr const char* site = "127.0.0.1";

// The application's stores, with a journal of every removal (whether the
// tab under watch was still open then) and, when asked, a removal that
// fails as the engine's would.
class WatchedStores final : public SiteDataStores {
public:
    explicit WatchedStores(std::shared_ptr<BrowserStores> stores)
        : real_(std::make_shared<BrowserSiteDataStores>(std::move(stores))) {}

    std::function<bool()> tabOpen = [] { return false; };
    bool fail = false;
    std::vector<bool> removals;

    Task<std::vector<WebsiteDataRecord>> records(bool privateMode) override { return real_->records(privateMode); }
    std::shared_ptr<Store> store(bool privateMode) override {
        auto real = real_->store(privateMode);
        return real ? std::make_shared<Watched>(*this, std::move(real)) : nullptr;
    }
    bool beginDeletion(bool privateMode) override { return real_->beginDeletion(privateMode); }
    void endDeletion(bool privateMode) override { real_->endDeletion(privateMode); }

private:
    class Watched final : public Store {
    public:
        Watched(WatchedStores& owner, std::shared_ptr<Store> real) : owner_(owner), real_(std::move(real)) {}
        Task<void> remove(std::vector<WebsiteDataRecord> records) override {
            owner_.removals.push_back(owner_.tabOpen());
            if (owner_.fail) throw GLibError(g_quark_from_static_string("test-removal"), 1, "refused");
            Task<void> removal = real_->remove(std::move(records));
            co_await std::move(removal);
        }

    private:
        WatchedStores& owner_;
        std::shared_ptr<Store> real_;
    };
    std::shared_ptr<BrowserSiteDataStores> real_;
};

class PrivacySectionTest : public test::WindowFixture {
protected:
    PrivacySectionTest() {
        set = std::make_unique<WorkspaceWindows>(*services, Glib::RefPtr<Gtk::Application>());
        set->quitApplication = [] {};
        EXPECT_EQ(WorkspaceWindows::shared(), set.get());
        server.html("/set", test::page("クッキー"), {{"Set-Cookie", "visit=1; Path=/"}});
        server.html("/read", test::page("読む"));
    }
    ~PrivacySectionTest() override {
        for (auto& s : sections) s->window.destroy();
        sections.clear();
        set.reset();
        // No test leaves data behind for the next in the shared store.
        const auto left = runTask(services->webStores->records(false));
        if (std::any_of(left.begin(), left.end(), [](const auto& r) { return r.name == site; })) {
            runTask(BrowserSiteDataStores(services->webStores).store(false)->remove(left));
        }
    }

    struct Section {
        Gtk::Window window;
    };

    // The section as the application makes it (managed: its window owns
    // it), in a settings window of its own.
    Section& openSection(Gtk::Widget* widget = nullptr) {
        auto& s = *sections.emplace_back(std::make_unique<Section>());
        s.window.set_title("設定");
        s.window.set_default_size(560, 520);
        // The application's section works on the process's window set.
        if (!widget) widget = &makePrivacySection(*services, std::make_shared<WorkspacePrivacyWindows>());
        s.window.set_child(*widget);
        s.window.present();
        EXPECT_TRUE(spinUntil([&] { return s.window.get_mapped(); }));
        return s;
    }
    // The settings section is left: its widget goes.
    void leave(Section& s) {
        Gtk::Widget* view = test::findByName(s.window, BrowserSettings::sectionName);
        ASSERT_NE(view, nullptr);
        auto destroyed = std::make_shared<bool>(false);
        view->signal_destroy().connect([destroyed] { *destroyed = true; });
        s.window.unset_child();
        ASSERT_TRUE(spinUntil([&] { return *destroyed; }));
    }

    WorkspaceWindow& openWindow() {
        WorkspaceWindow* window = set->open(std::nullopt);
        EXPECT_NE(window, nullptr);
        EXPECT_TRUE(spinUntil([&] { return window->window().get_mapped(); }));
        return *window;
    }

    template <typename T>
    static T& widget(Section& s, const std::string& name) {
        auto* found = dynamic_cast<T*>(test::findByName(s.window, name));
        if (!found) throw std::runtime_error("no widget " + name);
        return *found;
    }
    static bool shown(Section& s, const std::string& name) {
        Gtk::Widget* found = test::findByName(s.window, name);
        return found && found->get_mapped();
    }
    static void click(Section& s, const std::string& name) {
        auto& button = widget<Gtk::Button>(s, name);
        ASSERT_TRUE(button.is_sensitive()) << name;
        g_signal_emit_by_name(button.gobj(), "clicked");
    }
    static std::string notice(Section& s) {
        auto& label = widget<Gtk::Label>(s, BrowserSettings::noticeName);
        return label.get_visible() ? label.get_text().raw() : "";
    }
    static std::vector<std::string> sites(Section& s) {
        auto& picker = widget<Gtk::DropDown>(s, BrowserSettings::siteName);
        auto model = std::dynamic_pointer_cast<Gtk::StringList>(picker.get_model());
        std::vector<std::string> out;
        for (guint i = 0; model && i < model->get_n_items(); ++i) out.push_back(model->get_string(i).raw());
        return out;
    }
    // "Webサイトのデータを確認" and its answer.
    static void list(Section& s) {
        click(s, BrowserSettings::loadName);
        ASSERT_TRUE(spinUntil([&] { return widget<Gtk::Button>(s, BrowserSettings::loadName).is_sensitive(); }));
    }
    static void choose(Section& s, const std::string& name) {
        const auto entries = sites(s);
        auto found = std::find(entries.begin(), entries.end(), name);
        ASSERT_NE(found, entries.end()) << name;
        widget<Gtk::DropDown>(s, BrowserSettings::siteName).set_selected(static_cast<guint>(found - entries.begin()));
    }
    static void chooseKind(Section& s, bool privateData) {
        widget<Gtk::DropDown>(s, BrowserSettings::kindName).set_selected(privateData ? 1 : 0);
    }
    // The question on screen, answered through its own button.
    static Gtk::MessageDialog* question(const std::string& message) {
        Gtk::MessageDialog* found = nullptr;
        spinUntil([&] {
            for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
                if (dialog->property_text().get_value().raw() == message) found = dialog;
            }
            return found != nullptr;
        });
        return found;
    }
    static void answer(Gtk::MessageDialog& dialog, bool remove) {
        auto* button = dynamic_cast<Gtk::Button*>(
            test::findByName(dialog, remove ? GtkConfirmation::confirmName : GtkConfirmation::cancelName));
        ASSERT_NE(button, nullptr);
        g_signal_emit_by_name(button->gobj(), "clicked");
    }

    // A cookie of the loopback host put straight into the normal store.
    void addCookie() {
        WebKitCookieManager* cookies =
            webkit_network_session_get_cookie_manager(services->webStores->normal());
        std::unique_ptr<SoupCookie, decltype(&soup_cookie_free)> cookie(
            soup_cookie_new("visit", "1", site, "/", -1), soup_cookie_free);
        runTask([](WebKitCookieManager* manager, SoupCookie* c) -> Task<void> {
            auto added = co_await awaitAsync([manager, c](GAsyncReadyCallback callback, gpointer data) {
                webkit_cookie_manager_add_cookie(manager, c, nullptr, callback, data);
            });
            GError* error = nullptr;
            webkit_cookie_manager_add_cookie_finish(manager, added.get(), &error);
            GLibError::check(error);
        }(cookies, cookie.get()));
    }
    std::vector<std::string> storedSites(bool privateMode) {
        std::vector<std::string> out;
        for (const auto& r : runTask(services->webStores->records(privateMode))) out.push_back(r.name);
        return out;
    }
    static bool holds(const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    static bool has(const WindowModel& model, const UUID& tab) {
        const auto& tabs = model.tabs.get();
        return std::any_of(tabs.begin(), tabs.end(), [&](const auto& t) { return t->id == tab; });
    }

    std::unique_ptr<WorkspaceWindows> set;
    std::vector<std::unique_ptr<Section>> sections;
};

}  // namespace

TEST_F(PrivacySectionTest, ASiteDeletedClosesItsNormalTabsInEveryWindowAndLaterLoadsSendNoCookie) {
    auto& a = openWindow();
    auto& b = openWindow();
    load(*a.model(), "/set");
    load(*a.model(), "/read");
    ASSERT_EQ(server.cookies("/read").back(), "visit=1");
    const UUID inA = a.model()->selectedTab()->id;
    auto privateTab = a.model()->addTab(true);
    load(*a.model(), "/set");

    auto& s = openSection();
    EXPECT_FALSE(shown(s, BrowserSettings::siteName));
    list(s);
    EXPECT_EQ(notice(s), PrivacySettings::listedNotice);
    ASSERT_TRUE(shown(s, BrowserSettings::siteName));
    const auto entries = sites(s);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], "サイトを選んでください");
    EXPECT_TRUE(holds(entries, site));
    EXPECT_FALSE(widget<Gtk::Button>(s, BrowserSettings::deleteSelectedName).is_sensitive());
    choose(s, site);
    // A page of the site loaded just before the deletion: the engine writes
    // its cache entry a moment after the load, while the deletion runs.
    load(*b.model(), "/page");
    const UUID inB = b.model()->selectedTab()->id;
    click(s, BrowserSettings::deleteSelectedName);

    // Two normal tabs show the site; the private one is not counted.
    Gtk::MessageDialog* sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(2));
    EXPECT_EQ(sheet->get_transient_for(), &s.window);
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(s) == PrivacySettings::deletedNotice; }, 30s));

    // Window A keeps its private tab; window B, left without tabs, has a
    // fresh normal one.
    ASSERT_EQ(a.model()->tabs->size(), 1u);
    EXPECT_EQ(a.model()->tabs->front(), privateTab);
    ASSERT_EQ(b.model()->tabs->size(), 1u);
    EXPECT_FALSE(has(*a.model(), inA));
    EXPECT_FALSE(has(*b.model(), inB));
    EXPECT_FALSE(b.model()->selectedTab()->isPrivate());
    EXPECT_FALSE(b.model()->selectedTab()->browser->currentURL->has_value());
    EXPECT_FALSE(shown(s, BrowserSettings::siteName));
    EXPECT_TRUE(holds(storedSites(true), site));
    // Gone when the deletion says so, and it does not come back once what
    // the closed tabs left the engine to write has been written.
    EXPECT_FALSE(holds(storedSites(false), site));
    EXPECT_FALSE(spinUntil([&] { return holds(storedSites(false), site); }, 3s));

    // The cookie is gone from the store, not only from the tabs.
    load(*b.model(), "/read");
    EXPECT_EQ(server.cookies("/read").back(), "");
}

TEST_F(PrivacySectionTest, ThePrivateStoreIsListedOnlyWhileAPrivateTabHoldsItAndItsDeletionTakesOnlyPrivateTabs) {
    auto& a = openWindow();
    load(*a.model(), "/set");
    const UUID normal = a.model()->selectedTab()->id;
    auto& s = openSection();
    chooseKind(s, true);
    list(s);
    EXPECT_EQ(notice(s), PrivacySettings::emptyNotice);
    EXPECT_FALSE(shown(s, BrowserSettings::siteName));

    auto privateTab = a.model()->addTab(true);
    load(*a.model(), "/set");
    list(s);
    ASSERT_TRUE(holds(sites(s), site));
    // Another kind empties the list and keeps the notice.
    chooseKind(s, false);
    EXPECT_FALSE(shown(s, BrowserSettings::siteName));
    EXPECT_EQ(notice(s), PrivacySettings::listedNotice);
    chooseKind(s, true);
    list(s);

    click(s, BrowserSettings::deleteAllName);
    Gtk::MessageDialog* sheet = question("私用の全サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(1));
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(s) == PrivacySettings::deletedNotice; }, 30s));
    EXPECT_FALSE(has(*a.model(), privateTab->id));
    EXPECT_TRUE(has(*a.model(), normal));
    EXPECT_TRUE(holds(storedSites(false), site));
}

TEST_F(PrivacySectionTest, TheQuestionCountsTabsAndAChangeWhileItIsUpDeletesNothing) {
    // The site has a cookie and nothing else when it is listed; no tab
    // shows it.
    auto& a = openWindow();
    addCookie();
    auto& s = openSection();
    list(s);
    choose(s, site);

    // A matching tab opened while the question is up: refused, untouched.
    click(s, BrowserSettings::deleteSelectedName);
    Gtk::MessageDialog* sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(0));
    a.model()->addTab(false);
    load(*a.model(), "/page");
    const UUID late = a.model()->selectedTab()->id;
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(s) == PrivacySettings::changedNotice; }));
    EXPECT_TRUE(services->webStores->deleting().empty());
    EXPECT_TRUE(has(*a.model(), late));
    EXPECT_TRUE(holds(storedSites(false), site));
    ASSERT_TRUE(shown(s, BrowserSettings::siteName));

    // "取消" keeps everything.
    click(s, BrowserSettings::deleteSelectedName);
    sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(1));
    answer(*sheet, false);
    spinFor(100ms);
    EXPECT_EQ(notice(s), PrivacySettings::changedNotice);
    EXPECT_TRUE(has(*a.model(), late));

    // No matching tab: only the data goes.
    a.model()->closeTab(late);
    click(s, BrowserSettings::deleteSelectedName);
    sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(0));
    const auto before = a.model()->tabs.get();
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(s) == PrivacySettings::deletedNotice; }, 30s));
    EXPECT_EQ(a.model()->tabs.get(), before);
    EXPECT_FALSE(holds(storedSites(false), site));
}

TEST_F(PrivacySectionTest, ACaptureKeepsTheDeletionWaitingAndTheDataGoesOnlyAfterItsTabClosed) {
    auto& a = openWindow();
    load(*a.model(), "/set");
    auto busy = a.model()->selectedTab();
    startHeldCapture(*busy);
    auto& b = openWindow();
    auto watched = std::make_shared<WatchedStores>(services->webStores);
    watched->tabOpen = [&] { return has(*a.model(), busy->id); };
    auto controller = PrivacySettings::create(services->settings, services->restoration, watched,
                                              std::make_shared<WorkspacePrivacyWindows>(*set));
    auto& s = openSection(Gtk::make_managed<BrowserSettings>(controller));
    list(s);
    choose(s, site);
    click(s, BrowserSettings::deleteSelectedName);
    Gtk::MessageDialog* sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->property_secondary_text().get_value().raw(), PrivacySettings::informative(1));
    answer(*sheet, true);

    // The gate closes with the capture still running; meanwhile no normal
    // tab may navigate, while a private one may.
    ASSERT_TRUE(spinUntil([&] { return !services->webStores->permitsNavigation(false); }));
    EXPECT_TRUE(busy->active());
    EXPECT_EQ(test::caseOf([&] { b.model()->selectedTab()->browser->navigate(server.url("/page")); }),
              ErrorCase::navigationBusy);
    EXPECT_TRUE(services->webStores->permitsNavigation(true));
    EXPECT_FALSE(widget<Gtk::Button>(s, BrowserSettings::loadName).is_sensitive());

    // The cancel reaches the capture; once it has ended the tab closes, and
    // only then is the data removed.
    ASSERT_TRUE(spinUntil([&] { return notice(s) == PrivacySettings::deletedNotice; }, 60s));
    EXPECT_EQ(watched->removals, std::vector<bool>{false});
    EXPECT_FALSE(has(*a.model(), busy->id));
    EXPECT_TRUE(busy->closed());
    EXPECT_TRUE(services->webStores->permitsNavigation(false));
    EXPECT_FALSE(holds(storedSites(false), site));
    server.release("/held.png");
    load(*b.model(), "/read");
    EXPECT_EQ(server.cookies("/read").back(), "");
}

TEST_F(PrivacySectionTest, ADeletionOutlivesItsSectionAndTurnsAwayASecondOneOfTheSameKind) {
    auto& a = openWindow();
    load(*a.model(), "/set");
    auto stuck = a.model()->selectedTab();
    // A save that does not stop when asked: the deletion waits as long as it
    // runs.
    stuck->browser->operationPending = true;
    auto& first = openSection();
    list(first);
    choose(first, site);
    click(first, BrowserSettings::deleteSelectedName);
    Gtk::MessageDialog* sheet = question("通常の選択サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return !services->webStores->permitsNavigation(false); }));

    // A second section lists the data still there and may not delete it.
    auto& second = openSection();
    list(second);
    ASSERT_TRUE(holds(sites(second), site));
    click(second, BrowserSettings::deleteAllName);
    sheet = question("通常の全サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(second) == PrivacySettings::busyNotice; }));

    // The first section is left while its deletion waits, looking every
    // 50 ms.
    leave(first);
    spinFor(300ms);
    EXPECT_TRUE(has(*a.model(), stuck->id));
    EXPECT_FALSE(services->webStores->permitsNavigation(false));
    EXPECT_TRUE(holds(storedSites(false), site));

    stuck->browser->operationPending = false;
    ASSERT_TRUE(spinUntil([&] { return services->webStores->permitsNavigation(false); }, 30s));
    EXPECT_FALSE(has(*a.model(), stuck->id));
    EXPECT_FALSE(holds(storedSites(false), site));
    load(*a.model(), "/read");
    EXPECT_EQ(server.cookies("/read").back(), "");
}

TEST_F(PrivacySectionTest, AFailedRemovalIsReportedAndNavigationWorksAgain) {
    auto& a = openWindow();
    load(*a.model(), "/set");
    const UUID loaded = a.model()->selectedTab()->id;
    auto watched = std::make_shared<WatchedStores>(services->webStores);
    watched->fail = true;
    watched->tabOpen = [&] { return has(*a.model(), loaded); };
    auto controller = PrivacySettings::create(services->settings, services->restoration, watched,
                                              std::make_shared<WorkspacePrivacyWindows>(*set));
    auto& s = openSection(Gtk::make_managed<BrowserSettings>(controller));
    list(s);
    click(s, BrowserSettings::deleteAllName);
    Gtk::MessageDialog* sheet = question("通常の全サイトのWebデータを削除しますか？");
    ASSERT_NE(sheet, nullptr);
    answer(*sheet, true);
    ASSERT_TRUE(spinUntil([&] { return notice(s) == "Webデータを削除できませんでした。対象タブは閉じています。"; }));
    EXPECT_EQ(watched->removals, std::vector<bool>{false});
    EXPECT_FALSE(has(*a.model(), loaded));
    EXPECT_TRUE(services->webStores->permitsNavigation(false));
    EXPECT_TRUE(widget<Gtk::Button>(s, BrowserSettings::loadName).is_sensitive());
    load(*a.model(), "/read");
    EXPECT_EQ(server.cookies("/read").back(), "visit=1");
}

TEST_F(PrivacySectionTest, TheRestoreSwitchWritesTheSnapshotAtOnceWhenOnAndShowsTheStoredValueAfterAFailure) {
    auto& a = openWindow();
    load(*a.model(), "/page");
    auto& s = openSection();
    auto& toggle = widget<Gtk::CheckButton>(s, BrowserSettings::restoreName);
    EXPECT_FALSE(toggle.get_active());
    EXPECT_FALSE(shown(s, BrowserSettings::restorationNoticeName));

    toggle.set_active(true);
    EXPECT_TRUE(services->settings.value().restoreTabs);
    // Written now, with the open tab, not 200 ms later.
    const auto written = TabRestoration::readSnapshot(SecureDirectory(storage / "tabs", false));
    ASSERT_TRUE(written.has_value());
    ASSERT_EQ(written->windows.size(), 1u);
    EXPECT_EQ(written->windows[0].tabs[0].url.value_or(""), server.url("/page"));
    ASSERT_TRUE(shown(s, BrowserSettings::restorationNoticeName));
    EXPECT_EQ(widget<Gtk::Label>(s, BrowserSettings::restorationNoticeName).get_text(),
              TabRestoration::enabledNotice);

    // Off leaves no address behind and writes none.
    toggle.set_active(false);
    EXPECT_FALSE(services->settings.value().restoreTabs);
    EXPECT_EQ(widget<Gtk::Label>(s, BrowserSettings::restorationNoticeName).get_text(),
              TabRestoration::disabledNotice);
    const auto emptied = TabRestoration::readSnapshot(SecureDirectory(storage / "tabs", false));
    ASSERT_TRUE(emptied.has_value());
    EXPECT_TRUE(emptied->windows.empty());

    // The tab state folder replaced by a link: the switch goes back.
    fs::remove_all(storage / "tabs");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", storage / "tabs");
    const std::string before = test::readFile(storage / "settings" / "preferences.json");
    toggle.set_active(true);
    EXPECT_FALSE(toggle.get_active());
    EXPECT_FALSE(services->settings.value().restoreTabs);
    EXPECT_EQ(notice(s), PrivacySettings::restoreFailedNotice());
    EXPECT_EQ(test::readFile(storage / "settings" / "preferences.json"), before);
}
