#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/Task.hpp"

namespace velmora {

// The platform's folder picker. The real one is a GTK dialog (gui); tests use
// a fake.
class FolderChooser {
public:
    struct Request {
        std::string title;
        std::string acceptLabel;
        std::filesystem::path startFolder;
    };

    virtual ~FolderChooser() = default;
    // Shows the picker and resumes exactly once, on the main context, with
    // the chosen folder, or with nothing when the user cancelled or closed
    // it. The request must stay alive until the task ends (callers await it
    // at once, from a local).
    virtual Task<std::optional<std::filesystem::path>> choose(const Request& request) = 0;
};

}  // namespace velmora
