// "folders.json", the approved output folders, as every save reads it: a
// file that cannot be trusted hands out no folder and is left as it is.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "foundation/FolderBookmark.hpp"
#include "foundation/OutputAccess.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    OutputAccess::Envelope envelope;
    fuzz::documented("OutputAccess::Envelope", [&] { envelope = JSON::decode<OutputAccess::Envelope>(bytes); });

    const auto storage = fuzz::freshFolder("storage");
    const auto access = storage / OutputAccess::folderName;
    std::filesystem::create_directory(access);
    std::filesystem::create_directory(storage / "approved");
    fuzz::writeFile(access / OutputAccess::fileName, bytes);
    const auto before = fuzz::picture(storage);
    const std::size_t descriptors = fuzz::openDescriptors();

    const OutputAccess grants(AppRuntime{storage, storage / "approved"});
    std::vector<std::filesystem::path> roots;
    fuzz::documented("OutputAccess::authorizedRoots", [&] { roots = grants.authorizedRoots(); }, false);
    // Only folders the file names can come back, and only ones that exist.
    for (const auto& root : roots) {
        bool named = false;
        for (const auto& g : envelope.folders) named = named || std::filesystem::path(g.path) == root;
        if (!named) fuzz::fail("OutputAccess handed out a folder the file does not name");
    }
    for (const auto& g : envelope.folders) {
        // A bookmark this layer cannot decode passes on as its own error.
        fuzz::documented("OutputAccess::resolve", [&] {
            try {
                grants.resolve(g.id);
            } catch (const FolderBookmark::Error&) {
            }
        });
    }
    fuzz::requireUnchanged(before, storage, "OutputAccess");
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("OutputAccess: a descriptor stayed open");
    fuzz::requireLeaseFree(access, OutputAccess::leaseName);
    return 0;
}
