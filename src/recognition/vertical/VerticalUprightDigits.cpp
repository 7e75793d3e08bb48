#include "recognition/vertical/VerticalUprightDigits.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace velmora::VerticalUprightDigits {

namespace {

using VerticalResearch::Run;

bool dark(uint8_t g) { return g < VerticalResearch::darkBelow; }

// Digits are at most this share of a text column's width tall, and at
// least this share (a full-width kanji or kana is taller, points and
// small marks are shorter).
constexpr double tallest = 0.95;
constexpr double shortest = 0.45;
// Pieces of one cell are the same height and stand on the same line to
// within this share of the column's width.
constexpr double aligned = 0.1;

}  // namespace

std::vector<Group> find(const GreyPage& page, Run column, int top, int bottom, int em) {
    std::vector<Group> out;
    if (em <= 0) return out;
    std::vector<bool> inked(static_cast<std::size_t>(std::max(bottom - top, 0)), false);
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        inked[static_cast<std::size_t>(y - top)] = std::any_of(row + column.start, row + column.end, dark);
    }
    for (Run cell : VerticalResearch::runs(inked, 0)) {
        cell = {cell.start + top, cell.end + top};
        if (cell.length() > em * tallest || cell.length() < em * shortest) continue;
        // The pieces side by side: runs of pixel columns holding ink in the
        // cell's rows, with the rows each spans.
        struct Piece {
            Run across;
            Run rows{1 << 30, 0};
        };
        std::vector<Piece> pieces;
        for (int x = column.start; x < column.end; ++x) {
            Run rows{1 << 30, 0};
            for (int y = cell.start; y < cell.end; ++y) {
                if (!dark(page.pixels[static_cast<std::size_t>(y) * page.width + x])) continue;
                rows.start = std::min(rows.start, y);
                rows.end = y + 1;
            }
            if (rows.end == 0) continue;
            if (pieces.empty() || pieces.back().across.end != x) pieces.push_back({{x, x}, rows});
            Piece& p = pieces.back();
            p.across.end = x + 1;
            p.rows = {std::min(p.rows.start, rows.start), std::max(p.rows.end, rows.end)};
        }
        if (pieces.size() < 2 || pieces.size() > 3) continue;
        const int slack = std::max(1, static_cast<int>(em * aligned));
        const bool digits = std::all_of(pieces.begin(), pieces.end(), [&](const Piece& p) {
            return std::abs(p.rows.start - cell.start) <= slack && std::abs(p.rows.end - cell.end) <= slack &&
                   p.across.length() * 10 <= em * 7;
        });
        if (!digits) continue;
        out.push_back({cell, {pieces.front().across.start, pieces.back().across.end}, static_cast<int>(pieces.size())});
    }
    return out;
}

GreyPage cutOut(const GreyPage& page, const Group& group, int height) {
    const int pad = std::max(2, group.rows.length() / 4);
    GreyPage out;
    out.width = group.across.length() + 2 * pad;
    out.height = group.rows.length() + 2 * pad;
    out.pixels.assign(static_cast<std::size_t>(out.width) * out.height, 255);
    for (int y = group.rows.start; y < group.rows.end; ++y) {
        std::copy(page.pixels.begin() + static_cast<std::ptrdiff_t>(y) * page.width + group.across.start,
                  page.pixels.begin() + static_cast<std::ptrdiff_t>(y) * page.width + group.across.end,
                  out.pixels.begin() + static_cast<std::ptrdiff_t>(y - group.rows.start + pad) * out.width + pad);
    }
    return out.scaled(static_cast<double>(height) / out.height);
}

bool readsAsDigits(const std::string& text, const Group& group) {
    return static_cast<int>(text.size()) == group.pieces &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace velmora::VerticalUprightDigits
