#include "foundation/OwnedWorkspace.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace Phase0Work {
std::filesystem::path root() { return AppRuntime::current().storage / "work"; }
std::filesystem::path exports() { return root() / "exports"; }
std::filesystem::path captures() { return root() / "captures"; }
std::filesystem::path printing() { return root() / "printing"; }
std::filesystem::path lifecycle() { return root() / "lifecycle"; }
}  // namespace Phase0Work

namespace {

constexpr const char* leaseName = "lease";
constexpr const char* recordName = "owner.json";

constexpr const char* creatingPrefix = ".creating-";

bool sameFile(const SecureDirectory& a, const SecureDirectory& b) {
    struct stat x {}, y {};
    return ::fstat(a.descriptor(), &x) == 0 && ::fstat(b.descriptor(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

// Removes a folder that holds nothing but our own bookkeeping: its lease, its
// record and half-written stages of the record. Called with the lease held.
bool removeBookkeepingFolder(const SecureDirectory& root, const std::string& name, const SecureDirectory& folder) {
    std::vector<std::string> names;
    try {
        names = folder.list();
    } catch (const std::system_error&) {
        return false;
    }
    for (const auto& n : names) {
        if (n != leaseName && n != recordName && !n.starts_with(".stage-")) return false;
    }
    // The lease goes last, so nobody can take it while the rest is removed.
    std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return n != leaseName; });
    for (const auto& n : names) {
        if (::unlinkat(folder.descriptor(), n.c_str(), 0) != 0) return false;
    }
    // Fails harmlessly if someone put something into it meanwhile.
    if (::unlinkat(root.descriptor(), name.c_str(), AT_REMOVEDIR) != 0) return false;
    ::fsync(root.descriptor());
    return true;
}

bool sameFile(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

}  // namespace

OwnedWorkspace::OwnedWorkspace(const std::filesystem::path& root, OwnedRecord::Purpose purpose, UUID runID,
                               UUID jobID, UUID attemptID)
    : directory_(create(root, purpose, runID, jobID, attemptID, lockFD_, record_)) {}

// The folder is built under a hidden name and renamed into place with its
// lease and record, so a crash never leaves an attempt folder without a
// record (which clean-up could never prove to be ours).
SecureDirectory OwnedWorkspace::create(const std::filesystem::path& root, OwnedRecord::Purpose purpose, UUID runID,
                                       UUID jobID, UUID attemptID, UniqueFD& lockFD, OwnedRecord& record) {
    SecureDirectory rootDir(root, true);
    const std::string name = attemptID.text();
    const std::string building = creatingPrefix + name;
    struct stat st {};
    if (::fstatat(rootDir.descriptor(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) raise(ErrorCase::cleanupBlocked);
    if (::mkdirat(rootDir.descriptor(), building.c_str(), 0700) != 0) {
        raise(errno == EEXIST ? ErrorCase::cleanupBlocked : ErrorCase::saveFailed);
    }
    SecureDirectory staging(root / building, false);
    UniqueFD fd(::openat(staging.descriptor(), leaseName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) raise(ErrorCase::cleanupBlocked);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) raise(ErrorCase::cleanupBlocked);
    record = OwnedRecord::make(runID, jobID, attemptID, purpose);
    try {
        staging.replaceState(recordName, JSON::encode(record));
    } catch (...) {
        removeBookkeepingFolder(rootDir, building, staging);
        throw;
    }
    if (::renameat2(rootDir.descriptor(), building.c_str(), rootDir.descriptor(), name.c_str(), RENAME_NOREPLACE) != 0) {
        const int err = errno;
        removeBookkeepingFolder(rootDir, building, staging);
        raise(err == EEXIST ? ErrorCase::cleanupBlocked : ErrorCase::saveFailed);
    }
    if (::fsync(rootDir.descriptor()) != 0) raise(ErrorCase::saveFailed);
    SecureDirectory folder(root / name, false);
    if (!sameFile(folder, staging)) raise(ErrorCase::cleanupBlocked);
    lockFD = std::move(fd);
    return folder;
}

OwnedWorkspace::~OwnedWorkspace() {
    if (lockFD_) ::flock(lockFD_.get(), LOCK_UN);
}

void OwnedWorkspace::writeRecord() { directory_.replaceState(recordName, JSON::encode(record_)); }

bool OwnedWorkspace::ownershipHolds(const OwnedRecord& record, const std::string& name, const FileStamp& recorded,
                                    const FileStamp& current) {
    if (record.purpose == OwnedRecord::Purpose::exportStage && record.publicationPrepared &&
        record.publicationPrepared->count(name)) {
        // The published hard link may or may not exist yet.
        return sameFile(current, recorded) && current.size == recorded.size && current.sha256 == recorded.sha256 &&
               (current.links == 1 || current.links == 2);
    }
    if (record.mutableFiles.count(name) && record.purpose == OwnedRecord::Purpose::printScratch) {
        // The print engine saves its PDF by replacing the reserved file with a
        // new one: the identity changes too. The name is ours, random, in a
        // private folder whose only other writer is that engine.
        return current.links == 1;
    }
    if (record.mutableFiles.count(name)) {
        // Content may still change after the recorded stamp; identity may not.
        return sameFile(current, recorded) && current.links == 1;
    }
    return current == recorded;
}

std::filesystem::path OwnedWorkspace::write(const std::vector<uint8_t>& data, std::string_view ext,
                                            std::optional<std::size_t> failAfterBytes) {
    if (!SecureDirectory::validLeaf(ext)) raise(ErrorCase::unsafePath);
    const std::string leaf = "work-" + UUID::random().text() + "." + std::string(ext);
    if (!SecureDirectory::validLeaf(leaf)) raise(ErrorCase::unsafePath);
    UniqueFD fd(::openat(directory_.descriptor(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0600));
    if (!fd) raise(ErrorCase::saveFailed);
    // From here a crash leaves a file recorded as mutable with the stamp of the
    // empty file, which clean-up may delete.
    record_.files[leaf] = directory_.stamp(leaf);
    record_.mutableFiles.insert(leaf);
    writeRecord();
    FileIO::writeAll(fd.get(), data.data(), data.size(), failAfterBytes);
    if (::fsync(fd.get()) != 0) raise(ErrorCase::saveFailed);
    record_.files[leaf] = directory_.stamp(leaf);
    record_.mutableFiles.erase(leaf);
    writeRecord();
    return directory_.url() / leaf;
}

std::filesystem::path OwnedWorkspace::reserveMutablePDF() {
    if (record_.purpose != OwnedRecord::Purpose::printScratch) raise(ErrorCase::unsafePath);
    auto url = write({}, "pdf");
    record_.mutableFiles.insert(url.filename().string());
    writeRecord();
    return url;
}

std::vector<std::pair<std::string, UniqueFD>> OwnedWorkspace::reserve(const std::vector<std::string>& extensions) {
    std::vector<std::pair<std::string, UniqueFD>> reserved;
    reserved.reserve(extensions.size());
    // Nothing is written into any of them before the record lists them all,
    // so whatever a crash leaves, the record proves it ours to delete.
    for (const std::string& ext : extensions) {
        if (!SecureDirectory::validLeaf(ext)) raise(ErrorCase::unsafePath);
        const std::string leaf = "work-" + UUID::random().text() + "." + ext;
        if (!SecureDirectory::validLeaf(leaf)) raise(ErrorCase::unsafePath);
        UniqueFD fd(::openat(directory_.descriptor(), leaf.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) raise(ErrorCase::saveFailed);
        record_.files[leaf] = directory_.stamp(leaf);
        record_.mutableFiles.insert(leaf);
        reserved.emplace_back(leaf, std::move(fd));
    }
    writeRecord();
    return reserved;
}

void OwnedWorkspace::prepareReserved(const std::vector<std::string>& names) {
    if (record_.purpose != OwnedRecord::Purpose::exportStage) raise(ErrorCase::unsafePath);
    for (const std::string& leaf : names) {
        if (!record_.files.count(leaf)) raise(ErrorCase::unsafePath);
        record_.files[leaf] = directory_.stamp(leaf);
        record_.mutableFiles.erase(leaf);
        if (!record_.publicationPrepared) record_.publicationPrepared.emplace();
        record_.publicationPrepared->insert(leaf);
    }
    writeRecord();
}

void OwnedWorkspace::preparePublication(std::string_view name) {
    const std::string leaf(name);
    if (record_.purpose != OwnedRecord::Purpose::exportStage || !record_.files.count(leaf) ||
        record_.mutableFiles.count(leaf)) {
        raise(ErrorCase::unsafePath);
    }
    if (!record_.publicationPrepared) record_.publicationPrepared.emplace();
    record_.publicationPrepared->insert(leaf);
    writeRecord();
}

void OwnedWorkspace::registerFile(const std::filesystem::path& url) {
    // Both sides without a trailing separator, so "dir/" and "dir" compare equal.
    auto normal = [](const std::filesystem::path& p) {
        auto n = p.lexically_normal();
        if (!n.has_filename() && n.has_parent_path()) n = n.parent_path();
        return n;
    };
    if (normal(url.parent_path()) != normal(directory_.url())) raise(ErrorCase::unsafePath);
    const std::string leaf = url.filename().string();
    if (!leaf.starts_with("work-")) raise(ErrorCase::unsafePath);
    record_.files[leaf] = directory_.stamp(leaf);
    writeRecord();
}

void OwnedWorkspace::forgetPublished(std::string_view name) {
    const std::string leaf(name);
    record_.files.erase(leaf);
    record_.mutableFiles.erase(leaf);
    writeRecord();
}

void OwnedWorkspace::finish() {
    for (const auto& [name, recorded] : record_.files) {
        FileStamp current = directory_.stamp(name);
        if (!ownershipHolds(record_, name, recorded, current)) raise(ErrorCase::cleanupBlocked);
        // The record written below syncs the folder, and every removal with it.
        directory_.removeOwnedFile(name, false);
    }
    record_.files.clear();
    record_.mutableFiles.clear();
    record_.state = OwnedRecord::State::finished;
    writeRecord();
}

void OwnedWorkspace::abandon() {
    record_.state = OwnedRecord::State::abandoned;
    writeRecord();
    ::flock(lockFD_.get(), LOCK_UN);
    lockFD_.reset();
}

namespace {

enum class FolderOutcome { cleaned, protectedFolder, blocked };

// Whether nothing at all, not even a dangling link, has the name.
bool absent(const SecureDirectory& folder, const std::string& leaf) {
    struct stat st {};
    return ::fstatat(folder.descriptor(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// The print engine writes its PDF through GIO's replace, which stages the new
// file beside the reserved one under ".goutputstream-" and renames it over at
// the end: a process killed mid-write leaves that stage behind. It is half of
// our own scratch PDF, so it goes, but only from print scratch folders and
// only as a plain file of ours with no other name.
void removeEngineStages(const SecureDirectory& folder) {
    std::vector<std::string> names;
    try {
        names = folder.list();
    } catch (const std::system_error&) {
        return;
    }
    for (const auto& n : names) {
        if (!n.starts_with(".goutputstream-")) continue;
        struct stat st {};
        if (::fstatat(folder.descriptor(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::getuid()) continue;
        ::unlinkat(folder.descriptor(), n.c_str(), 0);
    }
}

FolderOutcome cleanFolder(const SecureDirectory& root, const std::string& name, const UUID& id,
                          std::optional<int64_t> failAfter, CleanupResult& result) {
    std::optional<SecureDirectory> folder;
    try {
        folder.emplace(root.url() / name, false);
    } catch (const BrindlexError&) {
        return FolderOutcome::blocked;
    }
    UniqueFD lease(::openat(folder->descriptor(), leaseName, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!lease) return FolderOutcome::blocked;
    if (::flock(lease.get(), LOCK_EX | LOCK_NB) != 0) return FolderOutcome::protectedFolder;
    struct Unlock {
        int fd;
        ~Unlock() { ::flock(fd, LOCK_UN); }
    } unlock{lease.get()};

    OwnedRecord record;
    try {
        record = JSON::decode<OwnedRecord>(folder->read(recordName));
    } catch (const BrindlexError&) {
        return FolderOutcome::blocked;
    } catch (const JSON::DecodeError&) {
        return FolderOutcome::blocked;
    } catch (const std::system_error&) {
        return FolderOutcome::blocked;
    }
    if (record.schema != 1 || record.creator != Phase0::bundleID() || record.attemptID != id) {
        return FolderOutcome::blocked;
    }
    if (record.purpose == OwnedRecord::Purpose::printScratch) removeEngineStages(*folder);
    if (record.state == OwnedRecord::State::finished) {
        // A folder an earlier run finished, with nothing left in it but its
        // bookkeeping, goes away: otherwise every export would leave a folder
        // behind for ever and every launch would walk all of them.
        removeBookkeepingFolder(root, name, *folder);
        return FolderOutcome::protectedFolder;
    }

    auto writeRecord = [&](const OwnedRecord& r) {
        try {
            folder->replaceState(recordName, JSON::encode(r));
            return true;
        } catch (const BrindlexError&) {
            return false;
        }
    };

    // Check every listed file before deleting any. A listed file that is
    // already gone (a crash between its unlink and the record's rewrite) counts
    // as removed: blocking on it would keep the folder for ever. Only a name
    // that is truly absent is gone: one that merely cannot be opened (a
    // symbolic link in its place, no permission, no descriptor left) is still
    // there, and forgetting it would lose track of a file we may own.
    std::vector<std::string> gone;
    for (const auto& [leaf, recorded] : record.files) {
        if (!leaf.starts_with("work-") || !SecureDirectory::validLeaf(leaf)) return FolderOutcome::blocked;
        try {
            FileStamp current = folder->stamp(leaf);
            if (!OwnedWorkspace::ownershipHolds(record, leaf, recorded, current)) return FolderOutcome::blocked;
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::sourceMissing && absent(*folder, leaf)) {
                gone.push_back(leaf);
                continue;
            }
            return FolderOutcome::blocked;
        } catch (const std::system_error&) {
            return FolderOutcome::blocked;
        }
    }
    if (!gone.empty()) {
        for (const auto& leaf : gone) {
            record.files.erase(leaf);
            record.mutableFiles.erase(leaf);
        }
        if (!writeRecord(record)) return FolderOutcome::blocked;
    }

    const std::vector<std::pair<std::string, FileStamp>> entries(record.files.begin(), record.files.end());
    for (const auto& [leaf, recorded] : entries) {
        if (failAfter && result.removed >= *failAfter) return FolderOutcome::blocked;
        try {
            FileStamp current = folder->stamp(leaf);
            if (!OwnedWorkspace::ownershipHolds(record, leaf, recorded, current)) return FolderOutcome::blocked;
            // Nobody may have changed the record since it was read.
            if (folder->read(recordName) != JSON::encode(record)) return FolderOutcome::blocked;
            folder->removeOwnedFile(leaf);
        } catch (const BrindlexError&) {
            return FolderOutcome::blocked;
        } catch (const std::system_error&) {
            return FolderOutcome::blocked;
        }
        result.removed += 1;
        record.files.erase(leaf);
        record.mutableFiles.erase(leaf);
        if (!writeRecord(record)) return FolderOutcome::blocked;
    }
    record.state = OwnedRecord::State::finished;
    if (!writeRecord(record)) return FolderOutcome::blocked;
    return FolderOutcome::cleaned;
}

// A folder whose creator died before renaming it into place holds nothing
// but bookkeeping; once its lease is free it is removed.
void removeAbandonedCreation(const SecureDirectory& root, const std::string& name) {
    if (!UUID::parse(std::string_view(name).substr(std::string_view(creatingPrefix).size()))) return;
    std::optional<SecureDirectory> folder;
    try {
        folder.emplace(root.url() / name, false);
    } catch (const BrindlexError&) {
        return;
    }
    UniqueFD lease(::openat(folder->descriptor(), leaseName, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (lease && ::flock(lease.get(), LOCK_EX | LOCK_NB) != 0) return;  // its creator is still at work
    removeBookkeepingFolder(root, name, *folder);
}

}  // namespace

CleanupResult OwnedWorkspace::cleanup(const std::filesystem::path& root, std::optional<int64_t> failAfter) {
    CleanupResult result;
    SecureDirectory rootDir(root, true);
    std::vector<std::string> names = rootDir.list();
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        auto id = UUID::parse(name);
        if (!id) {
            if (name.starts_with(creatingPrefix)) removeAbandonedCreation(rootDir, name);
            result.protectedCount += 1;
            continue;
        }
        result.examined += 1;
        switch (cleanFolder(rootDir, name, *id, failAfter, result)) {
        case FolderOutcome::cleaned: break;
        case FolderOutcome::protectedFolder: result.protectedCount += 1; break;
        case FolderOutcome::blocked: result.blocked += 1; break;
        }
    }
    return result;
}

}  // namespace velmora
