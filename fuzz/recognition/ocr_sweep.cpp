// Reads pages in every recognition mode under AddressSanitizer and
// UndefinedBehaviorSanitizer, each reading in a process of its own, and
// holds when every reading ends in text or in a refusal with its reason
// (a BrindlexError): no crash, no sanitizer report, no other exception, and
// no reading longer than the bound. The pages are those of the development
// sets (../shared/ocr-dev and ../shared/ocr-real, from their manifests), the
// hostile pages drawn at run time and the hostile files written at run time
// into OUT/files, which the reading opens itself: a refusal to open one
// counts as the reading's refusal.
//
// Usage: velmora_ocr_sweep SHARED [sample] [workers=N] [bound=SECONDS] [out=DIR] [only=TEXT,...] [modes=MODE,...]
//   sample: the hostile pages and files and the first page of each group of each set
//   (the development set's kinds of page, the real set's layouts clean and
//   degraded) instead of every page.
// Prints one line per reading, then the figures per mode and the failures
// with their reasons; exits 1 when any reading failed, 77 (skipped) when
// SHARED is absent, unless CI is set.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/OCRMode.hpp"
#include "foundation/Raster.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "HostilePages.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* hostilePrefix = "hostile:";
constexpr const char* hostileFileGroup = "hostile file";

struct Page {
    std::string source;  // an image or PDF file, or hostilePrefix and a hostile page's name
    std::string label;  // <set>/<stem>
    std::string group;  // the set and the kind of page
    bool degraded = false;
};

struct Job {
    const Page* page = nullptr;
    OCRMode mode = OCRMode::standard;
    std::string name;  // file stem for its result and log
};

struct Result {
    std::string outcome;  // text, refused, or a failure: crashed, escaped, over the bound, sanitizer
    std::string detail;
    double seconds = 0;  // processor seconds of the reading
    bool failed() const { return outcome != "text" && outcome != "refused"; }
};

// The kind of a development page as the quality benchmark groups them:
// tables and prose across, full pages and the others down; a real page's
// group is its layout, clean or degraded.
std::string groupOf(const std::string& set, const std::string& stem, const std::string& layout, bool degraded) {
    const std::string text = stem.substr(0, stem.find('_'));
    if (set != "ocr-dev") return set + " " + layout + (degraded ? " degraded" : " clean");
    if (layout == "horizontal") return set + (text.rfind("table", 0) == 0 ? " tables" : " prose across");
    return set + (text == "longv" ? " full vertical" : " other vertical");
}

std::vector<Page> manifest(const fs::path& folder) {
    std::vector<Page> pages;
    std::ifstream in(folder / "manifest.tsv");
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f.size() < 6) continue;
        const std::string set = folder.filename().string(), stem = fs::path(f[0]).stem().string();
        const bool degraded = f[5] != "none";
        pages.push_back({(folder / f[0]).string(), set + "/" + stem, groupOf(set, stem, f[2], degraded), degraded});
    }
    return pages;
}

// The first page of each group.
std::vector<Page> sampled(const std::vector<Page>& pages) {
    std::set<std::string> taken;
    std::vector<Page> out;
    for (const Page& p : pages) {
        if (taken.insert(p.group).second) out.push_back(p);
    }
    return out;
}

// The reading's time is the processor time of its process: the workers
// share the machine with whatever else runs on it, and the clock on the wall
// counts the time they wait for a core too. One reading runs on one core
// (OMP_THREAD_LIMIT=1), so on an idle machine the two agree.
double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A child's processor seconds so far, from /proc.
double processorSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::stringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k) {
        if (k == 14 || k == 15) ticks += std::stod(field);  // utime, stime
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void writeResult(const fs::path& file, const Result& r) {
    std::ofstream out(file);
    out << r.outcome << '\n' << r.seconds << '\n' << r.detail << '\n';
}

// The reading itself, in the child: its stderr goes to the job's log, its
// outcome to the job's result file, its text beside it.
[[noreturn]] void readInChild(const Job& job, const fs::path& out) {
    const int log = ::open((out / "logs" / (job.name + ".log")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) ::dup2(log, STDERR_FILENO);
    Result r;
    std::string text;
    try {
        RasterImage image;
        uint32_t orientation = 1;
        const bool hostileFile = job.page->group == hostileFileGroup;
        if (job.page->source.rfind(hostilePrefix, 0) == 0) {
            image = sweep::hostilePage(job.page->source.substr(std::string(hostilePrefix).size()));
        } else if (!hostileFile) {
            const Raster::SourceImage source = Raster::image(job.page->source);
            image = source.image;
            orientation = source.orientation;
        }
        OCRSettings settings;
        settings.mode = job.mode;
        const double start = processorSeconds();
        const auto wallStart = Clock::now();
        try {
            if (hostileFile) {
                const Raster::SourceImage source = sweep::loadHostileFile(job.page->source);
                image = source.image;
                orientation = source.orientation;
            }
            text = OCREngine::recognize(image, orientation, 1, settings, [] { return false; }).text();
            r.outcome = "text";
            r.detail = std::to_string(text.size()) + " bytes";
        } catch (const BrindlexError& e) {
            r.outcome = "refused";
            r.detail = std::string(BrindlexError::rawValue(e.errorCase())) + " " + e.what();
        } catch (const CancellationError&) {
            r.outcome = "escaped";
            r.detail = "a cancellation nobody asked for";
        } catch (const std::exception& e) {
            r.outcome = "escaped";
            r.detail = e.what();
        }
        r.seconds = processorSeconds() - start;
        r.detail += " (" + std::to_string(static_cast<int>(std::chrono::duration<double>(Clock::now() - wallStart).count())) +
                    " s on the clock)";
    } catch (const std::exception& e) {
        r.outcome = "setup";
        r.detail = std::string("the page could not be made: ") + e.what();
    }
    std::ofstream(out / "text" / (job.name + ".txt")) << text;
    writeResult(out / "results" / (job.name + ".txt"), r);
    std::fflush(stderr);
    ::_exit(0);
}

// The first line of a sanitizer's report in the log, if any.
std::string sanitizerReport(const fs::path& log) {
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find("Sanitizer") != std::string::npos || line.find("runtime error:") != std::string::npos) return line;
    }
    return {};
}

Result collect(const Job& job, const fs::path& out, int status, double bound, bool stopped, double elapsed) {
    // elapsed: the child's processor seconds when it was stopped or ended.
    Result r;
    const fs::path log = out / "logs" / (job.name + ".log");
    const std::string report = sanitizerReport(log);
    if (stopped) {
        r = {"over the bound", "stopped after " + std::to_string(static_cast<int>(elapsed)) + " processor s", elapsed};
    } else if (WIFSIGNALED(status) || WEXITSTATUS(status) != 0) {
        r = {"crashed",
             (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status))) +
                 (report.empty() ? "" : ": " + report),
             elapsed};
    } else {
        std::ifstream in(out / "results" / (job.name + ".txt"));
        std::string seconds;
        std::getline(in, r.outcome);
        std::getline(in, seconds);
        std::getline(in, r.detail);
        r.seconds = seconds.empty() ? elapsed : std::stod(seconds);
        if (!report.empty()) r = {"sanitizer", report, r.seconds};
        if (!r.failed() && r.seconds > bound) r.detail = "over the bound: " + r.detail, r.outcome = "over the bound";
    }
    if (r.failed() && !report.empty()) r.detail += " (log: " + log.string() + ")";
    return r;
}

struct Running {
    std::size_t job = 0;
    Clock::time_point start;
    double processor = 0;  // seconds, last looked at
    bool stopped = false;
};

std::map<std::string, std::string> arguments(int argc, char** argv, std::string& shared) {
    std::map<std::string, std::string> named;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto equals = a.find('=');
        if (a == "sample") {
            named["sample"] = "1";
        } else if (equals != std::string::npos) {
            named[a.substr(0, equals)] = a.substr(equals + 1);
        } else {
            shared = a;
        }
    }
    return named;
}

}  // namespace

int main(int argc, char** argv) {
    std::string shared;
    std::map<std::string, std::string> named = arguments(argc, argv, shared);
    if (shared.empty()) {
        std::fprintf(stderr, "usage: %s SHARED [sample] [workers=N] [bound=SECONDS] [out=DIR] [only=TEXT,...] [modes=MODE,...]\n", argv[0]);
        return 2;
    }
    const bool underCI = std::getenv("CI") && *std::getenv("CI");
    if (!fs::is_directory(shared)) {
        std::printf("the development folder %s is absent%s\n", shared.c_str(), underCI ? " (CI is set)" : ": skipped");
        return underCI ? 1 : 77;
    }
    const int workers = named.count("workers") ? std::stoi(named["workers"]) : 2;
    const double bound = named.count("bound") ? std::stod(named["bound"]) : 60;
    const fs::path out = named.count("out") ? fs::path(named["out"]) : fs::path("ocr-sweep");
    // One core per reading: the workers share the machine.
    ::setenv("OMP_THREAD_LIMIT", "1", 0);

    fs::remove_all(out);
    for (const char* sub : {"logs", "results", "text"}) fs::create_directories(out / sub);
    std::vector<Page> pages;
    for (const std::string& name : sweep::hostilePageNames()) pages.push_back({hostilePrefix + name, "hostile/" + name, "hostile"});
    for (const fs::path& file : sweep::writeHostileFiles(out / "files")) {
        pages.push_back({file.string(), "hostile-file/" + file.filename().string(), hostileFileGroup});
    }
    for (const char* set : {"ocr-dev", "ocr-real"}) {
        std::vector<Page> some = manifest(fs::path(shared) / set);
        if (some.empty()) {
            std::printf("no pages in %s/%s/manifest.tsv\n", shared.c_str(), set);
            return 1;
        }
        if (named.count("sample")) some = sampled(some);
        pages.insert(pages.end(), some.begin(), some.end());
    }
    if (named.count("only")) {
        std::vector<std::string> only;
        std::stringstream list(named["only"]);
        for (std::string item; std::getline(list, item, ',');) only.push_back(item);
        std::erase_if(pages, [&](const Page& p) {
            return std::none_of(only.begin(), only.end(), [&](const std::string& o) { return p.label.find(o) != std::string::npos; });
        });
    }
    std::vector<OCRMode> modes(allOCRModes.begin(), allOCRModes.end());
    if (named.count("modes")) {
        modes.clear();
        std::stringstream list(named["modes"]);
        for (std::string item; std::getline(list, item, ',');) {
            if (const auto mode = fromRaw<OCRMode>(item)) modes.push_back(*mode);
        }
    }
    std::vector<Job> jobs;
    for (OCRMode mode : modes) {
        for (const Page& p : pages) {
            std::string name = std::string(rawValue(mode)) + "_" + p.label;
            std::replace(name.begin(), name.end(), '/', '_');
            jobs.push_back({&p, mode, name});
        }
    }
    std::printf("%zu pages in %zu modes, %zu readings, %d at a time, bound %.0f processor s a reading; logs in %s\n", pages.size(),
                modes.size(), jobs.size(), workers, bound, out.c_str());
    std::fflush(stdout);

    // Each reading in a child of this single-threaded process, so a crash
    // takes only its own reading, and a reading past twice the bound in
    // processor time is stopped.
    const auto began = Clock::now();
    std::vector<Result> results(jobs.size());
    std::map<pid_t, Running> running;
    std::size_t next = 0, done = 0;
    while (done < jobs.size()) {
        while (running.size() < static_cast<std::size_t>(workers) && next < jobs.size()) {
            std::fflush(nullptr);
            const pid_t child = ::fork();
            if (child == 0) readInChild(jobs[next], out);
            if (child < 0) {
                std::perror("fork");
                return 1;
            }
            running[child] = {next++, Clock::now()};
        }
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, WNOHANG);
        if (ended <= 0) {
            for (auto& [pid, r] : running) {
                r.processor = std::max(r.processor, processorSecondsOf(pid));
                if (!r.stopped && r.processor > 2 * bound) {
                    ::kill(pid, SIGKILL);
                    r.stopped = true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const Running r = running.at(ended);
        running.erase(ended);
        const double elapsed = r.processor;
        const Job& job = jobs[r.job];
        results[r.job] = collect(job, out, status, bound, r.stopped, elapsed);
        const Result& result = results[r.job];
        std::printf("[%zu/%zu] %-11s %-55s %7.1f s  %s: %s\n", ++done, jobs.size(), std::string(rawValue(job.mode)).c_str(),
                    job.page->label.c_str(), result.seconds, result.outcome.c_str(), result.detail.c_str());
        std::fflush(stdout);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();

    double processor = 0;
    for (const Result& r : results) processor += r.seconds;
    std::printf("\n%zu pages, %zu modes, %zu readings in %.0f s (%d at a time), %.0f processor s in all\n", pages.size(),
                modes.size(), jobs.size(), wall, workers, processor);
    std::printf("%-11s %6s %8s %7s  %s\n", "mode", "text", "refused", "failed", "slowest reading");
    std::size_t failures = 0;
    for (OCRMode mode : modes) {
        std::size_t text = 0, refused = 0, failed = 0;
        const Result* slowest = nullptr;
        const Job* slowestJob = nullptr;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (jobs[i].mode != mode) continue;
            const Result& r = results[i];
            text += r.outcome == "text";
            refused += r.outcome == "refused";
            failed += r.failed();
            if (!slowest || r.seconds > slowest->seconds) slowest = &r, slowestJob = &jobs[i];
        }
        failures += failed;
        std::printf("%-11s %6zu %8zu %7zu  %.1f s %s\n", std::string(rawValue(mode)).c_str(), text, refused, failed,
                    slowest ? slowest->seconds : 0.0, slowestJob ? slowestJob->page->label.c_str() : "");
    }
    std::map<std::string, int> reasons;
    for (const Result& r : results) {
        if (r.outcome == "refused") reasons[r.detail.substr(0, r.detail.find(' '))] += 1;
    }
    std::printf("refusals:");
    for (const auto& [reason, count] : reasons) std::printf(" %s %d", reason.c_str(), count);
    std::printf("\n");
    if (failures == 0) {
        std::printf("no failures\n");
        return 0;
    }
    std::printf("\n%zu failures:\n", failures);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (results[i].failed()) {
            std::printf("  %s %s: %s: %s\n", std::string(rawValue(jobs[i].mode)).c_str(), jobs[i].page->label.c_str(),
                        results[i].outcome.c_str(), results[i].detail.c_str());
        }
    }
    return 1;
}
