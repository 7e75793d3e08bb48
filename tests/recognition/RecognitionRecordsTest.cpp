#include <gtest/gtest.h>

#include "foundation/JSON.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/RecognitionRecords.hpp"

using namespace velmora;

namespace {

Json parse(const char* text) { return JSON::parse(std::string_view(text)); }

std::vector<std::string> keysOf(const Json& j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}

}  // namespace

TEST(AutoPresentation, LabelFollowsTheOutcomeAlone) {
    for (const char* handwriting : {"none", "uncertain", "detected"}) {
        EXPECT_EQ((AutoPresentation{AutoResolved::uncertainStandardFallback, handwriting}.label()),
                  "自動判定：標準（判定不確実）");
        EXPECT_EQ((AutoPresentation{AutoResolved::vertical, handwriting}.label()), "自動判定：縦書き");
    }
}

TEST(AutoPresentation, StoresBothKeysAndRequiresThem) {
    const AutoPresentation p{AutoResolved::uncertainStandardFallback, "detected"};
    const Json j = p;
    EXPECT_EQ(JSON::print(j), "{\n  \"handwriting\" : \"detected\",\n  \"resolved\" : \"uncertainStandardFallback\"\n}");
    EXPECT_EQ(JSON::decode<AutoPresentation>(j), p);
    EXPECT_THROW(JSON::decode<AutoPresentation>(parse(R"({"resolved":"mixed"})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<AutoPresentation>(parse(R"({"handwriting":"none"})")), JSON::DecodeError);
    // Raw values are matched exactly.
    EXPECT_THROW(JSON::decode<AutoPresentation>(parse(R"({"resolved":"Mixed","handwriting":"none"})")),
                 JSON::DecodeError);
    EXPECT_THROW(JSON::decode<AutoPresentation>(parse(R"({"resolved":1,"handwriting":"none"})")), JSON::DecodeError);
    for (AutoResolved r : allAutoResolved) EXPECT_EQ(fromRaw<AutoResolved>(rawValue(r)), r);
    EXPECT_FALSE(fromRaw<AutoResolved>("uncertainstandardfallback"));
}

TEST(AnnotationEvidence, AngleUncertaintyIsOptionalAndReasonsRequired) {
    AnnotationEvidence e;
    e.angleDegrees = -3.5;
    e.baselineVariation = 0.125;
    e.heightVariation = 0.25;
    e.redFraction = 0.75;
    e.nearbyStroke = true;
    e.reasons = {"angle", "red"};
    Json j = e;
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"angleDegrees", "baselineVariation", "heightVariation",
                                                   "nearbyStroke", "reasons", "redFraction", "version"}));
    EXPECT_EQ(j["version"], "annotation-geometry-r4.0");
    const auto back = JSON::decode<AnnotationEvidence>(JSON::parse(JSON::print(j)));
    EXPECT_EQ(back, e);
    EXPECT_FALSE(back.angleUncertainty);

    e.angleUncertainty = 0.0;
    j = e;
    EXPECT_TRUE(j.contains("angleUncertainty"));
    EXPECT_EQ(JSON::decode<AnnotationEvidence>(j), e);

    Json withNull = j;
    withNull["angleUncertainty"] = nullptr;
    withNull["unlisted"] = "ignored";
    EXPECT_FALSE(JSON::decode<AnnotationEvidence>(withNull).angleUncertainty);

    for (const char* key : {"reasons", "version", "angleDegrees", "baselineVariation", "heightVariation",
                            "redFraction", "nearbyStroke"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(JSON::decode<AnnotationEvidence>(missing), JSON::DecodeError) << key;
    }
    Json badReason = j;
    badReason["reasons"] = Json::array({"angle", 3});
    EXPECT_THROW(JSON::decode<AnnotationEvidence>(badReason), JSON::DecodeError);
}

TEST(VerticalResearch, BoxFromTopLeftPixelsIsBottomLeftFraction) {
    const VerticalResearch::Box b(Rect{0, 0, 10, 20}, 100, 200);
    EXPECT_DOUBLE_EQ(b.x, 0);
    EXPECT_DOUBLE_EQ(b.y, 0.9);
    EXPECT_DOUBLE_EQ(b.width, 0.1);
    EXPECT_DOUBLE_EQ(b.height, 0.1);

    const RasterImage image = RasterImage::fromPixels(100, 200, 3, std::vector<uint8_t>(100 * 200 * 3, 0));
    const VerticalResearch::Box fromImage(Rect{50, 150, 25, 50}, image);
    EXPECT_DOUBLE_EQ(fromImage.x, 0.5);
    EXPECT_DOUBLE_EQ(fromImage.y, 0.0);
    EXPECT_DOUBLE_EQ(fromImage.width, 0.25);
    EXPECT_DOUBLE_EQ(fromImage.height, 0.25);
}

TEST(VerticalResearch, CandidateRoundTripsWithItsKeys) {
    VerticalResearch::Candidate c{7, "縦書きの列", 0.79f, {{0.1, 0.2, 0.3, 0.4}, {0.5, 0.6, 0.05, 0.07}}, 2};
    const Json j = c;
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"column", "confidence", "id", "source", "text"}));
    EXPECT_EQ(keysOf(j["source"][0]), (std::vector<std::string>{"height", "width", "x", "y"}));
    // The confidence is stored in its short form and read back as the same float.
    EXPECT_NE(JSON::print(j).find("\"confidence\" : 0.79,"), std::string::npos) << JSON::print(j);
    const auto back = JSON::decode<VerticalResearch::Candidate>(JSON::parse(JSON::print(j)));
    EXPECT_EQ(back, c);
    EXPECT_EQ(back.confidence, 0.79f);

    Json noSource = j;
    noSource.erase("source");
    EXPECT_THROW(JSON::decode<VerticalResearch::Candidate>(noSource), JSON::DecodeError);
    Json hugeConfidence = j;
    hugeConfidence["confidence"] = 1e39;
    EXPECT_THROW(JSON::decode<VerticalResearch::Candidate>(hugeConfidence), JSON::DecodeError);
    Json fractionalID = j;
    fractionalID["id"] = 1.5;
    EXPECT_THROW(JSON::decode<VerticalResearch::Candidate>(fractionalID), JSON::DecodeError);
}

TEST(OCRSourceBox, AllFourKeysRequiredOthersIgnored) {
    const auto box = JSON::decode<OCRSourceBox>(parse(R"({"x":0.25,"y":0.5,"width":0.125,"height":1,"z":9})"));
    EXPECT_EQ(box, (OCRSourceBox{0.25, 0.5, 0.125, 1}));
    EXPECT_THROW(JSON::decode<OCRSourceBox>(parse(R"({"x":0.25,"y":0.5,"width":0.125})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<OCRSourceBox>(parse(R"({"x":"0","y":0.5,"width":0.125,"height":1})")),
                 JSON::DecodeError);
    EXPECT_THROW(JSON::decode<OCRSourceBox>(parse("[0, 0, 1, 1]")), JSON::DecodeError);
}
