// "snapshot.json" of tab restoration: the decoder, and the read through the
// "tabs" folder that the launch makes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/SecureDirectory.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    TabSnapshot decoded;
    const auto outcome = fuzz::documented("TabRestoration::decode", [&] { decoded = TabRestoration::decode(bytes); });
    if (outcome == fuzz::Outcome::read) {
        // A snapshot restored is one a save would write again unchanged.
        for (const auto& w : decoded.windows) {
            for (const auto& t : w.tabs) {
                if (t.url && TabRestoration::eligible(t.url, "GET") != t.url) {
                    fuzz::fail("TabRestoration: restored an address it would not keep");
                }
            }
        }
        if (!(TabRestoration::decode(JSON::encode(decoded)) == decoded)) {
            fuzz::fail("TabRestoration: a snapshot does not read back as written");
        }
    }

    const auto folder = fuzz::freshFolder("tabs");
    fuzz::writeFile(folder / TabRestoration::snapshotName, bytes);
    const auto before = fuzz::picture(folder);
    const std::size_t descriptors = fuzz::openDescriptors();
    const auto fromFile = fuzz::documented("TabRestoration::readSnapshot", [&] {
        const auto s = TabRestoration::readSnapshot(SecureDirectory(folder, false));
        if (!s || !(*s == decoded)) fuzz::fail("TabRestoration: the file read differs from the decoder's");
    });
    if (fromFile != outcome) fuzz::fail("TabRestoration: the file read and the decoder disagree on acceptance");
    fuzz::requireUnchanged(before, folder, "TabRestoration::readSnapshot");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("TabRestoration: a descriptor stayed open");
    return 0;
}
