#pragma once

#include <memory>

namespace velmora {

class WindowModel;

// What a save button of the web pane does: starts the window's save request
// for its selected tab (a tall PNG, or print-style when printing) and lets
// it run; the request reports through the model's message and the tab's
// session, never through the button.
void startSave(const std::shared_ptr<WindowModel>& model, bool printing);

}  // namespace velmora
