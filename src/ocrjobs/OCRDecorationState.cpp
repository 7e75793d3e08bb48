#include "ocrjobs/OCRDecorationState.hpp"

#include <algorithm>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

std::u16string_view cluster(std::u16string_view s, const std::vector<std::size_t>& b, std::size_t i) {
    return s.substr(b[i], b[i + 1] - b[i]);
}

// Leading and trailing characters equal in both sequences; the trailing count
// never overlaps the leading one.
std::pair<std::size_t, std::size_t> commonEnds(std::u16string_view a, const std::vector<std::size_t>& ab,
                                               std::u16string_view b, const std::vector<std::size_t>& bb) {
    const std::size_t ac = ab.size() - 1, bc = bb.size() - 1, least = std::min(ac, bc);
    std::size_t p = 0;
    while (p < least && cluster(a, ab, p) == cluster(b, bb, p)) ++p;
    std::size_t s = 0;
    while (s < least - p && cluster(a, ab, ac - 1 - s) == cluster(b, bb, bc - 1 - s)) ++s;
    return {p, s};
}

std::vector<uint8_t> marksFor(std::size_t n, const std::vector<TextRange>& lowRanges) {
    std::vector<uint8_t> marks(n, OCRDecorationState::plain);
    const auto size = static_cast<int64_t>(n);
    for (const auto& r : lowRanges) {
        if (r.location < 0 || r.length < 0 || r.location > size || r.length > size - r.location) continue;
        std::fill(marks.begin() + r.location, marks.begin() + r.end(), OCRDecorationState::lowConfidence);
    }
    return marks;
}

// The colour of each whole character of text[from, to), appended to the
// runs; `from` and `to` must be character breaks.
void measure(std::u16string_view text, const std::vector<uint8_t>& marks, std::size_t from, std::size_t to,
             std::vector<TextRange>& yellow, std::vector<TextRange>& green) {
    const auto bounds = Unicode::graphemeBoundaries16(text.substr(from, to - from));
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        const std::size_t start = from + bounds[i], end = from + bounds[i + 1];
        bool anyEdited = false, allLow = true;
        for (std::size_t k = start; k < end; ++k) {
            anyEdited |= marks[k] == OCRDecorationState::edited;
            allLow &= marks[k] == OCRDecorationState::lowConfidence;
        }
        std::vector<TextRange>* runs = anyEdited ? &green : (allLow ? &yellow : nullptr);
        if (!runs) continue;
        const auto loc = static_cast<int64_t>(start), len = static_cast<int64_t>(end - start);
        if (!runs->empty() && runs->back().end() == loc) runs->back().length += len;
        else runs->push_back({loc, len});
    }
}

// A character always breaks after a line feed, and what follows it is read
// without looking back across it: the lines around a change are the only
// ones whose characters it can join or split.
std::size_t lineStart(std::u16string_view text, std::size_t at) {
    while (at > 0 && text[at - 1] != u'\n') --at;
    return at;
}

std::size_t lineEnd(std::u16string_view text, std::size_t at) {
    while (at < text.size() && text[at] != u'\n') ++at;
    return at < text.size() ? at + 1 : text.size();
}

// The runs of a text whose part [from, oldTo) became `middle`, the rest
// moved by `shift`; runs that meet at the seams are joined.
void splice(std::vector<TextRange>& runs, int64_t from, int64_t oldTo, int64_t shift,
            const std::vector<TextRange>& middle) {
    std::vector<TextRange> out;
    out.reserve(runs.size() + middle.size() + 1);
    auto push = [&](TextRange r) {
        if (r.length <= 0) return;
        if (!out.empty() && out.back().end() == r.location) out.back().length += r.length;
        else out.push_back(r);
    };
    for (const TextRange& r : runs) {
        if (r.location >= from) break;
        push({r.location, std::min(r.end(), from) - r.location});
    }
    for (const TextRange& r : middle) push(r);
    for (const TextRange& r : runs) {
        if (r.end() <= oldTo) continue;
        const int64_t start = std::max(r.location, oldTo);
        push({start + shift, r.end() - start});
    }
    runs = std::move(out);
}

}  // namespace

OCRDecorationState::OCRDecorationState(std::string_view baseline, const std::vector<TextRange>& lowRanges)
    : baseline_(Unicode::toUTF16(baseline)), text_(baseline_) {
    marks_ = marksFor(baseline_.size(), lowRanges);
    baselineMarks_ = marks_;
}

OCRDecorationState OCRDecorationState::fromStored(std::u16string baseline, std::u16string text,
                                                  std::vector<uint8_t> marks, std::vector<uint8_t> baselineMarks) {
    OCRDecorationState s;
    s.baseline_ = std::move(baseline);
    s.text_ = std::move(text);
    s.marks_ = std::move(marks);
    s.baselineMarks_ = std::move(baselineMarks);
    return s;
}

std::string OCRDecorationState::baseline() const { return Unicode::fromUTF16(baseline_); }
std::string OCRDecorationState::text() const { return Unicode::fromUTF16(text_); }

const OCRDecorationState::Colours& OCRDecorationState::colours() const {
    if (!colours_) {
        Colours measured;
        measure(text_, marks_, 0, text_.size(), measured.yellow, measured.green);
        colours_ = std::move(measured);
    }
    return *colours_;
}

const std::vector<TextRange>& OCRDecorationState::yellow() const { return colours().yellow; }
const std::vector<TextRange>& OCRDecorationState::green() const { return colours().green; }

void OCRDecorationState::markReplacement(std::size_t location, std::size_t length, std::u16string_view replacement) {
    const std::u16string_view old = std::u16string_view(text_).substr(location, length);
    const auto ob = Unicode::graphemeBoundaries16(old);
    const auto rb = Unicode::graphemeBoundaries16(replacement);
    const auto [p, s] = commonEnds(old, ob, replacement, rb);
    const std::size_t oc = ob.size() - 1, rc = rb.size() - 1;
    const std::size_t keepFront = ob[p];
    const std::size_t keepBack = old.size() - ob[oc - s];
    const std::size_t inserted = rb[rc - s] - rb[p];
    const auto first = marks_.begin() + static_cast<std::ptrdiff_t>(location + keepFront);
    const auto last = marks_.begin() + static_cast<std::ptrdiff_t>(location + length - keepBack);
    const auto at = marks_.erase(first, last);
    marks_.insert(at, inserted, edited);
}

void OCRDecorationState::update(std::string_view newTextUTF8, std::optional<TextRange> range,
                                std::optional<std::string_view> replacement, bool undoOrRedo) {
    std::u16string newText = Unicode::toUTF16(newTextUTF8);
    if (newText == text_) return;
    Step step;
    auto keepOlder = [&](std::size_t at, std::size_t olderLength, std::size_t newerLength) {
        step.at = at;
        step.length = newerLength;
        step.units = text_.substr(at, olderLength);
        step.marks.assign(marks_.begin() + static_cast<std::ptrdiff_t>(at),
                          marks_.begin() + static_cast<std::ptrdiff_t>(at + olderLength));
    };

    // Marks taken whole: those of the recognised text, or of an older state.
    std::optional<std::vector<uint8_t>> whole;
    if (newText == baseline_) {
        // Back to the recognised text: its first highlights return.
        whole = baselineMarks_;
    }
    if (!whole && undoOrRedo) whole = historyMarks(newText);
    if (whole) {
        const std::size_t oldSize = text_.size(), newSize = newText.size(), least = std::min(oldSize, newSize);
        std::size_t p = 0;
        while (p < least && text_[p] == newText[p] && marks_[p] == (*whole)[p]) ++p;
        std::size_t s = 0;
        while (s < least - p && text_[oldSize - 1 - s] == newText[newSize - 1 - s] &&
               marks_[oldSize - 1 - s] == (*whole)[newSize - 1 - s]) {
            ++s;
        }
        keepOlder(p, oldSize - p - s, newSize - p - s);
        marks_ = std::move(*whole);
    }
    bool done = whole.has_value();
    if (!done && range && replacement) {
        const auto size = static_cast<int64_t>(text_.size());
        if (range->location >= 0 && range->length >= 0 && range->location <= size &&
            range->length <= size - range->location) {
            const std::u16string r = Unicode::toUTF16(*replacement);
            const auto loc = static_cast<std::size_t>(range->location), len = static_cast<std::size_t>(range->length);
            if (text_.size() - len + r.size() == newText.size() &&
                std::u16string_view(newText).substr(0, loc) == std::u16string_view(text_).substr(0, loc) &&
                std::u16string_view(newText).substr(loc, r.size()) == r &&
                std::u16string_view(newText).substr(loc + r.size()) == std::u16string_view(text_).substr(loc + len)) {
                keepOlder(loc, len, r.size());
                markReplacement(loc, len, r);
                done = true;
            }
        }
    }
    if (!done) {
        const auto ob = Unicode::graphemeBoundaries16(text_);
        const auto nb = Unicode::graphemeBoundaries16(newText);
        const auto [p, s] = commonEnds(text_, ob, newText, nb);
        const std::size_t oc = ob.size() - 1, nc = nb.size() - 1;
        const std::u16string r = newText.substr(nb[p], nb[nc - s] - nb[p]);
        keepOlder(ob[p], ob[oc - s] - ob[p], r.size());
        markReplacement(ob[p], ob[oc - s] - ob[p], r);
    }
    text_ = std::move(newText);
    stepped(std::move(step));
}

std::optional<std::vector<uint8_t>> OCRDecorationState::historyMarks(std::u16string_view wanted) const {
    if (history_.empty()) return std::nullopt;
    // Older states are rebuilt from the current one, newest first, as undo
    // most often wants the state just before.
    std::u16string text = text_;
    std::vector<uint8_t> marks = marks_;
    for (auto it = history_.rbegin(); it != history_.rend(); ++it) {
        text.replace(it->at, it->length, it->units);
        const auto at = marks.begin() + static_cast<std::ptrdiff_t>(it->at);
        marks.insert(marks.erase(at, at + static_cast<std::ptrdiff_t>(it->length)), it->marks.begin(), it->marks.end());
        if (text == wanted) return marks;
    }
    return std::nullopt;
}

void OCRDecorationState::stepped(Step step) {
    ++revision_;
    if (colours_) {
        // Only the lines the step touched are measured again.
        const std::size_t from = lineStart(text_, step.at);
        const std::size_t to = lineEnd(text_, step.at + step.length);
        const int64_t shift = static_cast<int64_t>(step.length) - static_cast<int64_t>(step.units.size());
        Colours middle;
        measure(text_, marks_, from, to, middle.yellow, middle.green);
        const auto start = static_cast<int64_t>(from), oldTo = static_cast<int64_t>(to) - shift;
        splice(colours_->yellow, start, oldTo, shift, middle.yellow);
        splice(colours_->green, start, oldTo, shift, middle.green);
    }
    historyBytes_ += 3 * static_cast<int64_t>(step.units.size());
    history_.push_back(std::move(step));
    while (history_.size() > maxHistoryEntries || historyBytes_ > maxHistoryBytes) {
        historyBytes_ -= 3 * static_cast<int64_t>(history_.front().units.size());
        history_.pop_front();
    }
}

void OCRDecorationState::reformat(std::string_view newBaselineUTF8) {
    const std::u16string newBaseline = Unicode::toUTF16(newBaselineUTF8);
    if (newBaseline.size() != baseline_.size()) return;
    std::vector<TextRange> low;
    for (std::size_t i = 0; i < baselineMarks_.size();) {
        if (baselineMarks_[i] != lowConfidence) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < baselineMarks_.size() && baselineMarks_[j] == lowConfidence) ++j;
        low.push_back({static_cast<int64_t>(i), static_cast<int64_t>(j - i)});
        i = j;
    }
    baseline_ = newBaseline;
    text_ = newBaseline;
    marks_ = marksFor(newBaseline.size(), low);
    baselineMarks_ = marks_;
    history_.clear();
    historyBytes_ = 0;
    colours_.reset();
    ++revision_;
}

namespace {

std::vector<uint8_t> markArray(const Json& j, std::string_view key) {
    const Json& a = JSON::member(j, key);
    if (!a.is_array()) throw JSON::DecodeError("key \"" + std::string(key) + "\": expected an array");
    std::vector<uint8_t> out;
    out.reserve(a.size());
    for (const auto& v : a) {
        if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 255) {
            throw JSON::DecodeError("key \"" + std::string(key) + "\": expected bytes");
        }
        out.push_back(static_cast<uint8_t>(v.get<int64_t>()));
    }
    return out;
}

}  // namespace

void to_json(Json& j, const OCRDecorationState& s) {
    j = Json::object();
    j["baseline"] = s.baseline();
    j["text"] = s.text();
    j["marks"] = s.marks();
    j["baselineMarks"] = s.baselineMarks();
}

void from_json(const Json& j, OCRDecorationState& s) {
    JSON::requireObject(j, "decoration state");
    std::u16string baseline = Unicode::toUTF16(JSON::requireString(j, "baseline"));
    std::u16string text = Unicode::toUTF16(JSON::requireString(j, "text"));
    std::vector<uint8_t> marks = markArray(j, "marks");
    std::vector<uint8_t> baselineMarks = markArray(j, "baselineMarks");
    if (marks.size() != text.size() || baselineMarks.size() != baseline.size()) raise(ErrorCase::damagedCheckpoint);
    for (uint8_t m : marks) {
        if (m > OCRDecorationState::edited) raise(ErrorCase::damagedCheckpoint);
    }
    for (uint8_t m : baselineMarks) {
        if (m > OCRDecorationState::lowConfidence) raise(ErrorCase::damagedCheckpoint);
    }
    if (marks.size() > OCRDecorationState::maxMarks) raise(ErrorCase::damagedCheckpoint);
    s = OCRDecorationState::fromStored(std::move(baseline), std::move(text), std::move(marks), std::move(baselineMarks));
}

}  // namespace velmora
