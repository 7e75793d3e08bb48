#include "foundation/Digest.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <openssl/evp.h>

#include "foundation/FileIO.hpp"

namespace velmora::Digest {

namespace {
constexpr std::size_t chunkSize = 1048576;
}

Hasher::Hasher() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
        throw std::runtime_error("SHA-256 is unavailable");
    }
}

Hasher::~Hasher() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Hasher::update(const void* data, std::size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::string Hasher::finishHex() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out, &len) != 1) {
        throw std::runtime_error("SHA-256 final failed");
    }
    return hex(out, len);
}

std::string hex(const uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0x0F];
    }
    return s;
}

std::string data(const std::vector<uint8_t>& bytes) {
    Hasher h;
    h.update(bytes.data(), bytes.size());
    return h.finishHex();
}

std::string data(std::string_view bytes) {
    Hasher h;
    h.update(bytes.data(), bytes.size());
    return h.finishHex();
}

std::string file(const std::filesystem::path& path) {
    // Opened without blocking: the document the user picked may be a FIFO or
    // a device, which would otherwise hang the queue run or be read forever.
    FileIO::OpenedFile opened = FileIO::openRegular(AT_FDCWD, path.c_str(), true);
    if (opened.notRegular) {
        const int err = S_ISDIR(opened.status.st_mode) ? EISDIR : EINVAL;
        throw std::system_error(err, std::generic_category(), "not a regular file: " + path.string());
    }
    if (!opened) throw std::system_error(opened.error, std::generic_category(), "open " + path.string());
    Hasher h;
    std::vector<uint8_t> buf(chunkSize);
    for (;;) {
        ssize_t n = ::read(opened.fd.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read " + path.string());
        }
        if (n == 0) break;
        h.update(buf.data(), static_cast<std::size_t>(n));
    }
    // The descriptor closes with `opened`; an error from closing a read-only
    // descriptor cannot lose data.
    return h.finishHex();
}

}  // namespace velmora::Digest
