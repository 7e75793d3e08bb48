#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "foundation/Digest.hpp"
#include "support/Errors.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "capture/CaptureOptions.hpp"

using namespace velmora;
using velmora::test::caseOf;
namespace fs = std::filesystem;

namespace {

constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();

// Real PNG files of the sizes a capture writes, in a temporary folder.
class CaptureReceiptFiles : public ::testing::Test {
protected:
    CapturePart png(const std::string& name, int64_t y, int64_t heightCSS, int64_t widthCSS, int64_t scale) {
        const int w = static_cast<int>(widthCSS * scale), h = static_cast<int>(heightCSS * scale);
        test::writePNG(dir / name, w, h, 3, [y, w](int row, uint8_t* bytes) {
            for (int x = 0; x < w * 3; ++x) bytes[x] = static_cast<uint8_t>(row + y + x);
        });
        return CapturePart{name, y, heightCSS, w, h, Digest::file(dir / name)};
    }

    // Parts of 800 and 400 CSS pixels, 390 wide at scale 1.
    CaptureReceipt twoParts() {
        CaptureReceipt r{390, 1200, 1, "memoryBudget", {}, std::nullopt, std::nullopt};
        r.parts.push_back(png("page_001.png", 0, 800, 390, 1));
        r.parts.push_back(png("page_002.png", 800, 400, 390, 1));
        return r;
    }

    test::TempDir dir;
};

}  // namespace

TEST_F(CaptureReceiptFiles, AVerifiedReceiptGivesItsFilesInPartOrder) {
    CaptureReceipt one{390, 1200, 2, std::nullopt, {png("capture.png", 0, 1200, 390, 2)}, std::nullopt, std::nullopt};
    EXPECT_EQ(one.parts[0].widthPixels, 780);
    EXPECT_EQ(one.parts[0].heightPixels, 2400);
    EXPECT_EQ(one.orderedFiles(dir.path()), (std::vector<fs::path>{dir / "capture.png"}));

    const CaptureReceipt two = twoParts();
    EXPECT_EQ(two.orderedFiles(dir.path()), (std::vector<fs::path>{dir / "page_001.png", dir / "page_002.png"}));
}

TEST_F(CaptureReceiptFiles, PartsThatDoNotTileThePageAreRenderFailed) {
    const CaptureReceipt good = twoParts();

    CaptureReceipt none = good;
    none.parts.clear();
    none.heightCSS = 0;
    EXPECT_EQ(caseOf([&] { none.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    CaptureReceipt shifted = good;
    shifted.parts[0].yCSS = 1;
    EXPECT_EQ(caseOf([&] { shifted.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    CaptureReceipt gap = good;
    gap.parts[1].yCSS = 801;
    EXPECT_EQ(caseOf([&] { gap.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
    CaptureReceipt overlap = good;
    overlap.parts[1].yCSS = 799;
    EXPECT_EQ(caseOf([&] { overlap.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    CaptureReceipt empty{390, 800, 1, std::nullopt, {good.parts[0], good.parts[1]}, std::nullopt, std::nullopt};
    empty.parts[1].heightCSS = 0;
    empty.parts[1].heightPixels = 0;
    EXPECT_EQ(caseOf([&] { empty.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    CaptureReceipt wide = good;
    wide.parts[1].widthPixels = 391;
    EXPECT_EQ(caseOf([&] { wide.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
    CaptureReceipt tall = good;
    tall.parts[0].heightPixels = 799;
    EXPECT_EQ(caseOf([&] { tall.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
    CaptureReceipt rescaled = good;
    rescaled.scale = 2;
    EXPECT_EQ(caseOf([&] { rescaled.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
}

TEST_F(CaptureReceiptFiles, TheTotalHeightIsCheckedAfterEveryFileIsHashed) {
    CaptureReceipt r = twoParts();
    r.heightCSS = 1300;
    EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
    r.heightCSS = 1100;
    EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    // With the second file gone, its read fails before the total is looked at.
    r.heightCSS = 1300;
    fs::remove(dir / "page_002.png");
    EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::sourceMissing);
}

TEST_F(CaptureReceiptFiles, OnlyPlainFileNamesInTheFolderAreRead) {
    const CaptureReceipt good = twoParts();
    // A correct file one folder down must not be reachable through the name.
    fs::create_directory(dir / "sub");
    fs::copy_file(dir / "page_001.png", dir / "sub" / "page_001.png");
    for (const std::string name : {"sub/page_001.png", ".", "..", "", "../page_001.png"}) {
        CaptureReceipt r = good;
        r.parts[0].file = name;
        EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::renderFailed) << '"' << name << '"';
    }

    // A link in place of a part is not followed, even to the right bytes.
    fs::rename(dir / "page_002.png", dir / "real.png");
    fs::create_symlink(dir / "real.png", dir / "page_002.png");
    EXPECT_THROW(good.orderedFiles(dir.path()), BrindlexError);

    // A FIFO in place of a part is refused at once instead of blocking the
    // caller; the child is killed by its alarm if the open blocks.
    fs::remove(dir / "page_002.png");
    ASSERT_EQ(::mkfifo((dir / "page_002.png").c_str(), 0600), 0);
    const int status = test::runInChild([&] {
        ::alarm(10);
        if (caseOf([&] { good.orderedFiles(dir.path()); }) != ErrorCase::unsafePath) throw std::runtime_error("case");
    });
    EXPECT_EQ(status, 0);
}

TEST_F(CaptureReceiptFiles, ChangedAndMissingFilesFailWithTheirOwnErrors) {
    const CaptureReceipt r = twoParts();
    test::writeFile(dir / "page_002.png", "rewritten after publication");
    EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::sourceChanged);

    fs::remove(dir / "page_002.png");
    EXPECT_EQ(caseOf([&] { r.orderedFiles(dir.path()); }), ErrorCase::sourceMissing);
}

TEST_F(CaptureReceiptFiles, SizesPastTheIntegerRangeAreRenderFailedNotWrapped) {
    CaptureReceipt r = twoParts();
    // 2^62 × 2 wraps to the smallest integer; a wrapping check would accept it.
    CaptureReceipt wideRow = r;
    wideRow.widthCSS = int64_t{1} << 62;
    wideRow.scale = 2;
    for (auto& p : wideRow.parts) {
        p.widthPixels = std::numeric_limits<int64_t>::min();
        p.heightPixels = p.heightCSS * 2;
    }
    EXPECT_EQ(caseOf([&] { wideRow.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    CaptureReceipt tallPart = r;
    tallPart.parts[0].heightCSS = (int64_t{1} << 62) + 400;
    tallPart.parts[0].heightPixels = static_cast<int64_t>(static_cast<uint64_t>(tallPart.parts[0].heightCSS) * 2);
    tallPart.scale = 2;
    tallPart.widthCSS = 195;
    EXPECT_EQ(caseOf([&] { tallPart.orderedFiles(dir.path()); }), ErrorCase::renderFailed);

    // The running sum: a first part of the largest height, then one more
    // pixel. The second part's file does not exist, so reaching its read
    // would be sourceMissing.
    CaptureReceipt sum{390, int64Max, 1, std::nullopt, {r.parts[0]}, std::nullopt, std::nullopt};
    sum.parts[0].heightCSS = int64Max;
    sum.parts[0].heightPixels = int64Max;
    sum.parts[0].widthPixels = 390;
    CapturePart extra{"absent.png", int64Max, 1, 390, 1, std::string(64, '0')};
    sum.parts.push_back(extra);
    EXPECT_EQ(caseOf([&] { sum.orderedFiles(dir.path()); }), ErrorCase::renderFailed);
}

TEST(CaptureReceipt, EncodesOnlyThePresentKeysAndDecodesWithoutValidating) {
    CaptureReceipt plain{390, 1200, 2, std::nullopt, {CapturePart{"a.png", 0, 1200, 780, 2400, "ab"}}, std::nullopt,
                         std::nullopt};
    const Json j = Json(plain);
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"heightCSS", "parts", "scale", "widthCSS"}));
    EXPECT_EQ(j["parts"][0],
              Json::parse(R"({"file":"a.png","yCSS":0,"heightCSS":1200,"widthPixels":780,"heightPixels":2400,"sha256":"ab"})"));
    EXPECT_EQ(JSON::decode<CaptureReceipt>(j), plain);

    CaptureReceipt full = plain;
    full.splitReason = "memoryBudget";
    full.memoryPlan = std::map<std::string, int64_t>{{"budgetBytes", 805306368}, {"estimatedBytes", 9}};
    full.xCSS = 12;
    full.plannedHeightCSS = 1230;
    EXPECT_EQ(JSON::decode<CaptureReceipt>(JSON::parse(JSON::print(Json(full)))), full);
    EXPECT_EQ(Json(full)["plannedHeightCSS"], 1230);

    // Nonsense that holds the right types reads back as it is; the check is
    // orderedFiles' job.
    const Json odd = Json::parse(
        R"({"widthCSS":-5,"heightCSS":0,"scale":7,"parts":[{"file":"..","yCSS":-1,"heightCSS":0,"widthPixels":0,"heightPixels":0,"sha256":""}]})");
    const auto decoded = JSON::decode<CaptureReceipt>(odd);
    EXPECT_EQ(decoded.widthCSS, -5);
    EXPECT_EQ(decoded.parts.at(0).file, "..");
    Json missing = Json(plain);
    missing.erase("parts");
    EXPECT_THROW(JSON::decode<CaptureReceipt>(missing), JSON::DecodeError);
}

TEST(CaptureGeometry, IsReadyOnlyWhenThePageTookTheRequestedWidth) {
    EXPECT_TRUE(CaptureGeometry::isReady(390, 390, 375, 389.0));
    EXPECT_TRUE(CaptureGeometry::isReady(390, 391, 391, 390));
    EXPECT_TRUE(CaptureGeometry::isReady(280, 279, 279, 279));
    EXPECT_FALSE(CaptureGeometry::isReady(390, 390, 375, 388.9));
    EXPECT_FALSE(CaptureGeometry::isReady(390, 392, 375, 390));
    EXPECT_FALSE(CaptureGeometry::isReady(390, 388, 375, 390));
    EXPECT_FALSE(CaptureGeometry::isReady(279, 279, 279, 279));
    EXPECT_FALSE(CaptureGeometry::isReady(390, 390, 375, std::nan("")));
    EXPECT_FALSE(CaptureGeometry::isReady(390, 390, 391, 390));
    EXPECT_FALSE(CaptureGeometry::isReady(390, std::numeric_limits<int64_t>::min(), 1, 390));

}

TEST(CaptureOptions, BudgetFollowsTheMachineAndStagesHaveExactNames) {
    {
        CaptureBudget::ScopedPhysicalMemory machine(uint64_t{16} << 30);
        EXPECT_EQ(CaptureOptions().budget, 805306368);
    }
    {
        CaptureBudget::ScopedPhysicalMemory machine(uint64_t{2} << 30);
        EXPECT_EQ(CaptureOptions().budget, 268435456);
    }
    using Stage = CaptureOptions::Stage;
    for (auto s : {Stage::waiting, Stage::scrolling, Stage::tile, Stage::joining, Stage::saving}) {
        EXPECT_EQ(fromRaw<Stage>(rawValue(s)), s);
    }
    EXPECT_EQ(rawValue(Stage::joining), "joining");
    EXPECT_FALSE(fromRaw<Stage>("Tile"));
}
