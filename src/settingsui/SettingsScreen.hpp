#pragma once

// The settings screen on screen: one column, at most 760 wide and centred,
// scrolling vertically, over a SettingsScreenModel, and under it an action
// bar that stays in sight whatever is scrolled: "設定を適用" (insensitive
// while the store is read-only), the screen's message beside it (an error's
// in the theme's error colour; "保存先を開く" after it while it tells of an
// exported file) and re-read. The column holds the title, the
// store's reason for being read-only (only then, above the greyed form), the
// form on the draft, the default output folder, the privacy section its
// creator made with clearing the history, the wizard, export, import and
// reset, then the store's notice and the flow's message. Every section is a
// heading over one framed box, as the form's own sections are.
// It loads the stored preferences each time it is mapped, and presents the
// wizard and the import sheet, modal over its window, while the shared flow
// asks for them, so every screen showing presents them.

#include <functional>
#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>

#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/Task.hpp"
#include "gui/GtkConfirmation.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "settingsui/GtkSettingsFilePanels.hpp"
#include "settingsui/ImportSheet.hpp"
#include "settingsui/ProductSettingsForm.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "settingsui/SettingsScreenModel.hpp"
#include "settingsui/SetupWizard.hpp"
#include "settingsui/WidthClamp.hpp"

namespace velmora {

class SettingsScreen : public Gtk::Box {
public:
    static constexpr int maximumWidth = 760;
    static constexpr int padding = 20;
    static constexpr int spacing = 16;
    static constexpr const char* title = "設定";
    static constexpr const char* caption = "変更後「設定を適用」で保存します。実行中の処理条件は変えません。";
    static constexpr const char* privacyHeading = "プライバシー・Cookie";
    static constexpr const char* historyCaption =
        "閲覧だけでは履歴に残しません。プライベートの明示保存ファイルは残ります。";
    static constexpr const char* managementHeading = "設定管理";

    // Widget names, for tests and the accessibility tree.
    static constexpr const char* applyName = "settings.apply";
    static constexpr const char* rereadName = "settings.reread";
    static constexpr const char* folderName = "settings.folder";
    static constexpr const char* clearHistoryName = "settings.clearHistory";
    static constexpr const char* wizardName = "settings.wizard";
    static constexpr const char* exportName = "settings.export";
    static constexpr const char* importName = "settings.import";
    static constexpr const char* resetName = "settings.reset";
    static constexpr const char* formName = "settings.form";
    static constexpr const char* noticeName = "settings.notice";
    static constexpr const char* resultName = "settings.result";
    static constexpr const char* revealName = "settings.revealExport";
    static constexpr const char* flowMessageName = "settings.flowMessage";
    static constexpr const char* scrollName = "settings.scroll";
    static constexpr const char* actionBarName = "settings.actions";
    static constexpr const char* readOnlyName = "settings.readOnly";
    static constexpr const char* readOnlyReasonName = "settings.readOnly.reason";

    // What its creator hands in: the store the screen edits, the output
    // folders, the history clearing (see SettingsScreenModel::Services) and
    // the privacy section, made by the creator (null for none; a managed
    // widget becomes the screen's). When it is a BrowserSettings, what its
    // restore switch stores counts as the screen's own write.
    struct Parts {
        SettingsStore& store;
        OutputAccess& access;
        std::function<void()> clearHistory;
        Gtk::Widget* privacy = nullptr;
    };

    explicit SettingsScreen(Parts parts, SettingsFlow& flow = SettingsFlow::shared());
    ~SettingsScreen() override;
    SettingsScreen(const SettingsScreen&) = delete;
    SettingsScreen& operator=(const SettingsScreen&) = delete;

    SettingsScreenModel& model() noexcept { return model_; }
    Gtk::ScrolledWindow& scroller() noexcept { return scroller_; }
    Gtk::Box& actionBar() noexcept { return actionBar_; }
    // The wizard and the import sheet once first presented; null before.
    SetupWizard* wizard() noexcept { return wizard_.get(); }
    ImportSheet* importSheet() noexcept { return importSheet_.get(); }

private:
    Gtk::Window* hostWindow();
    Gtk::Button& addButton(Gtk::Button& button, const char* name);
    // A section's heading (none for none) over one framed box of `rows`.
    void addSection(Gtk::Label* heading, std::initializer_list<Gtk::Widget*> rows);
    void start(Task<void> action);
    void followModel();
    void followStore();
    void followFlow();

    std::function<void()> clearHistory_;
    GtkConfirmation confirmation_;
    GtkDesktopActions desktop_;
    GtkSettingsFilePanels panels_;
    SettingsScreenModel model_;

    // The column outlives the clamp that holds it: a clamp lets its child go
    // when it goes.
    Gtk::ScrolledWindow scroller_;
    Gtk::Box column_{Gtk::Orientation::VERTICAL, spacing};
    WidthClamp clamp_{maximumWidth};
    Gtk::Label title_;
    Gtk::Label caption_;
    Gtk::Box readOnly_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Image readOnlyIcon_;
    Gtk::Label readOnlyReason_;
    ProductSettingsForm form_;
    Gtk::Box actionBar_{Gtk::Orientation::HORIZONTAL, 12};
    Gtk::Button apply_{"設定を適用"};
    Gtk::Button reread_{"保存済み設定を読み直す"};
    Gtk::Button folder_{"保存先を選ぶ…"};
    Gtk::Label privacyHeading_;
    Gtk::Label historyCaption_;
    Gtk::Button clearHistoryButton_{"履歴をすべて削除…"};
    Gtk::Label managementHeading_;
    Gtk::Button wizardButton_{"初期設定ウィザード…"};
    Gtk::Button export_{"設定を書き出す…"};
    Gtk::Button import_{"設定を読み込む…"};
    Gtk::Button reset_{"設定を初期値に戻す…"};
    Gtk::Label notice_;
    Gtk::Label result_;
    Gtk::Button reveal_{"保存先を開く"};
    Gtk::Label flowMessage_;

    std::unique_ptr<SetupWizard> wizard_;
    std::unique_ptr<ImportSheet> importSheet_;
    // The actions waiting for a question or a panel; discarded with the
    // screen, which takes their dialogs away.
    std::vector<TaskHandle> actions_;
    std::vector<sigc::connection> connections_;
};

}  // namespace velmora
