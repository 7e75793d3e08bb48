#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/Raster.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t GiB = uint64_t{1} << 30;
constexpr int64_t MiB = int64_t{1} << 20;

#define EXPECT_CASE(expr, expected)                                           \
    do {                                                                      \
        try {                                                                 \
            (void)(expr);                                                     \
            ADD_FAILURE() << #expr " did not throw";                          \
        } catch (const BrindlexError& e) {                                    \
            EXPECT_EQ(e.errorCase(), ErrorCase::expected)                     \
                << #expr " threw " << BrindlexError::rawValue(e.errorCase()); \
        }                                                                     \
    } while (0)

bool near(const std::vector<uint8_t>& px, int r, int g, int b, int tolerance = 40) {
    return std::abs(px[0] - r) <= tolerance && std::abs(px[1] - g) <= tolerance && std::abs(px[2] - b) <= tolerance;
}

// A solid PNG of the given size, written one row at a time.
void solidPNG(const fs::path& path, int width, int height) {
    test::writePNG(path, width, height, 3, [width](int, uint8_t* row) {
        std::fill(row, row + static_cast<std::ptrdiff_t>(width) * 3, 200);
    });
}

// A Letter page with a black square in its top-left corner: an inch in from
// the top and the left edge, an inch wide.
fs::path letterPDF(const test::TempDir& dir, const std::string& name = "letter.pdf") {
    const fs::path path = dir / name;
    test::writePDF(path, {{612, 792}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, 72, 72, 72, 72);
        cairo_fill(cr);
    });
    return path;
}

bool dark(const RasterImage& image, int x, int y) {
    const auto px = test::pixelAt(image, x, y);
    return px[0] < 64 && px[1] < 64 && px[2] < 64;
}

bool white(const RasterImage& image, int x, int y) {
    const auto px = test::pixelAt(image, x, y);
    return px[0] > 240 && px[1] > 240 && px[2] > 240;
}

}  // namespace

TEST(CaptureBudget, EstimateArithmetic) {
    EXPECT_EQ(CaptureBudget::estimate(1000, 1000), 268435456 + 12000000 + 6400000);
    EXPECT_EQ(CaptureBudget::estimate(1, 1, 1), 268435456 + 12 + 8);
    EXPECT_EQ(CaptureBudget::estimate(10, 10, 10), CaptureBudget::estimate(10, 10) - 10 * 790 * 8);
    EXPECT_CASE(CaptureBudget::estimate(0, 5), dimensionOverflow);
    EXPECT_CASE(CaptureBudget::estimate(5, -1), dimensionOverflow);
    EXPECT_CASE(CaptureBudget::estimate(5, 5, 0), dimensionOverflow);
    EXPECT_CASE(CaptureBudget::estimate(int64_t{1} << 31, int64_t{1} << 31), dimensionOverflow);
    EXPECT_CASE(CaptureBudget::estimate(std::numeric_limits<int64_t>::max(), 1), dimensionOverflow);
    // Each product fits but the sum does not.
    EXPECT_CASE(CaptureBudget::estimate(1, (std::numeric_limits<int64_t>::max() - 268435456) / 12 + 1, 1),
                dimensionOverflow);
}

TEST(CaptureBudget, ConservativeBytesAndLoadLimit) {
    EXPECT_EQ(CaptureBudget::conservativeBytes(8 * GiB), 768 * MiB);
    EXPECT_EQ(CaptureBudget::conservativeBytes(64 * GiB), 768 * MiB);
    EXPECT_EQ(CaptureBudget::conservativeBytes(2 * GiB), 256 * MiB);
    EXPECT_EQ(CaptureBudget::loadLimit(2 * GiB), 384 * MiB);
    EXPECT_EQ(CaptureBudget::loadLimit(4 * GiB), 512 * MiB);
    EXPECT_EQ(CaptureBudget::loadLimit(8 * GiB), 768 * MiB);

    const uint64_t real = CaptureBudget::physicalMemory();
    EXPECT_GT(real, 0u);
    EXPECT_EQ(CaptureBudget::conservativeBytes(), CaptureBudget::conservativeBytes(real));
    {
        CaptureBudget::ScopedPhysicalMemory small(2 * GiB);
        EXPECT_EQ(CaptureBudget::conservativeBytes(), 256 * MiB);
        {
            CaptureBudget::ScopedPhysicalMemory big(8 * GiB);
            EXPECT_EQ(CaptureBudget::conservativeBytes(), 768 * MiB);
        }
        EXPECT_EQ(CaptureBudget::loadLimit(), 384 * MiB);
    }
    EXPECT_EQ(CaptureBudget::physicalMemory(), real);
}

TEST(Raster, PNGAndJPEGFilesDecode) {
    test::TempDir dir;
    const auto rgba = test::makeImage(30, 17, 4, [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 8);
        p[1] = static_cast<uint8_t>(y * 15);
        p[2] = static_cast<uint8_t>(x * y);
        p[3] = static_cast<uint8_t>(255 - x);
    });
    test::writeFile(dir / "a.png", std::string(reinterpret_cast<const char*>(Raster::png(rgba).data()),
                                               Raster::png(rgba).size()));
    const auto png = Raster::image(dir / "a.png");
    EXPECT_EQ(png.orientation, 1u);
    ASSERT_EQ(png.image.width(), 30);
    ASSERT_EQ(png.image.height(), 17);
    EXPECT_TRUE(png.image.hasAlpha());
    EXPECT_EQ(test::pixelAt(png.image, 29, 16), (std::vector<uint8_t>{232, 240, 208, 226}));

    // Left half red, right half blue; JPEG is lossy, so colours are compared
    // away from the seam.
    const auto halves = test::makeImage(40, 20, 3, [](int x, int, uint8_t* p) {
        p[0] = x < 20 ? 255 : 0;
        p[1] = 0;
        p[2] = x < 20 ? 0 : 255;
    });
    test::writeJPEG(dir / "plain.jpg", halves);
    const auto jpeg = Raster::image(dir / "plain.jpg");
    EXPECT_EQ(jpeg.orientation, 1u);
    ASSERT_EQ(jpeg.image.width(), 40);
    ASSERT_EQ(jpeg.image.height(), 20);
    EXPECT_TRUE(near(test::pixelAt(jpeg.image, 5, 10), 255, 0, 0));
    EXPECT_TRUE(near(test::pixelAt(jpeg.image, 35, 10), 0, 0, 255));
}

TEST(Raster, ExifOrientationIsReportedByImageAndAppliedByPreview) {
    test::TempDir dir;
    const auto halves = test::makeImage(40, 20, 3, [](int x, int, uint8_t* p) {
        p[0] = x < 20 ? 255 : 0;
        p[1] = 0;
        p[2] = x < 20 ? 0 : 255;
    });
    test::writeJPEG(dir / "rotated.jpg", halves, 6);

    const auto stored = Raster::image(dir / "rotated.jpg");
    EXPECT_EQ(stored.orientation, 6u);
    ASSERT_EQ(stored.image.width(), 40);
    ASSERT_EQ(stored.image.height(), 20);
    EXPECT_TRUE(near(test::pixelAt(stored.image, 5, 10), 255, 0, 0));

    // Orientation 6: the stored left edge is the visual top.
    const auto upright = Raster::preview(dir / "rotated.jpg");
    ASSERT_EQ(upright.width(), 20);
    ASSERT_EQ(upright.height(), 40);
    EXPECT_TRUE(near(test::pixelAt(upright, 10, 5), 255, 0, 0));
    EXPECT_TRUE(near(test::pixelAt(upright, 10, 35), 0, 0, 255));

    // A code outside 1 to 8 cannot be applied and counts as upright.
    test::writeJPEG(dir / "odd.jpg", halves, 9);
    EXPECT_EQ(Raster::image(dir / "odd.jpg").orientation, 1u);
    EXPECT_EQ(Raster::preview(dir / "odd.jpg").width(), 40);
}

TEST(Raster, OversizeImageIsRefusedBeforeDecoding) {
    test::TempDir dir;
    const fs::path huge = dir / "huge.png";
    solidPNG(huge, 10000, 10000);
    ASSERT_LT(fs::file_size(huge), 2u << 20);
    // Decoding would need 300 MB for the pixels alone; each refusal runs in a
    // fresh child so its peak resident memory is its own.
    for (bool preview : {false, true}) {
        const int status = test::runInChild([&] {
            try {
                if (preview) {
                    (void)Raster::preview(huge);
                } else {
                    (void)Raster::image(huge);
                }
                _exit(10);
            } catch (const BrindlexError& e) {
                if (e.errorCase() != ErrorCase::budgetExceeded) _exit(11);
            }
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            if (usage.ru_maxrss > 120 * 1024) _exit(12);
        });
        EXPECT_EQ(status, 0) << (preview ? "preview" : "image");
    }
    EXPECT_CASE(Raster::image(huge), budgetExceeded);
    EXPECT_CASE(Raster::preview(huge), budgetExceeded);
}

TEST(Raster, HeaderSizesOverTheLimitAreRefused) {
    test::TempDir dir;
    // A JPEG's frame header may declare any size up to 65535 a side; the
    // pixels need not be there for the size to be judged, and not even a
    // decode at an eighth of it would fit.
    test::writeJPEG(dir / "small.jpg", test::makeImage(16, 16, 3, [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = 90; }));
    std::string bytes = test::readFile(dir / "small.jpg");
    const std::size_t frame = bytes.find("\xff\xc0");
    ASSERT_NE(frame, std::string::npos);
    bytes.replace(frame + 5, 4, "\xea\x60\xea\x60");
    test::writeFile(dir / "wide.jpg", bytes);
    EXPECT_CASE(Raster::image(dir / "wide.jpg"), budgetExceeded);
    EXPECT_CASE(Raster::preview(dir / "wide.jpg"), budgetExceeded);
}

TEST(Raster, LoadLimitFollowsPhysicalMemoryWithAFloor) {
    test::TempDir dir;
    // Under a 384 MiB limit: estimate 3000 × 3000 ≈ 383 MiB, 3400 × 3400 ≈ 409 MiB.
    solidPNG(dir / "fits.png", 3000, 3000);
    solidPNG(dir / "over.png", 3400, 3400);
    {
        CaptureBudget::ScopedPhysicalMemory twoGiB(2 * GiB);
        EXPECT_EQ(Raster::image(dir / "fits.png").image.width(), 3000);
        EXPECT_EQ(Raster::preview(dir / "fits.png").height(), 3000);
        EXPECT_CASE(Raster::image(dir / "over.png"), budgetExceeded);
        EXPECT_CASE(Raster::preview(dir / "over.png"), budgetExceeded);
    }
    {
        CaptureBudget::ScopedPhysicalMemory eightGiB(8 * GiB);
        EXPECT_EQ(Raster::image(dir / "over.png").image.width(), 3400);
    }
}

TEST(Raster, UnreadableImagesAreInvalidInput) {
    test::TempDir dir;
    test::writeFile(dir / "text.png", "this is not an image");
    test::writeFile(dir / "empty.png", "");
    fs::create_directory(dir / "folder.png");
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const char* name : {"text.png", "empty.png", "folder.png", "pipe.png", "missing.png"}) {
        EXPECT_CASE(Raster::image(dir / name), invalidInput);
        EXPECT_CASE(Raster::preview(dir / name), invalidInput);
    }
}

TEST(Raster, AnImageCutShortIsIncompleteAndOnlyPNGOrJPEGContentIsRead) {
    test::TempDir dir;
    const auto page = test::makeImage(120, 160, 3, [](int x, int y, uint8_t* p) {
        p[0] = p[1] = p[2] = (x / 7 + y / 5) % 3 ? 240 : 20;
    });
    const std::vector<uint8_t> png = Raster::png(page);
    test::writeFile(dir / "page.png", std::string(png.begin(), png.end()));
    test::writeJPEG(dir / "page.jpg", page, 6);
    // An interrupted download: the first half of each file.
    for (const char* name : {"page.png", "page.jpg"}) {
        const std::string whole = test::readFile(dir / name);
        test::writeFile(dir / (std::string("cut-") + name), whole.substr(0, whole.size() / 2));
        EXPECT_EQ(Raster::image(dir / name).image.height(), 160) << name;
        EXPECT_CASE(Raster::image(dir / (std::string("cut-") + name)), incompleteImages);
        EXPECT_CASE(Raster::preview(dir / (std::string("cut-") + name)), incompleteImages);
    }
    // The content decides: a PNG named .jpg and a JPEG named .png read, a
    // TIFF, BMP, GIF, SVG or PNM named .png does not, though the system has
    // loaders for them all.
    fs::copy_file(dir / "page.png", dir / "png.jpg");
    fs::copy_file(dir / "page.jpg", dir / "jpeg.png");
    EXPECT_EQ(Raster::image(dir / "png.jpg").image.width(), 120);
    EXPECT_EQ(Raster::image(dir / "jpeg.png").orientation, 6u);
    for (const char* type : {"tiff", "bmp"}) {
        ASSERT_TRUE(gdk_pixbuf_save(page.pixbuf(), (dir / (std::string(type) + ".png")).c_str(), type, nullptr, nullptr));
    }
    // One white pixel.
    const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xff, 0xff, 0xff, 0, 0, 0,
                                 ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'};
    test::writeFile(dir / "gif.png", std::string(reinterpret_cast<const char*>(gif), sizeof gif));
    test::writeFile(dir / "svg.png", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>");
    test::writeFile(dir / "pnm.png", "P6\n2 2\n255\n" + std::string(12, '\x80'));
    for (const char* name : {"tiff.png", "bmp.png", "gif.png", "svg.png", "pnm.png"}) {
        EXPECT_CASE(Raster::image(dir / name), invalidInput);
        EXPECT_CASE(Raster::preview(dir / name), invalidInput);
    }
}

TEST(Raster, APhotoOverTheLimitIsDecodedAtAReducedSize) {
    test::TempDir dir;
    // A phone camera's high-resolution mode, 6048 × 8064, held sideways; of
    // one colour, so the file is small.
    const fs::path photo = dir / "photo.jpg";
    {
        GdkPixbuf* flat = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 6048, 8064);
        gdk_pixbuf_fill(flat, 0xd0d0d0ff);
        test::writeJPEG(photo, RasterImage::adopt(flat), 6);
    }
    {
        // Half each way fits 768 MiB.
        CaptureBudget::ScopedPhysicalMemory eightGiB(8 * GiB);
        const auto half = Raster::image(photo);
        EXPECT_EQ(half.image.width(), 3024);
        EXPECT_EQ(half.image.height(), 4032);
        EXPECT_EQ(half.orientation, 6u);
        const RasterImage upright = Raster::preview(photo);
        EXPECT_EQ(upright.width(), 4032);
        EXPECT_EQ(upright.height(), 3024);
    }
    {
        // Under the 384 MiB floor only a quarter fits.
        CaptureBudget::ScopedPhysicalMemory twoGiB(2 * GiB);
        EXPECT_EQ(Raster::image(photo).image.width(), 1512);
    }
}

TEST(Raster, LetterPageRendersAtTheAskedResolution) {
    test::TempDir dir;
    const fs::path pdf = letterPDF(dir);
    const RasterImage page = Raster::pdf(pdf, 0, 150);
    ASSERT_EQ(page.width(), 1275);
    ASSERT_EQ(page.height(), 1650);
    EXPECT_FALSE(page.hasAlpha());
    // The square covers 150..300 pixels from the top-left corner.
    EXPECT_TRUE(dark(page, 225, 225));
    EXPECT_TRUE(white(page, 225, 1500));
    EXPECT_TRUE(white(page, 1100, 225));
    EXPECT_TRUE(white(page, 0, 0));

    EXPECT_EQ(Raster::pdf(pdf, 0, 72).width(), 612);
    EXPECT_CASE(Raster::pdf(pdf, 0, 30), invalidInput);
    EXPECT_CASE(Raster::pdf(pdf, 0, 601), invalidInput);
    EXPECT_CASE(Raster::pdf(pdf, 0, std::nan("")), invalidInput);
    EXPECT_CASE(Raster::pdf(pdf, 1, 150), invalidInput);
    EXPECT_CASE(Raster::pdf(pdf, -1, 150), invalidInput);
    EXPECT_EQ(Raster::pdfPageCount(pdf), 1);
}

TEST(Raster, ResolutionBoundsAreInclusive) {
    test::TempDir dir;
    const fs::path pdf = dir / "inch.pdf";
    test::writePDF(pdf, {{72, 72}, {595, 842}}, [](cairo_t*, int, test::PageSize) {});
    EXPECT_EQ(Raster::pdf(pdf, 0, 36).width(), 36);
    EXPECT_EQ(Raster::pdf(pdf, 0, 600).height(), 600);
    // Each page has its own size; a fractional size is rounded up.
    const RasterImage a4 = Raster::pdf(pdf, 1, 100);
    EXPECT_EQ(a4.width(), 827);   // 826.39
    EXPECT_EQ(a4.height(), 1170);  // 1169.44
}

TEST(Raster, RotatedPagesSwapTheirSides) {
    test::TempDir dir;
    const fs::path upright = letterPDF(dir);
    const fs::path turned = dir / "turned.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", upright.string(), "--rotate=+90:1", turned.string()}), 0);
    const RasterImage page = Raster::pdf(turned, 0, 150);
    ASSERT_EQ(page.width(), 1650);
    ASSERT_EQ(page.height(), 1275);
    // Turned clockwise, the top-left square is now at the top right.
    EXPECT_TRUE(dark(page, 1650 - 225, 225));
    EXPECT_TRUE(white(page, 225, 225));

    // -90 is 270: a quarter turn anticlockwise puts the square bottom-left.
    const fs::path back = dir / "minus.pdf";
    test::writeHandmadePDF(back, 612, 792, -90, "0 g 72 648 72 72 re f");
    const RasterImage anticlockwise = Raster::pdf(back, 0, 150);
    ASSERT_EQ(anticlockwise.width(), 1650);
    ASSERT_EQ(anticlockwise.height(), 1275);
    EXPECT_TRUE(dark(anticlockwise, 225, 1275 - 225));
    EXPECT_TRUE(white(anticlockwise, 1650 - 225, 225));
    EXPECT_TRUE(white(anticlockwise, 225, 225));
}

TEST(Raster, LockedPDFNeedsItsPassword) {
    test::TempDir dir;
    const fs::path plain = letterPDF(dir);
    const fs::path locked = dir / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "ひらけ-1234", "owner-secret", "256", "--", plain.string(),
                                locked.string()}),
              0);
    EXPECT_CASE(Raster::pdf(locked, 0, 150), lockedPDF);
    EXPECT_CASE(Raster::pdf(locked, 0, 150, std::string("wrong")), lockedPDF);
    EXPECT_CASE(Raster::pdf(locked, 0, 150, std::string("")), lockedPDF);
    EXPECT_CASE(Raster::pdfPageCount(locked), lockedPDF);
    const RasterImage page = Raster::pdf(locked, 0, 150, std::string("ひらけ-1234"));
    EXPECT_EQ(page.width(), 1275);
    EXPECT_EQ(page.height(), 1650);
    EXPECT_TRUE(dark(page, 225, 225));
    // A password given for an unlocked document is ignored.
    EXPECT_EQ(Raster::pdf(plain, 0, 150, std::string("anything")).width(), 1275);
}

TEST(Raster, OversizePagesAreRefused) {
    test::TempDir dir;
    const fs::path poster = dir / "poster.pdf";
    test::writePDF(poster, {{14400, 14400}}, [](cairo_t*, int, test::PageSize) {});
    // 200 inches at 150 dpi is 30000 pixels a side.
    EXPECT_CASE(Raster::pdf(poster, 0, 150), budgetExceeded);
    // 20000 pixels a side passes the side limit but not the memory estimate.
    EXPECT_CASE(Raster::pdf(poster, 0, 100), budgetExceeded);

    const fs::path letter = letterPDF(dir);
    CaptureBudget::ScopedPhysicalMemory twoGiB(2 * GiB);
    EXPECT_CASE(Raster::pdf(letter, 0, 600), budgetExceeded);
    EXPECT_EQ(Raster::pdf(letter, 0, 300).width(), 2550);
}

TEST(Raster, APageImageBeyondWhatThePageLeavesFailsThePage) {
    test::TempDir dir;
    // A line of 33,000 pixels, more than cairo can hold, and a square of
    // 5,200 pixels a side, which Poppler would decode into 108 MB.
    test::writeImagePagePDF(dir / "line.pdf", 33000, 1);
    test::writeImagePagePDF(dir / "square.pdf", 5200, 5200);
    CaptureBudget::ScopedPhysicalMemory eightGiB(8 * GiB);
    EXPECT_CASE(Raster::pdf(dir / "line.pdf", 0, 300), dimensionOverflow);
    EXPECT_CASE(Raster::PDFPages(dir / "line.pdf").png(0, 300), dimensionOverflow);
    // The square fits beside an A4 page with 768 MiB, not with 384 MiB.
    EXPECT_TRUE(dark(Raster::pdf(dir / "square.pdf", 0, 300), 1000, 300));
    CaptureBudget::ScopedPhysicalMemory twoGiB(2 * GiB);
    EXPECT_CASE(Raster::pdf(dir / "square.pdf", 0, 300), dimensionOverflow);
}

TEST(Raster, NonPDFFilesAreInvalidInput) {
    test::TempDir dir;
    test::writeFile(dir / "text.pdf", "%PDF-1.4 but nothing else");
    solidPNG(dir / "image.pdf", 8, 8);
    fs::create_directory(dir / "folder.pdf");
    ASSERT_EQ(::mkfifo((dir / "pipe.pdf").c_str(), 0600), 0);
    for (const char* name : {"text.pdf", "image.pdf", "folder.pdf", "pipe.pdf", "missing.pdf"}) {
        EXPECT_CASE(Raster::pdf(dir / name, 0, 150), invalidInput);
    }
}

TEST(Raster, PNGEncodingRoundTripsPixelExact) {
    test::TempDir dir;
    for (int channels : {3, 4}) {
        const auto original = test::makeImage(257, 61, channels, [channels](int x, int y, uint8_t* p) {
            for (int c = 0; c < channels; ++c) p[c] = static_cast<uint8_t>((x * 7 + y * 13 + c * 101) % 256);
        });
        const std::vector<uint8_t> bytes = Raster::png(original);
        ASSERT_GT(bytes.size(), 8u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "\x89PNG\r\n\x1a\n");
        const fs::path file = dir / ("round" + std::to_string(channels) + ".png");
        test::writeFile(file, std::string(bytes.begin(), bytes.end()));
        const RasterImage back = Raster::image(file).image;
        ASSERT_EQ(back.width(), original.width());
        ASSERT_EQ(back.height(), original.height());
        ASSERT_EQ(back.channels(), channels);
        for (int y = 0; y < back.height(); ++y) {
            for (int x = 0; x < back.width(); ++x) {
                ASSERT_EQ(test::pixelAt(back, x, y), test::pixelAt(original, x, y)) << x << "," << y;
            }
        }
    }
    // A rendered page encodes too.
    const RasterImage page = Raster::pdf(letterPDF(dir), 0, 36);
    const auto encoded = Raster::png(page);
    test::writeFile(dir / "page.png", std::string(encoded.begin(), encoded.end()));
    EXPECT_EQ(Raster::image(dir / "page.png").image.width(), 306);
    EXPECT_CASE(Raster::png(RasterImage()), renderFailed);
}

TEST(Raster, PagesLoadConcurrently) {
    test::TempDir dir;
    const fs::path pdf = dir / "pages.pdf";
    test::writePDF(pdf, {{612, 792}, {612, 792}, {612, 792}, {612, 792}}, [](cairo_t* cr, int page, test::PageSize) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, 72 + page * 100, 72, 72, 72);
        cairo_fill(cr);
    });
    const auto photo = test::makeImage(300, 200, 3, [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y);
        p[2] = static_cast<uint8_t>(x + y);
    });
    test::writeJPEG(dir / "photo.jpg", photo, 6);

    std::vector<std::vector<uint8_t>> expected;
    for (int page = 0; page < 4; ++page) expected.push_back(Raster::png(Raster::pdf(pdf, page, 100)));
    const auto expectedPreview = Raster::png(Raster::preview(dir / "photo.jpg"));

    std::vector<std::vector<uint8_t>> pages(4), previews(4);
    std::vector<std::thread> workers;
    for (int page = 0; page < 4; ++page) {
        workers.emplace_back([&, page] {
            for (int round = 0; round < 3; ++round) {
                pages[page] = Raster::png(Raster::pdf(pdf, page, 100));
                previews[page] = Raster::png(Raster::preview(dir / "photo.jpg"));
            }
        });
    }
    for (auto& w : workers) w.join();
    for (int page = 0; page < 4; ++page) {
        EXPECT_EQ(pages[page], expected[page]) << page;
        EXPECT_EQ(previews[page], expectedPreview) << page;
    }
    EXPECT_NE(expected[0], expected[1]);
}

namespace {

// Gradients and a scaled image, which the renderer samples in fixed point
// from the surface's origin, or text, hairlines and flat fills, which it
// puts on whole pixels.
void drawSampled(cairo_t* cr, int page, test::PageSize size) {
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, size.height);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 1, 0.9, 0.8);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.2, 0.4, 0.9);
    cairo_set_source(cr, gradient);
    cairo_rectangle(cr, 20, 20, size.width / 3, size.height - 40);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 7, 5);
    cairo_surface_flush(image);
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image));
    for (int i = 0; i < 35; ++i) px[i] = 0x010203u * static_cast<uint32_t>(i * 7 + page);
    cairo_surface_mark_dirty(image);
    cairo_save(cr);
    cairo_translate(cr, size.width / 2, 40.3);
    cairo_scale(cr, 33.3, size.height / 5.5);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
}

void drawCrisp(cairo_t* cr, int, test::PageSize size) {
    cairo_set_source_rgb(cr, 0.9, 0.3, 0.1);
    cairo_rectangle(cr, 15.5, 100.25, size.width / 4, size.height / 3);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.3);
    for (double y = 50.17; y < size.height; y += 13.31) {
        cairo_move_to(cr, 10, y);
        cairo_line_to(cr, size.width - 10, y + 3.7);
    }
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10.7);
    for (double y = 30.5; y < size.height; y += 17.9) {
        cairo_move_to(cr, size.width / 3 + 30.25, y);
        cairo_show_text(cr, "Velmora 0123456789 the quick brown fox");
    }
}

}  // namespace

// Pages drawn band by band into the encoder: text, hairlines and flat fills
// give exactly the bytes of the whole page drawn and encoded, at resolutions
// whose bands end at every kind of row and on a rotated page; gradients and
// a scaled image stay within a few levels of it on every row, band edges
// included. Pages drawn at once on threads of their own, each with its own
// document, are the same.
TEST(Raster, PagesDrawnInBandsAreTheWholePages) {
    test::TempDir dir;
    const std::vector<test::PageSize> sizes{{595.28, 841.89}, {612, 792}, {300, 2000}};
    const fs::path crisp = dir / "crisp.pdf";
    test::writePDF(crisp, sizes, drawCrisp);
    Raster::PDFPages pages(crisp);
    ASSERT_EQ(pages.count(), 3);
    for (double dpi : {36.0, 97.0, 150.0, 300.0}) {
        for (int page = 0; page < 3; ++page) {
            SCOPED_TRACE("page " + std::to_string(page) + " at " + std::to_string(dpi) + " dpi");
            EXPECT_TRUE(pages.png(page, dpi) == Raster::png(Raster::pdf(crisp, page, dpi)));
        }
    }
    EXPECT_CASE(pages.png(3, 150), invalidInput);
    EXPECT_CASE(pages.png(-1, 150), invalidInput);
    EXPECT_CASE(pages.png(0, 601), invalidInput);

    const fs::path turned = dir / "turned.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", crisp.string(), "--rotate=+90:2", turned.string()}), 0);
    EXPECT_TRUE(Raster::PDFPages(turned).png(1, 300) == Raster::png(Raster::pdf(turned, 1, 300)));

    const fs::path sampled = dir / "sampled.pdf";
    test::writePDF(sampled, sizes, drawSampled);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE("sampled page " + std::to_string(page));
        const fs::path file = dir / ("banded-" + std::to_string(page) + ".png");
        const std::vector<uint8_t> banded = Raster::PDFPages(sampled).png(page, 300);
        test::writeFile(file, std::string(banded.begin(), banded.end()));
        const RasterImage a = Raster::image(file).image;
        const RasterImage b = Raster::pdf(sampled, page, 300);
        ASSERT_EQ(a.width(), b.width());
        ASSERT_EQ(a.height(), b.height());
        int worst = 0;
        for (int y = 0; y < a.height(); ++y) {
            const uint8_t* ra = a.pixels() + static_cast<std::ptrdiff_t>(a.rowStride()) * y;
            const uint8_t* rb = b.pixels() + static_cast<std::ptrdiff_t>(b.rowStride()) * y;
            for (int i = 0; i < a.width() * 3; ++i) worst = std::max(worst, std::abs(ra[i] - rb[i]));
        }
        EXPECT_LE(worst, 4);
    }

    std::vector<std::vector<uint8_t>> drawn(3);
    std::vector<std::thread> threads;
    for (int page = 0; page < 3; ++page) {
        threads.emplace_back([&, page] { drawn[page] = Raster::PDFPages(crisp).png(page, 300); });
    }
    for (auto& t : threads) t.join();
    for (int page = 0; page < 3; ++page) EXPECT_TRUE(drawn[page] == Raster::png(Raster::pdf(crisp, page, 300)));
}

// The encoder that follows a buffer being filled gives the bytes of the
// whole buffer's encoder, waits for rows, and gives up on a row that is not
// opaque or when told to.
TEST(Raster, AnOpaqueBufferEncodedWhileFilledIsTheWholeBuffersPNG) {
    PixelBuffer image(301, 997);
    for (int64_t y = 0; y < image.height(); ++y) {
        uint8_t* row = image.row(y);
        for (int64_t x = 0; x < image.width(); ++x) {
            row[x * 4] = static_cast<uint8_t>(x * 3 + y);
            row[x * 4 + 1] = static_cast<uint8_t>(x ^ y);
            row[x * 4 + 2] = static_cast<uint8_t>(y / 4);
            row[x * 4 + 3] = 0xff;
        }
    }
    std::vector<int64_t> asked;
    const auto streamed = Raster::opaquePNG(image, [&](int64_t y) {
        asked.push_back(y);
        return true;
    });
    ASSERT_TRUE(streamed);
    EXPECT_TRUE(*streamed == Raster::png(image));
    ASSERT_EQ(asked.size(), 997u);
    EXPECT_EQ(asked.front(), 0);
    EXPECT_EQ(asked.back(), 996);

    EXPECT_FALSE(Raster::opaquePNG(image, [](int64_t y) { return y < 500; }));
    image.row(700)[3] = 0x80;
    EXPECT_FALSE(Raster::opaquePNG(image, [](int64_t) { return true; }));
}
