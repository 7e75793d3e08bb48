#include "workspace/WindowPorts.hpp"

#include <memory>

#include "gui/GtkConfirmation.hpp"

namespace velmora {

Task<bool> WindowConfirmer::confirm(std::string message, std::string informative, std::string confirmLabel) {
    // The dialog and its question live in this frame until the answer.
    GtkConfirmation dialog(parent_);
    const Confirmation::Request request{std::move(message), std::move(informative), cancelLabel,
                                        std::move(confirmLabel)};
    auto answer = dialog.confirm(request);
    co_return co_await answer;
}

namespace WindowPorts {

QueuePorts queuePorts(WindowSetLink& windows, const UUID& modelID) {
    QueuePorts ports;
    ports.confirmer = std::make_shared<WindowConfirmer>([&windows, modelID] { return windows.platformWindow(modelID); });
    return ports;
}

}  // namespace WindowPorts
}  // namespace velmora
