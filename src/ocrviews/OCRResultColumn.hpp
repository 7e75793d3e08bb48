#pragma once

#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/label.h>

#include "gui/StatusPage.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/IdleRefresh.hpp"
#include "ocrviews/OCRTextEditor.hpp"

namespace velmora {

// The right column of the OCR pane: the title, the colour legend, the shown
// page's text in the editor and a caution line. It binds the editor to the
// window's controller: the edited text with its yellow and green ranges, the
// current search hit in blue while a search text is typed, read-only until
// the page is complete; every edit goes to `editText`. It observes the
// controller's `changed` and refreshes once per turn of the main loop.
// Before any document is open the editor gives its room to a status page
// that says where to drop one.
class OCRResultColumn : public Gtk::Box {
public:
    static constexpr const char* titleName = "ocr.result.title";
    static constexpr const char* legendName = "ocr.legend";
    static constexpr const char* cautionName = "ocr.result.caution";
    static constexpr const char* hintName = "ocr.result.hint";
    static constexpr const char* legendLabel = "黄：低信頼、緑：手動修正、青：検索結果";

    explicit OCRResultColumn(std::shared_ptr<QueueController> controller);
    ~OCRResultColumn() override;

    OCRTextEditor& editor() { return editor_; }
    StatusPage& hint() { return hint_; }
    // The value the editor was last given, as the controller says now.
    OCRTextEditor::Value editorValue();

private:
    void refresh();
    void showHint(bool documentOpen);

    std::shared_ptr<QueueController> controller_;
    Gtk::Label title_;
    Gtk::Box legend_{Gtk::Orientation::HORIZONTAL, 10};
    OCRTextEditor editor_;
    StatusPage hint_;
    Gtk::Label caution_;
    std::optional<bool> documentOpen_;
    sigc::connection changed_;
    IdleRefresh refresh_{[this] { refresh(); }};
};

}  // namespace velmora
