#pragma once

// Which menu commands are enabled for the current window's section (none
// when no window is current). Computed afresh each time the window set
// changes; keeps nothing else. Needs no display.

#include <optional>
#include <string>

#include "workspace/model/WindowModel.hpp"

namespace velmora {

class CommandState {
public:
    explicit CommandState(std::optional<WindowModel::Section> section) : section_(section) {}

    // "新しい通常タブ" and "新しいプライベートタブ".
    bool newTab() const noexcept { return section_ == WindowModel::Section::web; }
    // The three commands of the OCR menu.
    bool ocr() const noexcept { return section_ == WindowModel::Section::ocr; }
    // The item with this detailed action ("app.new-tab"); an action no item
    // has is not enabled.
    bool enabled(const std::string& action) const;

private:
    std::optional<WindowModel::Section> section_;
};

}  // namespace velmora
