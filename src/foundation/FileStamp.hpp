#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "foundation/JSON.hpp"

namespace velmora {

// The identity of a file the system wrote. A published file is moved or
// deleted only while its current stamp still equals the recorded one.
// Device, inode and link count are 64-bit: Linux values do not fit narrower
// fields, and a truncated value could make different files compare equal.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    std::string sha256;
    uint64_t links = 0;

    // Opens the parent folder without creating anything and stamps the leaf.
    static FileStamp read(const std::filesystem::path& url);

    bool operator==(const FileStamp&) const = default;
};

void to_json(Json& j, const FileStamp& s);
void from_json(const Json& j, FileStamp& s);

}  // namespace velmora
