#include "foundation/FileIO.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "foundation/BrindlexError.hpp"

namespace velmora {

void UniqueFD::reset(int fd) noexcept {
    if (fd_ >= 0) {
        // close(2) on Linux releases the descriptor even when it reports an
        // error; retrying would close someone else's descriptor.
        ::close(fd_);
    }
    fd_ = fd;
}

namespace FileIO {

OpenedFile openRegular(int directoryFD, const char* name, bool followLinks) {
    OpenedFile out;
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (!followLinks) flags |= O_NOFOLLOW;
    out.fd.reset(::openat(directoryFD, name, flags));
    if (!out.fd) {
        out.error = errno;
        return out;
    }
    if (::fstat(out.fd.get(), &out.status) != 0) {
        out.error = errno;
        out.fd.reset();
        return out;
    }
    if (!S_ISREG(out.status.st_mode)) {
        out.notRegular = true;
        out.fd.reset();
        return out;
    }
    const int current = ::fcntl(out.fd.get(), F_GETFL);
    if (current < 0 || ::fcntl(out.fd.get(), F_SETFL, current & ~O_NONBLOCK) != 0) {
        out.error = errno;
        out.fd.reset();
    }
    return out;
}

void writeAll(int fd, const uint8_t* data, std::size_t size, std::optional<std::size_t> failAfterBytes) {
    std::size_t written = 0;
    while (written < size) {
        std::size_t ask = size - written;
        if (failAfterBytes) {
            if (written >= *failAfterBytes) raise(ErrorCase::saveFailed);
            ask = std::min(ask, *failAfterBytes - written);
        }
        ssize_t n = ::write(fd, data + written, ask);
        if (n < 0) {
            if (errno == EINTR) continue;
            raise(ErrorCase::saveFailed);
        }
        if (n == 0) raise(ErrorCase::saveFailed);
        written += static_cast<std::size_t>(n);
    }
}

std::vector<uint8_t> readAll(int fd) {
    std::vector<uint8_t> out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        out.reserve(static_cast<std::size_t>(st.st_size));
    }
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read");
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<std::string> list(int directoryFD) {
    int dup = ::openat(directoryFD, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dup < 0) throw std::system_error(errno, std::generic_category(), "open directory");
    DIR* dir = ::fdopendir(dup);
    if (!dir) {
        int err = errno;
        ::close(dup);
        throw std::system_error(err, std::generic_category(), "fdopendir");
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0) {
                int err = errno;
                ::closedir(dir);
                throw std::system_error(err, std::generic_category(), "readdir");
            }
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace FileIO
}  // namespace velmora
