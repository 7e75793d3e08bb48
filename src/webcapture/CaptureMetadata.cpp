#include "webcapture/CaptureMetadata.hpp"

namespace velmora {

void to_json(Json& j, const CaptureMetadata& m) {
    j = Json::object();
    JSON::putOptional(j, "url", m.url);
    j["title"] = m.title;
    j["format"] = m.format;
    JSON::putOptional(j, "pageCount", m.pageCount);
}

void from_json(const Json& j, CaptureMetadata& m) {
    JSON::requireObject(j, "capture metadata");
    m.url.reset();
    if (auto it = j.find("url"); it != j.end() && !it->is_null()) m.url = JSON::requireString(j, "url");
    m.title = JSON::requireString(j, "title");
    m.format = JSON::requireString(j, "format");
    m.pageCount.reset();
    if (auto it = j.find("pageCount"); it != j.end() && !it->is_null()) m.pageCount = JSON::requireInt(j, "pageCount");
}

}  // namespace velmora
