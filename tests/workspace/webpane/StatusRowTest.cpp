#include <gtest/gtest.h>

#include <gtkmm/label.h>

#include <algorithm>
#include <set>

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

    // Before the first save: nothing to copy or open, nothing to stop.
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    EXPECT_TRUE(shownNow(rowButton(pane, CaptureStatusRow::cancelName)));
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());

    // The stage as the save goes: every text the row showed.
    std::set<std::string> shown;
    auto watch = model->changed.connect([&] { shown.insert(stageText(pane)); });
    startHeldSave(*model, *tab, named(pane.panel, CapturePanel::captureName));
    EXPECT_EQ(stageText(pane), "下部の画像を読み込み中");
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::copyName)));
    // The folder is known, but not offered while the save runs.
    ASSERT_TRUE(model->lastOutput().has_value());
    EXPECT_FALSE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));
    EXPECT_TRUE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());

    // The held image never comes whole: the save fails, and says so.
    endHeldCapture(*tab);
    watch.disconnect();
    EXPECT_GE(shown.size(), 3u);
    EXPECT_TRUE(shown.count("下部の画像を読み込み中"));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::failed);
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());
    const std::string failure = tab->browser->captureDiagnosticText.get();
    ASSERT_FALSE(failure.empty());

    // Without the broken image the next save of the page completes.
    run(*tab, "document.querySelector('img').remove();true");
    click(named(pane.panel, CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return tab->browser->hasPendingOperation(); }));
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*tab->browser->operation.get()), SafeEvent::Stage::completed);
    EXPECT_EQ(stageText(pane), tab->browser->stage.get());

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
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());
    EXPECT_TRUE(shownNow(rowButton(pane, CaptureStatusRow::openOutputName)));

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
    EXPECT_FALSE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());

    // "処理中のタブを表示": that tab is selected, its save followed in the row.
    click(named(*shownStrips[0], OtherTabSaveStrips::showName));
    EXPECT_EQ(model->selectedTab(), saving);
    EXPECT_TRUE(strips(pane).empty());
    EXPECT_EQ(stageText(pane), "下部の画像を読み込み中");
    EXPECT_TRUE(rowButton(pane, CaptureStatusRow::cancelName)->is_sensitive());

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
