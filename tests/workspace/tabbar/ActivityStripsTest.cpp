#include <gtest/gtest.h>

#include "foundation/Raster.hpp"
#include "ocrjobs/JobControl.hpp"
#include "support/TextPages.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/tabbar/TabBarFixture.hpp"

// The strips of work running outside the section shown, over real work: the
// OCR strip through a real queue run (busy, paused, resumed to its end,
// cancelled), and the web strips of real print-style saves in two tabs at
// once, each with its own live stage, stopped alone, and leading back to a
// restored tab without loading it.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::BarWindow;
using test::spinUntil;
using Stage = PrintOptions::Stage;

namespace {

class ActivityStripsTest : public test::TabBarFixture {
protected:
    // Pages of real Japanese text, one file each.
    std::vector<fs::path> textFiles(int count) {
        std::vector<fs::path> files;
        for (int i = 0; i < count; ++i) {
            const fs::path file = dir / ("page" + std::to_string(i) + ".png");
            const auto page = test::renderLines({.width = 700, .height = 260},
                                                {"第" + std::to_string(i + 1) + "章　冬の図書館", "返却ポストは休館中も利用できます。",
                                                 "おはなし会は土曜日の午前に開きます。"});
            const auto bytes = Raster::png(page.image);
            test::writeFile(file, std::string(bytes.begin(), bytes.end()));
            files.push_back(file);
        }
        return files;
    }
    static std::string text(Gtk::Widget& strip, const char* name) {
        auto* label = named<Gtk::Label>(strip, name);
        return label ? label->get_text().raw() : "<no label>";
    }
    static Gtk::Widget& stripOf(BarWindow& pane, const UUID& tabID) {
        return *named(pane.webStrips, WebActivityStrips::stripPrefix + tabID.text());
    }
    // The strips' tabs in the order the box holds them.
    static std::vector<std::string> stripOrder(BarWindow& pane) {
        std::vector<std::string> order;
        for (auto* child = pane.webStrips.get_first_child(); child; child = child->get_next_sibling()) {
            order.push_back(child->get_name());
        }
        return order;
    }
    fs::path printFolder() {
        const fs::path folder = out / "Print";
        fs::create_directories(folder);
        return folder;
    }
};

}  // namespace

TEST_F(ActivityStripsTest, TheOCRStripStandsWhileARealRunWorksOrWaitsPausedAndNotAfterItEnds) {
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto& strip = pane.queueStrip;
    const auto& queue = model->queue;
    // No queue, then a queue that has not run: nothing to report, no room taken.
    EXPECT_FALSE(strip.shown());
    EXPECT_EQ(strip.get_height(), 0);
    queue->select(textFiles(4), nullptr);
    ASSERT_TRUE(queue->snapshot->has_value());
    EXPECT_FALSE(strip.shown());

    // Running: the queue's own sentence, followed as it changes.
    test::runTask(queue->start());
    ASSERT_TRUE(queue->busy.get()) << queue->status.get();
    EXPECT_TRUE(strip.shown());
    EXPECT_EQ(text(strip, QueueActivityStrip::textName), WebWorkspaceRules::queueStripText(queue->status.get()));
    const std::string running = queue->status.get();
    queue->stop(JobControl::Stop::pause);
    ASSERT_TRUE(queue->busy.get());
    ASSERT_NE(queue->status.get(), running);
    EXPECT_EQ(text(strip, QueueActivityStrip::textName), "このウインドウのOCR：" + queue->status.get());

    // Paused: the strip stays, with the sentence of the pause.
    ASSERT_TRUE(spinUntil([&] { return !queue->busy.get(); }, 120s));
    ASSERT_EQ(queue->snapshot->value().status, QueueStatus::paused);
    ASSERT_TRUE(strip.shown());
    EXPECT_EQ(text(strip, QueueActivityStrip::textName), "このウインドウのOCR：" + queue->status.get());
    EXPECT_TRUE(spinUntil([&] { return strip.get_height() > 0; }));
    // "OCRを表示" runs the show it was given.
    click(named(strip, QueueActivityStrip::showName));
    EXPECT_EQ(model->section.get(), WindowModel::Section::ocr);

    // Resumed to its end: completed, no strip.
    test::runTask(queue->start());
    ASSERT_TRUE(queue->busy.get()) << queue->status.get();
    EXPECT_TRUE(strip.shown());
    ASSERT_TRUE(spinUntil([&] { return !queue->busy.get(); }, 180s));
    ASSERT_EQ(queue->snapshot->value().status, QueueStatus::completed);
    EXPECT_FALSE(strip.shown());

    // A new queue, cancelled while it runs: no strip either.
    queue->select(textFiles(3), nullptr);
    test::runTask(queue->start());
    ASSERT_TRUE(queue->busy.get()) << queue->status.get();
    queue->stop(JobControl::Stop::cancel);
    ASSERT_TRUE(spinUntil([&] { return !queue->busy.get(); }, 120s));
    ASSERT_EQ(queue->snapshot->value().status, QueueStatus::cancelled);
    EXPECT_FALSE(strip.shown());
    ASSERT_TRUE(spinUntil([&] { return strip.get_height() == 0; }));
}

TEST_F(ActivityStripsTest, TwoSavesGiveTwoStripsInTabOrderEachLiveAndStoppedAlone) {
    server.html("/one", test::page("一", "<p>最初のページ</p>"));
    server.html("/two", test::page("二", "<p>二番目のページ</p>"));
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto one = model->selectedTab();
    show(*one);
    load(*model, "/one");
    auto two = model->addTab(false);
    show(*two);
    load(*model, "/two");
    EXPECT_TRUE(pane.webStrips.shownTabs().empty());
    model->section = WindowModel::Section::history;

    auto holdOne = std::make_shared<test::PrintHold>();
    auto holdTwo = std::make_shared<test::PrintHold>();
    holdOne->holdAt = holdTwo->holdAt = Stage::beforePrint;
    startHeldPrint(*one, holdOne, printFolder());
    startHeldPrint(*two, holdTwo, printFolder());
    ASSERT_TRUE(spinUntil([&] { return holdOne->reached == Stage::beforePrint && holdTwo->reached == Stage::beforePrint; },
                          30s));
    EXPECT_EQ(pane.webStrips.shownTabs(), (std::vector<UUID>{one->id, two->id}));
    const std::string prefix = WebActivityStrips::stripPrefix;
    EXPECT_EQ(stripOrder(pane), (std::vector<std::string>{prefix + one->id.text(), prefix + two->id.text()}));
    EXPECT_EQ(text(stripOf(pane, one->id), WebActivityStrip::textName), "このウインドウのWeb保存：印刷の準備中");
    EXPECT_EQ(text(stripOf(pane, two->id), WebActivityStrip::textName), "このウインドウのWeb保存：印刷の準備中");

    // The second save goes on to its next stage: its strip follows, the
    // first one's does not move.
    holdTwo->holdAt = Stage::afterPrint;
    ASSERT_TRUE(spinUntil([&] { return holdTwo->reached == Stage::afterPrint; }, 60s));
    EXPECT_EQ(text(stripOf(pane, two->id), WebActivityStrip::textName), "このウインドウのWeb保存：印刷PDFを確認中");
    EXPECT_EQ(text(stripOf(pane, one->id), WebActivityStrip::textName), "このウインドウのWeb保存：印刷の準備中");

    // The strips follow the tabs' order.
    model->moveTab(two->id, -1);
    EXPECT_EQ(pane.webStrips.shownTabs(), (std::vector<UUID>{two->id, one->id}));
    EXPECT_EQ(stripOrder(pane), (std::vector<std::string>{prefix + two->id.text(), prefix + one->id.text()}));

    // "保存を中止" on the first: that save alone ends, cancelled.
    click(named(stripOf(pane, one->id), WebActivityStrip::cancelName));
    ASSERT_TRUE(spinUntil([&] { return !one->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*one->browser->operation.get()), SafeEvent::Stage::cancelled);
    EXPECT_TRUE(two->browser->hasPendingOperation());
    EXPECT_EQ(pane.webStrips.shownTabs(), std::vector<UUID>{two->id});
    EXPECT_EQ(model->section.get(), WindowModel::Section::history);

    // The second, let on, completes; no strip is left.
    holdTwo->holdAt.reset();
    ASSERT_TRUE(spinUntil([&] { return !two->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model->operationStage(*two->browser->operation.get()), SafeEvent::Stage::completed);
    EXPECT_TRUE(pane.webStrips.shownTabs().empty());
}

// A restored tab holds no page until it is shown: the session itself
// refuses to save it (no blank page is ever saved), so no strip stands for
// it, and the refusal does not load its page behind the user's back.
TEST_F(ActivityStripsTest, ARestoredTabNotYetLoadedStartsNoSaveNoStripAndNoLoad) {
    server.html("/second", test::page("二番目"));
    RestoredWindow restored{UUID::random(),
                            {RestoredTab{UUID::random(), server.url("/page"), false},
                             RestoredTab{UUID::random(), server.url("/second"), false}},
                            {}};
    restored.selected = restored.tabs[0].id;
    auto model = makeModel(restored);
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto restoredTab = model->tabs.get()[1];
    show(*restoredTab);
    ASSERT_TRUE(restoredTab->deferredURL->has_value());

    model->section = WindowModel::Section::ocr;
    PrintSelection selection;
    selection.output = PrintOptions::Output::pdf;
    restoredTab->browser->print(selection.options(restoredTab->browser->currentURL.get(),
                                                  restoredTab->browser->pageTitle.get(),
                                                  std::chrono::system_clock::now()),
                                printFolder());
    EXPECT_FALSE(restoredTab->browser->hasPendingOperation());
    test::spinFor(200ms);
    EXPECT_TRUE(pane.webStrips.shownTabs().empty());
    EXPECT_TRUE(restoredTab->deferredURL->has_value());
    EXPECT_EQ(server.requests("/second"), 0);
    EXPECT_TRUE(std::filesystem::is_empty(printFolder()));
}

TEST_F(ActivityStripsTest, TheOCRStripTellsOfSavedWorkUntilItIsPutOffOrAQueueOpens) {
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto& strip = pane.queueStrip;
    const auto& queue = model->queue;
    EXPECT_FALSE(strip.shown());
    // Work an earlier session left (a crash during a run): told at once.
    queue->savedQueues = std::vector<fs::path>{queue->parent / "saved"};
    EXPECT_TRUE(strip.shown());
    EXPECT_EQ(text(strip, QueueActivityStrip::textName), "このウインドウのOCR：保存した処理があります。自動では開始しません。");
    EXPECT_TRUE(spinUntil([&] { return strip.get_height() > 0; }));
    click(named(strip, QueueActivityStrip::showName));
    EXPECT_EQ(model->section.get(), WindowModel::Section::ocr);
    // Put off, as the OCR section's banner puts it off: gone.
    queue->recoveryDeferred = true;
    EXPECT_FALSE(strip.shown());
    queue->recoveryDeferred = false;
    EXPECT_TRUE(strip.shown());
    // A queue opened is what the strip reports from then on.
    queue->select(textFiles(1), nullptr);
    ASSERT_TRUE(queue->snapshot->has_value());
    EXPECT_FALSE(strip.shown());
}
