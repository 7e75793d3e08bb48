#pragma once

#include <cstdint>

namespace velmora {

// A range into text, counted in UTF-16 code units, the unit every highlight,
// search match and low-confidence span of a result text is measured in.
struct TextRange {
    int64_t location = 0;
    int64_t length = 0;

    int64_t end() const { return location + length; }

    bool operator==(const TextRange&) const = default;
};

}  // namespace velmora
