#include <gtest/gtest.h>

#include <memory>

#include "capture/DownloadStage.hpp"
#include "workspace/WorkspaceFixture.hpp"
#include "workspace/app/LaunchSequence.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class LaunchStagingTest : public test::WorkspaceFixture {};

// A stage whose download died with its process.
fs::path abandonedStage(const fs::path& destination) {
    auto stage = std::make_unique<DownloadStage>(destination, UUID::random());
    test::writeFile(stage->payload(), "partial");
    return stage->payload();
}

}  // namespace

// The application's staging step empties the stages of every approved
// folder, and of no other folder.
TEST_F(LaunchStagingTest, TheApplicationsStepSweepsEveryApprovedFolder) {
    fs::create_directories(tmp / "approved-a");
    fs::create_directories(tmp / "approved-b");
    fs::create_directories(tmp / "elsewhere");
    services->access.approve(tmp / "approved-a");
    services->access.approve(tmp / "approved-b");
    abandonedStage(tmp / "approved-a");
    abandonedStage(tmp / "approved-b");
    const fs::path other = abandonedStage(tmp / "elsewhere");

    const LaunchSequence::Steps steps = LaunchSequence::real(*services);
    ASSERT_TRUE(steps.roots && steps.cleanupStaging);
    const auto roots = steps.roots();
    EXPECT_EQ(roots, (std::vector<fs::path>{tmp / "approved-a", tmp / "approved-b"}));
    for (const auto& root : roots) steps.cleanupStaging(root);
    // Nothing is left of the approved folders' stages, not even the root.
    EXPECT_FALSE(fs::exists(tmp / "approved-a" / DownloadStage::rootName));
    EXPECT_FALSE(fs::exists(tmp / "approved-b" / DownloadStage::rootName));
    EXPECT_TRUE(fs::exists(other));
}
