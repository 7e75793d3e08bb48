#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/JSON.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "ocrjobs/JobControl.hpp"
#include "support/Errors.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureAdmission.hpp"
#include "capture/CaptureNaming.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureSelection.hpp"
#include "capture/PrintOptions.hpp"
#include "webcapture/WebHooks.hpp"
#include "webcapture/WebPrinter.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::runTask;
using test::spinUntil;
using Event = OperationTrace::Event;

namespace {

constexpr const char* title = "テストページ";
constexpr const char* bannerStyle = "position:fixed;top:0;left:0;width:100%;height:40px;background:#000";
// E = 390·3000·12 + 390·800·8 + 256 MiB = 284,971,456 for the tall page;
// one 800-row part needs 274,675,456.
constexpr int64_t splittingBudget = 280000000;

const std::vector<uint32_t> bandColours = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff,
                                           0xff8000, 0x8000ff, 0x008040, 0x804000, 0x408080, 0xc0c0c0};

// Bands 250 CSS pixels high in the colours above, under a fixed banner that
// a capture must show once, at the top, not on every tile.
std::string bands(int64_t height, const std::string& extra = "") {
    std::string body = "<div id=banner style=\"" + std::string(bannerStyle) + "\"></div>";
    char colour[8];
    for (int64_t y = 0, i = 0; y < height; y += 250, ++i) {
        std::snprintf(colour, sizeof colour, "%06x", bandColours[static_cast<std::size_t>(i) % bandColours.size()]);
        body += "<div style=\"height:250px;background:#" + std::string(colour) + "\"></div>";
    }
    return "<!doctype html><html><head><meta charset=utf-8><title>" + std::string(title) +
           "</title></head><body style=\"margin:0\">" + body + extra + "</body></html>";
}

uint32_t pixel(const RasterImage& image, int x, int y) {
    const uint8_t* p = image.pixels() + y * image.rowStride() + x * image.channels();
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

// The colour a band page shows at document row y.
uint32_t bandAt(int64_t y) { return y < 40 ? 0 : bandColours[static_cast<std::size_t>(y / 250) % bandColours.size()]; }

std::vector<std::string> eventNames(const OperationTrace& trace) {
    std::vector<std::string> out;
    for (const auto& item : trace.items()) out.emplace_back(OperationTrace::rawValue(item.event));
    return out;
}

// The stages of a report as names, a run of measurement passes as one
// "pageMetrics…".
std::vector<std::string> stageNames(const WebCaptureDiagnosticReport& report) {
    std::vector<std::string> out;
    for (const auto& event : report.events) {
        std::string name(rawValue(event.stage));
        if (name == "WC-020" && !out.empty() && out.back() == "WC-020…") continue;
        out.push_back(name == "WC-020" ? "WC-020…" : name);
    }
    return out;
}

CaptureLifecycle::Journal journalAt(const fs::path& folder) {
    return JSON::decode<CaptureLifecycle::Journal>(JSON::parse(test::readFile(folder / "lifecycle.json")));
}

class CaptureRequest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(storage_);
        fs::create_directories(outputRoot_);
        // The application's sink, over this test's storage root.
        WebHooks::shared().logCapture = [this](const WebCaptureDiagnosticReport& report) {
            WebCaptureDiagnostic::storeLatest(storage_, report);
        };
        open(false);
        countBefore_ = WorkerBudget::shared().captures();
    }
    void TearDown() override {
        WebHooks::shared().logCapture = nullptr;
        window_.reset();
        session_.reset();
    }

    // The session under test in a presented window 800 pixels high: the
    // capture's viewport.
    void open(bool privateMode) {
        window_.reset();
        session_.reset();
        session_ = std::make_unique<BrowserSession>(privateMode, test::sharedEphemeralStore());
        session_->setWaitBounds(test::patientBounds());
        window_ = std::make_unique<test::WebTestWindow>(session_->frame(), 1024, 800);
        ASSERT_TRUE(window_->waitUntilShown());
    }

    // Every page here carries the same title, which options() and the stem
    // read: the wait is for this load's end and for the title.
    void load(const std::string& path, const std::string& html) {
        server_.html(path, html);
        ASSERT_TRUE(test::loadPage(*session_, server_.url(path), title));
        ASSERT_EQ(session_->currentURL.get(), server_.url(path));
    }

    // The window's options for a tall PNG of the current page: mobile 390,
    // scale 1, lazy loading, automatic wait; a stem from a fixed date.
    CaptureOptions options(bool stem = true) {
        CaptureSelection selection;
        selection.widthMode = "mobile";
        selection.mobileWidth = 390;
        selection.scale = 1;
        selection.lazyLoad = true;
        selection.waitSeconds = -1;
        CaptureOptions o = selection.options(std::nullopt);
        // The default budget is a share of this machine's memory.
        o.budget = 805306368;
        const auto url = session_->currentURL.get();
        if (stem) o.filenameStem = stemText();
        o.metadata = CaptureMetadata::normal(url, session_->pageTitle.get());
        return o;
    }

    std::string stemText() const {
        return CaptureNaming::stem(session_->currentURL.get(), session_->pageTitle.get(),
                                   Date(std::chrono::seconds(1777627800)));
    }

    // Requests the capture and waits for its task to end.
    void capture(CaptureOptions o) {
        session_->capture(std::move(o), folder_);
        ASSERT_TRUE(session_->operationPending.get());
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s));
    }

    PageValue eval(const std::string& script) { return runTask(session_->evaluate(script)); }

    // After every capture, whatever its end.
    void expectIdleAndRestored(int64_t scrollY) {
        EXPECT_FALSE(session_->busy.get());
        EXPECT_FALSE(session_->operationPending.get());
        EXPECT_FALSE(session_->captureTask);
        EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_);
        EXPECT_FALSE(CaptureAdmission::owner());
        EXPECT_EQ(eval("scrollY").number, scrollY);
        EXPECT_EQ(eval("document.getElementById('banner').getAttribute('style')").stringValue(), bannerStyle);
        EXPECT_EQ(eval("Object.keys(window).filter(k=>k.startsWith('__brindlex_')).join()").stringValue(), "");
    }

    // The output folder's names in byte order; none before a capture made it.
    std::vector<std::string> outputs() const {
        if (!fs::exists(folder_)) return {};
        auto names = test::listNames(folder_);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<WebCaptureDiagnosticReport> storedReport() const {
        const fs::path file = storage_ / "logs" / "web-capture-latest.json";
        if (!fs::exists(file)) return std::nullopt;
        return JSON::decode<WebCaptureDiagnosticReport>(JSON::parse(test::readFile(file)));
    }

    // The journal folders under the lifecycle root.
    std::vector<fs::path> journals() const {
        std::vector<fs::path> out;
        if (!fs::exists(Phase0Work::lifecycle())) return out;
        for (const auto& name : test::listNames(Phase0Work::lifecycle())) out.push_back(Phase0Work::lifecycle() / name);
        return out;
    }

    std::vector<CaptureHistoryEntry> history() const { return AppHistory::required()->entries(); }

    test::TempDir dir_;
    fs::path storage_ = dir_ / "storage";
    fs::path outputRoot_ = dir_ / "out";
    fs::path folder_ = outputRoot_ / "Screenshots";
    AppRuntime::ScopedOverride runtime_{AppRuntime{storage_, outputRoot_}};
    SettingsStore settings_{storage_ / "settings"};
    FixedOutputRoots roots_{{outputRoot_}};
    AppHistory::ScopedEnvironment historyEnvironment_{{storage_, &settings_, &roots_}};
    test::WebTestServer server_;
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
    int64_t countBefore_ = 0;
};

}  // namespace

TEST_F(CaptureRequest, APageIsSavedAsOneTallPNGWithItsReceiptHistoryJournalAndReport) {
    load("/", bands(2000));
    eval("scrollTo(0,700);true");
    const std::string stem = stemText();
    std::optional<CaptureReceipt> receipt;
    CaptureOptions o = options();
    o.completed = [&](CaptureReceipt r) -> Task<std::optional<std::string>> {
        receipt = r;
        co_return std::nullopt;
    };
    capture(o);

    EXPECT_EQ(session_->stage.get(), "画像を保存しました（1枚）");
    expectIdleAndRestored(700);
    const fs::path file = folder_ / (stem + ".png");
    ASSERT_EQ(outputs(), std::vector<std::string>{stem + ".png"});

    // The image: the page at 390 × its height, the banner once at the top.
    const RasterImage image = Raster::image(file).image;
    ASSERT_EQ(image.width(), 390);
    ASSERT_EQ(image.height(), 2000);
    for (int y : {5, 39, 40, 125, 375, 799, 800, 805, 1599, 1600, 1625, 1999})
        EXPECT_EQ(pixel(image, 195, y), bandAt(y)) << "row " << y;

    ASSERT_TRUE(receipt);
    ASSERT_EQ(receipt->parts.size(), 1u);
    EXPECT_EQ(receipt->parts[0].file, stem + ".png");
    EXPECT_EQ(receipt->parts[0].sha256, Digest::file(file));
    EXPECT_EQ(receipt->orderedFiles(folder_), std::vector<fs::path>{file});
    EXPECT_EQ(receipt->widthCSS, 390);
    EXPECT_EQ(receipt->heightCSS, 2000);
    EXPECT_FALSE(receipt->splitReason);
    EXPECT_EQ(receipt->xCSS, 0);
    ASSERT_TRUE(receipt->memoryPlan);
    EXPECT_EQ(receipt->memoryPlan->at("estimatedBytes"), 390 * 2000 * 12 + 390 * 800 * 8 + 268435456);

    // The history entry and the journal behind it.
    const auto entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, "capture");
    EXPECT_EQ(entries[0].state, "completed");
    ASSERT_EQ(entries[0].outputs.size(), 1u);
    EXPECT_EQ(entries[0].outputs[0].path, file.string());
    EXPECT_EQ(entries[0].outputs[0].state, SavedOutput::State::available);
    EXPECT_EQ(entries[0].outputs[0].stamp, FileStamp::read(file));
    ASSERT_TRUE(entries[0].metadata);
    EXPECT_EQ(entries[0].metadata->url, server_.url("/"));
    EXPECT_EQ(entries[0].metadata->title, title);
    const auto folders = journals();
    ASSERT_EQ(folders.size(), 1u);
    const auto journal = journalAt(folders[0]);
    EXPECT_EQ(journal.attemptID, entries[0].id);
    EXPECT_EQ(journal.kind, "capture");
    EXPECT_EQ(journal.state, CaptureLifecycle::Journal::State::reconciled);
    EXPECT_FALSE(journal.error);
    EXPECT_EQ(journal.expectedCount, 1);

    // The report as stored, and as the session shows it.
    const std::string stored = test::readFile(storage_ / "logs" / "web-capture-latest.json");
    EXPECT_EQ(stored, session_->captureDiagnosticText.get());
    const auto report = storedReport();
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->failure);
    std::vector<std::string> expected = {"WC-010", "WC-010", "WC-015", "WC-020…", "WC-025", "WC-030", "WC-035",
                                         "WC-036", "WC-036", "WC-001", "WC-050"};
    for (int tile = 0; tile < 3; ++tile) expected.insert(expected.end(), {"WC-038", "WC-040", "WC-041"});
    expected.insert(expected.end(), {"WC-050", "WC-060", "WC-070", "WC-071", "WC-075", "WC-090", "WC-080", "WC-100"});
    EXPECT_EQ(stageNames(*report), expected);
    EXPECT_EQ(report->events[0].values.at("requestedWidth"), 390);

    EXPECT_EQ(eventNames(*session_->operation.get()),
              (std::vector<std::string>{"started", "stage", "stage", "stage", "stage", "stage", "stage", "stage",
                                        "published", "stage", "stopped", "completed"}));
    EXPECT_EQ(session_->operation.get()->current(), "ocr");

    // Again, into the same folder: the name is taken, so the second image
    // takes the next one and the first stays as it was.
    const std::string firstDigest = Digest::file(file);
    receipt.reset();
    capture(o);
    EXPECT_EQ(session_->stage.get(), "画像を保存しました（1枚）");
    expectIdleAndRestored(700);
    const fs::path second = folder_ / (stem + "_001.png");
    EXPECT_EQ(outputs(), (std::vector<std::string>{stem + ".png", stem + "_001.png"}));
    EXPECT_EQ(Digest::file(file), firstDigest);
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->parts.at(0).file, stem + "_001.png");
    EXPECT_EQ(receipt->orderedFiles(folder_), std::vector<fs::path>{second});
    ASSERT_EQ(history().size(), 2u);
    EXPECT_EQ(history()[1].outputs.at(0).path, second.string());
}

// A page of many tiles: the report is stored at once when the capture
// enters another stage and otherwise at most every quarter second, not at
// each of the tiles' events; the stored copy never lags behind the stage
// the capture is in, and the last one is the whole report the user sees.
TEST_F(CaptureRequest, ATallPagesReportIsStoredPerStageAndAtAPaceNotPerTileEvent) {
    load("/", bands(20000));
    std::vector<std::pair<WebCaptureDiagnosticStage, std::chrono::steady_clock::time_point>> stores;
    WebHooks::shared().logCapture = [&](const WebCaptureDiagnosticReport& report) {
        stores.emplace_back(report.events.back().stage, std::chrono::steady_clock::now());
        WebCaptureDiagnostic::storeLatest(storage_, report);
    };
    // At each tile's checkpoint the stored report is already in the tiles'
    // stage (a crash there would leave it so).
    int tiles = 0;
    std::vector<std::string> storedAtTiles;
    CaptureOptions o = options();
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage == CaptureOptions::Stage::tile && ++tiles > 1) {
            const auto stored = storedReport();
            storedAtTiles.emplace_back(stored ? rawValue(stored->events.back().stage) : "none");
        }
        co_return;
    };
    const auto start = std::chrono::steady_clock::now();
    capture(o);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(session_->stage.get(), "画像を保存しました（1枚）");
    ASSERT_GT(tiles, 20);
    for (const auto& code : storedAtTiles) {
        EXPECT_TRUE(code == "WC-038" || code == "WC-040" || code == "WC-041") << code;
    }

    // Three events a tile, but deliveries within the tiles come at most
    // every 250 ms (and at the tiles' first event).
    std::size_t inTiles = 0;
    std::optional<std::chrono::steady_clock::time_point> last;
    for (const auto& [stage, at] : stores) {
        const bool tileStage = stage == WebCaptureDiagnosticStage::scroll ||
                               stage == WebCaptureDiagnosticStage::snapshotStart ||
                               stage == WebCaptureDiagnosticStage::snapshotTile;
        if (!tileStage) continue;
        if (last) {
            EXPECT_GE(at - *last, 240ms);
        }
        last = at;
        ++inTiles;
    }
    EXPECT_LE(inTiles, static_cast<std::size_t>(seconds / 0.25) + 1);

    // The last report stored is the whole one, every tile's events in it.
    const std::string stored = test::readFile(storage_ / "logs" / "web-capture-latest.json");
    EXPECT_EQ(stored, session_->captureDiagnosticText.get());
    const auto report = storedReport();
    ASSERT_TRUE(report);
    int scrolls = 0;
    for (const auto& event : report->events) scrolls += event.stage == WebCaptureDiagnosticStage::scroll;
    EXPECT_EQ(scrolls, tiles);
    EXPECT_EQ(report->events.back().stage, WebCaptureDiagnosticStage::completed);
}

TEST_F(CaptureRequest, APageOverTheBudgetIsSavedInParts) {
    load("/", bands(3000));
    const std::string stem = stemText();
    std::vector<fs::path> announced;
    std::optional<CaptureReceipt> receipt;
    std::string stageWhileHanding, traceWhileHanding;
    CaptureOptions o = options();
    o.budget = splittingBudget;
    o.onPublished = [&](const fs::path& url) { announced.push_back(url); };
    o.completed = [&](CaptureReceipt r) -> Task<std::optional<std::string>> {
        receipt = r;
        stageWhileHanding = session_->stage.get();
        traceWhileHanding = session_->operation.get()->current();
        co_return std::string("OCRキューに追加しました。");
    };
    capture(o);

    EXPECT_EQ(stageWhileHanding, "画像保存は完了しました。標準OCRを処理中です。");
    EXPECT_EQ(traceWhileHanding, "ocr");
    EXPECT_EQ(session_->stage.get(), "ページが非常に長いため、安全のため4枚に分けて保存しました。 OCRキューに追加しました。");
    expectIdleAndRestored(0);
    std::vector<fs::path> files;
    for (int i = 1; i <= 4; ++i) files.push_back(folder_ / (stem + "_00" + std::to_string(i) + ".png"));
    EXPECT_EQ(announced, files);
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->splitReason, "memoryBudget");
    EXPECT_EQ(receipt->orderedFiles(folder_), files);
    EXPECT_EQ(receipt->memoryPlan->at("estimatedBytes"), 284971456);
    EXPECT_EQ(receipt->memoryPlan->at("budgetBytes"), splittingBudget);
    // Each part is its own rows of the page: as many as an 800-high view
    // shows clear of its edges, 784.
    for (int i = 0; i < 4; ++i) {
        const RasterImage part = Raster::image(files[static_cast<std::size_t>(i)]).image;
        const int rows = i < 3 ? 784 : 3000 - 3 * 784;
        ASSERT_EQ(part.height(), rows);
        for (int y : {0, 45, rows / 2, rows - 1}) EXPECT_EQ(pixel(part, 100, y), bandAt(i * 784 + y)) << i << ":" << y;
    }
    ASSERT_EQ(journals().size(), 1u);
    EXPECT_EQ(journalAt(journals()[0]).expectedCount, 4);
    EXPECT_EQ(journalAt(journals()[0]).outputs.size(), 4u);

    // Without a stem, and with the receipt written beside the images: the
    // receipt is neither announced nor journalled.
    announced.clear();
    receipt.reset();
    o.filenameStem.reset();
    o.writeReceipt = true;
    o.completed = [&](CaptureReceipt r) -> Task<std::optional<std::string>> {
        receipt = r;
        co_return std::nullopt;
    };
    capture(o);
    EXPECT_EQ(session_->stage.get(), "ページが非常に長いため、安全のため4枚に分けて保存しました。");
    files.clear();
    for (int y : {0, 784, 1568, 2352}) files.push_back(folder_ / ("capture-" + std::to_string(y) + ".png"));
    EXPECT_EQ(announced, files);
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->orderedFiles(folder_), files);
    const auto written = JSON::decode<CaptureReceipt>(JSON::parse(test::readFile(folder_ / "capture-receipt.json")));
    EXPECT_EQ(written, *receipt);
    EXPECT_EQ(outputs().size(), 4u + 5u);
    const auto latest = history().back();
    EXPECT_EQ(latest.state, "completed");
    EXPECT_EQ(latest.outputs.size(), 4u);
    EXPECT_EQ(session_->operation.get()->publishedCount(), 4);
    expectIdleAndRestored(0);
}

TEST_F(CaptureRequest, ACancelAfterTheSecondOfFourPartsKeepsTheTwoAndEndsCancelled) {
    load("/", bands(3000));
    eval("scrollTo(0,321);true");
    const std::string stem = stemText();
    int published = 0;
    bool committed = false;
    CaptureOptions o = options();
    o.budget = splittingBudget;
    o.onPublished = [&](const fs::path&) {
        if (++published == 2) session_->cancel();
    };
    o.afterCommit = [&]() -> Task<void> {
        committed = true;
        co_return;
    };
    capture(o);

    EXPECT_FALSE(committed);
    expectIdleAndRestored(321);
    EXPECT_EQ(outputs(), (std::vector<std::string>{stem + "_001.png", stem + "_002.png"}));
    const auto report = storedReport();
    ASSERT_TRUE(report && report->failure);
    EXPECT_EQ(report->failure->stage, report->events.back().stage);
    EXPECT_EQ(session_->stage.get(), "保存済み出力2件は保持しています。 処理を中止しました。確定済みの結果は保持しています。 診断コード: " +
                                         std::string(rawValue(report->failure->stage)));
    EXPECT_EQ(session_->captureDiagnosticText.get(), test::readFile(storage_ / "logs" / "web-capture-latest.json"));

    const auto names = eventNames(*session_->operation.get());
    auto cancel = std::find(names.begin(), names.end(), "uiCancel");
    ASSERT_NE(cancel, names.end());
    EXPECT_EQ(std::vector<std::string>(cancel, cancel + 3),
              (std::vector<std::string>{"uiCancel", "cancelRequested", "cancelUIModel"}));
    EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()), (std::vector<std::string>{"stopped", "cancelled"}));
    EXPECT_EQ(std::count(names.begin(), names.end(), "published"), 2);

    const auto entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, "cancelled");
    EXPECT_EQ(entries[0].error, ErrorCase::cancelled);
    ASSERT_EQ(entries[0].outputs.size(), 2u);
    EXPECT_EQ(entries[0].outputs[1].path, (folder_ / (stem + "_002.png")).string());
    EXPECT_EQ(journalAt(journals().at(0)).error, ErrorCase::cancelled);

    // Nothing runs now: the cancel is only recorded.
    const std::string status = session_->stage.get();
    const std::size_t items = session_->operation.get()->items().size();
    session_->cancel();
    EXPECT_EQ(session_->stage.get(), status);
    ASSERT_EQ(session_->operation.get()->items().size(), items + 1);
    EXPECT_EQ(eventNames(*session_->operation.get()).back(), "lateCancel");
}

// A page that gets stuck in a script loop mid-capture answers no script: the
// cancel still ends the save, the page's restore is given up after its bound,
// and the tab can then close.
TEST_F(CaptureRequest, APageStuckInAScriptIsCancelledAndClosed) {
    load("/", bands(3000));
    guint cancelTimer = 0;
    CaptureOptions o = options();
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage != CaptureOptions::Stage::waiting || cancelTimer) co_return;
        Task<PageValue> loop = session_->evaluate("setTimeout(() => { for (;;) {} }, 0); true");
        co_await std::move(loop);
        cancelTimer = g_timeout_add(500, [](gpointer self) -> gboolean {
            static_cast<BrowserSession*>(self)->cancel();
            return G_SOURCE_REMOVE;
        }, session_.get());
    };
    session_->capture(o, folder_);
    ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 30s))
        << "the cancel did not end a capture waiting for a stuck page";
    EXPECT_TRUE(cancelTimer);
    EXPECT_TRUE(session_->stage.get().starts_with(BrindlexError(ErrorCase::cancelled).what())) << session_->stage.get();
    EXPECT_FALSE(session_->busy.get());
    EXPECT_FALSE(session_->captureTask);
    EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_);
    EXPECT_FALSE(CaptureAdmission::owner());
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(eventNames(*session_->operation.get()).back(), "cancelled");
    session_->shutdown();
    EXPECT_TRUE(session_->closingWeb());
    webkit_web_view_terminate_web_process(session_->webView());
}

TEST_F(CaptureRequest, FailuresEndInOneStatusSentenceAndGiveEverythingBack) {
    server_.brokenImage("/broken.png");
    load("/broken", bands(1000, "<img src=/broken.png width=10 height=10>"));
    capture(options());
    EXPECT_EQ(session_->stage.get(), std::string(BrindlexError::message(ErrorCase::incompleteImages)) + " 診断コード: WC-030");
    expectIdleAndRestored(0);
    EXPECT_TRUE(outputs().empty());
    // It saved nothing: the journal keeps the failure, the history no row.
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(journalAt(journals().at(0)).error, ErrorCase::incompleteImages);
    EXPECT_EQ(eventNames(*session_->operation.get()).back(), "failed");

    // An error that is no BrindlexError and no cancellation.
    load("/", bands(2000));
    CaptureOptions throwing = options();
    throwing.checkpoint = [](CaptureOptions::Stage stage) -> Task<void> {
        if (stage == CaptureOptions::Stage::tile) throw std::runtime_error("checkpoint");
        co_return;
    };
    capture(throwing);
    const auto report = storedReport();
    ASSERT_TRUE(report && report->failure);
    EXPECT_FALSE(report->failure->appError);
    EXPECT_EQ(session_->stage.get(), std::string(BrindlexError::message(ErrorCase::renderFailed)) + " 診断コード: " +
                                         std::string(rawValue(report->failure->stage)));
    EXPECT_TRUE(history().empty());
    expectIdleAndRestored(0);

    // A second request while one runs changes nothing.
    bool hold = true, waiting = false;
    CaptureOptions held = options();
    held.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        if (stage != CaptureOptions::Stage::waiting) co_return;
        waiting = true;
        while (hold) co_await sleepFor(10ms);
    };
    session_->capture(held, folder_);
    ASSERT_TRUE(spinUntil([&] { return waiting; }));
    const std::shared_ptr<OperationTrace> running = session_->operation.get();
    const std::size_t items = running->items().size();
    const std::string text = session_->captureDiagnosticText.get();
    const TaskHandle task = *session_->captureTask;
    session_->capture(options(), folder_);
    EXPECT_EQ(session_->operation.get(), running);
    EXPECT_EQ(running->items().size(), items);
    EXPECT_EQ(*session_->captureTask, task);
    EXPECT_EQ(session_->captureDiagnosticText.get(), text);
    hold = false;
    ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s));
    EXPECT_EQ(session_->stage.get(), "画像を保存しました（1枚）");
    EXPECT_EQ(outputs().size(), 1u);
    expectIdleAndRestored(0);
}

TEST_F(CaptureRequest, APrivateSessionKeepsNoReportAndNoJournalOfItsOwn) {
    open(true);
    load("/", bands(3000));
    const std::string stem = stemText();
    // The caller's own journal, finished by the caller after the first part:
    // it refuses the second.
    auto journal = std::make_shared<CaptureLifecycle>(Phase0Work::lifecycle(), "capture");
    CaptureOptions o = options();
    o.budget = splittingBudget;
    o.lifecycle = journal;
    o.onPublished = [&](const fs::path&) {
        if (journal->journal().state != CaptureLifecycle::Journal::State::reconciled) journal->finish(*AppHistory::required());
    };
    capture(o);

    EXPECT_EQ(session_->stage.get(), "保存済み出力1件は保持しています。 " +
                                         std::string(BrindlexError::message(ErrorCase::damagedCheckpoint)));
    EXPECT_EQ(session_->captureDiagnosticText.get(), "");
    EXPECT_FALSE(fs::exists(storage_ / "logs"));
    EXPECT_EQ(journals(), std::vector<fs::path>{journal->directory().url()});
    EXPECT_EQ(outputs(), std::vector<std::string>{stem + "_001.png"});
    EXPECT_EQ(eventNames(*session_->operation.get()).back(), "failed");
    expectIdleAndRestored(0);

    // A failure before anything was published: no prefix, and no code.
    server_.brokenImage("/broken.png");
    load("/broken", bands(1000, "<img src=/broken.png width=10 height=10>"));
    capture(options());
    EXPECT_EQ(session_->stage.get(), BrindlexError::message(ErrorCase::incompleteImages));
    EXPECT_EQ(journals().size(), 1u);
    expectIdleAndRestored(0);
}

// A typed address on a port the engine never connects to leaves a blank page
// in the view, and a tab can show about:blank itself. The session refuses to
// save either, as a tall PNG or print-style, whoever asks: nothing written,
// published or recorded, and the status line says the page did not load.
TEST_F(CaptureRequest, ABlankOrFailedPageIsRefusedByTheSessionItself) {
    auto refused = [&](const std::string& what) {
        session_->capture(options(), folder_);
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s)) << what;
        EXPECT_EQ(session_->stage.get(), BrowserSession::loadFailedNotice) << what;
        PrintOptions print;
        print.filenameStem = "print";
        session_->print(print, folder_);
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s)) << what;
        EXPECT_EQ(session_->stage.get(), BrowserSession::loadFailedNotice) << what;
        // The pipelines below the requests refuse it too.
        EXPECT_EQ(test::caseOf([&] { runTask(session_->captureNow(options(), folder_)); }), ErrorCase::loadTimeout);
        EXPECT_EQ(test::caseOf([&] { runTask(WebPrinter::printPDF(*session_, print, folder_)); }),
                  ErrorCase::loadTimeout);
        EXPECT_FALSE(session_->busy.get());
        EXPECT_TRUE(outputs().empty()) << what;
        EXPECT_TRUE(journals().empty()) << what;
        EXPECT_TRUE(history().empty()) << what;
        EXPECT_FALSE(storedReport()) << what;
    };
    session_->navigate("http://127.0.0.1:1/");
    ASSERT_TRUE(spinUntil([&] { return session_->failedURL.get().has_value() && !session_->loading; }));
    refused("blocked port");

    webkit_web_view_load_uri(session_->webView(), "about:blank");
    ASSERT_TRUE(spinUntil([&] {
        const char* shown = webkit_web_view_get_uri(session_->webView());
        return shown && std::string(shown) == "about:blank" && !session_->failedURL.get() && !session_->loading;
    }));
    refused("about:blank");
}
