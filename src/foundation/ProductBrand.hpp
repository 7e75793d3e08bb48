#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// Who the application is. Every reader goes through ProductBrand::current();
// the internal development brand is read only for its settings extension.
struct ProductBrand {
    std::string displayName;
    std::string englishIdentifier;
    std::string bundleIdentifier;
    std::string documentsFolderName;
    std::string applicationSupportPath;
    std::string settingsExtension;
    std::string settingsUTTypeIdentifier;
    std::string settingsTypeName;
    std::string about;
    std::string websiteBaseURL;
    bool isInternalBuild = false;
    UUID normalWebStoreID;

    static const ProductBrand& velmora();
    static const ProductBrand& brindlex();
    static const ProductBrand& current() { return velmora(); }

    std::set<std::string> acceptedSettingsExtensions() const;
    std::string settingsExportStem() const;

    bool operator==(const ProductBrand&) const = default;
};

namespace Phase0 {
// The application version recorded in settings exports and history entries.
std::string version();
std::string version(const Json& infoDictionary);
const std::string& bundleID();
// The fixed proofreading-instruction words, in order.
const std::vector<std::string>& dictionary();
}  // namespace Phase0

// The name, version and build shown to the user.
namespace ProductPresentation {
std::string name();
std::string name(const Json& infoDictionary);
inline std::string windowTitle() { return name(); }
std::string version();
std::string version(const Json& infoDictionary);
std::string build();
std::string build(const Json& infoDictionary);
}  // namespace ProductPresentation

// The two roots: the application's own state, and the user's outputs.
struct AppRuntime {
    std::filesystem::path storage;
    std::filesystem::path output;

    // Computed once per process from the platform's own lookups
    // (XDG_DATA_HOME, the XDG documents folder, HOME).
    static const AppRuntime& current();
    static AppRuntime resolve();
    static std::filesystem::path defaultOutput();
    // The user's home folder and documents folder, by the same lookups; the
    // documents folder is ~/Documents where none is configured.
    static std::filesystem::path homeFolder();
    static std::filesystem::path documentsFolder();
    static constexpr bool isIsolated = false;

    bool operator==(const AppRuntime&) const = default;

    // Tests run each case against temporary roots.
    class ScopedOverride;
};

// Restores the previous roots when it goes away.
class AppRuntime::ScopedOverride {
public:
    explicit ScopedOverride(AppRuntime roots);
    ~ScopedOverride();
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

private:
    const AppRuntime* previous_;
    AppRuntime roots_;
};

namespace DevPaths {
std::filesystem::path outputs();
std::filesystem::path jobs();
}  // namespace DevPaths

}  // namespace velmora
