#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "foundation/BrindlexError.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

namespace {

constexpr int maxCandidates = 10000;

std::string suffix(int n, bool productNaming) {
    if (n == 0) return "";
    if (productNaming) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "_%03d", n);
        return buf;
    }
    return "-" + std::to_string(n);
}

// The folder must still be the one we opened: moved or replaced since, the
// user would find the output somewhere they did not choose.
void checkSameFolder(const SecureDirectory& held) {
    std::optional<SecureDirectory> fresh;
    try {
        fresh.emplace(held.url(), false);
    } catch (const BrindlexError&) {
        raise(ErrorCase::unsafePath);
    }
    struct stat a {}, b {};
    if (::fstat(held.descriptor(), &a) != 0 || ::fstat(fresh->descriptor(), &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino) {
        raise(ErrorCase::confirmationChanged);
    }
}

}  // namespace

std::filesystem::path SecureDirectory::exportData(const std::vector<uint8_t>& data, std::string_view stem,
                                                  std::string_view ext, std::optional<std::size_t> failAfterBytes,
                                                  const WillPublish& willPublish, bool productNaming) const {
    if (!validLeaf(ext) || ext.find('.') != std::string_view::npos) raise(ErrorCase::unsafePath);
    OwnedWorkspace work(Phase0Work::exports(), OwnedRecord::Purpose::exportStage, UUID::random(), UUID::random(),
                        UUID::random());
    auto finishQuietly = [&] {
        try {
            work.finish();
        } catch (...) {
            // What finish cannot delete stays recorded in the work folder;
            // the next launch's clean-up deals with it.
        }
    };
    try {
        const std::string staged = work.write(data, ext, failAfterBytes).filename().string();
        work.preparePublication(staged);
        const std::string base = safeStem(stem);
        for (int n = 0;; ++n) {
            if (n >= maxCandidates) raise(ErrorCase::fileExists);
            const std::string candidate = base + suffix(n, productNaming) + "." + std::string(ext);
            if (!validLeaf(candidate)) raise(ErrorCase::unsafePath);
            if (productNaming) checkSameFolder(*this);
            if (willPublish) willPublish(url() / candidate, work.directory().stamp(staged));
            if (::linkat(work.directory().descriptor(), staged.c_str(), descriptor(), candidate.c_str(), 0) == 0) {
                if (::fsync(descriptor()) != 0) raise(ErrorCase::saveFailed);
                work.directory().removeOwnedFile(staged);
                work.forgetPublished(staged);
                finishQuietly();
                return url() / candidate;
            }
            if (errno != EEXIST) raise(ErrorCase::saveFailed);
        }
    } catch (...) {
        finishQuietly();
        throw;
    }
}

}  // namespace velmora
