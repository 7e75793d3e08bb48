// The processor time of one mode against the tesseract command line, as a
// user meets both: this process reads every page of the development sets
// (../shared/ocr-dev and ../shared/ocr-real from the project root) that the
// mode reads, its engines loaded once before timing, and the command line
// reads each page as a process of its own, its model loaded each time, as
// the sets' baselines were made: vertical pages `-l jpn_vert --psm 5`,
// horizontal ones `-l jpn+eng --psm 3`, `--dpi` from the manifest. Rounds
// go over all pages, each page read by the mode and then by the command line
// one after the other, so that both meet the machine's same load. Prints per
// page the median processor seconds of each and their ratio with its spread
// over the rounds, and per round the ratio of the sums, with their median
// and spread.
//
// Usage: OCRCommandLineTimeBenchmark [mode=vertical|standard] [rounds=5] [set=DIR] [real=DIR] [only=TEXT,...]
// Run with OMP_THREAD_LIMIT=1: the command line is given it too.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/Raster.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/SharedFolder.hpp"
#include "support/TempDir.hpp"

extern char** environ;

using namespace velmora;
namespace fs = std::filesystem;

namespace {

struct Page {
    fs::path image;
    std::string stem;
    std::string dpi;
};

std::vector<std::string> listOf(const std::string& value) {
    std::vector<std::string> out;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(item);
    return out;
}

std::vector<Page> pagesOf(const fs::path& set, const std::string& layout, const std::vector<std::string>& only) {
    std::ifstream in(set / "manifest.tsv");
    std::vector<Page> out;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t')) f.push_back(field);
        if (f.size() < 6 || f[2] != layout) continue;
        Page p{set / f[0], fs::path(f[0]).stem().string(), f[4]};
        if (!only.empty() && std::none_of(only.begin(), only.end(), [&](const std::string& o) {
                return p.stem.find(o) != std::string::npos;
            })) {
            continue;
        }
        out.push_back(std::move(p));
    }
    return out;
}

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The mode's processor seconds on the page; a refusal is timed too, and
// named.
double modeSeconds(const Page& page, OCRMode mode, std::string& refused) {
    OCRSettings settings;
    settings.mode = mode;
    const Raster::SourceImage source = Raster::image(page.image);
    const double start = processorSeconds();
    try {
        OCREngine::recognize(source.image, source.orientation, 1, settings, [] { return false; });
    } catch (const BrindlexError& e) {
        refused = std::string(BrindlexError::rawValue(e.errorCase()));
    }
    return processorSeconds() - start;
}

// The command line's processor seconds (user and system) on the page, from
// the child's own usage as its wait returns it; -1 when it failed.
double commandLineSeconds(const Page& page, const std::string& languages, const std::string& psm,
                          const fs::path& outBase) {
    const std::vector<std::string> argv{"tesseract", page.image.string(), outBase.string(), "-l", languages,
                                        "--psm", psm, "--dpi", page.dpi};
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path set = "../shared/ocr-dev";
    fs::path real = "../shared/ocr-real";
    std::string modeName = "vertical";
    int rounds = 5;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("set=", 0) == 0) set = arg.substr(4);
        if (arg.rfind("real=", 0) == 0) real = arg.substr(5);
        if (arg.rfind("mode=", 0) == 0) modeName = arg.substr(5);
        if (arg.rfind("rounds=", 0) == 0) rounds = std::max(1, std::atoi(arg.substr(7).c_str()));
        if (arg.rfind("only=", 0) == 0) only = listOf(arg.substr(5));
    }
    if (modeName != "vertical" && modeName != "standard") {
        std::fprintf(stderr, "mode=vertical or mode=standard\n");
        return 2;
    }
    const bool vertical = modeName == "vertical";
    const OCRMode mode = vertical ? OCRMode::vertical : OCRMode::standard;
    const std::string languages = vertical ? "jpn_vert" : "jpn+eng";
    const std::string psm = vertical ? "5" : "3";
    std::vector<Page> pages;
    for (const fs::path& folder : {set, real}) {
        if (folder.empty()) continue;
        if (const auto missing = test::missingSharedFolder(folder)) {
            std::fprintf(stderr, "%s: %s\n", test::underCI() ? "failed" : "skipped", missing->c_str());
            return test::underCI() ? 1 : 0;
        }
        for (Page& p : pagesOf(folder, vertical ? "vertical" : "horizontal", only)) pages.push_back(std::move(p));
    }
    if (pages.empty()) {
        std::fprintf(stderr, "no pages\n");
        return 1;
    }
    const char* limit = std::getenv("OMP_THREAD_LIMIT");
    std::printf("%s mode against tesseract -l %s --psm %s: %zu pages, %d rounds, OMP_THREAD_LIMIT=%s\n",
                modeName.c_str(), languages.c_str(), psm.c_str(), pages.size(), rounds, limit ? limit : "(unset)");
    const test::TempDir out;
    std::string refused;
    // The engines loaded before timing: a page of each set, Latin words and
    // digits among them.
    modeSeconds(pages.front(), mode, refused);
    modeSeconds(pages.back(), mode, refused);
    // [page][round]
    std::vector<std::vector<double>> ours(pages.size()), theirs(pages.size());
    std::vector<std::string> refusals(pages.size());
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t i = 0; i < pages.size(); ++i) {
            ours[i].push_back(modeSeconds(pages[i], mode, refusals[i]));
            const double cli = commandLineSeconds(pages[i], languages, psm, out / "page");
            if (cli < 0) {
                std::fprintf(stderr, "tesseract failed on %s\n", pages[i].image.c_str());
                return 1;
            }
            theirs[i].push_back(cli);
        }
        std::fprintf(stderr, "round %d done\n", r + 1);
    }
    std::printf("\n%-44s %8s %8s %7s %13s  %s\n", "page", "mode s", "cli s", "ratio", "ratio min-max", "refused");
    std::vector<double> pageRatios;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) ratios.push_back(ours[i][r] / theirs[i][r]);
        const double ratio = median(ours[i]) / median(theirs[i]);
        pageRatios.push_back(ratio);
        std::printf("%-44s %8.2f %8.2f %6.2f× %6.2f-%5.2f×  %s\n", pages[i].stem.c_str(), median(ours[i]),
                    median(theirs[i]), ratio, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), refusals[i].c_str());
    }
    std::printf("\n%-8s %9s %9s %7s\n", "round", "mode s", "cli s", "ratio");
    std::vector<double> roundRatios;
    for (int r = 0; r < rounds; ++r) {
        double a = 0, b = 0;
        for (std::size_t i = 0; i < pages.size(); ++i) a += ours[i][r], b += theirs[i][r];
        roundRatios.push_back(a / b);
        std::printf("%-8d %9.2f %9.2f %6.3f×\n", r + 1, a, b, a / b);
    }
    std::printf("\nsum over the pages, median of %d rounds: %.3f× (%.3f-%.3f×); median page %.2f×, pages slower: %zu of %zu\n",
                rounds, median(roundRatios), *std::min_element(roundRatios.begin(), roundRatios.end()),
                *std::max_element(roundRatios.begin(), roundRatios.end()), median(pageRatios),
                static_cast<std::size_t>(std::count_if(pageRatios.begin(), pageRatios.end(), [](double x) { return x > 1; })),
                pageRatios.size());
    return 0;
}
