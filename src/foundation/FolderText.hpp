#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmora {

// A folder as the user reads it: inside the home folder "ホーム/ドキュメント/…"
// (the home itself "ホーム"), elsewhere the whole path. A Japanese font draws
// "~" as an overline, so the home is named rather than abbreviated. `home`
// is the user's (HOME when it is absolute, else the platform's lookup) when
// not given.
std::string folderText(const std::filesystem::path& folder, std::optional<std::filesystem::path> home = std::nullopt);

}  // namespace velmora
