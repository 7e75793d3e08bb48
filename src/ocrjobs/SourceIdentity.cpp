#include "ocrjobs/SourceIdentity.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

constexpr std::size_t hashChunk = 1048576;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

[[noreturn]] void systemError(const char* what, const std::filesystem::path& url) {
    throw std::system_error(errno, std::generic_category(), std::string(what) + " " + url.string());
}

}  // namespace

SourceIdentity SourceIdentity::read(const std::filesystem::path& url, const std::optional<std::string>& password) {
    // The page count, the size and the digest are taken by three separate
    // reads of the file. Its status before the first and around the last
    // binds them to one version of the file: an identity mixing the page count
    // of one version with the digest of another would let a run recognise
    // pages that its checks never saw.
    struct stat initial {};
    const bool haveInitial = ::stat(url.c_str(), &initial) == 0;

    int64_t pageCount = 1;
    if (OCRProduct::isPDF(url)) {
        pageCount = Raster::pdfPageCount(url, password);
    } else {
        (void)Raster::image(url);
    }

    UniqueFD fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) systemError("open", url);
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) systemError("stat", url);
    // The loaders accepted a regular file; anything else now is a swapped path.
    if (!S_ISREG(before.st_mode) || !haveInitial || !sameFile(initial, before)) raise(ErrorCase::sourceChanged);

    Digest::Hasher hasher;
    std::vector<uint8_t> buf(hashChunk);
    for (;;) {
        ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            systemError("read", url);
        }
        if (n == 0) break;
        hasher.update(buf.data(), static_cast<std::size_t>(n));
    }
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) systemError("stat", url);
    if (!sameFile(before, after)) raise(ErrorCase::sourceChanged);

    return SourceIdentity(url.string(), static_cast<uint64_t>(before.st_size), pageCount, hasher.finishHex());
}

void to_json(Json& j, const SourceIdentity& s) {
    j = Json::object();
    j["path"] = s.path;
    j["byteCount"] = s.byteCount;
    j["pageCount"] = s.pageCount;
    j["sha256"] = s.sha256;
}

void from_json(const Json& j, SourceIdentity& s) {
    JSON::requireObject(j, "source identity");
    s.path = JSON::requireString(j, "path");
    s.byteCount = JSON::requireUInt(j, "byteCount");
    s.pageCount = JSON::requireInt(j, "pageCount");
    s.sha256 = JSON::requireString(j, "sha256");
}

}  // namespace velmora
