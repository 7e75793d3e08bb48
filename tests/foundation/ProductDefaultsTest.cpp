#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/BrindlexError.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/Unicode.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;
using namespace std::chrono;

namespace {

Date utc(int y, unsigned m, unsigned d, int h, int min, int s = 0) {
    return sys_days(year(y) / month(m) / day(d)) + hours(h) + minutes(min) + seconds(s);
}

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
