#pragma once

#include <optional>

#include "foundation/UUID.hpp"

namespace velmora {

// The process-wide gate that lets one tall-PNG capture run at a time. Main
// thread only: the guarantee rests on every caller running there, so there
// is no lock.
namespace CaptureAdmission {

// The capture holding the admission; a window refuses a tall-PNG save while
// it is set.
const std::optional<UUID>& owner();
// navigationBusy while any capture holds it, the same one included.
void acquire(const UUID& id);
// Frees the admission only for its holder; any other call does nothing.
void release(const UUID& id);

}  // namespace CaptureAdmission
}  // namespace velmora
