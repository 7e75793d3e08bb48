#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/BrindlexError.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/Bounded.hpp"
#include "support/TempDir.hpp"

// A FIFO where the history or a publication journal should be is refused at
// once, each in a child under an alarm so that a blocking read fails the test
// instead of hanging it.

using namespace velmora;
using test::require;
namespace fs = std::filesystem;

TEST(HistoryNonRegularState, AFIFOHistoryIsAnErrorAndAFIFOJournalIsRetained) {
    test::TempDir tmp;
    const fs::path historyDir = tmp / "history";
    fs::create_directory(historyDir);
    ASSERT_EQ(::mkfifo((historyDir / CaptureHistory::fileName).c_str(), 0600), 0);
    const fs::path lifecycle = tmp / "lifecycle";
    const fs::path attempt = lifecycle / UUID::random().text();
    fs::create_directories(attempt);
    test::writeFile(attempt / CaptureLifecycle::leaseName, "");
    ASSERT_EQ(::mkfifo((attempt / CaptureLifecycle::journalName).c_str(), 0600), 0);

    EXPECT_EQ(test::runBounded(5, [&] {
                  CaptureHistory history(historyDir, {tmp / "outputs"});
                  bool refused = false;
                  try {
                      history.entries();
                  } catch (const BrindlexError& e) {
                      refused = e.errorCase() == ErrorCase::unsafePath;
                  }
                  require(refused, "reading the history is unsafePath");
                  CaptureLifecycle::Recovery expected;
                  expected.retained = 1;
                  require(CaptureLifecycle::recover(lifecycle, history) == expected, "the journal is retained");
              }),
              0);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(historyDir / CaptureHistory::fileName)));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(attempt / CaptureLifecycle::journalName)));
}
