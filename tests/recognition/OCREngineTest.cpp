#include <sys/stat.h>

#include <thread>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/engine/TesseractEngines.hpp"
#include "support/Errors.hpp"
#include "support/EvaluationPages.hpp"
#include "support/InkPages.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> threeLines{
    "吾輩は猫である。名前はまだ無い。",
    "どこで生れたかとんと見当がつかぬ。",
    "何でも薄暗いじめじめした所で泣いていた。",
};

const std::vector<std::string> otherLines{
    "春はあけぼの。やうやう白くなりゆく山ぎは、",
    "少しあかりて、紫だちたる雲の細くたなびきたる。",
};

OCRSettings standardSettings() {
    OCRSettings s;
    s.mode = OCRMode::standard;
    return s;
}

PageResult recognise(const RasterImage& image, uint32_t orientation = 1, const OCRSettings& s = standardSettings()) {
    return OCREngine::recognize(image, orientation, 1, s, [] { return false; });
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

// Every space in the text, with the characters on either side.
std::vector<std::string> spacesBetweenJapanese(const std::string& text) {
    std::vector<std::string> found;
    const std::vector<char32_t> s = Unicode::scalars(text);
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] == U' ' && LineText::isCJK(s[i - 1]) && LineText::isCJK(s[i + 1])) {
            std::string around;
            Unicode::appendScalar(around, s[i - 1]);
            around += ' ';
            Unicode::appendScalar(around, s[i + 1]);
            found.push_back(around);
        }
    }
    return found;
}

// The drawn line rectangle as a page box (fractions, bottom-left origin).
OCRSourceBox pageBox(const Rect& ink, int width, int height) {
    return {ink.x / width, 1 - (ink.y + ink.height) / height, ink.width / width, ink.height / height};
}

void expectNear(const OCRSourceBox& actual, const OCRSourceBox& expected, double tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.x + actual.width, expected.x + expected.width, tolerance);
    EXPECT_NEAR(actual.y + actual.height, expected.y + expected.height, tolerance);
}

OCRSourceBox boxOf(const TextRegion& r) { return {r.x, r.y, r.width, r.height}; }

}  // namespace

TEST(OCREngineRequest, RefusesWhatCannotBeHonouredBeforeAnyEngineWork) {
    const uint64_t loadsBefore = TesseractEngines::loadCount();
    const test::TextPage page = test::renderLines({}, {"テスト"});

    OCRSettings revision = standardSettings();
    revision.revision = 99;
    EXPECT_EQ(test::caseOf([&] { OCREngine::request(revision); }), ErrorCase::unsupportedLanguage);
    EXPECT_EQ(test::caseOf([&] { recognise(page.image, 1, revision); }), ErrorCase::unsupportedLanguage);

    for (const std::vector<std::string>& languages :
         {std::vector<std::string>{"ja-JP", "xx-XX"}, {"fr-FR"}, {"ja-jp"}, {"jpn"}, {""}}) {
        OCRSettings unknown = standardSettings();
        unknown.languages = languages;
        EXPECT_EQ(test::caseOf([&] { OCREngine::request(unknown); }), ErrorCase::unsupportedLanguage);
        EXPECT_EQ(test::caseOf([&] { recognise(page.image, 1, unknown); }), ErrorCase::unsupportedLanguage);
    }

    OCRSettings preprocessing = standardSettings();
    preprocessing.preprocessing = "binarize";
    EXPECT_EQ(test::caseOf([&] { OCREngine::request(preprocessing); }), ErrorCase::unsupportedMode);
    EXPECT_EQ(test::caseOf([&] { recognise(page.image, 1, preprocessing); }), ErrorCase::unsupportedMode);
    // The mode is checked before the revision.
    preprocessing.revision = 99;
    EXPECT_EQ(test::caseOf([&] { OCREngine::request(preprocessing); }), ErrorCase::unsupportedMode);

    for (OCRMode mode : {OCRMode::vertical, OCRMode::handwriting, OCRMode::automatic}) {
        OCRSettings other = standardSettings();
        other.mode = mode;
        EXPECT_EQ(test::caseOf([&] { OCREngine::request(other); }), ErrorCase::unsupportedMode);
    }
    EXPECT_EQ(TesseractEngines::loadCount(), loadsBefore);
}

TEST(OCREngineRequest, CarriesTheSettingsAndKnowsItsLanguages) {
    EXPECT_EQ(OCREngine::supportedRecognitionLanguages(3), (std::vector<std::string>{"ja-JP", "en-US"}));
    EXPECT_TRUE(OCREngine::supportedRecognitionLanguages(99).empty());

    OCRSettings s = standardSettings();
    s.languages = {"en-US", "ja-JP"};
    s.languageCorrection = false;
    s.customWords = {"ベルモラ", "Brindlex"};
    const TextRequest r = OCREngine::request(s);
    EXPECT_EQ(r.recognitionLevel, TextRequest::RecognitionLevel::accurate);
    EXPECT_EQ(r.revision, 3);
    EXPECT_EQ(r.recognitionLanguages, (std::vector<std::string>{"en-US", "ja-JP"}));
    EXPECT_FALSE(r.automaticallyDetectsLanguage);
    EXPECT_FALSE(r.usesLanguageCorrection);
    EXPECT_EQ(r.customWords, s.customWords);

    OCRSettings none = standardSettings();
    none.languages.clear();
    EXPECT_TRUE(OCREngine::request(none).recognitionLanguages.empty());
}

TEST(OCREngineRequest, LoadsEachLanguageModelOnceInPriorityOrder) {
    auto languages = [](std::vector<std::string> codes) {
        TextRequest r;
        r.recognitionLanguages = std::move(codes);
        return OCREngine::engineLanguages(r);
    };
    // The Japanese model reads the English in Japanese text itself.
    EXPECT_EQ(languages({"ja-JP", "en-US"}), "jpn");
    EXPECT_EQ(languages({}), "jpn");
    EXPECT_EQ(languages({"en-US", "ja-JP"}), "eng+jpn");
    EXPECT_EQ(languages({"en-US"}), "eng");
    EXPECT_EQ(languages({"en-US", "en-US", "ja-JP", "ja-JP"}), "eng+jpn");
    EXPECT_THROW(languages({"xx-XX"}), RecognizerError);
}

TEST(OCREngineStandard, ReadsThreeJapaneseLinesWhereTheyAreDrawn) {
    const test::TextPage page = test::renderLines({.width = 1000, .height = 320, .pixelSize = 32}, threeLines);
    const PageResult result = recognise(page.image);

    EXPECT_LE(test::characterErrorRate(joined(threeLines), result.text()), 0.05) << result.text();
    EXPECT_TRUE(spacesBetweenJapanese(result.text()).empty()) << result.text();
    ASSERT_EQ(result.regions.size(), 3u) << result.text();
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(result.regions[i].text);
        const TextRegion& r = result.regions[i];
        EXPECT_LE(test::characterErrorRate(threeLines[i], r.text), 0.1);
        expectNear(boxOf(r), pageBox(page.lines[i].ink, 1000, 320), 0.02);
        EXPECT_GT(r.confidence, 0.5f);
        EXPECT_LE(r.confidence, 1.0f);
        EXPECT_EQ(r.kind, RegionKind::unknown);
        // A standard region stores only the seven required keys.
        const Json j = r;
        EXPECT_EQ(j.size(), 7u);
    }
    EXPECT_EQ(result.page, 1);
    EXPECT_EQ(result.pixelWidth, 1000);
    EXPECT_EQ(result.pixelHeight, 320);
    EXPECT_EQ(result.route, "Vision.VNRecognizeTextRequest.accurate.r3");
    EXPECT_GT(result.elapsedSeconds, 0);
    const Json j = result;
    EXPECT_EQ(j.size(), 6u);
}

TEST(OCREngineStandard, ObservationsCarryCharactersAndBaselines) {
    const test::TextPage page = test::renderLines({.width = 1000, .height = 200, .pixelSize = 32}, {threeLines[0]});
    const auto observations =
        OCREngine::perform(OCREngine::request(standardSettings()), page.image, 1);
    ASSERT_EQ(observations.size(), 1u);
    const RecognizedTextObservation& o = observations[0];
    const std::u16string text = Unicode::toUTF16(o.text);
    ASSERT_FALSE(o.characters.empty());
    int64_t covered = 0;
    for (const RecognizedCharacter& c : o.characters) {
        // Each character is the piece of the line text at its range, and its
        // box lies on the line.
        ASSERT_LE(c.range.end(), static_cast<int64_t>(text.size()));
        EXPECT_EQ(Unicode::toUTF16(c.text), text.substr(c.range.location, c.range.length));
        EXPECT_GE(c.box.x, o.boundingBox.x - 0.01);
        EXPECT_LE(c.box.x + c.box.width, o.boundingBox.x + o.boundingBox.width + 0.01);
        EXPECT_GT(c.box.height, 0);
        covered += c.range.length;
    }
    EXPECT_EQ(covered, static_cast<int64_t>(text.size()));  // no spaces in this line
    // The baseline runs along the bottom of the line, left to right, level.
    EXPECT_LT(o.baselineStart.x, o.baselineEnd.x);
    EXPECT_NEAR(o.baselineStart.y, o.baselineEnd.y, 0.01);
    EXPECT_NEAR(o.baselineStart.y, o.boundingBox.y, o.boundingBox.height);
    EXPECT_NEAR(o.topLeft.y, o.boundingBox.y + o.boundingBox.height, 0.01);
    EXPECT_NEAR(o.topRight.y, o.boundingBox.y + o.boundingBox.height, 0.01);
}

TEST(OCREngineStandard, KeepsEnglishWordsInAJapaneseLine) {
    const std::string line = "ベルモラは2024年にversion 1.0を公開した。OCR test, Hello World.";
    const test::TextPage page = test::renderLines({.width = 1300, .height = 140, .pixelSize = 32}, {line});
    const PageResult result = recognise(page.image);
    ASSERT_EQ(result.regions.size(), 1u) << result.text();
    const std::string& text = result.regions[0].text;
    EXPECT_LE(test::characterErrorRate(line, text), 0.05) << text;
    EXPECT_NE(text.find("Hello World."), std::string::npos) << text;
    EXPECT_NE(text.find("version 1.0"), std::string::npos) << text;
    EXPECT_NE(text.find("OCR test,"), std::string::npos) << text;
    EXPECT_TRUE(spacesBetweenJapanese(text).empty()) << text;
}

TEST(OCREngineStandard, StoredOrientationGivesTheUprightPage) {
    const test::TextPage page = test::renderLines({.width = 1000, .height = 320, .pixelSize = 32}, threeLines);
    const PageResult upright = recognise(page.image);

    // Stored turned a quarter anticlockwise, with the code (6) that says to
    // turn it clockwise for display: the very same page is read.
    const RasterImage stored = OCRGeometry::oriented(page.image, 8);
    ASSERT_EQ(stored.width(), 320);
    const PageResult turned = recognise(stored, 6);
    EXPECT_EQ(turned.pixelWidth, 1000);
    EXPECT_EQ(turned.pixelHeight, 320);
    EXPECT_EQ(turned.regions, upright.regions);

    // The same through a JPEG file carrying the orientation tag.
    test::TempDir dir;
    test::writeJPEG(dir / "turned.jpg", stored, 6);
    const Raster::SourceImage file = Raster::image(dir / "turned.jpg");
    ASSERT_EQ(file.orientation, 6u);
    const PageResult fromFile = recognise(file.image, file.orientation);
    EXPECT_EQ(fromFile.pixelWidth, 1000);
    EXPECT_EQ(fromFile.pixelHeight, 320);
    EXPECT_LE(test::characterErrorRate(joined(threeLines), fromFile.text()), 0.05) << fromFile.text();
    ASSERT_EQ(fromFile.regions.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        expectNear(boxOf(fromFile.regions[i]), pageBox(page.lines[i].ink, 1000, 320), 0.02);
    }
}

TEST(OCREngineStandard, LargeTypeIsReadWhole) {
    // Left to itself, Tesseract erases the long strokes of large kanji as
    // ruled lines and reads the pieces as separate lines.
    const std::string line = "会議は午後3時から第2会議室で行います。";
    for (double size : {72.0, 120.0}) {
        SCOPED_TRACE(size);
        const int width = static_cast<int>(size * 20 + 80);
        const int height = static_cast<int>(size * 3 + 80);
        const test::TextPage page = test::renderLines({.width = width, .height = height, .pixelSize = size}, {line});
        const PageResult result = recognise(page.image);
        EXPECT_LE(test::characterErrorRate(line, result.text()), 0.1) << result.text();
        ASSERT_EQ(result.regions.size(), 1u) << result.text();
        expectNear(boxOf(result.regions[0]), pageBox(page.lines[0].ink, width, height), 0.02);
        EXPECT_EQ(result.pixelWidth, width);
    }
}

TEST(OCREngineStandard, BlankPagesHaveNoRegionsAndTheUprightSize) {
    const RasterImage blank = test::makeImage(1000, 2000, 3, [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = 255; });
    const PageResult right = recognise(blank, 6);
    EXPECT_TRUE(right.regions.empty());
    EXPECT_EQ(right.text(), "");
    EXPECT_EQ(right.route, "Vision.VNRecognizeTextRequest.accurate.r3");
    EXPECT_EQ(right.pixelWidth, 2000);
    EXPECT_EQ(right.pixelHeight, 1000);
    const PageResult down = recognise(blank, 3);
    EXPECT_TRUE(down.regions.empty());
    EXPECT_EQ(down.pixelWidth, 1000);
    EXPECT_EQ(down.pixelHeight, 2000);
}

TEST(OCREngineStandard, TransparentBackgroundReadsAsWhitePaper) {
    // Black text on a transparent page: the invisible background pixels are
    // black too, and must not be read as ink.
    const test::TextPage page =
        test::renderLines({.width = 1000, .height = 320, .pixelSize = 32, .transparent = true}, threeLines);
    ASSERT_EQ(page.image.channels(), 4);
    ASSERT_EQ(test::pixelAt(page.image, 2, 2), (std::vector<uint8_t>{0, 0, 0, 0}));
    const PageResult result = recognise(page.image);
    EXPECT_LE(test::characterErrorRate(joined(threeLines), result.text()), 0.05) << result.text();
}

TEST(OCREngineConcurrency, TwoThreadsRecogniseDifferentPagesAtOnce) {
    const test::TextPage a = test::renderLines({.width = 1000, .height = 320, .pixelSize = 32}, threeLines);
    const test::TextPage b = test::renderLines({.width = 1000, .height = 240, .pixelSize = 32}, otherLines);
    PageResult first, second, again;
    std::exception_ptr failure;
    auto worker = [&](const test::TextPage& page, PageResult& out, PageResult* repeat) {
        try {
            out = recognise(page.image);
            // Counted per thread: the other thread may load its own engine
            // at any moment.
            const uint64_t loads = TesseractEngines::threadLoadCount();
            if (repeat) {
                *repeat = recognise(page.image);
                // The thread's engine was kept and reused.
                EXPECT_EQ(TesseractEngines::threadLoadCount(), loads);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread one(worker, std::cref(a), std::ref(first), &again);
    std::thread two(worker, std::cref(b), std::ref(second), nullptr);
    one.join();
    two.join();
    if (failure) std::rethrow_exception(failure);
    EXPECT_LE(test::characterErrorRate(joined(threeLines), first.text()), 0.05) << first.text();
    EXPECT_LE(test::characterErrorRate(joined(otherLines), second.text()), 0.05) << second.text();
    // Nothing of one page stays behind in the engine for the next.
    EXPECT_EQ(again.regions, first.regions);
}

TEST(OCREngineConfiguration, CorrectionAndCustomWordsHaveEnginesOfTheirOwn) {
    const test::TextPage page = test::renderLines({.width = 1000, .height = 320, .pixelSize = 32}, threeLines);
    const fs::path temp = fs::temp_directory_path();
    auto leftovers = [&] {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(temp)) {
            if (entry.path().filename().string().rfind("velmora-words-", 0) == 0) ++n;
        }
        return n;
    };
    const int before = leftovers();

    const PageResult plain = recognise(page.image);
    uint64_t loads = TesseractEngines::threadLoadCount();

    OCRSettings raw = standardSettings();
    raw.languageCorrection = false;
    const PageResult uncorrected = recognise(page.image, 1, raw);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads + 1);
    EXPECT_LE(test::characterErrorRate(joined(threeLines), uncorrected.text()), 0.08) << uncorrected.text();

    OCRSettings words = standardSettings();
    words.customWords = {"吾輩", "見当", "じめじめ"};
    const PageResult withWords = recognise(page.image, 1, words);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads + 2);
    EXPECT_LE(test::characterErrorRate(joined(threeLines), withWords.text()), 0.05) << withWords.text();
    EXPECT_EQ(leftovers(), before);

    // The three most recent configurations are kept; asking again loads
    // nothing. A fourth lets the oldest go, which is loaded again, reading
    // the same.
    loads = TesseractEngines::threadLoadCount();
    EXPECT_EQ(recognise(page.image, 1, words).regions, withWords.regions);
    EXPECT_EQ(recognise(page.image, 1, raw).regions, uncorrected.regions);
    EXPECT_EQ(recognise(page.image).regions, plain.regions);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads);
    OCRSettings otherWords = standardSettings();
    otherWords.customWords = {"茶畑"};
    recognise(page.image, 1, otherWords);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads + 1);
    EXPECT_EQ(recognise(page.image, 1, raw).regions, uncorrected.regions);
    EXPECT_EQ(recognise(page.image).regions, plain.regions);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads + 1);
    EXPECT_EQ(recognise(page.image, 1, words).regions, withWords.regions);
    EXPECT_EQ(TesseractEngines::threadLoadCount(), loads + 2);
}

TEST(OCREngineConfiguration, UserWordsFileIsPrivateAndRemoved) {
    test::TempDir dir;
    fs::path file, folder;
    {
        TesseractEngines::UserWordsFile words({"ベルモラ", "", "two\nlines", "tab\tbed", "Brindlex"}, dir.path());
        file = words.path();
        folder = file.parent_path();
        EXPECT_EQ(folder.parent_path(), dir.path());
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(test::readFile(file), "ベルモラ\nBrindlex\n");
    }
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(test::listNames(dir.path()).empty());
}

// A page with ink that gives no text has failed, in every mode, and says so;
// a blank page is read as empty.
TEST(OCREngine, APageWithInkButNoTextFailsInEveryMode) {
    test::InkPage rule(600, 400);
    rule.fill(100, 200, 400, 3);
    const test::InkPage blank(600, 400);
    for (const OCRMode mode : {OCRMode::standard, OCRMode::vertical, OCRMode::handwriting, OCRMode::automatic}) {
        OCRSettings settings;
        settings.mode = mode;
        EXPECT_EQ(test::caseOf([&] { OCREngine::recognize(rule.image(), 1, 1, settings, [] { return false; }); }),
                  ErrorCase::emptyResult)
            << rawValue(mode);
        EXPECT_EQ(OCREngine::recognize(blank.image(), 1, 1, settings, [] { return false; }).text(), "")
            << rawValue(mode);
    }
}

// A mode that reads a character or two of a page full of them has not read
// the page: horizontal lines in the vertical mode fail, whatever else the
// mode made of them, with the reason that names the mode that reads them. A
// page of a few characters is read in its mode as ever, and the automatic
// mode finds the lines.
TEST(OCREngine, APageTheModeCannotReadFailsAndAShortPageStillReads) {
    const std::vector<std::string> paragraphs{
        "川の流域(約1,240km2)では、雨の降り方と土地の使われ方によって、洪水の起こりやすさが大きく変わる。上流の森林は雨水を"
        "ゆっくりと地下へ送り、中流の遊水地は増えた水を一時的にため、下流の堤防と排水機場が市街地を守る。",
        "港の朝は早い。午前4時15分、まだ暗いうちから漁船が戻り、岸壁には箱を積んだ台車が並ぶ。競りが始まると、買い手たちは"
        "指の形で値を示し、数分のうちにその日の相場が決まっていく。",
        "時計の修理を始めて40年になる祖父は、分解した部品を必ず左から順に並べる。ねじ一本の向きまで覚えて"
        "おくためだと言い、孫にも同じやり方を教えている。",
        "申し込みは10月10日(金)までに、所定の用紙に必要事項を記入のうえ、窓口または郵送で提出してください。定員を"
        "超えた場合は抽選とし、結果は二週間以内にお知らせします。",
        "駅前の商店街では、毎年秋にBook Fair 2027という古本市が開かれる。通りの両側に並んだ棚には文庫本から古い地図まで"
        "さまざまな品が置かれ、夕方まで人の流れが途切れることはない。",
    };
    // A full page of 300 dpi: 10.5-point type, lines 1.9 sizes apart, the
    // paragraphs four times over in turn. Half-width digits and letters
    // keep the characters of one line off the places of those above, as in
    // print: lines of nothing but full-width characters would stand in
    // columns.
    std::vector<std::string> text;
    for (std::size_t k = 0; k < 4 * paragraphs.size(); ++k) text.push_back(paragraphs[(k * 2) % paragraphs.size()]);
    const test::TextPage page = test::renderParagraphs(
        {.width = 2480, .height = 3508, .pixelSize = 44, .left = 236, .top = 236, .lineAdvance = 1.9}, text);
    OCRSettings vertical;
    vertical.mode = OCRMode::vertical;
    try {
        const PageResult read = OCREngine::recognize(page.image, 1, 1, vertical, [] { return false; });
        ADD_FAILURE() << "read as vertical text: \"" << read.text() << "\"";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::looksHorizontal);
        EXPECT_STREQ(e.what(), "横書きの原稿のようです。認識モードを「標準」か「自動」にしてください。");
    }
    OCRSettings automatic;
    automatic.mode = OCRMode::automatic;
    const std::string found = OCREngine::recognize(page.image, 1, 1, automatic, [] { return false; }).text();
    std::string drawn;
    for (const test::DrawnLine& line : page.lines) drawn += line.text;
    EXPECT_LE(test::characterErrorRate(test::withoutWhiteSpace(drawn), test::withoutWhiteSpace(found)), 0.05) << found;

    const test::TextPage title =
        test::renderLines({.width = 900, .height = 700, .pixelSize = 44, .left = 220, .top = 300}, {"年次報告書"});
    EXPECT_EQ(OCREngine::recognize(title.image, 1, 1, standardSettings(), [] { return false; }).text(), "年次報告書");
}
