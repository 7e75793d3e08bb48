#include "recognition/OCRDecorationState.hpp"

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

std::vector<TextRange> OCRDecorationState::ranges(Colour wanted) const {
    std::vector<TextRange> out;
    const auto bounds = Unicode::graphemeBoundaries16(text_);
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        const std::size_t from = bounds[i], to = bounds[i + 1];
        bool anyEdited = false, allLow = true;
        for (std::size_t k = from; k < to; ++k) {
            anyEdited |= marks_[k] == edited;
            allLow &= marks_[k] == lowConfidence;
        }
        const Colour c = anyEdited ? Colour::green : (allLow ? Colour::yellow : Colour::none);
        if (c != wanted) continue;
        const auto loc = static_cast<int64_t>(from), len = static_cast<int64_t>(to - from);
        if (!out.empty() && out.back().end() == loc) out.back().length += len;
        else out.push_back({loc, len});
    }
    return out;
}

std::vector<TextRange> OCRDecorationState::yellow() const { return ranges(Colour::yellow); }
std::vector<TextRange> OCRDecorationState::green() const { return ranges(Colour::green); }

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
    std::pair<std::u16string, std::vector<uint8_t>> previous{text_, marks_};

    bool done = false;
    if (newText == baseline_) {
        // Back to the recognised text: its first highlights return.
        marks_ = baselineMarks_;
        done = true;
    }
    if (!done && undoOrRedo) {
        for (auto it = history_.rbegin(); it != history_.rend(); ++it) {
            if (it->first == newText) {
                marks_ = it->second;
                done = true;
                break;
            }
        }
    }
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
        markReplacement(ob[p], ob[oc - s] - ob[p], r);
    }
    text_ = std::move(newText);

    historyBytes_ += 3 * static_cast<int64_t>(previous.first.size());
    history_.push_back(std::move(previous));
    while (history_.size() > maxHistoryEntries || historyBytes_ > maxHistoryBytes) {
        historyBytes_ -= 3 * static_cast<int64_t>(history_.front().first.size());
        history_.erase(history_.begin());
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
