// A queue folder's edit journal as reopening the queue reads it: parsed,
// then replayed over a fixed intact "queue.json" by inspection and by
// resuming under the lease. Once as the file itself and once with the input
// as the payload of one intact record, so the record's decoder is reached
// past the digest. Whatever the bytes, the queue itself is never refused for
// them: only a journal that is no regular file or too large is.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueEditJournal.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

OCRSettings fixtureSettings() {
    OCRSettings settings;
    settings.implementationSHA256 = std::string(64, 'b');
    settings.bundledCodeSHA256 = std::string(64, 'c');
    return settings;
}

// The queue the seeded records name: one input whose first page is
// completed, whose second failed.
std::vector<uint8_t> fixtureQueue() {
    QueueInput input("/fuzz/source/scan.pdf", InputOrigin::normal);
    input.id = *UUID::parse(fuzz::journalInputID);
    input.status = InputStatus::completed;
    input.pages = {PageRecord(1, PageState::completed, "page-1.json", fuzz::journalPageChecksum()),
                   PageRecord(2, PageState::failed, std::nullopt, std::nullopt, ErrorCase::renderFailed,
                              std::vector<ErrorCase>{})};
    QueueSnapshot snapshot(fixtureSettings(), {input});
    snapshot.id = *UUID::parse(fuzz::journalQueueID);
    return JSON::encode(QueueEnvelope::seal(snapshot));
}

// Every record the parser kept is one the encoder can write and the parser
// read back the same; the intact part and the part set aside make the whole.
void checkParse(const std::vector<uint8_t>& bytes) {
    const QueueEditJournal::Contents contents = QueueEditJournal::parse(bytes);
    if (contents.intactBytes + contents.setAsideBytes != bytes.size()) fuzz::fail("QueueEditJournal: sizes disagree");
    if (contents.setAsideBytes == 0 && contents.intactBytes != bytes.size()) fuzz::fail("QueueEditJournal: lost bytes");
    std::vector<uint8_t> again;
    for (const auto& r : contents.records) {
        const auto one = QueueEditJournal::encode(r);
        again.insert(again.end(), one.begin(), one.end());
    }
    const QueueEditJournal::Contents reread = QueueEditJournal::parse(again);
    if (!(reread.records == contents.records) || reread.setAsideBytes != 0) {
        fuzz::fail("QueueEditJournal: a record does not survive its own encoding");
    }
}

void reopen(const std::vector<uint8_t>& journal) {
    static const std::vector<uint8_t> queue = fixtureQueue();
    static const OCRSettings settings = fixtureSettings();
    const auto parent = fuzz::freshFolder("queues");
    const auto folder = parent / fuzz::journalQueueID;
    std::filesystem::create_directory(folder);
    fuzz::writeFile(folder / std::string(OCRQueueEngine::queueFileName), queue);
    fuzz::writeFile(folder / std::string(QueueEditJournal::fileName), journal);
    fuzz::writeFile(folder / std::string(OCRQueueEngine::leaseName), nullptr, 0);
    const auto before = fuzz::picture(parent);
    const std::size_t descriptors = fuzz::openDescriptors();

    QueueSnapshot inspected;
    const auto outcome = fuzz::documented("OCRQueueEngine::inspect", [&] { inspected = OCRQueueEngine::inspect(folder); });
    fuzz::requireUnchanged(before, parent, "OCRQueueEngine::inspect");
    // The journal is a regular file within its size: no bytes in it refuse
    // the queue.
    if (outcome == fuzz::Outcome::refused) fuzz::fail("OCRQueueEngine::inspect refused a queue for its journal");
    // Highlights replayed are only ones that match their page.
    if (inspected.editorStates) {
        for (const auto& [key, state] : *inspected.editorStates) {
            if (state.resultChecksum != fuzz::journalPageChecksum() || state.page != 1) {
                fuzz::fail("QueueEditJournal: replayed highlights of another result");
            }
            OCRDecorationState d = state.decoration;
            d.update(d.text());
        }
    }
    fuzz::documented("OCRQueueEngine::resume", [&] {
        auto engine = OCRQueueEngine::resume(folder, settings);
        if (!(engine->snapshot() == inspected)) fuzz::fail("OCRQueueEngine: resume and inspect replay differently");
        (void)engine->restoreEditors();
        // Folded into the queue, the journal leaves the same queue to read.
        engine->compact();
        engine.reset();
        if (!(OCRQueueEngine::inspect(folder) == inspected)) fuzz::fail("OCRQueueEngine: the fold changed the queue");
    });
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("OCRQueueEngine: a descriptor stayed open");
    fuzz::requireLeaseFree(folder, OCRQueueEngine::leaseName);
}

// The bytes as the payload of one record with its right length and digest.
std::vector<uint8_t> framed(const std::vector<uint8_t>& payload) {
    const auto size = static_cast<uint32_t>(payload.size());
    const uint8_t length[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                               static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    std::vector<uint8_t> signed_(length, length + 4);
    signed_.insert(signed_.end(), payload.begin(), payload.end());
    const std::string digest = Digest::data(signed_);
    std::vector<uint8_t> out(QueueEditJournal::headerBytes + payload.size());
    std::memcpy(out.data(), QueueEditJournal::magic.data(), 4);
    std::memcpy(out.data() + 4, length, 4);
    std::memcpy(out.data() + 8, digest.data(), 64);
    if (!payload.empty()) std::memcpy(out.data() + QueueEditJournal::headerBytes, payload.data(), payload.size());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    checkParse(bytes);
    reopen(bytes);
    const std::vector<uint8_t> record = framed(bytes);
    checkParse(record);
    reopen(record);
    return 0;
}
