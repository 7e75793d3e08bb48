// "owner.json" of a work folder as the launch clean-up reads it: a refused
// or foreign record keeps the folder exactly as it is.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/OwnedRecord.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

// The work folder's name must be the record's attempt for the record to be
// believed; take it from the input when it names one.
std::string folderName(const std::vector<uint8_t>& bytes) {
    try {
        const Json j = JSON::parse(bytes);
        if (j.is_object() && j.contains("attemptID") && j["attemptID"].is_string()) {
            if (auto id = UUID::parse(j["attemptID"].get<std::string>())) return id->text();
        }
    } catch (const std::exception&) {
    }
    return "6F0D3C8E-2B7A-4C51-9E8D-1A2B3C4D5E6F";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    OwnedRecord record;
    const auto decoded = fuzz::documented("OwnedRecord", [&] { record = JSON::decode<OwnedRecord>(bytes); });

    const auto root = fuzz::freshFolder("work");
    const auto folder = root / folderName(bytes);
    std::filesystem::create_directory(folder);
    fuzz::writeFile(folder / "owner.json", bytes);
    fuzz::writeFile(folder / "lease", nullptr, 0);
    fuzz::writeFile(folder / "kept.png", reinterpret_cast<const uint8_t*>("png"), 3);
    const auto before = fuzz::picture(root);
    const std::size_t descriptors = fuzz::openDescriptors();
    CleanupResult result;
    fuzz::documented("OwnedWorkspace::cleanup", [&] { result = OwnedWorkspace::cleanup(root); });
    // Only a record of this application for this very folder may lead to a
    // change; a file it does not list is never touched.
    if (decoded != fuzz::Outcome::read) fuzz::requireUnchanged(before, root, "OwnedWorkspace::cleanup");
    if (!std::filesystem::exists(folder / "kept.png")) {
        fuzz::fail("OwnedWorkspace::cleanup deleted a file its record does not vouch for");
    }
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("OwnedWorkspace::cleanup: a descriptor stayed open");
    fuzz::requireLeaseFree(folder, "lease");
    return 0;
}
