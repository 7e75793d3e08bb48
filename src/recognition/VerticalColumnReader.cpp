#include "recognition/VerticalColumnReader.hpp"

#include <algorithm>
#include <memory>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/TesseractEngines.hpp"

namespace velmora::VerticalColumnReader {

namespace {

using VerticalResearch::ColumnPiece;
using VerticalResearch::Run;

std::string takeText(char* text) {
    std::unique_ptr<char[]> owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

bool blank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; });
}

}  // namespace

std::vector<ColumnPiece> read(const GreyPage& page, Run column, const std::vector<Run>& glyphs,
                              const OCRSettings& settings, const VerticalResearch::Poll& poll) {
    if (glyphs.empty()) return {};
    // The glyph polls come first, as when a strip is drawn glyph by glyph.
    for (std::size_t k = 0; k < glyphs.size(); ++k) poll();

    const int x0 = std::max(column.start - margin, 0);
    const int x1 = std::min(column.end + margin, page.width);
    const int y0 = std::max(glyphs.front().start - margin, 0);
    const int y1 = std::min(glyphs.back().end + margin, page.height);
    GreyPage cut;
    cut.width = x1 - x0;
    cut.height = y1 - y0;
    cut.pixels.resize(static_cast<std::size_t>(cut.width) * cut.height);
    for (int y = y0; y < y1; ++y) {
        std::copy_n(page.pixels.data() + static_cast<std::size_t>(y) * page.width + x0, cut.width,
                    cut.pixels.data() + static_cast<std::size_t>(y - y0) * cut.width);
    }
    const GreyPage readable = cut.forRecognition();
    const double back = static_cast<double>(cut.height) / readable.height;

    // The settings pass the same checks as for a strip read by the standard
    // pass (revision, languages); the column itself is read with the
    // vertical Japanese data whatever the languages, since vertical text is
    // Japanese.
    OCRSettings standard = settings;
    standard.mode = OCRMode::standard;
    standard.preprocessing = "none";
    const TextRequest request = OCREngine::request(standard);
    TesseractEngines::Configuration configuration;
    configuration.languages = "jpn_vert";
    configuration.dictionaries = request.usesLanguageCorrection;
    if (configuration.dictionaries) configuration.userWords = request.customWords;
    poll();
    tesseract::TessBaseAPI& api = TesseractEngines::engine(configuration);
    // The engine is shared with later calls on this thread: whatever happens
    // here, it lets go of the page and gets its own page segmentation back.
    struct Restore {
        tesseract::TessBaseAPI& api;
        tesseract::PageSegMode mode;
        ~Restore() {
            api.Clear();
            api.SetPageSegMode(mode);
        }
    } restore{api, api.GetPageSegMode()};
    api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK_VERT_TEXT);
    api.SetImage(readable.pixels.data(), readable.width, readable.height, 1, readable.width);
    if (readable.resolution > 0) api.SetSourceResolution(readable.resolution);
    if (api.Recognize(nullptr) != 0) throw RecognizerError("Tesseract failed to recognise a vertical column");

    // A line's glyphs are the cells its box overlaps. The line boxes come
    // from the layout analysis on the column's own pixels; the boxes of the
    // symbols and words within a vertical line do not: the recogniser
    // measures them along the line turned on its side and reports most of
    // them collapsed near the line's bottom (left and right both 0), which
    // tied a whole column to its last two or three cells.
    const auto cellsOf = [&](const tesseract::ResultIterator& line) {
        std::vector<std::size_t> cells;
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!line.BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) return cells;
        const double lineTop = y0 + top * back;
        const double lineBottom = y0 + bottom * back;
        for (std::size_t k = 0; k < glyphs.size(); ++k) {
            if (glyphs[k].start < lineBottom && lineTop < glyphs[k].end) cells.push_back(k);
        }
        return cells;
    };
    std::vector<ColumnPiece> pieces;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it) {
        it->Begin();
        ColumnPiece* current = nullptr;
        do {
            if (!current || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                pieces.push_back({});
                current = &pieces.back();
                current->confidence = std::clamp(it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
                current->glyphs = cellsOf(*it);
            }
            if (it->Empty(tesseract::RIL_SYMBOL)) continue;
            const std::string symbol = takeText(it->GetUTF8Text(tesseract::RIL_SYMBOL));
            if (!blank(symbol)) current->text += symbol;
        } while (it->Next(tesseract::RIL_SYMBOL));
    }
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(), [](const ColumnPiece& p) { return p.text.empty(); }),
                 pieces.end());
    poll();
    return pieces;
}

}  // namespace velmora::VerticalColumnReader
