#include "capture/CaptureOutcome.hpp"

#include "capture/CapturePlan.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/GLibError.hpp"

namespace velmora::CaptureOutcome {

ErrorCase errorCode(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (const CancellationError&) {
        return ErrorCase::cancelled;
    } catch (...) {
        return ErrorCase::renderFailed;
    }
}

std::string tallerThanLimit(int64_t limit) {
    // Grouped by thousands, as the limit is written for users.
    std::string digits = std::to_string(limit);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0 && digits[at - 1] != '-'; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return "ページの高さが縦長PNGの上限（" + digits +
           "px）を超えているため保存できません。「印刷用に保存」ならページ全体をPDFで保存できます。";
}

std::string failureSentence(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const PageTooTall& e) {
        return tallerThanLimit(e.limit);
    } catch (const PageFault& e) {
        return e.sentence;
    } catch (const GLibError& e) {
        // The freeze's own error, thrown in the page, comes back as the
        // engine's script error with its message inside.
        if (e.message().find("capture-position") != std::string::npos) return stickyNotPinned;
        return BrindlexError::message(errorCode(error));
    } catch (...) {
        return BrindlexError::message(errorCode(error));
    }
}

std::string savedMessage(const CaptureReceipt& receipt) {
    std::string text = "画像を保存しました（1枚）";
    if (receipt.splitReason) {
        text = "ページが非常に長いため、安全のため" + std::to_string(receipt.parts.size()) + "枚に分けて保存しました。";
    }
    if (receipt.plannedHeightCSS) text += " " + std::string(heightChanged);
    return text;
}

std::string failureMessage(std::size_t published, ErrorCase code,
                           std::optional<WebCaptureDiagnosticStage> diagnosticStage) {
    return failureMessage(published, std::string(BrindlexError::message(code)), diagnosticStage);
}

std::string failureMessage(std::size_t published, const std::string& sentence,
                           std::optional<WebCaptureDiagnosticStage> diagnosticStage) {
    std::string text;
    if (published >= 1) text = "保存済み出力" + std::to_string(published) + "件は保持しています。 ";
    text += sentence;
    if (diagnosticStage) text += " 診断コード: " + std::string(rawValue(*diagnosticStage));
    return text;
}

}  // namespace velmora::CaptureOutcome
