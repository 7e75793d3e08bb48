#include "capture/TabRestoration.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <glib.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <set>

#include "capture/WebAddress.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

constexpr std::array<std::string_view, 7> tokenNames = {"code",         "access_token", "id_token", "refresh_token",
                                                        "samlresponse", "ticket",       "oauth_token"};
constexpr std::array<std::string_view, 3> pathMarkers = {"/oauth", "/callback", "/saml"};
constexpr std::string_view stagePrefix = ".stage-";

// Lower case by the Unicode rules of no particular language, so that the
// markers are found whatever the user's locale (a Turkish dotless i
// included) and however a page spells them.
std::string lowered(const std::string& utf8) {
    const std::u16string source = Unicode::toUTF16(utf8);
    std::u16string out(source.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = u_strToLower(out.data(), static_cast<int32_t>(out.size()), source.data(),
                                       static_cast<int32_t>(source.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(n), u'\0');
            continue;
        }
        if (U_FAILURE(status)) raise(ErrorCase::invalidInput);
        out.resize(static_cast<std::size_t>(n));
        return Unicode::fromUTF16(out);
    }
    raise(ErrorCase::invalidInput);
}

// One part of an address as the platform gives it, percent-decoded; none
// when its escapes do not decode to UTF-8 without NUL.
std::optional<std::string> decodedText(std::string_view encoded) {
    GBytes* bytes = g_uri_unescape_bytes(encoded.data(), static_cast<gssize>(encoded.size()), nullptr, nullptr);
    if (!bytes) return std::nullopt;
    std::unique_ptr<GBytes, decltype(&g_bytes_unref)> holder(bytes, g_bytes_unref);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(data ? data : "", size);
    if (text.find('\0') != std::string::npos) return std::nullopt;
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::nullopt;
    return text;
}

// The part decoded and lower-cased, for the markers; none when it does not
// decode, since a marker hidden behind such escapes could not be tested.
std::optional<std::string> decodedPart(std::string_view encoded) {
    auto text = decodedText(encoded);
    if (!text) return std::nullopt;
    return lowered(*text);
}

bool isTokenName(std::string_view name) {
    return std::find(tokenNames.begin(), tokenNames.end(), name) != tokenNames.end();
}

// Step 6: no query item (split on "&", the name up to the first "=") may
// be named like a sign-in or token parameter, and its value, like every
// other part, must decode too.
bool queryIsClean(const char* query) {
    if (!query) return true;
    std::string_view rest(query);
    for (;;) {
        const std::size_t end = rest.find('&');
        std::string_view item = rest.substr(0, end);
        const std::size_t equals = item.find('=');
        const auto name = decodedPart(item.substr(0, equals));
        if (!name || isTokenName(*name)) return false;
        if (equals != std::string_view::npos && !decodedText(item.substr(equals + 1))) return false;
        if (end == std::string_view::npos) return true;
        rest.remove_prefix(end + 1);
    }
}

bool pathIsClean(const char* path) {
    const auto decoded = decodedPart(path ? path : "");
    if (!decoded) return false;
    return std::none_of(pathMarkers.begin(), pathMarkers.end(),
                        [&](std::string_view marker) { return decoded->find(marker) != std::string::npos; });
}

bool fragmentIsClean(const char* fragment) {
    const auto decoded = decodedPart(fragment ? fragment : "");
    if (!decoded) return false;
    return std::none_of(tokenNames.begin(), tokenNames.end(), [&](std::string_view name) {
        return decoded->find(std::string(name) + "=") != std::string::npos;
    });
}

std::string upperASCII(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = g_ascii_toupper(c);
    return out;
}

// The entry of that name, of any kind (a link is an entry too, and the
// read then refuses it); none only when there is plainly no such entry,
// any other failure is left to the read, which then reports it.
std::optional<struct stat> entry(const SecureDirectory& folder, const char* name) {
    struct stat st {};
    if (::fstatat(folder.descriptor(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) return st;
    if (errno == ENOENT) return std::nullopt;
    return st;
}

// A save killed between staging and renaming leaves its stage behind.
// Removing it is tidying only: a stage is never read, so one that cannot go
// (not a regular file, a failing folder) is left for the next launch.
void removeStages(const SecureDirectory& folder) {
    std::vector<std::string> names;
    try {
        names = folder.list();
    } catch (const std::exception&) {
        return;  // see above: nothing depends on the tidying
    }
    for (const auto& name : names) {
        if (!name.starts_with(stagePrefix)) continue;
        try {
            folder.removeOwnedFile(name);
        } catch (const std::exception&) {
            // See above.
        }
    }
}

}  // namespace

std::string TabRestoration::saveNotice() {
    return "タブを保存できません。別の" + ProductBrand::current().displayName +
           "や保存先を確認してください。元の情報は保持します。";
}

TabRestoration::TabRestoration(std::filesystem::path root, SettingsStore& settings)
    : root_(std::move(root)), settings_(settings) {}

std::optional<std::string> TabRestoration::eligible(const std::optional<std::string>& url, std::string_view method) {
    if (upperASCII(method) != "GET") return std::nullopt;
    if (!url) return std::nullopt;
    std::string candidate;
    try {
        candidate = WebAddress::validatedURL(*url);
    } catch (const BrindlexError&) {
        return std::nullopt;  // not an address the browser may load
    }
    if (candidate.size() > maxAddressBytes) return std::nullopt;
    GUri* uri = g_uri_parse(candidate.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (!uri) return std::nullopt;
    std::unique_ptr<GUri, decltype(&g_uri_unref)> holder(uri, g_uri_unref);
    if (!queryIsClean(g_uri_get_query(uri))) return std::nullopt;
    if (!pathIsClean(g_uri_get_path(uri))) return std::nullopt;
    if (!fragmentIsClean(g_uri_get_fragment(uri))) return std::nullopt;
    return candidate;
}

std::optional<RestoredWindow> TabRestoration::snapshotWindow(const UUID& id, const std::vector<RestorableTab>& tabs,
                                                             const UUID& selected) {
    RestoredWindow window;
    window.id = id;
    for (const auto& tab : tabs) {
        if (tab.isPrivate) continue;
        const std::optional<std::string>& address = tab.deferredURL ? tab.deferredURL : tab.currentURL;
        RestoredTab restored;
        restored.id = tab.id;
        restored.url = eligible(address, tab.lastMainMethod);
        // An address that was not kept marks the tab; otherwise it keeps the
        // mark it was restored with.
        restored.unavailable = (address && !restored.url) ? true : tab.restorationUnavailable;
        window.tabs.push_back(std::move(restored));
    }
    if (window.tabs.empty()) return std::nullopt;
    const bool held = std::any_of(window.tabs.begin(), window.tabs.end(),
                                  [&](const RestoredTab& t) { return t.id == selected; });
    window.selected = held ? selected : window.tabs.front().id;
    return window;
}

TabSnapshot TabRestoration::decode(const std::vector<uint8_t>& data) {
    // 1. The size first, before anything is parsed.
    if (data.size() > maxFileBytes) raise(ErrorCase::invalidInput);
    // 2. The record; its own errors pass on.
    TabSnapshot snapshot = JSON::decode<TabSnapshot>(data);
    // 3. The file as a whole.
    if (snapshot.schema != 1 || snapshot.windows.size() > maxWindows) raise(ErrorCase::settingsChanged);
    std::set<UUID> windowIDs;
    for (const auto& window : snapshot.windows) {
        if (!windowIDs.insert(window.id).second) raise(ErrorCase::settingsChanged);
    }
    // 4. Window by window.
    std::set<UUID> tabIDs;
    for (const auto& window : snapshot.windows) {
        if (window.tabs.empty() || window.tabs.size() > maxTabs) raise(ErrorCase::invalidInput);
        const bool held = std::any_of(window.tabs.begin(), window.tabs.end(),
                                      [&](const RestoredTab& t) { return t.id == window.selected; });
        if (!held) raise(ErrorCase::invalidInput);
        for (const auto& tab : window.tabs) {
            if (!tabIDs.insert(tab.id).second) raise(ErrorCase::invalidInput);
            if (tab.url && eligible(tab.url, "GET") != tab.url) raise(ErrorCase::invalidInput);
        }
    }
    return snapshot;
}

std::optional<TabSnapshot> TabRestoration::readSnapshot(const SecureDirectory& folder) {
    const auto found = entry(folder, snapshotName);
    if (!found) return std::nullopt;
    // decode() refuses such a file anyway; this keeps a huge one from being
    // read into memory first.
    if (S_ISREG(found->st_mode) && static_cast<uint64_t>(found->st_size) > maxFileBytes) {
        raise(ErrorCase::invalidInput);
    }
    return decode(folder.read(snapshotName));
}

SecureDirectory TabRestoration::openFolder() {
    SecureDirectory folder(root_, true);
    if (!lease_) lease_.emplace(folder, leaseName, true);
    return folder;
}

std::vector<RestoredWindow> TabRestoration::load() {
    const AppPreferences& preferences = settings_.value();
    if (!preferences.restoreTabs || !preferences.restoreEpoch) return {};
    const UUID epoch = *preferences.restoreEpoch;
    try {
        SecureDirectory folder = openFolder();
        removeStages(folder);
        auto snapshot = readSnapshot(folder);
        if (!snapshot || snapshot->epoch != epoch) return {};
        generation_ = snapshot->generation;
        return std::move(snapshot->windows);
    } catch (...) {
        // Whatever went wrong (the folder, the lease, the file), the windows
        // open empty and the file stays as it is for the user to keep.
        blocked_ = true;
        notice_.set(loadNotice);
        return {};
    }
}

void TabRestoration::save(const std::vector<RestoredWindow>& windows) {
    if (blocked_) return;
    settings_.reload();
    const AppPreferences& preferences = settings_.value();
    if (!preferences.restoreTabs || !preferences.restoreEpoch) return;
    const UUID epoch = *preferences.restoreEpoch;
    try {
        SecureDirectory folder = openFolder();
        const auto stored = readSnapshot(folder);
        // A snapshot of another period is not ours to replace.
        if (stored && stored->epoch != epoch) raise(ErrorCase::settingsChanged);
        const uint64_t base = std::max(stored ? stored->generation : uint64_t{0}, generation_);
        if (base == UINT64_MAX) raise(ErrorCase::invalidInput);
        generation_ = base + 1;
        TabSnapshot next;
        next.epoch = epoch;
        next.generation = base + 1;
        next.windows = windows;
        const auto bytes = JSON::encode(next);
        // Only what the next launch would read back is written.
        decode(bytes);
        folder.replaceState(snapshotName, bytes);
    } catch (...) {
        // Every failure has one answer: the file stays, and no later save of
        // this process replaces it.
        blocked_ = true;
        notice_.set(saveNotice());
    }
}

void TabRestoration::setEnabled(bool enabled) {
    SecureDirectory folder = openFolder();
    // Switching on over a file that cannot be read would hide it behind a
    // new period: refused before anything changes.
    if (enabled) (void)readSnapshot(folder);
    const UUID epoch = UUID::random();
    // Whatever blocked the saves, a file that reads back (or none at all) is
    // replaced by the empty snapshot of the new period; only a file that
    // cannot be read is left as it is.
    bool replace = true;
    try {
        (void)readSnapshot(folder);
    } catch (const std::exception&) {
        replace = false;  // kept for the user, as the saves kept it
    }
    if (replace) {
        TabSnapshot empty;
        empty.epoch = epoch;
        folder.replaceState(snapshotName, JSON::encode(empty));
    }
    settings_.change([&](AppPreferences& p) {
        p.restoreTabs = enabled;
        p.restoreEpoch = enabled ? std::optional<UUID>(epoch) : std::nullopt;
    });
    generation_ = 0;
    blocked_ = false;
    notice_.set(enabled ? enabledNotice : disabledNotice);
    if (!enabled) lease_.reset();
}

}  // namespace velmora
