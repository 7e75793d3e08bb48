#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Task.hpp"
#include "webcapture/CaptureComposition.hpp"
#include "capture/CaptureReceipt.hpp"

namespace velmora {

class CaptureRun;

// The end of a tall-PNG capture: each part's PNG goes into the output folder
// as soon as it is composed, announced to the journal before it is visible,
// so every finished part is safely on disk before the next one is taken.
// After the last part come the receipt, the page put back and the release.
namespace CapturePublication {

// The file stem of a part: with a stem, the stem alone for a single part
// and the stem with "_001", "_002" ... otherwise; without one, "capture-"
// and the part's top.
std::string partName(const std::optional<std::string>& stem, int64_t index, int64_t count, int64_t yCSS);

// Publishes one composed part of a planned run into the plan's output folder
// and appends it to the run's parts. A cancellation or the checkpoint at
// `saving` stops it before anything is written; an error of the export or
// of the journal is thrown, and the parts published before stay.
Task<void> publishPart(CaptureRun& run, ComposedPart part);

// After the last part: the receipt (with the memory figures and the page's
// saved horizontal position), the receipt file when asked for, then the
// page and the view put back, `afterCommit`, and everything the capture held
// given back in order. A failure before the restore goes through the run's
// failure path; either way an error is thrown only after the release.
Task<CaptureReceipt> completeCapture(CaptureRun& run);

}  // namespace CapturePublication
}  // namespace velmora
