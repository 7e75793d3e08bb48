#include "settingsui/SettingsFlow.hpp"

#include <cassert>

namespace velmora {

SettingsFlow& SettingsFlow::shared() {
    // Never destroyed: views and the application's receiver may outlive any
    // static order of destruction.
    static SettingsFlow* const flow = new SettingsFlow();
    return *flow;
}

std::function<AppPreferences()> SettingsFlow::storedIn(SettingsStore& store) {
    return [&store] {
        store.reload();
        return store.value();
    };
}

void SettingsFlow::read(const std::filesystem::path& url) {
    std::optional<SettingsTransfer::Parsed> parsed;
    AppPreferences stored;
    try {
        parsed = SettingsTransfer::read(url);
        assert(storedPreferences && "the application wires the stored preferences before any read");
        stored = storedPreferences ? storedPreferences() : AppPreferences{};
    } catch (...) {
        // One sentence stands for every cause (extension, size, not a regular
        // file, malformed, a value outside its set): the user's remedy is
        // the same, and the pending import is left as it was.
        parsed.reset();
    }
    if (!parsed) {
        message = readFailure;
    } else {
        expected = stored;
        unknownKeys = parsed->extraKeys;
        incoming = std::move(parsed->transfer);
    }
    if (showSettings) showSettings();
}

}  // namespace velmora
