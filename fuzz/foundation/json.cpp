// The shared JSON reader: parse, the canonical printer, dates and the strict
// member readers every record's decoder is made of.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/JSON.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

void strictMembers(const Json& j) {
    if (!j.is_object()) return;
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string& key = it.key();
        fuzz::documented("JSON member readers", [&] { JSON::requireString(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::requireBool(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::requireInt(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::requireUInt(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::requireDouble(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::requireFloat(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::require<Date>(j, key); });
        fuzz::documented("JSON member readers", [&] { JSON::optional<int64_t>(j, key); });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Dates are read from any string value; the raw input is one too.
    fuzz::documented("JSON::parseDate", [&] {
        const Date d = JSON::parseDate(text);
        if (JSON::formatDate(d) != text) fuzz::fail("JSON::parseDate accepted a non-canonical date");
    });
    Json j;
    if (fuzz::documented("JSON::parse", [&] { j = JSON::parse(std::vector<uint8_t>(data, data + size)); }) !=
        fuzz::Outcome::read) {
        return 0;
    }
    // The canonical text of a value reads back as the same value and prints
    // identically.
    const std::string printed = JSON::print(j);
    Json again;
    if (fuzz::documented("JSON::parse of printed text", [&] { again = JSON::parse(printed); }) !=
        fuzz::Outcome::read) {
        fuzz::fail("JSON: the canonical text of a parsed value does not parse");
    }
    if (JSON::print(again) != printed) fuzz::fail("JSON: printing is not stable");
    JSON::integerValue(j);
    strictMembers(j);
    fuzz::documented("JSON::requireObject", [&] { JSON::requireObject(j, "value"); });
    return 0;
}
