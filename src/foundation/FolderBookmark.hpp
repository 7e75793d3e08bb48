#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace velmora {

// What stands in for a security-scoped bookmark on Linux, which has none: a
// small JSON record of the folder's path, device and inode at the time it was
// made. Resolving gives back the recorded path, and calls it stale when
// nothing is at that path any more, it is not a directory, or it is another
// directory (device or inode differ). It cannot follow a folder that was
// renamed; the output grants refuse such a folder anyway.
namespace FolderBookmark {

// Bookmark bytes this layer cannot decode. Passed on unchanged by the
// grants, like any platform bookmark error.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A bookmark of the directory at path (not following a link at its last
// component). A path that cannot be examined or is no directory passes on as
// std::system_error.
std::vector<uint8_t> create(const std::filesystem::path& path);

struct Resolved {
    std::filesystem::path url;
    bool stale = false;
};
Resolved resolve(const std::vector<uint8_t>& bookmark);

// Security-scoped access has no counterpart here: starting always succeeds
// and stopping does nothing.
inline bool startAccess(const std::filesystem::path&) { return true; }
inline void stopAccess(const std::filesystem::path&) {}

}  // namespace FolderBookmark
}  // namespace velmora
