#include "workspace/model/WebWorkspaceRules.hpp"

#include <algorithm>

#include "capture/CaptureOutcome.hpp"

namespace velmora::WebWorkspaceRules {

std::string itemText(bool isPrivate, std::string_view title, bool active) {
    std::string text = menuTitle(isPrivate, title);
    if (active) text += busySuffix;
    return text;
}

TitleCut titleCut(std::string_view title) {
    constexpr std::string_view wideColon = "：";
    // The last word: after the last space or the prefix's wide colon.
    std::size_t start = title.find_last_of(" \t");
    start = start == std::string_view::npos ? 0 : start + 1;
    if (const std::size_t colon = title.rfind(wideColon); colon != std::string_view::npos && colon >= start) {
        start = colon + wideColon.size();
    }
    const std::string_view word = title.substr(start);
    const std::size_t colon = word.rfind(':');
    const std::string_view port = colon == std::string_view::npos ? std::string_view() : word.substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || colon == 0) return {std::string(title), {}};
    const std::size_t cut = start + colon;
    return {std::string(title.substr(0, cut)), std::string(title.substr(cut))};
}

std::string menuTitle(bool isPrivate, std::string_view title) {
    std::string text;
    if (isPrivate) text += privatePrefix;
    text += title;
    return text;
}

std::string menuLabel(std::string_view text) {
    std::string label;
    label.reserve(text.size());
    for (char c : text) {
        label += c;
        if (c == '_') label += '_';
    }
    return label;
}

bool queueStripShown(bool busy, std::optional<QueueStatus> snapshotStatus) {
    return busy || snapshotStatus == QueueStatus::paused;
}

std::string queueStripText(std::string_view status) { return std::string(queuePrefix) + std::string(status); }

std::string webStripText(std::string_view stage) { return std::string(webPrefix) + std::string(stage); }

std::string_view webStripCancel(std::string_view stage) {
    return stage == CaptureOutcome::ocrRunning ? "OCRを中止" : "保存を中止";
}

int windowNumber(const std::vector<int>& taken) {
    int number = 1;
    while (std::find(taken.begin(), taken.end(), number) != taken.end()) ++number;
    return number;
}

std::string windowTitle(std::string_view name, int number) {
    if (number <= 1) return std::string(name);
    return std::string(name) + "（" + std::to_string(number) + "）";
}

std::string otherWindowOCR(std::string_view title) {
    if (title.empty()) return "新しいウインドウのOCR画面";
    return "ウインドウ「" + std::string(title) + "」のOCR画面";
}

double offsetShowing(double offset, double viewLength, double rowLength, double start, double end) {
    double shown = offset;
    if (end > shown + viewLength) shown = end - viewLength;
    if (start < shown) shown = start;
    return std::clamp(shown, 0.0, std::max(rowLength - viewLength, 0.0));
}

}  // namespace velmora::WebWorkspaceRules
