#include <gtest/gtest.h>
#include <gtkmm/messagedialog.h>

#include "gui/GtkConfirmation.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/model/TabActions.hpp"
#include "workspace/window/WindowFixture.hpp"

// The tab actions on real tabs: closing (also the last tab, also a busy one
// through the real question), moving, selecting restored tabs, loading the
// address text, the capture width and the downloads a tab's page starts.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<Gtk::MessageDialog*> closeQuestions() {
    std::vector<Gtk::MessageDialog*> found;
    for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
        if (dialog->property_text().get_value().raw() == TabActions::closeQuestion) found.push_back(dialog);
    }
    return found;
}

std::vector<UUID> ids(const WindowModel& model) {
    std::vector<UUID> out;
    for (const auto& tab : model.tabs.get()) out.push_back(tab->id);
    return out;
}

class TabActionsTest : public test::WindowFixture {};

}  // namespace

TEST_F(TabActionsTest, ClosingKeepsATabAndASelectionInsideTheListForEveryObserver) {
    auto model = makeModel();
    // Every announcement finds a list with a tab and a selected tab in it.
    int announcements = 0;
    bool sound = true;
    auto watch = model->changed.connect([&] {
        ++announcements;
        const auto list = ids(*model);
        sound = sound && !list.empty() &&
                std::find(list.begin(), list.end(), model->selectedTabID.get()) != list.end();
    });

    // The only tab: a fresh normal one takes its place, selected.
    const UUID only = model->selectedTab()->id;
    model->selectedTab()->address = std::string("x");
    const int before = windows.snapshots;
    model->closeTab(only);
    ASSERT_EQ(model->tabs->size(), 1u);
    EXPECT_NE(model->tabs->front()->id, only);
    EXPECT_EQ(model->selectedTabID.get(), model->tabs->front()->id);
    EXPECT_FALSE(model->selectedTab()->isPrivate());
    EXPECT_EQ(model->address(), "");
    EXPECT_EQ(windows.snapshots, before + 1);

    // Three tabs: the selected last one closes and the new last is selected.
    model->addTab(false);
    model->addTab(true);
    auto order = ids(*model);
    model->closeTab(order[2]);
    EXPECT_EQ(ids(*model), (std::vector<UUID>{order[0], order[1]}));
    EXPECT_EQ(model->selectedTabID.get(), order[1]);

    // The selected middle one: the tab that moved into its place.
    model->addTab(false);
    order = ids(*model);
    model->selectTab(order[1], false);
    model->closeTab(order[1]);
    EXPECT_EQ(ids(*model), (std::vector<UUID>{order[0], order[2]}));
    EXPECT_EQ(model->selectedTabID.get(), order[2]);

    // A tab that is not selected leaves the selection alone.
    model->closeTab(order[0]);
    EXPECT_EQ(model->selectedTabID.get(), order[2]);
    EXPECT_TRUE(sound);
    EXPECT_GT(announcements, 0);
    watch.disconnect();

    // A closed tab's changes no longer reach the window.
    model->addTab(false);
    auto closed = model->tabs->front();
    model->closeTab(closed->id);
    EXPECT_TRUE(closed->closed());
    int later = 0;
    auto count = model->changed.connect([&] { ++later; });
    closed->address = std::string("late");
    EXPECT_EQ(later, 0);
    count.disconnect();
}

TEST_F(TabActionsTest, ABusyTabClosesOnlyAfterTheUserAgreedAndItsSaveStopped) {
    auto model = makeModel();
    auto idle = model->selectedTab();
    auto busy = model->addTab(false);
    show(*busy);
    load(*model, "/page");

    // An idle tab closes without a question.
    model->requestCloseTab(idle->id);
    EXPECT_EQ(model->tabs->size(), 1u);
    EXPECT_TRUE(closeQuestions().empty());

    startHeldCapture(*busy);
    EXPECT_TRUE(model->needsCloseConfirmation());
    // closeTab itself refuses a busy tab.
    model->closeTab(busy->id);
    EXPECT_EQ(model->tabs->size(), 1u);

    // Asked twice: one question, on the window.
    model->requestCloseTab(busy->id);
    model->requestCloseTab(busy->id);
    ASSERT_TRUE(test::spinUntil([] { return !closeQuestions().empty(); }));
    test::spinFor(100ms);
    ASSERT_EQ(closeQuestions().size(), 1u);
    EXPECT_EQ(closeQuestions().front()->get_transient_for(), &host);

    // "閉じない": the save goes on and the tab may be asked about again.
    ASSERT_TRUE(test::answerMessageDialog(TabActions::closeQuestion, GtkConfirmation::firstButton));
    ASSERT_TRUE(test::spinUntil([] { return closeQuestions().empty(); }));
    test::spinFor(100ms);
    EXPECT_TRUE(busy->browser->hasPendingOperation());
    EXPECT_EQ(model->tabs->size(), 1u);

    // "中止してタブを閉じる": the save is cancelled, awaited and the tab
    // closes; a fresh tab takes its place.
    model->requestCloseTab(busy->id);
    ASSERT_TRUE(test::answerMessageDialog(TabActions::closeQuestion, GtkConfirmation::secondButton));
    ASSERT_TRUE(test::spinUntil([&] { return busy->closed(); }, 60s));
    EXPECT_FALSE(busy->browser->hasPendingOperation());
    ASSERT_EQ(model->tabs->size(), 1u);
    EXPECT_NE(model->tabs->front()->id, busy->id);
    server.release("/held.png");

    // Without its window nothing is asked.
    auto second = model->addTab(false);
    second->browser->operationPending = true;
    windows.window = nullptr;
    model->requestCloseTab(second->id);
    test::spinFor(100ms);
    EXPECT_TRUE(closeQuestions().empty());
    windows.window = &host;
    second->browser->operationPending = false;
}

TEST_F(TabActionsTest, MovingStaysInsideTheList) {
    auto model = makeModel();
    model->addTab(false);
    model->addTab(false);
    const auto order = ids(*model);
    const int before = windows.snapshots;
    model->moveTab(order[0], -1);
    model->moveTab(order[2], +1);
    model->moveTab(UUID::random(), +1);
    EXPECT_EQ(ids(*model), order);
    EXPECT_EQ(windows.snapshots, before);
    model->moveTab(order[0], +1);
    EXPECT_EQ(ids(*model), (std::vector<UUID>{order[1], order[0], order[2]}));
    model->moveTab(order[2], -2);
    EXPECT_EQ(ids(*model), (std::vector<UUID>{order[2], order[0], order[1]}));
    EXPECT_EQ(windows.snapshots, before + 2);
}

TEST_F(TabActionsTest, ARestoredTabLoadsOnlyWhenActivated) {
    const std::string url = server.url("/page");
    RestoredWindow restored{UUID::random(),
                            {RestoredTab{UUID::random(), std::nullopt, true}, RestoredTab{UUID::random(), url, false}},
                            {}};
    restored.selected = restored.tabs[0].id;
    auto model = makeModel(restored);
    auto tab = model->tabs.get()[1];
    show(*tab);

    const int before = windows.snapshots;
    model->selectTab(tab->id, false);
    EXPECT_EQ(model->selectedTab(), tab);
    test::spinFor(200ms);
    EXPECT_EQ(server.requests("/page"), 0);
    EXPECT_TRUE(tab->deferredURL->has_value());
    EXPECT_GT(windows.snapshots, before);

    model->selectTab(tab->id, true);
    EXPECT_FALSE(tab->deferredURL->has_value());
    EXPECT_EQ(tab->address.get(), url);
    ASSERT_TRUE(test::spinUntil([&] { return tab->browser->pageTitle.get() == "ページ"; }));
    EXPECT_EQ(server.requests("/page"), 1);
    EXPECT_EQ(model->message.get(), "");

    // A closing window selects nothing, and unknown tabs are ignored.
    model->closing = true;
    model->selectTab(model->tabs->front()->id, true);
    EXPECT_EQ(model->selectedTab(), tab);
    model->closing = false;
    model->selectTab(UUID::random(), true);
    EXPECT_EQ(model->selectedTab(), tab);
}

TEST_F(TabActionsTest, AnAddressThatIsNotAWebAddressGivesTheOneMessage) {
    auto model = makeModel();
    auto& tab = *model->selectedTab();
    show(tab);
    for (const char* text : {"example.com", "ftp://x", "http://user@127.0.0.1/"}) {
        tab.editingAddress = true;
        tab.restorationUnavailable = true;
        model->setAddress(text);
        model->navigate();
        EXPECT_EQ(model->message.get(), TabActions::invalidAddress) << text;
        EXPECT_FALSE(tab.editingAddress) << text;
        EXPECT_FALSE(tab.restorationUnavailable) << text;
    }
    load(*model, "/page");
    EXPECT_EQ(model->message.get(), "");
}

TEST_F(TabActionsTest, TheWidthFollowsTheModeAndTheSelectedTabsSave) {
    auto model = makeModel();
    model->widthMode = "current";
    EXPECT_EQ(model->width(100), 280);
    model->widthMode = "custom";
    model->customWidth = 5000;
    EXPECT_EQ(model->width(100), 4096);
    model->customWidth = 100;
    EXPECT_EQ(model->width(100), 280);
    model->widthMode = "mobile";
    model->mobileWidth = 390;
    EXPECT_EQ(model->width(1000), 390);

    // While the selected tab saves, its locked size decides.
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");
    startHeldCapture(*tab);
    model->setLockedSize(Size{512, 700});
    model->widthMode = "custom";
    EXPECT_EQ(model->width(100), 512);
    // Another tab selected: its own (no) lock.
    auto other = model->addTab(false);
    EXPECT_EQ(model->width(100), 280);
    model->selectTab(tab->id, false);
    endHeldCapture(*tab);
    EXPECT_FALSE(model->lockedSize().has_value()) << "the save's end lets go";
    EXPECT_EQ(model->width(100), 280);
}

TEST_F(TabActionsTest, DownloadsAreListedOnTheirTabUnlessTheWindowCloses) {
    auto attachment = [](const std::string& name) {
        return test::WebTestServer::Headers{{"Content-Disposition", "attachment; filename=" + name}};
    };
    server.bytes("/file.bin", "application/octet-stream", std::string(4096, 'x'), attachment("file.bin"));
    server.stream("/slow.bin",
                  {.length = int64_t{1} << 30, .chunk = 8192, .interval = 40ms, .headers = attachment("slow.bin")});
    const fs::path folder = dir / "downloads";
    fs::create_directories(folder);
    chooser.answer = folder;
    // The engine's own report of each download that ends without a file.
    std::vector<std::string> failures;
    WebKitNetworkSession* network = services->webStores->normal();
    const gulong started = g_signal_connect(
        network, "download-started", G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* d, gpointer data) {
            g_signal_connect(d, "failed", G_CALLBACK(+[](WebKitDownload*, GError* error, gpointer data) {
                                 static_cast<std::vector<std::string>*>(data)->push_back(error->message);
                             }),
                             data);
        }),
        &failures);

    auto model = makeModel();
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");

    // While the window closes: cancelled at once, never listed, nobody
    // asked where it goes.
    model->closing = true;
    tab->browser->navigate(server.url("/file.bin"));
    ASSERT_TRUE(test::spinUntil([&] { return failures.size() == 1; }));
    EXPECT_TRUE(tab->downloads->empty());
    EXPECT_TRUE(chooser.requests.empty());
    model->closing = false;

    // Otherwise listed on its tab, which is busy while it runs; its progress
    // is announced as the window's change.
    int announcements = 0;
    auto count = model->changed.connect([&] { ++announcements; });
    tab->browser->navigate(server.url("/slow.bin"));
    ASSERT_TRUE(test::spinUntil(
        [&] {
            return tab->downloads->size() == 1 && tab->downloads->front()->state() == BrowserDownload::State::receiving &&
                   tab->downloads->front()->received() > 0;
        },
        60s));
    const auto slow = tab->downloads->front();
    EXPECT_EQ(slow->tabID, tab->id);
    EXPECT_EQ(slow->windowID, model->id);
    EXPECT_TRUE(tab->active());
    EXPECT_TRUE(model->active());
    EXPECT_TRUE(model->needsCloseConfirmation());
    const int before = announcements;
    ASSERT_TRUE(test::spinUntil([&] { return announcements > before; }));
    model->closeTab(tab->id);
    EXPECT_FALSE(tab->closed()) << "a downloading tab stays";
    tab->cancel();
    ASSERT_TRUE(test::spinUntil([&] { return !tab->active(); }, 60s));
    EXPECT_EQ(slow->state(), BrowserDownload::State::cancelled);
    count.disconnect();

    // A download that runs to its end is published into the chosen folder.
    tab->browser->navigate(server.url("/file.bin"));
    ASSERT_TRUE(test::spinUntil([&] { return tab->downloads->size() == 2 && !tab->active(); }, 60s));
    EXPECT_EQ(tab->downloads->back()->state(), BrowserDownload::State::completed);
    EXPECT_EQ(test::readFile(folder / "file.bin"), std::string(4096, 'x'));
    g_signal_handler_disconnect(network, started);
}
