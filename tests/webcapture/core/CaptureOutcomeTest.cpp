#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "foundation/CancellationError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/JSON.hpp"
#include "support/TempDir.hpp"
#include "webcapture/CaptureOutcome.hpp"
#include "webcapture/WebCaptureDiagnostic.hpp"

using namespace velmora;
using Stage = WebCaptureDiagnosticStage;

namespace {

const Json testInfo = {{"CFBundleShortVersionString", "1.0.0"}, {"CFBundleVersion", "7"}};

std::filesystem::path latest(const std::filesystem::path& storage) {
    return storage / "logs" / "web-capture-latest.json";
}

}  // namespace

TEST(CaptureLog, TheLatestReportReplacesTheOneBeforeInTheStorageRootsLogFolder) {
    test::TempDir dir;
    const auto storage = dir / "storage";  // made by the first report
    WebCaptureDiagnostic diagnostic(
        [&](const WebCaptureDiagnosticReport& r) { WebCaptureDiagnostic::storeLatest(storage, r); }, testInfo);
    diagnostic.record(Stage::prepare, {{WebCaptureDiagnosticMetric::scale, 2}});
    diagnostic.record(Stage::javascript);

    const std::string text = test::readFile(latest(storage));
    EXPECT_EQ(text, diagnostic.text());
    const auto stored = JSON::decode<WebCaptureDiagnosticReport>(JSON::parse(text));
    EXPECT_EQ(stored.id, diagnostic.report().id);
    ASSERT_EQ(stored.events.size(), 2u);
    EXPECT_EQ(stored.events[1].stage, Stage::javascript);
    struct stat st {};
    ASSERT_EQ(::stat(latest(storage).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((storage / "logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Only the report itself: no staged file is left beside it.
    EXPECT_EQ(test::listNames(storage / "logs"), std::vector<std::string>{"web-capture-latest.json"});
}

TEST(CaptureLog, AReportThatCannotBeStoredIsDroppedAndLeavesWhatWasThere) {
    test::TempDir dir;
    WebCaptureDiagnostic diagnostic([](const WebCaptureDiagnosticReport&) {}, testInfo);
    diagnostic.record(Stage::prepare);

    // "logs" is a link to another folder: not followed, nothing written there.
    std::filesystem::create_directories(dir / "linked" / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "linked" / "elsewhere", dir / "linked" / "logs");
    WebCaptureDiagnostic::storeLatest(dir / "linked", diagnostic.report());
    EXPECT_TRUE(test::listNames(dir / "linked" / "elsewhere").empty());

    // The storage root is a file.
    test::writeFile(dir / "plain", "x");
    WebCaptureDiagnostic::storeLatest(dir / "plain", diagnostic.report());
    EXPECT_EQ(test::readFile(dir / "plain"), "x");

    // A report that cannot take its place: nothing thrown, no staged copy
    // left behind.
    const auto storage = dir / "storage";
    std::filesystem::create_directories(latest(storage) / "in-the-way");
    WebCaptureDiagnostic::storeLatest(storage, diagnostic.report());
    EXPECT_TRUE(std::filesystem::is_directory(latest(storage)));
    EXPECT_EQ(test::listNames(storage / "logs"), std::vector<std::string>{"web-capture-latest.json"});
}

TEST(CaptureOutcome, ErrorsMapToTheCaseTheStatusLineShows) {
    using CaptureOutcome::errorCode;
    EXPECT_EQ(errorCode(std::make_exception_ptr(BrindlexError(ErrorCase::loadTimeout))), ErrorCase::loadTimeout);
    EXPECT_EQ(errorCode(std::make_exception_ptr(BrindlexError(ErrorCase::cancelled))), ErrorCase::cancelled);
    EXPECT_EQ(errorCode(std::make_exception_ptr(CancellationError())), ErrorCase::cancelled);
    EXPECT_EQ(errorCode(std::make_exception_ptr(std::runtime_error("x"))), ErrorCase::renderFailed);
    EXPECT_EQ(errorCode(std::make_exception_ptr(GLibError(g_quark_from_static_string("WebKitJavascriptError"), 0, "x"))),
              ErrorCase::renderFailed);
    EXPECT_EQ(errorCode(std::make_exception_ptr(42)), ErrorCase::renderFailed);
}

TEST(CaptureOutcome, StatusSentences) {
    CaptureReceipt one;
    one.parts.resize(1);
    EXPECT_EQ(CaptureOutcome::savedMessage(one), "画像を保存しました（1枚）");
    CaptureReceipt split;
    split.parts.resize(3);
    split.splitReason = "memoryBudget";
    EXPECT_EQ(CaptureOutcome::savedMessage(split), "ページが非常に長いため、安全のため3枚に分けて保存しました。");

    EXPECT_EQ(CaptureOutcome::failureMessage(2, ErrorCase::cancelled, Stage::snapshotTile),
              "保存済み出力2件は保持しています。 処理を中止しました。確定済みの結果は保持しています。 診断コード: WC-041");
    EXPECT_EQ(CaptureOutcome::failureMessage(0, ErrorCase::cancelled, std::nullopt),
              "処理を中止しました。確定済みの結果は保持しています。");
    EXPECT_EQ(CaptureOutcome::failureMessage(12, ErrorCase::renderFailed, std::nullopt),
              std::string("保存済み出力12件は保持しています。 ") + BrindlexError::message(ErrorCase::renderFailed));
}
