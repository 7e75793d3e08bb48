#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Digest.hpp"
#include "ocrqueue/RunFixtures.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"
#include "workspace/model/CaptureHandOff.hpp"

// The OCR after a capture, on real part files published with their receipt
// and real queue controllers: which queue takes the files, how it is set up,
// and the one sentence for every way the run can end.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinUntil;

namespace {

const std::vector<std::vector<std::string>> partLines{
    {"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。"},
    {"春はあけぼの。やうやう白くなりゆく山ぎは、", "少しあかりて、紫だちたる雲の細くたなびきたる。"},
    {"夏は夜。月のころはさらなり、闇もなほ、", "蛍の多く飛びちがひたる。"},
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

// A capture's parts as the web session publishes them: one PNG per part,
// one below the other, and the receipt that lists them.
struct PublishedCapture {
    CaptureReceipt receipt;
    std::vector<fs::path> files;
};

PublishedCapture publish(const fs::path& folder, const std::vector<std::vector<std::string>>& parts) {
    fs::create_directories(folder);
    PublishedCapture made;
    made.receipt.widthCSS = 1000;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto page = test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, parts[i]);
        const auto bytes = Raster::png(page.image);
        const std::string name = "page_00" + std::to_string(i + 1) + ".png";
        test::writeFile(folder / name, std::string(bytes.begin(), bytes.end()));
        made.receipt.parts.push_back(CapturePart{name, made.receipt.heightCSS, 200, 1000, 200,
                                                 Digest::file(folder / name)});
        made.receipt.heightCSS += 200;
        made.files.push_back(folder / name);
    }
    return made;
}

class CaptureHandOffTest : public testing::Test {
protected:
    test::RunRoots roots;
    fs::path folder = roots.tmp / "output" / "Screenshots";
    test::PageGate gate;
    int shown = 0;
    int opened = 0;
    // How often the new window was brought forward.
    int forward = 0;
    std::shared_ptr<QueueController> fresh;

    CaptureHandOff::Target target(const std::shared_ptr<QueueController>& queue) {
        return CaptureHandOff::Target{queue, [this] { ++shown; }, nullptr};
    }
    // A new window whose queue is `fresh`, the second one open.
    std::function<std::optional<CaptureHandOff::Target>()> opener() {
        return [this]() -> std::optional<CaptureHandOff::Target> {
            ++opened;
            if (!fresh) return std::nullopt;
            CaptureHandOff::Target made = target(fresh);
            made.where = "ウインドウ「ベルモラ（2）」のOCR画面";
            made.bringForward = [this] { ++forward; };
            return made;
        };
    }
    Task<std::string> handOff(const PublishedCapture& capture, const std::shared_ptr<QueueController>& own,
                              InputOrigin origin = InputOrigin::normal) {
        return CaptureHandOff::run(capture.receipt, folder, origin, false, true, target(own), opener());
    }
    static std::vector<fs::path> queued(const QueueController& queue) {
        std::vector<fs::path> paths;
        for (const auto& input : queue.snapshot->value().inputs) paths.push_back(input.fileURL());
        return paths;
    }
};

}  // namespace

TEST(CaptureHandOffTexts, TheAskingWindowsOwnSentencesAreTheUsualOnesAnotherWindowIsNamed) {
    EXPECT_EQ(CaptureHandOff::completedIn(CaptureHandOff::ownOCR), CaptureHandOff::completed);
    EXPECT_EQ(CaptureHandOff::replacedIn(CaptureHandOff::ownOCR), CaptureHandOff::replaced);
    EXPECT_EQ(CaptureHandOff::partialIn(CaptureHandOff::ownOCR), CaptureHandOff::partial);
    const std::string other = "ウインドウ「ベルモラ（2）」のOCR画面";
    EXPECT_EQ(CaptureHandOff::replacedIn(other), "ウインドウ「ベルモラ（2）」のOCR画面で処理結果を確認してください。");
    EXPECT_EQ(CaptureHandOff::partialIn(other),
              "OCRの一部を読み取れませんでした。ウインドウ「ベルモラ（2）」のOCR画面を確認してください。");
}

TEST_F(CaptureHandOffTest, AFreeQueueOfTheWindowReadsThePartsInOrderToTheEnd) {
    const PublishedCapture capture = publish(folder, partLines);
    // The window's queue as the preferences left it: another mode, the
    // automatic TXT on.
    auto own = QueueController::create();
    own->recognitionMode = OCRMode::vertical;
    own->autoSave = true;
    own->automatic = true;
    own->languageCorrection = false;

    EXPECT_EQ(test::runTask(handOff(capture, own), 120s), CaptureHandOff::completed);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(forward, 0) << "the window that asked is the one in use";
    EXPECT_EQ(queued(*own), capture.files);
    EXPECT_EQ(own->recognitionMode.get(), OCRMode::standard);
    EXPECT_FALSE(own->autoSave.get());
    EXPECT_FALSE(own->automatic.get());
    EXPECT_TRUE(own->languageCorrection.get());
    EXPECT_FALSE(own->privateInput.get());
    EXPECT_TRUE(own->lastExports->empty());
    EXPECT_EQ(own->snapshot->value().status, QueueStatus::completed);

    // Standard recognition read each part's Japanese text.
    const auto pages = own->documentPages();
    ASSERT_EQ(pages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_LE(test::characterErrorRate(joined(partLines[i]), pages[i].text), 0.05) << pages[i].text;
    }
    // The files stay as they were published.
    EXPECT_EQ(capture.receipt.orderedFiles(folder), capture.files);
}

TEST_F(CaptureHandOffTest, AQueueThatHoldsAnythingIsNeverReplaced) {
    const PublishedCapture capture = publish(folder, {{"一"}, {"二"}});
    auto own = roots.controller();
    roots.openRunQueue(*own, {1}, OCRSettings());
    const QueueSnapshot before = own->snapshot->value();

    // A new window's queue runs the files; the window's own is untouched. A
    // private tab's capture stays private there. The capture ends as soon
    // as the run has started, naming the window that runs it: the run goes
    // on there, and that window comes forward at its end.
    fresh = roots.controller(gate.ports());
    EXPECT_EQ(test::runTask(handOff(capture, own, InputOrigin::privateSession)),
              "OCRはウインドウ「ベルモラ（2）」のOCR画面で実行しています。");
    EXPECT_TRUE(fresh->busy.get());
    EXPECT_EQ(forward, 0);
    gate.open();
    ASSERT_TRUE(spinUntil([&] { return !fresh->busy.get() && forward == 1; }, 30s));
    EXPECT_EQ(fresh->snapshot->value().status, QueueStatus::completed);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(own->snapshot->value(), before);
    EXPECT_EQ(queued(*fresh), capture.files);
    EXPECT_TRUE(fresh->privateInput.get());
    EXPECT_TRUE(fresh->isPrivateQueue());

    // No window opens: nothing is touched.
    fresh = nullptr;
    EXPECT_EQ(test::runTask(handOff(capture, own)), CaptureHandOff::failed);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(own->snapshot->value(), before);

    // The window that opened holds a queue of its own by then, or it is the
    // asking window itself: neither is replaced.
    fresh = roots.controller();
    roots.openRunQueue(*fresh, {1}, OCRSettings());
    const QueueSnapshot held = fresh->snapshot->value();
    EXPECT_EQ(test::runTask(handOff(capture, own)), CaptureHandOff::failed);
    EXPECT_EQ(fresh->snapshot->value(), held);
    fresh = own;
    EXPECT_EQ(test::runTask(handOff(capture, own)), CaptureHandOff::failed);
    EXPECT_EQ(own->snapshot->value(), before);
    EXPECT_EQ(shown, 1);
}

TEST_F(CaptureHandOffTest, FilesThatNoLongerMatchTheReceiptOrACancelledCaptureStartNothing) {
    const PublishedCapture capture = publish(folder, {{"一"}, {"二"}});
    auto own = roots.controller();

    // A capture cancelled before its hand-off began.
    test::Spawned<std::string> cancelled(handOff(capture, own));
    cancelled.handle.cancel();
    ASSERT_TRUE(cancelled.finish());
    EXPECT_EQ(*cancelled.out->value, CaptureHandOff::notStarted);

    // A part rewritten since it was published.
    test::writeFile(capture.files[1], "not the part");
    EXPECT_EQ(test::runTask(handOff(capture, own)), CaptureHandOff::failed);
    EXPECT_FALSE(own->snapshot->has_value());
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(shown, 0);
}

TEST_F(CaptureHandOffTest, AStartThatLaunchesNoRunIsAFailure) {
    const PublishedCapture capture = publish(folder, {{"一"}});
    auto own = roots.controller();
    // An import under way there refuses the start.
    own->importing = true;
    EXPECT_EQ(test::runTask(handOff(capture, own)), CaptureHandOff::failed);
    EXPECT_FALSE(own->busy.get());
    EXPECT_EQ(queued(*own), capture.files);
}

TEST_F(CaptureHandOffTest, CancellingTheCaptureStopsTheRunAndAReplacedQueueIsReportedAsSuch) {
    const PublishedCapture capture = publish(folder, {{"一"}, {"二"}, {"三"}});
    gate.passOnStop = true;
    auto own = roots.controller(gate.ports());
    {
        test::Spawned<std::string> watching(handOff(capture, own));
        ASSERT_TRUE(spinUntil([&] { return gate.held(1, 0s); }, 30s));
        ASSERT_TRUE(own->busy.get());
        watching.handle.cancel();
        ASSERT_TRUE(watching.finish(30s));
        EXPECT_EQ(*watching.out->value, CaptureHandOff::stopped);
        EXPECT_FALSE(own->busy.get());
        EXPECT_EQ(own->snapshot->value().status, QueueStatus::cancelled);
        EXPECT_LT(own->snapshot->value().completedPages(), 3);
    }

    // Another queue loaded into the target once the run ends, before the
    // watch looks again.
    auto other = roots.controller(gate.ports());
    test::Spawned<std::string> watching(
        CaptureHandOff::run(capture.receipt, folder, InputOrigin::normal, false, true, target(other), opener()));
    ASSERT_TRUE(spinUntil([&] { return gate.held(1, 0s); }, 30s));
    gate.open();
    ASSERT_TRUE(spinUntil([&] { return !other->busy.get(); }, 30s));
    other->select({capture.files[0]}, nullptr);
    ASSERT_TRUE(watching.finish());
    EXPECT_EQ(*watching.out->value, CaptureHandOff::replaced);
}
