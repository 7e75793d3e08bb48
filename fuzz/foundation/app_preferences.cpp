// "preferences.json" as the settings store reads it at launch (through its
// folder), the tolerant decoder behind it, and the strict decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/AppPreferences.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);

    AppPreferences::Read read;
    if (fuzz::documented("AppPreferences::decode", [&] { read = AppPreferences::decode(bytes); }) ==
        fuzz::Outcome::read) {
        // A record read whole is one the store would write back: it encodes
        // to bytes that read back whole and equal.
        if (!read.partial) {
            AppPreferences::Read back;
            if (fuzz::documented("AppPreferences::decode", [&] { back = AppPreferences::decode(JSON::encode(read.value)); }) !=
                    fuzz::Outcome::read ||
                back.partial || !(back.value == read.value)) {
                fuzz::fail("AppPreferences: a record read whole does not read back from its own encoding");
            }
        }
    }
    fuzz::documented("AppPreferences strict", [&] { JSON::decode<AppPreferences>(bytes); });

    const auto root = fuzz::freshFolder("settings");
    fuzz::writeFile(root / "preferences.json", bytes);
    const auto before = fuzz::picture(root);
    const std::size_t descriptors = fuzz::openDescriptors();
    // The store never throws out of a read; what it cannot read makes it
    // read-only and leaves the file alone.
    fuzz::documented("SettingsStore", [&] {
        SettingsStore store(root);
        if (!store.readOnly() && !(store.value() == read.value)) {
            fuzz::fail("SettingsStore: the launch read differs from the decoder's");
        }
    }, false);
    fuzz::requireUnchanged(before, root, "SettingsStore");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("SettingsStore: a descriptor stayed open");
    return 0;
}
