#pragma once

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace velmora {

// The one error of the system. Its case name is also stored data (journals,
// page records, queue inputs, history entries, event-log records), so the raw
// values and their order are part of several file formats.
class BrindlexError : public std::exception {
public:
    enum class Case {
        invalidInput,
        unsupportedLanguage,
        unsupportedMode,
        lockedPDF,
        sourceChanged,
        settingsChanged,
        damagedCheckpoint,
        unsafePath,
        fileExists,
        saveFailed,
        budgetExceeded,
        dimensionOverflow,
        cancelled,
        loadTimeout,
        incompleteImages,
        navigationBusy,
        renderFailed,
        injectedFailure,
        emptyResult,
        sourceMissing,
        accessDenied,
        confirmationChanged,
        cleanupBlocked,
        interruptedSave,
        // A page read in the standard or vertical mode whose text runs the
        // other way: named by the orientation the page shows, so that the
        // reason tells which mode reads it. Added after the others, so the
        // stored names and their order stay as they were.
        looksVertical,
        looksHorizontal,
    };
    static constexpr int caseCount = 26;

    explicit BrindlexError(Case c) noexcept : case_(c) {}

    Case errorCase() const noexcept { return case_; }
    // The fixed Japanese message of the case; a user-facing description of a
    // thrown error is exactly this text.
    const char* what() const noexcept override;

    static std::string_view rawValue(Case c) noexcept;
    static std::optional<Case> fromRawValue(std::string_view raw) noexcept;
    static const char* message(Case c) noexcept;
    static const std::array<Case, caseCount>& allCases() noexcept;

    bool operator==(const BrindlexError& other) const noexcept { return case_ == other.case_; }

private:
    Case case_;
};

using ErrorCase = BrindlexError::Case;

// Throws the error of case c: the one way code of ours raises a BrindlexError.
[[noreturn]] inline void raise(ErrorCase c) { throw BrindlexError(c); }

// Stored as the raw value; a name that is no case is a decoding error that the
// enclosing record's reader handles as its own format requires.
void to_json(nlohmann::json& j, BrindlexError::Case c);
void from_json(const nlohmann::json& j, BrindlexError::Case& c);

}  // namespace velmora
