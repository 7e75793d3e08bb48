#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// Owns one POSIX descriptor and closes it exactly once.
class UniqueFD {
public:
    UniqueFD() = default;
    explicit UniqueFD(int fd) noexcept : fd_(fd) {}
    ~UniqueFD() { reset(); }
    UniqueFD(UniqueFD&& o) noexcept : fd_(o.release()) {}
    UniqueFD& operator=(UniqueFD&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueFD(const UniqueFD&) = delete;
    UniqueFD& operator=(const UniqueFD&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

namespace FileIO {

// A file opened for reading, or why it was not.
struct OpenedFile {
    UniqueFD fd;
    // The errno of a failed open; 0 when the open succeeded.
    int error = 0;
    // Something other than a regular file is at the name (a FIFO, a device, a
    // folder); fd is closed then.
    bool notRegular = false;
    // What fstat reported for the opened descriptor.
    struct stat status {};

    explicit operator bool() const noexcept { return static_cast<bool>(fd); }
};

// Opens name relative to directoryFD (or AT_FDCWD) for reading, and only if
// it is a regular file. The open itself never blocks: a FIFO without a writer
// or a device put where a file should be would otherwise hold the caller
// before anything could refuse it. O_NONBLOCK is cleared again once the
// descriptor is known to be a regular file. Without followLinks a symbolic
// link at the last component fails the open (ELOOP).
OpenedFile openRegular(int directoryFD, const char* name, bool followLinks = false);

// Writes every byte with write(2), retrying EINTR. A failed call, or one that
// writes nothing while bytes remain, throws saveFailed. With failAfterBytes
// set, no call asks for more than the remaining allowance, and once that many
// bytes are written while bytes remain the write stops with saveFailed.
void writeAll(int fd, const uint8_t* data, std::size_t size, std::optional<std::size_t> failAfterBytes = std::nullopt);

// Reads to the end; a read error passes on as std::system_error.
std::vector<uint8_t> readAll(int fd);

// Names in a directory (without "." and ".."), read through a duplicate of the
// descriptor so the caller's offset is untouched. Errors pass on as
// std::system_error.
std::vector<std::string> list(int directoryFD);

}  // namespace FileIO
}  // namespace velmora
