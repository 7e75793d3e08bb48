#include "recognition/standard/OtherLanguage.hpp"

#include <memory>

#include "foundation/Unicode.hpp"

namespace velmora::StandardPass {

namespace {

constexpr float uncertain = 0.75f;
// The Japanese model reads real kana and kanji this surely or more; its
// kana read from Latin strokes it is less sure of.
constexpr float sureJapanese = 0.9f;
constexpr int sureRun = 3;

// Whether the line came out in the script the first model does not
// read as its own, or uncertain with some of that script in it.
bool foreign(const Line& line, bool firstIsJapanese) {
    int latin = 0, cjk = 0, all = 0;
    for (char32_t c : Unicode::scalars(line.assembled.text)) {
        if (c == ' ') continue;
        all += 1;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) latin += 1;
        if (LineText::isCJK(c)) cjk += 1;
    }
    const int other = firstIsJapanese ? latin : cjk;
    if (other * 2 > all) return true;
    return line.confidence < uncertain && (other > 0 || !firstIsJapanese);
}

// A line with a phrase of Japanese the Japanese model is sure of (three
// kana or kanji in a row) is a mixed line, whose Latin runs are read
// again on their own (see LatinRuns); read whole with the other model it
// would lose them. Italic Latin the Japanese model garbles comes out as
// a kanji or two among letters and digits, not as phrases.
bool surelyMixed(const Line& line, bool firstIsJapanese) {
    if (!firstIsJapanese) return false;
    int run = 0;
    for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolConfidences.size(); ++k) {
        if (LineText::isBlank(line.symbolTexts[k])) continue;
        const std::vector<char32_t> c = Unicode::scalars(line.symbolTexts[k]);
        const bool japanese = c.size() == 1 && LineText::isCJK(c[0]) && !LineText::isWidePunctuation(c[0]);
        run = japanese && line.symbolConfidences[k] >= sureJapanese ? run + 1 : 0;
        if (run >= sureRun) return true;
    }
    return false;
}

// The mean confidence of the line's characters.
float symbolConfidence(const Line& line) {
    double sum = 0;
    int n = 0;
    for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolConfidences.size(); ++k) {
        if (LineText::isBlank(line.symbolTexts[k])) continue;
        sum += line.symbolConfidences[k];
        n += 1;
    }
    return n > 0 ? static_cast<float>(sum / n) : line.confidence;
}

}  // namespace

void readOtherLanguage(std::vector<Line>& ls, const GreyPage& page, const TesseractEngines::Configuration& other,
                       bool firstIsJapanese, const PageInk& ink, const std::function<bool(const Line&)>& skip) {
    // The other model's engine over the page, loaded on first use.
    std::unique_ptr<Reader> second;
    for (Line& line : ls) {
        if (skip(line)) continue;
        if (!foreign(line, firstIsJapanese) || surelyMixed(line, firstIsJapanese)) continue;
        const int h = line.height();
        const PixelBox strip =
            ink.clipped({line.box.left - h / 2, line.box.top - h / 4, line.box.right + h / 2, line.box.bottom + h / 4});
        if (!second) second = std::make_unique<Reader>(page, other);
        std::vector<Line> again = second->area(strip, tesseract::PSM_SINGLE_LINE, line.block);
        if (again.size() != 1) continue;
        // The reading whose characters are surer is kept: in a line's
        // confidence a word a model cannot read at all weighs as much
        // as a long one it reads well.
        const bool surer = symbolConfidence(again.front()) > symbolConfidence(line);
        if (surer) line = std::move(again.front());
    }
}

}  // namespace velmora::StandardPass
