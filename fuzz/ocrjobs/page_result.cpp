// A job folder's "page-N.json" as resuming a job checks it and as the result
// is then read: the page result's decoder, and the file under a checkpoint
// that names it with the digest of its exact bytes (so the read gets past
// the digest to the decoder). What is read must encode back to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Digest.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/JobStore.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

const OCRSettings& settings() {
    static const OCRSettings s;
    return s;
}

// A checkpoint the job store wrote with page 1 completed.
const Checkpoint& committed() {
    static const Checkpoint c = [] {
        auto store = JobStore::create(fuzz::fixtureSource(), settings(), fuzz::freshFolder("page-template"));
        store->begin(1);
        store->commit(PageResult(1, {TextRegion("頁", 0.9f, 0.1, 0.1, 0.5, 0.1)}, 0.5, 100, 100));
        return store->checkpoint();
    }();
    return c;
}

void requireRoundTrip(const PageResult& r, std::string_view reader) {
    PageResult back;
    if (fuzz::documented(reader, [&] { back = JSON::decode<PageResult>(JSON::encode(r)); }) != fuzz::Outcome::read ||
        !(back == r)) {
        fuzz::fail(std::string(reader) + ": a result read does not read back from its own encoding");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    PageResult decoded;
    const auto outcome = fuzz::documented("PageResult", [&] { decoded = JSON::decode<PageResult>(bytes); });
    if (outcome == fuzz::Outcome::read) requireRoundTrip(decoded, "PageResult");

    Checkpoint checkpoint = committed();
    const auto parent = fuzz::freshFolder("jobs");
    const auto folder = parent / checkpoint.attemptID.text();
    std::filesystem::create_directory(folder);
    fuzz::writeFile(folder / CheckpointFile::pageFileName(1), bytes);
    checkpoint.pages[0].checksum = Digest::data(bytes);
    CheckpointFile::write(SecureDirectory(folder, false), checkpoint);
    const auto before = fuzz::picture(parent);
    const std::size_t descriptors = fuzz::openDescriptors();

    const auto resumed = fuzz::documented("JobStore::resume", [&] {
        auto store = JobStore::resume(folder, fuzz::fixtureSource(), settings(), true);
        const auto result = store->result(1);
        if (!result || result->page != 1) fuzz::fail("JobStore: a completed page without its result");
        if (outcome != fuzz::Outcome::read || !(*result == decoded)) {
            fuzz::fail("JobStore: the page read differs from the decoder's");
        }
        requireRoundTrip(*result, "JobStore::result");
    }, false);
    // A page file the decoder reads for page 1 resumes; anything else is a
    // damaged checkpoint.
    const bool pageOne = outcome == fuzz::Outcome::read && decoded.page == 1;
    if ((resumed == fuzz::Outcome::read) != pageOne) fuzz::fail("JobStore::resume: accepted the wrong page files");
    fuzz::requireUnchanged(before, parent, "JobStore::resume (validate only)");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("JobStore::resume: a descriptor stayed open");
    return 0;
}
