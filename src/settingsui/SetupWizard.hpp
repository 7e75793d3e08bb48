#pragma once

// The setup wizard on screen: a modal window of exactly 500×550 over the
// window that presents it, showing a WizardModel. Each presentation starts
// the model afresh (step 0, the short course, the stored values without a
// reload). Closing it by any means ("取消", a successful "適用", Escape, the
// title bar, or the host clearing the flow's wizard flag) hides it and sets
// the flow's wizard flag false.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/togglebutton.h>
#include <gtkmm/window.h>

#include "foundation/SettingsStore.hpp"
#include "settingsui/ProductSettingsForm.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "settingsui/WizardModel.hpp"

namespace velmora {

class SetupWizard : public Gtk::Window {
public:
    static constexpr int width = 500;
    static constexpr int height = 550;
    static constexpr const char* title = "初期設定ウィザード";

    explicit SetupWizard(SettingsStore& store, SettingsFlow& flow = SettingsFlow::shared());
    ~SetupWizard() override;

    // Starts the model and shows the wizard modal over parent.
    void presentOver(Gtk::Window& parent);
    // Hides the wizard and clears the flow's flag; nothing is written.
    void dismiss();

    WizardModel& model() noexcept { return model_; }

private:
    void refresh();
    void applyDraft();

    SettingsFlow& flow_;
    WizardModel model_;
    bool refreshing_ = false;

    Gtk::Box content_{Gtk::Orientation::VERTICAL, 12};
    Gtk::Label heading_;
    Gtk::Box courseRow_{Gtk::Orientation::HORIZONTAL, 12};
    Gtk::Label courseLabel_{"コース"};
    Gtk::Box courseButtons_{Gtk::Orientation::HORIZONTAL, 0};
    Gtk::ToggleButton shortCourse_{"かんたん設定"};
    Gtk::ToggleButton detailedCourse_{"詳細設定"};
    Gtk::Label stepLine_;
    Gtk::ScrolledWindow scroller_;
    Gtk::Box scrolled_{Gtk::Orientation::VERTICAL, 0};
    ProductSettingsForm form_;
    Gtk::Label summary_;
    Gtk::Label message_;
    Gtk::Box buttons_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Button cancel_{"取消"};
    Gtk::Button back_{"戻る"};
    Gtk::Button next_{"次へ"};
    Gtk::Button apply_{"適用"};

    sigc::connection modelConnection_;
    sigc::connection flowConnection_;
};

}  // namespace velmora
