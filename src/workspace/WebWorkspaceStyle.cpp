#include "workspace/WebWorkspaceStyle.hpp"

#include "gui/DisplayStyle.hpp"

namespace velmora::WebWorkspaceStyle {

// The theme's named colours: the base colour stands for the control
// background, the selection colour for the accent.
constexpr const char* sheet =
        ".velmora-tab { border-radius: 6px; padding: 7px; background-color: @theme_base_color; }\n"
        ".velmora-tab.velmora-tab-selected { background-color: alpha(@theme_selected_bg_color, 0.18); }\n"
        ".velmora-tab button.velmora-tab-close { padding: 4px; min-width: 0; min-height: 0; }\n"
        ".velmora-strip { padding: 12px; background-color: @theme_base_color; }\n"
        "button.velmora-compact { min-height: 20px; padding-top: 1px; padding-bottom: 1px; }\n";

void install() { installDisplayStyle(sheet); }

}  // namespace velmora::WebWorkspaceStyle
