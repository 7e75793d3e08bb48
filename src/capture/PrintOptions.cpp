#include "capture/PrintOptions.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "foundation/DateFormat.hpp"
#include "foundation/FolderText.hpp"
#include "capture/CaptureNaming.hpp"

namespace velmora {

Size PrintOptions::millimetres(Paper paper) {
    switch (paper) {
    case Paper::a4: return {210, 297};
    case Paper::a3: return {297, 420};
    case Paper::b5: return {182, 257};
    case Paper::letter: return {215.9, 279.4};
    }
    return {210, 297};
}

Size PrintOptions::size() const {
    const Size mm = millimetres(paper);
    // mm × 72 is exact in binary for these sizes; one division rounds once.
    const Size points{mm.width * 72 / 25.4, mm.height * 72 / 25.4};
    return landscape ? Size{points.height, points.width} : points;
}

std::string_view rawValue(PrintOptions::Paper paper) {
    using Paper = PrintOptions::Paper;
    switch (paper) {
    case Paper::a4: return "A4";
    case Paper::a3: return "A3";
    case Paper::b5: return "JIS B5";
    case Paper::letter: return "Letter";
    }
    return "";
}

std::string_view rawValue(PrintOptions::Output output) {
    using Output = PrintOptions::Output;
    switch (output) {
    case Output::pdf: return "pdf";
    case Output::png: return "png";
    case Output::both: return "both";
    }
    return "";
}

std::string_view rawValue(PrintOptions::Stage stage) {
    using Stage = PrintOptions::Stage;
    switch (stage) {
    case Stage::beforePrint: return "beforePrint";
    case Stage::printing: return "printing";
    case Stage::afterPrint: return "afterPrint";
    case Stage::rasterizing: return "rasterizing";
    case Stage::beforePublish: return "beforePublish";
    case Stage::writing: return "writing";
    }
    return "";
}

namespace {

template <typename E, std::size_t N>
std::optional<E> findRaw(const std::array<E, N>& cases, std::string_view raw) {
    for (E c : cases) {
        if (rawValue(c) == raw) return c;
    }
    return std::nullopt;
}

}  // namespace

template <>
std::optional<PrintOptions::Paper> fromRaw<PrintOptions::Paper>(std::string_view raw) {
    return findRaw(PrintOptions::allPapers, raw);
}

template <>
std::optional<PrintOptions::Output> fromRaw<PrintOptions::Output>(std::string_view raw) {
    return findRaw(PrintOptions::allOutputs, raw);
}

template <>
std::optional<PrintOptions::Stage> fromRaw<PrintOptions::Stage>(std::string_view raw) {
    return findRaw(PrintOptions::allStages, raw);
}

std::string_view displayName(PrintOptions::Output output) {
    using Output = PrintOptions::Output;
    switch (output) {
    case Output::pdf: return "PDF";
    case Output::png: return "PNG";
    case Output::both: return "PDF + PNG";
    }
    return "";
}

std::string_view displayName(PrintOptions::Stage stage) {
    using Stage = PrintOptions::Stage;
    switch (stage) {
    case Stage::beforePrint: return "印刷の準備中";
    case Stage::printing: return "印刷PDFを生成中";
    case Stage::afterPrint: return "印刷PDFを確認中";
    case Stage::rasterizing: return "印刷ページのPNGを生成中";
    case Stage::beforePublish: return "印刷の保存前";
    case Stage::writing: return "印刷ファイルを保存中";
    }
    return "";
}

PrintOptions PrintSelection::options(const std::optional<std::string>& url, std::string_view title, Date date) const {
    PrintOptions o;
    o.paper = paper;
    o.landscape = landscape;
    o.marginMM = margin;
    o.backgrounds = backgrounds;
    o.headerFooter = headerFooter;
    o.output = output;
    o.filenameStem = CaptureNaming::stem(url, title, date);
    o.headerTitle = std::string(title);
    o.headerURL = PrintProduct::safeURL(url);
    o.date = date;
    CaptureMetadata metadata = CaptureMetadata::normal(url, title);
    metadata.format = std::string(displayName(output));
    o.metadata = std::move(metadata);
    return o;
}

namespace PrintProduct {

std::string safeURL(const std::optional<std::string>& url) {
    if (!url) return "";
    return CaptureMetadata::normal(url, "").url.value_or("");
}

std::string footerDate(Date date) {
    // The POSIX locale writes the same ASCII digits as the Japanese one for
    // this all-numeric pattern.
    return DateFormat::format(date, "yyyy/MM/dd HH:mm", DateFormat::tokyo);
}

std::string pageStem(std::string_view stem, int64_t index) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%04lld", static_cast<long long>(index + 1));
    return std::string(stem) + suffix;
}

int64_t outputCount(int64_t pages, PrintOptions::Output output) {
    using Output = PrintOptions::Output;
    return (output != Output::png ? 1 : 0) + (output != Output::pdf ? pages : 0);
}

std::string savedMessage(const std::vector<std::filesystem::path>& outputs, const std::filesystem::path& folder,
                         std::optional<std::filesystem::path> home) {
    int64_t pdfs = 0, pngs = 0;
    for (const auto& output : outputs) {
        std::string extension = output.extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".pdf") ++pdfs;
        else if (extension == ".png") ++pngs;
    }
    std::string what;
    if (pdfs > 0) what = "PDF" + std::to_string(pdfs) + "件";
    if (pngs > 0) what += (what.empty() ? "" : "と") + std::string("ページ画像（PNG）") + std::to_string(pngs) + "枚";
    if (what.empty()) what = "出力" + std::to_string(outputs.size()) + "件";
    return what + "を保存しました。保存先：" + velmora::folderText(folder, std::move(home));
}

}  // namespace PrintProduct

namespace PrintPanelLayout {

int columns(double available) { return 2 * minimumColumn + spacing <= available ? 2 : 1; }

}  // namespace PrintPanelLayout

namespace WebPanelSizing {

double size(double preferred, double available, AppPreferences::Panel panel) {
    const bool right = panel == AppPreferences::Panel::right;
    const double minimum = right ? 320 : 180;
    const double reserve = right ? 360 : 240;
    const double fallback = right ? 320 : 300;
    // An unmeasured pane (infinite, or NaN) is taken as just large enough.
    const double total = std::isfinite(available) ? std::max(available - divider, 2.0) : minimum + reserve;
    const double lower = std::min(total / 2, minimum);
    const double upper = std::max(total - reserve, lower);
    const double p = std::isfinite(preferred) && preferred > 0 ? preferred : fallback;
    return std::min(std::max(p, lower), upper);
}

}  // namespace WebPanelSizing

}  // namespace velmora
