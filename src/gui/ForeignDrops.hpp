#pragma once

namespace velmora {

// GTK keeps the last drop that came from another application after it has
// been finished, still following the action list on the window it came
// from. A file manager that drags from the same window again sets that list
// as its next drag begins, and GDK then changes the finished drop's actions
// (a critical, on X11 at every second drag of such a file manager). Such a
// change is set aside while no drag from that window is over one of ours: a
// drag reads the list anew as it enters, so none misses it. Installed once
// per display (each view that takes drops calls it when it is built); other
// backends need nothing. Main thread only; without a display it does nothing.
void settleForeignDrops();

}  // namespace velmora
