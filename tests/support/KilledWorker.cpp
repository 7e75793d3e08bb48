#include "support/KilledWorker.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace velmora::test {

KilledWorker::KilledWorker(const std::function<void(int reportFD)>& body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(fds[0]);
        int code = 0;
        try {
            body(fds[1]);
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    ::close(fds[1]);
    fd_ = fds[0];
}

KilledWorker::~KilledWorker() {
    if (pid_ > 0) {
        sendKill();
        reap();
    }
    if (fd_ >= 0) ::close(fd_);
}

bool KilledWorker::readBytes(void* data, std::size_t size) {
    pollfd p{fd_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, 20000)) < 0 && errno == EINTR) {
    }
    if (ready != 1) throw std::runtime_error("the worker stopped answering");
    ssize_t n;
    while ((n = ::read(fd_, data, size)) < 0 && errno == EINTR) {
    }
    if (n == 0) return false;
    // Reports are far below the pipe's atomic size, so one read is one report.
    if (n != static_cast<ssize_t>(size)) throw std::runtime_error("a torn report");
    return true;
}

void KilledWorker::sendKill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
}

int KilledWorker::reap() {
    if (pid_ <= 0) throw std::logic_error("the worker was already reaped");
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

void writeReport(int fd, const void* data, std::size_t size) {
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) ::_exit(3);
}

}  // namespace velmora::test
