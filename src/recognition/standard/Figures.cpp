#include "recognition/standard/Figures.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>

#include "foundation/Unicode.hpp"

#include "recognition/standard/PunctuationWidth.hpp"

namespace velmora::StandardPass {

namespace {

bool digit(const std::string& s) { return s.size() == 1 && s[0] >= '0' && s[0] <= '9'; }
bool letter(const std::string& s) {
    return s.size() == 1 && ((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'));
}
bool stop(const std::string& s) { return s == "," || s == "."; }
bool isKana(const std::string& s) {
    const std::vector<char32_t> c = Unicode::scalars(s);
    return c.size() == 1 && ((c[0] >= U'ぁ' && c[0] <= U'ゖ') || (c[0] >= U'ァ' && c[0] <= U'ヺ'));
}
// What the Japanese model reads for the yen sign, which it does not know:
// the backslash that Japanese faces draw as one.
bool yenLike(const std::string& s) { return s == "\\" || s == "¥" || s == "￥"; }
// What it reads for a 1 beside a rule, or for a rule beside a figure.
bool oneLike(const std::string& s) { return s == "]" || s == "|" || s == "l" || s == "I"; }
// The marks set among digits, which a figure runs on through.
bool figureMark(const std::string& s) {
    static const std::string marks = ",.-/:%";
    return yenLike(s) || oneLike(s) || (s.size() == 1 && marks.find(s[0]) != std::string::npos);
}

std::vector<std::size_t> inkedSymbols(const Line& line) {
    std::vector<std::size_t> inked;
    for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
        if (!line.symbolBoxes[k].empty() && !LineText::isBlank(line.symbolTexts[k])) inked.push_back(k);
    }
    return inked;
}

using Inked = std::vector<std::size_t>;

// Each horizontal line's inked symbols from the `from`th to the last but
// `tail`, read again: replaced where `read` gives another text.
template <typename Read>
void rereadSymbols(std::vector<Line>& ls, std::size_t from, std::size_t tail, Read read) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        const Inked inked = inkedSymbols(line);
        bool changed = false;
        for (std::size_t i = from; i + tail < inked.size(); ++i) {
            const std::optional<std::string> text = read(line, inked, i);
            if (!text) continue;
            replaceSymbol(line, inked[i], *text);
            changed = true;
        }
        if (changed) assemble(line);
    }
}

// The height of a comma or full stop among digits, in tenths of theirs at
// most.
constexpr int markHeight = 6;
// A symbol this many tenths of a digit wide or more may hold two.
constexpr int wideSymbol = 16;
// A percent sign's ink, in tenths of a digit's width at least.
constexpr int percentWidth = 14;
// A wave dash's ink, in hundredths of a character: at least this wide, and
// between these heights; and at most this share of its box ink (a bar's
// fills it).
constexpr int waveWidth = 60, waveLow = 10, waveHigh = 45, waveFill = 65;
// A full-width yen sign's advance, at least: in tenths of its digits' (a
// half-width one's is about one), or in hundredths of a character (about
// fifty for a half-width one).
constexpr int fullYenSteps = 14, fullYenEm = 75;

// A kana or kanji, which fills its cell.
bool fillsCell(const std::string& s) {
    const std::vector<char32_t> c = Unicode::scalars(s);
    return c.size() == 1 && LineText::isCJK(c[0]) && !LineText::isWidePunctuation(c[0]);
}

int across(const PixelBox& a, const PixelBox& b) { return std::min(a.right, b.right) - std::max(a.left, b.left); }

// Which pieces of ink may be a symbol's glyph: any, or only those at most
// half as wide again as tall.
enum class Shape { any, upright };

// The ink of the symbol whose box is `own`: the piece as tall as a digit
// (six tenths of the line's characters at least) that shares most of the
// box (the model's boxes stand a little off the ink), nothing where none
// does or it is too small to measure.
const GreyPage::InkPiece* glyphOver(const Line& line, const PixelBox& own, const PageInk& ink, Shape shape) {
    const GreyPage::InkPiece* glyph = nullptr;
    int best = 0;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        if (p.height * 10 < line.textHeight() * 6 || p.height > line.height()) continue;
        if (shape == Shape::upright && p.width * 2 > p.height * 3) continue;
        const PixelBox box{p.x, p.y, p.x + p.width, p.y + p.height};
        const int shared = across(box, own);
        if (shared * 2 < std::min(p.width, own.width()) || shared <= best) continue;
        if (std::min(box.bottom, own.bottom) - std::max(box.top, own.top) <= 0) continue;
        best = shared;
        glyph = &p;
    }
    if (glyph == nullptr || glyph->height < 9 || glyph->width < 5) return nullptr;
    return glyph;
}

// The figures of the line, as first and last positions in `inked`: from
// a digit, a yen sign or what may be a 1, through digits and the marks
// among them, to a digit or a mark that may be a 1, with a digit at least
// and no word of Latin (a code with letters is a Latin run's).
std::vector<std::pair<std::size_t, std::size_t>> figuresOf(const Line& line, const std::vector<std::size_t>& inked,
                                                           int em) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < inked.size();) {
        const std::string& t = line.symbolTexts[inked[i]];
        // Digits that end a word of Latin are its own ("P0" read for
        // "PO").
        const bool afterLetter = i > 0 && letter(line.symbolTexts[inked[i - 1]]) &&
                                 line.symbolBoxes[inked[i]].left - line.symbolBoxes[inked[i - 1]].right < em / 2;
        if ((!digit(t) && !yenLike(t) && !oneLike(t) && t != "］") || afterLetter) {
            ++i;
            continue;
        }
        std::size_t end = i, j = i + 1;
        int digits = digit(t) ? 1 : 0, letters = 0;
        for (; j < inked.size(); ++j) {
            const std::string& u = line.symbolTexts[inked[j]];
            const int gap = line.symbolBoxes[inked[j]].left - line.symbolBoxes[inked[j - 1]].right;
            if (gap * 3 >= em * 2) break;
            if (!digit(u) && !figureMark(u) && !letter(u)) break;
            digits += digit(u) ? 1 : 0;
            letters += letter(u) ? 1 : 0;
            // A percent sign after its digits ends the figure: the
            // Japanese model reads one set large as a digit or two.
            if (digit(u) || oneLike(u) || (u == "%" && digits > 0)) end = j;
        }
        // A closing bracket standing alone in a cell's blank, but for the
        // rule beside it (read as a bar), is a quantity of 1 and read as a
        // figure too.
        const auto apart = [&](std::size_t a, std::size_t b, std::size_t other) {
            return line.symbolTexts[inked[other]] == "|" ||
                   line.symbolBoxes[inked[b]].left - line.symbolBoxes[inked[a]].right >= em;
        };
        const bool lone = digits == 0 && (t == "]" || t == "］") && (i == 0 || apart(i - 1, i, i - 1)) &&
                          (i + 1 == inked.size() || apart(i, i + 1, i + 1));
        if (digits > 0 && letters < 2) runs.emplace_back(i, end);
        if (lone) runs.emplace_back(i, i);
        i = std::max(end + 1, j);
    }
    return runs;
}

struct Symbol {
    std::string text;
    PixelBox box;
    float confidence = 0;
};

// What aligning one symbol of the figure with one of the English reading
// costs: nothing where they agree (the yen sign and the backslash read for
// it, a comma and a full stop, which the ink tells apart), one where they
// read other digits or a 1 and what may be one, more than leaving both out
// where they read different things.
int substitution(const std::string& mine, const std::string& theirs) {
    if (mine == theirs || (yenLike(mine) && theirs == "¥")) return 0;
    if (stop(mine) && stop(theirs)) return 0;
    if (digit(theirs) && (digit(mine) || (oneLike(mine) && theirs == "1"))) return 1;
    return 3;
}

// The yen sign the English reading has at `theirs[j]`, half-width (¥) or
// full-width (￥): the two are drawn alike in most faces, and a page sets
// either before half-width digits, but the full-width one takes a whole
// character cell, blank on both sides of its ink, where the half-width one
// is about as wide as a digit. So its advance (from its ink to the next
// digit's) against the digits' own tells them apart, or where fewer than
// three digits follow, against the size of the line's characters, of which
// the half-width one takes about half.
std::string yenSign(const Line& reading, const std::vector<std::size_t>& theirs, std::size_t j, int em) {
    const auto box = [&](std::size_t q) -> const PixelBox& { return reading.symbolBoxes[theirs[q]]; };
    if (j + 1 >= theirs.size() || !digit(reading.symbolTexts[theirs[j + 1]])) return "¥";
    // A sign set apart from its digits, at a cell's start with the amount
    // flush right as an accounting format sets it, tells nothing by its
    // advance: it is the half-width sign such formats print.
    if (box(j + 1).left - box(j).right > em) return "¥";
    const int advance = box(j + 1).left - box(j).left;
    std::vector<int> steps;
    for (std::size_t q = j + 1; q + 1 < theirs.size(); ++q) {
        if (digit(reading.symbolTexts[theirs[q]]) && digit(reading.symbolTexts[theirs[q + 1]])) {
            steps.push_back(box(q + 1).left - box(q).left);
        }
    }
    const bool full = steps.size() >= 2 ? advance * 10 >= median(steps) * fullYenSteps
                                        : advance * 100 >= em * fullYenEm;
    return full ? "￥" : "¥";
}

// The figure's symbols with the English reading's taken where the Japanese
// model cannot read them; whether any changed.
bool merged(const Line& line, const std::vector<std::size_t>& run, const Line& reading, int em,
            std::vector<Symbol>& out) {
    std::vector<std::size_t> theirs;
    for (std::size_t e = 0; e < reading.symbolTexts.size(); ++e) {
        if (!reading.symbolBoxes[e].empty() && !LineText::isBlank(reading.symbolTexts[e])) theirs.push_back(e);
    }
    // The reading's own marks at its ends are strays or a neighbour's.
    const auto figure = [&](std::size_t e) { return digit(reading.symbolTexts[e]) || reading.symbolTexts[e] == "¥"; };
    while (!theirs.empty() && !figure(theirs.front())) theirs.erase(theirs.begin());
    // But for a percent sign after its digits, which the English model
    // reads where the Japanese one, at a slide's sizes, reads its two
    // rings as two digits or a digit and the sign.
    const auto sign = [&] {
        return theirs.size() >= 2 && reading.symbolTexts[theirs.back()] == "%" &&
               digit(reading.symbolTexts[theirs[theirs.size() - 2]]);
    };
    while (!theirs.empty() && !figure(theirs.back()) && !sign()) theirs.pop_back();
    std::optional<std::size_t> percent;
    if (sign()) {
        percent = theirs.back();
        theirs.pop_back();
    }
    const std::size_t m = run.size(), n = theirs.size();
    if (n == 0) return false;
    const auto mine = [&](std::size_t i) -> const std::string& { return line.symbolTexts[run[i]]; };
    const auto english = [&](std::size_t j) -> const std::string& { return reading.symbolTexts[theirs[j]]; };
    std::vector<std::vector<int>> cost(m + 1, std::vector<int>(n + 1, 0));
    for (std::size_t i = 0; i <= m; ++i) cost[i][0] = static_cast<int>(i);
    for (std::size_t j = 0; j <= n; ++j) cost[0][j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= m; ++i) {
        for (std::size_t j = 1; j <= n; ++j) {
            cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                                   cost[i - 1][j - 1] + substitution(mine(i - 1), english(j - 1))});
        }
    }
    if (percent) {
        // The symbols the sign's rings were read as: those after the
        // fewest of the figure's that agree best with the English
        // reading's digits; one at least (the sign read as a digit, or its
        // two rings as two), each under the sign's ink where the English
        // model read one figure short, and the sign's ink wider than a
        // digit's, since the English model now and then reads a last digit
        // and the ink after it as one.
        std::size_t body = 0;
        for (std::size_t i = 1; i <= m; ++i) {
            if (cost[i][n] < cost[body][n]) body = i;
        }
        std::vector<int> widths;
        for (std::size_t e : theirs) {
            if (digit(reading.symbolTexts[e])) widths.push_back(reading.symbolBoxes[e].width());
        }
        const PixelBox& ink = reading.symbolBoxes[*percent];
        const bool wide = !widths.empty() && ink.width() * 10 >= median(widths) * percentWidth;
        // (The models' boxes of a symbol stray by a digit's width.)
        const bool under = std::all_of(run.begin() + static_cast<std::ptrdiff_t>(body), run.end(), [&](std::size_t k) {
            const PixelBox& b = line.symbolBoxes[k];
            const int middle = (b.left + b.right) / 2, digitWidth = median(widths);
            return middle >= ink.left - digitWidth && middle < ink.right + digitWidth;
        });
        // (Where the Japanese model read a kana there, the ink is a
        // character's, however narrow the English model's box for it.)
        const bool kana = std::any_of(run.begin() + static_cast<std::ptrdiff_t>(body), run.end(),
                                      [&](std::size_t k) { return isKana(line.symbolTexts[k]); });
        if (body > 0 && body < m && (wide || kana) && under && cost[body][n] * 3 <= static_cast<int>(n)) {
            const std::vector<std::size_t> digits(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(body));
            Line others = reading;
            for (std::size_t e = *percent; e < others.symbolBoxes.size(); ++e) others.symbolBoxes[e] = {};
            if (!merged(line, digits, others, em, out)) {
                out.clear();
                for (std::size_t k : digits) {
                    out.push_back({line.symbolTexts[k], line.symbolBoxes[k], line.symbolConfidences[k]});
                }
            }
            out.push_back({"%", ink, reading.symbolConfidences[*percent]});
            // And the bracket read with it, where the kana it replaces
            // reaches on past the sign's ink.
            const std::size_t after = *percent + 1;
            const PixelBox& last = line.symbolBoxes[run.back()];
            if (kana && after < reading.symbolTexts.size() &&
                (reading.symbolTexts[after] == ")" || reading.symbolTexts[after] == "）") &&
                last.right - ink.right >= median(widths) / 2) {
                out.push_back({reading.symbolTexts[after], reading.symbolBoxes[after], reading.symbolConfidences[after]});
            }
            return true;
        }
    }
    // The steps, from the end.
    struct Step {
        int i = -1, j = -1;  // -1: none on that side
    };
    std::vector<Step> steps;
    for (std::size_t i = m, j = n; i > 0 || j > 0;) {
        if (i > 0 && j > 0 && cost[i][j] == cost[i - 1][j - 1] + substitution(mine(i - 1), english(j - 1))) {
            steps.push_back({static_cast<int>(i - 1), static_cast<int>(j - 1)});
            --i, --j;
        } else if (i > 0 && cost[i][j] == cost[i - 1][j] + 1) {
            steps.push_back({static_cast<int>(i - 1), -1});
            --i;
        } else {
            steps.push_back({-1, static_cast<int>(j - 1)});
            --j;
        }
    }
    std::reverse(steps.begin(), steps.end());
    // Readings that do not agree on where the figure's symbols stand (one
    // of them read more of it, or a neighbour's ink) tell nothing of it.
    const auto unpaired = std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.i < 0 || s.j < 0; });
    if (unpaired * 2 > static_cast<long>(m)) return false;
    std::vector<int> widths;
    for (std::size_t k : run) {
        if (digit(line.symbolTexts[k])) widths.push_back(line.symbolBoxes[k].width());
    }
    const int digitWidth = widths.empty() ? 0 : median(widths);
    // What becomes of each step: the figure's symbol kept, taken from the
    // reading or dropped, or the reading's symbol added.
    enum class Fate { keep, take, drop, add, leave };
    std::vector<Fate> fates;
    // Digits one reading has and the other not, which no rule explains:
    // the two do not agree on the digits, and neither tells the other's.
    int strays = 0, digits = 0;
    int previous = -1;  // the last of the figure's symbols passed
    for (const Step& s : steps) {
        if (s.i >= 0) {
            previous = s.i;
            const std::size_t k = run[static_cast<std::size_t>(s.i)];
            const std::string& own = line.symbolTexts[k];
            digits += digit(own) ? 1 : 0;
            if (s.j >= 0) {
                const std::string& t = reading.symbolTexts[theirs[static_cast<std::size_t>(s.j)]];
                // Where both read a mark, the Japanese model's stands; the
                // yen sign's width is the English reading's to tell.
                fates.push_back((t != own && digit(t)) || t == "¥" ? Fate::take : Fate::keep);
                continue;
            }
            // A symbol the English reading leaves out that stands half over
            // a neighbour's is one glyph read twice, and so is a comma or
            // full stop beside another or a colon (its lower dot read
            // again); not at the figure's ends, where the
            // English model, reading the figure alone, may lose a symbol.
            bool twice = false;
            for (const int o : {s.i - 1, s.i + 1}) {
                if (s.i == 0 || s.i + 1 == static_cast<int>(m)) break;
                if (o < 0 || o >= static_cast<int>(m)) continue;
                const std::size_t beside = run[static_cast<std::size_t>(o)];
                const PixelBox& b = line.symbolBoxes[k];
                // (A comma's box strays over its digits' where the line's
                // boxes stand off its ink.)
                twice = twice || (!stop(own) && across(b, line.symbolBoxes[beside]) * 2 >= b.width()) ||
                        (stop(own) && (stop(line.symbolTexts[beside]) || line.symbolTexts[beside] == ":"));
            }
            fates.push_back(twice ? Fate::drop : Fate::keep);
            strays += !twice && digit(own) ? 1 : 0;
            continue;
        }
        // A digit the English reading has where the figure has none: one
        // the Japanese model left out (a 1 after a yen sign or beside a
        // rule), when it stands inside the figure where the Japanese
        // model's symbols leave room for it or one of them is as wide as
        // two; and so a comma or full stop between two of its digits (it
        // takes a thousands separator into the digit after it now and
        // then).
        const std::string& t = reading.symbolTexts[theirs[static_cast<std::size_t>(s.j)]];
        // A yen sign before the figure's first symbol: the Japanese model
        // took it into the first digit's box or read it as nothing.
        if (t == "¥" && previous < 0) {
            fates.push_back(Fate::add);
            continue;
        }
        bool room = false;
        const auto digitAt = [&](int i) { return digit(line.symbolTexts[run[static_cast<std::size_t>(i)]]); };
        if (previous >= 0 && previous + 1 < static_cast<int>(m) && digitWidth > 0 &&
            (digit(t) || (stop(t) && digitAt(previous) && digitAt(previous + 1)))) {
            const PixelBox& a = line.symbolBoxes[run[static_cast<std::size_t>(previous)]];
            const PixelBox& b = line.symbolBoxes[run[static_cast<std::size_t>(previous) + 1]];
            const PixelBox& own = reading.symbolBoxes[theirs[static_cast<std::size_t>(s.j)]];
            room = (b.left - a.right) * 2 >= digitWidth ||
                   std::max(a.width(), b.width()) * 10 >= digitWidth * wideSymbol ||
                   (stop(t) && std::max(across(own, a), across(own, b)) * 2 >= own.width());
        }
        fates.push_back(room ? Fate::add : Fate::leave);
        strays += !room && digit(t) ? 1 : 0;
    }
    bool changed = false;
    for (std::size_t x = 0; x < steps.size(); ++x) {
        const Step& s = steps[x];
        Fate fate = fates[x];
        const std::string* t = s.j >= 0 ? &reading.symbolTexts[theirs[static_cast<std::size_t>(s.j)]] : nullptr;
        // Another digit, or one more, is taken from the English reading
        // only where the two agree on all the other digits, and on more
        // than one: a lone digit read on an image of its own the English
        // model reads poorly. The yen sign it alone knows.
        // But for a lone stroke the English model reads as a 1.
        const bool one = m == 1 && (mine(0) == "]" || mine(0) == "］") && fate == Fate::take && *t == "1";
        if ((fate == Fate::take || fate == Fate::add) && *t != "¥" && !one) {
            if (strays > 0 || digits < 2) fate = fate == Fate::take ? Fate::keep : Fate::leave;
        }
        if (fate == Fate::keep) {
            const std::size_t k = run[static_cast<std::size_t>(s.i)];
            out.push_back({line.symbolTexts[k], line.symbolBoxes[k], line.symbolConfidences[k]});
        } else if (fate == Fate::take || fate == Fate::add) {
            const std::size_t e = theirs[static_cast<std::size_t>(s.j)];
            const std::string text = *t == "¥" ? yenSign(reading, theirs, static_cast<std::size_t>(s.j), em) : *t;
            if (fate == Fate::take) {
                const std::size_t k = run[static_cast<std::size_t>(s.i)];
                out.push_back({text, line.symbolBoxes[k], reading.symbolConfidences[e]});
                changed = changed || text != line.symbolTexts[k];
            } else {
                out.push_back({text, reading.symbolBoxes[e], reading.symbolConfidences[e]});
                changed = true;
            }
        } else if (fate == Fate::drop) {
            changed = true;
        }
    }
    return changed;
}

}  // namespace

void readFigures(std::vector<Line>& ls, const GreyPage& page, const PageInk& ink,
                 const TesseractEngines::Configuration& english) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        const std::vector<std::size_t> inked = inkedSymbols(line);
        // The size of the line's characters: the pitch of its Japanese,
        // which boxes that take in a neighbour's stroke make look
        // smaller, or the height its characters stand.
        const int em = std::max(japanesePitch(line), line.textHeight());
        if (em < 6) continue;
        const auto runs = figuresOf(line, inked, em);
        bool changed = false;
        // From the line's end, so that the symbols' indices before a
        // figure still hold when it is replaced.
        for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
            // A kana set close after the digits, no word going on after it,
            // may be a percent sign and the bracket after it, read as one
            // ("10%）" as "10め"): it is read with the figure, and stays
            // where the English model reads no sign in it.
            std::size_t end = r->second;
            if (end + 1 < inked.size()) {
                const bool kana = isKana(line.symbolTexts[inked[end + 1]]);
                const auto gap = [&](std::size_t k) {
                    return line.symbolBoxes[inked[k + 1]].left - line.symbolBoxes[inked[k]].right;
                };
                if (kana && gap(end) * 4 < em && (end + 2 == inked.size() || gap(end + 1) * 2 >= em)) end += 1;
            }
            const std::size_t first = inked[r->first], last = inked[end];
            // Its ink, half a character on beyond its symbols' boxes (the
            // model squeezes a figure's boxes now and then) up to its
            // neighbours' boxes, and to where the kana or kanji beside it
            // begin even inside its own (it stretches the last box over the
            // character after it now and then).
            const PixelBox& a = line.symbolBoxes[first];
            const PixelBox& z = line.symbolBoxes[last];
            int from = a.left - em / 2, to = z.right + em / 2;
            int before = line.box.left;  // the middle of the symbol before it
            if (r->first > 0) {
                const std::size_t k = inked[r->first - 1];
                const int edge = line.symbolBoxes[k].right;
                before = (line.symbolBoxes[k].left + edge) / 2;
                from = std::max(from, fillsCell(line.symbolTexts[k]) ? edge : std::min(edge, a.left));
            }
            // Nor is a glyph cut there that stands past the middle of the
            // symbol before it: a full-width yen sign's box, read as the
            // backslash, is squeezed at the first digit, a cell right of its
            // ink, and a line's boxes stand off its ink now and then.
            for (const GreyPage::InkPiece& p : ink.pieces) {
                const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
                if (cy < line.box.top || cy >= line.box.bottom || p.width > em || p.height > line.height()) continue;
                if (p.x < from && p.x + p.width > from && cx >= before) from = p.x;
            }
            if (end + 1 < inked.size()) {
                const std::size_t k = inked[end + 1];
                const int edge = line.symbolBoxes[k].left;
                to = std::min(to, fillsCell(line.symbolTexts[k]) ? edge : std::max(edge, z.right));
            }
            int dx = 0, dy = 0;
            const GreyPage alone = inkAlone(line, page, ink, from, to, std::max(em / 2, 4), dx, dy);
            if (alone.width == 0) continue;
            std::vector<Line> again = Reader(alone, english).page(tesseract::PSM_SINGLE_LINE);
            if (again.size() != 1) continue;
            Line& reading = again.front();
            for (PixelBox& b : reading.symbolBoxes) b.shift(dx, dy);
            const std::vector<std::size_t> run(inked.begin() + static_cast<std::ptrdiff_t>(r->first),
                                               inked.begin() + static_cast<std::ptrdiff_t>(end) + 1);
            std::vector<Symbol> symbols;
            if (!merged(line, run, reading, em, symbols)) continue;
            Line with;
            with.words.emplace_back();
            for (Symbol& s : symbols) {
                with.words.back().symbols.push_back(s.text);
                with.symbolTexts.push_back(s.text);
                with.symbolBoxes.push_back(s.box);
                with.symbolConfidences.push_back(s.confidence);
            }
            replaceSymbols(line, first, last + 1, with);
            changed = true;
        }
        if (changed) assemble(line);
    }
}

void readWaveDashes(std::vector<Line>& ls, const PageInk& ink) {
    // What the models read for one, or for one set by a digit.
    static const std::vector<std::string> lookalikes{"-", "ー", "一", "~", "～", "こ", "て", "="};
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        // One wave at a time, the symbols counted again after each.
        for (bool changed = true; changed;) {
        changed = false;
        const std::vector<std::size_t> inked = inkedSymbols(line);
        const bool japanese = std::any_of(inked.begin(), inked.end(), [&](std::size_t k) {
            const std::vector<char32_t> c = Unicode::scalars(line.symbolTexts[k]);
            return c.size() == 1 && LineText::isCJK(c[0]) && !LineText::isWidePunctuation(c[0]);
        });
        const int em = std::max(japanesePitch(line), line.textHeight());
        if (!japanese || em < 6) break;
        const int middle = (line.box.top + line.box.bottom) / 2;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            if (p.width * 100 < em * waveWidth || p.width > em + em / 4) continue;
            if (p.height * 100 < em * waveLow || p.height * 100 > em * waveHigh) continue;
            const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
            if (cx < line.box.left || cx >= line.box.right || std::abs(cy - middle) * 4 > line.height()) continue;
            // Curved: its stroke, as thick as its columns' ink (their
            // median), spans half its height at most (a mincho face's long
            // vowel mark swells at its ends, no more).
            std::vector<int> columns;
            long filled = 0;
            for (int x = p.x; x < p.x + p.width; ++x) {
                int n = 0;
                for (int y = p.y; y < p.y + p.height; ++y) n += ink.at(x, y) ? 1 : 0;
                columns.push_back(n);
                filled += n;
            }
            if (filled * 100 > static_cast<long>(p.width) * p.height * waveFill) continue;
            if (median(columns) * 2 > p.height) continue;
            // The symbol read over it (most of it: the boxes of its
            // neighbours stray into it), else the first one after it.
            std::size_t at = inked.size(), after = inked.size();
            bool other = false;
            const PixelBox piece{p.x, p.y, p.x + p.width, p.y + p.height};
            for (std::size_t i = 0; i < inked.size(); ++i) {
                const PixelBox& b = line.symbolBoxes[inked[i]];
                if (across(b, piece) * 2 >= p.width) {
                    const std::string& read = line.symbolTexts[inked[i]];
                    const bool like = read == LineText::waveDash ||
                                      std::find(lookalikes.begin(), lookalikes.end(), read) != lookalikes.end();
                    if (like && at == inked.size()) at = i;
                    // A kana read over it is that kana (へ, つ are about
                    // as wide and low), but between two digits, where no
                    // kana stands; the boxes of kanji and digits stray into
                    // their neighbours' ink.
                    const bool kana = !like && isKana(read);
                    if (kana && i > 0 && i + 1 < inked.size() && digit(line.symbolTexts[inked[i - 1]]) &&
                        digit(line.symbolTexts[inked[i + 1]])) {
                        if (at == inked.size()) at = i;
                    } else {
                        other = other || kana;
                    }
                }
                if (after == inked.size() && (b.left + b.right) / 2 > cx) after = i;
            }
            if (at == inked.size() && other) continue;
            const std::size_t next = at < inked.size() ? at + 1 : after;
            if (next == 0 || next >= inked.size()) continue;
            const std::size_t previous = (at < inked.size() ? at : after) - 1;
            if (previous >= inked.size()) continue;
            // A range: from a number (or a date's day or month) to a number
            // or a code.
            const std::string& before = line.symbolTexts[inked[previous]];
            const std::string& then = line.symbolTexts[inked[next]];
            const std::vector<char32_t> b = Unicode::scalars(before);
            const bool from = digit(before) || before == ")" || before == "）" ||
                              (b.size() == 1 && LineText::isCJK(b[0]) && !LineText::isWidePunctuation(b[0]));
            const bool to = digit(then) || (letter(then) && std::isupper(static_cast<unsigned char>(then[0])));
            if (!from || !to || (!digit(before) && !digit(then))) continue;
            // Set solid between them, as a range's sign is, not a cell away.
            const int gapBefore = p.x - line.symbolBoxes[inked[previous]].right;
            const int gapAfter = line.symbolBoxes[inked[next]].left - (p.x + p.width);
            if (std::max(gapBefore, gapAfter) * 2 > em) continue;
            if (at < inked.size()) {
                if (line.symbolTexts[inked[at]] == LineText::waveDash) continue;
                replaceSymbol(line, inked[at], LineText::waveDash);
            } else {
                insertSymbol(line, inked[next], LineText::waveDash, piece);
            }
            changed = true;
            break;
        }
        if (changed) assemble(line);
        }
    }
}

void readFigureMarks(std::vector<Line>& ls, const PageInk& ink) {
    rereadSymbols(ls, 1, 1, [&](const Line& line, const Inked& inked, std::size_t i) -> std::optional<std::string> {
        const std::string& t = line.symbolTexts[inked[i]];
        if (t != "," && t != ".") return {};
        if (!digit(line.symbolTexts[inked[i - 1]]) || !digit(line.symbolTexts[inked[i + 1]])) return {};
        const PixelBox& a = line.symbolBoxes[inked[i - 1]];
        const PixelBox& b = line.symbolBoxes[inked[i + 1]];
        // The digits stand on the baseline; their boxes may run lower
        // (a model stretches one now and then), not higher, or be
        // squeezed: their ink, where it shows, tells both the baseline
        // and their size.
        int baseline = std::min(a.bottom, b.bottom), size = std::min(a.height(), b.height());
        int inkTop = line.box.bottom, inkBottom = line.box.top;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const PixelBox box{p.x, p.y, p.x + p.width, p.y + p.height};
            const int cy = p.y + p.height / 2;
            if (p.height * 3 < line.height() || p.height > line.height() || p.width > line.height()) continue;
            if (cy < line.box.top || cy > line.box.bottom) continue;
            if (across(box, a) <= 0 && across(box, b) <= 0) continue;
            inkTop = std::min(inkTop, box.top);
            inkBottom = std::max(inkBottom, box.bottom);
        }
        if (inkBottom > inkTop) {
            baseline = inkBottom;
            size = inkBottom - inkTop;
        }
        // The mark: the largest small piece of ink between the digits
        // (between their middles: the model's boxes of a line stand a
        // little off its ink now and then).
        GreyPage::InkPiece mark{};
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
            if (cx * 2 < a.left + a.right || cx * 2 > b.left + b.right) continue;
            if (cy < line.box.top || cy > baseline + size / 2) continue;
            if (p.height * 10 > size * markHeight) continue;
            if (p.width * p.height > mark.width * mark.height) mark = p;
        }
        if (mark.width == 0) return {};
        const int below = mark.y + mark.height - baseline;
        const bool tail = below * 10 >= size && mark.height * 2 >= mark.width * 3;
        const bool dot = below * 10 < size && mark.height * 2 <= mark.width * 3;
        const std::string read = tail ? "," : dot ? "." : t;
        if (read == t) return {};
        return read;
    });
}

void readSlashes(std::vector<Line>& ls, const PageInk& ink) {
    rereadSymbols(ls, 1, 1, [&](const Line& line, const Inked& inked, std::size_t i) -> std::optional<std::string> {
        if (line.symbolTexts[inked[i]] != "7") return {};
        if (!digit(line.symbolTexts[inked[i - 1]]) || !digit(line.symbolTexts[inked[i + 1]])) return {};
        const PixelBox& a = line.symbolBoxes[inked[i - 1]];
        const PixelBox& b = line.symbolBoxes[inked[i + 1]];
        // Its ink: a piece between the digits' middles (the model's
        // boxes stand a little off the ink now and then), about as tall
        // as the line's characters, and narrow. A thin stroke drawn light
        // or without grey edges falls apart into narrow flecks on the ink,
        // each shorter than a character: together they are one more such
        // piece.
        std::vector<GreyPage::InkPiece> candidates;
        PixelBox flecks;
        int fleckCount = 0;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
            if (cx * 2 <= a.left + a.right || cx * 2 >= b.left + b.right) continue;
            if (cy < line.box.top || cy >= line.box.bottom) continue;
            if (p.height * 2 >= line.textHeight()) candidates.push_back(p);
            if (p.height * 4 < line.textHeight() * 3 && p.width <= std::max(p.height, 2)) {
                flecks.unite({p.x, p.y, p.x + p.width, p.y + p.height});
                ++fleckCount;
            }
        }
        if (fleckCount >= 2) candidates.push_back({flecks.left, flecks.top, flecks.width(), flecks.height()});
        bool slash = false;
        for (const GreyPage::InkPiece& p : candidates) {
            if (p.height * 2 < line.textHeight()) continue;
            if (p.height > line.height() * 2 || p.height < 8 || p.width * 3 > p.height * 2) continue;
            // Where its top and bottom quarters' ink stands: a slash's
            // is a stroke wide, the top's right of the bottom's; a 7's
            // top is its bar, the whole glyph wide.
            const auto band = [&](int from, int to) {
                int left = p.x + p.width, right = p.x - 1;
                for (int y = from; y < to; ++y) {
                    for (int x = p.x; x < p.x + p.width; ++x) {
                        if (ink.at(x, y)) left = std::min(left, x), right = std::max(right, x);
                    }
                }
                return std::pair{left, right};
            };
            const int quarter = std::max(p.height / 4, 1);
            const auto [topLeft, topRight] = band(p.y, p.y + quarter);
            const auto [bottomLeft, bottomRight] = band(p.y + p.height - quarter, p.y + p.height);
            if (topRight < topLeft || bottomRight < bottomLeft) continue;
            const bool narrow =
                (topRight - topLeft + 1) * 2 <= p.width && (bottomRight - bottomLeft + 1) * 2 <= p.width;
            slash = slash || (narrow && (topLeft - bottomLeft) * 3 >= p.width);
        }
        if (!slash) return {};
        return "/";
    });
}

void readMarkedZeros(std::vector<Line>& ls, const PageInk& ink) {
    rereadSymbols(ls, 0, 0, [&](const Line& line, const Inked& inked, std::size_t i) -> std::optional<std::string> {
        const std::string& t = line.symbolTexts[inked[i]];
        if (t != "6" && t != "8" && t != "9" && t != "@") return {};
        const bool before = i > 0 && digit(line.symbolTexts[inked[i - 1]]);
        const bool after = i + 1 < inked.size() && digit(line.symbolTexts[inked[i + 1]]);
        if (!before && !after) return {};
        // An at sign between a digit and a letter is an address's.
        if (t == "@" && ((i > 0 && letter(line.symbolTexts[inked[i - 1]])) ||
                         (i + 1 < inked.size() && letter(line.symbolTexts[inked[i + 1]])))) {
            return {};
        }
        const PixelBox& own = line.symbolBoxes[inked[i]];
        const GreyPage::InkPiece* glyph = glyphOver(line, own, ink, Shape::any);
        if (glyph == nullptr) return {};
        // An at sign is about as wide as tall, a zero narrower.
        if (t == "@" && glyph->width * 4 > glyph->height * 3) return {};
        // A zero marked inside, by a dot or a slash: across its middle
        // third, the ring's two sides and the mark between them apart on
        // a third of the rows at least (a dot is small, a slash may
        // touch a side), where an 8 crosses its middle once or twice, a
        // 6 or a 9 twice and an at sign four times; and the ring closed
        // on both sides down the whole third, where a 9 opens below its
        // bowl, a 6 above it (and a speck in a bowl is no mark).
        int three = 0, rows = 0, more = 0;
        bool closed = true;
        const int quarter = std::max(glyph->width / 4, 1);
        for (int y = glyph->y + glyph->height / 3; y < glyph->y + glyph->height * 2 / 3; ++y, ++rows) {
            int runs = 0, first = -1, last = -1;
            bool in = false;
            for (int x = glyph->x; x < glyph->x + glyph->width; ++x) {
                const bool on = ink.at(x, y);
                if (on && !in) ++runs;
                if (on && first < 0) first = x;
                if (on) last = x;
                in = on;
            }
            three += runs == 3 ? 1 : 0;
            more += runs > 3 ? 1 : 0;
            closed = closed && first >= 0 && first < glyph->x + quarter && last >= glyph->x + glyph->width - quarter;
        }
        if (three < 2 || three * 3 < rows || more > 0 || !closed) return {};
        return "0";
    });
}

namespace {

// Whether the glyph's ink is a yen sign's: two arms spread over its top, one
// stem in the middle of its foot, where a backslash is one stroke from top
// left to bottom right.
bool yenShaped(const GreyPage::InkPiece& glyph, const PageInk& ink) {
    // The most runs of ink on a row of a band of it, and where the
    // band's ink stands.
    const auto runsOf = [&](int from, int to, int& left, int& right) {
        int most = 0;
        left = glyph.x + glyph.width, right = glyph.x - 1;
        for (int y = from; y < to; ++y) {
            int runs = 0;
            bool in = false;
            for (int x = glyph.x; x < glyph.x + glyph.width; ++x) {
                const bool on = ink.at(x, y);
                if (on && !in) ++runs;
                if (on) left = std::min(left, x), right = std::max(right, x);
                in = on;
            }
            most = std::max(most, runs);
        }
        return most;
    };
    const int fifth = std::max(glyph.height / 5, 1);
    int topLeft = 0, topRight = 0, footLeft = 0, footRight = 0;
    const int arms = runsOf(glyph.y, glyph.y + fifth, topLeft, topRight);
    const int legs = runsOf(glyph.y + glyph.height - fifth, glyph.y + glyph.height, footLeft, footRight);
    const int w = glyph.width, quarter = std::max(w / 4, 1);
    const bool spread = topLeft < glyph.x + quarter && topRight >= glyph.x + w - quarter;
    const int middle = footLeft + footRight - 2 * glyph.x;  // twice the foot's middle, from the glyph's left
    const bool stem = legs == 1 && (footRight - footLeft + 1) * 2 <= w && middle * 3 >= w * 2 && middle * 3 <= w * 4;
    return arms >= 2 && spread && stem;
}

// A unit between parentheses, "(¥)", the Japanese model reads as one
// circled number ("⑳", "⑲"), the opening parenthesis with it or apart: its
// ink is a yen sign between two parentheses, side by side, not a ring round
// digits. Such a symbol is the yen sign in the page's width, with the
// parentheses not read apart.
std::optional<std::string> bracketedYen(const Line& line, const Inked& inked, std::size_t i, const PageInk& ink,
                                        const std::string& yen) {
    const PixelBox& own = line.symbolBoxes[inked[i]];
    const int reach = line.textHeight() / 2;
    std::vector<const GreyPage::InkPiece*> glyphs;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
        if (cx < own.left - reach || cx >= own.right + reach || cy < line.box.top || cy >= line.box.bottom) continue;
        if (p.height * 10 < line.textHeight() * 6) continue;
        glyphs.push_back(&p);
    }
    if (glyphs.size() != 3) return {};
    std::sort(glyphs.begin(), glyphs.end(), [](const auto* a, const auto* b) { return a->x < b->x; });
    if (glyphs[0]->x + glyphs[0]->width > glyphs[1]->x || glyphs[1]->x + glyphs[1]->width > glyphs[2]->x) return {};
    if (glyphs[0]->width * 2 > glyphs[0]->height || glyphs[2]->width * 2 > glyphs[2]->height) return {};
    if (glyphs[1]->height < 9 || !yenShaped(*glyphs[1], ink)) return {};
    const auto read = [&](std::size_t k, const char* bracket) {
        return k < inked.size() && (line.symbolTexts[inked[k]] == bracket ||
                                    line.symbolTexts[inked[k]] == (bracket[0] == '(' ? "（" : "）"));
    };
    return std::string(i > 0 && read(i - 1, "(") ? "" : "(") + yen + (read(i + 1, ")") ? "" : ")");
}

// Whether the symbol is a circled number, ① to ⑳ (U+2460 to U+2473).
bool circled(const std::string& t) {
    return t.size() == 3 && static_cast<unsigned char>(t[0]) == 0xE2 && static_cast<unsigned char>(t[1]) == 0x91 &&
           static_cast<unsigned char>(t[2]) >= 0xA0 && static_cast<unsigned char>(t[2]) <= 0xB3;
}

}  // namespace

void readYenSigns(std::vector<Line>& ls, const PageInk& ink) {
    // The width the page sets its yen signs in, where digits follow them.
    int half = 0, full = 0;
    for (const Line& line : ls) {
        for (const std::string& t : line.symbolTexts) half += t == "¥" ? 1 : 0, full += t == "￥" ? 1 : 0;
    }
    rereadSymbols(ls, 0, 0, [&](const Line& line, const Inked& inked, std::size_t i) -> std::optional<std::string> {
        if (circled(line.symbolTexts[inked[i]])) {
            return bracketedYen(line, inked, i, ink, full > half ? "￥" : "¥");
        }
        // At small sizes the Japanese model reads a Mincho face's yen sign
        // before its digits as a kanji of a like frame: two strokes over
        // bars across a stem. Not right after digits (a date's 年 stands
        // there).
        static const std::vector<std::string> frames{"半", "並", "普", "壮", "羊", "平", "干", "芋"};
        const bool dated = i > 0 && digit(line.symbolTexts[inked[i - 1]]) &&
                           line.symbolBoxes[inked[i]].left - line.symbolBoxes[inked[i - 1]].right < line.textHeight();
        const bool kanji = std::find(frames.begin(), frames.end(), line.symbolTexts[inked[i]]) != frames.end() &&
                           i + 1 < inked.size() && digit(line.symbolTexts[inked[i + 1]]) && !dated;
        if (line.symbolTexts[inked[i]] != "\\" && !kanji) return {};
        // Faces that draw the backslash as a yen sign set paths, escapes
        // and commands with it, among Latin: beside a Latin letter or mark
        // (but for a sign, a bracket or a colon before it; a digit, a
        // bracket, a slash "¥/個" or the dash of an accounting format's
        // zero "¥ -" after it; and a table's rule, read as a bar, on either
        // side), it is a backslash. A mark a cell's blank away, the end of
        // the cell before an amount's, is no neighbour.
        const PixelBox& own = line.symbolBoxes[inked[i]];
        const auto latin = [&](std::size_t k, const std::string& allowed) {
            const std::string& s = line.symbolTexts[inked[k]];
            const PixelBox& b = line.symbolBoxes[inked[k]];
            const bool beside = std::max(b.left - own.right, own.left - b.right) <= line.textHeight();
            return beside && s.size() == 1 && static_cast<unsigned char>(s[0]) < 0x80 &&
                   allowed.find(s[0]) == std::string::npos;
        };
        if (!kanji && ((i > 0 && latin(i - 1, "-+(:|")) || (i + 1 < inked.size() && latin(i + 1, "0123456789()/-|")))) {
            return {};
        }
        const GreyPage::InkPiece* glyph = glyphOver(line, own, ink, Shape::upright);
        if (glyph == nullptr) return {};
        if (!yenShaped(*glyph, ink)) return {};
        // Its width: as readFigures tells it where digits follow, else
        // the page's.
        std::vector<std::size_t> theirs{inked[i]};
        for (std::size_t q = i + 1; q < inked.size() && digit(line.symbolTexts[inked[q]]); ++q) {
            theirs.push_back(inked[q]);
        }
        if (theirs.size() == 1) return std::string(full > half ? "￥" : "¥");
        Line read = line;
        read.symbolBoxes[inked[i]] = {glyph->x, glyph->y, glyph->x + glyph->width, glyph->y + glyph->height};
        return yenSign(read, theirs, 0, std::max(japanesePitch(line), line.textHeight()));
    });
    // A Mincho face's full-width sign the Japanese model reads as a kana
    // and a backslash, the figures' reading taking the backslash for the
    // sign: the kana's box stands on the sign's own ink.
    for (Line& line : ls) {
        const Inked inked = inkedSymbols(line);
        bool changed = false;
        for (std::size_t i = 1; i < inked.size(); ++i) {
            const std::string& sign = line.symbolTexts[inked[i]];
            const std::vector<char32_t> before = Unicode::scalars(line.symbolTexts[inked[i - 1]]);
            if ((sign != "¥" && sign != "￥") || before.size() != 1 || !LineText::isCJK(before[0]) ||
                LineText::isWidePunctuation(before[0])) {
                continue;
            }
            const GreyPage::InkPiece* glyph = glyphOver(line, line.symbolBoxes[inked[i]], ink, Shape::any);
            const PixelBox& b = line.symbolBoxes[inked[i - 1]];
            const int x = (b.left + b.right) / 2, y = (b.top + b.bottom) / 2;
            if (glyph == nullptr || x < glyph->x || x >= glyph->x + glyph->width || y < glyph->y ||
                y >= glyph->y + glyph->height) {
                continue;
            }
            replaceSymbol(line, inked[i - 1], "");
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
