#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Fingerprints of the running application and of the recogniser underneath
// it, recorded in every recognition setting so that a stored queue is only
// resumed by the same build on the same system. No failure escapes: a
// fingerprint that cannot be taken is "unavailable".
namespace EngineIdentity {

inline constexpr std::string_view unavailable = "unavailable";

// SHA-256 of the running executable (through /proc/self/exe, so it is the
// file actually running even if it has been replaced on disk since).
// Computed once per process.
const std::string& sha256();

// SHA-256 of the manifest of the application folder: the nearest folder
// above the executable whose name ends in ".app". A bare executable has no
// such folder and gets sha256(). Computed once per process.
const std::string& bundleSHA256();

// The system the settings were made on, read again on every call: the
// os-release PRETTY_NAME, the Tesseract and Leptonica versions and a short
// digest of the language data files, so that a system or recogniser update
// makes stored settings differ from current ones.
std::string osVersion();

// The pieces, for checking on temporary trees.
std::filesystem::path executablePath();
std::string fileSHA256(const std::filesystem::path& file);
std::filesystem::path bundleRoot(const std::filesystem::path& executable);  // empty when none
// The manifest digest of a folder; fallback is returned when the folder
// cannot be listed at all.
std::string bundleManifestSHA256(const std::filesystem::path& root, const std::string& fallback);
std::string operatingSystemName(const std::filesystem::path& osRelease);

// Where the recogniser loads its language data from, and the files of it that
// are in use; the recogniser takes its data from here so the digest covers
// exactly what it loads.
std::filesystem::path languageDataDirectory();
const std::vector<std::string>& languageDataFiles();
// 12 hex digits naming the contents of those files (a missing one counts).
std::string languageDataDigest(const std::filesystem::path& directory);

}  // namespace EngineIdentity
}  // namespace velmora
