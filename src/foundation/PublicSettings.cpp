#include "foundation/PublicSettings.hpp"

#include <algorithm>
#include <initializer_list>

#include "foundation/BrindlexError.hpp"

namespace velmora {

namespace {

bool oneOf(int64_t value, std::initializer_list<int64_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

}  // namespace

void to_json(Json& j, const PublicSettings& s) {
    j = Json::object();
    j["schemaVersion"] = s.schemaVersion;
    j["mobileWidth"] = s.mobileWidth;
    j["logRetentionDays"] = s.logRetentionDays;
    j["dictionary"] = s.dictionary;
}

void from_json(const Json& j, PublicSettings& s) {
    JSON::requireObject(j, "public settings");
    s.schemaVersion = JSON::requireInt(j, "schemaVersion");
    s.mobileWidth = JSON::requireInt(j, "mobileWidth");
    s.logRetentionDays = JSON::requireInt(j, "logRetentionDays");
    const Json& words = JSON::member(j, "dictionary");
    if (!words.is_array()) throw JSON::DecodeError("key \"dictionary\": expected an array");
    s.dictionary.clear();
    for (const Json& w : words) {
        if (!w.is_string()) throw JSON::DecodeError("key \"dictionary\": expected strings");
        s.dictionary.push_back(w.get<std::string>());
    }
}

PublicSettings PublicSettings::importAllowed(const std::vector<uint8_t>& data) {
    const PublicSettings s = JSON::decode<PublicSettings>(data);
    const bool allowed = s.schemaVersion == 1 && oneOf(s.mobileWidth, {375, 390, 430}) &&
                         oneOf(s.logRetentionDays, {30, 90, 180, 360}) && s.dictionary.size() <= maximumWords &&
                         std::all_of(s.dictionary.begin(), s.dictionary.end(),
                                     [](const std::string& w) { return w.size() <= maximumWordBytes; });
    if (!allowed) raise(ErrorCase::invalidInput);
    return s;
}

}  // namespace velmora
