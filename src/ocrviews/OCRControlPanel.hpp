#pragma once

#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/spinner.h>

#include "ocrqueue/QueueController.hpp"
#include "ocrviews/IdleRefresh.hpp"
#include "ocrviews/OCRControlRow.hpp"
#include "ocrviews/PaneWidgets.hpp"

namespace velmora {

// The rows above the OCR split: open and run, the recognition mode with its
// explanation and the private switch, the handwriting options, the automatic
// verdict, the PDF password, the status line, and the refused resume. It
// decides only what shows, what is usable and how it reads (PaneRules.hpp);
// every effect is a call on the window's controller. It observes the
// controller's `changed` and refreshes once per turn of the main loop.
class OCRControlPanel : public Gtk::Box {
public:
    static constexpr const char* openName = "ocr.open";
    static constexpr const char* nameName = "ocr.name";
    static constexpr const char* startName = "ocr.start";
    static constexpr const char* cancelName = "ocr.cancel";
    static constexpr const char* modeName = "ocr.mode";
    static constexpr const char* explanationName = "ocr.mode.explanation";
    static constexpr const char* privateName = "ocr.private";
    static constexpr const char* handwritingName = "ocr.handwriting";
    static constexpr const char* includeName = "ocr.handwriting.include";
    static constexpr const char* targetName = "ocr.annotation.target";
    static constexpr const char* candidatesName = "ocr.annotation.candidates";
    static constexpr const char* verdictName = "ocr.auto.result";
    static constexpr const char* passwordRowName = "ocr.password.row";
    static constexpr const char* passwordName = "ocr.password";
    static constexpr const char* unlockName = "ocr.password.unlock";
    static constexpr const char* passwordCancelName = "ocr.password.cancel";
    static constexpr const char* spinnerName = "ocr.progress";
    static constexpr const char* statusName = "ocr.status";
    static constexpr const char* countName = "ocr.count";
    static constexpr const char* unsavedName = "ocr.unsaved";
    static constexpr const char* openOutputName = "ocr.openOutput";
    static constexpr const char* rejectionName = "ocr.rejection";
    static constexpr const char* choicesName = "ocr.rejection.choices";
    static constexpr const char* rejectionCancelName = "ocr.rejection.cancel";

    explicit OCRControlPanel(std::shared_ptr<QueueController> controller);
    ~OCRControlPanel() override;

    // The rows that stack in a narrow pane.
    std::vector<OCRControlRow*> rows();
    // Shows the controller's state now, without waiting for the idle turn.
    void refresh();

private:
    void buildRunRow();
    void buildModeRow();
    void buildHandwriting();
    void buildPasswordRow();
    void buildStatusRow();
    void buildRejectionRow();
    void filterChosen(bool includeHandwriting, bool instructionsOnly);

    std::shared_ptr<QueueController> controller_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    OCRControlRow runRow_;
    Gtk::Button open_{"ファイルを開く"};
    Gtk::Label name_;
    Gtk::Button start_;
    Gtk::Button cancel_{"中止"};

    OCRControlRow modeRow_;
    LabelledPicker mode_;
    Gtk::Label explanation_;
    Gtk::CheckButton private_{"次の原稿をプライベート扱い"};

    Gtk::Box handwriting_{Gtk::Orientation::VERTICAL, 7};
    OCRControlRow handwritingRow_;
    Gtk::CheckButton include_{"手書き候補を含める"};
    LabelledPicker target_;
    Gtk::CheckButton candidates_{"候補位置を表示"};
    Gtk::Label note_;

    Gtk::Label verdict_;

    OCRControlRow passwordRow_;
    Gtk::PasswordEntry password_;
    Gtk::Button unlock_{"解除してOCR"};
    Gtk::Button passwordCancel_{"パスワード入力を取消"};

    OCRControlRow statusRow_;
    Gtk::Spinner spinner_;
    Gtk::Label status_;
    Gtk::Label count_;
    Gtk::Label unsaved_;
    Gtk::Button openOutput_{"保存先を開く"};

    OCRControlRow rejectionRow_;
    Gtk::Label rejectionText_;
    Gtk::Button choices_{"再開の選択肢"};
    Gtk::Button rejectionCancel_{"取消"};

    sigc::connection changed_;
    sigc::connection privateToggled_;
    sigc::connection includeToggled_;
    sigc::connection candidatesToggled_;
    sigc::connection passwordChanged_;
    IdleRefresh refresh_{[this] { refresh(); }};
};

}  // namespace velmora
