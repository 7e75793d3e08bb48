#pragma once

// Values the seed writer and the targets must agree on: the seeds are
// written for them, and a target reads its input against them.

#include <string>

#include "foundation/Digest.hpp"
#include "ocrjobs/SourceIdentity.hpp"

namespace velmora::fuzz {

// The document every seeded job and queue input was made from.
inline SourceIdentity fixtureSource() {
    return SourceIdentity("/fuzz/source/scan.pdf", 4096, 3, Digest::data(std::string_view("velmora fuzz source")));
}

inline constexpr const char* fallbackID = "6F0D3C8E-2B7A-4C51-9E8D-1A2B3C4D5E6F";

// The queue and its one input whose folder the edit journal's target reads:
// the seeded records name them, so that replaying reaches their pages.
inline constexpr const char* journalQueueID = "3C1B7A52-9D4E-4F60-8A1B-2C3D4E5F6A7B";
inline constexpr const char* journalInputID = "8E2F4A61-7B3C-4D5E-9F0A-1B2C3D4E5F60";
// Its first page is completed with this result checksum.
inline std::string journalPageChecksum() { return std::string(64, 'a'); }

}  // namespace velmora::fuzz
