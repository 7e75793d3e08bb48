#pragma once

// The history section without its widgets: the entries newest first, the
// selection, the one status line and every action of the section. The GTK
// view observes it through its signals and forwards the user's actions.
//
// Every action ends in one status text (or, where the user is not told,
// none); the model never shows an error's own message and never throws. The
// store is called synchronously on the main thread, where each operation
// takes the blocking "history-lock": the window waits while another process
// holds it. The selection lives here and survives reloads and deletions; the
// detail shows only while a listed entry has the selected id.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include "foundation/Confirmation.hpp"
#include "foundation/DesktopActions.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "history/HistoryRecords.hpp"
#include "history/HistoryThumbnailCache.hpp"
#include "history/RecaptureHost.hpp"

namespace velmora {

class HistoryViewModel : public sigc::trackable {
public:
    static constexpr const char* introduction =
        "通常の明示保存結果だけを表示します。閲覧履歴・プライベートは登録しません。";
    static constexpr const char* loadFailed = "履歴を読み込めません。元の情報は保持しています。";
    static constexpr const char* historyOnlyDeleted = "履歴だけ削除しました。成果物は残っています。";
    static constexpr const char* historyOnlyFailed = "履歴を削除できませんでした。";
    static constexpr const char* trashFailed = "原稿や変更されたファイルは削除しません。履歴を更新して確認してください。";
    static constexpr const char* reopened = "通常タブに開きました。表示を確認して保存してください。";
    // The first sentence of a refused open; the next says why and what was
    // done instead (refusedText).
    static constexpr const char* openFailed = "ファイルを開けませんでした。";
    static constexpr const char* revealFailed = "フォルダを表示できませんでした。";

    static constexpr const char* confirmMessage = "この履歴の成果物をゴミ箱へ移しますか？";
    static constexpr const char* cancelLabel = "取消";
    static constexpr const char* trashLabel = "ゴミ箱へ移す";

    // The seams are not owned and must outlive the model; without a
    // recapture host the reopen action does nothing.
    HistoryViewModel(Confirmation& confirmation, DesktopActions& desktop, RecaptureHost* host,
                     HistoryThumbnailCache& cache = HistoryThumbnailCache::shared(), bool active = true);
    // A deletion still waiting for its confirmation is dropped.
    ~HistoryViewModel();
    HistoryViewModel(const HistoryViewModel&) = delete;
    HistoryViewModel& operator=(const HistoryViewModel&) = delete;

    // ---- State ------------------------------------------------------------

    bool active() const noexcept { return active_; }
    // Reloads when it turns true (not when it turns false, nor when set to
    // the value it has).
    void setActive(bool active);

    const std::vector<CaptureHistoryEntry>& entries() const noexcept { return entries_; }
    const std::optional<UUID>& selected() const noexcept { return selected_; }
    void select(std::optional<UUID> id);
    // The listed entry with the selected id: the one the detail shows.
    const CaptureHistoryEntry* selectedEntry() const;

    const std::string& status() const noexcept { return status_; }

    // An open or a reveal the desktop refused, kept with the entry and the
    // output it was asked for, so the refusal is told where the user
    // clicked, and only there: the status line keeps its last word (it says
    // the refusal itself only for a file no listed entry holds). It lasts
    // until the section's next outcome replaces the status, an open
    // succeeds, or a reload no longer lists the entry.
    struct OpenRefusal {
        UUID entry;
        std::filesystem::path file;
        std::string text;
    };
    const std::optional<OpenRefusal>& openRefusal() const noexcept { return openRefusal_; }
    bool openRefused(const UUID& entry) const noexcept { return openRefusal_ && openRefusal_->entry == entry; }

    // The start-up notice (the launch recovery's, the OCR export's), or
    // empty while it still has its initial text.
    std::string notice() const;

    sigc::signal<void()>& entriesChanged() noexcept { return entriesChanged_; }
    sigc::signal<void()>& selectionChanged() noexcept { return selectionChanged_; }
    sigc::signal<void()>& statusChanged() noexcept { return statusChanged_; }
    sigc::signal<void()>& noticeChanged() noexcept { return noticeChanged_; }
    // The open refusal came, went or moved to another file.
    sigc::signal<void()>& refusalChanged() noexcept { return refusalChanged_; }

    // ---- What a row and the detail show -----------------------------------

    // The metadata's title when there is metadata (even an empty one), else
    // the first output's file name, else "保存結果".
    static std::string title(const CaptureHistoryEntry& entry);
    // "OCR TXT", "印刷" or "Webキャプチャ".
    static std::string kind(const CaptureHistoryEntry& entry);
    // The metadata's format, else the outputs' extensions upper-cased,
    // sorted, each once with its count when several ("PDF / PNG 2件"), and
    // joined with " / ".
    static std::string formats(const CaptureHistoryEntry& entry);
    // An output missing, or recorded available with no file at its path.
    static bool missing(const CaptureHistoryEntry& entry);
    // "ファイルが見つかりません", "保存完了" or "一部保存・中断".
    static std::string stateText(const CaptureHistoryEntry& entry);
    // The creation date as a short date and short time in the default
    // locale and time zone.
    static std::string dateText(const CaptureHistoryEntry& entry);
    // date · kind · formats.
    static std::string captionText(const CaptureHistoryEntry& entry);
    // A file is at the output's path and its state is available.
    static bool available(const SavedOutput& output);
    static std::string fileName(const SavedOutput& output);
    // One line of the detail: one output, or every output of one type when
    // the entry has several of it (a print's page PNGs), with their count,
    // at the place of the first of them; so a print of many pages keeps its
    // actions in sight.
    struct OutputLine {
        // Positions in the entry's outputs, in their order.
        std::vector<std::size_t> outputs;
        // The file's name; for several, the type and the count ("PNG 7件").
        std::string name;
        // For several, the first file's name and the last one's from where
        // it parts from the first ("p_0001.png 〜 0019.png").
        std::string range;
        // The output "開く" and "フォルダで表示" act on: the first available
        // one; none while none is.
        std::optional<std::size_t> target;
        // How many of the line's outputs are not available.
        std::size_t unavailable = 0;
    };
    static std::vector<OutputLine> outputLines(const CaptureHistoryEntry& entry);
    static std::string rangeText(const std::string& first, const std::string& last);
    // What a line says of its outputs that are not there: nothing, the
    // caption of a missing file, or for several "うち2件は…".
    static std::string unavailableText(const OutputLine& line);
    // The stored page address when it begins with "http:" or "https:"
    // exactly as written and parses as a URI; only then can it be copied or
    // reopened.
    static std::optional<std::string> pageAddress(const CaptureHistoryEntry& entry);

    // What a refusal says: that the file did not open (whether its folder
    // was shown instead), or that nothing showed its folder; the folder is
    // named when nothing showed it.
    static std::string refusedText(const std::filesystem::path& file, bool opening, bool folderShown);

    // The outcome of a move to the Trash: how many files went and, only
    // when some did not, how many were kept.
    static std::string trashedText(int64_t moved, int64_t kept);

    // ---- Actions ----------------------------------------------------------

    void reload();
    // Drops the selected entry from the history; its files stay.
    void deleteHistoryOnly();
    // Asks, then moves the selected entry's files to the Trash. Runs as a
    // task owned by the model; a second request while one waits is ignored.
    void startTrashOutputs();
    bool trashing() const;
    Task<void> trashOutputs();
    void copyURL(const std::string& url);
    void reopenForRecapture(const std::string& url);
    // A file that does not open has its folder shown instead.
    void openOutput(const std::filesystem::path& file);
    void revealOutput(const std::filesystem::path& file);

    // The PNG data of a row's thumbnail: the entry's first output through the
    // cache. Nothing for an entry without outputs, a first output with no
    // file, or a task cancelled by the time the cache answers.
    Task<std::optional<std::vector<uint8_t>>> thumbnail(CaptureHistoryEntry entry);

private:
    // Every new status ends the refusal of an earlier open.
    void setStatus(std::string text);
    void setRefusal(std::optional<OpenRefusal> refusal);
    // The listed entry an output at file belongs to: the selected one when
    // it holds the file, else the first that does.
    std::optional<UUID> owner(const std::filesystem::path& file) const;
    void onNotice(const std::string&);
    // Tells a refusal of the file where it belongs.
    void refuse(const std::filesystem::path& file, std::string text);
    // The desktop's answer to a reveal, while the model is there.
    std::function<void(bool)> answer(const std::filesystem::path& file, bool opening);
    bool removeReference(UUID id);

    Confirmation& confirmation_;
    DesktopActions& desktop_;
    RecaptureHost* host_;
    HistoryThumbnailCache& cache_;

    bool active_;
    std::vector<CaptureHistoryEntry> entries_;
    std::optional<UUID> selected_;
    std::string status_ = introduction;
    std::optional<OpenRefusal> openRefusal_;
    TaskHandle trashTask_;
    // Answers of the desktop arriving after the model went are dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    sigc::signal<void()> entriesChanged_;
    sigc::signal<void()> selectionChanged_;
    sigc::signal<void()> statusChanged_;
    sigc::signal<void()> noticeChanged_;
    sigc::signal<void()> refusalChanged_;
};

}  // namespace velmora
