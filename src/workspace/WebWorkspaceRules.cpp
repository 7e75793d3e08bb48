#include "workspace/WebWorkspaceRules.hpp"

#include <algorithm>

namespace velmora::WebWorkspaceRules {

std::string itemText(bool isPrivate, std::string_view title, bool active) {
    std::string text = menuTitle(isPrivate, title);
    if (active) text += busySuffix;
    return text;
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
