#pragma once

#include "foundation/DesktopActions.hpp"

namespace velmora {

// The desktop's own handling of files and text: the default application of
// the file's type (GIO), the file manager over the session bus
// (org.freedesktop.FileManager1), and the display's clipboard.
class GtkDesktopActions final : public DesktopActions {
public:
    bool open(const std::filesystem::path& file) override;
    // Asks the file manager to show the file selected; when no file manager
    // answers on the session bus, the file's folder is opened in whatever
    // handles folders. Either way it returns at once.
    void reveal(const std::filesystem::path& file) override;
    // Shown when the file manager answered or a handler of folders started.
    void revealAnswered(const std::filesystem::path& file, std::function<void(bool shown)> answered) override;
    void copyText(const std::string& text) override;
};

}  // namespace velmora
