#pragma once

// Small pictures of the user's own output files, for the history list.
//
// The files are whatever the user left at an output's path, so rendering
// assumes nothing about them: a file is opened without blocking and taken
// only when it is a regular file (a FIFO or a device there would otherwise
// hold the one thread that renders for good); the size is read from the
// header before any pixel is decoded and a source declaring more than
// maximumSourcePixels gives nothing; memory stays bounded whatever the size:
// a JPEG is shrunk by its decoder while it decodes, a PNG is read one row at
// a time into a box filter (a capture's tall PNG is often 1280 × 60,000
// pixels), any other image format is decoded under the raster load limit.
// A file whose extension is "pdf" in any case shows its first page; one that
// cannot be opened or drawn as a PDF is tried as an image.
//
// A page taller than tallestShown times its width (a tall capture: a page
// of 1280 × 60,000 would fit the box as a sliver 3 pixels wide) is shown by
// its top only, cut to that proportion, so that its thumbnail keeps a width
// the eye can read. A sheet of paper of any of the sizes offered (at most
// 1:√2) is shown whole. Every row of a PNG is still read, so that a damaged
// file gives nothing, as before.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::ThumbnailRenderer {

// The longest side of a thumbnail in pixels.
inline constexpr int box = 120;
// 2^29 pixels.
inline constexpr int64_t maximumSourcePixels = 536870912;
// The tallest part of a page shown, as its height over its width.
inline constexpr double tallestShown = 1.5;

// Whether stored thumbnail data is a PNG taller than tallestShown allows:
// a sliver of a tall page stored by an earlier version, to be made again.
// Data that is no PNG is not judged here.
bool outdated(const std::vector<uint8_t>& png);

// The file's thumbnail as PNG data, at most box pixels on its longest side
// and upright (EXIF orientation applied); nothing when the file gives none.
// Never throws; callable from any thread.
std::optional<std::vector<uint8_t>> render(const std::filesystem::path& url);

}  // namespace velmora::ThumbnailRenderer
