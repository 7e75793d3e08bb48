// Reads the Japanese development pages (../shared/ocr-dev from the project
// root: rendered pages never used to build the recognisers, with their
// ground truth) and the real ones (../shared/ocr-real: pages of typeset
// manuals) in the standard mode (horizontal pages), the vertical mode
// (vertical pages) and the automatic mode (all pages), one page at a time on
// this thread, and prints for each set, per page and per group, the
// character error rate (edits over the
// truth's characters, white space removed on both sides, summed over the
// group's pages, as the set's score.py counts it), the output's length over
// the truth's, refused pages with their reason, the automatic mode's verdict
// (and the lines it takes for handwriting, which no page of the sets holds),
// and seconds per page (median and mean wall-clock, and the process's
// processor seconds; engines loaded before timing). The automatic mode's
// figures of each group are also given over the single mode's of the same
// pages. The rendered set's groups are its kinds of page (tables, prose, full
// vertical pages), the real set's its documents; both are also grouped by
// degradation. Each output is written to out/<set>/<mode>/<page>.txt, so that
// the set's score.py can check the figures. The mode "wrong" reads every page
// in the single mode of the other orientation (a horizontal page in the
// vertical mode, a vertical one in the standard mode), where each page is to
// be refused with the reason that names the mode that reads it.
//
// perturb= reads every page changed in a way nobody sees, to check that the
// reading does not flip on it: "aliased" (each pixel snapped to the darker or
// lighter end of its 3 × 3 neighbourhood, whichever is nearer, as a render
// without antialiasing draws edges), "shift" (moved one pixel right and one
// down) or "jpeg90" (encoded as JPEG at quality 90 and decoded again).
//
// Usage: OCRDevSetBenchmark [set=DIR] [real=DIR] [out=DIR] [modes=standard,vertical,automatic,wrong] [only=TEXT,...]
//        [perturb=aliased|shift|jpeg90]
// (set= or real= empty: that set is left out)
// Run with OMP_THREAD_LIMIT=1 for figures on one core.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unicode/uchar.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Raster.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/SharedFolder.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> listOf(const std::string& value) {
    std::vector<std::string> out;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(item);
    return out;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// As score.py: every white-space character goes, the ideographic space and
// the tabs between cells included.
std::vector<char32_t> cleaned(const std::string& text) {
    std::vector<char32_t> out;
    for (char32_t c : Unicode::scalars(text)) {
        if (!u_isUWhiteSpace(static_cast<UChar32>(c)) && !u_isspace(static_cast<UChar32>(c))) out.push_back(c);
    }
    return out;
}

std::size_t distance(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
    std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

struct Page {
    fs::path image;
    fs::path truth;
    std::string stem;
    std::string layout;  // horizontal, vertical
    std::string degradation;
    std::string text;  // the stem up to its first "_"
};

std::vector<Page> manifest(const fs::path& set) {
    std::ifstream in(set / "manifest.tsv");
    std::vector<Page> out;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t')) f.push_back(field);
        if (f.size() < 6) continue;
        Page p;
        p.image = set / f[0];
        p.truth = set / f[1];
        p.stem = p.image.stem().string();
        p.layout = f[2];
        p.degradation = f[5];
        p.text = p.stem.substr(0, p.stem.find('_'));
        out.push_back(std::move(p));
    }
    return out;
}

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Outcome {
    std::string text;
    std::string error;  // the refusal's case, empty when read
    std::string verdict;  // the automatic mode's
    double seconds = 0;
    double cpu = 0;  // processor seconds of the whole process
    std::size_t truthLength = 0;
    std::size_t outputLength = 0;
    std::size_t errors = 0;
};

std::string perturbation;

// The image's pixels as tight RGB rows.
std::vector<uint8_t> rgbOf(const RasterImage& image) {
    const int w = image.width(), h = image.height(), c = image.channels();
    std::vector<uint8_t> out(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * y;
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < 3; ++k) out[(static_cast<std::size_t>(y) * w + x) * 3 + k] = row[x * c + k];
        }
    }
    return out;
}

RasterImage perturbed(const RasterImage& image) {
    if (perturbation.empty()) return image;
    const int w = image.width(), h = image.height();
    const std::vector<uint8_t> in = rgbOf(image);
    std::vector<uint8_t> out = in;
    const auto at = [&](int x, int y) { return (static_cast<std::size_t>(y) * w + x) * 3; };
    const auto copy = [&](std::size_t from, std::size_t to) {
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(from), 3, out.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const auto luma = [&](std::size_t i) { return 299 * in[i] + 587 * in[i + 1] + 114 * in[i + 2]; };
    if (perturbation == "shift") {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::size_t from = at(std::max(x - 1, 0), std::max(y - 1, 0));
                copy(from, at(x, y));
            }
        }
    } else if (perturbation == "aliased") {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::size_t dark = at(x, y), light = dark;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = std::clamp(x + dx, 0, w - 1), ny = std::clamp(y + dy, 0, h - 1);
                        const std::size_t n = at(nx, ny);
                        if (luma(n) < luma(dark)) dark = n;
                        if (luma(n) > luma(light)) light = n;
                    }
                }
                const int v = luma(at(x, y));
                const std::size_t to = v - luma(dark) <= luma(light) - v ? dark : light;
                copy(to, at(x, y));
            }
        }
    } else if (perturbation == "jpeg90") {
        const RasterImage rgb = RasterImage::fromPixels(w, h, 3, in);
        gchar* buffer = nullptr;
        gsize size = 0;
        if (!gdk_pixbuf_save_to_buffer(rgb.pixbuf(), &buffer, &size, "jpeg", nullptr, "quality", "90", nullptr)) {
            std::fprintf(stderr, "JPEG encoding failed\n");
            std::exit(1);
        }
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
        gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(buffer), size, nullptr);
        gdk_pixbuf_loader_close(loader, nullptr);
        GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader);
        g_object_ref(decoded);
        g_object_unref(loader);
        g_free(buffer);
        return RasterImage::adopt(decoded);
    }
    return RasterImage::fromPixels(w, h, 3, out);
}

Outcome recognise(const Page& page, OCRMode mode) {
    OCRSettings settings;
    settings.mode = mode;
    Outcome out;
    Raster::SourceImage source = Raster::image(page.image);
    source.image = perturbed(source.image);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processorSeconds();
    try {
        const PageResult result = OCREngine::recognize(source.image, source.orientation, 1, settings, [] { return false; });
        out.text = result.text();
        if (result.autoPresentation) {
            out.verdict = std::string(rawValue(result.autoPresentation->resolved));
            if (result.autoPresentation->handwriting == "detected") {
                out.verdict += " handwriting:";
                for (const TextRegion& r : result.regions) {
                    if (r.kind == RegionKind::handwrittenCandidate) out.verdict += " 「" + r.text + "」";
                }
            }
        }
    } catch (const BrindlexError& e) {
        out.error = std::string(BrindlexError::rawValue(e.errorCase()));
    } catch (const CancellationError&) {
        out.error = "cancellation";
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.cpu = processorSeconds() - cpuStart;
    const std::vector<char32_t> truth = cleaned(readFile(page.truth));
    const std::vector<char32_t> output = cleaned(out.text);
    out.truthLength = truth.size();
    out.outputLength = output.size();
    out.errors = distance(truth, output);
    return out;
}

struct Group {
    std::size_t pages = 0, refused = 0, length = 0, errors = 0;
    double longest = 0;  // output length over truth length, the page where it is largest
    std::vector<double> seconds;
    std::vector<double> cpu;

    void add(const Outcome& o) {
        cpu.push_back(o.cpu);
        pages += 1;
        refused += o.error.empty() ? 0 : 1;
        length += o.truthLength;
        errors += o.errors;
        longest = std::max(longest, double(o.outputLength) / std::max<std::size_t>(o.truthLength, 1));
        seconds.push_back(o.seconds);
    }
    double rate() const { return length ? double(errors) / double(length) : 0; }
    static double median(std::vector<double> s) {
        if (s.empty()) return 0;
        std::sort(s.begin(), s.end());
        return s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    }
    double mean() const {
        double sum = 0;
        for (double s : seconds) sum += s;
        return seconds.empty() ? 0 : sum / double(seconds.size());
    }
};

// The groups a page counts in: its layout's whole, clean or degraded, its
// degradation, and in a set of real documents its document; in the rendered
// set, for horizontal pages tables or prose, for vertical pages full pages
// (the text that fills an A4 page) or the others.
std::vector<std::string> groupsOf(const Page& p, bool real) {
    const std::string l = p.layout == "horizontal" ? "h" : "v";
    std::vector<std::string> g{l + " all", l + (p.degradation == "none" ? " clean" : " degraded")};
    if (p.degradation != "none") g.push_back(l + " " + p.degradation);
    if (real) {
        g.push_back(l + " " + p.text);
    } else if (p.layout == "horizontal") {
        g.push_back(p.text.rfind("table", 0) == 0 ? "h tables" : "h prose");
    } else {
        g.push_back(p.text == "longv" ? "v full" : "v other");
    }
    return g;
}

// The mode a page is read in: the named one, or for "wrong" the single mode
// of the other orientation.
OCRMode modeFor(const std::string& name, const Page& page) {
    if (name == "wrong") return page.layout == "horizontal" ? OCRMode::vertical : OCRMode::standard;
    return name == "standard" ? OCRMode::standard : name == "vertical" ? OCRMode::vertical : OCRMode::automatic;
}

// Reads every page of the set in each mode and prints its figures.
void benchmark(const fs::path& set, bool real, const fs::path& outDir, const std::vector<std::string>& modes,
               const std::vector<std::string>& only) {
    std::vector<Page> pages = manifest(set);
    if (pages.empty()) {
        std::fprintf(stderr, "no pages in %s/manifest.tsv\n", set.c_str());
        return;
    }
    if (!only.empty()) {
        std::erase_if(pages, [&](const Page& p) {
            return std::none_of(only.begin(), only.end(),
                                [&](const std::string& o) { return p.stem.find(o) != std::string::npos; });
        });
    }
    const char* limit = std::getenv("OMP_THREAD_LIMIT");
    std::printf("\n%zu pages of %s; one page at a time, OMP_THREAD_LIMIT=%s; engines loaded before timing\n",
                pages.size(), set.c_str(), limit ? limit : "(unset)");
    std::map<std::string, std::map<std::string, Group>> groups;  // mode → group → tally
    std::vector<std::string> order;
    for (const std::string& name : modes) {
        // Load every engine the mode uses before timing, on a page of each layout.
        for (const char* layout : {"horizontal", "vertical"}) {
            const auto warm = std::find_if(pages.begin(), pages.end(), [&](const Page& p) { return p.layout == layout; });
            if (warm != pages.end()) recognise(*warm, modeFor(name, *warm));
        }
        fs::create_directories(outDir / name);
        std::printf("\n%s mode\n%-40s %6s %6s %7s %7s %7s  %s\n", name.c_str(), "page", "gt", "out", "CER", "s", "cpu s",
                    "refused / verdict");
        for (const Page& page : pages) {
            const OCRMode mode = modeFor(name, page);
            if (name == "standard" && page.layout != "horizontal") continue;
            if (name == "vertical" && page.layout != "vertical") continue;
            const Outcome o = recognise(page, mode);
            std::ofstream(outDir / name / (page.stem + ".txt"), std::ios::binary) << o.text;
            std::printf("%-40s %6zu %6zu %6.2f%% %7.2f %7.2f  %s\n", page.stem.c_str(), o.truthLength, o.outputLength,
                        100.0 * double(o.errors) / double(std::max<std::size_t>(o.truthLength, 1)), o.seconds, o.cpu,
                        (o.error + o.verdict).c_str());
            std::fflush(stdout);
            for (const std::string& g : groupsOf(page, real)) {
                if (std::find(order.begin(), order.end(), g) == order.end()) order.push_back(g);
                groups[name][g].add(o);
            }
        }
    }
    std::sort(order.begin(), order.end());
    std::printf("\n%-10s %-12s %5s %7s %7s %9s %8s %8s %8s %8s %s\n", "mode", "group", "pages", "CER", "refused",
                "out/gt max", "s median", "s mean", "cpu med", "cpu max", "auto / single mode");
    for (const std::string& name : modes) {
        for (const std::string& g : order) {
            if (!groups[name].contains(g)) continue;
            const Group& t = groups[name][g];
            std::string ratio;
            if (name == "automatic") {
                const std::string single = g[0] == 'h' ? "standard" : "vertical";
                if (groups.contains(single) && groups[single].contains(g) && groups[single][g].rate() > 0) {
                    char buffer[32];
                    std::snprintf(buffer, sizeof buffer, "%.2f×", t.rate() / groups[single][g].rate());
                    ratio = buffer;
                }
            }
            std::printf("%-10s %-12s %5zu %6.2f%% %7zu %9.2f %8.2f %8.2f %8.2f %8.2f %s\n", name.c_str(), g.c_str(),
                        t.pages, 100 * t.rate(), t.refused, t.longest, Group::median(t.seconds), t.mean(),
                        Group::median(t.cpu), *std::max_element(t.cpu.begin(), t.cpu.end()), ratio.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path set = "../shared/ocr-dev";
    fs::path real = "../shared/ocr-real";
    fs::path outDir = "ocr-dev-out";
    std::vector<std::string> modes{"standard", "vertical", "automatic"};
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("set=", 0) == 0) set = arg.substr(4);
        if (arg.rfind("real=", 0) == 0) real = arg.substr(5);
        if (arg.rfind("out=", 0) == 0) outDir = arg.substr(4);
        if (arg.rfind("modes=", 0) == 0) modes = listOf(arg.substr(6));
        if (arg.rfind("only=", 0) == 0) only = listOf(arg.substr(5));
        if (arg.rfind("perturb=", 0) == 0) perturbation = arg.substr(8);
    }
    // A lone clone has no development pages; under CI they must be there.
    for (const fs::path& folder : {set, real}) {
        if (folder.empty()) continue;
        if (const auto missing = test::missingSharedFolder(folder)) {
            std::fprintf(stderr, "%s: %s\n", test::underCI() ? "failed" : "skipped", missing->c_str());
            return test::underCI() ? 1 : 0;
        }
    }
    if (!set.empty()) benchmark(set, false, outDir / set.filename(), modes, only);
    if (!real.empty()) benchmark(real, true, outDir / real.filename(), modes, only);
    return 0;
}
