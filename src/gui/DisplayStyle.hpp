#pragma once

namespace velmora {

// Adds a stylesheet of the application's to the default display, once per
// display and sheet: views call it each time one is built, and a second
// provider with the same rules would only cost every style lookup. `css`
// must be a string with static storage (its address is the sheet's key).
// The shared sheet (installSharedStyle) comes with the first one.
// Main thread only; without a display it does nothing.
void installDisplayStyle(const char* css);

// The rules every view of the application keeps over the theme's: dim text
// (the theme's "dim-label") readable at 4.5:1 or more. A view without a
// sheet of its own that shows such text installs it when it is built.
void installSharedStyle();

}  // namespace velmora
