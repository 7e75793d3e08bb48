// "history.json" as every history operation reads it first: the current
// envelope, or a legacy bare list that is migrated on first contact.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "history/CaptureHistory.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    fuzz::documented("CaptureHistoryEntry", [&] { JSON::decode<CaptureHistoryEntry>(bytes); });

    const auto root = fuzz::freshFolder("state");
    const auto folder = root / "history";
    std::filesystem::create_directory(folder);
    std::filesystem::create_directory(root / "outputs");
    fuzz::writeFile(folder / CaptureHistory::fileName, bytes);
    fuzz::writeFile(folder / CaptureHistory::lockName, nullptr, 0);
    const auto before = fuzz::picture(root);
    const std::size_t descriptors = fuzz::openDescriptors();

    std::vector<CaptureHistoryEntry> first;
    const auto outcome = fuzz::documented("CaptureHistory::entries", [&] {
        CaptureHistory history(folder, {root / "outputs"});
        first = history.entries();
        for (const auto& e : first) hasPendingOutput(e);
        // A second look (after a migration, if there was one) sees the same.
        const auto second = history.entries();
        if (second.size() != first.size()) fuzz::fail("CaptureHistory: a second read differs");
        for (std::size_t i = 0; i < first.size(); ++i) {
            if (encodedEntry(first[i]) != encodedEntry(second[i])) fuzz::fail("CaptureHistory: a second read differs");
        }
    });
    if (outcome == fuzz::Outcome::refused) fuzz::requireUnchanged(before, root, "CaptureHistory::entries");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("CaptureHistory: a descriptor stayed open");
    fuzz::requireLeaseFree(folder, CaptureHistory::lockName);
    return 0;
}
