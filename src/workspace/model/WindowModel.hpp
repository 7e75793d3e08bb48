#pragma once

// The state of one workspace window: its tabs and the selected one, its own
// OCR queue, the section shown, the panel layout, the capture and print
// options of the web section and the status message, kept in step with the
// preferences, the queue and the tabs' web sessions.
//
// - Every published field shares the one `changed` signal; a tab's changes
//   are forwarded as the model's own, so a view that observes the model sees
//   every change of every tab.
// - `tabs` is never empty once create() has returned: closing the last tab
//   puts a fresh one in its place, and the new list and selection are
//   published together, so no observer sees an empty list or a selection
//   that has to be read past the list's end.
// - Preferences reach the queue at once, but the window's own options only
//   while none of its tabs saves: a save keeps the options it started with,
//   and the latest preferences wait in `pendingPreferences_` until the last
//   save of the window ends.
// - Every closure the model installs (tab hooks, the queue's destination)
//   holds the model and the tab weakly and does nothing once either is gone,
//   so neither keeps the other alive; a web session may outlive its tab.
// Main thread only.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>

#include "browser/BrowserTab.hpp"
#include "capture/PrintOptions.hpp"
#include "capture/TabSnapshot.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/Confirmation.hpp"
#include "foundation/Geometry.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/Published.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/SafeEvent.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "ocrqueue/QueueController.hpp"
#include "webcapture/OperationTrace.hpp"
#include "workspace/model/SaveRequest.hpp"
#include "workspace/model/WindowSetLink.hpp"

namespace velmora {

class AppServices;

class WindowModel : public std::enable_shared_from_this<WindowModel>, public SaveRequest::Window {
    struct Passkey {};

public:
    // The panes of a window, in the order the window offers them.
    enum class Section { web, ocr, history, settings };
    static constexpr std::array<Section, 4> allSections{Section::web, Section::ocr, Section::history,
                                                        Section::settings};
    // The section's symbolic icon of the desktop's icon theme.
    static std::string_view icon(Section section);

    // Where the queue's TXT goes: the folder, or none when the user
    // cancelled; it may throw.
    using DestinationProvider = QueueController::DestinationProvider;

    static constexpr const char* ocrFolderKind = "OCR";
    static constexpr const char* queuesFolder = "queues";

    // A new window's model, or a restored window's (its tabs normal and
    // unloaded). services and windows outlive the model.
    static std::shared_ptr<WindowModel> create(AppServices& services, std::optional<RestoredWindow> restored,
                                               WindowSetLink& windows);

    WindowModel(Passkey, AppServices& services, const std::optional<RestoredWindow>& restored,
                WindowSetLink& windows);
    ~WindowModel();
    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // Emitted after every assignment of a published field and every change
    // of a tab.
    sigc::signal<void()> changed;

    const UUID id;
    AppServices& services;
    const std::shared_ptr<QueueController> queue;

    // The published fields, in the order of the window's model.
    Published<std::vector<std::shared_ptr<BrowserTab>>> tabs{changed, {}};
    // May name no tab; selectedTab() then is the first.
    Published<UUID> selectedTabID;
    Published<Section> section{changed, Section::web};
    // Set by the close sequence: no child window and no download is taken
    // any more.
    Published<bool> closing{changed, false};
    Published<double> rightPanelPreferredWidth{changed, 320};
    Published<double> bottomPanelPreferredHeight{changed, 300};
    Published<AppPreferences::Panel> panel{changed, AppPreferences::Panel::right};
    // "current", "mobile" or "custom"; copied from the preferences as it is.
    Published<std::string> widthMode{changed, "mobile"};
    Published<int64_t> mobileWidth{changed, 430};
    Published<int64_t> customWidth{changed, 1440};
    Published<int64_t> scale{changed, 1};
    Published<bool> lazyLoad{changed, true};
    Published<int64_t> waitSeconds{changed, -1};
    Published<bool> captureOCR{changed, false};
    Published<PrintOptions::Paper> paper{changed, PrintOptions::Paper::a4};
    Published<PrintOptions::Output> format{changed, PrintOptions::Output::both};
    Published<bool> landscape{changed, false};
    Published<double> margin{changed, 12};
    Published<bool> backgrounds{changed, true};
    Published<bool> headerFooter{changed, false};
    // The window's one status sentence.
    Published<std::string> message{changed, ""};
    // Whether the window's footer shows the message: not a refusal, which
    // stands beside the control that asked for as long as it concerns the
    // page, and would otherwise be said twice, the second time far away.
    bool messageInFooter() const { return !message->empty() && message.get() != toldAtControl_; }
    // A new value asks the web pane to focus the address field.
    Published<UUID> addressFocusRequest{changed, UUID::random()};

    // --- Derived, read afresh on every call. Tabs are scanned in order.

    // The tab named by selectedTabID, else the first.
    const std::shared_ptr<BrowserTab>& selectedTab() const;
    BrowserSession& browser() const { return *selectedTab()->browser; }
    // The first normal tab's session; the selected one's when all are
    // private.
    BrowserSession& normalBrowser() const;
    const std::string& address() const { return selectedTab()->address.get(); }
    void setAddress(std::string text) { selectedTab()->address = std::move(text); }
    bool privateMode() const { return selectedTab()->isPrivate(); }
    const std::optional<Size>& lockedSize() const { return selectedTab()->lockedSize.get(); }
    void setLockedSize(std::optional<Size> size) { selectedTab()->lockedSize = size; }
    const std::optional<std::filesystem::path>& lastOutput() const { return selectedTab()->lastOutput.get(); }
    void setLastOutput(std::optional<std::filesystem::path> url) { selectedTab()->lastOutput = std::move(url); }
    // Some tab is active, else the queue is busy.
    bool active() const;
    // Some tab's session has a save pending.
    bool webSaving() const;
    // What closing now would stop or lose.
    struct PendingWork {
        bool webSave = false;
        bool download = false;
        bool ocr = false;
        bool unsavedEdits = false;
        bool privateResults = false;
        bool any() const { return webSave || download || ocr || unsavedEdits || privateResults; }
        PendingWork& operator|=(const PendingWork& other);
        // The question before a quit, naming each kind found, in this order.
        std::string question() const;
        // What its answers mean for the work found: a private queue is
        // named only when one is among it.
        std::string informative() const;
        // The answer that quits, named for what becomes of the work:
        // running work stops, edits of saved queues are kept, a private
        // queue's TXT not yet saved is given up.
        std::string quitLabel() const;
        // How that answer is drawn: it loses nothing when only the edits of
        // saved queues are found, which stay with them.
        Confirmation::Ahead quitAhead() const;
    };
    PendingWork pendingWork() const;
    // Closing now would stop work or lose results: a tab is active, the
    // queue is busy or holds unsaved edits, or a private queue holds
    // results in memory.
    bool needsCloseConfirmation() const { return pendingWork().any(); }

    // --- The model's own operations.

    // The tab factory: the tab wired to this model (its changes forwarded,
    // its save's end handled, its session's four hooks installed), neither
    // inserted nor selected.
    std::shared_ptr<BrowserTab> makeTab(const UUID& tabID, bool privateMode,
                                        std::optional<WebViewConfiguration> configuration = std::nullopt);
    // The capture and print options from product defaults; an unknown paper
    // or output gives A4 or both.
    void applyProduct(const ProductDefaults& product);
    // A new value of the preferences (see the head of this file).
    void applyPreferences(const AppPreferences& preferences);
    // The panel's "表示" ("pc" or "mobile"): the width mode, kept in the
    // preferences as the one the next launch opens with (PC as the current
    // width). This window's other options stay as they are.
    void chooseDisplay(std::string_view displayValue);
    // Ends the per-tab subscriptions of every tab: the close sequence's
    // step before the model goes.
    void dropTabSubscriptions();

    // --- Closing the window (WindowClosing.cpp): cancelForClose, then
    // waitForStop, then finishClosing.

    // Marks the window closing and asks every tab's work and a busy queue
    // run to stop (cancel). Never fails.
    void cancelForClose();
    // Returns once no tab is active and the queue is not busy, looking every
    // 50 ms with no time limit; keeps the model alive while it waits.
    Task<void> waitForStop();
    // The queue's close preparation (its error passes on and nothing else
    // happens), then every tab shut down and the tab subscriptions ended.
    // Harmless a second time.
    void finishClosing();
    // Every tab shut down and the tab subscriptions ended, whatever path
    // lets the window go: a tab still busy is cancelled, cut off from this
    // model and the window set, and shut down once its work has ended, its
    // wait holding only the tab. Harmless a second time.
    void shutDownTabs();

    // --- The tab actions (TabActions.cpp).

    // A new tab at the end, selected.
    std::shared_ptr<BrowserTab> addTab(bool privateMode,
                                       std::optional<WebViewConfiguration> configuration = std::nullopt);
    // The user's new empty tab (the tab bar's buttons, the menu and its
    // keys): added as addTab does, with the caret asked into its address
    // field, so that what the user types next is the new tab's address.
    std::shared_ptr<BrowserTab> openTab(bool privateMode);
    // Closes an idle tab at once; a busy one only after the user agreed in a
    // question on the window and its work has stopped. One question per tab.
    void requestCloseTab(const UUID& tabID);
    // With activate, a restored tab that was never loaded loads its address.
    void selectTab(const UUID& tabID, bool activate);
    // Loads the selected tab's address text; the message says whether it
    // could.
    void navigate();
    // Loads the selected tab's page again from its address (that of the
    // page whose process ended), as navigate.
    void reload();
    // Moves a tab by offset places; nothing past either end.
    void moveTab(const UUID& tabID, int offset);
    // Closes an idle tab; nothing for a busy one.
    void closeTab(const UUID& tabID);
    // The width the web pane lays the selected tab's page out at.
    double width(double available) const;
    // A download the session of a tab started: cancelled when the model or
    // the tab is gone or the window closes, otherwise listed on its tab.
    static void downloadStarted(const std::weak_ptr<WindowModel>& model, const std::weak_ptr<BrowserTab>& tab,
                                WebKitDownload* download);

    // --- Saving a tab's page (WindowSave.cpp).

    // Saves the selected tab's page into the approved folder: a tall PNG
    // (printing false) or a print-style save. Returns once the save is
    // handed to the tab's web session or refused (every refusal one sentence
    // in `message`); the save then runs in the session. Holds the model only
    // weakly while the folder chooser is open. A caller may spawn it and
    // drop it.
    Task<void> save(bool printing);
    // The OCR of a finished capture of this window's tab: into this
    // window's queue when it is free, else a new window's; the sentence
    // about the outcome.
    Task<std::string> queueCapture(CaptureReceipt receipt, std::filesystem::path folder, InputOrigin origin,
                                   bool automatic, bool languageCorrection) override;

    // --- The rules of the event log, without a model.

    // How a save ended, from its trace: cancelled or failed when its last
    // event says so, completed otherwise (also without events).
    static SafeEvent::Stage operationStage(const OperationTrace& trace);
    // How a queue run ended, from its snapshot: cancelled, failed (any
    // failed page), completed, or else paused (also without a snapshot).
    static SafeEvent::Stage queueStage(const std::optional<QueueSnapshot>& snapshot);

private:
    // The save request's port (WindowSave.cpp).
    bool saveBlocked() const override;
    bool pageFailed() const override;
    bool pageEnded() const override;
    CaptureSelection captureSelection() const override;
    PrintSelection printSelection() const override;
    SaveRequest::Page page(const CaptureSelection& selection) override;
    SaveRequest::QueueFlags queueFlags() const override;
    SettingsStore& settingsStore() override;
    OutputAccess& outputAccess() override;
    std::optional<SaveRequest::TabNow> tabNow(const UUID& tabID) const override;
    void setMessage(std::string text) override;
    void lock(const UUID& tabID, Size size, const std::filesystem::path& folder) override;
    void unlock(const UUID& tabID) override;
    void capture(const UUID& tabID, CaptureOptions options, const std::filesystem::path& folder) override;
    void print(const UUID& tabID, PrintOptions options, const std::filesystem::path& folder) override;
    std::shared_ptr<BrowserTab> listedTab(const UUID& tabID) const;
    // Records a refusal on the tab, with its page as it stands.
    void refuse(BrowserTab& tab, const std::string& text, bool failure);

    // The last refusal told beside its control.
    std::string toldAtControl_;

    struct TabLink {
        sigc::connection changed;
        // The last operationPending value seen, so the save's end handler
        // runs once per change, not on every change of the tab.
        bool pending = false;
    };

    void init(const std::optional<RestoredWindow>& restored);
    // A change of a tab (forwarded), and the end handler when its save
    // started or ended.
    void tabChanged(BrowserTab& tab);
    void operationChanged(BrowserTab& tab, bool pending);
    void queueBusyChanged();
    void navigationChanged(BrowserTab& tab);
    void dropTabLink(const UUID& tabID);
    static void listDownload(WindowModel& model, const std::shared_ptr<BrowserTab>& tab, WebKitDownload* download);
    static Task<std::optional<std::filesystem::path>> destination(std::weak_ptr<WindowModel> model, bool ask);
    static Task<void> shutDownWhenStopped(std::shared_ptr<BrowserTab> tab);
    static Task<void> closeWhenConfirmed(std::weak_ptr<WindowModel> model, std::weak_ptr<BrowserTab> tab,
                                         UUID tabID);

    WindowSetLink& windows_;
    std::vector<sigc::connection> subscriptions_;
    std::map<UUID, TabLink> tabSubscriptions_;
    // Tabs whose close question is open or whose close is under way.
    std::set<UUID> closingTabs_;
    std::optional<AppPreferences> pendingPreferences_;
    // The preferences last received; applyPreferences compares with them.
    AppPreferences defaults_;
};

std::string_view rawValue(WindowModel::Section section);
template <>
std::optional<WindowModel::Section> fromRaw<WindowModel::Section>(std::string_view raw);

}  // namespace velmora
