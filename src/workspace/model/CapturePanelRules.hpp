#pragma once

// What the web pane's capture and print controls show, without a display:
// the value tables of the pickers, which controls stand where, the width
// field's text in the user's locale, the sections' columns, the status row
// and the strips about other tabs' saves. The widgets (CapturePanel,
// CaptureStatusRow, OtherTabSaveStrips) only apply these rules to the
// window's model and forward the user's actions.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/locid.h>

#include "capture/PageRefusal.hpp"
#include "capture/PrintOptions.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// One entry of a picker: its label and the value it stands for.
template <typename T>
struct Choice {
    std::string_view label;
    T value;
};

// The position of value in a picker's table; none for a value the picker
// does not offer (it then shows no selection).
template <typename T, std::size_t N>
std::optional<std::size_t> choiceIndex(const std::array<Choice<T>, N>& table, const T& value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].value == value) return i;
    }
    return std::nullopt;
}

namespace CapturePanelRules {

using Paper = PrintOptions::Paper;
using Output = PrintOptions::Output;

// One option, one name and one control everywhere: every option the
// settings show as well has the settings' name, the same entries in the
// same order, and the same kind of control (a picker or an on/off switch).
// The settings key of each is named beside it; a test holds the two to it.
struct SharedOption {
    std::string_view title;
    // The settings form's row of the same option ("product.paper").
    std::string_view settingsKey;
    bool toggle;
};
inline constexpr SharedOption displayOption{"表示", "product.webMode", false};
inline constexpr SharedOption mobileWidthOption{"スマホ幅", "mobileWidth", false};
inline constexpr SharedOption scaleOption{"解像度", "product.captureScale", false};
inline constexpr SharedOption lazyLoadOption{"遅延読み込み対策", "lazyLoad", true};
inline constexpr SharedOption waitOption{"待機", "product.waitSeconds", false};
inline constexpr SharedOption paperOption{"用紙", "product.paper", false};
inline constexpr SharedOption landscapeOption{"横向き", "product.landscape", true};
inline constexpr SharedOption marginOption{"余白", "product.margin", false};
inline constexpr SharedOption backgroundsOption{"背景を印刷", "product.backgrounds", true};
inline constexpr SharedOption headerFooterOption{"ヘッダー・フッター", "product.headerFooter", true};
inline constexpr SharedOption formatOption{"保存形式", "product.printOutput", false};
// The print section's heading: the settings' section of the same options.
inline constexpr std::string_view printHeading = "印刷";

// "表示": "current" and "custom" both show as PC.
inline constexpr std::array<Choice<std::string_view>, 2> display{{{"PC", "pc"}, {"スマホ", "mobile"}}};
// "PCの幅", bound to the width mode itself.
inline constexpr std::array<Choice<std::string_view>, 2> pcWidth{{{"現在の表示幅", "current"}, {"指定幅", "custom"}}};
inline constexpr std::array<Choice<int64_t>, 3> mobileWidth{{{"375 px", 375}, {"390 px", 390}, {"430 px", 430}}};
inline constexpr std::array<Choice<int64_t>, 2> scale{{{"標準", 1}, {"高解像度", 2}}};
// -1 waits as long as the page needs.
inline constexpr std::array<Choice<int64_t>, 6> wait{
    {{"自動", -1}, {"すぐ撮影", 0}, {"1秒", 1}, {"3秒", 3}, {"5秒", 5}, {"10秒", 10}}};
inline constexpr std::array<Choice<Paper>, 4> paper{
    {{"A4", Paper::a4}, {"A3", Paper::a3}, {"JIS B5", Paper::b5}, {"Letter", Paper::letter}}};
inline constexpr std::array<Choice<double>, 3> margin{{{"12 mm", 12}, {"5 mm", 5}, {"0 mm", 0}}};
inline constexpr std::array<Choice<Output>, 3> format{
    {{"PDF", Output::pdf}, {"PNG", Output::png}, {"PDF＋PNG", Output::both}}};

// "表示"'s value for a width mode, and the width mode a choice there sets:
// PC always means the current width, whatever was chosen before.
std::string_view displayValue(std::string_view widthMode);
std::string_view widthModeFor(std::string_view displayValue);

// Which width controls stand in the capture section.
bool showsPCWidth(std::string_view widthMode);
bool showsMobileWidth(std::string_view widthMode);
bool showsCustomWidth(std::string_view widthMode);

// The width field's text: an integer with the locale's grouping.
std::string formatWidth(int64_t width, const icu::Locale& locale = icu::Locale::getDefault());
// The integer the text stands for in the locale ("1,440" and "1440" alike,
// surrounding white space ignored); none for anything else (a fraction, a
// number past the 64-bit range, trailing text). The range of a capture width
// is not applied here.
std::optional<int64_t> parseWidth(std::string_view text, const icu::Locale& locale = icu::Locale::getDefault());

// The panel's padding on each side, and the space between its parts.
inline constexpr double padding = 16;
inline constexpr double rowSpacing = 16;
// The sections side by side (2) or one above the other (1), for a panel of
// that width at the bottom; the panel on the right always has one column.
int columns(double panelWidth, AppPreferences::Panel panel);

// The controls of the panel and the save buttons in the sections work only
// while no tab of the window saves and the window does not close.
bool panelEnabled(bool webSaving, bool closing);

// What the status row reads.
struct StatusFacts {
    AppPreferences::Panel panel = AppPreferences::Panel::right;
    bool webSaving = false;
    bool closing = false;
    // Of the selected tab and its session.
    std::string stage;
    bool isPrivate = false;
    std::string diagnostic;
    bool pending = false;
    bool hasLastOutput = false;
    // The tab's last save published at least one file (a refused or failed
    // one may have published none).
    bool published = false;
    // The tab's last save ended in a failure (a cancel is none).
    bool failed = false;
    // The page on screen (its address; none without a page) and whether it
    // loads.
    std::optional<std::string> shownPage;
    bool loading = false;
    // The page the tab's last save was taken of; none before any save.
    std::optional<std::string> savedPage;
    // The tab's last refused request.
    std::optional<PageRefusal> refusal;
};

// What the status row shows. It is about the page on screen: a save of
// the tab that runs; else a refusal of the user's request about this page;
// else the outcome of the save taken of this page, with its diagnostic and
// folder. A page the tab has not saved (a page loaded after a save, another
// site) has no sentence, and the row then takes no height unless the panel
// at the bottom puts the save buttons in it.
struct StatusRow {
    // False: the row has nothing to show and is left out.
    bool visible = true;
    std::string stage;
    bool copyDiagnostic = false;
    // The two save buttons, here only with the panel at the bottom.
    bool saveButtons = false;
    bool savesEnabled = false;
    // "中止する" stands only while the tab's save runs: a button that cannot
    // act is not shown.
    bool cancel = false;
    bool openOutput = false;
    // The stage is a failure's sentence: shown as an error.
    bool failure = false;
    // A sentence longer than a short stage wraps to as many lines as it
    // needs, never cut; a short one stays one line, which lets the row's
    // height stand without measuring it for each width.
    bool wraps = false;
    // The progress bar stands while a save runs; it shows the fraction the
    // stage reports, or pulses when the stage reports none.
    bool progress = false;
    std::optional<double> fraction;

    bool operator==(const StatusRow&) const = default;
};

// The most characters of a stage that stays on one line: the stages of a
// running save and the short outcomes ("画像を保存しました（1枚）"); beside the
// row's buttons they fit at every window width.
inline constexpr std::size_t oneLineStage = 20;

StatusRow statusRow(const StatusFacts& facts);

// How far the tiles of a capture have come, as its stage says it
// ("撮影中 <top>/<height>"), between 0 and 1; none for any other stage.
std::optional<double> stageFraction(std::string_view stage);

// One tab of the window as the strips read it.
struct TabFacts {
    UUID id;
    bool pending = false;
    std::string stage;
};

// One strip: a save running in a tab that is not the selected one.
struct OtherTabSave {
    UUID tabID;
    std::string text;

    bool operator==(const OtherTabSave&) const = default;
};

inline constexpr std::string_view otherTabPrefix = "別タブの保存：";

// The strips, in the order of the tabs.
std::vector<OtherTabSave> otherTabSaves(const std::vector<TabFacts>& tabs, const UUID& selectedTab);

}  // namespace CapturePanelRules

}  // namespace velmora
