#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "foundation/AppPreferences.hpp"
#include "foundation/ObservableValue.hpp"

namespace velmora {

class SecureDirectory;
struct PortableSettings;

// Owns "preferences.json" and publishes the current preferences with one
// status sentence and a read-only switch. A file it cannot understand is never
// overwritten by an ordinary change: only an explicit reset (which first keeps
// a copy) or a later successful read clears that state.
class SettingsStore {
public:
    struct Notices {
        static constexpr const char* ready = "変更は次の処理から適用します。";
        static constexpr const char* partial =
            "一部の設定を確認できないため、その項目には初期値を表示しています。元の設定は保持しています。";
        static constexpr const char* unreadable =
            "設定の形式を確認できないため、元の設定を保持しています。初期値を表示し、変更は停止しています。";
        static constexpr const char* saved = "設定を保存しました。次の処理から適用します。";
        static constexpr const char* cannotSave = "設定を保存できません。元の設定は保持しています。";
    };

    static std::filesystem::path defaultRoot();

    explicit SettingsStore(std::filesystem::path root = defaultRoot());
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const AppPreferences& value() const noexcept { return value_.get(); }
    const std::string& notice() const noexcept { return notice_.get(); }
    bool readOnly() const noexcept { return readOnly_.get(); }
    const std::filesystem::path& root() const noexcept { return root_; }

    // Emitted only when the published preferences become different ones.
    sigc::signal<void(const AppPreferences&)>& valueChanged() noexcept { return value_.changed(); }
    sigc::signal<void(const std::string&)>& noticeChanged() noexcept { return notice_.changed(); }
    sigc::signal<void(const bool&)>& readOnlyChanged() noexcept { return readOnly_.changed(); }

    // The output-folder grants report a failed save of their own here.
    void setNotice(std::string text) { notice_.set(std::move(text)); }

    // Reads the file again and publishes the outcome. Never throws.
    void reload();
    // Applies a mutation to the preferences on disk, under the lease, and
    // writes only a record that reads back complete and equal.
    void change(const std::function<void(AppPreferences&)>& mutation);
    // Sets one field; a failure becomes the cannot-save notice.
    template <typename T>
    void update(T AppPreferences::*field, T newValue) {
        try {
            change([&](AppPreferences& p) { p.*field = newValue; });
        } catch (...) {
            // Every failure has one answer for the user: nothing was saved and
            // the stored settings are as they were.
            notice_.set(Notices::cannotSave);
        }
    }
    // Publishes the portable part of the current preferences as a settings
    // export file "<stem>.<extension>" in folder (created when missing),
    // numbered "_001", "_002" ... rather than overwriting. Returns its URL.
    std::filesystem::path exportSettings(const std::filesystem::path& folder, const std::string& stem) const;
    // Applies imported settings, but only while the preferences on disk are
    // still `expected`, the ones the user confirmed against; otherwise
    // settingsChanged and the file is left byte for byte as it was.
    void apply(const PortableSettings& settings, const AppPreferences& expected);
    // Writes the defaults after the user confirmed a reset. A file that cannot
    // be read is first kept as "preserved-settings.json" beside it; a file
    // from a newer version is never reset.
    void resetConfirmed();

private:
    void writeChecked(const SecureDirectory& dir, const AppPreferences& record);
    void showDefaultsReadOnly();
    void publish(const AppPreferences& record);

    std::filesystem::path root_;
    ObservableValue<AppPreferences> value_;
    ObservableValue<std::string> notice_{Notices::ready};
    ObservableValue<bool> readOnly_{false};
};

}  // namespace velmora
