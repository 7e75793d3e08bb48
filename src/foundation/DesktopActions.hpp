#pragma once

#include <filesystem>
#include <functional>
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
    // The same, then answered (once, on the main thread, possibly before
    // it returns) whether the desktop showed anything: for a caller that
    // tells the user where the file is when nothing did.
    virtual void revealAnswered(const std::filesystem::path& file, std::function<void(bool shown)> answered) {
        reveal(file);
        answered(true);
    }
    // Puts the text on the clipboard as plain text.
    virtual void copyText(const std::string& text) = 0;
};

}  // namespace velmora
