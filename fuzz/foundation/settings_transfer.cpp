// The settings export file a user imports: the strict parser, and the same
// bytes read as a chosen file through its folder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsTransfer.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);

    SettingsTransfer::Parsed parsed;
    const auto outcome = fuzz::documented("SettingsTransfer::parse", [&] { parsed = SettingsTransfer::parse(bytes); });
    if (outcome == fuzz::Outcome::read) {
        // An accepted file holds settings that can be applied as they are.
        const auto applied = fuzz::documented("PortableSettings::validate", [&] { parsed.transfer.settings.validate(); });
        if (applied != fuzz::Outcome::read) fuzz::fail("SettingsTransfer: accepted settings that do not validate");
        parsed.transfer.settings.summary();
    }

    const auto folder = fuzz::freshFolder("import");
    const std::string extension = *ProductBrand::current().acceptedSettingsExtensions().begin();
    const auto file = folder / ("chosen." + extension);
    fuzz::writeFile(file, bytes);
    const auto before = fuzz::picture(folder);
    const auto fromFile = fuzz::documented("SettingsTransfer::read", [&] {
        const auto r = SettingsTransfer::read(file);
        if (!(r.transfer == parsed.transfer) || r.extraKeys != parsed.extraKeys) {
            fuzz::fail("SettingsTransfer: the file read differs from the parse of its bytes");
        }
    });
    if (fromFile != outcome) fuzz::fail("SettingsTransfer: the file read and the parse disagree on acceptance");
    fuzz::requireUnchanged(before, folder, "SettingsTransfer::read");
    return 0;
}
