// The run of an open queue, from the start's checks to the end's sentence.
//
// What it guarantees:
// - One run at a time. `busy` is set before the run's thread exists and
//   cleared only by the end of that run (its generation still current); a
//   start re-checks its guards after every wait, so two starts never launch
//   two runs.
// - The run's thread never touches the controller. It holds the engine and
//   the control strongly and the controller weakly, never locking it: every
//   report goes to the main thread as an idle source of one priority, so the
//   reports arrive in the order posted and the end comes after the last one.
//   The controller, its last reference and its destructor stay on the main
//   thread.
// - Reports of a run that is no longer current (a newer generation, or the
//   end already handled) change nothing.
// - The automatic TXT of a finished queue is published at most once per
//   queue: the engine's once-only export under "queue-completed", then the
//   key recorded in the queue itself.
// - A controller destroyed during a run pauses it (never cancels it) and
//   waits for its thread: the pages in flight are committed, the queue is
//   written paused and resumes at its next opening.
#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <functional>
#include <optional>
#include <utility>

#include "foundation/CancellationError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/UptimeClock.hpp"
#include "history/CaptureHistory.hpp"
#include "ocrqueue/QueueController.hpp"

namespace velmora {

namespace {

constexpr const char* automaticExportKey = "queue-completed";
constexpr const char* automaticStem = "OCR-結果";
constexpr const char* historyNotice = "自動TXTは保存済みですが履歴登録を確認できませんでした。成果物は保持します。";
constexpr const char* textFailed = "文字の処理は終了しましたが、TXTを保存できません。保存先を選び直してください。";

}  // namespace

// Every report of a run goes through here with the same priority, so they
// run in the order posted. Input and layout go first; painting does not: a
// window that redraws on every frame (its frames slower than the frame rate
// on a loaded machine) leaves no turn to anything below painting, and a run
// whose reports waited there would never end.
void QueueController::postToMain(std::function<void()> fn) {
    auto* posted = new std::function<void()>(std::move(fn));
    g_idle_add_full(
        G_PRIORITY_HIGH_IDLE + 15,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        posted, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

namespace {

ErrorCase caseOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (const CancellationError&) {
        return ErrorCase::cancelled;
    } catch (...) {
        return ErrorCase::invalidInput;
    }
}

bool anyInput(const QueueSnapshot& s, InputStatus status) {
    return std::any_of(s.inputs.begin(), s.inputs.end(), [status](const QueueInput& i) { return i.status == status; });
}

// The reason every failure of the run shares, when it is one that names the
// recognition mode that reads the pages: the user's way out is to change the
// mode, which "check the original" would hide.
std::optional<ErrorCase> sharedModeReason(const QueueSnapshot& s) {
    std::optional<ErrorCase> shared;
    bool mixed = false;
    const auto note = [&](const std::optional<ErrorCase>& error) {
        if (!error || (shared && *shared != *error)) mixed = true;
        else shared = error;
    };
    for (const QueueInput& input : s.inputs) {
        bool pageFailed = false;
        for (const PageRecord& page : input.pages) {
            if (page.state != PageState::failed) continue;
            pageFailed = true;
            note(page.error);
        }
        if (input.status == InputStatus::failed && !pageFailed) note(input.error);
    }
    if (mixed || !shared) return std::nullopt;
    if (*shared != ErrorCase::looksVertical && *shared != ErrorCase::looksHorizontal) return std::nullopt;
    return shared;
}

}  // namespace

std::string QueueController::errorSentence(ErrorCase error) {
    // The error's own advice, to change the mode, is not enough here: a
    // retry of the page reads it in the item's mode again.
    if (error == ErrorCase::looksVertical) {
        return "縦書きの原稿のようです。この項目は追加時の認識モードで読みます。認識モードを「縦書き」か「自動」にして、"
               "「最初から」か「OCRを再実行」で別の試行を作るか、原稿を追加し直してください。";
    }
    if (error == ErrorCase::looksHorizontal) {
        return "横書きの原稿のようです。この項目は追加時の認識モードで読みます。認識モードを「標準」か「自動」にして、"
               "「最初から」か「OCRを再実行」で別の試行を作るか、原稿を追加し直してください。";
    }
    return BrindlexError::message(error);
}

namespace {

// The sentence for how a run ended: the first row that applies.
std::string endSentence(const QueueSnapshot& s, bool passwordsWereSupplied) {
    const bool waitingPassword = s.status == QueueStatus::waitingInput && anyInput(s, InputStatus::waitingPassword);
    if (waitingPassword && passwordsWereSupplied) return "PDFパスワードが違います。入力し直してください。";
    if (waitingPassword) return "PDFのパスワードを入力してください。";
    if (s.status == QueueStatus::cancelled) return "処理を中止しました。完成済みページは保持しています。";
    if (s.failedPages() > 0 || anyInput(s, InputStatus::failed)) {
        // "Some pages" would promise results that are not there.
        if (s.completedPages() == 0) {
            if (const auto reason = sharedModeReason(s)) return QueueController::errorSentence(*reason);
            return "ページを読み取れませんでした。原稿を確認してください。";
        }
        return "一部のページを読み取れませんでした。完成済み結果は保持しています。";
    }
    if (s.status == QueueStatus::completed) return "完了";
    if (s.status == QueueStatus::paused) return "一時停止済み";
    if (s.status == QueueStatus::waitingInput) return "原稿の選び直し・パスワード入力が必要です";
    return "キュー処理終了。成功・失敗・取消を確認してください";
}

// Whether something is at the input's path; a path no queue could hold
// names nothing.
bool originalExists(const QueueInput& input) {
    try {
        struct stat st {};
        return ::stat(input.fileURL().c_str(), &st) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::filesystem::path urlOf(const QueueInput& input) {
    try {
        return input.fileURL();
    } catch (const std::exception&) {
        return std::filesystem::path(input.path);
    }
}

}  // namespace

// ---- starting

Task<void> QueueController::start() { return startTask(weak_from_this()); }

Task<void> QueueController::startTask(std::weak_ptr<QueueController> weak) {
    auto self = weak.lock();
    if (!self) co_return;
    // 1. Guards: nothing changes, not even the sentence.
    if (self->busy || self->importing || !self->engine) co_return;
    // 2. The pending edit first: a run must not start over text not stored.
    try {
        self->applyEdit();
    } catch (const std::exception&) {
        self->status = BrindlexError::message(ErrorCase::saveFailed);
        co_return;
    }
    // 3. A queue that changed since it was made is refused, not resumed.
    if (!self->managedQueue && !self->resumeChecks()) co_return;

    // 4. Where the automatic TXT goes. A queue holding a private input has
    // none: its text never leaves memory unasked.
    self->automaticDestination = std::nullopt;
    if (self->autoSave && self->engine->snapshot().persistent()) {
        if (!self->destinationProvider) {
            self->automaticDestination = self->output;
        } else {
            const std::shared_ptr<OCRQueueEngine> asked = self->engine;
            std::optional<std::filesystem::path> chosen;
            bool failed = false;
            try {
                auto answer = self->destinationProvider(false);
                self.reset();
                chosen = co_await answer;
            } catch (...) {
                // Whatever the provider failed with, the user is asked to
                // choose again.
                failed = true;
            }
            // The user may have done anything meanwhile: only the same idle
            // queue is started.
            self = weak.lock();
            if (!self || self->busy || self->importing || self->engine != asked) co_return;
            if (failed) {
                self->status = "保存先を選び直してください。処理は開始していません";
                co_return;
            }
            if (!chosen) {
                self->status = "保存先の選択を取消しました。処理は開始していません";
                co_return;
            }
            self->automaticDestination = std::move(chosen);
        }
    }
    // 5. Launch.
    self->launch();
}

bool QueueController::resumeChecks() {
    const QueueSnapshot s = engine->snapshot();
    const OCRSettings current = currentSettings();
    if (s.settings != current) {
        if (const auto& folder = engine->directory()) {
            // A saved queue gets the strict reopening, which builds its own
            // rejection when the queue cannot go on as it is.
            selectedSaved = folder->url();
            loadSaved();
            return false;
        }
        OCRSettings corrected = s.settings;
        corrected.languageCorrection = current.languageCorrection;
        const bool canRestore = corrected == current;
        detachQueue();
        rejection = ResumeRejection{s, parent, ErrorCase::settingsChanged, canRestore, std::nullopt};
        status = "設定が変わりました。前回の結果は保持しています。使用する設定を選んでください。";
        return false;
    }
    for (const QueueInput& input : s.inputs) {
        if (!input.expectedSHA256 || !originalExists(input)) continue;
        std::string digest;
        try {
            digest = Digest::file(input.fileURL());
        } catch (const std::exception&) {
            // What cannot be hashed here is checked again by the run itself,
            // which reports it on the input; it is no reason to refuse.
            continue;
        }
        if (digest == *input.expectedSHA256) continue;
        std::vector<OCRQueueEngine::InputFile> replacements;
        replacements.reserve(s.inputs.size());
        for (const QueueInput& each : s.inputs) replacements.push_back({urlOf(each), each.origin});
        const std::filesystem::path url = engine->directory() ? engine->directory()->url() : parent;
        detachQueue();
        rejection = ResumeRejection{s, url, ErrorCase::sourceChanged, false, std::move(replacements)};
        status = "前回の原稿と内容が異なるため、続きから再開できません。新しい原稿でやり直すか、選び直してください。";
        return false;
    }
    return true;
}

void QueueController::launch() {
    assert(isMainThread());
    setBusy(true);
    control = std::make_shared<JobControl>();
    const bool automaticRun = automatic;

    // The typed password belongs to the first input waiting for one, in
    // queue order; only without such an input does the selection decide.
    std::optional<UUID> target;
    if (const auto& shown = snapshot.get()) {
        for (const QueueInput& input : shown->inputs) {
            if (input.status == InputStatus::waitingPassword) {
                target = input.id;
                break;
            }
        }
    }
    if (!target) target = selectedID.get();
    passwordsWereSupplied = false;
    if (!password->empty() && target) {
        unlockedPasswords[*target] = password.get();
        passwordsWereSupplied = true;
    }
    password = "";
    // The page of a PDF just unlocked shows while it is read.
    if (passwordsWereSupplied && target == selectedID.get() && shownLocked()) showPage();
    status = "OCR処理中…";
    generation = UUID::random();

    // The last run's thread posted its end before `busy` could clear; it has
    // nothing left to do but return.
    if (task.joinable()) task.join();

    task = std::jthread([runEngine = engine, runControl = control, automaticRun, passwords = unlockedPasswords,
                         weak = weak_from_this(), runGeneration = generation] {
        // The engine reports from this thread only, one after another, so
        // the order posted is the order of the queue's changes.
        auto progress = [&](const QueueSnapshot& reported) {
            if (weak.expired()) return;
            postToMain([weak, runGeneration, copy = reported]() mutable {
                if (auto self = weak.lock()) self->deliverProgress(std::move(copy), runGeneration);
            });
        };
        // From the threads reading the pages, as often as a page's reading
        // gains a percent.
        auto reading = [&weak, runGeneration](const UUID& inputID, int64_t page, double fraction) {
            if (weak.expired()) return;
            postToMain([weak, runGeneration, inputID, page, fraction] {
                if (auto self = weak.lock()) self->deliverReading(inputID, page, fraction, runGeneration);
            });
        };
        std::exception_ptr failure;
        try {
            runEngine->run(*runControl, automaticRun, passwords, {}, progress, nullptr, reading);
        } catch (...) {
            failure = std::current_exception();
        }
        if (weak.expired()) return;
        if (failure) {
            postToMain([weak, runGeneration, error = caseOf(failure)] {
                if (auto self = weak.lock()) self->failRun(error, runGeneration);
            });
        } else {
            postToMain([weak, runGeneration, finished = runEngine->snapshot()]() mutable {
                if (auto self = weak.lock()) self->finishRun(std::move(finished), runGeneration);
            });
        }
    });
}

// ---- stopping

void QueueController::stop(JobControl::Stop stop) {
    assert(isMainThread());
    control->request(stop);
    status = stop == JobControl::Stop::pause ? "一時停止を受付中。実行中ページの確定を待っています"
                                             : "中止を受付中。新しいページは投入しません";
}

void QueueController::cancelPassword() {
    assert(isMainThread());
    if (busy || !engine || !selectedID->has_value()) return;
    const UUID id = selectedID->value();
    try {
        engine->cancelInput(id);
    } catch (const std::exception&) {
        status = BrindlexError::message(ErrorCase::invalidInput);
        return;
    }
    password = "";
    snapshot = engine->snapshot();
    unlockedPasswords.erase(id);
    status = "このファイルを取消しました。他の未処理ファイルは続行できます。";
}

void QueueController::prepareToClose() {
    assert(isMainThread());
    // The window goes: the queue must be on disk before it does.
    storeNow();
    password = "";
    unlockedPasswords.clear();
}

void QueueController::releaseRun() {
    folderControl->request(JobControl::Stop::cancel);
    if (!task.joinable()) return;
    // A pause, never a cancel: the queue stays resumable from the saved
    // list. This blocks the main thread until the pages in flight are
    // committed, at most about one page's recognition; the window's close
    // and quit sequences stop the run and wait for it before they let the
    // controller go, so only other ways of ending it pay this.
    control->request(JobControl::Stop::pause);
    task.join();
}

// ---- what the run's thread delivers

void QueueController::deliverProgress(QueueSnapshot reported, const UUID& runGeneration) {
    assert(isMainThread());
    if (generation != runGeneration || !busy) return;
    const bool wasComplete = selectedComplete();
    snapshot = std::move(reported);
    // A page read to its end, failed or put back is no longer being read.
    if (const auto& shown = reading.get(); shown && !pageInProgress(shown->inputID, shown->page)) {
        reading = std::nullopt;
    }
    if (!wasComplete && selectedComplete()) showPage();
}

bool QueueController::pageInProgress(const UUID& inputID, int64_t page) const {
    const auto& shown = snapshot.get();
    const QueueInput* input = shown ? shown->input(inputID) : nullptr;
    if (!input) return false;
    for (const PageRecord& record : input->pages) {
        if (record.page == page) return record.state == PageState::inProgress;
    }
    return false;
}

void QueueController::deliverReading(const UUID& inputID, int64_t page, double fraction,
                                     const UUID& runGeneration) {
    assert(isMainThread());
    if (generation != runGeneration || !busy) return;
    // A report that arrives after its page's end tells nothing more.
    if (!pageInProgress(inputID, page)) return;
    reading = Reading{inputID, page, fraction};
}

void QueueController::failRun(ErrorCase error, const UUID& runGeneration) {
    assert(isMainThread());
    if (generation != runGeneration) return;
    if (task.joinable()) task.join();
    snapshot = engine ? std::optional<QueueSnapshot>(engine->snapshot()) : std::nullopt;
    reading = std::nullopt;
    showPage();
    status = BrindlexError::message(error);
    // Last, so that whoever follows `busy` finds the end fully handled.
    setBusy(false);
}

void QueueController::finishRun(QueueSnapshot finished, const UUID& runGeneration) {
    assert(isMainThread());
    if (generation != runGeneration) return;
    if (task.joinable()) task.join();
    snapshot = finished;
    reading = std::nullopt;
    status = endSentence(finished, passwordsWereSupplied);
    showPage();
    refreshSaved();

    if (finished.status == QueueStatus::completed && finished.failedPages() == 0 && finished.completedPages() >= 1) {
        try {
            const std::vector<OCRProduct::Page> pages = engine ? documentPages() : std::vector<OCRProduct::Page>{};
            const bool blank = std::all_of(pages.begin(), pages.end(),
                                           [](const OCRProduct::Page& p) { return p.text.empty(); });
            if (blank) status = "認識できる文字はありませんでした。原稿を確認してください。";
        } catch (const std::exception&) {
            // Pages that cannot be read back say nothing about blankness;
            // the end's sentence stands.
        }
    }

    if (automaticDestination) publishAutomaticText(finished);
    automaticDestination = std::nullopt;
    // Last, so that whoever follows `busy` finds the end fully handled.
    setBusy(false);
}

void QueueController::publishAutomaticText(const QueueSnapshot& finished) {
    if (finished.status != QueueStatus::completed) return;
    if (finished.automaticExports && std::find(finished.automaticExports->begin(), finished.automaticExports->end(),
                                               automaticExportKey) != finished.automaticExports->end()) {
        return;
    }
    try {
        const std::string text =
            managedQueue ? managedExportText() : OCRProduct::text(documentPages(), pageSeparators);
        if (engine) {
            const std::vector<uint8_t> bytes(text.begin(), text.end());
            lastExports = std::vector<std::filesystem::path>{
                engine->exportOnce(automaticExportKey, bytes, *automaticDestination, automaticStem)};
        }
        if (finished.persistent() && !lastExports->empty()) {
            try {
                CaptureHistoryEntry entry;
                entry.id = finished.id;
                entry.kind = "ocr";
                entry.state = "completed";
                for (const std::filesystem::path& url : lastExports.get()) {
                    SavedOutput saved;
                    saved.path = url.string();
                    saved.stamp = FileStamp::read(url);
                    entry.outputs.push_back(std::move(saved));
                }
                AppHistory::required()->reconcile(entry);
            } catch (const std::exception&) {
                // The TXT is published and stays; only its history entry is
                // in doubt, and the notice says so.
                AppHistory::startupNotice().set(historyNotice);
            }
        }
        if (engine) engine->markAutomaticExport(automaticExportKey);
    } catch (const std::exception&) {
        status = textFailed;
    }
}

}  // namespace velmora
