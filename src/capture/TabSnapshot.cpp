#include "capture/TabSnapshot.hpp"

namespace velmora {

void to_json(Json& j, const RestoredTab& t) {
    j = Json::object();
    j["id"] = t.id;
    JSON::putOptional(j, "url", t.url);
    j["unavailable"] = t.unavailable;
}

void from_json(const Json& j, RestoredTab& t) {
    JSON::requireObject(j, "restored tab");
    t.id = JSON::require<UUID>(j, "id");
    t.url.reset();
    if (auto it = j.find("url"); it != j.end() && !it->is_null()) t.url = JSON::requireString(j, "url");
    t.unavailable = JSON::requireBool(j, "unavailable");
}

void to_json(Json& j, const RestoredWindow& w) {
    j = Json::object();
    j["id"] = w.id;
    j["tabs"] = w.tabs;
    j["selected"] = w.selected;
}

void from_json(const Json& j, RestoredWindow& w) {
    JSON::requireObject(j, "restored window");
    w.id = JSON::require<UUID>(j, "id");
    w.tabs = JSON::require<std::vector<RestoredTab>>(j, "tabs");
    w.selected = JSON::require<UUID>(j, "selected");
}

void to_json(Json& j, const TabSnapshot& s) {
    j = Json::object();
    j["schema"] = s.schema;
    j["epoch"] = s.epoch;
    j["generation"] = s.generation;
    j["windows"] = s.windows;
}

void from_json(const Json& j, TabSnapshot& s) {
    JSON::requireObject(j, "tab snapshot");
    s.schema = JSON::requireInt(j, "schema");
    s.epoch = JSON::require<UUID>(j, "epoch");
    // Only a JSON integer from 0 to 18446744073709551615: a negative, a
    // fractional or a larger number (which the parser holds as a double) is
    // refused rather than rounded or wrapped.
    s.generation = JSON::requireUInt(j, "generation");
    s.windows = JSON::require<std::vector<RestoredWindow>>(j, "windows");
}

}  // namespace velmora
