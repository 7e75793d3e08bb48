#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "browser/BrowserStores.hpp"
#include "capture/WebCaptureDiagnostic.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "webcapture/WebHooks.hpp"
#include "workspace/WorkspaceFixture.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Stage = SafeEvent::Stage;

namespace {

class AppServicesTest : public test::WorkspaceFixture {
protected:
    fs::path logs = storage / "logs";
    Date now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());

    std::vector<SafeEvent> events() const {
        std::vector<SafeEvent> found;
        for (const auto& name : test::listNames(logs)) {
            if (name == WebCaptureDiagnostic::latestFileName) continue;
            found.push_back(JSON::decode<SafeEvent>(JSON::parse(test::readFile(logs / name))));
        }
        return found;
    }

    void setLogDays(int64_t days) {
        services->settings.update(&AppPreferences::logDays, days);
        ASSERT_EQ(services->settings.value().logDays, days);
    }
};

}  // namespace

TEST_F(AppServicesTest, BuildsItsServicesOnTheStorageRoot) {
    EXPECT_EQ(services->runtime, (AppRuntime{storage, out}));
    EXPECT_EQ(services->settings.root(), storage / "settings");
    ASSERT_TRUE(services->webStores);
    EXPECT_NE(services->webStores->normal(), nullptr);
    EXPECT_TRUE(fs::is_directory(BrowserStores::normalDataFolder(storage)));
    // The tab snapshot lives beside the settings it is switched by.
    EXPECT_EQ(services->restoration.root(), storage / "tabs");
    services->restoration.setEnabled(true);
    EXPECT_TRUE(services->settings.value().restoreTabs);
    EXPECT_TRUE(fs::is_regular_file(storage / "tabs" / "snapshot.json"));

    // A test instance wires nothing until asked; wired, the history and the
    // web sessions reach this one instance.
    WebHooks::shared() = {};
    EXPECT_FALSE(WebHooks::shared().normalStore);
    services->wire();
    EXPECT_EQ(WebHooks::shared().normalStore(), services->webStores->normal());
    EXPECT_NE(AppHistory::required(), nullptr);
    WebCaptureDiagnosticReport report;
    report.product = "hooked";
    WebHooks::shared().logCapture(report);
    EXPECT_EQ(JSON::decode<WebCaptureDiagnosticReport>(
                  JSON::parse(test::readFile(logs / WebCaptureDiagnostic::latestFileName))),
              report);
    WebHooks::shared() = {};
    AppHistory::clearConfiguration();
}

TEST_F(AppServicesTest, EachEventIsOneFileAndTheFolderComesBack) {
    const UUID job = UUID::random();
    services->log(Stage::completed, job, std::nullopt, now);
    services->log(Stage::failed, job, ErrorCase::saveFailed, now);
    auto found = events();
    ASSERT_EQ(found.size(), 2u);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.stage < b.stage; });
    EXPECT_EQ(found[0], (SafeEvent{job, Stage::completed, now, std::nullopt, std::nullopt}));
    EXPECT_EQ(found[1], (SafeEvent{job, Stage::failed, now, std::nullopt, ErrorCase::saveFailed}));

    fs::remove_all(logs);
    services->log(Stage::paused, job, std::nullopt, now);
    EXPECT_EQ(events().size(), 1u);

    // Downloads write through the same log, and find these settings and
    // output folders.
    const auto forDownloads = services->downloadServices();
    EXPECT_EQ(forDownloads.settings, &services->settings);
    EXPECT_EQ(forDownloads.access, &services->access);
    forDownloads.log(Stage::cancelled, job, std::nullopt, now);
    EXPECT_EQ(events().size(), 2u);

    // A link in place of the folder: nothing is written anywhere, nothing
    // escapes.
    fs::remove_all(logs);
    fs::create_directories(tmp / "elsewhere");
    fs::create_symlink(tmp / "elsewhere", logs);
    services->log(Stage::paused, job, std::nullopt, now);
    services->logCapture(WebCaptureDiagnosticReport{});
    EXPECT_TRUE(test::listNames(tmp / "elsewhere").empty());
}

TEST_F(AppServicesTest, RetentionFollowsTheCurrentPreferenceButNotADefaultStandingIn) {
    const UUID job = UUID::random();
    const Date old = now - std::chrono::hours(24 * 40);
    setLogDays(90);
    services->log(Stage::completed, job, std::nullopt, old);
    services->log(Stage::completed, job, std::nullopt, now);
    EXPECT_EQ(events().size(), 2u);

    setLogDays(30);
    services->log(Stage::completed, job, std::nullopt, now);
    auto found = events();
    EXPECT_EQ(found.size(), 2u);
    for (const auto& e : found) EXPECT_EQ(e.date, now);

    // A preferences file the store cannot understand at start-up shows the
    // 30-day default; whatever the user chose still holds for the files on
    // disk. (A second root: one persistent website store per folder.)
    const fs::path other = tmp / "other";
    fs::create_directories(other / "settings");
    test::writeFile(other / "settings" / "preferences.json", "{ \"logDays\": 360, ");
    AppServices readOnly(AppRuntime{other, out});
    ASSERT_TRUE(readOnly.settings.readOnly());
    ASSERT_EQ(readOnly.settings.value().logDays, 30);
    readOnly.log(Stage::completed, job, std::nullopt, old);
    readOnly.log(Stage::completed, job, std::nullopt, now);
    EXPECT_EQ(test::listNames(other / "logs").size(), 2u);
}

TEST_F(AppServicesTest, OnlyTheLatestCaptureReportIsKept) {
    WebCaptureDiagnosticReport first, second;
    first.product = "first";
    second.product = "second";
    second.failure = WebCaptureDiagnosticFailure{};
    services->logCapture(first);
    services->logCapture(second);
    EXPECT_EQ(test::listNames(logs), std::vector<std::string>{WebCaptureDiagnostic::latestFileName});
    EXPECT_EQ(JSON::decode<WebCaptureDiagnosticReport>(
                  JSON::parse(test::readFile(logs / WebCaptureDiagnostic::latestFileName))),
              second);
}

TEST_F(AppServicesTest, AKilledWriterLeavesOnlyWholeEvents) {
    const UUID job = UUID::random();
    std::mt19937 random(std::random_device{}());
    std::size_t written = 0;
    for (int round = 0; round < 6; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) services->log(Stage::completed, job, std::nullopt, now);
        }
        // Kill it once it has written a few more events: at a moment of its
        // loop that nothing here chooses.
        const std::size_t target = written + 1 + random() % 8;
        const bool reached = test::spinUntil(
            [&] { return fs::exists(logs) && test::listNames(logs).size() >= target; }, 20s);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(reached);
        EXPECT_TRUE(WIFSIGNALED(status));
        const auto found = events();
        for (const auto& e : found) EXPECT_EQ(e, (SafeEvent{job, Stage::completed, now, std::nullopt, std::nullopt}));
        written = found.size();
    }
    // Whatever the kills left half-done is staging, in work folders of the
    // exports root only.
    for (const auto& name : test::listNames(storage / "work" / "exports")) {
        EXPECT_TRUE(fs::is_directory(storage / "work" / "exports" / name)) << name;
    }
}
