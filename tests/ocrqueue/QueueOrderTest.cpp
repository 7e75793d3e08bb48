#include <gtest/gtest.h>

#include <filesystem>

#include "RunFixtures.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* refusedMove = "未開始の待機項目だけ移動できます。";

std::vector<UUID> order(const QueueController& c) {
    std::vector<UUID> ids;
    for (const auto& input : c.snapshot->value().inputs) ids.push_back(input.id);
    return ids;
}

class QueueOrder : public ::testing::Test, protected test::RunRoots {
protected:
    test::PageGate gate;

    // A failed check never leaves a run held at the gate for good.
    QueueOrder() { gate.passOnStop = true; }

    // A managed queue of unrun documents of the page counts, opened.
    std::shared_ptr<OCRQueueEngine> unrun(QueueController& c, const std::vector<int>& pages) {
        std::vector<OCRQueueEngine::InputFile> files;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            files.push_back({test::writeDocument(tmp / ("u" + std::to_string(i) + ".pdf"), pages[i])});
        }
        auto engine = openQueue(c, files, c.currentSettings(), false);
        c.managedQueue = true;
        return engine;
    }
};

}  // namespace

TEST_F(QueueOrder, WaitingItemsMoveWithinTheQueueAndStartedOnesDoNot) {
    auto c = controller(gate.ports());
    gate.passOnStop = true;
    unrun(*c, {3, 1, 1});
    const std::vector<UUID> initial = order(*c);
    c->status = "前の文";

    // The ends: no change and no sentence.
    c->selectedID = initial[0];
    c->moveSelected(-1);
    c->selectedID = initial[2];
    c->moveSelected(+1);
    EXPECT_EQ(order(*c), initial);
    EXPECT_EQ(c->status.get(), "前の文");

    c->moveSelected(-1);
    EXPECT_EQ(order(*c), (std::vector<UUID>{initial[0], initial[2], initial[1]}));
    EXPECT_EQ(OCRQueueEngine::inspect(c->engine->directory()->url()).inputs[1].id, initial[2]);

    // During a run the items not yet started still move; the running one
    // does not.
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1));
    c->selectedID = initial[1];
    c->moveSelected(-1);
    EXPECT_EQ(order(*c), initial);
    c->selectedID = initial[0];
    c->moveSelected(+1);
    EXPECT_EQ(c->status.get(), refusedMove);
    EXPECT_EQ(order(*c), initial);

    // Paused after its first page: started, so it stays.
    c->stop(JobControl::Stop::pause);
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    ASSERT_EQ(c->snapshot->value().inputs[0].status, InputStatus::pending);
    ASSERT_TRUE(c->snapshot->value().inputs[0].attemptID.has_value());
    c->status = "";
    c->selectedID = initial[0];
    c->page = 1;
    c->moveSelected(+1);
    EXPECT_EQ(c->status.get(), refusedMove);
    EXPECT_EQ(order(*c), initial);

    // No queue, or nothing selected: nothing at all.
    c->status = "";
    c->selectedID = std::nullopt;
    c->moveSelected(1);
    EXPECT_EQ(c->status.get(), "");
}

TEST_F(QueueOrder, AnEditThatCannotBeStoredIsReportedAsSuchAndNothingMoves) {
    auto c = controller();
    openRunQueue(*c, {1, 1}, c->currentSettings());
    c->managedQueue = true;
    c->showPage();
    c->editText("直した" + c->edited.get(), TextRange{0, 0}, std::string("直した"), false);
    // Someone else wrote the queue file: the store refuses.
    const fs::path file = c->engine->directory()->url() / "queue.json";
    test::writeFile(file, test::readFile(file) + " ");
    const std::vector<UUID> before = order(*c);
    c->moveSelected(+1);
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::saveFailed));
    EXPECT_EQ(order(*c), before);
}

TEST_F(QueueOrder, CountsAndFailedPagesOfTheOpenQueue) {
    auto c = controller();
    EXPECT_EQ(c->counts(), QueueCounts());
    EXPECT_TRUE(c->failedSelection().empty());

    openRunQueue(*c, {2, 3}, c->currentSettings());
    const auto clean = c->failedSelection();
    ASSERT_EQ(clean.size(), 2u);
    for (const auto& [id, pages] : clean) EXPECT_TRUE(pages.empty());
    EXPECT_EQ(c->counts().success, 5);

    auto d = controller();
    openRunQueue(*d, {3, 2, 1}, d->currentSettings(), {{0, {1, 3}}, {1, {2}}});
    const auto& inputs = d->snapshot->value().inputs;
    const std::map<UUID, std::set<int64_t>> failed{{inputs[0].id, {1, 3}}, {inputs[1].id, {2}}, {inputs[2].id, {}}};
    EXPECT_EQ(d->failedSelection(), failed);
    const QueueCounts counts = d->counts();
    EXPECT_EQ(counts.failed, 3);
    EXPECT_EQ(counts.success, 3);
    EXPECT_EQ(counts.pending, 0);
}

TEST_F(QueueOrder, RetryingPreparesTheChosenPagesAndStartsAManagedRun) {
    auto c = controller(gate.ports());
    gate.open();
    openRunQueue(*c, {3, 2}, c->currentSettings(), {{0, {1, 3}}, {1, {2}}});
    const UUID first = c->snapshot->value().inputs[0].id, second = c->snapshot->value().inputs[1].id;
    ASSERT_FALSE(c->managedQueue.get());

    test::runTask(c->retryFailures(std::map<UUID, std::set<int64_t>>{{first, {3}}}));
    EXPECT_TRUE(c->managedQueue.get());
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    const auto after = c->failedSelection();
    EXPECT_EQ(after.at(first), (std::set<int64_t>{1}));
    EXPECT_EQ(after.at(second), (std::set<int64_t>{2}));
    // Only the page retried was read again; forced failures read nothing.
    EXPECT_EQ(gate.counts(), (std::map<int64_t, int>{{1, 1}, {2, 1}, {3, 1}}));

    // A page that has not failed is the engine's refusal; nothing starts.
    test::runTask(c->retryFailures(std::map<UUID, std::set<int64_t>>{{first, {2}}}));
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::invalidInput));
    EXPECT_FALSE(c->busy.get());

    // Everything that failed, by default.
    test::runTask(c->retryFailures());
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    EXPECT_EQ(c->counts().failed, 0);
    EXPECT_EQ(c->status.get(), "完了");
}

TEST_F(QueueOrder, RetryingDuringARunDoesNothing) {
    auto c = controller(gate.ports());
    gate.passOnStop = true;
    gate.allow(1);
    openRunQueue(*c, {2}, c->currentSettings(), {{0, {2}}});
    // Another input not yet run keeps the run going at the gate.
    c->engine->append({{test::writeDocument(tmp / "more.pdf", 2)}}, c->currentSettings(), std::nullopt);
    c->snapshot = c->engine->snapshot();
    c->managedQueue = true;
    test::runTask(c->start());
    ASSERT_TRUE(gate.held(1)) << c->status.get();
    const std::string during = c->status.get();
    test::runTask(c->retryFailures());
    EXPECT_EQ(c->status.get(), during);
    gate.open();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 60s));
    EXPECT_EQ(c->counts().failed, 1);
}
