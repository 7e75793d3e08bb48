// A settings file opened from the desktop, read and held for the user's
// confirmation: the file read, then what confirming it does. A held file
// must encode back to itself (it is shown and compared as read) and must
// apply as it is to the stored preferences it was confirmed against.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/SettingsTransfer.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

SettingsStore& store() {
    static SettingsStore s(fuzz::freshFolder("held-settings-store"));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const auto folder = fuzz::freshFolder("opened");
    const std::string extension = *ProductBrand::current().acceptedSettingsExtensions().begin();
    const auto file = folder / ("opened." + extension);
    fuzz::writeFile(file, bytes);

    SettingsTransfer::Parsed held;
    if (fuzz::documented("SettingsTransfer::read", [&] { held = SettingsTransfer::read(file); }) != fuzz::Outcome::read) {
        return 0;
    }
    SettingsTransfer::Parsed back;
    if (fuzz::documented("SettingsTransfer::parse", [&] { back = SettingsTransfer::parse(JSON::encode(held.transfer)); }) !=
            fuzz::Outcome::read ||
        !(back.transfer == held.transfer) || back.extraKeys) {
        fuzz::fail("SettingsTransfer: a held file does not read back from its own encoding");
    }

    // Confirmed against the preferences stored when it was read.
    SettingsStore& settings = store();
    const AppPreferences expected = settings.value();
    if (fuzz::documented("SettingsStore::apply", [&] { settings.apply(held.transfer.settings, expected); }, false) !=
        fuzz::Outcome::read) {
        fuzz::fail("SettingsStore::apply: a held file could not be applied");
    }
    if (!(settings.value() == held.transfer.settings.applying(expected))) {
        fuzz::fail("SettingsStore::apply: the stored preferences are not the held settings applied");
    }
    // What an export then writes is what was held.
    if (!(PortableSettings(settings.value()) == held.transfer.settings)) {
        fuzz::fail("SettingsStore: the applied settings do not export as held");
    }
    return 0;
}
