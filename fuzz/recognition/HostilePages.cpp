#include "HostilePages.hpp"

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>

#include "foundation/Geometry.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

namespace velmora::sweep {

namespace {

// A4 at 300 dpi, the size of a scanned page.
constexpr int pageWidth = 2480;
constexpr int pageHeight = 3508;
constexpr double dotsPerPoint = 300.0 / 72.0;

const std::vector<std::string> prose{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。",
    "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。",
    "吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という",
    "人間中で一番獰悪な種族であったそうだ。この書生というのは時々我々を捕えて",
    "煮て食うという話である。しかしその当時は何という考もなかったから別段恐しい",
    "とも思わなかった。ただ彼の掌に載せられてスーと持ち上げられた時何だかフワフワ",
    "した感じがあったばかりである。掌の上で少し落ちついて書生の顔を見たのが",
    "いわゆる人間というものの見始であろう。",
};

RasterImage filled(int width, int height, const std::function<void(int, int, uint8_t*)>& pixel) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixel(x, y, rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3);
    }
    return RasterImage::fromPixels(width, height, 3, rgb);
}

RasterImage grey(int width, int height, uint8_t value) {
    return filled(width, height, [value](int, int, uint8_t* p) { p[0] = p[1] = p[2] = value; });
}

// Turned clockwise by a quarter turn times `quarters`, exactly, every pixel kept.
RasterImage turned(const RasterImage& image, int quarters) {
    const int w = image.width(), h = image.height(), c = image.channels();
    const bool sideways = quarters % 2 == 1;
    return filled(sideways ? h : w, sideways ? w : h, [&](int x, int y, uint8_t* p) {
        int sx = x, sy = y;
        if (quarters == 1) sx = y, sy = h - 1 - x;
        if (quarters == 2) sx = w - 1 - x, sy = h - 1 - y;
        const uint8_t* s = image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * sy + sx * c;
        p[0] = s[0], p[1] = s[1], p[2] = s[2];
    });
}

test::TextLayout page(double points, const std::string& family = "Noto Serif CJK JP") {
    test::TextLayout layout;
    layout.width = pageWidth;
    layout.height = pageHeight;
    layout.pixelSize = points * dotsPerPoint;
    layout.left = 240;
    layout.top = 300;
    layout.lineAdvance = 1.8;
    layout.family = family;
    return layout;
}

RasterImage proseAt(double points) { return test::renderParagraphs(page(points), prose).image; }

// Ink in straight lines only: a frame, the rules of an empty table, boxes.
RasterImage rules() {
    test::TextLayout layout = page(11);
    layout.rules = {{200, 200, 2080, 6}, {200, 200, 6, 3108}, {2274, 200, 6, 3108}, {200, 3302, 2080, 6}};
    for (int row = 0; row < 12; ++row) layout.rules.push_back({300, 500.0 + row * 120, 1880, 3});
    for (int col = 0; col < 5; ++col) layout.rules.push_back({300.0 + col * 470, 500, 3, 1320});
    for (int box = 0; box < 6; ++box) {
        const double x = 300 + box * 320, y = 2100;
        layout.rules.insert(layout.rules.end(), {{x, y, 240, 4}, {x, y + 240, 240, 4}, {x, y, 4, 240}, {x + 240, y, 4, 244}});
    }
    return test::renderLines(layout, {}).image;
}

// Figures in ruled cells, as a spreadsheet prints them.
RasterImage digitTable() {
    test::TextLayout layout = page(10.5, "Noto Sans CJK JP");
    std::vector<test::PlacedText> cells;
    std::mt19937 random(7);
    for (int row = 0; row < 20; ++row) {
        const double y = 300 + row * 110;
        layout.rules.push_back({240, y - 12, 2000, 3});
        for (int col = 0; col < 6; ++col) {
            cells.push_back({std::to_string(random() % 1000000), 520.0 + col * 330, y + 10, true});
        }
    }
    for (int col = 0; col <= 6; ++col) layout.rules.push_back({240.0 + col * 330, 288, 3, 2200});
    return test::renderPlaced(layout, cells).image;
}

// Lines across the top of the page and a column down its right side, one
// character under the other.
RasterImage mixed() {
    const test::TextLayout layout = page(12);
    std::vector<test::PlacedText> items;
    for (std::size_t i = 0; i < 4; ++i) items.push_back({prose[i].substr(0, 60), 240, 300 + 90.0 * double(i)});
    const std::u32string down = U"縦に書かれた一行の文章がここにある";
    for (std::size_t i = 0; i < down.size(); ++i) {
        std::string character;
        const char32_t c = down[i];
        character += static_cast<char>(0xE0 | (c >> 12));
        character += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        character += static_cast<char>(0x80 | (c & 0x3F));
        items.push_back({character, 2100, 900 + 62.0 * double(i)});
    }
    return test::renderPlaced(layout, items).image;
}

// Smooth colour across the page with soft round shapes, as a photograph has.
RasterImage gradient() {
    return filled(1600, 1200, [](int x, int y, uint8_t* p) {
        const double shade = 0.5 + 0.5 * std::sin(x / 90.0) * std::cos(y / 70.0);
        const double blob = std::exp(-(std::pow(x - 800, 2) + std::pow(y - 600, 2)) / 80000.0);
        p[0] = static_cast<uint8_t>(std::clamp(40 + x * 0.12 + 60 * shade, 0.0, 255.0));
        p[1] = static_cast<uint8_t>(std::clamp(30 + y * 0.15 + 120 * blob, 0.0, 255.0));
        p[2] = static_cast<uint8_t>(std::clamp(200 - x * 0.05 - 90 * shade * blob, 0.0, 255.0));
    });
}

// A table of figures set with tab stops and no rules: a title, a name and
// four numbers on each of eleven rows, a note; 11 pt mincho at 300 dpi.
RasterImage tabTable() {
    test::TextLayout layout = page(11, "IPAMincho");
    layout.lineAdvance = 1.7;
    std::vector<std::string> lines{"令和五年度 地区別 来場者数の推移（単位：人）", "",
                                   "地区名\t四月\t五月\t六月\t七月"};
    const char* names[] = {"北区", "南区", "東区", "西区", "中央区", "港区", "緑区", "青葉区", "旭区", "泉区", "栄区"};
    std::mt19937 random(11);
    for (const char* name : names) {
        std::string line = name;
        for (int k = 0; k < 4; ++k) line += "\t" + std::to_string(random() % 1000);
        lines.push_back(line);
    }
    lines.insert(lines.end(), {"", "注：数値は各施設の集計による速報値です。"});
    return test::renderLines(layout, lines).image;
}

const std::map<std::string, std::function<RasterImage()>>& generators() {
    static const std::map<std::string, std::function<RasterImage()>> all{
        {"blank", [] { return grey(pageWidth, pageHeight, 255); }},
        {"one-pixel", [] { return grey(1, 1, 0); }},
        {"strip-1x20000", [] { return filled(1, 20000, [](int, int y, uint8_t* p) { p[0] = p[1] = p[2] = (y / 9) % 2 ? 0 : 255; }); }},
        {"strip-20000x1", [] { return filled(20000, 1, [](int x, int, uint8_t* p) { p[0] = p[1] = p[2] = (x / 9) % 2 ? 0 : 255; }); }},
        {"black", [] { return grey(pageWidth, pageHeight, 0); }},
        {"noise",
         [] {
             std::mt19937 random(3);
             return filled(900, 1200, [&](int, int, uint8_t* p) { p[0] = p[1] = p[2] = static_cast<uint8_t>(random()); });
         }},
        {"rules", rules},
        {"digit-table", digitTable},
        {"tab-table", tabTable},
        {"turned-90", [] { return turned(proseAt(11), 1); }},
        {"turned-180", [] { return turned(proseAt(11), 2); }},
        {"text-5pt", [] { return proseAt(5); }},
        {"text-80pt", [] { return proseAt(80); }},
        {"mixed-orientations", mixed},
        {"gradient", gradient},
        {"single-character", [] { return test::renderPlaced(page(40), {{"永", 1100, 1500}}).image; }},
    };
    return all;
}

}  // namespace

std::vector<std::string> hostilePageNames() {
    std::vector<std::string> names;
    for (const auto& [name, make] : generators()) names.push_back(name);
    return names;
}

RasterImage hostilePage(const std::string& name) {
    const auto found = generators().find(name);
    if (found == generators().end()) throw std::invalid_argument("no hostile page named " + name);
    return found->second();
}

namespace {

void save(const RasterImage& image, const std::filesystem::path& path, const char* type) {
    GError* error = nullptr;
    if (!gdk_pixbuf_save(image.pixbuf(), path.c_str(), type, &error, nullptr)) {
        const std::string message = error ? error->message : type;
        if (error) g_error_free(error);
        throw std::runtime_error("saving " + path.string() + ": " + message);
    }
}

}  // namespace

std::vector<std::filesystem::path> writeHostileFiles(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::vector<std::filesystem::path> files;
    const RasterImage text = proseAt(11);
    const std::vector<uint8_t> png = Raster::png(text);
    test::writeFile(folder / "whole.png", std::string(png.begin(), png.end()));
    test::writeJPEG(folder / "jpeg-named.png", text);
    for (const char* name : {"whole.png", "jpeg-named.png"}) {
        const std::string bytes = test::readFile(folder / name);
        files.push_back(folder / (std::string("cut-half-") + name));
        test::writeFile(files.back(), bytes.substr(0, bytes.size() / 2));
    }
    files.push_back(folder / "jpeg-named.png");
    std::filesystem::remove(folder / "whole.png");
    for (const char* type : {"tiff", "bmp"}) {
        files.push_back(folder / (std::string(type) + "-named.png"));
        save(text, files.back(), type);
    }
    const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xff, 0xff, 0xff, 0, 0, 0,
                                 ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'};
    files.push_back(folder / "gif-named.png");
    test::writeFile(files.back(), std::string(reinterpret_cast<const char*>(gif), sizeof gif));
    files.push_back(folder / "svg-named.png");
    test::writeFile(files.back(), "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2480\" height=\"3508\">"
                                  "<text x=\"200\" y=\"400\" font-size=\"46\">吾輩は猫である。</text></svg>");

    // The text page as a phone's 48-megapixel mode takes it.
    test::TextLayout photo = page(11);
    const double scale = 6048.0 / pageWidth;
    photo.width = 6048;
    photo.height = 8064;
    photo.pixelSize *= scale;
    photo.left *= scale;
    photo.top *= scale;
    files.push_back(folder / "photo-48mp.jpg");
    test::writeJPEG(files.back(), test::renderParagraphs(photo, prose).image);

    files.push_back(folder / "pdf-image-20000.pdf");
    test::writeImagePagePDF(files.back(), 20000, 20000);
    files.push_back(folder / "pdf-image-33000.pdf");
    test::writeImagePagePDF(files.back(), 33000, 8);
    return files;
}

Raster::SourceImage loadHostileFile(const std::filesystem::path& file) {
    if (file.extension() == ".pdf") return {Raster::pdf(file, 0, 300), 1};
    return Raster::image(file);
}

}  // namespace velmora::sweep
