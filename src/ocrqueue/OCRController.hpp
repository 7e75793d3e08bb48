#pragma once

// Recognises one image or PDF file straight through the job layer, without a
// queue.
//
// What it guarantees:
// - One run at a time, on one thread of its own. The thread never touches a
//   field: every change, each page's progress line included, travels to the
//   main thread through one ordered mailbox and is applied there only while
//   the controller still exists. The thread holds the controller weakly and
//   never locks it, so the last reference, and the destructor, stay on the
//   main thread.
// - A controller destroyed during a run asks the run to pause and joins its
//   thread: pages in flight are committed, the rest stay pending, and the job
//   folder resumes later.
// - Edits made before a run are never overwritten by its result; `original`
//   takes the new text and the user puts it into `edited` on request.
// - A PDF run notices a source replaced under it (another inode, size or
//   modification time) before each page, stops with the pages recognised so
//   far, and says why in front of its summary.
//
// No window constructs it: the OCR pane works through the queue controller.

#include <sigc++/sigc++.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Published.hpp"
#include "foundation/Task.hpp"
#include "ocrjobs/JobControl.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "ocrqueue/QueuePorts.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

class OCRController;

// A published field whose assignments only the controller makes: `busy`
// follows the run thread, never a view.
template <typename T>
class RunState {
public:
    RunState(sigc::signal<void()>& changed, T initial) : value_(changed, std::move(initial)) {}

    const T& get() const noexcept { return value_.get(); }
    operator const T&() const noexcept { return value_.get(); }
    friend bool operator==(const RunState& a, const T& b) { return a.get() == b; }

private:
    friend class OCRController;
    void set(T value) { value_ = std::move(value); }

    Published<T> value_;
};

class OCRController : public std::enable_shared_from_this<OCRController> {
    struct Passkey {};

public:
    static constexpr const char* initialStatus = "画像またはPDFを選んでください";
    static constexpr const char* chooseFirstStatus = "原稿を選んでください";
    static constexpr const char* readingStatus = "文字を読み取り中";
    static constexpr const char* noTextStatus = "認識できる文字はありませんでした";
    static constexpr const char* stoppedImageStatus = "停止済み（現在の画像の結果を確定しました）";
    static constexpr const char* pausingStatus = "一時停止を受付中（ページの確定を待っています）";
    static constexpr const char* cancellingStatus = "中止を受付中（確定済み結果を保持します）";
    static constexpr const char* savedStatus = "編集したTXTを結果フォルダへ保存しました";
    static constexpr const char* editsKeptSuffix = "。以前の編集内容は保持しています";
    static constexpr const char* replaceQuestion = "編集内容を最新の認識原文で置き換えますか？";
    static constexpr const char* replaceInformative =
        "必要なら先に編集したTXTを保存してください。保存済みファイルは変更しません。";
    static constexpr const char* replaceLabel = "置き換える";
    static constexpr const char* editedStem = "OCR-edited";

    // The ports used: the confirmer (useOriginal) and the file picker
    // (chooseInput). recognizer replaces the recogniser of every run, the
    // image's and the PDF job's; empty means OCREngine::recognize.
    static std::shared_ptr<OCRController> create(QueuePorts ports = {}, PDFJob::Recognizer recognizer = {});

    OCRController(Passkey, QueuePorts ports, PDFJob::Recognizer recognizer);
    OCRController(const OCRController&) = delete;
    OCRController& operator=(const OCRController&) = delete;
    // Pauses a run in progress and waits for its thread.
    ~OCRController();

    // Emitted after every assignment of a published field.
    sigc::signal<void()> changed;

    // The fields, in the order of the controller's model.
    Published<std::optional<std::filesystem::path>> input{changed, std::nullopt};
    Published<std::string> original{changed, ""};
    Published<std::string> edited{changed, ""};
    Published<std::vector<TextRegion>> regions{changed, {}};
    Published<std::string> status{changed, initialStatus};
    RunState<bool> busy{changed, false};
    Published<std::optional<std::filesystem::path>> resumeDirectory{changed, std::nullopt};
    Published<std::string> password{changed, ""};
    Published<bool> dictionary{changed, false};
    // Page workers of a PDF run; 0 lets the shared worker budget decide.
    Published<int> concurrency{changed, 0};
    Published<bool> privateMode{changed, false};
    // The stop request of the current (or last) run; a new one per run.
    std::shared_ptr<JobControl> control = std::make_shared<JobControl>();

    // Lets the user pick one PNG, JPEG, PDF or TIFF file; does nothing while
    // a run is in progress. A cancelled panel keeps the current input.
    Task<void> chooseInput();
    // Starts a run on `input` and returns at once. resume continues the job
    // folder in `resumeDirectory` (PDF only, never in private mode).
    void start(bool resume = false);
    // Asks the run in progress to pause or cancel; does not wait for it.
    void stop(JobControl::Stop request);
    // Writes `edited` as UTF-8 into the output root, never overwriting.
    void saveText();
    // Puts the recognised text back into `edited`, asking first when that
    // loses edits.
    Task<void> useOriginal();

    // Whether a run thread exists (from start until the end of the run has
    // been applied on the main thread).
    bool working() const { return worker_.has_value(); }

    // The job folder of the jobs root a resumed run would continue: the one
    // whose checkpoint was written last (ties by the greater name); none
    // when the root cannot be listed or holds no job.
    static std::optional<std::filesystem::path> resumeCandidate(const std::filesystem::path& jobsRoot);

private:
    class Mailbox;
    struct Run;
    // What a run leaves for the main thread.
    struct Ending;

    static Task<void> chooseTask(std::weak_ptr<OCRController> weak);
    static Task<void> useOriginalTask(std::weak_ptr<OCRController> weak);
    static void runThread(const std::weak_ptr<OCRController>& weak, const std::shared_ptr<Mailbox>& mailbox,
                          const Run& run);
    static Ending runImage(const Run& run);
    static Ending runPDF(const std::weak_ptr<OCRController>& weak, const std::shared_ptr<Mailbox>& mailbox,
                         const Run& run);
    void finish(Ending ending);

    QueuePorts ports_;
    PDFJob::Recognizer recognizer_;
    std::optional<std::jthread> worker_;
};

}  // namespace velmora
