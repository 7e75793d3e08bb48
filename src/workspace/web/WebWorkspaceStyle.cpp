#include "workspace/web/WebWorkspaceStyle.hpp"

#include "gui/DisplayStyle.hpp"

namespace velmora::WebWorkspaceStyle {

// The theme's named colours: the base colour stands for the control
// background, the selection colour for the accent.
constexpr const char* sheet =
        ".velmora-tab { border-radius: 6px; padding: 7px; background-color: @theme_base_color; }\n"
        ".velmora-tab.velmora-tab-selected { background-color: alpha(@theme_selected_bg_color, 0.18); }\n"
        ".velmora-tab button.velmora-tab-close { padding: 4px; min-width: 0; min-height: 0; }\n"
        ".velmora-strip { padding: 2px 12px; background-color: @theme_base_color; }\n"
        "button.velmora-compact { min-height: 20px; padding-top: 1px; padding-bottom: 1px; }\n"
        ".velmora-address-bar { padding: 6px 12px; }\n"
        ".velmora-downloads scrollbar slider { min-height: 12px; }\n"
        ".velmora-downloads progressbar.horizontal > trough { min-width: 40px; }\n"
        ".velmora-page-notice { margin: 8px; padding: 4px 10px; border-radius: 6px;"
        " background-color: @theme_bg_color; border: 1px solid alpha(@theme_fg_color, 0.2); }\n";

void install() { installDisplayStyle(sheet); }

}  // namespace velmora::WebWorkspaceStyle
