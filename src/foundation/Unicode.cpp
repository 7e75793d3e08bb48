#include "foundation/Unicode.hpp"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ubrk.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace velmora::Unicode {

std::string nfc(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU NFC is unavailable");
    icu::UnicodeString src = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    icu::UnicodeString out = n->normalize(src, status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU NFC failed");
    std::string result;
    out.toUTF8String(result);
    return result;
}

std::vector<std::size_t> graphemeBoundaries(std::string_view utf8) {
    std::vector<std::size_t> out{0};
    if (utf8.empty()) return out;
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU UText failed");
    UBreakIterator* bi = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (U_FAILURE(status)) {
        utext_close(ut);
        throw std::runtime_error("ICU break iterator failed");
    }
    ubrk_setUText(bi, ut, &status);
    for (int32_t p = ubrk_next(bi); p != UBRK_DONE; p = ubrk_next(bi)) {
        out.push_back(static_cast<std::size_t>(p));
    }
    ubrk_close(bi);
    utext_close(ut);
    if (out.back() != utf8.size()) out.push_back(utf8.size());
    return out;
}

std::vector<std::size_t> graphemeBoundaries16(std::u16string_view utf16) {
    std::vector<std::size_t> out{0};
    if (utf16.empty()) return out;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* bi = ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(utf16.data()),
                                   static_cast<int32_t>(utf16.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU break iterator failed");
    for (int32_t p = ubrk_next(bi); p != UBRK_DONE; p = ubrk_next(bi)) out.push_back(static_cast<std::size_t>(p));
    ubrk_close(bi);
    if (out.back() != utf16.size()) out.push_back(utf16.size());
    return out;
}

std::size_t graphemeCount(std::string_view utf8) { return graphemeBoundaries(utf8).size() - 1; }

std::string_view truncateGraphemes(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    auto b = graphemeBoundaries(utf8);
    std::size_t cut = 0;
    for (std::size_t p : b) {
        if (p <= maxBytes) cut = p;
        else break;
    }
    return utf8.substr(0, cut);
}

std::string_view prefixGraphemes(std::string_view utf8, std::size_t n) {
    auto b = graphemeBoundaries(utf8);
    if (n + 1 >= b.size()) return utf8;
    return utf8.substr(0, b[n]);
}

namespace {

// The ICU word boundaries of utf8 at or before `end`, in UTF-8 offsets.
std::vector<std::size_t> wordBoundaries(std::string_view utf8, std::size_t end) {
    std::vector<std::size_t> out;
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
    if (U_FAILURE(status)) return out;
    UBreakIterator* bi = ubrk_open(UBRK_WORD, "ja", nullptr, 0, &status);
    if (U_FAILURE(status)) {
        utext_close(ut);
        return out;
    }
    ubrk_setUText(bi, ut, &status);
    for (int32_t p = ubrk_first(bi); p != UBRK_DONE && static_cast<std::size_t>(p) <= end; p = ubrk_next(bi)) {
        out.push_back(static_cast<std::size_t>(p));
    }
    ubrk_close(bi);
    utext_close(ut);
    return out;
}

// The kind of a character for cutting: the script of a letter, digits, or
// anything else. Letters of no script of their own (the long vowel mark
// "ー", combining marks) continue whatever comes before them: none.
std::optional<int> characterKind(char32_t c) {
    const auto scalar = static_cast<UChar32>(c);
    if (u_isdigit(scalar)) return -1;
    const bool letter = (U_GET_GC_MASK(scalar) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
    if (!letter) return -2;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(scalar, &status);
    if (U_FAILURE(status) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED) return std::nullopt;
    return static_cast<int>(script);
}

bool isKatakana(std::optional<int> kind) { return kind && *kind == USCRIPT_KATAKANA; }

// A separator that announces more to come, out of place at a name's end.
bool trailingSeparator(char32_t c) {
    const auto scalar = static_cast<UChar32>(c);
    if (u_isUWhiteSpace(scalar)) return true;
    const int8_t type = u_charType(scalar);
    if (type == U_CONNECTOR_PUNCTUATION || type == U_DASH_PUNCTUATION) return true;
    switch (c) {
    case U'、': case U'・': case U',': case U'.': case U':': case U';':
    case U'，': case U'．': case U'：': case U'；': case U'･':
        return true;
    default:
        return false;
    }
}

}  // namespace

std::string_view cutAtWord(std::string_view utf8, std::size_t end) {
    if (end >= utf8.size()) return utf8;
    // Every character up to and including the one that starts at the cut,
    // with its kind; one without a kind of its own takes the one before it.
    struct Mark {
        std::size_t offset;
        std::optional<int> kind;
    };
    std::vector<Mark> marks;
    std::optional<int> last;
    for (int32_t index = 0; static_cast<std::size_t>(index) <= end;) {
        const auto offset = static_cast<std::size_t>(index);
        UChar32 c = 0;
        U8_NEXT(utf8.data(), index, static_cast<int32_t>(utf8.size()), c);
        const std::optional<int> kind = c < 0 ? std::optional<int>(-2) : characterKind(static_cast<char32_t>(c));
        if (kind) last = kind;
        marks.push_back({offset, last});
    }
    // A boundary is where a character starts: the kinds on either side.
    const auto sides = [&](std::size_t offset) -> std::optional<std::pair<std::optional<int>, std::optional<int>>> {
        const auto it = std::lower_bound(marks.begin(), marks.end(), offset,
                                         [](const Mark& m, std::size_t o) { return m.offset < o; });
        if (it == marks.begin() || it == marks.end() || it->offset != offset) return std::nullopt;
        return std::pair{std::prev(it)->kind, it->kind};
    };

    const std::size_t half = (end + 1) / 2;
    std::optional<std::size_t> cut;
    // A word's end, but none inside a run of katakana.
    const std::vector<std::size_t> words = wordBoundaries(utf8, end);
    for (auto it = words.rbegin(); it != words.rend() && *it >= half && *it > 0; ++it) {
        const auto kinds = sides(*it);
        if (!kinds || (isKatakana(kinds->first) && isKatakana(kinds->second))) continue;
        cut = *it;
        break;
    }
    // Else where one kind of character gives way to another, between two
    // whole characters as the user sees them.
    if (!cut) {
        const std::vector<std::size_t> graphemes = graphemeBoundaries(utf8.substr(0, end));
        for (auto it = graphemes.rbegin(); it != graphemes.rend() && *it >= half && *it > 0; ++it) {
            const auto kinds = sides(*it);
            if (kinds && kinds->first != kinds->second) {
                cut = *it;
                break;
            }
        }
    }
    const std::string_view whole = utf8.substr(0, cut.value_or(end));

    // Separators left at the end go.
    std::string_view kept = whole;
    while (!kept.empty()) {
        auto index = static_cast<int32_t>(kept.size());
        UChar32 c = 0;
        U8_PREV(kept.data(), 0, index, c);
        if (c < 0 || !trailingSeparator(static_cast<char32_t>(c))) break;
        kept = kept.substr(0, static_cast<std::size_t>(index));
    }
    return kept.empty() ? whole : kept;
}

std::u16string toUTF16(std::string_view utf8) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

std::string fromUTF16(std::u16string_view utf16) {
    icu::UnicodeString s(utf16.data(), static_cast<int32_t>(utf16.size()));
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::size_t utf16Length(std::string_view utf8) {
    std::size_t n = 0;
    for (char32_t c : scalars(utf8)) n += c > 0xFFFF ? 2 : 1;
    return n;
}

std::vector<char32_t> scalars(std::string_view utf8) {
    std::vector<char32_t> out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t i = 0;
    const auto len = static_cast<int32_t>(utf8.size());
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

void appendScalar(std::string& out, char32_t c) {
    uint8_t buf[4];
    int32_t i = 0;
    UBool err = false;
    U8_APPEND(buf, i, 4, static_cast<UChar32>(c), err);
    if (err) {
        out += "\xEF\xBF\xBD";
        return;
    }
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(i));
}

bool isControlOrFormat(char32_t c) {
    const int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_CONTROL_CHAR || t == U_FORMAT_CHAR;
}

std::string uppercased(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    text.toUpper(icu::Locale::getRoot());
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string lowercased(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    text.toLower(icu::Locale::getRoot());
    std::string out;
    text.toUTF8String(out);
    return out;
}

bool isLetter(char32_t c) { return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_L_MASK) != 0; }

bool isPunctuationOrWhiteSpace(char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_P_MASK) != 0 || u_isUWhiteSpace(static_cast<UChar32>(c));
}

}  // namespace velmora::Unicode
