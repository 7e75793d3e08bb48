#include "recognition/standard/StackedRows.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>

namespace velmora::StandardPass {

namespace {

// Below its baseline a line's characters reach at most as far as a Latin
// letter's descender, about half their median height: ink further down
// is a row below it.
constexpr double deepest = 0.6;
// A reading of the rows this unsure is no better than the layout's.
constexpr float legible = 0.6f;
// A row read this surely is read right.
constexpr float sure = 0.8f;
// Readings whose confidences differ by this little are as sure.
constexpr double asSure = 0.02;

// A line askew (a scan, a photograph) has a box that reaches below its
// baseline's middle by its slant, and its rows are not to be cut apart
// level: only a level line is looked at.
bool level(const Line& l) {
    return l.horizontal && l.hasBaseline && l.textHeight() >= 6 &&
           std::abs(l.baseline[3] - l.baseline[1]) * 4 <= l.textHeight();
}

// Confidence per character of the lines, and their characters.
std::pair<double, int> sureness(const std::vector<const Line*>& ls) {
    double sum = 0;
    int n = 0;
    for (const Line* l : ls) {
        sum += static_cast<double>(l->confidence) * l->characters;
        n += l->characters;
    }
    return {n > 0 ? sum / n : 0.0, n};
}

class Rows {
public:
    Rows(const GreyPage& page, const PageInk& ink, const PixelBox& region) : page_(page), ink_(ink), region_(region) {}

    // The rows' edges: the region's top and bottom, and where the ink
    // thins most just under each baseline given.
    void cut(const std::vector<int>& baselines, int h) {
        std::vector<int> cuts;
        for (int baseline : baselines) {
            // The nearer the baseline the likelier the edge: the row
            // below may be short and thin all through.
            int best = -1;
            double least = 0;
            for (int y = std::max(baseline, region_.top + 1); y <= baseline + h / 3 && y < region_.bottom; ++y) {
                long across = 0;
                for (int x = region_.left; x < region_.right; ++x) across += ink_.at(x, y) ? 1 : 0;
                const double weighed = static_cast<double>(across) * (h + y - baseline);
                if (best < 0 || weighed < least) best = y, least = weighed;
            }
            if (best >= 0) cuts.push_back(best);
        }
        std::sort(cuts.begin(), cuts.end());
        edges_ = {region_.top};
        for (int c : cuts) {
            if (c - edges_.back() >= h / 2) edges_.push_back(c);
        }
        if (region_.bottom - edges_.back() < h / 2) edges_.pop_back();
        edges_.push_back(region_.bottom);
        if (edges_.size() < 3) edges_.clear();
    }

    std::size_t count() const { return edges_.empty() ? 0 : edges_.size() - 1; }

    // Each row's ink, as an image of its own with a margin, and where
    // the image stands on the page. A piece of ink is the row's that holds
    // most of it (a descender reaches below the edge), unless two rows
    // hold much of it each, characters of two rows touching: it is cut at
    // their edge.
    std::vector<std::pair<GreyPage, PixelBox>> images(int height, int margin) {
        label();
        const std::size_t n = count();
        std::vector<int> rowOf(boxes_.size(), -1);
        for (std::size_t c = 0; c < boxes_.size(); ++c) {
            const PixelBox& b = boxes_[c];
            int most = 0, rows = 0;
            for (std::size_t r = 0; r < n; ++r) {
                const int inside = std::min(b.bottom, edges_[r + 1]) - std::max(b.top, edges_[r]);
                if (inside > most) most = inside, rowOf[c] = static_cast<int>(r);
                if (inside * 5 >= height * 2) rows += 1;
            }
            if (rows > 1) rowOf[c] = -1;
        }
        const auto rowAt = [&](int x, int y) -> int {
            const int c = labels_[static_cast<std::size_t>(y - region_.top) * region_.width() + (x - region_.left)];
            if (c < 0) return -1;
            if (rowOf[static_cast<std::size_t>(c)] >= 0) return rowOf[static_cast<std::size_t>(c)];
            return static_cast<int>(std::upper_bound(edges_.begin(), edges_.end(), y) - edges_.begin()) - 1;
        };
        std::vector<PixelBox> extents(n);
        for (int y = region_.top; y < region_.bottom; ++y) {
            for (int x = region_.left; x < region_.right; ++x) {
                const int r = rowAt(x, y);
                if (r >= 0) extents[static_cast<std::size_t>(r)].unite({x, y, x + 1, y + 1});
            }
        }
        std::vector<std::pair<GreyPage, PixelBox>> out;
        // A band of ink less than half a character tall (an underline, the
        // tails of the row above) is no row of its own.
        for (const PixelBox& e : extents) {
            if (e.height() * 2 < height) return out;
        }
        for (std::size_t r = 0; r < n; ++r) {
            const PixelBox& e = extents[r];
            GreyPage alone;
            alone.resolution = page_.resolution;
            const PixelBox at{e.left - margin, e.top - margin, e.right + margin, e.bottom + margin};
            alone.width = at.width();
            alone.height = at.height();
            alone.pixels.assign(static_cast<std::size_t>(alone.width) * alone.height, 255);
            for (int y = e.top; y < e.bottom; ++y) {
                for (int x = e.left; x < e.right; ++x) {
                    if (rowAt(x, y) != static_cast<int>(r)) continue;
                    alone.pixels[static_cast<std::size_t>(y - at.top) * alone.width + (x - at.left)] =
                        page_.pixels[static_cast<std::size_t>(y) * page_.width + x];
                }
            }
            out.emplace_back(std::move(alone), at);
        }
        return out;
    }

private:
    // The region's pieces of ink (8-connected, within the region).
    void label() {
        const int w = region_.width(), h = region_.height();
        labels_.assign(static_cast<std::size_t>(w) * h, -1);
        std::vector<std::pair<int, int>> stack;
        for (int y0 = 0; y0 < h; ++y0) {
            for (int x0 = 0; x0 < w; ++x0) {
                const std::size_t at = static_cast<std::size_t>(y0) * w + x0;
                if (labels_[at] >= 0 || !ink_.at(region_.left + x0, region_.top + y0)) continue;
                const int c = static_cast<int>(boxes_.size());
                PixelBox box;
                labels_[at] = c;
                stack.emplace_back(x0, y0);
                while (!stack.empty()) {
                    const auto [x, y] = stack.back();
                    stack.pop_back();
                    box.unite({region_.left + x, region_.top + y, region_.left + x + 1, region_.top + y + 1});
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = x + dx, ny = y + dy;
                            if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                            const std::size_t n = static_cast<std::size_t>(ny) * w + nx;
                            if (labels_[n] >= 0 || !ink_.at(region_.left + nx, region_.top + ny)) continue;
                            labels_[n] = c;
                            stack.emplace_back(nx, ny);
                        }
                    }
                }
                boxes_.push_back(box);
            }
        }
    }

    const GreyPage& page_;
    const PageInk& ink_;
    PixelBox region_;
    std::vector<int> edges_;
    std::vector<int> labels_;
    std::vector<PixelBox> boxes_;
};

}  // namespace

void readStackedRows(std::vector<Line>& ls, Reader& reader, const GreyPage& page, const PageInk& ink,
                     const std::function<bool(const Line&)>& skip) {
    // Lines whose boxes run into one another by half a character or more
    // hold rows of one stack between them.
    std::vector<std::size_t> parent(ls.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    std::vector<int> heights(ls.size(), 0);  // 0: not looked at
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (level(ls[i]) && !skip(ls[i])) heights[i] = ls[i].textHeight();
    }
    for (std::size_t i = 0; i < ls.size(); ++i) {
        for (std::size_t j = i + 1; j < ls.size() && heights[i] > 0; ++j) {
            if (heights[j] == 0) continue;
            const PixelBox& a = ls[i].box;
            const PixelBox& b = ls[j].box;
            const int across = std::min(a.right, b.right) - std::max(a.left, b.left);
            const int shared = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
            if (across > 0 && shared * 2 >= std::min(heights[i], heights[j])) parent[root(j)] = root(i);
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> stacks;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (heights[i] > 0) stacks[root(i)].push_back(i);
    }
    // The rows read for each stack, by its first line.
    std::map<std::size_t, std::vector<Line>> replaced;
    std::vector<bool> dropped(ls.size(), false);
    for (const auto& stack : stacks) {
        // Not a structured binding: the rows' reader below captures it,
        // which clang 14 refuses for one.
        const std::vector<std::size_t>& members = stack.second;
        std::vector<int> sizes;
        for (std::size_t i : members) sizes.push_back(heights[i]);
        // The stack's characters' size: a sliver of a row the layout
        // makes a line of its own is no measure.
        const int h = median(sizes);
        std::vector<int> baselines;
        std::vector<const Line*> was;
        PixelBox region;
        for (std::size_t i : members) {
            const Line& l = ls[i];
            if (l.box.bottom - std::max(l.baseline[1], l.baseline[3]) > deepest * h) {
                baselines.push_back(static_cast<int>(std::lround(l.baselineY())));
            }
            region.unite(l.box);
            was.push_back(&l);
        }
        if (baselines.empty()) continue;
        // The layout's boxes may cut off the side of a row's first or last
        // character, which another row's touches.
        region = ink.clipped({region.left - h / 2, region.top, region.right + h / 2, region.bottom});
        if (region.empty()) continue;
        // The rows cut under the baselines given, read; none where they
        // read no better than the layout's lines.
        const std::pair<double, int> then = sureness(was);
        const double before = then.first;
        const int had = then.second;
        const auto readRows = [&](const std::vector<int>& under) -> std::optional<std::pair<std::vector<Line>, double>> {
            Rows rows(page, ink, region);
            rows.cut(under, h);
            if (rows.count() < 2) return std::nullopt;
            std::vector<Line> read;
            for (auto& image : rows.images(h, std::max(h / 2, 4))) {
                const GreyPage& alone = image.first;
                const PixelBox at = image.second;
                std::vector<Line> found = reader.image(alone, tesseract::PSM_SINGLE_LINE, ls[members.front()].block);
                if (found.size() != 1) return std::nullopt;
                Line& l = found.front();
                l.box.shift(at.left, at.top);
                for (PixelBox& b : l.symbolBoxes) b.shift(at.left, at.top);
                for (int k = 0; k < 4; k += 2) {
                    l.baseline[k] += at.left;
                    l.baseline[k + 1] += at.top;
                }
                read.push_back(std::move(l));
            }
            if (read.size() < 2) return std::nullopt;
            std::vector<const Line*> now;
            for (const Line& l : read) now.push_back(&l);
            const auto [after, has] = sureness(now);
            // The layout's line may read its own row well and leave the row
            // under it out: rows that add characters are taken as surely
            // read when each of them is.
            const bool added = has > had && after + asSure >= before &&
                               std::all_of(read.begin(), read.end(), [](const Line& l) { return l.confidence >= sure; });
            if (after < legible || (after <= before && !added)) return std::nullopt;
            return std::pair{std::move(read), after};
        };
        auto best = readRows(baselines);
        // Lines of text may run into one another too, a line's box reaching
        // up into the row above it while it stands on its own row's
        // baseline: the rows cut under every line's baseline as well, taken
        // where they read surer (a table's cell set in the middle of two
        // rows gives its line a baseline that no row has).
        std::vector<int> every = baselines;
        for (std::size_t i : members) every.push_back(static_cast<int>(std::lround(ls[i].baselineY())));
        if (baselines.size() < members.size()) {
            if (auto more = readRows(every); more && (!best || more->second > best->second)) best = std::move(more);
        }
        if (!best) continue;
        std::vector<Line> read = std::move(best->first);
        for (std::size_t i : members) dropped[i] = true;
        replaced[members.front()] = std::move(read);
    }
    if (replaced.empty()) return;
    std::vector<Line> out;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (auto r = replaced.find(i); r != replaced.end()) {
            for (Line& l : r->second) out.push_back(std::move(l));
        }
        if (!dropped[i]) out.push_back(std::move(ls[i]));
    }
    ls = std::move(out);
}

}  // namespace velmora::StandardPass
