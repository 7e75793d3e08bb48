#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capture/CaptureOptions.hpp"

namespace velmora {

// What the user chose for a tall-PNG save, and its translation into the
// capture's options.
struct CaptureSelection {
    // "current" (the view's width), "custom" or "mobile".
    std::string widthMode = "mobile";
    // 375, 390 or 430.
    int64_t mobileWidth = 430;
    // 280 to 4096; only checked in "custom" mode.
    int64_t customWidth = 1280;
    // 1 or 2.
    int64_t scale = 1;
    bool lazyLoad = true;
    // -1 (wait for the page's images), 0, 1, 3, 5 or 10 seconds.
    int64_t waitSeconds = -1;
    // Hand the saved files to OCR afterwards; the window acts on it.
    bool ocr = false;

    // invalidInput when a field lies outside its set.
    void validate() const;
    // The width the page is captured at: the mobile or custom width, or the
    // current width rounded (halves away from zero) and raised to at least
    // 280. A current width that is not finite, or too large for an integer,
    // is invalidInput.
    int64_t captureWidth(double currentWidth) const;
    // Options from the defaults with this selection applied. writeReceipt is
    // off; the caller adds the diagnostic, the hooks, the stem and the
    // metadata. Without a current width, "current" leaves viewportWidth
    // absent.
    CaptureOptions options(std::optional<double> currentWidth) const;

    bool operator==(const CaptureSelection&) const = default;
};

}  // namespace velmora
