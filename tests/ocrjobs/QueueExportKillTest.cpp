#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <string>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr int keyCount = 12;
constexpr const char* stem = "OCR-combined";

std::string keyOf(int i) { return "key-" + std::to_string(i); }

std::vector<uint8_t> dataOf(int i) {
    const std::string text = "第" + std::to_string(i) + "の本文\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Publishes every key once, reporting each as it returns.
void publishAll(const fs::path& folder, const fs::path& out, int reportFD) {
    auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
    for (int i = 0; i < keyCount; ++i) {
        engine->exportOnce(keyOf(i), dataOf(i), out, stem);
        if (reportFD >= 0) test::report(reportFD, int32_t{i});
    }
}

}  // namespace

// A process publishing under many keys is killed at random moments: within
// a journal write, between it and the link, after the link. A fresh engine
// then finishes every key, and each key has exactly one published file,
// the one its complete record names; the user's file that holds the first
// name is never touched.
TEST(QueueExportKill, EveryKeyEndsWithExactlyOneFileWhereverTheWriterDied) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    int kills = 0;
    for (int round = 0; kills < 20 && round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        test::TempDir tmp(true);
        AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
        const fs::path out = tmp / "out";
        fs::create_directories(out);
        test::writeFile(out / (std::string(stem) + ".txt"), "利用者のファイル");
        const fs::path folder = OCRQueueEngine::create({{test::writeSamplePNG(tmp / "a.png")}},
                                                       test::currentSettings(), tmp / "queues")
                                    ->directory()
                                    ->url();

        test::KilledWorker worker([&](int reportFD) { publishAll(folder, out, reportFD); });
        const int wanted = static_cast<int>(rng() % keyCount);
        int32_t done = 0;
        for (int i = 0; i < wanted && worker.read(done); ++i) {
        }
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        const int status = worker.kill<int32_t>([](int32_t) {});
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the writer failed with " << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ++kills;

        ASSERT_NO_THROW(publishAll(folder, out, -1));
        const QueueSnapshot s = OCRQueueEngine::inspect(folder);
        ASSERT_TRUE(s.exportJournal);
        std::map<std::string, int> filesWith;
        for (const auto& name : test::listNames(out)) filesWith[test::readFile(out / name)] += 1;
        for (int i = 0; i < keyCount; ++i) {
            const QueueExportRecord& record = s.exportJournal->at(keyOf(i));
            const auto data = dataOf(i);
            const std::string text(data.begin(), data.end());
            EXPECT_TRUE(record.complete) << keyOf(i);
            EXPECT_EQ(test::readFile(record.path), text) << keyOf(i);
            EXPECT_EQ(filesWith[text], 1) << keyOf(i);
        }
        EXPECT_EQ(test::readFile(out / (std::string(stem) + ".txt")), "利用者のファイル");
        EXPECT_EQ(test::listNames(out).size(), static_cast<std::size_t>(keyCount) + 1);
    }
    EXPECT_EQ(kills, 20);
}
