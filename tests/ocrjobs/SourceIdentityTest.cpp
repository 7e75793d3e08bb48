#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "JobFixtures.hpp"
#include "foundation/Digest.hpp"
#include "ocrjobs/SourceIdentity.hpp"
#include "support/Errors.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

TEST(SourceIdentity, ImagesAreOnePageWithTheFilesSizeAndDigest) {
    test::TempDir tmp;
    const fs::path png = test::writeSamplePNG(tmp / "scan.png");
    const SourceIdentity id = SourceIdentity::read(png);
    EXPECT_EQ(id, SourceIdentity(png.string(), fs::file_size(png), 1, Digest::file(png)));

    const fs::path jpeg = tmp / "photo.JPG";
    test::writeJPEG(jpeg, test::makeImage(40, 30, 3, [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 5);
        p[1] = static_cast<uint8_t>(y * 7);
        p[2] = 128;
    }));
    EXPECT_EQ(SourceIdentity::read(jpeg).pageCount, 1);

    // An image under a name that only looks like a PDF.
    fs::copy_file(png, tmp / "x.pdf.png");
    EXPECT_EQ(SourceIdentity::read(tmp / "x.pdf.png").pageCount, 1);
}

TEST(SourceIdentity, TheExtensionAloneDecidesTheType) {
    test::TempDir tmp;
    const fs::path pdf = test::writeSamplePDF(tmp / "REPORT.PDF", 3);
    const SourceIdentity id = SourceIdentity::read(pdf);
    EXPECT_EQ(id.pageCount, 3);
    EXPECT_EQ(id.byteCount, fs::file_size(pdf));
    EXPECT_EQ(id.sha256, Digest::file(pdf));

    // A PDF named as an image goes to the image loader, which refuses it.
    fs::copy_file(pdf, tmp / "y.pdf.png");
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(tmp / "y.pdf.png"); }), ErrorCase::invalidInput);
    // An image named as a PDF is no PDF.
    test::writeSamplePNG(tmp / "z.pdf");
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(tmp / "z.pdf"); }), ErrorCase::invalidInput);

    EXPECT_EQ(SourceIdentity::read(test::writeEmptyPDF(tmp / "empty.pdf")).pageCount, 0);
}

TEST(SourceIdentity, LockedPDFsNeedTheirPassword) {
    test::TempDir tmp;
    const fs::path plain = test::writeSamplePDF(tmp / "plain.pdf", 2);
    const fs::path locked = tmp / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "ひらけ-1234", "owner-secret", "256", "--", plain.string(),
                                locked.string()}),
              0);
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(locked); }), ErrorCase::lockedPDF);
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(locked, std::string("ひらけ-1235")); }), ErrorCase::lockedPDF);
    const SourceIdentity id = SourceIdentity::read(locked, std::string("ひらけ-1234"));
    EXPECT_EQ(id.pageCount, 2);
    EXPECT_EQ(id.sha256, Digest::file(locked));

    // A password given for a document that is not locked changes nothing.
    EXPECT_EQ(SourceIdentity::read(plain, std::string("anything")), SourceIdentity::read(plain));
}

TEST(SourceIdentity, CopiesShareContentButNotIdentity) {
    test::TempDir tmp;
    const fs::path a = test::writeSamplePNG(tmp / "a.png");
    fs::create_directory(tmp / "moved");
    fs::copy_file(a, tmp / "moved" / "b.png");
    const SourceIdentity first = SourceIdentity::read(a);
    const SourceIdentity second = SourceIdentity::read(tmp / "moved" / "b.png");
    EXPECT_NE(first, second);
    EXPECT_TRUE(first.sameContent(second));
    EXPECT_FALSE(first.sameContent(SourceIdentity::read(test::writeSamplePNG(tmp / "c.png", 91))));

    const SourceIdentity big("/x", 18446744073709551615ull, 0, "d");
    EXPECT_EQ(JSON::decode<SourceIdentity>(JSON::parse(JSON::print(big))), big);
}

TEST(SourceIdentity, MissingFilesFailAsTheirLoaderSays) {
    test::TempDir tmp;
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(tmp / "gone.png"); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { SourceIdentity::read(tmp / "gone.pdf"); }), ErrorCase::invalidInput);
}
