#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileIO.hpp"
#include "foundation/FileStamp.hpp"

namespace velmora {

// A directory held open by descriptor, reached from "/" by a walk in which no
// component may be a symbolic link. Every later operation names one leaf
// relative to the descriptor, so a path swapped for a link is refused rather
// than followed, a state file is never seen half-written, and nothing
// published ever overwrites a file.
class SecureDirectory {
public:
    // With create, missing components are made with mode 0700.
    SecureDirectory(const std::filesystem::path& url, bool create);
    SecureDirectory(SecureDirectory&&) noexcept = default;
    SecureDirectory& operator=(SecureDirectory&&) noexcept = default;
    SecureDirectory(const SecureDirectory&) = delete;
    SecureDirectory& operator=(const SecureDirectory&) = delete;

    const std::filesystem::path& url() const noexcept { return url_; }
    int descriptor() const noexcept { return fd_.get(); }

    static bool validLeaf(std::string_view name);
    // Any text (a page title, a file name) as a file-name stem.
    static std::string safeStem(std::string_view text);

    // The whole content of a state file. Missing, a symbolic link or not
    // openable: damagedCheckpoint; anything but a regular file: unsafePath,
    // without waiting on it; a read error passes on as std::system_error.
    std::vector<uint8_t> read(std::string_view name) const;
    // Atomically replaces or creates the state file: staged beside it, synced,
    // renamed over it, and the directory synced. Not durable, the file and
    // the directory are left to the system to flush: a crashed process still
    // leaves the old or the new content whole, only a lost machine may not.
    void replaceState(std::string_view name, const std::vector<uint8_t>& data, bool durable = true) const;
    // Removes a regular file and, durable, syncs the directory.
    void removeOwnedFile(std::string_view name, bool durable = true) const;
    // Removes a folder only while it is empty: anything else at that name
    // is unsafePath, a folder that holds something saveFailed, and both
    // leave it where it is.
    void removeEmptyFolder(std::string_view name) const;

    FileStamp stamp(std::string_view name) const;
    // Moves a file to another folder, never replacing an existing entry: a
    // taken name is fileExists, any other failure saveFailed (also a failed
    // flush after the move, which has then happened). Where the filesystem
    // has no exclusive rename, a hard link and the removal of the old name.
    void exclusiveMove(std::string_view name, const SecureDirectory& destination, std::string_view newName) const;
    // Non-zero: the exclusive rename answers this errno without trying, so
    // tests reach the fallback on filesystems that have the flag.
    static std::atomic<int> injectedRenameError;

    // Called with the target and the staged file's stamp before each link
    // attempt; throwing aborts the publication with nothing linked.
    using WillPublish = std::function<void(const std::filesystem::path& target, const FileStamp& stamp)>;

    // Publishes data as a new file "<safe stem><suffix>.<ext>" without ever
    // overwriting: written and stamped in an owned work folder, then
    // hard-linked under the first free name. A folder on another filesystem
    // than the work folder gets a synced copy written inside it, which is
    // named the same way (or, on filesystems without hard links, by an
    // exclusive rename). The suffix is "_001", "_002" ...
    // with productNaming, "-1", "-2" ... without. failAfterBytes exists only
    // to exercise failure paths. Returns the published file's URL.
    std::filesystem::path exportData(const std::vector<uint8_t>& data, std::string_view stem, std::string_view ext,
                                     std::optional<std::size_t> failAfterBytes = std::nullopt,
                                     const WillPublish& willPublish = nullptr, bool productNaming = true) const;
    // Non-zero: a nameless file (O_TMPFILE) in the destination fails with
    // this errno without trying, so tests reach the named copy.
    static std::atomic<int> injectedTmpfileError;

    // The names in this directory, hidden ones included; errors pass on as
    // std::system_error.
    std::vector<std::string> list() const;

private:
    std::filesystem::path url_;
    UniqueFD fd_;
};

}  // namespace velmora
