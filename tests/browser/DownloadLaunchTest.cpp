// Downloads in child processes of their own, while this process serves the
// bytes: one killed mid-transfer, whose stage the next launch's sweep
// empties, and one whose destination fills up.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "BrowserFixture.hpp"
#include "ChildLaunch.hpp"
#include "capture/DownloadStage.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::joined;
using test::spinUntil;
namespace fs = std::filesystem;

namespace {

std::string lineAfter(const test::ChildLaunch& child, const std::string& prefix) {
    for (const auto& l : child.lines())
        if (l.starts_with(prefix)) return l.substr(prefix.size());
    return "";
}

}  // namespace

TEST(DownloadLaunches, AProcessKilledMidTransferLeavesAStageTheNextSweepEmpties) {
    test::TempDir dir;
    const fs::path destination = dir / "保存先";
    fs::create_directories(destination);
    test::WebTestServer server;
    server.stream("/slow", {.length = int64_t{1} << 30, .chunk = 16384, .interval = 50ms,
                            .headers = {{"Content-Disposition", "attachment; filename=slow.bin"}}});

    test::ChildLaunch child({VELMORA_DOWNLOAD_CHILD, (dir / "storage").string(), destination.string(),
                             server.url("/slow")});
    ASSERT_TRUE(child.waitFor("receiving:", 300s)) << joined(child.lines());
    const fs::path stage = lineAfter(child, "receiving:");
    ASSERT_TRUE(spinUntil([&] { return fs::exists(stage / DownloadStage::partialName); }, 60s));
    // The whole session dies at once (the web engine's processes too, which
    // would otherwise delete their file on the way out): the server sees the
    // connection close, after which nothing writes into the stage.
    child.killGroup();
    ASSERT_TRUE(spinUntil([&] { return server.streamsEnded("/slow") == 1; }, 300s));

    EXPECT_EQ(DownloadStage::cleanup(destination), (CleanupResult{1, 1, 0, 0}));
    EXPECT_EQ(test::listNames(destination), std::vector<std::string>{});
    EXPECT_EQ(DownloadStage::cleanup(destination), (CleanupResult{0, 0, 0, 0}));
}

TEST(DownloadLaunches, AFullDestinationFailsWithNothingPublishedAndTheStageEmptied) {
    test::TempDir dir;
    const fs::path destination = dir / "小さな保存先";
    fs::create_directories(destination);
    test::WebTestServer server;
    server.stream("/four", {.length = 4 << 20, .headers = {{"Content-Disposition", "attachment; filename=four.bin"}}});

    test::ChildLaunch child({VELMORA_DOWNLOAD_CHILD, (dir / "storage").string(), destination.string(),
                             server.url("/four"), "tmpfs"});
    ASSERT_TRUE(child.waitFor("done", 300s) || child.has("refused:")) << joined(child.lines());
    if (child.has("refused:")) GTEST_SKIP() << "no mount namespace here: " << lineAfter(child, "refused:");
    EXPECT_EQ(lineAfter(child, "state:"), "保存できませんでした") << joined(child.lines());
    EXPECT_EQ(lineAfter(child, "destination:"), "") << joined(child.lines());
    EXPECT_EQ(lineAfter(child, "stage:"), "") << joined(child.lines());
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(test::listNames(destination), std::vector<std::string>{}) << "the tmpfs was the child's alone";
}
