#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/Unicode.hpp"
#include "support/Errors.hpp"
#include "webcapture/CaptureNaming.hpp"

using namespace velmora;
using test::caseOf;
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

TEST(ProductDefaults, DefaultsValidateAndRoundTripWithTwentyOneKeys) {
    ProductDefaults d;
    EXPECT_NO_THROW(d.validate());
    Json j = d;
    EXPECT_EQ(j.size(), 21u);
    EXPECT_EQ(j["ocrMode"], "standard");
    EXPECT_EQ(j["margin"], 12.0);
    EXPECT_EQ(JSON::decode<ProductDefaults>(JSON::parse(JSON::print(j))), d);
    Json missing = j;
    missing.erase("ocrAutoSave");
    EXPECT_THROW(JSON::decode<ProductDefaults>(missing), JSON::DecodeError);
    Json mistyped = j;
    mistyped["landscape"] = 0;
    EXPECT_THROW(JSON::decode<ProductDefaults>(mistyped), JSON::DecodeError);
    Json badMode = j;
    badMode["ocrMode"] = "Standard";
    EXPECT_THROW(JSON::decode<ProductDefaults>(badMode), JSON::DecodeError);
    // Decoding applies no allowed set.
    Json odd = j;
    odd["captureScale"] = 3;
    EXPECT_EQ(JSON::decode<ProductDefaults>(odd).captureScale, 3);
}

TEST(ProductDefaults, ValidateRefusesValuesOutsideTheirSets) {
    auto with = [](auto mutate) {
        ProductDefaults d;
        mutate(d);
        return caseOf([&] { d.validate(); });
    };
    EXPECT_EQ(with([](ProductDefaults& d) { d.waitSeconds = 2; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.captureScale = 3; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.margin = 10; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.margin = 12.5; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.paper = "a4"; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.printOutput = "PDF"; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.schemaVersion = 2; }), ErrorCase::invalidInput);
    EXPECT_EQ(with([](ProductDefaults& d) { d.naming = "site"; }), ErrorCase::invalidInput);
    ProductDefaults ok;
    ok.margin = 0;
    ok.waitSeconds = -1;
    ok.paper = "JIS B5";
    EXPECT_NO_THROW(ok.validate());
}

TEST(ProductDefaults, FoldersFollowTheSwitchesAndTheTokyoDay) {
    const std::filesystem::path base = "/out";
    ProductDefaults d;
    const Date lateJan31 = utc(2025, 1, 31, 23, 30);
    EXPECT_EQ(d.folder(base, "Screenshots", lateJan31), "/out/Screenshots");
    EXPECT_EQ(d.folder(base, "Print", lateJan31), "/out/Print");
    EXPECT_EQ(d.folder(base, "OCR", lateJan31), "/out/OCR");
    EXPECT_EQ(d.folder(base, "screenshots", lateJan31), "/out");
    d.datedFolders = true;
    EXPECT_EQ(d.folder(base, "Screenshots", lateJan31), "/out/2025-02-01/Screenshots");
    EXPECT_EQ(d.folder(base, "Screenshots", utc(2025, 1, 31, 0, 30)), "/out/2025-01-31/Screenshots");
    d.ocrFolder = false;
    EXPECT_EQ(d.folder(base, "OCR", lateJan31), "/out/2025-02-01");
    EXPECT_EQ(d.folder(base, "Other", lateJan31), "/out/2025-02-01");
}

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
