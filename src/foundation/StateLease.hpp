#pragma once

#include <string_view>

#include "foundation/FileIO.hpp"

namespace velmora {

class SecureDirectory;

// Holding a lease means this process owns the folder now. The lock belongs to
// the open file, so a second lease object in this process is refused as well
// as another process; a crashed owner's lock goes away with it.
class StateLease {
public:
    // Never waits: a held lock is navigationBusy; a lock file that cannot be
    // opened (missing without create, a symbolic link) is cleanupBlocked.
    StateLease(const SecureDirectory& directory, std::string_view name, bool create);
    ~StateLease();
    StateLease(StateLease&&) noexcept = default;
    StateLease& operator=(StateLease&&) noexcept;
    StateLease(const StateLease&) = delete;
    StateLease& operator=(const StateLease&) = delete;

    int fd() const noexcept { return fd_.get(); }

private:
    UniqueFD fd_;
};

}  // namespace velmora
