#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "foundation/JSON.hpp"

namespace velmora {

// What a source document was when it was read. A job is resumed, and a
// queued input run, only while the file still has the same content; the path
// is kept so that a moved file can be followed.
struct SourceIdentity {
    std::string path;
    uint64_t byteCount = 0;
    int64_t pageCount = 0;  // a PDF may have 0; an image file is 1
    std::string sha256;

    SourceIdentity() = default;
    SourceIdentity(std::string path, uint64_t byteCount, int64_t pageCount, std::string sha256)
        : path(std::move(path)), byteCount(byteCount), pageCount(pageCount), sha256(std::move(sha256)) {}

    // Reads the file again on every call. The type is decided by the
    // extension alone: "pdf" in any case is a PDF (invalidInput when it cannot
    // be opened, lockedPDF when the password is missing or wrong; a password
    // for an unlocked document is ignored); anything else is loaded as an
    // image, with the image loader's error passed on. A file that cannot be
    // opened or read for its size and digest is a std::system_error; a file
    // that changed while it was being read is sourceChanged.
    static SourceIdentity read(const std::filesystem::path& url,
                               const std::optional<std::string>& password = std::nullopt);

    // The same bytes, wherever the file now lies and whatever it is called.
    bool sameContent(const SourceIdentity& other) const {
        return byteCount == other.byteCount && pageCount == other.pageCount && sha256 == other.sha256;
    }

    bool operator==(const SourceIdentity&) const = default;
};

void to_json(Json& j, const SourceIdentity& s);
void from_json(const Json& j, SourceIdentity& s);

}  // namespace velmora
