// Lines of Japanese with what typeset manuals put in them: Latin words in a
// typewriter face, brackets printed half-width or full-width, and list items
// marked with a bullet or a dash.
#include <gtest/gtest.h>

#include "recognition/OCREngine.hpp"
#include "recognition/OCRSettings.hpp"
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
