// A queue folder's "queue.json" as reopening the queue reads it: inspected,
// then resumed under its lease. Once as the file itself and once with the
// input as the payload of an intact envelope, so the snapshot's decoder (the
// saved highlights of edited pages included) is reached past the digest.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

// What the editor does with saved highlights once a page is shown.
void showHighlights(const QueueSnapshot& snapshot) {
    if (!snapshot.editorStates) return;
    for (const auto& [key, state] : *snapshot.editorStates) {
        OCRDecorationState d = state.decoration;
        d.yellow();
        d.green();
        d.update(d.text());
    }
}

void reopen(const std::vector<uint8_t>& file, const std::string& id) {
    static const OCRSettings settings;
    const auto parent = fuzz::freshFolder("queues");
    const auto folder = parent / id;
    std::filesystem::create_directory(folder);
    fuzz::writeFile(folder / std::string(OCRQueueEngine::queueFileName), file);
    fuzz::writeFile(folder / std::string(OCRQueueEngine::leaseName), nullptr, 0);
    const auto before = fuzz::picture(parent);
    const std::size_t descriptors = fuzz::openDescriptors();

    const auto inspected = fuzz::documented("OCRQueueEngine::inspect", [&] {
        showHighlights(OCRQueueEngine::inspect(folder));
    });
    fuzz::requireUnchanged(before, parent, "OCRQueueEngine::inspect");
    const auto resumed = fuzz::documented("OCRQueueEngine::resume", [&] {
        auto engine = OCRQueueEngine::resume(folder, settings);
    });
    if (inspected == fuzz::Outcome::refused && resumed == fuzz::Outcome::read) {
        fuzz::fail("OCRQueueEngine: resumed a queue that inspection refuses");
    }
    if (resumed == fuzz::Outcome::refused) fuzz::requireUnchanged(before, parent, "OCRQueueEngine::resume");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("OCRQueueEngine: a descriptor stayed open");
    fuzz::requireLeaseFree(folder, OCRQueueEngine::leaseName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    fuzz::documented("QueueSnapshot", [&] { showHighlights(JSON::decode<QueueSnapshot>(bytes)); });
    reopen(bytes, fuzz::namedID(bytes, "id", true, fuzz::fallbackID));
    reopen(fuzz::sealedEnvelope(bytes), fuzz::namedID(bytes, "id", false, fuzz::fallbackID));
    return 0;
}
