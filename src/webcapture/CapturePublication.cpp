#include "webcapture/CapturePublication.hpp"

#include "foundation/Digest.hpp"
#include "foundation/JSON.hpp"
#include "history/CaptureLifecycle.hpp"
#include "webcapture/CaptureNaming.hpp"
#include "webcapture/CaptureRun.hpp"

namespace velmora::CapturePublication {

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

Task<void> publishPart(CaptureRun& run, const SecureDirectory& output, int64_t count, CapturePart part,
                       std::vector<uint8_t> png) {
    const CaptureOptions& options = run.options;
    checkCancellation();
    if (options.checkpoint) {
        co_await options.checkpoint(CaptureOptions::Stage::saving);
        checkCancellation();
    }

    const std::string name =
        partName(options.filenameStem, static_cast<int64_t>(run.parts.size()), count, part.yCSS);
    const double bytes = d(static_cast<int64_t>(png.size()));
    run.record(Stage::write, {{Metric::outputBytes, bytes}});

    SecureDirectory::WillPublish announce;
    if (options.lifecycle) {
        // The journal learns of each name before the file can appear under
        // it, so a crash in between still finds the file on the next launch.
        CaptureLifecycle* journal = options.lifecycle.get();
        announce = [journal](const std::filesystem::path& url, const FileStamp& stamp) { journal->prepare(url, stamp); };
    }
    const std::filesystem::path url =
        output.exportData(png, name, "png", std::nullopt, announce, options.filenameStem.has_value());
    if (options.onPublished) options.onPublished(url);
    run.record(Stage::written, {{Metric::outputBytes, bytes},
                                {Metric::pixelWidth, d(part.widthPixels)},
                                {Metric::pixelHeight, d(part.heightPixels)}});

    part.file = url.filename().string();
    part.sha256 = Digest::data(png);
    run.parts.push_back(std::move(part));
}

Task<CaptureReceipt> completeCapture(CaptureRun& run, const SecureDirectory& output, CaptureReceipt outline) {
    CaptureReceipt receipt = std::move(outline);
    std::exception_ptr error;
    try {
        receipt.xCSS = co_await run.session.evaluateInteger("window['" + run.pageStateKey + "'].x");
        receipt.parts = run.parts;
        checkCancellation();
        run.record(Stage::receipt);
        if (run.options.writeReceipt) {
            // Beside the images but not one of them: neither the journal nor
            // the caller's onPublished hears of it.
            output.exportData(JSON::encode(receipt), receiptStem, "json", std::nullopt, nullptr, false);
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
        // on a committed capture comes before anyone else may capture.
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

}  // namespace velmora::CapturePublication
