#pragma once

#include <cmath>
#include <limits>
#include <type_traits>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora {

using Json = nlohmann::json;
using Date = std::chrono::system_clock::time_point;

// The one encoder and decoder of every persisted document. Equal values always
// give identical bytes: two-space indentation, " : " between key and value,
// keys in ascending byte order, raw UTF-8, dates as whole-second UTC ISO 8601.
namespace JSON {

// Every failure to read a document as its record: malformed JSON, a missing
// key, a value of the wrong type or outside its set. Readers decide what it
// becomes (a partial read, or their own error case).
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The canonical text of a JSON value.
std::string print(const Json& value);
std::vector<uint8_t> bytes(const Json& value);

template <typename T>
std::vector<uint8_t> encode(const T& value) {
    return bytes(Json(value));
}

// Parses bytes into a JSON value; malformed input is a DecodeError.
Json parse(const std::vector<uint8_t>& data);
Json parse(std::string_view text);

// A number converted to an arithmetic type it does not fit is undefined
// behaviour (a double into an integer or a float) or a silent wrap (an
// integer into a narrower or unsigned one): such a value is a DecodeError.
template <typename T>
void checkNumberFits(const Json& j) {
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
        using Limits = std::numeric_limits<T>;
        if (j.is_number_float()) {
            const double v = j.get<double>();
            if constexpr (std::is_integral_v<T>) {
                const double below = std::is_signed_v<T> ? static_cast<double>(Limits::lowest()) : -1.0;
                const double above = std::ldexp(1.0, Limits::digits);
                if (!std::isfinite(v) || !(v > below || (std::is_signed_v<T> && v == below)) || !(v < above))
                    throw DecodeError("number out of range");
            } else if (std::isfinite(v) && std::fabs(v) > static_cast<double>(Limits::max())) {
                throw DecodeError("number out of range");
            }
        } else if constexpr (std::is_integral_v<T>) {
            if (j.is_number_unsigned()) {
                if (j.get<uint64_t>() > static_cast<uint64_t>(Limits::max())) throw DecodeError("number out of range");
            } else if (j.is_number_integer()) {
                const int64_t v = j.get<int64_t>();
                if constexpr (std::is_signed_v<T>) {
                    if (v < static_cast<int64_t>(Limits::lowest()) || v > static_cast<int64_t>(Limits::max()))
                        throw DecodeError("number out of range");
                } else if (v < 0 || static_cast<uint64_t>(v) > static_cast<uint64_t>(Limits::max())) {
                    throw DecodeError("number out of range");
                }
            }
        }
    }
}

template <typename T>
T decode(const Json& j) {
    checkNumberFits<T>(j);
    try {
        return j.get<T>();
    } catch (const nlohmann::json::exception& e) {
        throw DecodeError(e.what());
    }
}

template <typename T>
T decode(const std::vector<uint8_t>& data) {
    return decode<T>(parse(data));
}

// "2026-05-01T09:30:00Z"; sub-second parts are dropped.
std::string formatDate(Date date);
// Accepts only the whole-second form above.
Date parseDate(std::string_view text);

// Strict readers for records: the key must be present with the right type.
const Json& member(const Json& object, std::string_view key);
void requireObject(const Json& j, std::string_view what);
std::string requireString(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
// A number (never a Boolean) holding a whole value in range: 430 and 430.0,
// not 430.5, true or "430".
std::optional<int64_t> integerValue(const Json& value);
int64_t requireInt(const Json& object, std::string_view key);
uint64_t requireUInt(const Json& object, std::string_view key);
double requireDouble(const Json& object, std::string_view key);

// 32-bit floats (confidences) are written as their shortest decimal form, so
// 0.79f is stored as 0.79 rather than as the nearest double's 17 digits, and
// read back to the identical float. A number outside the float range is a
// DecodeError rather than an infinity.
Json float32(float value);
float toFloat32(const Json& value, std::string_view what);
float requireFloat(const Json& object, std::string_view key);

template <typename T>
T require(const Json& object, std::string_view key) {
    return decode<T>(member(object, key));
}

template <typename T>
std::optional<T> optional(const Json& object, std::string_view key) {
    auto it = object.find(std::string(key));
    if (it == object.end() || it->is_null()) return std::nullopt;
    return decode<T>(*it);
}

template <typename T>
void putOptional(Json& object, std::string_view key, const std::optional<T>& value) {
    if (value) object[std::string(key)] = *value;
}

}  // namespace JSON
}  // namespace velmora

namespace nlohmann {
template <>
struct adl_serializer<velmora::Date> {
    static void to_json(json& j, const velmora::Date& d) { j = velmora::JSON::formatDate(d); }
    static void from_json(const json& j, velmora::Date& d) {
        if (!j.is_string()) throw velmora::JSON::DecodeError("date: expected a string");
        d = velmora::JSON::parseDate(j.get_ref<const std::string&>());
    }
};
}  // namespace nlohmann
