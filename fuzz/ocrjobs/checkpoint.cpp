// A job folder's "checkpoint.json" as resuming a job validates it: once as
// the file (envelope and all), and once with the input as the payload of an
// intact envelope, so the checkpoint's own decoder is reached past the digest.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

void resumeFrom(const std::vector<uint8_t>& file, const std::string& attempt) {
    static const OCRSettings settings;
    const auto parent = fuzz::freshFolder("jobs");
    const auto folder = parent / attempt;
    std::filesystem::create_directory(folder);
    fuzz::writeFile(folder / "checkpoint.json", file);
    const auto before = fuzz::picture(parent);
    const std::size_t descriptors = fuzz::openDescriptors();
    fuzz::documented("CheckpointFile::read", [&] { CheckpointFile::read(SecureDirectory(folder, false)); }, false);
    fuzz::documented("JobStore::resume", [&] {
        auto store = JobStore::resume(folder, fuzz::fixtureSource(), settings, true);
        // What resumes must be a job the runner can take up.
        const Checkpoint c = store->checkpoint();
        if (c.pages.size() != static_cast<std::size_t>(c.source.pageCount)) fuzz::fail("JobStore: page count");
        for (std::size_t i = 0; i < c.pages.size(); ++i) {
            store->result(static_cast<int64_t>(i + 1));
        }
    }, false);
    // Validation alone leaves the folder exactly as it was, read or refused.
    fuzz::requireUnchanged(before, parent, "JobStore::resume (validate only)");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("JobStore::resume: a descriptor stayed open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    fuzz::documented("CheckpointEnvelope", [&] { JSON::decode<CheckpointEnvelope>(bytes).open(); });
    fuzz::documented("Checkpoint", [&] { JSON::decode<Checkpoint>(bytes); });
    resumeFrom(bytes, fuzz::namedID(bytes, "attemptID", true, fuzz::fallbackID));
    resumeFrom(fuzz::sealedEnvelope(bytes), fuzz::namedID(bytes, "attemptID", false, fuzz::fallbackID));
    return 0;
}
