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
            if (counted(i) && counted(j) && oneRow(ls[i], ls[j])) parent[root(j)] = root(i);
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
        int characters = 0, h = 0, latin = 0;
        float sure = 0;
        PixelBox box;
        for (std::size_t i : row) {
            const Line& l = ls[i];
            characters += l.characters;
            sure += l.confidence * static_cast<float>(l.characters);
            h = std::max(h, l.textHeight());
            box.unite(l.box);
            for (const std::string& t : l.symbolTexts) {
                latin += t.size() == 1 && std::isalpha(static_cast<unsigned char>(t[0])) ? 1 : 0;
            }
        }
        sure /= static_cast<float>(characters);
        // Rows mostly of Latin letters are the English model's to read
        // again (see readOtherLanguage).
        if (sure >= unsure || h < 6 || characters < fewest || latin * 2 >= characters) continue;
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
        if (again.front().confidence < std::max(sure + surer, legible)) continue;
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
