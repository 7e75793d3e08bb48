#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "capture/CaptureAdmission.hpp"
#include "capture/ProductNaming.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/DateFormat.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/FakeFolderChooser.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "workspace/model/CaptureHandOff.hpp"
#include "workspace/model/SaveRequest.hpp"

// The save request's decisions on a window that is only its port: real
// preferences, real output-folder grants with a chooser that answers as the
// test says, real folders made on disk and the real capture admission.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A window whose selected tab shows a loaded page; it records what the
// request did to it.
class FakeWindow final : public SaveRequest::Window {
public:
    FakeWindow(SettingsStore& settings, OutputAccess& access) : settings_(settings), access_(access) {
        shown.tabID = UUID::random();
        shown.url = "http://127.0.0.1/article";
        shown.title = "記事";
        shown.size = Size{900, 700};
        shown.viewportWidth = 390;
        now = SaveRequest::TabNow{false, shown.url, false};
        selection.widthMode = "mobile";
        selection.mobileWidth = 390;
    }

    // The window's state.
    bool blocked = false;
    CaptureSelection selection;
    PrintSelection printing;
    SaveRequest::Page shown;
    // Refuses the page the way the capture context does.
    bool pageRefused = false;
    // The tab shows a failed load.
    bool failed = false;
    SaveRequest::QueueFlags flags{false, true};
    std::optional<SaveRequest::TabNow> now;

    // What the request did.
    std::vector<std::string> messages;
    std::optional<std::pair<Size, fs::path>> locked;
    int unlocks = 0;
    std::optional<CaptureOptions> captured;
    std::optional<PrintOptions> printed;
    fs::path handedTo;
    struct QueuedCapture {
        fs::path folder;
        InputOrigin origin;
        bool automatic;
        bool languageCorrection;
    };
    std::vector<QueuedCapture> queued;

    bool saveBlocked() const override { return blocked; }
    bool pageFailed() const override { return failed; }
    bool pageEnded() const override { return false; }
    CaptureSelection captureSelection() const override { return selection; }
    PrintSelection printSelection() const override { return printing; }
    SaveRequest::Page page(const CaptureSelection& asked) override {
        if (pageRefused) raise(ErrorCase::loadTimeout);
        asked.validate();
        SaveRequest::Page page = shown;
        page.settings = asked;
        page.saveMode = settings_.value().saveMode;
        return page;
    }
    SaveRequest::QueueFlags queueFlags() const override { return flags; }
    SettingsStore& settingsStore() override { return settings_; }
    OutputAccess& outputAccess() override { return access_; }
    std::optional<SaveRequest::TabNow> tabNow(const UUID& tabID) const override {
        return tabID == shown.tabID ? now : std::nullopt;
    }
    void setMessage(std::string text) override { messages.push_back(std::move(text)); }
    void lock(const UUID& tabID, Size size, const fs::path& folder) override {
        EXPECT_EQ(tabID, shown.tabID);
        locked.emplace(size, folder);
    }
    void unlock(const UUID& tabID) override {
        EXPECT_EQ(tabID, shown.tabID);
        ++unlocks;
    }
    void capture(const UUID& tabID, CaptureOptions options, const fs::path& folder) override {
        EXPECT_EQ(tabID, shown.tabID);
        captured = std::move(options);
        handedTo = folder;
    }
    void print(const UUID& tabID, PrintOptions options, const fs::path& folder) override {
        EXPECT_EQ(tabID, shown.tabID);
        printed = std::move(options);
        handedTo = folder;
    }
    Task<std::string> queueCapture(CaptureReceipt, fs::path folder, InputOrigin origin, bool automatic,
                                   bool languageCorrection) override {
        queued.push_back({std::move(folder), origin, automatic, languageCorrection});
        co_return std::string("読み取りました。");
    }

    std::string message() const { return messages.empty() ? "(none)" : messages.back(); }
    bool started() const { return captured || printed || locked; }

private:
    SettingsStore& settings_;
    OutputAccess& access_;
};

class SaveRequestTest : public testing::Test {
protected:
    SaveRequestTest() {
        fs::create_directories(out);
        // Saves go to the approved output folder without asking.
        settings.change([&](AppPreferences& p) {
            p.saveMode = AppPreferences::SaveMode::automatic;
            p.destinationID = access.approve(out).id;
        });
        window = std::make_shared<FakeWindow>(settings, access);
    }
    ~SaveRequestTest() override {
        if (CaptureAdmission::owner()) CaptureAdmission::release(*CaptureAdmission::owner());
    }

    // One request, awaited until it has handed over or refused.
    void save(bool printing) { test::runTask(SaveRequest::run(window, printing)); }
    void ask() { settings.change([](AppPreferences& p) { p.saveMode = AppPreferences::SaveMode::ask; }); }

    test::TempDir tmp;
    fs::path storage = tmp / "storage";
    fs::path out = tmp / "out";
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};
    SettingsStore settings{storage / "settings"};
    test::FakeFolderChooser chooser;
    OutputAccess access{AppRuntime{storage, out}, &chooser};
    std::shared_ptr<FakeWindow> window;
};

}  // namespace

TEST_F(SaveRequestTest, EachRefusalBeforeTheFolderIsOneSentenceAndStartsNothing) {
    window->blocked = true;
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::saving);
    window->blocked = false;

    // The page refused: the custom width is the reason only when it lies
    // outside 280...4096.
    window->pageRefused = true;
    window->selection.widthMode = "custom";
    for (int64_t width : {279, 4097}) {
        window->selection.customWidth = width;
        save(false);
        EXPECT_EQ(window->message(), SaveRequest::widthOutOfRange) << width;
    }
    for (int64_t width : {280, 4096}) {
        window->selection.customWidth = width;
        save(true);
        EXPECT_EQ(window->message(), SaveRequest::notLoaded) << width;
    }
    window->selection.widthMode = "mobile";
    window->selection.customWidth = 100;
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::notLoaded);
    // A load that failed is said as such, whether or not the view kept the
    // page before it, and before any other reason.
    window->failed = true;
    window->selection.widthMode = "custom";
    window->selection.customWidth = 279;
    for (bool printing : {false, true}) {
        save(printing);
        EXPECT_EQ(window->message(), "ページを読み込めなかったため保存できません。アドレスを確認して読み込み直してください。");
    }
    window->pageRefused = false;
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::loadFailed);
    EXPECT_FALSE(window->started());
    window->failed = false;
    window->selection.widthMode = "mobile";

    // Another capture holds the admission: only a tall PNG waits for it.
    CaptureAdmission::acquire(UUID::random());
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::otherCapture);
    EXPECT_FALSE(window->started());
    EXPECT_TRUE(chooser.requests.empty());
    save(true);
    EXPECT_EQ(window->message(), "");
    EXPECT_TRUE(window->printed);
}

TEST_F(SaveRequestTest, ATallPNGIsLockedNamedAndHandedOverInTheScreenshotsFolder) {
    settings.change([](AppPreferences& p) {
        p.product.naming = "title-date";
        p.product.datedFolders = true;
    });
    const Date before = std::chrono::system_clock::now();
    save(false);
    EXPECT_EQ(window->message(), "");
    EXPECT_TRUE(chooser.requests.empty());
    const fs::path dated = out / DateFormat::format(before, "yyyy-MM-dd", DateFormat::tokyo) / "Screenshots";
    ASSERT_TRUE(window->locked);
    EXPECT_EQ(window->locked->first, (Size{390, 700}));
    EXPECT_EQ(window->locked->second, dated);
    EXPECT_EQ(window->handedTo, dated);
    EXPECT_TRUE(fs::is_directory(dated));
    ASSERT_TRUE(window->captured);
    EXPECT_EQ(window->captured->filenameStem,
              ProductNaming::stem(window->shown.url, "記事", "title-date", std::chrono::system_clock::now()));
    EXPECT_EQ(window->captured->viewportWidth, 390);
    ASSERT_TRUE(window->captured->metadata);
    EXPECT_EQ(*window->captured->metadata, CaptureMetadata::normal(window->shown.url, "記事"));
    EXPECT_FALSE(window->captured->completed);
    EXPECT_EQ(window->unlocks, 0);

    // A private tab's capture carries nothing to record.
    window->shown.origin = InputOrigin::privateSession;
    window->captured.reset();
    save(false);
    ASSERT_TRUE(window->captured);
    EXPECT_FALSE(window->captured->metadata);
}

TEST_F(SaveRequestTest, APrintStyleSaveGoesIntoThePrintFolderWithTheWindowsChoices) {
    window->printing.paper = PrintOptions::Paper::b5;
    window->printing.landscape = true;
    window->printing.output = PrintOptions::Output::pdf;
    window->printing.margin = 5;
    save(true);
    EXPECT_EQ(window->message(), "");
    ASSERT_TRUE(window->printed);
    EXPECT_EQ(window->handedTo, out / "Print");
    EXPECT_TRUE(fs::is_directory(out / "Print"));
    EXPECT_EQ(window->printed->paper, PrintOptions::Paper::b5);
    EXPECT_TRUE(window->printed->landscape);
    EXPECT_EQ(window->printed->output, PrintOptions::Output::pdf);
    EXPECT_EQ(window->printed->marginMM, 5);
    EXPECT_TRUE(window->printed->filenameStem);
    EXPECT_TRUE(window->printed->metadata);
    ASSERT_TRUE(window->locked);
    EXPECT_EQ(window->locked->second, out / "Print");

    window->shown.origin = InputOrigin::privateSession;
    window->printed.reset();
    save(true);
    ASSERT_TRUE(window->printed);
    EXPECT_FALSE(window->printed->metadata);
}

TEST_F(SaveRequestTest, TheFolderChooserCancelledFailingOrAnsweredLate) {
    // Cancelled: no lock, nothing handed over.
    ask();
    chooser.answer = std::nullopt;
    save(false);
    EXPECT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(window->message(), SaveRequest::cancelled);
    EXPECT_FALSE(window->started());

    // A stored folder that is gone: saving without asking never falls back
    // to another one, and nothing was locked to release.
    settings.change([](AppPreferences& p) { p.saveMode = AppPreferences::SaveMode::automatic; });
    fs::remove_all(out);
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::chooseAgain);
    EXPECT_FALSE(window->started());
    EXPECT_EQ(window->unlocks, 0);

    // The kind folder cannot be made (a file has its name).
    fs::create_directories(tmp / "chosen");
    test::writeFile(tmp / "chosen" / "Screenshots", "");
    ask();
    chooser.answer = tmp / "chosen";
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::chooseAgain);
    EXPECT_FALSE(window->started());
    // The chosen folder was approved and is the stored destination now.
    EXPECT_EQ(access.resolve(*settings.value().destinationID), fs::canonical(tmp / "chosen"));

    // While the chooser was open the page moved, began loading, began a
    // save, or the tab went: nothing starts.
    fs::remove(tmp / "chosen" / "Screenshots");
    const std::vector<std::optional<SaveRequest::TabNow>> changes{
        SaveRequest::TabNow{false, std::string("http://127.0.0.1/other"), false},
        SaveRequest::TabNow{false, std::nullopt, false},
        SaveRequest::TabNow{false, window->shown.url, true},
        SaveRequest::TabNow{true, window->shown.url, false},
        std::nullopt,
    };
    for (const auto& change : changes) {
        window->now = change;
        save(false);
        EXPECT_EQ(window->message(), SaveRequest::pageChanged);
        EXPECT_FALSE(window->started());
    }
    // Both without an address is the same page.
    window->shown.url = std::nullopt;
    window->now = SaveRequest::TabNow{false, std::nullopt, false};
    save(false);
    EXPECT_EQ(window->message(), "");
    EXPECT_TRUE(window->captured);
}

// The admission is checked again after the chooser: a tall PNG begun
// elsewhere meanwhile refuses this one as it would have before the question,
// instead of a save that locks the tab and then fails.
TEST_F(SaveRequestTest, ACaptureBegunWhileTheChooserIsOpenRefusesATallPNGOnly) {
    ask();
    chooser.answer = out;
    const UUID other = UUID::random();
    chooser.whileOpen = [other] { CaptureAdmission::acquire(other); };
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::otherCapture);
    EXPECT_FALSE(window->started());
    EXPECT_EQ(chooser.requests.size(), 1u);
    CaptureAdmission::release(other);

    chooser.whileOpen = [other] { CaptureAdmission::acquire(other); };
    save(true);
    EXPECT_EQ(window->message(), "");
    EXPECT_TRUE(window->printed);
}

TEST_F(SaveRequestTest, AWindowGoneWhileTheChooserIsOpenStartsNothing) {
    ask();
    chooser.answer = out;
    test::Spawned<void> request(SaveRequest::run(window, false));
    ASSERT_TRUE(test::spinUntil([&] { return !chooser.requests.empty(); }));
    std::weak_ptr<FakeWindow> weak = window;
    window.reset();
    // Not kept alive by the waiting request.
    EXPECT_TRUE(weak.expired());
    ASSERT_TRUE(request.finish());
    EXPECT_FALSE(request.out->error);
}

TEST_F(SaveRequestTest, CaptureOptionsRefusedUnlockTheRequestsOwnTab) {
    // A selection that validated when the page was read and no longer
    // gives options (the width the view reports is no length).
    window->selection.widthMode = "current";
    window->shown.size = Size{std::numeric_limits<double>::infinity(), 700};
    save(false);
    EXPECT_EQ(window->message(), SaveRequest::chooseAgain);
    EXPECT_EQ(window->unlocks, 1);
    ASSERT_TRUE(window->locked);
    EXPECT_EQ(window->locked->second, out / "Screenshots");
    EXPECT_FALSE(window->captured);
}

TEST_F(SaveRequestTest, WithOCROnTheCaptureHandsItsReceiptToTheWindowThatAsked) {
    window->selection.ocr = true;
    window->shown.origin = InputOrigin::privateSession;
    save(false);
    ASSERT_TRUE(window->captured);
    ASSERT_TRUE(window->captured->completed);
    // The queue's flags as they were when the save was asked for.
    window->flags = SaveRequest::QueueFlags{true, false};
    const auto note = test::runTask(window->captured->completed(CaptureReceipt{}));
    EXPECT_EQ(note, std::optional<std::string>("読み取りました。"));
    ASSERT_EQ(window->queued.size(), 1u);
    EXPECT_EQ(window->queued[0].folder, out / "Screenshots");
    EXPECT_EQ(window->queued[0].origin, InputOrigin::privateSession);
    EXPECT_FALSE(window->queued[0].automatic);
    EXPECT_TRUE(window->queued[0].languageCorrection);

    // The window closed before the capture ended.
    auto completed = window->captured->completed;
    window.reset();
    EXPECT_EQ(test::runTask(completed(CaptureReceipt{})), std::optional<std::string>(CaptureHandOff::windowGone));
}
