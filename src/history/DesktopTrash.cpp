#include "history/DesktopTrash.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <glib.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"

namespace velmora::DesktopTrash {

namespace {

constexpr int maxNames = 10000;

struct Location {
    std::filesystem::path trash;
    // The text of the trashinfo's Path key: absolute in the home Trash,
    // relative to the volume's top folder in a volume's Trash.
    std::string originalText;
};

std::optional<dev_t> deviceOf(const std::filesystem::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return std::nullopt;
    return st.st_dev;
}

// The top folder of the volume that holds `start` (a folder on device dev).
std::filesystem::path volumeTop(std::filesystem::path start, dev_t dev) {
    while (start.has_relative_path()) {
        const auto parent = start.parent_path();
        const auto d = deviceOf(parent);
        if (!d || *d != dev) break;
        start = parent;
    }
    return start;
}

std::string relativeTo(const std::filesystem::path& top, const std::filesystem::path& original) {
    const std::string t = top.string();
    const std::string o = original.string();
    const std::string prefix = t == "/" ? t : t + "/";
    if (o.size() > prefix.size() && o.compare(0, prefix.size(), prefix) == 0) return o.substr(prefix.size());
    return o;
}

// The device the home Trash is on, or would be on once made.
std::optional<dev_t> homeDevice(std::filesystem::path home) {
    for (;;) {
        if (auto d = deviceOf(home)) return d;
        if (!home.has_relative_path()) return std::nullopt;
        home = home.parent_path();
    }
}

Location locate(dev_t dev, const std::filesystem::path& heldFolder, const std::filesystem::path& original) {
    const auto home = homeTrash();
    if (homeDevice(home) == dev) {
        // A file on the home Trash's device goes there or nowhere: a Trash at
        // the top of that volume is not where the user looks for it.
        SecureDirectory homeDir(home, true);
        struct stat st {};
        if (::fstat(homeDir.descriptor(), &st) != 0 || st.st_dev != dev) raise(ErrorCase::saveFailed);
        return {home, original.string()};
    }
    const auto top = volumeTop(heldFolder, dev);
    const std::string uid = std::to_string(::getuid());
    // A shared ".Trash" counts only when it is a real folder with the sticky
    // bit, so other users cannot swap the per-user folder inside it.
    struct stat shared {};
    if (::lstat((top / ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        try {
            SecureDirectory own(top / ".Trash" / uid, true);
            struct stat st {};
            if (::fstat(own.descriptor(), &st) == 0 && st.st_uid == ::getuid() && st.st_dev == dev) {
                return {top / ".Trash" / uid, relativeTo(top, original)};
            }
        } catch (const BrindlexError&) {
            // Fall through to the per-user folder at the top.
        }
    }
    const auto own = top / (".Trash-" + uid);
    SecureDirectory dir(own, true);
    struct stat st {};
    if (::fstat(dir.descriptor(), &st) != 0 || st.st_uid != ::getuid() || st.st_dev != dev) {
        raise(ErrorCase::accessDenied);
    }
    return {own, relativeTo(top, original)};
}

std::string trashInfo(const std::string& originalText) {
    char* escaped = g_uri_escape_string(originalText.c_str(), "/", FALSE);
    const std::string path = escaped ? escaped : "";
    g_free(escaped);
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + path + "\nDeletionDate=" + date + "\n";
}

std::string candidate(const std::string& base, int n) {
    if (n == 1) return base;
    const auto dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) return base + "." + std::to_string(n);
    return base.substr(0, dot) + "." + std::to_string(n) + base.substr(dot);
}

}  // namespace

std::filesystem::path homeTrash() {
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && d[0] == '/') return std::filesystem::path(d) / "Trash";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || home[0] != '/') raise(ErrorCase::accessDenied);
    return std::filesystem::path(home) / ".local" / "share" / "Trash";
}

std::filesystem::path move(const std::filesystem::path& file, const std::filesystem::path& original) {
    if (!file.is_absolute() || !file.has_filename() || !original.is_absolute() || !original.has_filename()) {
        raise(ErrorCase::unsafePath);
    }
    SecureDirectory source(file.parent_path(), false);
    const std::string leaf = file.filename().string();
    struct stat st {};
    if (::fstatat(source.descriptor(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) raise(ErrorCase::sourceMissing);
    if (!S_ISREG(st.st_mode)) raise(ErrorCase::unsafePath);

    const Location where = locate(st.st_dev, file.parent_path(), original);
    SecureDirectory files(where.trash / "files", true);
    SecureDirectory info(where.trash / "info", true);
    const std::string description = trashInfo(where.originalText);
    const std::string base = original.filename().string();

    for (int n = 1; n <= maxNames; ++n) {
        std::string name = candidate(base, n);
        if (!SecureDirectory::validLeaf(name + ".trashinfo")) name = UUID::random().text();
        const std::string infoName = name + ".trashinfo";
        // The description is what reserves the name among all programs that
        // use this Trash.
        UniqueFD fd(::openat(info.descriptor(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            raise(ErrorCase::saveFailed);
        }
        auto dropDescription = [&] {
            fd.reset();
            ::unlinkat(info.descriptor(), infoName.c_str(), 0);
            ::fsync(info.descriptor());
        };
        try {
            FileIO::writeAll(fd.get(), reinterpret_cast<const uint8_t*>(description.data()), description.size());
            if (::fsync(fd.get()) != 0 || ::fsync(info.descriptor()) != 0) raise(ErrorCase::saveFailed);
        } catch (...) {
            dropDescription();
            throw;
        }
        fd.reset();
        if (::renameat2(source.descriptor(), leaf.c_str(), files.descriptor(), name.c_str(), RENAME_NOREPLACE) != 0) {
            const int err = errno;
            dropDescription();
            // A file left in "files" without its description keeps its name.
            if (err == EEXIST) continue;
            raise(ErrorCase::saveFailed);
        }
        // The file is in the Trash now; a failed flush cannot undo that, so
        // the destination is reported either way.
        ::fsync(files.descriptor());
        ::fsync(source.descriptor());
        return files.url() / name;
    }
    raise(ErrorCase::fileExists);
}

}  // namespace velmora::DesktopTrash
