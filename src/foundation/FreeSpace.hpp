#pragma once

#include <cstdint>

#include "foundation/SecureDirectory.hpp"

namespace velmora {

// How many bytes an ordinary writer may still put on the volume of a folder.
// An interface, so the decisions made on it are tested with a fake figure.
class FreeSpace {
public:
    virtual ~FreeSpace() = default;
    // Asked through the folder's own descriptor, so it is the volume the
    // folder is on now. A volume that cannot be asked is std::system_error.
    virtual uint64_t available(const SecureDirectory& folder) const = 0;

    // The file system's own figure: the blocks free to unprivileged writers
    // times the fragment size.
    static const FreeSpace& system();
};

}  // namespace velmora
