#include "support/RasterFiles.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <stdexcept>

#include <cairo-pdf.h>
#include <png.h>

#include "support/TempDir.hpp"

extern char** environ;

namespace velmora::test {

namespace {

bool writePNGRows(FILE* file, int width, int height, int channels, const std::function<void(int, uint8_t*)>& fill,
                  int level, std::vector<uint8_t>* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        fill(y, row->data());
        png_write_row(png, row->data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

void writePNG(const std::filesystem::path& path, int width, int height, int channels,
              const std::function<void(int y, uint8_t* row)>& fillRow, int compressionLevel) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path.string());
    std::vector<uint8_t> row(static_cast<std::size_t>(width) * static_cast<std::size_t>(channels));
    const bool ok = writePNGRows(file, width, height, channels, fillRow, compressionLevel, &row);
    if (std::fclose(file) != 0 || !ok) throw std::runtime_error("cannot write " + path.string());
}

void writeJPEG(const std::filesystem::path& path, const RasterImage& image, std::optional<uint16_t> exifOrientation) {
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_buffer(image.pixbuf(), &buffer, &size, "jpeg", &error, "quality", "95", nullptr)) {
        std::string message = error ? error->message : "unknown";
        if (error) g_error_free(error);
        throw std::runtime_error("JPEG encoding failed: " + message);
    }
    std::string jpeg(buffer, size);
    g_free(buffer);
    if (exifOrientation) {
        // "Exif\0\0", a big-endian TIFF header, and one IFD with a single
        // SHORT entry: tag 0x0112 (Orientation).
        const uint16_t o = *exifOrientation;
        const std::string payload = std::string("Exif\0\0", 6) + std::string("MM\0\x2a\0\0\0\x08", 8) +
                                    std::string("\0\x01", 2) + std::string("\x01\x12\0\x03\0\0\0\x01", 8) +
                                    std::string{static_cast<char>(o >> 8), static_cast<char>(o & 0xFF)} +
                                    std::string("\0\0", 2) + std::string("\0\0\0\0", 4);
        const std::size_t length = payload.size() + 2;
        const std::string segment = std::string("\xFF\xE1", 2) +
                                    std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} +
                                    payload;
        jpeg.insert(2, segment);
    }
    writeFile(path, jpeg);
}

void writePDF(const std::filesystem::path& path, const std::vector<PageSize>& pages,
              const std::function<void(cairo_t*, int page, PageSize size)>& draw) {
    if (pages.empty()) throw std::runtime_error("a PDF needs a page");
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pages[0].width, pages[0].height);
    cairo_t* cr = cairo_create(surface);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        cairo_pdf_surface_set_size(surface, pages[i].width, pages[i].height);
        cairo_save(cr);
        draw(cr, static_cast<int>(i), pages[i]);
        cairo_restore(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cairo could not write " + path.string());
}

void writeHandmadePDF(const std::filesystem::path& path, double width, double height, int rotate,
                      const std::string& content) {
    std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) +
            "] /Rotate " + std::to_string(rotate) + " /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    writeRawPDF(path, objects);
}

void writeRawPDF(const std::filesystem::path& path, const std::vector<std::string>& objects) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    writeFile(path, out);
}

void writeImagePagePDF(const std::filesystem::path& path, int imageWidth, int imageHeight) {
    const int rowBytes = (imageWidth + 7) / 8;
    std::string data;
    for (int y = 0; y < imageHeight; ++y) {
        const char value = (y / 400) % 2 ? '\xff' : '\0';
        for (int left = rowBytes; left > 0; left -= 128) {
            const int run = std::min(left, 128);
            data += static_cast<char>(257 - run);
            data += value;
        }
    }
    data += '\x80';
    const std::string content = "q 495 0 0 742 50 50 cm /Im Do Q";
    writeRawPDF(path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                       "/Resources << /XObject << /Im 5 0 R >> >> /Contents 4 0 R >>",
                       "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
                       "<< /Type /XObject /Subtype /Image /Width " + std::to_string(imageWidth) + " /Height " +
                           std::to_string(imageHeight) +
                           " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /RunLengthDecode /Length " +
                           std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream"});
}

int runProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RasterImage makeImage(int width, int height, int channels,
                      const std::function<void(int x, int y, uint8_t* pixel)>& colour) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                static_cast<std::size_t>(channels));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            colour(x, y, pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                          static_cast<std::size_t>(x)) * static_cast<std::size_t>(channels));
        }
    }
    return RasterImage::fromPixels(width, height, channels, pixels);
}

std::vector<uint8_t> pixelAt(const RasterImage& image, int x, int y) {
    const uint8_t* p = image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * y +
                       static_cast<std::ptrdiff_t>(image.channels()) * x;
    return std::vector<uint8_t>(p, p + image.channels());
}

}  // namespace velmora::test
