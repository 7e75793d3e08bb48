// Reads pages of four kinds in the automatic mode and by the mode a person
// would choose for them: horizontal prose (standard), vertical prose
// (vertical), mixed pages (a heading and paragraphs on the left beside a
// block of vertical columns; no single mode reads them) and annotated pages
// (printed lines with a red, rotated handwritten-style line; handwriting).
// Prints per kind the outcomes of the decision, the character error rate
// (edits over characters, white space removed, summed over pages) of the
// automatic mode beside the hand-chosen mode, the time per page beside the
// standard pass, the handwriting pass and the vertical mode, and on vertical
// pages how many horizontal regions remain in the merged result, with and
// without leaving out the lines Tesseract laid out vertically.
//
// Usage: AutoBenchmark [pages per kind] (default 4).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/automatic/AutoRecognition.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/vertical/VerticalProduct.hpp"
#include "support/MixedPages.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

namespace {

// Public-domain openings (Natsume Sōseki, Akutagawa Ryūnosuke, Dazai Osamu,
// Kamo no Chōmei) and a text written for this program.
const std::vector<std::string> texts{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という人間中で一番獰悪な種族であったそうだ。",
    "ある日の暮方の事である。一人の下人が、羅生門の下で雨やみを待っていた。広い門の下には、この男のほかに誰もいない。ただ、所々丹塗の剥げた、大きな円柱に、蟋蟀が一匹とまっている。",
    "メロスは激怒した。必ず、かの邪智暴虐の王を除かなければならぬと決意した。メロスには政治がわからぬ。メロスは、村の牧人である。笛を吹き、羊と遊んで暮して来た。けれども邪悪に対しては、人一倍に敏感であった。",
    "ゆく河の流れは絶えずして、しかももとの水にあらず。よどみに浮ぶうたかたは、かつ消えかつ結びて、久しくとどまりたるためしなし。世の中にある人とすみかと、またかくのごとし。",
    "駅前の小さな喫茶店は、朝7時に店を開ける。店主の佐藤さんは毎朝6時に起きて、豆を挽き、パンを焼き、店の前を掃く。常連の客は新聞を読みながらトーストを食べ、学生はノートを広げて試験の勉強をする。",
    "親譲りの無鉄砲で小供の時から損ばかりしている。小学校に居る時分学校の二階から飛び降りて一週間ほど腰を抜かした事がある。なぜそんな無闇をしたと聞く人があるかも知れぬ。別段深い理由でもない。",
};
const std::vector<std::string> headings{"第一章　猫", "羅生門", "走れメロス", "方丈記", "喫茶店", "坊っちゃん"};

std::string squeezed(std::string_view text) {
    std::string out;
    for (char32_t c : Unicode::scalars(text)) {
        if (c != ' ' && c != '\n' && c != 0x3000 && c != '\t') Unicode::appendScalar(out, c);
    }
    return out;
}

// Characters [from, from + n) of a text, whole graphemes.
std::string slice(const std::string& text, std::size_t from, std::size_t n) {
    const std::string_view rest = std::string_view(text).substr(Unicode::prefixGraphemes(text, from).size());
    return std::string(Unicode::prefixGraphemes(rest, n));
}

double seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Page {
    RasterImage image;
    std::string truth;
    OCRMode chosen;
};

// Printed black lines and a red line turned by 6 degrees below them.
Page annotated(const std::string& text, const std::string& note) {
    const int width = 1000, height = 600;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP");
    pango_font_description_set_absolute_size(font, 30 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_width(layout, (width - 120) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_CHAR);
    pango_layout_set_spacing(layout, 30 * PANGO_SCALE);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, 60, 50);
    pango_layout_set_text(layout, text.c_str(), -1);
    pango_cairo_show_layout(cr, layout);
    pango_layout_set_width(layout, -1);
    cairo_save(cr);
    cairo_translate(cr, 120, 520);
    cairo_rotate(cr, -6 * M_PI / 180);
    cairo_set_source_rgb(cr, 0.85, 0, 0);
    cairo_move_to(cr, 0, 0);
    pango_layout_set_text(layout, note.c_str(), -1);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_surface_flush(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> rgb(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + std::ptrdiff_t(stride) * y);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            p[0] = uint8_t(row[x] >> 16), p[1] = uint8_t(row[x] >> 8), p[2] = uint8_t(row[x]);
        }
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return {RasterImage::fromPixels(width, height, 3, rgb), text + note, OCRMode::handwriting};
}

struct Tally {
    std::map<std::string, int> outcomes;
    double autoEdits = 0, handEdits = 0, characters = 0;
    double autoTime = 0, handTime = 0, standardTime = 0, handwritingTime = 0, verticalTime = 0;
    int pages = 0;
    int kept = 0, keptWithout = 0;
    int verticalRefused = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int perKind = argc > 1 ? std::max(1, std::min(int(texts.size()), std::atoi(argv[1]))) : 4;
    std::map<std::string, std::vector<Page>> kinds;
    for (int i = 0; i < perKind; ++i) {
        const test::TextPage h = test::renderParagraphs({.width = 1240, .height = 900, .pixelSize = 32}, {texts[i]});
        std::string truth;
        for (const auto& line : h.lines) truth += line.text;
        kinds["horizontal"].push_back({h.image, truth, OCRMode::standard});

        const test::VerticalPage v =
            test::renderVerticalParagraphs({.width = 1240, .height = 1000, .pixelSize = 40}, {texts[i]});
        truth.clear();
        for (const auto& c : v.columns) truth += c.text;
        kinds["vertical"].push_back({v.image, truth, OCRMode::vertical});

        // The heading's top and the block's are one row: heading, columns
        // right to left, then the paragraph below the heading.
        const std::string& columnsText = texts[(i + 1) % texts.size()];
        const test::MixedPage m =
            test::renderMixed({.width = 700, .height = 1000, .pixelSize = 28}, {headings[i], texts[i]},
                              {.width = 400, .height = 1000, .pixelSize = 36, .right = 60, .columnAdvance = 1.8},
                              {slice(columnsText, 0, 18), slice(columnsText, 18, 18), slice(columnsText, 36, 18)});
        truth = headings[i];
        for (const auto& c : m.vertical.columns) truth += c.text;
        for (std::size_t l = 1; l < m.horizontal.lines.size(); ++l) truth += m.horizontal.lines[l].text;
        kinds["mixed"].push_back({m.image, truth, OCRMode::standard});

        kinds["annotated"].push_back(annotated(slice(texts[i], 0, 40), "ここを確認してください"));
    }

    const auto never = [] { return false; };
    // Every engine loaded before any time is taken.
    for (const OCRMode mode : {OCRMode::standard, OCRMode::vertical, OCRMode::handwriting, OCRMode::automatic}) {
        OCRSettings s;
        s.mode = mode;
        OCREngine::recognize(kinds["vertical"].front().image, 1, 1, s, never);
    }
    std::printf("%-11s %5s  %-40s %9s %9s  %8s %8s %8s %8s %8s  %s\n", "kind", "pages", "outcomes", "CER auto",
                "CER hand", "t auto", "t std", "t hand", "t hw", "t vert", "horizontal kept (without filter)");
    // Time per page by outcome: the automatic mode's and the standard
    // pass's on the same pages.
    std::map<std::string, std::pair<double, double>> byOutcome;
    std::map<std::string, int> outcomePages;
    std::vector<std::string> ratios;
    for (const std::string kind : {"horizontal", "vertical", "mixed", "annotated"}) {
        Tally t;
        for (const Page& page : kinds[kind]) {
            OCRSettings s;
            s.mode = OCRMode::automatic;
            PageResult a;
            const double autoSeconds = seconds([&] { a = OCREngine::recognize(page.image, 1, 1, s, never); });
            t.autoTime += autoSeconds;
            const std::string outcome(rawValue(a.autoPresentation->resolved));
            ++t.outcomes[outcome];
            byOutcome[outcome].first += autoSeconds;
            OCRSettings hand;
            hand.mode = page.chosen;
            PageResult h;
            t.handTime += seconds([&] { h = OCREngine::recognize(page.image, 1, 1, hand, never); });
            OCRSettings standard;
            const double standardSeconds = seconds([&] { OCREngine::recognize(page.image, 1, 1, standard, never); });
            t.standardTime += standardSeconds;
            byOutcome[outcome].second += standardSeconds;
            ++outcomePages[outcome];
            OCRSettings handwriting;
            handwriting.mode = OCRMode::handwriting;
            PageResult hw;
            t.handwritingTime += seconds([&] { hw = OCREngine::recognize(page.image, 1, 1, handwriting, never); });
            OCRSettings vertical;
            vertical.mode = OCRMode::vertical;
            PageResult v;
            // The vertical mode refuses pages it cannot read as columns.
            t.verticalTime += seconds([&] {
                try {
                    v = OCREngine::recognize(page.image, 1, 1, vertical, never);
                } catch (const BrindlexError&) {
                    ++t.verticalRefused;
                }
            });

            const std::string truth = squeezed(page.truth);
            const double n = double(Unicode::scalars(truth).size());
            t.characters += n;
            t.autoEdits += test::characterErrorRate(truth, squeezed(a.text())) * n;
            t.handEdits += test::characterErrorRate(truth, squeezed(h.text())) * n;
            ++t.pages;

            if (kind == "vertical") {
                const PageResult filtered = AnnotationOCR::recognize(page.image, 1, 1, handwriting, never, true,
                                                                     AnnotationOCR::productStrategy,
                                                                     AnnotationOCR::productStage2Strategy, true);
                const auto count = [&](const std::vector<TextRegion>& horizontal) {
                    int kept = 0;
                    for (const TextRegion& r : AutoOCR::merge(horizontal, {v.regions})) {
                        for (const TextRegion& x : horizontal) kept += r == x;
                    }
                    return kept;
                };
                t.kept += count(filtered.regions);
                t.keptWithout += count(hw.regions);
            }
        }
        std::string outcomes;
        for (const auto& [name, count] : t.outcomes) outcomes += name + "=" + std::to_string(count) + " ";
        const double p = t.pages;
        std::printf("%-11s %5d  %-40s %9.4f %9.4f  %8.2f %8.2f %8.2f %8.2f %8.2f", kind.c_str(), t.pages,
                    outcomes.c_str(), t.autoEdits / t.characters, t.handEdits / t.characters, t.autoTime / p,
                    t.standardTime / p, t.handTime / p, t.handwritingTime / p, t.verticalTime / p);
        if (kind == "vertical") std::printf("  %d (%d)", t.kept, t.keptWithout);
        char ratio[160];
        std::snprintf(ratio, sizeof ratio, "%-11s CER auto/hand %.2f; time auto/hw %.2f, auto/(hw + vert) %.2f",
                      kind.c_str(), t.handEdits > 0 ? t.autoEdits / t.handEdits : 1.0, t.autoTime / t.handwritingTime,
                      t.autoTime / (t.handwritingTime + t.verticalTime));
        ratios.push_back(ratio);
        if (t.verticalRefused > 0) std::printf("  [vertical mode refused %d]", t.verticalRefused);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("\n");
    for (const std::string& line : ratios) std::printf("%s\n", line.c_str());
    std::printf("\n%-27s %5s %8s %8s\n", "outcome", "pages", "t auto", "t std");
    for (const auto& [outcome, times] : byOutcome) {
        const double n = outcomePages[outcome];
        std::printf("%-27s %5d %8.2f %8.2f\n", outcome.c_str(), outcomePages[outcome], times.first / n, times.second / n);
    }
    std::printf("\nt hand: the hand-chosen mode (standard, vertical, standard for mixed pages, handwriting); "
                "t hw: the handwriting pass; seconds per page, warm engines.\n");
    return 0;
}
