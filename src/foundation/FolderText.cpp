#include "foundation/FolderText.hpp"

#include <glib.h>

#include <cstdlib>

namespace velmora {

namespace {

std::filesystem::path userHome() {
    // The same home the runtime's own folders are found from.
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return h;
    return g_get_home_dir();
}

}  // namespace

std::string folderText(const std::filesystem::path& folder, std::optional<std::filesystem::path> home) {
    std::filesystem::path base = (home ? *home : userHome()).lexically_normal();
    if (!base.has_filename() && base != base.root_path()) base = base.parent_path();
    const std::filesystem::path normal = folder.lexically_normal();
    if (!base.empty() && base.is_absolute() && base != base.root_path()) {
        const std::filesystem::path inside = normal.lexically_relative(base);
        const bool within = !inside.empty() && *inside.begin() != "..";
        if (within) return inside == "." ? std::string("ホーム") : "ホーム/" + inside.generic_string();
    }
    return normal.string();
}

}  // namespace velmora
