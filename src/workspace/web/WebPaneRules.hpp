#pragma once

// What the web pane's content and the download list show, without a
// display: the split between the web area and the control panel, the size
// of each tab's web view, which address-bar controls work, and what a
// download's row reads. The widgets (WebWorkspaceContent,
// BrowserDownloadList) only apply these rules and forward the user's
// actions.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/AppPreferences.hpp"
#include "foundation/Geometry.hpp"

namespace velmora::WebPaneRules {

// --- The split area.

// The web part, the divider and the panel along the split axis, in whole
// pixels: the panel as WebPanelSizing gives it for the available length,
// the divider its fixed thickness, the web part what is left (never
// negative).
struct Split {
    int web = 0;
    int divider = 0;
    int panel = 0;

    bool operator==(const Split&) const = default;
};

// available: the area's width with the panel on the right, its height with
// the panel at the bottom. webFloor: the least length the web part keeps
// (half the window's height, for the panel at the bottom): the panel gives
// way for it, down to panelLeast, below which a panel shows nothing useful.
Split split(double preferred, double available, AppPreferences::Panel panel, double webFloor = 0);

// The lowest the panel at the bottom gives way to the page: its heading
// and one row of controls, the rest scrolled to.
inline constexpr double panelLeast = 80;

// The web part's least length for a window of that height: half of it
// with the panel at the bottom (the rows over the split are the window's
// own business); none with the panel on the right, where the page has the
// split's whole height.
double webFloor(AppPreferences::Panel panel, double windowHeight);

// --- The web column: the rows over the page (the status row, the strips
// of other tabs' saves) and the downloads under it, which the rows'
// heights below count together, the page, and the panel beside or
// under them.

// The least height the page keeps: half the window's, whichever the
// panel's place; none while the window's height is unknown.
double pageFloor(double windowHeight);

struct ColumnFacts {
    AppPreferences::Panel panel = AppPreferences::Panel::right;
    // The split area's size.
    double width = 0;
    double height = 0;
    // The panel's preferred size along the split.
    double preferred = 0;
    double windowHeight = 0;
    // The rows' least height (each row one line, the downloads' list down
    // to one row) and the height they would take whole.
    int rowsMinimum = 0;
    int rowsNatural = 0;
};

struct Column {
    // Along the split's axis: widths with the panel on the right, heights
    // with it at the bottom, where the web part holds the rows and the
    // page.
    Split split;
    // The rows' height over the page, and the page's.
    int rows = 0;
    int page = 0;

    bool operator==(const Column&) const = default;
};

// The page keeps its floor first; the rows stand whole, or else at their
// least height (a row is never cut through, and never cut off); with the
// panel at the bottom, the panel gives way to the rows whole down to
// panelLeast, and to the floor and the rows' least down to nothing (below
// half of panelLeast it folds away to its divider, a sliver showing
// nothing); the page takes the rest. The panel on the right has the
// column's whole height, whatever the rows do, so that it never moves under
// the pointer when a row comes or goes.
Column column(const ColumnFacts& facts);

// Where a finished or running drag of the divider leaves the panel: the
// proposed size clamped as the split clamps it; none while the window
// saves or closes, when the report is dropped.
std::optional<double> draggedSize(double proposed, double available, AppPreferences::Panel panel, bool webSaving,
                                  bool closing, double webFloor = 0);

// The divider can be dragged while no tab of the window saves and the
// window does not close.
bool dividerEnabled(bool webSaving, bool closing);

// --- The web area.

// The lowest a web view is laid out, however low the area.
inline constexpr double minimumWebHeight = 240;

// One tab's web view in an area of that size: the size a running save
// locked, else the page width of the width rules (TabActions::width) and the
// area's height, but never below 240.
Size surfaceSize(const std::optional<Size>& locked, std::string_view widthMode, int64_t customWidth,
                 int64_t mobileWidth, double areaWidth, double areaHeight);

// The empty page stands over the web area while the selected tab has no
// page and none is loading.
bool showsEmptyPage(bool hasPage, bool loading);

// What the page area shows: the page; the empty page (no page, none
// loading); the failure of the last load, over whatever page the view
// kept from before it; or, once the page's process ended, that end with a
// way to load the page again.
enum class PageState { page, empty, failed, ended };
PageState pageState(bool hasPage, bool loading, bool failed, bool ended = false);
inline constexpr const char* endedPage = "ページの表示処理が終了しました。再読み込みすると直る場合があります。";
inline constexpr const char* reloadLabel = "再読み込み";

// The session's navigation notice as the page area shows it, at its foot
// where it moves nothing: none without a notice, and none over a failure
// or an ended page, whose page says it already. A loading notice turns a spinner beside it.
struct PageNotice {
    std::string text;
    bool loading = false;

    bool operator==(const PageNotice&) const = default;
};
std::optional<PageNotice> pageNotice(std::string_view notice, PageState state, bool loading);

// --- The address bar.

struct AddressBarFacts {
    bool pending = false;  // the selected session has a pending operation
    bool closing = false;
    bool canGoBack = false;
    bool canGoForward = false;
    bool loading = false;
};

struct AddressBar {
    // The whole row; false overrides every control's own rule.
    bool row = true;
    bool back = false;
    bool forward = false;
    bool stop = false;

    bool operator==(const AddressBar&) const = default;
};

AddressBar addressBar(const AddressBarFacts& facts);

// --- The download list.

inline constexpr std::string_view downloadsCaption = "このタブのダウンロード";
inline constexpr std::string_view privateDownloadsCaption =
    "この私用タブのダウンロード（明示保存したファイルは残ります）";
inline constexpr std::string_view cancelLabel = "中止";
inline constexpr std::string_view revealLabel = "フォルダで表示";
inline constexpr const char* statePrefix = "download.state.";
inline constexpr const char* cancelPrefix = "download.cancel.";
inline constexpr const char* revealPrefix = "download.reveal.";
// The list's scrolling part grows to this height and then scrolls.
inline constexpr int downloadsMaxHeight = 100;
// The widest a row's file name is shown; longer ones are shortened. With
// the bar's width, a running row fits the page's column beside the panel
// on the right at the default window size.
inline constexpr int downloadNameMaxWidth = 200;
// The width of a running download's progress bar.
inline constexpr int downloadProgressWidth = 100;

// The caption over the list; none when the tab has no downloads (the list
// then takes no space at all).
std::optional<std::string_view> downloadsCaptionFor(bool isPrivate, bool empty);

// A size as people read it: bytes below a kilobyte ("512 B"), then KB, MB
// and GB of 1024 each, with one decimal below 10 ("3.5 MB", "12 MB").
std::string sizeText(int64_t bytes);
// The received bytes: "1.0 KB / 4.0 KB" with an announced total, else
// "1.0 KB（総量未確定）".
std::string bytesText(int64_t received, std::optional<int64_t> expected);

// The list stands open, every row shown, while a download of the tab runs;
// idle, it folds to its newest download's row under the caption, the rest
// one press of its toggle away. A choice of the user's holds until a
// download starts or the last one ends.
bool downloadsOpen(bool anyActive);

// What one download's row shows.
struct RowFacts {
    // The name the download was offered under, and the one its file was
    // saved as (a free name beside an earlier file: "report-1.pdf").
    std::string name;
    std::optional<std::string> savedName{};
    std::string_view state;  // the state's label
    bool active = false;
    bool failed = false;
    int64_t received = 0;
    std::optional<int64_t> expected{};
    bool hasOutput = false;
    std::string notice{};
};

struct Row {
    // The saved file's name once there is one, else the offered one.
    std::string name;
    std::string state;
    // Bytes and "中止", only while the download is active.
    std::optional<std::string> bytes;
    bool cancel = false;
    // "フォルダで表示", only once the file is published.
    bool reveal = false;
    // None when there is nothing to say.
    std::optional<std::string> notice;
    // The download failed: its state and notice, under its name, are its
    // reason and read as an error.
    bool failed = false;
    // A progress bar while the download is active: the share of the
    // announced total received, or none (the bar pulses) without a total.
    bool progress = false;
    std::optional<double> fraction;

    bool operator==(const Row&) const = default;
};

Row row(const RowFacts& facts);

}  // namespace velmora::WebPaneRules
