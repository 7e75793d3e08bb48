#pragma once

#include <filesystem>
#include <string>

namespace velmora {

// What the desktop does with a file or a text on the user's behalf. The real
// one talks to GIO, the session bus and the clipboard (gui); tests use a fake.
// Main thread only.
class DesktopActions {
public:
    virtual ~DesktopActions() = default;
    // Opens the file in its default application; false when the desktop
    // could not start one.
    virtual bool open(const std::filesystem::path& file) = 0;
    // Shows the file selected in the file manager, or at least its folder.
    // Reports nothing: there is nothing the caller could do about a failure.
    virtual void reveal(const std::filesystem::path& file) = 0;
    // Puts the text on the clipboard as plain text.
    virtual void copyText(const std::string& text) = 0;
};

}  // namespace velmora
