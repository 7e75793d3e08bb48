#include <gtest/gtest.h>

#include <map>

#include "foundation/BrindlexError.hpp"
#include "foundation/UUID.hpp"
#include "settingsui/FormModel.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;

namespace {

std::vector<std::string> titles(const std::vector<FormSection>& sections) {
    std::vector<std::string> out;
    for (const auto& s : sections) out.push_back(s.title);
    return out;
}

std::vector<std::size_t> rowCounts(const std::vector<FormSection>& sections) {
    std::vector<std::size_t> out;
    for (const auto& s : sections) out.push_back(s.rows.size());
    return out;
}

std::vector<std::string> labels(const FormSection& section) {
    std::vector<std::string> out;
    for (const FormRow* row : section.rows) out.push_back(row->label);
    return out;
}

// Leaf paths of a JSON object ("product.paper") with their values.
void flatten(const Json& j, const std::string& prefix, std::map<std::string, Json>& out) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            flatten(it.value(), prefix.empty() ? it.key() : prefix + "." + it.key(), out);
        }
    } else {
        out[prefix] = j;
    }
}

// The fields that differ between two records, by their JSON paths.
std::vector<std::string> changedFields(const AppPreferences& a, const AppPreferences& b) {
    std::map<std::string, Json> fa, fb;
    flatten(Json(a), "", fa);
    flatten(Json(b), "", fb);
    std::vector<std::string> changed;
    for (const auto& [key, value] : fa) {
        if (!fb.count(key) || fb[key] != value) changed.push_back(key);
    }
    for (const auto& [key, value] : fb) {
        if (!fa.count(key)) changed.push_back(key);
    }
    return changed;
}

// A record whose fields outside the form all differ from the defaults.
AppPreferences withMachineFields() {
    AppPreferences p;
    p.rightPanelPreferredWidth = 411;
    p.bottomPanelPreferredHeight = 222;
    p.ocrPreviewPreferredWidth = 333;
    p.destinationID = UUID::random();
    p.restoreTabs = true;
    p.restoreEpoch = UUID::random();
    return p;
}

}  // namespace

TEST(FormModel, SectionsAndRowsFollowTheStepAndTheCourse) {
    const std::vector<std::string> all{"一般・保存", "Webキャプチャ", "印刷", "OCR", "履歴・ログ"};
    FormModel form;
    EXPECT_EQ(titles(form.sections()), all);
    EXPECT_EQ(rowCounts(form.sections()), (std::vector<std::size_t>{8, 5, 7, 8, 3}));

    form.setDetailed(false);
    EXPECT_EQ(titles(form.sections()), all);
    EXPECT_EQ(rowCounts(form.sections()), (std::vector<std::size_t>{3, 2, 3, 3, 2}));

    form.setStep(2);
    ASSERT_EQ(form.sections().size(), 1u);
    EXPECT_EQ(labels(form.sections()[0]), (std::vector<std::string>{"用紙", "横向き", "保存形式"}));
    form.setDetailed(true);
    EXPECT_EQ(labels(form.sections()[0]),
              (std::vector<std::string>{"用紙", "横向き", "保存形式", "余白", "背景を印刷", "ヘッダー・フッター",
                                        "内容はURL・タイトル・日時・ページ番号。日時は日本時間 yyyy/MM/dd HH:mm"}));

    for (int outside : {5, -1, 99}) {
        form.setStep(outside);
        EXPECT_TRUE(form.sections().empty()) << outside;
    }

    // Every detailed row comes after every always-row of its section.
    for (const FormSection& section : FormModel::table()) {
        bool detailedSeen = false;
        for (const FormRow* row : section.rows) {
            EXPECT_FALSE(detailedSeen && !row->detailed) << row->key;
            detailedSeen = detailedSeen || row->detailed;
        }
    }

    int layouts = 0;
    form.layoutChanged().connect([&] { ++layouts; });
    form.setStep(99);  // unchanged: nothing to rebuild
    form.setDetailed(true);
    form.setStep(std::nullopt);
    form.setDetailed(false);
    EXPECT_EQ(layouts, 2);
}

// The smartphone's width applies only to the smartphone's display: with
// the PC display its row is not shown, and its value is kept.
TEST(FormModel, TheMobileWidthShowsOnlyForTheMobileDisplay) {
    AppPreferences mobile;
    mobile.product.webMode = "mobile";
    mobile.mobileWidth = 390;
    FormModel form(mobile, 1, false);
    ASSERT_EQ(form.sections().size(), 1u);
    EXPECT_EQ(labels(form.sections()[0]), (std::vector<std::string>{"表示", "スマホ幅"}));

    form.choose("product.webMode", 0);
    EXPECT_EQ(form.draft().product.webMode, "current");
    EXPECT_EQ(labels(form.sections()[0]), (std::vector<std::string>{"表示"}));
    EXPECT_EQ(form.draft().mobileWidth, 390);
    // Built once, shown as the draft says.
    ASSERT_EQ(form.layout().size(), 1u);
    EXPECT_EQ(labels(form.layout()[0]), (std::vector<std::string>{"表示", "スマホ幅"}));
    EXPECT_FALSE(form.rowShown(*FormModel::row("mobileWidth")));
    EXPECT_TRUE(form.rowShown(*FormModel::row("product.webMode")));

    form.setDetailed(true);
    form.setStep(std::nullopt);
    EXPECT_EQ(rowCounts(form.sections()), (std::vector<std::size_t>{8, 4, 7, 8, 3}));
    form.choose("product.webMode", 1);
    EXPECT_EQ(rowCounts(form.sections()), (std::vector<std::size_t>{8, 5, 7, 8, 3}));
    EXPECT_TRUE(form.rowShown(*FormModel::row("mobileWidth")));
}

TEST(FormModel, EveryChoiceListsItsEntriesAndStoresTheirValues) {
    const std::map<std::string, std::vector<std::string>> entries{
        {"saveMode", {"毎回保存先を確認", "自動保存"}},
        {"product.naming", {"サイト・タイトル・日時", "タイトル・日時", "日時"}},
        {"panel", {"右", "下"}},
        {"product.webMode", {"PC", "スマホ"}},
        {"mobileWidth", {"375 px", "390 px", "430 px"}},
        {"product.captureScale", {"標準", "高解像度"}},
        {"product.waitSeconds", {"自動", "すぐ撮影", "1秒", "3秒", "5秒", "10秒"}},
        {"product.paper", {"A4", "A3", "JIS B5", "Letter"}},
        {"product.printOutput", {"PDF", "PNG", "PDF＋PNG"}},
        {"product.margin", {"12 mm", "5 mm", "0 mm"}},
        {"product.ocrMode", {"標準", "縦書き", "手書き・校正指示", "自動"}},
        {"automaticOCR", {"自動調整", "順番"}},
        {"product.preserveLines", {"原稿の改行をできるだけ保持", "読みやすい文章"}},
        {"product.combinedTXT", {"結合TXT", "ページ別TXT"}},
        {"historyDays", {"無期限", "30日", "90日", "1年"}},
        {"logDays", {"30日", "90日", "180日", "360日"}},
    };
    // The stored value of every entry, as the preferences file writes it.
    const std::map<std::string, std::vector<Json>> values{
        {"saveMode", {"ask", "automatic"}},
        {"product.naming", {"site-title-date", "title-date", "date"}},
        {"panel", {"right", "bottom"}},
        {"product.webMode", {"current", "mobile"}},
        {"mobileWidth", {375, 390, 430}},
        {"product.captureScale", {1, 2}},
        {"product.waitSeconds", {-1, 0, 1, 3, 5, 10}},
        {"product.paper", {"A4", "A3", "JIS B5", "Letter"}},
        {"product.printOutput", {"pdf", "png", "both"}},
        {"product.margin", {12.0, 5.0, 0.0}},
        {"product.ocrMode", {"standard", "vertical", "handwriting", "automatic"}},
        {"automaticOCR", {true, false}},
        {"product.preserveLines", {true, false}},
        {"product.combinedTXT", {true, false}},
        {"historyDays", {0, 30, 90, 365}},
        {"logDays", {30, 90, 180, 360}},
    };
    std::size_t choices = 0;
    FormModel form(withMachineFields());
    for (const FormSection& section : FormModel::table()) {
        for (const FormRow* row : section.rows) {
            if (row->kind != FormRow::Kind::choice) continue;
            ++choices;
            ASSERT_TRUE(entries.count(row->key)) << row->key;
            EXPECT_EQ(row->entries, entries.at(row->key)) << row->key;
            for (std::size_t i = 0; i < row->entries.size(); ++i) {
                form.choose(row->key, i);
                std::map<std::string, Json> fields;
                flatten(Json(form.draft()), "", fields);
                EXPECT_EQ(fields.at(row->key), values.at(row->key)[i]) << row->key << " " << row->entries[i];
                EXPECT_EQ(form.selection(row->key), i) << row->key;
            }
        }
    }
    EXPECT_EQ(choices, entries.size());
}

TEST(FormModel, EachControlWritesOnlyItsOwnFieldAndTheRestPassesThrough) {
    const AppPreferences start = withMachineFields();
    FormModel form(start);
    int edits = 0;
    form.draftChanged().connect([&] { ++edits; });
    std::size_t bound = 0;
    for (const FormSection& section : FormModel::table()) {
        for (const FormRow* row : section.rows) {
            const AppPreferences before = form.draft();
            if (row->kind == FormRow::Kind::toggle) {
                form.setOn(row->key, !form.isOn(row->key));
                EXPECT_EQ(form.isOn(row->key), !row->isOn(before)) << row->key;
            } else if (row->kind == FormRow::Kind::choice) {
                // An entry other than the one held, so the field must change.
                const std::size_t held = form.selection(row->key).value_or(0);
                form.choose(row->key, (held + 1) % row->entries.size());
            } else {
                continue;
            }
            ++bound;
            EXPECT_EQ(changedFields(before, form.draft()), std::vector<std::string>{row->key});
        }
    }
    // Seven preference fields and twenty product options.
    EXPECT_EQ(bound, 27u);
    EXPECT_EQ(edits, 27);
    EXPECT_EQ(form.draft().rightPanelPreferredWidth, start.rightPanelPreferredWidth);
    EXPECT_EQ(form.draft().bottomPanelPreferredHeight, start.bottomPanelPreferredHeight);
    EXPECT_EQ(form.draft().ocrPreviewPreferredWidth, start.ocrPreviewPreferredWidth);
    EXPECT_EQ(form.draft().destinationID, start.destinationID);
    EXPECT_EQ(form.draft().restoreTabs, start.restoreTabs);
    EXPECT_EQ(form.draft().restoreEpoch, start.restoreEpoch);
    EXPECT_EQ(form.draft().schemaVersion, start.schemaVersion);
}

TEST(FormModel, HiddenRowsKeepTheirValuesAndOutsideValuesShowNoSelection) {
    FormModel form(AppPreferences{}, 2, true);
    form.choose("product.margin", 1);
    form.setOn("product.backgrounds", false);
    form.setDetailed(false);
    EXPECT_EQ(form.draft().product.margin, 5.0);
    EXPECT_FALSE(form.draft().product.backgrounds);
    form.setStep(std::nullopt);
    EXPECT_EQ(form.draft().product.margin, 5.0);

    AppPreferences odd;
    odd.mobileWidth = 414;
    odd.product.paper = "B4";
    form.setDraft(odd);
    EXPECT_EQ(form.selection("mobileWidth"), std::nullopt);
    EXPECT_EQ(form.selection("product.paper"), std::nullopt);
    EXPECT_EQ(form.draft().mobileWidth, 414);
    form.choose("mobileWidth", 0);
    EXPECT_EQ(form.draft().mobileWidth, 375);

    EXPECT_EQ(caseOf([&] { form.choose("nothing", 0); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { form.choose("lazyLoad", 0); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { form.choose("panel", 2); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { form.setOn("panel", true); }), ErrorCase::invalidInput);
    EXPECT_EQ(form.draft().panel, AppPreferences::Panel::right);
}
