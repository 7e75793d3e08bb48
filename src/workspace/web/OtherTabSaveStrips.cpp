#include "workspace/web/OtherTabSaveStrips.hpp"

#include <algorithm>

#include <gtkmm/button.h>
#include <gtkmm/label.h>

#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebWorkspaceStyle.hpp"

namespace velmora {

class OtherTabSaveStrips::Strip final : public Gtk::Box {
public:
    Strip(OtherTabSaveStrips& owner, const UUID& tabID) : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8) {
        set_name(stripName);
        // One line, with the compact buttons of the other strips.
        set_margin_start(12);
        set_margin_end(12);
        set_margin_top(1);
        set_margin_bottom(1);
        text_.set_name(textName);
        text_.set_use_markup(false);
        text_.set_xalign(0);
        text_.set_hexpand(true);
        // One line, as the status row's stage.
        text_.set_ellipsize(Pango::EllipsizeMode::END);
        text_.add_css_class("caption");
        show_.set_name(showName);
        cancel_.set_name(cancelName);
        for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&text_, &show_, &cancel_}) {
            child->set_valign(Gtk::Align::CENTER);
            append(*child);
        }
        show_.add_css_class(WebWorkspaceStyle::compactClass);
        cancel_.add_css_class(WebWorkspaceStyle::compactClass);
        show_.signal_clicked().connect([&owner, tabID] { owner.showTab(tabID); });
        cancel_.signal_clicked().connect([&owner, tabID] { owner.cancelSave(tabID); });
    }

    void setText(const std::string& text) {
        if (text_.get_text().raw() == text) return;
        text_.set_text(text);
        text_.set_tooltip_text(text);
    }

private:
    Gtk::Label text_;
    Gtk::Button show_{"処理中のタブを表示"};
    Gtk::Button cancel_{"この保存を中止"};
};

OtherTabSaveStrips::OtherTabSaveStrips(std::shared_ptr<WindowModel> model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), model_(std::move(model)) {
    observation_ = model_->changed.connect([this] { sync(); });
    sync();
}

OtherTabSaveStrips::~OtherTabSaveStrips() { observation_.disconnect(); }

void OtherTabSaveStrips::showTab(const UUID& tabID) { model_->selectTab(tabID, false); }

void OtherTabSaveStrips::cancelSave(const UUID& tabID) {
    for (const auto& tab : model_->tabs.get()) {
        if (tab->id == tabID) tab->browser->cancel();
    }
}

void OtherTabSaveStrips::sync() {
    std::vector<CapturePanelRules::TabFacts> tabs;
    for (const auto& tab : model_->tabs.get()) {
        tabs.push_back({tab->id, tab->browser->hasPendingOperation(), tab->browser->stage.get()});
    }
    const auto saves = CapturePanelRules::otherTabSaves(tabs, model_->selectedTab()->id);

    std::vector<UUID> order;
    for (const auto& save : saves) order.push_back(save.tabID);
    // Strips whose save ended or whose tab became the selected one go.
    for (auto it = strips_.begin(); it != strips_.end();) {
        if (std::find(order.begin(), order.end(), it->first) == order.end()) {
            remove(*it->second);
            it = strips_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& save : saves) {
        auto& strip = strips_[save.tabID];
        if (!strip) strip = Gtk::make_managed<Strip>(*this, save.tabID);
        strip->setText(save.text);
    }
    if (order != order_) {
        // The tabs' order: each strip after the one before it.
        Gtk::Widget* previous = nullptr;
        for (const auto& id : order) {
            Strip* strip = strips_[id];
            if (strip->get_parent()) {
                if (previous) reorder_child_after(*strip, *previous);
                else reorder_child_at_start(*strip);
            } else {
                if (previous) insert_child_after(*strip, *previous);
                else insert_child_at_start(*strip);
            }
            previous = strip;
        }
        order_ = std::move(order);
    }
}

}  // namespace velmora
