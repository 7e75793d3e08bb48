#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/ExportBatch.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

namespace {

constexpr int maxCandidates = 10000;

std::string suffix(int n, bool productNaming) {
    if (n == 0) return "";
    if (productNaming) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "_%03d", n);
        return buf;
    }
    return "-" + std::to_string(n);
}

// The folder must still be the one we opened: moved or replaced since, the
// user would find the output somewhere they did not choose.
void checkSameFolder(const SecureDirectory& held) {
    std::optional<SecureDirectory> fresh;
    try {
        fresh.emplace(held.url(), false);
    } catch (const BrindlexError&) {
        raise(ErrorCase::unsafePath);
    }
    struct stat a {}, b {};
    if (::fstat(held.descriptor(), &a) != 0 || ::fstat(fresh->descriptor(), &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino) {
        raise(ErrorCase::confirmationChanged);
    }
}


// The data written afresh inside the destination folder, for when the staged
// file cannot be linked there (the folder is on another filesystem). The copy
// is whole and synced before it gets a name: preferably it has none until its
// publication (a crash leaves nothing behind); where the filesystem cannot
// make nameless files, a hidden name that is removed on every failure.
class DestinationCopy {
public:
    DestinationCopy(const SecureDirectory& folder, const std::vector<uint8_t>& data) : folder_(folder) {
        const int unsupported = SecureDirectory::injectedTmpfileError.load(std::memory_order_relaxed);
        if (!unsupported) fd_.reset(::openat(folder.descriptor(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (!fd_) {
            const int error = unsupported ? unsupported : errno;
            // Anything but a filesystem without nameless files is a failure
            // the named copy would meet as well.
            if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) raise(ErrorCase::saveFailed);
            name_ = ".brindlex-export-" + UUID::random().text();
            fd_.reset(::openat(folder.descriptor(), name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               0600));
            if (!fd_) {
                name_.clear();
                raise(ErrorCase::saveFailed);
            }
        }
        FileIO::writeAll(fd_.get(), data.data(), data.size());
        if (::fsync(fd_.get()) != 0) raise(ErrorCase::saveFailed);
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) raise(ErrorCase::saveFailed);
        stamp_.device = static_cast<uint64_t>(st.st_dev);
        stamp_.inode = static_cast<uint64_t>(st.st_ino);
        stamp_.size = static_cast<int64_t>(st.st_size);
        stamp_.sha256 = Digest::data(data);
        // The count it has once published under its one name.
        stamp_.links = 1;
    }
    DestinationCopy(const DestinationCopy&) = delete;
    DestinationCopy& operator=(const DestinationCopy&) = delete;
    ~DestinationCopy() {
        if (!name_.empty()) ::unlinkat(folder_.descriptor(), name_.c_str(), 0);
    }

    const FileStamp& stamp() const noexcept { return stamp_; }

    // Gives the copy the name, never replacing an entry: false when the name
    // is taken.
    bool publish(const std::string& candidate) {
        if (name_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
            if (::linkat(AT_FDCWD, self.c_str(), folder_.descriptor(), candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                return synced();
            }
            if (errno == EEXIST) return false;
            // Without /proc, only a privileged process may link by descriptor.
            if (errno != ENOENT ||
                ::linkat(fd_.get(), "", folder_.descriptor(), candidate.c_str(), AT_EMPTY_PATH) != 0) {
                if (errno == EEXIST) return false;
                raise(ErrorCase::saveFailed);
            }
            return synced();
        }
        try {
            folder_.exclusiveMove(name_, folder_, candidate);
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::fileExists) return false;
            // A failed flush after the rename still moved the copy.
            if (::faccessat(folder_.descriptor(), name_.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
                name_.clear();
            throw;
        }
        name_.clear();
        return true;
    }

private:
    bool synced() const {
        if (::fsync(folder_.descriptor()) != 0) raise(ErrorCase::saveFailed);
        return true;
    }

    const SecureDirectory& folder_;
    UniqueFD fd_;
    std::string name_;
    FileStamp stamp_;
};

// Under the first free name, never overwriting: the staged file itself
// hard-linked, or a synced copy written in the folder when the staged file
// is on another filesystem. Each attempt is announced first.
std::filesystem::path publishStaged(const SecureDirectory& folder, const SecureDirectory& staging,
                                    const std::string& staged, const FileStamp& stagedStamp,
                                    const std::vector<uint8_t>* data, std::string_view stem,
                                    std::string_view ext, const SecureDirectory::WillPublish& willPublish,
                                    bool productNaming) {
    const std::string base = SecureDirectory::safeStem(stem);
    std::optional<DestinationCopy> copy;
    for (int n = 0;; ++n) {
        if (n >= maxCandidates) raise(ErrorCase::fileExists);
        const std::string candidate = base + suffix(n, productNaming) + "." + std::string(ext);
        if (!SecureDirectory::validLeaf(candidate)) raise(ErrorCase::unsafePath);
        if (productNaming) checkSameFolder(folder);
        if (copy) {
            if (willPublish) willPublish(folder.url() / candidate, copy->stamp());
            if (!copy->publish(candidate)) continue;
            return folder.url() / candidate;
        }
        if (willPublish) willPublish(folder.url() / candidate, stagedStamp);
        if (::linkat(staging.descriptor(), staged.c_str(), folder.descriptor(), candidate.c_str(), 0) == 0) {
            if (::fsync(folder.descriptor()) != 0) raise(ErrorCase::saveFailed);
            return folder.url() / candidate;
        }
        if (errno == EXDEV) {
            // The data again, from the staged file when the caller no longer
            // holds it.
            if (data) {
                copy.emplace(folder, *data);
            } else {
                copy.emplace(folder, staging.read(staged));
            }
            // The same name again, announced with the copy's identity.
            --n;
            continue;
        }
        if (errno != EEXIST) raise(ErrorCase::saveFailed);
    }
}

}  // namespace

ExportBatch::ExportBatch(const SecureDirectory& destination, const std::vector<std::string>& extensions)
    : destination_(destination) {
    for (const std::string& ext : extensions) {
        if (!SecureDirectory::validLeaf(ext) || ext.find('.') != std::string::npos) raise(ErrorCase::unsafePath);
    }
    work_ = std::make_unique<OwnedWorkspace>(Phase0Work::exports(), OwnedRecord::Purpose::exportStage, UUID::random(),
                                             UUID::random(), UUID::random());
    try {
        auto reserved = work_->reserve(extensions);
        for (std::size_t i = 0; i < reserved.size(); ++i) {
            slots_.push_back(Slot{std::move(reserved[i].first), extensions[i], std::move(reserved[i].second), {}});
        }
    } catch (...) {
        slots_.clear();
        try {
            work_->finish();
        } catch (...) {
            // Left recorded for the next launch's clean-up.
        }
        throw;
    }
}

ExportBatch::~ExportBatch() {
    if (!work_) return;
    try {
        finish();
    } catch (...) {
        // What finish cannot delete stays recorded in the work folder; the
        // next launch's clean-up deals with it.
    }
}

void ExportBatch::write(std::size_t slot, const std::vector<uint8_t>& data, std::optional<std::size_t> failAfterBytes) {
    Slot& s = slots_.at(slot);
    if (!s.fd) raise(ErrorCase::saveFailed);
    try {
        FileIO::writeAll(s.fd.get(), data.data(), data.size(), failAfterBytes);
        if (::fsync(s.fd.get()) != 0) raise(ErrorCase::saveFailed);
    } catch (...) {
        discard(slot);
        throw;
    }
}

void ExportBatch::discard(std::size_t slot) {
    Slot& s = slots_.at(slot);
    // Emptied in place: the file keeps the identity the record proves ours.
    if (s.fd) ::ftruncate(s.fd.get(), 0);
}

void ExportBatch::seal(const std::vector<std::size_t>& written) {
    std::vector<std::string> names;
    for (std::size_t i : written) names.push_back(slots_.at(i).leaf);
    for (Slot& s : slots_) s.fd.reset();
    work_->prepareReserved(names);
    for (std::size_t i : written) slots_[i].stamp = work_->record().files.at(slots_[i].leaf);
}

std::filesystem::path ExportBatch::publish(std::size_t slot, std::string_view stem,
                                           const SecureDirectory::WillPublish& willPublish, bool productNaming) {
    const Slot& s = slots_.at(slot);
    if (!s.stamp) raise(ErrorCase::saveFailed);
    const SecureDirectory& staging = work_->directory();
    return publishStaged(destination_, staging, s.leaf, *s.stamp, nullptr, stem, s.ext, willPublish, productNaming);
}

void ExportBatch::finish() {
    if (!work_) return;
    for (Slot& s : slots_) s.fd.reset();
    std::unique_ptr<OwnedWorkspace> work = std::move(work_);
    work->finish();
}

std::atomic<int> SecureDirectory::injectedTmpfileError{0};

std::filesystem::path SecureDirectory::exportData(const std::vector<uint8_t>& data, std::string_view stem,
                                                  std::string_view ext, std::optional<std::size_t> failAfterBytes,
                                                  const WillPublish& willPublish, bool productNaming) const {
    if (!validLeaf(ext) || ext.find('.') != std::string_view::npos) raise(ErrorCase::unsafePath);
    OwnedWorkspace work(Phase0Work::exports(), OwnedRecord::Purpose::exportStage, UUID::random(), UUID::random(),
                        UUID::random());
    auto finishQuietly = [&] {
        try {
            work.finish();
        } catch (...) {
            // What finish cannot delete stays recorded in the work folder;
            // the next launch's clean-up deals with it.
        }
    };
    try {
        const std::string staged = work.write(data, ext, failAfterBytes).filename().string();
        work.preparePublication(staged);
        const std::filesystem::path url = publishStaged(*this, work.directory(), staged, work.directory().stamp(staged),
                                                        &data, stem, ext, willPublish, productNaming);
        // The staged name goes with the work folder: the published file then
        // has the one link its announced stamp counts.
        finishQuietly();
        return url;
    } catch (...) {
        finishQuietly();
        throw;
    }
}

}  // namespace velmora
