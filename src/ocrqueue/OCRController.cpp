#include "ocrqueue/OCRController.hpp"

#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <utility>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
#include "foundation/WorkerBudget.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRAdmission.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/SourceIdentity.hpp"
#include "ocrqueue/OriginalAccess.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace fs = std::filesystem;

// Carries the run thread's changes to the main thread in the order they were
// posted: one idle source drains everything queued so far, and a post made
// while it runs schedules the next.
class OCRController::Mailbox : public std::enable_shared_from_this<Mailbox> {
public:
    void post(std::function<void()> change) {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(change));
        if (scheduled_) return;
        scheduled_ = true;
        detail::onMainContext([self = shared_from_this()] { self->drain(); });
    }

private:
    void drain() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard guard(lock_);
            batch.swap(queue_);
            scheduled_ = false;
        }
        for (auto& change : batch) change();
    }

    std::mutex lock_;
    std::deque<std::function<void()>> queue_;
    bool scheduled_ = false;
};

// What start captures for its run.
struct OCRController::Run {
    fs::path input;
    bool resume = false;
    std::optional<fs::path> resumeDirectory;
    bool privateMode = false;
    bool hadEdits = false;
    std::optional<std::string> password;
    OCRSettings settings;
    int concurrency = 0;
    std::shared_ptr<JobControl> control;
    PDFJob::Recognizer recognize;
};

struct OCRController::Ending {
    std::string status;
    bool hadEdits = false;
    // Set when the run produced a text (and, for an image, its regions).
    std::optional<std::string> text;
    std::optional<std::vector<TextRegion>> regions;
};

namespace {

// The sentence of a run that failed: a BrindlexError's own message, the
// cancelled case for a recogniser that gave up on request, and the general
// input message for anything else.
std::string failureMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        return e.what();
    } catch (const CancellationError&) {
        return BrindlexError::message(ErrorCase::cancelled);
    } catch (...) {
        return BrindlexError::message(ErrorCase::invalidInput);
    }
}

std::string summaryStatus(const JobSummary& summary, JobControl::Stop stop) {
    const char* prefix = stop == JobControl::Stop::none    ? "処理完了"
                         : stop == JobControl::Stop::pause ? "一時停止済み"
                                                           : "中止済み";
    std::string text = std::string(prefix) + ": 成功" + std::to_string(summary.completed) + "、失敗" +
                       std::to_string(summary.failed.size()) + "、未処理" + std::to_string(summary.pending);
    // A job that stopped itself because its document became unreadable or
    // changed says so; the message ends with its own full stop.
    if (summary.blockedError) text = BrindlexError::message(*summary.blockedError) + text;
    return text;
}

}  // namespace

std::shared_ptr<OCRController> OCRController::create(QueuePorts ports, PDFJob::Recognizer recognizer) {
    return std::make_shared<OCRController>(Passkey{}, std::move(ports), std::move(recognizer));
}

OCRController::OCRController(Passkey, QueuePorts ports, PDFJob::Recognizer recognizer)
    : ports_(std::move(ports)), recognizer_(std::move(recognizer)) {
    resumeDirectory = resumeCandidate(DevPaths::jobs());
}

OCRController::~OCRController() {
    if (!worker_) return;
    // Pages in flight are committed and the rest stay pending, so the job
    // folder resumes later; nothing the thread posts is applied any more.
    control->request(JobControl::Stop::pause);
    worker_->join();
}

std::optional<fs::path> OCRController::resumeCandidate(const fs::path& jobsRoot) {
    // Job folders are named by random identifiers, so the name says nothing
    // about age: the checkpoint written last marks the job worked on last.
    std::error_code ec;
    fs::directory_iterator it(jobsRoot, ec);
    if (ec) return std::nullopt;
    std::optional<std::pair<fs::file_time_type, std::string>> best;
    while (it != fs::directory_iterator()) {
        const fs::path folder = it->path();
        const fs::path checkpoint = folder / "checkpoint.json";
        std::error_code entryError;
        const bool isJob = fs::is_directory(fs::symlink_status(folder, entryError)) &&
                           fs::is_regular_file(fs::symlink_status(checkpoint, entryError));
        if (isJob && !entryError) {
            const fs::file_time_type written = fs::last_write_time(checkpoint, entryError);
            std::pair<fs::file_time_type, std::string> key{written, folder.filename().string()};
            if (!entryError && (!best || *best < key)) best = std::move(key);
        }
        it.increment(ec);
        if (ec) return std::nullopt;
    }
    if (!best) return std::nullopt;
    return jobsRoot / best->second;
}

Task<void> OCRController::chooseInput() { return chooseTask(weak_from_this()); }

Task<void> OCRController::chooseTask(std::weak_ptr<OCRController> weak) {
    Task<std::vector<fs::path>> panel;
    {
        std::shared_ptr<OCRController> self = weak.lock();
        if (!self || self->busy.get()) co_return;
        std::vector<FileKind> kinds{FileKind::png, FileKind::jpeg, FileKind::pdf, FileKind::tiff};
        panel = self->ports_.openFiles(false, std::move(kinds));
    }
    std::vector<fs::path> chosen = co_await panel;
    std::shared_ptr<OCRController> self = weak.lock();
    // A run that began while the panel was open keeps the input it started
    // with, and so does the field the views show beside it.
    if (!self || self->busy.get() || chosen.empty()) co_return;
    self->input = chosen.front();
}

void OCRController::start(bool resume) {
    if (busy.get() || !input.get()) {
        status = chooseFirstStatus;
        return;
    }
    // Busy first, so that a start from an observer of the next changes is
    // refused.
    busy.set(true);
    status = readingStatus;
    control = std::make_shared<JobControl>();

    Run run;
    run.input = *input.get();
    run.resume = resume;
    run.resumeDirectory = resumeDirectory.get();
    run.privateMode = privateMode.get();
    run.hadEdits = !edited->empty() && edited.get() != original.get();
    if (!password->empty()) run.password = password.get();
    password = "";
    if (dictionary.get()) run.settings.customWords = Phase0::dictionary();
    run.concurrency = concurrency.get();
    run.control = control;
    run.recognize = recognizer_ ? recognizer_ : PDFJob::Recognizer(&OCREngine::recognize);

    if (worker_) worker_->join();  // an earlier run has ended: finish cleared busy
    auto mailbox = std::make_shared<Mailbox>();
    worker_.emplace([weak = weak_from_this(), mailbox, run = std::move(run)] { runThread(weak, mailbox, run); });
}

void OCRController::runThread(const std::weak_ptr<OCRController>& weak, const std::shared_ptr<Mailbox>& mailbox,
                              const Run& run) {
    // Only asks whether the controller is gone: locking it here could make
    // this thread the last owner, and the destructor joins this thread.
    if (weak.expired()) return;
    Ending ending;
    // The loaders cannot tell a missing file from a damaged one; the user
    // needs to know which.
    if (auto unreadable = unreadableOriginal(run.input)) {
        ending.status = std::move(*unreadable);
    } else {
        ending = OCRProduct::isPDF(run.input) ? runPDF(weak, mailbox, run) : runImage(run);
    }
    ending.hadEdits = run.hadEdits;
    mailbox->post([weak, ending = std::move(ending)]() mutable {
        if (auto self = weak.lock()) self->finish(std::move(ending));
    });
}

OCRController::Ending OCRController::runImage(const Run& run) {
    Ending ending;
    try {
        Raster::SourceImage loaded = Raster::image(run.input, Raster::TIFF::accepted);
        OCRAdmission& gate = OCRAdmission::shared();
        if (!gate.acquire(*run.control)) raise(ErrorCase::cancelled);
        PageResult result;
        {
            AdmissionSlot slot(gate);
            // One image is recognised to its end: a stop is only noticed
            // while waiting for the slot.
            result = run.recognize(loaded.image, loaded.orientation, 1, run.settings, [] { return false; });
        }
        ending.text = result.text();
        ending.regions = result.regions;
        if (run.control->stop() != JobControl::Stop::none) {
            ending.status = stoppedImageStatus;
        } else if (result.regions.empty()) {
            ending.status = noTextStatus;
        } else {
            ending.status = "標準OCR完了（候補領域" + std::to_string(result.regions.size()) + "件）";
        }
    } catch (...) {
        ending.status = failureMessage(std::current_exception());
    }
    return ending;
}

OCRController::Ending OCRController::runPDF(const std::weak_ptr<OCRController>& weak,
                                            const std::shared_ptr<Mailbox>& mailbox, const Run& run) {
    Ending ending;
    try {
        // Taken before the identity, so that a file replaced at any moment
        // after this is noticed before a page of it is read.
        const InputRevision started = InputRevision::read(run.input);
        const SourceIdentity identity = SourceIdentity::read(run.input, run.password);

        std::unique_ptr<JobStore> store;
        if (run.resume && run.resumeDirectory && !run.privateMode) {
            store = JobStore::resume(*run.resumeDirectory, identity, run.settings, false);
        } else {
            // A private run keeps its job in memory: it never resumes and
            // writes no job folder.
            std::optional<fs::path> parent;
            if (!run.privateMode) parent = DevPaths::jobs();
            store = JobStore::create(identity, run.settings, parent, UUID::random());
        }
        std::optional<fs::path> folder;
        if (store->directory()) folder = store->directory()->url();
        mailbox->post([weak, folder] {
            if (auto self = weak.lock()) self->resumeDirectory = folder;
        });

        PDFJob::Options options;
        options.concurrency = run.concurrency;
        options.password = run.password;
        if (run.concurrency == 0) options.workerLimit = [] { return WorkerBudget::shared().limit(); };
        options.recognize = run.recognize;
        const int64_t pageCount = identity.pageCount;
        // Pages end in any order: the line names the page just reported,
        // not a count.
        options.onPage = [weak, mailbox, pageCount](const PageRecord& record) {
            std::string line =
                "処理中: " + std::to_string(record.page) + " / " + std::to_string(pageCount) + "ページ";
            mailbox->post([weak, line = std::move(line)] {
                if (auto self = weak.lock()) self->status = line;
            });
        };
        // The same document throughout: a replaced or vanished file stops the
        // job with its pages so far, instead of recognising another
        // document's pages into this job.
        options.accessCheck = [started](const fs::path& url, int64_t) {
            OCRQueueEngine::defaultAccessCheck(url);
            if (InputRevision::read(url) != started) raise(ErrorCase::sourceChanged);
        };

        const JobSummary summary = PDFJob::run(*store, *run.control, options);
        ending.text = store->text();
        ending.regions = std::vector<TextRegion>{};
        ending.status = summaryStatus(summary, run.control->stop());
    } catch (...) {
        ending.status = failureMessage(std::current_exception());
    }
    return ending;
}

void OCRController::finish(Ending ending) {
    // The thread has posted this as its last act; joining waits only for it
    // to return.
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    // Edits typed while the run went on count as much as those before it.
    const bool keepEdits = ending.hadEdits || (!edited->empty() && edited.get() != original.get());
    if (ending.text) {
        original = *ending.text;
        if (!keepEdits) edited = *ending.text;
    }
    if (ending.regions) regions = std::move(*ending.regions);
    if (keepEdits) ending.status += editsKeptSuffix;
    status = std::move(ending.status);
    busy.set(false);
}

void OCRController::stop(JobControl::Stop request) {
    // Nothing to stop, or nothing asked: the status keeps saying what is
    // true.
    if (!busy.get() || request == JobControl::Stop::none) return;
    control->request(request);
    status = request == JobControl::Stop::pause ? pausingStatus : cancellingStatus;
}

void OCRController::saveText() {
    try {
        SecureDirectory root(DevPaths::outputs(), true);
        const std::string& text = edited.get();
        const std::vector<uint8_t> bytes(text.begin(), text.end());
        root.exportData(bytes, editedStem, "txt", std::nullopt, nullptr, false);
        status = savedStatus;
    } catch (...) {
        // Whatever went wrong, the user learns that nothing was saved.
        status = BrindlexError::message(ErrorCase::saveFailed);
    }
}

Task<void> OCRController::useOriginal() { return useOriginalTask(weak_from_this()); }

Task<void> OCRController::useOriginalTask(std::weak_ptr<OCRController> weak) {
    Task<bool> question;
    bool ask = false;
    {
        std::shared_ptr<OCRController> self = weak.lock();
        if (!self) co_return;
        ask = !self->edited->empty() && self->edited.get() != self->original.get();
        if (ask) question = self->ports_.confirm(replaceQuestion, replaceInformative, replaceLabel,
                                                    AnswerAhead::destructive);
    }
    if (ask) {
        const bool replace = co_await question;
        if (!replace) co_return;
    }
    std::shared_ptr<OCRController> self = weak.lock();
    if (!self) co_return;
    self->edited = self->original.get();
}

}  // namespace velmora
