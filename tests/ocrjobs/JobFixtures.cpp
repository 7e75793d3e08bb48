#include "JobFixtures.hpp"

#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

namespace velmora::test {

const OCRSettings& currentSettings() {
    static const OCRSettings settings;
    return settings;
}

std::filesystem::path writeSamplePNG(const std::filesystem::path& path, int shade) {
    writePNG(path, 24, 16, 3, [shade](int y, uint8_t* row) {
        for (int x = 0; x < 24 * 3; ++x) row[x] = static_cast<uint8_t>((x * 7 + y * shade) & 0xFF);
    });
    return path;
}

std::filesystem::path writeSamplePDF(const std::filesystem::path& path, int pages) {
    std::vector<PageSize> sizes(static_cast<std::size_t>(pages), PageSize{200, 300});
    writePDF(path, sizes, [](cairo_t* cr, int page, PageSize) {
        cairo_rectangle(cr, 20 + page * 10, 20, 40, 40);
        cairo_fill(cr);
    });
    return path;
}

std::filesystem::path writeEmptyPDF(const std::filesystem::path& path) {
    const std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>",
                                           "<< /Type /Pages /Kids [] /Count 0 >>"};
    writeRawPDF(path, objects);
    return path;
}

PageResult sampleResult(int64_t page, const std::string& text) {
    return PageResult(page, {TextRegion(text, 0.9f, 0.1, 0.2, 0.5, 0.1)}, 0.25, 1240, 1754);
}

std::map<std::string, std::string> folderBytes(const std::filesystem::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& name : listNames(folder)) out[name] = readFile(folder / name);
    return out;
}

}  // namespace velmora::test
