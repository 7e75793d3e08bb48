#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <cairo.h>

#include "foundation/Raster.hpp"

namespace velmora::test {

// Writes an 8-bit RGB or RGBA PNG with libpng one row at a time, so even a
// very large image costs one row of memory. fillRow gets the row index and
// width × channels bytes to fill.
void writePNG(const std::filesystem::path& path, int width, int height, int channels,
              const std::function<void(int y, uint8_t* row)>& fillRow, int compressionLevel = 1);

// Writes a JPEG through gdk-pixbuf's own saver; with an orientation, an EXIF
// segment carrying that Orientation tag is spliced in after the start marker.
void writeJPEG(const std::filesystem::path& path, const RasterImage& image,
               std::optional<uint16_t> exifOrientation = std::nullopt);

// A PDF made with cairo: one page per size (points), each drawn by draw.
struct PageSize {
    double width;
    double height;
};
void writePDF(const std::filesystem::path& path, const std::vector<PageSize>& pages,
              const std::function<void(cairo_t*, int page, PageSize size)>& draw);

// A one-page PDF written by hand, for page dictionaries cairo cannot make
// (an arbitrary /Rotate). The content stream is raw PDF operators.
void writeHandmadePDF(const std::filesystem::path& path, double width, double height, int rotate,
                      const std::string& content);
// A PDF of the given objects, numbered from 1 (object 1 is the catalogue),
// with its cross-reference table.
void writeRawPDF(const std::filesystem::path& path, const std::vector<std::string>& objects);

// An A4 page holding one grey image of one bit a pixel inside margins of 50
// points, in bands of 400 rows, black first, then white; packed with the
// run-length filter, so the file stays small however many pixels it has.
void writeImagePagePDF(const std::filesystem::path& path, int imageWidth, int imageHeight);

// Runs a program without a shell and returns its exit status.
int runProgram(const std::vector<std::string>& argv);

// An image filled with one colour per pixel from a function of (x, y).
RasterImage makeImage(int width, int height, int channels,
                      const std::function<void(int x, int y, uint8_t* pixel)>& colour);

// The channels of one pixel.
std::vector<uint8_t> pixelAt(const RasterImage& image, int x, int y);

}  // namespace velmora::test
