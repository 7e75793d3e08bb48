#pragma once

#include <memory>

#include "foundation/UUID.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

class WindowModel;

// What a window model needs of the set of workspace windows: the debounced
// tab snapshot after every change of its tabs, and its own platform window,
// the parent of the questions it asks. The window set implements it and
// outlives every model it links. Main thread only.
class WindowSetLink {
public:
    virtual ~WindowSetLink() = default;
    // Writes the tab snapshot a short while after the last such call.
    virtual void scheduleSnapshot() = 0;
    // The platform window that shows the model with this id; null while it
    // has none (not yet made, or already gone).
    virtual Gtk::Window* platformWindow(const UUID& modelID) = 0;
    // Opens a new window for work this one cannot take and returns its
    // model; none when no window opens (the application is quitting).
    virtual std::shared_ptr<WindowModel> openWindow() { return nullptr; }
};

}  // namespace velmora
