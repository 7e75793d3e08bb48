#include "capture/DownloadStage.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace {

constexpr int maxCandidates = 10000;

// The stage's files, in the order they are removed: the engine's file in
// progress first, so a stage is never left with it and without the payload.
constexpr const char* stageFiles[] = {DownloadStage::partialName, DownloadStage::payloadName};

SecureDirectory openStage(const SecureDirectory& destination, const UUID& id) {
    const SecureDirectory root(destination.url() / DownloadStage::rootName, true);
    return SecureDirectory(root.url() / id.text(), true);
}

struct stat statOf(const SecureDirectory& folder, ErrorCase failure) {
    struct stat st {};
    if (::fstat(folder.descriptor(), &st) != 0) raise(failure);
    return st;
}

// The entry itself, never what a link points to; nothing when it is absent.
std::optional<struct stat> entry(const SecureDirectory& folder, const char* name) {
    struct stat st {};
    if (::fstatat(folder.descriptor(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) return st;
    if (errno == ENOENT) return std::nullopt;
    raise(ErrorCase::saveFailed);
}

// The same folder is there again under its URL.
void requireSameFolder(const SecureDirectory& held) {
    const SecureDirectory fresh(held.url(), false);
    struct stat a {}, b {};
    if (::fstat(held.descriptor(), &a) != 0 || ::fstat(fresh.descriptor(), &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino) {
        raise(ErrorCase::confirmationChanged);
    }
}

// A stage file that is ours to move or delete: a regular file with no other
// link. Only the link count is needed, so the file is not hashed (a payload
// may be gigabytes, and this runs on the main thread).
bool singleLinked(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

// Removes a stage file; one that is already gone (the engine deletes its
// own files when a transfer stops) counts as removed.
void removeStageFile(const SecureDirectory& stage, const char* name) {
    try {
        stage.removeOwnedFile(name);
    } catch (const BrindlexError&) {
        struct stat st {};
        if (::fstatat(stage.descriptor(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) return;
        throw;
    }
}

// Takes away a stage that holds nothing but its own bookkeeping (its lease,
// its record and half-written copies of the record), the lease last so
// nobody takes it meanwhile; then the root, once no other stage is in it.
// Anything else inside, or put inside meanwhile, keeps the folder.
bool removeBookkeeping(const SecureDirectory& destination, const SecureDirectory& root, const std::string& name,
                       const SecureDirectory& stage) {
    std::vector<std::string> names;
    try {
        names = stage.list();
    } catch (...) {
        return false;
    }
    for (const auto& n : names) {
        if (n != DownloadStage::leaseName && n != DownloadStage::ownerName && !n.starts_with(".stage-")) return false;
    }
    std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return n != DownloadStage::leaseName; });
    for (const auto& n : names) {
        if (::unlinkat(stage.descriptor(), n.c_str(), 0) != 0 && errno != ENOENT) return false;
    }
    if (::unlinkat(root.descriptor(), name.c_str(), AT_REMOVEDIR) != 0) return false;
    ::fsync(root.descriptor());
    // Fails harmlessly while another stage is in the root.
    if (::unlinkat(destination.descriptor(), DownloadStage::rootName, AT_REMOVEDIR) == 0) {
        ::fsync(destination.descriptor());
    }
    return true;
}

std::string candidate(const std::string& base, const std::string& ext, int i) {
    std::string leaf = base;
    if (i > 0) leaf += "-" + std::to_string(i);
    if (!ext.empty()) leaf += "." + ext;
    return leaf;
}

}  // namespace

DownloadStage::Hooks& DownloadStage::hooks() {
    static Hooks h;
    return h;
}

DownloadStage::DownloadStage(const std::filesystem::path& destination, const UUID& id)
    : destination_(destination, true),
      directory_(openStage(destination_, id)),
      lease_(directory_, leaseName, true) {
    const struct stat st = statOf(directory_, ErrorCase::saveFailed);
    if (entry(directory_, ownerName) || entry(directory_, payloadName)) raise(ErrorCase::fileExists);
    owner_.schema = 1;
    owner_.creator = Phase0::bundleID();
    owner_.purpose = purpose;
    owner_.id = id;
    owner_.device = static_cast<uint64_t>(st.st_dev);
    owner_.inode = static_cast<uint64_t>(st.st_ino);
    owner_.finished = false;
    writeOwner();
}

std::string DownloadStage::filename(std::string_view name) {
    std::string stem = SecureDirectory::safeStem(name);
    // safeStem falls back to the brand's name itself; kept in case it ever
    // gives nothing.
    if (stem.empty()) stem = fallbackName;
    return stem;
}

void DownloadStage::writeOwner() const { directory_.replaceState(ownerName, JSON::encode(owner_)); }

void DownloadStage::finishStage() {
    owner_.finished = true;
    try {
        const SecureDirectory root(destination_.url() / rootName, false);
        requireSameFolder(directory_);
        if (removeBookkeeping(destination_, root, owner_.id.text(), directory_)) return;
    } catch (...) {
        // Kept as finished below; the next launch's sweep takes it away.
    }
    writeOwner();
}

void DownloadStage::verifyOwnership() const {
    requireSameFolder(directory_);
    requireSameFolder(destination_);
    const Owner stored = JSON::decode<Owner>(directory_.read(ownerName));
    if (stored.schema != 1 || stored.id != owner_.id || stored.device != owner_.device ||
        stored.inode != owner_.inode || stored.creator != owner_.creator || stored.purpose != owner_.purpose ||
        stored.finished != owner_.finished) {
        raise(ErrorCase::confirmationChanged);
    }
}

std::filesystem::path DownloadStage::publish(std::string_view name) {
    if (owner_.finished) raise(ErrorCase::sourceMissing);
    verifyOwnership();
    const std::optional<struct stat> payloadStat = entry(directory_, payloadName);
    if (!payloadStat) raise(ErrorCase::sourceMissing);
    if (!S_ISREG(payloadStat->st_mode)) raise(ErrorCase::unsafePath);
    if (payloadStat->st_nlink != 1 || owner_.finished) raise(ErrorCase::confirmationChanged);

    const std::string stem = filename(name);
    std::string base = stem, ext;
    if (const auto dot = stem.rfind('.'); dot != std::string::npos && dot + 1 < stem.size()) {
        ext = stem.substr(dot + 1);
        base = stem.substr(0, dot);
    }
    for (int i = 0; i < maxCandidates; ++i) {
        const std::string leaf = candidate(base, ext, i);
        if (!SecureDirectory::validLeaf(leaf)) raise(ErrorCase::unsafePath);
        try {
            directory_.exclusiveMove(payloadName, destination_, leaf);
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::fileExists) continue;
            // A failed flush after the move still moved the file: the
            // published name is then what the user has.
            const auto moved = entry(destination_, leaf.c_str());
            if (entry(directory_, payloadName) || !moved || moved->st_ino != payloadStat->st_ino ||
                moved->st_dev != payloadStat->st_dev) {
                throw;
            }
        }
        if (hooks().published) hooks().published();
        try {
            finishStage();
        } catch (...) {
            // The file is published whole; a stage whose record still says
            // unfinished holds no payload, and the sweep takes it away.
        }
        return destination_.url() / leaf;
    }
    raise(ErrorCase::fileExists);
}

void DownloadStage::discard() {
    if (owner_.finished) return;
    verifyOwnership();
    for (const char* name : stageFiles) {
        const auto st = entry(directory_, name);
        if (!st) continue;
        if (!singleLinked(*st)) raise(ErrorCase::cleanupBlocked);
    }
    for (const char* name : stageFiles) {
        if (entry(directory_, name)) removeStageFile(directory_, name);
    }
    finishStage();
}

CleanupResult DownloadStage::cleanup(const std::filesystem::path& destinationURL) {
    CleanupResult result;
    {
        struct stat st {};
        if (::lstat((destinationURL / rootName).c_str(), &st) != 0 && errno == ENOENT) return result;
    }
    const SecureDirectory destination(destinationURL, false);
    const SecureDirectory root(destinationURL / rootName, false);
    for (const std::string& name : root.list()) {
        const std::optional<UUID> id = UUID::parse(name);
        if (!id) {
            ++result.protectedCount;
            continue;
        }
        ++result.examined;
        try {
            const SecureDirectory stage(root.url() / name, false);
            const StateLease lease(stage, leaseName, true);
            const std::vector<uint8_t> ownerBytes = stage.read(ownerName);
            Owner owner = JSON::decode<Owner>(ownerBytes);
            const struct stat st = statOf(stage, ErrorCase::cleanupBlocked);
            if (owner.schema != 1 || owner.creator != Phase0::bundleID() || owner.purpose != purpose ||
                owner.id != *id || owner.device != static_cast<uint64_t>(st.st_dev) ||
                owner.inode != static_cast<uint64_t>(st.st_ino)) {
                raise(ErrorCase::cleanupBlocked);
            }
            bool hasFiles = false;
            for (const std::string& inside : stage.list()) {
                if (inside == payloadName || inside == partialName) hasFiles = true;
                else if (inside != ownerName && inside != leaseName) raise(ErrorCase::cleanupBlocked);
            }
            if (hasFiles) {
                // Each file must hold still across two stamps: one that
                // changes in between is still being written by someone.
                for (const char* file : stageFiles) {
                    if (!entry(stage, file)) continue;
                    const FileStamp first = stage.stamp(file);
                    if (first.links != 1) raise(ErrorCase::cleanupBlocked);
                    if (hooks().betweenStamps) hooks().betweenStamps(stage.url() / file);
                    if (stage.stamp(file) != first) raise(ErrorCase::cleanupBlocked);
                }
                if (stage.read(ownerName) != ownerBytes) raise(ErrorCase::cleanupBlocked);
                for (const char* file : stageFiles) {
                    if (entry(stage, file)) stage.removeOwnedFile(file);
                }
                if (hooks().swept) hooks().swept();
            }
            // A finished stage, or one a crash left, is only bookkeeping now.
            if (removeBookkeeping(destination, root, name, stage)) {
                ++result.removed;
            } else {
                if (!owner.finished) {
                    owner.finished = true;
                    stage.replaceState(ownerName, JSON::encode(owner));
                }
                ++result.blocked;
            }
        } catch (...) {
            // Anything unexpected about one stage (a live owner, a foreign
            // or edited record, a file in use, a failed write) leaves it as
            // it is; the other stages are still swept.
            ++result.blocked;
        }
    }
    return result;
}

void to_json(Json& j, const DownloadStage::Owner& o) {
    j = Json::object();
    j["schema"] = o.schema;
    j["creator"] = o.creator;
    j["purpose"] = o.purpose;
    j["id"] = o.id;
    j["device"] = o.device;
    j["inode"] = o.inode;
    j["finished"] = o.finished;
}

void from_json(const Json& j, DownloadStage::Owner& o) {
    JSON::requireObject(j, "download stage owner");
    o.schema = JSON::requireInt(j, "schema");
    o.creator = JSON::requireString(j, "creator");
    o.purpose = JSON::requireString(j, "purpose");
    o.id = JSON::require<UUID>(j, "id");
    o.device = JSON::requireUInt(j, "device");
    o.inode = JSON::requireUInt(j, "inode");
    o.finished = JSON::requireBool(j, "finished");
}

}  // namespace velmora
