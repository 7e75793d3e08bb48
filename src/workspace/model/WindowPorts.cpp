#include "workspace/model/WindowPorts.hpp"

#include "ocrviews/GtkQueuePorts.hpp"

namespace velmora::WindowPorts {

QueuePorts queuePorts(WindowSetLink& windows, const UUID& modelID) {
    // The window set outlives every model of it.
    return gtkQueuePorts([&windows, modelID] { return windows.platformWindow(modelID); });
}

}  // namespace velmora::WindowPorts
