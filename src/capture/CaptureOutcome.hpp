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

// The case a save reports for the error that ended it: a BrindlexError keeps
// its own, a cancelled task is `cancelled`, anything else `renderFailed`.
ErrorCase errorCode(const std::exception_ptr& error);

// The sentence that says why a save ended with error: the case's message,
// or for a page too tall, the sentence that names its height limit.
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
