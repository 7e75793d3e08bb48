#pragma once

// One file a tab's page downloads, from the web engine's hand-off to its
// final state. It saves only into the folder the user approved (the saved
// folder, or the one chosen for this download), receives into a private
// stage there, publishes under a free name without replacing anything, and
// otherwise stops with a notice instead of saving anywhere else.
//
// The window makes one for each download its tab's session hands on and
// appends it to the tab's `downloads`; the list observes `changed`, which is
// emitted after each change of a shown field (progress at most once per
// main-loop turn, however fast the bytes come). Owned through shared_ptr;
// the engine's signals and the destination decision hold it only weakly.
// Main thread only.

#include <webkit/webkit.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>

#include "capture/DownloadStage.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/GObjectRef.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/SafeEvent.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

class OutputAccess;
class SettingsStore;
class UptimeClock;

class BrowserDownload : public std::enable_shared_from_this<BrowserDownload> {
public:
    // The raw value of each state is the label the download list shows.
    enum class State { destination, receiving, cancelling, committing, completed, cancelled, failed };

    // What a download needs of the application's services; none is owned.
    struct Services {
        SettingsStore* settings = nullptr;
        OutputAccess* access = nullptr;
        // The event log: one record per download, at its end.
        std::function<void(SafeEvent::Stage, const UUID& job, std::optional<ErrorCase>, Date)> log;
    };

    // One entry of the in-memory trail (never persisted).
    struct Event {
        std::string event;
        double time = 0;  // uptime seconds
        std::string state;
        int64_t received = 0;
        std::optional<int64_t> errorCode;
    };

    static constexpr const char* initialName = "ダウンロード";
    static constexpr const char* destinationNotice = "保存先を選び直してください。別の場所には保存しません。";
    static constexpr const char* publishNotice = "保存を確定できません。保存先を確認して再度ダウンロードしてください。";
    // Why a download the engine gave up on failed: the file could not be
    // written where it goes, or the transfer broke off.
    static constexpr const char* writeFailedNotice = "保存先に書き込めませんでした。保存先を確認して再度ダウンロードしてください。";
    static constexpr const char* transferFailedNotice = "受信が途中で途切れました。再度ダウンロードしてください。";
    static constexpr const char* keptStageNotice =
        "一時ファイルを確認できないため保持しています。保存済みファイルは変更しません。";

    // Takes the engine's download over: from here on it answers where the
    // download goes. The save mode and the saved folder are read now, once.
    static std::shared_ptr<BrowserDownload> make(WebKitDownload* download, const UUID& tabID, const UUID& windowID,
                                                 bool privateMode, Services services);
    // A download still running when its owner lets go is cancelled, and its
    // stage emptied.
    ~BrowserDownload();
    BrowserDownload(const BrowserDownload&) = delete;
    BrowserDownload& operator=(const BrowserDownload&) = delete;

    const UUID id;
    const UUID windowID;
    const UUID tabID;
    const bool isPrivate;

    sigc::signal<void()> changed;

    State state() const noexcept { return state_; }
    // The file name shown: initialName until the engine suggests one.
    const std::string& name() const noexcept { return name_; }
    int64_t received() const noexcept { return received_; }
    // The announced length, when at least 1 byte was announced.
    std::optional<int64_t> expected() const noexcept { return expected_; }
    // The published file, once completed.
    const std::optional<std::filesystem::path>& output() const noexcept { return output_; }
    const std::string& notice() const noexcept { return notice_; }
    const std::vector<Event>& events() const noexcept { return events_; }
    // The engine's download while it runs; null once ended.
    WebKitDownload* download() const noexcept { return download_.get(); }

    // destination, receiving, cancelling or committing.
    bool active() const noexcept;
    // The user's cancel: ends as cancelled once the engine has stopped.
    void cancel();

private:
    BrowserDownload(WebKitDownload* download, const UUID& tabID, const UUID& windowID, bool privateMode,
                    Services services);
    void connect();

    static gboolean onDecideDestination(WebKitDownload*, gchar* suggested, gpointer self);
    static void onReceivedData(WebKitDownload*, guint64, gpointer self);
    static void onFinished(WebKitDownload*, gpointer self);
    static void onFailed(WebKitDownload*, GError* error, gpointer self);

    void decideDestination(const std::string& suggested);
    static Task<void> askForFolder(std::weak_ptr<BrowserDownload> weak, GObjectRef<WebKitDownload> download);
    // After the folder is known; checks again that the download still waits.
    void accept(const std::filesystem::path& folder, WebKitDownload* download);
    // No folder may be used: the notice, the engine answered, failed.
    void refuse();
    void finish();
    // The bytes received are the whole body the response announced (or it
    // announced no length that the count could be compared with).
    bool receivedWhole() const;
    void fail(const GError* error);
    void scheduleProgress();
    void readProgress();
    void record(std::string_view event, std::optional<int64_t> errorCode = std::nullopt);
    void terminal(State final);

    Services services_;
    AppPreferences::SaveMode saveMode_;
    std::optional<UUID> destinationID_;

    State state_ = State::destination;
    std::string name_ = initialName;
    int64_t received_ = 0;
    std::optional<int64_t> expected_;
    std::optional<std::filesystem::path> output_;
    std::string notice_;
    // Why a failed download failed, for the event log: the transfer broke
    // off (interruptedSave), else the file could not be saved (saveFailed).
    std::optional<ErrorCase> failure_;
    std::vector<Event> events_;

    GObjectRef<WebKitDownload> download_;
    std::unique_ptr<DownloadStage> stage_;
    std::vector<SignalConnection> signals_;
    guint progressSource_ = 0;
};

std::string_view rawValue(BrowserDownload::State s);
template <>
std::optional<BrowserDownload::State> fromRaw<BrowserDownload::State>(std::string_view raw);

}  // namespace velmora
