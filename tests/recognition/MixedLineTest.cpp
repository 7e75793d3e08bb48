// Lines of Japanese with what typeset manuals put in them: Latin words in a
// typewriter face, brackets printed half-width or full-width, and list items
// marked with a bullet or a dash.
#include <gtest/gtest.h>

#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/EvaluationPages.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

std::string readText(const test::TextPage& page) {
    const PageResult result = OCREngine::recognize(page.image, 1, 1, OCRSettings{}, [] { return false; });
    std::string out;
    for (const TextRegion& r : result.regions) out += (out.empty() ? "" : "\n") + r.text;
    return out;
}

test::TextLayout layout(const std::string& family) {
    test::TextLayout l;
    l.width = 1400;
    l.height = 420;
    l.pixelSize = 34;
    l.family = family;
    return l;
}

}  // namespace

TEST(MixedLines, LatinWordsInATypewriterFaceKeepTheirLetters) {
    // The Japanese model reads this face's l as 1 or t.
    const std::vector<std::string> lines{"設定は /usr/local/lib にあります。",
                                         "変更点は debian/changelog と unstable に書きます。"};
    const std::string text = readText(test::renderLines(layout("DejaVu Sans Mono, Noto Sans CJK JP"), lines));
    EXPECT_NE(text.find("/usr/local/lib"), std::string::npos) << text;
    EXPECT_NE(text.find("changelog"), std::string::npos) << text;
    EXPECT_NE(text.find("unstable"), std::string::npos) << text;
}

TEST(MixedLines, TailedSmallLsOfATypewriterFaceStaySmall) {
    // This face's l has a tail at its foot, which the models take for an
    // L; the capital keeps its long foot.
    const std::string text = test::withoutWhiteSpace(readText(test::renderLines(
        layout("IPAGothic"), {"例えば /usr/lib/x86_64-linux-gnu/libfoo.so です。", "Linux では libfoo-dev を入れる。"})));
    EXPECT_NE(text.find("/usr/lib/x86_64-linux-gnu/libfoo.so"), std::string::npos) << text;
    EXPECT_NE(text.find("Linuxではlibfoo-dev"), std::string::npos) << text;
}

TEST(MixedLines, TypewriterRunsKeepTheirMarks) {
    // In this face the Japanese model drops the "@" after a backslash; a
    // run takes in the marks of code at its ends and beside them, and keeps
    // its "l" and "_".
    const std::string text = test::withoutWhiteSpace(readText(test::renderLines(
        layout("Noto Sans Mono CJK JP"),
        {"ここで \\@setfontsize と file_name を使う。", "次に \\ltjsetparameter と intrude_jfmgk を設定する。"})));
    EXPECT_NE(text.find("\\@setfontsize"), std::string::npos) << text;
    EXPECT_NE(text.find("file_name"), std::string::npos) << text;
    EXPECT_NE(text.find("\\ltjsetparameter"), std::string::npos) << text;
    EXPECT_NE(text.find("intrude_jfmgk"), std::string::npos) << text;
}

TEST(MixedLines, BracketsKeepTheWidthTheyArePrintedIn) {
    // Half-width brackets of a Latin face around Japanese, and the
    // full-width ones of the Japanese face.
    const std::string half = readText(
        test::renderLines(layout("DejaVu Serif, Noto Sans CJK JP"), {"必要です(同じ名前のパッケージなど)。"}));
    EXPECT_NE(half.find("(同じ"), std::string::npos) << half;
    EXPECT_NE(half.find("など)"), std::string::npos) << half;
    EXPECT_EQ(half.find("（"), std::string::npos) << half;
    const std::string full =
        readText(test::renderLines(layout("Noto Sans CJK JP"), {"必要です（同じ名前のパッケージなど）。"}));
    EXPECT_NE(full.find("（同じ"), std::string::npos) << full;
    EXPECT_NE(full.find("など）"), std::string::npos) << full;
}

TEST(MixedLines, BracketsOfALatinLineStayHalfWidth) {
    // A face with half-width Latin cells puts half a character of blank
    // beside a bracket after a word space, as a full-width bracket has.
    const std::string text = readText(test::renderLines(
        layout("IPAMincho"), {"コードネームは次のとおりです。", "bo (Debian 1.3) was Bo Peep, hamm (Debian 2.0) was"}));
    EXPECT_NE(text.find("(Debian 1.3)"), std::string::npos) << text;
    EXPECT_NE(text.find("(Debian 2.0)"), std::string::npos) << text;
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}

TEST(MixedLines, BracketsAfterASpaceInAFixedPitchFaceStayHalfWidth) {
    // In a face whose Latin cells are all half a character wide, a word
    // space and a half-width bracket leave the blank of a full-width one:
    // an aside in Latin is half-width, and so is one after a Latin word on
    // a page that shows its brackets half-width where no space stands.
    const std::string text = readText(test::renderLines(
        layout("IPAMincho"), {"新しい版は「テスト版 (testing)」に入ります。", "Breaks (破壊)と Provides (提供)を書く。",
                              "名前(同じもの)と版(新しいもの)を比べる。"}));
    EXPECT_NE(text.find("(testing)"), std::string::npos) << text;
    EXPECT_NE(text.find("(破壊)"), std::string::npos) << text;
    EXPECT_NE(text.find("(提供)"), std::string::npos) << text;
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}

TEST(MixedLines, DashesSetApartOrAmongLatinAreNoKanjiOne) {
    // The models read an em dash as the kanji 一, which stays where it
    // stands among Japanese.
    const std::string text = test::withoutWhiteSpace(readText(test::renderLines(
        layout("IPAMincho"), {"バイナリーパッケージ — バイナリーを一つだけ作る。", "キーは F3—F6 の中から選ぶ。"})));
    EXPECT_NE(text.find("パッケージ—バイナリー"), std::string::npos) << text;
    EXPECT_NE(text.find("F3—F6"), std::string::npos) << text;
    EXPECT_NE(text.find("を一つ"), std::string::npos) << text;
}

TEST(MixedLines, FullStopsOfFileNamesStayFullStops) {
    // The models read the dot of a file name in this face as a comma.
    const std::string text = test::withoutWhiteSpace(readText(test::renderLines(
        layout("IPAGothic"), {"ファイル mypackage_version.tar.gz と", "mypackage-1.0.dsc を作ります。"})));
    EXPECT_NE(text.find("version.tar.gz"), std::string::npos) << text;
    EXPECT_NE(text.find("1.0.dsc"), std::string::npos) << text;
}

TEST(MixedLines, ListItemsKeepTheirBulletsAndDashes) {
    const std::vector<std::string> lines{"• パッケージを削除して再インストールする。", "– 古い版から新しい版へ更新する。",
                                         "• ソースを別のディレクトリで再構築する。"};
    const std::string text = readText(test::renderLines(layout("DejaVu Serif, Noto Sans CJK JP"), lines));
    int bullets = 0, dashes = 0;
    for (std::size_t at = text.find("•"); at != std::string::npos; at = text.find("•", at + 1)) bullets += 1;
    for (std::size_t at = text.find("–"); at != std::string::npos; at = text.find("–", at + 1)) dashes += 1;
    EXPECT_EQ(bullets, 2) << text;
    EXPECT_EQ(dashes, 1) << text;
    EXPECT_EQ(text.find("ー古"), std::string::npos) << text;
}

TEST(MixedLines, BulletsSetWellBeforeTheirItemsAreKept) {
    // A browser sets a list's bullets further than a character before the
    // items, where the layout leaves them out of the lines.
    test::TextLayout l = layout("IPAMincho");
    std::vector<test::PlacedText> items;
    const std::vector<std::string> lines{"debian/control を更新します。", "debian/compat を設定します。",
                                         "パッケージをビルドします。"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        items.push_back({"•", 60, 60 + 70.0 * static_cast<double>(i)});
        items.push_back({lines[i], 60 + 34 * 1.6, 60 + 70.0 * static_cast<double>(i)});
    }
    const std::string text = readText(test::renderPlaced(l, items));
    int bullets = 0;
    for (std::size_t at = text.find("•"); at != std::string::npos; at = text.find("•", at + 1)) bullets += 1;
    EXPECT_EQ(bullets, 3) << text;
}

TEST(MixedLines, NestedItemsKeepTheirWhiteBullets) {
    // The models read the ring as "s", "o" or "°", or leave it out.
    const std::vector<std::string> lines{"• パッケージを削除する。", "◦ 古い版を消してから入れ直す。",
                                         "◦ ソースを別の場所で再構築する。"};
    const std::string text = test::withoutWhiteSpace(readText(test::renderLines(layout("IPAMincho"), lines)));
    EXPECT_NE(text.find("◦古い版"), std::string::npos) << text;
    EXPECT_NE(text.find("◦ソース"), std::string::npos) << text;
    EXPECT_NE(text.find("•パッケージ"), std::string::npos) << text;
}

TEST(MixedLines, ASlidesLargerBulletsAreKept) {
    // A presentation's bullets are discs over half as tall as the items'
    // characters; smaller, as on a page, they were the only ones kept.
    for (const char* size : {"50%", "58%"}) {
        test::TextLayout l = layout("Noto Sans CJK JP");
        l.markup = true;
        std::vector<std::string> lines;
        for (const char* item : {"搬送ロボットを12台導入する", "出荷ミス率を半分に下げる", "現場説明会を6回開く"}) {
            lines.push_back(std::string("<span size=\"") + size + "\">●</span>   " + item);
        }
        const std::string text = test::withoutWhiteSpace(readText(test::renderLines(l, lines)));
        for (const char* item : {"•搬送", "•出荷", "•現場"}) EXPECT_NE(text.find(item), std::string::npos) << size << ": " << text;
    }
}

namespace {

std::string squeezed(const std::string& text) { return test::withoutWhiteSpace(text); }

test::TextLayout markupLayout(const std::string& family) {
    test::TextLayout l = layout(family);
    l.markup = true;
    return l;
}

}  // namespace

TEST(MixedLines, MarksKeepTheWidthTheyArePrintedInCompressedOrNot) {
    // A full-width bracket closing before a full stop, and one opening after
    // a comma, are set in half their cell, as Japanese typesetting
    // compresses two marks that meet; the colon after Latin letters is the
    // full-width one the page prints.
    const std::string halt = "<span font_features='halt'>";
    const std::string full = squeezed(readText(test::renderLines(
        markupLayout("Noto Sans CJK JP"),
        {"項目を指定する（既定値は真" + halt + "）</span>。次の項目" + halt + "、</span>（名前）を見る。",
         "force：本パッケージの設定を有効にする。"})));
    EXPECT_NE(full.find("（既定値は真）。"), std::string::npos) << full;
    EXPECT_NE(full.find("、（名前）を"), std::string::npos) << full;
    EXPECT_NE(full.find("force："), std::string::npos) << full;
    // Half-width brackets set after a Japanese character with the space a
    // typesetter puts between Japanese and Latin, stretched on a justified
    // line to nearly half a character.
    const std::string half = squeezed(readText(test::renderLines(
        markupLayout("DejaVu Serif, Noto Sans CJK JP"),
        {"項目を指定する (既定値は真) "
         "で、次の項目 (名前) を見る。"})));
    EXPECT_NE(half.find("(既定値は真)"), std::string::npos) << half;
    EXPECT_NE(half.find("(名前)"), std::string::npos) << half;
    EXPECT_EQ(half.find("（"), std::string::npos) << half;
}

TEST(MixedLines, FullWidthCommasAndFullStopsBetweenJapaneseCharacters) {
    // Pages that use "，" and "．" for comma and full stop; the models read
    // them as "," and ".". Numbers keep theirs.
    const std::string text = squeezed(readText(test::renderLines(
        layout("Noto Sans CJK JP"),
        {"これは，元々奥村先生により作成され，現在は，日本語の組版で管理されている．", "既定値は0.924715，約12件，最大で30件である．"})));
    EXPECT_NE(text.find("これは，元々"), std::string::npos) << text;
    EXPECT_NE(text.find("作成され，現在"), std::string::npos) << text;
    EXPECT_NE(text.find("いる．"), std::string::npos) << text;
    EXPECT_NE(text.find("0.924715，約12件，最大"), std::string::npos) << text;
}

TEST(MixedLines, AngleBracketsOfPlaceholdersAreNoParentheses) {
    // A placeholder as manuals of TeX set it: an italic word between the
    // angle brackets of a mathematical face.
    const std::string angle = "<span font_family='DejaVu Math TeX Gyre'>";
    const std::string text = squeezed(readText(test::renderLines(
        markupLayout("DejaVu Serif, Noto Serif CJK JP"),
        {"既定値は " + angle + "⟨</span><i>option</i>" + angle + "⟩</span> で指定し、(real) は実数を表す。漢字の書体を設定する。"})));
    EXPECT_NE(text.find("⟨option⟩"), std::string::npos) << text;
    EXPECT_NE(text.find("(real)"), std::string::npos) << text;
}

TEST(MixedLines, RoundBracketsOfAMinchoFaceAreNoAngles) {
    // This face's parentheses bend little near their middles, more like an
    // angle bracket's two strokes than the parentheses of other faces.
    test::TextLayout l = layout("IPAPMincho");
    l.pixelSize = 40;
    const std::string text = readText(
        test::renderLines(l, {"セクション (Section) と優先度 (Priority) を決める。", "アーカイブは main (完全にフリーなソフトウェア) です。"}));
    EXPECT_EQ(text.find("⟨"), std::string::npos) << text;
    EXPECT_EQ(text.find("⟩"), std::string::npos) << text;
}

TEST(MixedLines, TheFrameOfABoxedListingIsNoText) {
    // A listing in a box, as manuals print command output; its own "|"
    // stand between the fields.
    test::TextLayout l = layout("DejaVu Sans Mono, Noto Sans CJK JP");
    l.pixelSize = 28;
    l.left = 70;
    l.top = 50;
    l.lineAdvance = 1.4;
    const double top = 40, bottom = 50 + 3 * 28 * 1.4 + 5;
    l.rules = {{50, top, 2, bottom - top}, {1250, top, 2, bottom - top}, {50, top, 1202, 2}, {50, bottom, 1202, 2}};
    const std::string text = squeezed(readText(test::renderLines(
        l, {"evince     | 3.22.1-3+deb9u2 | oldstable", "evince     | 3.30.2-3+deb10u1 | stable",
            "evince     | 40.4-1 | experimental"})));
    int bars = 0;
    for (std::size_t at = text.find('|'); at != std::string::npos; at = text.find('|', at + 1)) bars += 1;
    EXPECT_EQ(bars, 6) << text;
    EXPECT_EQ(text.rfind("evince", 0), 0u) << text;
}

TEST(MixedLines, QuotesKeepTheShapeTheyArePrintedIn) {
    // Curly quotes around typewriter text, as manuals print commands; and
    // the straight quotes of a typewriter face, which are no curly ones.
    const std::string tt = "<span font_family='DejaVu Sans Mono'>";
    const std::string text = squeezed(readText(test::renderLines(
        markupLayout("DejaVu Sans, Noto Sans CJK JP"),
        {"コマンドは “" + tt + "aptitude safe-upgrade</span>” のように書きます。",
         "設定には " + tt + "PS1=\"user\"</span> と書き、”" + tt + "deb-src</span>” を使います。"})));
    EXPECT_NE(text.find("“aptitudesafe-upgrade”"), std::string::npos) << text;
    EXPECT_NE(text.find("PS1=\"user\""), std::string::npos) << text;
    EXPECT_NE(text.find("”deb-src”"), std::string::npos) << text;
}

TEST(MixedLines, SpacedBracketsOfTermsInAFixedPitchFaceStayHalfWidth) {
    // Terms of a list, each alone on its line: the space before the bracket
    // and its partner at the line's end leave the ink telling nothing, and
    // the page shows no bracket whose ink tells.
    const std::string text = readText(test::renderLines(
        layout("Ume Mincho"), {"• Breaks (破壊)", "一緒だと壊れるパッケージを指定します。", "• Provides (提供)",
                               "仮想パッケージの名前を指定します。", "• Replaces (置換)"}));
    EXPECT_NE(text.find("(破壊)"), std::string::npos) << text;
    EXPECT_NE(text.find("(提供)"), std::string::npos) << text;
    EXPECT_NE(text.find("(置換)"), std::string::npos) << text;
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}

TEST(MixedLines, SpacedBracketsClosingOnLatinStayHalfWidth) {
    // A bracket after a Latin word and a space, in a face with half-width
    // Latin cells, looks like a full-width one on its outer side.
    const std::string text = readText(test::renderLines(
        layout("Ume Mincho"), {"現在の stable は bullseye (つまり Debian GNU/Linux 11) への",
                               "シンボリックリンクで、testing は bookworm へのリンクです。"}));
    EXPECT_NE(text.find("11)"), std::string::npos) << text;
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}

TEST(MixedLines, BracketsBesideLatinAreMeasuredInTheJapaneseCharacters) {
    // Latin words repeat their ink at a half character, which is no
    // character's size: measured by it, a half-width bracket's blank would
    // be a full-width one's.
    const std::string text = readText(test::renderLines(
        layout("Noto Serif CJK JP"), {"multi binary package (複数バイナリーパッケージ)、l は",
                                      "kernel module package (カーネルモジュールパッケージ)、n は",
                                      "architecture independent package (非依存パッケージ)"}));
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}

TEST(MixedLines, SpacedBracketsInASmallFixedPitchFaceStayHalfWidth) {
    // At a small size the models' letter boxes stray by a pixel or two, as
    // far as a proportional face's steps differ: the steps beside narrow
    // letters show the face sets its Latin at one step.
    test::TextLayout l = layout("Ume Mincho");
    l.pixelSize = 24;
    const std::string text = readText(test::renderLines(
        l, {"• Recommends (推奨)", "厳密には必須ではないけれど通常一緒に使われます。", "• Pre-Depends (事前依存)",
            "現在の安定版 (stable) は bullseye です。", "• Suggests (提案)", "テスト版 (testing) と不安定版 (unstable) です。"}));
    EXPECT_EQ(text.find("（"), std::string::npos) << text;
}
