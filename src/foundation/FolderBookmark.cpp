#include "foundation/FolderBookmark.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "foundation/JSON.hpp"

namespace velmora::FolderBookmark {

namespace {
constexpr int64_t version = 1;
}

std::vector<uint8_t> create(const std::filesystem::path& path) {
    struct stat st {};
    const int err = ::lstat(path.c_str(), &st) != 0 ? errno : (S_ISDIR(st.st_mode) ? 0 : ENOTDIR);
    if (err != 0) throw std::system_error(err, std::generic_category(), "bookmark " + path.string());
    Json j = Json::object();
    j["version"] = version;
    j["path"] = path.string();
    j["device"] = static_cast<uint64_t>(st.st_dev);
    j["inode"] = static_cast<uint64_t>(st.st_ino);
    return JSON::bytes(j);
}

Resolved resolve(const std::vector<uint8_t>& bookmark) {
    std::string path;
    uint64_t device = 0, inode = 0;
    try {
        const Json j = JSON::parse(bookmark);
        JSON::requireObject(j, "bookmark");
        if (JSON::requireInt(j, "version") != version) throw Error("bookmark: unknown version");
        path = JSON::requireString(j, "path");
        device = JSON::requireUInt(j, "device");
        inode = JSON::requireUInt(j, "inode");
    } catch (const JSON::DecodeError& e) {
        throw Error(std::string("bookmark: ") + e.what());
    }
    if (path.empty() || path.front() != '/') throw Error("bookmark: not an absolute path");
    Resolved out{path, false};
    struct stat st {};
    out.stale = ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || static_cast<uint64_t>(st.st_dev) != device ||
                static_cast<uint64_t>(st.st_ino) != inode;
    return out;
}

}  // namespace velmora::FolderBookmark
