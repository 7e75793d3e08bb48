#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "PortFakes.hpp"
#include "RunFixtures.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"
#include "support/KilledWorker.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* checkingSentence = "原稿と再開情報を確認しています…";
constexpr const char* recoveredSentence = "再開情報を読み込みました。開始するまでOCRは動きません。";
constexpr const char* rejectedSentence =
    "再開条件を確認できません。旧結果を保持しています。原稿を選び直すか新しい試行を選んでください。";

class Recovery : public ::testing::Test, protected test::RunRoots {
protected:
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    int busyChanges = 0;

    std::shared_ptr<QueueController> recoverer(QueuePorts ports = test::fakeRecognition()) {
        ports.confirmer = confirmer;
        auto c = controller(ports);
        c->busyChanged.connect([this] { ++busyChanges; });
        return c;
    }

    // A queue folder of a 3-page and a 2-page document left by a run that
    // stopped after the first page of the second, with page 2 of the first
    // edited: what a quit in the middle of a run leaves.
    fs::path interrupted(const OCRSettings& settings, std::vector<fs::path> files = {}) {
        if (files.empty()) {
            files = {test::writeDocument(tmp / "first.pdf", 3), test::writeDocument(tmp / "second.pdf", 2)};
        }
        std::vector<OCRQueueEngine::InputFile> inputs;
        for (const auto& f : files) inputs.push_back({f});
        auto engine = OCRQueueEngine::create(inputs, settings, AppRuntime::current().storage / "queues");
        test::fakeRecognition().configure(*engine);
        JobControl control;
        const UUID second = engine->snapshot().inputs.back().id;
        engine->run(control, false, {}, {}, [&](const QueueSnapshot& s) {
            const QueueInput* in = s.input(second);
            if (in && std::any_of(in->pages.begin(), in->pages.end(),
                                  [](const PageRecord& r) { return r.state == PageState::completed; })) {
                control.request(JobControl::Stop::pause);
            }
        });
        engine->edit(engine->snapshot().inputs[0].id, 2, "直した本文");
        return engine->directory()->url();
    }

    static void recover(QueueController& c) {
        test::runTask(c.loadRecovery(), 20s);
        EXPECT_FALSE(c.importing.get());
    }
};

}  // namespace

TEST_F(Recovery, AQueueComesBackWithItsOwnModeAndNothingRuns) {
    OCRSettings stored = QueueController::withMode(OCRSettings(), OCRMode::handwriting);
    stored.languageCorrection = false;
    const fs::path folder = interrupted(stored);
    auto c = recoverer();
    ASSERT_EQ(c->recognitionMode.get(), OCRMode::standard);
    ASSERT_TRUE(c->languageCorrection.get());
    c->selectedSaved = folder;

    std::vector<std::string> statuses{c->status.get()};
    c->changed.connect([&] {
        if (statuses.back() != c->status.get()) statuses.push_back(c->status.get());
    });
    recover(*c);
    ASSERT_FALSE(c->rejection->has_value()) << BrindlexError::rawValue(c->rejection->value().reason);
    EXPECT_EQ(statuses, (std::vector<std::string>{QueueController::initialStatus, checkingSentence, recoveredSentence}));
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::handwriting);
    EXPECT_FALSE(c->languageCorrection.get());
    EXPECT_EQ(c->currentSettings(), stored);
    EXPECT_EQ(c->engine->snapshot().settings.engineVersion, AnnotationOCR::version);
    EXPECT_TRUE(c->managedQueue.get());
    EXPECT_TRUE(c->processingList.get());
    EXPECT_EQ(busyChanges, 0);
    EXPECT_FALSE(c->busy.get());

    const QueueSnapshot& s = c->snapshot->value();
    EXPECT_EQ(s.status, QueueStatus::paused);
    EXPECT_EQ(c->selectedID.get(), s.inputs[0].id);
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_EQ(c->original.get(), test::fixedText(1));
    EXPECT_EQ(c->snapshot->value().inputs[0].editedPages.at(2), "直した本文");

    // The switches describe the queue now, so it runs to its end as it is.
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), "完了");
    EXPECT_EQ(c->counts().success, 5);
}

TEST_F(Recovery, AQueueBroughtBackPartWayGoesOnFromThereAsTheMainAction) {
    const fs::path folder = interrupted(OCRSettings());
    auto c = recoverer();
    c->selectedSaved = folder;
    recover(*c);
    ASSERT_FALSE(c->rejection->has_value());
    ASSERT_EQ(c->counts().success, 4);
    EXPECT_TRUE(c->resumable());
    const std::shared_ptr<OCRQueueEngine> recovered = c->engine;

    // The pane's run button goes on: nothing is asked, no new trial is made.
    test::runTask(c->startProduct());
    EXPECT_TRUE(confirmer->asked.empty());
    EXPECT_EQ(c->engine, recovered);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    EXPECT_EQ(c->status.get(), "完了");
    EXPECT_EQ(c->counts().success, 5);
    EXPECT_EQ(c->snapshot->value().inputs[0].editedPages.at(2), "直した本文");
    // Finished, it is run again as a new trial, as before.
    EXPECT_FALSE(c->resumable());

    // Neither a queue never started nor a cancelled one goes on.
    auto fresh = recoverer();
    openQueue(*fresh, {{test::writeDocument(tmp / "fresh.pdf", 2)}}, fresh->currentSettings(), false);
    EXPECT_FALSE(fresh->resumable());
    auto stopped = recoverer();
    openQueue(*stopped, {{test::writeDocument(tmp / "stopped.pdf", 2)}}, stopped->currentSettings(), true);
    stopped->snapshot.update([](std::optional<QueueSnapshot>& s) {
        s->status = QueueStatus::cancelled;
        s->inputs[0].pages[1].state = PageState::cancelled;
    });
    EXPECT_FALSE(stopped->resumable());
}

TEST_F(Recovery, TheQueueReopensOnThePageShownEvenAfterACrash) {
    const fs::path folder = interrupted(OCRSettings());
    auto c = recoverer();
    c->selectedSaved = folder;
    recover(*c);
    ASSERT_FALSE(c->rejection->has_value());
    const UUID first = c->snapshot->value().inputs[0].id;
    const UUID second = c->snapshot->value().inputs[1].id;
    // Only looked at, nothing edited: what is on disk the moment the page
    // shows is what a killed process leaves.
    ASSERT_TRUE(c->goPage(3, std::nullopt));
    QueueSnapshot stored = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(stored.selectedInput, first);
    EXPECT_EQ(stored.selectedPage, 3);
    ASSERT_TRUE(c->goPage(2, second));
    stored = OCRQueueEngine::inspect(folder);
    EXPECT_EQ(stored.selectedInput, second);
    EXPECT_EQ(stored.selectedPage, 2);
    // The edit of the page left is kept as before.
    EXPECT_EQ(stored.inputs[0].editedPages.at(2), "直した本文");

    // Opened again, the queue shows that page.
    c.reset();
    auto again = recoverer();
    again->selectedSaved = folder;
    recover(*again);
    ASSERT_FALSE(again->rejection->has_value());
    EXPECT_EQ(again->selectedID.get(), second);
    EXPECT_EQ(again->page.get(), 2);
}

TEST_F(Recovery, AQueueThatCannotBeCheckedIsARejection) {
    auto c = recoverer();
    // No readable queue file: no candidate.
    const fs::path unreadable = c->parent / UUID::random().text();
    fs::create_directories(unreadable);
    test::writeFile(unreadable / "queue.json", "{\"schemaVersion\": 3,");
    c->selectedSaved = unreadable;
    recover(*c);
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_FALSE(c->rejection->value().candidate.has_value());
    EXPECT_EQ(c->rejection->value().url, unreadable);
    EXPECT_FALSE(c->rejection->value().canRestoreSettings);
    EXPECT_FALSE(c->rejection->value().replacementInputs.has_value());
    EXPECT_EQ(c->status.get(), rejectedSentence);
    EXPECT_EQ(c->engine, nullptr);

    // A changed original.
    const fs::path folder = interrupted(c->currentSettings());
    test::writeDocument(tmp / "first.pdf", 4);
    c->selectedSaved = folder;
    recover(*c);
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->rejection->value().reason, ErrorCase::sourceChanged);
    ASSERT_TRUE(c->rejection->value().candidate.has_value());
    EXPECT_EQ(c->rejection->value().candidate->inputs.size(), 2u);
    EXPECT_EQ(c->status.get(), rejectedSentence);
    EXPECT_EQ(c->engine, nullptr);

    // A missing one.
    fs::remove(tmp / "first.pdf");
    recover(*c);
    ASSERT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->rejection->value().reason, ErrorCase::sourceMissing);
    EXPECT_EQ(busyChanges, 0);
}

TEST_F(Recovery, ARefusedRecoveryIsAnsweredWithANewTrialOfItsOriginals) {
    const fs::path folder = interrupted(OCRSettings());
    test::writeDocument(tmp / "second.pdf", 1);
    auto c = recoverer();
    c->selectedSaved = folder;
    recover(*c);
    ASSERT_TRUE(c->rejection->has_value());
    ASSERT_EQ(c->rejection->value().reason, ErrorCase::sourceChanged);

    test::runTask(c->restartRejected());
    ASSERT_TRUE(c->engine);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    EXPECT_FALSE(c->rejection->has_value());
    const QueueSnapshot s = c->engine->snapshot();
    EXPECT_NE(c->parent / s.id.text(), folder);
    EXPECT_EQ(s.status, QueueStatus::completed);
    EXPECT_EQ(c->counts().success, 4);
    // The interrupted queue stays as it was left.
    EXPECT_EQ(OCRQueueEngine::inspect(folder).inputs[0].editedPages.at(2), "直した本文");
}

TEST_F(Recovery, ARecoveryOvertakenByALaterStepLeavesThatStepsState) {
    const fs::path folder = interrupted(OCRSettings());
    auto c = recoverer();
    c->selectedSaved = folder;

    // "再開を取消" while the originals are checked.
    auto out = std::make_shared<test::Outcome<void>>();
    spawn(test::collect(c->loadRecovery(), out));
    ASSERT_TRUE(test::spinUntil([&] { return c->status.get() == checkingSentence; }));
    ASSERT_TRUE(c->importing.get());
    c->closeRejection();
    ASSERT_TRUE(test::spinUntil([&] { return out->finished; }, 20s));
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->status.get(), "再開を取消しました。新しい処理は開始していません。");
    EXPECT_EQ(c->engine, nullptr);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_FALSE(c->snapshot->has_value());

    // Originals handed over by the window while the check runs.
    out = std::make_shared<test::Outcome<void>>();
    spawn(test::collect(c->loadRecovery(), out));
    ASSERT_TRUE(test::spinUntil([&] { return c->status.get() == checkingSentence; }));
    const fs::path handed = test::writeDocument(tmp / "handed.pdf", 1);
    c->select({handed}, nullptr);
    const std::shared_ptr<OCRQueueEngine> opened = c->engine;
    ASSERT_TRUE(opened);
    ASSERT_TRUE(test::spinUntil([&] { return out->finished; }, 20s));
    EXPECT_FALSE(c->importing.get());
    EXPECT_EQ(c->engine, opened);
    EXPECT_EQ(c->status.get(), "原稿を開きました。「OCRを開始」を押してください。");
    EXPECT_EQ(c->recognitionMode.get(), OCRMode::standard);
    // The window works on: a start is no longer held back by the flag.
    runToEnd(*c);
    EXPECT_EQ(c->status.get(), "完了");
}

TEST_F(Recovery, NothingChosenOrAnEditThatCannotBeKeptChangesNothing) {
    auto c = recoverer();
    ASSERT_FALSE(c->selectedSaved->has_value());
    int changes = 0;
    sigc::connection counting = c->changed.connect([&] { ++changes; });
    recover(*c);
    EXPECT_EQ(changes, 0);
    counting.disconnect();

    // The shown page's edit cannot be stored in the open queue.
    const fs::path folder = interrupted(OCRSettings());
    openRunQueue(*c, {1}, c->currentSettings());
    c->showPage();
    c->editText("直した" + c->edited.get(), TextRange{0, 0}, std::string("直した"), false);
    const fs::path file = c->engine->directory()->url() / "queue.json";
    test::writeFile(file, test::readFile(file) + " ");
    const std::shared_ptr<OCRQueueEngine> open = c->engine;
    c->selectedSaved = folder;
    recover(*c);
    EXPECT_EQ(c->status.get(), "編集を保持できません。");
    EXPECT_EQ(c->engine, open);
    EXPECT_FALSE(c->rejection->has_value());
}

TEST_F(Recovery, AMemoryOnlyQueueWithEditsIsLetGoOnlyWhenConfirmed) {
    const fs::path folder = interrupted(OCRSettings());
    auto c = recoverer();
    c->privateInput = true;
    c->select({test::writeDocument(tmp / "secret.pdf", 1)}, nullptr);
    ASSERT_TRUE(c->isPrivateQueue());
    runToEnd(*c);
    c->showPage();
    c->editText("直した" + c->edited.get(), TextRange{0, 0}, std::string("直した"), false);
    ASSERT_TRUE(c->hasUnsavedEdits());
    const std::shared_ptr<OCRQueueEngine> secret = c->engine;
    const std::string shown = c->edited.get();
    c->selectedSaved = folder;

    confirmer->answers = {false};
    recover(*c);
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, "別の原稿を開きますか？");
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "開く");
    EXPECT_EQ(c->engine, secret);
    EXPECT_EQ(c->edited.get(), shown);
    EXPECT_EQ(c->status.get(), "完了");

    confirmer->answers = {true};
    recover(*c);
    EXPECT_EQ(c->status.get(), recoveredSentence);
    EXPECT_NE(c->engine, secret);

    // A saved queue keeps its edits on disk: let go without a question.
    c->page = 2;
    c->showPage();
    c->editText("また" + c->edited.get(), TextRange{0, 0}, std::string("また"), false);
    ASSERT_TRUE(c->hasUnsavedEdits());
    recover(*c);
    EXPECT_EQ(confirmer->asked.size(), 2u);
    EXPECT_EQ(c->status.get(), recoveredSentence);
    EXPECT_EQ(c->page.get(), 2);
    EXPECT_EQ(c->edited.get().substr(0, 6), "また");
}

// ---- a queue left behind by a killed process

namespace {

// Documents of the given page counts, each of its own page width, so the
// recogniser can tell which one a page comes from.
std::vector<fs::path> wideDocuments(const fs::path& dir, const std::vector<int>& pages) {
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const fs::path path = dir / ("wide" + std::to_string(i) + ".pdf");
        std::vector<test::PageSize> sizes(static_cast<std::size_t>(pages[i]),
                                          test::PageSize{200.0 + 40.0 * static_cast<double>(i), 300});
        test::writePDF(path, sizes, [](cairo_t* cr, int page, test::PageSize) {
            cairo_rectangle(cr, 20 + page * 10, 20, 40, 40);
            cairo_fill(cr);
        });
        files.push_back(path);
    }
    return files;
}

// Counts every page it reads by (width, page); a small pause per page
// spreads the kill points over the run.
struct CountingRecognizer {
    std::mutex lock;
    std::map<std::pair<int, int64_t>, int> calls;
    std::chrono::milliseconds delay{0};

    PDFJob::Recognizer bind() {
        return [this](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                      const std::function<bool()>&) {
            {
                std::lock_guard guard(lock);
                calls[{image.width(), page}] += 1;
            }
            if (delay.count() > 0) std::this_thread::sleep_for(delay);
            return PageResult(page, test::fixedRegions(page), 0.01, image.width(), image.height());
        };
    }
};

std::set<std::pair<std::size_t, int64_t>> completedPages(const QueueSnapshot& s) {
    std::set<std::pair<std::size_t, int64_t>> out;
    for (std::size_t i = 0; i < s.inputs.size(); ++i) {
        for (const auto& r : s.inputs[i].pages) {
            if (r.state == PageState::completed) out.insert({i, r.page});
        }
    }
    return out;
}

}  // namespace

// A process running a 12-page queue is killed at a random page, twenty
// times; each time the window brings the queue back without a rejection
// and its start completes it, every page once and no committed page again.
TEST(RecoveryKill, AQueueKilledAnywhereComesBackAndCompletesEveryPageOnce) {
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    WorkerBudget::shared().setBytes(int64_t{1} << 30);

    int kills = 0;
    for (int round = 0; kills < 20 && round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        test::RunRoots roots;
        const std::vector<fs::path> files = wideDocuments(roots.tmp.path(), {5, 1, 6});
        std::map<int, std::size_t> inputOfWidth;
        for (std::size_t i = 0; i < files.size(); ++i) {
            inputOfWidth[Raster::pdf(files[i], 0, OCRSettings().dpi).width()] = i;
        }
        ASSERT_EQ(inputOfWidth.size(), 3u);
        std::vector<OCRQueueEngine::InputFile> inputs;
        for (const auto& f : files) inputs.push_back({f});
        const fs::path folder =
            OCRQueueEngine::create(inputs, OCRSettings(), AppRuntime::current().storage / "queues")->directory()->url();

        test::KilledWorker worker([&](int reportFD) {
            CountingRecognizer fake;
            fake.delay = 4ms;
            auto engine = OCRQueueEngine::resume(folder, OCRSettings());
            engine->setRecognizer(fake.bind());
            JobControl control;
            engine->run(control, false, {}, {}, [reportFD](const QueueSnapshot& s) {
                test::report(reportFD, static_cast<int32_t>(s.completedPages()));
            });
        });
        // Somewhere between the first report and the last page.
        const int wanted = 1 + static_cast<int>(rng() % 24);
        int32_t reported = 0, completed = 0;
        for (int i = 0; i < wanted && worker.read(completed); ++i) reported = completed;
        ::usleep(static_cast<useconds_t>(rng() % 3000));
        const int status = worker.kill<int32_t>([&](int32_t c) { reported = c; });
        ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ++kills;

        CountingRecognizer counted;
        QueuePorts ports;
        ports.configureEngine = [&counted](OCRQueueEngine& engine) { engine.setRecognizer(counted.bind()); };
        auto c = QueueController::create(std::nullopt, std::nullopt, ports);
        c->selectedSaved = folder;
        test::runTask(c->loadRecovery(), 20s);
        ASSERT_FALSE(c->rejection->has_value()) << BrindlexError::rawValue(c->rejection->value().reason);
        ASSERT_EQ(c->status.get(), recoveredSentence);
        const auto committed = completedPages(c->snapshot->value());
        EXPECT_GE(committed.size(), static_cast<std::size_t>(reported));

        test::RunRoots::runToEnd(*c);
        const QueueSnapshot s = c->engine->snapshot();
        EXPECT_EQ(s.status, QueueStatus::completed) << c->status.get();
        EXPECT_EQ(completedPages(s).size(), 12u);
        std::size_t recognised = 0;
        for (const auto& [key, times] : counted.calls) {
            const std::pair<std::size_t, int64_t> page{inputOfWidth.at(key.first), key.second};
            EXPECT_EQ(times, 1) << "page " << page.second << " of input " << page.first;
            EXPECT_FALSE(committed.count(page)) << "page " << page.second << " of input " << page.first << " again";
            recognised += 1;
        }
        EXPECT_EQ(committed.size() + recognised, 12u);
        // The next round forks: a page the window still renders on a worker
        // would leave the child its renderer's locks held.
        ASSERT_TRUE(test::pictured(*c));
    }
    EXPECT_EQ(kills, 20);
}

// Real recognition of Japanese text on both sides of a crash: the process
// reading the queue dies after its first page, and the window brings the
// queue back and reads the rest.
TEST(RecoveryKill, RealTextIsReadOnBothSidesOfACrash) {
    test::RunRoots roots;
    const std::vector<std::vector<std::string>> pages{{"吾輩は猫である。名前はまだ無い。"},
                                                      {"どこで生れたかとんと見当がつかぬ。"}};
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto drawn = test::renderLines({.width = 900, .height = 120, .pixelSize = 32}, pages[i]);
        const fs::path png = roots.tmp / ("頁" + std::to_string(i + 1) + ".png");
        const auto bytes = Raster::png(drawn.image);
        test::writeFile(png, std::string(bytes.begin(), bytes.end()));
        inputs.push_back({png});
    }
    const fs::path folder =
        OCRQueueEngine::create(inputs, OCRSettings(), AppRuntime::current().storage / "queues")->directory()->url();

    test::KilledWorker worker([&](int reportFD) {
        auto engine = OCRQueueEngine::resume(folder, OCRSettings());
        JobControl control;
        engine->run(control, false, {}, {}, [reportFD](const QueueSnapshot& s) {
            if (s.completedPages() < 1) return;
            test::report(reportFD, static_cast<int32_t>(s.completedPages()));
            // Dies here, its first page committed.
            for (;;) ::pause();
        });
    });
    int32_t completed = 0;
    ASSERT_TRUE(worker.read(completed));
    ASSERT_TRUE(WIFSIGNALED(worker.kill<int32_t>([](int32_t) {})));

    auto c = QueueController::create();
    c->selectedSaved = folder;
    test::runTask(c->loadRecovery(), 20s);
    ASSERT_FALSE(c->rejection->has_value()) << BrindlexError::rawValue(c->rejection->value().reason);
    // The first page was committed before the crash, the second not read.
    ASSERT_EQ(completedPages(c->snapshot->value()), (std::set<std::pair<std::size_t, int64_t>>{{0, 1}}));
    test::RunRoots::runToEnd(*c);
    ASSERT_EQ(c->engine->snapshot().status, QueueStatus::completed) << c->status.get();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto result = c->engine->result(c->engine->snapshot().inputs[i].id, 1);
        ASSERT_TRUE(result);
        EXPECT_LE(test::characterErrorRate(pages[i][0], result->text()), 0.1) << result->text();
    }
}
