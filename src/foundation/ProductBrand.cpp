#include "foundation/ProductBrand.hpp"

#include <atomic>
#include <cstdlib>

#include <glib.h>

#include "foundation/BuildInfo.hpp"

namespace velmora {

namespace {

// A reverse-domain prefix under the reserved ".invalid" top-level domain, so
// the identifier is a valid application id that can belong to nobody else.
constexpr const char* makerPrefix = "invalid.velmora";
constexpr const char* makerWebsite = "https://velmora.invalid/";

const Json* stringValue(const Json& info, const char* key) {
    if (!info.is_object()) return nullptr;
    auto it = info.find(key);
    if (it == info.end() || !it->is_string()) return nullptr;
    return &*it;
}

std::atomic<const AppRuntime*> overrideRoots{nullptr};

}  // namespace

const ProductBrand& ProductBrand::velmora() {
    static const ProductBrand brand = [] {
        ProductBrand b;
        b.displayName = "ベルモラ";
        b.englishIdentifier = "Velmora";
        b.bundleIdentifier = std::string(makerPrefix) + ".velmora";
        b.documentsFolderName = "ベルモラ";
        b.applicationSupportPath = "Velmora";
        b.settingsExtension = "velmorasettings";
        b.settingsUTTypeIdentifier = b.bundleIdentifier + ".settings";
        b.settingsTypeName = "ベルモラ設定";
        b.about = "ベルモラ";
        b.websiteBaseURL = makerWebsite;
        b.isInternalBuild = false;
        b.normalWebStoreID = *UUID::parse("5B47E84B-1A2F-4C32-9861-4E71DD77A9C3");
        return b;
    }();
    return brand;
}

const ProductBrand& ProductBrand::brindlex() {
    static const ProductBrand brand = [] {
        ProductBrand b;
        b.displayName = "Brindlex";
        b.englishIdentifier = "Brindlex";
        b.bundleIdentifier = "local.brindlex.phase0";
        b.documentsFolderName = "Brindlex";
        b.applicationSupportPath = "Brindlex/Phase1";
        b.settingsExtension = "brindlexsettings";
        b.settingsUTTypeIdentifier = "local.brindlex.settings";
        b.settingsTypeName = "Brindlex設定";
        b.about = "Brindlex";
        b.websiteBaseURL = makerWebsite;
        b.isInternalBuild = true;
        b.normalWebStoreID = *UUID::parse("86F1A99E-2A8B-44D7-A184-0F5618FD7868");
        return b;
    }();
    return brand;
}

std::set<std::string> ProductBrand::acceptedSettingsExtensions() const {
    if (isInternalBuild) return {settingsExtension};
    return {settingsExtension, brindlex().settingsExtension};
}

std::string ProductBrand::settingsExportStem() const { return displayName + "_Settings"; }

namespace Phase0 {

std::string version(const Json& info) {
    if (const Json* v = stringValue(info, "CFBundleShortVersionString")) return v->get<std::string>();
    return ProductBrand::current().isInternalBuild ? "0.13.0" : "1.0.0";
}

std::string version() { return version(BuildInfo::infoDictionary()); }

const std::string& bundleID() { return ProductBrand::current().bundleIdentifier; }

const std::vector<std::string>& dictionary() {
    static const std::vector<std::string> words{"OK",   "OFF",  "修正", "削除", "追加", "変更",
                                                "大きく", "小さく", "右へ", "左へ", "上へ", "下へ"};
    return words;
}

}  // namespace Phase0

namespace ProductPresentation {

std::string name(const Json& info) {
    if (const Json* v = stringValue(info, "CFBundleDisplayName")) return v->get<std::string>();
    if (const Json* v = stringValue(info, "CFBundleName")) return v->get<std::string>();
    return "Brindlex";
}
std::string name() { return name(BuildInfo::infoDictionary()); }

std::string version(const Json& info) {
    if (const Json* v = stringValue(info, "CFBundleShortVersionString")) return v->get<std::string>();
    return "";
}
std::string version() { return version(BuildInfo::infoDictionary()); }

std::string build(const Json& info) {
    if (const Json* v = stringValue(info, "CFBundleVersion")) return v->get<std::string>();
    return "";
}
std::string build() { return build(BuildInfo::infoDictionary()); }

}  // namespace ProductPresentation

namespace {

std::filesystem::path homeDirectory() {
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return h;
    return g_get_home_dir();
}

std::filesystem::path userDataDirectory() {
    // Read on every resolve rather than through GLib's cache, so a process
    // sees the environment it was started with.
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && d[0] == '/') return d;
    return homeDirectory() / ".local" / "share";
}

}  // namespace

std::filesystem::path AppRuntime::homeFolder() { return homeDirectory(); }

std::filesystem::path AppRuntime::documentsFolder() {
    std::filesystem::path documents;
    if (const char* d = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS); d && d[0] == '/') {
        documents = d;
    }
    // Without a configured documents folder (or one that is just the home
    // folder, as xdg-user-dirs gives for "disabled"), use ~/Documents.
    if (documents.empty() || documents == homeDirectory()) documents = homeDirectory() / "Documents";
    return documents;
}

std::filesystem::path AppRuntime::defaultOutput() {
    return documentsFolder() / ProductBrand::current().documentsFolderName;
}

AppRuntime AppRuntime::resolve() {
    return AppRuntime{userDataDirectory() / ProductBrand::current().applicationSupportPath, defaultOutput()};
}

const AppRuntime& AppRuntime::current() {
    if (const AppRuntime* o = overrideRoots.load()) return *o;
    static const AppRuntime roots = resolve();
    return roots;
}

AppRuntime::ScopedOverride::ScopedOverride(AppRuntime roots)
    : previous_(overrideRoots.load()), roots_(std::move(roots)) {
    overrideRoots.store(&roots_);
}

AppRuntime::ScopedOverride::~ScopedOverride() { overrideRoots.store(previous_); }

namespace DevPaths {
std::filesystem::path outputs() { return AppRuntime::current().output; }
std::filesystem::path jobs() { return AppRuntime::current().storage / "jobs"; }
}  // namespace DevPaths

}  // namespace velmora
