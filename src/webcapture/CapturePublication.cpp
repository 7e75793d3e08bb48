#include "webcapture/CapturePublication.hpp"

#include "foundation/Digest.hpp"
#include "foundation/JSON.hpp"
#include "history/CaptureLifecycle.hpp"
#include "capture/CaptureNaming.hpp"
#include "webcapture/CaptureRun.hpp"

namespace velmora {

namespace CapturePublication {

namespace {

using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

constexpr const char* receiptStem = "capture-receipt";

double d(int64_t v) { return static_cast<double>(v); }

}  // namespace

std::string partName(const std::optional<std::string>& stem, int64_t index, int64_t count, int64_t yCSS) {
    if (stem) return CaptureNaming::part(*stem, index, count);
    return "capture-" + std::to_string(yCSS);
}

Task<void> publishPart(CaptureRun& run, ComposedPart part) {
    const CaptureOptions& options = run.options;
    checkCancellation();
    if (options.checkpoint) {
        co_await options.checkpoint(CaptureOptions::Stage::saving);
        checkCancellation();
    }

    const PlannedCapture& planned = *run.planned;
    const std::string name = partName(options.filenameStem, static_cast<int64_t>(run.parts.size()),
                                      planned.plan.partCount, part.span.top);
    const double bytes = d(static_cast<int64_t>(part.png.size()));
    run.record(Stage::write, {{Metric::outputBytes, bytes}});

    SecureDirectory::WillPublish announce;
    if (options.lifecycle) {
        // The journal learns of each name before the file can appear under
        // it, so a crash in between still finds the file at the next launch.
        CaptureLifecycle* journal = options.lifecycle.get();
        announce = [journal](const std::filesystem::path& url, const FileStamp& stamp) { journal->prepare(url, stamp); };
    }
    const std::filesystem::path url =
        planned.output.exportData(part.png, name, "png", std::nullopt, announce, options.filenameStem.has_value());
    if (options.onPublished) options.onPublished(url);

    CapturePart published;
    published.file = url.filename().string();
    published.yCSS = part.span.top;
    published.heightCSS = part.span.height;
    published.widthPixels = part.image->width();
    published.heightPixels = part.image->height();
    published.sha256 = Digest::data(part.png);
    run.record(Stage::written, {{Metric::outputBytes, bytes},
                                {Metric::pixelWidth, d(published.widthPixels)},
                                {Metric::pixelHeight, d(published.heightPixels)}});
    run.parts.push_back(std::move(published));
    // The part's bitmap and bytes go with `part` here, before the next part
    // is taken.
}

Task<CaptureReceipt> completeCapture(CaptureRun& run) {
    CaptureReceipt receipt;
    std::exception_ptr error;
    try {
        const CapturePlan& plan = run.planned->plan;
        receipt.widthCSS = plan.width;
        receipt.heightCSS = plan.documentHeight;
        if (plan.heightChanged()) receipt.plannedHeightCSS = plan.plannedHeight;
        receipt.scale = plan.scale;
        receipt.splitReason = plan.splitReason();
        receipt.memoryPlan = plan.memoryPlan(run.observed);
        receipt.xCSS = co_await run.session.evaluateInteger("window['" + run.pageStateKey + "'].x");
        receipt.parts = run.parts;
        checkCancellation();
        run.record(Stage::receipt);
        if (run.options.writeReceipt) {
            // Beside the images but not one of them: neither the journal nor
            // the caller's onPublished hears of it.
            run.planned->output.exportData(JSON::encode(receipt), receiptStem, "json", std::nullopt, nullptr, false);
        }
        run.record(Stage::cleanup);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        co_await run.fail(error);
        std::rethrow_exception(error);
    }

    co_await run.restore();
    if (run.options.afterCommit) {
        // Still busy and still admitted while it runs: the caller's last word
        // on a committed capture comes before another capture may start.
        try {
            co_await run.options.afterCommit();
        } catch (...) {
            error = std::current_exception();
        }
    }
    run.release();
    if (error) std::rethrow_exception(error);
    co_return receipt;
}

}  // namespace CapturePublication

Task<CaptureReceipt> BrowserSession::captureNow(CaptureOptions options, std::filesystem::path output) {
    // Each step's arguments are built in statements of their own: g++ 12
    // destroys twice a temporary with non-trivial members that is made
    // inside a co_await expression.
    Task<std::unique_ptr<CaptureRun>> preparing = prepareCapture(std::move(options));
    std::unique_ptr<CaptureRun> run = co_await std::move(preparing);
    CaptureRun* current = run.get();
    PartHandOver publish = [current](ComposedPart part) {
        return CapturePublication::publishPart(*current, std::move(part));
    };
    Task<void> parts = captureParts(*run, std::move(output), std::move(publish));
    co_await std::move(parts);
    co_return co_await CapturePublication::completeCapture(*run);
}

}  // namespace velmora
