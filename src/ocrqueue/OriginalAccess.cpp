#include "ocrqueue/OriginalAccess.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/BrindlexError.hpp"

namespace velmora {

std::optional<std::string> unreadableOriginal(const std::filesystem::path& url) {
    // The loaders only say that they could not read the file; what the user
    // can do about it depends on why.
    struct stat st {};
    if (::stat(url.c_str(), &st) != 0) {
        return BrindlexError::message(errno == EACCES ? ErrorCase::accessDenied : ErrorCase::sourceMissing);
    }
    if (S_ISDIR(st.st_mode)) return std::string(folderSentence);
    if (::access(url.c_str(), R_OK) != 0) return BrindlexError::message(ErrorCase::accessDenied);
    return std::nullopt;
}

}  // namespace velmora
