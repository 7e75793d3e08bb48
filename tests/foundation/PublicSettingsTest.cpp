#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/PublicSettings.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;

namespace {

std::vector<uint8_t> bytes(const Json& j) { return JSON::bytes(j); }

Json withWords(std::vector<std::string> words) {
    PublicSettings s;
    s.dictionary = std::move(words);
    return Json(s);
}

std::string repeated(const std::string& unit, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}

}  // namespace

TEST(PublicSettings, TheDefaultsAreAllowedAndComeBackEqual) {
    const PublicSettings defaults;
    EXPECT_EQ(defaults.dictionary, Phase0::dictionary());
    EXPECT_EQ(PublicSettings::importAllowed(JSON::encode(defaults)), defaults);
    // Returned as given: duplicates and spaces stay.
    const Json odd = withWords({" 赤字 ", " 赤字 ", ""});
    EXPECT_EQ(PublicSettings::importAllowed(bytes(odd)).dictionary,
              (std::vector<std::string>{" 赤字 ", " 赤字 ", ""}));
}

TEST(PublicSettings, TheDictionaryIsBoundedInWordsAndBytes) {
    EXPECT_NO_THROW(PublicSettings::importAllowed(bytes(withWords({}))));
    EXPECT_NO_THROW(PublicSettings::importAllowed(bytes(withWords(std::vector<std::string>(1000, "語")))));
    EXPECT_EQ(caseOf([] { PublicSettings::importAllowed(bytes(withWords(std::vector<std::string>(1001, "語")))); }),
              ErrorCase::invalidInput);
    // 85 kana are 255 bytes, 86 are 258; ASCII counts byte for byte.
    EXPECT_NO_THROW(PublicSettings::importAllowed(bytes(withWords({repeated("あ", 85)}))));
    EXPECT_EQ(caseOf([] { PublicSettings::importAllowed(bytes(withWords({repeated("あ", 86)}))); }),
              ErrorCase::invalidInput);
    EXPECT_NO_THROW(PublicSettings::importAllowed(bytes(withWords({"x", repeated("a", 256)}))));
    EXPECT_EQ(caseOf([] { PublicSettings::importAllowed(bytes(withWords({"x", repeated("a", 257)}))); }),
              ErrorCase::invalidInput);
}

TEST(PublicSettings, ValuesOutsideTheirSetsAreInvalidButShapeErrorsAreTheDecoders) {
    using Bad = std::pair<const char*, int>;
    for (auto [key, value] : {Bad{"mobileWidth", 400}, Bad{"logRetentionDays", 60}, Bad{"schemaVersion", 2}}) {
        Json j = Json(PublicSettings{});
        j[key] = value;
        EXPECT_EQ(caseOf([&] { PublicSettings::importAllowed(bytes(j)); }), ErrorCase::invalidInput) << key;
    }
    Json missing = Json(PublicSettings{});
    missing.erase("dictionary");
    EXPECT_THROW(PublicSettings::importAllowed(bytes(missing)), JSON::DecodeError);
    Json wrongType = Json(PublicSettings{});
    wrongType["mobileWidth"] = "430";
    EXPECT_THROW(PublicSettings::importAllowed(bytes(wrongType)), JSON::DecodeError);
    Json huge = Json(PublicSettings{});
    huge["mobileWidth"] = 1e300;
    EXPECT_THROW(PublicSettings::importAllowed(bytes(huge)), JSON::DecodeError);
    EXPECT_THROW(PublicSettings::importAllowed({'['}), JSON::DecodeError);
}
