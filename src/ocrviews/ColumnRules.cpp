#include "ocrviews/ColumnRules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "recognition/OCRGeometry.hpp"

namespace velmora {

namespace SourceColumnRules {

std::string pageLabel(int64_t page, int64_t pageCount) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld / %lld", static_cast<long long>(page), static_cast<long long>(pageCount));
    return text;
}

bool previousEnabled(int64_t page) { return page >= 2; }

bool nextEnabled(int64_t page, int64_t pageCount) { return page < pageCount; }

double zoomedOut(double zoom) { return std::max(zoom / zoomStep, minimumZoom); }

double zoomedIn(double zoom) { return std::min(zoom * zoomStep, maximumZoom); }

bool showsPicker(const std::optional<QueueSnapshot>& snapshot) { return snapshot && snapshot->inputs.size() >= 2; }

std::vector<InputOption> inputOptions(const QueueSnapshot& snapshot) {
    std::vector<InputOption> options;
    options.reserve(snapshot.inputs.size());
    for (std::size_t i = 0; i < snapshot.inputs.size(); ++i) {
        const QueueInput& input = snapshot.inputs[i];
        options.push_back(
            {input.id, std::to_string(i + 1) + ": " + std::filesystem::path(input.path).filename().string()});
    }
    return options;
}

std::string emptyText(bool queueOpen) {
    return queueOpen ? "ページを表示できません。\n必要な場合はPDFパスワードを入力してください。"
                     : "PNG・JPEG・PDFをここへドロップ\nまたは「ファイルを開く」";
}

std::string kindLabel(RegionKind kind) {
    switch (kind) {
    case RegionKind::handwrittenCandidate:
        return "手書き候補";
    case RegionKind::printedCandidate:
        return "印刷候補";
    case RegionKind::unknown:
        break;
    }
    return "不明";
}

std::vector<Box> boxes(const std::vector<TextRegion>& regions, bool annotationPage, bool showCandidates,
                       const Rect& imageFrame) {
    std::vector<Box> drawn;
    if (annotationPage && !showCandidates) return drawn;
    for (const TextRegion& region : regions) {
        const bool low = region.lowConfidence();
        Box style;
        style.tinted = low;
        style.lineWidth = region.kind == RegionKind::handwrittenCandidate ? 2 : 1;
        style.dashed = annotationPage && region.kind == RegionKind::unknown;
        if (annotationPage) {
            style.tag = kindLabel(region.kind);
            style.label = *style.tag;
        } else {
            style.label = low ? "低信頼候補の元領域" : "認識候補の元領域";
        }
        for (const OCRSourceBox& box : region.displayBoxes()) {
            style.rect = OCRGeometry::preview(box, imageFrame);
            drawn.push_back(style);
        }
    }
    return drawn;
}

std::string boxDescription(const std::vector<Box>& boxes) {
    std::string text;
    for (const Box& box : boxes) {
        if (!text.empty()) text += '\n';
        text += box.label;
    }
    return text;
}

Size contentSize(Size viewport, const Rect& imageFrame) {
    return {std::max(viewport.width, imageFrame.maxX()), std::max(viewport.height, imageFrame.maxY())};
}

}  // namespace SourceColumnRules

namespace ResultColumnRules {

std::vector<TextRange> searchRanges(const std::string& search, const std::optional<OCRProduct::Match>& selection) {
    if (search.empty() || !selection) return {};
    return {selection->range};
}

std::optional<TextRange> selection(const std::optional<OCRProduct::Match>& selection) {
    if (!selection) return std::nullopt;
    return selection->range;
}

}  // namespace ResultColumnRules

}  // namespace velmora
