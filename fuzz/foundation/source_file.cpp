// An original as the OCR section opens it, whatever its bytes: the image
// loaders and the PDF renderer end in a page or a documented refusal, and a
// page comes only from a PNG or JPEG file that runs to its end.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/Raster.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

bool startsWith(const uint8_t* data, std::size_t size, const char* prefix, std::size_t length) {
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto folder = fuzz::freshFolder("source");
    // The same bytes under both names: the name must not decide the reader.
    fuzz::writeFile(folder / "page.png", data, size);
    fuzz::writeFile(folder / "page.pdf", data, size);
    const std::size_t descriptors = fuzz::openDescriptors();

    Raster::SourceImage loaded;
    const auto image = fuzz::documented("Raster::image", [&] { loaded = Raster::image(folder / "page.png"); });
    if (image == fuzz::Outcome::read) {
        const bool known = startsWith(data, size, "\x89PNG\r\n\x1a\n", 8) || startsWith(data, size, "\xff\xd8\xff", 3);
        if (!known) fuzz::fail("Raster::image read a file that is neither PNG nor JPEG");
        if (loaded.image.width() < 1 || loaded.image.height() < 1) fuzz::fail("Raster::image gave an empty image");
    }
    fuzz::documented("Raster::preview", [&] { (void)Raster::preview(folder / "page.png"); });
    fuzz::documented("Raster::pdf", [&] { (void)Raster::pdf(folder / "page.pdf", 0, 36); });
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("Raster: a descriptor stayed open");
    return 0;
}
