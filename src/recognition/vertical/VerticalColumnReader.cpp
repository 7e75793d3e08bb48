#include "recognition/vertical/VerticalColumnReader.hpp"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <tuple>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/standard/StandardReading.hpp"
#include "recognition/engine/TesseractEngines.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/vertical/VerticalUprightDigits.hpp"

namespace velmora::VerticalColumnReader {

namespace {

using VerticalResearch::ColumnPiece;
using VerticalResearch::Run;

std::string takeText(char* text) {
    std::unique_ptr<char[]> owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

bool blank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; });
}

// One character read along a line, its ends in pixels along the line.
struct Symbol {
    std::string text;
    int left = 0;
    int right = 0;
    float confidence = 0;
    int word = 0;  // the recogniser's word it belongs to, counted along the line
};

bool ascii(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7f; });
}
bool alphanumeric(const std::string& s) {
    return s.size() == 1 && std::isalnum(static_cast<unsigned char>(s[0]));
}

// Reads the line with the engine as one line of text (the whole image as it
// is, with PSM_RAW_LINE, or the line the engine finds in it); the engine is left
// empty and with its own page segmentation, since it reads the next column
// too.
std::vector<Symbol> readLine(tesseract::TessBaseAPI& api, const GreyPage& line, float& lineConfidence,
                             tesseract::PageSegMode layout = tesseract::PSM_SINGLE_LINE) {
    struct Restore {
        tesseract::TessBaseAPI& api;
        tesseract::PageSegMode mode;
        ~Restore() {
            api.Clear();
            api.SetPageSegMode(mode);
        }
    } restore{api, api.GetPageSegMode()};
    api.SetPageSegMode(layout);
    api.SetImage(line.pixels.data(), line.width, line.height, 1, line.width);
    if (api.Recognize(nullptr) != 0) throw RecognizerError("Tesseract failed to recognise a vertical column");
    std::vector<Symbol> out;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return out;
    it->Begin();
    bool first = true;
    int word = -1;
    do {
        if (it->IsAtBeginningOf(tesseract::RIL_WORD)) word += 1;
        if (it->Empty(tesseract::RIL_SYMBOL)) continue;
        Symbol symbol;
        symbol.word = word;
        symbol.text = takeText(it->GetUTF8Text(tesseract::RIL_SYMBOL));
        if (blank(symbol.text)) continue;
        if (first) lineConfidence = std::clamp(it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
        first = false;
        symbol.confidence = std::clamp(it->Confidence(tesseract::RIL_SYMBOL) / 100.0f, 0.0f, 1.0f);
        int upper = 0, lower = 0;
        if (!it->BoundingBox(tesseract::RIL_SYMBOL, &symbol.left, &upper, &symbol.right, &lower)) continue;
        out.push_back(std::move(symbol));
    } while (it->Next(tesseract::RIL_SYMBOL));
    // A symbol's box sometimes runs on over the next ones; it ends where the
    // next begins.
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i + 1].left > out[i].left) out[i].right = std::min(out[i].right, out[i + 1].left);
    }
    return out;
}

// Reads a piece of a column with the horizontal model, as readLine. A piece
// is a column's dark ink on paper, of which the model, less than half sure
// of most pieces (a few characters cut from among others), would read each
// again in its negative, as for light text on dark: a second reading that
// finds no text in dark ink, and a fifth of these readings' time.
std::vector<Symbol> readSideways(const TesseractEngines::Configuration& horizontal, const GreyPage& line) {
    tesseract::TessBaseAPI& api = TesseractEngines::engine(horizontal);
    bool invert = true;
    api.GetBoolVariable("tessedit_do_invert", &invert);
    struct Restore {
        tesseract::TessBaseAPI& api;
        bool invert;
        ~Restore() { api.SetVariable("tessedit_do_invert", invert ? "1" : "0"); }
    } restore{api, invert};
    api.SetVariable("tessedit_do_invert", "0");
    float ignored = 0;
    return readLine(api, line, ignored);
}

// The vertical model reads the upright full-width brackets, colon and marks
// of vertical text by their half-width code points; in vertical text those
// would lie on their side among Latin letters, which it does not read. It
// reads the dash (—), a line down the column, as a vertical bar, which
// vertical text does not print.
std::string fullWidth(const std::string& s) {
    static const std::pair<const char*, const char*> forms[] = {
        {"(", "（"}, {")", "）"}, {":", "："}, {"!", "！"}, {"?", "？"}, {"|", "—"}};
    for (const auto& [half, full] : forms) {
        if (s == half) return full;
    }
    return s;
}

// How sure the English model must be of a lone glyph read on its own, and
// the vertical model of a full-width character for its cell to hold no
// sideways one: it reads sideways digits as kana at up to 0.98.
constexpr float sureAlone = 0.93f;
constexpr float surest = 0.99f;

// A stretch of ink along the line with no blank pixel column inside: one
// character, or several that touch. Ends along the line, and the rows its ink
// spans across it, in the line's own pixels.
struct Cell {
    int start = 0;
    int end = 0;
    int top = 0;
    int bottom = 0;

    int length() const { return end - start; }
    int across() const { return bottom - top; }
};

std::vector<Cell> inkCells(const GreyPage& line) {
    // The rows across the line where each pixel column's ink begins and ends,
    // gathered row by row.
    std::vector<int> top(static_cast<std::size_t>(line.width), line.height), bottom(static_cast<std::size_t>(line.width), 0);
    for (int y = 0; y < line.height; ++y) {
        const uint8_t* row = line.pixels.data() + static_cast<std::size_t>(y) * line.width;
        for (int x = 0; x < line.width; ++x) {
            if (row[x] < VerticalResearch::darkBelow) {
                top[static_cast<std::size_t>(x)] = std::min(top[static_cast<std::size_t>(x)], y);
                bottom[static_cast<std::size_t>(x)] = y + 1;
            }
        }
    }
    std::vector<Cell> out;
    bool open = false;
    for (int x = 0; x < line.width; ++x) {
        if (bottom[static_cast<std::size_t>(x)] == 0) {
            open = false;
            continue;
        }
        if (!open) out.push_back({x, x, line.height, 0});
        open = true;
        Cell& cell = out.back();
        cell.end = x + 1;
        cell.top = std::min(cell.top, top[static_cast<std::size_t>(x)]);
        cell.bottom = std::max(cell.bottom, bottom[static_cast<std::size_t>(x)]);
    }
    return out;
}

// About half an em along the column or less, and reaching across it at
// least as far as a small Latin letter does (points and commas reach less).
bool halfWidthCell(const Cell& c, int em) { return c.length() * 100 <= em * 62 && c.across() * 5 >= em * 2; }


// Signs read among sideways digits and letters: times, numbers, addresses.
bool runSign(const std::string& s) {
    return s.size() == 1 && std::string_view(":/.@-,_~%&?=#+'").find(s[0]) != std::string_view::npos;
}

// Whether cell c may hold a sideways character the vertical model missed:
// of half-width shape, followed by the next half an em on, and read as no
// full-width character the vertical model is all but sure of.
bool maySideways(const std::vector<Symbol>& vertical, const std::vector<Cell>& cells, std::size_t c, int em,
                 double back) {
    if (!halfWidthCell(cells[c], em)) return false;
    std::size_t next = c + 1;
    while (next < cells.size() && cells[next].across() * 2 < em && cells[next].length() * 2 < em) ++next;
    if (next == cells.size() || (cells[next].start - cells[c].start) * 10 >= em * 8) return false;
    for (const Symbol& s : vertical) {
        const double middle = (s.left + s.right) / 2.0 * back;
        if (middle >= cells[c].start - em / 2.0 && middle < cells[c].end + em / 2.0 && !ascii(s.text) &&
            s.confidence >= surest) {
            return false;
        }
    }
    return true;
}

// The cells [first, last] taken as one: from the first's start to the
// last's end, as far across as any of them reaches.
Cell united(const std::vector<Cell>& cells, std::size_t first, std::size_t last) {
    Cell u = cells[first];
    for (std::size_t c = first + 1; c <= last; ++c) {
        u.end = cells[c].end;
        u.top = std::min(u.top, cells[c].top);
        u.bottom = std::max(u.bottom, cells[c].bottom);
    }
    return u;
}

// Whether the cells [first, last] hold one half-width glyph on its own, such
// as a lone digit: reaching across the column as far as a digit does, no
// piece of a full-width character (about an em long with a neighbour), and
// taking half an em of the column where a full-width one (つ, which reads as
// a zero) takes a whole em.
bool loneGlyph(const std::vector<Cell>& cells, std::size_t first, std::size_t last, int em) {
    const Cell under = united(cells, first, last);
    const auto piece = [&](const Cell& a, const Cell& b) {
        return b.start - a.end < em / 4 && (b.end - a.start) * 100 <= em * 105;
    };
    if (under.across() * 10 < em * 6 || under.length() * 100 > em * 62 || (first > 0 && piece(cells[first - 1], under)) ||
        (last + 1 < cells.size() && piece(under, cells[last + 1]))) {
        return false;
    }
    std::size_t next = last + 1;
    while (next < cells.size() && cells[next].across() * 2 < em && cells[next].length() * 2 < em) ++next;
    return next == cells.size() || (cells[next].start - under.start) * 10 < em * 8;
}

// The line's pixels [from, to) alone on white, with a margin.
GreyPage cutOut(const GreyPage& line, int from, int to, int pad) {
    GreyPage out;
    out.width = to - from + 2 * pad;
    out.height = line.height;
    out.pixels.assign(static_cast<std::size_t>(out.width) * out.height, 255);
    for (int y = 0; y < line.height; ++y) {
        std::copy(line.pixels.begin() + static_cast<std::ptrdiff_t>(y) * line.width + from,
                  line.pixels.begin() + static_cast<std::ptrdiff_t>(y) * line.width + to,
                  out.pixels.begin() + static_cast<std::ptrdiff_t>(y) * out.width + pad);
    }
    return out;
}

// A stretch of sideways characters as the horizontal model read it, its ends
// in the column's own pixels along the line.
struct SidewaysRun {
    std::string text;
    int from = 0;
    int to = 0;
};

// Half-width digits and Latin letters lie on their side in vertical text,
// turned a quarter clockwise: in the line they stand upright, where the
// horizontal model reads them, while the vertical model turns them into
// stray letters, kana or nothing. The horizontal model in turn reads the
// upright characters, lying in the line, as Latin letters: a character of it
// is taken only where the ink holds a half-width glyph under it (a cell about
// half an em long along the column, or a longer cell of letters that touch,
// about half an em for each letter read in it) standing on the baseline of
// the others, and signs only between such characters. A stretch is kept
// when it holds a digit, or two letters where the vertical model read a
// Latin letter or sign too.
std::vector<SidewaysRun> sidewaysRuns(const std::vector<Symbol>& english, const std::vector<Cell>& cells, int em,
                                      const std::vector<Symbol>& vertical, double back) {
    // The cells a character of the horizontal reading stands on: those its
    // box holds most of (its box often reaches into the next character), or
    // else the one it lies in, when letters touch.
    const auto cellsUnder = [&](const Symbol& s) {
        std::pair<int, int> range{-1, -1};
        for (int pass = 0; pass < 2 && range.first < 0; ++pass) {
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const int overlap = std::min(s.right, cells[c].end) - std::max(s.left, cells[c].start);
                const bool under = pass == 0 ? overlap * 3 >= cells[c].length() * 2
                                             : overlap * 2 > std::min(s.right - s.left, cells[c].length());
                if (under) {
                    if (range.first < 0) range.first = static_cast<int>(c);
                    range.second = static_cast<int>(c);
                }
            }
        }
        return range;
    };
    const auto unite = [&](int first, int last) {
        return united(cells, static_cast<std::size_t>(first), static_cast<std::size_t>(last));
    };
    // Where full-width characters reach across the column: Latin letters,
    // even capitals, stop short of it.
    int fullTop = -em;
    for (const Cell& c : cells) {
        if (c.across() * 10 >= em * 8 && c.length() * 10 >= em * 6) fullTop = fullTop < 0 ? c.top : std::min(fullTop, c.top);
    }
    std::vector<bool> trusted(english.size(), false);
    std::vector<std::pair<int, int>> under(english.size());
    for (std::size_t i = 0; i < english.size(); ++i) under[i] = cellsUnder(english[i]);
    for (std::size_t i = 0; i < english.size(); ++i) {
        if (!alphanumeric(english[i].text)) continue;
        const auto [first, last] = under[i];
        if (first < 0) continue;
        const Cell ink = unite(first, last);
        // Letters that touch share a cell, about half an em each (m and w,
        // wider in most typefaces, a little more) and not as tall as a
        // full-width character.
        int readThere = 0, wideThere = 0, lowerThere = 0;
        for (const Symbol& e : english) {
            const int middle = (e.left + e.right) / 2;
            if (middle < ink.start || middle >= ink.end || !(alphanumeric(e.text) || runSign(e.text))) continue;
            readThere += 1;
            wideThere += std::string_view("mwMW").find(e.text[0]) != std::string_view::npos ? 1 : 0;
            lowerThere += std::islower(static_cast<unsigned char>(e.text[0])) ? 1 : 0;
        }
        const bool wide = std::string_view("mwMW").find(english[i].text[0]) != std::string_view::npos;
        // One half-width glyph read as two capitals or digits is a kana (つ
        // reads as 0O).
        const bool oneGlyph =
            (halfWidthCell(ink, em) || (wide && ink.length() * 10 <= em * 8 && ink.across() * 5 >= em * 2)) &&
            (readThere <= 1 || lowerThere == readThere);
        // Two are taken only as small letters: a kanji reads as two capitals
        // or digits.
        const bool touching = (readThere >= 3 || (readThere == 2 && lowerThere == 2)) && ink.top >= fullTop + em / 12 &&
                              ink.length() * 100 <= readThere * em * 62 + wideThere * em * 20;
        trusted[i] = oneGlyph || touching;
    }
    // Sideways letters and digits stand on one baseline, at the same place
    // across the column all along it (only g, j, p, q and y reach below);
    // the pieces of an upright kana or kanji that a blank row cuts apart,
    // which look like half-width glyphs too, end anywhere. The baseline is
    // where most characters taken so far end.
    const int tolerance = std::max(2, em / 20);
    // Whether a letter that reaches below the line stands on the character's
    // cells (letters that touch share them).
    const auto descends = [&](std::size_t i) {
        const Cell ink = unite(under[i].first, under[i].second);
        for (const Symbol& e : english) {
            const int middle = (e.left + e.right) / 2;
            if (middle >= ink.start && middle < ink.end && std::string_view("gjpqy,").find(e.text[0]) != std::string_view::npos) {
                return true;
            }
        }
        return false;
    };
    int baseline = -1, support = 1;
    for (std::size_t i = 0; i < english.size(); ++i) {
        if (!trusted[i] || descends(i)) continue;
        const int b = unite(under[i].first, under[i].second).bottom;
        int count = 0;
        for (std::size_t k = 0; k < english.size(); ++k) {
            if (!trusted[k] || descends(k)) continue;
            count += std::abs(unite(under[k].first, under[k].second).bottom - b) <= tolerance ? 1 : 0;
        }
        if (count > support) {
            support = count;
            baseline = b;
        }
    }
    if (baseline >= 0) {
        for (std::size_t i = 0; i < english.size(); ++i) {
            if (!trusted[i]) continue;
            const int b = unite(under[i].first, under[i].second).bottom;
            if (std::abs(b - baseline) > tolerance && !(descends(i) && b > baseline)) trusted[i] = false;
        }
    }
    // Signs between two such characters, close to both, go with them, and
    // so do one or two letters or digits between them whose box strays off
    // their ink (the boxes drift by up to a character) onto no full-width
    // glyph and nothing that ends above the baseline.
    for (std::size_t i = 1; i + 1 < english.size(); ++i) {
        if (trusted[i] || !trusted[i - 1]) continue;
        std::size_t after = i;
        while (after < english.size() && !trusted[after] &&
               (runSign(english[after].text) || alphanumeric(english[after].text))) {
            ++after;
        }
        if (after == english.size() || !trusted[after] ||
            english[after].left - english[i - 1].right >= em * static_cast<int>(after - i + 1)) {
            continue;
        }
        bool narrow = true;
        int strays = 0;
        for (std::size_t k = i; k < after; ++k) {
            if (!alphanumeric(english[k].text)) continue;
            strays += 1;
            if (under[k].first >= 0) {
                const Cell ink = unite(under[k].first, under[k].second);
                narrow = narrow && ink.length() * 10 <= em * 7 && (baseline < 0 || ink.bottom >= baseline - tolerance);
            }
        }
        if (!narrow || strays > 2) continue;
        for (std::size_t k = i; k < after; ++k) trusted[k] = true;
        i = after;
    }
    // Whether a full-width character lies between two characters of the
    // reading: a cell no character of it stands on, which it skipped.
    std::vector<bool> stoodOn(cells.size(), false);
    for (std::size_t i = 0; i < english.size(); ++i) {
        for (int c = under[i].first; c >= 0 && c <= under[i].second; ++c) stoodOn[static_cast<std::size_t>(c)] = true;
    }
    const auto skipped = [&](std::size_t a, std::size_t b) {
        if (under[a].second < 0 || under[b].first < 0) return false;
        for (int c = under[a].second + 1; c < under[b].first; ++c) {
            const Cell& cell = cells[static_cast<std::size_t>(c)];
            if (!stoodOn[static_cast<std::size_t>(c)] && (cell.across() * 2 >= em || cell.length() * 2 >= em)) return true;
        }
        return false;
    };
    std::vector<SidewaysRun> out;
    for (std::size_t i = 0; i < english.size();) {
        if (!trusted[i]) {
            ++i;
            continue;
        }
        SidewaysRun run{{}, english[i].right, english[i].left};
        bool inked = false;
        int digits = 0, letters = 0;
        const std::size_t start = i;
        std::size_t k = i, alone = i;
        for (; k < english.size() && trusted[k] &&
               (k == i || (english[k].left - english[k - 1].right < em / 2 && !skipped(k - 1, k)));
             ++k) {
            run.text += english[k].text == "~" ? LineText::waveDash : english[k].text;
            if (under[k].first >= 0) {
                // The run's ends are those of its ink where its characters
                // stand on ink: their boxes stray.
                if (!inked) run = {run.text, cells[static_cast<std::size_t>(under[k].first)].start, 0};
                inked = true;
                run.to = std::max(run.to, cells[static_cast<std::size_t>(under[k].second)].end);
            } else if (!inked) {
                run.from = std::min(run.from, english[k].left);
                run.to = std::max(run.to, english[k].right);
            }
            if (alphanumeric(english[k].text)) alone = k;
            digits += std::isdigit(static_cast<unsigned char>(english[k].text[0])) ? 1 : 0;
            letters += std::isalpha(static_cast<unsigned char>(english[k].text[0])) ? 1 : 0;
        }
        i = k;
        if (digits == 0 && letters < 2) continue;
        // Bars alone are what 一 and the strokes of 二 and 三 read as: a lone
        // one is left to the vertical reading, and the ones of a run are all
        // as long as one another.
        if (run.text.find_first_not_of("1lI|") == std::string::npos && run.text.size() == 1) continue;
        bool even = true;
        std::optional<Cell> bar;
        for (std::size_t m = start; m < k; ++m) {
            if (under[m].first < 0 || english[m].text != "1") continue;
            const Cell here = unite(under[m].first, under[m].second);
            if (!bar) bar = here;
            even = even && std::abs(here.top - bar->top) <= tolerance && std::abs(here.bottom - bar->bottom) <= tolerance;
        }
        if (!even) continue;
        // Letters alone are also what upright kana and kanji read as: such a
        // stretch is taken only where the vertical model read a Latin letter
        // or sign near it too.
        // So are bars (the strokes of 一, 二 and 三) alone or with one letter.
        int others = 0;
        for (char ch : run.text) others += std::isalnum(static_cast<unsigned char>(ch)) && !std::strchr("1lI|", ch) ? 1 : 0;
        bool doubt = digits > 0 && others > 0 && !(letters > 0 && others == 1);
        for (const Symbol& v : vertical) {
            const double middle = (v.left + v.right) / 2.0 * back;
            if (middle >= run.from - em && middle < run.to + em && ascii(v.text) && fullWidth(v.text) == v.text) {
                doubt = true;
            }
        }
        // A lone digit is also what a kana, or one stroke of it, reads as.
        if (digits + letters == 1) {
            const auto [first, last] = under[alone];
            if (first < 0 || !loneGlyph(cells, static_cast<std::size_t>(first), static_cast<std::size_t>(last), em)) continue;
        }
        if (doubt) out.push_back(std::move(run));
    }
    return out;
}

// Puts the vertical reading and the sideways runs together in the column's
// order. The vertical model's boxes drift by up to a character around
// stretches it misread, so its symbols are not placed by their boxes alone:
// the column is cut into places, the runs and the characters between them
// (cells put together up to an em), and each symbol goes, in order, to the
// place nearest its box. Symbols that go to a run are its misreadings and
// give way to it; a place that gets none stays empty; a sure full-width
// character costs more to give up than a doubtful one.
std::vector<Symbol> merged(const std::vector<Symbol>& vertical, const std::vector<SidewaysRun>& runs,
                           const std::vector<Cell>& cells, int em, double back) {
    struct Place {
        int from = 0, to = 0;
        int run = -1;
    };
    std::vector<Place> places;
    std::size_t r = 0;
    for (const Cell& c : cells) {
        const int middle = (c.start + c.end) / 2;
        while (r < runs.size() && runs[r].to <= middle) {
            places.push_back({runs[r].from, runs[r].to, static_cast<int>(r)});
            ++r;
        }
        if (r < runs.size() && middle >= runs[r].from) continue;
        if (!places.empty() && places.back().run < 0 && c.end - places.back().from <= em * 105 / 100) {
            places.back().to = c.end;
        } else {
            places.push_back({c.start, c.end, -1});
        }
    }
    for (; r < runs.size(); ++r) places.push_back({runs[r].from, runs[r].to, static_cast<int>(r)});
    std::stable_sort(places.begin(), places.end(), [](const Place& a, const Place& b) { return a.from < b.from; });

    const std::size_t n = vertical.size(), m = places.size();
    if (m == 0) return vertical;
    // The vertical model may read nothing of a column whose only ink is
    // digits set upright side by side: the column is then its runs alone,
    // and there is no symbol to place.
    if (n == 0) {
        std::vector<Symbol> out;
        for (const SidewaysRun& run : runs) {
            out.push_back({run.text, static_cast<int>(run.from / back), static_cast<int>(run.to / back), 1, 0});
        }
        return out;
    }
    const double inf = 1e300;
    const double skip = 0.6;  // a character place left empty
    const double twice = 0.8;  // a second symbol in one character place
    const double lag = 0.6;  // ems the vertical boxes may lag behind the ink
    const auto cost = [&](std::size_t i, std::size_t j) {
        const double middle = (vertical[i].left + vertical[i].right) / 2.0 * back;
        const Place& p = places[j];
        const double end = p.to + em * lag;
        const double distance = middle < p.from ? p.from - middle : middle > end ? middle - end : 0;
        double c = distance / em;
        // A symbol read where a run lies gives way to it, dearer the surer
        // the vertical model was of a full-width character there.
        if (p.run >= 0 && !(ascii(vertical[i].text) && fullWidth(vertical[i].text) == vertical[i].text)) {
            c += std::clamp((vertical[i].confidence - 0.9f) * 10.0f, 0.0f, 1.0f);
        }
        return c;
    };
    // best[i][j]: the cost of placing the first i + 1 symbols with the last
    // in place j.
    std::vector<std::vector<double>> best(n, std::vector<double>(m, inf));
    std::vector<std::vector<int>> from(n, std::vector<int>(m, -1));
    std::vector<int> before(m + 1, 0);  // character places before each
    for (std::size_t k = 0; k < m; ++k) before[k + 1] = before[k] + (places[k].run < 0 ? 1 : 0);
    const auto emptyBetween = [&](std::size_t a, std::size_t b) {  // places a < k < b
        return b > a + 1 ? skip * (before[b] - before[a + 1]) : 0.0;
    };
    for (std::size_t j = 0; j < m; ++j) {
        best[0][j] = cost(0, j) + emptyBetween(static_cast<std::size_t>(-1), j);
    }
    for (std::size_t i = 1; i < n; ++i) {
        for (std::size_t j = 0; j < m; ++j) {
            const double here = cost(i, j);
            for (std::size_t k = 0; k <= j; ++k) {
                if (best[i - 1][k] >= inf) continue;
                double c = best[i - 1][k] + here + emptyBetween(k, j);
                if (k == j && places[j].run < 0) c += twice;
                if (c < best[i][j]) {
                    best[i][j] = c;
                    from[i][j] = static_cast<int>(k);
                }
            }
        }
    }
    std::size_t last = 0;
    double total = inf;
    for (std::size_t j = 0; j < m; ++j) {
        if (best[n - 1][j] >= inf) continue;
        const double c = best[n - 1][j] + emptyBetween(j, m);
        if (c < total) {
            total = c;
            last = j;
        }
    }
    std::vector<std::size_t> placeOf(n);
    for (std::size_t i = n; i-- > 0;) {
        placeOf[i] = last;
        if (i > 0) last = static_cast<std::size_t>(from[i][last]);
    }
    std::vector<Symbol> out;
    std::size_t i = 0;
    for (std::size_t j = 0; j < m; ++j) {
        if (places[j].run >= 0) {
            const SidewaysRun& run = runs[static_cast<std::size_t>(places[j].run)];
            out.push_back({run.text, static_cast<int>(run.from / back), static_cast<int>(run.to / back), 1, 0});
        }
        for (; i < n && placeOf[i] == j; ++i) {
            if (places[j].run < 0) out.push_back(vertical[i]);
        }
    }
    return out;
}

// The share of its box, in percent, that a black square's ink fills (dense
// kanji set small, whose strokes run together, fill up to about nine tenths).
constexpr long solidSquare = 94;

// The vertical model knows no black square "■" (a heading's mark in
// notices): it reads it as the densest kanji it knows, or leaves it out. No
// character of any script is a square of solid ink: a cell about as long as
// it reaches across, the size of the column's characters and nearly all ink
// is the square.
std::vector<Cell> solidSquares(const GreyPage& column, const std::vector<Cell>& cells, int em) {
    std::vector<Cell> out;
    for (const Cell& cell : cells) {
        const int size = std::max(cell.length(), cell.across());
        if (std::min(cell.length(), cell.across()) < 4 || cell.length() * 4 < cell.across() * 3 ||
            cell.across() * 4 < cell.length() * 3 || size * 2 < em || size * 2 > em * 3) {
            continue;
        }
        long ink = 0;
        for (int y = cell.top; y < cell.bottom; ++y) {
            const uint8_t* row = column.pixels.data() + static_cast<std::size_t>(y) * column.width;
            for (int x = cell.start; x < cell.end; ++x) ink += row[x] < VerticalResearch::darkBelow ? 1 : 0;
        }
        if (ink * 100 >= static_cast<long>(cell.length()) * cell.across() * solidSquare) out.push_back(cell);
    }
    return out;
}

// Each square is put in place of the symbol read over it or, where none
// was, among the symbols where it stands. Symbols are in the line's pixels,
// cells in the column's (back times as many).
void readSolidSquares(std::vector<Symbol>& symbols, const std::vector<Cell>& squares, double back) {
    for (const Cell& cell : squares) {
        // The symbol read over it, else the first one after it.
        std::size_t over = symbols.size(), after = symbols.size();
        for (std::size_t k = 0; k < symbols.size(); ++k) {
            const double left = symbols[k].left * back, right = symbols[k].right * back;
            if ((std::min<double>(right, cell.end) - std::max<double>(left, cell.start)) * 2 >= cell.length()) {
                over = k;
                break;
            }
            if (after == symbols.size() && (left + right) / 2 > (cell.start + cell.end) / 2.0) after = k;
        }
        if (over < symbols.size()) {
            symbols[over].text = "■";
            symbols[over].confidence = 1;
        } else {
            Symbol square{"■", static_cast<int>(cell.start / back), static_cast<int>(cell.end / back), 1, 0};
            symbols.insert(symbols.begin() + static_cast<std::ptrdiff_t>(after), std::move(square));
        }
    }
}

}  // namespace

GreyPage lineOf(const GreyPage& page, Run column, int top, int bottom) {
    const int x0 = std::max(column.start - margin, 0);
    const int x1 = std::min(column.end + margin, page.width);
    const int y0 = std::max(top - margin, 0);
    const int y1 = std::min(bottom + margin, page.height);
    GreyPage line;
    line.width = std::max(y1 - y0, 0);
    line.height = std::max(x1 - x0, 0);
    line.pixels.resize(static_cast<std::size_t>(line.width) * line.height);
    // A quarter turn anticlockwise: the column's top comes to the line's
    // left end and its right edge to the line's top. The page is read row
    // by row, the line (small enough to stay in the cache) written across.
    for (int lx = 0; lx < line.width; ++lx) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y0 + lx) * page.width;
        uint8_t* to = line.pixels.data() + lx;
        for (int ly = 0; ly < line.height; ++ly) to[static_cast<std::size_t>(ly) * line.width] = row[x1 - 1 - ly];
    }
    return line;
}

std::vector<ColumnPiece> read(const GreyPage& page, Run column, int bodyWidth, const std::vector<Run>& glyphs,
                              const OCRSettings& settings, const VerticalResearch::Poll& poll, PageSoFar& soFar) {
    if (glyphs.empty()) return {};
    // The glyph polls come first, as when a strip is drawn glyph by glyph.
    for (std::size_t k = 0; k < glyphs.size(); ++k) poll();

    const int top = glyphs.front().start;
    const int y0 = std::max(top - margin, 0);
    const GreyPage whole = lineOf(page, column, top, glyphs.back().end);
    // Positions along the line read are scaled back to the page's rows by
    // this.
    double back = 1;
    // A line taller than height brought down to it, back kept to match.
    const auto broughtDown = [&](GreyPage line, int height) {
        back = 1;
        if (line.height > height) {
            const double factor = static_cast<double>(height) / line.height;
            line = line.scaled(factor);
            back = 1 / factor;
        }
        return line;
    };
    // The column's own ink, centred across a line with blank on either side
    // and brought to the network's height; whatever else the cut-out's
    // margin holds (the edge of the next column, specks) is left out, since
    // this line is read whole.
    const auto smallLine = [&] {
        const int x1 = std::min(column.end + margin, page.width);
        const int across = std::max(column.length(), bodyWidth);
        const int blank = static_cast<int>(std::lround(across * blankAcross));
        const int offset = blank + (across - column.length()) / 2;
        GreyPage line;
        line.width = whole.width;
        line.height = across + 2 * blank;
        line.pixels.assign(static_cast<std::size_t>(line.width) * line.height, 255);
        for (int x = column.start; x < column.end; ++x) {
            const auto from = whole.pixels.begin() + static_cast<std::ptrdiff_t>(x1 - 1 - x) * whole.width;
            std::copy(from, from + whole.width,
                      line.pixels.begin() + static_cast<std::ptrdiff_t>(offset + column.end - 1 - x) * line.width);
        }
        return broughtDown(std::move(line), readingHeight);
    };
    // A column with sideways characters or black squares is read again on a
    // line of the column and its margins brought down to a small size, the
    // vertical model's layout finding the line in it: they are put in place
    // by the model's boxes, which drift further from the ink around its
    // misreadings on the whole small line. A column with a square, and on a
    // page where many columns so far held sideways characters (a notice of
    // dates and prices) every column, is read that way at once.
    const auto layoutLine = [&] { return broughtDown(whole, layoutHeight); };

    // The settings pass the same checks as for a strip read by the standard
    // pass (revision, languages); the column itself is read with the
    // vertical Japanese data whatever the languages, since vertical text is
    // Japanese.
    OCRSettings standard = settings;
    standard.mode = OCRMode::standard;
    standard.preprocessing = "none";
    const TextRequest request = OCREngine::request(standard);
    TesseractEngines::Configuration configuration;
    configuration.languages = "jpn_vert";
    configuration.dictionaries = request.usesLanguageCorrection;
    if (configuration.dictionaries) configuration.userWords = request.customWords;
    poll();
    tesseract::TessBaseAPI& api = TesseractEngines::engine(configuration);
    // The column turned on its side is read as one line, which is how the
    // vertical model reads the lines its own layout finds. Its page layout
    // is left out: on a single column it often splits the characters into
    // several short lines side by side and reads them out of order.
    const int em = std::max(column.length(), 1);
    const std::vector<Cell> cells = inkCells(whole);
    const std::vector<Cell> squares = solidSquares(whole, cells, em);
    const bool layoutFirst =
        !squares.empty() || (soFar.sideways >= 2 && soFar.sideways * 3 >= soFar.columns);
    ColumnPiece piece;
    std::vector<Symbol> symbols = layoutFirst ? readLine(api, layoutLine(), piece.confidence)
                                              : readLine(api, smallLine(), piece.confidence, tesseract::PSM_RAW_LINE);

    // Latin letters and digits are read by the English model where it is
    // installed: the Japanese one reads the zeros of some fonts as nines.
    // It reads them best on a taller line than the vertical model. Each
    // stretch is read once, whichever reading of the column asks for it.
    poll();
    TesseractEngines::Configuration horizontal = configuration;
    const std::vector<std::string> installed = OCREngine::supportedRecognitionLanguages(settings.revision);
    horizontal.languages = std::find(installed.begin(), installed.end(), "en-US") != installed.end() ? "eng" : "jpn";
    const double up = std::abs(whole.height - sidewaysHeight) * 5 > sidewaysHeight
                          ? static_cast<double>(sidewaysHeight) / whole.height
                          : 1.0;
    std::map<std::tuple<int, int, int>, std::vector<Symbol>> englishReads;
    const auto english = [&](int from, int to, int pad) -> const std::vector<Symbol>& {
        auto [at, fresh] = englishReads.try_emplace({from, to, pad});
        if (fresh) {
            GreyPage cut = cutOut(whole, from, to, pad);
            if (up != 1) cut = cut.scaled(up);
            at->second = readSideways(horizontal, cut);
        }
        return at->second;
    };
    // The sideways runs of the column for a reading of it by the vertical
    // model. Where it read a Latin letter or digit the whole column is read
    // with the English model; elsewhere only a few ems around each cell that
    // may hold a sideways character, so that columns of kana and kanji cost
    // little more.
    const auto sideways = [&](const std::vector<Symbol>& vertical, double scale) {
        std::vector<SidewaysRun> runs;
        // A digit read over ink that stands upright in the column (taller
        // along it than half an em, as a digit set upright or two side by
        // side are) is read right by the vertical model, and tells of no
        // sideways text.
        const auto upright = [&](const Symbol& s) {
            if (!std::isdigit(static_cast<unsigned char>(s.text[0]))) return false;
            const double left = s.left * scale, right = s.right * scale;
            bool any = false;
            for (const Cell& c : cells) {
                if (c.end <= left || c.start >= right) continue;
                if (c.length() * 100 <= em * 62) return false;
                any = true;
            }
            return any;
        };
        const bool latin = std::any_of(vertical.begin(), vertical.end(),
                                       [&](const Symbol& s) { return alphanumeric(s.text) && !upright(s); });
        std::vector<std::pair<int, int>> windows;
        if (latin) {
            windows.emplace_back(0, whole.width);
        } else {
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (!maySideways(vertical, cells, c, em, scale)) continue;
                const int from = std::max(cells[c].start - em * 3 / 2, 0);
                const int to = std::min(cells[c].end + em * 3 / 2, whole.width);
                if (!windows.empty() && from <= windows.back().second) {
                    windows.back().second = to;
                } else {
                    windows.emplace_back(from, to);
                }
            }
        }
        if (vertical.empty() || windows.empty()) return runs;
        std::vector<Symbol> read;
        for (const auto& [from, to] : windows) {
            const int words = read.empty() ? 0 : read.back().word + 1;
            for (Symbol e : english(from, to, 0)) {
                e.left = from + static_cast<int>(e.left / up);
                e.right = from + static_cast<int>(e.right / up);
                e.word += words;
                read.push_back(std::move(e));
            }
        }
        runs = sidewaysRuns(read, cells, em, vertical, scale);
        // A lone digit among kanji is often read with its neighbour as one
        // letter by the horizontal model; each lone half-width glyph no run
        // took is read again on its own.
        const std::size_t found = runs.size();
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const int middle = (cells[c].start + cells[c].end) / 2;
            if (std::any_of(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(found),
                            [&](const SidewaysRun& r) { return middle >= r.from && middle < r.to; }) ||
                !loneGlyph(cells, c, c, em) || !(latin || maySideways(vertical, cells, c, em, scale))) {
                continue;
            }
            const std::vector<Symbol>& alone = english(cells[c].start, cells[c].end, em / 2);
            // A bar alone is what 一 and each stroke of 二 and 三 look like.
            if (alone.size() == 1 && alone[0].text.size() == 1 &&
                std::isdigit(static_cast<unsigned char>(alone[0].text[0])) && alone[0].text != "1" &&
                alone[0].confidence >= sureAlone) {
                runs.push_back({alone[0].text, cells[c].start, cells[c].end});
            }
        }
        std::sort(runs.begin(), runs.end(), [](const SidewaysRun& a, const SidewaysRun& b) { return a.from < b.from; });
        return runs;
    };
    std::vector<SidewaysRun> runs = sideways(symbols, back);
    if (!runs.empty() && !layoutFirst) {
        symbols = readLine(api, layoutLine(), piece.confidence);
        runs = sideways(symbols, back);
    }
    soFar.columns += 1;
    soFar.sideways += runs.empty() ? 0 : 1;
    // Digits set upright side by side in one cell, read upright by the
    // horizontal model, go in like a sideways run in place of whatever the
    // vertical model made of them.
    for (const VerticalUprightDigits::Group& group :
         VerticalUprightDigits::find(page, column, top, glyphs.back().end, std::max(bodyWidth, 1))) {
        std::string text;
        float sure = 1;
        for (const Symbol& s : readSideways(horizontal, VerticalUprightDigits::cutOut(page, group, sidewaysHeight))) {
            text += s.text;
            sure = std::min(sure, s.confidence);
        }
        if (sure < VerticalUprightDigits::sure || !VerticalUprightDigits::readsAsDigits(text, group)) continue;
        const SidewaysRun upright{text, group.rows.start - y0, group.rows.end - y0};
        std::erase_if(runs, [&](const SidewaysRun& r) { return r.from < upright.to && upright.from < r.to; });
        runs.insert(std::find_if(runs.begin(), runs.end(), [&](const SidewaysRun& r) { return r.from >= upright.to; }),
                    upright);
    }
    if (!runs.empty()) symbols = merged(symbols, runs, cells, em, back);
    for (Symbol& symbol : symbols) {
        if (symbol.confidence < 1) symbol.text = fullWidth(symbol.text);
    }
    readSolidSquares(symbols, squares, back);

    // Along the line is down the column: a symbol's left and right ends are
    // rows of the page, and its glyphs are the cells those rows overlap.
    for (Symbol symbol : symbols) {
        symbol.left = static_cast<int>(symbol.left * back);
        symbol.right = static_cast<int>(symbol.right * back);
        piece.text += symbol.text;
        for (std::size_t k = 0; k < glyphs.size(); ++k) {
            if (glyphs[k].start < y0 + symbol.right && y0 + symbol.left < glyphs[k].end) piece.glyphs.push_back(k);
        }
    }
    std::sort(piece.glyphs.begin(), piece.glyphs.end());
    piece.glyphs.erase(std::unique(piece.glyphs.begin(), piece.glyphs.end()), piece.glyphs.end());
    poll();
    if (piece.text.empty()) return {};
    return {std::move(piece)};
}

}  // namespace velmora::VerticalColumnReader
