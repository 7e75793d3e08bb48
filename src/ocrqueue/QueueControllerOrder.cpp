// The queue view's small operations on the open queue: its page tally, its
// failed pages, the order of waiting items and the retry of failed pages.
#include <cassert>

#include "foundation/UptimeClock.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

QueueCounts QueueController::counts() const {
    const auto& open = snapshot.get();
    return open ? QueueCounts(open->inputs) : QueueCounts();
}

std::map<UUID, std::set<int64_t>> QueueController::failedSelection() const {
    std::map<UUID, std::set<int64_t>> failed;
    const auto& open = snapshot.get();
    if (!open) return failed;
    for (const QueueInput& input : open->inputs) {
        std::set<int64_t>& pages = failed[input.id];
        for (const PageRecord& record : input.pages) {
            if (record.state == PageState::failed) pages.insert(record.page);
        }
    }
    return failed;
}

void QueueController::moveSelected(int64_t delta) {
    assert(isMainThread());
    if (!engine || !selectedID->has_value()) return;
    // An edit that cannot be stored is its own trouble: the order is not
    // what the user should go looking at.
    try {
        applyEdit();
    } catch (const std::exception&) {
        status = BrindlexError::message(ErrorCase::saveFailed);
        return;
    }
    try {
        engine->move(selectedID->value(), delta);
        snapshot = engine->snapshot();
    } catch (const std::exception&) {
        status = "未開始の待機項目だけ移動できます。";
    }
}

Task<void> QueueController::retryFailures(std::optional<std::map<UUID, std::set<int64_t>>> selection) {
    return retryTask(weak_from_this(), std::move(selection));
}

Task<void> QueueController::retryTask(std::weak_ptr<QueueController> weak,
                                      std::optional<std::map<UUID, std::set<int64_t>>> selection) {
    auto self = weak.lock();
    if (!self || self->busy || !self->engine) co_return;
    try {
        self->applyEdit();
        self->engine->prepareRetry(selection ? *selection : self->failedSelection());
    } catch (const std::exception& e) {
        self->status = failureSentence(e);
        co_return;
    }
    self->snapshot = self->engine->snapshot();
    self->managedQueue = true;
    auto run = self->start();
    self.reset();
    co_await run;
}

}  // namespace velmora
