#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "foundation/Raster.hpp"
#include "history/HistoryThumbnailCache.hpp"
#include "history/ThumbnailRenderer.hpp"
#include "support/Bounded.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::require;
namespace fs = std::filesystem;
using Data = HistoryThumbnailCache::Data;

namespace {

// The size of a PNG from its header.
std::pair<int, int> pngSize(const Data& data) {
    if (data.size() < 24) return {0, 0};
    auto be = [&](std::size_t at) {
        return static_cast<int>((uint32_t{data[at]} << 24) | (uint32_t{data[at + 1]} << 16) |
                                (uint32_t{data[at + 2]} << 8) | data[at + 3]);
    };
    return {be(16), be(20)};
}

RasterImage decode(const Data& data, const fs::path& scratch) {
    test::writeFile(scratch, std::string(data.begin(), data.end()));
    return Raster::image(scratch).image;
}

// A PNG in any stored form, written with libpng: the test support's writer
// makes 8-bit, non-interlaced files only.
void writeStoredPNG(const fs::path& path, uint32_t width, uint32_t height, int bitDepth, int colourType, int interlace,
                    const std::function<void(uint32_t y, uint8_t* row)>& fill) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path.string());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, width, height, bitDepth, colourType, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            fill(y, row.data());
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

std::optional<Data> loadOnce(HistoryThumbnailCache& cache, UUID id, const fs::path& url) {
    return test::runTask([](HistoryThumbnailCache& c, UUID i, fs::path u) -> Task<std::optional<Data>> {
        auto load = c.load(i, u);
        co_return co_await load;
    }(cache, id, url));
}

class ThumbnailCache : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path storage = tmp / "storage";
    fs::path folder = storage / HistoryThumbnailCache::folderName;
    fs::path out = tmp / "out";

    ThumbnailCache() {
        fs::create_directories(storage);
        fs::create_directories(out);
    }

    fs::path stored(UUID id) const { return folder / (id.text() + ".png"); }

    // A picture whose left half is red and right half blue.
    fs::path picture(const std::string& name, int width, int height) const {
        const fs::path p = out / name;
        test::writePNG(p, width, height, 3, [width](int, uint8_t* row) {
            for (int x = 0; x < width; ++x) {
                row[x * 3 + 0] = x < width / 2 ? 255 : 0;
                row[x * 3 + 2] = x < width / 2 ? 0 : 255;
            }
        });
        return p;
    }
};

}  // namespace

TEST_F(ThumbnailCache, RendersOnceThenServesFromMemoryAndFromItsFile) {
    HistoryThumbnailCache cache(storage);
    const UUID id = UUID::random();
    const fs::path source = picture("wide.png", 300, 200);

    const auto first = loadOnce(cache, id, source);
    ASSERT_TRUE(first);
    EXPECT_EQ(pngSize(*first), std::make_pair(120, 80));
    const RasterImage image = decode(*first, tmp / "check.png");
    EXPECT_EQ(test::pixelAt(image, 10, 40), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(test::pixelAt(image, 110, 40), (std::vector<uint8_t>{0, 0, 255}));
    // Written beside the history, named by the id.
    EXPECT_EQ(test::readFile(stored(id)), std::string(first->begin(), first->end()));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

    // The source gone and the file gone: memory still has it.
    fs::remove(source);
    fs::rename(stored(id), tmp / "kept.png");
    EXPECT_EQ(loadOnce(cache, id, source), first);

    // A new run starts with empty memory and reads the file.
    fs::rename(tmp / "kept.png", stored(id));
    HistoryThumbnailCache later(storage);
    EXPECT_EQ(loadOnce(later, id, source), first);
}

// A sliver an earlier version stored for a tall page is made again from the
// page and replaced; a thumbnail that keeps to the proportion is served as
// stored.
TEST_F(ThumbnailCache, AStoredSliverOfATallPageIsMadeAgain) {
    fs::create_directories(folder);
    const fs::path page = picture("long.png", 1280, 9000);
    const UUID old = UUID::random();
    test::writePNG(stored(old), 17, 120, 3, [](int, uint8_t* row) { std::memset(row, 0, 17 * 3); });
    const std::string sliver = test::readFile(stored(old));
    ASSERT_TRUE(ThumbnailRenderer::outdated(Data(sliver.begin(), sliver.end())));
    HistoryThumbnailCache cache(storage);
    const auto again = loadOnce(cache, old, page);
    ASSERT_TRUE(again);
    EXPECT_EQ(pngSize(*again), std::make_pair(80, 120));
    EXPECT_EQ(test::readFile(stored(old)), std::string(again->begin(), again->end()));

    const UUID kept = UUID::random();
    test::writePNG(stored(kept), 120, 80, 3, [](int, uint8_t* row) { std::memset(row, 7, 120 * 3); });
    const std::string before = test::readFile(stored(kept));
    const auto served = loadOnce(cache, kept, page);
    ASSERT_TRUE(served);
    EXPECT_EQ(std::string(served->begin(), served->end()), before);
}

TEST_F(ThumbnailCache, AStoredFileOverTheLimitGivesNothingAndStays) {
    HistoryThumbnailCache cache(storage);
    fs::create_directories(folder);
    const UUID over = UUID::random();
    const UUID atLimit = UUID::random();
    test::writeFile(stored(over), std::string(HistoryThumbnailCache::largestThumbnail + 1, 'x'));
    test::writeFile(stored(atLimit), std::string(HistoryThumbnailCache::largestThumbnail, 'y'));
    // Even with a source that would render, the oversized file wins.
    const fs::path source = picture("p.png", 40, 40);

    for (int i = 0; i < 2; ++i) EXPECT_FALSE(loadOnce(cache, over, source)) << "attempt " << i;
    EXPECT_EQ(fs::file_size(stored(over)), HistoryThumbnailCache::largestThumbnail + 1);
    const auto exact = loadOnce(cache, atLimit, source);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->size(), HistoryThumbnailCache::largestThumbnail);
}

TEST_F(ThumbnailCache, MemoryEvictsInInsertionOrderAndAHitDoesNotRefresh) {
    HistoryThumbnailCache cache(storage);
    fs::create_directories(folder);
    std::vector<UUID> ids;
    for (int i = 0; i < 65; ++i) {
        ids.push_back(UUID::random());
        test::writeFile(stored(ids.back()), "thumbnail " + std::to_string(i));
    }
    const fs::path none = out / "none.png";
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(loadOnce(cache, ids[i], none));
    ASSERT_TRUE(loadOnce(cache, ids[0], none));  // asked again: not made younger
    ASSERT_TRUE(loadOnce(cache, ids[64], none));

    // With the files gone only memory answers.
    for (const UUID& id : ids) fs::remove(stored(id));
    EXPECT_FALSE(loadOnce(cache, ids[0], none)) << "the first id in was the first out";
    const auto second = loadOnce(cache, ids[1], none);
    ASSERT_TRUE(second);
    EXPECT_EQ(std::string(second->begin(), second->end()), "thumbnail 1");
    EXPECT_TRUE(loadOnce(cache, ids[64], none));
}

TEST_F(ThumbnailCache, RetainDeletesTheThumbnailsOfEntriesNoLongerListed) {
    HistoryThumbnailCache cache(storage);
    const UUID kept = UUID::random();
    const UUID dropped = UUID::random();
    const fs::path source = picture("p.png", 50, 50);
    ASSERT_TRUE(loadOnce(cache, kept, source));
    ASSERT_TRUE(loadOnce(cache, dropped, source));
    const UUID lower = UUID::random();
    std::string lowerName = lower.text();
    for (char& c : lowerName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& name : {lowerName + ".png", std::string("notes.txt"), std::string("not-an-id.png"),
                                    kept.text() + ".png.tmp", std::string(".png")}) {
        test::writeFile(folder / name, "other");
    }
    fs::remove(source);

    // Queued behind the retain, so awaiting it waits for the clean-up too.
    cache.retain({kept});
    EXPECT_FALSE(loadOnce(cache, dropped, source)) << "gone from memory as well";
    EXPECT_TRUE(loadOnce(cache, kept, source));
    auto names = test::listNames(folder);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected{".png", kept.text() + ".png", kept.text() + ".png.tmp", "not-an-id.png",
                                      "notes.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);

    cache.retain({});
    EXPECT_FALSE(loadOnce(cache, kept, source));
    names = test::listNames(folder);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_FALSE(fs::exists(stored(kept)));

    // Without its folder retain creates nothing.
    HistoryThumbnailCache elsewhere(tmp / "fresh");
    elsewhere.retain({});
    EXPECT_FALSE(loadOnce(elsewhere, UUID::random(), out / "none.png"));
    EXPECT_FALSE(fs::exists(tmp / "fresh" / HistoryThumbnailCache::folderName / "x"));
}

TEST_F(ThumbnailCache, ACancelledTaskGetsNothingEvenFromMemory) {
    HistoryThumbnailCache cache(storage);
    const UUID id = UUID::random();
    const fs::path source = picture("p.png", 30, 30);
    ASSERT_TRUE(loadOnce(cache, id, source));

    auto result = std::make_shared<std::optional<std::optional<Data>>>();
    auto body = [](HistoryThumbnailCache& c, UUID i, fs::path u,
                   std::shared_ptr<std::optional<std::optional<Data>>> r) -> Task<void> {
        auto load = c.load(i, u);
        r->emplace(co_await load);
    };
    TaskHandle handle = spawn(body(cache, id, source, result));
    handle.cancel();
    ASSERT_TRUE(test::spinUntil([&] { return handle.done(); }));
    ASSERT_TRUE(result->has_value());
    EXPECT_FALSE(result->value());
}

TEST_F(ThumbnailCache, PDFsShowTheirFirstPageAndAnythingElseFallsBackToTheImage) {
    HistoryThumbnailCache cache(storage);
    const fs::path pdf = out / "page.PDF";
    test::writePDF(pdf, {{595, 842}, {842, 595}}, [](cairo_t* cr, int page, test::PageSize size) {
        cairo_set_source_rgb(cr, page == 0 ? 0 : 1, 0, page == 0 ? 0 : 1);
        cairo_rectangle(cr, 0, size.height / 2, size.width, size.height / 2);
        cairo_fill(cr);
    });
    const auto page = loadOnce(cache, UUID::random(), pdf);
    ASSERT_TRUE(page);
    EXPECT_EQ(pngSize(*page), std::make_pair(85, 120));
    const RasterImage drawn = decode(*page, tmp / "a.png");
    EXPECT_EQ(test::pixelAt(drawn, 40, 20), (std::vector<uint8_t>{255, 255, 255})) << "on white";
    EXPECT_EQ(test::pixelAt(drawn, 40, 100), (std::vector<uint8_t>{0, 0, 0}));

    // A page taller than 1:1.5 shows its top.
    const fs::path longPage = out / "long.pdf";
    test::writePDF(longPage, {{400, 4000}}, [](cairo_t* cr, int, test::PageSize size) {
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_rectangle(cr, 0, 0, size.width, 300);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 1);
        cairo_rectangle(cr, 0, 300, size.width, size.height - 300);
        cairo_fill(cr);
    });
    const auto longTop = loadOnce(cache, UUID::random(), longPage);
    ASSERT_TRUE(longTop);
    EXPECT_EQ(pngSize(*longTop), std::make_pair(80, 120));
    const RasterImage longDrawn = decode(*longTop, tmp / "l.png");
    EXPECT_EQ(test::pixelAt(longDrawn, 40, 20), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(test::pixelAt(longDrawn, 40, 110), (std::vector<uint8_t>{0, 0, 255}));

    // A PNG under a PDF's name is shown as the image it is.
    const fs::path disguised = out / "x.pdf";
    fs::copy_file(picture("inner.png", 240, 60), disguised);
    const auto image = loadOnce(cache, UUID::random(), disguised);
    ASSERT_TRUE(image);
    EXPECT_EQ(pngSize(*image), std::make_pair(120, 30));

    // A locked PDF cannot be drawn, and is no image either.
    const fs::path locked = out / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "pw", "owner", "256", "--", pdf.string(), locked.string()}), 0);
    EXPECT_FALSE(loadOnce(cache, UUID::random(), locked));
}

TEST_F(ThumbnailCache, ImagesAreUprightAndSmallWhateverTheirForm) {
    // A JPEG stored landscape with orientation 6 is shown portrait.
    const fs::path jpeg = out / "photo.jpg";
    test::writeJPEG(jpeg, test::makeImage(400, 300, 3, [](int x, int, uint8_t* p) {
                        p[0] = x < 200 ? 250 : 5;
                        p[1] = 5;
                        p[2] = x < 200 ? 5 : 250;
                    }),
                    6);
    auto turned = ThumbnailRenderer::render(jpeg);
    ASSERT_TRUE(turned);
    EXPECT_EQ(pngSize(*turned), std::make_pair(90, 120));
    const RasterImage upright = decode(*turned, tmp / "j.png");
    // Turned a quarter clockwise: the stored left (red) half is now on top.
    EXPECT_GT(test::pixelAt(upright, 45, 10)[0], 200);
    EXPECT_GT(test::pixelAt(upright, 45, 110)[2], 200);

    // A tall capture shows its top, cut to 1:1.5 of its width (1280 × 1920
    // of 1280 × 6000), at a width one can read: averaged, and the
    // transparency kept. What lies below never shows.
    const fs::path tall = out / "tall.png";
    test::writePNG(tall, 1280, 6000, 4, [](int y, uint8_t* row) {
        for (int x = 0; x < 1280; ++x) {
            uint8_t* p = row + x * 4;
            p[0] = y < 960 ? 200 : 0;
            p[1] = y >= 1920 ? 200 : 0;
            p[2] = y < 960 || y >= 1920 ? 0 : 200;
            // Columns alternate opaque and clear in the second quarter:
            // half coverage, the colour itself unchanged.
            p[3] = y < 960 || y >= 1920 ? 255 : (x % 2 ? 255 : 0);
        }
    });
    auto top = ThumbnailRenderer::render(tall);
    ASSERT_TRUE(top);
    EXPECT_EQ(pngSize(*top), std::make_pair(80, 120));
    EXPECT_FALSE(ThumbnailRenderer::outdated(*top));
    const RasterImage strip = decode(*top, tmp / "t.png");
    ASSERT_EQ(strip.channels(), 4);
    EXPECT_EQ(test::pixelAt(strip, 40, 10), (std::vector<uint8_t>{200, 0, 0, 255}));
    EXPECT_EQ(test::pixelAt(strip, 40, 110), (std::vector<uint8_t>{0, 0, 200, 128}));
    EXPECT_EQ(test::pixelAt(strip, 40, 119), (std::vector<uint8_t>{0, 0, 200, 128})) << "nothing from below";
    // A tall JPEG alike, cut after it is decoded at that width.
    const fs::path tallJPEG = out / "tall.jpg";
    test::writeJPEG(tallJPEG, test::makeImage(400, 3000, 3, [](int, int y, uint8_t* p) {
                        p[0] = y < 300 ? 250 : 5;
                        p[1] = 5;
                        p[2] = y < 300 ? 5 : 250;
                    }));
    auto topJPEG = ThumbnailRenderer::render(tallJPEG);
    ASSERT_TRUE(topJPEG);
    EXPECT_EQ(pngSize(*topJPEG), std::make_pair(80, 120));
    const RasterImage photo = decode(*topJPEG, tmp / "tj.png");
    EXPECT_GT(test::pixelAt(photo, 40, 5)[0], 200);
    EXPECT_GT(test::pixelAt(photo, 40, 110)[2], 200);

    // An image inside the box keeps its size; an interlaced PNG is decoded
    // whole instead of streamed.
    auto small = ThumbnailRenderer::render(picture("small.png", 30, 20));
    ASSERT_TRUE(small);
    EXPECT_EQ(pngSize(*small), std::make_pair(30, 20));
    const fs::path interlaced = out / "interlaced.png";
    writeStoredPNG(interlaced, 300, 200, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, [](uint32_t, uint8_t* row) {
        for (int x = 0; x < 300; ++x) row[x * 3] = 255, row[x * 3 + 1] = 0, row[x * 3 + 2] = 0;
    });
    auto fromInterlaced = ThumbnailRenderer::render(interlaced);
    ASSERT_TRUE(fromInterlaced);
    EXPECT_EQ(pngSize(*fromInterlaced), std::make_pair(120, 80));

    // Not an image at all, or cut short.
    test::writeFile(out / "text.png", "not a picture");
    EXPECT_FALSE(ThumbnailRenderer::render(out / "text.png"));
    const std::string whole = test::readFile(tall);
    test::writeFile(out / "cut.png", whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(ThumbnailRenderer::render(out / "cut.png"));
    EXPECT_FALSE(ThumbnailRenderer::render(out / "absent.png"));
}

TEST_F(ThumbnailCache, ASourceOverThePixelCapGivesNothing) {
    // 32768 × 32768 one-bit grey: 2^30 pixels declared in 128 MiB of rows
    // that deflate to almost nothing. Decoded, they would give a grey
    // thumbnail.
    const fs::path huge = out / "huge.png";
    writeStoredPNG(huge, 32768, 32768, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                   [](uint32_t, uint8_t* row) { std::memset(row, 0x55, 32768 / 8); });

    EXPECT_FALSE(ThumbnailRenderer::render(huge)) << "refused from the header, not decoded into grey";
}

TEST_F(ThumbnailCache, AFIFOAtTheOutputsPathGivesNothingAtOnce) {
    HistoryThumbnailCache cache(storage);
    for (const char* name : {"capture.png", "print.pdf"}) ASSERT_EQ(::mkfifo((out / name).c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(5,
                               [&] {
                                   HistoryThumbnailCache child(storage);
                                   for (const char* name : {"capture.png", "print.pdf"}) {
                                       require(!loadOnce(child, UUID::random(), out / name), "no thumbnail");
                                   }
                                   // The worker is free for the next entry.
                                   const fs::path p = out / "next.png";
                                   test::writePNG(p, 10, 10, 3, [](int, uint8_t*) {});
                                   require(loadOnce(child, UUID::random(), p).has_value(), "the next one renders");
                               }),
              0);
}
