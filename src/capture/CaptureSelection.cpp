#include "capture/CaptureSelection.hpp"

#include <algorithm>
#include <cmath>

#include "foundation/BrindlexError.hpp"

namespace velmora {

namespace {

constexpr int64_t minimumWidth = 280;
constexpr int64_t maximumCustomWidth = 4096;

bool oneOf(int64_t value, std::initializer_list<int64_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

}  // namespace

void CaptureSelection::validate() const {
    if (widthMode != "current" && widthMode != "custom" && widthMode != "mobile") raise(ErrorCase::invalidInput);
    if (!oneOf(mobileWidth, {375, 390, 430})) raise(ErrorCase::invalidInput);
    if (widthMode == "custom" && (customWidth < minimumWidth || customWidth > maximumCustomWidth)) {
        raise(ErrorCase::invalidInput);
    }
    if (!oneOf(scale, {1, 2})) raise(ErrorCase::invalidInput);
    if (!oneOf(waitSeconds, {-1, 0, 1, 3, 5, 10})) raise(ErrorCase::invalidInput);
}

int64_t CaptureSelection::captureWidth(double currentWidth) const {
    validate();
    if (!std::isfinite(currentWidth)) raise(ErrorCase::invalidInput);
    if (widthMode == "mobile") return mobileWidth;
    if (widthMode == "custom") return customWidth;
    const double rounded = std::round(currentWidth);
    // 2^63 is the first double past the integer range.
    if (rounded >= 9223372036854775808.0) raise(ErrorCase::invalidInput);
    if (rounded < static_cast<double>(minimumWidth)) return minimumWidth;
    return static_cast<int64_t>(rounded);
}

CaptureOptions CaptureSelection::options(std::optional<double> currentWidth) const {
    validate();
    CaptureOptions o;
    o.scale = scale;
    o.lazyLoad = lazyLoad;
    o.waitSeconds = static_cast<double>(std::max<int64_t>(waitSeconds, 0));
    o.automaticWait = waitSeconds == -1;
    o.writeReceipt = false;
    if (currentWidth) o.viewportWidth = captureWidth(*currentWidth);
    else if (widthMode == "mobile") o.viewportWidth = mobileWidth;
    else if (widthMode == "custom") o.viewportWidth = customWidth;
    return o;
}

}  // namespace velmora
