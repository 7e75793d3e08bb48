#include "foundation/SecureDirectory.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/UUID.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

constexpr std::size_t maxLeafBytes = 240;
constexpr std::size_t maxStemBytes = 160;
constexpr std::size_t stampChunk = 1048576;

std::vector<std::string> pieces(const std::string& path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool forbiddenInStem(char32_t c) {
    switch (c) {
    case U'/': case U'\\': case U':': case U'<': case U'>': case U'|': case U'?': case U'*':
        return true;
    default:
        return Unicode::isControlOrFormat(c);
    }
}

}  // namespace

SecureDirectory::SecureDirectory(const std::filesystem::path& url, bool create) : url_(url) {
    const std::string path = url.string();
    if (path.empty() || path.front() != '/') raise(ErrorCase::unsafePath);
    const auto parts = pieces(path);
    for (const auto& p : parts) {
        if (p == "." || p == "..") raise(ErrorCase::unsafePath);
    }
    UniqueFD current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current) raise(ErrorCase::unsafePath);
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    for (const auto& p : parts) {
        int next = ::openat(current.get(), p.c_str(), flags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), p.c_str(), 0700) != 0 && errno != EEXIST) raise(ErrorCase::saveFailed);
            next = ::openat(current.get(), p.c_str(), flags);
        }
        if (next < 0) raise(ErrorCase::unsafePath);
        current.reset(next);
    }
    fd_ = std::move(current);
}

bool SecureDirectory::validLeaf(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find('/') != std::string_view::npos) return false;
    if (name.find('\0') != std::string_view::npos) return false;
    return name.size() <= maxLeafBytes;
}

std::string SecureDirectory::safeStem(std::string_view text) {
    const std::string normalized = Unicode::nfc(text);
    std::string replaced;
    replaced.reserve(normalized.size());
    for (char32_t c : Unicode::scalars(normalized)) {
        if (forbiddenInStem(c)) replaced += '_';
        else Unicode::appendScalar(replaced, c);
    }
    std::size_t begin = 0, end = replaced.size();
    while (begin < end && (replaced[begin] == '.' || replaced[begin] == ' ')) ++begin;
    while (end > begin && (replaced[end - 1] == '.' || replaced[end - 1] == ' ')) --end;
    const std::string_view trimmed = std::string_view(replaced).substr(begin, end - begin);
    std::string stem(Unicode::cutAtWord(trimmed, Unicode::truncateGraphemes(trimmed, maxStemBytes).size()));
    if (stem.empty()) stem = ProductBrand::current().englishIdentifier;
    return stem;
}

std::vector<uint8_t> SecureDirectory::read(std::string_view name) const {
    if (!validLeaf(name)) raise(ErrorCase::unsafePath);
    // A FIFO, device or folder at a state file's name is refused at once: a
    // blocking open would hold the caller (the settings store on the main
    // thread, the launch's recovery) for as long as nobody writes to it.
    FileIO::OpenedFile file = FileIO::openRegular(descriptor(), std::string(name).c_str());
    if (file.notRegular) raise(ErrorCase::unsafePath);
    if (!file) raise(ErrorCase::damagedCheckpoint);
    return FileIO::readAll(file.fd.get());
}

void SecureDirectory::replaceState(std::string_view name, const std::vector<uint8_t>& data, bool durable) const {
    if (!validLeaf(name)) raise(ErrorCase::unsafePath);
    const std::string stage = ".stage-" + UUID::random().text();
    {
        UniqueFD fd(::openat(descriptor(), stage.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) raise(ErrorCase::saveFailed);
        try {
            FileIO::writeAll(fd.get(), data.data(), data.size());
            if (durable && ::fsync(fd.get()) != 0) raise(ErrorCase::saveFailed);
        } catch (...) {
            fd.reset();
            ::unlinkat(descriptor(), stage.c_str(), 0);
            throw;
        }
    }
    const std::string target(name);
    struct stat st {};
    if (::fstatat(descriptor(), target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        ::unlinkat(descriptor(), stage.c_str(), 0);
        raise(ErrorCase::unsafePath);
    }
    if (::renameat(descriptor(), stage.c_str(), descriptor(), target.c_str()) != 0) {
        ::unlinkat(descriptor(), stage.c_str(), 0);
        raise(ErrorCase::saveFailed);
    }
    if (durable && ::fsync(descriptor()) != 0) {
        // The rename has happened: the stage name no longer exists, and the new
        // content is in place but may not be durable yet.
        raise(ErrorCase::saveFailed);
    }
}

void SecureDirectory::removeOwnedFile(std::string_view name, bool durable) const {
    if (!validLeaf(name)) raise(ErrorCase::unsafePath);
    const std::string leaf(name);
    struct stat st {};
    if (::fstatat(descriptor(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        raise(ErrorCase::unsafePath);
    }
    if (::unlinkat(descriptor(), leaf.c_str(), 0) != 0) raise(ErrorCase::saveFailed);
    if (durable && ::fsync(descriptor()) != 0) raise(ErrorCase::saveFailed);
}

void SecureDirectory::removeEmptyFolder(std::string_view name) const {
    if (!validLeaf(name)) raise(ErrorCase::unsafePath);
    const std::string leaf(name);
    struct stat st {};
    if (::fstatat(descriptor(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
        raise(ErrorCase::unsafePath);
    }
    // The system removes a folder only while it is empty, in one step: a
    // file put into it meanwhile keeps it.
    if (::unlinkat(descriptor(), leaf.c_str(), AT_REMOVEDIR) != 0) raise(ErrorCase::saveFailed);
}

FileStamp SecureDirectory::stamp(std::string_view name) const {
    if (!validLeaf(name)) raise(ErrorCase::unsafePath);
    // Opened without blocking: a FIFO put in the place of a file is refused
    // below as not regular instead of hanging the caller on its open.
    UniqueFD fd(::openat(descriptor(), std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) raise(ErrorCase::sourceMissing);
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode)) raise(ErrorCase::unsafePath);
    Digest::Hasher hasher;
    std::vector<uint8_t> buf(stampChunk);
    int64_t hashed = 0;
    for (;;) {
        ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read");
        }
        if (n == 0) break;
        hasher.update(buf.data(), static_cast<std::size_t>(n));
        hashed += n;
    }
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0 || hashed != before.st_size || after.st_size != before.st_size ||
        after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
        after.st_ctim.tv_sec != before.st_ctim.tv_sec || after.st_ctim.tv_nsec != before.st_ctim.tv_nsec) {
        raise(ErrorCase::confirmationChanged);
    }
    FileStamp s;
    s.device = static_cast<uint64_t>(before.st_dev);
    s.inode = static_cast<uint64_t>(before.st_ino);
    s.size = hashed;
    s.sha256 = hasher.finishHex();
    s.links = static_cast<uint64_t>(before.st_nlink);
    return s;
}

std::atomic<int> SecureDirectory::injectedRenameError{0};

void SecureDirectory::exclusiveMove(std::string_view name, const SecureDirectory& destination,
                                    std::string_view newName) const {
    if (!validLeaf(name) || !validLeaf(newName)) raise(ErrorCase::saveFailed);
    const std::string from(name), to(newName);
    int failure = 0;
    if (const int injected = injectedRenameError.load(std::memory_order_relaxed)) {
        failure = injected;
    } else if (::renameat2(descriptor(), from.c_str(), destination.descriptor(), to.c_str(), RENAME_NOREPLACE) != 0) {
        failure = errno;
    }
    if (failure == EINVAL || failure == ENOSYS) {
        // A filesystem without the flag (some network and FUSE ones): a hard
        // link is just as unable to replace an entry, and the old name goes
        // once the new one exists. Only regular files take this road; a
        // folder cannot be linked.
        if (::linkat(descriptor(), from.c_str(), destination.descriptor(), to.c_str(), 0) != 0) {
            failure = errno;
        } else if (::unlinkat(descriptor(), from.c_str(), 0) != 0) {
            // Both names now lead to the file; taking the new one back
            // leaves things as they were before the move.
            ::unlinkat(destination.descriptor(), to.c_str(), 0);
            raise(ErrorCase::saveFailed);
        } else {
            failure = 0;
        }
    }
    if (failure == EEXIST) raise(ErrorCase::fileExists);
    if (failure != 0) raise(ErrorCase::saveFailed);
    if (::fsync(descriptor()) != 0 || ::fsync(destination.descriptor()) != 0) raise(ErrorCase::saveFailed);
}

std::vector<std::string> SecureDirectory::list() const { return FileIO::list(descriptor()); }

}  // namespace velmora
