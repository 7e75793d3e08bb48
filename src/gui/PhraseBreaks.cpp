#include "gui/PhraseBreaks.hpp"

#include <glib.h>
#include <gtkmm/label.h>
#include <pangomm/attrlist.h>

#include <string_view>

namespace velmora {

namespace {

bool hiragana(gunichar c) { return c >= 0x3041 && c <= 0x309F; }
bool opening(gunichar c) { return g_unichar_type(c) == G_UNICODE_OPEN_PUNCTUATION; }
// What ends a phrase: closing brackets, the comma and the full stop.
bool closing(gunichar c) {
    const GUnicodeType type = g_unichar_type(c);
    return type == G_UNICODE_CLOSE_PUNCTUATION || type == G_UNICODE_FINAL_PUNCTUATION ||
           std::u32string_view(U"、。，．！？").find(static_cast<char32_t>(c)) != std::u32string_view::npos;
}
// What never begins a line: those, the prolonged sound mark, the small kana.
bool clinging(gunichar c) {
    return closing(c) ||
           std::u32string_view(U"ーぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ").find(static_cast<char32_t>(c)) !=
               std::u32string_view::npos;
}

}  // namespace

std::vector<std::size_t> phraseStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    if (text.empty()) return starts;
    starts.push_back(0);
    const char* begin = text.data();
    const char* end = begin + text.size();
    gunichar previous = g_utf8_get_char_validated(begin, static_cast<gssize>(text.size()));
    for (const char* at = g_utf8_find_next_char(begin, end); at && at < end; at = g_utf8_find_next_char(at, end)) {
        const gunichar c = g_utf8_get_char_validated(at, end - at);
        const bool after = (hiragana(previous) && !hiragana(c)) || closing(previous) || g_unichar_isspace(previous);
        if (!clinging(c) && (after || opening(c))) starts.push_back(static_cast<std::size_t>(at - begin));
        previous = c;
    }
    return starts;
}

void breakAtPhrases(Gtk::Label& label) {
    const Glib::ustring text = label.get_text();
    const std::vector<std::size_t> starts = phraseStarts(text.raw());
    Pango::AttrList attributes;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        auto whole = Pango::Attribute::create_attr_allow_breaks(false);
        whole.set_start_index(static_cast<unsigned>(starts[i]));
        whole.set_end_index(static_cast<unsigned>(i + 1 < starts.size() ? starts[i + 1] : text.bytes()));
        attributes.insert(whole);
    }
    label.set_attributes(attributes);
}

}  // namespace velmora
