#include "workspace/WebPaneRules.hpp"

#include <algorithm>
#include <cmath>

#include "capture/PrintOptions.hpp"
#include "workspace/TabActions.hpp"

namespace velmora::WebPaneRules {

namespace {

// The panel's size for the split, the page's floor kept where it can be.
double panelSize(double preferred, double available, AppPreferences::Panel panel, double webFloor) {
    const double sized = WebPanelSizing::size(preferred, available, panel);
    if (!(webFloor > 0) || !std::isfinite(available)) return sized;
    const double room = available - WebPanelSizing::divider - webFloor;
    return std::min(sized, std::max(room, std::min(panelLeast, sized)));
}

}  // namespace

Split split(double preferred, double available, AppPreferences::Panel panel, double webFloor) {
    Split out;
    out.divider = static_cast<int>(WebPanelSizing::divider);
    out.panel = static_cast<int>(std::lround(panelSize(preferred, available, panel, webFloor)));
    const int length = std::isfinite(available) ? static_cast<int>(std::floor(std::max(available, 0.0))) : 0;
    // An area narrower than the divider and the smallest panel still gives
    // them their sizes; the web part is then empty, never negative.
    out.web = std::max(length - out.divider - out.panel, 0);
    return out;
}

double webFloor(AppPreferences::Panel panel, double windowHeight) {
    if (panel != AppPreferences::Panel::bottom || !std::isfinite(windowHeight) || windowHeight <= 0) return 0;
    return std::ceil(windowHeight / 2);
}

bool dividerEnabled(bool webSaving, bool closing) { return !webSaving && !closing; }

std::optional<double> draggedSize(double proposed, double available, AppPreferences::Panel panel, bool webSaving,
                                  bool closing, double webFloor) {
    if (!dividerEnabled(webSaving, closing)) return std::nullopt;
    return panelSize(proposed, available, panel, webFloor);
}

Size surfaceSize(const std::optional<Size>& locked, std::string_view widthMode, int64_t customWidth,
                 int64_t mobileWidth, double areaWidth, double areaHeight) {
    if (locked) return *locked;
    return {TabActions::width(std::nullopt, widthMode, areaWidth, customWidth, mobileWidth),
            std::max(areaHeight, minimumWebHeight)};
}

bool showsEmptyPage(bool hasPage, bool loading) { return !hasPage && !loading; }

AddressBar addressBar(const AddressBarFacts& facts) {
    AddressBar bar;
    bar.row = !facts.pending && !facts.closing;
    bar.back = facts.canGoBack;
    bar.forward = facts.canGoForward;
    bar.stop = facts.loading;
    return bar;
}

bool downloadsOpen(bool anyActive) { return anyActive; }

std::optional<std::string_view> downloadsCaptionFor(bool isPrivate, bool empty) {
    if (empty) return std::nullopt;
    return isPrivate ? privateDownloadsCaption : downloadsCaption;
}

std::string bytesText(int64_t received, std::optional<int64_t> expected) {
    if (expected) return std::to_string(received) + " / " + std::to_string(*expected) + " byte";
    return std::to_string(received) + " byte（総量未確定）";
}

Row row(const RowFacts& facts) {
    Row out;
    out.name = facts.name;
    out.state = std::string(facts.state);
    if (facts.active) {
        out.bytes = bytesText(facts.received, facts.expected);
        out.cancel = true;
        out.progress = true;
        if (facts.expected && *facts.expected > 0) {
            out.fraction = std::clamp(static_cast<double>(facts.received) / static_cast<double>(*facts.expected),
                                      0.0, 1.0);
        }
    }
    out.failed = facts.failed;
    out.reveal = facts.hasOutput;
    if (!facts.notice.empty()) out.notice = facts.notice;
    return out;
}

}  // namespace velmora::WebPaneRules
