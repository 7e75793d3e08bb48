#pragma once

// The process-wide requests to the settings screen: a settings file read and
// held for the user's confirmation (the import), and the flag that asks for
// the setup wizard. The flow applies nothing; the screen confirms and applies
// against `expected`, so a change of the stored preferences between the read
// and the confirmation is refused by the store. Main thread only.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <sigc++/sigc++.h>

#include "foundation/AppPreferences.hpp"
#include "foundation/Published.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/SettingsTransfer.hpp"

namespace velmora {

class SettingsFlow {
public:
    static constexpr const char* readFailure =
        "設定ファイルを読み込めません。形式・サイズ・値を確認してください。現在の設定は変更していません。";

    // The one instance, made on first use and never released.
    static SettingsFlow& shared();

    SettingsFlow() = default;
    SettingsFlow(const SettingsFlow&) = delete;
    SettingsFlow& operator=(const SettingsFlow&) = delete;

    // Emitted after every assignment to a published field.
    sigc::signal<void()> changed;

    // The setup wizard should be shown over the settings screen. Set by the
    // menu command and the screen's button; cleared when the wizard closes.
    Published<bool> wizard{changed, false};
    // The wizard shown last wrote the preferences with its "適用"; read when
    // it closes, so that the screen says so. Not published.
    bool wizardApplied = false;
    // The settings file read and waiting for confirmation.
    Published<std::optional<SettingsTransfer>> incoming{changed, std::nullopt};
    // The pending file held keys the reader did not recognise.
    Published<bool> unknownKeys{changed, false};
    // The latest status sentence for the settings screen.
    Published<std::string> message{changed, ""};
    // The stored preferences when the pending file was read. Not published.
    AppPreferences expected;

    // What the application wires: the stored preferences now, and bringing
    // the settings section of the current window forward (opening a window
    // when none is open). The flow cannot reach the services or the windows
    // itself: they live in the layer above it.
    std::function<AppPreferences()> storedPreferences;
    std::function<void()> showSettings;

    // The stored preferences for storedPreferences: the store's file as it
    // is at the read, not the copy the store last published, since another
    // process may have changed it since (the import would then be checked
    // against a stale value and refused until the screen is read again).
    static std::function<AppPreferences()> storedIn(SettingsStore& store);

    // Reads one settings file. Never throws: every failure, whatever its
    // cause, sets the one sentence of readFailure and keeps a pending
    // import; a success sets expected, then unknownKeys, then incoming (last,
    // so that an observer of incoming finds the other two in place). Either
    // way the settings are then shown.
    void read(const std::filesystem::path& url);
};

}  // namespace velmora
