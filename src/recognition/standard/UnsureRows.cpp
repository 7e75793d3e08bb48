#include "recognition/standard/UnsureRows.hpp"

#include <algorithm>
#include <cctype>
#include <numeric>

namespace velmora::StandardPass {

namespace {

// Below this mean confidence per character the layout's reading of a row
// is taken as unsure.
constexpr float unsure = 0.65f;
// The whole row's reading stands where it is surer by this much, and sure
// on its own: on a row of garbage both readings are unsure, and the surer
// of two garbles is no better read.
constexpr float surer = 0.1f;
constexpr float legible = 0.7f;
// Fewer characters give the confidence too little to go by: a page number
// read alone in its strip comes back as kana as surely as it was read.
constexpr int fewest = 5;

// Two lines standing on one row, of one size, the second beginning at most
// a character after the first ends (or inside it: a box begun inside a
// character).
bool oneRow(const Line& a, const Line& b) {
    const int ha = a.textHeight(), hb = b.textHeight();
    const int h = std::max(ha, hb);
    if (h <= 0 || std::min(ha, hb) * 3 < h * 2) return false;
    const int shared = std::min(a.box.bottom, b.box.bottom) - std::max(a.box.top, b.box.top);
    if (shared * 3 < std::min(a.height(), b.height()) * 2) return false;
    return std::max(b.box.left - a.box.right, a.box.left - b.box.right) <= h;
}

// A line much shorter than another and within its height: a slice of that
// one's ink read again, where it lies within its box; beside it, read
// unsurely or with ink over or under it within that one's height (more of
// its glyph, left unread or read as a line of its own), a fragment of a large
// glyph of that one's row read as a line (a letter-spaced heading's kanji,
// its top and its foot apart), one or two characters. A note set small
// beside a heading stands on its baseline with blank over it, and two lines
// of notes stacked read as more characters.
bool fragmentOf(const Line& p, const Line& w, const PageInk& ink) {
    if (p.height() * 3 > w.height() * 2) return false;
    const int down = std::min(p.box.bottom, w.box.bottom) - std::max(p.box.top, w.box.top);
    if (down * 4 < p.height() * 3) return false;
    const int edge = std::max(w.height() / 8, 2);
    if (p.box.left >= w.box.left - edge && p.box.right <= w.box.right + edge) return true;
    if (p.characters > 2) return false;
    if (std::max(w.box.left - p.box.right, p.box.left - w.box.right) > w.textHeight()) return false;
    if (p.confidence < unsure) return true;
    const int margin = std::max(p.height() / 10, 2);
    int inked = 0;
    for (int x = std::max(p.box.left, 0); x < std::min(p.box.right, ink.width); ++x) {
        inked += ink.inColumn(x, w.box.top, p.box.top - margin) || ink.inColumn(x, p.box.bottom + margin, w.box.bottom) ? 1 : 0;
    }
    return inked * 3 >= p.box.width();
}

// Whether the row's reading `again` reads the characters of its `whole`
// lines as they did, but where a fragment of a glyph read as a line stands
// (`fragments`): the row's reading then shows the split glyph whole, as the
// lines around it read it, however surely.
bool confirms(const Line& again, const std::vector<const Line*>& whole, const std::vector<PixelBox>& fragments) {
    std::vector<std::pair<const std::string*, const PixelBox*>> theirs, ours;
    const auto inked = [](const Line& l, auto& out) {
        for (std::size_t k = 0; k < l.symbolTexts.size(); ++k) {
            if (!l.symbolBoxes[k].empty() && !LineText::isBlank(l.symbolTexts[k])) {
                out.emplace_back(&l.symbolTexts[k], &l.symbolBoxes[k]);
            }
        }
    };
    for (const Line* l : whole) inked(*l, theirs);
    std::sort(theirs.begin(), theirs.end(), [](const auto& a, const auto& b) { return a.second->left < b.second->left; });
    inked(again, ours);
    const auto split = [&](const PixelBox* b) {
        return std::any_of(fragments.begin(), fragments.end(),
                           [&](const PixelBox& p) { return std::min(p.right, b->right) > std::max(p.left, b->left); });
    };
    std::size_t j = 0;
    for (const auto& [text, box] : ours) {
        if (j < theirs.size() && *theirs[j].first == *text) {
            ++j;
        } else if (!split(box)) {
            return false;
        } else if (j < theirs.size() && split(theirs[j].second)) {
            ++j;
        }
    }
    for (; j < theirs.size(); ++j) {
        if (!split(theirs[j].second)) return false;
    }
    return true;
}

}  // namespace

void readUnsureRows(std::vector<Line>& ls, Reader& reader, const PageInk& ink,
                    const std::function<bool(const Line&)>& skip) {
    std::vector<std::size_t> parent(ls.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    const auto counted = [&](std::size_t i) { return ls[i].horizontal && ls[i].characters > 0 && !skip(ls[i]); };
    for (std::size_t i = 0; i < ls.size(); ++i) {
        for (std::size_t j = i + 1; j < ls.size(); ++j) {
            if (!counted(i) || !counted(j)) continue;
            if (oneRow(ls[i], ls[j]) || fragmentOf(ls[i], ls[j], ink) || fragmentOf(ls[j], ls[i], ink)) parent[root(j)] = root(i);
        }
    }
    std::vector<std::vector<std::size_t>> rows(ls.size());
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (counted(i)) rows[root(i)].push_back(i);
    }
    std::vector<bool> gone(ls.size(), false);
    // The rows read again whole, each by the first of its lines.
    std::vector<std::pair<std::size_t, Line>> read;
    for (const std::vector<std::size_t>& row : rows) {
        if (row.empty()) continue;
        // A fragment of a glyph read as a line holds no characters of its own:
        // its row tells by its shape, not by how surely or how many
        // characters the layout read.
        int characters = 0, held = 0, h = 0, latin = 0;
        float sure = 0;
        PixelBox box;
        std::vector<const Line*> whole;
        std::vector<PixelBox> fragments;
        for (std::size_t i : row) {
            const Line& l = ls[i];
            if (std::any_of(row.begin(), row.end(), [&](std::size_t o) { return fragmentOf(l, ls[o], ink); })) {
                fragments.push_back(l.box);
            } else {
                whole.push_back(&l);
                characters += l.characters;
            }
            held += l.characters;
            sure += l.confidence * static_cast<float>(l.characters);
            h = std::max(h, l.textHeight());
            box.unite(l.box);
            for (const std::string& t : l.symbolTexts) {
                latin += t.size() == 1 && std::isalpha(static_cast<unsigned char>(t[0])) ? 1 : 0;
            }
        }
        sure /= static_cast<float>(held);
        // Rows mostly of Latin letters are the English model's to read
        // again (see readOtherLanguage).
        const bool split = !fragments.empty();
        // Fragments join one row only: two rows a fragment stands between are not
        // read as one.
        const bool apart = std::any_of(whole.begin(), whole.end(), [&](const Line* a) {
            return std::any_of(whole.begin(), whole.end(), [&](const Line* b) {
                const int shared = std::min(a->box.bottom, b->box.bottom) - std::max(a->box.top, b->box.top);
                return shared * 3 < std::min(a->height(), b->height()) * 2;
            });
        });
        if (split && apart) continue;
        if ((sure >= unsure && !split) || h < 6 || (characters < fewest && !split) || latin * 2 >= characters) continue;
        const PixelBox strip = ink.clipped({box.left - h / 2, box.top - h / 8, box.right + h / 2, box.bottom + h / 8});
        // Another line's ink in the strip would be read into the row.
        bool crowded = false;
        for (std::size_t k = 0; k < ls.size() && !crowded; ++k) {
            if (ls[k].characters == 0 || std::find(row.begin(), row.end(), k) != row.end()) continue;
            const PixelBox& o = ls[k].box;
            const int across = std::min(o.right, strip.right) - std::max(o.left, strip.left);
            const int down = std::min(o.bottom, strip.bottom) - std::max(o.top, strip.top);
            crowded = across > 0 && down * 4 > std::min(o.height(), box.height());
        }
        if (crowded) continue;
        const std::size_t most = *std::max_element(
            row.begin(), row.end(), [&](std::size_t a, std::size_t b) { return ls[a].characters < ls[b].characters; });
        std::vector<Line> again = reader.area(strip, tesseract::PSM_SINGLE_LINE, ls[most].block);
        if (again.size() != 1 || again.front().characters < characters) continue;
        // A glyph's fragments read apart come to more characters than the
        // glyph read whole; a heading set letter-spaced reads unsurely as a
        // line, so its reading's confidence tells little.
        if (split ? !confirms(again.front(), whole, fragments) || again.front().characters >= held
                  : again.front().confidence < std::max(sure + surer, legible)) {
            continue;
        }
        for (std::size_t i : row) gone[i] = true;
        read.emplace_back(*std::min_element(row.begin(), row.end()), std::move(again.front()));
    }
    if (read.empty()) return;
    std::vector<Line> out;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        for (auto& [first, line] : read) {
            if (first == i) out.push_back(std::move(line));
        }
        if (!gone[i]) out.push_back(std::move(ls[i]));
    }
    ls = std::move(out);
}

}  // namespace velmora::StandardPass
