// velmora_screenshot_check <folder>: every scene listed in "scenes.tsv" (each
// registered scene, rendered or not) has a
// PNG that decodes at its stated size and is not one flat colour.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: velmora_screenshot_check <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::ifstream manifest(folder / "scenes.tsv");
    int checked = 0, failures = 0;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        std::string name;
        int width = 0, height = 0;
        fields >> name >> width >> height;
        const auto file = folder / (name + ".png");
        GError* error = nullptr;
        GdkPixbuf* image = gdk_pixbuf_new_from_file(file.c_str(), &error);
        ++checked;
        if (!image) {
            std::cerr << file << ": " << (error ? error->message : "does not decode") << '\n';
            if (error) g_error_free(error);
            ++failures;
            continue;
        }
        const int w = gdk_pixbuf_get_width(image), h = gdk_pixbuf_get_height(image);
        bool flat = true;
        const int channels = gdk_pixbuf_get_n_channels(image), stride = gdk_pixbuf_get_rowstride(image);
        const guchar* pixels = gdk_pixbuf_read_pixels(image);
        for (int y = 0; y < h && flat; ++y) {
            for (int x = 0; x < w && flat; ++x) {
                flat = std::memcmp(pixels + y * stride + x * channels, pixels, channels) == 0;
            }
        }
        if (w != width || h != height) {
            std::cerr << file << ": " << w << "x" << h << ", stated " << width << "x" << height << '\n';
            ++failures;
        } else if (flat) {
            std::cerr << file << ": one flat colour\n";
            ++failures;
        }
        g_object_unref(image);
    }
    if (checked == 0) {
        std::cerr << "no scene listed in " << folder / "scenes.tsv" << '\n';
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
