#include "foundation/FreeSpace.hpp"

#include <sys/statvfs.h>

#include <cerrno>
#include <limits>
#include <system_error>

namespace velmora {

namespace {

class VolumeFreeSpace final : public FreeSpace {
public:
    uint64_t available(const SecureDirectory& folder) const override {
        struct statvfs st {};
        int rc = 0;
        do {
            rc = ::fstatvfs(folder.descriptor(), &st);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) throw std::system_error(errno, std::generic_category(), "fstatvfs " + folder.url().string());
        uint64_t bytes = 0;
        // A figure past 64 bits is more than any capture needs.
        if (__builtin_mul_overflow(static_cast<uint64_t>(st.f_bavail), static_cast<uint64_t>(st.f_frsize), &bytes)) {
            return std::numeric_limits<uint64_t>::max();
        }
        return bytes;
    }
};

}  // namespace

const FreeSpace& FreeSpace::system() {
    static const VolumeFreeSpace instance;
    return instance;
}

}  // namespace velmora
