#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "foundation/JSON.hpp"
#include "support/TempDir.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

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

TEST(CaptureLog, ReportsBeforeTheLastAreStoredWholeAsWellAsTheLast) {
    test::TempDir dir;
    const auto storage = dir / "storage";
    WebCaptureDiagnostic diagnostic(
        [&](const WebCaptureDiagnosticReport& r) { WebCaptureDiagnostic::storeLatest(storage, r); }, testInfo);
    diagnostic.record(Stage::scroll, {{WebCaptureDiagnosticMetric::tileY, 0}});
    ASSERT_FALSE(WebCaptureDiagnostic::isFinal(diagnostic.report()));
    EXPECT_EQ(test::readFile(latest(storage)), diagnostic.text());
    diagnostic.record(Stage::completed);
    ASSERT_TRUE(WebCaptureDiagnostic::isFinal(diagnostic.report()));
    EXPECT_EQ(test::readFile(latest(storage)), diagnostic.text());
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
