#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/SecureDirectory.hpp"
#include "foundation/Task.hpp"
#include "webcapture/CaptureReceipt.hpp"

namespace velmora {

class CaptureRun;

// The end of a tall-PNG capture: each part's PNG goes into the output folder
// as soon as it is composed, announced to the journal before it is visible,
// so every finished part is safely on disk before the next one is taken.
// After the last part comes the receipt, the page put back and the release.
namespace CapturePublication {

// The file stem of a part: with a stem, the stem alone for a single part
// and the stem with "_001", "_002" ... otherwise; without one, "capture-"
// and the part's top.
std::string partName(const std::optional<std::string>& stem, int64_t index, int64_t count, int64_t yCSS);

// Publishes one part of a capture of `count` parts. `part` gives its rows
// (yCSS, heightCSS) and pixel size; its file name and digest are filled in
// here, and it is appended to the run's parts. A cancellation or a
// checkpoint at `saving` stops it before anything is written; an error of
// the export or of the journal is thrown (earlier parts stay published).
// The caller's failure path puts the page back.
Task<void> publishPart(CaptureRun& run, const SecureDirectory& output, int64_t count, CapturePart part,
                       std::vector<uint8_t> png);

// After the last part: the receipt from `outline` (sizes, scale, split
// reason and memory plan), the run's parts and the page's saved horizontal
// position, the receipt file when asked for, then the page and the view put
// back, `afterCommit`, and everything the capture held given back in order.
// A failure before the restore goes through the run's failure path; either
// way the error is thrown after the release.
Task<CaptureReceipt> completeCapture(CaptureRun& run, const SecureDirectory& output, CaptureReceipt outline);

}  // namespace CapturePublication
}  // namespace velmora
