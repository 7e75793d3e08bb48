#pragma once

// Tab restoration: the addresses of the open normal tabs, per window, in one
// file "snapshot.json" in the folder "tabs" of the storage root, offered back
// at the next launch.
//
// What it guarantees:
// - Only eligible addresses reach the disk: GET pages of http or https whose
//   query item names, path and fragment (percent-decoded) carry no sign-in
//   or token marker. Private tabs are never written.
// - The file is replaced whole (staged, synced, renamed), with a generation
//   one above the larger of the stored and the last written one. A kill at
//   any moment leaves the previous or the next snapshot, and at worst a
//   ".stage-" file that the next load removes.
// - A file it cannot read back exactly (damaged, too large, of another
//   restoration period, not a regular file) is never replaced by a save:
//   the first doubt blocks every later save of the process until
//   restoration is switched on or off again.
// - Switching restoration on or off starts a new period (a new epoch) and
//   leaves an empty snapshot, so no address stays on disk.
// - One process at a time works with the file, through the lease
//   "session-lock", held from the first use until restoration is switched
//   off or the process ends.
// Main thread only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>

#include "capture/TabSnapshot.hpp"
#include "foundation/ObservableValue.hpp"
#include "foundation/StateLease.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

class SecureDirectory;
class SettingsStore;

// The six facts of one tab that its restoration reads; the browser makes
// one from a BrowserTab and its session.
struct RestorableTab {
    UUID id;
    bool isPrivate = false;
    // The address of a restored tab that was not opened yet.
    std::optional<std::string> deferredURL;
    bool restorationUnavailable = false;
    // The session's current address.
    std::optional<std::string> currentURL;
    // The method of the session's last main-frame navigation.
    std::string lastMainMethod = "GET";
};

class TabRestoration {
public:
    static constexpr const char* snapshotName = "snapshot.json";
    static constexpr const char* leaseName = "session-lock";
    static constexpr std::size_t maxFileBytes = 2097152;
    static constexpr std::size_t maxWindows = 100;
    static constexpr std::size_t maxTabs = 200;
    static constexpr std::size_t maxAddressBytes = 8192;

    static constexpr const char* loadNotice =
        "前回のタブを確認できないため、空画面で開きました。元の情報は保持しています。";
    // What is kept and when it is loaded is the option's own caption; the
    // notice says only that the option took effect.
    static constexpr const char* enabledNotice = "タブの復元を開始しました。";
    static constexpr const char* disabledNotice = "タブの復元を停止しました。Cookieや保存ファイルは保持します。";
    // "タブを保存できません。別の<display name>や保存先を確認してください。元の情報は保持します。"
    static std::string saveNotice();

    // Touches no file.
    TabRestoration(std::filesystem::path root, SettingsStore& settings);
    TabRestoration(const TabRestoration&) = delete;
    TabRestoration& operator=(const TabRestoration&) = delete;

    // The address to keep (the validated text, not the one passed in), or
    // none: not GET, not a web address, longer than 8192 bytes, a part that
    // does not decode to UTF-8 without NUL, or a sign-in or token marker.
    static std::optional<std::string> eligible(const std::optional<std::string>& url, std::string_view method);
    // The window's normal tabs in order, or none when it has none; the
    // selection falls back to the first restored tab.
    static std::optional<RestoredWindow> snapshotWindow(const UUID& id, const std::vector<RestorableTab>& tabs,
                                                        const UUID& selected);
    // A snapshot only as it would be restored: more than 2 MiB is
    // invalidInput; malformed JSON or a missing or mistyped key is a
    // JSON::DecodeError; another schema, more than 100 windows or a window
    // id used twice is settingsChanged; a window of 0 or more than 200 tabs,
    // a selection outside its tabs, a tab id used twice, or an address that
    // eligible() would not give back unchanged is invalidInput.
    static TabSnapshot decode(const std::vector<uint8_t>& data);
    // The snapshot in folder; none when there is no entry "snapshot.json".
    // Read and decoding errors pass on; a FIFO, a folder or a link at that
    // name is refused at once, never waited on or followed.
    static std::optional<TabSnapshot> readSnapshot(const SecureDirectory& folder);

    // The windows to reopen; empty when restoration is off (nothing touched
    // then), when there is no snapshot of the current period, or on any
    // failure, which blocks saving and sets the load notice. Never throws.
    std::vector<RestoredWindow> load();
    // Writes the windows as the next snapshot of the current period. Does
    // nothing while blocked or switched off; a failure blocks and sets the
    // save notice, and leaves the file as it was. Never throws.
    void save(const std::vector<RestoredWindow>& windows);
    // Switches restoration on or off: a new period, an empty snapshot, the
    // settings changed, then its notice. Throws before changing anything when
    // the lease is held elsewhere or (switching on) the file is unreadable;
    // a failed settings change throws and leaves notice, blocked and
    // generation as they were.
    void setEnabled(bool enabled);

    const std::filesystem::path& root() const noexcept { return root_; }
    const std::string& notice() const noexcept { return notice_.get(); }
    sigc::signal<void(const std::string&)>& noticeChanged() noexcept { return notice_.changed(); }
    bool blocked() const noexcept { return blocked_; }
    uint64_t generation() const noexcept { return generation_; }
    bool holdsLease() const noexcept { return lease_.has_value(); }

private:
    // The folder, created when missing, with the lease taken when not held.
    SecureDirectory openFolder();

    std::filesystem::path root_;
    SettingsStore& settings_;
    std::optional<StateLease> lease_;
    ObservableValue<std::string> notice_{std::string()};
    uint64_t generation_ = 0;
    bool blocked_ = false;
};

}  // namespace velmora
