#include "support/FuzzSupport.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "foundation/Base64.hpp"
#include "foundation/Digest.hpp"
#include "foundation/UUID.hpp"

namespace velmora::fuzz {

namespace fs = std::filesystem;

void fail(std::string_view what) {
    std::fprintf(stderr, "\n*** reader fault: %.*s\n", static_cast<int>(what.size()), what.data());
    std::fflush(stderr);
    std::abort();
}

namespace {

struct Scratch {
    fs::path path;
    Scratch() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) fail("cannot make the scratch folder");
        path = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string describe(const fs::path& url, const struct stat& st) {
    std::string d = std::to_string(st.st_mode) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) +
                    " " + std::to_string(st.st_nlink);
    if (S_ISREG(st.st_mode)) {
        std::ifstream in(url, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        d += " " + Digest::data(std::string_view(content));
    } else if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        d += " -> " + fs::read_symlink(url, ec).string();
    }
    return d;
}

void walk(const fs::path& root, const fs::path& folder, TreePicture& out) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path url = it->path();
        struct stat st {};
        if (::lstat(url.c_str(), &st) != 0) continue;
        out[fs::relative(url, root).string()] = describe(url, st);
        if (S_ISDIR(st.st_mode)) walk(root, url, out);
    }
}

}  // namespace

const fs::path& scratch() {
    static Scratch s;
    return s.path;
}

fs::path freshFolder(std::string_view name) {
    const fs::path url = scratch() / std::string(name);
    std::error_code ec;
    // A reader may have left a folder without write permission behind; give
    // it back so it can be emptied.
    fs::permissions(url, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(url, ec);
    fs::create_directories(url, ec);
    if (ec) fail("cannot make " + url.string() + ": " + ec.message());
    return url;
}

void writeFile(const fs::path& url, const uint8_t* data, std::size_t size) {
    const int fd = ::open(url.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot write " + url.string());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("cannot write " + url.string());
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void writeFile(const fs::path& url, const std::vector<uint8_t>& bytes) { writeFile(url, bytes.data(), bytes.size()); }

TreePicture picture(const fs::path& folder) {
    TreePicture out;
    walk(folder, folder, out);
    return out;
}

void requireUnchanged(const TreePicture& before, const fs::path& folder, std::string_view reader) {
    const TreePicture after = picture(folder);
    if (after == before) return;
    std::string report = std::string(reader) + " changed its folder after refusing the input:";
    for (const auto& [name, what] : before) {
        auto it = after.find(name);
        if (it == after.end()) report += "\n  gone: " + name;
        else if (it->second != what) report += "\n  changed: " + name;
    }
    for (const auto& [name, what] : after) {
        if (!before.contains(name)) report += "\n  new: " + name;
    }
    fail(report);
}

std::size_t openDescriptors() {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

void requireLeaseFree(const fs::path& folder, std::string_view name) {
    const fs::path url = folder / std::string(name);
    const int fd = ::open(url.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;  // no lease file: nobody can hold it
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    if (!free) fail("the lease " + url.string() + " is still held after the read");
}

std::string digestHex(const std::vector<uint8_t>& payload) { return Digest::data(payload); }

std::vector<uint8_t> sealedEnvelope(const std::vector<uint8_t>& payload) {
    Json j = Json::object();
    j["payload"] = Base64::encode(payload);
    j["sha256"] = Digest::data(payload);
    return JSON::bytes(j);
}

}  // namespace velmora::fuzz

namespace velmora::fuzz {

std::string namedID(const std::vector<uint8_t>& bytes, std::string_view key, bool unwrap, std::string_view fallback) {
    try {
        Json j = JSON::parse(bytes);
        if (unwrap) {
            if (!j.is_object() || !j.contains("payload") || !j["payload"].is_string()) return std::string(fallback);
            const auto payload = Base64::decode(j["payload"].get<std::string>());
            if (!payload) return std::string(fallback);
            j = JSON::parse(*payload);
        }
        const std::string k(key);
        if (j.is_object() && j.contains(k) && j[k].is_string()) {
            if (auto id = UUID::parse(j[k].get<std::string>())) return id->text();
        }
    } catch (const std::exception&) {
    }
    return std::string(fallback);
}

}  // namespace velmora::fuzz
