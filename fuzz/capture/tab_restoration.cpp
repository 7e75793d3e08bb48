// "snapshot.json" as the launch restores it: TabRestoration::load against the
// restoration period (epoch) in the settings, then the first save after it.
// The settings name the epoch the input names, so a snapshot of the current
// period is reached; one of another period must be passed over untouched.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

// The id a folder is named by when the input names none (the fixtures that
// carry it reach into the OCR layers, which this layer may not use).
constexpr const char* fallbackID = "6F0D3C8E-2B7A-4C51-9E8D-1A2B3C4D5E6F";

SettingsStore& settingsWithEpoch(const UUID& epoch) {
    static const auto root = fuzz::freshFolder("restore-settings");
    static SettingsStore store(root);
    if (!store.value().restoreTabs || store.value().restoreEpoch != epoch) {
        store.change([&](AppPreferences& p) {
            p.restoreTabs = true;
            p.restoreEpoch = epoch;
        });
    }
    return store;
}

std::vector<uint8_t> snapshotFile(const std::filesystem::path& folder) {
    return SecureDirectory(folder, false).read(TabRestoration::snapshotName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const UUID epoch = *UUID::parse(fuzz::namedID(bytes, "epoch", false, fallbackID));
    SettingsStore& settings = settingsWithEpoch(epoch);

    std::optional<TabSnapshot> decoded;
    fuzz::documented("TabRestoration::decode", [&] { decoded = TabRestoration::decode(bytes); });

    const auto folder = fuzz::freshFolder("tabs");
    fuzz::writeFile(folder / TabRestoration::snapshotName, bytes);
    // The lease an earlier launch left, free.
    fuzz::writeFile(folder / TabRestoration::leaseName, std::vector<uint8_t>{});
    const auto before = fuzz::picture(folder);
    const std::size_t descriptors = fuzz::openDescriptors();

    std::vector<RestoredWindow> windows;
    bool blocked = false;
    uint64_t generation = 0;
    {
        TabRestoration restoration(folder, settings);
        // Never throws: whatever it cannot read blocks the saves.
        fuzz::documented("TabRestoration::load", [&] { windows = restoration.load(); }, false);
        blocked = restoration.blocked();
        generation = restoration.generation();
        if (!decoded) {
            if (!blocked || restoration.notice() != TabRestoration::loadNotice || !windows.empty()) {
                fuzz::fail("TabRestoration::load: a snapshot the decoder refuses was not refused");
            }
        } else if (blocked) {
            fuzz::fail("TabRestoration::load: a snapshot the decoder reads blocked the saves");
        } else if (decoded->epoch != epoch) {
            if (!windows.empty() || generation != 0) fuzz::fail("TabRestoration::load: restored another period");
        } else if (!(windows == decoded->windows) || generation != decoded->generation) {
            fuzz::fail("TabRestoration::load: restored something else than the snapshot");
        }
        // Loading changes nothing on disk.
        fuzz::requireUnchanged(before, folder, "TabRestoration::load");

        // The first save writes back what was restored, one generation on;
        // blocked or of another period, the file stays as it is.
        fuzz::documented("TabRestoration::save", [&] { restoration.save(windows); }, false);
        const bool saved = !blocked && decoded && decoded->epoch == epoch && generation != UINT64_MAX;
        if (saved != !restoration.blocked()) fuzz::fail("TabRestoration::save: blocked when it should not be, or not");
        if (saved) {
            TabSnapshot written;
            if (fuzz::documented("TabRestoration::decode", [&] { written = TabRestoration::decode(snapshotFile(folder)); }) !=
                    fuzz::Outcome::read ||
                !(written.windows == windows) || written.epoch != epoch || written.generation != generation + 1) {
                fuzz::fail("TabRestoration::save: the snapshot restored does not read back as saved");
            }
        } else if (snapshotFile(folder) != bytes) {
            fuzz::fail("TabRestoration::save: replaced a snapshot it could not vouch for");
        }
    }
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("TabRestoration: a descriptor stayed open");
    fuzz::requireLeaseFree(folder, TabRestoration::leaseName);
    return 0;
}
