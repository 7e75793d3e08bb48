// A download stage's "owner.json" as the launch sweep reads it: the decoder,
// and the sweep of a destination holding one stage with that record and a
// payload. The record is read once as given and, when it names the stage's
// folder by device and inode, once with the folder's own values, so that the
// sweep is reached past its first check.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/DownloadStage.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

// The id a folder is named by when the input names none (the fixtures that
// carry it reach into the OCR layers, which this layer may not use).
constexpr const char* fallbackID = "6F0D3C8E-2B7A-4C51-9E8D-1A2B3C4D5E6F";

void sweep(const std::vector<uint8_t>& record, const std::filesystem::path& destination, const std::string& id) {
    const auto stage = destination / DownloadStage::rootName / id;
    std::filesystem::create_directories(stage);
    fuzz::writeFile(stage / DownloadStage::ownerName, record);
    const std::vector<uint8_t> payload{'d', 'a', 't', 'a'};
    fuzz::writeFile(stage / DownloadStage::payloadName, payload);
    // The lease every stage is made with, free: its process has ended.
    fuzz::writeFile(stage / DownloadStage::leaseName, std::vector<uint8_t>{});
    const auto before = fuzz::picture(destination);
    const std::size_t descriptors = fuzz::openDescriptors();
    CleanupResult result;
    // The sweep throws only when the root cannot be opened or listed; one
    // stage it cannot vouch for is counted as blocked.
    fuzz::documented("DownloadStage::cleanup", [&] { result = DownloadStage::cleanup(destination); }, false);
    if (fuzz::openDescriptors() != descriptors) fuzz::fail("DownloadStage::cleanup: a descriptor stayed open");
    fuzz::requireLeaseFree(stage, DownloadStage::leaseName);
    if (result.examined != 1 || result.blocked + result.protectedCount + result.removed != 1) {
        fuzz::fail("DownloadStage::cleanup: the one stage counted wrongly");
    }
    if (result.blocked == 1 || result.protectedCount == 1) {
        // A stage it does not sweep is left exactly as it was.
        fuzz::requireUnchanged(before, destination, "DownloadStage::cleanup");
        return;
    }
    // Swept: nothing of ours is left, not even the hidden root it was alone in.
    if (std::filesystem::exists(destination / DownloadStage::rootName)) fuzz::fail("DownloadStage: a swept stage kept");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);

    DownloadStage::Owner owner;
    if (fuzz::documented("DownloadStage::Owner", [&] { owner = JSON::decode<DownloadStage::Owner>(bytes); }) ==
        fuzz::Outcome::read) {
        DownloadStage::Owner back;
        if (fuzz::documented("DownloadStage::Owner", [&] { back = JSON::decode<DownloadStage::Owner>(JSON::encode(owner)); }) !=
                fuzz::Outcome::read ||
            !(back == owner)) {
            fuzz::fail("DownloadStage: a record read does not read back from its own encoding");
        }
    }

    const std::string id = fuzz::namedID(bytes, "id", false, fallbackID);
    const auto destination = fuzz::freshFolder("downloads");
    sweep(bytes, destination, id);

    // The same record naming the stage folder it is in.
    Json j;
    try {
        j = JSON::parse(bytes);
    } catch (...) {
        return 0;
    }
    if (!j.is_object() || !j.contains("device") || !j.contains("inode")) return 0;
    const auto again = fuzz::freshFolder("downloads");
    const auto stage = again / DownloadStage::rootName / id;
    std::filesystem::create_directories(stage);
    struct stat st {};
    if (::stat(stage.c_str(), &st) != 0) fuzz::fail("cannot stat the stage folder");
    j["device"] = static_cast<uint64_t>(st.st_dev);
    j["inode"] = static_cast<uint64_t>(st.st_ino);
    sweep(JSON::bytes(j), again, id);
    return 0;
}
