#include "workspace/model/CapturePanelRules.hpp"

#include <unicode/fmtable.h>
#include <unicode/numfmt.h>
#include <unicode/parsepos.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace velmora::CapturePanelRules {

std::string_view displayValue(std::string_view widthMode) { return widthMode == "mobile" ? "mobile" : "pc"; }

std::string_view widthModeFor(std::string_view displayValue) {
    return displayValue == "mobile" ? "mobile" : "current";
}

bool showsPCWidth(std::string_view widthMode) { return widthMode != "mobile"; }
bool showsMobileWidth(std::string_view widthMode) { return widthMode == "mobile"; }
bool showsCustomWidth(std::string_view widthMode) { return widthMode == "custom"; }

namespace {

std::unique_ptr<icu::NumberFormat> integerFormat(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(icu::NumberFormat::createInstance(locale, status));
    if (U_FAILURE(status)) format.reset();
    return format;
}

}  // namespace

std::string formatWidth(int64_t width, const icu::Locale& locale) {
    auto format = integerFormat(locale);
    if (!format) return std::to_string(width);
    icu::UnicodeString text;
    format->format(static_cast<int64_t>(width), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::optional<int64_t> parseWidth(std::string_view text, const icu::Locale& locale) {
    auto format = integerFormat(locale);
    if (!format) return std::nullopt;
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
    input.trim();
    if (input.isEmpty()) return std::nullopt;
    icu::Formattable value;
    icu::ParsePosition position(0);
    format->parse(input, value, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    switch (value.getType()) {
        case icu::Formattable::kLong:
        case icu::Formattable::kInt64: {
            const int64_t integer = value.getInt64(status);
            if (U_FAILURE(status)) return std::nullopt;
            return integer;
        }
        case icu::Formattable::kDouble: {
            // Whole numbers beyond the long range come back as doubles; a
            // fraction, or a number past the 64-bit range, is no width.
            const double number = value.getDouble(status);
            if (U_FAILURE(status) || !std::isfinite(number) || std::trunc(number) != number) return std::nullopt;
            if (number < -9.2e18 || number > 9.2e18) return std::nullopt;
            return static_cast<int64_t>(number);
        }
        default:
            return std::nullopt;
    }
}

int columns(double panelWidth, AppPreferences::Panel panel) {
    if (panel == AppPreferences::Panel::right) return 1;
    return PrintPanelLayout::columns(panelWidth - 2 * padding);
}

bool panelEnabled(bool webSaving, bool closing) { return !webSaving && !closing; }

StatusRow statusRow(const StatusFacts& facts) {
    StatusRow row;
    // Whose sentence the row reads: the running save's, a refusal of this
    // page's, the outcome of the save of this page, or none.
    const bool refused = !facts.pending && facts.refusal && facts.refusal->concerns(facts.shownPage, facts.loading);
    const bool outcome = !facts.pending && facts.savedPage && facts.savedPage == facts.shownPage;
    if (facts.pending || (outcome && !refused)) row.stage = facts.stage;
    else if (refused) row.stage = facts.refusal->text;
    row.copyDiagnostic = outcome && !facts.isPrivate && !facts.diagnostic.empty();
    row.saveButtons = facts.panel == AppPreferences::Panel::bottom;
    row.savesEnabled = panelEnabled(facts.webSaving, facts.closing);
    row.cancel = facts.pending;
    // The folder is offered for what the save put there; a save that saved
    // nothing has nothing there to show.
    row.openOutput = outcome && facts.hasLastOutput && facts.published;
    row.failure = refused ? facts.refusal->failure : outcome && facts.failed;
    // Characters, not bytes: each lead byte of UTF-8 starts one.
    const auto characters = static_cast<std::size_t>(std::count_if(
        row.stage.begin(), row.stage.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    row.wraps = characters > oneLineStage;
    row.progress = facts.pending;
    if (facts.pending) row.fraction = stageFraction(facts.stage);
    row.visible = facts.pending || row.saveButtons || !row.stage.empty() || row.copyDiagnostic || row.openOutput;
    return row;
}

namespace {

// The decimal digits at the start of text, taken off it; none when it
// starts with no digit or holds more than a 64-bit count.
std::optional<int64_t> leadingCount(std::string_view& text) {
    std::size_t length = 0;
    int64_t value = 0;
    while (length < text.size() && text[length] >= '0' && text[length] <= '9') {
        if (value > (std::numeric_limits<int64_t>::max() - 9) / 10) return std::nullopt;
        value = value * 10 + (text[length] - '0');
        ++length;
    }
    if (length == 0) return std::nullopt;
    text.remove_prefix(length);
    return value;
}

}  // namespace

std::optional<double> stageFraction(std::string_view stage) {
    constexpr std::string_view tiles = "撮影中 ";
    if (stage.substr(0, tiles.size()) != tiles) return std::nullopt;
    stage.remove_prefix(tiles.size());
    const auto done = leadingCount(stage);
    if (!done || stage.empty() || stage.front() != '/') return std::nullopt;
    stage.remove_prefix(1);
    const auto total = leadingCount(stage);
    if (!total || !stage.empty() || *total == 0) return std::nullopt;
    return std::clamp(static_cast<double>(*done) / static_cast<double>(*total), 0.0, 1.0);
}

std::vector<OtherTabSave> otherTabSaves(const std::vector<TabFacts>& tabs, const UUID& selectedTab) {
    std::vector<OtherTabSave> strips;
    for (const auto& tab : tabs) {
        if (tab.id == selectedTab || !tab.pending) continue;
        strips.push_back({tab.id, std::string(otherTabPrefix) + tab.stage});
    }
    return strips;
}

}  // namespace velmora::CapturePanelRules
