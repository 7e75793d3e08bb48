#include "workspace/WebWorkspaceContent.hpp"

#include "workspace/WindowModel.hpp"

namespace velmora {

WebWorkspaceContent::WebWorkspaceContent(std::shared_ptr<WindowModel> model, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), model_(std::move(model)), desktop_(desktop) {
    focusRequest_ = model_->addressFocusRequest.get();
}

WebWorkspaceContent::~WebWorkspaceContent() { observation_.disconnect(); }

Gtk::Widget* WebWorkspaceContent::surface(const UUID&) const { return nullptr; }

double WebWorkspaceContent::panelSize() const { return 0; }

void WebWorkspaceContent::sync() {}
void WebWorkspaceContent::syncAddress() {}
void WebWorkspaceContent::focusChanged(bool) {}

}  // namespace velmora
