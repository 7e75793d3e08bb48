#include "ocrjobs/QueueFolderInput.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>

#include <unicode/coll.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/FileIO.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora::QueueFolderInput {

namespace {

struct Walk {
    const JobControl& control;
    bool recursive;
    std::size_t limit;
    std::size_t visited = 0;
    std::vector<std::filesystem::path> result;

    void folder(int fd, const std::filesystem::path& path) {
        for (const auto& name : FileIO::list(fd)) {
            // Hidden entries are never visited and never counted.
            if (name.starts_with(".")) continue;
            if (control.stopRequested()) raise(ErrorCase::cancelled);
            if (++visited > maximumEntries) raise(ErrorCase::budgetExceeded);
            struct stat st {};
            if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                throw std::system_error(errno, std::generic_category(), "stat " + (path / name).string());
            }
            if (S_ISLNK(st.st_mode)) continue;
            if (S_ISDIR(st.st_mode)) {
                if (!recursive) continue;
                UniqueFD sub(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (!sub) throw std::system_error(errno, std::generic_category(), "open " + (path / name).string());
                folder(sub.get(), path / name);
                continue;
            }
            if (!S_ISREG(st.st_mode) || name.starts_with("._")) continue;
            const auto url = path / name;
            if (!OCRProduct::accepts(url)) continue;
            if (result.size() >= limit) raise(ErrorCase::budgetExceeded);
            result.push_back(url);
        }
    }
};

// One collator per thread: a collator is not to be shared while comparing.
const icu::Collator& collator() {
    thread_local const std::unique_ptr<icu::Collator> c = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU collator is unavailable");
        made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        made->setStrength(icu::Collator::SECONDARY);
        return made;
    }();
    return *c;
}

}  // namespace

bool naturalLess(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::string as = a.string(), bs = b.string();
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        collator().compareUTF8(icu::StringPiece(as.data(), static_cast<int32_t>(as.size())),
                               icu::StringPiece(bs.data(), static_cast<int32_t>(bs.size())), status);
    if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS;
    return as < bs;  // equal to the collator: keep a stable, total order
}

std::vector<std::filesystem::path> enumerate(const std::filesystem::path& folder, bool recursive,
                                             const JobControl& control, std::size_t limit) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        throw std::system_error(errno, std::generic_category(), "stat " + folder.string());
    }
    if (!S_ISDIR(st.st_mode)) raise(ErrorCase::unsafePath);
    UniqueFD fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) raise(ErrorCase::accessDenied);
    Walk walk{control, recursive, limit, 0, {}};
    walk.folder(fd.get(), folder);
    std::sort(walk.result.begin(), walk.result.end(), naturalLess);
    return std::move(walk.result);
}

}  // namespace velmora::QueueFolderInput
