#pragma once

// The look the web workspace's pieces share beyond the theme's own classes:
// the rounded background of a tab (the selection's tint or the control
// background) and the strips' padding on the control background. One
// style sheet for the whole display, installed by the first piece made.

namespace velmora::WebWorkspaceStyle {

inline constexpr const char* tabClass = "velmora-tab";
inline constexpr const char* selectedTabClass = "velmora-tab-selected";
inline constexpr const char* closeClass = "velmora-tab-close";
inline constexpr const char* stripClass = "velmora-strip";
// A button as low as a line of text: the download rows' buttons.
inline constexpr const char* compactClass = "velmora-compact";
// The address bar's padding.
inline constexpr const char* addressBarClass = "velmora-address-bar";
// The downloads' scrolling list: a scroll bar short enough to stand beside
// one row, so that the list, given little room, shows one row whole.
inline constexpr const char* downloadsClass = "velmora-downloads";
// The navigation notice at the page's foot.
inline constexpr const char* pageNoticeClass = "velmora-page-notice";

// Installs the style sheet on the default display once; harmless again.
void install();

}  // namespace velmora::WebWorkspaceStyle
