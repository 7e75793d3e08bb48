#include "foundation/Unicode.hpp"

#include <memory>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ubrk.h>
#include <unicode/unistr.h>
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
