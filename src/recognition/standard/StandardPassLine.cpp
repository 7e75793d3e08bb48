#include "recognition/standard/StandardPassLine.hpp"

#include <algorithm>
#include <memory>

#include <tesseract/resultiterator.h>

#include "foundation/Unicode.hpp"
#include "recognition/engine/TextRequest.hpp"
#include "recognition/engine/RecognitionProgress.hpp"

namespace velmora::StandardPass {

float fraction(float percent) { return std::clamp(percent / 100.0f, 0.0f, 1.0f); }

namespace {

std::string takeText(char* text) {
    std::unique_ptr<char[]> owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

bool horizontalLine(const tesseract::ResultIterator& it) {
    tesseract::Orientation orientation{};
    tesseract::WritingDirection direction{};
    tesseract::TextlineOrder order{};
    float deskew = 0;
    it.Orientation(&orientation, &direction, &order, &deskew);
    return orientation == tesseract::ORIENTATION_PAGE_UP && direction == tesseract::WRITING_DIRECTION_LEFT_TO_RIGHT;
}

}  // namespace

bool assemble(Line& line, const std::vector<LineText::Printed>& printed) {
    LineText::widenPunctuation(line.words, printed);
    // The symbols' own texts follow their words'.
    std::size_t k = 0;
    for (const LineText::Word& w : line.words) {
        for (const std::string& symbol : w.symbols) {
            if (k < line.symbolTexts.size()) line.symbolTexts[k] = symbol;
            k += 1;
        }
    }
    line.assembled = LineText::join(line.words);
    if (line.assembled.text.empty()) return false;
    line.characters = 0;
    for (char32_t c : Unicode::scalars(line.assembled.text)) {
        if (c != ' ') line.characters += 1;
    }
    if (line.box.empty()) {
        for (std::size_t i = 0; i < line.assembled.symbolRanges.size(); ++i) {
            if (line.assembled.symbolRanges[i].length > 0) line.box.unite(line.symbolBoxes[i]);
        }
    }
    return true;
}

std::vector<Line> lines(tesseract::TessBaseAPI& api, int firstBlock) {
    std::vector<Line> out;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return out;
    constexpr auto block = tesseract::RIL_BLOCK;
    constexpr auto line = tesseract::RIL_TEXTLINE;
    constexpr auto word = tesseract::RIL_WORD;
    constexpr auto symbol = tesseract::RIL_SYMBOL;

    it->Begin();
    Line pending;
    bool open = false;
    int blockNumber = firstBlock - 1;
    auto close = [&] {
        if (open && assemble(pending)) out.push_back(std::move(pending));
    };
    do {
        if (!open || it->IsAtBeginningOf(block)) blockNumber += 1;
        if (!open || it->IsAtBeginningOf(line)) {
            // On a tall page each step of the iterator walks the page from
            // its start, and taking out all the lines lasts seconds.
            RecognitionProgress::stopIfAsked();
            close();
            pending = Line{};
            open = true;
            pending.block = blockNumber;
            pending.horizontal = horizontalLine(*it);
            pending.confidence = fraction(it->Confidence(line));
            it->BoundingBox(line, &pending.box.left, &pending.box.top, &pending.box.right, &pending.box.bottom);
            pending.hasBaseline = it->Baseline(line, &pending.baseline[0], &pending.baseline[1],
                                               &pending.baseline[2], &pending.baseline[3]);
        }
        if (pending.words.empty() || it->IsAtBeginningOf(word)) {
            LineText::Word w;
            w.blanksBefore = it->BlanksBeforeWord();
            pending.words.push_back(std::move(w));
        }
        if (it->Empty(symbol)) continue;
        PixelBox b;
        it->BoundingBox(symbol, &b.left, &b.top, &b.right, &b.bottom);
        std::string text = takeText(it->GetUTF8Text(symbol));
        pending.words.back().symbols.push_back(text);
        pending.symbolTexts.push_back(std::move(text));
        pending.symbolBoxes.push_back(b);
        pending.symbolConfidences.push_back(fraction(it->Confidence(symbol)));
    } while (it->Next(symbol));
    close();
    return out;
}

int characters(const std::vector<Line>& ls) {
    int n = 0;
    for (const Line& l : ls) n += l.characters;
    return n;
}

float confidence(const std::vector<Line>& ls) {
    double sum = 0;
    int n = 0;
    for (const Line& l : ls) {
        sum += static_cast<double>(l.confidence) * l.characters;
        n += l.characters;
    }
    return n > 0 ? static_cast<float>(sum / n) : 0.0f;
}

GreyPage inkAlone(const Line& line, const GreyPage& page, const PageInk& ink, int from, int to, int margin, int& dx,
                  int& dy) {
    const int h = line.height();
    std::vector<PixelBox> pieces;
    PixelBox region;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        const int cy = p.y + p.height / 2;
        if (cy < line.box.top - h / 4 || cy >= line.box.bottom + h / 4 || p.height > 2 * h) continue;
        const int within = std::min(p.x + p.width, to) - std::max(p.x, from);
        if (within * 2 < p.width) continue;
        pieces.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
        region.unite(pieces.back());
    }
    GreyPage alone;
    if (region.empty()) return alone;
    region.top = std::min(region.top, line.box.top);
    region.bottom = std::max(region.bottom, line.box.bottom);
    alone.width = region.width() + 2 * margin;
    alone.height = region.height() + 2 * margin;
    alone.resolution = page.resolution;
    alone.pixels.assign(static_cast<std::size_t>(alone.width) * alone.height, 255);
    dx = region.left - margin;
    dy = region.top - margin;
    for (const PixelBox& p : pieces) {
        for (int y = p.top; y < p.bottom; ++y) {
            for (int x = p.left; x < p.right; ++x) {
                if (!ink.at(x, y)) continue;
                alone.pixels[static_cast<std::size_t>(y - dy) * alone.width + (x - dx)] =
                    page.pixels[static_cast<std::size_t>(y) * page.width + x];
            }
        }
    }
    return alone;
}

Reader::Reader(const GreyPage& page, const TesseractEngines::Configuration& configuration)
    : api_(TesseractEngines::engine(configuration)), page_(page) {
    api_.SetPageSegMode(tesseract::PSM_AUTO);
    hold(page);
}

void Reader::hold(const GreyPage& page) {
    api_.SetImage(page.pixels.data(), page.width, page.height, 1, page.width);
    if (page.resolution > 0) api_.SetSourceResolution(page.resolution);
}

Reader::~Reader() {
    api_.SetPageSegMode(tesseract::PSM_AUTO);
    api_.Clear();
}

std::vector<Line> Reader::page(tesseract::PageSegMode mode) {
    api_.SetPageSegMode(mode);
    api_.SetRectangle(0, 0, page_.width, page_.height);
    run();
    return lines(api_);
}

std::vector<Line> Reader::area(const PixelBox& box, tesseract::PageSegMode mode, int block) {
    api_.SetPageSegMode(mode);
    api_.SetRectangle(box.left, box.top, box.width(), box.height());
    run();
    return lines(api_, block);
}

std::vector<Line> Reader::image(const GreyPage& other, tesseract::PageSegMode mode, int block) {
    api_.SetPageSegMode(mode);
    hold(other);
    run();
    std::vector<Line> out = lines(api_, block);
    hold(page_);
    return out;
}

void Reader::run() {
    // A re-read of a part of the page, which may hold no word to look at
    // the stop, looks first.
    RecognitionProgress::stopIfAsked();
    if (RecognitionProgress::recognize(api_) != 0) throw RecognizerError("Tesseract failed to recognise the page");
}

// The symbol at the index of all the line's symbols, in its word.
std::string& wordSymbol(Line& line, std::size_t index, std::size_t* word, std::size_t* within) {
    std::size_t k = 0;
    for (std::size_t w = 0; w < line.words.size(); ++w) {
        if (index < k + line.words[w].symbols.size()) {
            if (word) *word = w;
            if (within) *within = index - k;
            return line.words[w].symbols[index - k];
        }
        k += line.words[w].symbols.size();
    }
    throw RecognizerError("A symbol of a line is missing from its words");
}

void replaceSymbol(Line& line, std::size_t index, const std::string& text) {
    wordSymbol(line, index) = text;
    line.symbolTexts[index] = text;
}

// Before the symbol at the index, or after the last one.
void insertSymbol(Line& line, std::size_t index, const std::string& text, const PixelBox& box) {
    if (line.words.empty()) line.words.push_back({});
    if (index < line.symbolTexts.size()) {
        std::size_t word = 0, within = 0;
        wordSymbol(line, index, &word, &within);
        auto& symbols = line.words[word].symbols;
        symbols.insert(symbols.begin() + static_cast<std::ptrdiff_t>(within), text);
    } else {
        line.words.back().symbols.push_back(text);
        index = line.symbolTexts.size();
    }
    const auto at = static_cast<std::ptrdiff_t>(index);
    line.symbolTexts.insert(line.symbolTexts.begin() + at, text);
    line.symbolBoxes.insert(line.symbolBoxes.begin() + at, box);
    line.symbolConfidences.insert(line.symbolConfidences.begin() + at, line.confidence);
    line.box.unite(box);
}

Line joined(Line first, Line second) {
    const double weighted = static_cast<double>(first.confidence) * first.characters +
                            static_cast<double>(second.confidence) * second.characters;
    if (!second.words.empty()) second.words.front().blanksBefore = std::max(second.words.front().blanksBefore, 1);
    for (LineText::Word& w : second.words) first.words.push_back(std::move(w));
    for (std::string& t : second.symbolTexts) first.symbolTexts.push_back(std::move(t));
    first.symbolBoxes.insert(first.symbolBoxes.end(), second.symbolBoxes.begin(), second.symbolBoxes.end());
    first.symbolConfidences.insert(first.symbolConfidences.end(), second.symbolConfidences.begin(),
                                   second.symbolConfidences.end());
    first.box.unite(second.box);
    first.block = second.block;
    if (first.hasBaseline && second.hasBaseline) {
        first.baseline[2] = second.baseline[2];
        first.baseline[3] = second.baseline[3];
    } else {
        first.hasBaseline = second.hasBaseline;
        std::copy(std::begin(second.baseline), std::end(second.baseline), std::begin(first.baseline));
    }
    assemble(first);
    if (first.characters > 0) first.confidence = static_cast<float>(weighted / first.characters);
    return first;
}

void replaceSymbols(Line& line, std::size_t from, std::size_t to, const Line& with) {
    struct Flat {
        std::string text;
        PixelBox box;
        float confidence = 0;
        bool startsWord = false;
        int blanks = 0;
        bool startsCell = false;
    };
    const auto flatten = [](const Line& l) {
        std::vector<Flat> out;
        std::size_t k = 0;
        for (const LineText::Word& w : l.words) {
            for (std::size_t s = 0; s < w.symbols.size(); ++s, ++k) {
                Flat f;
                f.text = w.symbols[s];
                if (k < l.symbolBoxes.size()) f.box = l.symbolBoxes[k];
                if (k < l.symbolConfidences.size()) f.confidence = l.symbolConfidences[k];
                f.startsWord = s == 0;
                f.blanks = s == 0 ? w.blanksBefore : 0;
                f.startsCell = s == 0 && w.startsCell;
                out.push_back(std::move(f));
            }
        }
        return out;
    };
    std::vector<Flat> symbols = flatten(line);
    std::vector<Flat> added = flatten(with);
    from = std::min(from, symbols.size());
    to = std::clamp(to, from, symbols.size());
    if (!added.empty()) {
        added.front().startsWord = true;
        added.front().blanks = from < to && symbols[from].startsWord ? symbols[from].blanks : 0;
        added.front().startsCell = from < to && symbols[from].startsCell;
    }
    if (to < symbols.size()) symbols[to].startsWord = true;
    symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(from), symbols.begin() + static_cast<std::ptrdiff_t>(to));
    symbols.insert(symbols.begin() + static_cast<std::ptrdiff_t>(from), added.begin(), added.end());
    line.words.clear();
    line.symbolTexts.clear();
    line.symbolBoxes.clear();
    line.symbolConfidences.clear();
    for (Flat& f : symbols) {
        if (f.startsWord || line.words.empty()) {
            LineText::Word w;
            w.blanksBefore = f.blanks;
            w.startsCell = f.startsCell;
            line.words.push_back(std::move(w));
        }
        line.words.back().symbols.push_back(f.text);
        line.symbolTexts.push_back(std::move(f.text));
        line.symbolBoxes.push_back(f.box);
        line.symbolConfidences.push_back(f.confidence);
    }
}

}  // namespace velmora::StandardPass
