#include "support/OwnTemporaryFolder.hpp"

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long the processes a program left behind may go on after it ended.
constexpr auto lingering = 30s;

volatile sig_atomic_t programPid = 0;

void passOn(int signal) {
    if (programPid > 0) ::kill(programPid, signal);
}

// This process's children by their parent field: the ones the kernel gave
// it are not known to it until they end.
std::vector<pid_t> children() {
    std::vector<pid_t> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(it->path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // pid (command) state ppid …; the command may hold spaces and
        // parentheses of its own.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == ::getpid())
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

// Reaps every child until none is left; those still running after the
// deadline are killed.
void reapAll(std::chrono::steady_clock::time_point deadline) {
    bool killed = false;
    while (true) {
        const pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
        if (pid > 0) continue;
        if (pid < 0 && errno == EINTR) continue;
        if (pid < 0) return;  // ECHILD: no child is left
        if (!killed && std::chrono::steady_clock::now() >= deadline) {
            for (const pid_t child : children()) {
                std::fprintf(stderr, "process %d still runs %llds after the test program ended: killed\n",
                             static_cast<int>(child), static_cast<long long>(lingering.count()));
                ::kill(child, SIGKILL);
            }
            killed = true;
        }
        std::this_thread::sleep_for(20ms);
    }
}

void removeAll(const fs::path& folder) {
    std::error_code ec;
    // Made removable, whatever a test left read-only.
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(folder, ec);
    if (ec) std::fprintf(stderr, "cannot remove %s: %s\n", folder.c_str(), ec.message().c_str());
}

}  // namespace

int runInTemporaryFolderOfItsOwn(const std::function<int()>& program) {
    std::error_code ec;
    const fs::path base = fs::canonical(fs::temp_directory_path(), ec);
    std::string folder = ((ec ? fs::path("/tmp") : base) / "velmora-run-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::perror("prctl(PR_SET_CHILD_SUBREAPER)");
        removeAll(folder);
        return 1;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        removeAll(folder);
        return 1;
    }
    if (pid == 0) {
        ::setenv("TMPDIR", folder.c_str(), 1);
        const int code = program();
        // The program's own ending: its static objects go as they would
        // have in main.
        std::exit(code);
    }

    programPid = pid;
    struct sigaction forward {};
    forward.sa_handler = passOn;
    ::sigemptyset(&forward.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &forward, nullptr);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    programPid = 0;
    reapAll(std::chrono::steady_clock::now() + lingering);
    removeAll(folder);

    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return 128 + signal;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace velmora::test
