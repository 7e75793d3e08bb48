#pragma once

// The rules of a window's tab actions that need no tab: the capture width,
// where the selection goes when a tab closes, and the texts the actions
// show. WindowModel's tab operations (TabActions.cpp) apply them.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "foundation/Geometry.hpp"

namespace velmora::TabActions {

inline constexpr double minimumWidth = 280;
inline constexpr double maximumWidth = 4096;
// How often the close of a busy tab looks whether its work has stopped.
inline constexpr std::chrono::milliseconds closePoll{50};

inline constexpr const char* invalidAddress =
    "URLを確認してください。httpまたはhttpsで始まるアドレスを入力してください。";
inline constexpr const char* closeQuestion = "このタブの処理を中止して閉じますか？";
inline constexpr const char* closeInformative =
    "ダウンロードや保存の停止を待ちます。保存済みファイルは保持し、他のタブやOCRは続けます。";
inline constexpr const char* keepLabel = "閉じない";
inline constexpr const char* closeLabel = "中止してタブを閉じる";

// The width the web pane lays the page out at: the width held by a running
// save first; "current" follows the pane but never below 280; "custom" is
// clamped to 280...4096; any other mode is the mobile width.
double width(std::optional<Size> locked, std::string_view widthMode, double available, int64_t customWidth,
             int64_t mobileWidth);

// The position selected after the tab at `removed` left a list that now
// holds `remaining` tabs (at least one): the tab that moved into its place,
// or the new last one.
std::size_t selectionAfterClose(std::size_t removed, std::size_t remaining);

}  // namespace velmora::TabActions
