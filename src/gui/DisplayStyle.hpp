#pragma once

namespace velmora {

// Adds a stylesheet of the application's to the default display, once per
// display and sheet: views call it each time one is built, and a second
// provider with the same rules would only cost every style lookup. `css`
// must be a string with static storage (its address is the sheet's key).
// Main thread only; without a display it does nothing.
void installDisplayStyle(const char* css);

}  // namespace velmora
