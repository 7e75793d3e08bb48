#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Task.hpp"

namespace velmora {

// The two file panels of the settings screen: where an export goes and which
// file an import reads. The real ones are the desktop's file choosers
// (GtkSettingsFilePanels); tests answer with fakes.
class SettingsFilePanels {
public:
    virtual ~SettingsFilePanels() = default;
    // A save panel opened in `startFolder` with its name field preset to
    // `suggestedName`; the chosen path, or nothing when the user cancelled
    // or closed it.
    virtual Task<std::optional<std::filesystem::path>> chooseExport(const std::string& suggestedName,
                                                                     const std::filesystem::path& startFolder) = 0;
    // An open panel for one existing file whose extension is one of
    // `extensions` (without dots, in the order given); nothing when
    // cancelled.
    virtual Task<std::optional<std::filesystem::path>> chooseImport(const std::vector<std::string>& extensions) = 0;
};

}  // namespace velmora
