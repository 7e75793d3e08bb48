#pragma once

// Japanese text may break between any two characters, so a label that wraps
// can split a word (「ダ／ウンロード」). These keep its lines to the breaks
// between phrases: after a run of kana particles and endings, around
// brackets and punctuation, at spaces.

#include <cstddef>
#include <string_view>
#include <vector>

namespace Gtk {
class Label;
}

namespace velmora {

// Where each phrase of UTF-8 `text` begins, in bytes, the first at 0; an
// empty text has none.
std::vector<std::size_t> phraseStarts(std::string_view text);

// The label's text breaks only between its phrases. Its attributes are
// replaced: call it again after every change of the text.
void breakAtPhrases(Gtk::Label& label);

}  // namespace velmora
