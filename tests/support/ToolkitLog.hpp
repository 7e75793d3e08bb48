#pragma once

// Warnings and criticals of GTK, GDK, GLib and every other library that logs
// through GLib, caught for the programs that drive real widgets: a warning
// is a fault of the program even when everything on screen looks right.

#include <cstddef>
#include <functional>
#include <string>

namespace velmora::test {

// From now on every warning or critical is still printed as GLib prints it,
// counted, and handed to `report` (from whichever thread logged it). Call it
// once, first thing in main, before the toolkit starts.
void watchToolkitLog(std::function<void(const std::string& line)> report = {});

// How many warnings and criticals were logged since the watch began.
std::size_t toolkitLogFaults();

}  // namespace velmora::test
