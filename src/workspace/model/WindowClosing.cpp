// The three steps that stop a window's work before it goes, shared by
// closing one window and quitting the application.

#include <glibmm/main.h>

#include "workspace/model/TabActions.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

namespace {

// A pause that a cancel does not cut short: a cancelled sleep ends at once,
// and a wait that polls with it would then spin without ever letting the
// main loop run the work it waits for.
Task<void> pause(std::chrono::milliseconds duration) {
    std::function<void(Resumer<bool>)> start = [duration](Resumer<bool> resumer) {
        Glib::signal_timeout().connect_once([resumer] { resumer.resume(true); },
                                            static_cast<unsigned int>(duration.count()));
    };
    co_await awaitCallback<bool>(std::move(start));
}

}  // namespace

void WindowModel::cancelForClose() {
    closing = true;
    // A copy: a tab's cancel may announce changes that replace the list.
    const auto list = tabs.get();
    for (const auto& tab : list) tab->cancel();
    if (queue->busy.get()) queue->stop(JobControl::Stop::cancel);
}

Task<void> WindowModel::waitForStop() {
    // The caller may let go of the window while this waits.
    auto self = shared_from_this();
    for (;;) {
        bool running = queue->busy.get();
        for (const auto& tab : tabs.get()) running = running || tab->active();
        if (!running) co_return;
        co_await pause(TabActions::closePoll);
    }
}

void WindowModel::finishClosing() {
    queue->prepareToClose();
    shutDownTabs();
}

void WindowModel::shutDownTabs() {
    const auto list = tabs.get();
    dropTabSubscriptions();
    for (const auto& tab : list) {
        if (tab->closed()) continue;
        if (tab->active()) {
            // The window may be gone already: nothing of the tab may reach
            // it or its set while the work stops.
            BrowserSession& session = *tab->browser;
            session.navigationChanged = nullptr;
            session.childRequested = nullptr;
            session.closeRequested = nullptr;
            session.downloadStarted = nullptr;
            tab->cancel();
            spawn(shutDownWhenStopped(tab));
        } else {
            tab->shutdown();
        }
    }
}

Task<void> WindowModel::shutDownWhenStopped(std::shared_ptr<BrowserTab> tab) {
    while (tab->active()) co_await pause(TabActions::closePoll);
    tab->shutdown();
}

}  // namespace velmora
