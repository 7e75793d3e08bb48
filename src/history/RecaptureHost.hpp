#pragma once

#include <string>

namespace velmora {

// Whoever can open a page again for a new capture: the current workspace
// window. Main thread only.
class RecaptureHost {
public:
    virtual ~RecaptureHost() = default;
    // Switches the current window to its web section, adds a normal tab and
    // starts loading url there (a refused load is not an error here). False,
    // with nothing done, when no window is current.
    virtual bool reopenForRecapture(const std::string& url) = 0;
};

}  // namespace velmora
