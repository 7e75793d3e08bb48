#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/ProductNaming.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"
#include "capture/CaptureNaming.hpp"

using namespace velmora;
using namespace std::chrono;

namespace {

Date utc(int y, unsigned m, unsigned d, int h, int min, int s = 0) {
    return sys_days(year(y) / month(m) / day(d)) + hours(h) + minutes(min) + seconds(s);
}

// Naming in the current zone is tested in a fixed zone.
class InUTC : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> saved_;
};

}  // namespace

TEST_F(InUTC, NamingPatterns) {
    const Date when = utc(2025, 1, 31, 0, 30);
    EXPECT_EQ(ProductNaming::stem(std::nullopt, "x", "date", when), "Velmora_20250131_093000");
    EXPECT_EQ(ProductNaming::stem(std::nullopt, "x", "unknown", when), "Velmora_20250131_093000");
    EXPECT_EQ(ProductNaming::stem(std::nullopt, "報告:書", "title-date", when), "報告_書_20250131_093000");
    EXPECT_EQ(ProductNaming::stem(std::nullopt, "", "title-date", when), "Velmora_20250131_093000");
    EXPECT_EQ(ProductNaming::stem(std::nullopt, " ... ", "title-date", when), "Velmora_20250131_093000");
    std::string longTitle;
    for (int i = 0; i < 100; ++i) longTitle += static_cast<char>('a' + i % 26);
    EXPECT_EQ(ProductNaming::stem(std::nullopt, longTitle, "title-date", when), longTitle.substr(0, 60) + "_20250131_093000");
    // Cleaning cuts first: 60 kanji are 180 bytes, cut within 160 where a
    // word ends; the dictionary reads "字字" as one word, so 52 characters.
    std::string kanji;
    for (int i = 0; i < 60; ++i) kanji += "字";
    EXPECT_EQ(ProductNaming::stem(std::nullopt, kanji, "title-date", when),
              std::string(Unicode::prefixGraphemes(kanji, 52)) + "_20250131_093000");
    // The site pattern is the web capture naming, in the current zone.
    EXPECT_EQ(ProductNaming::stem(std::string("https://example.com/a"), "Title", "site-title-date", when),
              "example.com_Title_20250131_003000");
    EXPECT_EQ(ProductNaming::stem(std::nullopt, "Title", "site-title-date", when),
              CaptureNaming::stem(std::nullopt, "Title", when));
}

TEST_F(InUTC, CaptureNamingStem) {
    const Date when = utc(2026, 5, 1, 9, 30);
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, "テストページ", when), "Velmora_テストページ_20260501_093000");
    EXPECT_EQ(CaptureNaming::stem(std::string("not a url"), "", when), "Velmora_ページ_20260501_093000");
    EXPECT_EQ(CaptureNaming::stem(std::string("https://a.example:8443/p?q"), "...", when),
              "a.example_Velmora_20260501_093000");
    // A 41-byte host loses its last label rather than a letter of it (the
    // dot before it goes too); a multi-byte character is never split.
    const std::string host41 = std::string(37, 'h') + ".com";
    ASSERT_EQ(host41.size(), 41u);
    EXPECT_EQ(CaptureNaming::stem("http://" + host41 + "/", "t", when),
              host41.substr(0, 37) + "_t_20260501_093000");
    std::string title;
    for (int i = 0; i < 27; ++i) title += "題";  // 81 bytes
    const std::string s = CaptureNaming::stem(std::string("http://h/"), title, when);
    EXPECT_EQ(s, "h_" + title.substr(0, 78) + "_20260501_093000");
}

// A title longer than its part of the name is cut where a word ends, never
// inside one: the part before the date stays readable.
TEST_F(InUTC, LongTitlesAreCutWhereAWordEnds) {
    const Date when = utc(2026, 12, 8, 21, 43, 59);
    // 82 bytes of title: the 80-byte cut would fall inside "ファイル".
    EXPECT_EQ(CaptureNaming::stem(std::string("http://127.0.0.1:18437/maint-guide-ja/dreq.ja.html"),
                                  "第4章 debian/ ディレクトリー以下に無くてはならないファイル", when),
              "127.0.0.1_第4章 debian_ ディレクトリー以下に無くてはならない_20261208_214359");
    // Words of Latin letters: the cut falls on the space, which goes too.
    EXPECT_EQ(CaptureNaming::stem(std::nullopt,
                                  "Configuration reference for the package manager and its workspace settings explained",
                                  when),
              "Velmora_Configuration reference for the package manager and its workspace settings_20261208_214359");
    // Japanese has no spaces: the cut falls between two words all the same.
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, "京都旅行ガイド 冬の庭園めぐり：嵐山・嵯峨野から東山まで、雪化粧の名園", when),
              "Velmora_京都旅行ガイド 冬の庭園めぐり：嵐山・嵯峨野から東山_20261208_214359");
    // Separators left at the end of the cut go with the word after them.
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, std::string(70, 'a') + " - " + std::string(20, 'b'), when),
              "Velmora_" + std::string(70, 'a') + "_20261208_214359");
    // A run of katakana is one word even where the dictionary does not
    // know it: "ベストプラクティス" is not cut after "ベスト".
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, "Debian開発者リファレンス 第6章 パッケージ化のベストプラクティス", when),
              "Velmora_Debian開発者リファレンス 第6章 パッケージ化の_20261208_214359");
    // One token without words: cut where digits give way to letters.
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, std::string(60, 'a') + "20261208" + std::string(30, 'b'), when),
              "Velmora_" + std::string(60, 'a') + "20261208_20261208_214359");
    // Nothing to hold on to in the second half: cut between characters, as
    // before.
    std::string title;
    for (int i = 0; i < 27; ++i) title += "題";
    EXPECT_EQ(CaptureNaming::stem(std::string("http://h/"), title, when), "h_" + title.substr(0, 78) + "_20261208_214359");
    EXPECT_EQ(CaptureNaming::stem(std::nullopt, std::string(100, 'x'), when),
              "Velmora_" + std::string(80, 'x') + "_20261208_214359");

    // The title-and-date pattern cuts at 60 characters, at a word as well.
    EXPECT_EQ(ProductNaming::stem(std::nullopt,
                                  "Debian New Maintainers Guide chapter four required files under the debian directory",
                                  "title-date", when),
              "Debian New Maintainers Guide chapter four required files_20261209_064359");
    // And any stem made safe for a file keeps whole words within its bytes.
    std::string longName;
    for (int i = 0; i < 20; ++i) longName += "ダウンロード ";
    const std::string safe = SecureDirectory::safeStem(longName);
    EXPECT_LE(safe.size(), 160u);
    EXPECT_EQ(safe.size() % std::string("ダウンロード ").size(), std::string("ダウンロード").size()) << safe;
}
