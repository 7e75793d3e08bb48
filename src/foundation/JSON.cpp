#include "foundation/JSON.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace velmora::JSON {

namespace {

void indent(std::string& out, int depth) { out.append(static_cast<std::size_t>(depth) * 2, ' '); }

void printValue(const Json& v, std::string& out, int depth) {
    switch (v.type()) {
    case Json::value_t::object: {
        if (v.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        bool first = true;
        // nlohmann's default object is a std::map: iteration is ascending byte order.
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (!first) out += ",\n";
            first = false;
            indent(out, depth + 1);
            out += Json(it.key()).dump(-1, ' ', false, Json::error_handler_t::strict);
            out += " : ";
            printValue(it.value(), out, depth + 1);
        }
        out += "\n";
        indent(out, depth);
        out += "}";
        return;
    }
    case Json::value_t::array: {
        if (v.empty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        bool first = true;
        for (const auto& item : v) {
            if (!first) out += ",\n";
            first = false;
            indent(out, depth + 1);
            printValue(item, out, depth + 1);
        }
        out += "\n";
        indent(out, depth);
        out += "]";
        return;
    }
    default:
        out += v.dump(-1, ' ', false, Json::error_handler_t::strict);
    }
}

bool digits(std::string_view s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size()) return false;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

int number(std::string_view s, std::size_t pos, std::size_t n) {
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

}  // namespace

std::string print(const Json& value) {
    std::string out;
    printValue(value, out, 0);
    return out;
}

std::vector<uint8_t> bytes(const Json& value) {
    std::string text = print(value);
    return std::vector<uint8_t>(text.begin(), text.end());
}

Json parse(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        throw DecodeError(e.what());
    }
}

Json parse(const std::vector<uint8_t>& data) {
    return parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::string formatDate(Date date) {
    const std::time_t t = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(date));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

Date parseDate(std::string_view s) {
    // yyyy-MM-ddTHH:mm:ssZ, exactly.
    if (s.size() != 20 || !digits(s, 0, 4) || s[4] != '-' || !digits(s, 5, 2) || s[7] != '-' ||
        !digits(s, 8, 2) || s[10] != 'T' || !digits(s, 11, 2) || s[13] != ':' || !digits(s, 14, 2) ||
        s[16] != ':' || !digits(s, 17, 2) || s[19] != 'Z') {
        throw DecodeError("date: expected yyyy-MM-ddTHH:mm:ssZ, got " + std::string(s));
    }
    const int year = number(s, 0, 4), month = number(s, 5, 2), day = number(s, 8, 2);
    const int hour = number(s, 11, 2), minute = number(s, 14, 2), second = number(s, 17, 2);
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) {
        throw DecodeError("date: out of range " + std::string(s));
    }
    // The clock counts nanoseconds in 64 bits, so it reaches only from 1677
    // to 2262; a stored year outside that (a damaged or hostile file) must
    // not wrap around into some other date.
    const sys_seconds whole = sys_days(ymd) + hours(hour) + minutes(minute) + seconds(second);
    if (whole < ceil<seconds>(Date::min()) || whole > floor<seconds>(Date::max())) {
        throw DecodeError("date: outside the clock's range " + std::string(s));
    }
    return time_point_cast<Date::duration>(whole);
}

const Json& member(const Json& object, std::string_view key) {
    if (!object.is_object()) throw DecodeError("expected an object");
    auto it = object.find(std::string(key));
    if (it == object.end()) throw DecodeError("missing key \"" + std::string(key) + "\"");
    return *it;
}

void requireObject(const Json& j, std::string_view what) {
    if (!j.is_object()) throw DecodeError(std::string(what) + ": expected an object");
}

std::string requireString(const Json& object, std::string_view key) {
    const Json& v = member(object, key);
    if (!v.is_string()) throw DecodeError("key \"" + std::string(key) + "\": expected a string");
    return v.get<std::string>();
}

bool requireBool(const Json& object, std::string_view key) {
    const Json& v = member(object, key);
    if (!v.is_boolean()) throw DecodeError("key \"" + std::string(key) + "\": expected a Boolean");
    return v.get<bool>();
}

std::optional<int64_t> integerValue(const Json& v) {
    if (v.is_number_integer()) {
        if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return v.get<int64_t>();
    }
    // 430.0 is the integer 430, as every JSON reader of ours has always taken
    // it; a value out of range is refused, never converted.
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (std::isfinite(d) && d >= -9.2e18 && d <= 9.2e18 && d == std::trunc(d)) return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

int64_t requireInt(const Json& object, std::string_view key) {
    if (auto i = integerValue(member(object, key))) return *i;
    throw DecodeError("key \"" + std::string(key) + "\": expected an integer");
}

uint64_t requireUInt(const Json& object, std::string_view key) {
    const Json& v = member(object, key);
    if (v.is_number_unsigned()) return v.get<uint64_t>();
    if (v.is_number_integer() && v.get<int64_t>() >= 0) return static_cast<uint64_t>(v.get<int64_t>());
    throw DecodeError("key \"" + std::string(key) + "\": expected an unsigned integer");
}

double requireDouble(const Json& object, std::string_view key) {
    const Json& v = member(object, key);
    if (!v.is_number()) throw DecodeError("key \"" + std::string(key) + "\": expected a number");
    return v.get<double>();
}

Json float32(float value) {
    if (!std::isfinite(value)) return Json(static_cast<double>(value));
    // to_chars and from_chars ignore the process locale, unlike strtod.
    char buf[64];
    auto written = std::to_chars(buf, buf + sizeof buf, value);
    double shortest = 0;
    if (written.ec != std::errc() || std::from_chars(buf, written.ptr, shortest).ec != std::errc()) {
        return Json(static_cast<double>(value));
    }
    return Json(shortest);
}

float toFloat32(const Json& v, std::string_view what) {
    if (!v.is_number()) throw DecodeError(std::string(what) + ": expected a number");
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) {
        throw DecodeError(std::string(what) + ": number does not fit a 32-bit float");
    }
    return static_cast<float>(d);
}

float requireFloat(const Json& object, std::string_view key) {
    return toFloat32(member(object, key), "key \"" + std::string(key) + "\"");
}

}  // namespace velmora::JSON
