#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"

namespace velmora {

// One published PNG of a capture: where it sits in the page (CSS pixels),
// its size in pixels and the digest of its bytes.
struct CapturePart {
    std::string file;
    int64_t yCSS = 0;
    int64_t heightCSS = 0;
    int64_t widthPixels = 0;
    int64_t heightPixels = 0;
    std::string sha256;

    bool operator==(const CapturePart&) const = default;
};

// What a capture produced, parts in page order. Decoding takes any values;
// orderedFiles is the check before the files are trusted.
struct CaptureReceipt {
    int64_t widthCSS = 0;
    int64_t heightCSS = 0;
    int64_t scale = 1;
    // "memoryBudget" when the page was split to fit the memory budget.
    std::optional<std::string> splitReason;
    std::vector<CapturePart> parts;
    std::optional<std::map<std::string, int64_t>> memoryPlan;
    std::optional<int64_t> xCSS;
    // The height the capture planned, present only when the page became
    // shorter while it was taken and the last part was cropped to the
    // document's real end (heightCSS).
    std::optional<int64_t> plannedHeightCSS{};

    // The part files in page order, once the parts cover the page from 0 to
    // heightCSS without gap or overlap, each has a plain file name and the
    // pixel size of its CSS size at the receipt's scale, and each file (read
    // through the folder, no link followed) still hashes to its digest.
    // A receipt that does not hold together (numbers past the 64-bit range
    // included) is renderFailed, a file whose bytes changed sourceChanged,
    // and a file that cannot be read fails with the read's error. Nothing is
    // returned unless every part passes.
    std::vector<std::filesystem::path> orderedFiles(const std::filesystem::path& folder) const;

    bool operator==(const CaptureReceipt&) const = default;
};

void to_json(Json& j, const CapturePart& p);
void from_json(const Json& j, CapturePart& p);
// Absent optionals are left out, and read back as absent.
void to_json(Json& j, const CaptureReceipt& r);
void from_json(const Json& j, CaptureReceipt& r);

}  // namespace velmora
