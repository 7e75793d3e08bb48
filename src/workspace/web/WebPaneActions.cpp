#include "workspace/web/WebPaneActions.hpp"

#include "foundation/Task.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

void startSave(const std::shared_ptr<WindowModel>& model, bool printing) {
    // The request holds the window only weakly while it waits for the user
    // and reports everything through the model; its handle is not needed.
    (void)spawn(model->save(printing));
}

}  // namespace velmora
