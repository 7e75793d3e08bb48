#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <map>
#include <set>

#include "QueueFixtures.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/StateLease.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using Stop = JobControl::Stop;

namespace {

std::vector<InputStatus> statuses(const QueueSnapshot& s) {
    std::vector<InputStatus> out;
    for (const auto& in : s.inputs) out.push_back(in.status);
    return out;
}

std::vector<PageState> pageStates(const QueueInput& in) {
    std::vector<PageState> out;
    for (const auto& r : in.pages) out.push_back(r.state);
    return out;
}

// Moves a file's modification time, as an editor saving it would.
void touch(const fs::path& file) {
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const timeval times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(::utimes(file.c_str(), times), 0);
}

class QueueRun : public ::testing::Test {
protected:
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    test::FakeRecognizer fake;
    std::vector<QueueSnapshot> reports;
    std::function<void(const QueueSnapshot&)> onReport;

    void SetUp() override { WorkerBudget::shared().setBytes(int64_t{1} << 30); }

    std::unique_ptr<OCRQueueEngine> make(const std::vector<fs::path>& files, bool withFolder = true) {
        std::vector<OCRQueueEngine::InputFile> inputs;
        for (const auto& f : files) inputs.push_back({f});
        auto engine = OCRQueueEngine::create(inputs, test::currentSettings(),
                                             withFolder ? std::optional<fs::path>(tmp / "queues") : std::nullopt);
        engine->setRecognizer(fake.bind());
        return engine;
    }

    void run(OCRQueueEngine& engine, JobControl& control, const std::map<UUID, std::string>& passwords = {},
             const OCRQueueEngine::Boundary& boundary = nullptr, bool automatic = false) {
        reports.clear();
        engine.run(control, automatic, passwords, {}, [this](const QueueSnapshot& s) {
            reports.push_back(s);
            if (onReport) onReport(s);
        }, boundary);
    }

    void run(OCRQueueEngine& engine) {
        JobControl control;
        run(engine, control);
    }
};

}  // namespace

TEST_F(QueueRun, RunsEveryInputAndWritesTheQueueAfterEveryPage) {
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    const fs::path pdf = test::writeSamplePDF(tmp / "b.pdf", 2);
    auto engine = make({png, pdf});
    const fs::path folder = engine->directory()->url();
    const QueueSnapshot before = engine->snapshot();

    onReport = [&](const QueueSnapshot& s) {
        // Every report comes after the write it shows, from inside the run,
        // which holds the queue's lease throughout.
        EXPECT_EQ(OCRQueueEngine::inspect(folder), s);
        EXPECT_TRUE(engine->active());
        EXPECT_EQ(caseOf([&] { StateLease(SecureDirectory(folder, false), "queue-lease", true); }),
                  ErrorCase::navigationBusy);
    };
    run(*engine);

    // Start; per input: opened, each page begun and ended, finished; end.
    ASSERT_EQ(reports.size(), 1u + (1 + 2 + 1) + (1 + 4 + 1) + 1);
    EXPECT_EQ(reports[0].status, QueueStatus::running);
    EXPECT_EQ(reports[0].inputs, before.inputs);
    EXPECT_EQ(reports[1].inputs[0].status, InputStatus::running);
    EXPECT_EQ(pageStates(reports[1].inputs[0]), std::vector<PageState>{PageState::pending});
    EXPECT_EQ(pageStates(reports[2].inputs[0]), std::vector<PageState>{PageState::inProgress});
    EXPECT_EQ(pageStates(reports[3].inputs[0]), std::vector<PageState>{PageState::completed});
    EXPECT_EQ(reports[4].inputs[0].status, InputStatus::completed);
    EXPECT_EQ(reports[4].inputs[1].status, InputStatus::pending);
    EXPECT_EQ(pageStates(reports[8].inputs[1]), (std::vector<PageState>{PageState::completed, PageState::inProgress}));
    EXPECT_EQ(reports[10].inputs[1].status, InputStatus::completed);
    EXPECT_EQ(reports[10].status, QueueStatus::running);
    EXPECT_EQ(reports.back().status, QueueStatus::completed);

    const QueueSnapshot after = engine->snapshot();
    EXPECT_EQ(after, reports.back());
    EXPECT_EQ(OCRQueueEngine::inspect(folder), after);
    EXPECT_FALSE(engine->active());
    EXPECT_NO_THROW(StateLease(SecureDirectory(folder, false), "queue-lease", true));
    for (const auto& in : after.inputs) {
        ASSERT_TRUE(in.attemptID && in.source);
        EXPECT_EQ(in.expectedSHA256, in.source->sha256);
        EXPECT_FALSE(in.error);
        EXPECT_TRUE(fs::exists(OCRQueueEngine::jobFolder(folder, *in.attemptID) / "checkpoint.json"));
    }
    EXPECT_EQ(fake.count(), 3u);
    EXPECT_EQ(engine->result(after.inputs[0].id, 1)->text(), test::fakeText(png, 1));
    EXPECT_EQ(engine->result(after.inputs[1].id, 2)->text(), test::fakeText(pdf, 2));

    // Nothing is left to do: the next run writes "running", takes nothing up
    // and ends completed.
    run(*engine);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].status, QueueStatus::running);
    EXPECT_EQ(engine->snapshot().status, QueueStatus::completed);
    EXPECT_EQ(fake.count(), 3u);
}

TEST_F(QueueRun, ALockedPDFWaitsForItsPasswordWhileTheOthersComplete) {
    const fs::path locked =
        test::lockPDF(test::writeWidePDF(tmp / "plain.pdf", 2, 300), tmp / "locked.pdf", "ひらけ-1234");
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    auto engine = make({locked, png});
    const UUID lockedID = engine->snapshot().inputs[0].id;

    JobControl first;
    run(*engine, first, {{lockedID, "違う"}});
    QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::waitingPassword, InputStatus::completed}));
    EXPECT_EQ(s.inputs[0].error, ErrorCase::lockedPDF);
    EXPECT_FALSE(s.inputs[0].source || s.inputs[0].attemptID);
    EXPECT_EQ(s.status, QueueStatus::waitingInput);
    EXPECT_EQ(first.stop(), Stop::none);
    EXPECT_EQ(fake.count(), 1u);

    // After quitting, the password comes with the next run.
    const fs::path folder = engine->directory()->url();
    engine.reset();
    engine = OCRQueueEngine::resume(folder, test::currentSettings());
    engine->setRecognizer(fake.bind());
    JobControl second;
    run(*engine, second, {{lockedID, "ひらけ-1234"}});
    s = engine->snapshot();
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::completed, InputStatus::completed}));
    EXPECT_FALSE(s.inputs[0].error);
    EXPECT_EQ(s.inputs[0].source->pageCount, 2);
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(fake.count(), 3u);  // the image was not recognised again
    EXPECT_EQ(engine->result(lockedID, 2)->text(), test::FakeRecognizer::textFor(test::pageWidth(tmp / "plain.pdf"), 2));
}

TEST_F(QueueRun, AChangedOrMissingFileWaitsForTheUserWhileTheNextInputsRun) {
    const fs::path replaced = test::writeSamplePNG(tmp / "replaced.png");
    const fs::path missing = test::writeSamplePNG(tmp / "missing.png", 40);
    const fs::path touched = test::writeWidePDF(tmp / "touched.pdf", 3, 300);
    const fs::path last = test::writeSamplePDF(tmp / "last.pdf", 1);
    auto engine = make({replaced, missing, touched, last});
    const UUID touchedID = engine->snapshot().inputs[2].id;
    test::writeSamplePNG(replaced, 33);  // other bytes under the same name
    fs::remove(missing);

    JobControl control;
    run(*engine, control, {}, [&](const UUID& id, int64_t page, bool committed) {
        if (id == touchedID && page == 1 && committed) touch(touched);
    });
    const QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::waitingInput, InputStatus::waitingInput,
                                                     InputStatus::waitingInput, InputStatus::completed}));
    EXPECT_EQ(s.inputs[0].error, ErrorCase::sourceChanged);
    EXPECT_EQ(s.inputs[1].error, ErrorCase::sourceMissing);
    // The page after the change found it; what was committed before stays.
    EXPECT_EQ(s.inputs[2].error, ErrorCase::sourceChanged);
    EXPECT_EQ(pageStates(s.inputs[2]), (std::vector<PageState>{PageState::completed, PageState::pending,
                                                               PageState::pending}));
    EXPECT_TRUE(s.inputs[0].pages.empty() && !s.inputs[0].attemptID);
    EXPECT_EQ(s.status, QueueStatus::waitingInput);
    EXPECT_EQ(control.stop(), Stop::none);
    EXPECT_EQ(fake.count(), 2u);

    // Each input is tried once per run; the next run tries the waiting ones
    // again and, the touched file's content being the same, finishes it.
    fs::remove(replaced);
    run(*engine);
    const QueueSnapshot again = engine->snapshot();
    EXPECT_EQ(statuses(again), (std::vector<InputStatus>{InputStatus::waitingInput, InputStatus::waitingInput,
                                                         InputStatus::completed, InputStatus::completed}));
    EXPECT_EQ(again.inputs[0].error, ErrorCase::sourceMissing);
    EXPECT_EQ(fake.count(), 4u);
}

TEST_F(QueueRun, AFileGoneAfterItsLastPageWaitsForTheUserWithEveryPageKept) {
    const fs::path doc = test::writeSamplePDF(tmp / "three.pdf", 3);
    auto engine = make({doc});
    JobControl control;
    run(*engine, control, {}, [&](const UUID&, int64_t page, bool committed) {
        if (page == 3 && committed) fs::remove(doc);
    });
    const QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(statuses(s), std::vector<InputStatus>{InputStatus::waitingInput});
    EXPECT_EQ(s.inputs[0].error, ErrorCase::sourceMissing);
    EXPECT_EQ(pageStates(s.inputs[0]),
              (std::vector<PageState>{PageState::completed, PageState::completed, PageState::completed}));
}

TEST_F(QueueRun, AStopBeforeTheRunLeavesEveryInputAsItWas) {
    for (Stop stop : {Stop::pause, Stop::cancel}) {
        auto engine = make({test::writeSamplePNG(tmp / "a.png"), test::writeSamplePDF(tmp / "b.pdf", 2)});
        const QueueSnapshot before = engine->snapshot();
        JobControl control;
        control.request(stop);
        run(*engine, control);
        const QueueSnapshot after = engine->snapshot();
        EXPECT_EQ(after.inputs, before.inputs);
        EXPECT_EQ(after.status, stop == Stop::pause ? QueueStatus::paused : QueueStatus::cancelled);
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].status, QueueStatus::running);
        EXPECT_FALSE(fs::exists(engine->directory()->url() / "jobs"));
    }
    EXPECT_EQ(fake.count(), 0u);
}

TEST_F(QueueRun, APauseKeepsCommittedPagesAndTheNextRunAfterQuittingDoesOnlyTheRest) {
    const fs::path pdf = test::writeWidePDF(tmp / "four.pdf", 4, 300);
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    auto engine = make({pdf, png});
    const fs::path folder = engine->directory()->url();
    const UUID pdfID = engine->snapshot().inputs[0].id;

    JobControl control;
    run(*engine, control, {}, [&](const UUID&, int64_t page, bool committed) {
        if (page == 2 && committed) control.request(Stop::pause);
    });
    QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(s.status, QueueStatus::paused);
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::pending, InputStatus::pending}));
    EXPECT_EQ(pageStates(s.inputs[0]), (std::vector<PageState>{PageState::completed, PageState::completed,
                                                               PageState::pending, PageState::pending}));
    EXPECT_TRUE(s.inputs[1].pages.empty());
    EXPECT_EQ(engine->text(pdfID, TXTOptions(true, false)),
              test::fakeText(pdf, 1) + "\n\n" + test::fakeText(pdf, 2) + "\n\n[途中結果：未処理]\n\n[途中結果：未処理]");

    engine.reset();
    engine = OCRQueueEngine::resume(folder, test::currentSettings());
    engine->setRecognizer(fake.bind());
    EXPECT_EQ(engine->snapshot().status, QueueStatus::paused);
    run(*engine);
    s = engine->snapshot();
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::completed, InputStatus::completed}));
    const int w = test::pageWidth(pdf);
    const std::vector<std::pair<int, int64_t>> expected{{w, 1}, {w, 2}, {w, 3}, {w, 4}, {24, 1}};
    EXPECT_EQ(fake.calls, expected);
    for (int64_t page = 1; page <= 4; ++page) EXPECT_EQ(engine->result(pdfID, page)->text(), test::fakeText(pdf, page));
}

TEST_F(QueueRun, OneRunAtATimeAndNoneWhileAnotherProcessHoldsTheQueue) {
    auto engine = make({test::writeSamplePNG(tmp / "a.png")});
    const fs::path folder = engine->directory()->url();
    std::vector<ErrorCase> refused;
    onReport = [&](const QueueSnapshot&) {
        JobControl other;
        refused.push_back(caseOf([&] { engine->run(other, false, {}, {}, [](const QueueSnapshot&) {}); }));
        refused.push_back(caseOf([&] { engine->exportTo(tmp / "out"); }));
    };
    run(*engine);
    onReport = nullptr;
    EXPECT_EQ(refused.size(), 2 * reports.size());
    for (ErrorCase e : refused) EXPECT_EQ(e, ErrorCase::navigationBusy);
    EXPECT_FALSE(fs::exists(tmp / "out"));
    EXPECT_EQ(fake.count(), 1u);

    auto second = make({test::writeSamplePNG(tmp / "b.png")});
    const fs::path secondFolder = second->directory()->url();
    const auto bytes = test::readFile(secondFolder / "queue.json");
    test::HeldChild holder([&] { static StateLease held(SecureDirectory(secondFolder, false), "queue-lease", true); });
    ASSERT_TRUE(holder.setupSucceeded());
    EXPECT_EQ(caseOf([&] { run(*second); }), ErrorCase::navigationBusy);
    EXPECT_EQ(second->snapshot().status, QueueStatus::ready);
    EXPECT_EQ(test::readFile(secondFolder / "queue.json"), bytes);
    EXPECT_TRUE(reports.empty());
    holder.stop();
    run(*second);
    EXPECT_EQ(second->snapshot().status, QueueStatus::completed);
}

TEST_F(QueueRun, AQueueWriteThatFailsIsRecordedOrEndsTheRunPausedAndIdle) {
    const fs::path pdf = test::writeSamplePDF(tmp / "b.pdf", 3);
    const fs::path png = test::writeSamplePNG(tmp / "a.png");

    // Changed behind the engine before the run: nothing starts.
    {
        auto engine = make({pdf, png});
        const fs::path file = engine->directory()->url() / "queue.json";
        test::writeFile(file, test::readFile(file) + " ");
        EXPECT_EQ(caseOf([&] { run(*engine); }), ErrorCase::confirmationChanged);
        EXPECT_EQ(engine->snapshot().status, QueueStatus::ready);
        EXPECT_FALSE(engine->active());
        EXPECT_TRUE(reports.empty());
    }
    // One write after a page fails: the input records it, the queue pauses.
    {
        auto engine = make({pdf, png});
        const fs::path file = engine->directory()->url() / "queue.json";
        std::string kept;
        onReport = [&](const QueueSnapshot&) {
            if (kept.empty()) return;
            test::writeFile(file, kept);
            kept.clear();
        };
        JobControl control;
        run(*engine, control, {}, [&](const UUID&, int64_t page, bool committed) {
            if (page == 1 && committed) {
                kept = test::readFile(file);
                test::writeFile(file, kept + " ");
            }
        });
        const QueueSnapshot s = engine->snapshot();
        EXPECT_EQ(s.inputs[0].error, ErrorCase::confirmationChanged);
        EXPECT_EQ(s.inputs[0].status, InputStatus::failed);
        EXPECT_EQ(pageStates(s.inputs[0]), (std::vector<PageState>{PageState::completed, PageState::pending,
                                                                   PageState::pending}));
        EXPECT_EQ(s.inputs[1].status, InputStatus::pending);
        EXPECT_EQ(s.status, QueueStatus::paused);
        EXPECT_EQ(control.stop(), Stop::pause);
        EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()), s);
        onReport = nullptr;
    }
    // Every later write fails too: the run ends with the error, and the
    // queue is left paused and idle, so it can be exported and run again.
    {
        auto engine = make({pdf, png});
        const fs::path file = engine->directory()->url() / "queue.json";
        JobControl control;
        const OCRQueueEngine::Boundary spoil = [&](const UUID&, int64_t page, bool committed) {
            if (page == 1 && committed) test::writeFile(file, test::readFile(file) + " ");
        };
        EXPECT_EQ(caseOf([&] { run(*engine, control, {}, spoil); }), ErrorCase::confirmationChanged);
        const QueueSnapshot s = engine->snapshot();
        EXPECT_EQ(s.status, QueueStatus::paused);
        EXPECT_EQ(s.inputs[0].status, InputStatus::failed);
        EXPECT_FALSE(engine->active());
        EXPECT_NO_THROW(StateLease(SecureDirectory(file.parent_path(), false), "queue-lease", true));
        EXPECT_EQ(engine->exportTo(tmp / "out").size(), 1u);
        EXPECT_EQ(caseOf([&] { run(*engine); }), ErrorCase::confirmationChanged);
    }
    // The caller's own callback failing ends the run the same way; it is no
    // failure of the input in hand.
    {
        auto engine = make({pdf, png});
        onReport = [&](const QueueSnapshot& s) {
            if (s.inputs[0].pages.size() == 3 && s.inputs[0].pages[0].state == PageState::inProgress) {
                throw std::runtime_error("the window went away");
            }
        };
        EXPECT_THROW(run(*engine), std::runtime_error);
        const QueueSnapshot s = engine->snapshot();
        EXPECT_EQ(s.status, QueueStatus::paused);
        EXPECT_EQ(s.inputs[0].status, InputStatus::running);
        EXPECT_FALSE(s.inputs[0].error);
        EXPECT_FALSE(engine->active());
        onReport = nullptr;
    }
}

TEST_F(QueueRun, AMemoryQueueOverItsLimitPausesWithTheInputWaiting) {
    fake.padding = std::string(40 << 20, 'x');
    const fs::path pdf = test::writeSamplePDF(tmp / "b.pdf", 2);
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    auto engine = make({pdf, png}, false);
    EXPECT_FALSE(engine->directory());
    JobControl control;
    run(*engine, control);
    const QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(s.inputs[0].error, ErrorCase::budgetExceeded);
    EXPECT_EQ(s.inputs[0].status, InputStatus::waitingInput);
    EXPECT_EQ(pageStates(s.inputs[0]), (std::vector<PageState>{PageState::completed, PageState::pending}));
    EXPECT_EQ(s.inputs[1].status, InputStatus::pending);
    EXPECT_EQ(s.status, QueueStatus::paused);
    EXPECT_EQ(control.stop(), Stop::pause);
    // The committed page lives on in memory only.
    EXPECT_TRUE(engine->result(s.inputs[0].id, 1)->text() == test::fakeText(pdf, 1) + fake.padding);
    EXPECT_FALSE(fs::exists(tmp / "queues"));
}

TEST_F(QueueRun, ASourceImageTooLargeToLoadFailsWithoutHoldingUpTheQueue) {
    // On a machine of 1 GiB the load limit is its floor, which a picture of
    // 4000 × 4000 pixels is over.
    const CaptureBudget::ScopedPhysicalMemory small(uint64_t{1} << 30);
    const fs::path huge = tmp / "huge.png";
    test::writePNG(huge, 4000, 4000, 3, [](int, uint8_t* row) { std::fill(row, row + 12000, 200); });
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    auto engine = make({huge, png}, false);
    JobControl control;
    run(*engine, control);
    const QueueSnapshot s = engine->snapshot();
    EXPECT_EQ(s.inputs[0].error, ErrorCase::budgetExceeded);
    EXPECT_EQ(statuses(s), (std::vector<InputStatus>{InputStatus::failed, InputStatus::completed}));
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(control.stop(), Stop::none);
    EXPECT_EQ(engine->text(s.inputs[0].id), "[途中結果：失敗]");
    EXPECT_EQ(engine->text(s.inputs[1].id), "--- ページ 1 ---\n" + test::fakeText(png, 1));
}
