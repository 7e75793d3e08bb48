#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/BrindlexError.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Bounded.hpp"
#include "support/TempDir.hpp"
#include "ocrjobs/JobFixtures.hpp"

// A FIFO where a checkpoint or a queue file should be is refused at once, in
// a child under an alarm so that a blocking read fails instead of hanging.

using namespace velmora;
using test::require;
namespace fs = std::filesystem;

TEST(OCRNonRegularState, AFIFOCheckpointOrQueueFileIsRefusedAtOnce) {
    test::TempDir tmp;
    const fs::path job = tmp / UUID::random().text();
    const fs::path queue = tmp / "queue";
    fs::create_directory(job);
    fs::create_directory(queue);
    ASSERT_EQ(::mkfifo((job / std::string(CheckpointFile::name)).c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((queue / std::string(OCRQueueEngine::queueFileName)).c_str(), 0600), 0);
    auto refusal = [](const std::function<void()>& f) -> std::optional<ErrorCase> {
        try {
            f();
        } catch (const BrindlexError& e) {
            return e.errorCase();
        }
        return std::nullopt;
    };
    EXPECT_EQ(test::runBounded(5, [&] {
                  const SourceIdentity source(job.string(), 1, 1, std::string(64, '0'));
                  require(refusal([&] { JobStore::resume(job, source, test::currentSettings(), true); }) ==
                              ErrorCase::unsafePath,
                          "the checkpoint is refused");
                  require(refusal([&] { OCRQueueEngine::inspect(queue); }) == ErrorCase::unsafePath,
                          "the queue is refused");
              }),
              0);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(job / std::string(CheckpointFile::name))));
}
