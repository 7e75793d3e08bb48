#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// SHA-256 as 64 lowercase hexadecimal digits: the one textual digest of stamps,
// envelopes, source identities and the executable's identity.
namespace Digest {

std::string data(const std::vector<uint8_t>& bytes);
std::string data(std::string_view bytes);
// Follows symbolic links: this serves source documents and the executable,
// never owned files (those are stamped through SecureDirectory). Open and read
// errors pass on as std::system_error, and so does anything that is not a
// regular file (refused at once, without waiting on a FIFO).
std::string file(const std::filesystem::path& path);

// Incremental hashing for callers that stream.
class Hasher {
public:
    Hasher();
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    void update(const void* data, std::size_t size);
    std::string finishHex();

private:
    void* ctx_;
};

std::string hex(const uint8_t* bytes, std::size_t size);

}  // namespace Digest
}  // namespace velmora
