#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>

namespace velmora::test {

// A forked worker that tells the test how far it got through a pipe and is
// killed with SIGKILL at a moment the test picks: the common half of the
// kill-and-resume tests. The child runs body with the pipe's writing end and
// exits 0 when body returns, 2 when it throws, 3 when the test has gone.
class KilledWorker {
public:
    explicit KilledWorker(const std::function<void(int reportFD)>& body);
    // A worker still there is killed and reaped.
    ~KilledWorker();
    KilledWorker(const KilledWorker&) = delete;
    KilledWorker& operator=(const KilledWorker&) = delete;

    // The worker's next report; false once its end of the pipe is closed. A
    // worker silent for 20 s is a std::runtime_error, not a hung test.
    template <typename T>
    bool read(T& value) {
        return readBytes(&value, sizeof value);
    }
    // Sends SIGKILL, hands every report the worker still made before it died
    // to each, reaps it and returns its wait status.
    template <typename T>
    int kill(const std::function<void(const T&)>& each) {
        sendKill();
        T value{};
        while (read(value)) each(value);
        return reap();
    }
    // Reaps a worker that ends by itself; its wait status.
    int reap();

private:
    bool readBytes(void* data, std::size_t size);
    void sendKill();

    pid_t pid_ = -1;
    int fd_ = -1;
};

// Sends one report from inside the worker; a test that has gone ends it.
void writeReport(int fd, const void* data, std::size_t size);
template <typename T>
void report(int fd, const T& value) {
    writeReport(fd, &value, sizeof value);
}

}  // namespace velmora::test
