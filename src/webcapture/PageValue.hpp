#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <jsc/jsc.h>

namespace velmora {

// What a page script handed back, reduced to the kinds a capture reads.
// undefined and null are both `null`; objects, arrays and functions are
// `other`.
struct PageValue {
    enum class Kind { null, number, boolean, string, other };

    // The largest whole number a page may report for a length.
    static constexpr double largestInteger = 2147483647.0;

    Kind kind = Kind::null;
    double number = 0;
    bool boolean = false;
    std::string string;

    static PageValue fromJSC(JSCValue* value);

    bool isNull() const noexcept { return kind == Kind::null; }
    std::optional<std::string> stringValue() const;
    std::optional<bool> booleanValue() const;

    // The value as a length: a number (a boolean counts as 1 or 0) that is
    // finite, not negative and at most largestInteger, truncated toward zero.
    // Anything else is dimensionOverflow.
    int64_t integer() const;
    // The same without the upper bound and the truncation.
    double nonNegative() const;
};

}  // namespace velmora
