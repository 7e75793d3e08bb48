#include "workspace/web/WebPaneRules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "capture/PrintOptions.hpp"
#include "workspace/model/TabActions.hpp"

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

double pageFloor(double windowHeight) {
    if (!std::isfinite(windowHeight) || windowHeight <= 0) return 0;
    return std::ceil(windowHeight / 2);
}

Column column(const ColumnFacts& facts) {
    Column out;
    const int rowsMinimum = std::max(facts.rowsMinimum, 0);
    const int rowsNatural = std::max(facts.rowsNatural, rowsMinimum);
    const int height = std::isfinite(facts.height) ? static_cast<int>(std::floor(std::max(facts.height, 0.0))) : 0;
    const int floor = static_cast<int>(pageFloor(facts.windowHeight));
    // The rows stand whole, or at their least (the downloads' list down to
    // one row, scrolling): a height between would show a row cut through.
    if (facts.panel == AppPreferences::Panel::right) {
        out.split = split(facts.preferred, facts.width, facts.panel);
        out.rows = std::min(height - rowsNatural >= floor ? rowsNatural : rowsMinimum, height);
        out.page = height - out.rows;
        return out;
    }
    const int divider = static_cast<int>(WebPanelSizing::divider);
    const double sized = std::round(WebPanelSizing::size(facts.preferred, facts.height, facts.panel));
    const double least = std::min(panelLeast, sized);
    // The panel beside rows of that height: the page's floor kept, the
    // panel giving way down to its least useful height.
    const auto panelBeside = [&](int rows) {
        return std::min(sized, std::max(static_cast<double>(height - divider - rows - floor), least));
    };
    double panel = 0;
    if (height - divider - rowsNatural - floor >= least) {
        out.rows = rowsNatural;
        panel = panelBeside(rowsNatural);
    } else {
        out.rows = rowsMinimum;
        panel = panelBeside(rowsMinimum);
        // The floor and the rows' least before the panel's least: it gives
        // way further, and a sliver that shows nothing of its controls
        // folds away to its divider until there is room again.
        panel = std::min(panel, std::max(static_cast<double>(height - divider - rowsMinimum - floor), 0.0));
        if (panel < panelLeast / 2) panel = 0;
    }
    const int panelLength = static_cast<int>(panel);
    out.page = std::max(height - divider - panelLength - out.rows, 0);
    out.split = Split{std::max(height - divider - panelLength, 0), divider, panelLength};
    return out;
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

PageState pageState(bool hasPage, bool loading, bool failed, bool ended) {
    if (failed && !loading) return PageState::failed;
    if (ended && !loading) return PageState::ended;
    return showsEmptyPage(hasPage, loading) ? PageState::empty : PageState::page;
}

std::optional<PageNotice> pageNotice(std::string_view notice, PageState state, bool loading) {
    if (notice.empty() || state == PageState::failed || state == PageState::ended) return std::nullopt;
    return PageNotice{std::string(notice), loading};
}

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

std::string sizeText(int64_t bytes) {
    if (bytes < 1024) return std::to_string(std::max<int64_t>(bytes, 0)) + " B";
    static constexpr const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    // One decimal where it says something; a number that rounds up to 10
    // is shown whole.
    if (value < 9.95) std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    else std::snprintf(text, sizeof text, "%.0f %s", std::floor(value + 0.5), units[unit]);
    return text;
}

std::string bytesText(int64_t received, std::optional<int64_t> expected) {
    if (expected) return sizeText(received) + " / " + sizeText(*expected);
    return sizeText(received) + "（総量未確定）";
}

Row row(const RowFacts& facts) {
    Row out;
    out.name = facts.savedName && !facts.savedName->empty() ? *facts.savedName : facts.name;
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
