#pragma once

// A server on 127.0.0.1 that answers every connection with bytes the test
// writes out in full, status line and headers included, and then closes the
// connection: the answers a well-behaved HTTP library never sends (a body cut
// off before its announced length, a chunk cut in its middle, more bytes than
// announced) are written here byte for byte.
//
// Connections are served on threads of the server's own, with blocking
// sockets: the client reads in another process at its own pace, and the
// test's main loop stays free to answer it. The thread ends with the object.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

class RawHttpServer {
public:
    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string url(const std::string& path) const;

    // The whole answer to a request for path (the status line, the headers,
    // the blank line and whatever body); the connection closes after it.
    // Unknown paths get a 404 without a body.
    void answer(const std::string& path, std::string bytes);
    // Requests seen for a path so far.
    int requests(const std::string& path) const;

    // An answer's head: the status line "HTTP/<version> 200 OK" and the
    // headers, each line ended by CR LF, then the blank line.
    static std::string head(const std::string& version, const std::map<std::string, std::string>& headers);

private:
    void serve();
    void serveOne(int connection);

    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> answers_;
    std::map<std::string, int> requests_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    // Touched only by the accepting thread, and joined after it.
    std::vector<std::thread> connections_;
};

}  // namespace velmora::test
