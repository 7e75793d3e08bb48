#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora::sweep {

// Pages no reading is made for, drawn at run time: empty, tiny and
// lopsided images, ink without text, text turned, at sizes far from a
// book's, mixed orientations, a photograph-like image, a table of figures.
// Each reading of one must end in text or a refusal with its reason.
std::vector<std::string> hostilePageNames();

// The page of that name; an unknown name is a fault of the caller.
RasterImage hostilePage(const std::string& name);

// Files as users bring them, written into the folder: a text page cut at
// half its bytes as PNG and as JPEG, a JPEG named .png, TIFF, BMP, GIF and
// SVG named .png, a 48-megapixel phone photo, and A4 PDF pages
// holding an image of 20,000 pixels square and one 33,000 pixels long. The
// reading of each opens it as the OCR section does (a PDF's first page at
// 300 dpi) and must end in text or a refusal with its reason.
std::vector<std::filesystem::path> writeHostileFiles(const std::filesystem::path& folder);

// The file's page as the OCR section loads it, with its orientation.
Raster::SourceImage loadHostileFile(const std::filesystem::path& file);

}  // namespace velmora::sweep
