#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FolderChooser.hpp"
#include "foundation/JSON.hpp"
#include "foundation/OutputRoots.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

class SecureDirectory;
class SettingsStore;

// One folder the user approved for outputs, with what it was at approval.
struct OutputGrant {
    UUID id;
    std::vector<uint8_t> bookmark;  // FolderBookmark bytes; Base64 in the file
    std::string path;
    uint64_t device = 0;
    uint64_t inode = 0;

    bool operator==(const OutputGrant&) const = default;
};

// All five keys are required; other keys are ignored.
void to_json(Json& j, const OutputGrant& g);
void from_json(const Json& j, OutputGrant& g);

// The folders every capture, print and download may write into:
// "folders.json" in the folder "access" of the storage root. A folder is
// handed out again only while it is still the same directory at the same
// path and still writable; anything else is accessDenied, so an output never
// silently goes to a folder that was moved, replaced or swapped.
class OutputAccess final : public OutputRootsSource {
public:
    static constexpr const char* folderName = "access";
    static constexpr const char* fileName = "folders.json";
    static constexpr const char* leaseName = "folders-lock";
    static constexpr const char* chooserTitle = "保存先を選んでください";
    static constexpr const char* chooserAcceptLabel = "このフォルダに保存";

    // The content of "folders.json".
    struct Envelope {
        int64_t schema = 1;
        std::vector<OutputGrant> folders;  // in approval order
        bool operator==(const Envelope&) const = default;
    };

    // Touches no file. The chooser (not owned) is asked when a destination
    // needs the user; without one, asking is accessDenied.
    explicit OutputAccess(AppRuntime runtime, FolderChooser* chooser = nullptr);
    OutputAccess(const OutputAccess&) = delete;
    OutputAccess& operator=(const OutputAccess&) = delete;

    // Records a folder the user has just chosen and returns its grant: the
    // existing one when the same directory at the same path was approved
    // before. Serialised between processes by the lease "folders-lock".
    OutputGrant approve(const std::filesystem::path& url);
    // The folder of a grant, after checking that it is still the same
    // writable directory at the recorded path.
    std::filesystem::path resolve(const UUID& id) const;
    // The folders of every grant that resolves now, in the file's order.
    // Never throws: any failure to read the file is an empty list.
    std::vector<std::filesystem::path> authorizedRoots() const override;

    // The output folder of one save. Without `ask`, the stored destination
    // (any failure of it is accessDenied, and nobody is asked); with `ask`,
    // or with no stored destination, the chooser. Nothing means the user
    // cancelled. A chosen folder is approved and stored as the destination;
    // when the preferences cannot be saved the store shows why and the
    // folder is still returned. verificationDialog changes nothing.
    Task<std::optional<std::filesystem::path>> destination(SettingsStore& settings, bool ask,
                                                           bool verificationDialog);
    // Lets the user pick the default output folder.
    Task<void> chooseDefault(SettingsStore& settings);

private:
    std::filesystem::path accessFolder() const { return runtime_.storage / folderName; }
    Envelope load(const SecureDirectory& access) const;

    AppRuntime runtime_;
    FolderChooser* chooser_;
    // The folders this object started (no-op) scoped access for, by grant.
    // Only added to, never stopped while the object lives.
    mutable std::mutex scopesLock_;
    mutable std::map<UUID, std::filesystem::path> scopes_;
};

void to_json(Json& j, const OutputAccess::Envelope& e);
void from_json(const Json& j, OutputAccess::Envelope& e);

}  // namespace velmora
