#include "workspace/web/WebWorkspace.hpp"

#include <utility>

#include "workspace/model/WindowModel.hpp"
#include "workspace/web/BrowserTabBar.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"

namespace velmora {

WebWorkspace::WebWorkspace(std::shared_ptr<WindowModel> model, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), model_(std::move(model)) {
    set_name(paneName);
    set_hexpand(true);
    set_vexpand(true);
    tabBar_ = Gtk::make_managed<BrowserTabBar>(model_);
    content_ = Gtk::make_managed<WebWorkspaceContent>(model_, desktop);
    content_->set_vexpand(true);
    append(*tabBar_);
    append(*content_);
}

WebWorkspace::~WebWorkspace() = default;

}  // namespace velmora
