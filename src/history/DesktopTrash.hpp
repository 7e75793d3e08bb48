#pragma once

#include <filesystem>

namespace velmora::DesktopTrash {

// The user's own Trash: "Trash" in $XDG_DATA_HOME, or in ~/.local/share.
std::filesystem::path homeTrash();

// Moves a regular file into the desktop's Trash (the freedesktop.org layout)
// and returns where it now lies. `original` is where the user knew the file:
// the desktop's "Restore" puts it back there. A file on the home Trash's
// device goes to the home Trash, any other to its volume's Trash
// (".Trash/<uid>" when the volume provides one, else ".Trash-<uid>"). The
// description is created exclusively before the file is renamed without
// replacing anything; when the rename fails, the description goes again and
// the file stays where it was.
std::filesystem::path move(const std::filesystem::path& file, const std::filesystem::path& original);

}  // namespace velmora::DesktopTrash
