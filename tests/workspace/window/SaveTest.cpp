#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "capture/CaptureAdmission.hpp"
#include "capture/CaptureOutcome.hpp"
#include "capture/ProductNaming.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/DateFormat.hpp"
#include "history/CaptureHistory.hpp"
#include "support/TextPages.hpp"
#include "workspace/model/CaptureHandOff.hpp"
#include "workspace/model/SaveRequest.hpp"
#include "workspace/window/WindowFixture.hpp"

// The save buttons' request on real tabs with pages on the loopback server:
// its refusals, real tall PNGs and print-style saves published into the
// folder the user approved, and the OCR after a capture with real
// recognition of the page's Japanese text.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinUntil;

namespace {

// Japanese text in Noto CJK at 32 px, lines short enough for the mobile
// width.
const std::vector<std::string> articleLines{"吾輩は猫である。", "名前はまだ無い。", "どこで生れたか",
                                            "とんと見当がつかぬ。"};

std::string textBlock(const std::vector<std::string>& lines, int top = 0) {
    std::string html = "<div style=\"position:absolute;left:24px;top:" + std::to_string(top) +
                       "px;font:32px 'Noto Sans CJK JP';line-height:2;white-space:nowrap\">";
    for (const auto& line : lines) html += "<div>" + line + "</div>";
    return html + "</div>";
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    if (!fs::is_directory(folder)) return found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

class SaveTest : public test::WindowFixture {
protected:
    SaveTest() { chooser.answer = out; }

    // A window with its selected tab shown and the page loaded.
    std::shared_ptr<WindowModel> loadedWindow(const std::string& path = "/page") {
        auto model = makeModel();
        show(*model->selectedTab());
        load(*model, path);
        return model;
    }
    // A second tab of the window, shown and loaded, selected.
    std::shared_ptr<BrowserTab> loadedTab(WindowModel& model, const std::string& path = "/page") {
        auto tab = model.addTab(false);
        show(*tab);
        load(model, path);
        return tab;
    }
    void save(WindowModel& model, bool printing) { test::runTask(model.save(printing)); }
    static bool waitIdle(BrowserTab& tab, std::chrono::milliseconds bound = 120s) {
        return spinUntil([&] { return !tab.browser->hasPendingOperation(); }, bound);
    }
    // The text of the queue's pages, in queue order.
    static std::vector<std::string> texts(QueueController& queue) {
        std::vector<std::string> out;
        for (const auto& page : queue.documentPages()) out.push_back(page.text);
        return out;
    }
    static std::vector<fs::path> queued(const QueueController& queue) {
        std::vector<fs::path> paths;
        for (const auto& input : queue.snapshot->value().inputs) paths.push_back(input.fileURL());
        return paths;
    }
};

}  // namespace

TEST_F(SaveTest, EachRefusalOfTheRequestFromARealTab) {
    auto model = loadedWindow();
    const auto tab = model->selectedTab();

    model->widthMode = "custom";
    for (int64_t width : {279, 4097}) {
        model->customWidth = width;
        save(*model, false);
        EXPECT_EQ(model->message.get(), SaveRequest::widthOutOfRange) << width;
    }
    // A page still loading.
    server.held("/slow", test::page("遅いページ"));
    model->setAddress(server.url("/slow"));
    model->navigate();
    ASSERT_TRUE(spinUntil([&] { return server.requests("/slow") > 0; }));
    for (int64_t width : {280, 4096}) {
        model->customWidth = width;
        save(*model, false);
        EXPECT_EQ(model->message.get(), SaveRequest::notLoaded) << width;
    }
    server.release("/slow");
    EXPECT_TRUE(chooser.requests.empty());
    EXPECT_FALSE(tab->lockedSize->has_value());
    EXPECT_FALSE(tab->lastOutput->has_value());

    // A restored tab that was never opened.
    const UUID restoredTab = UUID::random();
    auto restored = makeModel(RestoredWindow{UUID::random(), {RestoredTab{restoredTab, server.url("/page"), false}},
                                             restoredTab});
    save(*restored, false);
    EXPECT_EQ(restored->message.get(), SaveRequest::notLoaded);
    EXPECT_TRUE(chooser.requests.empty());
}

TEST_F(SaveTest, AnotherTabsCaptureHoldsBackATallPNGButNotAPrintStyleSave) {
    auto model = loadedWindow();
    const auto first = model->selectedTab();
    const auto other = loadedTab(*model);
    startHeldCapture(*other);
    model->selectTab(first->id, false);

    save(*model, false);
    EXPECT_EQ(model->message.get(), SaveRequest::otherCapture);
    EXPECT_FALSE(first->lockedSize->has_value());
    EXPECT_TRUE(chooser.requests.empty());

    model->format = PrintOptions::Output::pdf;
    save(*model, true);
    EXPECT_EQ(model->message.get(), "");
    EXPECT_EQ(first->lastOutput.get(), out / "Print");
    EXPECT_TRUE(first->browser->hasPendingOperation());
    ASSERT_TRUE(waitIdle(*first));
    EXPECT_FALSE(first->lockedSize->has_value());
    const auto printed = filesIn(out / "Print");
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0].extension(), ".pdf");
    endHeldCapture(*other);
}

TEST_F(SaveTest, WhatTheUserDoesWhileTheChooserIsOpen) {
    auto model = loadedWindow();
    const auto tab = model->selectedTab();

    // Cancelled: nothing locked, the last output as it was.
    tab->lastOutput = dir / "earlier";
    chooser.answer = std::nullopt;
    save(*model, false);
    EXPECT_EQ(model->message.get(), SaveRequest::cancelled);
    EXPECT_FALSE(tab->lockedSize->has_value());
    EXPECT_EQ(tab->lastOutput.get(), dir / "earlier");
    EXPECT_FALSE(tab->browser->hasPendingOperation());

    // The page moves to another address, or its tab closes.
    chooser.answer = out;
    server.html("/next", test::page("次のページ"));
    chooser.whileOpen = [&] { tab->browser->navigate(server.url("/next")); };
    save(*model, false);
    EXPECT_EQ(model->message.get(), SaveRequest::pageChanged);
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->loading.get(); }));
    const auto second = loadedTab(*model);
    chooser.whileOpen = [&] { model->closeTab(second->id); };
    save(*model, false);
    EXPECT_EQ(model->message.get(), SaveRequest::pageChanged);
    EXPECT_FALSE(tab->browser->hasPendingOperation());

    // Another tab, whose own save runs, is selected while the chooser is
    // open, and this save is then refused: that tab keeps its lock.
    const auto running = loadedTab(*model);
    server.held("/held.png", "no image");
    run(*running, "document.body.insertAdjacentHTML('beforeend','<img src=/held.png width=10 height=10>');true");
    ASSERT_TRUE(spinUntil([&] { return server.requests("/held.png") > 0; }));
    save(*model, false);
    ASSERT_EQ(model->message.get(), "");
    ASSERT_TRUE(running->lockedSize->has_value());
    const Size lock = *running->lockedSize.get();

    model->selectTab(tab->id, false);
    fs::create_directories(dir / "blocked");
    test::writeFile(dir / "blocked" / "Print", "");
    chooser.answer = dir / "blocked";
    chooser.whileOpen = [&] { model->selectTab(running->id, false); };
    save(*model, true);
    EXPECT_EQ(model->message.get(), SaveRequest::chooseAgain);
    EXPECT_EQ(running->lockedSize.get(), std::optional<Size>(lock));
    EXPECT_FALSE(tab->lockedSize->has_value());

    // A stored destination that no longer resolves, without asking.
    services->settings.change([](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = UUID::random();
    });
    model->selectTab(tab->id, false);
    save(*model, true);
    EXPECT_EQ(model->message.get(), SaveRequest::chooseAgain);
    EXPECT_EQ(running->lockedSize.get(), std::optional<Size>(lock));

    server.release("/held.png");
    ASSERT_TRUE(waitIdle(*running));
    EXPECT_FALSE(running->lockedSize->has_value());
}

TEST_F(SaveTest, ATallPNGIsLockedWhileItRunsPublishedAndRecorded) {
    services->settings.change([](AppPreferences& p) { p.product.datedFolders = true; });
    auto model = loadedWindow();
    const auto tab = model->selectedTab();
    const fs::path dated = out / DateFormat::format(std::chrono::system_clock::now(), "yyyy-MM-dd", DateFormat::tokyo);
    const fs::path folder = dated / "Screenshots";

    // The request returns once the capture is handed over; the capture
    // itself has not gone past its first step yet.
    save(*model, false);
    EXPECT_EQ(model->message.get(), "");
    EXPECT_EQ(tab->lastOutput.get(), folder);
    ASSERT_TRUE(tab->lockedSize->has_value());
    EXPECT_EQ(tab->lockedSize->value().width, 430);
    EXPECT_EQ(model->width(1200), 430);
    EXPECT_TRUE(tab->browser->hasPendingOperation());
    // A second request on the same tab meanwhile.
    save(*model, false);
    EXPECT_EQ(model->message.get(), SaveRequest::saving);

    ASSERT_TRUE(waitIdle(*tab));
    EXPECT_FALSE(tab->lockedSize->has_value());
    const auto saved = filesIn(folder);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].extension(), ".png");
    const std::string stem = ProductNaming::stem(server.url("/page"), "ページ", "site-title-date",
                                                 std::chrono::system_clock::now());
    EXPECT_EQ(saved[0].stem().string().substr(0, stem.size() - 6), stem.substr(0, stem.size() - 6));
    const auto entries = AppHistory::required()->entries();
    ASSERT_EQ(entries.size(), 1u);

    // A private tab's page: saved, not recorded.
    auto privateTab = model->addTab(true);
    show(*privateTab);
    load(*model, "/page");
    save(*model, false);
    EXPECT_EQ(model->message.get(), "");
    ASSERT_TRUE(waitIdle(*privateTab));
    EXPECT_EQ(filesIn(folder).size(), 2u);
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);

    // A print-style save goes into "Print".
    model->selectTab(tab->id, false);
    model->format = PrintOptions::Output::png;
    save(*model, true);
    EXPECT_EQ(model->message.get(), "");
    ASSERT_TRUE(waitIdle(*tab));
    const fs::path print = dated / "Print";
    EXPECT_EQ(tab->lastOutput.get(), print);
    ASSERT_FALSE(filesIn(print).empty());
    EXPECT_EQ(filesIn(print)[0].extension(), ".png");
}

TEST_F(SaveTest, ACaptureWithOCRIsReadInTheWindowsQueue) {
    server.html("/article", test::page("猫", textBlock(articleLines, 16)));
    auto model = loadedWindow("/article");
    const auto tab = model->selectedTab();
    model->captureOCR = true;
    // Taken at two output pixels per CSS pixel: the page's 32 px glyphs
    // reach the recogniser at the size its Japanese model reads reliably.
    model->scale = 2;
    save(*model, false);
    EXPECT_EQ(model->message.get(), "");
    ASSERT_TRUE(spinUntil([&] { return tab->browser->stage.get() == CaptureOutcome::ocrRunning; }, 60s));
    ASSERT_TRUE(waitIdle(*tab, 180s));

    EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::completed))
        << tab->browser->stage.get();
    EXPECT_EQ(model->section.get(), WindowModel::Section::ocr);
    const auto saved = filesIn(out / "Screenshots");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(queued(*model->queue), saved);
    const auto read = texts(*model->queue);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_LE(test::characterErrorRate(joined(articleLines), read[0]), 0.05) << read[0];
}

TEST_F(SaveTest, AThreePartCaptureQueuesItsPartsInOrder) {
    // A budget that holds one viewport-high part of the page but not the
    // whole page.
    CaptureBudget::ScopedPhysicalMemory memory(uint64_t{8} * 277000000);
    server.html("/long", test::page("長いページ", "<div style=\"height:1800px\"></div>" + textBlock({"春の段"}, 100) +
                                                   textBlock({"夏の段"}, 800) + textBlock({"秋の段"}, 1500)));
    auto model = loadedWindow("/long");
    const auto tab = model->selectedTab();
    model->captureOCR = true;
    save(*model, false);
    ASSERT_TRUE(waitIdle(*tab, 180s));
    EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::completed))
        << tab->browser->stage.get();
    const auto saved = filesIn(out / "Screenshots");
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(queued(*model->queue), saved);
    const auto read = texts(*model->queue);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_NE(read[0].find("春"), std::string::npos) << read[0];
    EXPECT_NE(read[1].find("夏"), std::string::npos) << read[1];
    EXPECT_NE(read[2].find("秋"), std::string::npos) << read[2];
}

TEST_F(SaveTest, AWindowWhoseQueueHoldsResultsHandsTheCaptureToANewWindow) {
    std::vector<std::shared_ptr<WindowModel>> opened;
    windows.opener = [&] {
        opened.push_back(makeModel());
        return opened.back();
    };
    server.html("/article", test::page("猫", textBlock(articleLines, 16)));
    auto model = loadedWindow("/article");
    const auto tab = model->selectedTab();
    model->captureOCR = true;

    // The window's own queue: a finished queue of an earlier file.
    const fs::path earlier = dir / "earlier.png";
    const auto image = test::renderLines({.width = 400, .height = 100}, {"前の原稿"});
    const auto bytes = Raster::png(image.image);
    test::writeFile(earlier, std::string(bytes.begin(), bytes.end()));
    model->queue->select({earlier}, nullptr);
    test::runTask(model->queue->start());
    ASSERT_TRUE(spinUntil([&] { return !model->queue->busy.get(); }, 60s));
    const QueueSnapshot before = model->queue->snapshot->value();

    // The window the set gives for the opened model is titled as the second
    // window is: the sentence names it.
    host.set_title("ベルモラ（2）");
    save(*model, false);
    ASSERT_TRUE(waitIdle(*tab, 180s));
    EXPECT_EQ(tab->browser->stage.get(), "画像を保存しました（1枚） OCRはウインドウ「ベルモラ（2）」のOCR画面で実行しています。");
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_TRUE(spinUntil([&] { return !opened[0]->queue->busy.get(); }, 180s));
    EXPECT_EQ(model->queue->snapshot->value(), before);
    EXPECT_EQ(model->section.get(), WindowModel::Section::web);
    EXPECT_EQ(opened[0]->section.get(), WindowModel::Section::ocr);
    EXPECT_EQ(queued(*opened[0]->queue), filesIn(out / "Screenshots"));

    // No window opens (the application quits): the failure text.
    windows.opener = nullptr;
    save(*model, false);
    ASSERT_TRUE(waitIdle(*tab, 180s));
    EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::failed))
        << tab->browser->stage.get();
    EXPECT_EQ(model->queue->snapshot->value(), before);
}

TEST_F(SaveTest, CancelledReplacedRefusedOrAskedByAWindowThatIsGone) {
    server.html("/article", test::page("猫", textBlock(articleLines, 16)));
    {
        // A private tab's capture, cancelled while its text is read.
        auto model = makeModel();
        auto tab = model->addTab(true);
        show(*tab);
        load(*model, "/article");
        model->captureOCR = true;
        save(*model, false);
        ASSERT_TRUE(spinUntil([&] { return model->queue->busy.get(); }, 60s));
        EXPECT_TRUE(model->queue->privateInput.get());
        tab->browser->cancel();
        ASSERT_TRUE(waitIdle(*tab, 180s));
        EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::stopped))
            << tab->browser->stage.get();
        EXPECT_EQ(model->queue->snapshot->value().status, QueueStatus::cancelled);
        EXPECT_FALSE(model->queue->busy.get());
    }
    {
        // Another queue loaded into the window once the run has ended,
        // before the watch looks again.
        auto model = loadedWindow("/article");
        auto tab = model->selectedTab();
        model->captureOCR = true;
        save(*model, false);
        ASSERT_TRUE(spinUntil([&] { return model->queue->busy.get(); }, 60s));
        ASSERT_TRUE(spinUntil([&] { return !model->queue->busy.get(); }, 120s));
        model->queue->select(filesIn(out / "Screenshots"), nullptr);
        ASSERT_TRUE(waitIdle(*tab, 120s));
        EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::replaced))
            << tab->browser->stage.get();
    }
    {
        // The queue refuses to start (an import runs there).
        auto model = loadedWindow("/article");
        auto tab = model->selectedTab();
        model->captureOCR = true;
        model->queue->importing = true;
        save(*model, false);
        ASSERT_TRUE(waitIdle(*tab, 120s));
        EXPECT_TRUE(tab->browser->stage->ends_with(std::string(" ") + CaptureHandOff::failed))
            << tab->browser->stage.get();
    }
    {
        // The window goes while its capture runs; its tab's session
        // finishes the capture on its own.
        auto model = loadedWindow("/article");
        auto tab = model->selectedTab();
        model->captureOCR = true;
        save(*model, false);
        ASSERT_EQ(model->message.get(), "");
        const std::shared_ptr<QueueController> queue = model->queue;
        const std::shared_ptr<BrowserSession> session = tab->browser;
        std::weak_ptr<WindowModel> weak = model;
        model.reset();
        ASSERT_TRUE(weak.expired());
        ASSERT_TRUE(session->hasPendingOperation());
        ASSERT_TRUE(spinUntil([&] { return !session->hasPendingOperation(); }, 120s));
        EXPECT_TRUE(session->stage->ends_with(std::string(" ") + CaptureHandOff::windowGone)) << session->stage.get();
        EXPECT_FALSE(queue->snapshot->has_value());
    }
}
