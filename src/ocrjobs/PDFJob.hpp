#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "foundation/Raster.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/JobControl.hpp"

namespace velmora {

class JobStore;

// What a run leaves: the checkpoint's counts when it ends, and what this run
// did.
struct JobSummary {
    int64_t completed = 0;
    std::vector<int64_t> failed;
    int64_t pending = 0;
    int64_t submittedToVision = 0;
    double seconds = 0;
    // The last document-blocking error (accessDenied, sourceMissing,
    // sourceChanged) applied to a page in this run.
    std::optional<ErrorCase> blockedError;
};

// What one page's worker hands back.
struct PageOutcome {
    int64_t page = 0;
    std::variant<PageResult, ErrorCase> outcome;
    bool submittedToVision = false;
};

// Recognises the pending pages of one job, at most two at once, behind the
// process-wide admission gate, committing or failing each page as soon as it
// is done.
namespace PDFJob {

// One page image to a page result; `cancelled` turns true once a stop is
// requested. Errors: a BrindlexError, the task-cancellation error, or any
// other error.
using Recognizer = std::function<PageResult(const RasterImage& image, uint32_t orientation, int64_t page,
                                            const OCRSettings& settings, const std::function<bool()>& cancelled)>;

struct Options {
    // Pages wanted in flight when no worker limit is given (the queue passes 1).
    int concurrency = 1;
    std::optional<std::string> password;
    // Pages whose recognition is replaced by injectedFailure.
    std::set<int64_t> failPages;
    // Twice per started page: when begun, and when its outcome is applied.
    std::function<void(const PageRecord&)> onPage;
    // Read before the first page and after every finished one, in place of
    // concurrency.
    std::function<int()> workerLimit;
    // Just before a recognised page is committed (false) and just after (true);
    // an error ends the run.
    std::function<void(int64_t page, bool committed)> commitBoundary;
    // In the page's worker, before and after rasterising; an error becomes the
    // page's outcome.
    std::function<void(const std::filesystem::path& source, int64_t page)> accessCheck;
    // The recogniser; OCREngine::recognize when empty.
    Recognizer recognize;
    // How far the reading of a page has come (RecognitionProgress), from
    // the page's worker.
    std::function<void(int64_t page, double fraction)> onReading;
    // The caller's cancellation: workers still waiting for admission end as
    // cancelled.
    std::stop_token stop;
};

// Throws only when the store itself fails (begin, commit, fail, a deferral's
// save) or commitBoundary throws; every worker is stopped and joined first.
// No thread outlives the call.
JobSummary run(JobStore& store, JobControl& control, const Options& options);

// Loads and recognises one page; never throws.
PageOutcome recognizePage(const std::filesystem::path& source, int64_t page, const OCRSettings& settings,
                          const std::optional<std::string>& password, const JobControl& control,
                          const Options& options, std::stop_token stop);

}  // namespace PDFJob
}  // namespace velmora
