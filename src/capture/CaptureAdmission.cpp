#include "capture/CaptureAdmission.hpp"

#include "foundation/BrindlexError.hpp"

namespace velmora::CaptureAdmission {

namespace {

std::optional<UUID>& holder() {
    static std::optional<UUID> id;
    return id;
}

}  // namespace

const std::optional<UUID>& owner() { return holder(); }

void acquire(const UUID& id) {
    if (holder()) raise(ErrorCase::navigationBusy);
    holder() = id;
}

void release(const UUID& id) {
    if (holder() == id) holder().reset();
}

}  // namespace velmora::CaptureAdmission
