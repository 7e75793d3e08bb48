// The print-style save as a tab asks for it: the request, the task that
// gives the save its trace and journal and turns its outcome into the status
// line. The cancel is the capture's: both saves run as the session's task.
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/OwnedWorkspace.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "capture/CaptureOutcome.hpp"
#include "capture/PrintOptions.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/WebPrinter.hpp"

namespace velmora {

namespace {

using Event = OperationTrace::Event;
using Stage = PrintOptions::Stage;

// The checkpoint the pipeline sees: the trace and the tab's status enter the
// stage, the caller's hook runs, and a cancel asked for meanwhile stops the
// save here.
Task<void> printCheckpoint(BrowserSession* session, std::shared_ptr<OperationTrace> trace,
                           std::function<Task<void>(Stage)> caller, Stage stage) {
    trace->stage(std::string(rawValue(stage)));
    session->stage = std::string(displayName(stage));
    if (caller) co_await caller(stage);
    checkCancellation();
}


}  // namespace

void BrowserSession::print(PrintOptions options, std::filesystem::path output) {
    // Checked and claimed in this one turn of the main loop, as capture().
    if (busy || captureTask) return;
    // As capture(): a page that is not there starts nothing.
    if (!holdsPage()) {
        stage = std::string(loadFailedNotice);
        return;
    }
    busy = true;
    operationPending = true;
    endedDuringSave_ = false;
    auto trace = std::make_shared<OperationTrace>(clock());
    operation = trace;
    captureTask = spawn(runPrint(std::move(options), std::move(output), std::move(trace), isPrivate));
}

Task<void> BrowserSession::runPrint(PrintOptions options, std::filesystem::path output,
                                    std::shared_ptr<OperationTrace> trace, bool privateSession) {
    auto published = std::make_shared<std::vector<std::filesystem::path>>();
    auto callerPublished = std::move(options.onPublished);
    options.onPublished = [published, trace, callerPublished](const std::filesystem::path& url) {
        published->push_back(url);
        trace->event(Event::published);
        if (callerPublished) callerPublished(url);
    };
    auto callerCheckpoint = std::move(options.checkpoint);
    options.checkpoint = [this, trace, callerCheckpoint](Stage stage) {
        return printCheckpoint(this, trace, callerCheckpoint, stage);
    };
    auto callerEvent = std::move(options.nativeEvent);
    options.nativeEvent = [trace, callerEvent](bool returned) {
        trace->stage(returned ? "nativeReturned" : "nativePrinting");
        if (callerEvent) callerEvent(returned);
    };
    auto callerObservation = std::move(options.nativeObservation);
    options.nativeObservation = [trace, callerObservation](const NativePrintObservation& observation) {
        trace->native(observation);
        if (callerObservation) callerObservation(observation);
    };

    std::shared_ptr<CaptureLifecycle> lifecycle;
    bool journalFinished = false;
    std::exception_ptr error;
    try {
        if (!privateSession) {
            lifecycle = std::make_shared<CaptureLifecycle>(Phase0Work::lifecycle(), "print", options.metadata);
            // The journal learns the page count and the outputs to expect,
            // and each file just before it is linked into place.
            auto callerLayout = std::move(options.onLayout);
            const std::optional<CaptureMetadata> metadata = options.metadata;
            const PrintOptions::Output output = options.output;
            options.onLayout = [lifecycle, callerLayout, metadata, output](int64_t pages) {
                if (metadata) {
                    CaptureMetadata counted = *metadata;
                    counted.pageCount = pages;
                    lifecycle->metadata(counted);
                }
                lifecycle->expect(PrintProduct::outputCount(pages, output));
                if (callerLayout) callerLayout(pages);
            };
            auto callerWillPublish = std::move(options.willPublish);
            options.willPublish = [lifecycle, callerWillPublish](const std::filesystem::path& url,
                                                                 const FileStamp& stamp) {
                lifecycle->prepare(url, stamp);
                if (callerWillPublish) callerWillPublish(url, stamp);
            };
        }
        Task<std::vector<std::filesystem::path>> pipeline = WebPrinter::printPDF(*this, options, output);
        std::vector<std::filesystem::path> outputs = co_await std::move(pipeline);
        if (lifecycle) {
            std::unique_ptr<CaptureHistory> history = AppHistory::required();
            lifecycle->finish(*history);
            journalFinished = true;
        }
        trace->end(Event::completed);
        stage = PrintProduct::savedMessage(outputs, output);
    } catch (...) {
        error = std::current_exception();
    }

    if (error) {
        const bool ended = std::exchange(endedDuringSave_, false);
        const ErrorCase errorCase = ended ? ErrorCase::renderFailed : CaptureOutcome::errorCode(error);
        if (lifecycle && !journalFinished) {
            try {
                std::unique_ptr<CaptureHistory> history = AppHistory::required();
                lifecycle->finish(*history, errorCase);
            } catch (...) {
                // The status line reports the error that ended the save; the
                // journal stays for the next launch's recovery.
            }
        }
        trace->end(errorCase == ErrorCase::cancelled ? Event::cancelled : Event::failed);
        stage = ended ? CaptureOutcome::failureMessage(published->size(), std::string(CaptureOutcome::pageEnded),
                                                       std::nullopt)
                      : CaptureOutcome::failureMessage(published->size(), errorCase, std::nullopt);
    }

    busy = false;
    captureTask.reset();
    operationPending = false;
}

}  // namespace velmora
