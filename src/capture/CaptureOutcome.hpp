#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "foundation/BrindlexError.hpp"
#include "capture/CaptureReceipt.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

namespace velmora {

// How the end of a save of a tab reads in its status line. A failed or
// cancelled save says first how many files it had already published: those
// stay where they are.
namespace CaptureOutcome {

constexpr const char* cancelAccepted = "中止を受付済み。処理の終了と画面復元を待っています";
constexpr const char* ocrRunning = "画像保存は完了しました。標準OCRを処理中です。";
// The page's display process (the web engine's page process) ended during
// the save.
constexpr const char* pageEnded =
    "ページの表示処理が終了したため保存できませんでした。再読み込みすると直る場合があります。";
// A page taller than the tall PNG's height limit of limit CSS pixels: what
// stops it, and the save that takes a page of any height.
std::string tallerThanLimit(int64_t limit);
constexpr const char* heightChanged = "ページの高さが変わったため、末尾を現在の高さで保存しました。";

// What the page did or is that a save could not go past; each stands in
// the status line in place of the bare message of renderFailed.
// The page never took the width it is saved at.
constexpr const char* widthNotTaken = "ページを保存する幅で表示できなかったため保存できませんでした。";
// The page's content scrolls inside a box of the page (the body or an
// element), which the tiles cannot reach.
constexpr const char* innerScroller =
    "ページの本文がページ内の枠でスクロールする作りのため、縦長PNGでは全体を保存できません。";
// The page grew or got shorter above the rows taken while they were taken.
constexpr const char* heightChangedDuringSave =
    "保存中にページの高さが変わったため保存できませんでした。表示が落ち着いてから保存し直してください。";
// Rows already taken were no longer where they had been.
constexpr const char* rowsMoved =
    "保存中にページの内容が上下に動いたため保存できませんでした。表示が落ち着いてから保存し直してください。";
// A sticky or fixed element would not go back to where the view showed it
// (the page's "capture-position" error from the freeze).
constexpr const char* stickyNotPinned =
    "固定表示・追従表示の要素を表示どおりの位置に置けなかったため保存できませんでした。";
// A snapshot of the view did not come, or not at the size the plan asked
// for.
constexpr const char* snapshotFailed = "ページの画面を撮影できなかったため保存できませんでした。";

// A save the page itself made impossible: renderFailed, as the history and
// the report record it, with the sentence that says what happened.
class PageFault : public BrindlexError {
public:
    explicit PageFault(const char* sentence) noexcept : BrindlexError(ErrorCase::renderFailed), sentence(sentence) {}
    const char* sentence;
};

// The case a save reports for the error that ended it: a BrindlexError keeps
// its own, a cancelled task is `cancelled`, anything else `renderFailed`.
ErrorCase errorCode(const std::exception_ptr& error);

// The sentence that says why a save ended with error: the case's message,
// for a page too tall the sentence that names its height limit, and for a
// page fault its own sentence.
std::string failureSentence(const std::exception_ptr& error);

// "画像を保存しました（1枚）", or for a page split to fit the memory budget the
// sentence that says into how many images; followed by the sentence that
// says the end was cropped when the page became shorter during the capture.
std::string savedMessage(const CaptureReceipt& receipt);

// The code's message, after "保存済み出力<n>件は保持しています。 " when n ≥ 1
// files were published, and followed by " 診断コード: " and the stage's code
// when the save kept a diagnostic report.
std::string failureMessage(std::size_t published, ErrorCase code,
                           std::optional<WebCaptureDiagnosticStage> diagnosticStage);
// The same around a sentence of the save's own in place of the code's.
std::string failureMessage(std::size_t published, const std::string& sentence,
                           std::optional<WebCaptureDiagnosticStage> diagnosticStage);

}  // namespace CaptureOutcome
}  // namespace velmora
