#pragma once

#include <functional>
#include <string>

#include "foundation/UUID.hpp"
#include "ocrqueue/QueuePorts.hpp"
#include "workspace/WindowSetLink.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

// The queue's confirmation on the desktop: the application's one question
// dialog, "取消" first and the default, on the window that shows the queue,
// looked up when the question opens.
class WindowConfirmer final : public Confirmer {
public:
    static constexpr const char* cancelLabel = "取消";

    explicit WindowConfirmer(std::function<Gtk::Window*()> parent) : parent_(std::move(parent)) {}
    Task<bool> confirm(std::string message, std::string informative, std::string confirmLabel) override;

private:
    std::function<Gtk::Window*()> parent_;
};

namespace WindowPorts {

// The platform seams of the queue of the window with this model id. The
// file panels and the clipboard stay empty (the queue declines) until the
// OCR views provide them.
QueuePorts queuePorts(WindowSetLink& windows, const UUID& modelID);

}  // namespace WindowPorts
}  // namespace velmora
