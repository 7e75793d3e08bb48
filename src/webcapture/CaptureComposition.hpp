#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/PixelBuffer.hpp"
#include "foundation/Task.hpp"
#include "capture/CapturePlan.hpp"

namespace velmora {

// One part of a capture, composed and encoded: its rows of the page, its
// bitmap (premultiplied, PW × height·s pixels) and the PNG file's bytes.
struct ComposedPart {
    CapturePartSpan span;
    std::shared_ptr<const PixelBuffer> image;
    std::vector<uint8_t> png;
};

// Receives each part as soon as it is encoded, in page order, and is awaited
// before the next part is taken (the publication waits on its own hooks);
// the part's bitmap is released when the receiver lets go of it. A throw
// ends the capture with that error.
using PartHandOver = std::function<Task<void>(ComposedPart)>;

// The scripts of the freeze step, around the page-state object under key.
namespace CaptureScripts {

// Collects the fixed and sticky elements in document order, reads their
// boxes before changing anything, saves each style attribute into the
// page-state object's items, switches off their transitions and pauses
// their animations, turns fixed into absolute (keeping the size the view gave
// it, clipped to the view) and sticky into relative, defines freezeSticky and
// runs it once.
std::string freeze(const std::string& key);
// Pins every fixed and sticky element back to where it stood at freeze time.
std::string repin(const std::string& key);
// The tallest element (the body included) that scrolls in place of a root
// that does not and holds the page rather than links around it: one at
// least half the view high and half its width, or one of any size that
// hides more than a view of running text (text outside links and
// navigation). Answers its content height, a space and its name as a
// selector gives it (tag, id, classes); "" when there is none.
std::string innerScroller();
// The transitions and animations of every element that began after the
// page state was saved and still run towards an end: their number, or,
// with finish, the number of them finished at once.
std::string capturedMotion(const std::string& key, bool finish);

}  // namespace CaptureScripts
}  // namespace velmora
