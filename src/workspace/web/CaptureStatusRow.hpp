#pragma once

// The row above the web area that speaks of the page on screen: the
// selected tab's running save, a refusal of the user's request about this
// page, or the outcome of the save taken of it (CapturePanelRules::statusRow
// says which); a page with nothing to report leaves the row out unless the
// save buttons stand in it. The sentence is plain text, wrapped to as many lines as it needs (a
// failure's with the theme's error styling and icon, its diagnostic code
// never cut away), a progress bar while a save runs, and the buttons that reach the save's
// result or stop it ("診断情報をコピー", the two save buttons when the panel
// is at the bottom, "中止する" while there is a save to stop, "保存先を開く"). It shows what the window's
// model says each time the model changes (CapturePanelRules::statusRow) and
// forwards the user's actions; nothing here shows a message of its own.
//
// The folder is opened and the diagnostic copied through the desktop's
// actions (DesktopActions), so tests give a desktop of their own. Main
// thread only.

#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>

namespace velmora {

class DesktopActions;
class WindowModel;

class CaptureStatusRow : public Gtk::Box {
public:
    static constexpr const char* rowName = "web.statusRow";
    static constexpr const char* stageName = "web.status";
    static constexpr const char* failureIconName = "web.status.failureIcon";
    static constexpr const char* progressName = "web.status.progress";
    static constexpr const char* copyName = "web.copyDiagnostic";
    static constexpr const char* captureName = "web.capture";
    static constexpr const char* printName = "web.print";
    static constexpr const char* cancelName = "web.cancel";
    static constexpr const char* openOutputName = "web.openOutput";

    // The model and the desktop outlive the row.
    CaptureStatusRow(std::shared_ptr<WindowModel> model, DesktopActions& desktop);
    ~CaptureStatusRow() override;
    CaptureStatusRow(const CaptureStatusRow&) = delete;
    CaptureStatusRow& operator=(const CaptureStatusRow&) = delete;

    // The actions of the buttons, as they run when clicked.
    void copyDiagnostic();
    void openOutput();

private:
    void sync();
    void pulse(bool on);

    std::shared_ptr<WindowModel> model_;
    DesktopActions& desktop_;
    Gtk::Box text_{Gtk::Orientation::VERTICAL, 6};
    Gtk::Box line_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Box iconHolder_{Gtk::Orientation::VERTICAL, 0};
    Gtk::Image failureIcon_;
    Gtk::Label stage_;
    Gtk::ProgressBar progress_;
    Gtk::Button copy_{"診断情報をコピー"};
    Gtk::Button capture_{"縦長PNGを保存"};
    Gtk::Button print_{"印刷用に保存"};
    Gtk::Button cancel_{"中止する"};
    Gtk::Button open_{"保存先を開く"};
    sigc::connection observation_;
    // Pulses the bar while a running save's stage reports no fraction.
    sigc::connection pulsing_;
};

}  // namespace velmora
