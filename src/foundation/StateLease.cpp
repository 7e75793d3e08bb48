#include "foundation/StateLease.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <string>

#include "foundation/BrindlexError.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

StateLease::StateLease(const SecureDirectory& directory, std::string_view name, bool create) {
    if (!SecureDirectory::validLeaf(name)) raise(ErrorCase::unsafePath);
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    UniqueFD fd(::openat(directory.descriptor(), std::string(name).c_str(), flags, 0600));
    if (!fd) raise(ErrorCase::cleanupBlocked);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) raise(ErrorCase::navigationBusy);
    fd_ = std::move(fd);
}

StateLease& StateLease::operator=(StateLease&& other) noexcept {
    if (this != &other) {
        if (fd_) ::flock(fd_.get(), LOCK_UN);
        fd_ = std::move(other.fd_);
    }
    return *this;
}

StateLease::~StateLease() {
    if (fd_) ::flock(fd_.get(), LOCK_UN);
}

}  // namespace velmora
