#pragma once

#include <libsoup/soup.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

// An HTTP server on 127.0.0.1 (a free port) serving the routes a test
// registers, on the test's own main context: tests wait for it by turning
// the context, never by blocking. Unknown paths get a 404.
class WebTestServer {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    WebTestServer();
    ~WebTestServer();
    WebTestServer(const WebTestServer&) = delete;
    WebTestServer& operator=(const WebTestServer&) = delete;

    int port() const noexcept { return port_; }
    // A loopback port nobody listens on (bound a moment and let go): an
    // address there cannot be reached. Well-known ports such as 1 will not
    // do, as the engine blocks them itself without a failure.
    static int closedPort();
    // "http://127.0.0.1:<port>" followed by path.
    std::string url(const std::string& path) const;

    void html(const std::string& path, const std::string& body, Headers headers = {});
    void bytes(const std::string& path, const std::string& contentType, std::string data, Headers headers = {});
    // A PNG of one colour (0xRRGGBB), made when registered.
    void image(const std::string& path, int width, int height, uint32_t rgb = 0x3366cc);
    // Bytes served as a PNG that no decoder accepts.
    void brokenImage(const std::string& path);
    void status(const std::string& path, int code, const std::string& body = "");
    void redirect(const std::string& path, const std::string& to, int code = 302);
    // A response that waits until release(path) is called (or never): the
    // request is accepted and then nothing is sent.
    void held(const std::string& path, std::string html, std::string contentType = "text/html; charset=utf-8");
    void release(const std::string& path);
    // Answers a registered path only after a delay, as a slow server would.
    void delay(const std::string& path, std::chrono::milliseconds by);
    // Requests seen for a path so far (held ones included).
    int requests(const std::string& path) const;
    // Their HTTP methods, in the order they came.
    std::vector<std::string> methods(const std::string& path) const;
    // The paths answered 404 so far, in the order they came.
    const std::vector<std::string>& notFound() const noexcept { return notFound_; }
    // Their "Cookie" headers, in the order they came ("" for none).
    std::vector<std::string> cookies(const std::string& path) const;
    // Answers 401 with a Basic challenge, body as the page.
    void challenge(const std::string& path, const std::string& body);
    // Serves the files below root under the path prefix ("/" serves the
    // folder as the web root), each with the type its extension names; a
    // path that leaves the folder or names no regular file gets a 404.
    // Registered routes come first.
    void folder(const std::string& prefix, std::filesystem::path root);

    // A body generated as it is sent (generated(offset, n)), so that even a
    // gigabyte costs no memory: written chunk by chunk, each as soon as the
    // one before has gone (fast) or after an interval (slow), with its
    // length announced or as a chunked body, and optionally broken off by
    // closing the connection once breakAfter bytes have gone out.
    struct Stream {
        int64_t length = 0;
        int64_t chunk = 65536;
        bool announceLength = true;
        std::chrono::milliseconds interval{0};
        std::optional<int64_t> breakAfter{};
        std::string contentType = "application/octet-stream";
        Headers headers{};
    };
    void stream(const std::string& path, Stream shape);
    // The bytes of every generated body at [offset, offset + length).
    static std::string generated(int64_t offset, int64_t length);
    // The SHA-256 (lower-case hex) of a generated body of that length.
    static std::string generatedDigest(int64_t length);
    // Bytes of generated bodies written to the network for a path so far.
    int64_t streamed(const std::string& path) const;
    // Generated bodies of a path that ended: sent whole, broken off, or
    // abandoned by the client.
    int streamsEnded(const std::string& path) const;

private:
    struct Route {
        std::function<void(SoupServerMessage*)> respond;
        bool held = false;
        std::string heldBody;
        std::string heldType = "text/html; charset=utf-8";
        std::chrono::milliseconds delay{0};
    };
    struct Delayed {
        WebTestServer* server;
        SoupServerMessage* message;
        std::string path;
        guint source = 0;
    };
    struct Streaming;
    static gboolean answerDelayed(gpointer data);
    void startStream(SoupServerMessage* message, const std::string& path, const Stream& shape);
    static void onWroteChunk(SoupServerMessage*, gpointer data);
    static void onStreamEnded(SoupServerMessage*, gpointer data);
    static gboolean nextChunk(gpointer data);
    void appendChunk(Streaming& s);
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self);
    bool answerFromFolder(SoupServerMessage* message, const std::string& path) const;

    SoupServer* server_ = nullptr;
    int port_ = 0;
    std::map<std::string, Route> routes_;
    std::vector<std::pair<std::string, std::filesystem::path>> folders_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::vector<std::string>> methods_;
    std::map<std::string, std::vector<std::string>> cookies_;
    std::vector<std::string> notFound_;
    std::multimap<std::string, SoupServerMessage*> waiting_;
    std::vector<std::unique_ptr<Delayed>> delayed_;
    std::vector<std::unique_ptr<Streaming>> streams_;
    std::map<std::string, int64_t> streamed_;
    std::map<std::string, int> streamsEnded_;
};

}  // namespace velmora::test
