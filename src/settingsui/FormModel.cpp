#include "settingsui/FormModel.hpp"

#include <glib.h>

#include <cstdlib>
#include <utility>

#include "foundation/BrindlexError.hpp"
#include "foundation/FolderText.hpp"
#include "foundation/OCRMode.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace {

// A field of the preferences or of their product options, read and written
// the same way whichever record holds it.
template <typename T>
struct Field {
    T AppPreferences::*top = nullptr;
    T ProductDefaults::*product = nullptr;

    const T& in(const AppPreferences& p) const { return top ? p.*top : p.product.*product; }
    T& in(AppPreferences& p) const { return top ? p.*top : p.product.*product; }
};

template <typename T>
Field<T> top(T AppPreferences::*field) {
    return Field<T>{field, nullptr};
}

template <typename T>
Field<T> product(T ProductDefaults::*field) {
    return Field<T>{nullptr, field};
}

template <typename T>
FormRow choice(std::string key, std::string label, bool detailed, Field<T> field,
               std::vector<std::pair<std::string, T>> table) {
    FormRow row;
    row.kind = FormRow::Kind::choice;
    row.key = std::move(key);
    row.label = std::move(label);
    row.detailed = detailed;
    std::vector<T> values;
    for (auto& [entry, value] : table) {
        row.entries.push_back(entry);
        values.push_back(value);
    }
    row.selected = [field, values](const AppPreferences& p) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (field.in(p) == values[i]) return i;
        }
        return std::nullopt;
    };
    row.choose = [field, values](AppPreferences& p, std::size_t index) { field.in(p) = values.at(index); };
    return row;
}

// Entries labelled by their own number and a unit.
template <typename T>
std::vector<std::pair<std::string, T>> numbered(std::initializer_list<T> values, const std::string& suffix) {
    std::vector<std::pair<std::string, T>> table;
    for (T v : values) table.emplace_back(std::to_string(static_cast<int64_t>(v)) + suffix, v);
    return table;
}

FormRow toggle(std::string key, std::string label, bool detailed, Field<bool> field) {
    FormRow row;
    row.kind = FormRow::Kind::toggle;
    row.key = std::move(key);
    row.label = std::move(label);
    row.detailed = detailed;
    row.isOn = [field](const AppPreferences& p) { return field.in(p); };
    row.setOn = [field](AppPreferences& p, bool on) { field.in(p) = on; };
    return row;
}

FormRow shownWhen(FormRow row, std::function<bool(const AppPreferences&)> applies) {
    row.applies = std::move(applies);
    return row;
}

FormRow caption(std::string key, std::string text, bool detailed) {
    FormRow row;
    row.kind = FormRow::Kind::caption;
    row.key = std::move(key);
    row.label = std::move(text);
    row.detailed = detailed;
    return row;
}

using SaveMode = AppPreferences::SaveMode;
using Panel = AppPreferences::Panel;

struct Table {
    std::vector<std::vector<FormRow>> rows;
    std::vector<FormSection> sections;
};

const Table& theTable() {
    static const Table table = [] {
        Table t;
        std::vector<std::pair<std::string, OCRMode>> modes;
        for (OCRMode m : allOCRModes) modes.emplace_back(settingsLabel(m), m);

        t.rows.push_back({
            choice("saveMode", "保存方法", false, top(&AppPreferences::saveMode),
                   std::vector<std::pair<std::string, SaveMode>>{{"毎回保存先を確認", SaveMode::ask},
                                                                 {"自動保存", SaveMode::automatic}}),
            caption("caption.destination", FormModel::destinationCaption(), false),
            toggle("product.datedFolders", "年月日フォルダで整理", false, product(&ProductDefaults::datedFolders)),
            toggle("product.screenshotFolder", "Screenshotsフォルダ", true,
                   product(&ProductDefaults::screenshotFolder)),
            toggle("product.printFolder", "Printフォルダ", true, product(&ProductDefaults::printFolder)),
            toggle("product.ocrFolder", "OCRフォルダ", true, product(&ProductDefaults::ocrFolder)),
            choice("product.naming", "ファイル名", true, product(&ProductDefaults::naming),
                   std::vector<std::pair<std::string, std::string>>{{"サイト・タイトル・日時", "site-title-date"},
                                                                   {"タイトル・日時", "title-date"},
                                                                   {"日時", "date"}}),
            choice("panel", "操作パネル", true, top(&AppPreferences::panel),
                   std::vector<std::pair<std::string, Panel>>{{"右", Panel::right}, {"下", Panel::bottom}}),
        });
        auto waits = std::vector<std::pair<std::string, int64_t>>{{"自動", -1}, {"すぐ撮影", 0}};
        for (auto& entry : numbered<int64_t>({1, 3, 5, 10}, "秒")) waits.push_back(entry);
        t.rows.push_back({
            choice("product.webMode", "表示", false, product(&ProductDefaults::webMode),
                   std::vector<std::pair<std::string, std::string>>{{"PC", "current"}, {"スマホ", "mobile"}}),
            // A width that the PC display does not use is not shown for it.
            shownWhen(choice("mobileWidth", "スマホ幅", false, top(&AppPreferences::mobileWidth),
                             numbered<int64_t>({375, 390, 430}, " px")),
                      [](const AppPreferences& p) { return p.product.webMode == "mobile"; }),
            choice("product.captureScale", "解像度", true, product(&ProductDefaults::captureScale),
                   std::vector<std::pair<std::string, int64_t>>{{"標準", 1}, {"高解像度", 2}}),
            toggle("lazyLoad", "遅延読み込み対策", true, top(&AppPreferences::lazyLoad)),
            choice("product.waitSeconds", "待機", true, product(&ProductDefaults::waitSeconds), waits),
        });
        t.rows.push_back({
            choice("product.paper", "用紙", false, product(&ProductDefaults::paper),
                   std::vector<std::pair<std::string, std::string>>{
                       {"A4", "A4"}, {"A3", "A3"}, {"JIS B5", "JIS B5"}, {"Letter", "Letter"}}),
            toggle("product.landscape", "横向き", false, product(&ProductDefaults::landscape)),
            choice("product.printOutput", "保存形式", false, product(&ProductDefaults::printOutput),
                   std::vector<std::pair<std::string, std::string>>{
                       {"PDF", "pdf"}, {"PNG", "png"}, {"PDF＋PNG", "both"}}),
            choice("product.margin", "余白", true, product(&ProductDefaults::margin),
                   numbered<double>({12, 5, 0}, " mm")),
            toggle("product.backgrounds", "背景を印刷", true, product(&ProductDefaults::backgrounds)),
            toggle("product.headerFooter", "ヘッダー・フッター", true, product(&ProductDefaults::headerFooter)),
            caption("caption.printDate", "内容はURL・タイトル・日時・ページ番号。日時は日本時間 yyyy/MM/dd HH:mm", true),
        });
        t.rows.push_back({
            choice("product.ocrMode", "既定モード", false, product(&ProductDefaults::ocrMode), modes),
            toggle("product.handwriting", "手書き候補を含める", false, product(&ProductDefaults::handwriting)),
            choice("automaticOCR", "処理方式", false, top(&AppPreferences::automaticOCR),
                   std::vector<std::pair<std::string, bool>>{{"自動調整", true}, {"順番", false}}),
            choice("product.preserveLines", "改行", true, product(&ProductDefaults::preserveLines),
                   std::vector<std::pair<std::string, bool>>{{"原稿の改行をできるだけ保持", true},
                                                             {"読みやすい文章", false}}),
            toggle("product.pageSeparators", "ページ区切り", true, product(&ProductDefaults::pageSeparators)),
            choice("product.combinedTXT", "TXT", true, product(&ProductDefaults::combinedTXT),
                   std::vector<std::pair<std::string, bool>>{{"結合TXT", true}, {"ページ別TXT", false}}),
            toggle("product.ocrAutoSave", "TXTを自動保存", true, product(&ProductDefaults::ocrAutoSave)),
            caption("caption.ocr", "実手書き品質は未評価です。設定変更は新しい処理へ適用します。", true),
        });
        t.rows.push_back({
            choice("historyDays", "履歴の保持", false, top(&AppPreferences::historyDays),
                   std::vector<std::pair<std::string, int64_t>>{{"無期限", 0}, {"30日", 30}, {"90日", 90}, {"1年", 365}}),
            caption("caption.history", "期限整理は履歴の参照だけです。成果物は削除しません。", false),
            choice("logDays", "動作ログの保持", true, top(&AppPreferences::logDays),
                   numbered<int64_t>({30, 90, 180, 360}, "日")),
        });
        // The rows are final: the sections may point into them now.
        const char* titles[] = {"一般・保存", "Webキャプチャ", "印刷", "OCR", "履歴・ログ"};
        for (int i = 0; i < FormModel::sectionCount; ++i) {
            FormSection section{i, titles[i], {}};
            for (const FormRow& row : t.rows[i]) section.rows.push_back(&row);
            t.sections.push_back(std::move(section));
        }
        return t;
    }();
    return table;
}

}  // namespace

FormModel::FormModel(AppPreferences draft, std::optional<int> step, bool detailed)
    : draft_(std::move(draft)), step_(step), detailed_(detailed) {}

void FormModel::setDraft(AppPreferences draft) {
    draft_ = std::move(draft);
    draftChanged_.emit();
}

std::vector<FormSection> FormModel::layout() const {
    std::vector<FormSection> shown;
    for (const FormSection& section : table()) {
        if (step_ && *step_ != section.index) continue;
        FormSection visible{section.index, section.title, {}};
        // The always-rows come first in every table, so filtering keeps the
        // order the user sees: always-rows, then the detailed group.
        for (const FormRow* row : section.rows) {
            if (!row->detailed || detailed_) visible.rows.push_back(row);
        }
        shown.push_back(std::move(visible));
    }
    return shown;
}

void FormModel::setStep(std::optional<int> step) {
    if (step == step_) return;
    step_ = step;
    layoutChanged_.emit();
}

void FormModel::setDetailed(bool detailed) {
    if (detailed == detailed_) return;
    detailed_ = detailed;
    layoutChanged_.emit();
}

const std::vector<FormSection>& FormModel::table() { return theTable().sections; }

std::vector<FormSection> FormModel::sections() const {
    std::vector<FormSection> shown = layout();
    for (FormSection& section : shown) {
        std::erase_if(section.rows, [this](const FormRow* row) { return !rowShown(*row); });
    }
    return shown;
}

const FormRow* FormModel::row(std::string_view key) {
    for (const FormSection& section : table()) {
        for (const FormRow* row : section.rows) {
            if (row->key == key) return row;
        }
    }
    return nullptr;
}

const FormRow& FormModel::rowOf(std::string_view key, FormRow::Kind kind) const {
    const FormRow* found = row(key);
    if (!found || found->kind != kind) raise(ErrorCase::invalidInput);
    return *found;
}

std::optional<std::size_t> FormModel::selection(std::string_view key) const {
    return rowOf(key, FormRow::Kind::choice).selected(draft_);
}

void FormModel::choose(std::string_view key, std::size_t index) {
    const FormRow& row = rowOf(key, FormRow::Kind::choice);
    if (index >= row.entries.size()) raise(ErrorCase::invalidInput);
    row.choose(draft_, index);
    draftChanged_.emit();
}

bool FormModel::isOn(std::string_view key) const { return rowOf(key, FormRow::Kind::toggle).isOn(draft_); }

void FormModel::setOn(std::string_view key, bool on) {
    rowOf(key, FormRow::Kind::toggle).setOn(draft_, on);
    draftChanged_.emit();
}

std::string FormModel::destinationCaption() {
    const std::string folder = folderText(AppRuntime::defaultOutput());
    return "標準保存先：" + folder + "。カスタム保存先の権限は書き出しません。";
}

}  // namespace velmora
