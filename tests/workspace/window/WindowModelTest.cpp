#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/BrindlexError.hpp"
#include "foundation/PortableSettings.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/RasterFiles.hpp"
#include "support/gui/Pointer.hpp"
#include "webcapture/NavigationPolicy.hpp"
#include "workspace/window/WindowFixture.hpp"

// The window model with real tabs: how a new and a restored window start,
// how the preferences reach the window and its queue (held back while a real
// capture runs), the event log of saves and queue runs, the tabs' hooks, the
// close guard and the queue's TXT destination.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Stage = SafeEvent::Stage;
using test::spinFor;
using test::spinUntil;

namespace {

class WindowModelTest : public test::WindowFixture {
protected:
    // Changes the stored preferences, as the settings screen does.
    void change(const std::function<void(AppPreferences&)>& mutation) {
        services->settings.change(mutation);
    }
    static const SafeEvent* find(const std::vector<SafeEvent>& events, const UUID& id) {
        for (const auto& e : events) {
            if (e.jobID == id) return &e;
        }
        return nullptr;
    }
};

}  // namespace

TEST_F(WindowModelTest, ANewWindowHasOneFreshSelectedTabAndTheCurrentPreferences) {
    change([](AppPreferences& p) {
        p.rightPanelPreferredWidth = 410;
        p.bottomPanelPreferredHeight = 250;
        p.panel = AppPreferences::Panel::bottom;
        p.mobileWidth = 375;
        p.lazyLoad = false;
        p.automaticOCR = false;
        p.product.webMode = "current";
        p.product.captureScale = 2;
        p.product.paper = "A3";
        p.product.printOutput = "pdf";
        p.product.margin = 5;
        p.product.ocrMode = OCRMode::vertical;
    });
    auto model = makeModel();
    auto other = makeModel();
    EXPECT_NE(model->id, other->id);

    ASSERT_EQ(model->tabs->size(), 1u);
    const auto& tab = model->tabs->front();
    EXPECT_EQ(model->selectedTabID.get(), tab->id);
    EXPECT_EQ(model->selectedTab(), tab);
    EXPECT_FALSE(tab->isPrivate());
    EXPECT_EQ(model->address(), "");
    EXPECT_EQ(model->section.get(), WindowModel::Section::web);
    EXPECT_FALSE(model->closing);
    EXPECT_EQ(model->message.get(), "");

    // From the preferences.
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 410);
    EXPECT_EQ(model->bottomPanelPreferredHeight.get(), 250);
    EXPECT_EQ(model->panel.get(), AppPreferences::Panel::bottom);
    EXPECT_EQ(model->mobileWidth.get(), 375);
    EXPECT_FALSE(model->lazyLoad);
    EXPECT_EQ(model->widthMode.get(), "current");
    EXPECT_EQ(model->scale.get(), 2);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::a3);
    EXPECT_EQ(model->format.get(), PrintOptions::Output::pdf);
    EXPECT_EQ(model->margin.get(), 5);
    // Never from the preferences.
    EXPECT_EQ(model->customWidth.get(), 1440);
    EXPECT_FALSE(model->captureOCR);

    // The window's own queue, under the storage root, with the preferences'
    // options for its next queue and the window's TXT destination.
    EXPECT_EQ(model->queue->parent, storage / "queues");
    EXPECT_EQ(model->queue->output, out);
    EXPECT_FALSE(model->queue->automatic);
    EXPECT_EQ(model->queue->recognitionMode.get(), OCRMode::vertical);
    EXPECT_TRUE(model->queue->destinationProvider);
    EXPECT_EQ(windows.snapshots, 0);
}

TEST_F(WindowModelTest, RestoredWindowsKeepTheirIdsAndUnloadedTabs) {
    const std::string url = server.url("/page");
    RestoredWindow restored{UUID::random(),
                            {RestoredTab{UUID::random(), url, false}, RestoredTab{UUID::random(), std::nullopt, true}},
                            {}};
    restored.selected = restored.tabs[1].id;
    {
        auto model = makeModel(restored);
        EXPECT_EQ(model->id, restored.id);
        ASSERT_EQ(model->tabs->size(), 2u);
        const auto& first = model->tabs.get()[0];
        const auto& second = model->tabs.get()[1];
        EXPECT_EQ(first->id, restored.tabs[0].id);
        EXPECT_EQ(first->address.get(), url);
        EXPECT_EQ(first->deferredURL.get(), url);
        EXPECT_FALSE(first->restorationUnavailable);
        EXPECT_EQ(second->id, restored.tabs[1].id);
        EXPECT_EQ(second->address.get(), "");
        EXPECT_FALSE(second->deferredURL->has_value());
        EXPECT_TRUE(second->restorationUnavailable);
        EXPECT_EQ(model->selectedTab(), second);
        for (const auto& tab : model->tabs.get()) EXPECT_FALSE(tab->isPrivate());
    }
    // Nothing was loaded.
    spinFor(200ms);
    EXPECT_EQ(server.requests("/page"), 0);

    // A selection that names no tab stays; the first tab stands in for it.
    {
        RestoredWindow stray = restored;
        stray.selected = UUID::random();
        auto model = makeModel(stray);
        EXPECT_EQ(model->selectedTabID.get(), stray.selected);
        EXPECT_EQ(model->selectedTab(), model->tabs->front());
        EXPECT_EQ(&model->browser(), model->tabs->front()->browser.get());
        EXPECT_EQ(model->address(), url);
    }
    // No tabs: the restored id and one fresh selected tab.
    {
        RestoredWindow empty{UUID::random(), {}, UUID::random()};
        auto model = makeModel(empty);
        EXPECT_EQ(model->id, empty.id);
        ASSERT_EQ(model->tabs->size(), 1u);
        EXPECT_EQ(model->selectedTabID.get(), model->tabs->front()->id);
        EXPECT_NE(model->selectedTabID.get(), empty.selected);
        EXPECT_EQ(model->address(), "");
    }
    // An address text that does not parse is kept as text only.
    {
        RestoredWindow odd{UUID::random(), {RestoredTab{UUID::random(), "not a url", false}}, {}};
        odd.selected = odd.tabs[0].id;
        auto model = makeModel(odd);
        EXPECT_EQ(model->address(), "not a url");
        EXPECT_FALSE(model->selectedTab()->deferredURL->has_value());
    }
}

TEST_F(WindowModelTest, UnknownProductValuesFallBackExceptTheWebModeWhichIsCopied) {
    auto model = makeModel();
    ProductDefaults product;
    product.paper = "B4";
    product.printOutput = "tiff";
    product.webMode = "tablet";
    product.waitSeconds = 3;
    product.landscape = true;
    product.backgrounds = false;
    product.headerFooter = true;
    model->paper = PrintOptions::Paper::letter;
    model->format = PrintOptions::Output::png;
    model->mobileWidth = 999;
    model->customWidth = 2000;
    model->lazyLoad = false;
    model->captureOCR = true;
    model->applyProduct(product);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::a4);
    EXPECT_EQ(model->format.get(), PrintOptions::Output::both);
    EXPECT_EQ(model->widthMode.get(), "tablet");
    EXPECT_EQ(model->waitSeconds.get(), 3);
    EXPECT_TRUE(model->landscape);
    EXPECT_FALSE(model->backgrounds);
    EXPECT_TRUE(model->headerFooter);
    // Left alone.
    EXPECT_EQ(model->mobileWidth.get(), 999);
    EXPECT_EQ(model->customWidth.get(), 2000);
    EXPECT_FALSE(model->lazyLoad);
    EXPECT_TRUE(model->captureOCR);
    // Known names map to their cases.
    product.paper = "JIS B5";
    product.printOutput = "png";
    model->applyProduct(product);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::b5);
    EXPECT_EQ(model->format.get(), PrintOptions::Output::png);
}

TEST_F(WindowModelTest, PreferenceChangesRewriteThePanelAndOnlyWhatChanged) {
    auto model = makeModel();
    // The value the store held at subscription is not applied again.
    model->rightPanelPreferredWidth = 111;
    model->mobileWidth = 999;
    model->widthMode = "current";
    spinFor(50ms);
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 111);

    // A change that leaves the product, the mobile width and the lazy load
    // as they were rewrites the panel fields only.
    change([](AppPreferences& p) { p.logDays = 90; });
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 320);
    EXPECT_EQ(model->mobileWidth.get(), 999);
    EXPECT_EQ(model->widthMode.get(), "current");

    change([](AppPreferences& p) { p.mobileWidth = 390; });
    EXPECT_EQ(model->mobileWidth.get(), 390);
    EXPECT_EQ(model->widthMode.get(), "current") << "the product did not change";
    change([](AppPreferences& p) { p.product.captureScale = 2; });
    EXPECT_EQ(model->widthMode.get(), "mobile");
    EXPECT_EQ(model->scale.get(), 2);
}

TEST_F(WindowModelTest, ThePanelsDisplayIsKeptForTheNextLaunchAndTheSummarySaysIt) {
    auto model = makeModel();
    auto other = makeModel();
    ASSERT_EQ(model->widthMode.get(), "mobile");
    model->paper = PrintOptions::Paper::b5;
    model->widthMode = "custom";
    model->chooseDisplay("mobile");
    model->chooseDisplay("pc");
    EXPECT_EQ(model->widthMode.get(), "current");
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::b5) << "the window's other options stay";
    EXPECT_EQ(other->widthMode.get(), "current");

    // What the next launch reads, and the summary of it.
    const auto reread = [&] { return SettingsStore(services->settings.root()).value(); };
    EXPECT_EQ(reread().product.webMode, "current");
    EXPECT_NE(PortableSettings(reread()).summary().find("\nWeb：PC・"), std::string::npos);
    EXPECT_EQ(makeModel()->widthMode.get(), "current");
    model->chooseDisplay("mobile");
    EXPECT_EQ(reread().product.webMode, "mobile");
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::b5);
}

TEST_F(WindowModelTest, PreferencesWaitForTheWindowsSavesButReachAnIdleQueueAtOnce) {
    auto model = makeModel();
    auto first = model->selectedTab();
    show(*first);
    load(*model, "/page");
    auto second = model->addTab(false);
    show(*second);
    load(*model, "/page");

    // One tall PNG at a time runs in the process, so the second tab's save
    // is its session's pending flag, as a print-style save sets it.
    startHeldCapture(*first, "/held-1.png");
    second->browser->operationPending = true;
    EXPECT_TRUE(model->webSaving());
    first->lockedSize = Size{390, 700};
    second->lockedSize = Size{390, 700};

    // Two changes during the saves: the window keeps its fields, the idle
    // queue without an engine takes each at once.
    change([](AppPreferences& p) {
        p.rightPanelPreferredWidth = 500;
        p.mobileWidth = 375;
        p.product.paper = "Letter";
        p.product.ocrMode = OCRMode::handwriting;
        p.automaticOCR = false;
    });
    change([](AppPreferences& p) {
        p.product.paper = "A3";
        p.lazyLoad = false;
    });
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 320);
    EXPECT_EQ(model->mobileWidth.get(), 430);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::a4);
    EXPECT_TRUE(model->lazyLoad);
    EXPECT_EQ(model->queue->recognitionMode.get(), OCRMode::handwriting);
    EXPECT_FALSE(model->queue->automatic);
    ASSERT_TRUE(model->queue->nextProductDefaults);
    EXPECT_EQ(model->queue->nextProductDefaults->paper, "A3");
    EXPECT_EQ(model->queue->nextAutomaticDefault, false);

    // One save ends: its locked size goes at once, the preferences still
    // wait for the other.
    endHeldCapture(*first, "/held-1.png");
    EXPECT_FALSE(first->lockedSize->has_value());
    EXPECT_TRUE(second->lockedSize->has_value());
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 320);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::a4);

    // The last one ends: the latest preferences apply, the second change
    // over the first.
    second->browser->operationPending = false;
    EXPECT_FALSE(second->lockedSize->has_value());
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 500);
    EXPECT_EQ(model->mobileWidth.get(), 375);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::a3);
    EXPECT_FALSE(model->lazyLoad);

    // Both ends were logged, each under its own trace's id (the capture's
    // image never decoded, so it failed).
    const auto logged = events();
    EXPECT_EQ(logged.size(), 2u);
    const SafeEvent* captured = find(logged, first->browser->operation.get()->id());
    ASSERT_TRUE(captured);
    EXPECT_EQ(captured->stage, Stage::failed);
    const SafeEvent* flagged = find(logged, second->browser->operation.get()->id());
    ASSERT_TRUE(flagged);
    EXPECT_EQ(flagged->stage, Stage::completed);
}

TEST_F(WindowModelTest, SavesAreLoggedByHowTheyEnded) {
    auto model = makeModel();
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");

    // Cancelled while it waits for the page.
    startHeldCapture(*tab, "/held-c.png");
    const UUID cancelled = tab->browser->operation.get()->id();
    tab->browser->cancel();
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    server.release("/held-c.png");

    // Failed: a step of the capture throws.
    CaptureOptions options = captureOptions();
    options.checkpoint = [](CaptureOptions::Stage) -> Task<void> {
        raise(ErrorCase::renderFailed);
        co_return;
    };
    tab->browser->capture(std::move(options), screenshots);
    const UUID failed = tab->browser->operation.get()->id();
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));

    // Completed, on a page without the image that never came.
    server.html("/clean", test::page("きれいなページ", "<p>本文</p>"));
    load(*model, "/clean");
    tab->browser->capture(captureOptions(), screenshots);
    const UUID completed = tab->browser->operation.get()->id();
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));

    const auto logged = events();
    EXPECT_EQ(logged.size(), 3u);
    for (const auto& [traceID, stage] :
         std::vector<std::pair<UUID, Stage>>{{cancelled, Stage::cancelled}, {failed, Stage::failed},
                                             {completed, Stage::completed}}) {
        const SafeEvent* e = find(logged, traceID);
        ASSERT_TRUE(e) << rawValue(stage);
        EXPECT_EQ(e->stage, stage);
        EXPECT_FALSE(e->error);
    }
}

TEST_F(WindowModelTest, AQueueGoingIdleIsLoggedWithTheWindowsOrTheSnapshotsId) {
    auto model = makeModel();
    int announcements = 0;
    auto watch = model->changed.connect([&] { ++announcements; });

    // Without a snapshot: paused, under the window's id.
    model->queue->setBusy(true);
    EXPECT_EQ(announcements, 1) << "busy is announced as the window's change";
    model->queue->setBusy(false);
    ASSERT_TRUE(spinUntil([&] { return find(events(), model->id); }));
    EXPECT_EQ(find(events(), model->id)->stage, Stage::paused);

    // A run that ended with failed pages: failed, under the queue's id. The
    // idle queue without an engine takes the automatic default again.
    QueueSnapshot snapshot(OCRSettings{}, {QueueInput((dir / "a.pdf").string(), InputOrigin::normal)});
    snapshot.inputs[0].pages = {PageRecord(1, PageState::completed), PageRecord(2, PageState::failed),
                                PageRecord(3, PageState::failed)};
    snapshot.status = QueueStatus::completed;
    model->queue->setBusy(true);
    model->queue->snapshot = snapshot;
    model->queue->automatic = false;
    model->queue->setBusy(false);
    ASSERT_TRUE(spinUntil([&] { return find(events(), snapshot.id); }));
    EXPECT_EQ(find(events(), snapshot.id)->stage, Stage::failed);
    EXPECT_TRUE(model->queue->automatic) << "the preferences' automaticOCR";
    watch.disconnect();

    // A model that is gone logs nothing.
    model->queue->setBusy(true);
    auto queue = model->queue;
    const size_t before = events().size();
    model.reset();
    queue->setBusy(false);
    spinFor(50ms);
    EXPECT_EQ(events().size(), before);
}

TEST_F(WindowModelTest, PagesOpenTabsOfTheirKindUnlessTheWindowCloses) {
    server.html("/opener", test::page("親", "<a id=l href=/child target=_blank>子へ</a>"));
    server.html("/child", test::page("子"));
    for (bool privateMode : {false, true}) {
        auto model = makeModel();
        auto opener = model->addTab(privateMode);
        show(*opener);
        load(*model, "/opener");

        model->closing = true;
        run(*opener, "document.getElementById('l').click();true");
        ASSERT_TRUE(spinUntil([&] { return opener->browser->navigationNotice.get() == "別タブを開けませんでした。"; }));
        EXPECT_EQ(model->tabs->size(), 2u);

        model->closing = false;
        run(*opener, "document.getElementById('l').click();true");
        ASSERT_TRUE(spinUntil([&] { return model->tabs->size() == 3; }));
        const auto child = model->tabs->back();
        EXPECT_EQ(model->selectedTab(), child);
        EXPECT_EQ(child->isPrivate(), privateMode);
        EXPECT_EQ(webkit_web_view_get_network_session(child->browser->webView()),
                  webkit_web_view_get_network_session(opener->browser->webView()));
        show(*child);
        ASSERT_TRUE(spinUntil([&] { return child->browser->pageTitle.get() == "子"; }));
        // The navigation handler put the page's address into the new tab.
        EXPECT_EQ(child->address.get(), server.url("/child"));
    }
}

TEST_F(WindowModelTest, NavigationsUpdateTheAddressUnlessItIsBeingEdited) {
    server.html("/other", test::page("他"));
    auto model = makeModel();
    show(*model->selectedTab());
    load(*model, "/page");
    EXPECT_EQ(model->address(), server.url("/page"));

    auto& tab = *model->selectedTab();
    tab.editingAddress = true;
    tab.address = std::string("typing");
    const int before = windows.snapshots;
    tab.browser->navigate(server.url("/other"));
    ASSERT_TRUE(spinUntil([&] { return tab.browser->pageTitle.get() == "他" && !tab.browser->loading; }));
    EXPECT_EQ(tab.address.get(), "typing");
    EXPECT_GT(windows.snapshots, before) << "the snapshot is asked for all the same";
}

// What a user's own click on a link that leaves the web does, as the README
// tells it: a data: link is cancelled with the notice; a file: link the
// engine refuses itself before asking the tab, so nothing happens at all.
TEST_F(WindowModelTest, AClickedLinkOffTheWebIsRefusedAndAFileLinkDoesNothing) {
    for (const std::string target : {"data:text/html,<title>d</title>", "file:///etc/hostname"}) {
        SCOPED_TRACE(target);
        server.html("/link", test::page("リンク", "<a id=out href='" + target +
                                                     "' style='position:fixed;inset:0;display:block'>外へ</a>"
                                                     "<script>document.getElementById('out').onclick ="
                                                     " () => { window.clicked = true; }</script>"));
        auto model = makeModel();
        auto& tab = *model->selectedTab();
        show(tab);
        load(*model, "/link");
        BrowserSession& session = *tab.browser;
        session.navigationNotice = std::string();
        Gtk::Widget& frame = session.frame();
        ASSERT_TRUE(test::pointerClick(test::centreOf(frame)));
        ASSERT_TRUE(spinUntil([&] { return run(tab, "window.clicked === true") == "true"; }));
        if (target.starts_with("data:")) {
            EXPECT_TRUE(spinUntil([&] { return session.navigationNotice.get() == NavigationNotice::refused; }));
        } else {
            test::spinFor(std::chrono::milliseconds(500));
            EXPECT_EQ(session.navigationNotice.get(), "");
        }
        EXPECT_EQ(session.currentURL.get(), server.url("/link"));
        EXPECT_EQ(session.pageTitle.get(), "リンク");
    }
}

TEST_F(WindowModelTest, APrivateQueueWithResultsNeedsConfirmationUntilItIsClosed) {
    auto model = makeModel();
    EXPECT_FALSE(model->needsCloseConfirmation());
    EXPECT_FALSE(model->active());

    const fs::path png = dir / "page.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    model->queue->privateInput = true;
    model->queue->select({png}, nullptr);
    ASSERT_TRUE(model->queue->engine);
    ASSERT_TRUE(model->queue->isPrivateQueue());
    EXPECT_TRUE(model->needsCloseConfirmation());
    EXPECT_FALSE(model->active());

    model->queue->engine = nullptr;
    EXPECT_FALSE(model->needsCloseConfirmation());
    EXPECT_FALSE(model->active());

    // A busy queue is activity of the window.
    model->queue->setBusy(true);
    EXPECT_TRUE(model->active());
    EXPECT_TRUE(model->needsCloseConfirmation());
    model->queue->setBusy(false);
}

TEST_F(WindowModelTest, TheQueuesTXTGoesToTheOCRFolderOfTheChosenDestination) {
    auto model = makeModel();
    auto provider = model->queue->destinationProvider;
    ASSERT_TRUE(provider);

    // The preferences ask: a cancelled chooser is no destination, no error.
    chooser.answer = std::nullopt;
    EXPECT_EQ(test::runTask(provider(false)), std::nullopt);
    EXPECT_EQ(chooser.requests.size(), 1u);

    const fs::path chosen = dir / "chosen";
    fs::create_directories(chosen);
    chooser.answer = chosen;
    EXPECT_EQ(test::runTask(provider(false)), chosen / "OCR");

    // Saved automatically: the approved folder, nobody asked; an explicit
    // ask asks all the same.
    change([](AppPreferences& p) { p.saveMode = AppPreferences::SaveMode::automatic; });
    const size_t asked = chooser.requests.size();
    EXPECT_EQ(test::runTask(provider(false)), chosen / "OCR");
    EXPECT_EQ(chooser.requests.size(), asked);
    chooser.answer = std::nullopt;
    EXPECT_EQ(test::runTask(provider(true)), std::nullopt);
    EXPECT_EQ(chooser.requests.size(), asked + 1);

    // Without its window the provider fails.
    model.reset();
    try {
        test::runTask(provider(false));
        ADD_FAILURE() << "no error";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::saveFailed);
    }
}
