#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "recognition/page/OCRTypes.hpp"
#include "foundation/TextRange.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// Pure operations between recognised pages and the people who read them:
// the combined text of a queue, its readable form, search, low-confidence
// spans, the preview column's width, which files can be recognised and the
// names of per-page outputs. Every range is in UTF-16 code units.
namespace OCRProduct {

inline constexpr std::string_view incompletePageText = "［未完了のページ］";

struct Page {
    UUID inputID;
    int64_t page = 0;
    std::string text;
    bool complete = false;
};

struct Match {
    UUID inputID;
    int64_t page = 0;
    TextRange range;

    bool operator==(const Match&) const = default;
};

// The line that heads page N of a text, in the Japanese of the document
// headers ("=== 文書 1: … ==="): "--- ページ N ---".
std::string pageSeparator(int64_t page);

// The pages' bodies (the placeholder for an incomplete page) joined by a
// blank line; with separators each body is headed by pageSeparator(N), N
// being the position in the list from 1.
std::string text(const std::vector<Page>& pages, bool separators);

// Line breaks inside paragraphs become spaces; paragraphs stay apart.
std::string readable(std::string_view text);

// Every non-overlapping case-insensitive occurrence of the query, page by
// page. Case is compared by full Unicode case folding of each character;
// width, accents and kana are not folded.
std::vector<Match> matches(std::string_view query, const std::vector<Page>& pages);

// The spans of the page text that low-confidence regions produced, as long as
// the text is still exactly (code unit for code unit) what the regions make;
// an edited text gets none. Every range lies within the text.
std::vector<TextRange> recognitionLowRanges(std::string_view original, const std::vector<TextRegion>& regions);

// The width of the source preview column in a row of the available width.
double previewWidth(double preferred, double available);

// Whether a file can be put in the OCR queue: an absolute file path ending in
// .png, .jpg, .jpeg or .pdf, in any letter case.
bool accepts(const std::filesystem::path& url);

// The file name's extension without its dot, in ASCII lower case; empty when
// there is none (a leading dot starts a hidden name, not an extension).
std::string lowercaseExtension(const std::filesystem::path& url);
// Whether a source is read as a PDF (by its extension, in any letter case).
bool isPDF(const std::filesystem::path& url);

// The stem of a per-page output: the safe stem and "_%04d".
std::string pageStem(std::string_view stem, int64_t page);

// Exact identity of two texts: canonically equivalent spellings differ.
bool sameUTF16(std::string_view a, std::string_view b);

}  // namespace OCRProduct
}  // namespace velmora
