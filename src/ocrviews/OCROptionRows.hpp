#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>

#include "ocrqueue/QueueController.hpp"
#include "ocrviews/IdleRefresh.hpp"
#include "ocrviews/OCRControlRow.hpp"
#include "ocrviews/PaneWidgets.hpp"

namespace velmora {

// The controls under the OCR split: the search row (the search text, its
// hit count, previous and next), the line-break and page-separator options
// with the private note, and copy, the TXT shape, save and the processing
// list. They read and write the controller's fields and call its actions.
//
// The hit count searches every page of the queue, so it is counted again
// only when the search text, the shown text, the shown page or the queue's
// snapshot changed, at most once per turn of the main loop, and after the
// frame that shows the change: a keystroke reaches the screen first.
class OCROptionRows : public Gtk::Box {
public:
    static constexpr const char* searchName = "ocr.search";
    static constexpr const char* hitsName = "ocr.search.count";
    static constexpr const char* previousName = "ocr.search.previous";
    static constexpr const char* nextName = "ocr.search.next";
    static constexpr const char* linesName = "ocr.lines";
    static constexpr const char* separatorsName = "ocr.separators";
    static constexpr const char* privateNoteName = "ocr.private.note";
    static constexpr const char* copyName = "ocr.copy";
    static constexpr const char* txtName = "ocr.txt";
    static constexpr const char* saveName = "ocr.save";
    static constexpr const char* listName = "queue.list";

    explicit OCROptionRows(std::shared_ptr<QueueController> controller);
    ~OCROptionRows() override;

    // The rows that follow the pane's compact flag (the option row flows
    // by itself at every width).
    std::vector<OCRControlRow*> rows();
    Gtk::Entry& searchField() { return search_; }
    void refresh();
    // How many times the hits were counted (each reads every page).
    int64_t countings() const noexcept { return countings_; }

private:
    void refreshHits();

    std::shared_ptr<QueueController> controller_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    Gtk::Box searchRow_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Entry search_;
    Gtk::Label hits_;
    Gtk::Button previous_{"前へ"};
    Gtk::Button next_{"次へ"};

    // Always flowing: one line where it fits, more where it does not.
    OCRControlRow optionsRow_;
    LabelledPicker lines_;
    Gtk::CheckButton separators_{"ページ区切り"};
    Gtk::Label privateNote_;
    Gtk::Button copy_{"全文コピー"};
    LabelledPicker txt_;
    Gtk::Button save_{"TXT保存"};
    Gtk::Button list_{"処理一覧"};

    // What the hits were last counted for.
    struct HitKey {
        std::string search;
        std::string text;
        std::optional<UUID> input;
        int64_t page = 0;
        std::optional<QueueSnapshot> snapshot;
        bool operator==(const HitKey&) const = default;
    };
    std::optional<HitKey> counted_;
    int64_t countings_ = 0;

    sigc::connection changed_;
    sigc::connection searchChanged_;
    sigc::connection separatorsToggled_;
    IdleRefresh refresh_{[this] { refresh(); }};
    IdleRefresh count_{[this] { refreshHits(); }, G_PRIORITY_DEFAULT_IDLE};
};

}  // namespace velmora
