#include "workspace/model/CaptureHandOff.hpp"

#include <glibmm/main.h>

#include <cassert>
#include <utility>
#include <vector>

#include "foundation/OCRMode.hpp"
#include "foundation/UptimeClock.hpp"
#include "ocrjobs/JobControl.hpp"

namespace velmora::CaptureHandOff {

namespace {

// A pause that the capture's cancel does not cut short: the watch goes on
// after it has asked the queue to stop, and a sleep that ended at once would
// spin without letting the main loop deliver the run's end.
Task<void> pause(std::chrono::milliseconds duration) {
    std::function<void(Resumer<bool>)> start = [duration](Resumer<bool> resumer) {
        Glib::signal_timeout().connect_once([resumer] { resumer.resume(true); },
                                            static_cast<unsigned int>(duration.count()));
    };
    co_await awaitCallback<bool>(std::move(start));
}

bool sameQueue(const QueueController& queue, const UUID& startedID) {
    const std::optional<QueueSnapshot>& now = queue.snapshot.get();
    return now && now->id == startedID;
}

// The run in another window, watched from outside the capture: that window
// comes forward with its result when the run ends, unless its queue was
// replaced meanwhile. The window itself is not held: one closed meanwhile
// stops its run and is not brought back.
Task<void> followElsewhere(std::shared_ptr<QueueController> queue, UUID startedID,
                           std::function<void()> bringForward) {
    while (queue->busy && sameQueue(*queue, startedID)) co_await pause(watchPoll);
    if (sameQueue(*queue, startedID) && bringForward) bringForward();
}

}  // namespace

std::string runningIn(std::string_view where) {
    return "OCRは" + std::string(where) + "で実行しています。";
}

std::string completedIn(std::string_view where) {
    return "標準OCRが完了しました。" + std::string(where) + "で確認できます。";
}

std::string replacedIn(std::string_view where) {
    return std::string(where) + "で処理結果を確認してください。";
}

std::string partialIn(std::string_view where) {
    return "OCRの一部を読み取れませんでした。" + std::string(where) + "を確認してください。";
}

bool takes(const QueueController& queue) {
    return !queue.snapshot->has_value() && !queue.busy && !queue.hasUnsavedEdits();
}

Task<std::string> run(CaptureReceipt receipt, std::filesystem::path folder, InputOrigin origin, bool automatic,
                      bool languageCorrection, Target asking, std::function<std::optional<Target>()> openWindow) {
    assert(isMainThread());
    if (isCurrentTaskCancelled()) co_return notStarted;
    std::vector<std::filesystem::path> files;
    try {
        files = receipt.orderedFiles(folder);
    } catch (...) {
        co_return failed;
    }

    // The window that opens is the target, whichever window the desktop
    // makes active: another one may hold results that must not be replaced.
    std::optional<Target> target;
    if (asking.queue && takes(*asking.queue)) {
        target = std::move(asking);
    } else {
        const std::shared_ptr<QueueController> own = asking.queue;
        asking = Target{};
        if (openWindow) target = openWindow();
        if (!target || !target->queue || target->queue == own || !takes(*target->queue)) co_return failed;
    }
    const std::shared_ptr<QueueController> queue = target->queue;
    const std::string where = target->where.empty() ? std::string(ownOCR) : target->where;

    queue->recognitionMode = OCRMode::standard;
    queue->privateInput = origin == InputOrigin::privateSession;
    queue->automatic = automatic;
    queue->languageCorrection = languageCorrection;
    queue->autoSave = false;
    queue->select(files, nullptr);
    const std::optional<QueueSnapshot>& selected = queue->snapshot.get();
    if (!selected || selected->inputs.size() != files.size()) co_return failed;
    const UUID startedID = selected->id;
    if (target->showOCR) target->showOCR();

    // Whether the start launched a run is read from the run itself: a run
    // may already have ended by the time the start returns.
    auto launched = std::make_shared<bool>(false);
    sigc::connection watching = queue->busyChanged.connect([launched, weak = std::weak_ptr(queue)] {
        if (auto q = weak.lock(); q && q->busy) *launched = true;
    });
    try {
        Task<void> starting = queue->start();
        co_await std::move(starting);
    } catch (...) {
        // A start that fails says so in the queue's own status; here it is
        // a run that did not happen.
    }
    watching.disconnect();
    if (!*launched && !queue->busy) co_return failed;

    // Another window runs it: the image is saved, so the capture ends here
    // and frees its tab; the run's progress and its 中止 are that window's.
    if (!target->where.empty()) {
        if (queue->busy && sameQueue(*queue, startedID)) {
            spawn(followElsewhere(queue, startedID, std::move(target->bringForward)));
            co_return runningIn(where);
        }
        // Ended already, in the start's own turn.
        if (target->bringForward) target->bringForward();
        const QueueSnapshot& ended = *queue->snapshot.get();
        co_return ended.status == QueueStatus::completed && ended.failedPages() == 0 ? completedIn(where)
                                                                                     : partialIn(where);
    }

    bool stopRequested = false;
    while (queue->busy && sameQueue(*queue, startedID)) {
        if (isCurrentTaskCancelled() && !stopRequested) {
            queue->stop(JobControl::Stop::cancel);
            stopRequested = true;
        }
        co_await pause(watchPoll);
    }

    if (stopRequested) {
        co_return sameQueue(*queue, startedID) ? stopped : replacedIn(where);
    }
    std::string text;
    if (!sameQueue(*queue, startedID)) {
        text = replacedIn(where);
    } else {
        const QueueSnapshot& ended = *queue->snapshot.get();
        if (ended.status == QueueStatus::cancelled) co_return stopped;
        text = ended.status == QueueStatus::completed && ended.failedPages() == 0 ? completedIn(where) : partialIn(where);
    }
    // The result is in another window: that window comes forward with it,
    // so that the sentence's window is the one in front.
    if (target->bringForward) target->bringForward();
    co_return text;
}

}  // namespace velmora::CaptureHandOff
