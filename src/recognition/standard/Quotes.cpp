#include "recognition/standard/Quotes.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "recognition/standard/PunctuationWidth.hpp"

namespace velmora::StandardPass {

namespace {

// A curly quote's marks lean (their tails run sideways: 0.08 to 0.37 of a
// pixel per row in the faces measured), are plainly lopsided (their
// difference from their mirror images, over their ink, 0.35 to 0.99) or
// bow (the middles of their rows stand 0.2 to 3 pixels off the line from
// top to bottom: a small sans-serif ” whose tail curls back under its head
// leans no way); a straight quote's stand upright (under 0.02 a row) and
// straight (within 0.1 pixel) and are nearly their own mirror images (0.03
// to 0.3, the more the smaller the print). Marks between the two keep what
// the model read. A curly quote's head, where its weight is, stands at the
// top of a closing one and at the bottom of an opening one.
constexpr double curlyLean = 0.07;
constexpr double curlyAsymmetry = 0.5;
constexpr double curlyBow = 0.25;
constexpr double straightLean = 0.03;
constexpr double straightAsymmetry = 0.3;
constexpr double straightBow = 0.15;
constexpr double leastSkew = 0.05;
// The shortest mark whose shape is looked at, in pixels.
constexpr int leastHeight = 3;

bool quote(const std::string& s) { return s == "\"" || s == "”" || s == "“"; }

// How a mark's ink lies: how far it moves sideways per row upwards
// (rightwards positive), the skewness of its rows (positive where its
// weight is at the top and a tail runs down), and how unlike its mirror
// image about the upright through its middle it is. Measured on the grey
// levels where they are given, so that the few pixels of a small mark (six
// or seven rows on a page prepared for reading) tell more than its ink
// mask.
struct Shape {
    double lean = 0;
    double skew = 0;
    double asymmetry = 0;
    double bow = 0;
    bool measured = false;
};

Shape shapeOf(const GreyPage::InkPiece& p, const PageInk& ink) {
    Shape s;
    const int left = std::max(p.x - 1, 0), right = std::min(p.x + p.width + 1, ink.width);
    const int top = std::max(p.y - 1, 0), bottom = std::min(p.y + p.height + 1, ink.height);
    double w = 0, sx = 0, sy = 0;
    const auto weight = [&](int x, int y) {
        if (ink.grey) return std::max(0.0, 255.0 - (*ink.grey)[static_cast<std::size_t>(y) * ink.width + x]);
        return ink.at(x, y) ? 255.0 : 0.0;
    };
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const double v = weight(x, y);
            w += v;
            sx += v * x;
            sy += v * y;
        }
    }
    if (w <= 0) return s;
    const double cx = sx / w, cy = sy / w;
    double m02 = 0, m11 = 0, m03 = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const double v = weight(x, y);
            const double dx = x - cx, dy = y - cy;
            m02 += v * dy * dy;
            m11 += v * dx * dy;
            m03 += v * dy * dy * dy;
        }
    }
    m02 /= w;
    m11 /= w;
    m03 /= w;
    if (m02 <= 0) return s;
    // Against its mirror image about the upright through its middle.
    double differ = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const double mx = 2 * cx - x;
            const int x0 = static_cast<int>(std::floor(mx));
            const double f = mx - x0;
            const auto at = [&](int xx) { return xx >= left && xx < right ? weight(xx, y) : 0.0; };
            differ += std::abs(weight(x, y) - ((1 - f) * at(x0) + f * at(x0 + 1)));
        }
    }
    s.asymmetry = differ / w;
    // The middles of its rows (those with a pixel's worth of ink), against
    // the chord from the top one to the bottom one.
    std::vector<double> middles;
    for (int y = top; y < bottom; ++y) {
        double row = 0, sum = 0;
        for (int x = left; x < right; ++x) {
            row += weight(x, y);
            sum += weight(x, y) * x;
        }
        if (row >= 255) middles.push_back(sum / row);
    }
    for (std::size_t r = 0; middles.size() >= 3 && r < middles.size(); ++r) {
        const double chord =
            middles.front() + (middles.back() - middles.front()) * static_cast<double>(r) / (middles.size() - 1);
        if (std::abs(middles[r] - chord) > std::abs(s.bow)) s.bow = middles[r] - chord;
    }
    s.lean = -m11 / m02;
    s.skew = m03 / std::pow(m02, 1.5);
    s.measured = true;
    return s;
}

}  // namespace

void readQuotes(std::vector<Line>& ls, const PageInk& ink) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        bool any = false;
        for (const std::string& t : line.symbolTexts) any = any || quote(t);
        if (!any) continue;
        const int h = line.textHeight();
        const int pitch = characterPitch(line, ink);
        const int em = pitch > 0 ? pitch : h;
        const int middle = (line.box.top + line.box.bottom) / 2;
        // A quote's mark: a small piece of ink in the upper half of the
        // line, taller than wide (two marks that touch, in small print, are
        // one piece as wide as tall, whose shape tells nothing of theirs).
        const auto mark = [&](const GreyPage::InkPiece& p) {
            const int cy = p.y + p.height / 2;
            return p.height >= leastHeight && p.height * 2 <= h && p.width * 3 <= em &&
                   p.width * 4 <= p.height * 3 && cy >= line.box.top - h / 4 && cy < middle;
        };
        bool changed = false;
        // The ink of the quote before, where the symbol before was one.
        const GreyPage::InkPiece* previous = nullptr;
        const GreyPage::InkPiece* previousPartner = nullptr;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
            if (!quote(line.symbolTexts[k])) {
                if (!LineText::isBlank(line.symbolTexts[k])) previous = previousPartner = nullptr;
                continue;
            }
            const PixelBox& box = line.symbolBoxes[k];
            const int centre = (box.left + box.right) / 2;
            const auto distance = [&](const GreyPage::InkPiece& p) { return std::abs(p.x + p.width / 2 - centre); };
            // The mark nearest the box the model gives the quote (it takes
            // in one mark or both), then the other mark beside it: as tall,
            // on the same rows.
            const GreyPage::InkPiece* nearest = nullptr;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                if (!mark(p)) continue;
                const int cx = p.x + p.width / 2;
                if (cx < box.left - em / 4 || cx >= box.right + em / 4) continue;
                if (!nearest || distance(p) < distance(*nearest)) nearest = &p;
            }
            if (!nearest) {
                previous = previousPartner = nullptr;
                continue;
            }
            const GreyPage::InkPiece* partner = nullptr;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                if (&p == nearest || !mark(p)) continue;
                const int gap = std::max(p.x - (nearest->x + nearest->width), nearest->x - (p.x + p.width));
                const int across = std::min(p.y + p.height, nearest->y + nearest->height) - std::max(p.y, nearest->y);
                if (gap < 0 || gap * 3 > em || across * 2 < std::min(p.height, nearest->height)) continue;
                if (p.height * 2 < nearest->height || nearest->height * 2 < p.height) continue;
                if (!partner || std::abs(p.x - nearest->x) < std::abs(partner->x - nearest->x)) partner = &p;
            }
            // The models sometimes read one quote as two or three symbols
            // ("”"" for ”): a quote read over the ink of the one just before
            // it is that one again.
            const bool again = previous && (nearest == previous || nearest == previousPartner ||
                                            (partner && (partner == previous || partner == previousPartner)));
            previous = nearest;
            previousPartner = partner;
            if (again) {
                replaceSymbol(line, k, "");
                changed = true;
                continue;
            }
            Shape shape = shapeOf(*nearest, ink);
            if (partner) {
                // Both marks of a quote have one shape; together they tell
                // it more surely than one.
                const Shape other = shapeOf(*partner, ink);
                if (other.measured && shape.measured) {
                    shape.lean = (shape.lean + other.lean) / 2;
                    shape.skew = (shape.skew + other.skew) / 2;
                    shape.asymmetry = (shape.asymmetry + other.asymmetry) / 2;
                    shape.bow = (shape.bow + other.bow) / 2;
                }
            }
            if (!shape.measured) continue;
            std::string printed;
            if (shape.lean >= curlyLean || shape.asymmetry >= curlyAsymmetry || std::abs(shape.bow) >= curlyBow) {
                if (shape.skew >= leastSkew) printed = "”";
                if (shape.skew <= -leastSkew) printed = "“";
            } else if (std::abs(shape.lean) <= straightLean && shape.asymmetry <= straightAsymmetry &&
                       std::abs(shape.bow) <= straightBow) {
                printed = "\"";
            }
            if (printed.empty() || printed == line.symbolTexts[k]) continue;
            replaceSymbol(line, k, printed);
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
