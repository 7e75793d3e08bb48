#include "recognition/page/LineText.hpp"

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "foundation/Unicode.hpp"

namespace velmora::LineText {

bool isBlank(const std::string& s) {
    for (char32_t c : Unicode::scalars(s)) {
        if (!u_isUWhiteSpace(static_cast<UChar32>(c)) && !Unicode::isControlOrFormat(c)) return false;
    }
    return true;
}

bool isCJK(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    const int width = u_getIntPropertyValue(cp, UCHAR_EAST_ASIAN_WIDTH);
    if (width == U_EA_WIDE || width == U_EA_FULLWIDTH) return true;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(cp, &status);
    if (U_FAILURE(status)) return false;
    // Half-width katakana are narrow but still Japanese.
    return script == USCRIPT_HAN || script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA;
}

bool isWidePunctuation(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    const int width = u_getIntPropertyValue(cp, UCHAR_EAST_ASIAN_WIDTH);
    return (width == U_EA_WIDE || width == U_EA_FULLWIDTH) && u_ispunct(cp);
}

namespace {

// The half-width form of a bracket, colon, comma or full stop read in its
// full-width form (0 for any other character), and the reverse.
char32_t halfForm(char32_t c) {
    switch (c) {
        case U'（': return U'(';
        case U'）': return U')';
        case U'［': return U'[';
        case U'］': return U']';
        case U'：': return U':';
        case U'，': return U',';
        case U'．': return U'.';
        default: return 0;
    }
}

const char* fullForm(char32_t c) {
    switch (c) {
        case U'(': return "（";
        case U')': return "）";
        case U'[': return "［";
        case U']': return "］";
        case U':': return "：";
        case U',': return "，";
        case U'.': return "．";
        default: return nullptr;
    }
}

bool opening(char32_t c) { return c == U'(' || c == U'['; }
bool closing(char32_t c) { return c == U')' || c == U']'; }
char32_t partner(char32_t c) { return c == U'(' ? U')' : c == U'[' ? U']' : c == U')' ? U'(' : U'['; }

}  // namespace

void widenPunctuation(std::vector<Word>& words, const std::vector<Printed>& printed) {
    // Every symbol that is not blank, with its one character (a widened
    // mark counted as its half-width form) and its printed width.
    std::vector<std::string*> symbols;
    std::vector<char32_t> characters;
    std::vector<Printed> widths;
    std::vector<bool> readFull;
    std::size_t index = 0;
    for (Word& word : words) {
        for (std::string& symbol : word.symbols) {
            const std::size_t at = index++;
            if (symbol.empty() || isBlank(symbol)) continue;
            const std::vector<char32_t> scalars = Unicode::scalars(symbol);
            char32_t c = scalars.size() == 1 ? scalars.front() : 0;
            const char32_t half = halfForm(c);
            if (half != 0) c = half;
            symbols.push_back(&symbol);
            characters.push_back(c);
            readFull.push_back(half != 0);
            widths.push_back(at < printed.size() ? printed[at] : Printed::unknown);
        }
    }
    const std::size_t n = characters.size();
    // Japanese script or wide punctuation; not the marks themselves, which
    // may already have been widened.
    const auto japanese = [&](std::size_t i) {
        return i < n && characters[i] != 0 && isCJK(characters[i]);
    };
    std::vector<bool> widen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = characters[i];
        if (c == U':') {
            widen[i] = i > 0 && japanese(i - 1);
        } else if (c == U',' || c == U'.') {
            // A comma or full stop after a Japanese character is the
            // Japanese one (，．) of pages that use them; set between two
            // Japanese characters, a half-width one is almost never what a
            // page prints.
            widen[i] = i > 0 && japanese(i - 1);
        } else if (opening(c)) {
            std::size_t close = i + 1;
            while (close < n && !opening(characters[close]) && !closing(characters[close])) ++close;
            if (close < n && characters[close] == partner(c)) {
                bool inside = false;
                for (std::size_t k = i + 1; k < close; ++k) inside = inside || japanese(k);
                widen[i] = widen[close] = inside;
            } else {
                widen[i] = japanese(i + 1);
            }
        } else if (closing(c) && !widen[i]) {
            // Closed without an opening one on the line: by what it closes.
            bool opened = false;
            for (std::size_t k = 0; k < i; ++k) opened = opened || characters[k] == partner(c);
            if (!opened) widen[i] = i > 0 && japanese(i - 1);
        }
    }
    const auto digit = [&](std::size_t i) { return i < n && characters[i] >= U'0' && characters[i] <= U'9'; };
    const auto closingParen = [&](std::size_t i) { return i < n && characters[i] == U')'; };
    bool anyJapanese = false;
    for (std::size_t i = 0; i < n; ++i) anyJapanese = anyJapanese || japanese(i);
    std::vector<bool> wave(n, false);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const char32_t c = characters[i];
        const bool lookalike = c == U'ー' || c == U'一' || c == U'て' || (c == U'~' && anyJapanese);
        wave[i] = lookalike && (digit(i - 1) || closingParen(i - 1)) && digit(i + 1);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (wave[i]) *symbols[i] = waveDash;
        const char* full = fullForm(characters[i]);
        if (!full) continue;
        // What the page prints decides; where it does not show, the
        // neighbours (or the model's own reading) do.
        const bool wide = widths[i] == Printed::full ||
                          (widths[i] == Printed::unknown && (widen[i] || readFull[i]));
        if (wide) {
            *symbols[i] = full;
        } else {
            *symbols[i] = std::string(1, static_cast<char>(characters[i]));
        }
    }
}

Assembled join(const std::vector<Word>& words) {
    Assembled out;
    int64_t position = 0;  // UTF-16 units written so far
    char32_t previous = 0;
    bool any = false;
    for (const Word& word : words) {
        bool wordStarted = false;
        for (const std::string& symbol : word.symbols) {
            if (symbol.empty() || isBlank(symbol)) {
                out.symbolRanges.push_back({position, 0});
                continue;
            }
            const std::vector<char32_t> scalars = Unicode::scalars(symbol);
            if (!wordStarted && any) {
                const char32_t next = scalars.front();
                const bool joined = (isCJK(previous) && isCJK(next)) || isWidePunctuation(previous) ||
                                    isWidePunctuation(next);
                if (word.startsCell) {
                    out.text += '\t';
                    position += 1;
                } else if (!joined && word.blanksBefore > 0) {
                    out.text += ' ';
                    position += 1;
                }
            }
            wordStarted = true;
            any = true;
            const auto length = static_cast<int64_t>(Unicode::utf16Length(symbol));
            out.symbolRanges.push_back({position, length});
            out.text += symbol;
            position += length;
            previous = scalars.back();
        }
    }
    return out;
}

}  // namespace velmora::LineText
