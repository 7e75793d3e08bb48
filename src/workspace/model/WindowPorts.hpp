#pragma once

#include "foundation/UUID.hpp"
#include "ocrqueue/QueuePorts.hpp"
#include "workspace/model/WindowSetLink.hpp"

namespace velmora {

namespace WindowPorts {

// The platform seams of the queue of the window with this model id: the
// queue's GTK dialogs, on that window, looked up when each one opens.
QueuePorts queuePorts(WindowSetLink& windows, const UUID& modelID);

}  // namespace WindowPorts
}  // namespace velmora
