#include <gtest/gtest.h>

#include "settingsui/FormModel.hpp"
#include "workspace/model/CapturePanelRules.hpp"

// The control panel's rules without a display: which width controls stand,
// the width field's text in a locale, the sections' columns, the status row
// and the other tabs' strips.

using namespace velmora;
namespace Rules = CapturePanelRules;
using Panel = AppPreferences::Panel;

namespace {

constexpr const char* savedURL = "http://127.0.0.1:8080/notice";

// A tab whose last save was taken of the page it shows.
Rules::StatusFacts onSavedPage() {
    Rules::StatusFacts facts;
    facts.shownPage = savedURL;
    facts.savedPage = savedURL;
    facts.published = true;
    return facts;
}

}  // namespace

TEST(CapturePanelRules, PCAlwaysMeansTheCurrentWidthAndEachModeShowsItsOwnControls) {
    EXPECT_EQ(Rules::displayValue("mobile"), "mobile");
    EXPECT_EQ(Rules::displayValue("current"), "pc");
    EXPECT_EQ(Rules::displayValue("custom"), "pc");
    // Choosing PC after スマホ lands on the current width, even when a custom
    // width was chosen before.
    EXPECT_EQ(Rules::widthModeFor("pc"), "current");
    EXPECT_EQ(Rules::widthModeFor("mobile"), "mobile");

    struct Shown {
        bool pc, mobile, custom;
    };
    const std::vector<std::pair<std::string, Shown>> modes{
        {"current", {true, false, false}}, {"custom", {true, false, true}}, {"mobile", {false, true, false}}};
    for (const auto& [mode, shown] : modes) {
        EXPECT_EQ(Rules::showsPCWidth(mode), shown.pc) << mode;
        EXPECT_EQ(Rules::showsMobileWidth(mode), shown.mobile) << mode;
        EXPECT_EQ(Rules::showsCustomWidth(mode), shown.custom) << mode;
    }
}

TEST(CapturePanelRules, TheWidthFieldReadsAnyIntegerOfTheLocaleAndNothingElse) {
    const icu::Locale english("en_US");
    const icu::Locale japanese("ja_JP");
    const icu::Locale german("de_DE");
    EXPECT_EQ(Rules::formatWidth(1440, english), "1,440");
    EXPECT_EQ(Rules::formatWidth(1440, japanese), "1,440");
    EXPECT_EQ(Rules::formatWidth(1440, german), "1.440");
    EXPECT_EQ(Rules::formatWidth(390, german), "390");

    EXPECT_EQ(Rules::parseWidth("1,440", english), 1440);
    EXPECT_EQ(Rules::parseWidth("1440", english), 1440);
    EXPECT_EQ(Rules::parseWidth(" 1440 ", english), 1440);
    EXPECT_EQ(Rules::parseWidth("1.440", german), 1440);
    EXPECT_EQ(Rules::parseWidth("１４４０", japanese), 1440);
    // Outside the capture range is still a width for the field.
    EXPECT_EQ(Rules::parseWidth("5000", english), 5000);
    EXPECT_EQ(Rules::parseWidth("0", english), 0);
    EXPECT_EQ(Rules::parseWidth("-20", english), -20);
    // What is no integer.
    for (const char* text : {"", "  ", "abc", "14a", "1440px", "12.5", "99999999999999999999999"}) {
        EXPECT_FALSE(Rules::parseWidth(text, english)) << text;
    }
    EXPECT_FALSE(Rules::parseWidth("1.5", english));
    // A round trip in every locale.
    for (const auto& locale : {english, japanese, german}) {
        EXPECT_EQ(Rules::parseWidth(Rules::formatWidth(4096, locale), locale), 4096) << locale.getName();
    }
}

TEST(CapturePanelRules, TheSectionsStandSideBySideFromAPanelWidthOf792AtTheBottom) {
    EXPECT_EQ(Rules::columns(791, Panel::bottom), 1);
    EXPECT_EQ(Rules::columns(791.9, Panel::bottom), 1);
    EXPECT_EQ(Rules::columns(792, Panel::bottom), 2);
    EXPECT_EQ(Rules::columns(1600, Panel::bottom), 2);
    EXPECT_EQ(Rules::columns(300, Panel::bottom), 1);
    // On the right, one column whatever the width.
    EXPECT_EQ(Rules::columns(1600, Panel::right), 1);
}

TEST(CapturePanelRules, TheStatusRowFollowsTheSelectedTabAndThePanel) {
    auto idle = onSavedPage();
    idle.stage = "保存しました";
    idle.diagnostic = "{\"stages\" : []}";
    idle.hasLastOutput = true;
    const auto row = Rules::statusRow(idle);
    EXPECT_EQ(row.stage, "保存しました");
    EXPECT_TRUE(row.copyDiagnostic);
    EXPECT_FALSE(row.saveButtons);
    EXPECT_TRUE(row.savesEnabled);
    EXPECT_FALSE(row.cancel);
    EXPECT_TRUE(row.openOutput);

    // The diagnostic stays off the clipboard in a private tab, while it is
    // empty and while a save runs.
    auto privateTab = idle;
    privateTab.isPrivate = true;
    EXPECT_FALSE(Rules::statusRow(privateTab).copyDiagnostic);
    auto empty = idle;
    empty.diagnostic.clear();
    EXPECT_FALSE(Rules::statusRow(empty).copyDiagnostic);

    auto saving = idle;
    saving.pending = true;
    saving.webSaving = true;
    const auto during = Rules::statusRow(saving);
    EXPECT_FALSE(during.copyDiagnostic);
    EXPECT_TRUE(during.cancel);
    // An earlier output is not offered while the next save runs.
    EXPECT_FALSE(during.openOutput);
    EXPECT_FALSE(during.savesEnabled);

    auto nothingYet = idle;
    nothingYet.hasLastOutput = false;
    EXPECT_FALSE(Rules::statusRow(nothingYet).openOutput);
    // A save refused or failed before its first file put nothing there.
    auto nothingSaved = idle;
    nothingSaved.published = false;
    EXPECT_FALSE(Rules::statusRow(nothingSaved).openOutput);

    // At the bottom the row holds the save buttons, off while another tab
    // saves or the window closes.
    auto bottom = idle;
    bottom.panel = Panel::bottom;
    EXPECT_TRUE(Rules::statusRow(bottom).saveButtons);
    EXPECT_TRUE(Rules::statusRow(bottom).savesEnabled);
    bottom.webSaving = true;
    EXPECT_FALSE(Rules::statusRow(bottom).savesEnabled);
    EXPECT_FALSE(Rules::statusRow(bottom).cancel);  // the selected tab itself is idle
    bottom.webSaving = false;
    bottom.closing = true;
    EXPECT_FALSE(Rules::statusRow(bottom).savesEnabled);
    EXPECT_FALSE(Rules::panelEnabled(false, true));
    EXPECT_FALSE(Rules::panelEnabled(true, false));
    EXPECT_TRUE(Rules::panelEnabled(false, false));
}

TEST(CapturePanelRules, TheRowIsAboutThePageOnScreen) {
    // A loaded page the tab never saved: the session's first stage is no
    // news about it, and the row with the panel on the right takes no room.
    Rules::StatusFacts loaded;
    loaded.stage = "ページを選んでください";
    loaded.shownPage = savedURL;
    auto row = Rules::statusRow(loaded);
    EXPECT_EQ(row.stage, "");
    EXPECT_FALSE(row.visible);
    EXPECT_FALSE(row.failure);
    // With the panel at the bottom the row stands for its save buttons.
    loaded.panel = Panel::bottom;
    row = Rules::statusRow(loaded);
    EXPECT_TRUE(row.visible);
    EXPECT_TRUE(row.saveButtons);
    EXPECT_EQ(row.stage, "");

    // A save's outcome stays with the page it was taken of: shown there,
    // with its diagnostic and folder; gone on another page (another site,
    // the next page of the same one) and back when that page is shown again.
    auto saved = onSavedPage();
    saved.stage = "PDF1件とページ画像（PNG）1枚を保存しました。保存先：ホーム/Documents/ベルモラ/Print";
    saved.diagnostic = "{}";
    saved.hasLastOutput = true;
    row = Rules::statusRow(saved);
    EXPECT_TRUE(row.visible);
    EXPECT_EQ(row.stage, saved.stage);
    EXPECT_TRUE(row.copyDiagnostic);
    EXPECT_TRUE(row.openOutput);
    for (const char* elsewhere : {"https://example.org/", "http://127.0.0.1:8080/next"}) {
        auto moved = saved;
        moved.shownPage = elsewhere;
        row = Rules::statusRow(moved);
        EXPECT_FALSE(row.visible) << elsewhere;
        EXPECT_EQ(row.stage, "") << elsewhere;
        EXPECT_FALSE(row.copyDiagnostic) << elsewhere;
        EXPECT_FALSE(row.openOutput) << elsewhere;
    }
    auto failedThere = saved;
    failedThere.failed = true;
    failedThere.shownPage = "https://example.org/";
    EXPECT_FALSE(Rules::statusRow(failedThere).failure) << "another page has no failure of its own";
    // A running save is followed whatever page the tab shows.
    auto running = saved;
    running.pending = true;
    running.stage = "読み込み待機";
    running.shownPage = std::nullopt;
    EXPECT_EQ(Rules::statusRow(running).stage, "読み込み待機");
    EXPECT_TRUE(Rules::statusRow(running).visible);
}

TEST(CapturePanelRules, ARefusalStandsInTheRowAsAnErrorWhileThePageIsAsItWas) {
    // 縦長PNGを保存 on a page still loading.
    Rules::StatusFacts loading;
    loading.shownPage = savedURL;
    loading.loading = true;
    loading.refusal = PageRefusal{"ページの読み込みが完了していません。タブを開いてから保存してください。", savedURL, true, true};
    auto row = Rules::statusRow(loading);
    EXPECT_TRUE(row.visible);
    EXPECT_EQ(row.stage, loading.refusal->text);
    EXPECT_TRUE(row.failure);
    EXPECT_TRUE(row.wraps);
    // Once the page has loaded, the refusal no longer holds.
    auto loaded = loading;
    loaded.loading = false;
    row = Rules::statusRow(loaded);
    EXPECT_FALSE(row.visible);
    EXPECT_FALSE(row.failure);

    // A typed file: address, refused on an empty tab, until the tab shows a
    // page.
    Rules::StatusFacts empty;
    empty.refusal = PageRefusal{"URLを確認してください。httpまたはhttpsで始まるアドレスを入力してください。", std::nullopt, false, true};
    EXPECT_EQ(Rules::statusRow(empty).stage, empty.refusal->text);
    EXPECT_TRUE(Rules::statusRow(empty).failure);
    empty.shownPage = savedURL;
    EXPECT_FALSE(Rules::statusRow(empty).visible);

    // Over the outcome of a save of the same page; the user's own cancel
    // is said plainly.
    auto saved = onSavedPage();
    saved.stage = "画像を保存しました（1枚）";
    saved.refusal = PageRefusal{"保存を取消しました。処理は開始していません", savedURL, false, false};
    row = Rules::statusRow(saved);
    EXPECT_EQ(row.stage, saved.refusal->text);
    EXPECT_FALSE(row.failure);
    // A running save hides it.
    saved.pending = true;
    saved.stage = "読み込み待機";
    EXPECT_EQ(Rules::statusRow(saved).stage, "読み込み待機");
}

TEST(CapturePanelRules, AFailureReadsAsAnErrorAndARunningSaveHasABarFilledAsFarAsItsTilesCame) {
    auto failed = onSavedPage();
    failed.stage = "保存できませんでした。 診断コード: WC-041";
    failed.failed = true;
    const auto row = Rules::statusRow(failed);
    EXPECT_TRUE(row.failure);
    EXPECT_EQ(row.stage, failed.stage);
    EXPECT_FALSE(row.progress);
    // The next save of the tab is no failure while it runs.
    auto again = failed;
    again.pending = true;
    again.stage = "読み込み待機";
    const auto running = Rules::statusRow(again);
    EXPECT_FALSE(running.failure);
    EXPECT_TRUE(running.progress);
    EXPECT_EQ(running.fraction, std::nullopt) << "a stage without a count pulses";
    again.stage = "撮影中 600/2400";
    EXPECT_EQ(Rules::statusRow(again).fraction, std::optional<double>(0.25));
    // Ended, the bar goes whatever the last stage said.
    auto ended = again;
    ended.pending = false;
    ended.failed = false;
    EXPECT_FALSE(Rules::statusRow(ended).progress);
    EXPECT_EQ(Rules::statusRow(ended).fraction, std::nullopt);
    EXPECT_FALSE(Rules::statusRow(ended).failure);
}

TEST(CapturePanelRules, ALongSentenceWrapsAndAShortStageStaysOneLine) {
    auto facts = onSavedPage();
    for (const char* shortStage : {"ページを選んでください", "撮影中 99999/99999", "結合・保存中", "画像を保存しました（1枚）",
                                   "下部の画像を読み込み中", "12345678901234567890"}) {
        facts.stage = shortStage;
        EXPECT_FALSE(Rules::statusRow(facts).wraps) << shortStage;
    }
    for (const char* longStage : {"読み込めない画像があります。全体取得を完了扱いにはしません。 診断コード: WC-030",
                                  "中止を受付済み。処理の終了と画面復元を待っています", "123456789012345678901"}) {
        facts.stage = longStage;
        EXPECT_TRUE(Rules::statusRow(facts).wraps) << longStage;
    }
}

TEST(CapturePanelRules, OnlyATileStagesCountIsReadAsAFraction) {
    EXPECT_EQ(Rules::stageFraction("撮影中 0/3000"), std::optional<double>(0.0));
    EXPECT_EQ(Rules::stageFraction("撮影中 1500/3000"), std::optional<double>(0.5));
    EXPECT_EQ(Rules::stageFraction("撮影中 3000/3000"), std::optional<double>(1.0));
    // A tile past a page that became shorter fills the bar, no further.
    EXPECT_EQ(Rules::stageFraction("撮影中 3500/3000"), std::optional<double>(1.0));
    for (const char* other : {"撮影中 1/0", "撮影中 /3000", "撮影中 10/", "撮影中 10/30 ", "撮影中 -1/30", "撮影中 1/2/3",
                              "撮影中10/30", "撮影 10/30", "結合・保存中", "下部の画像を読み込み中", "",
                              "撮影中 99999999999999999999/1"}) {
        EXPECT_EQ(Rules::stageFraction(other), std::nullopt) << other;
    }
}

TEST(CapturePanelRules, OneStripPerOtherTabWithASavePendingInTabOrder) {
    const UUID a = UUID::random(), b = UUID::random(), c = UUID::random(), d = UUID::random();
    const std::vector<Rules::TabFacts> tabs{
        {a, true, "印刷中"}, {b, true, "撮影中"}, {c, false, "保存しました"}, {d, true, "下部の画像を読み込み中"}};
    EXPECT_EQ(Rules::otherTabSaves(tabs, b),
              (std::vector<Rules::OtherTabSave>{{a, "別タブの保存：印刷中"}, {d, "別タブの保存：下部の画像を読み込み中"}}));
    EXPECT_EQ(Rules::otherTabSaves(tabs, c).size(), 3u);
    EXPECT_TRUE(Rules::otherTabSaves({{a, true, "印刷中"}}, a).empty());
}

namespace {

template <typename T, std::size_t N>
std::vector<std::string> entryLabels(const std::array<Choice<T>, N>& table) {
    std::vector<std::string> out;
    for (const auto& choice : table) out.emplace_back(choice.label);
    return out;
}

}  // namespace

// One option, one name and one control everywhere: what the panel and the
// settings both show is named alike, offers the same entries in the same
// order, and is the same kind of control.
TEST(CapturePanelRules, EveryOptionTheSettingsShowToHasTheirNameEntriesAndControl) {
    const auto same = [](const Rules::SharedOption& option, const std::vector<std::string>& entries) {
        SCOPED_TRACE(std::string(option.settingsKey));
        const FormRow* row = FormModel::row(option.settingsKey);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->label, option.title);
        EXPECT_EQ(row->kind == FormRow::Kind::toggle, option.toggle);
        if (!option.toggle) {
            EXPECT_EQ(row->entries, entries);
        }
    };
    same(Rules::displayOption, entryLabels(Rules::display));
    same(Rules::mobileWidthOption, entryLabels(Rules::mobileWidth));
    same(Rules::scaleOption, entryLabels(Rules::scale));
    same(Rules::lazyLoadOption, {});
    same(Rules::waitOption, entryLabels(Rules::wait));
    same(Rules::paperOption, entryLabels(Rules::paper));
    same(Rules::landscapeOption, {});
    same(Rules::marginOption, entryLabels(Rules::margin));
    same(Rules::backgroundsOption, {});
    same(Rules::headerFooterOption, {});
    same(Rules::formatOption, entryLabels(Rules::format));
    // The print section's heading is the settings' section of the same
    // options.
    const FormRow* paper = FormModel::row("product.paper");
    const auto& sections = FormModel::table();
    const auto holder = std::find_if(sections.begin(), sections.end(), [&](const FormSection& section) {
        return std::find(section.rows.begin(), section.rows.end(), paper) != section.rows.end();
    });
    ASSERT_NE(holder, sections.end());
    EXPECT_EQ(holder->title, Rules::printHeading);
}
