// Crashes after committed edits, on a queue of 1000 inputs of 100 pages
// (its first input recognised, the others copies of its records):
//
// - "after": a process opens the queue in the controller, types on a page
//   and leaves it with goPage(), then is killed 0-300 ms after goPage()
//   returned, as a user's crash would come. The reopened queue must hold
//   that edit; the figure is how many kills lost it.
// - "inside": a process stores edits one after another through the engine,
//   folding the journal into the queue every fifth store (or as often as
//   asked: a fold of a large queue takes far longer than an append, so a
//   rare fold puts the kills inside appends), and is killed at a random
//   moment 0-300 ms in, inside an append, a fold or between them. The
//   reopened queue must hold every edit whose store had returned.
//
// Each kill is a new process (the program runs itself), killed with SIGKILL.
// Run by hand:
//   build/benchmarks/QueueEditKillBenchmark [kills [inputs [pages [fold every [after|inside]]]]]
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "ocrqueue/ControllerFixtures.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void report(int fd, int32_t value) {
    if (::write(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) ::_exit(3);
}

std::string afterText(int32_t round) { return "kill " + std::to_string(round); }
std::string insideText(int32_t k) { return "store " + std::to_string(k); }

// Child of "after": the edit made through the controller, then nothing but
// the main loop until the kill.
int afterChild(const fs::path& roots, const fs::path& folder, int32_t round, int pages, int fd) {
    AppRuntime::ScopedOverride scoped{AppRuntime{roots / "storage", roots / "output"}};
    auto c = QueueController::create(roots / "queues", roots / "output", QueuePorts{});
    std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::resume(folder, OCRSettings());
    c->engine = engine;
    c->snapshot = engine->snapshot();
    c->selectedID = c->snapshot->value().inputs.front().id;
    c->page = 1 + round % pages;
    c->showPage();
    c->editText(afterText(round), std::nullopt, std::nullopt, false);
    if (!c->goPage(c->page.get() % pages + 1)) return 4;
    report(fd, round);
    for (;;) g_main_context_iteration(nullptr, TRUE);
}

// Child of "inside": every store reported once its call returned; -1 just
// before a fold, -2 after it.
int insideChild(const fs::path& roots, const fs::path& folder, int32_t first, int pages, int foldEvery, int fd) {
    AppRuntime::ScopedOverride scoped{AppRuntime{roots / "storage", roots / "output"}};
    auto engine = OCRQueueEngine::resume(folder, OCRSettings());
    const UUID id = engine->snapshot().inputs.front().id;
    report(fd, 0);
    for (int32_t k = first;; ++k) {
        OCRQueueEngine::EditorRecord r;
        r.inputID = id;
        r.page = 1 + k % pages;
        r.text = insideText(k);
        r.selection = true;
        engine->stageEditor(r);
        report(fd, k);
        if (k % foldEvery == 0) {
            report(fd, -1);
            engine->compact();
            report(fd, -2);
        }
    }
}

struct Child {
    pid_t pid = -1;
    int fd = -1;
};

Child spawn(const std::vector<std::string>& args) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) std::abort();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[1], 3);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    return {pid, ends[0]};
}

// The child's next report; false at its end or after two minutes of silence.
bool next(const Child& child, int32_t& value) {
    pollfd p{child.fd, POLLIN, 0};
    if (::poll(&p, 1, 120000) <= 0) return false;
    return ::read(child.fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

int finish(Child& child) {
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 8 && (std::strcmp(argv[1], "--after") == 0 || std::strcmp(argv[1], "--inside") == 0)) {
        const fs::path roots = argv[2], folder = argv[3];
        const auto number = static_cast<int32_t>(std::atoi(argv[4]));
        const int pages = std::atoi(argv[5]);
        const int foldEvery = std::max(std::atoi(argv[6]), 1);
        const int fd = std::atoi(argv[7]);
        try {
            return argv[1][2] == 'a' ? afterChild(roots, folder, number, pages, fd)
                                     : insideChild(roots, folder, number, pages, foldEvery, fd);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
            return 2;
        }
    }
    const int kills = argc > 1 ? std::atoi(argv[1]) : 200;
    const int inputs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int pages = argc > 3 ? std::atoi(argv[3]) : 100;
    const std::string foldEvery = argc > 4 ? argv[4] : "5";
    const std::string phases = argc > 5 ? argv[5] : "after inside";
    const unsigned seed = static_cast<unsigned>(Clock::now().time_since_epoch().count());
    std::mt19937 rng(seed);
    std::printf("seed %u\n", seed);

    test::ControllerRoots roots(false);
    fs::path folder;
    {
        auto made = OCRQueueEngine::create({{test::writeDocument(roots.tmp / "doc.pdf", pages)}}, OCRSettings(),
                                           roots.tmp / "queues");
        test::fakeRecognition().configure(*made);
        JobControl control;
        made->run(control, false, {}, {}, [](const QueueSnapshot&) {});
        folder = made->directory()->url();
    }
    test::padQueue(folder, inputs);
    const fs::path childRoots = roots.tmp / "child";
    fs::create_directories(childRoots);
    const std::string self = argv[0];

    // After the committing call returned.
    int lost = 0, done = 0;
    const auto started = Clock::now();
    for (int32_t round = 0; done < kills && phases.find("after") != std::string::npos; ++round) {
        Child child = spawn({self, "--after", childRoots.string(), folder.string(), std::to_string(round),
                             std::to_string(pages), foldEvery, "3"});
        int32_t value = 0;
        if (!next(child, value)) {
            const int status = finish(child);
            std::printf("round %d: the child ended before its edit (status %d)\n", round, status);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300000));
        finish(child);
        ::close(child.fd);
        ++done;
        const QueueSnapshot s = OCRQueueEngine::inspect(folder);
        const auto& edited = s.inputs.front().editedPages;
        const auto found = edited.find(1 + round % pages);
        if (found == edited.end() || found->second != afterText(round)) ++lost;
    }
    if (done > 0) {
        std::printf("after: %d kills 0-300 ms after goPage() returned, %d edits lost (%.1f %%), %.0f s\n", done,
                    lost, 100.0 * lost / done, std::chrono::duration<double>(Clock::now() - started).count());
    }

    // Inside appends and folds.
    int missing = 0, inFold = 0;
    done = 0;
    int32_t first = 1;
    const auto insideStarted = Clock::now();
    while (done < kills && phases.find("inside") != std::string::npos) {
        Child child = spawn({self, "--inside", childRoots.string(), folder.string(), std::to_string(first),
                             std::to_string(pages), foldEvery, "3"});
        int32_t value = 0;
        if (!next(child, value)) {
            std::printf("the child ended before it opened the queue (status %d)\n", finish(child));
            return 1;
        }
        std::map<int64_t, int32_t> reported;
        bool folding = false;
        const auto note = [&](int32_t v) {
            if (v == -1) folding = true;
            if (v == -2) folding = false;
            if (v > 0) reported[1 + v % pages] = v;
        };
        const auto until = Clock::now() + std::chrono::microseconds(rng() % 300000);
        // Reports are taken as they come, so that the writer never waits on
        // a full pipe.
        while (Clock::now() < until) {
            pollfd p{child.fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (::poll(&p, 1, static_cast<int>(std::max<long>(left, 0))) > 0 && next(child, value)) note(value);
        }
        ::kill(child.pid, SIGKILL);
        while (next(child, value)) note(value);
        int status = 0;
        ::waitpid(child.pid, &status, 0);
        ::close(child.fd);
        if (!WIFSIGNALED(status)) {
            std::printf("the writer ended by itself (status %d)\n", status);
            return 1;
        }
        ++done;
        if (folding) ++inFold;
        const QueueSnapshot s = OCRQueueEngine::inspect(folder);
        const auto& edited = s.inputs.front().editedPages;
        int32_t highest = first - 1;
        for (const auto& [page, k] : reported) {
            const auto found = edited.find(page);
            const bool ours = found != edited.end() && found->second.rfind("store ", 0) == 0;
            const int32_t kept = ours ? std::atoi(found->second.c_str() + 6) : -1;
            if (kept < k) ++missing;
            highest = std::max(highest, kept);
        }
        first = std::max(highest, first) + 1;
        for (const auto& [page, k] : reported) first = std::max(first, k + 1);
    }
    if (done > 0) {
        std::printf("inside: %d kills (%d inside a fold, one every %s stores), %d committed edits missing, %.0f s\n",
                    done, inFold, foldEvery.c_str(), missing,
                    std::chrono::duration<double>(Clock::now() - insideStarted).count());
    }
    return lost + missing > 0 ? 1 : 0;
}
