#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/messagedialog.h>

#include <chrono>

#include "gui/GtkConfirmation.hpp"
#include "support/RasterFiles.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/window/WindowFixture.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

// The window set on real windows with real tabs on loopback pages: opening,
// restoring and the tab snapshot, the window commands, closing one window
// and quitting, each question answered in its real dialog.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinFor;
using test::spinUntil;
using Reply = WorkspaceWindows::TerminateReply;

namespace {

std::vector<Gtk::MessageDialog*> dialogsSaying(const std::string& text) {
    std::vector<Gtk::MessageDialog*> found;
    for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
        if (dialog->property_text().get_value().raw() == text) found.push_back(dialog);
    }
    return found;
}

class WorkspaceWindowsTest : public test::WindowFixture {
protected:
    WorkspaceWindowsTest() {
        services->restoration.setEnabled(true);
        makeSet();
    }
    ~WorkspaceWindowsTest() override { set.reset(); }

    void makeSet() {
        set = std::make_unique<WorkspaceWindows>(*services, Glib::RefPtr<Gtk::Application>());
        set->quitApplication = [this] { ++quits; };
    }
    // The snapshot on disk now.
    TabSnapshot snapshot() const {
        const auto data = test::readFile(storage / "tabs" / TabRestoration::snapshotName);
        return TabRestoration::decode(std::vector<uint8_t>(data.begin(), data.end()));
    }
    // Waits until no debounced snapshot is pending.
    void settle() { ASSERT_TRUE(spinUntil([&] { return !set->snapshotPending(); })); }
    WorkspaceWindow& at(std::size_t position) { return *set->windows().at(set->order().at(position)); }
    // Loads a page in the window's selected tab, its frame shown in the
    // window itself.
    void loadIn(WorkspaceWindow& window, const std::string& path) {
        ASSERT_TRUE(spinUntil([&] { return window.window().get_mapped(); }));
        load(*window.model(), path);
    }

    // A download of the tab that runs far longer than any test.
    void startSlowDownload(BrowserTab& tab) {
        test::WebTestServer::Stream slow;
        slow.length = 1 << 20;
        slow.chunk = 1024;
        slow.interval = 50ms;
        slow.headers = {{"Content-Disposition", "attachment; filename=velmora-" + UUID::random().text() + ".bin"}};
        server.stream("/slow.bin", slow);
        chooser.answer = out;
        tab.browser->navigate(server.url("/slow.bin"));
        ASSERT_TRUE(spinUntil([&] {
            return tab.downloads->size() == 1 &&
                   tab.downloads->front()->state() == BrowserDownload::State::receiving;
        }));
        ASSERT_TRUE(tab.active());
    }

    std::unique_ptr<WorkspaceWindows> set;
    int quits = 0;
};

}  // namespace

TEST_F(WorkspaceWindowsTest, WindowsCascadeCloseAtOnceWhenIdleAndTheSnapshotFollows) {
    EXPECT_EQ(WorkspaceWindow::initialOrigin(0), std::make_pair(60, 60));
    EXPECT_EQ(WorkspaceWindow::initialOrigin(1), std::make_pair(92, 84));
    EXPECT_EQ(WorkspaceWindow::initialOrigin(2), std::make_pair(124, 108));

    int changes = 0;
    set->changed.connect([&] { ++changes; });
    for (int i = 0; i < 3; ++i) ASSERT_NE(set->open(std::nullopt), nullptr);
    EXPECT_GE(changes, 3);
    ASSERT_EQ(set->order().size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(at(i).index(), i);
    auto& first = at(0).window();
    EXPECT_EQ(first.get_title(), "ベルモラ");
    // The others are told apart by their numbers.
    EXPECT_EQ(at(1).window().get_title(), "ベルモラ（2）");
    EXPECT_EQ(at(2).window().get_title(), "ベルモラ（3）");
    int width = 0, height = 0;
    first.get_default_size(width, height);
    EXPECT_EQ(width, 1240);
    EXPECT_EQ(height, 850);
    ASSERT_TRUE(spinUntil([&] { return first.get_width() > 0; }));
    EXPECT_GE(first.get_width(), 920);
    EXPECT_GE(first.get_height(), 720);

    // Each window's normal tab with a page reaches the snapshot.
    for (int i = 0; i < 3; ++i) loadIn(at(i), "/page");
    settle();
    ASSERT_EQ(snapshot().windows.size(), 3u);
    const UUID secondID = set->order()[1];
    const UUID thirdID = set->order()[2];

    // An idle window closes without a question and the snapshot is
    // rewritten at once without it.
    const auto generation = services->restoration.generation();
    at(1).window().close();
    EXPECT_TRUE(dialogsSaying(WorkspaceWindow::runningQuestion).empty());
    EXPECT_FALSE(set->windows().contains(secondID));
    EXPECT_EQ(set->order(), (std::vector<UUID>{set->order()[0], thirdID}));
    EXPECT_EQ(services->restoration.generation(), generation + 1);
    const auto written = snapshot();
    ASSERT_EQ(written.windows.size(), 2u);
    EXPECT_EQ(written.windows[1].id, thirdID);

    // The next window takes the count of open windows as its index, and
    // the number the closed one freed for its title.
    EXPECT_EQ(at(1).window().get_title(), "ベルモラ（3）");
    auto* fourth = set->open(std::nullopt);
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->index(), 2);
    EXPECT_EQ(fourth->window().get_title(), "ベルモラ（2）");
    EXPECT_EQ(set->windows().size(), set->order().size());
    EXPECT_EQ(quits, 0);
}

TEST_F(WorkspaceWindowsTest, StartRestoresTheLastWindowsInOrderUnloadedOrOpensOneWindow) {
    // The fresh snapshot of a restoration just switched on is empty.
    set->start();
    EXPECT_EQ(set->windows().size(), 1u);
    set.reset();
    makeSet();

    server.html("/other", test::page("二つ目"));
    set->open(std::nullopt);
    set->open(std::nullopt);
    loadIn(at(0), "/page");
    loadIn(at(1), "/page");
    at(1).model()->addTab(false);
    load(*at(1).model(), "/other");
    const std::vector<UUID> ids = set->order();
    settle();
    set->saveSnapshot();
    set.reset();

    makeSet();
    set->start();
    ASSERT_EQ(set->order(), ids);
    ASSERT_EQ(at(1).model()->tabs->size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(at(i).index(), i);
        for (const auto& tab : at(i).model()->tabs.get()) {
            EXPECT_TRUE(tab->deferredURL->has_value()) << "a restored tab loads nothing until opened";
            EXPECT_FALSE(tab->browser->currentURL->has_value());
        }
    }
    EXPECT_EQ(*at(1).model()->tabs.get()[1]->deferredURL.get(), server.url("/other"));
    // The restoration's notice, in one window only.
    ASSERT_FALSE(services->restoration.notice().empty());
    EXPECT_EQ(at(0).model()->message.get() + at(1).model()->message.get(), services->restoration.notice());
    set.reset();

    // Nothing usable to restore: exactly one new window, and the notice of
    // the unusable snapshot in it.
    test::writeFile(storage / "tabs" / TabRestoration::snapshotName, "{ not json");
    makeSet();
    set->start();
    ASSERT_EQ(set->windows().size(), 1u);
    EXPECT_EQ(at(0).model()->tabs->size(), 1u);
    EXPECT_EQ(at(0).model()->message.get(), TabRestoration::loadNotice);
    set.reset();
}

TEST_F(WorkspaceWindowsTest, ABurstOfTabChangesIsWrittenOnce200msAfterTheLast) {
    auto* window = set->open(std::nullopt);
    auto& model = *window->model();
    model.addTab(false);
    model.addTab(false);
    const auto tabs = model.tabs.get();
    settle();
    const auto before = services->restoration.generation();
    // Five changes of the tabs in a burst: selections and moves.
    const auto start = std::chrono::steady_clock::now();
    model.selectTab(tabs[0]->id, false);
    model.moveTab(tabs[0]->id, 1);
    model.selectTab(tabs[2]->id, false);
    model.moveTab(tabs[2]->id, -1);
    model.selectTab(tabs[1]->id, false);
    const auto last = std::chrono::steady_clock::now();
    EXPECT_LT(last - start, 100ms);
    EXPECT_TRUE(set->snapshotPending());
    EXPECT_NE(test::nextTimerDelay(), -1);
    EXPECT_LE(test::nextTimerDelay(), WorkspaceWindows::snapshotDelayMilliseconds);
    EXPECT_EQ(services->restoration.generation(), before);
    ASSERT_TRUE(spinUntil([&] { return services->restoration.generation() != before; }));
    EXPECT_GE(std::chrono::steady_clock::now() - last, 195ms);
    spinFor(400ms);
    EXPECT_EQ(services->restoration.generation(), before + 1);
}

TEST_F(WorkspaceWindowsTest, TheWindowCommandsActOnTheCurrentWindow) {
    // Nothing to act on.
    set->cycleTab(1);
    set->closeSelected();
    set->focusAddress();
    EXPECT_FALSE(set->reopenForRecapture(server.url("/page")));
    EXPECT_EQ(set->current(), nullptr);

    // Settings with no window: one opens in its settings section.
    int settingsShown = 0;
    set->settingsShown = [&](WorkspaceWindow&) { ++settingsShown; };
    set->showSettings();
    ASSERT_EQ(set->windows().size(), 1u);
    auto& window = at(0);
    EXPECT_EQ(set->current(), &window);
    EXPECT_EQ(window.model()->section.get(), WindowModel::Section::settings);
    EXPECT_EQ(settingsShown, 1);
    // The section shows the settings screen with the privacy section in it,
    // built afresh each time the section is chosen: an unapplied edit is
    // gone when the user comes back.
    ASSERT_TRUE(spinUntil([&] {
        auto* paper = dynamic_cast<Gtk::DropDown*>(test::findByName(window.window(), "form.product.paper"));
        return paper && paper->get_mapped();
    }));
    EXPECT_NE(test::findByName(window.window(), "settings.privacy"), nullptr);
    dynamic_cast<Gtk::DropDown*>(test::findByName(window.window(), "form.product.paper"))->set_selected(2);
    window.model()->section = WindowModel::Section::history;
    EXPECT_EQ(test::findByName(window.window(), "settings.apply"), nullptr);
    set->showSettings();
    auto* paper = dynamic_cast<Gtk::DropDown*>(test::findByName(window.window(), "form.product.paper"));
    ASSERT_NE(paper, nullptr);
    ASSERT_TRUE(spinUntil([&] { return paper->get_mapped(); }));
    EXPECT_EQ(paper->get_selected(), 0u);

    // Focus and cycling only in the web section.
    auto& model = *window.model();
    const UUID request = model.addressFocusRequest;
    set->focusAddress();
    EXPECT_EQ(model.addressFocusRequest.get(), request);
    const UUID only = model.selectedTabID;
    model.section = WindowModel::Section::web;
    set->cycleTab(1);
    EXPECT_EQ(model.selectedTabID.get(), only) << "a single tab stays selected";
    set->focusAddress();
    EXPECT_NE(model.addressFocusRequest.get(), request);

    model.addTab(false);
    model.addTab(false);
    const auto tabs = model.tabs.get();
    model.selectTab(tabs[2]->id, true);
    set->cycleTab(1);
    EXPECT_EQ(model.selectedTabID.get(), tabs[0]->id);
    set->cycleTab(-1);
    EXPECT_EQ(model.selectedTabID.get(), tabs[2]->id);
    set->cycleTab(-1);
    EXPECT_EQ(model.selectedTabID.get(), tabs[1]->id);
    model.section = WindowModel::Section::ocr;
    set->cycleTab(1);
    EXPECT_EQ(model.selectedTabID.get(), tabs[1]->id);

    // A re-capture from the history: a new normal tab in the web section
    // loading the address.
    ASSERT_TRUE(set->reopenForRecapture(server.url("/page")));
    EXPECT_EQ(model.section.get(), WindowModel::Section::web);
    ASSERT_EQ(model.tabs->size(), 4u);
    const auto added = model.selectedTab();
    EXPECT_EQ(added, model.tabs->back());
    EXPECT_FALSE(added->isPrivate());
    ASSERT_TRUE(spinUntil([&] { return added->browser->currentURL.get() == server.url("/page"); }));

    // Close: the selected tab in the web section, the window elsewhere.
    set->open(std::nullopt);
    ASSERT_EQ(set->windows().size(), 2u);
    window.window().present();
    model.selectTab(tabs[1]->id, false);
    // Focus is the window manager's to give; without one, name it.
    auto& current = *set->current();
    auto& currentModel = *current.model();
    const auto tabCount = currentModel.tabs->size();
    currentModel.section = WindowModel::Section::web;
    set->closeSelected();
    EXPECT_EQ(currentModel.tabs->size(), tabCount == 1 ? 1u : tabCount - 1);
    EXPECT_EQ(set->windows().size(), 2u);
    currentModel.section = WindowModel::Section::history;
    const UUID closedID = currentModel.id;
    set->closeSelected();
    EXPECT_FALSE(set->windows().contains(closedID));
    EXPECT_EQ(set->windows().size(), 1u);
}

TEST_F(WorkspaceWindowsTest, TheHelpDialogShowsItsTexts) {
    set->open(std::nullopt);
    set->showHelp();
    Gtk::MessageDialog* help = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        auto found = dialogsSaying("ベルモラの使い方");
        if (!found.empty()) help = found[0];
        return help != nullptr;
    }));
    EXPECT_EQ(help->property_secondary_text().get_value().raw(), WorkspaceWindows::helpInformative);
    EXPECT_EQ(help->get_transient_for(), &at(0).window());
    EXPECT_TRUE(help->get_modal());
    EXPECT_TRUE(test::answerMessageDialog("ベルモラの使い方", Gtk::ResponseType::CLOSE));
    EXPECT_TRUE(spinUntil([] { return dialogsSaying("ベルモラの使い方").empty(); }));
}

TEST_F(WorkspaceWindowsTest, ClosingAWindowWithRunningWorkAsksOnceThenStopsItAndCloses) {
    set->open(std::nullopt);
    auto* busy = set->open(std::nullopt);
    loadIn(*busy, "/page");
    auto tab = busy->model()->selectedTab();
    startHeldCapture(*tab);
    const UUID busyID = busy->model()->id;

    // Two requests, one question with the running-work texts.
    busy->window().close();
    busy->window().close();
    ASSERT_TRUE(spinUntil([] { return !dialogsSaying(WorkspaceWindow::runningQuestion).empty(); }));
    spinFor(100ms);
    auto questions = dialogsSaying(WorkspaceWindow::runningQuestion);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0]->property_secondary_text().get_value().raw(), WorkspaceWindow::closeInformative);
    auto* keep = dynamic_cast<Gtk::Button*>(test::findByName(*questions[0], GtkConfirmation::cancelName));
    auto* stop = dynamic_cast<Gtk::Button*>(test::findByName(*questions[0], GtkConfirmation::confirmName));
    ASSERT_TRUE(keep && stop);
    EXPECT_EQ(keep->get_label(), WorkspaceWindow::runningKeep);
    EXPECT_EQ(stop->get_label(), WorkspaceWindow::runningClose);
    EXPECT_TRUE(busy->closePrompt());

    // Keep: nothing changes but the prompt.
    ASSERT_TRUE(test::answerMessageDialog(WorkspaceWindow::runningQuestion, GtkConfirmation::firstButton));
    ASSERT_TRUE(spinUntil([&] { return !busy->closePrompt(); }));
    EXPECT_TRUE(tab->active());
    EXPECT_FALSE(busy->model()->closing);
    EXPECT_TRUE(set->windows().contains(busyID));

    // Stop and close: the capture is cancelled, waited for, the window goes
    // and the snapshot no longer has it.
    busy->window().close();
    ASSERT_TRUE(test::answerMessageDialog(WorkspaceWindow::runningQuestion, GtkConfirmation::secondButton));
    ASSERT_TRUE(spinUntil([&] { return !set->windows().contains(busyID); }, 30s));
    EXPECT_FALSE(tab->active());
    EXPECT_TRUE(tab->closed());
    EXPECT_EQ(set->order().size(), 1u);
    for (const auto& w : snapshot().windows) EXPECT_NE(w.id, busyID);
    EXPECT_EQ(quits, 0);
}

// A window that goes with its set, never closed: its busy tabs are stopped
// and shut down as a close would, not left running with nobody to report to.
TEST_F(WorkspaceWindowsTest, AWindowGoneWithoutClosingStopsItsBusyTabsAndShutsThemDown) {
    auto* window = set->open(std::nullopt);
    loadIn(*window, "/page");
    auto saving = window->model()->selectedTab();
    startHeldCapture(*saving);
    auto downloading = window->model()->addTab(false);
    startSlowDownload(*downloading);
    auto idle = window->model()->addTab(false);

    set.reset();
    EXPECT_TRUE(idle->closed());
    ASSERT_TRUE(spinUntil([&] { return saving->closed() && downloading->closed(); }, 30s));
    EXPECT_FALSE(saving->active());
    EXPECT_FALSE(downloading->active());
    EXPECT_EQ(downloading->downloads->size(), 0u);
}

TEST_F(WorkspaceWindowsTest, ResultsNotSavedAsTXTAskWithTheirOwnTextsAndCloseWithoutWritingOne) {
    set->open(std::nullopt);
    auto* window = set->open(std::nullopt);
    // A private queue keeps its results in memory only.
    const fs::path png = dir / "page.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    auto& queue = *window->model()->queue;
    queue.privateInput = true;
    queue.select({png}, nullptr);
    ASSERT_TRUE(queue.isPrivateQueue());
    const UUID id = window->model()->id;

    window->window().close();
    ASSERT_TRUE(spinUntil([] { return !dialogsSaying(WorkspaceWindow::editsQuestion).empty(); }));
    EXPECT_TRUE(dialogsSaying(WorkspaceWindow::runningQuestion).empty());
    auto* question = dialogsSaying(WorkspaceWindow::editsQuestion)[0];
    EXPECT_EQ(question->property_secondary_text().get_value().raw(), WorkspaceWindow::closeInformative);
    auto* keep = dynamic_cast<Gtk::Button*>(test::findByName(*question, GtkConfirmation::cancelName));
    auto* close = dynamic_cast<Gtk::Button*>(test::findByName(*question, GtkConfirmation::confirmName));
    ASSERT_TRUE(keep && close);
    EXPECT_EQ(keep->get_label(), WorkspaceWindow::editsKeep);
    EXPECT_EQ(close->get_label(), WorkspaceWindow::editsClose);
    close->activate();
    ASSERT_TRUE(spinUntil([&] { return !set->windows().contains(id); }));
    // No TXT anywhere under the output folder.
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
    }
}

TEST_F(WorkspaceWindowsTest, AWindowClosedWhileTerminatingLeavesTheSetWithoutWritingTheSnapshot) {
    set->open(std::nullopt);
    auto* busy = set->open(std::nullopt);
    auto* idle = set->open(std::nullopt);
    loadIn(*busy, "/page");
    startHeldCapture(*busy->model()->selectedTab());
    settle();
    EXPECT_EQ(set->requestTermination(), Reply::later);
    const std::string savingQuestion = "保存中のWebページがあります";
    ASSERT_TRUE(spinUntil([&] { return !dialogsSaying(savingQuestion).empty(); }));
    const auto generation = services->restoration.generation();
    const UUID idleID = idle->model()->id;
    idle->window().close();
    EXPECT_FALSE(set->windows().contains(idleID));
    EXPECT_EQ(set->order().size(), 2u);
    EXPECT_EQ(services->restoration.generation(), generation);
    ASSERT_TRUE(test::answerMessageDialog(savingQuestion, GtkConfirmation::firstButton));
    ASSERT_TRUE(spinUntil([&] { return !set->terminating(); }));
    endHeldCapture(*busy->model()->selectedTab());
}

TEST_F(WorkspaceWindowsTest, QuittingAsksWhileWorkRunsStopsEveryWindowAndQuits) {
    // Nothing running: the snapshot is written and the answer is now.
    set->open(std::nullopt);
    loadIn(at(0), "/page");
    const auto before = services->restoration.generation();
    EXPECT_EQ(set->requestTermination(), Reply::now);
    EXPECT_TRUE(set->terminating());
    EXPECT_EQ(services->restoration.generation(), before + 1);
    EXPECT_TRUE(test::visibleWindowsOf<Gtk::MessageDialog>().empty());
    EXPECT_EQ(set->open(std::nullopt), nullptr) << "no window opens while terminating";
    set.reset();

    makeSet();
    set->open(std::nullopt);
    set->open(std::nullopt);
    loadIn(at(0), "/page");
    loadIn(at(1), "/page");
    auto first = at(0).model()->selectedTab();
    auto second = at(1).model()->selectedTab();
    // One window saves a page, the other receives a slow download, saved
    // through the window set's own download records.
    startHeldCapture(*first);
    startSlowDownload(*second);

    // One question, naming both kinds of work; a second request is later
    // without another.
    const std::string bothQuestion = "保存中のWebページ・受信中のダウンロードがあります";
    EXPECT_EQ(set->requestTermination(), Reply::later);
    EXPECT_EQ(set->requestTermination(), Reply::later);
    ASSERT_TRUE(spinUntil([&] { return !dialogsSaying(bothQuestion).empty(); }));
    spinFor(100ms);
    auto questions = dialogsSaying(bothQuestion);
    ASSERT_EQ(questions.size(), 1u);
    // No private queue is among the work: none is spoken of.
    EXPECT_EQ(questions[0]->property_secondary_text().get_value().raw(),
              "終了をやめると処理と編集を続けられます。終了する場合は処理の停止を待ちます。"
              "明示保存したファイルやコピー結果は残ります。");

    // Called off: work goes on, and a later quit asks again.
    ASSERT_TRUE(test::answerMessageDialog(bothQuestion, GtkConfirmation::firstButton));
    ASSERT_TRUE(spinUntil([&] { return !set->terminating(); }));
    EXPECT_TRUE(first->active());
    EXPECT_TRUE(second->active());
    EXPECT_EQ(quits, 0);

    // Stop and quit: both captures are cancelled and waited for, every tab
    // shut down, then the application quits once.
    EXPECT_EQ(set->requestTermination(), Reply::later);
    ASSERT_TRUE(test::answerMessageDialog(bothQuestion, GtkConfirmation::secondButton));
    ASSERT_TRUE(spinUntil([&] { return quits > 0; }, 30s));
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(first->active());
    EXPECT_FALSE(second->active());
    EXPECT_TRUE(first->closed());
    EXPECT_TRUE(second->closed());
    // The snapshot holds the windows as they were before the stop.
    EXPECT_EQ(snapshot().windows.size(), 2u);
}

TEST_F(WorkspaceWindowsTest, ClosingTheLastWindowIsAQuitThatKeepsItsTabs) {
    auto* window = set->open(std::nullopt);
    loadIn(*window, "/page");
    settle();
    const UUID id = window->model()->id;
    window->window().close();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(set->terminating());
    // Still registered, so its tabs are in the snapshot for the next start.
    EXPECT_TRUE(set->windows().contains(id));
    const auto written = snapshot();
    ASSERT_EQ(written.windows.size(), 1u);
    EXPECT_EQ(written.windows[0].id, id);
    ASSERT_EQ(written.windows[0].tabs.size(), 1u);
    EXPECT_EQ(written.windows[0].tabs[0].url, server.url("/page"));
}
