#include "recognition/page/OCRProduct.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora::OCRProduct {

namespace {

// A text with every character replaced by its full case folding, remembering
// where each folded unit came from, so that a match in the folded text maps
// back to whole characters of the original.
struct FoldedText {
    std::u16string units;
    // Per folded unit: the original character's start and end (UTF-16), and
    // whether the unit is the first of that character's folding.
    std::vector<int64_t> sourceStart;
    std::vector<int64_t> sourceEnd;
    std::vector<bool> startsCharacter;
};

FoldedText fold(const std::u16string& text) {
    FoldedText out;
    out.units.reserve(text.size());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(text.data(), i, length, c);
        std::array<UChar, 8> folded{};
        UErrorCode status = U_ZERO_ERROR;
        int32_t n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), text.data() + start, i - start,
                                  U_FOLD_CASE_DEFAULT, &status);
        std::u16string_view piece;
        if (U_FAILURE(status) || n <= 0 || n > static_cast<int32_t>(folded.size())) {
            // Folding never grows a character past three units; should ICU
            // refuse anyway, the character stands for itself.
            piece = std::u16string_view(text).substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
        } else {
            piece = std::u16string_view(reinterpret_cast<const char16_t*>(folded.data()), static_cast<std::size_t>(n));
        }
        for (std::size_t k = 0; k < piece.size(); ++k) {
            out.units.push_back(piece[k]);
            out.sourceStart.push_back(start);
            out.sourceEnd.push_back(i);
            out.startsCharacter.push_back(k == 0);
        }
    }
    return out;
}

}  // namespace

std::string pageSeparator(int64_t page) { return "--- ページ " + std::to_string(page) + " ---"; }

std::string text(const std::vector<Page>& pages, bool separators) {
    std::string out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) out += "\n\n";
        if (separators) out += pageSeparator(static_cast<int64_t>(i) + 1) + "\n";
        const Page& p = pages[i];
        if (p.complete) out += p.text;
        else out += incompletePageText;
    }
    return out;
}

std::string readable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, "\n\n") == 0) {
            out += "\n\n";
            i += 2;
        } else if (text[i] == '\n') {
            out += ' ';
            ++i;
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

std::vector<Match> matches(std::string_view query, const std::vector<Page>& pages) {
    std::vector<Match> out;
    if (query.empty()) return out;
    const FoldedText needle = fold(Unicode::toUTF16(query));
    if (needle.units.empty()) return out;
    for (const Page& page : pages) {
        if (page.text.empty()) continue;
        const FoldedText hay = fold(Unicode::toUTF16(page.text));
        std::size_t from = 0;
        while (from < hay.units.size()) {
            const std::size_t at = hay.units.find(needle.units, from);
            if (at == std::u16string::npos) break;
            const std::size_t end = at + needle.units.size();
            // Only whole characters match: "ﬁ" folds to "fi", and "f" alone
            // is no match for it.
            const bool whole = hay.startsCharacter[at] && (end == hay.units.size() || hay.startsCharacter[end]);
            if (!whole) {
                from = at + 1;
                continue;
            }
            const int64_t location = hay.sourceStart[at];
            const int64_t length = hay.sourceEnd[end - 1] - location;
            if (length <= 0) break;
            out.push_back({page.inputID, page.page, {location, length}});
            from = end;
        }
    }
    return out;
}

std::vector<TextRange> recognitionLowRanges(std::string_view original, const std::vector<TextRegion>& regions) {
    std::vector<TextRange> out;
    if (regions.empty()) return out;
    std::string joined;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += regions[i].text;
    }
    // Identity, not canonical equivalence: a text re-spelled in another
    // normal form has other UTF-16 lengths, and ranges taken from the regions
    // would fall in the wrong places or past its end.
    if (!sameUTF16(joined, original)) return out;
    const auto total = static_cast<int64_t>(Unicode::utf16Length(original));
    int64_t offset = 0;
    for (const TextRegion& region : regions) {
        const auto length = static_cast<int64_t>(Unicode::utf16Length(region.text));
        if (region.lowConfidence() && length >= 1) {
            const int64_t location = std::min(offset, total);
            out.push_back({location, std::min(length, total - location)});
        }
        offset += length + 1;
    }
    return out;
}

double previewWidth(double preferred, double available) {
    const double a = std::isfinite(available) ? std::max(available, 1.0) : 648.0;
    const double upper = std::max(a - 8 - std::min(a * 0.5, 320.0), 1.0);
    const double lower = std::min(upper, 300.0);
    const double wanted = std::isfinite(preferred) && preferred > 0 ? preferred : 360.0;
    return std::min(std::max(wanted, lower), upper);
}

std::string lowercaseExtension(const std::filesystem::path& url) {
    const std::string name = url.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = name.substr(dot + 1);
    // ASCII folding is exact here: no other character lower-cases to a letter
    // of an accepted extension.
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

bool isPDF(const std::filesystem::path& url) { return lowercaseExtension(url) == "pdf"; }

bool accepts(const std::filesystem::path& url) {
    if (!url.is_absolute() || !url.has_filename()) return false;
    const std::string ext = lowercaseExtension(url);
    return ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "pdf";
}

std::string pageStem(std::string_view stem, int64_t page) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%04lld", static_cast<long long>(page));
    return SecureDirectory::safeStem(stem) + suffix;
}

bool sameUTF16(std::string_view a, std::string_view b) {
    // UTF-8 and UTF-16 encode the same scalars one to one, so equal bytes
    // are equal code units; no normalisation takes place.
    return a == b;
}

}  // namespace velmora::OCRProduct
