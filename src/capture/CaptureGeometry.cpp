#include "capture/CaptureGeometry.hpp"

#include <cmath>

namespace velmora {

bool CaptureGeometry::isReady(int64_t requested, int64_t inner, int64_t client, double visible) {
    if (requested < 280 || requested > 4096) return false;
    if (inner < 1 || client < 1 || inner < client) return false;
    // Both are bounded here (requested by the check above, inner by being
    // positive), so the difference cannot overflow.
    if (inner - requested > 1 || requested - inner > 1) return false;
    return std::isfinite(visible) && visible >= static_cast<double>(requested - 1);
}

void to_json(Json& j, const CaptureGeometry& g) {
    j = Json::object();
    j["requestedWidth"] = g.requestedWidth;
    j["windowContentWidth"] = g.windowContentWidth;
    j["webViewVisibleWidth"] = g.webViewVisibleWidth;
    j["webViewBoundsWidth"] = g.webViewBoundsWidth;
    j["webViewFrameWidth"] = g.webViewFrameWidth;
    j["scrollViewBoundsWidth"] = g.scrollViewBoundsWidth;
    j["scrollDocumentWidth"] = g.scrollDocumentWidth;
    j["innerWidth"] = g.innerWidth;
    j["clientWidth"] = g.clientWidth;
    j["scrollWidth"] = g.scrollWidth;
    j["devicePixelRatio"] = g.devicePixelRatio;
    j["snapshotRectWidth"] = g.snapshotRectWidth;
    j["outputPixelWidth"] = g.outputPixelWidth;
    j["scale"] = g.scale;
}

void from_json(const Json& j, CaptureGeometry& g) {
    JSON::requireObject(j, "capture geometry");
    g.requestedWidth = JSON::requireInt(j, "requestedWidth");
    g.windowContentWidth = JSON::requireInt(j, "windowContentWidth");
    g.webViewVisibleWidth = JSON::requireInt(j, "webViewVisibleWidth");
    g.webViewBoundsWidth = JSON::requireInt(j, "webViewBoundsWidth");
    g.webViewFrameWidth = JSON::requireInt(j, "webViewFrameWidth");
    g.scrollViewBoundsWidth = JSON::requireInt(j, "scrollViewBoundsWidth");
    g.scrollDocumentWidth = JSON::requireInt(j, "scrollDocumentWidth");
    g.innerWidth = JSON::requireInt(j, "innerWidth");
    g.clientWidth = JSON::requireInt(j, "clientWidth");
    g.scrollWidth = JSON::requireInt(j, "scrollWidth");
    g.devicePixelRatio = JSON::requireDouble(j, "devicePixelRatio");
    g.snapshotRectWidth = JSON::requireInt(j, "snapshotRectWidth");
    g.outputPixelWidth = JSON::requireInt(j, "outputPixelWidth");
    g.scale = JSON::requireInt(j, "scale");
}

}  // namespace velmora
