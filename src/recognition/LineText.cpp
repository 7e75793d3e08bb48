#include "recognition/LineText.hpp"

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
