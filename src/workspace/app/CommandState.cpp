#include "workspace/app/CommandState.hpp"

#include "workspace/app/AppCommands.hpp"

namespace velmora {

bool CommandState::enabled(const std::string& action) const {
    const AppCommands::Item* found = AppCommands::item(action);
    if (!found) return false;
    switch (found->rule) {
        case AppCommands::Rule::always: return true;
        case AppCommands::Rule::webSection: return section_ == WindowModel::Section::web;
        case AppCommands::Rule::ocrSection: return section_ == WindowModel::Section::ocr;
    }
    return false;
}

}  // namespace velmora
