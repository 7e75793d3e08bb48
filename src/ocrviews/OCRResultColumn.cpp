#include "ocrviews/OCRResultColumn.hpp"

#include <gtk/gtk.h>

#include "ocrviews/ColumnRules.hpp"
#include "ocrviews/ColumnStyle.hpp"

namespace velmora {

namespace {

// One entry of the legend: a rounded swatch of the highlight's colour and
// its label, 3 points apart.
Gtk::Widget& legendEntry(const char* colour, const char* label) {
    auto& entry = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 3);
    auto& swatch = *Gtk::make_managed<Gtk::Box>();
    swatch.set_size_request(10, 10);
    swatch.set_valign(Gtk::Align::CENTER);
    styleWidget(swatch, std::string("box { background-color: ") + colour +
                            "; border-radius: 2px; min-width: 10px; min-height: 10px; }");
    auto& text = *Gtk::make_managed<Gtk::Label>(label);
    captionFont(text);
    entry.append(swatch);
    entry.append(text);
    return entry;
}

}  // namespace

OCRResultColumn::OCRResultColumn(std::shared_ptr<QueueController> controller)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 5), controller_(std::move(controller)) {
    title_.set_text("OCR結果 · 編集できます");
    title_.set_name(titleName);
    title_.set_xalign(0);
    headlineFont(title_);
    append(title_);

    legend_.set_name(legendName);
    legend_.set_valign(Gtk::Align::CENTER);
    legend_.append(legendEntry(yellowCSS, "黄：低信頼"));
    legend_.append(legendEntry(greenCSS, "緑：手動修正"));
    legend_.append(legendEntry(blueCSS, "青：検索結果"));
    // One element for assistive technology: its entries are its label.
    gtk_accessible_update_property(GTK_ACCESSIBLE(legend_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, legendLabel, -1);
    for (Gtk::Widget* entry = legend_.get_first_child(); entry; entry = entry->get_next_sibling()) {
        for (Gtk::Widget* part = entry->get_first_child(); part; part = part->get_next_sibling()) {
            part->set_can_target(false);
            gtk_accessible_update_state(GTK_ACCESSIBLE(part->gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
        }
    }
    append(legend_);

    append(editor_);
    hint_.set_name(hintName);
    // The hint stands in the middle of the column whatever its margins; above
    // and below it they would only take the note's second line in a short
    // window.
    hint_.set_margin_top(0);
    hint_.set_margin_bottom(0);
    hint_.show("document-open-symbolic", SourceColumnRules::emptyText(false));
    append(hint_);

    caution_.set_text("黄色は誤り確定、緑は正解保証ではありません。原稿の枠は認識時の位置を示します。");
    caution_.set_name(cautionName);
    caution_.set_xalign(0);
    caution_.set_wrap(true);
    caution_.add_css_class("dim-label");
    captionFont(caution_);
    append(caution_);

    changed_ = controller_->changed.connect([this] { refresh_.schedule(); });
    refresh();
}

OCRResultColumn::~OCRResultColumn() { changed_.disconnect(); }

OCRTextEditor::Value OCRResultColumn::editorValue() {
    QueueController& c = *controller_;
    const OCRDecorationState& decoration = c.currentDecoration();
    OCRTextEditor::Value value;
    value.text = c.edited.get();
    value.lowRanges = decoration.yellow();
    value.manualRanges = decoration.green();
    std::weak_ptr<QueueController> weak = controller_;
    value.onEdit = [weak](std::string text, std::optional<TextRange> range, std::optional<std::string> replacement,
                          bool undoOrRedo) {
        // Storing the text also ends the search highlight.
        if (auto controller = weak.lock()) {
            controller->editText(std::move(text), range, std::move(replacement), undoOrRedo);
        }
    };
    value.documentKey = c.editorDocumentKey();
    value.searchRanges = ResultColumnRules::searchRanges(c.search.get(), c.searchSelection.get());
    value.selection = ResultColumnRules::selection(c.searchSelection.get());
    value.editable = c.selectedComplete();
    return value;
}

void OCRResultColumn::refresh() {
    editor_.update(editorValue());
    showHint(controller_->snapshot->has_value());
}

void OCRResultColumn::showHint(bool documentOpen) {
    if (documentOpen_ == documentOpen) return;
    documentOpen_ = documentOpen;
    hint_.set_visible(!documentOpen);
    editor_.set_visible(documentOpen);
}

}  // namespace velmora
