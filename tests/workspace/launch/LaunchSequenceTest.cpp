#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/CaptureMetadata.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/OutputRoots.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureLifecycle.hpp"
#include "history/HistoryFixture.hpp"
#include "workspace/app/LaunchSequence.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using Recovery = CaptureLifecycle::Recovery;

namespace {

// The launch on a temporary storage root with the real clean-up and the real
// history step; each step also writes its name into `calls`, and a step
// named in `failing` throws instead of running.
class LaunchSequenceTest : public test::HistoryFixture {
protected:
    fs::path work = storage / "work";
    fs::path lifecycle = work / "lifecycle";
    SettingsStore settings{storage / "settings"};
    FixedOutputRoots roots{{out}};
    AppHistory::ScopedEnvironment env{{storage, &settings, &roots}};
    std::vector<std::string> calls;
    std::set<std::string> failing;
    std::vector<fs::path> stagingRoots;

    LaunchSequenceTest() { AppHistory::startupNotice().set(AppHistory::initialNotice); }

    LaunchSequence::Steps steps() {
        LaunchSequence::Steps s;
        s.exports = work / "exports";
        s.captures = work / "captures";
        s.printing = work / "printing";
        s.cleanupWork = [this](const fs::path& root) {
            calls.push_back(root.filename().string());
            if (failing.contains(root.filename().string())) raise(ErrorCase::cleanupBlocked);
            OwnedWorkspace::cleanup(root);
        };
        s.recoverHistory = [this] {
            calls.push_back("history");
            return HistoryLaunch::run(lifecycle);
        };
        s.roots = [this] { return stagingRoots; };
        s.cleanupStaging = [this](const fs::path& root) {
            calls.push_back("staging " + root.filename().string());
            if (failing.contains(root.filename().string())) raise(ErrorCase::accessDenied);
        };
        s.openWindows = [this] { calls.push_back("window"); };
        s.fixCloseKey = [this] { calls.push_back("close key"); };
        return s;
    }

    // An attempt that died after recording its whole output.
    void abandonedCapture(const std::string& name) {
        const auto file = output(name);
        CaptureLifecycle life(lifecycle, "capture", CaptureMetadata{"https://example.com/", "例", "PNG", std::nullopt});
        life.expect(1);
        life.prepare(file, FileStamp::read(file));
    }

    // An earlier run's work folder whose owner is gone.
    fs::path leftover(const fs::path& root) {
        OwnedWorkspace w(root, OwnedRecord::Purpose::exportStage, UUID::random(), UUID::random(), UUID::random());
        w.write({1, 2, 3});
        const auto url = w.directory().url();
        w.abandon();
        return url;
    }

    // A cleaned work folder keeps only its bookkeeping (the next launch
    // removes that too); its work files are gone.
    static bool cleaned(const fs::path& folder) {
        for (const auto& name : test::listNames(folder)) {
            if (name.starts_with("work-")) return false;
        }
        return true;
    }

    static const std::string& notice() { return AppHistory::startupNotice().get(); }
};

const std::vector<std::string> wholeChain{"exports", "history", "captures", "printing", "window", "close key"};

}  // namespace

TEST_F(LaunchSequenceTest, TheKeySkipsEveryStep) {
    const auto left = leftover(work / "exports");
    auto s = steps();
    s.skip = [] { return true; };
    stagingRoots = {tmp / "a"};
    LaunchSequence(s).run();
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(cleaned(left));
}

TEST_F(LaunchSequenceTest, CleansRecoversAndOpensTheWindowLast) {
    // Nothing to do at all: the initial notice stays.
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, wholeChain);
    EXPECT_EQ(notice(), AppHistory::initialNotice);

    // Leftovers in all three groups go, and the interrupted capture is in
    // the history, before the window step.
    calls.clear();
    const auto a = leftover(work / "exports"), b = leftover(work / "captures"), c = leftover(work / "printing");
    abandonedCapture("whole.png");
    bool cleanAtWindow = false;
    auto s = steps();
    s.openWindows = [&] {
        calls.push_back("window");
        cleanAtWindow = cleaned(a) && cleaned(b) && cleaned(c) && history()->entries().size() == 1;
    };
    LaunchSequence(s).run();
    EXPECT_EQ(calls, wholeChain);
    EXPECT_TRUE(cleanAtWindow);
    EXPECT_EQ(notice(), AppHistory::recoveredNotice);
}

TEST_F(LaunchSequenceTest, RetainedJournalsOutweighRecoveredOnes) {
    for (int i = 0; i < 5; ++i) abandonedCapture("out" + std::to_string(i) + ".png");
    test::writeFile(lifecycle / "stray-1", "x");
    test::writeFile(lifecycle / "stray-2", "x");
    auto s = steps();
    std::optional<Recovery> counts;
    s.recoverHistory = [&] { return counts = HistoryLaunch::run(lifecycle); };
    LaunchSequence(s).run();
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->recovered, 5);
    EXPECT_EQ(counts->retained, 2);
    EXPECT_EQ(notice(), AppHistory::retainedNotice);
}

TEST_F(LaunchSequenceTest, TheFirstFailureEndsTheChainButNotTheLaunch) {
    // Recovered 3, then the captures clean-up fails: the failure text wins
    // and printing is not cleaned.
    for (int i = 0; i < 3; ++i) abandonedCapture("out" + std::to_string(i) + ".png");
    const auto printingLeft = leftover(work / "printing");
    failing = {"captures"};
    stagingRoots = {tmp / "a"};
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, (std::vector<std::string>{"exports", "history", "captures", "staging a", "window", "close key"}));
    EXPECT_EQ(notice(), AppHistory::recoveryFailedNotice);
    EXPECT_FALSE(cleaned(printingLeft));
    EXPECT_EQ(history()->entries().size(), 3u);

    // A failing exports clean-up skips the history and both later clean-ups.
    calls.clear();
    AppHistory::startupNotice().set(AppHistory::initialNotice);
    failing = {"exports"};
    abandonedCapture("late.png");
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, (std::vector<std::string>{"exports", "staging a", "window", "close key"}));
    EXPECT_EQ(notice(), AppHistory::recoveryFailedNotice);
    EXPECT_EQ(history()->entries().size(), 3u);
    EXPECT_FALSE(cleaned(printingLeft));
}

TEST_F(LaunchSequenceTest, AHistoryThatCannotOpenEndsTheChain) {
    // A history folder that is a link cannot be opened: the journal stays.
    abandonedCapture("kept.png");
    fs::create_directories(tmp / "elsewhere");
    fs::create_symlink(tmp / "elsewhere", historyDir);
    const auto printingLeft = leftover(work / "printing");
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, (std::vector<std::string>{"exports", "history", "window", "close key"}));
    EXPECT_EQ(notice(), AppHistory::recoveryFailedNotice);
    EXPECT_FALSE(cleaned(printingLeft));
    EXPECT_EQ(test::listNames(lifecycle).size(), 1u);
}

TEST_F(LaunchSequenceTest, EveryRootGetsItsStagingCleanupInOrder) {
    stagingRoots = {tmp / "a", tmp / "b", tmp / "c"};
    failing = {"b"};
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, (std::vector<std::string>{"exports", "history", "captures", "printing", "staging a",
                                               "staging b", "staging c", "window", "close key"}));
    EXPECT_EQ(notice(), AppHistory::initialNotice);

    calls.clear();
    stagingRoots.clear();
    LaunchSequence(steps()).run();
    EXPECT_EQ(calls, wholeChain);
}
