#include "support/EvaluationPages.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "foundation/Unicode.hpp"
#include "support/TextPages.hpp"

namespace velmora::test {

namespace {

const std::vector<std::string> japaneseProse{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。",
    "会議は午後3時から第2会議室で行います。資料は前日までに共有フォルダへ保存してください。出席者は営業部5名、開発部3名、管理部2名です。",
    "この書生というのは時々我々を捕えて煮て食うという話である。しかしその当時は何という考もなかったから別段恐しいとも思わなかった。",
    "新しい制度は来年四月から始まります。申請の手続きは窓口またはウェブサイトで受け付けます。詳しくは担当者までお問い合わせください。",
    "掌の上で少し落ちついて書生の顔を見たのがいわゆる人間というものの見始であろう。この時妙なものだと思った感じが今でも残っている。",
};

const std::vector<std::string> englishProse{
    "The decoder reads the stream in blocks of 4096 bytes and checks the length field of each record before it copies the payload. A record whose length exceeds the remaining input is rejected with an error, and the reader stops at the first such record.",
    "Each request carries a version number, a timeout in milliseconds and an optional list of headers. When the timeout is zero, the client waits until the server closes the connection. Headers are compared without regard to case.",
    "To build the library, run the configure script with the installation prefix, then compile with make and install the resulting files. The test suite needs Python 3.8 or later and takes about two minutes on a typical machine.",
    "The function returns a pointer to the first matching element, or a null pointer when no element matches. The caller owns the returned buffer and must release it with the matching free function.",
};

const std::vector<std::string> tableItems{
    "申込書の提出", "本人確認書類の写し", "住民票の写し", "印鑑登録証明書", "収入を証明する書類", "健康保険証の写し",
    "預金通帳の写し", "源泉徴収票", "納税証明書", "在職証明書", "契約書の原本", "委任状", "返信用封筒",
    "手数料の領収書", "振込の控え", "写真二枚", "その他必要な書類",
};

struct Dimensions {
    double dpi;
    double scale() const { return dpi / 150.0; }
    int a4Width() const { return static_cast<int>(std::lround(8.27 * dpi)); }
    // 10.5 point type.
    double body() const { return 10.5 / 72 * dpi; }
    double margin() const { return 20 / 25.4 * dpi; }
};

EvaluationPage make(const std::string& kind, int dpi, TextPage page) {
    EvaluationPage out;
    out.kind = kind;
    out.variant = "clean";
    out.dpi = dpi;
    out.name = kind + "-" + std::to_string(dpi);
    out.image = std::move(page.image);
    for (const DrawnLine& line : page.lines) out.lines.push_back(line.text);
    return out;
}

// English as printed in technical documents: a Latin serif face, with
// Japanese from the CJK face.
const char* const latinFamily = "DejaVu Serif,Noto Serif CJK JP";

EvaluationPage prose(const std::string& kind, int dpi, const std::vector<std::string>& paragraphs, int columns,
                     double heightInches, const std::string& family = "Noto Sans CJK JP") {
    const Dimensions d{static_cast<double>(dpi)};
    return make(kind, dpi,
                renderParagraphs({.width = d.a4Width(),
                                  .height = static_cast<int>(heightInches * dpi),
                                  .pixelSize = d.body(),
                                  .left = d.margin(),
                                  .top = d.margin(),
                                  .lineAdvance = 1.7,
                                  .columns = columns,
                                  .columnGap = 8 / 25.4 * dpi,
                                  .family = family,
                                  .wrapWords = family == latinFamily},
                             paragraphs));
}

// Rows of cells at fixed column positions; each row is one line of the
// truth, cells joined by a space.
EvaluationPage rows(const std::string& kind, int dpi, const std::vector<std::string>& heading,
                    const std::vector<std::vector<std::string>>& table, const std::vector<double>& columnsInches,
                    const std::vector<bool>& alignRight, double widthInches) {
    const Dimensions d{static_cast<double>(dpi)};
    const double pitch = d.body() * 1.8;
    std::vector<PlacedText> items;
    std::vector<std::string> lines;
    double y = d.margin();
    for (const std::string& h : heading) {
        items.push_back({h, d.margin(), y, false});
        lines.push_back(h);
        y += pitch * 1.3;
    }
    for (const auto& row : table) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (row[c].empty()) continue;
            items.push_back({row[c], d.margin() + columnsInches[c] * dpi, y, alignRight[c]});
            if (!line.empty()) line += ' ';
            line += row[c];
        }
        lines.push_back(line);
        y += pitch;
    }
    TextPage page = renderPlaced({.width = static_cast<int>(widthInches * dpi),
                                  .height = static_cast<int>(y + d.margin()),
                                  .pixelSize = d.body()},
                                 items);
    EvaluationPage out = make(kind, dpi, std::move(page));
    out.lines = lines;
    return out;
}

}  // namespace

EvaluationPage formPage(int dpi) {
    const std::vector<std::vector<std::string>> table{
        {"氏名", "山田太郎", "受付番号 1024"}, {"住所", "東京都港区芝公園4丁目", "区分 新規"},
        {"電話", "03-1234-5678", "担当 佐藤"},  {"生年月日", "1985年4月12日", "確認 済"},
        {"勤務先", "株式会社ベルモラ", "部署 開発部"}, {"連絡先", "info@example.jp", "備考 なし"},
        {"申込日", "2024年10月1日", "期限 10月31日"}, {"金額", "12,800円", "支払 振込"},
    };
    return rows("form", dpi, {"申込内容の確認"}, table, {0, 1.3, 4.3}, {false, false, false}, 8.27);
}

namespace {

EvaluationPage receiptPage(int dpi) {
    const std::vector<std::vector<std::string>> table{
        {"牛乳", "198円"},       {"食パン", "158円"},   {"卵 10個", "248円"},   {"りんご 3個", "398円"},
        {"コーヒー豆", "1,280円"}, {"トマト", "320円"},   {"洗剤", "428円"},      {"ティッシュ", "298円"},
        {"小計", "3,328円"},     {"消費税", "266円"},   {"合計", "3,594円"},
    };
    return rows("receipt", dpi, {"ベルモラ商店", "2024年10月1日 14:32"}, table, {0, 3.0}, {false, true}, 4.2);
}

}  // namespace

std::string EvaluationPage::truth() const {
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty()) out += '\n';
        out += line;
    }
    return out;
}

EvaluationPage twoLinePage(int dpi) {
    const Dimensions d{static_cast<double>(dpi)};
    EvaluationPage page = make("two-line", dpi,
                               renderLines({.width = d.a4Width(),
                                            .height = static_cast<int>(11.69 * dpi),
                                            .pixelSize = d.body(),
                                            .left = d.margin(),
                                            .top = d.margin(),
                                            .lineAdvance = 1.7},
                                           {"請求書の合計金額を確認してください。", "支払期限は来月末日までとします。"}));
    return page;
}

EvaluationPage lineEndPage() {
    EvaluationPage page = make("two-line", 0,
                               renderLines({.pixelSize = 32},
                                           {"資料を添付しましたので、ご確認ください。", "よろしくお願いいたします。"}));
    page.name = "two-line-end";
    return page;
}

std::vector<EvaluationPage> shortLines() {
    struct Case {
        const char* text;
        double size;
        double margin;  // in font sizes
    };
    const std::vector<Case> cases{
        {"青い空", 48, 1.1}, {"一枚目", 40, 1.0}, {"中", 36, 1.5},     {"東京", 28, 0.8},   {"確認", 64, 0.5},
        {"山", 24, 1.0},     {"日本語", 20, 1.2}, {"送信", 32, 0.6},    {"大阪市", 56, 1.4}, {"はい", 44, 0.7},
        {"カナ", 30, 1.0},   {"三月", 52, 0.9},   {"本", 60, 0.6},      {"第一章", 26, 1.5}, {"合計金額", 34, 0.8},
    };
    std::vector<EvaluationPage> out;
    int index = 0;
    for (const Case& c : cases) {
        const auto length = static_cast<double>(Unicode::scalars(c.text).size());
        const int width = static_cast<int>(std::lround(length * c.size + 2 * c.margin * c.size));
        const int height = static_cast<int>(std::lround(c.size * 1.4 + 2 * c.margin * c.size));
        EvaluationPage page = make("short", 0,
                                   renderLines({.width = width,
                                                .height = height,
                                                .pixelSize = c.size,
                                                .left = c.margin * c.size,
                                                .top = c.margin * c.size},
                                               {c.text}));
        page.name = "short-" + std::to_string(++index);
        out.push_back(std::move(page));
    }
    return out;
}

EvaluationPage tablePage(int dpi) {
    std::vector<std::vector<std::string>> table;
    for (std::size_t i = 0; i < tableItems.size(); ++i) table.push_back({std::to_string(i + 1), tableItems[i]});
    return rows("table", dpi, {"提出書類のお知らせ", "次の書類を窓口までお持ちください。"}, table, {0.5, 1.6},
                {true, false}, 8.27);
}

EvaluationPage twoColumnPage(int dpi) { return prose("two-column", dpi, japaneseProse, 2, 5.0); }

EvaluationPage englishPage(int dpi) { return prose("english", dpi, englishProse, 1, 6.0, latinFamily); }

EvaluationPage mixedPage(int dpi) {
    return prose("mixed", dpi, {japaneseProse[0], englishProse[0], japaneseProse[3], englishProse[1]}, 1, 6.5,
                 latinFamily);
}

std::vector<EvaluationPage> evaluationSet(const EvaluationFilter& filter) {
    auto wanted = [](const auto& list, const auto& value) {
        return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
    };
    std::vector<EvaluationPage> clean;
    for (int dpi : {150, 200, 300}) {
        if (!wanted(filter.dpis, dpi)) continue;
        std::vector<std::pair<std::string, std::function<EvaluationPage()>>> makers{
            {"prose", [dpi] { return prose("prose", dpi, japaneseProse, 1, 5.0); }},
            {"two-column", [dpi] { return twoColumnPage(dpi); }},
            {"english", [dpi] { return englishPage(dpi); }},
            {"mixed", [dpi] { return mixedPage(dpi); }},
            {"table", [dpi] { return tablePage(dpi); }},
            {"form", [dpi] { return formPage(dpi); }},
            {"receipt", [dpi] { return receiptPage(dpi); }},
        };
        for (auto& [kind, maker] : makers) {
            if (wanted(filter.kinds, kind)) clean.push_back(maker());
        }
        if (dpi == 200 && wanted(filter.kinds, std::string("two-line"))) clean.push_back(twoLinePage(200));
    }
    if (wanted(filter.kinds, std::string("two-line"))) clean.push_back(lineEndPage());
    if (wanted(filter.kinds, std::string("short"))) {
        for (EvaluationPage& p : shortLines()) clean.push_back(std::move(p));
    }
    std::vector<EvaluationPage> out;
    for (EvaluationPage& page : clean) {
        if (wanted(filter.variants, std::string("blur"))) {
            EvaluationPage soft = page;
            // About a third of a stroke at 150 dpi.
            soft.image = blurred(page.image, std::max(1, page.dpi / 150));
            soft.variant = "blur";
            soft.name += "-blur";
            out.push_back(std::move(soft));
        }
        if (wanted(filter.variants, std::string("rotated"))) {
            EvaluationPage askew = page;
            askew.image = rotated(page.image, 0.7);
            askew.variant = "rotated";
            askew.name += "-rotated";
            out.push_back(std::move(askew));
        }
        if (wanted(filter.variants, std::string("clean"))) out.push_back(std::move(page));
    }
    return out;
}

std::string withoutWhiteSpace(const std::string& text) {
    std::string out;
    for (char32_t c : Unicode::scalars(text)) {
        if (c == ' ' || c == '\n' || c == '\t' || c == 0x3000) continue;
        Unicode::appendScalar(out, c);
    }
    return out;
}

double orderFreeErrorRate(const std::string& expected, const std::string& actual) {
    std::map<char32_t, long> counts;
    long total = 0;
    for (char32_t c : Unicode::scalars(withoutWhiteSpace(expected))) {
        counts[c] += 1;
        total += 1;
    }
    long added = 0;
    for (char32_t c : Unicode::scalars(withoutWhiteSpace(actual))) {
        auto it = counts.find(c);
        if (it != counts.end() && it->second > 0) {
            it->second -= 1;
        } else {
            added += 1;
        }
    }
    long missing = 0;
    for (const auto& [c, n] : counts) missing += n;
    if (total == 0) return added == 0 ? 0.0 : 1.0;
    // A wrong character is one missing and one added: counted once, as the
    // edit distance counts a substitution.
    return static_cast<double>(std::max(missing, added)) / static_cast<double>(total);
}

namespace {

bool isKanaOrHan(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
}

}  // namespace

std::string japanesePart(const std::string& text) {
    std::string out;
    for (char32_t c : Unicode::scalars(text)) {
        if (isKanaOrHan(c)) Unicode::appendScalar(out, c);
    }
    return out;
}

std::string latinPart(const std::string& text) {
    std::string out;
    for (char32_t c : Unicode::scalars(text)) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += static_cast<char>(c);
    }
    return out;
}

}  // namespace velmora::test
