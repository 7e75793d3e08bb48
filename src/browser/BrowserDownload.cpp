#include "browser/BrowserDownload.hpp"

#include <array>
#include <chrono>
#include <utility>

#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/UptimeClock.hpp"
#include "webcapture/BrowserSession.hpp"

namespace velmora {

namespace {

constexpr std::array allStates{BrowserDownload::State::destination, BrowserDownload::State::receiving,
                               BrowserDownload::State::cancelling,  BrowserDownload::State::committing,
                               BrowserDownload::State::completed,   BrowserDownload::State::cancelled,
                               BrowserDownload::State::failed};

// The addresses the bytes come from: the request's, and the response's once
// redirects have been followed. Each must pass the browser's one rule.
bool addressesAllowed(WebKitDownload* download) {
    std::vector<std::string> addresses;
    if (WebKitURIRequest* request = webkit_download_get_request(download)) {
        if (const char* uri = webkit_uri_request_get_uri(request)) addresses.emplace_back(uri);
    }
    if (WebKitURIResponse* response = webkit_download_get_response(download)) {
        if (const char* uri = webkit_uri_response_get_uri(response)) addresses.emplace_back(uri);
    }
    if (addresses.empty()) return false;
    for (const auto& address : addresses) {
        try {
            BrowserSession::validatedURL(address);
        } catch (const BrindlexError&) {
            return false;
        }
    }
    return true;
}

// Asks the engine to stop a download, once: a download stopped already may
// have nothing left behind it, and asking again reaches freed state in the
// engine. The mark lives on the download itself, so every holder (the
// object, a decision still waiting for the user) sees it.
void cancelOnce(WebKitDownload* download) {
    static const GQuark mark = g_quark_from_static_string("velmora-download-cancelled");
    if (!download || g_object_get_qdata(G_OBJECT(download), mark)) return;
    g_object_set_qdata(G_OBJECT(download), mark, GINT_TO_POINTER(1));
    webkit_download_cancel(download);
}

// The engine's own answer to a destination nobody decided is the user's
// download folder. A download whose object has ended or gone must never get
// it: this handler, connected after the object's own and never removed,
// answers for it by stopping the download.
gboolean refuseLateDestination(WebKitDownload* download, gchar*, gpointer) {
    cancelOnce(download);
    return TRUE;
}

}  // namespace

std::string_view rawValue(BrowserDownload::State s) {
    using State = BrowserDownload::State;
    switch (s) {
    case State::destination: return "保存先の確認中";
    case State::receiving: return "受信中";
    case State::cancelling: return "中止しています";
    case State::committing: return "保存中";
    case State::completed: return "保存完了";
    case State::cancelled: return "中止済み";
    case State::failed: return "保存できませんでした";
    }
    return "";
}

template <>
std::optional<BrowserDownload::State> fromRaw<BrowserDownload::State>(std::string_view raw) {
    for (auto s : allStates) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

std::shared_ptr<BrowserDownload> BrowserDownload::make(WebKitDownload* download, const UUID& tabID,
                                                       const UUID& windowID, bool privateMode, Services services) {
    std::shared_ptr<BrowserDownload> made(
        new BrowserDownload(download, tabID, windowID, privateMode, std::move(services)));
    made->connect();
    made->record("started");
    return made;
}

BrowserDownload::BrowserDownload(WebKitDownload* download, const UUID& tab, const UUID& window, bool privateMode,
                                 Services services)
    : id(UUID::random()),
      windowID(window),
      tabID(tab),
      isPrivate(privateMode),
      services_(std::move(services)),
      download_(GObjectRef<WebKitDownload>::ref(download)) {
    const AppPreferences& preferences = services_.settings->value();
    saveMode_ = preferences.saveMode;
    destinationID_ = preferences.destinationID;
}

BrowserDownload::~BrowserDownload() {
    if (progressSource_) g_source_remove(progressSource_);
    signals_.clear();
    if (!active()) return;
    // Nobody shows this download any more: the engine stops, and the stage
    // it wrote into is emptied now or by the next launch's sweep.
    cancelOnce(download_.get());
    if (stage_) {
        try {
            stage_->discard();
        } catch (...) {
            // Left for the sweep, which checks it again.
        }
    }
}

void BrowserDownload::connect() {
    WebKitDownload* d = download_.get();
    signals_.emplace_back(d, g_signal_connect(d, "decide-destination", G_CALLBACK(onDecideDestination), this));
    signals_.emplace_back(d, g_signal_connect(d, "received-data", G_CALLBACK(onReceivedData), this));
    signals_.emplace_back(d, g_signal_connect(d, "finished", G_CALLBACK(onFinished), this));
    signals_.emplace_back(d, g_signal_connect(d, "failed", G_CALLBACK(onFailed), this));
    g_signal_connect(d, "decide-destination", G_CALLBACK(refuseLateDestination), nullptr);
}

bool BrowserDownload::active() const noexcept {
    return state_ == State::destination || state_ == State::receiving || state_ == State::cancelling ||
           state_ == State::committing;
}

void BrowserDownload::record(std::string_view event, std::optional<int64_t> errorCode) {
    events_.push_back(
        Event{std::string(event), UptimeClock::system().seconds(), std::string(rawValue(state_)), received_, errorCode});
}

// --- The engine's signals. Each holds the object for its own duration: an
// observer of `changed` may drop the last reference.

gboolean BrowserDownload::onDecideDestination(WebKitDownload*, gchar* suggested, gpointer self) {
    auto keep = static_cast<BrowserDownload*>(self)->shared_from_this();
    keep->decideDestination(suggested ? suggested : "");
    // Always answered by this object, now or once the user has chosen.
    return TRUE;
}

void BrowserDownload::onReceivedData(WebKitDownload*, guint64, gpointer self) {
    static_cast<BrowserDownload*>(self)->scheduleProgress();
}

void BrowserDownload::onFinished(WebKitDownload*, gpointer self) {
    auto keep = static_cast<BrowserDownload*>(self)->shared_from_this();
    keep->finish();
}

void BrowserDownload::onFailed(WebKitDownload*, GError* error, gpointer self) {
    auto keep = static_cast<BrowserDownload*>(self)->shared_from_this();
    keep->fail(error);
}

// --- Destination.

void BrowserDownload::decideDestination(const std::string& suggested) {
    GObjectRef<WebKitDownload> download = download_;
    if (!active() || state_ == State::cancelling) {
        cancelOnce(download.get());
        return;
    }
    // The engine has no hook for a download's own redirects: the address the
    // bytes finally come from is checked here, before anything is made.
    if (!addressesAllowed(download.get())) {
        terminal(State::failed);
        cancelOnce(download.get());
        return;
    }
    name_ = DownloadStage::filename(suggested);
    changed.emit();
    if (saveMode_ == AppPreferences::SaveMode::automatic) {
        std::filesystem::path folder;
        try {
            if (!destinationID_) raise(ErrorCase::accessDenied);
            folder = services_.access->resolve(*destinationID_);
        } catch (...) {
            refuse();
            return;
        }
        accept(folder, download.get());
        return;
    }
    // The decision holds the object weakly: an owner that lets go while the
    // chooser is open leaves it nothing to do but refuse the engine.
    spawn(askForFolder(weak_from_this(), download));
}

Task<void> BrowserDownload::askForFolder(std::weak_ptr<BrowserDownload> weak, GObjectRef<WebKitDownload> download) {
    std::optional<std::filesystem::path> folder;
    bool failed = false;
    {
        auto self = weak.lock();
        if (!self) {
            cancelOnce(download.get());
            co_return;
        }
        SettingsStore* settings = self->services_.settings;
        OutputAccess* access = self->services_.access;
        self.reset();
        try {
            folder = co_await access->destination(*settings, true, true);
        } catch (...) {
            failed = true;
        }
    }
    auto self = weak.lock();
    // The chooser does not block the application: while it was open the user
    // may have cancelled, or the owner let go. Nothing is made then.
    if (!self || !self->active() || self->state_ == State::cancelling) {
        cancelOnce(download.get());
        if (self) self->terminal(State::cancelled);
        co_return;
    }
    if (failed) {
        self->refuse();
    } else if (!folder) {
        // The user gave no folder: cancelled, without a notice.
        self->terminal(State::cancelled);
        cancelOnce(download.get());
    } else {
        self->accept(*folder, download.get());
    }
}

void BrowserDownload::accept(const std::filesystem::path& folder, WebKitDownload* download) {
    if (!active() || state_ == State::cancelling) {
        cancelOnce(download);
        return;
    }
    try {
        stage_ = std::make_unique<DownloadStage>(folder, id);
    } catch (...) {
        refuse();
        return;
    }
    state_ = State::receiving;
    record("destination-accepted");
    changed.emit();
    webkit_download_set_allow_overwrite(download, FALSE);
    webkit_download_set_destination(download, stage_->payload().c_str());
}

void BrowserDownload::refuse() {
    GObjectRef<WebKitDownload> download = download_;
    notice_ = destinationNotice;
    terminal(State::failed);
    cancelOnce(download.get());
}

// --- Progress.

void BrowserDownload::scheduleProgress() {
    if (progressSource_ || !active()) return;
    progressSource_ = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer self) -> gboolean {
            auto* download = static_cast<BrowserDownload*>(self);
            download->progressSource_ = 0;
            auto keep = download->shared_from_this();
            if (!keep->active()) return G_SOURCE_REMOVE;
            keep->readProgress();
            keep->changed.emit();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void BrowserDownload::readProgress() {
    if (!download_) return;
    received_ = static_cast<int64_t>(webkit_download_get_received_data_length(download_.get()));
    expected_.reset();
    if (WebKitURIResponse* response = webkit_download_get_response(download_.get())) {
        // A chunked body announces nothing (0).
        const guint64 length = webkit_uri_response_get_content_length(response);
        if (length >= 1) expected_ = static_cast<int64_t>(length);
    }
}

bool BrowserDownload::receivedWhole() const {
    if (!download_) return true;
    WebKitURIResponse* response = webkit_download_get_response(download_.get());
    if (!response || !expected_) return true;
    // A compressed body announces the length of what was sent, and the
    // bytes counted are the ones it unpacks to: the two do not compare.
    if (SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response)) {
        const char* encoding = soup_message_headers_get_list(headers, "Content-Encoding");
        if (encoding && g_ascii_strcasecmp(encoding, "identity") != 0) return true;
    }
    // The transport reads no byte past the announced length; more would be
    // as wrong as fewer.
    return received_ == *expected_;
}

// --- Ends.

void BrowserDownload::finish() {
    if (!active()) return;
    if (state_ == State::cancelling) {
        terminal(State::cancelled);
        return;
    }
    readProgress();
    // The engine reports a finish whenever the connection ends without an
    // error, and over HTTP/1.0 a server that stops early ends it that way:
    // bytes short of the announced length are a broken transfer, never the
    // file.
    if (!receivedWhole()) {
        record("transfer-incomplete");
        notice_ = transferFailedNotice;
        failure_ = ErrorCase::interruptedSave;
        terminal(State::failed);
        return;
    }
    state_ = State::committing;
    record("received-complete");
    changed.emit();
    if (!stage_) {
        notice_ = publishNotice;
        terminal(State::failed);
        return;
    }
    try {
        output_ = stage_->publish(name_);
    } catch (...) {
        notice_ = publishNotice;
        terminal(State::failed);
        return;
    }
    terminal(State::completed);
}

void BrowserDownload::fail(const GError* error) {
    if (!active()) return;
    record("transport-failed", error ? std::optional<int64_t>(error->code) : std::nullopt);
    if (state_ != State::cancelling) {
        // A failed download says why, beside its state: the user decides
        // from it whether to choose another folder or simply try again.
        const bool writing = error && error->domain == WEBKIT_DOWNLOAD_ERROR &&
                             error->code == WEBKIT_DOWNLOAD_ERROR_DESTINATION;
        notice_ = writing ? writeFailedNotice : transferFailedNotice;
        if (!writing) failure_ = ErrorCase::interruptedSave;
    }
    terminal(state_ == State::cancelling ? State::cancelled : State::failed);
}

void BrowserDownload::cancel() {
    if (!active() || state_ == State::cancelling) return;
    state_ = State::cancelling;
    record("cancel-handler");
    changed.emit();
    if (!download_) {
        terminal(State::cancelled);
        return;
    }
    // The engine reports the stop as a failure (and then a finish), which
    // ends the download as cancelled.
    GObjectRef<WebKitDownload> download = download_;
    cancelOnce(download.get());
}

void BrowserDownload::terminal(State final) {
    if (!active()) return;
    if (final != State::completed && stage_) {
        try {
            stage_->discard();
        } catch (...) {
            notice_ = keptStageNotice;
        }
    }
    state_ = final;
    if (progressSource_) g_source_remove(std::exchange(progressSource_, 0));
    signals_.clear();
    download_.reset();
    stage_.reset();
    record("terminal");
    if (services_.log) {
        SafeEvent::Stage stage = SafeEvent::Stage::cancelled;
        std::optional<ErrorCase> error;
        if (final == State::completed) {
            stage = SafeEvent::Stage::completed;
        } else if (final == State::failed) {
            stage = SafeEvent::Stage::failed;
            error = failure_.value_or(ErrorCase::saveFailed);
        }
        services_.log(stage, id, error, std::chrono::system_clock::now());
    }
    changed.emit();
}

}  // namespace velmora
