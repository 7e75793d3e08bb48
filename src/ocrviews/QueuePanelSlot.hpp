#pragma once

#include <memory>

#include <gtkmm/widget.h>

#include "foundation/SettingsStore.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

// The queue panel the OCR pane shows at its top while the list is open, as
// a managed widget the pane's slot takes over; null when there is none.
Gtk::Widget* makeQueuePanel(const std::shared_ptr<QueueController>& model, SettingsStore& settings);

}  // namespace velmora
