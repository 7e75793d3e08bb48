#pragma once

// What the tab bar and the activity strips show, without a display: the
// text of a tab's button and of its line in "タブ一覧", when the OCR strip
// stands and what the strips say. BrowserTabBar, QueueActivityStrip and
// WebActivityStrip only apply these rules to what they observe.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ocrjobs/QueueInput.hpp"

namespace velmora::WebWorkspaceRules {

inline constexpr std::string_view privatePrefix = "私用：";
inline constexpr std::string_view busySuffix = "（処理中）";
inline constexpr std::string_view selectedValue = "選択中";
inline constexpr std::string_view queuePrefix = "このウインドウのOCR：";
inline constexpr std::string_view webPrefix = "このウインドウのWeb保存：";

// A tab's icon and text take the width the title needs between these
// bounds; when the bar is full every tab gives up width alike down to the
// lower one, and the bar scrolls past that.
inline constexpr int tabMinimumWidth = 100;
inline constexpr int tabMaximumWidth = 240;
// However narrow a tab, its title keeps room for this many characters
// beside the private and busy marks (the rest cut off with "…").
inline constexpr int titleMinimumCharacters = 3;

// Where the bar's scrolling row stands so that the selected tab's item
// (from start to end, in the row's coordinates) is wholly in view: the
// current offset when it already is, else the least move that shows it,
// its leading edge first when the item is wider than the view. Clamped to
// the row's scrolling range (0 to rowLength - viewLength).
double offsetShowing(double offset, double viewLength, double rowLength, double start, double end);

// The tab button's text: the private mark, the title, the busy mark.
std::string itemText(bool isPrivate, std::string_view title, bool active);
// A tab's title as its button cuts it to fit: the head is cut at its end,
// the tail is never cut. A title that ends in a host with its port (a
// restored tab's "復元待ち：127.0.0.1:8080", a page without a title of its
// own) keeps ":8080" as its tail: tabs of one host differ only there, and
// the prefix and host they share are what a narrow tab can best do without.
// Any other title is all head.
struct TitleCut {
    std::string head;
    std::string tail;
};
TitleCut titleCut(std::string_view title);
// The tab's line in "タブ一覧", as the user reads it: never the busy mark.
std::string menuTitle(bool isPrivate, std::string_view title);
// A menu label that shows `text` as it is: the toolkit reads "_" in a menu
// label as the mark of a mnemonic, so each one is doubled.
std::string menuLabel(std::string_view text);

// The OCR strip stands while the queue runs, and after a pause for as long
// as the saved queue waits paused; never without a queue or after it ended.
bool queueStripShown(bool busy, std::optional<QueueStatus> snapshotStatus);
std::string queueStripText(std::string_view status);
std::string webStripText(std::string_view stage);
// The web strip's stop button names what it stops: once the image is saved
// and the OCR that follows it runs, a stop ends the OCR and keeps the image.
std::string_view webStripCancel(std::string_view stage);

// --- Windows told apart.

// The number a new window takes: the least one no open window holds, so
// the first window is 1 and a second one opened beside it is 2.
int windowNumber(const std::vector<int>& taken);
// The window's title: the product's name for window 1, the name and the
// number after it for the others ("ベルモラ（2）").
std::string windowTitle(std::string_view name, int number);
// Where the OCR that followed a capture is, when it went to another window
// than the one that asked: "ウインドウ「ベルモラ（2）」のOCR画面" (for a window
// without a title, "新しいウインドウのOCR画面").
std::string otherWindowOCR(std::string_view title);

}  // namespace velmora::WebWorkspaceRules
