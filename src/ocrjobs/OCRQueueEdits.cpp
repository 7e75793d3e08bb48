// Changes of a queue between runs, and during one where they cannot disturb
// it: re-chosen files, cancelled inputs, edited pages, added and reordered
// files, retries and a new queue from the same files.
#include <algorithm>
#include <exception>
#include <utility>

#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"

namespace velmora {

namespace {

bool neverStarted(const QueueInput& input) { return input.status == InputStatus::pending && !input.attemptID; }

const PageRecord* pageRecord(const QueueInput& input, int64_t page) {
    for (const auto& r : input.pages) {
        if (r.page == page) return &r;
    }
    return nullptr;
}

}  // namespace

OCRQueueEngine::WriteHold OCRQueueEngine::leaseUnlessRunning() const {
    WriteHold hold{std::unique_lock(writeLock_), std::nullopt};
    if (!active_ && directory_) hold.lease.emplace(*directory_, leaseName, true);
    return hold;
}

void OCRQueueEngine::mutate(const std::function<void()>& change) {
    std::lock_guard lock(stateLock_);
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();
    QueueSnapshot copy = state_;
    try {
        change();
        persist();
    } catch (...) {
        state_ = std::move(copy);
        throw;
    }
}

std::unique_ptr<JobStore> OCRQueueEngine::reopenJob(const QueueInput& input, bool validateOnly) const {
    return JobStore::resume(jobFolder(directory_->url(), *input.attemptID), *input.source,
                            input.settings.value_or(state_.settings), validateOnly);
}

void OCRQueueEngine::reselect(const UUID& inputID, const std::optional<std::filesystem::path>& url) {
    std::lock_guard lock(stateLock_);
    if (active_ || !url) return;
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();
    QueueInput* input = state_.input(inputID);
    if (!input || !input->expectedSHA256) raise(ErrorCase::sourceChanged);
    accessCheck_(*url);
    // Only a file with exactly the bytes first chosen may take its place.
    if (Digest::file(*url) != *input->expectedSHA256) raise(ErrorCase::sourceChanged);

    const std::string path = url->string();
    // The source names the new path as well: a job reopened from it, and
    // every page rasterised for it, must read the re-chosen file, not the
    // one that went away. The bytes are the same, so nothing else of the
    // identity changes.
    if (input->source) input->source->path = path;
    if (auto found = stores_.find(inputID); found != stores_.end()) {
        if (directory_) {
            stores_.erase(found);
        } else {
            // A queue without a folder has its results in this store alone:
            // dropping it would lose them.
            found->second->relocate(path);
        }
    }
    input->path = path;
    input->error.reset();
    input->status = InputStatus::pending;
    persist();
}

void OCRQueueEngine::cancelInput(const UUID& inputID) {
    std::lock_guard lock(stateLock_);
    if (active_ || !state_.input(inputID)) raise(ErrorCase::navigationBusy);
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();
    QueueInput& input = *state_.input(inputID);

    std::shared_ptr<JobStore> store;
    if (auto found = stores_.find(inputID); found != stores_.end()) {
        store = found->second;
    } else if (input.attemptID && input.source && directory_) {
        // Started in an earlier process: its finished pages are on disk and
        // must stay in the text, the export and the job's own checkpoint.
        try {
            store = reopenJob(input, AppRuntime::isIsolated);
        } catch (const std::exception&) {
            // Whatever keeps the job from being reopened (damaged, changed,
            // unreadable), its folder stays as it is and the queue gives the
            // whole input up, as for one never started.
        }
    }
    if (store) {
        store->skipPending();
        stores_[inputID] = store;
        input.pages = store->checkpoint().pages;
    } else if (input.source) {
        // A document of no pages gets no records, as everywhere in the queue.
        input.pages.clear();
        for (int64_t page = 1; page <= input.source->pageCount; ++page) {
            PageRecord r(page);
            r.state = PageState::cancelled;
            input.pages.push_back(std::move(r));
        }
    }
    input.status = InputStatus::cancelled;
    input.error = ErrorCase::cancelled;
    persist();
}

std::unique_ptr<OCRQueueEngine> OCRQueueEngine::restart(const std::optional<std::filesystem::path>& parent) {
    std::lock_guard lock(stateLock_);
    std::vector<InputFile> files;
    files.reserve(state_.inputs.size());
    for (const auto& input : state_.inputs) files.push_back({std::filesystem::path(input.path), input.origin});
    return create(files, state_.settings, parent);
}

void OCRQueueEngine::edit(const UUID& inputID, int64_t page, const std::string& text) {
    std::lock_guard lock(stateLock_);
    const QueueInput* found = state_.input(inputID);
    if (!found) raise(ErrorCase::invalidInput);
    const PageRecord* r = pageRecord(*found, page);
    if (!r || r->state != PageState::completed) raise(ErrorCase::invalidInput);
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();
    state_.input(inputID)->editedPages[page] = text;
    persist();
}

void OCRQueueEngine::editPages(const std::vector<PageEdit>& edits) {
    std::lock_guard lock(stateLock_);
    for (const PageEdit& e : edits) {
        const QueueInput* found = state_.input(e.inputID);
        if (!found) raise(ErrorCase::invalidInput);
        const PageRecord* r = pageRecord(*found, e.page);
        if (!r || r->state != PageState::completed) raise(ErrorCase::invalidInput);
    }
    mutate([&] {
        for (const PageEdit& e : edits) state_.input(e.inputID)->editedPages[e.page] = e.text;
    });
}

void OCRQueueEngine::append(const std::vector<InputFile>& files, const OCRSettings& settings,
                            const std::optional<QueuePresentation>& presentation) {
    for (const auto& file : files) {
        if (!file.url.is_absolute() || file.url.native().find('\0') != std::string::npos) {
            raise(ErrorCase::invalidInput);
        }
    }
    // Reading each file's identity and digest may take long: done before the
    // lock, so that nothing else waits for it.
    std::vector<QueueInput> made;
    made.reserve(files.size());
    for (const auto& file : files) made.push_back(makeInput(file.url, file.origin, settings, presentation));

    mutate([&] {
        if (made.empty()) raise(ErrorCase::budgetExceeded);
        if (state_.inputs.size() + made.size() > maximumInputs) raise(ErrorCase::budgetExceeded);
        const bool holdsPrivate = !state_.persistent();
        for (const auto& input : made) {
            // A queue that is or may be written never takes a private file.
            if (input.origin == InputOrigin::privateSession && !holdsPrivate) raise(ErrorCase::invalidInput);
        }
        for (auto& input : made) state_.inputs.push_back(std::move(input));
        if (!active_) state_.status = QueueStatus::ready;
    });
}

void OCRQueueEngine::move(const UUID& inputID, int64_t delta) {
    mutate([&] {
        auto& inputs = state_.inputs;
        const auto found =
            std::find_if(inputs.begin(), inputs.end(), [&](const QueueInput& in) { return in.id == inputID; });
        if (found == inputs.end() || !neverStarted(*found)) raise(ErrorCase::navigationBusy);
        const int64_t index = found - inputs.begin();
        const int64_t target = index + delta;
        if (target < 0 || target >= static_cast<int64_t>(inputs.size())) return;
        if (!neverStarted(inputs[static_cast<std::size_t>(target)])) return;
        std::swap(inputs[static_cast<std::size_t>(index)], inputs[static_cast<std::size_t>(target)]);
    });
}

void OCRQueueEngine::prepareRetry(const std::map<UUID, std::set<int64_t>>& pages) {
    std::lock_guard lock(stateLock_);
    if (active_) raise(ErrorCase::navigationBusy);
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();

    // Every entry is checked before any job changes: a retry refused
    // part-way would otherwise leave pages pending in their jobs that the
    // queue still shows as failed, never to be retried again. Jobs not open
    // yet are read for the check without being written.
    for (const auto& [inputID, numbers] : pages) {
        if (numbers.empty()) continue;
        const QueueInput* input = state_.input(inputID);
        if (!input || !input->source) raise(ErrorCase::invalidInput);
        std::shared_ptr<JobStore> open;
        if (auto found = stores_.find(inputID); found != stores_.end()) {
            open = found->second;
        } else {
            if (!input->attemptID || !directory_) raise(ErrorCase::damagedCheckpoint);
            open = reopenJob(*input, true);
        }
        const Checkpoint checkpoint = open->checkpoint();
        for (int64_t page : numbers) {
            if (page < 1 || page > static_cast<int64_t>(checkpoint.pages.size()) ||
                checkpoint.pages[static_cast<std::size_t>(page - 1)].state != PageState::failed) {
                raise(ErrorCase::invalidInput);
            }
        }
    }

    const QueueSnapshot copy = state_;
    try {
        for (const auto& [inputID, numbers] : pages) {
            if (numbers.empty()) continue;
            QueueInput& input = *state_.input(inputID);
            std::shared_ptr<JobStore> store;
            if (auto found = stores_.find(inputID); found != stores_.end()) {
                store = found->second;
            } else {
                store = reopenJob(input, AppRuntime::isIsolated);
            }
            store->retryFailed(numbers);
            stores_[inputID] = store;
            input.pages = store->checkpoint().pages;
            input.status = InputStatus::pending;
        }
    } catch (...) {
        // The inputs whose jobs already changed keep their new pages, so the
        // queue agrees with the jobs; the queue is written so if it can be.
        // The job's error is the one reported.
        try {
            persist();
        } catch (...) {
            // See above: the job's error is reported, and the next write of
            // the queue records what is in memory now.
        }
        throw;
    }
    state_.status = QueueStatus::ready;
    try {
        persist();
    } catch (...) {
        state_ = copy;
        throw;
    }
}

}  // namespace velmora
