#pragma once

// The strips under the status row that report saves running in the other
// tabs of the window: one per tab that is not the selected one and has a
// save pending, in the order of the tabs, each kept with its tab's id so a
// strip stays the same widget while its save runs. A strip leads to its tab
// ("処理中のタブを表示", without loading a restored page) or stops that tab's
// save alone ("この保存を中止", the tab stays where it is). Main thread only.

#include <map>
#include <memory>
#include <vector>

#include <gtkmm/box.h>

#include "foundation/UUID.hpp"

namespace velmora {

class WindowModel;

class OtherTabSaveStrips : public Gtk::Box {
public:
    static constexpr const char* stripName = "web.otherTabSave";
    static constexpr const char* textName = "web.otherTabSave.status";
    static constexpr const char* showName = "web.otherTabSave.show";
    static constexpr const char* cancelName = "web.otherTabSave.cancel";

    explicit OtherTabSaveStrips(std::shared_ptr<WindowModel> model);
    ~OtherTabSaveStrips() override;
    OtherTabSaveStrips(const OtherTabSaveStrips&) = delete;
    OtherTabSaveStrips& operator=(const OtherTabSaveStrips&) = delete;

    // The tabs the strips stand for, in their order.
    std::vector<UUID> shownTabs() const { return order_; }

    // The actions of a strip's buttons.
    void showTab(const UUID& tabID);
    void cancelSave(const UUID& tabID);

private:
    class Strip;
    void sync();

    std::shared_ptr<WindowModel> model_;
    std::map<UUID, Strip*> strips_;
    std::vector<UUID> order_;
    sigc::connection observation_;
};

}  // namespace velmora
