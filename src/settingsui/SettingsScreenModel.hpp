#pragma once

// The settings screen without a display. The preferences are edited on a
// draft and written only by an apply against `expected`, the stored record as
// the screen last loaded it, so a change made elsewhere in between (another
// screen, another screen's privacy section, another process) is refused
// rather than overwritten. The restore switch of the screen's own privacy
// section is stored at once; what it wrote becomes part of `expected`, so
// the user's other edits still apply after it. Every other action reports through one status line with a
// fixed sentence; an error's own text is never shown. The import sheet and
// the wizard are requests of the shared SettingsFlow: the model answers the
// sheet's buttons and re-reads the store when a wizard that changed it
// closes. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include <sigc++/sigc++.h>

#include "foundation/AppPreferences.hpp"
#include "foundation/Confirmation.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/Task.hpp"
#include "settingsui/FormModel.hpp"
#include "settingsui/PrivacySettings.hpp"
#include "settingsui/SettingsFilePanels.hpp"
#include "settingsui/SettingsFlow.hpp"

namespace velmora {

class SettingsScreenModel {
public:
    struct Sentences {
        static constexpr const char* applied = "設定を保存しました。次の処理から適用します。";
        static constexpr const char* applyRefused =
            "適用できませんでした。他の画面で変更された場合は読み直してください。現在の設定は保持しています。";
        static constexpr const char* folderFailed = "保存先を再選択してください。";
        static constexpr const char* historyCleared = "履歴だけ削除しました。";
        static constexpr const char* historyFailed = "履歴を削除できませんでした。";
        static constexpr const char* exportFailed = "書き出せませんでした。保存先を確認してください。";
        static constexpr const char* reset = "設定だけ初期化しました。";
        static constexpr const char* resetFailed = "設定を保持しました。形式を確認してください。";
        static constexpr const char* imported = "設定を読み込みました。";
        static constexpr const char* importRefused = "読み込みを適用できませんでした。現在の設定は保持しています。";
        static constexpr const char* reread = "保存済みの設定を読み直しました。";
        static constexpr const char* rereadSame = "保存済みの設定から変更はありません。";
    };

    // The two questions, each answered "取消" (the default) or by the
    // button that names what it does.
    static constexpr const char* cancelLabel = "取消";
    static constexpr const char* clearHistoryLabel = "履歴を削除";
    static constexpr const char* resetLabel = "初期値に戻す";
    static constexpr const char* historyQuestion = "履歴をすべて削除しますか？";
    static constexpr const char* historyInformative = "参照だけを削除します。保存したPNG/PDF/TXTは残ります。";
    static constexpr const char* resetQuestion = "設定を初期値に戻しますか？";
    static constexpr const char* resetInformative =
        "履歴・辞書・Cookie・タブ復元・原稿・成果物・キューは削除しません。";

    // What the screen works with; none is owned, and all outlive the model.
    struct Services {
        SettingsStore& store;
        SettingsFlow& flow;
        // The default output folder is chosen through it.
        OutputAccess& access;
        Confirmation& confirmation;
        SettingsFilePanels& panels;
        // Opens the capture history and removes every reference to an
        // output (never a file); throws when either cannot be done.
        std::function<void()> clearHistory;
        // The privacy section shown in the screen, if any.
        std::shared_ptr<PrivacySettings> privacy = nullptr;
    };

    // Default draft and expected until the first refresh.
    explicit SettingsScreenModel(Services services);
    ~SettingsScreenModel();
    SettingsScreenModel(const SettingsScreenModel&) = delete;
    SettingsScreenModel& operator=(const SettingsScreenModel&) = delete;

    // The message, expected or the whole draft changed; edits through the
    // form are the form's own signal.
    sigc::signal<void()>& changed() noexcept { return changed_; }

    // The draft the form edits, whole and detailed.
    FormModel& form() noexcept { return form_; }
    const AppPreferences& draft() const noexcept { return form_.draft(); }
    const AppPreferences& expected() const noexcept { return expected_; }
    const std::string& message() const noexcept { return message_; }
    // The settings file the message tells of having written, for
    // "保存先を開く"; empty while the message says anything else.
    const std::filesystem::path& exportedFile() const noexcept { return exportedFile_; }
    // Whether the message says an action failed (the screen shows it as an
    // error beside "設定を適用").
    bool messageIsFailure() const noexcept;
    SettingsStore& store() noexcept { return services_.store; }
    SettingsFlow& flow() noexcept { return services_.flow; }
    // An action waits for a question or a panel; others are ignored meanwhile.
    bool busy() const noexcept { return busy_; }

    // Each time the screen comes on screen: the store re-read, then draft and
    // expected from it. The message stays.
    void refresh();

    // "設定を適用": the portable part of the draft against expected.
    void apply();
    // "保存済み設定を読み直す": a refresh; unapplied edits are dropped. It
    // says whether that changed what the screen shows.
    void reread();
    // "保存先を選ぶ…": a refresh after a choice or a cancel.
    Task<void> chooseFolder();
    // "履歴をすべて削除…", after the question.
    Task<void> clearHistory();
    // "初期設定ウィザード…": every showing screen presents the wizard.
    void openWizard();
    // "設定を書き出す…": a cancelled panel does nothing.
    Task<void> exportSettings();
    // "設定を読み込む…": the chosen file read by the flow.
    Task<void> importSettings();
    // "設定を初期値に戻す…", after the question.
    Task<void> resetSettings();

    // The import sheet's "読み込む": the pending transfer applied against the
    // preferences stored when it was read; the sheet closes either way.
    void confirmImport();
    // The import sheet closed in any other way.
    void cancelImport();

    // What an export wrote and where: "設定「<name>」を書き出しました。
    // 保存先：<folder>" (a numbered name says that a file of the chosen
    // name was kept).
    static std::string exportedSentence(const std::filesystem::path& file);
    // The import sheet's text lines.
    static std::string importVersionLine(const SettingsTransfer& transfer);
    // Where the export panel opens: the user's documents folder, or the
    // home folder while there is none.
    static std::filesystem::path exportStartFolder();

private:
    // A wizard presented over the screen has closed.
    void wizardClosed();
    void restoreStored(const AppPreferences& stored);
    void setMessage(std::string message, std::filesystem::path exportedFile = {});
    Task<void> exportChosen();

    Services services_;
    FormModel form_;
    AppPreferences expected_;
    std::string message_;
    std::filesystem::path exportedFile_;
    bool busy_ = false;
    bool wizardShown_ = false;
    sigc::signal<void()> changed_;
    sigc::connection flowConnection_;
    sigc::connection restoreConnection_;
};

}  // namespace velmora
