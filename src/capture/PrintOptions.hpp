#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/AppPreferences.hpp"
#include "foundation/Geometry.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Task.hpp"
#include "capture/CaptureMetadata.hpp"

namespace velmora {

// Recorded by the web layer for each step of the platform print run; only
// passed through here, so the records stay free of the toolkit.
struct NativePrintObservation;

// What one print-style save does: the paper, the margin, what is written and
// the hooks through which its caller follows it. Every hook is called from
// the save's task on the main thread; a hook that throws ends the save with
// its error. An aggregate: every field can be given in order.
struct PrintOptions {
    enum class Paper { a4, a3, b5, letter };
    enum class Output { pdf, png, both };
    // The save's progress, announced through `checkpoint`.
    enum class Stage { beforePrint, printing, afterPrint, rasterizing, beforePublish, writing };

    static constexpr std::array<Paper, 4> allPapers{Paper::a4, Paper::a3, Paper::b5, Paper::letter};
    static constexpr std::array<Output, 3> allOutputs{Output::pdf, Output::png, Output::both};
    static constexpr std::array<Stage, 6> allStages{Stage::beforePrint, Stage::printing,      Stage::afterPrint,
                                                    Stage::rasterizing, Stage::beforePublish, Stage::writing};

    Paper paper = Paper::a4;
    bool landscape = false;
    // The same margin on all four sides.
    double marginMM = 12;
    bool backgrounds = true;
    Output output = Output::both;
    // Resolution of the page PNGs.
    double dpi = 150;
    // A title and address line above each page and "date   i / N" below it.
    bool headerFooter = false;
    std::optional<std::string> filenameStem;
    std::optional<std::string> headerTitle;
    std::optional<std::string> headerURL;
    // The save's date, printed in the footer.
    Date date = std::chrono::system_clock::now();
    // What the journal and the history record.
    std::optional<CaptureMetadata> metadata;
    // Told the page count of the printed PDF.
    std::function<void(int64_t)> onLayout;
    // Told each file and its stamp just before it is published.
    SecureDirectory::WillPublish willPublish;
    // Awaited once the outputs are committed.
    std::function<Task<void>()> afterCommit;
    std::function<Task<void>(Stage)> checkpoint;
    // Once per published file.
    std::function<void(const std::filesystem::path&)> onPublished;
    // Exists only to exercise failure paths of the writes.
    std::optional<std::size_t> failAfterBytes;
    // false as the platform print call starts, true when it returns.
    std::function<void(bool)> nativeEvent;
    std::function<void(const NativePrintObservation&)> nativeObservation;

    // The paper in millimetres, portrait.
    static Size millimetres(Paper paper);
    // The paper in points (mm × 72 / 25.4), swapped for landscape.
    Size size() const;
};

std::string_view rawValue(PrintOptions::Paper paper);
std::string_view rawValue(PrintOptions::Output output);
std::string_view rawValue(PrintOptions::Stage stage);
template <>
std::optional<PrintOptions::Paper> fromRaw<PrintOptions::Paper>(std::string_view raw);
template <>
std::optional<PrintOptions::Output> fromRaw<PrintOptions::Output>(std::string_view raw);
template <>
std::optional<PrintOptions::Stage> fromRaw<PrintOptions::Stage>(std::string_view raw);
// "PDF", "PNG", "PDF + PNG".
std::string_view displayName(PrintOptions::Output output);
// The tab's status while the save is at that stage.
std::string_view displayName(PrintOptions::Stage stage);

// The print choices a window keeps between saves.
struct PrintSelection {
    PrintOptions::Paper paper = PrintOptions::Paper::a4;
    bool landscape = false;
    // Millimetres.
    double margin = 12;
    bool backgrounds = true;
    bool headerFooter = false;
    PrintOptions::Output output = PrintOptions::Output::both;

    // The options of one save of the page at url with that title: named like
    // a capture of it, its address in the header only when it is a web
    // address worth keeping, no hooks.
    PrintOptions options(const std::optional<std::string>& url, std::string_view title, Date date) const;

    bool operator==(const PrintSelection&) const = default;
};

// Naming and counting of print outputs.
namespace PrintProduct {

// The address as the journal would keep it (http or https, without user,
// password, query and fragment), or "" when none is kept.
std::string safeURL(const std::optional<std::string>& url);
// "yyyy/MM/dd HH:mm" on the Tokyo wall clock, whatever the process's zone.
std::string footerDate(Date date);
// The stem and the one-based page number as "_%04d" ("_0001", "_10000").
std::string pageStem(std::string_view stem, int64_t index);
// One PDF unless only PNGs, one PNG per page unless only the PDF.
int64_t outputCount(int64_t pages, PrintOptions::Output output);
// What a finished print-style save wrote and where, from its published
// files: "PDF1件とページ画像（PNG）3枚を保存しました。保存先：ホーム/…/Print" (the
// PDF or the PNGs alone when only they were asked for).
std::string savedMessage(const std::vector<std::filesystem::path>& outputs, const std::filesystem::path& folder,
                         std::optional<std::filesystem::path> home = std::nullopt);

}  // namespace PrintProduct

// The print panel's controls: two columns once both fit side by side.
namespace PrintPanelLayout {
inline constexpr double minimumColumn = 370;
inline constexpr double spacing = 20;
int columns(double available);
}  // namespace PrintPanelLayout

// The size of the web pane's control panel along the pane's length: the
// preferred size, kept between the panel's minimum (at most half the
// length) and what leaves the page its reserve.
namespace WebPanelSizing {
inline constexpr double divider = 8;
double size(double preferred, double available, AppPreferences::Panel panel);
}  // namespace WebPanelSizing

}  // namespace velmora
