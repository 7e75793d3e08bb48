#include "recognition/engine/EngineIdentity.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <ctime>

#include <leptonica/allheaders.h>
#include <tesseract/capi.h>

#include "foundation/Digest.hpp"

namespace velmora::EngineIdentity {

namespace {

namespace fs = std::filesystem;

std::string unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        const char quote = value.front();
        std::string out;
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
            if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    return value;
}

std::string tesseractVersion() {
    const char* v = TessVersion();
    return v ? v : std::string(unavailable);
}

std::string leptonicaVersion() {
    char* v = getLeptonicaVersion();
    if (!v) return std::string(unavailable);
    std::string s(v);
    lept_free(v);
    constexpr std::string_view prefix = "leptonica-";
    if (s.rfind(prefix, 0) == 0) s.erase(0, prefix.size());
    return s;
}

// A file's digest is taken again only when its identity or times change.
struct FileKey {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t mtimeSec, mtimeNsec, ctimeSec, ctimeNsec;
    bool operator==(const FileKey&) const = default;
};

std::mutex dataCacheLock;
std::map<std::string, std::pair<FileKey, std::string>> dataCache;

std::string cachedFileDigest(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return "missing";
    if (!S_ISREG(st.st_mode)) return std::string(unavailable);
    const FileKey key{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                      st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    {
        std::lock_guard lock(dataCacheLock);
        auto it = dataCache.find(file.string());
        if (it != dataCache.end() && it->second.first == key) return it->second.second;
    }
    const std::string digest = fileSHA256(file);
    // File times are coarse: a file changed again within the same tick keeps
    // its times. Only a file whose last change is safely in the past is
    // remembered, so a recent change is always hashed afresh.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec - std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec) >= 2) {
        std::lock_guard lock(dataCacheLock);
        dataCache[file.string()] = {key, digest};
    }
    return digest;
}

}  // namespace

fs::path executablePath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return p;
}

std::string fileSHA256(const fs::path& file) {
    try {
        return Digest::file(file);
    } catch (const std::exception&) {
        // Every failure becomes the fixed word; the caller records it as is.
        return std::string(unavailable);
    }
}

const std::string& sha256() {
    // The magic link opens the running image itself, even when the file at
    // the executable's path was replaced or deleted after launch.
    static const std::string value = fileSHA256("/proc/self/exe");
    return value;
}

fs::path bundleRoot(const fs::path& executable) {
    if (executable.empty()) return {};
    for (fs::path p = executable.parent_path(); !p.empty(); p = p.parent_path()) {
        if (p.extension() == ".app") return p;
        if (p == p.root_path()) break;
    }
    return {};
}

std::string bundleManifestSHA256(const fs::path& givenRoot, const std::string& fallback) {
    std::error_code ec;
    const fs::path root = fs::canonical(givenRoot, ec);
    if (ec) return fallback;
    fs::recursive_directory_iterator it(root, ec);
    if (ec) return fallback;
    const std::string rootText = root.string();
    const std::string rootPrefix = rootText + "/";

    std::vector<std::string> lines;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return std::string(unavailable);
        const fs::path item = it->path();
        const std::string relative = item.string().substr(rootText.size());
        const fs::file_status status = it->symlink_status(ec);
        if (ec) return std::string(unavailable);
        if (fs::is_symlink(status)) {
            // A link must stay inside the folder, or the manifest would not
            // cover what it reaches. A link that cannot be resolved (dangling,
            // a loop) cannot be shown to stay inside, so it is refused too.
            const fs::path resolved = fs::canonical(item, ec);
            if (ec || resolved.string().rfind(rootPrefix, 0) != 0) return std::string(unavailable);
            const fs::path destination = fs::read_symlink(item, ec);
            if (ec) return std::string(unavailable);
            lines.push_back(relative + ":link:" + destination.string());
        } else if (fs::is_regular_file(status)) {
            const std::string digest = fileSHA256(item);
            if (digest == unavailable) return std::string(unavailable);
            lines.push_back(relative + ":" + digest);
        }
    }
    if (ec) return std::string(unavailable);
    std::sort(lines.begin(), lines.end());
    std::string manifest;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) manifest += '\n';
        manifest += lines[i];
    }
    return Digest::data(std::string_view(manifest));
}

const std::string& bundleSHA256() {
    static const std::string value = [] {
        const fs::path root = bundleRoot(executablePath());
        if (root.empty()) return sha256();
        return bundleManifestSHA256(root, sha256());
    }();
    return value;
}

std::string operatingSystemName(const fs::path& osRelease) {
    std::ifstream in(osRelease);
    std::string line;
    while (in && std::getline(in, line)) {
        constexpr std::string_view key = "PRETTY_NAME=";
        if (line.rfind(key, 0) == 0) {
            std::string value = unquote(line.substr(key.size()));
            if (!value.empty()) return value;
        }
    }
    return {};
}

fs::path languageDataDirectory() { return VELMORA_TESSDATA_DIR; }

const std::vector<std::string>& languageDataFiles() {
    static const std::vector<std::string> files{"eng.traineddata", "jpn.traineddata", "jpn_vert.traineddata"};
    return files;
}

std::string languageDataDigest(const fs::path& directory) {
    std::string manifest;
    for (const auto& name : languageDataFiles()) {
        manifest += name + ":" + cachedFileDigest(directory / name) + "\n";
    }
    return Digest::data(std::string_view(manifest)).substr(0, 12);
}

std::string osVersion() {
    std::string system = operatingSystemName("/etc/os-release");
    if (system.empty()) system = operatingSystemName("/usr/lib/os-release");
    if (system.empty()) system = "Linux";
    return system + "; Tesseract " + tesseractVersion() + "; Leptonica " + leptonicaVersion() + "; data " +
           languageDataDigest(languageDataDirectory());
}

}  // namespace velmora::EngineIdentity
