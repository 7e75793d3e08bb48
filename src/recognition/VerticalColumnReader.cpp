#include "recognition/VerticalColumnReader.hpp"

#include <algorithm>
#include <cctype>
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

// One character read along a line, its ends in pixels along the line.
struct Symbol {
    std::string text;
    int left = 0;
    int right = 0;
    float confidence = 0;
    int word = 0;  // the recogniser's word it belongs to, counted along the line
};

bool ascii(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7f; });
}
bool alphanumeric(const std::string& s) {
    return s.size() == 1 && std::isalnum(static_cast<unsigned char>(s[0]));
}

// Reads the line with the engine as one line of text; the engine is left
// empty and with its own page segmentation, since it reads the next column
// too.
std::vector<Symbol> readLine(tesseract::TessBaseAPI& api, const GreyPage& line, float& lineConfidence) {
    struct Restore {
        tesseract::TessBaseAPI& api;
        tesseract::PageSegMode mode;
        ~Restore() {
            api.Clear();
            api.SetPageSegMode(mode);
        }
    } restore{api, api.GetPageSegMode()};
    api.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    api.SetImage(line.pixels.data(), line.width, line.height, 1, line.width);
    if (api.Recognize(nullptr) != 0) throw RecognizerError("Tesseract failed to recognise a vertical column");
    std::vector<Symbol> out;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return out;
    it->Begin();
    bool first = true;
    int word = -1;
    do {
        if (it->IsAtBeginningOf(tesseract::RIL_WORD)) word += 1;
        if (it->Empty(tesseract::RIL_SYMBOL)) continue;
        Symbol symbol;
        symbol.word = word;
        symbol.text = takeText(it->GetUTF8Text(tesseract::RIL_SYMBOL));
        if (blank(symbol.text)) continue;
        if (first) lineConfidence = std::clamp(it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
        first = false;
        symbol.confidence = std::clamp(it->Confidence(tesseract::RIL_SYMBOL) / 100.0f, 0.0f, 1.0f);
        int upper = 0, lower = 0;
        if (!it->BoundingBox(tesseract::RIL_SYMBOL, &symbol.left, &upper, &symbol.right, &lower)) continue;
        out.push_back(std::move(symbol));
    } while (it->Next(tesseract::RIL_SYMBOL));
    // A symbol's box sometimes runs on over the next ones; it ends where the
    // next begins.
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i + 1].left > out[i].left) out[i].right = std::min(out[i].right, out[i + 1].left);
    }
    return out;
}

// The vertical model reads the upright full-width brackets, colon and marks
// of vertical text by their half-width code points; in vertical text those
// would lie on their side among Latin letters, which it does not read.
std::string fullWidth(const std::string& s) {
    static const std::pair<const char*, const char*> forms[] = {
        {"(", "（"}, {")", "）"}, {":", "："}, {"!", "！"}, {"?", "？"}};
    for (const auto& [half, full] : forms) {
        if (s == half) return full;
    }
    return s;
}

constexpr float sure = 0.9f;

// Half-width digits and Latin letters lie on their side in vertical text,
// turned a quarter clockwise: in the line they stand upright, where the
// horizontal model reads them, while the vertical model, which reads the
// rest, turns them into stray letters and kana. A word of the horizontal
// reading made of Latin letters, digits and their punctuation, with a digit
// or two letters in it, replaces the stretch of the vertical reading it
// covers where that stretch holds such a stray letter or digit or is
// unsure. The word's ends that cover only characters the vertical model read
// surely are left out first: the horizontal model reads upright kanji as
// Latin letters too. Which characters of the vertical reading a stretch
// covers is told by their middles; the boxes along the line are too loose
// for more.
std::vector<Symbol> withSidewaysRuns(const std::vector<Symbol>& vertical, const std::vector<Symbol>& horizontal) {
    const auto covered = [&](int left, int right) {
        std::vector<std::size_t> out;
        for (std::size_t k = 0; k < vertical.size(); ++k) {
            const int middle = (vertical[k].left + vertical[k].right) / 2;
            if (middle >= left && middle < right) out.push_back(k);
        }
        return out;
    };
    const auto doubtful = [&](const std::vector<std::size_t>& ks) {
        return std::any_of(ks.begin(), ks.end(), [&](std::size_t k) {
            return alphanumeric(vertical[k].text) || vertical[k].confidence < sure;
        });
    };
    std::vector<bool> taken(vertical.size(), false);
    std::vector<Symbol> out;
    for (std::size_t i = 0; i < horizontal.size();) {
        if (!ascii(horizontal[i].text)) {
            ++i;
            continue;
        }
        std::size_t first = i, last = i + 1;
        while (last < horizontal.size() && ascii(horizontal[last].text) && horizontal[last].word == horizontal[first].word) {
            ++last;
        }
        i = last;
        const auto sureEnd = [&](std::size_t k) {
            const std::vector<std::size_t> ks = covered(horizontal[k].left, horizontal[k].right);
            return !ks.empty() && !doubtful(ks);
        };
        while (first < last && sureEnd(first)) ++first;
        while (last > first && sureEnd(last - 1)) --last;
        if (first == last) continue;
        Symbol run{{}, horizontal[first].left, horizontal[first].left, 1, 0};
        int digits = 0, letters = 0;
        for (std::size_t k = first; k < last; ++k) {
            run.text += horizontal[k].text;
            run.right = std::max(run.right, horizontal[k].right);
            for (char c : horizontal[k].text) {
                digits += std::isdigit(static_cast<unsigned char>(c)) ? 1 : 0;
                letters += std::isalpha(static_cast<unsigned char>(c)) ? 1 : 0;
            }
        }
        if (digits == 0 && letters < 2) continue;
        const std::vector<std::size_t> ks = covered(run.left, run.right);
        if (ks.empty() || !doubtful(ks)) continue;
        for (std::size_t k : ks) taken[k] = true;
        out.push_back(std::move(run));
    }
    for (std::size_t k = 0; k < vertical.size(); ++k) {
        if (!taken[k]) out.push_back(vertical[k]);
    }
    std::stable_sort(out.begin(), out.end(), [](const Symbol& a, const Symbol& b) { return a.left < b.left; });
    return out;
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
    GreyPage line = lineOf(page, column, top, glyphs.back().end);
    // The vertical model reads a column best brought down to a small line;
    // positions along it are scaled back to the page's rows.
    double back = 1;
    if (line.height > readingHeight) {
        const double factor = static_cast<double>(readingHeight) / line.height;
        line = line.scaled(factor);
        back = 1 / factor;
    }

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
    // The column turned on its side is read as one line, which is how the
    // vertical model reads the lines its own layout finds. Its layout is
    // left out: on a single column it often splits the characters into
    // several short lines side by side and reads them out of order.
    ColumnPiece piece;
    std::vector<Symbol> symbols = readLine(api, line, piece.confidence);
    const bool latin = std::any_of(symbols.begin(), symbols.end(), [](const Symbol& s) { return alphanumeric(s.text); });
    if (latin) {
        poll();
        // Latin letters and digits are read by the English model where it is
        // installed: the Japanese one reads the zeros of some fonts as nines.
        TesseractEngines::Configuration horizontal = configuration;
        const std::vector<std::string> installed = OCREngine::supportedRecognitionLanguages(settings.revision);
        horizontal.languages =
            std::find(installed.begin(), installed.end(), "en-US") != installed.end() ? "eng" : "jpn";
        float ignored = 0;
        symbols = withSidewaysRuns(symbols, readLine(TesseractEngines::engine(horizontal), line, ignored));
    }
    for (Symbol& symbol : symbols) {
        if (symbol.confidence < 1) symbol.text = fullWidth(symbol.text);
    }

    // Along the line is down the column: a symbol's left and right ends are
    // rows of the page, and its glyphs are the cells those rows overlap.
    for (Symbol symbol : symbols) {
        symbol.left = static_cast<int>(symbol.left * back);
        symbol.right = static_cast<int>(symbol.right * back);
        piece.text += symbol.text;
        for (std::size_t k = 0; k < glyphs.size(); ++k) {
            if (glyphs[k].start < y0 + symbol.right && y0 + symbol.left < glyphs[k].end) piece.glyphs.push_back(k);
        }
    }
    std::sort(piece.glyphs.begin(), piece.glyphs.end());
    piece.glyphs.erase(std::unique(piece.glyphs.begin(), piece.glyphs.end()), piece.glyphs.end());
    poll();
    if (piece.text.empty()) return {};
    return {std::move(piece)};
}

}  // namespace velmora::VerticalColumnReader
