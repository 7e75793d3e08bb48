#include "settingsui/PrivacySettings.hpp"

#include <glib.h>

#include <algorithm>
#include <cassert>
#include <optional>
#include <utility>

#include "capture/TabRestoration.hpp"
#include "capture/WebAddress.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

// The host of an address exactly as written: no decoding and no conversion
// of international names, so it compares with the store's names as text.
std::optional<std::string> hostOf(const std::string& url) {
    std::unique_ptr<GUri, decltype(&g_uri_unref)> uri(
        g_uri_parse(url.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS), nullptr),
        g_uri_unref);
    if (!uri) return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    if (!host || !*host) return std::nullopt;
    return std::string(host);
}

std::set<UUID> idsOf(const std::vector<std::shared_ptr<PrivacyTab>>& tabs) {
    std::set<UUID> ids;
    for (const auto& tab : tabs) ids.insert(tab->id());
    return ids;
}

// Opens a store kind's gate again however the deletion ends.
class DeletionGate {
public:
    DeletionGate(SiteDataStores& stores, bool privateMode) : stores_(stores), privateMode_(privateMode) {}
    ~DeletionGate() { stores_.endDeletion(privateMode_); }
    DeletionGate(const DeletionGate&) = delete;
    DeletionGate& operator=(const DeletionGate&) = delete;

private:
    SiteDataStores& stores_;
    bool privateMode_;
};

}  // namespace

std::string PrivacySettings::restoreFailedNotice() {
    return "復元の設定を変更できません。別の" + ProductBrand::current().displayName +
           "や保存情報を確認してください。元の情報は保持します。";
}

std::string PrivacySettings::question(bool privateMode, bool all) {
    return std::string(privateMode ? "私用" : "通常") + "の" + (all ? "全サイト" : "選択サイト") +
           "のWebデータを削除しますか？";
}

std::string PrivacySettings::informative(std::size_t tabs) {
    return "対象サイトのタブ" + std::to_string(tabs) +
           "件を閉じ、関連する保存・ダウンロードを停止します。ログインが解除される場合があります。"
           "保存済みファイル、OCR、他のサイト、他のブラウザは変更しません。";
}

std::shared_ptr<PrivacySettings> PrivacySettings::create(SettingsStore& settings, TabRestoration& restoration,
                                                         std::shared_ptr<SiteDataStores> stores,
                                                         std::shared_ptr<PrivacyWindows> windows) {
    return std::make_shared<PrivacySettings>(Passkey{}, settings, restoration, std::move(stores), std::move(windows));
}

PrivacySettings::PrivacySettings(Passkey, SettingsStore& settings, TabRestoration& restoration,
                                 std::shared_ptr<SiteDataStores> stores, std::shared_ptr<PrivacyWindows> windows)
    : settings_(settings), restoration_(restoration), stores_(std::move(stores)), windows_(std::move(windows)) {
    assert(stores_ && windows_);
    subscriptions_.push_back(settings_.valueChanged().connect([this](const AppPreferences&) { changed.emit(); }));
    subscriptions_.push_back(restoration_.noticeChanged().connect([this](const std::string&) { changed.emit(); }));
}

PrivacySettings::~PrivacySettings() {
    for (auto& connection : subscriptions_) connection.disconnect();
}

bool PrivacySettings::restoreTabs() const { return settings_.value().restoreTabs; }

const std::string& PrivacySettings::restorationNotice() const { return restoration_.notice(); }

void PrivacySettings::setRestoreTabs(bool value) {
    try {
        restoration_.setEnabled(value);
    } catch (const std::exception&) {
        // Whatever stopped it (the folder, its lease, the snapshot, the
        // preferences), nothing was changed: the user is told so, and the
        // switch goes on showing the stored value.
        notice = restoreFailedNotice();
        return;
    }
    restoreStored.emit(settings_.value());
    // The tabs open now are kept at once, not at the next change of a tab.
    if (value) windows_->saveSnapshot();
}

void PrivacySettings::setPrivateData(bool value) {
    ++kindGeneration_;
    privateData.store(value);
    records.store({});
    selected.store("");
    changed.emit();
}

void PrivacySettings::select(std::string name) { selected = std::move(name); }

void PrivacySettings::loadRecords() {
    working = true;
    spawn(load(shared_from_this(), privateData, kindGeneration_));
}

Task<void> PrivacySettings::load(std::shared_ptr<PrivacySettings> self, bool privateMode, unsigned generation) {
    std::vector<WebsiteDataRecord> found = co_await self->stores_->records(privateMode);
    if (generation != self->kindGeneration_) {
        // The picker has moved on: this list belongs to the other store.
        self->working = false;
        co_return;
    }
    // std::string compares bytes as unsigned char: UTF-8 byte order, which is
    // the order of the Unicode scalars, not a locale's collation.
    std::stable_sort(found.begin(), found.end(),
                     [](const WebsiteDataRecord& a, const WebsiteDataRecord& b) { return a.name < b.name; });
    const bool any = !found.empty();
    self->records.store(std::move(found));
    self->selected.store("");
    self->working.store(false);
    self->notice.store(any ? listedNotice : emptyNotice);
    self->changed.emit();
}

std::vector<WebsiteDataRecord> PrivacySettings::selectedRecords() const {
    std::vector<WebsiteDataRecord> out;
    for (const auto& record : records.get()) {
        if (record.name == selected.get()) out.push_back(record);
    }
    return out;
}

bool PrivacySettings::hostMatches(const std::string& host, const std::set<std::string>& names) {
    for (const auto& name : names) {
        if (host == name) return true;
        if (host.size() > name.size() && host.ends_with(name) && host[host.size() - name.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

bool PrivacySettings::isAffected(const PrivacyTab& tab, bool privateMode, bool all,
                                 const std::set<std::string>& names) {
    if (tab.isPrivate() != privateMode) return false;
    if (all) return true;
    std::vector<std::string> hosts;
    if (auto current = tab.currentURL()) {
        if (auto host = hostOf(*current)) hosts.push_back(Unicode::lowercased(*host));
    }
    try {
        if (auto host = hostOf(WebAddress::validatedURL(tab.address()))) hosts.push_back(Unicode::lowercased(*host));
    } catch (const BrindlexError&) {
        // Text that is no web address names no site.
    }
    return std::any_of(hosts.begin(), hosts.end(), [&](const std::string& host) { return hostMatches(host, names); });
}

std::vector<std::shared_ptr<PrivacyTab>> PrivacySettings::affectedTabs(bool privateMode, bool all,
                                                                       const std::set<std::string>& names) const {
    std::vector<std::shared_ptr<PrivacyTab>> out;
    for (auto& tab : windows_->tabs()) {
        if (isAffected(*tab, privateMode, all, names)) out.push_back(std::move(tab));
    }
    return out;
}

void PrivacySettings::confirm(bool all) { spawn(confirmAndDelete(shared_from_this(), all)); }

Task<void> PrivacySettings::confirmAndDelete(std::shared_ptr<PrivacySettings> self, bool all) {
    // The targets, the window, the store: without any of them, nothing.
    std::vector<WebsiteDataRecord> targets = all ? self->records.get() : self->selectedRecords();
    if (targets.empty()) co_return;
    std::shared_ptr<Confirmation> sheet = self->sheet ? self->sheet() : nullptr;
    if (!sheet) co_return;
    const bool privateMode = self->privateData;
    std::shared_ptr<SiteDataStores::Store> store = self->stores_->store(privateMode);
    if (!store) co_return;

    std::set<std::string> names;
    for (const auto& record : targets) names.insert(Unicode::lowercased(record.name));
    std::vector<std::shared_ptr<PrivacyTab>> counted = self->affectedTabs(privateMode, all, names);

    const Confirmation::Request request{question(privateMode, all), informative(counted.size()), cancelLabel,
                                        confirmLabel};
    const bool agreed = co_await sheet->confirm(request);
    if (!agreed) co_return;

    // 1. The gate, or the other deletion's refusal.
    if (!self->stores_->beginDeletion(privateMode)) {
        self->notice = busyNotice;
        co_return;
    }
    DeletionGate gate(*self->stores_, privateMode);
    // 2. Tabs opened, closed or moved to another site while the question was
    // up were not counted: nothing is touched.
    if (idsOf(self->affectedTabs(privateMode, all, names)) != idsOf(counted)) {
        self->notice = changedNotice;
        co_return;
    }
    Task<void> deletion = self->deleteData(std::move(counted), std::move(store), std::move(targets));
    co_await std::move(deletion);
}

Task<void> PrivacySettings::deleteData(std::vector<std::shared_ptr<PrivacyTab>> tabs,
                                       std::shared_ptr<SiteDataStores::Store> store,
                                       std::vector<WebsiteDataRecord> targets) {
    // 3.
    working = true;
    // 4. Every tab is asked to stop before the first is waited for, so their
    // work ends side by side.
    for (const auto& tab : tabs) tab->cancel();
    // 5. Closed in order, each once it is idle. Nobody can cancel this task
    // (its handle is given to no one), so the wait has no way out but the
    // tab's own end.
    for (const auto& tab : tabs) {
        while (tab->active()) co_await sleepFor(idlePoll);
        tab->close();
    }
    // 6. Only now the data, from the store the records came from.
    bool removed = true;
    try {
        co_await store->remove(std::move(targets));
    } catch (const std::exception&) {
        // The engine's error is the user's answer: the tabs are closed, the
        // data may still be there.
        removed = false;
    }
    // 7. The list is not read again: what remains is seen on the next load.
    records.store({});
    selected.store("");
    working.store(false);
    notice.store(removed ? deletedNotice : failedNotice);
    changed.emit();
}

}  // namespace velmora
