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

}  // namespace velmora::fuzz
