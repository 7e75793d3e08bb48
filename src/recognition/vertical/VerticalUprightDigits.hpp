#pragma once

#include <string>
#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora {

// Two or three digits set upright side by side in one character cell of a
// vertical column (縦中横: 「19」, 「120」). The vertical model, which reads
// each cell as one upright character, makes one kanji or kana of them, or
// nothing; the horizontal model reads them as the line of digits they are.
// Such a cell holds two or three pieces of ink side by side across the
// column, each as tall as the others and standing on the same line (digits
// share their height), less tall than a full-width character. Stateless.
namespace VerticalUprightDigits {

// A cell of digits: its rows down the page and its pixel columns.
struct Group {
    VerticalResearch::Run rows;
    VerticalResearch::Run across;
    int pieces = 0;
};

// The cells of digits side by side in rows [top, bottom) of the column, top
// to bottom. em is the width of the page's text columns.
std::vector<Group> find(const GreyPage& page, VerticalResearch::Run column, int top, int bottom, int em);

// The cell upright on white with a margin, brought to `height` pixels high.
GreyPage cutOut(const GreyPage& page, const Group& group, int height);

// How sure the horizontal model must be of each digit: it reads a kana of
// two strokes side by side (け, い) as two digits at most about nine
// tenths sure, and upright digits surer than 0.97.
inline constexpr float sure = 0.95f;

// Whether the horizontal model's reading of the cell is its digits: as many
// as the cell holds pieces, and nothing else.
bool readsAsDigits(const std::string& text, const Group& group);

}  // namespace VerticalUprightDigits
}  // namespace velmora
