// The tall-PNG capture as a tab asks for it: the request, the task that
// gives the capture its journal, diagnostic and trace and turns its outcome
// into the status line, and the cancel.
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/OwnedWorkspace.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CaptureOutcome.hpp"
#include "capture/WebCaptureDiagnostic.hpp"
#include "webcapture/WebHooks.hpp"

namespace velmora {

namespace {

using Event = OperationTrace::Event;
using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

// The checkpoint the pipeline sees: the trace enters the stage, the caller's
// hook runs, and a cancel asked for meanwhile stops the capture here.
Task<void> tracedCheckpoint(std::shared_ptr<OperationTrace> trace,
                            std::function<Task<void>(CaptureOptions::Stage)> caller, CaptureOptions::Stage stage) {
    trace->stage(std::string(rawValue(stage)));
    if (caller) co_await caller(stage);
    checkCancellation();
}

void logReport(const WebCaptureDiagnosticReport& report) {
    // Read at every delivery: the application fills the hook once at
    // start-up, a test for its own storage root.
    const auto& sink = WebHooks::shared().logCapture;
    if (sink) sink(report);
}

}  // namespace

void BrowserSession::capture(CaptureOptions options, std::filesystem::path output) {
    // Checked and claimed in this one turn of the main loop: a second
    // request cannot slip in before the task's handle is stored.
    if (busy || captureTask) return;
    // Nothing starts for a page that is not there: no file, no journal, no
    // report, only the status line.
    if (!holdsPage()) {
        stage = std::string(loadFailedNotice);
        return;
    }
    operationPending = true;
    endedDuringSave_ = false;
    auto trace = std::make_shared<OperationTrace>(clock());
    operation = trace;
    const bool privateSession = isPrivate;
    captureDiagnosticText = std::string();
    std::shared_ptr<WebCaptureDiagnostic> diagnostic;
    if (!privateSession) {
        diagnostic = std::make_shared<WebCaptureDiagnostic>(logReport);
        diagnostic->record(Stage::prepare,
                           {{Metric::requestedWidth, static_cast<double>(options.viewportWidth.value_or(0))},
                            {Metric::scale, static_cast<double>(options.scale)}});
    }
    captureTask = spawn(runCapture(std::move(options), std::move(output), std::move(trace), std::move(diagnostic),
                                   privateSession));
}

void BrowserSession::cancel() {
    const std::shared_ptr<OperationTrace>& trace = operation.get();
    if (!captureTask || trace->terminal()) {
        trace->event(Event::lateCancel);
        return;
    }
    trace->event(Event::uiCancel);
    trace->event(Event::cancelRequested);
    captureTask->cancel();
    stage = std::string(CaptureOutcome::cancelAccepted);
    trace->event(Event::cancelUIModel);
}

Task<void> BrowserSession::runCapture(CaptureOptions options, std::filesystem::path output,
                                      std::shared_ptr<OperationTrace> trace,
                                      std::shared_ptr<WebCaptureDiagnostic> diagnostic, bool privateSession) {
    // Every URL the pipeline published, also when it fails later: the status
    // line says how many files stay.
    auto published = std::make_shared<std::vector<std::filesystem::path>>();
    auto callerPublished = std::move(options.onPublished);
    options.onPublished = [published, trace, callerPublished](const std::filesystem::path& url) {
        published->push_back(url);
        trace->event(Event::published);
        if (callerPublished) callerPublished(url);
    };
    auto callerCheckpoint = std::move(options.checkpoint);
    options.checkpoint = [trace, callerCheckpoint](CaptureOptions::Stage stage) {
        return tracedCheckpoint(trace, callerCheckpoint, stage);
    };
    options.diagnostic = diagnostic;
    // A private session keeps whatever journal its caller handed in.
    std::shared_ptr<CaptureLifecycle> lifecycle = options.lifecycle;
    bool journalFinished = false;

    std::exception_ptr error;
    try {
        if (!privateSession) {
            lifecycle = std::make_shared<CaptureLifecycle>(Phase0Work::lifecycle(), "capture", options.metadata);
            options.lifecycle = lifecycle;
        }
        // The pipeline's and the hook's arguments are copied in statements of
        // their own: g++ 12 mishandles an aggregate built inside a co_await.
        Task<CaptureReceipt> pipeline = captureNow(options, output);
        CaptureReceipt receipt = co_await std::move(pipeline);

        if (diagnostic) diagnostic->record(Stage::history);
        if (lifecycle) {
            std::unique_ptr<CaptureHistory> history = AppHistory::required();
            lifecycle->finish(*history);
            journalFinished = true;
        }

        const std::string saved = CaptureOutcome::savedMessage(receipt);
        stage = saved;
        if (options.completed) {
            trace->stage("ocr");
            stage = std::string(CaptureOutcome::ocrRunning);
            Task<std::optional<std::string>> handing = options.completed(receipt);
            std::optional<std::string> note = co_await std::move(handing);
            stage = note ? saved + " " + *note : saved;
        }
        trace->end(Event::completed);
        if (diagnostic) {
            diagnostic->record(Stage::completed);
            captureDiagnosticText = diagnostic->text();
        } else {
            captureDiagnosticText = std::string();
        }
    } catch (...) {
        error = std::current_exception();
    }

    if (error) {
        std::optional<Stage> code;
        if (diagnostic) {
            diagnostic->fail(error);
            captureDiagnosticText = diagnostic->text();
            code = diagnostic->stage();
        } else {
            captureDiagnosticText = std::string();
        }
        // The history records a save whose page ended as one that failed to
        // render, not as one the user stopped.
        const bool ended = std::exchange(endedDuringSave_, false);
        const ErrorCase errorCase = ended ? ErrorCase::renderFailed : CaptureOutcome::errorCode(error);
        if (lifecycle && !journalFinished) {
            try {
                std::unique_ptr<CaptureHistory> history = AppHistory::required();
                lifecycle->finish(*history, errorCase);
            } catch (...) {
                // The status line reports the error that ended the capture;
                // a journal that cannot be finished now stays unfinished on
                // disk, and the next launch's recovery puts what it records
                // into the history.
            }
        }
        trace->end(errorCase == ErrorCase::cancelled ? Event::cancelled : Event::failed);
        stage = ended ? CaptureOutcome::failureMessage(published->size(), std::string(CaptureOutcome::pageEnded), code)
                      : CaptureOutcome::failureMessage(published->size(), CaptureOutcome::failureSentence(error), code);
    }

    captureTask.reset();
    operationPending = false;
}

}  // namespace velmora
