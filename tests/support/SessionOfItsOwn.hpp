#pragma once

#include <filesystem>
#include <optional>

namespace velmora::test {

// Gives a display test program's toolkit a session of its own, the same on a
// bare machine and inside a user's desktop session: `home`, when given, as the
// home with the user's folders under it, no desktop named, the system's data and
// configuration folders at their defaults, the X display that xvfb-run
// started (never the user's Wayland one), local files and volumes only (no
// file system daemon), settings in memory, no input method, accessibility
// bus, portal, theme or scale taken from the environment, and the C locale
// for the toolkit's own words. The session bus is the one the test's command
// started; it has no accessibility bus, and the web engine is told so. Call
// it before the toolkit starts.
void useSessionOfItsOwn(const std::optional<std::filesystem::path>& home);

}  // namespace velmora::test
