#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileIO.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

// The outputs of one save, published into one folder as
// SecureDirectory::exportData publishes a file, but staged together: each is
// written and synced into one owned work folder, the folder's record then
// lists them all at once (one sync of the folder, not one per file), and
// only then is each linked under its first free name, announced before its
// link, never overwriting. A process killed at any point leaves staged files
// that the launch-time clean-up of export folders removes, and published
// ones that the journal they were announced to accounts for.
//
// Made, sealed, published and finished on one thread; each slot's data may
// be written from any thread, each slot by one thread at a time.
class ExportBatch {
public:
    // One slot per extension, in the order given.
    ExportBatch(const SecureDirectory& destination, const std::vector<std::string>& extensions);
    // Finishes the work folder quietly when finish() was not reached.
    ~ExportBatch();
    ExportBatch(const ExportBatch&) = delete;
    ExportBatch& operator=(const ExportBatch&) = delete;

    std::size_t size() const noexcept { return slots_.size(); }

    // Writes a slot's data and syncs the file; saveFailed when it cannot,
    // with the slot emptied again. failAfterBytes exists only to exercise
    // failure paths.
    void write(std::size_t slot, const std::vector<uint8_t>& data,
               std::optional<std::size_t> failAfterBytes = std::nullopt);
    // Empties a slot that will not be published, giving its room back at
    // once: a save on a full disk still has room to seal the slots before.
    void discard(std::size_t slot);
    // Records the written slots' stamps and marks them for publication.
    void seal(const std::vector<std::size_t>& written);
    // Publishes a sealed slot as "<safe stem><suffix>.<ext>" with the naming
    // of exportData; returns the published file's URL.
    std::filesystem::path publish(std::size_t slot, std::string_view stem,
                                  const SecureDirectory::WillPublish& willPublish = nullptr,
                                  bool productNaming = true);
    // Removes every staged file (published ones keep their published name)
    // and finishes the work folder.
    void finish();

private:
    struct Slot {
        std::string leaf;
        std::string ext;
        UniqueFD fd;
        std::optional<FileStamp> stamp;
    };

    const SecureDirectory& destination_;
    std::unique_ptr<OwnedWorkspace> work_;
    std::vector<Slot> slots_;
};

}  // namespace velmora
