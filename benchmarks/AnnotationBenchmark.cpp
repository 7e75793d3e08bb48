// The handwriting mode on a synthetic set: A4 pages of printed body text
// (Noto Serif and Sans CJK JP, 10.5 to 12 pt, some skewed as a scan would be)
// with handwritten-style annotations (Klee One, red or blue, 14 to 24 pt,
// each line turned by up to 8°, each character jittered in baseline, size
// and angle, some with a free-hand stroke), at 150 and 300 dpi. Controls: a
// printed heading in red, an annotation in black ink, pages without
// annotations. Prints the confusion matrix of kind against the truth (lines
// matched by box overlap), precision and recall of handwrittenCandidate and
// of the instruction flag over the handwritten lines, character error rates,
// measured against drawn angle, lines split or merged, the printed lines'
// measured spreads, and time per page beside the standard pass.
//
// Usage: AnnotationBenchmark [layouts [folder]]: layouts default to 10, each
// at both resolutions; with a folder, every page is written there as a PNG.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fstream>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "foundation/Raster.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/OCREngine.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

const std::vector<std::string> body{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。",
    "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。",
    "吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という",
    "人間中で一番獰悪な種族であったそうだ。この書生というのは時々我々を捕えて",
    "煮て食うという話である。しかしその当時は何という考もなかったから別段恐し",
    "いとも思わなかった。ただ彼の掌に載せられてスーと持ち上げられた時何だか",
    "フワフワした感じがあったばかりである。掌の上で少し落ちついて書生の顔を見",
    "たのがいわゆる人間というものの見始であろう。この時妙なものだと思った感じ",
    "が今でも残っている。第一毛をもって装飾されべきはずの顔がつるつるしてまる",
    "で薬缶だ。その後猫にもだいぶ逢ったがこんな片輪には一度も出会わした事がな",
    "ある日の暮方の事である。一人の下人が、羅生門の下で雨やみを待っていた。",
    "広い門の下には、この男のほかに誰もいない。ただ、所々丹塗の剥げた、大きな",
    "円柱に、蟋蟀が一匹とまっている。羅生門が、朱雀大路にある以上は、この男の",
    "ほかにも、雨やみをする市女笠や揉烏帽子が、もう二三人はありそうなものである。",
    "メロスは激怒した。必ず、かの邪智暴虐の王を除かなければならぬと決意した。",
    "メロスには政治がわからぬ。メロスは、村の牧人である。笛を吹き、羊と遊んで",
    "暮して来た。けれども邪悪に対しては、人一倍に敏感であった。きょう未明メロ",
    "スは村を出発し、野を越え山越え、十里はなれた此のシラクスの市にやって来た。",
};

struct Phrase {
    std::string text;
    bool instruction;
};
const std::vector<Phrase> phrases{
    {"右へ", true},           {"左へ", true},           {"削除", true},         {"ここを修正して", true},
    {"文字を大きく", true},   {"この行を削除", true},   {"日付を変更", true},   {"見出しを小さく", true},
    {"ここに追加", true},     {"上へ移動", true},       {"確認しました", false}, {"了解", false},
    {"参考まで", false},      {"よろしく", false},      {"良い感じ", false},    {"なるほど", false},
    {"山田", false},          {"検討中", false},
};

enum class Kind { printed, handwritten };

struct Truth {
    Kind kind;
    bool instruction = false;
    std::string text;
    double left, top, right, bottom;  // pixels, top-left origin
    double angle = 0;                 // degrees, rising to the right
};

struct Page {
    RasterImage image;
    std::vector<Truth> lines;
    std::string label;
};

struct Rgb {
    double r, g, b;
};

void extend(Truth& t, double x, double y) {
    t.left = std::min(t.left, x), t.right = std::max(t.right, x);
    t.top = std::min(t.top, y), t.bottom = std::max(t.bottom, y);
}

Page makePage(int layout, int dpi) {
    std::mt19937 random(1000 + layout);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    const int width = static_cast<int>(std::lround(210 / 25.4 * dpi));
    const int height = static_cast<int>(std::lround(297 / 25.4 * dpi));
    const double px = dpi / 72.0;  // pixels per point
    const double margin = 20 / 25.4 * dpi;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    PangoLayout* layout_ = pango_cairo_create_layout(cr);
    auto setFont = [&](const char* family, double pixels) {
        PangoFontDescription* font = pango_font_description_from_string(family);
        pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
        pango_layout_set_font_description(layout_, font);
        pango_font_description_free(font);
    };

    Page page;
    const bool serif = layout % 2 == 0;
    const double points = layout % 3 == 0 ? 10.5 : layout % 3 == 1 ? 11 : 12;
    const double size = points * px;
    const double pitch = size * 3.4;  // room for notes between the lines
    const double skew = layout % 4 == 1 ? 0.5 : layout % 4 == 3 ? -0.5 : 0;
    const bool annotated = layout % 5 != 4;  // every fifth page has none
    char label[128];
    std::snprintf(label, sizeof label, "layout %d, %s %.1f pt, %d dpi%s%s", layout, serif ? "serif" : "sans", points,
                  dpi, skew != 0 ? ", skewed" : "", annotated ? "" : ", no annotations");
    page.label = label;

    // The printed body (and, on the first layouts, a red printed heading),
    // turned by the page's skew about the page's centre.
    const double c = std::cos(skew * M_PI / 180), s = std::sin(skew * M_PI / 180);
    auto onPage = [&](double x, double y) {
        const double dx = x - width / 2.0, dy = y - height / 2.0;
        return std::pair{width / 2.0 + dx * c + dy * s, height / 2.0 - dx * s + dy * c};
    };
    auto printLine = [&](const std::string& text, double x, double y, Rgb ink, const char* family, double pixels) {
        setFont(family, pixels);
        pango_layout_set_text(layout_, text.c_str(), -1);
        PangoRectangle inkBox{}, logical{};
        pango_layout_get_pixel_extents(layout_, &inkBox, &logical);
        cairo_save(cr);
        cairo_translate(cr, width / 2.0, height / 2.0);
        cairo_rotate(cr, -skew * M_PI / 180);
        cairo_translate(cr, -width / 2.0, -height / 2.0);
        cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
        cairo_move_to(cr, x, y);
        pango_cairo_update_layout(cr, layout_);
        pango_cairo_show_layout(cr, layout_);
        cairo_restore(cr);
        Truth t{Kind::printed, false, text, 1e9, 1e9, -1e9, -1e9, skew};
        for (auto [cx, cy] : {std::pair{x + inkBox.x, y + inkBox.y}, {x + inkBox.x + inkBox.width, y + inkBox.y},
                              {x + inkBox.x, y + inkBox.y + inkBox.height},
                              {x + inkBox.x + inkBox.width, y + inkBox.y + inkBox.height}}) {
            auto [qx, qy] = onPage(cx, cy);
            extend(t, qx, qy);
        }
        page.lines.push_back(t);
    };
    const char* family = serif ? "Noto Serif CJK JP" : "Noto Sans CJK JP";
    double y = margin;
    if (layout % 3 == 0) {
        printLine("第" + std::to_string(layout + 1) + "章　見本の見出し", margin, y, {0.8, 0.05, 0.05}, "Noto Sans CJK JP",
                  size * 1.6);
        y += pitch * 1.4;
    }
    const int lines = 15 + (layout * 7) % 16;  // 15 to 30
    for (int i = 0; i < lines && y + size < height - margin; ++i, y += pitch) {
        const std::string& text = body[static_cast<std::size_t>(layout * 3 + i) % body.size()];
        printLine(std::string(Unicode::prefixGraphemes(text, 28)), margin, y, {0, 0, 0}, family, size);
    }

    // Annotations: in the right margin and between the printed lines.
    if (annotated) {
        const int count = 3 + layout % 6;  // 3 to 8
        for (int a = 0; a < count; ++a) {
            const Phrase& phrase = phrases[static_cast<std::size_t>(layout * 5 + a * 7) % phrases.size()];
            const bool inMargin = a % 2 == 0;
            // Between the lines there is room for small writing only.
            const double pts = inMargin ? uniform(14, 24) : 14;
            const double glyph = pts * px;
            const bool small = a % 3 == 0;
            const double angle = small ? uniform(-2, 2) : uniform(-8, 8);
            const bool black = layout == 2 && a == 0;  // colour is not what decides
            const Rgb ink = black ? Rgb{0.05, 0.05, 0.05} : (a % 2 ? Rgb{0.1, 0.2, 0.8} : Rgb{0.85, 0.1, 0.1});
            const double x0 = inMargin ? width - margin - glyph * 7 : margin + uniform(0.1, 0.45) * (width - 2 * margin);
            // Between two printed lines, or in the margin at some height.
            const int slot = 1 + static_cast<int>(uniform(0, std::max(1, lines - 2)));
            const double y0 = margin + slot * pitch + size * 1.55 + (layout % 3 == 0 ? pitch * 1.4 : 0);
            if (y0 + glyph > height - margin) continue;

            Truth t{Kind::handwritten, phrase.instruction, phrase.text, 1e9, 1e9, -1e9, -1e9, angle};
            const double ca = std::cos(angle * M_PI / 180), sa = std::sin(angle * M_PI / 180);
            double advance = 0;
            for (const std::string_view character : [&] {
                     std::vector<std::string_view> out;
                     const auto b = Unicode::graphemeBoundaries(phrase.text);
                     for (std::size_t i = 0; i + 1 < b.size(); ++i) out.push_back(std::string_view(phrase.text).substr(b[i], b[i + 1] - b[i]));
                     return out;
                 }()) {
                const double scale = uniform(0.9, 1.1);
                const double lift = uniform(-0.08, 0.08) * glyph;
                const double turn = uniform(-4, 4);
                setFont("Klee One", glyph * scale);
                const std::string ch(character);
                pango_layout_set_text(layout_, ch.c_str(), -1);
                PangoRectangle inkBox{}, logical{};
                pango_layout_get_pixel_extents(layout_, &inkBox, &logical);
                // Along the turned line, lifted across it.
                const double gx = x0 + advance * ca + lift * sa;
                const double gy = y0 - advance * sa + lift * ca;
                cairo_save(cr);
                cairo_translate(cr, gx, gy);
                cairo_rotate(cr, -(angle + turn) * M_PI / 180);
                cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
                cairo_move_to(cr, 0, 0);
                pango_cairo_update_layout(cr, layout_);
                pango_cairo_show_layout(cr, layout_);
                cairo_restore(cr);
                extend(t, gx, gy);
                extend(t, gx + logical.width * ca, gy - logical.width * sa);
                extend(t, gx + logical.height * std::sin((angle + turn) * M_PI / 180),
                       gy + logical.height * std::cos((angle + turn) * M_PI / 180));
                extend(t, gx + logical.width * ca + logical.height * sa, gy - logical.width * sa + logical.height * ca);
                advance += logical.width * uniform(0.95, 1.05);
            }
            page.lines.push_back(t);

            // A free-hand stroke in the same ink on some of them.
            if (a % 3 == 1) {
                cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
                cairo_set_line_width(cr, dpi >= 300 ? 3 : 2);
                const int form = (layout + a) % 3;
                if (form == 0) {  // a jittered curve under the words
                    cairo_move_to(cr, t.left, t.bottom + 4);
                    for (int k = 1; k <= 8; ++k) {
                        cairo_line_to(cr, t.left + (t.right - t.left) * k / 8, t.bottom + 4 + uniform(-2, 2));
                    }
                } else if (form == 1) {  // a loop around them
                    cairo_save(cr);
                    cairo_translate(cr, (t.left + t.right) / 2, (t.top + t.bottom) / 2);
                    cairo_scale(cr, (t.right - t.left) / 2 + 8, (t.bottom - t.top) / 2 + 8);
                    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
                    cairo_restore(cr);
                } else {  // an arrow towards the text
                    cairo_move_to(cr, t.left - 4, (t.top + t.bottom) / 2);
                    cairo_line_to(cr, t.left - glyph * 3, (t.top + t.bottom) / 2 + uniform(-glyph, glyph));
                }
                cairo_stroke(cr);
            }
        }
    }

    g_object_unref(layout_);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> rgb(std::size_t(width) * height * 3);
    for (int yy = 0; yy < height; ++yy) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + std::ptrdiff_t(yy) * stride);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgb.data() + (std::size_t(yy) * width + x) * 3;
            p[0] = uint8_t(row[x] >> 16), p[1] = uint8_t(row[x] >> 8), p[2] = uint8_t(row[x]);
        }
    }
    cairo_surface_destroy(surface);
    page.image = RasterImage::fromPixels(width, height, 3, rgb);
    return page;
}

std::string withoutSpace(const std::string& s) {
    std::string out;
    for (char32_t c : Unicode::scalars(s)) {
        if (c == U' ' || c == U'\n' || c == U'\u3000') continue;
        Unicode::appendScalar(out, c);
    }
    return out;
}

std::size_t edits(const std::string& expected, const std::string& actual) {
    return test::editDistance(expected, actual);
}

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int layouts = argc > 1 ? std::atoi(argv[1]) : 10;
    OCRSettings standard;
    OCRSettings handwriting;
    handwriting.mode = OCRMode::handwriting;
    auto never = [] { return false; };

    // Confusion: truth (printed, handwritten) × measured (printed,
    // handwritten, unknown), plus truth lines no region covers.
    std::map<std::pair<int, int>, int> confusion;
    int missed[2] = {0, 0}, spurious[3] = {0, 0, 0}, splits = 0, merges = 0;
    int flaggedTrue = 0, flaggedFalse = 0, instructionsMissed = 0;
    std::size_t printedEdits = 0, printedChars = 0, noteEdits = 0, noteChars = 0;
    std::vector<double> angleErrors;
    std::vector<double> sixErrors;
    std::vector<double> printedBaseline, printedHeight;
    double standardSeconds = 0, handwritingSeconds = 0;
    int pages = 0, bodyLines = 0, bodyHandwritten = 0;

    bool warm = false;
    for (int layout = 0; layout < layouts; ++layout) {
        for (int dpi : {150, 300}) {
            const Page page = makePage(layout, dpi);
            if (argc > 2) {
                const std::vector<uint8_t> png = Raster::png(page.image);
                std::ofstream(std::string(argv[2]) + "/page-" + std::to_string(layout) + "-" + std::to_string(dpi) + ".png",
                              std::ios::binary)
                    .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
            }
            if (!warm) {
                OCREngine::recognize(page.image, 1, 1, standard, never);
                warm = true;
            }
            auto t = Clock::now();
            OCREngine::recognize(page.image, 1, 1, standard, never);
            standardSeconds += since(t);
            t = Clock::now();
            const PageResult r = OCREngine::recognize(page.image, 1, 1, handwriting, never);
            handwritingSeconds += since(t);
            ++pages;

            const double W = page.image.width(), H = page.image.height();
            std::vector<int> regionsPerTruth(page.lines.size(), 0);
            for (const TextRegion& region : r.regions) {
                const double left = region.x * W, right = (region.x + region.width) * W;
                const double top = (1 - region.y - region.height) * H, bottom = (1 - region.y) * H;
                const double area = std::max((right - left) * (bottom - top), 1.0);
                int best = -1, covered = 0;
                double bestShare = 0;
                for (std::size_t i = 0; i < page.lines.size(); ++i) {
                    const Truth& tl = page.lines[i];
                    const double w = std::min(right, tl.right) - std::max(left, tl.left);
                    const double h = std::min(bottom, tl.bottom) - std::max(top, tl.top);
                    if (w <= 0 || h <= 0) continue;
                    const double share = w * h / std::min(area, (tl.right - tl.left) * (tl.bottom - tl.top));
                    if (share > 0.3) ++covered;
                    if (share > bestShare) bestShare = share, best = static_cast<int>(i);
                }
                const int measured = region.kind == RegionKind::printedCandidate       ? 0
                                     : region.kind == RegionKind::handwrittenCandidate ? 1
                                                                                       : 2;
                if (covered > 1) ++merges;
                if (best < 0 || bestShare <= 0.3) {
                    ++spurious[measured];
                    continue;
                }
                const Truth& truth = page.lines[static_cast<std::size_t>(best)];
                regionsPerTruth[static_cast<std::size_t>(best)] += 1;
                const int k = truth.kind == Kind::printed ? 0 : 1;
                confusion[{k, measured}] += 1;
                const std::string expected = withoutSpace(truth.text);
                const std::size_t e = edits(expected, withoutSpace(region.text));
                if (k == 0) {
                    printedEdits += e, printedChars += Unicode::scalars(expected).size();
                    if (truth.text.size() > 30) {
                        ++bodyLines;
                        bodyHandwritten += measured == 1;
                        printedBaseline.push_back(region.annotationEvidence->baselineVariation);
                        printedHeight.push_back(region.annotationEvidence->heightVariation);
                    }
                } else {
                    noteEdits += e, noteChars += Unicode::scalars(expected).size();
                    const double error = std::fabs(region.annotationEvidence->angleDegrees - truth.angle);
                    std::printf("  %-16s drawn %5.1f°, measured %5.1f° ± %.1f, %-11s read \"%s\"\n", truth.text.c_str(),
                                truth.angle, region.annotationEvidence->angleDegrees,
                                region.annotationEvidence->angleUncertainty.value_or(0),
                                std::string(rawValue(region.kind)).c_str(), region.text.c_str());
                    angleErrors.push_back(error);
                    if (std::fabs(std::fabs(truth.angle) - 6) < 1) sixErrors.push_back(error);
                    const bool flagged = region.proofreadingInstruction.value_or(false);
                    if (measured == 1) {
                        if (flagged && truth.instruction) ++flaggedTrue;
                        if (flagged && !truth.instruction) ++flaggedFalse;
                        if (!flagged && truth.instruction) ++instructionsMissed;
                    } else if (truth.instruction) {
                        ++instructionsMissed;
                    }
                }
            }
            for (std::size_t i = 0; i < page.lines.size(); ++i) {
                if (regionsPerTruth[i] == 0) ++missed[page.lines[i].kind == Kind::printed ? 0 : 1];
                if (regionsPerTruth[i] > 1) ++splits;
            }
            std::printf("%-52s %zu lines, %zu regions\n", page.label.c_str(), page.lines.size(), r.regions.size());
        }
    }

    std::printf("\nConfusion (rows: truth; columns: measured printed / handwritten / unknown / no region)\n");
    const char* names[2] = {"printed", "handwritten"};
    for (int k = 0; k < 2; ++k) {
        std::printf("  %-12s %5d %5d %5d %5d\n", names[k], confusion[{k, 0}], confusion[{k, 1}], confusion[{k, 2}],
                    missed[k]);
    }
    std::printf("  regions on no drawn line: printed %d, handwritten %d, unknown %d\n", spurious[0], spurious[1],
                spurious[2]);
    std::printf("  drawn lines read as more than one region: %d; regions covering more than one drawn line: %d\n",
                splits, merges);
    const int tp = confusion[{1, 1}];
    const int predicted = confusion[{0, 1}] + confusion[{1, 1}] + spurious[1];
    const int truthHand = confusion[{1, 0}] + confusion[{1, 1}] + confusion[{1, 2}] + missed[1];
    std::printf("handwrittenCandidate: precision %.1f %%, recall %.1f %%\n", predicted ? 100.0 * tp / predicted : 0.0,
                truthHand ? 100.0 * tp / truthHand : 0.0);
    std::printf("instruction flag over matched handwritten lines: precision %.1f %%, recall %.1f %%\n",
                flaggedTrue + flaggedFalse ? 100.0 * flaggedTrue / (flaggedTrue + flaggedFalse) : 0.0,
                flaggedTrue + instructionsMissed ? 100.0 * flaggedTrue / (flaggedTrue + instructionsMissed) : 0.0);
    std::printf("printed body lines classified handwritten: %d of %d (%.1f %%)\n", bodyHandwritten, bodyLines,
                bodyLines ? 100.0 * bodyHandwritten / bodyLines : 0.0);
    std::printf("character error rate: printed %.2f %%, annotations %.2f %%\n",
                printedChars ? 100.0 * double(printedEdits) / double(printedChars) : 0.0,
                noteChars ? 100.0 * double(noteEdits) / double(noteChars) : 0.0);
    auto summary = [](std::vector<double> v) {
        if (v.empty()) return std::string("none");
        std::sort(v.begin(), v.end());
        double mean = 0;
        for (double x : v) mean += x;
        mean /= double(v.size());
        const auto within = std::count_if(v.begin(), v.end(), [](double x) { return x <= 1; });
        char out[160];
        std::snprintf(out, sizeof out, "n %zu, mean %.2f°, median %.2f°, max %.2f°, within 1°: %ld", v.size(), mean,
                      v[v.size() / 2], v.back(), long(within));
        return std::string(out);
    };
    std::printf("measured against drawn angle (handwritten lines): %s\n", summary(angleErrors).c_str());
    std::printf("  lines drawn at 5 to 7 degrees either way: %s\n", summary(sixErrors).c_str());
    auto spreadOf = [](std::vector<double> v) {
        if (v.empty()) return std::string("none");
        std::sort(v.begin(), v.end());
        char out[128];
        std::snprintf(out, sizeof out, "median %.3f, 95th %.3f, max %.3f", v[v.size() / 2], v[v.size() * 95 / 100],
                      v.back());
        return std::string(out);
    };
    std::printf("printed body lines: baselineVariation %s; heightVariation %s\n", spreadOf(printedBaseline).c_str(),
                spreadOf(printedHeight).c_str());
    std::printf("time per page: standard %.2f s, handwriting %.2f s (%.2f x), %d pages\n", standardSeconds / pages,
                handwritingSeconds / pages, handwritingSeconds / std::max(standardSeconds, 1e-9), pages);
    return 0;
}
