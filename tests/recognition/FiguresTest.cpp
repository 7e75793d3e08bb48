// Figures among Japanese as invoices and price lists print them: amounts
// with the yen sign and thousands separators, dates, and faces whose zero
// carries a dot.
#include <gtest/gtest.h>

#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/EvaluationPages.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

std::string readText(const test::TextPage& page, OCRMode mode = OCRMode::standard) {
    OCRSettings settings;
    settings.mode = mode;
    const PageResult result = OCREngine::recognize(page.image, 1, 1, settings, [] { return false; });
    std::string out;
    for (const TextRegion& r : result.regions) out += (out.empty() ? "" : "\n") + r.text;
    return test::withoutWhiteSpace(out);
}

// Small print, as an invoice's at 150 dpi.
test::TextLayout smallPrint(const std::string& family) {
    test::TextLayout l;
    l.width = 700;
    l.height = 190;
    l.pixelSize = 18;
    l.family = family;
    return l;
}

}  // namespace

TEST(Figures, AmountsKeepTheirYenSignsAndThousandsSeparators) {
    // The Japanese model reads the yen sign as a backslash, and some of
    // these commas as full stops; the full stops of rates stay.
    const test::TextPage page = test::renderLines(
        smallPrint("Noto Sans CJK JP"),
        {"ご請求金額（税込） ¥1,190,200", "小計 ¥1,082,000 単価 ¥30,000", "達成率 87.5% 前年比 102.9%"});
    const std::string text = readText(page);
    for (const char* figure : {"¥1,190,200", "¥1,082,000", "¥30,000", "87.5%", "102.9%"}) {
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in " << text;
    }
    EXPECT_EQ(text.find('\\'), std::string::npos) << text;
    // The automatic mode reads a page of horizontal text as the standard
    // mode does.
    EXPECT_EQ(readText(page, OCRMode::automatic), text);
}

TEST(Figures, DottedZerosOfAFixedPitchFaceStayZeros) {
    // The Japanese model reads this face's zero, a dot inside, as 9 or 6.
    const std::string text = readText(test::renderLines(smallPrint("DejaVu Sans Mono, Noto Sans CJK JP"),
                                                        {"ご請求金額（税込） ¥1,190,200", "納期 2027/01/15 単価 ¥30,000"}));
    for (const char* figure : {"¥1,190,200", "2027/01/15", "¥30,000"}) {
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in " << text;
    }
}

TEST(Figures, RangesKeepTheirWaveDashes) {
    // Neither model knows the wave dash: they read it as a hyphen, a kana
    // or nothing, from a time, a month or a code to the next.
    const std::string text = readText(test::renderLines(
        smallPrint("Noto Sans CJK JP"),
        {"受付時間 9:00〜17:00（土日を除く）", "実施期間 2026年10月〜12月", "納品書番号 DN-1105〜DN-1132 に基づく"}));
    for (const char* range : {"〜17:00", "10月〜12月", "DN-1105〜DN-1132"}) {
        EXPECT_NE(text.find(range), std::string::npos) << range << " in " << text;
    }
}

TEST(Figures, ALongVowelMarkBeforeTheNextCellsNumberStaysOne) {
    // This face's long vowel mark swells at its ends, and the cell after
    // it in the table's row holds a number: no range between them.
    test::TextLayout l = smallPrint("IPAMincho");
    l.pixelSize = 16;
    const std::vector<std::vector<std::string>> rows{
        {"1", "卓上計量器", "1", "¥11,000"}, {"11", "温度ロガー", "10", "¥1,100"}, {"2", "分銅ケース", "1", "¥31,100"}};
    const std::vector<double> stops{20, 70, 300, 380, 540};
    std::vector<test::PlacedText> cells;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const bool right = c >= 2;
            cells.push_back({rows[r][c], right ? stops[c + 1] - 8 : stops[c] + 8, 30 + 50.0 * r, right});
        }
    }
    for (double x : stops) l.rules.push_back(Rect{x, 20, 1.5, 150});
    for (int r = 0; r <= 3; ++r) l.rules.push_back(Rect{20, 20 + 50.0 * r, 520, 1.5});
    const std::string text = readText(test::renderPlaced(l, cells));
    EXPECT_NE(text.find("ロガー"), std::string::npos) << text;
    EXPECT_EQ(text.find("〜"), std::string::npos) << text;
}

TEST(Figures, AmountsInARuledTableKeepTheirYenSignsAndZeros) {
    // A row is read as one line, cells apart; the rules beside the amounts
    // are no part of them.
    test::TextLayout l = smallPrint("DejaVu Sans Mono, Noto Sans CJK JP");
    const std::vector<std::vector<std::string>> rows{
        {"品番", "数量", "単価", "金額"}, {"MS-4010", "6", "¥48,000", "¥288,000"}, {"SV-0105", "2", "¥15,000", "¥30,000"}};
    const std::vector<double> stops{20, 140, 220, 380, 560};
    std::vector<test::PlacedText> cells;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            cells.push_back({rows[r][c], c == 0 ? stops[c] + 8 : stops[c + 1] - 8, 30 + 45.0 * r, c > 0});
        }
    }
    for (double x : stops) l.rules.push_back(Rect{x, 20, 1.5, 135});
    for (int r = 0; r <= 3; ++r) l.rules.push_back(Rect{20, 20 + 45.0 * r, 540, 1.5});
    const std::string text = readText(test::renderPlaced(l, cells));
    for (const char* amount : {"¥48,000", "¥288,000", "¥15,000", "¥30,000"}) {
        EXPECT_NE(text.find(amount), std::string::npos) << amount << " in " << text;
    }
}

TEST(Figures, AnAccountingFormatsYenSignAtItsCellsStartIsHalfWidth) {
    // The sign at the cell's start, the amount flush right: its advance to
    // the digits is the cell's blank, no full-width cell's. The rate
    // before it ends a cell away: no Latin beside the sign.
    test::TextLayout l = smallPrint("Noto Sans CJK JP");
    l.rules = {{20, 20, 1.5, 90},  {140, 20, 1.5, 90}, {260, 20, 1.5, 90}, {580, 20, 1.5, 90},
               {20, 20, 560, 1.5}, {20, 65, 560, 1.5}, {20, 110, 560, 1.5}};
    const std::string text = readText(
        test::renderPlaced(l, {{"東日本", 28, 30}, {"4.5%", 252, 30, true}, {"¥", 268, 30}, {"1,250,000", 572, 30, true},
                               {"西日本", 28, 75}, {"-0.8%", 252, 75, true}, {"¥", 268, 75}, {"980,500", 572, 75, true}}));
    EXPECT_NE(text.find("¥1,250,000"), std::string::npos) << text;
    EXPECT_NE(text.find("¥980,500"), std::string::npos) << text;
}

TEST(Figures, AMarkReadTwiceOrADigitLeftOutIsReadOnce) {
    // At these sizes the Japanese model reads one comma of IPAGothic as a
    // comma and a full stop, and leaves out a dotted zero of DejaVu Sans
    // Mono. IPAGothic draws both yen signs in a whole cell.
    for (const auto& [family, yen] : {std::pair{"IPAGothic", "￥"}, {"DejaVu Sans Mono, Noto Sans CJK JP", "¥"}}) {
        test::TextLayout l = smallPrint(family);
        l.width = 800;
        l.height = 200;
        l.pixelSize = 15;
        const std::string y = yen;
        const std::string text = readText(test::renderLines(
            l, {"小計 " + y + "1,082,000 単価 " + y + "3,050", "合計 " + y + "144,000 納期 2027/01/15",
                "金額 " + y + "108,000 数量 10 個"}));
        for (const char* amount : {"1,082,000", "144,000", "108,000"}) {
            EXPECT_NE(text.find(y + amount), std::string::npos) << y + amount << " in " << text;
        }
    }
}

TEST(Figures, HalfAndFullWidthYenSignsKeepTheirWidths) {
    // Both faces draw the full-width yen sign in a whole cell, the
    // half-width one about as wide as a digit; the Japanese model reads
    // either as a backslash (its box squeezed at the first digit) or
    // takes it into the first digit.
    test::TextLayout l = smallPrint("Noto Sans CJK JP");
    l.height = 260;
    l.markup = true;
    const std::string text = readText(test::renderLines(
        l, {"ご請求金額（税込） ￥1,234 円", "小計 ¥1,234 単価 ￥30,000",
            "<span font_family=\"Noto Serif CJK JP\">合計金額 ￥108,000 送料 ¥500</span>"}));
    EXPECT_EQ(text, "ご請求金額（税込）￥1,234円小計¥1,234単価￥30,000合計金額￥108,000送料¥500");
}

TEST(Figures, SeparatorsAndWaveDashesOfALineWhoseBoxesStandOffItsInkStay) {
    // At this size the Japanese model's boxes stand a few pixels off the
    // ink and squeeze some digits: it takes a comma into the digit after it
    // or reads it as a full stop, and reads a range's wave dash as a kana.
    test::TextLayout l = smallPrint("Noto Sans CJK JP");
    l.width = 1100;
    l.height = 250;
    l.pixelSize = 22;
    const std::string text = readText(test::renderLines(
        l, {"水彩画3,200円、スマートフォン教室1,500円、料理は1組800円（材料費を含みます）。",
            "電話：0467-00-2815（受付 9:00〜17:00、火曜休館）", "予算執行額 ¥186,400,000／計画 ¥205,000,000"}));
    for (const char* figure : {"3,200円", "1,500円", "9:00〜17:00", "¥186,400,000", "¥205,000,000"}) {
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in " << text;
    }
}

TEST(Figures, ACommaBesideASqueezedDigitStaysAComma) {
    // At this size the Japanese model reads the comma of 3,200 as a full
    // stop and gives the 3 a box a third of its height: the digits' size is
    // their ink's, which shows the comma's tail below their baseline.
    test::TextLayout l = smallPrint("Noto Sans CJK JP");
    l.width = 1200;
    l.height = 120;
    l.pixelSize = 24;
    const std::string text =
        readText(test::renderLines(l, {"水彩画3,200円、スマートフォン教室1,500円、料理は1組800円（材料費を含みます）。"}));
    EXPECT_NE(text.find("3,200円"), std::string::npos) << text;
}

TEST(Figures, PercentSignsSetLargeStayPercentSigns) {
    // At a slide's sizes the Japanese model reads a percent sign's two
    // rings as two digits, or as a digit and the sign; a last zero with
    // the ink after it, which the English model now and then reads as one,
    // stays a zero.
    test::TextLayout l = smallPrint("Noto Sans CJK JP");
    l.width = 1300;
    l.height = 330;
    l.pixelSize = 46;
    const std::string text = readText(
        test::renderLines(l, {"稼働率は平均 87.5%、出荷ミス率 0.42%", "予算の執行率 90.9%（10月比）", "受付は17:00までです"}));
    for (const char* figure : {"87.5%、", "0.42%", "90.9%（", "17:00ま"}) {
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in " << text;
    }
}

TEST(Figures, ADatesSlashStaysASlash) {
    // The Japanese model reads the slash of these dates as a 7; the 7s of
    // the figures, their bar on top, stay 7s.
    test::TextLayout l = smallPrint("Noto Serif CJK JP");
    l.width = 900;
    l.height = 200;
    l.pixelSize = 20;
    l.markup = true;
    const std::string text = readText(test::renderLines(
        l, {"株式会社みどり電機 業務改革推進室 3 / 7", "合計 1,777 件 7/17 まで",
            "<span font_family=\"IPAGothic\">合計 1,777 件 7/17 まで</span>"}));
    EXPECT_EQ(text, "株式会社みどり電機業務改革推進室3/7合計1,777件7/17まで合計1,777件7/17まで");
}

TEST(Figures, MarkedZerosOfAPageWithoutGreyEdgesStayZeros) {
    // Drawn without antialiasing, this face's zero, a dot inside, is read
    // as an at sign, a 6, an 8 or a 9 by both models; the 6s, 8s and 9s
    // stay.
    test::TextLayout l = smallPrint("DejaVu Sans Mono, Noto Sans CJK JP");
    l.width = 800;
    l.height = 260;
    l.pixelSize = 20;
    const test::TextPage drawn = test::renderLines(
        l, {"注文番号 PO-2026-0719 数量 30", "金額 ¥144,000 納期 2027/01/15", "単価 ¥3,050 ¥689 ¥980"});
    // Each pixel black or white, as a render without grey edges.
    std::vector<uint8_t> pixels;
    const int w = drawn.image.width(), h = drawn.image.height(), n = drawn.image.channels();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = drawn.image.pixels() + static_cast<std::ptrdiff_t>(y) * drawn.image.rowStride();
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) pixels.push_back(row[x * n + 1] < 128 ? 0 : 255);
        }
    }
    test::TextPage page{RasterImage::fromPixels(w, h, 3, pixels), drawn.lines};
    const std::string text = readText(page);
    for (const char* figure : {"-2026-0719数量30", "¥144,000", "2027/01/15", "¥3,050", "¥689", "¥980"}) {
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in " << text;
    }
}

TEST(Figures, YenSignsWithoutDigitsAfterThemAreYenSigns) {
    // A column's unit: the English reading of the figures has no yen sign
    // to give, and the Japanese model's backslash stood. Each page sets
    // one width, which its amounts show. The IPA faces draw a path's
    // backslashes as yen signs too; they stay backslashes.
    const std::vector<std::pair<std::string, std::string>> pages = {{"Noto Sans CJK JP", "¥"}, {"IPAMincho", "￥"}};
    for (const auto& [face, yen] : pages) {
        test::TextLayout l = smallPrint(face);
        l.width = 900;
        l.height = 200;
        l.pixelSize = 16;
        const std::string text =
            readText(test::renderLines(l, {"金額の単位：" + yen, "合計 " + yen + "98,000 送料 " + yen + "500",
                                           "保存先 C:\\Users\\taro"}));
        EXPECT_NE(text.find("単位：" + yen), std::string::npos) << face << ": " << text;
        EXPECT_NE(text.find("C:\\Users\\taro"), std::string::npos) << face << ": " << text;
    }
    // A price per piece and an accounting format's zero: a slash or a dash
    // after the sign is no path's or escape's.
    const std::string units = readText(test::renderLines(
        {.width = 500, .height = 140, .pixelSize = 16, .family = "Noto Sans CJK JP"}, {"単価 ¥/個", "当期の繰越 ¥ -"}));
    EXPECT_NE(units.find("¥/個"), std::string::npos) << units;
    EXPECT_NE(units.find("繰越¥-"), std::string::npos) << units;
}

TEST(Figures, AYenSignBetweenParenthesesIsNoCircledNumber) {
    // A spreadsheet's column head: the Japanese model reads "¥)" as one
    // circled number, ⑳, and the parenthesis before it apart.
    const std::string text = readText(
        test::renderLines({.width = 700, .height = 120, .pixelSize = 22, .family = "Noto Sans CJK JP"},
                          {"地域 売上(¥) 前年(¥) 差額(¥)"}));
    EXPECT_NE(text.find("差額(¥)"), std::string::npos) << text;
    EXPECT_EQ(text.find("⑳"), std::string::npos) << text;
}

TEST(Figures, APriceListsColumnOfAmountsInAMinchoFaceIsRead) {
    // Amounts set flush right in a column of their own, which the layout
    // missed. The Japanese model reads a Mincho's yen sign and digits so
    // unsurely that the column was left out.
    const std::vector<std::vector<std::string>> rows{
        {"付箋 75×75mm", "冊", "40", "¥132"}, {"封筒 長形3号 100枚", "束", "10", "¥880"},
        {"A4コピー用紙 500枚", "箱", "5", "¥2,480"}, {"ファイルボックス A4", "個", "8", "¥528"}};
    std::vector<test::PlacedText> placed;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t k = 0; k < 4; ++k) {
            placed.push_back({rows[r][k], std::array{40.0, 480.0, 560.0, 720.0}[k], 40 + 52.0 * static_cast<double>(r), k >= 2});
        }
    }
    const std::string text =
        readText(test::renderPlaced({.width = 800, .height = 280, .pixelSize = 20, .family = "IPAMincho"}, placed));
    std::size_t previous = 0;
    for (const auto& row : rows) {
        const std::size_t at = text.find(row[3].substr(std::string("¥").size()), previous);
        ASSERT_NE(at, std::string::npos) << row[3] << " in " << text;
        previous = at;
    }
}

TEST(Figures, ArrowsAreReadAsArrows) {
    // The Japanese model reads an arrow as 一, ー, っ or 〜 by turns. A
    // wave dash, a long vowel mark and the letters of a command, which
    // have a head or a hook at one end at this size, stay no arrows.
    for (const char* face : {"Noto Sans CJK JP", "IPAGothic"}) {
        test::TextLayout l = smallPrint(face);
        l.width = 900;
        l.height = 200;
        l.pixelSize = 22;
        const std::string text = readText(test::renderLines(
            l, {"出荷ミス率 0.42% → 0.08%（10月比）", "前へは ← キー、次へは → キーを使います", "期間 4月〜6月 コーナー apt-get -t testing"}));
        for (const char* part : {"0.42%→0.08%", "前へは←キー", "次へは→キー", "-ttesting"}) {
            EXPECT_NE(text.find(part), std::string::npos) << face << ": " << part << " in " << text;
        }
        const auto count = [&](const std::string& arrow) {
            std::size_t n = 0;
            for (std::size_t at = text.find(arrow); at != std::string::npos; at = text.find(arrow, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count("→"), 2u) << face << ": " << text;
        EXPECT_EQ(count("←"), 1u) << face << ": " << text;
    }
}

TEST(Figures, PercentSignsTheJapaneseModelReadsAsDigitsAreReadAsSigns) {
    // At these sizes the sign comes out as 9, 6 or 96, or the English
    // model, reading the figure short, took the digits for the sign's
    // rings ("9%").
    for (const auto& [family, size] : {std::pair{"Noto Serif CJK JP", 18.0}, std::pair{"IPAexGothic", 16.0}}) {
        test::TextLayout l = smallPrint(family);
        l.width = 1100;
        l.height = static_cast<int>(size * 9);
        l.pixelSize = size;
        const std::string text = readText(test::renderLines(
            l, {"稼働率は平均 87.5%、前年比 101.7%", "（執行率 90.9%） 達成率 127.1% 増減 -0.8%", "割引 15% 税率 10% 粗利 33.3%"}));
        for (const char* figure : {"101.7%", "90.9%", "127.1%", "15%", "10%", "33.3%"}) {
            EXPECT_NE(text.find(figure), std::string::npos) << family << ": " << figure << " in " << text;
        }
    }
}
