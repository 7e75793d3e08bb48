#include "ocrviews/EditorHighlights.hpp"

#include <algorithm>
#include <iterator>

namespace velmora {

UTF16Map::UTF16Map(std::string_view utf8) {
    // Valid UTF-8 (what a text buffer holds): every byte that is not a
    // continuation starts a character, and a four-byte lead starts one
    // outside the BMP.
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        if ((byte & 0xC0) == 0x80) continue;
        if (byte >= 0xF0) astral_.push_back(characters_);
        ++characters_;
    }
}

int64_t UTF16Map::utf16Offset(int64_t character) const {
    character = std::clamp<int64_t>(character, 0, characters_);
    const auto before = std::lower_bound(astral_.begin(), astral_.end(), character) - astral_.begin();
    return character + before;
}

namespace {

// The number of pairs that start before the UTF-16 offset, and whether the
// offset falls between the two halves of the last of them.
std::pair<int64_t, bool> pairsBefore(const std::vector<int64_t>& astral, int64_t utf16) {
    // Pair i starts at astral[i] + i, which rises strictly with i.
    int64_t lo = 0;
    int64_t hi = static_cast<int64_t>(astral.size());
    while (lo < hi) {
        const int64_t mid = (lo + hi) / 2;
        if (astral[static_cast<std::size_t>(mid)] + mid < utf16) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    const bool inside = lo > 0 && astral[static_cast<std::size_t>(lo - 1)] + (lo - 1) + 1 == utf16;
    return {lo, inside};
}

}  // namespace

int64_t UTF16Map::characterStart(int64_t utf16) const {
    utf16 = std::clamp<int64_t>(utf16, 0, utf16Length());
    // Inside a pair, the pairs counted include it: the offset falls back to
    // the pair's own character.
    return utf16 - pairsBefore(astral_, utf16).first;
}

int64_t UTF16Map::characterEnd(int64_t utf16) const {
    utf16 = std::clamp<int64_t>(utf16, 0, utf16Length());
    const auto [pairs, inside] = pairsBefore(astral_, utf16);
    return inside ? utf16 - pairs + 1 : utf16 - pairs;
}

namespace EditorHighlights {

std::optional<CharacterSpan> paintedSpan(const TextRange& range, const UTF16Map& map) {
    const int64_t length = map.utf16Length();
    if (range.location < 0 || range.length < 0 || range.location > length || range.length > length - range.location) {
        return std::nullopt;
    }
    return CharacterSpan{map.characterStart(range.location), map.characterEnd(range.location + range.length)};
}

std::vector<CharacterSpan> paintedSpans(const std::vector<TextRange>& ranges, const UTF16Map& map) {
    std::vector<CharacterSpan> spans;
    spans.reserve(ranges.size());
    for (const TextRange& range : ranges) {
        if (auto span = paintedSpan(range, map); span && span->end > span->start) spans.push_back(*span);
    }
    return spans;
}

std::string help(std::size_t lowCount, std::size_t manualCount) {
    return "黄：低信頼、緑：手動修正、青：検索結果。黄色" + std::to_string(lowCount) + "箇所、緑" +
           std::to_string(manualCount) + "箇所。色は正誤を保証しません。";
}

bool reveals(const std::optional<TextRange>& selection, const std::optional<TextRange>& lastSelection,
             int64_t utf16Length) {
    if (!selection || selection == lastSelection) return false;
    return selection->location >= 0 && selection->length >= 0 && selection->location <= utf16Length &&
           selection->length <= utf16Length - selection->location;
}

}  // namespace EditorHighlights

HighlightLayer::Changes HighlightLayer::update(std::vector<CharacterSpan> wanted) {
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

    Changes changes;
    std::set_difference(exact_.begin(), exact_.end(), wanted.begin(), wanted.end(),
                        std::back_inserter(changes.remove));
    changes.remove.insert(changes.remove.end(), uncertain_.begin(), uncertain_.end());
    std::sort(changes.remove.begin(), changes.remove.end());

    // A removal may take the tag off a kept span it overlaps (spans of a
    // layer may overlap): such a span is added again.
    std::vector<CharacterSpan> cleared;
    for (const CharacterSpan& span : changes.remove) {
        if (!cleared.empty() && span.start <= cleared.back().end) {
            cleared.back().end = std::max(cleared.back().end, span.end);
        } else {
            cleared.push_back(span);
        }
    }
    const auto touchesCleared = [&](const CharacterSpan& span) {
        auto it = std::upper_bound(cleared.begin(), cleared.end(), span.end,
                                   [](int64_t end, const CharacterSpan& c) { return end <= c.start; });
        // Every cleared span before `it` starts before span.end; the last of
        // them reaches furthest, as they are disjoint and ascending.
        return it != cleared.begin() && std::prev(it)->end > span.start;
    };
    std::vector<CharacterSpan> kept;
    std::set_intersection(wanted.begin(), wanted.end(), exact_.begin(), exact_.end(), std::back_inserter(kept));
    std::set_difference(wanted.begin(), wanted.end(), exact_.begin(), exact_.end(), std::back_inserter(changes.add));
    for (const CharacterSpan& span : kept) {
        if (touchesCleared(span)) changes.add.push_back(span);
    }
    std::sort(changes.add.begin(), changes.add.end());

    exact_ = std::move(wanted);
    uncertain_.clear();
    return changes;
}

namespace {

// Spans after an insertion; those it touched go to `touched`, grown over
// the inserted text.
void shiftForInsertion(std::vector<CharacterSpan>& spans, int64_t at, int64_t count,
                       std::vector<CharacterSpan>& touched) {
    std::vector<CharacterSpan> kept;
    kept.reserve(spans.size());
    for (CharacterSpan span : spans) {
        if (span.end < at) {
            kept.push_back(span);
        } else if (span.start > at) {
            kept.push_back({span.start + count, span.end + count});
        } else {
            touched.push_back({span.start, span.end + count});
        }
    }
    spans = std::move(kept);
}

// Spans after a deletion: what is left of each, exactly (a deletion tags
// nothing).
void shiftForDeletion(std::vector<CharacterSpan>& spans, int64_t start, int64_t end) {
    const int64_t count = end - start;
    std::vector<CharacterSpan> kept;
    kept.reserve(spans.size());
    for (CharacterSpan span : spans) {
        if (span.end <= start) {
            kept.push_back(span);
        } else if (span.start >= end) {
            kept.push_back({span.start - count, span.end - count});
        } else {
            const CharacterSpan left{std::min(span.start, start), span.end > end ? span.end - count : start};
            if (left.end > left.start) kept.push_back(left);
        }
    }
    std::sort(kept.begin(), kept.end());
    spans = std::move(kept);
}

}  // namespace

void HighlightLayer::inserted(int64_t at, int64_t count) {
    if (count <= 0) return;
    std::vector<CharacterSpan> touched;
    shiftForInsertion(exact_, at, count, touched);
    shiftForInsertion(uncertain_, at, count, touched);
    uncertain_.insert(uncertain_.end(), touched.begin(), touched.end());
    std::sort(uncertain_.begin(), uncertain_.end());
}

void HighlightLayer::deleted(int64_t start, int64_t end) {
    if (end <= start) return;
    shiftForDeletion(exact_, start, end);
    shiftForDeletion(uncertain_, start, end);
}

}  // namespace velmora
