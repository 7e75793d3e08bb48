#include <cstdio>
#include <fstream>
#include "support/VerticalPages.hpp"
#include "recognition/VerticalResearch.hpp"
#include "recognition/OCREngine.hpp"
#include "foundation/Raster.hpp"
using namespace velmora;
using namespace VerticalResearch;
int main() {
    test::VerticalLayout l;
    l.width = 2480; l.height = 3508; l.pixelSize = 50; l.right = 236; l.top = 236; l.columnAdvance = 1.7; l.family = "Noto Serif CJK JP";
    auto page = test::renderVerticalParagraphs(l, {"吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という人間中で一番獰悪な種族であったそうだ。この書生というのは時々我々を捕えて煮て食うという話である。"});
    auto png = Raster::png(page.image);
    std::ofstream("/tmp/x/v.png", std::ios::binary).write((const char*)png.data(), png.size());
    GreyPage g = GreyPage::from(page.image);
    auto cols = runs(inkColumns(g), columnGap);
    std::reverse(cols.begin(), cols.end());
    int i = 0;
    for (auto c : cols) {
        auto gl = glyphRuns(g, c);
        printf("col %d-%d glyphs %zu recut %d\n", c.start, c.end, gl.size(), needsRecut(c, gl));
        if (needsRecut(c, gl)) gl = splitGlyphs(g, c, gl);
        printf(" after %zu\n", gl.size());
        int w = c.length(); int tallest = 0; for (auto r : gl) tallest = std::max(tallest, r.length());
        int cell = std::max({tallest, w, 24}); int slot = cell + 12; int SW = slot * gl.size() + 32, SH = slot + 32;
        std::vector<uint8_t> rgb(SW * SH * 3, 255);
        for (size_t k = 0; k < gl.size(); ++k) {
            int h = gl[k].length(); int x = k * slot + 16 + (slot - w) / 2; int y = (slot - h) / 2 + 16; int top = SH - y - h;
            for (int row = 0; row < h; ++row) for (int cc = 0; cc < w; ++cc) { auto v = g.pixels[(gl[k].start + row) * g.width + c.start + cc]; auto* d = &rgb[((top + row) * SW + x + cc) * 3]; d[0] = d[1] = d[2] = v; }
        }
        auto img = RasterImage::fromPixels(SW, SH, 3, rgb);
        auto p = Raster::png(img);
        std::ofstream("/tmp/x/strip" + std::to_string(i++) + ".png", std::ios::binary).write((const char*)p.data(), p.size());
        OCRSettings s;
        auto res = OCREngine::recognize(img, 1, 1, s, [] { return false; });
        for (auto& r : res.regions) printf("  region x=%.3f w=%.3f '%s' %.2f\n", r.x, r.width, r.text.c_str(), r.confidence);
        if (i == 2) break;
    }
}
