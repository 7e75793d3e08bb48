#pragma once

// The confirmation of a settings import: a modal question 460 wide over the
// settings screen's window, showing what the pending file of the flow holds
// (its format and version, its summary as plain text, and the warning about
// unknown keys only when it had some). "読み込む" applies it through the
// screen's model; hiding the sheet by any means ("取消", Escape, the title
// bar, the model clearing the request) drops the pending import. It is a
// message dialog like every other question of the application, so its two
// answers stand where and look as theirs do.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>

#include "settingsui/SettingsScreenModel.hpp"

namespace velmora {

class ImportSheet : public Gtk::MessageDialog {
public:
    static constexpr int width = 460;
    static constexpr const char* title = "設定の読み込み確認";
    static constexpr const char* permissionsNote =
        "保存先の権限は含まれません。現在の保存先を維持します。必要なら保存先を再選択してください。";
    static constexpr const char* unknownKeysNote = "未対応の項目は読み込まず無視します。";

    explicit ImportSheet(SettingsScreenModel& model);
    ~ImportSheet() override;

    // Shows the pending import over parent; re-reads the flow first.
    void presentOver(Gtk::Window& parent);
    // Re-reads the pending import of the flow (a second file replaces it).
    void sync();

private:
    SettingsScreenModel& model_;
    sigc::connection hidden_;

    Gtk::Box details_{Gtk::Orientation::VERTICAL, 16};
    Gtk::Label version_;
    Gtk::Label summary_;
    Gtk::Label permissions_;
    Gtk::Label unknownKeys_;
    Gtk::Button* cancel_ = nullptr;
    Gtk::Button* load_ = nullptr;
};

}  // namespace velmora
