#include <gtest/gtest.h>

#include "foundation/JSON.hpp"
#include "recognition/page/OCRTypes.hpp"

using namespace velmora;

namespace {

std::vector<std::string> keysOf(const Json& j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}

PageResult standardPage() {
    return PageResult(3,
                      {TextRegion("第一行", 0.95f, 0.1, 0.8, 0.5, 0.05),
                       TextRegion("second line", 0.5f, 0.1, 0.7, 0.4, 0.05)},
                      1.25, 1275, 1650);
}

}  // namespace

TEST(OCRMode, RawValuesAreExactAndListedInOrder) {
    std::vector<std::string> raw;
    for (OCRMode m : allOCRModes) raw.push_back(std::string(rawValue(m)));
    EXPECT_EQ(raw, (std::vector<std::string>{"standard", "vertical", "handwriting", "automatic"}));
    EXPECT_EQ(settingsLabel(OCRMode::handwriting), "手書き・校正指示");
    EXPECT_EQ(fromRaw<OCRMode>("automatic"), OCRMode::automatic);
    EXPECT_FALSE(fromRaw<OCRMode>("Standard"));
    EXPECT_THROW(JSON::decode<OCRMode>(Json("Standard")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<OCRMode>(Json(0)), JSON::DecodeError);
}

TEST(TextRegion, LowConfidenceBelowEightTenths) {
    TextRegion r("x", 0.79f, 0, 0, 1, 1);
    EXPECT_TRUE(r.lowConfidence());
    r.confidence = 0.8f;
    EXPECT_FALSE(r.lowConfidence());
    // The stored form keeps the boundary exact.
    const auto back = JSON::decode<TextRegion>(JSON::parse(JSON::print(Json(r))));
    EXPECT_EQ(back.confidence, 0.8f);
    EXPECT_FALSE(back.lowConfidence());
}

TEST(TextRegion, DisplayBoxesFallBackToTheOwnBoxOnlyWhenAbsent) {
    TextRegion r("x", 1, 0.1, 0.2, 0.3, 0.4);
    EXPECT_EQ(r.displayBoxes(), (std::vector<OCRSourceBox>{{0.1, 0.2, 0.3, 0.4}}));
    r.sourceBoxes = std::vector<OCRSourceBox>{};
    EXPECT_TRUE(r.displayBoxes().empty());
    r.sourceBoxes = std::vector<OCRSourceBox>{{0, 0, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}};
    EXPECT_EQ(r.displayBoxes(), *r.sourceBoxes);
    // An empty list is stored as an empty list, not dropped.
    r.sourceBoxes = std::vector<OCRSourceBox>{};
    const auto back = JSON::decode<TextRegion>(Json(r));
    ASSERT_TRUE(back.sourceBoxes);
    EXPECT_TRUE(back.displayBoxes().empty());
}

TEST(PageResult, StandardPageWritesExactlyTheRequiredKeys) {
    const PageResult p = standardPage();
    const Json j = p;
    EXPECT_EQ(keysOf(j),
              (std::vector<std::string>{"elapsedSeconds", "page", "pixelHeight", "pixelWidth", "regions", "route"}));
    EXPECT_EQ(j["route"], "Vision.VNRecognizeTextRequest.accurate.r3");
    EXPECT_EQ(keysOf(j["regions"][0]),
              (std::vector<std::string>{"confidence", "height", "kind", "text", "width", "x", "y"}));
    EXPECT_EQ(j["regions"][0]["kind"], "unknown");
    const auto back = JSON::decode<PageResult>(JSON::parse(JSON::print(j)));
    EXPECT_EQ(back, p);
    EXPECT_EQ(back.text(), "第一行\nsecond line");
    EXPECT_EQ(back.regions[1].confidence, 0.5f);
}

TEST(PageResult, EmptyPageHasEmptyTextAndRegionsArray) {
    PageResult p;
    EXPECT_EQ(p.text(), "");
    EXPECT_EQ(Json(p)["regions"], Json::array());
    p.regions = {TextRegion("", 1, 0, 0, 1, 1), TextRegion("b", 1, 0, 0, 1, 1)};
    EXPECT_EQ(p.text(), "\nb");
}

TEST(PageResult, EveryOptionalFieldRoundTripsByteForByte) {
    PageResult p = standardPage();
    p.route = std::string(OCRRoute::automatic);
    p.sourceOrientation = 6;
    p.sourcePixelWidth = 4032;
    p.sourcePixelHeight = 3024;
    p.processingScale = 0.5;
    p.autoPresentation = AutoPresentation{AutoResolved::mixed, "uncertain"};
    TextRegion& r = p.regions[0];
    r.kind = RegionKind::handwrittenCandidate;
    r.sourceBoxes = std::vector<OCRSourceBox>{{0.1, 0.1, 0.01, 0.02}};
    r.verticalCandidates = std::vector<VerticalResearch::Candidate>{{0, "縦", 0.3f, {{0.1, 0.1, 0.01, 0.02}}, 0}};
    AnnotationEvidence e;
    e.reasons = {"tilt"};
    e.angleUncertainty = 1.5;
    r.annotationEvidence = e;
    r.proofreadingInstruction = false;

    const std::string text = JSON::print(Json(p));
    const auto back = JSON::decode<PageResult>(JSON::parse(text));
    EXPECT_EQ(back, p);
    EXPECT_EQ(JSON::print(Json(back)), text);
    EXPECT_EQ(keysOf(Json(p)).size(), 11u);
}

TEST(PageResult, DecodingRefusesMissingRequiredKeysAndIgnoresExtras) {
    const Json good = standardPage();
    for (const char* key : {"route", "page", "regions", "elapsedSeconds", "pixelWidth", "pixelHeight"}) {
        Json missing = good;
        missing.erase(key);
        EXPECT_THROW(JSON::decode<PageResult>(missing), JSON::DecodeError) << key;
    }
    Json extra = good;
    extra["futureField"] = Json::object({{"a", 1}});
    extra["sourceOrientation"] = nullptr;
    const auto back = JSON::decode<PageResult>(extra);
    EXPECT_EQ(back, standardPage());
    EXPECT_FALSE(back.sourceOrientation);

    auto refuses = [&](const char* key, Json value) {
        Json bad = good;
        bad[key] = std::move(value);
        EXPECT_THROW(JSON::decode<PageResult>(bad), JSON::DecodeError) << key;
    };
    refuses("page", "3");
    refuses("route", nullptr);
    refuses("sourceOrientation", -1);
    refuses("sourceOrientation", 4294967296ull);
    refuses("autoPresentation", Json::object({{"resolved", "mixed"}}));

    Json badKind = good;
    badKind["regions"][0]["kind"] = "Unknown";
    EXPECT_THROW(JSON::decode<PageResult>(badKind), JSON::DecodeError);
    Json noText = good;
    noText["regions"][1].erase("text");
    EXPECT_THROW(JSON::decode<PageResult>(noText), JSON::DecodeError);
}
