#include "foundation/FileStamp.hpp"

#include "foundation/BrindlexError.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

FileStamp FileStamp::read(const std::filesystem::path& url) {
    if (!url.is_absolute() || !url.has_filename()) raise(ErrorCase::unsafePath);
    SecureDirectory parent(url.parent_path(), false);
    return parent.stamp(url.filename().string());
}

void to_json(Json& j, const FileStamp& s) {
    j = Json::object();
    j["device"] = s.device;
    j["inode"] = s.inode;
    j["size"] = s.size;
    j["sha256"] = s.sha256;
    j["links"] = s.links;
}

void from_json(const Json& j, FileStamp& s) {
    JSON::requireObject(j, "file stamp");
    s.device = JSON::requireUInt(j, "device");
    s.inode = JSON::requireUInt(j, "inode");
    s.size = JSON::requireInt(j, "size");
    s.sha256 = JSON::requireString(j, "sha256");
    s.links = JSON::requireUInt(j, "links");
}

}  // namespace velmora
