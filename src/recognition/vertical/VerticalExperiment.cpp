#include "recognition/vertical/VerticalExperiment.hpp"

#include <algorithm>

#include "foundation/BrindlexError.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/standard/StandardReading.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora::VerticalExperiment {

void to_json(Json& j, const Column& c) {
    j = Json::object();
    j["x"] = c.x;
    j["width"] = c.width;
    j["text"] = c.text;
    j["glyphCount"] = c.glyphCount;
}

void from_json(const Json& j, Column& c) {
    JSON::requireObject(j, "vertical experiment column");
    c.x = JSON::requireInt(j, "x");
    c.width = JSON::requireInt(j, "width");
    c.text = JSON::requireString(j, "text");
    c.glyphCount = JSON::requireInt(j, "glyphCount");
}

std::vector<Column> recognize(const RasterImage& image) {
    using namespace VerticalResearch;
    const UptimeClock& clock = RecognitionClock::current();
    const double start = clock.seconds();
    auto inTime = [&] {
        if (clock.seconds() > start + timeLimitSeconds) raise(ErrorCase::loadTimeout);
    };

    if (!image) raise(ErrorCase::invalidInput);
    const int64_t width = image.width();
    const int64_t height = image.height();
    if (width > largestWidth || height > largestHeight || width * height > largestPixels) {
        raise(ErrorCase::budgetExceeded);
    }
    const GreyPage grey = GreyPage::from(image);
    std::vector<Run> columns = runs(inkColumns(grey), columnGap);
    if (columns.size() > mostColumns) raise(ErrorCase::budgetExceeded);

    // Every column's glyphs are counted before any is read, so that a page
    // over the limit is refused at once.
    std::vector<std::vector<Run>> glyphsOf;
    int64_t glyphs = 0;
    for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
        glyphsOf.push_back(glyphRuns(grey, *it));
        glyphs += static_cast<int64_t>(glyphsOf.back().size());
        if (glyphs > mostGlyphs) raise(ErrorCase::budgetExceeded);
    }

    const OCRSettings standard;
    std::vector<Column> out;
    for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
        inTime();
        const Run column = *it;
        const std::vector<Run>& cells = glyphsOf[static_cast<std::size_t>(it - columns.rbegin())];

        Column record{column.start, column.length(), {}, static_cast<int64_t>(cells.size())};
        const int x0 = std::max(column.start - margin, 0);
        const int x1 = std::min(column.end + margin, grey.width);
        for (const Run& cell : cells) {
            inTime();
            const int y0 = std::max(cell.start - margin, 0);
            const int y1 = std::min(cell.end + margin, grey.height);
            const int cw = x1 - x0, ch = y1 - y0;
            std::vector<uint8_t> rgb(static_cast<std::size_t>(cw) * ch * 3);
            for (int y = 0; y < ch; ++y) {
                const uint8_t* src = grey.pixels.data() + static_cast<std::size_t>(y0 + y) * grey.width + x0;
                uint8_t* dst = rgb.data() + static_cast<std::size_t>(y) * cw * 3;
                for (int x = 0; x < cw; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
            }
            const RasterImage cut = RasterImage::fromPixels(cw, ch, 3, rgb);
            if (!cut) raise(ErrorCase::renderFailed);
            record.text += OCREngine::standardPass(cut, 1, 1, standard).text();
        }
        out.push_back(std::move(record));
    }
    return out;
}

}  // namespace velmora::VerticalExperiment
