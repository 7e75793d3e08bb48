#include "workspace/WebPaneActions.hpp"

#include "capture/CaptureSelection.hpp"
#include "workspace/AppServices.hpp"
#include "workspace/WindowModel.hpp"

namespace velmora {

// TEMPORARY until the save request lands: a tall PNG straight into the
// output folder.
void startSave(const std::shared_ptr<WindowModel>& model, bool) {
    auto tab = model->selectedTab();
    auto folder = model->services.runtime.output / "Screenshots";
    std::filesystem::create_directories(folder);
    model->setLastOutput(folder);
    CaptureSelection selection;
    selection.widthMode = "mobile";
    selection.mobileWidth = 390;
    tab->browser->capture(selection.options(std::nullopt), folder);
}

}  // namespace velmora
