#include <exception>
#include <utility>

#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/StateLease.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"

namespace velmora {

namespace {

ErrorCase caseOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (...) {
        return ErrorCase::invalidInput;
    }
}

// What the user has to do next about an input that ended with this error.
InputStatus statusFor(ErrorCase error) {
    switch (error) {
    case ErrorCase::lockedPDF: return InputStatus::waitingPassword;
    case ErrorCase::sourceMissing:
    case ErrorCase::accessDenied:
    case ErrorCase::sourceChanged:
    case ErrorCase::saveFailed:
    case ErrorCase::budgetExceeded: return InputStatus::waitingInput;
    default: return InputStatus::failed;
    }
}

bool isFinished(InputStatus s) {
    return s == InputStatus::completed || s == InputStatus::failed || s == InputStatus::cancelled;
}

bool isWaiting(InputStatus s) {
    return s == InputStatus::pending || s == InputStatus::waitingPassword || s == InputStatus::waitingInput;
}

// An input's own settings, or the queue's for an input without them.
OCRSettings settingsFor(const QueueInput& input, const QueueSnapshot& state) {
    return input.settings.value_or(state.settings);
}

// What the run knows about the input in hand.
struct InputRun {
    UUID id;
    std::filesystem::path url;
    SourceIdentity identity;
    InputRevision revision;
    std::shared_ptr<JobStore> store;
    // The last failed queue write during its pages.
    std::exception_ptr persistFailure;
    // An error of the caller's progress callback during its pages: it ends
    // the run, and is no failure of the input.
    std::exception_ptr progressFailure;
};

}  // namespace

void OCRQueueEngine::setRecognizer(PDFJob::Recognizer recognizer) {
    std::lock_guard lock(stateLock_);
    recognizer_ = std::move(recognizer);
}

bool OCRQueueEngine::active() const {
    std::lock_guard lock(stateLock_);
    return active_;
}

void OCRQueueEngine::removeStagingLeftovers() const {
    std::vector<std::string> names;
    try {
        names = directory_->list();
    } catch (const std::system_error&) {
        return;  // litter costs only its space; it is no reason not to run
    }
    for (const auto& name : names) {
        if (!name.starts_with(".stage-")) continue;
        try {
            directory_->removeOwnedFile(name);
        } catch (const BrindlexError&) {
            // As above: litter, not a fault of the queue.
        }
    }
}

void OCRQueueEngine::run(JobControl& control, bool automatic, const std::map<UUID, std::string>& passwords,
                         const std::map<UUID, std::set<int64_t>>& failPages, const Progress& progress,
                         const Boundary& boundary, const Reading& reading) {
    std::optional<StateLease> lease;
    QueueSnapshot copy;
    {
        std::lock_guard lock(stateLock_);
        if (active_) raise(ErrorCase::navigationBusy);
        // The run's lease is taken, and given back, under the write lock
        // together with the change of active_: a writer of this process
        // then either holds the lease itself or finds the run holding it.
        std::lock_guard write(writeLock_);
        if (directory_) {
            lease.emplace(*directory_, leaseName, true);
            // Only a writer of "queue.json" makes staging files beside it,
            // and every writer holds this lease: what is there now was left
            // by one that died.
            removeStagingLeftovers();
        }
        const QueueStatus previous = state_.status;
        active_ = true;
        state_.status = QueueStatus::running;
        try {
            persist();
        } catch (...) {
            // Nothing has run: the queue is as it was before the call.
            active_ = false;
            state_.status = previous;
            lease.reset();
            throw;
        }
        copy = state_;
    }

    try {
        progress(copy);

        std::set<UUID> tried;
        for (;;) {
            if (control.stopRequested()) break;
            std::optional<QueueInput> next;
            {
                std::lock_guard lock(stateLock_);
                for (const auto& input : state_.inputs) {
                    if (!tried.count(input.id) && !isFinished(input.status)) {
                        next = input;
                        break;
                    }
                }
            }
            if (!next) break;
            tried.insert(next->id);
            const auto password = passwords.find(next->id);
            const auto pages = failPages.find(next->id);
            runInput(*next, control, automatic,
                     password == passwords.end() ? std::nullopt : std::optional<std::string>(password->second),
                     pages == failPages.end() ? std::set<int64_t>() : pages->second, progress, boundary, reading);
        }

        {
            std::lock_guard lock(stateLock_);
            switch (control.stop()) {
            case JobControl::Stop::pause: state_.status = QueueStatus::paused; break;
            case JobControl::Stop::cancel: state_.status = QueueStatus::cancelled; break;
            case JobControl::Stop::none: {
                bool waiting = false;
                for (const auto& input : state_.inputs) waiting = waiting || isWaiting(input.status);
                state_.status = waiting ? QueueStatus::waitingInput : QueueStatus::completed;
                break;
            }
            }
            persist();
            copy = state_;
        }
        progress(copy);
    } catch (...) {
        // Nothing runs any more: a queue left "running" would refuse its
        // export until it was reopened. Paused is what reopening would give.
        std::lock_guard lock(stateLock_);
        std::lock_guard write(writeLock_);
        state_.status = QueueStatus::paused;
        active_ = false;
        lease.reset();
        throw;
    }
    std::lock_guard lock(stateLock_);
    std::lock_guard write(writeLock_);
    active_ = false;
    lease.reset();
}

void OCRQueueEngine::runInput(const QueueInput& input, JobControl& control, bool automatic,
                              const std::optional<std::string>& password, const std::set<int64_t>& failPages,
                              const Progress& progress, const Boundary& boundary, const Reading& reading) {
    InputRun in;
    in.id = input.id;
    AccessCheck check;
    PDFJob::Recognizer recognize;
    {
        std::lock_guard lock(stateLock_);
        check = accessCheck_;
        recognize = recognizer_;
    }

    bool readingSource = false;
    try {
        in.url = QueueInput::fileURL(input.path);
        check(in.url);
        readingSource = true;
        in.identity = SourceIdentity::read(in.url, password);
        readingSource = false;
        if (input.expectedSHA256 && *input.expectedSHA256 != in.identity.sha256) raise(ErrorCase::sourceChanged);
        if (input.source && !in.identity.sameContent(*input.source)) raise(ErrorCase::sourceChanged);
        in.revision = InputRevision::read(in.url);
    } catch (...) {
        recordInputError(in.id, caseOf(std::current_exception()), readingSource, control, progress);
        return;
    }

    QueueSnapshot copy;
    try {
        std::lock_guard lock(stateLock_);
        QueueInput* current = state_.input(in.id);
        if (!current) return;  // not removable during a run; nothing to record into
        const OCRSettings settings = settingsFor(*current, state_);
        if (auto found = stores_.find(in.id); found != stores_.end()) {
            in.store = found->second;
        } else if (current->attemptID && directory_) {
            in.store = JobStore::resume(jobFolder(directory_->url(), *current->attemptID), in.identity, settings,
                                        AppRuntime::isIsolated);
        } else {
            std::optional<std::filesystem::path> parent;
            if (directory_) parent = directory_->url() / std::string(jobsFolderName);
            in.store = JobStore::create(in.identity, settings, parent, current->jobID);
        }
        stores_[in.id] = in.store;
        const Checkpoint checkpoint = in.store->checkpoint();
        current->source = in.identity;
        current->expectedSHA256 = in.identity.sha256;
        current->attemptID = checkpoint.attemptID;
        current->status = InputStatus::running;
        current->error.reset();
        current->pages = checkpoint.pages;
        persist();
        copy = state_;
    } catch (...) {
        recordInputError(in.id, caseOf(std::current_exception()), false, control, progress);
        return;
    }
    progress(copy);

    // The document's own control: a page that finds its file gone or
    // changed stops this document's pages, not the rest of the queue, while
    // a stop of the run reaches the document through it.
    JobControl documentControl(&control);
    PDFJob::Options options;
    options.concurrency = 1;
    options.password = password;
    options.failPages = failPages;
    options.recognize = recognize;
    if (automatic) options.workerLimit = [] { return WorkerBudget::shared().limit(); };
    options.commitBoundary = [&](int64_t page, bool committed) {
        if (boundary) boundary(in.id, page, committed);
    };
    if (reading) options.onReading = [&](int64_t page, double fraction) { reading(in.id, page, fraction); };
    const InputRevision started = in.revision;
    options.accessCheck = [check, started](const std::filesystem::path& url, int64_t) {
        check(url);
        if (InputRevision::read(url) != started) raise(ErrorCase::sourceChanged);
    };
    options.onPage = [&](const PageRecord&) {
        QueueSnapshot pageCopy;
        {
            std::lock_guard lock(stateLock_);
            if (QueueInput* current = state_.input(in.id)) current->pages = in.store->checkpoint().pages;
            try {
                persist();
            } catch (...) {
                // Recorded on the input once its pages have stopped; the
                // pause stops the whole queue, whose state cannot be kept.
                in.persistFailure = std::current_exception();
                control.request(JobControl::Stop::pause);
            }
            pageCopy = state_;
        }
        if (in.progressFailure) return;
        try {
            progress(pageCopy);
        } catch (...) {
            in.progressFailure = std::current_exception();
            documentControl.request(JobControl::Stop::pause);
        }
    };

    JobSummary summary;
    try {
        summary = PDFJob::run(*in.store, documentControl, options);
    } catch (...) {
        if (in.progressFailure) std::rethrow_exception(in.progressFailure);
        recordInputError(in.id, caseOf(std::current_exception()), false, control, progress);
        return;
    }
    if (in.progressFailure) std::rethrow_exception(in.progressFailure);
    try {
        if (in.persistFailure) std::rethrow_exception(in.persistFailure);
        if (summary.blockedError) raise(*summary.blockedError);
        // A file gone or shut away after its last page is the same case as
        // one gone before it: the user is to choose it again.
        check(in.url);
        if (InputRevision::read(in.url) != in.revision) raise(ErrorCase::sourceChanged);
        if (Digest::file(in.url) != in.identity.sha256) raise(ErrorCase::sourceChanged);
    } catch (...) {
        recordInputError(in.id, caseOf(std::current_exception()), false, control, progress);
        return;
    }

    try {
        std::lock_guard lock(stateLock_);
        QueueInput* current = state_.input(in.id);
        if (!current) return;
        current->pages = in.store->checkpoint().pages;
        current->status = summary.pending < 1 ? InputStatus::completed : InputStatus::pending;
        persist();
        copy = state_;
    } catch (...) {
        recordInputError(in.id, caseOf(std::current_exception()), false, control, progress);
        return;
    }
    progress(copy);
}

void OCRQueueEngine::recordInputError(const UUID& inputID, ErrorCase error, bool readingSource, JobControl& control,
                                      const Progress& progress) {
    QueueSnapshot copy;
    {
        std::lock_guard lock(stateLock_);
        QueueInput* input = state_.input(inputID);
        if (!input) return;
        if (auto found = stores_.find(inputID); found != stores_.end()) input->pages = found->second->checkpoint().pages;
        input->error = error;
        // A source image too large to load stays too large: asking for the
        // file again, or pausing the queue over it, could never help.
        const bool oversized =
            readingSource && (error == ErrorCase::budgetExceeded || error == ErrorCase::dimensionOverflow);
        input->status = oversized ? InputStatus::failed : statusFor(error);
        if (!oversized && (error == ErrorCase::saveFailed || error == ErrorCase::budgetExceeded)) {
            control.request(JobControl::Stop::pause);
            state_.status = QueueStatus::paused;
        }
        persist();
        copy = state_;
    }
    progress(copy);
}

}  // namespace velmora
