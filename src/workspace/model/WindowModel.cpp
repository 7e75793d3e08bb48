#include "workspace/model/WindowModel.hpp"

#include <glib.h>

#include <cassert>
#include <chrono>
#include <utility>

#include "browser/BrowserDownload.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/SettingsStore.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/model/WindowPorts.hpp"

namespace velmora {

namespace {

Date now() { return std::chrono::system_clock::now(); }

// The canonical text of a restored address, or none when GLib does not
// parse it as an absolute address.
std::optional<std::string> parsedURL(const std::string& text) {
    GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return std::nullopt;
    std::unique_ptr<GUri, decltype(&g_uri_unref)> holder(uri, g_uri_unref);
    std::unique_ptr<char, decltype(&g_free)> written(g_uri_to_string(uri), g_free);
    return std::string(written.get());
}

// The queue-busy handler's second half, once the queue has gone idle.
Task<void> queueWentIdle(std::weak_ptr<WindowModel> weak) {
    auto model = weak.lock();
    if (!model) co_return;
    if (!model->queue->engine) model->queue->automatic = model->services.settings.value().automaticOCR;
    const std::optional<QueueSnapshot>& snapshot = model->queue->snapshot.get();
    model->services.log(WindowModel::queueStage(snapshot), snapshot ? snapshot->id : model->id, std::nullopt, now());
}

}  // namespace

// ---- sections

std::string_view rawValue(WindowModel::Section section) {
    switch (section) {
        case WindowModel::Section::web: return "Webキャプチャ";
        case WindowModel::Section::ocr: return "OCR";
        case WindowModel::Section::history: return "履歴";
        case WindowModel::Section::settings: return "設定";
    }
    return "";
}

template <>
std::optional<WindowModel::Section> fromRaw<WindowModel::Section>(std::string_view raw) {
    for (auto section : WindowModel::allSections) {
        if (rawValue(section) == raw) return section;
    }
    return std::nullopt;
}

std::string_view WindowModel::icon(Section section) {
    switch (section) {
        case Section::web: return "web-browser-symbolic";
        case Section::ocr: return "edit-find-symbolic";
        case Section::history: return "document-open-recent-symbolic";
        case Section::settings: return "emblem-system-symbolic";
    }
    return "";
}

// ---- construction

std::shared_ptr<WindowModel> WindowModel::create(AppServices& services, std::optional<RestoredWindow> restored,
                                                 WindowSetLink& windows) {
    auto model = std::make_shared<WindowModel>(Passkey{}, services, restored, windows);
    // The steps that hand out weak references to the model.
    model->init(restored);
    return model;
}

WindowModel::WindowModel(Passkey, AppServices& servicesIn, const std::optional<RestoredWindow>& restored,
                         WindowSetLink& windows)
    // Steps 1 to 5: the initial values, the ids, the container and the
    // preferences as they are now, the window's own queue.
    : id(restored ? restored->id : UUID::random()),
      services(servicesIn),
      queue(QueueController::create(servicesIn.runtime.storage / queuesFolder, servicesIn.runtime.output,
                                    WindowPorts::queuePorts(windows, id))),
      selectedTabID(changed, restored ? restored->selected : UUID::random()),
      windows_(windows),
      defaults_(servicesIn.settings.value()) {
    // Step 6: the panel and the capture fields that follow the preferences
    // directly.
    rightPanelPreferredWidth = defaults_.rightPanelPreferredWidth;
    bottomPanelPreferredHeight = defaults_.bottomPanelPreferredHeight;
    panel = defaults_.panel;
    mobileWidth = defaults_.mobileWidth;
    lazyLoad = defaults_.lazyLoad;
    // Step 7: the queue's options of its next queue.
    queue->automatic = defaults_.automaticOCR;
    queue->applyProductDefaults(defaults_.product);
    // Step 8.
    applyProduct(defaults_.product);
}

void WindowModel::init(const std::optional<RestoredWindow>& restored) {
    const std::weak_ptr<WindowModel> weak = weak_from_this();
    // Step 9.
    queue->destinationProvider = [weak](bool ask) { return destination(weak, ask); };
    // A damaged tail of a reopened queue's edit journal goes to the event
    // log; the queue itself opens.
    queue->journalDamaged = [weak](const UUID& queueID, ErrorCase error) {
        if (auto model = weak.lock()) model->services.log(SafeEvent::Stage::failed, queueID, error, now());
    };
    // Steps 10 and 11: connecting calls nothing, so the value held now is
    // not applied a second time; each later one is.
    subscriptions_.push_back(services.settings.valueChanged().connect([weak](const AppPreferences& preferences) {
        if (auto model = weak.lock()) model->applyPreferences(preferences);
    }));
    subscriptions_.push_back(queue->busyChanged.connect([weak] {
        if (auto model = weak.lock()) model->queueBusyChanged();
    }));

    // Step 12: restored tabs are normal and load nothing until opened.
    std::vector<std::shared_ptr<BrowserTab>> made;
    if (restored) {
        for (const RestoredTab& entry : restored->tabs) {
            auto tab = makeTab(entry.id, false);
            if (entry.url) {
                tab->deferredURL = parsedURL(*entry.url);
                tab->address = *entry.url;
            }
            tab->restorationUnavailable = entry.unavailable;
            made.push_back(std::move(tab));
        }
    }
    // Step 13.
    if (made.empty()) {
        made.push_back(makeTab(UUID::random(), false));
        selectedTabID.store(made.front()->id);
    }
    tabs = std::move(made);
}

WindowModel::~WindowModel() {
    for (auto& connection : subscriptions_) connection.disconnect();
    dropTabSubscriptions();
}

// ---- derived

const std::shared_ptr<BrowserTab>& WindowModel::selectedTab() const {
    assert(!tabs->empty() && "a window always has a tab");
    for (const auto& tab : tabs.get()) {
        if (tab->id == selectedTabID.get()) return tab;
    }
    return tabs->front();
}

BrowserSession& WindowModel::normalBrowser() const {
    for (const auto& tab : tabs.get()) {
        if (!tab->isPrivate()) return *tab->browser;
    }
    return browser();
}

bool WindowModel::active() const {
    for (const auto& tab : tabs.get()) {
        if (tab->active()) return true;
    }
    return queue->busy;
}

bool WindowModel::webSaving() const {
    for (const auto& tab : tabs.get()) {
        if (tab->browser->hasPendingOperation()) return true;
    }
    return false;
}

WindowModel::PendingWork& WindowModel::PendingWork::operator|=(const PendingWork& other) {
    webSave = webSave || other.webSave;
    download = download || other.download;
    ocr = ocr || other.ocr;
    unsavedEdits = unsavedEdits || other.unsavedEdits;
    privateResults = privateResults || other.privateResults;
    return *this;
}

std::string WindowModel::PendingWork::question() const {
    std::vector<std::string> kinds;
    if (webSave) kinds.emplace_back("保存中のWebページ");
    if (download) kinds.emplace_back("受信中のダウンロード");
    if (ocr) kinds.emplace_back("処理中のOCR");
    if (unsavedEdits) kinds.emplace_back("TXT未保存の編集");
    if (privateResults) kinds.emplace_back("メモリ限定の処理結果");
    if (kinds.empty()) return "";
    std::string text;
    for (const std::string& kind : kinds) text += (text.empty() ? "" : "・") + kind;
    return text + "があります";
}

std::string WindowModel::PendingWork::informative() const {
    const bool running = webSave || download || ocr;
    // Edits of a saved queue are stored with it and come back with it at
    // the next start; only a private queue's are lost.
    const bool editsKept = !running && !privateResults;
    std::string text = running      ? "終了をやめると処理と編集を続けられます。終了する場合は処理の停止を待ちます。"
                       : editsKept ? "編集は処理一覧とともに保持し、次回の起動後に「再開候補」から続けられます。"
                                     "TXTを保存する場合は終了をやめてください。"
                                   : "終了をやめると、TXTを保存してから終了できます。";
    if (privateResults) text += "プライベートは再起動後に再開できません。";
    return text + "明示保存したファイルやコピー結果は残ります。";
}

std::string WindowModel::PendingWork::quitLabel() const {
    if (webSave || download || ocr) return "処理を止めて終了";
    return privateResults ? "TXTを保存せずに終了" : "編集を保持して終了";
}

Confirmation::Ahead WindowModel::PendingWork::quitAhead() const {
    const bool running = webSave || download || ocr;
    return running || privateResults ? Confirmation::Ahead::destructive : Confirmation::Ahead::suggested;
}

WindowModel::PendingWork WindowModel::pendingWork() const {
    PendingWork work;
    for (const auto& tab : tabs.get()) {
        work.webSave = work.webSave || tab->browser->hasPendingOperation();
        for (const auto& download : tab->downloads.get()) work.download = work.download || download->active();
    }
    work.ocr = queue->busy;
    work.unsavedEdits = queue->hasUnsavedEdits();
    work.privateResults = queue->isPrivateQueue() && queue->engine;
    return work;
}

// ---- the tab factory

std::shared_ptr<BrowserTab> WindowModel::makeTab(const UUID& tabID, bool privateMode,
                                                 std::optional<WebViewConfiguration> configuration) {
    auto tab = std::make_shared<BrowserTab>(tabID, privateMode, services.webStores, std::move(configuration));
    const std::weak_ptr<WindowModel> weakModel = weak_from_this();
    const std::weak_ptr<BrowserTab> weakTab = tab;

    TabLink link;
    link.pending = tab->browser->operationPending;
    link.changed = tab->changed.connect([weakModel, weakTab] {
        auto model = weakModel.lock();
        auto tab = weakTab.lock();
        if (model && tab) model->tabChanged(*tab);
    });

    BrowserSession& session = *tab->browser;
    session.navigationChanged = [weakModel, weakTab] {
        auto model = weakModel.lock();
        auto tab = weakTab.lock();
        if (model && tab) model->navigationChanged(*tab);
    };
    // A page's new window becomes a tab of the same kind in this window,
    // related to the asking view (same network session).
    session.childRequested = [weakModel, weakTab](const WebViewConfiguration& configuration) -> WebKitWebView* {
        auto model = weakModel.lock();
        auto tab = weakTab.lock();
        if (!model || !tab || model->closing) return nullptr;
        return model->addTab(tab->isPrivate(), configuration)->browser->webView();
    };
    session.closeRequested = [weakModel, weakTab] {
        auto model = weakModel.lock();
        auto tab = weakTab.lock();
        if (model && tab) model->requestCloseTab(tab->id);
    };
    session.downloadStarted = [weakModel, weakTab](WebKitDownload* download) {
        downloadStarted(weakModel, weakTab, download);
    };

    dropTabLink(tabID);
    tabSubscriptions_[tabID] = std::move(link);
    return tab;
}

void WindowModel::dropTabLink(const UUID& tabID) {
    auto found = tabSubscriptions_.find(tabID);
    if (found == tabSubscriptions_.end()) return;
    found->second.changed.disconnect();
    tabSubscriptions_.erase(found);
}

void WindowModel::dropTabSubscriptions() {
    for (auto& [tabID, link] : tabSubscriptions_) link.changed.disconnect();
    tabSubscriptions_.clear();
}

void WindowModel::tabChanged(BrowserTab& tab) {
    changed.emit();
    auto found = tabSubscriptions_.find(tab.id);
    if (found == tabSubscriptions_.end()) return;
    const bool pending = tab.browser->operationPending;
    if (pending == found->second.pending) return;
    // Recorded first: the handler's own writes to the tab come back here.
    found->second.pending = pending;
    operationChanged(tab, pending);
}

// ---- the options and the preferences

void WindowModel::applyProduct(const ProductDefaults& product) {
    widthMode = product.webMode;
    scale = product.captureScale;
    waitSeconds = product.waitSeconds;
    paper = fromRaw<PrintOptions::Paper>(product.paper).value_or(PrintOptions::Paper::a4);
    format = fromRaw<PrintOptions::Output>(product.printOutput).value_or(PrintOptions::Output::both);
    landscape = product.landscape;
    margin = product.margin;
    backgrounds = product.backgrounds;
    headerFooter = product.headerFooter;
}

void WindowModel::applyPreferences(const AppPreferences& preferences) {
    if (webSaving()) {
        // A running save keeps the options it started with; only the latest
        // change waits.
        pendingPreferences_ = preferences;
    } else {
        rightPanelPreferredWidth = preferences.rightPanelPreferredWidth;
        bottomPanelPreferredHeight = preferences.bottomPanelPreferredHeight;
        panel = preferences.panel;
        if (preferences.product != defaults_.product) applyProduct(preferences.product);
        if (preferences.mobileWidth != defaults_.mobileWidth) mobileWidth = preferences.mobileWidth;
        if (preferences.lazyLoad != defaults_.lazyLoad) lazyLoad = preferences.lazyLoad;
    }
    // An idle queue without an open queue takes the change at once; the
    // next queue it prepares always does.
    if (!queue->busy && !queue->engine) {
        queue->automatic = preferences.automaticOCR;
        queue->applyProductDefaults(preferences.product);
    }
    queue->nextProductDefaults = preferences.product;
    queue->nextAutomaticDefault = preferences.automaticOCR;
    defaults_ = preferences;
}

void WindowModel::chooseDisplay(std::string_view displayValue) {
    const std::string mode(CapturePanelRules::widthModeFor(displayValue));
    widthMode = mode;
    if (defaults_.product.webMode == mode) return;
    // Noted first: the store announces the change before it returns, and
    // this window then finds its product as it already is.
    const std::string before = std::exchange(defaults_.product.webMode, mode);
    try {
        services.settings.change([&](AppPreferences& p) { p.product.webMode = mode; });
    } catch (...) {
        defaults_.product.webMode = before;
        services.settings.setNotice(SettingsStore::Notices::cannotSave);
    }
}

// ---- the handlers

void WindowModel::operationChanged(BrowserTab& tab, bool pending) {
    changed.emit();
    if (pending) {
        // The save's outcome will belong to the page it is taken of, and an
        // earlier refusal is over.
        tab.savedPage = tab.browser->currentURL.get();
        tab.refusal = std::nullopt;
        return;
    }
    tab.lockedSize = std::nullopt;
    if (!webSaving()) {
        // The panel from the store as it is now; the rest from what waited,
        // without comparing: those fields were frozen during the save.
        const AppPreferences& current = services.settings.value();
        rightPanelPreferredWidth = current.rightPanelPreferredWidth;
        bottomPanelPreferredHeight = current.bottomPanelPreferredHeight;
        panel = current.panel;
        if (pendingPreferences_) {
            const AppPreferences waited = std::move(*pendingPreferences_);
            pendingPreferences_.reset();
            mobileWidth = waited.mobileWidth;
            lazyLoad = waited.lazyLoad;
            applyProduct(waited.product);
        }
    }
    const std::shared_ptr<OperationTrace> trace = tab.browser->operation.get();
    if (trace) services.log(operationStage(*trace), trace->id(), std::nullopt, now());
}

void WindowModel::queueBusyChanged() {
    changed.emit();
    if (queue->busy) return;
    // On a later turn: the controller finishes its own bookkeeping of the
    // run's end (status, snapshot) before the model reads it.
    spawn(queueWentIdle(weak_from_this()));
}

void WindowModel::navigationChanged(BrowserTab& tab) {
    bool listed = false;
    for (const auto& candidate : tabs.get()) listed = listed || candidate->id == tab.id;
    if (!listed) return;
    if (!tab.editingAddress && !tab.deferredURL->has_value() && tab.browser->currentURL->has_value()) {
        tab.address = *tab.browser->currentURL.get();
    }
    windows_.scheduleSnapshot();
}

Task<std::optional<std::filesystem::path>> WindowModel::destination(std::weak_ptr<WindowModel> weak, bool ask) {
    AppServices* services = nullptr;
    {
        auto model = weak.lock();
        if (!model) raise(ErrorCase::saveFailed);
        // The container outlives every window; the model is not kept alive
        // while the user chooses.
        services = &model->services;
    }
    const bool asking = ask || services->settings.value().saveMode == AppPreferences::SaveMode::ask;
    auto chosen = services->access.destination(services->settings, asking, AppRuntime::isIsolated);
    const std::optional<std::filesystem::path> folder = co_await chosen;
    if (!folder) co_return std::nullopt;
    co_return services->settings.value().product.folder(*folder, ocrFolderKind, now());
}

// ---- the rules of the event log

SafeEvent::Stage WindowModel::operationStage(const OperationTrace& trace) {
    const auto& items = trace.items();
    if (!items.empty()) {
        if (items.back().event == OperationTrace::Event::cancelled) return SafeEvent::Stage::cancelled;
        if (items.back().event == OperationTrace::Event::failed) return SafeEvent::Stage::failed;
    }
    return SafeEvent::Stage::completed;
}

SafeEvent::Stage WindowModel::queueStage(const std::optional<QueueSnapshot>& snapshot) {
    if (!snapshot) return SafeEvent::Stage::paused;
    if (snapshot->status == QueueStatus::cancelled) return SafeEvent::Stage::cancelled;
    if (snapshot->failedPages() > 0) return SafeEvent::Stage::failed;
    if (snapshot->status == QueueStatus::completed) return SafeEvent::Stage::completed;
    return SafeEvent::Stage::paused;
}

}  // namespace velmora
