#include "ocrviews/QueuePanelSlot.hpp"

namespace velmora {

Gtk::Widget* makeQueuePanel(const std::shared_ptr<QueueController>&, SettingsStore&) { return nullptr; }

}  // namespace velmora
