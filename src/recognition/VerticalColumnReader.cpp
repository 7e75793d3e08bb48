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

GreyPage lineOf(const GreyPage& page, Run column, int top, int bottom) {
    const int x0 = std::max(column.start - margin, 0);
    const int x1 = std::min(column.end + margin, page.width);
    const int y0 = std::max(top - margin, 0);
    const int y1 = std::min(bottom + margin, page.height);
    GreyPage line;
    line.width = std::max(y1 - y0, 0);
    line.height = std::max(x1 - x0, 0);
    line.pixels.resize(static_cast<std::size_t>(line.width) * line.height);
    // A quarter turn anticlockwise: the column's top comes to the line's
    // left end and its right edge to the line's top.
    for (int ly = 0; ly < line.height; ++ly) {
        const int x = x1 - 1 - ly;
        uint8_t* row = line.pixels.data() + static_cast<std::size_t>(ly) * line.width;
        for (int lx = 0; lx < line.width; ++lx) row[lx] = page.pixels[static_cast<std::size_t>(y0 + lx) * page.width + x];
    }
    return line;
}

std::vector<ColumnPiece> read(const GreyPage& page, Run column, const std::vector<Run>& glyphs,
                              const OCRSettings& settings, const VerticalResearch::Poll& poll) {
    if (glyphs.empty()) return {};
    // The glyph polls come first, as when a strip is drawn glyph by glyph.
    for (std::size_t k = 0; k < glyphs.size(); ++k) poll();

    const int top = glyphs.front().start;
    const int y0 = std::max(top - margin, 0);
    const GreyPage line = lineOf(page, column, top, glyphs.back().end);

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
    // The column turned on its side is read as one line, which is how the
    // vertical model reads the lines its own layout finds. Its layout is
    // left out: on a single column it often splits the characters into
    // several short lines side by side and reads them out of order.
    api.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    api.SetImage(line.pixels.data(), line.width, line.height, 1, line.width);
    if (api.Recognize(nullptr) != 0) throw RecognizerError("Tesseract failed to recognise a vertical column");

    // Along the line is down the column: a symbol's left and right ends are
    // rows of the page, and its glyphs are the cells those rows overlap.
    ColumnPiece piece;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    bool any = false;
    if (it) {
        it->Begin();
        do {
            if (it->Empty(tesseract::RIL_SYMBOL)) continue;
            const std::string symbol = takeText(it->GetUTF8Text(tesseract::RIL_SYMBOL));
            if (blank(symbol)) continue;
            if (!any) piece.confidence = std::clamp(it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
            any = true;
            piece.text += symbol;
            int left = 0, upper = 0, right = 0, lower = 0;
            if (!it->BoundingBox(tesseract::RIL_SYMBOL, &left, &upper, &right, &lower)) continue;
            for (std::size_t k = 0; k < glyphs.size(); ++k) {
                if (glyphs[k].start < y0 + right && y0 + left < glyphs[k].end) piece.glyphs.push_back(k);
            }
        } while (it->Next(tesseract::RIL_SYMBOL));
    }
    std::sort(piece.glyphs.begin(), piece.glyphs.end());
    piece.glyphs.erase(std::unique(piece.glyphs.begin(), piece.glyphs.end()), piece.glyphs.end());
    poll();
    if (piece.text.empty()) return {};
    return {std::move(piece)};
}

}  // namespace velmora::VerticalColumnReader
