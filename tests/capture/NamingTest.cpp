#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/ProductNaming.hpp"
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
    // Cleaning cuts first: 60 kanji are 180 bytes, cut to 53 characters.
    std::string kanji;
    for (int i = 0; i < 60; ++i) kanji += "字";
    EXPECT_EQ(ProductNaming::stem(std::nullopt, kanji, "title-date", when),
              std::string(Unicode::prefixGraphemes(kanji, 53)) + "_20250131_093000");
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
    // A 41-byte host loses its last character; a multi-byte character is
    // never split.
    const std::string host41 = std::string(37, 'h') + ".com";
    ASSERT_EQ(host41.size(), 41u);
    EXPECT_EQ(CaptureNaming::stem("http://" + host41 + "/", "t", when),
              host41.substr(0, 40) + "_t_20260501_093000");
    std::string title;
    for (int i = 0; i < 27; ++i) title += "題";  // 81 bytes
    const std::string s = CaptureNaming::stem(std::string("http://h/"), title, when);
    EXPECT_EQ(s, "h_" + title.substr(0, 78) + "_20260501_093000");
}
