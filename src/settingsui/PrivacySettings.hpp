#pragma once

// The browser privacy section without its widgets: the switch that keeps the
// normal tabs for the next start, and the deletion of the website data of
// chosen sites of the normal or the private store.
//
// A deletion, once the user agreed:
// - closes the store kind's navigation gate first, so no tab of that kind
//   loads a page between the closing of the tabs and the removal of the
//   data; a second deletion of the same kind (another settings pane) is
//   turned away while the gate is closed;
// - compares the affected tabs with the ones the question counted and
//   touches nothing when they differ;
// - cancels every affected tab, waits until each is idle (looking every
//   50 ms, without limit: a tab that never stops keeps the deletion
//   waiting), closes it, and only then removes the data from the store the
//   records came from;
// - opens the gate again on every path, failures included.
// The deletion's task holds the controller: the view that started it may be
// destroyed meanwhile (the settings pane goes whenever its section is
// left), and the deletion still ends and opens the gate. The view only
// observes `changed` and forwards the user's actions. Main thread only.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include "foundation/AppPreferences.hpp"
#include "foundation/Confirmation.hpp"
#include "foundation/Published.hpp"
#include "foundation/Task.hpp"
#include "settingsui/PrivacyPorts.hpp"

namespace velmora {

class SettingsStore;
class TabRestoration;

class PrivacySettings : public std::enable_shared_from_this<PrivacySettings> {
    struct Passkey {};

public:
    static constexpr const char* restoreLabel = "次回起動時に前回の通常タブを復元する";
    static constexpr const char* restoreCaption =
        "ONでは通常タブのアドレス（パス・検索条件を含む）がこのコンピュータに保存されます。"
        "私用タブやフォームは保存しません。再起動後は開く操作まで通信しません。";
    static constexpr const char* kindLabel = "削除するWebデータ";
    static constexpr const char* normalKind = "通常タブ";
    static constexpr const char* privateKind = "プライベート";
    static constexpr const char* loadLabel = "Webサイトのデータを確認";
    static constexpr const char* siteLabel = "サイト";
    static constexpr const char* noSite = "サイトを選んでください";
    static constexpr const char* deleteSelectedLabel = "選択サイトのデータを削除…";
    static constexpr const char* deleteAllLabel = "全サイトのデータを削除…";

    static constexpr const char* listedNotice = "対象サイトを選び、削除範囲を確認してください。";
    static constexpr const char* emptyNotice = "保存されたWebデータはありません。";
    static constexpr const char* busyNotice = "別の画面で削除中です。完了をお待ちください。";
    static constexpr const char* changedNotice =
        "確認中に対象タブが変わりました。何も削除していません。対象を確認し直してください。";
    static constexpr const char* deletedNotice =
        "選択した範囲のWebデータを削除しました。サーバー側のログアウト操作はしていません。";
    static constexpr const char* failedNotice = "Webデータを削除できませんでした。対象タブは閉じています。";
    // "復元の設定を変更できません。別の<display name>や保存情報を確認してください。元の情報は保持します。"
    static std::string restoreFailedNotice();

    static constexpr const char* cancelLabel = "取消";
    static constexpr const char* confirmLabel = "対象タブを閉じて削除";
    // "通常" or "私用", "の", "全サイト" or "選択サイト", "のWebデータを削除しますか？"
    static std::string question(bool privateMode, bool all);
    // Counts tabs, not sites.
    static std::string informative(std::size_t tabs);

    // How often a deletion looks whether an affected tab has stopped.
    static constexpr std::chrono::milliseconds idlePoll{50};

    // settings and restoration outlive the controller.
    static std::shared_ptr<PrivacySettings> create(SettingsStore& settings, TabRestoration& restoration,
                                                   std::shared_ptr<SiteDataStores> stores,
                                                   std::shared_ptr<PrivacyWindows> windows);
    PrivacySettings(Passkey, SettingsStore& settings, TabRestoration& restoration,
                    std::shared_ptr<SiteDataStores> stores, std::shared_ptr<PrivacyWindows> windows);
    ~PrivacySettings();
    PrivacySettings(const PrivacySettings&) = delete;
    PrivacySettings& operator=(const PrivacySettings&) = delete;

    // Emitted after every change of a field below, of the stored restore
    // setting and of the restoration's notice.
    sigc::signal<void()> changed;
    // The switch was stored through this section, with the preferences as
    // they were written.
    sigc::signal<void(const AppPreferences&)> restoreStored;

    // Which store the list and the deletion refer to: false the normal one.
    Published<bool> privateData{changed, false};
    // The sites of that store, in byte order of their names.
    Published<std::vector<WebsiteDataRecord>> records{changed, {}};
    // The name of the selected site; empty for none.
    Published<std::string> selected{changed, ""};
    // A list is loading or a deletion runs.
    Published<bool> working{changed, false};
    // The section's one status line.
    Published<std::string> notice{changed, ""};

    // The question's asker, on the window that holds the section; null when
    // the section is in no window, and then nothing is deleted. The view
    // sets it.
    std::function<std::shared_ptr<Confirmation>()> sheet;

    // The stored value of the switch.
    bool restoreTabs() const;
    // The restoration's own notice; empty when there is none.
    const std::string& restorationNotice() const;

    // The switch's write side: on failure the notice says so and the stored
    // value stays; switched on, the snapshot is written at once.
    void setRestoreTabs(bool value);
    // Another store kind: the list and the selection go, the notice stays,
    // and a list still loading is dropped when it arrives.
    void setPrivateData(bool value);
    void select(std::string name);

    // Lists the chosen kind's sites; returns at once.
    void loadRecords();
    // Asks, then deletes the selected site's data (all false) or every
    // listed site's; returns at once. Nothing without targets, without a
    // window or without a private store.
    void confirm(bool all);

    // The records named `selected`.
    std::vector<WebsiteDataRecord> selectedRecords() const;
    // The tabs of that kind in every window that show one of the sites
    // (names lower-cased), window by window; every tab of the kind with all.
    std::vector<std::shared_ptr<PrivacyTab>> affectedTabs(bool privateMode, bool all,
                                                          const std::set<std::string>& names) const;
    static bool isAffected(const PrivacyTab& tab, bool privateMode, bool all, const std::set<std::string>& names);
    // The host (lower-cased) is one of the names or ends in "." and one of
    // them; plain text comparison.
    static bool hostMatches(const std::string& host, const std::set<std::string>& names);

private:
    static Task<void> load(std::shared_ptr<PrivacySettings> self, bool privateMode, unsigned generation);
    static Task<void> confirmAndDelete(std::shared_ptr<PrivacySettings> self, bool all);
    // Deletion steps 3 to 7, with the gate closed.
    Task<void> deleteData(std::vector<std::shared_ptr<PrivacyTab>> tabs,
                          std::shared_ptr<SiteDataStores::Store> store, std::vector<WebsiteDataRecord> targets);

    SettingsStore& settings_;
    TabRestoration& restoration_;
    std::shared_ptr<SiteDataStores> stores_;
    std::shared_ptr<PrivacyWindows> windows_;
    // One more on every change of the store kind: a list of an earlier kind
    // is dropped.
    unsigned kindGeneration_ = 0;
    std::vector<sigc::connection> subscriptions_;
};

}  // namespace velmora
