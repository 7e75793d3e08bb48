#include "recognition/standard/LatinRuns.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "foundation/Unicode.hpp"
#include "recognition/standard/PunctuationWidth.hpp"

namespace velmora::StandardPass {

namespace {

bool ascii(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7f; });
}
bool alphanumeric(const std::string& s) { return s.size() == 1 && std::isalnum(static_cast<unsigned char>(s[0])); }
bool letter(const std::string& s) { return s.size() == 1 && std::isalpha(static_cast<unsigned char>(s[0])); }

// The marks of code that stand at the ends of a typewriter run, which the
// Japanese model drops or garbles ("\@setfontsize", "file_name"): a run
// takes them in. Not a slash, which it reads well and the English model,
// reading a run alone, sometimes takes for a letter ("/etc" as "Jetc").
bool codeMark(const std::string& s) {
    static const std::string marks = "\\_@*#$%&~^{}";
    return s.size() == 1 && marks.find(s[0]) != std::string::npos;
}

// A kana or kanji, which fills its cell.
bool fillsCell(const std::string& s) {
    const std::vector<char32_t> scalars = Unicode::scalars(s);
    return scalars.size() == 1 && LineText::isCJK(scalars.front()) && !LineText::isWidePunctuation(scalars.front());
}

// What the English model reads in Latin text: ASCII, and the typographic
// quotes and dashes it knows.
bool latinReading(const Line& line) {
    bool any = false;
    for (char32_t c : Unicode::scalars(line.assembled.text)) {
        if (c == ' ') continue;
        const bool typographic = c == U'‘' || c == U'’' || c == U'“' || c == U'”' || c == U'–' || c == U'—';
        if (!(c > ' ' && c < 0x7f) && !typographic) return false;
        any = true;
    }
    return any;
}

// How sure the English model must be of a run's reading.
constexpr float sure = 0.8f;
// The Japanese model reads real kana in a run's way this surely or more.
constexpr float sureKana = 0.9f;

}  // namespace

void readLatinRuns(std::vector<Line>& ls, const GreyPage& page, const PageInk& ink,
                   const TesseractEngines::Configuration& english, const std::function<bool(const Line&)>& skip) {
    for (Line& line : ls) {
        if (!line.horizontal || skip(line)) continue;
        std::vector<std::size_t> inked;
        bool anyLetter = false, anyJapanese = false;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
            if (line.symbolBoxes[k].empty() || LineText::isBlank(line.symbolTexts[k])) continue;
            inked.push_back(k);
            anyLetter = anyLetter || letter(line.symbolTexts[k]);
            anyJapanese = anyJapanese || fillsCell(line.symbolTexts[k]);
        }
        // A line of Latin alone is the whole line's re-read's.
        if (!anyLetter || !anyJapanese) continue;
        const int pitch = japanesePitch(line);
        const int em = pitch > 0 ? pitch : line.textHeight();
        if (em < 6) continue;
        // The runs, as positions in `inked`.
        std::vector<std::pair<std::size_t, std::size_t>> runs;
        for (std::size_t i = 0; i < inked.size();) {
            if (!alphanumeric(line.symbolTexts[inked[i]])) {
                ++i;
                continue;
            }
            std::size_t end = i;  // last alphanumeric symbol of the run
            int letters = letter(line.symbolTexts[inked[i]]) ? 1 : 0;
            for (std::size_t j = i + 1; j < inked.size(); ++j) {
                const PixelBox& b = line.symbolBoxes[inked[j]];
                const PixelBox& previous = line.symbolBoxes[inked[j - 1]];
                if (b.left - previous.right >= em) break;
                const std::string& t = line.symbolTexts[inked[j]];
                const std::vector<char32_t> scalars = Unicode::scalars(t);
                const bool wideMark = scalars.size() == 1 && LineText::isWidePunctuation(scalars.front());
                // A letter garbled into kana is narrow, and read unsurely.
                const bool narrow = b.width() * 10 < em * 6;
                const bool unsure = line.symbolConfidences[inked[j]] < sureKana;
                if (!ascii(t) && (wideMark || !narrow || !unsure)) break;
                if (alphanumeric(t)) {
                    end = j;
                    letters += letter(t) ? 1 : 0;
                }
            }
            if (letters >= 2) runs.emplace_back(i, end);
            i = end + 1;
        }
        if (runs.empty()) continue;
        // The marks of code beside a run are the run's: "\" before a
        // command, "/" before a path, "_" or "@" at a run's end.
        for (auto& run : runs) {
            while (run.first > 0) {
                const std::size_t k = inked[run.first - 1];
                const int gap = line.symbolBoxes[inked[run.first]].left - line.symbolBoxes[k].right;
                if (!codeMark(line.symbolTexts[k]) || gap * 2 >= em) break;
                run.first -= 1;
            }
            while (run.second + 1 < inked.size()) {
                const std::size_t k = inked[run.second + 1];
                const int gap = line.symbolBoxes[k].left - line.symbolBoxes[inked[run.second]].right;
                if (!codeMark(line.symbolTexts[k]) || gap * 2 >= em) break;
                run.second += 1;
            }
        }
        bool changed = false;
        // From the line's end, so that the symbols' indices before a run
        // still hold when it is replaced.
        for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
            const std::size_t first = inked[r->first], last = inked[r->second];
            const PixelBox& a = line.symbolBoxes[first];
            const PixelBox& z = line.symbolBoxes[last];
            // The run's pieces of ink: those on the line within its
            // symbols' boxes, and those of a bracket or mark
            // it touches (the Japanese model may have read a letter with it:
            // "(u" as one bracket); the reading's own marks at its ends are
            // dropped below.
            int from = a.left - em / 8, to = z.right + em / 8;
            // A run that ends in a mark of code has taken in what it
            // touches; a quote or bracket beside it is its own.
            if (r->first > 0 && !codeMark(line.symbolTexts[first])) {
                const std::size_t before = inked[r->first - 1];
                if (!fillsCell(line.symbolTexts[before]) && line.symbolBoxes[before].right >= from) {
                    from = std::min(from, line.symbolBoxes[before].left);
                }
            }
            if (r->second + 1 < inked.size() && !codeMark(line.symbolTexts[last])) {
                const std::size_t after = inked[r->second + 1];
                if (!fillsCell(line.symbolTexts[after]) && line.symbolBoxes[after].left <= to) {
                    to = std::max(to, line.symbolBoxes[after].right);
                }
            }
            int dx = 0, dy = 0;
            const GreyPage alone = inkAlone(line, page, ink, from, to, std::max(em / 2, 4), dx, dy);
            if (alone.width == 0) continue;
            std::vector<Line> again = Reader(alone, english).page(tesseract::PSM_SINGLE_LINE);
            int was = 0;
            for (std::size_t k = first; k <= last; ++k) {
                if (!LineText::isBlank(line.symbolTexts[k])) was += 1;
            }
            if (again.size() != 1) continue;
            Line& reading = again.front();
            // The run begins and ends with a letter, a digit or a mark of
            // code: any other mark the English model reads at its ends is a
            // stray stroke, or a neighbour's (a quote, a bracket), and so is
            // a mark of code where the run begins or ends with a letter or
            // digit.
            const auto keeps = [&](const std::string& t, std::size_t end) {
                return alphanumeric(t) || (codeMark(t) && codeMark(line.symbolTexts[end]));
            };
            std::size_t begin = 0, end = reading.symbolTexts.size();
            while (begin < end && !keeps(reading.symbolTexts[begin], first)) ++begin;
            while (end > begin && !keeps(reading.symbolTexts[end - 1], last)) --end;
            if (begin == end) continue;
            if (begin > 0 || end < reading.symbolTexts.size()) {
                replaceSymbols(reading, end, reading.symbolTexts.size(), Line{});
                replaceSymbols(reading, 0, begin, Line{});
                if (!assemble(reading)) continue;
            }
            // How sure the model is of what is kept: its symbols' mean.
            double sum = 0;
            for (float c : reading.symbolConfidences) sum += c;
            const float surety =
                reading.symbolConfidences.empty() ? 0.0f : float(sum / reading.symbolConfidences.size());
            if (!latinReading(reading) || surety < sure || std::abs(reading.characters - was) * 4 > was) {
                continue;
            }
            // The Japanese model reads the marks among digits as well as
            // the English one ("42.195km" it reads right, the English model
            // as "42,195km"), though not those among letters (an apostrophe):
            // in a run with digits the English reading is taken for its
            // letters and digits, when they differ from the run's (or from
            // kana garbled in their place).
            std::string readLetters;
            for (const std::string& t : reading.symbolTexts) {
                if (alphanumeric(t)) readLetters += t;
            }
            std::string runLetters;
            bool digits = false;
            for (std::size_t k = first; k <= last; ++k) {
                const std::string& t = line.symbolTexts[k];
                if (!LineText::isBlank(t) && !ascii(t)) runLetters += t;
                if (alphanumeric(t)) runLetters += t;
                digits = digits || (alphanumeric(t) && !letter(t));
            }
            if (digits && readLetters == runLetters) continue;
            for (PixelBox& b : reading.symbolBoxes) b.shift(dx, dy);
            // Where the two readings differ only in a letter's case, the
            // Japanese model's holds: it tells "x" from "X" by the letter's
            // height on the line (and keeps the small capitals of a logo,
            // "LuaTEX"), the English model, reading the run alone, by its
            // shape only. Not so "l" and "L", alike in height, which the
            // Japanese model confuses.
            std::vector<std::size_t> own;
            for (std::size_t k = first; k <= last; ++k) {
                if (!LineText::isBlank(line.symbolTexts[k])) own.push_back(k);
            }
            if (own.size() == reading.symbolTexts.size()) {
                for (std::size_t k = 0; k < own.size(); ++k) {
                    const std::string& mine = line.symbolTexts[own[k]];
                    const std::string theirs = reading.symbolTexts[k];
                    if (mine.size() != 1 || theirs.size() != 1 || mine == theirs) continue;
                    const int a = std::tolower(static_cast<unsigned char>(mine[0]));
                    const int b = std::tolower(static_cast<unsigned char>(theirs[0]));
                    if (a == b && a != 'l') replaceSymbol(reading, k, mine);
                }
            }
            replaceSymbols(line, first, last + 1, reading);
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
