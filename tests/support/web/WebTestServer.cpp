#include "support/web/WebTestServer.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "foundation/Digest.hpp"

namespace velmora::test {

namespace {

void respond(SoupServerMessage* message, int code, const std::string& type, const std::string& body,
             const WebTestServer::Headers& headers) {
    soup_server_message_set_status(message, code, nullptr);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : headers) soup_message_headers_append(out, name.c_str(), value.c_str());
    soup_server_message_set_response(message, type.empty() ? nullptr : type.c_str(), SOUP_MEMORY_COPY,
                                     body.data(), body.size());
}

// The types of the files a saved web page is made of.
std::string typeOf(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> types{
        {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},   {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},         {".txt", "text/plain; charset=utf-8"},
        {".md", "text/plain; charset=utf-8"},  {".png", "image/png"},
        {".gif", "image/gif"},                 {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},               {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},              {".woff2", "font/woff2"},
        {".woff", "font/woff"},                {".ttf", "font/ttf"},
    };
    auto it = types.find(file.extension().string());
    return it == types.end() ? "application/octet-stream" : it->second;
}

}  // namespace

WebTestServer::WebTestServer() {
    server_ = soup_server_new("server-header", "velmora-test", nullptr);
    soup_server_add_handler(server_, nullptr, handle, this, nullptr);
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
    GError* error = nullptr;
    bool listening = soup_server_listen(server_, address, static_cast<SoupServerListenOptions>(0), &error);
    g_object_unref(address);
    g_object_unref(loopback);
    if (!listening) {
        std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(server_);
        throw std::runtime_error("the test server cannot listen: " + why);
    }
    GSList* uris = soup_server_get_uris(server_);
    port_ = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0;
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

struct WebTestServer::Streaming {
    WebTestServer* server = nullptr;
    SoupServerMessage* message = nullptr;  // referenced
    std::string path;
    Stream shape;
    int64_t queued = 0;   // appended to the body
    int64_t written = 0;  // gone out
    int64_t lastChunk = 0;
    guint timer = 0;
    bool ended = false;
    std::vector<gulong> handlers;
};

WebTestServer::~WebTestServer() {
    for (auto& s : streams_) {
        if (s->timer) g_source_remove(s->timer);
        for (gulong h : s->handlers) g_signal_handler_disconnect(s->message, h);
        g_object_unref(s->message);
    }
    for (auto& d : delayed_) {
        g_source_remove(d->source);
        g_object_unref(d->message);
    }
    soup_server_disconnect(server_);
    for (auto& [path, message] : waiting_) g_object_unref(message);
    g_object_unref(server_);
}

std::string WebTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void WebTestServer::html(const std::string& path, const std::string& body, Headers headers) {
    routes_[path].respond = [body, headers](SoupServerMessage* m) {
        respond(m, 200, "text/html; charset=utf-8", body, headers);
    };
}

void WebTestServer::bytes(const std::string& path, const std::string& contentType, std::string data,
                          Headers headers) {
    routes_[path].respond = [contentType, data = std::move(data), headers](SoupServerMessage* m) {
        respond(m, 200, contentType, data, headers);
    };
}

void WebTestServer::image(const std::string& path, int width, int height, uint32_t rgb) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, (rgb << 8) | 0xff);
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    bool saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", &error, nullptr);
    g_object_unref(pixbuf);
    if (!saved) {
        std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot encode the test image: " + why);
    }
    std::string png(buffer, size);
    g_free(buffer);
    bytes(path, "image/png", std::move(png));
}

void WebTestServer::brokenImage(const std::string& path) {
    bytes(path, "image/png", std::string("\x89PNG\r\n\x1a\nthis is no image", 24));
}

void WebTestServer::status(const std::string& path, int code, const std::string& body) {
    routes_[path].respond = [code, body](SoupServerMessage* m) { respond(m, code, "text/html; charset=utf-8", body, {}); };
}

void WebTestServer::redirect(const std::string& path, const std::string& to, int code) {
    routes_[path].respond = [code, to](SoupServerMessage* m) { soup_server_message_set_redirect(m, code, to.c_str()); };
}

void WebTestServer::held(const std::string& path, std::string html, std::string contentType) {
    Route& route = routes_[path];
    route.held = true;
    route.heldBody = std::move(html);
    route.heldType = std::move(contentType);
}

void WebTestServer::release(const std::string& path) {
    auto route = routes_.find(path);
    if (route == routes_.end()) return;
    route->second.held = false;
    auto [begin, end] = waiting_.equal_range(path);
    for (auto it = begin; it != end; ++it) {
        respond(it->second, 200, route->second.heldType, route->second.heldBody, {});
        soup_server_message_unpause(it->second);
        g_object_unref(it->second);
    }
    waiting_.erase(begin, end);
    const std::string body = route->second.heldBody;
    const std::string type = route->second.heldType;
    route->second.respond = [body, type](SoupServerMessage* m) { respond(m, 200, type, body, {}); };
}

void WebTestServer::delay(const std::string& path, std::chrono::milliseconds by) { routes_[path].delay = by; }

int WebTestServer::requests(const std::string& path) const {
    auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
}

std::vector<std::string> WebTestServer::methods(const std::string& path) const {
    auto it = methods_.find(path);
    return it == methods_.end() ? std::vector<std::string>{} : it->second;
}

std::vector<std::string> WebTestServer::cookies(const std::string& path) const {
    auto it = cookies_.find(path);
    return it == cookies_.end() ? std::vector<std::string>{} : it->second;
}

void WebTestServer::challenge(const std::string& path, const std::string& body) {
    routes_[path].respond = [body](SoupServerMessage* m) {
        respond(m, 401, "text/html; charset=utf-8", body, {{"WWW-Authenticate", "Basic realm=\"velmora-test\""}});
    };
}

void WebTestServer::folder(const std::string& prefix, std::filesystem::path root) {
    folders_.emplace_back(prefix.ends_with('/') ? prefix : prefix + "/", std::move(root));
}

bool WebTestServer::answerFromFolder(SoupServerMessage* message, const std::string& path) const {
    for (const auto& [prefix, root] : folders_) {
        if (!path.starts_with(prefix)) continue;
        const std::filesystem::path relative = std::filesystem::path(path.substr(prefix.size())).lexically_normal();
        if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") continue;
        const std::filesystem::path file = root / relative;
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) continue;
        std::ifstream in(file, std::ios::binary);
        const std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) continue;
        respond(message, 200, typeOf(file), body, {});
        return true;
    }
    return false;
}

int WebTestServer::closedPort() {
    GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* any = g_inet_socket_address_new(loopback, 0);
    g_socket_bind(socket, any, FALSE, nullptr);
    GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
    const int port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    for (gpointer o : {static_cast<gpointer>(bound), static_cast<gpointer>(any), static_cast<gpointer>(loopback),
                       static_cast<gpointer>(socket)})
        g_object_unref(o);
    return port;
}

std::string WebTestServer::generated(int64_t offset, int64_t length) {
    std::string out(static_cast<std::size_t>(length), '\0');
    for (int64_t i = 0; i < length; ++i) {
        const uint64_t at = static_cast<uint64_t>(offset + i);
        // Not periodic in any chunk size a test uses: a chunk sent twice,
        // dropped or out of order changes the digest.
        out[static_cast<std::size_t>(i)] = static_cast<char>((at * 131u) ^ (at >> 9) ^ (at >> 17) * 7u);
    }
    return out;
}

std::string WebTestServer::generatedDigest(int64_t length) {
    Digest::Hasher hasher;
    constexpr int64_t piece = 1 << 20;
    for (int64_t at = 0; at < length; at += piece) {
        const std::string bytes = generated(at, std::min(piece, length - at));
        hasher.update(bytes.data(), bytes.size());
    }
    return hasher.finishHex();
}

int64_t WebTestServer::streamed(const std::string& path) const {
    auto it = streamed_.find(path);
    return it == streamed_.end() ? 0 : it->second;
}

int WebTestServer::streamsEnded(const std::string& path) const {
    auto it = streamsEnded_.find(path);
    return it == streamsEnded_.end() ? 0 : it->second;
}

void WebTestServer::stream(const std::string& path, Stream shape) {
    routes_[path].respond = [this, path, shape](SoupServerMessage* m) { startStream(m, path, shape); };
}

void WebTestServer::startStream(SoupServerMessage* message, const std::string& path, const Stream& shape) {
    auto s = std::make_unique<Streaming>();
    s->server = this;
    s->message = static_cast<SoupServerMessage*>(g_object_ref(message));
    s->path = path;
    s->shape = shape;
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    soup_message_headers_set_content_type(out, shape.contentType.c_str(), nullptr);
    for (const auto& [name, value] : shape.headers) soup_message_headers_append(out, name.c_str(), value.c_str());
    if (shape.announceLength) soup_message_headers_set_content_length(out, shape.length);
    else soup_message_headers_set_encoding(out, SOUP_ENCODING_CHUNKED);
    soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
    Streaming* raw = s.get();
    s->handlers.push_back(g_signal_connect(message, "wrote-chunk", G_CALLBACK(onWroteChunk), raw));
    s->handlers.push_back(g_signal_connect(message, "finished", G_CALLBACK(onStreamEnded), raw));
    s->handlers.push_back(g_signal_connect(message, "disconnected", G_CALLBACK(onStreamEnded), raw));
    streams_.push_back(std::move(s));
    appendChunk(*raw);
}

void WebTestServer::appendChunk(Streaming& s) {
    SoupMessageBody* body = soup_server_message_get_response_body(s.message);
    if (s.queued >= s.shape.length) {
        soup_message_body_complete(body);
    } else {
        const int64_t n = std::min(s.shape.chunk, s.shape.length - s.queued);
        const std::string bytes = generated(s.queued, n);
        soup_message_body_append(body, SOUP_MEMORY_COPY, bytes.data(), bytes.size());
        s.queued += n;
        s.lastChunk = n;
    }
    soup_server_message_unpause(s.message);
}

void WebTestServer::onWroteChunk(SoupServerMessage*, gpointer data) {
    auto* s = static_cast<Streaming*>(data);
    if (s->ended) return;
    s->written += s->lastChunk;
    s->server->streamed_[s->path] += s->lastChunk;
    s->lastChunk = 0;
    if (s->shape.breakAfter && s->written >= *s->shape.breakAfter) {
        // The connection goes away mid-body, as a server that crashed.
        if (GSocket* socket = soup_server_message_get_socket(s->message)) g_socket_shutdown(socket, TRUE, TRUE, nullptr);
        onStreamEnded(s->message, s);
        return;
    }
    if (s->shape.interval.count() > 0 && s->queued < s->shape.length) {
        s->timer = g_timeout_add(static_cast<guint>(s->shape.interval.count()), nextChunk, s);
        return;
    }
    s->server->appendChunk(*s);
}

gboolean WebTestServer::nextChunk(gpointer data) {
    auto* s = static_cast<Streaming*>(data);
    s->timer = 0;
    if (!s->ended) s->server->appendChunk(*s);
    return G_SOURCE_REMOVE;
}

void WebTestServer::onStreamEnded(SoupServerMessage*, gpointer data) {
    auto* s = static_cast<Streaming*>(data);
    if (s->ended) return;
    s->ended = true;
    if (s->timer) g_source_remove(std::exchange(s->timer, 0));
    ++s->server->streamsEnded_[s->path];
}

void WebTestServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self) {
    auto* server = static_cast<WebTestServer*>(self);
    std::string key = path ? path : "";
    ++server->counts_[key];
    const char* method = soup_server_message_get_method(message);
    server->methods_[key].emplace_back(method ? method : "");
    const char* cookie =
        soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Cookie");
    server->cookies_[key].emplace_back(cookie ? cookie : "");
    auto route = server->routes_.find(key);
    if (route == server->routes_.end()) {
        if (server->answerFromFolder(message, key)) return;
        server->notFound_.push_back(key);
        respond(message, 404, "text/html; charset=utf-8", "<title>404</title>", {});
        return;
    }
    if (route->second.held) {
        server->waiting_.emplace(key, static_cast<SoupServerMessage*>(g_object_ref(message)));
        soup_server_message_pause(message);
        return;
    }
    if (route->second.delay.count() > 0 && route->second.respond) {
        soup_server_message_pause(message);
        auto d = std::make_unique<Delayed>(Delayed{server, static_cast<SoupServerMessage*>(g_object_ref(message)), key});
        d->source = g_timeout_add(static_cast<guint>(route->second.delay.count()), answerDelayed, d.get());
        server->delayed_.push_back(std::move(d));
        return;
    }
    if (route->second.respond) {
        route->second.respond(message);
    } else {
        server->notFound_.push_back(key);
        respond(message, 404, "text/html; charset=utf-8", "<title>404</title>", {});
    }
}

gboolean WebTestServer::answerDelayed(gpointer data) {
    auto* d = static_cast<Delayed*>(data);
    WebTestServer* server = d->server;
    server->routes_[d->path].respond(d->message);
    soup_server_message_unpause(d->message);
    g_object_unref(d->message);
    std::erase_if(server->delayed_, [d](const auto& p) { return p.get() == d; });
    return G_SOURCE_REMOVE;
}

}  // namespace velmora::test
