#include "settingsui/SettingsScreenModel.hpp"

#include <optional>
#include <system_error>
#include <set>
#include <utility>
#include <vector>

#include "foundation/FolderText.hpp"
#include "foundation/PortableSettings.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace {

// Marks the model busy for the life of one action's frame, also when the
// frame is destroyed before it ends (its view went away mid-question).
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

}  // namespace

SettingsScreenModel::SettingsScreenModel(Services services)
    : services_(std::move(services)), form_(AppPreferences{}, std::nullopt, true) {
    wizardShown_ = services_.flow.wizard.get();
    flowConnection_ = services_.flow.changed.connect([this] {
        const bool shown = services_.flow.wizard.get();
        if (shown == wizardShown_) return;
        wizardShown_ = shown;
        if (!shown) wizardClosed();
    });
    if (services_.privacy) {
        restoreConnection_ = services_.privacy->restoreStored.connect(
            [this](const AppPreferences& stored) { restoreStored(stored); });
    }
}

SettingsScreenModel::~SettingsScreenModel() {
    flowConnection_.disconnect();
    restoreConnection_.disconnect();
}

bool SettingsScreenModel::messageIsFailure() const noexcept {
    for (const char* failure : {Sentences::applyRefused, Sentences::folderFailed, Sentences::historyFailed,
                                Sentences::exportFailed, Sentences::resetFailed, Sentences::importRefused}) {
        if (message_ == failure) return true;
    }
    return false;
}

void SettingsScreenModel::setMessage(std::string message, std::filesystem::path exportedFile) {
    message_ = std::move(message);
    exportedFile_ = std::move(exportedFile);
    changed_.emit();
}

void SettingsScreenModel::refresh() {
    SettingsStore& store = services_.store;
    store.reload();
    expected_ = store.value();
    form_.setDraft(store.value());
    changed_.emit();
}

void SettingsScreenModel::apply() {
    if (busy_) return;
    try {
        services_.store.apply(PortableSettings(form_.draft()), expected_);
    } catch (...) {
        // Whatever refused it (a change made elsewhere, a read-only store, a
        // lease or a write), the draft stays for the user to re-read.
        setMessage(Sentences::applyRefused);
        return;
    }
    refresh();
    setMessage(Sentences::applied);
}

void SettingsScreenModel::reread() {
    if (busy_) return;
    const AppPreferences shown = form_.draft();
    const AppPreferences loaded = expected_;
    refresh();
    // Said either way: a button that answers nothing seems not to work.
    const bool same = form_.draft() == shown && expected_ == loaded;
    setMessage(same ? Sentences::rereadSame : Sentences::reread);
}

Task<void> SettingsScreenModel::chooseFolder() {
    if (busy_) co_return;
    BusyScope scope(busy_);
    bool failed = false;
    try {
        co_await services_.access.chooseDefault(services_.store);
    } catch (const CancellationError&) {
        throw;
    } catch (...) {
        // The folder could not be approved or recorded; the user picks again.
        failed = true;
    }
    if (failed) {
        setMessage(Sentences::folderFailed);
    } else {
        refresh();
    }
}

Task<void> SettingsScreenModel::clearHistory() {
    if (busy_) co_return;
    BusyScope scope(busy_);
    const Confirmation::Request question{historyQuestion, historyInformative, cancelLabel, clearHistoryLabel};
    if (!co_await services_.confirmation.confirm(question)) co_return;
    bool cleared = false;
    try {
        if (services_.clearHistory) {
            services_.clearHistory();
            cleared = true;
        }
    } catch (...) {
        // The history could not be opened or rewritten: one sentence for
        // both, and the references stay as they were.
        cleared = false;
    }
    setMessage(cleared ? Sentences::historyCleared : Sentences::historyFailed);
}

void SettingsScreenModel::openWizard() { services_.flow.wizard = true; }

void SettingsScreenModel::wizardClosed() {
    // A wizard that wrote the store makes the draft stale; one that was
    // cancelled leaves the user's unapplied edits alone.
    if (!(services_.store.value() == expected_)) refresh();
    // Its apply is said where the screen's own is, since the wizard is gone.
    if (services_.flow.wizardApplied) setMessage(Sentences::applied);
}

void SettingsScreenModel::restoreStored(const AppPreferences& stored) {
    // This screen's own write, not another writer's: only the two fields it
    // wrote are taken, so a change stored elsewhere before it (in any other
    // field) still refuses the next apply, and the draft's edits stay.
    expected_.restoreTabs = stored.restoreTabs;
    expected_.restoreEpoch = stored.restoreEpoch;
}

Task<void> SettingsScreenModel::exportSettings() {
    if (busy_) co_return;
    BusyScope scope(busy_);
    co_await exportChosen();
}

Task<void> SettingsScreenModel::exportChosen() {
    const ProductBrand& brand = ProductBrand::current();
    const std::string suggested = brand.settingsExportStem() + "." + brand.settingsExtension;
    const std::optional<std::filesystem::path> chosen =
            co_await services_.panels.chooseExport(suggested, exportStartFolder());
    if (!chosen || chosen->filename().empty()) co_return;
    // Whatever extension was typed, the store writes its own and numbers a
    // clashing name, so the stem is all that is taken from the name.
    const std::filesystem::path folder = chosen->parent_path();
    const std::string stem = chosen->filename().stem().string();
    std::filesystem::path written;
    try {
        written = services_.store.exportSettings(folder, stem);
    } catch (...) {
        // The folder, the name or the write failed; nothing was left behind.
        setMessage(Sentences::exportFailed);
        co_return;
    }
    setMessage(exportedSentence(written), written);
}

std::string SettingsScreenModel::exportedSentence(const std::filesystem::path& file) {
    return "設定「" + file.filename().string() + "」を書き出しました。保存先：" + folderText(file.parent_path());
}

Task<void> SettingsScreenModel::importSettings() {
    if (busy_) co_return;
    BusyScope scope(busy_);
    const std::set<std::string> accepted = ProductBrand::current().acceptedSettingsExtensions();
    const std::vector<std::string> extensions(accepted.begin(), accepted.end());
    const std::optional<std::filesystem::path> chosen = co_await services_.panels.chooseImport(extensions);
    if (!chosen) co_return;
    services_.flow.read(*chosen);
}

Task<void> SettingsScreenModel::resetSettings() {
    if (busy_) co_return;
    BusyScope scope(busy_);
    const Confirmation::Request question{resetQuestion, resetInformative, cancelLabel, resetLabel};
    if (!co_await services_.confirmation.confirm(question)) co_return;
    try {
        services_.store.resetConfirmed();
    } catch (...) {
        // The stored file is as it was; the user checks its format.
        setMessage(Sentences::resetFailed);
        co_return;
    }
    refresh();
    setMessage(Sentences::reset);
}

void SettingsScreenModel::confirmImport() {
    SettingsFlow& flow = services_.flow;
    if (!flow.incoming.get()) return;
    const SettingsTransfer transfer = *flow.incoming.get();
    try {
        // Against the preferences stored when the file was read: a change
        // since then is refused, whatever this screen loaded.
        services_.store.apply(transfer.settings, flow.expected);
    } catch (...) {
        flow.message = Sentences::importRefused;
        flow.incoming = std::nullopt;
        return;
    }
    flow.incoming = std::nullopt;
    refresh();
    setMessage(Sentences::imported);
}

void SettingsScreenModel::cancelImport() {
    if (services_.flow.incoming.get()) services_.flow.incoming = std::nullopt;
}

std::filesystem::path SettingsScreenModel::exportStartFolder() {
    std::error_code ec;
    const std::filesystem::path documents = AppRuntime::documentsFolder();
    return std::filesystem::is_directory(documents, ec) ? documents : AppRuntime::homeFolder();
}

std::string SettingsScreenModel::importVersionLine(const SettingsTransfer& transfer) {
    return "形式 " + std::to_string(transfer.schemaVersion) + "・作成版 " + transfer.appVersion;
}

}  // namespace velmora
