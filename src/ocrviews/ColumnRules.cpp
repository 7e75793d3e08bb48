#include "ocrviews/ColumnRules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "recognition/page/OCRGeometry.hpp"

namespace velmora {

namespace SourceColumnRules {

std::string pageLabel(int64_t page, int64_t pageCount) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld / %lld", static_cast<long long>(page), static_cast<long long>(pageCount));
    return text;
}

std::string pageIndicator(bool queueOpen, int64_t page, int64_t pageCount) {
    return queueOpen ? pageLabel(page, pageCount) : std::string();
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

std::string emptyText(bool queueOpen, bool shownLocked, bool preparing) {
    if (!queueOpen) return "PNG・JPEG・PDFをここへドロップ\nまたは「ファイルを開く」";
    if (preparing) return "ページを読み込み中…";
    return shownLocked ? "パスワードで保護されたPDFです。\nPDFパスワードを入力してください。" : "ページを表示できません。";
}

Rect pageFrame(Size image, Size viewport, double zoom) {
    if (!(image.width > 0) || !(image.height > 0)) return {};
    const double z = std::isfinite(zoom) ? std::clamp(zoom, minimumZoom, maximumZoom) : fitZoom;
    const double scale = std::max(viewport.width, 1.0) / image.width * z;
    const double w = image.width * scale;
    const double h = image.height * scale;
    return {std::max((viewport.width - w) * 0.5, 0.0), std::max((viewport.height - h) * 0.5, 0.0), w, h};
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

namespace {

bool overlaps(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

}  // namespace

std::optional<Rect> tagPlace(const std::vector<Box>& boxes, std::size_t index, Size tag, Size content) {
    if (index >= boxes.size()) return std::nullopt;
    const Rect& box = boxes[index].rect;
    // Level with the box's first line, inside the content.
    const double y = std::clamp(box.minY(), 0.0, std::max(content.height - tag.height, 0.0));
    const Rect candidates[] = {{box.minX() - tagGap - tag.width, y, tag.width, tag.height},
                               {box.maxX() + tagGap, y, tag.width, tag.height}};
    for (const Rect& place : candidates) {
        if (place.minX() < 0 || place.maxX() > content.width) continue;
        const bool free = std::none_of(boxes.begin(), boxes.end(), [&](const Box& other) {
            return overlaps(place, other.rect);
        });
        if (free) return place;
    }
    return std::nullopt;
}

std::optional<std::string> tagAt(const std::vector<Box>& boxes, double x, double y) {
    for (auto it = boxes.rbegin(); it != boxes.rend(); ++it) {
        const Rect& r = it->rect;
        if (it->tag && x >= r.minX() && x < r.maxX() && y >= r.minY() && y < r.maxY()) return it->tag;
    }
    return std::nullopt;
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
