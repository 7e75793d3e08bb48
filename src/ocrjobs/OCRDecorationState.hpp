#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/TextRange.hpp"

namespace velmora {

// The highlights of one edited page: characters the recogniser was unsure of
// (yellow) and characters the user changed (green), kept through edits, undo
// and redo. One mark per UTF-16 code unit; positions are UTF-16 offsets and
// text equality is exact (no normalisation).
//
// A keystroke costs what it changes, not what the page is: the history keeps
// each step as the stretch of the older text and marks it replaced (undo
// rebuilds older states from the newest backwards), and the coloured ranges
// are kept and re-measured only over the lines a step touched.
class OCRDecorationState {
public:
    enum Mark : uint8_t { plain = 0, lowConfidence = 1, edited = 2 };

    static constexpr std::size_t maxHistoryEntries = 128;
    static constexpr int64_t maxHistoryBytes = 8388608;
    static constexpr std::size_t maxMarks = 8388608;

    OCRDecorationState() = default;
    // Malformed ranges (negative, or reaching past the text) are skipped.
    OCRDecorationState(std::string_view baseline, const std::vector<TextRange>& lowRanges);

    std::string baseline() const;
    std::string text() const;
    const std::u16string& baseline16() const noexcept { return baseline_; }
    const std::u16string& text16() const noexcept { return text_; }
    const std::vector<uint8_t>& marks() const noexcept { return marks_; }
    const std::vector<uint8_t>& baselineMarks() const noexcept { return baselineMarks_; }
    std::size_t historyCount() const noexcept { return history_.size(); }
    // What the history holds: three bytes for each code unit it keeps (the
    // unit and its mark).
    int64_t historyBytes() const noexcept { return historyBytes_; }

    // Maximal runs of whole characters to colour. Measured on first use and
    // then kept up to date by each step; valid until the next change.
    const std::vector<TextRange>& yellow() const;
    const std::vector<TextRange>& green() const;

    // Counts the changes of the text or its marks: a reader that saw this
    // value has seen the current ranges.
    uint64_t revision() const noexcept { return revision_; }

    // The editor's text changed. With the exact range and replacement only the
    // replaced part is compared; otherwise the whole texts are.
    void update(std::string_view newText, std::optional<TextRange> range = std::nullopt,
                std::optional<std::string_view> replacement = std::nullopt, bool undoOrRedo = false);
    // The page text was rebuilt (line breaks preserved or not): keeps the
    // low-confidence positions, drops edits. A text of another length is
    // ignored.
    void reformat(std::string_view newBaseline);

    // Equal stored values; the history is not part of the value.
    bool operator==(const OCRDecorationState& o) const {
        return baseline_ == o.baseline_ && text_ == o.text_ && marks_ == o.marks_ && baselineMarks_ == o.baselineMarks_;
    }

    static OCRDecorationState fromStored(std::u16string baseline, std::u16string text, std::vector<uint8_t> marks,
                                         std::vector<uint8_t> baselineMarks);

private:
    // One step of the history: the older text held `units` and `marks` at
    // `at`, where the newer one holds `length` units.
    struct Step {
        std::size_t at = 0;
        std::size_t length = 0;
        std::u16string units;
        std::vector<uint8_t> marks;
    };
    struct Colours {
        std::vector<TextRange> yellow;
        std::vector<TextRange> green;
    };

    const Colours& colours() const;
    void markReplacement(std::size_t location, std::size_t length, std::u16string_view replacement);
    // The text and marks now differ from the older ones only in
    // [at, at + length) (older: `older` units): keeps the step and the
    // ranges.
    void stepped(Step older);
    // The marks of the newest older state whose text is `wanted`.
    std::optional<std::vector<uint8_t>> historyMarks(std::u16string_view wanted) const;

    std::u16string baseline_;
    std::u16string text_;
    std::vector<uint8_t> marks_;
    std::vector<uint8_t> baselineMarks_;
    std::deque<Step> history_;
    int64_t historyBytes_ = 0;
    uint64_t revision_ = 0;
    // Absent until first read.
    mutable std::optional<Colours> colours_;
};

// Four keys; decoding checks lengths and mark values and throws
// damagedCheckpoint for a state that breaks them.
void to_json(Json& j, const OCRDecorationState& s);
void from_json(const Json& j, OCRDecorationState& s);

}  // namespace velmora
