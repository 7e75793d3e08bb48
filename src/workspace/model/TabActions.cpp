// The tab actions of a window: adding, selecting, moving and closing tabs,
// loading the address text, the capture width and the download-start
// handler. Every change of the tab list or the selection asks the window set
// for a tab snapshot.
//
// Closing a busy tab is a protocol of its own: one question per tab (the id
// stays in closingTabs_ from the question to the close), the tab's work
// cancelled, then a look every 50 ms until the tab is idle, and only then
// the close. A model or tab that goes meanwhile ends it without effect; the
// id then stays in closingTabs_ of a model nobody uses any more.

#include "workspace/model/TabActions.hpp"

#include <algorithm>
#include <cassert>

#include "foundation/CancellationError.hpp"
#include "gui/GtkConfirmation.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

// ---- the rules

double TabActions::width(std::optional<Size> locked, std::string_view widthMode, double available,
                         int64_t customWidth, int64_t mobileWidth) {
    if (locked) return locked->width;
    if (widthMode == "current") return std::max(available, minimumWidth);
    if (widthMode == "custom") return std::clamp(static_cast<double>(customWidth), minimumWidth, maximumWidth);
    return static_cast<double>(mobileWidth);
}

std::size_t TabActions::selectionAfterClose(std::size_t removed, std::size_t remaining) {
    assert(remaining > 0);
    return std::min(remaining - 1, removed);
}

// ---- the actions

std::shared_ptr<BrowserTab> WindowModel::addTab(bool privateMode, std::optional<WebViewConfiguration> configuration) {
    auto tab = makeTab(UUID::random(), privateMode, std::move(configuration));
    std::vector<std::shared_ptr<BrowserTab>> list = tabs.get();
    list.push_back(tab);
    // One step for the observers: the new list with the new tab selected.
    tabs.store(std::move(list));
    selectedTabID.store(tab->id);
    changed.emit();
    windows_.scheduleSnapshot();
    return tab;
}

std::shared_ptr<BrowserTab> WindowModel::openTab(bool privateMode) {
    auto tab = addTab(privateMode);
    // However the tab was asked for, the button or menu that asked keeps
    // no keyboard focus: Return would otherwise ask again.
    addressFocusRequest = UUID::random();
    return tab;
}

void WindowModel::requestCloseTab(const UUID& tabID) {
    std::shared_ptr<BrowserTab> tab;
    for (const auto& candidate : tabs.get()) {
        if (candidate->id == tabID) tab = candidate;
    }
    if (!tab || closingTabs_.contains(tabID)) return;
    if (!tab->active()) {
        closeTab(tabID);
        return;
    }
    // The question needs the window to stand on.
    if (!windows_.platformWindow(id)) return;
    closingTabs_.insert(tabID);
    spawn(closeWhenConfirmed(weak_from_this(), tab, tabID));
}

Task<void> WindowModel::closeWhenConfirmed(std::weak_ptr<WindowModel> weakModel, std::weak_ptr<BrowserTab> weakTab,
                                           UUID tabID) {
    bool confirmed = false;
    {
        WindowSetLink* windows = nullptr;
        UUID modelID;
        if (auto model = weakModel.lock()) {
            windows = &model->windows_;
            modelID = model->id;
        } else {
            co_return;
        }
        // Looked up when the dialog opens; the window set outlives its
        // models.
        GtkConfirmation dialog([windows, modelID] { return windows->platformWindow(modelID); });
        const Confirmation::Request request{TabActions::closeQuestion, TabActions::closeInformative,
                                            TabActions::keepLabel, TabActions::closeLabel};
        auto answer = dialog.confirm(request);
        confirmed = co_await answer;
    }
    {
        auto model = weakModel.lock();
        auto tab = weakTab.lock();
        if (!model || !tab) co_return;
        if (!confirmed) {
            model->closingTabs_.erase(tabID);
            co_return;
        }
        tab->cancel();
    }
    for (;;) {
        {
            // Locked afresh at every look: the window may close meanwhile.
            auto model = weakModel.lock();
            auto tab = weakTab.lock();
            if (!model || !tab) co_return;
            if (!tab->active()) {
                model->closeTab(tabID);
                model->closingTabs_.erase(tabID);
                co_return;
            }
        }
        try {
            co_await sleepFor(TabActions::closePoll);
        } catch (const CancellationError&) {
            // Counts as the wait having passed. Nobody keeps this task's
            // handle, so nothing cancels it and the loop cannot spin.
        }
    }
}

void WindowModel::selectTab(const UUID& tabID, bool activate) {
    std::shared_ptr<BrowserTab> tab;
    for (const auto& candidate : tabs.get()) {
        if (candidate->id == tabID) tab = candidate;
    }
    if (!tab || closing) return;
    selectedTabID = tabID;
    if (activate && tab->deferredURL->has_value()) {
        const std::string url = *tab->deferredURL.get();
        tab->deferredURL = std::nullopt;
        tab->address = url;
        navigate();
    }
    windows_.scheduleSnapshot();
}

void WindowModel::navigate() {
    const std::shared_ptr<BrowserTab> tab = selectedTab();
    tab->editingAddress = false;
    tab->deferredURL = std::nullopt;
    tab->restorationUnavailable = false;
    try {
        tab->browser->navigate(tab->address.get());
    } catch (...) {
        // Whatever the session refused, the user is told one thing: the
        // address. The error itself has nothing more for them.
        refuse(*tab, std::string(TabActions::invalidAddress), true);
        message = std::string(TabActions::invalidAddress);
        return;
    }
    tab->refusal = std::nullopt;
    message = std::string();
}

void WindowModel::reload() {
    const std::shared_ptr<BrowserTab> tab = selectedTab();
    const BrowserSession& session = *tab->browser;
    const std::optional<std::string> shown = session.endedURL.get() ? session.endedURL.get() : session.currentURL.get();
    if (!shown) return;
    tab->address = *shown;
    navigate();
}

void WindowModel::moveTab(const UUID& tabID, int offset) {
    std::vector<std::shared_ptr<BrowserTab>> list = tabs.get();
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& tab) { return tab->id == tabID; });
    if (found == list.end()) return;
    const auto index = static_cast<int64_t>(found - list.begin());
    const int64_t target = index + offset;
    if (target < 0 || target >= static_cast<int64_t>(list.size())) return;
    std::swap(list[static_cast<std::size_t>(index)], list[static_cast<std::size_t>(target)]);
    tabs = std::move(list);
    windows_.scheduleSnapshot();
}

void WindowModel::closeTab(const UUID& tabID) {
    const std::vector<std::shared_ptr<BrowserTab>>& current = tabs.get();
    auto found = std::find_if(current.begin(), current.end(), [&](const auto& tab) { return tab->id == tabID; });
    // A busy tab closes only through requestCloseTab, after its work ended.
    if (found == current.end() || (*found)->active()) return;
    const auto index = static_cast<std::size_t>(found - current.begin());
    const std::shared_ptr<BrowserTab> closed = *found;
    closed->shutdown();
    dropTabLink(tabID);

    // The new list and selection are made whole before anyone sees them:
    // the list never empty, the selection inside it.
    std::vector<std::shared_ptr<BrowserTab>> remaining;
    for (const auto& tab : tabs.get()) {
        if (tab->id != tabID) remaining.push_back(tab);
    }
    if (remaining.empty()) remaining.push_back(makeTab(UUID::random(), false));
    UUID selection = selectedTabID;
    if (selection == tabID) selection = remaining[TabActions::selectionAfterClose(index, remaining.size())]->id;
    tabs.store(std::move(remaining));
    selectedTabID.store(selection);
    assert(!tabs->empty());
    changed.emit();
    windows_.scheduleSnapshot();
}

double WindowModel::width(double available) const {
    return TabActions::width(lockedSize(), widthMode.get(), available, customWidth, mobileWidth);
}

void WindowModel::downloadStarted(const std::weak_ptr<WindowModel>& weakModel, const std::weak_ptr<BrowserTab>& weakTab,
                                  WebKitDownload* download) {
    auto model = weakModel.lock();
    auto tab = weakTab.lock();
    if (!model || !tab || model->closing) {
        // Nobody would show, finish or clean up after it.
        webkit_download_cancel(download);
        return;
    }
    listDownload(*model, tab, download);
}

}  // namespace velmora
