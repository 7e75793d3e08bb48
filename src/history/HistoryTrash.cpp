#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "foundation/ProductBrand.hpp"
#include "history/CaptureHistory.hpp"
#include "history/DesktopTrash.hpp"

namespace velmora {

namespace {

constexpr const char* holdingPrefix = ".trash-confirmed-";
constexpr const char* heldName = "confirmed-output";

bool pathExists(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

struct Failure {
    SavedOutput::State state = SavedOutput::State::failed;
    std::optional<int64_t> code;
};

// What a failure means for the output, and its code as the platform reports
// errors: a case's position for our own error, the errno for a system one.
Failure classify(const std::exception_ptr& error) {
    Failure f;
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        f.code = static_cast<int64_t>(e.errorCase());
        if (e.errorCase() == ErrorCase::confirmationChanged) f.state = SavedOutput::State::changed;
        else if (e.errorCase() == ErrorCase::sourceMissing) f.state = SavedOutput::State::missing;
    } catch (const std::system_error& e) {
        f.code = e.code().value();
    } catch (...) {
        // Any other failure is a failure without a code of its own.
    }
    return f;
}

// The holding folder once its file has gone on to the Trash or back home:
// it would only stand empty, hidden, in the user's folder. It is removed
// only while empty, so a held file is never lost with it.
void dropHoldingFolder(const std::filesystem::path& holding) {
    try {
        SecureDirectory(holding.parent_path(), AppRuntime::isIsolated).removeEmptyFolder(holding.filename().string());
    } catch (...) {
        // An empty folder left behind costs nothing, and a folder that
        // still holds the file must stay: its record points into it.
    }
}

}  // namespace

DeleteProposal CaptureHistory::proposal(UUID entryID) {
    std::optional<DeleteProposal> result;
    locked([&] {
        const auto entries = load();
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const CaptureHistoryEntry& e) { return e.id == entryID; });
        if (it == entries.end()) raise(ErrorCase::invalidInput);
        for (const auto& output : it->outputs) {
            if (output.state != SavedOutput::State::available) continue;
            const FileStamp current = stampInside(output.path, ErrorCase::confirmationChanged);
            if (current != output.stamp) raise(ErrorCase::confirmationChanged);
            // An OCR text written over its own source is the source: never
            // offered for the Trash.
            for (const auto& source : it->sourceStamps) {
                if (source.device == current.device && source.inode == current.inode) {
                    raise(ErrorCase::confirmationChanged);
                }
            }
        }
        result.emplace(*it);
    });
    return std::move(*result);
}

std::vector<TrashReceipt> CaptureHistory::execute(const DeleteProposal& proposal, const TrashFunction& trash) {
    std::vector<TrashReceipt> receipts;
    locked([&] {
        if (consumed_.count(proposal.id)) raise(ErrorCase::confirmationChanged);
        // Used up from here on, whatever follows: a confirmation is given once.
        consumed_.insert(proposal.id);
        auto entries = load();
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const CaptureHistoryEntry& e) { return e.id == proposal.entry.id; });
        if (it == entries.end()) raise(ErrorCase::confirmationChanged);
        if (encodedEntry(*it) != encodedEntry(proposal.entry)) raise(ErrorCase::confirmationChanged);
        const std::size_t entryIndex = static_cast<std::size_t>(it - entries.begin());
        for (std::size_t i = 0; i < entries[entryIndex].outputs.size(); ++i) {
            if (entries[entryIndex].outputs[i].state != SavedOutput::State::available) continue;
            receipts.push_back(trashOne(entries, entryIndex, i, trash));
        }
    });
    return receipts;
}

TrashReceipt CaptureHistory::trashOne(std::vector<CaptureHistoryEntry>& entries, std::size_t entryIndex,
                                      std::size_t outputIndex, const TrashFunction& trash) const {
    SavedOutput& output = entries[entryIndex].outputs[outputIndex];
    const std::filesystem::path home = output.path;
    const std::string leaf = home.filename().string();
    std::optional<SecureDirectory> parent;
    std::optional<SecureDirectory> holding;
    std::filesystem::path holdingURL;
    bool held = false;
    std::optional<std::filesystem::path> destination;
    std::exception_ptr error;
    try {
        if (stampInside(home, ErrorCase::confirmationChanged) != output.stamp) raise(ErrorCase::confirmationChanged);
        parent.emplace(home.parent_path(), AppRuntime::isIsolated);
        holdingURL = home.parent_path() / (holdingPrefix + UUID::random().text());
        holding.emplace(holdingURL, true);
        // On disk before anything moves: a crash from here on leaves a record
        // that says where the file is.
        output.pendingPath = (holdingURL / heldName).string();
        output.state = SavedOutput::State::pending;
        save(entries);
        parent->exclusiveMove(leaf, *holding, heldName);
        held = true;
        if (SecureDirectory(holdingURL, AppRuntime::isIsolated).stamp(heldName) != output.stamp) {
            raise(ErrorCase::confirmationChanged);
        }
        destination = trash ? trash(holdingURL / heldName, home) : DesktopTrash::move(holdingURL / heldName, home);
    } catch (...) {
        error = std::current_exception();
        if (held) {
            try {
                holding->exclusiveMove(heldName, *parent, leaf);
            } catch (...) {
                // The file stays held and recorded as pending; restorePending
                // moves it back later. The error that stopped the run is the
                // one to report.
            }
        }
    }

    TrashReceipt receipt;
    receipt.outputID = output.id;
    if (error) {
        const Failure f = classify(error);
        if (output.pendingPath && pathExists(*output.pendingPath)) {
            output.state = SavedOutput::State::pending;
        } else {
            output.state = f.state;
            output.pendingPath.reset();
        }
        receipt.state = output.state;
        receipt.errorCode = f.code;
    } else {
        output.state = SavedOutput::State::trashed;
        output.pendingPath.reset();
        receipt.state = output.state;
        if (destination) {
            receipt.destination = destination->string();
            try {
                const FileStamp there = SecureDirectory(destination->parent_path(), AppRuntime::isIsolated)
                                            .stamp(destination->filename().string());
                receipt.destinationContentVerified = there.sha256 == output.stamp.sha256 && there.size == output.stamp.size;
            } catch (...) {
                // Not verified is what the receipt then says.
            }
        }
    }
    save(entries);
    // Recorded as out of it: a held file stays (pending) and keeps it.
    if (holding && output.state != SavedOutput::State::pending) dropHoldingFolder(holdingURL);
    return receipt;
}

bool CaptureHistory::settlePending(SavedOutput& output, int64_t& restored) const {
    const std::filesystem::path held = *output.pendingPath;
    const std::filesystem::path home = output.path;
    if (!contains(outputRoots_, held) || !contains(outputRoots_, home)) return false;
    if (held.filename() != heldName || !held.parent_path().filename().string().starts_with(holdingPrefix)) return false;

    if (!pathExists(held)) {
        // The record lags behind the file: a run stopped before the file was
        // held, or the file went on to the Trash, or was moved back, and the
        // history could not be saved afterwards.
        if (!pathExists(home)) {
            output.state = SavedOutput::State::missing;
        } else {
            FileStamp atHome;
            try {
                atHome = SecureDirectory(home.parent_path(), AppRuntime::isIsolated).stamp(home.filename().string());
            } catch (...) {
                return false;  // cannot tell; the record stays for another try
            }
            output.state = atHome == output.stamp ? SavedOutput::State::available : SavedOutput::State::changed;
        }
        output.pendingPath.reset();
        dropHoldingFolder(held.parent_path());
        return true;
    }

    FileStamp current;
    try {
        current = FileStamp::read(held);
    } catch (...) {
        return false;  // not a file we can vouch for: left where it is
    }
    if (current != output.stamp) return false;
    SecureDirectory holding(held.parent_path(), AppRuntime::isIsolated);
    SecureDirectory homeDir(home.parent_path(), AppRuntime::isIsolated);
    try {
        holding.exclusiveMove(heldName, homeDir, home.filename().string());
    } catch (...) {
        // A failed flush after the rename still moved the file.
        if (pathExists(held)) return false;
    }
    output.state = SavedOutput::State::available;
    output.pendingPath.reset();
    ++restored;
    dropHoldingFolder(held.parent_path());
    return true;
}

int64_t CaptureHistory::restorePending() {
    int64_t restored = 0;
    locked([&] {
        auto entries = load();
        for (auto& entry : entries) {
            for (auto& output : entry.outputs) {
                if (output.state != SavedOutput::State::pending || !output.pendingPath) continue;
                // Saved after every file, so what moved is recorded even when
                // a later one stops the run; a failed save is reported.
                if (settlePending(output, restored)) save(entries);
            }
        }
    });
    return restored;
}

}  // namespace velmora
