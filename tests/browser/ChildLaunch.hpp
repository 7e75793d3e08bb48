#pragma once

// A child program of the browser tests, started with arguments; its output
// lines are read while the main loop turns (this process serves the pages
// it loads).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/MainLoop.hpp"

namespace velmora::test {

// One launch of the child program; its output lines are read while the
// main loop turns (the server answers from it).
class ChildLaunch {
public:
    explicit ChildLaunch(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        GError* error = nullptr;
        GPid pid = 0;
        int out = -1;
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                      &pid, nullptr, &out, nullptr, &error)) {
            std::string why = error->message;
            g_error_free(error);
            throw std::runtime_error("cannot start the child: " + why);
        }
        pid_ = pid;
        out_ = out;
        ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
    }
    ~ChildLaunch() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // Waits until the child has printed a line starting with prefix.
    bool waitFor(const std::string& prefix, std::chrono::milliseconds bound = 60s) {
        return spinUntil([&] {
            pump();
            for (const auto& l : lines_)
                if (l.starts_with(prefix)) return true;
            return exited_;
        }, bound) && has(prefix);
    }
    // Waits for the child's end; its exit status, or -1.
    int finish(std::chrono::milliseconds bound = 60s) {
        spinUntil([&] { return pump(), exited_; }, bound);
        return exited_ ? status_ : -1;
    }
    void kill() {
        ::kill(pid_, SIGKILL);
        finish();
    }
    // The child and every process of its group (a child that made itself a
    // group leader takes the helpers it started with it).
    void killGroup() {
        ::kill(-pid_, SIGKILL);
        finish();
    }
    bool has(const std::string& line) const {
        for (const auto& l : lines_)
            if (l.starts_with(line)) return true;
        return false;
    }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    void pump() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(out_, buffer, sizeof buffer)) > 0) partial_.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        if (!exited_ && pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                pid_ = -1;
            }
        }
    }

    GPid pid_ = -1;
    int out_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    bool exited_ = false;
    int status_ = -1;
};

inline std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace velmora::test
