// An editor's store is on disk when the call returns: a process killed at
// any moment after it keeps the edit.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/KilledWorker.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::textRecord;
namespace fs = std::filesystem;

namespace {

// "edit <n>" back to n.
int32_t editNumber(const std::string& text) { return std::stoi(text.substr(5)); }

}  // namespace

// A process storing page edits one after another, as a user leaving page
// after page, is killed at a random moment after a store has returned,
// twenty times over. Every reopening finds, on every page, the last edit the
// process reported stored there, or a later one.
TEST(QueueEditDurability, AStoreThatReturnedSurvivesAKillAtAnyMomentAfterIt) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    WorkerBudget::shared().setBytes(int64_t{1} << 30);
    test::TempDir tmp(true);
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    constexpr int64_t pages = 3;
    test::FakeRecognizer fake;
    const fs::path folder = [&] {
        auto engine = OCRQueueEngine::create({{test::writeSamplePDF(tmp / "d.pdf", pages)}}, test::currentSettings(),
                                             tmp / "queues");
        engine->setRecognizer(fake.bind());
        JobControl control;
        engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
        EXPECT_EQ(engine->snapshot().status, QueueStatus::completed);
        return engine->directory()->url();
    }();
    const UUID id = OCRQueueEngine::inspect(folder).inputs[0].id;

    int32_t next = 1;
    int kills = 0;
    for (int attempt = 0; kills < 20 && attempt < 60; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const int32_t first = next;
        test::KilledWorker worker([&](int reportFD) {
            auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
            for (int32_t k = first; k < first + 100000; ++k) {
                engine->stageEditor(textRecord(id, 1 + k % pages, "edit " + std::to_string(k), true));
                test::report(reportFD, k);
            }
        });
        std::map<int64_t, int32_t> reported;
        int32_t value = 0;
        const int wanted = 1 + static_cast<int>(rng() % 20);
        for (int i = 0; i < wanted && worker.read(value); ++i) reported[1 + value % pages] = value;
        // Anywhere from at once to well past the next store.
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        const int status = worker.kill<int32_t>([&](int32_t k) { reported[1 + k % pages] = k; });
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "the writer failed: " << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ++kills;

        const QueueSnapshot s = OCRQueueEngine::inspect(folder);
        int32_t highest = next - 1;
        for (const auto& [page, k] : reported) {
            const auto found = s.inputs[0].editedPages.find(page);
            ASSERT_NE(found, s.inputs[0].editedPages.end()) << "page " << page << " lost edit " << k;
            const int32_t stored = editNumber(found->second);
            EXPECT_GE(stored, k) << "page " << page << " holds an edit older than the one stored";
            highest = std::max(highest, stored);
        }
        next = highest + 1;
        // The reopened queue is the same queue again, and what it holds is
        // what every reader sees.
        std::unique_ptr<OCRQueueEngine> reopened;
        ASSERT_NO_THROW(reopened = OCRQueueEngine::resume(folder, test::currentSettings()));
        EXPECT_EQ(reopened->snapshot().inputs[0].editedPages, s.inputs[0].editedPages);
    }
    EXPECT_EQ(kills, 20);
}
