#include "support/web/RawHttpServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora::test {

namespace {

// How long a poll waits before the thread looks at whether it should stop.
constexpr int pollMilliseconds = 50;

bool sendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

RawHttpServer::RawHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("the raw test server has no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        throw std::runtime_error(std::string("the raw test server cannot listen: ") + std::strerror(errno));
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    for (auto& connection : connections_) connection.join();
    ::close(listener_);
}

std::string RawHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RawHttpServer::answer(const std::string& path, std::string bytes) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(bytes);
}

int RawHttpServer::requests(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = requests_.find(path);
    return it == requests_.end() ? 0 : it->second;
}

std::string RawHttpServer::head(const std::string& version, const std::map<std::string, std::string>& headers) {
    std::string out = "HTTP/" + version + " 200 OK\r\n";
    for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
    return out + "\r\n";
}

void RawHttpServer::serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, pollMilliseconds) <= 0) continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        // Each connection on a thread of its own: a client may hold one
        // open while it asks again on another.
        connections_.emplace_back([this, connection] {
            serveOne(connection);
            ::close(connection);
        });
    }
}

void RawHttpServer::serveOne(int connection) {
    // The request's head, up to its blank line; its body (none here) is
    // not read.
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !stopping_) {
        pollfd waiting{connection, POLLIN, 0};
        if (::poll(&waiting, 1, pollMilliseconds) <= 0) continue;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t methodEnd = request.find(' ');
    const std::size_t pathEnd = methodEnd == std::string::npos ? std::string::npos : request.find(' ', methodEnd + 1);
    if (pathEnd == std::string::npos) return;
    const std::string path = request.substr(methodEnd + 1, pathEnd - methodEnd - 1);
    std::string bytes;
    {
        std::lock_guard lock(mutex_);
        ++requests_[path];
        auto it = answers_.find(path);
        bytes = it == answers_.end() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                                     : it->second;
    }
    if (!sendAll(connection, bytes)) return;
    // The end of the answer is the end of the connection: whatever length
    // the head announced, the client reads no more.
    ::shutdown(connection, SHUT_WR);
    // Waits for the client to close its side, so that nothing it still
    // sends resets the connection before it has read the bytes.
    while (!stopping_) {
        pollfd waiting{connection, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, pollMilliseconds);
        if (ready < 0) return;
        if (ready == 0) continue;
        if (::recv(connection, buffer, sizeof buffer, 0) <= 0) return;
    }
}

}  // namespace velmora::test
