#pragma once

// What the result editor paints where, without a display.
//
// GTK's text buffer counts characters (Unicode scalars); the result text's
// ranges count UTF-16 code units. `UTF16Map` converts between the two, and a
// boundary that falls inside a surrogate pair moves outward, so a range never
// paints half a character.
//
// `HighlightLayer` is the one layer of tags as the buffer holds it. The
// buffer moves tags with the text it edits, and its rule at a tag's edges is
// its own; the layer follows every edit conservatively (a span touched by
// an edit grows to cover whatever the buffer may have tagged), so that an
// update removes a superset of the stale tags and adds back exactly the
// wanted spans. Only the spans that changed are touched: a keystroke in a
// long text costs a few tag operations, not a repaint of every range.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/TextRange.hpp"

namespace velmora {

// Characters [start, end) of a text.
struct CharacterSpan {
    int64_t start = 0;
    int64_t end = 0;

    bool operator==(const CharacterSpan&) const = default;
    auto operator<=>(const CharacterSpan&) const = default;
};

// Offsets of one text in characters and in UTF-16 code units.
class UTF16Map {
public:
    UTF16Map() = default;
    explicit UTF16Map(std::string_view utf8);

    int64_t characters() const noexcept { return characters_; }
    int64_t utf16Length() const noexcept { return characters_ + static_cast<int64_t>(astral_.size()); }

    // The UTF-16 offset of the character offset (clamped to the text).
    int64_t utf16Offset(int64_t character) const;
    // The character that starts at or holds the UTF-16 offset; an offset
    // inside a pair gives that pair's character (the outward start).
    int64_t characterStart(int64_t utf16) const;
    // The character offset at or after the UTF-16 offset; an offset inside
    // a pair gives the offset after that pair's character (the outward end).
    int64_t characterEnd(int64_t utf16) const;

private:
    // Character offsets of the characters outside the BMP, ascending.
    std::vector<int64_t> astral_;
    int64_t characters_ = 0;
};

namespace EditorHighlights {

// The span a range paints, or none when it does not lie in the text
// (negative, or reaching past its end): such a range is skipped.
std::optional<CharacterSpan> paintedSpan(const TextRange& range, const UTF16Map& map);

// The painted spans of a list, in list order, the skipped left out.
std::vector<CharacterSpan> paintedSpans(const std::vector<TextRange>& ranges, const UTF16Map& map);

// The accessible description of the editor: the counts are of the lists
// passed in, painted or not.
std::string help(std::size_t lowCount, std::size_t manualCount);

// Whether an update reveals its selection: a new one (not the last seen)
// that ends within the text.
bool reveals(const std::optional<TextRange>& selection, const std::optional<TextRange>& lastSelection,
             int64_t utf16Length);

}  // namespace EditorHighlights

// One layer of tags as the buffer holds it (see the head of this file).
class HighlightLayer {
public:
    struct Changes {
        std::vector<CharacterSpan> remove;
        std::vector<CharacterSpan> add;
    };

    // The operations that turn the buffer's tags into `wanted`: removals
    // first, then additions. Afterwards the layer holds `wanted`.
    Changes update(std::vector<CharacterSpan> wanted);

    // The buffer's text changed under the tags.
    void inserted(int64_t at, int64_t count);
    void deleted(int64_t start, int64_t end);
    // The whole text was replaced: the buffer holds no tags.
    void clear() {
        exact_.clear();
        uncertain_.clear();
    }

private:
    // Spans tagged exactly as recorded, ascending.
    std::vector<CharacterSpan> exact_;
    // Spans an insertion touched: the buffer's tag lies somewhere inside.
    std::vector<CharacterSpan> uncertain_;
};

}  // namespace velmora
