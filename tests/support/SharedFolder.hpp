#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora::test {

// The development data (real web pages, scanned pages) lies in a folder
// beside the checkout, not in the repository. A lone clone has none: its
// tests skip what needs it and say which folder is missing. The CI runner
// sets CI and lays the folder out, so there a missing folder is a fault,
// never a silent skip.
inline std::optional<std::string> missingSharedFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return std::nullopt;
    return "the development folder " + folder.string() + " is absent";
}

inline bool underCI() {
    const char* ci = std::getenv("CI");
    return ci && *ci;
}

}  // namespace velmora::test

// Ends the test here when the folder is absent: skipped with its name, or
// failed under CI.
#define VELMORA_REQUIRE_SHARED_FOLDER(folder)                                               \
    do {                                                                                   \
        if (const auto velmoraMissing = ::velmora::test::missingSharedFolder(folder)) {    \
            if (::velmora::test::underCI()) FAIL() << *velmoraMissing << " (CI is set)";   \
            GTEST_SKIP() << *velmoraMissing;                                               \
        }                                                                                  \
    } while (false)
