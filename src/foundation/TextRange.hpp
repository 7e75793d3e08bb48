#pragma once

#include <cstdint>

#include "foundation/JSON.hpp"

namespace velmora {

// A range into result text, in UTF-16 code units, as every text range of the
// editor and the search is counted.
struct TextRange {
    int64_t location = 0;
    int64_t length = 0;

    int64_t end() const { return location + length; }
    bool operator==(const TextRange&) const = default;
};

}  // namespace velmora
