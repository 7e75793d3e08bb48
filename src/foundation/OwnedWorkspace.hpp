#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/FileIO.hpp"
#include "foundation/OwnedRecord.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

// The roots of the owned work folders, under the storage root's "work".
namespace Phase0Work {
std::filesystem::path root();
std::filesystem::path exports();
std::filesystem::path captures();
std::filesystem::path printing();
// The root of the capture journals; not a root of owned work folders.
std::filesystem::path lifecycle();
}  // namespace Phase0Work

// One leased, recorded, private folder per attempt. Files are written here
// before they are published or thrown away; the record lists each with its
// stamp, so a later clean-up can prove which files are ours to delete.
class OwnedWorkspace {
public:
    // Creates "<root>/<ATTEMPT>" with its lease and record. An attempt id can
    // be used once: a second creation is cleanupBlocked.
    OwnedWorkspace(const std::filesystem::path& root, OwnedRecord::Purpose purpose, UUID runID, UUID jobID,
                   UUID attemptID);
    ~OwnedWorkspace();
    OwnedWorkspace(const OwnedWorkspace&) = delete;
    OwnedWorkspace& operator=(const OwnedWorkspace&) = delete;

    const SecureDirectory& directory() const noexcept { return directory_; }
    const OwnedRecord& record() const noexcept { return record_; }
    int lockFD() const noexcept { return lockFD_.get(); }

    // A new "work-<UUID>.<ext>" file holding data. failAfterBytes exists only
    // to exercise failure paths.
    std::filesystem::path write(const std::vector<uint8_t>& data, std::string_view ext = "bin",
                                std::optional<std::size_t> failAfterBytes = std::nullopt);
    // An empty PDF file that another writer (the print operation) fills.
    std::filesystem::path reserveMutablePDF();
    // Empty "work-<UUID>.<ext>" files, one per extension, recorded together
    // as still being written (one record write for them all). Returns each
    // leaf with a descriptor open for writing it.
    std::vector<std::pair<std::string, UniqueFD>> reserve(const std::vector<std::string>& extensions);
    // Records the current stamps of reserved files, written and synced, and
    // marks them about to be hard-linked under their published names: one
    // record write, which syncs the folder once for them all.
    void prepareReserved(const std::vector<std::string>& names);
    // Marks a written file as about to be hard-linked under its published name.
    void preparePublication(std::string_view name);
    // Records the current stamp of a "work-" file in this folder.
    void registerFile(const std::filesystem::path& url);
    // Drops a file its caller has already removed.
    void forgetPublished(std::string_view name);
    // Deletes every listed file (each must pass the ownership test) and marks
    // the folder finished. The lease stays held until the object goes away.
    void finish();
    // Marks the folder abandoned and releases the lease, leaving its files to
    // a later clean-up.
    void abandon();

    // Cleans every work folder under root whose owner is gone. failAfter
    // exists only to exercise failure paths: stop after that many deletions.
    static CleanupResult cleanup(const std::filesystem::path& root, std::optional<int64_t> failAfter = std::nullopt);

    // Whether a file with recorded stamp `recorded` and current stamp
    // `current` is still the one this folder wrote.
    static bool ownershipHolds(const OwnedRecord& record, const std::string& name, const FileStamp& recorded,
                               const FileStamp& current);

private:
    static SecureDirectory create(const std::filesystem::path& root, OwnedRecord::Purpose purpose, UUID runID,
                                  UUID jobID, UUID attemptID, UniqueFD& lockFD, OwnedRecord& record);
    void writeRecord();

    // Declared first: create() fills them while directory_ is initialised.
    UniqueFD lockFD_;
    OwnedRecord record_;
    SecureDirectory directory_;
};

}  // namespace velmora
