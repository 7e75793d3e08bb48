// A publication journal "lifecycle.json" as the launch recovery reads it:
// whatever cannot be read or believed is retained, untouched, and so is one
// already reconciled; one that published nothing is only marked reconciled.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    bool reconciled = false;
    fuzz::documented("CaptureLifecycle::Journal", [&] {
        const auto journal = JSON::decode<CaptureLifecycle::Journal>(bytes);
        reconciled = journal.state == CaptureLifecycle::Journal::State::reconciled;
        fuzz::documented("CaptureLifecycle::historyEntry", [&] { CaptureLifecycle::historyEntry(journal); });
    });

    const auto state = fuzz::freshFolder("state");
    const auto root = state / "lifecycle";
    const auto attempt = root / fuzz::namedID(bytes, "attemptID", false, fuzz::fallbackID);
    std::filesystem::create_directories(attempt);
    std::filesystem::create_directory(state / "history");
    std::filesystem::create_directory(state / "outputs");
    fuzz::writeFile(attempt / CaptureLifecycle::journalName, bytes);
    fuzz::writeFile(attempt / CaptureLifecycle::leaseName, nullptr, 0);
    fuzz::writeFile(state / "history" / CaptureHistory::lockName, nullptr, 0);
    const auto before = fuzz::picture(state);
    const std::size_t descriptors = fuzz::openDescriptors();

    CaptureLifecycle::Recovery counts;
    fuzz::documented("CaptureLifecycle::recover", [&] {
        CaptureHistory history(state / "history", {state / "outputs"});
        counts = CaptureLifecycle::recover(root, history);
    }, false);
    if (counts.recovered + counts.retained + counts.active + counts.alreadyReconciled != 1) {
        fuzz::fail("CaptureLifecycle::recover did not account for its one folder");
    }
    if (counts.retained == 1 || (counts.alreadyReconciled == 1 && reconciled)) {
        fuzz::requireUnchanged(before, state, "CaptureLifecycle::recover");
    }
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("CaptureLifecycle::recover: a descriptor stayed open");
    fuzz::requireLeaseFree(attempt, CaptureLifecycle::leaseName);
    fuzz::requireLeaseFree(state / "history", CaptureHistory::lockName);
    return 0;
}
