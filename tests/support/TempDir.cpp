#include "support/TempDir.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora::test {

TempDir::TempDir(bool inMemory) {
    std::error_code ec;
    auto base = inMemory && std::filesystem::is_directory("/dev/shm", ec)
                    ? std::filesystem::canonical("/dev/shm")
                    : std::filesystem::canonical(std::filesystem::temp_directory_path());
    std::string templ = (base / "velmora-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything removable, whatever a test left read-only.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> listNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int runInChild(const std::function<void()>& body) {
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int code = 0;
        try {
            body();
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

HeldChild::HeldChild(std::function<void()> setup) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(up[0]);
        ::close(down[1]);
        char ok = '1';
        try {
            setup();
        } catch (...) {
            ok = '0';
        }
        (void)!::write(up[1], &ok, 1);
        char c;
        (void)!::read(down[0], &c, 1);
        ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    toChild_ = down[1];
    char c = '0';
    ok_ = ::read(up[0], &c, 1) == 1 && c == '1';
    ::close(up[0]);
}

void HeldChild::stop() {
    if (pid_ <= 0) return;
    ::close(toChild_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

HeldChild::~HeldChild() { stop(); }

}  // namespace velmora::test
