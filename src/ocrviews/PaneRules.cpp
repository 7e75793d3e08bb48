#include "ocrviews/PaneRules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ocrqueue/QueueController.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace PaneLayout {

double contentWidth(double paneWidth) { return std::max(paneWidth - 2 * padding, minimumContent); }

bool compact(double paneWidth) { return paneWidth < compactBelow; }

double splitMinimum(double paneHeight, double room) {
    return std::max(std::min(std::floor(room), std::floor(paneHeight / 2)), minimumSplit);
}

std::vector<FlowSlot> flow(const std::vector<FlowItem>& items, double width, double spacing) {
    std::vector<FlowSlot> slots;
    slots.reserve(items.size());
    std::size_t line = 0;
    double x = 0;
    for (const FlowItem& item : items) {
        const double wanted = std::max(std::min(item.natural, width), item.minimum);
        if (x > 0 && x + wanted > width) {
            ++line;
            x = 0;
        }
        slots.push_back({line, x, wanted});
        x += wanted + spacing;
    }
    return slots;
}

double sourceWidth(double preferred, double splitWidth) { return OCRProduct::previewWidth(preferred, splitWidth); }

double resultWidth(double preferred, double splitWidth) {
    return splitWidth - sourceWidth(preferred, splitWidth) - dividerWidth;
}

double draggedPreferred(double resultSize, double splitWidth) {
    // Dragged past the split's leading edge, the source would be zero or
    // less wide, which the width rule reads as no preference at all (360):
    // the column would spring back. It stays at its narrowest instead.
    const double proposed = splitWidth - resultSize - dividerWidth;
    return OCRProduct::previewWidth(proposed > 0 ? proposed : 1.0, splitWidth);
}

bool showsRecoveryBanner(bool recoveryDeferred, bool hasSavedQueues, bool queueOpen) {
    return !recoveryDeferred && hasSavedQueues && !queueOpen;
}

}  // namespace PaneLayout

PaneFacts PaneFacts::of(const QueueController& c, bool details) {
    PaneFacts facts;
    facts.busy = c.busy;
    facts.managedQueue = c.managedQueue;
    facts.queueOpen = c.engine != nullptr;
    if (const auto& snapshot = c.snapshot.get()) {
        facts.completedPages = snapshot->completedPages();
        facts.knownPages = snapshot->knownPages();
        facts.failedInputs = snapshot->failedInputs();
        facts.failedPages = snapshot->failedPages();
        if (const auto& reading = c.reading.get(); reading && snapshot->input(reading->inputID)) {
            facts.readingPage = reading->page;
            facts.readingFraction = reading->fraction;
        }
        facts.queueStatus = snapshot->status;
        facts.waitingPassword = std::any_of(snapshot->inputs.begin(), snapshot->inputs.end(), [](const QueueInput& i) {
            return i.status == InputStatus::waitingPassword;
        });
    }
    facts.shownLocked = c.shownLocked();
    facts.mode = c.recognitionMode;
    facts.annotationResult = c.hasAnnotationResult();
    if (details) {
        facts.autoPresentation = c.autoPresentation();
        facts.unsavedEdits = c.hasUnsavedEdits();
    }
    facts.rejection = c.rejection->has_value();
    // During its own run a queue is not offered to go on.
    facts.resumable = !c.busy && c.resumable();
    facts.refusal = c.refusedStatus.get() == std::optional<std::string>(c.status.get());
    facts.saved = !c.lastExports->empty() && c.savedStatus.get() == std::optional<std::string>(c.status.get());
    facts.privateQueue = c.isPrivateQueue();
    return facts;
}

namespace ControlPanelRules {

std::string runLabel(const PaneFacts& f) {
    if (f.queueOpen && f.resumable) return "続きから再開";
    const bool read = f.completedPages > 0 || f.failedPages > 0 || f.failedInputs > 0;
    const bool again = f.queueOpen && (read || f.queueStatus == QueueStatus::cancelled);
    return again ? "OCRを再実行" : "OCRを開始";
}

bool openEnabled(const PaneFacts& f) { return !f.busy; }

bool runEnabled(const PaneFacts& f) { return !f.busy && f.queueOpen; }

bool cancelEnabled(const PaneFacts& f) { return f.busy; }

bool modeEnabled(const PaneFacts& f) { return !f.busy || f.managedQueue; }

const std::vector<OCRMode>& modes() {
    static const std::vector<OCRMode> order{OCRMode::standard, OCRMode::vertical, OCRMode::handwriting,
                                            OCRMode::automatic};
    return order;
}

std::string modeLabel(OCRMode mode) {
    switch (mode) {
    case OCRMode::standard:
        return "標準";
    case OCRMode::vertical:
        return "縦書き";
    case OCRMode::handwriting:
        return "手書き・校正指示";
    case OCRMode::automatic:
        return "自動";
    }
    return "標準";
}

std::string modeExplanation(OCRMode mode) {
    switch (mode) {
    case OCRMode::automatic:
        return "ページごとに判定します。不確実な場合は標準で処理します。";
    case OCRMode::handwriting:
        return "手書きは候補分類です。実手書きの品質は未評価です。";
    case OCRMode::vertical:
        return "縦書き活字：単純な縦列向け。ルビ・混在・特殊な約物は不得意です。";
    case OCRMode::standard:
        break;
    }
    return "横書きの日本語／英語／数字";
}

bool showsHandwriting(const PaneFacts& f) {
    return f.mode == OCRMode::handwriting || f.mode == OCRMode::automatic || f.annotationResult;
}

bool handwritingEnabled(const PaneFacts& f) { return !f.busy; }

std::optional<std::string> verdict(const std::optional<AutoPresentation>& presentation) {
    if (!presentation) return std::nullopt;
    std::string text = presentation->label();
    if (presentation->handwriting == "detected") text += "　手書き候補：あり";
    return text;
}

bool showsPassword(const PaneFacts& f) { return f.queueOpen && (f.waitingPassword || f.shownLocked); }

bool showsOpenOutput(const PaneFacts& f) { return f.saved; }

bool passwordButtonsEnabled(const PaneFacts& f) { return !f.busy; }

std::optional<std::string> pageCount(const PaneFacts& f, const std::string& status) {
    if (!f.queueOpen) return std::nullopt;
    std::vector<std::string> parts;
    if (f.knownPages >= 1) {
        char text[96];
        // Beside the status "完了" the word would only be said twice.
        std::snprintf(text, sizeof text, status == finishedStatus ? "%lld / %lld ページ" : "完了 %lld / %lld ページ",
                      static_cast<long long>(f.completedPages), static_cast<long long>(f.knownPages));
        parts.emplace_back(text);
    }
    if (f.failedInputs > 0) parts.push_back("失敗" + std::to_string(f.failedInputs) + "ファイル");
    if (f.readingPage) {
        parts.push_back(std::to_string(*f.readingPage) + "ページ目を読み取り中 " +
                        std::to_string(readingPercent(f.readingFraction)) + "%");
    }
    if (parts.empty()) return std::nullopt;
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : "・") + part;
    return joined;
}

int readingPercent(double fraction) {
    // The first reading done, the re-reads of its parts still run: the page
    // is finished only when its result is stored, and then it is counted.
    return std::min(static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100)), 99);
}

}  // namespace ControlPanelRules

namespace OptionRowRules {

std::string searchPlaceholder(bool annotationResult) {
    return annotationResult ? "表示中の本文を検索" : "文書全体を検索";
}

std::string hitCount(std::size_t hits) { return std::to_string(hits) + "件"; }

bool firstRowEnabled(const PaneFacts& f) { return !f.busy; }

std::string privateNote(bool privateQueue) { return privateQueue ? "プライベート：再開情報を保存しません" : ""; }

bool copyEnabled(const PaneFacts& f) { return f.queueOpen; }

bool txtEnabled(const PaneFacts& f) { return !f.busy && f.queueOpen; }

bool saveEnabled(const PaneFacts& f) { return f.queueOpen; }

}  // namespace OptionRowRules

}  // namespace velmora
