#include "webcapture/PageValue.hpp"

#include <cmath>

#include "foundation/BrindlexError.hpp"

namespace velmora {

PageValue PageValue::fromJSC(JSCValue* value) {
    PageValue out;
    if (!value || jsc_value_is_undefined(value) || jsc_value_is_null(value)) return out;
    if (jsc_value_is_boolean(value)) {
        out.kind = Kind::boolean;
        out.boolean = jsc_value_to_boolean(value);
        out.number = out.boolean ? 1 : 0;
    } else if (jsc_value_is_number(value)) {
        out.kind = Kind::number;
        out.number = jsc_value_to_double(value);
    } else if (jsc_value_is_string(value)) {
        out.kind = Kind::string;
        char* text = jsc_value_to_string(value);
        out.string = text ? text : "";
        g_free(text);
    } else {
        out.kind = Kind::other;
    }
    return out;
}

std::optional<std::string> PageValue::stringValue() const {
    if (kind != Kind::string) return std::nullopt;
    return string;
}

std::optional<bool> PageValue::booleanValue() const {
    if (kind != Kind::boolean) return std::nullopt;
    return boolean;
}

double PageValue::nonNegative() const {
    if (kind != Kind::number && kind != Kind::boolean) raise(ErrorCase::dimensionOverflow);
    if (!std::isfinite(number) || number < 0) raise(ErrorCase::dimensionOverflow);
    return number;
}

int64_t PageValue::integer() const {
    double v = nonNegative();
    if (v > largestInteger) raise(ErrorCase::dimensionOverflow);
    return static_cast<int64_t>(v);
}

}  // namespace velmora
