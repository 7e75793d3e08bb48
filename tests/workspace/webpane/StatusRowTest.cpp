#include <gtest/gtest.h>

#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>

#include <algorithm>
#include <set>

#include "history/CaptureHistory.hpp"
#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/model/SaveRequest.hpp"
#include "workspace/model/TabActions.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"

// The status row and the other tabs' strips with real saves of loopback
// pages, started through the pane's own buttons: what each button offers
// before, during and after a save, the diagnostic read back from the
// display's clipboard, the folder handed to the desktop, and the strips that
// lead to another tab's save or stop it alone.

using namespace velmora;
using namespace std::chrono_literals;
using test::PaneWindow;
using test::spinUntil;

namespace {

class StatusRowTest : public test::WebPaneFixture {
protected:
    static std::string stageText(PaneWindow& pane) {
        return named<Gtk::Label>(pane.status, CaptureStatusRow::stageName)->get_text();
    }
    static Gtk::Widget* rowButton(PaneWindow& pane, const char* name) { return named(pane.status, name); }
    static std::vector<Gtk::Widget*> strips(PaneWindow& pane) {
        std::vector<Gtk::Widget*> found;
        for (auto* child = pane.strips.get_first_child(); child; child = child->get_next_sibling()) {
            if (child->get_visible() && child->get_name() == OtherTabSaveStrips::stripName) found.push_back(child);
        }
        return found;
    }
};

}  // namespace

TEST_F(StatusRowTest, ASaveIsFollowedInTheRowAndItsDiagnosticAndFolderAreReachedAfterwards) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");

    // Before the first save: nothing to say about the page, nothing to
    // copy, open or stop; with the panel on the right the row is left out.
    EXPECT_EQ(stageText(pane), "");
    EXPECT_FALSE(shownNow(&pane.status));
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::copyName)->get_visible());
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::openOutputName)->get_visible());
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible()) << "nothing to stop: not shown";

    // The stage as the save goes: every text the row showed.
    std::set<std::string> shown;
    auto watch = model->changed.connect([&] { shown.insert(stageText(pane)); });
    startHeldSave(*model, *tab, named(pane.panel, CapturePanel::captureName));
    EXPECT_EQ(stageText(pane), "下部の画像を読み込み中");
    EXPECT_TRUE(shownNow(&pane.status));
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
    // The folder is known, but not offered while the save runs.
    ASSERT_TRUE(model->lastOutput().has_value());
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    EXPECT_TRUE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible());

    // The held image never comes whole: the save fails, and says so.
    endHeldCapture(*tab);
    watch.disconnect();
    EXPECT_GE(shown.size(), 3u);
    EXPECT_TRUE(shown.count("下部の画像を読み込み中"));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::failed);
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible()) << "nothing to stop: not shown";
    const std::string failure = tab->browser->captureDiagnosticText.get();
    ASSERT_FALSE(failure.empty());
    // It saved nothing: no folder to open, and no row in the history.
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    EXPECT_TRUE(AppHistory::required()->entries().empty());

    // Without the broken image the next save of the page completes.
    run(*tab, "document.querySelector('img').remove();true");
    click(named(pane.panel, CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return tab->browser->hasPendingOperation(); }));
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::completed);
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);

    // After it: its diagnostic, read back from the clipboard.
    const std::string diagnostic = tab->browser->captureDiagnosticText.get();
    ASSERT_FALSE(diagnostic.empty());
    EXPECT_NE(diagnostic, failure);
    click(rowButton(pane, CaptureStatusRow::copyName));
    EXPECT_EQ(clipboardText(), diagnostic);

    // And the output folder, handed to the desktop as it is.
    click(rowButton(pane, CaptureStatusRow::openOutputName));
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], *model->lastOutput());
    EXPECT_TRUE(std::filesystem::is_directory(desktop.opened[0]));
    EXPECT_FALSE(test::listNames(desktop.opened[0]).empty());
    // A last output that is no folder (it went meanwhile) is not opened.
    model->setLastOutput(dir / "gone");
    click(rowButton(pane, CaptureStatusRow::openOutputName));
    EXPECT_EQ(desktop.opened.size(), 1u);

    // A page taller than a tall PNG may be is refused, saying so: nothing
    // saved, no folder offered, no row added.
    server.html("/too-tall", test::page("長すぎるページ", "<div style='height:40000px'>本文</div>"));
    load(*model, "/too-tall");
    click(named(pane.panel, CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return tab->browser->hasPendingOperation(); }));
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    EXPECT_NE(stageText(pane).find("縦長PNGの上限"), std::string::npos) << stageText(pane);
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);
}

TEST_F(StatusRowTest, ASaveIsStoppedFromTheRowAndTheDiagnosticNeverLeavesAPrivateTab) {
    auto model = makeModel();
    model->panel = AppPreferences::Panel::bottom;
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");

    // Started from the row's own button at the bottom, stopped by "中止する".
    startHeldSave(*model, *tab, rowButton(pane, CaptureStatusRow::captureName));
    click(rowButton(pane, CaptureStatusRow::cancelName));
    EXPECT_EQ(stageText(pane), "中止を受付済み。処理の終了と画面復元を待っています");
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::cancelled);
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible()) << "nothing to stop: not shown";
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName))) << "stopped before any file";

    // A private tab: its diagnostic is not offered, even when there is one.
    auto hidden = model->addTab(true);
    ASSERT_TRUE(hidden->isPrivate());
    hidden->browser->captureDiagnosticText = "{\"url\" : \"https://example.com/\"}";
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
    // The normal tab again, with an empty diagnostic: nothing to copy.
    model->selectTab(tab->id, false);
    tab->browser->captureDiagnosticText = "";
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
    tab->browser->captureDiagnosticText = "{}";
    EXPECT_TRUE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
}

TEST_F(StatusRowTest, AnotherTabsSaveHasAStripThatLeadsToItOrStopsItAlone) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    auto saving = model->selectedTab();
    show(*saving);
    load(*model, "/page");
    startHeldSave(*model, *saving, named(pane.panel, CapturePanel::captureName));
    EXPECT_TRUE(strips(pane).empty());

    auto other = model->addTab(false);
    ASSERT_EQ(model->selectedTab(), other);
    auto shownStrips = strips(pane);
    ASSERT_EQ(shownStrips.size(), 1u);
    EXPECT_EQ(pane.strips.shownTabs(), std::vector<UUID>{saving->id});
    EXPECT_EQ(named<Gtk::Label>(*shownStrips[0], OtherTabSaveStrips::textName)->get_text(),
              "別タブの保存：下部の画像を読み込み中");
    // The selected tab itself is idle.
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible()) << "nothing to stop: not shown";

    // "処理中のタブを表示": that tab is selected, its save followed in the row.
    click(named(*shownStrips[0], OtherTabSaveStrips::showName));
    EXPECT_EQ(model->selectedTab(), saving);
    EXPECT_TRUE(strips(pane).empty());
    EXPECT_EQ(stageText(pane), "下部の画像を読み込み中");
    EXPECT_TRUE(rowButton(pane, CaptureStatusRow::cancelName)->get_visible());

    // "この保存を中止" from the other tab: that save alone stops, and the
    // selection stays where it is.
    model->selectTab(other->id, false);
    shownStrips = strips(pane);
    ASSERT_EQ(shownStrips.size(), 1u);
    click(named(*shownStrips[0], OtherTabSaveStrips::cancelName));
    EXPECT_EQ(model->selectedTab(), other);
    ASSERT_TRUE(spinUntil([&] { return !saving->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*saving->browser->operation.get()), SafeEvent::Stage::cancelled);
    EXPECT_EQ(model->selectedTab(), other);
    EXPECT_TRUE(strips(pane).empty());
    // The selected tab's session was not asked to stop anything.
    for (const auto& item : other->browser->operation.get()->items()) {
        EXPECT_EQ(item.event, OperationTrace::Event::started) << OperationTrace::rawValue(item.event);
    }
}

TEST_F(StatusRowTest, AFailureIsShownWholeAsAnErrorBesideTheButtonsAndARunningSaveShowsHowFarItCame) {
    auto model = makeModel();
    // The panel at the bottom: the row holds both save buttons, and the
    // window is narrow, so the sentence has little room beside them.
    model->panel = AppPreferences::Panel::bottom;
    PaneWindow pane(model, desktop, 660, 900);
    ASSERT_TRUE(pane.shown());
    auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");
    auto* stage = named<Gtk::Label>(pane.status, CaptureStatusRow::stageName);
    auto* icon = named<Gtk::Image>(pane.status, CaptureStatusRow::failureIconName);
    auto* bar = named<Gtk::ProgressBar>(pane.status, CaptureStatusRow::progressName);
    ASSERT_TRUE(stage && icon && bar);
    EXPECT_FALSE(shownNow(icon));
    EXPECT_FALSE(shownNow(bar));

    // Running without a count: the bar stands and pulses.
    startHeldSave(*model, *tab, rowButton(pane, CaptureStatusRow::captureName));
    EXPECT_TRUE(shownNow(bar));
    EXPECT_FALSE(shownNow(icon));
    endHeldCapture(*tab);
    ASSERT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::failed);
    EXPECT_FALSE(shownNow(bar));

    // The failure: its whole sentence, the diagnostic code at its end
    // included, within the label's own allocation, on as many lines as it
    // takes; the theme's error styling and icon.
    const std::string failure = tab->browser->stage.get();
    ASSERT_NE(failure.find("診断コード: WC-"), std::string::npos) << failure;
    EXPECT_EQ(stage->get_text().raw(), failure);
    EXPECT_TRUE(shownNow(icon));
    EXPECT_TRUE(stage->has_css_class("error"));
    EXPECT_TRUE(icon->has_css_class("error"));
    int textWidth = 0, textHeight = 0;
    ASSERT_TRUE(spinUntil([&] {
        stage->get_layout()->get_pixel_size(textWidth, textHeight);
        return stage->get_mapped() && stage->get_height() >= textHeight && stage->get_width() >= textWidth;
    }, 10s)) << stage->get_width() << "x" << stage->get_height() << " for " << textWidth << "x" << textHeight;
    EXPECT_FALSE(stage->get_layout()->is_ellipsized());
    EXPECT_GE(stage->get_layout()->get_line_count(), 2) << "the sentence wraps beside the buttons";
    EXPECT_EQ(test::inconsistentHeights(pane.status), std::vector<std::string>{});
    // The label lies whole inside the row, left of the row's buttons.
    graphene_rect_t inRow{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(stage->gobj()), GTK_WIDGET(pane.status.gobj()), &inRow));
    EXPECT_LE(inRow.origin.y + inRow.size.height, pane.status.get_height() + 0.5);
    EXPECT_LE(inRow.origin.x + inRow.size.width, pane.status.get_width() + 0.5);
    graphene_rect_t copy{};
    ASSERT_TRUE(gtk_widget_compute_bounds(rowButton(pane, CaptureStatusRow::copyName)->gobj(),
                                          GTK_WIDGET(pane.status.gobj()), &copy));
    EXPECT_LE(inRow.origin.x + inRow.size.width, copy.origin.x + 0.5);

    // A save held at its third tile: the bar shows the share the stage
    // reports, and goes with the save.
    server.html("/tall", test::page("長いページ", "<div style='height:4000px;background:#eee'>長い本文</div>"));
    load(*model, "/tall");
    auto held = std::make_shared<bool>(true);
    auto tiles = std::make_shared<int>(0);
    CaptureOptions options = captureOptions();
    options.checkpoint = [held, tiles](CaptureOptions::Stage reached) -> Task<void> {
        if (reached != CaptureOptions::Stage::tile || ++*tiles < 3) co_return;
        while (*held) co_await sleepFor(10ms);
    };
    tab->browser->capture(std::move(options), screenshots);
    ASSERT_TRUE(spinUntil([&] { return *tiles >= 3; }, 30s));
    const auto fraction = CapturePanelRules::stageFraction(tab->browser->stage.get());
    ASSERT_TRUE(fraction.has_value()) << tab->browser->stage.get();
    EXPECT_GT(*fraction, 0.0);
    EXPECT_LT(*fraction, 1.0);
    EXPECT_TRUE(shownNow(bar));
    EXPECT_FALSE(shownNow(icon)) << "a running save is no failure";
    EXPECT_FALSE(stage->has_css_class("error"));
    EXPECT_DOUBLE_EQ(bar->get_fraction(), *fraction);
    *held = false;
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::completed);
    EXPECT_FALSE(shownNow(bar));
    EXPECT_FALSE(shownNow(icon));
}

TEST_F(StatusRowTest, TheRowIsAboutThePageOnScreenAndARefusalStandsThereAsAnError) {
    server.html("/other", test::page("別のページ", "<p>別の本文</p>"));
    server.held("/slow", test::page("遅いページ", "<p>遅い本文</p>"));
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    auto tab = model->selectedTab();
    show(*tab);
    auto* stage = named<Gtk::Label>(pane.status, CaptureStatusRow::stageName);
    auto* icon = named(pane.status, CaptureStatusRow::failureIconName);
    ASSERT_TRUE(stage && icon);

    // A typed file: address on the empty tab: refused in the row, as an
    // error, as well as in the window's message.
    model->setAddress("file:///etc/passwd");
    model->navigate();
    EXPECT_TRUE(shownNow(&pane.status));
    EXPECT_EQ(stageText(pane), std::string(TabActions::invalidAddress));
    EXPECT_EQ(model->message.get(), std::string(TabActions::invalidAddress));
    EXPECT_FALSE(model->messageInFooter()) << "said once, beside the address";
    EXPECT_TRUE(stage->has_css_class("error"));
    EXPECT_TRUE(shownNow(icon));
    // Its icon and wrapped sentence measure alike with and without a width:
    // the toolkit has nothing to warn about, and lays the row out whole.
    EXPECT_EQ(test::inconsistentHeights(pane.status), std::vector<std::string>{});

    // A page loaded: the refusal is over, and the session's first stage is
    // not shown about it.
    load(*model, "/page");
    EXPECT_FALSE(shownNow(&pane.status));
    EXPECT_EQ(stageText(pane), "");
    EXPECT_FALSE(stage->has_css_class("error"));

    // 縦長PNGを保存 while the next page still loads: refused in the row,
    // until the page has come.
    model->setAddress(server.url("/slow"));
    model->navigate();
    ASSERT_TRUE(spinUntil([&] { return server.requests("/slow") > 0 && tab->browser->loading.get(); }));
    click(named(pane.panel, CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return !model->message->empty(); })) << "the save is refused";
    EXPECT_FALSE(tab->browser->hasPendingOperation());
    EXPECT_EQ(stageText(pane), std::string(SaveRequest::notLoaded));
    EXPECT_FALSE(model->messageInFooter());
    EXPECT_TRUE(stage->has_css_class("error"));
    EXPECT_TRUE(shownNow(&pane.status));
    server.release("/slow");
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->loading.get() && tab->browser->currentURL.get() == server.url("/slow"); }, 30s));
    EXPECT_TRUE(spinUntil([&] { return !shownNow(&pane.status); }));

    // A save of this page: its outcome shows here and stays with it; another
    // page has nothing to say; the saved page shown again has it back.
    click(named(pane.panel, CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return tab->browser->hasPendingOperation(); })) << model->message.get();
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    const std::string outcome = tab->browser->stage.get();
    EXPECT_EQ(stageText(pane), outcome);
    EXPECT_TRUE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    load(*model, "/other");
    EXPECT_FALSE(shownNow(&pane.status));
    EXPECT_EQ(stageText(pane), "");
    EXPECT_EQ(tab->browser->stage.get(), outcome) << "the session keeps its stage; the row does not show it";
    load(*model, "/slow");
    EXPECT_TRUE(shownNow(&pane.status));
    EXPECT_EQ(stageText(pane), outcome);
}
