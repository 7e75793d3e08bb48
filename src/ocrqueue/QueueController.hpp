#pragma once

#include <sigc++/sigc++.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/OCRMode.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/Published.hpp"
#include "foundation/Raster.hpp"
#include "foundation/TextRange.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/JobControl.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "ocrqueue/QueuePorts.hpp"
#include "recognition/handwriting/AnnotationFilter.hpp"
#include "ocrjobs/OCRDecorationState.hpp"
#include "recognition/page/OCRProduct.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

// A published field that only its owner assigns, because an assignment has
// consequences the owner runs (a hook, a second signal).
template <typename T>
class OwnedPublished {
public:
    OwnedPublished(sigc::signal<void()>& changed, T initial) : value_(changed, std::move(initial)) {}

    const T& get() const noexcept { return value_.get(); }
    operator const T&() const noexcept { return value_.get(); }
    const T* operator->() const noexcept { return &value_.get(); }
    friend bool operator==(const OwnedPublished& a, const T& b) { return a.get() == b; }

private:
    friend class QueueController;
    void set(T value) { value_ = std::move(value); }

    Published<T> value_;
};

// The OCR section of one workspace window, without a display: the mirror of
// the open queue, the shown page with its texts and highlight states, the
// options of the next queue, and the bookkeeping of the actions between the
// user's steps. Views observe `changed` and read the published fields.
//
// Every member runs on the main thread. Background work holds the controller
// only weakly and locks it on the main thread, so the last reference, and the
// destructor, are always there too.
class QueueController : public std::enable_shared_from_this<QueueController> {
    struct Passkey {};

public:
    // Why a queue cannot be resumed as it is.
    struct ResumeRejection {
        std::optional<QueueSnapshot> candidate;
        std::filesystem::path url;
        ErrorCase reason = ErrorCase::damagedCheckpoint;
        bool canRestoreSettings = false;
        std::optional<std::vector<OCRQueueEngine::InputFile>> replacementInputs{};
    };

    static constexpr const char* initialStatus = "PNG・JPEG・PDFを開いて、OCRを開始してください。";
    static constexpr const char* incompatibleLabel = "以前の処理（互換性の確認が必要）";
    // Copying or saving the text before any page of the queue is read.
    static constexpr const char* nothingReadSentence =
        "まだ読み取ったページがありません。「OCRを開始」で読み取ってから操作してください。";

    // What the user reads of an error of a page or an original of a queue.
    // An item keeps the recognition mode it was added with, and a retry of
    // its failed pages reads them in that mode again: a page refused as
    // text of the other orientation is told the ways that read it in the
    // mode chosen now (a new trial, or the file added again).
    static std::string errorSentence(ErrorCase error);

    // parent: the folder of saved queues (the storage root's "queues");
    // output: the default root of TXT files (the output root).
    static std::shared_ptr<QueueController> create(std::optional<std::filesystem::path> parent = std::nullopt,
                                                   std::optional<std::filesystem::path> output = std::nullopt,
                                                   QueuePorts ports = {});

    QueueController(Passkey, std::filesystem::path parent, std::filesystem::path output, QueuePorts ports);
    QueueController(const QueueController&) = delete;
    QueueController& operator=(const QueueController&) = delete;
    ~QueueController();

    // Emitted after every assignment of a published field.
    sigc::signal<void()> changed;
    // Emitted after every assignment of `busy`, after `changed`.
    sigc::signal<void()> busyChanged;

    // The fields, in the order of the controller's model.
    Published<std::optional<QueueSnapshot>> snapshot{changed, std::nullopt};
    OwnedPublished<bool> busy{changed, false};
    Published<std::string> status{changed, initialStatus};
    Published<std::optional<UUID>> selectedID{changed, std::nullopt};
    Published<int64_t> page{changed, 1};
    Published<std::string> original{changed, ""};
    OwnedPublished<std::string> edited{changed, ""};
    bool loadingDecoration = false;

private:
    std::map<std::string, OCRDecorationState> decorations;

public:
    std::optional<std::string> decorationKey;
    Published<std::vector<TextRegion>> regions{changed, {}};
    Published<std::optional<RasterImage>> preview{changed, std::nullopt};
    // The shown page's picture (its image, page count and whether it opens
    // at all) is being prepared on a worker; `preview` and
    // `previewPageCount` still hold what was shown before.
    Published<bool> picturePending{changed, false};
    Published<std::string> password{changed, ""};
    OwnedPublished<std::string> search{changed, ""};
    Published<std::optional<OCRProduct::Match>> searchSelection{changed, std::nullopt};
    Published<int64_t> previewPageCount{changed, 1};
    Published<double> zoom{changed, 1.0};
    Published<bool> focusSearch{changed, false};
    Published<std::vector<std::filesystem::path>> lastExports{changed, {}};
    Published<bool> productPresentation{changed, true};
    Published<bool> processingList{changed, false};
    Published<bool> managedQueue{changed, false};
    Published<bool> exportWholeQueue{changed, false};
    Published<bool> exportOneFile{changed, true};
    Published<bool> folderRecursive{changed, false};
    Published<bool> folderListing{changed, false};
    Published<std::vector<std::filesystem::path>> folderCandidates{changed, {}};
    Published<bool> recoveryDeferred{changed, false};
    std::shared_ptr<JobControl> folderControl = std::make_shared<JobControl>();

    // The end of one engine preparation, awaited by the next so queues open
    // in the order they were asked for.
    class Completion {
    public:
        void finish();
        bool done() const { return done_; }
        // Resumes at once when already finished.
        CallbackAwaiter<void> wait();

    private:
        bool done_ = false;
        std::vector<Resumer<void>> waiters_;
    };
    std::shared_ptr<Completion> importTask;
    Published<bool> importing{changed, false};
    Published<bool> automatic{changed, true};
    Published<bool> privateInput{changed, false};
    Published<bool> autoSave{changed, false};
    Published<bool> preserveLines{changed, true};
    Published<bool> pageSeparators{changed, true};
    Published<bool> combined{changed, true};
    Published<std::vector<std::filesystem::path>> savedQueues{changed, {}};
    Published<std::optional<std::filesystem::path>> selectedSaved{changed, std::nullopt};
    Published<bool> languageCorrection{changed, true};
    Published<OCRMode> recognitionMode{changed, OCRMode::standard};
    Published<AnnotationFilter> annotationFilter{changed, AnnotationFilter{}};
    Published<bool> showAnnotationCandidates{changed, true};
    // Product defaults changed in the preferences while a queue was open;
    // the next opening applies them.
    std::optional<ProductDefaults> nextProductDefaults;
    std::optional<bool> nextAutomaticDefault;
    Published<std::optional<ResumeRejection>> rejection{changed, std::nullopt};
    // The page a run is reading now, and how far its reading has come,
    // while the recogniser tells it (a page of a tall capture can take
    // minutes); none between pages and outside a run.
    struct Reading {
        UUID inputID;
        int64_t page = 0;
        double fraction = 0;
        bool operator==(const Reading&) const = default;
    };
    Published<std::optional<Reading>> reading{changed, std::nullopt};
    // The last refusal said in `status`: while the status is still this
    // sentence, it is shown as a refusal.
    Published<std::optional<std::string>> refusedStatus{changed, std::nullopt};
    // Says a refusal in `status`.
    void refuse(std::string sentence);
    std::shared_ptr<OCRQueueEngine> engine;
    std::shared_ptr<JobControl> control = std::make_shared<JobControl>();
    UUID generation = UUID::random();
    bool passwordsWereSupplied = false;

private:
    std::map<UUID, std::string> unlockedPasswords;

public:
    std::shared_ptr<OCRQueueEngine> previousEngine;
    std::optional<std::filesystem::path> automaticDestination;

private:
    std::map<std::string, std::string> exportedEdits;

public:
    const std::filesystem::path parent;
    const std::filesystem::path output;

    // The hooked assignments. `edited` runs the edit hook unless the page
    // display is filling it; `search` clears the hit when the text changes.
    void setEdited(std::string text);
    void setSearch(std::string text);
    void setBusy(bool value);

    // Whether the open queue holds a private input (it lives in memory only).
    bool isPrivateQueue() const;

    // Recognition settings and view options.
    OCRSettings currentSettings() const;
    QueuePresentation currentPresentation() const;
    QueuePresentation presentation(const UUID& inputID) const;
    void loadPresentation(const std::optional<UUID>& inputID);
    void applyProductDefaults(const ProductDefaults& defaults);
    bool annotationMode(const std::optional<UUID>& inputID) const;
    bool hasAnnotationResult() const;

    // Page keys, highlight states and the edit state.
    static std::string pageKey(const UUID& inputID, int64_t page);
    std::string pageDecorationKey(const UUID& inputID, int64_t page) const;
    std::string editorDocumentKey() const;
    // The shown page's highlight state, read in place: valid until the
    // controller next changes.
    const OCRDecorationState& currentDecoration() const;
    void editText(std::string text, std::optional<TextRange> range, std::optional<std::string> replacement,
                  bool undoOrRedo);
    std::vector<TextRegion> previewRegions() const;
    bool selectedComplete() const;
    bool hasEditedText() const;
    bool hasUnsavedEdits() const;

    // Loads the selected page of the open queue into the published fields:
    // regions, texts, highlight state, page count and image. Never throws;
    // a failure is the status sentence.
    void showPage();
    // Whether the shown original is a PDF that `showPage()` could not open
    // without a password still to be given: it has not been read, or waits
    // for its password. The field for it shows then, and the page says why
    // it is blank.
    bool shownLocked() const;
    // The automatic mode's decision for the shown page, when it has one.
    std::optional<AutoPresentation> autoPresentation() const;

    // The two confirmations that guard edited text: true only when the
    // user chose the answer named `ahead`. Leaving unsaved edits for other
    // work keeps them where they are stored (the answer is suggested);
    // replacing edited text loses it (destructive).
    Task<bool> confirmDiscard(std::string message, std::string ahead) const;
    Task<bool> confirmReplaceEditedText(std::string message, std::string ahead) const;
    // What the restart question says of the results and edits on screen:
    // a saved queue keeps them as the earlier trial, one in memory does not.
    static std::string restartInformative(bool edited, bool persistent);

    // Told, on the main thread, when a queue reopened here had a damaged
    // tail in its edit journal (a store cut short by a crash) that was left
    // out: for the application's event log. Empty: nobody is told.
    std::function<void(const UUID& queueID, ErrorCase error)> journalDamaged;

    // Stores the shown page's highlight state, its edited text (outside
    // annotation mode, when it differs) and the selection in the engine,
    // then mirrors the engine's snapshot. The change is on disk, in the
    // queue's edit journal, when this returns; what stops the store (the
    // file written by someone else, another process holding the queue, a
    // journal that cannot be appended to, an earlier write still failing,
    // which is tried again here) passes on as the engine's error, with the
    // change kept in memory. A whole write of the queue that the engine
    // asks for (its journal grown past its size) goes to a worker, and its
    // failure is the status sentence `unsavedSentence`.
    void applyEdit();

    // Opening originals: the open panel, the checks before opening (with
    // the unsaved-edit confirmation), and the installing of a queue. A
    // caller may spawn the tasks and drop them; each ends without effect
    // when the controller is gone or a run or another opening began while
    // it waited.
    Task<void> choose();
    Task<void> requestSelection(std::vector<std::filesystem::path> urls);
    void select(const std::vector<std::filesystem::path>& urls, std::shared_ptr<OCRQueueEngine> prepared);

    // The saved queues under `parent`.
    void refreshSaved();
    // "scan.pdf · 3ファイル · 成功12/失敗1 · 一時停止中 · 2026/05/01 09:30":
    // the first original, the inputs, the pages done and failed (and the
    // inputs failed whole, when any), the state, and when it was last
    // worked on.
    std::string savedQueueLabel(const std::filesystem::path& folder) const;
    static constexpr const char* workedPattern = "yyyy/MM/dd HH:mm";
    // When the queue in the folder was last written, in whole seconds; none
    // when nothing of it can be read.
    static std::optional<Date> lastWorked(const std::filesystem::path& folder);

    // ---- Runs: starting and stopping, the run's own thread, the end of a
    // run with its automatic TXT, and closing.

    // Starts or resumes the open queue once its edit is stored and its
    // settings and originals are checked; every outcome is the status
    // sentence. Awaiting it returns once the run is launched or refused (at
    // once when nothing asks the user). A caller may spawn it and drop it.
    Task<void> start();
    // Asks the current run to pause or cancel; its end tells how it ended.
    void stop(JobControl::Stop stop);
    // Gives up the selected input, a PDF waiting for its password, so that
    // the rest of the queue can run without it.
    void cancelPassword();
    // The controller's part of closing its window: stores the pending edit
    // (its error passes on, passwords kept) and forgets the PDF passwords.
    // It stops no run.
    void prepareToClose();

private:
    friend class QueueRunProbe;  // tests hand reports to the run's handlers

    // The run: its thread, the start's steps and the handlers that the
    // thread's reports reach on the main thread.
    static Task<void> startTask(std::weak_ptr<QueueController> weak);
    // The settings and originals checks; false when the queue was refused.
    bool resumeChecks();
    void launch();
    void deliverProgress(QueueSnapshot reported, const UUID& runGeneration);
    void deliverReading(const UUID& inputID, int64_t page, double fraction, const UUID& runGeneration);
    // Whether the published snapshot has that page in progress.
    bool pageInProgress(const UUID& inputID, int64_t page) const;
    void finishRun(QueueSnapshot finished, const UUID& runGeneration);
    void failRun(ErrorCase error, const UUID& runGeneration);
    void publishAutomaticText(const QueueSnapshot& finished);
    // For the destructor: pauses a run still going and waits for its thread.
    void releaseRun();

    // Runs fn on the main thread at its next turn, before painting.
    static void postToMain(std::function<void()> fn);

    // The thread of the current (or last) run. It holds the controller only
    // weakly and never locks it; it is joined before the next run starts,
    // at the end of its own run and by the destructor.
    std::jthread task;

public:
    const QueuePorts& ports() const { return ports_; }

private:
    friend class QueueControllerProbe;  // tests build page states by hand

    static Task<void> chooseTask(std::weak_ptr<QueueController> weak);
    // Why the originals cannot be opened or added, or none when each opens:
    // a PDF with a page (a locked one waits for its password), an image that
    // decodes. Reads the files: call it on a worker.
    static std::optional<std::string> refusalOf(const std::vector<std::filesystem::path>& urls);
    // Why the originals are not even read, or none when each is of a kind
    // read (PNG, JPEG, PDF): the first other file named, so that the refusal
    // is not taken for a word on the document still shown.
    static std::optional<std::string> kindRefusal(const std::vector<std::filesystem::path>& urls);
    // refusalOf on a worker, with `importing` up meanwhile; a refusal is
    // said at once. What it returns is the refusal, if any.
    static Task<std::optional<std::string>> admitOriginals(std::weak_ptr<QueueController> weak,
                                                           std::vector<std::filesystem::path> urls);
    static Task<void> requestSelectionTask(std::weak_ptr<QueueController> weak,
                                           std::vector<std::filesystem::path> urls);
    static Task<void> preparation(std::weak_ptr<QueueController> weak, std::vector<std::filesystem::path> urls,
                                  OCRSettings settings, InputOrigin origin, QueuePresentation presentation,
                                  std::filesystem::path parent, std::shared_ptr<Completion> previous,
                                  std::shared_ptr<Completion> mine);
    // What an addition fixed when it was asked for, before its files were read.
    struct CallSettings {
        OCRSettings settings;
        QueuePresentation presentation;
        bool privateInput = false;
    };
    // Starts building an engine of the originals off the main thread, after
    // the preparation before it; with the call's settings when given, else
    // with those shown now.
    void prepareEngine(const std::vector<std::filesystem::path>& urls,
                       std::optional<CallSettings> atCall = std::nullopt);
    std::vector<OCRQueueEngine::InputFile> inputFiles(const std::vector<std::filesystem::path>& urls) const;

    // Runs after every assignment of `edited` outside the page display.
    void editHook();
    // The recognised text of a stored page; "" when there is none or it
    // cannot be read.
    std::string recognisedText(const UUID& inputID, int64_t page) const;
    // The text `read` makes of a completed page's stored result, remembered
    // under the checksum of the result's bytes and `variant`: a result file
    // never changes under its checksum, so the hit count, which follows
    // every keystroke, reads each page once. A page without a checksum is
    // read each time.
    std::string storedText(const PageRecord& record, std::string_view variant,
                           const std::function<std::string()>& read) const;
    static std::optional<std::string> storedKey(const PageRecord& record, std::string_view variant);
    mutable std::map<std::string, std::string, std::less<>> storedTexts_;
    // The hits of `storedQuery_` in the remembered texts, under their keys:
    // a keystroke searches the shown page again, not every page.
    std::map<std::string, std::vector<TextRange>> storedMatches_;
    std::string storedQuery_;
    mutable std::size_t storedTextBytes_ = 0;
    static constexpr std::size_t maxStoredTextBytes = std::size_t{64} << 20;
    // What `currentDecoration` gives when no page state is shown.
    mutable OCRDecorationState plainDecoration_;
    // Whether `edited` is what the page display shows for the untouched
    // shown page.
    bool shownPageUntouched() const;
    // The sentence that reports a failure to the user.
    static std::string failureSentence(const std::exception& error);
    // The key under which an export records the shown page's text.
    std::optional<std::string> shownExportKey() const;

    QueuePorts ports_;

public:
    // ---- Saved queues, the queue's document, TXT export and copy.

    // Where a TXT goes: from the ask flag to a folder, none when the user
    // cancelled; it may throw. Installed by the window.
    using DestinationProvider = std::function<Task<std::optional<std::filesystem::path>>(bool ask)>;
    DestinationProvider destinationProvider;

    // Lets go of the open queue: its engine becomes `previousEngine` and
    // every page field empties, under a new generation.
    void detachQueue();
    // Opens the queue folder in `selectedSaved` under the current settings,
    // or sets `rejection` with nothing opened. Synchronous; never throws.
    void loadSaved();
    // Drops a rejection and the half-open state; opens nothing.
    void closeRejection();

    // One page per known page of every input, in queue order, with the text
    // the user sees now. The engine's errors pass on.
    std::vector<OCRProduct::Page> documentPages();
    // The same, with the texts of stored results remembered (see
    // `storedText`) when `remembered`; `storedKeys`, when given, receives
    // each page's key in that memory, or "" for a text read otherwise.
    std::vector<OCRProduct::Page> documentPages(bool remembered, std::vector<std::string>* storedKeys = nullptr);
    // The text of the exported inputs, one headed section each.
    std::string managedExportText();
    // Chooses a folder (the destination provider, else the output folder or
    // the save panel) and exports into it; every failure is the status.
    Task<void> save(bool ask);
    // Writes the TXT files of the open queue into the folder and registers
    // them in the capture history. Throws.
    void exportText(const std::filesystem::path& to);
    // Puts the current result text on the clipboard.
    void copyAll();
    // What a save says of the files it wrote: their name (the first of
    // several, with the count) and their folder, the home folder as "ホーム".
    static std::string savedSentence(const std::vector<std::filesystem::path>& written);
    // The last sentence a save said: while the status is still it, the
    // folder of the files it names can be opened (`revealExports`).
    Published<std::optional<std::string>> savedStatus{changed, std::nullopt};
    // Shows the first file of the last export in the file manager.
    void revealExports();
    // The file name of the selected original, or "原稿未選択".
    std::string currentName() const;

    // Typing is stored at most once per interval: the edit hook keeps the
    // text and its highlight state at once and writes them when the
    // interval has passed, unless `applyEdit()` (run by every step that
    // leaves the page, exports, starts or closes) writes them first.
    static constexpr std::chrono::milliseconds editWriteInterval{500};
    // Whether typed text waits for its write: for the interval, or for the
    // write that applyEdit() handed to a worker.
    bool editWritePending() const { return editWriteSource_ != 0 || flushesInFlight_ > 0; }
    // The sentence of a store that failed after its step went on.
    static constexpr const char* unsavedSentence =
        "編集を保存できません。本文は保持しています。保存先を確認してください。";

    // ---- Restarting a queue as a new trial and answering a refused resume.
    // Each action ends in the status sentence and throws nothing. Awaiting
    // one returns once it is done or has launched its run; a caller may
    // spawn it and drop it. After every wait each takes the controller
    // again and ends without effect when it is gone, a run or an opening
    // began, or another queue was opened meanwhile.

    // Asks first when the queue is managed or holds edited text, then
    // restarts.
    Task<void> requestRestart();
    // A new queue of the open queue's originals under the current settings,
    // built off the main thread, opened in place of the old one (whose
    // folder and results stay) and started, unless a stop was asked for
    // while it was being built.
    Task<void> restart();
    // The result pane's start: a resumable queue is continued; any other
    // with results, cancelled, or made under other settings is restarted;
    // any other is started.
    Task<void> startProduct();
    // Whether the open queue was run part way and can go on from there: it
    // has pages done or failed, pages or inputs still to read, and was not
    // cancelled (a queue brought back after a crash, or paused).
    bool resumable() const;
    // A new trial of the refused queue's originals (the ones chosen again
    // when the refusal carries them) under the current settings.
    Task<void> restartRejected();
    // A new trial of the refusal's replacement originals, started at once.
    Task<void> restartReplacement();
    // Chooses the selected input's original again and checks, off the main
    // thread, that it is the same document; another document refuses the
    // queue with the choice among its replacement originals.
    Task<void> reselect();

    // ---- Page navigation, search, line re-flow and the annotation filter.

    // Shows a page (below 1 means 1) of an input, or of the selected one
    // when none is given, after storing the shown page's edit. False, with
    // the selection, page and hit unchanged, when that edit cannot be
    // stored.
    bool goPage(int64_t page, std::optional<UUID> inputID = std::nullopt);
    // Every hit of `search` over the document pages, in page order; none
    // for an empty search text or pages that cannot be read.
    std::vector<OCRProduct::Match> searchMatches();
    // Steps to the next (+1) or previous (-1) hit, wrapping at the ends,
    // and shows its page; the hit is selected only when the page switched.
    void find(int step);
    // The setter of the line-break option: with a queue open and idle it
    // rewrites every completed page from its recognised text in the chosen
    // form, after asking when edited text would be replaced.
    Task<void> changeLines(bool preserve);
    // Switches the annotation filter and shows the page under it, after
    // asking when there is edited text: `confirmation` when given, else the
    // default alert. True when the filter changed.
    Task<bool> changeAnnotationFilter(AnnotationFilter filter, std::function<Task<bool>()> confirmation = {});

private:
    static Task<void> requestRestartTask(std::weak_ptr<QueueController> weak);
    static Task<void> restartTask(std::weak_ptr<QueueController> weak);
    static Task<void> startProductTask(std::weak_ptr<QueueController> weak);
    static Task<void> restartRejectedTask(std::weak_ptr<QueueController> weak);
    static Task<void> restartReplacementTask(std::weak_ptr<QueueController> weak);
    static Task<void> reselectTask(std::weak_ptr<QueueController> weak);
    static Task<void> changeLinesTask(std::weak_ptr<QueueController> weak, bool preserve);
    static Task<bool> changeAnnotationFilterTask(std::weak_ptr<QueueController> weak, AnnotationFilter filter,
                                                 std::function<Task<bool>()> confirmation);
    // Opens a newly built trial in place of whatever is open, with its
    // first input selected on page 1.
    void installTrial(std::shared_ptr<OCRQueueEngine> trial);
    // Rewrites every completed page in the chosen line form; throws at the
    // first failure, keeping what was rewritten before it.
    void reflow(bool preserve);

private:
    // The inputs an export or the whole-queue text takes.
    std::vector<QueueInput> exportCandidates(const std::vector<QueueInput>& inputs) const;
    // The managed and product shapes of an export; each returns the files
    // written and keeps `lastExports` listing them as they are written.
    std::vector<std::filesystem::path> exportManaged(const std::filesystem::path& to,
                                                     std::vector<UUID>& writtenInputs);
    std::vector<std::filesystem::path> exportProduct(const std::filesystem::path& to);
    void registerExports(const std::vector<std::filesystem::path>& written);
    void recordExportedEdits(const std::vector<OCRProduct::Page>& pages, const std::vector<UUID>& written);
    static Task<void> saveTask(std::weak_ptr<QueueController> weak, bool ask);
    // Whether the open queue is the engine `asked` of the same generation.
    bool stillOpen(const std::shared_ptr<OCRQueueEngine>& asked, const UUID& asOf) const;
    // Whether the last export failed after writing some of its files.
    bool partialExport_ = false;
    // The timer of the coalesced write, 0 when none waits.
    unsigned int editWriteSource_ = 0;
    void scheduleEditWrite();
    void cancelEditWrite();
    // The writes of staged edits under way on workers; each reports its
    // failure as the status when no later write took its changes.
    int flushesInFlight_ = 0;
    void scheduleFlush();
    // Tells journalDamaged of a damaged journal tail the engine left out.
    void reportJournal(const OCRQueueEngine& reopened) const;
    // applyEdit() without the write: the change in the engine only.
    // `selection` false leaves the stored selection as it is: the caller
    // records the page it goes to instead.
    void stageEdit(bool selection = true);
    // Records the shown input and page as the queue's selection, where it
    // reopens (also after a crash), when it is not that already.
    void stageSelection();
    // applyEdit() and the write of everything staged, the journal folded,
    // on this thread: for the steps that close or let go of the queue.
    // Throws.
    void storeNow();

public:
    // ---- Adding originals at the end of the open queue, drops, folder
    // listings, queue order, counts and retries, and recovering an
    // interrupted queue.

    // One dropped item: the local file it names, or nothing (a remote file,
    // a text snippet). It may answer after turns of the main loop.
    using DropItem = std::function<Task<std::optional<std::filesystem::path>>()>;
    // The most items one drop, or one queue, takes.
    static constexpr std::size_t maximumDrop = 5000;
    // The end of the latest drop; the next drop waits for it.
    std::shared_ptr<Completion> dropTask;

    // The add panel, then `appendFiles(chosen, true)`.
    Task<void> chooseAdditional();
    // Adds the files at the end of the open queue with the settings and
    // presentation of now, fixed on each new item (or opens them as a
    // managed queue when none is open). With confirmDuplicate a path already
    // queued (compared in NFC) is asked about once. Every outcome is the
    // status sentence; awaiting it returns once the append is under way or
    // refused, and `importTask` ends with the append itself.
    Task<void> appendFiles(std::vector<std::filesystem::path> urls, bool confirmDuplicate);
    // Takes a drop of 1 to `maximumDrop` items (true) or refuses it with its
    // sentence (false). Drops are handled one after another: each loads its
    // items in order, then opens or appends them, then waits for the import
    // it caused before `dropTask` ends.
    bool receiveDrop(std::vector<DropItem> items);

    // The folder panel, then the listing of its originals into
    // `folderCandidates` for review. Awaiting it returns when the listing has
    // ended. A newer listing stops and replaces an older one.
    Task<void> chooseFolder();
    // Stops the latest listing; it ends with the cancellation sentence.
    void stopFolder();
    // The listing and its files go with the queue they were chosen for,
    // when another one takes its place: none may land in the new queue.
    void dropFolderList();

    // The page tally of the open queue (all zero without one).
    QueueCounts counts() const;
    // The failed pages of every input of the open queue, one entry per
    // input, empty sets included; empty without a queue.
    std::map<UUID, std::set<int64_t>> failedSelection() const;
    // Exchanges the selected waiting, never started input with its
    // neighbour delta places away (the queue view passes -1 or +1).
    void moveSelected(int64_t delta);
    // Makes the given failed pages (all of them when none are given)
    // pending again and starts a managed run. Nothing while a run goes on.
    Task<void> retryFailures(std::optional<std::map<UUID, std::set<int64_t>>> selection = std::nullopt);

    // Brings back the queue folder in `selectedSaved` with its stored
    // recognition mode and language correction, checking it on workers,
    // without starting OCR; a failure is a resume rejection. Awaiting it
    // returns when the recovery has been applied or dropped.
    Task<void> loadRecovery();

    // The settings with another mode and that mode's engine version.
    static OCRSettings withMode(OCRSettings settings, OCRMode mode);

private:
    static Task<void> chooseAdditionalTask(std::weak_ptr<QueueController> weak);
    static Task<void> appendTask(std::weak_ptr<QueueController> weak, std::vector<std::filesystem::path> urls,
                                 bool confirmDuplicate);
    static Task<void> appending(std::weak_ptr<QueueController> weak, std::shared_ptr<OCRQueueEngine> target,
                                std::vector<std::filesystem::path> urls, OCRSettings settings, InputOrigin origin,
                                QueuePresentation presentation, std::shared_ptr<Completion> previous,
                                std::shared_ptr<Completion> mine);
    static Task<void> dropping(std::weak_ptr<QueueController> weak, std::vector<DropItem> items,
                               std::shared_ptr<Completion> previous, std::shared_ptr<Completion> mine);
    static Task<void> handleDrop(std::weak_ptr<QueueController> weak, std::vector<DropItem> items);
    static Task<void> chooseFolderTask(std::weak_ptr<QueueController> weak);
    static Task<void> retryTask(std::weak_ptr<QueueController> weak,
                                std::optional<std::map<UUID, std::set<int64_t>>> selection);
    static Task<void> recoveryTask(std::weak_ptr<QueueController> weak);
    // The first path among urls given earlier in urls or, againstQueue,
    // queued already, compared in NFC.
    std::optional<std::filesystem::path> firstDuplicate(const std::vector<std::filesystem::path>& urls,
                                                        bool againstQueue) const;
    // The one question about duplicates: true when they are to be added.
    Task<bool> confirmDuplicateAdding() const;

    // What a worker prepares of the shown page for the display: decoding
    // an image or rendering a PDF page takes up to seconds, which the main
    // thread must never wait for.
    struct Picture {
        bool pdf = false;
        std::optional<int64_t> count;
        bool locked = false;
        std::optional<std::string> unreadable;
        std::optional<RasterImage> image;
        // Why an image could not be shown, for the status.
        std::optional<std::string> failure;
    };
    static Picture preparePicture(const std::filesystem::path& file, int64_t page,
                                  const std::optional<std::string>& password, bool countKnown);
    // Starts preparing the shown page's picture; only the latest request's
    // picture is shown.
    void requestPicture(const std::filesystem::path& file, const std::optional<std::string>& password,
                        bool countKnown);
    void showPicture(Picture picture, uint64_t ticket);
    // Drops every picture still being prepared.
    void forgetPicture();
    struct PictureRequest {
        std::filesystem::path file;
        int64_t page = 1;
        std::optional<std::string> password;
        bool countKnown = false;
        uint64_t ticket = 0;
    };
    void startPicture(PictureRequest request);
    bool pictureRunning_ = false;
    std::optional<PictureRequest> waitingPicture_;
    uint64_t pictureTicket_ = 0;
    // The input that the flags below describe.
    std::optional<UUID> pictureInput_;
    // The picture whose arrival says, for a queue just opened, why its
    // first original shows nothing.
    uint64_t announcedTicket_ = 0;

    // Why the PDF that `showPage()` last showed is no document at all
    // (none for a document, a locked one included): an opening says it
    // instead of announcing the original.
    std::optional<std::string> shownUnreadable_;
    // The shown PDF refused to open for want of its password.
    bool shownLockedPDF_ = false;
};

}  // namespace velmora
