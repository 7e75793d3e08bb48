#include "ocrjobs/PDFJob.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/CancellationError.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRAdmission.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/page/OCRProduct.hpp"
#include "recognition/engine/RecognitionProgress.hpp"

namespace velmora::PDFJob {

namespace {

Recognizer recognizerFor(const Options& options) {
    if (options.recognize) return options.recognize;
    return &OCREngine::recognize;
}

bool blocksDocument(ErrorCase e) {
    return e == ErrorCase::accessDenied || e == ErrorCase::sourceMissing || e == ErrorCase::sourceChanged;
}

int clampLimit(int wanted) { return wanted >= 2 ? 2 : 1; }

PageRecord recordOf(const JobStore& store, int64_t page) {
    const Checkpoint cp = store.checkpoint();
    return cp.pages.at(static_cast<std::size_t>(page - 1));
}

// Finished pages travel from the workers to the run's own thread.
struct Inbox {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<PageOutcome> done;

    // Notified under the lock: once the run has taken the last outcome it
    // may return and destroy the inbox, which a notification made after the
    // unlock could still be touching.
    void post(PageOutcome o) {
        std::lock_guard guard(lock);
        done.push_back(std::move(o));
        ready.notify_one();
    }

    PageOutcome take() {
        std::unique_lock guard(lock);
        ready.wait(guard, [&] { return !done.empty(); });
        PageOutcome o = std::move(done.front());
        done.pop_front();
        return o;
    }
};

// The threads that work one run's pages: at most two, living as long as the
// run. The recogniser keeps its loaded engine per thread, so a thread per
// page would load an engine for every page; a lane loads one and keeps it
// for the pages after.
class Lanes {
public:
    Lanes(Inbox& inbox, std::function<PageOutcome(int64_t page)> work) : inbox_(inbox), work_(std::move(work)) {}
    ~Lanes() { close(); }
    Lanes(const Lanes&) = delete;
    Lanes& operator=(const Lanes&) = delete;

    // A new lane only when every lane is busy: a lane that has finished
    // its page counts as free before its outcome reaches the run.
    void submit(int64_t page) {
        std::lock_guard guard(lock_);
        queue_.push_back(page);
        if (threads_.size() < maxLanes && threads_.size() < working_ + queue_.size()) {
            threads_.emplace_back([this] { loop(); });
        } else {
            ready_.notify_one();
        }
    }

    // Works off what was submitted, then joins every lane.
    void close() {
        {
            std::lock_guard guard(lock_);
            closed_ = true;
            ready_.notify_all();
        }
        for (auto& t : threads_) {
            if (t.joinable()) t.join();
        }
        threads_.clear();
    }

private:
    static constexpr std::size_t maxLanes = 2;

    void loop() {
        std::unique_lock guard(lock_);
        for (;;) {
            ready_.wait(guard, [&] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const int64_t page = queue_.front();
            queue_.pop_front();
            working_ += 1;
            guard.unlock();
            PageOutcome outcome = work_(page);
            guard.lock();
            working_ -= 1;
            guard.unlock();
            inbox_.post(std::move(outcome));
            guard.lock();
        }
    }

    Inbox& inbox_;
    std::function<PageOutcome(int64_t page)> work_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<int64_t> queue_;
    std::size_t working_ = 0;
    bool closed_ = false;
    std::vector<std::jthread> threads_;
};

PageOutcome pageWorker(const std::filesystem::path& source, int64_t page, const OCRSettings& settings,
                       const JobControl& control, const Options& options, std::stop_token stop) {
    PageOutcome cancelledOutcome{page, ErrorCase::cancelled, false};
    OCRAdmission& gate = OCRAdmission::shared();
    if (!gate.acquire(control, stop)) return cancelledOutcome;
    AdmissionSlot slot(gate);
    if (options.failPages.count(page)) return PageOutcome{page, ErrorCase::injectedFailure, false};
    return recognizePage(source, page, settings, options.password, control, options, stop);
}

}  // namespace

PageOutcome recognizePage(const std::filesystem::path& source, int64_t page, const OCRSettings& settings,
                          const std::optional<std::string>& password, const JobControl& control,
                          const Options& options, std::stop_token stop) {
    RasterImage image;
    uint32_t orientation = 1;
    try {
        if (options.accessCheck) options.accessCheck(source, page);
        if (OCRProduct::isPDF(source)) {
            image = Raster::pdf(source, static_cast<int>(page - 1), settings.dpi, password);
        } else {
            Raster::SourceImage loaded = Raster::image(source);
            image = std::move(loaded.image);
            orientation = loaded.orientation;
        }
        if (options.accessCheck) options.accessCheck(source, page);
    } catch (const BrindlexError& e) {
        return PageOutcome{page, e.errorCase(), false};
    } catch (...) {
        return PageOutcome{page, ErrorCase::invalidInput, false};
    }
    const Recognizer recognize = recognizerFor(options);
    const std::function<bool()> cancelled = [&control, &stop] {
        return control.stopRequested() || stop.stop_requested();
    };
    // The page's reading tells how far it has come, and a cancel stops it
    // part way, its page left pending: a page of a tall capture can take
    // minutes. A pause still waits for the page, as it promises.
    RecognitionProgress::Watch watch;
    if (options.onReading) watch.progress = [&options, page](double fraction) { options.onReading(page, fraction); };
    watch.stop = [&control, &stop] { return control.stop() == JobControl::Stop::cancel || stop.stop_requested(); };
    const RecognitionProgress::Scope watched(std::move(watch));
    try {
        PageResult result = recognize(image, orientation, page, settings, cancelled);
        return PageOutcome{page, std::move(result), true};
    } catch (const CancellationError&) {
        return PageOutcome{page, ErrorCase::cancelled, true};
    } catch (const BrindlexError& e) {
        return PageOutcome{page, e.errorCase(), true};
    } catch (...) {
        return PageOutcome{page, ErrorCase::renderFailed, true};
    }
}

JobSummary run(JobStore& store, JobControl& control, const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    const Checkpoint initial = store.checkpoint();
    const std::filesystem::path source = initial.source.path;
    const OCRSettings settings = initial.settings;
    std::vector<int64_t> pendingList;
    for (const auto& r : initial.pages) {
        if (r.state == PageState::pending) pendingList.push_back(r.page);
    }

    // Declared before the lanes, so they are joined (in the destructor of
    // `lanes`) while everything they use still exists.
    std::stop_source group;
    std::optional<std::stop_callback<std::function<void()>>> forward;
    if (options.stop.stop_possible()) {
        forward.emplace(options.stop, std::function<void()>([&group] { group.request_stop(); }));
    }
    Inbox inbox;
    const std::stop_token token = group.get_token();
    Lanes lanes(inbox, [&](int64_t page) { return pageWorker(source, page, settings, control, options, token); });

    std::size_t next = 0;
    int inFlight = 0;
    int64_t submitted = 0;
    std::optional<ErrorCase> blocked;
    auto limit = [&] { return clampLimit(options.workerLimit ? options.workerLimit() : options.concurrency); };
    auto notify = [&](int64_t page) {
        if (options.onPage) options.onPage(recordOf(store, page));
    };
    auto startPages = [&] {
        while (inFlight < limit()) {
            if (next >= pendingList.size() || control.stopRequested()) return;
            const int64_t page = pendingList[next++];
            store.begin(page);
            notify(page);
            inFlight += 1;
            lanes.submit(page);
        }
    };

    try {
        startPages();
        while (inFlight > 0) {
            PageOutcome o = inbox.take();
            inFlight -= 1;
            if (o.submittedToVision) submitted += 1;
            const int64_t page = o.page;
            if (auto* result = std::get_if<PageResult>(&o.outcome)) {
                if (options.commitBoundary) options.commitBoundary(page, false);
                try {
                    store.commit(*result);
                } catch (...) {
                    control.request(JobControl::Stop::pause);
                    try {
                        store.deferPage(page);
                    } catch (...) {
                        // The commit's error is the one to report; the page
                        // is pending again on the next resume either way.
                    }
                    throw;
                }
                if (options.commitBoundary) options.commitBoundary(page, true);
            } else {
                const ErrorCase error = std::get<ErrorCase>(o.outcome);
                if (error == ErrorCase::cancelled) {
                    store.deferPage(page);
                } else if (blocksDocument(error)) {
                    store.deferPage(page);
                    blocked = error;
                    control.request(JobControl::Stop::pause);
                } else {
                    store.fail(page, error);
                }
            }
            notify(page);
            startPages();
        }
    } catch (...) {
        group.request_stop();
        lanes.close();  // pages not yet admitted end at once; outcomes are discarded
        throw;
    }

    JobSummary summary;
    const Checkpoint final = store.checkpoint();
    for (const auto& r : final.pages) {
        if (r.state == PageState::completed) summary.completed += 1;
        if (r.state == PageState::failed) summary.failed.push_back(r.page);
        if (r.state == PageState::pending || r.state == PageState::inProgress) summary.pending += 1;
    }
    summary.submittedToVision = submitted;
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    summary.blockedError = blocked;
    return summary;
}

}  // namespace velmora::PDFJob
