#include "ocrjobs/QueueEditJournal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"

namespace velmora {

namespace {

std::string recordDigest(const uint8_t* length, const uint8_t* payload, std::size_t size) {
    Digest::Hasher hasher;
    hasher.update(length, 4);
    hasher.update(payload, size);
    return hasher.finishHex();
}

uint32_t littleEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The whole file behind the descriptor, which is known to be regular and at
// most maximumBytes long when asked; read from its start whatever its offset.
std::vector<uint8_t> readFrom(int fd, uint64_t size) {
    std::vector<uint8_t> out(static_cast<std::size_t>(size));
    std::size_t filled = 0;
    while (filled < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + filled, out.size() - filled, static_cast<off_t>(filled));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read journal");
        }
        // Shorter than its size a moment ago: what is there is what is read.
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    out.resize(filled);
    return out;
}

const PageRecord* pageRecord(const QueueInput& input, int64_t page) {
    for (const auto& r : input.pages) {
        if (r.page == page) return &r;
    }
    return nullptr;
}

}  // namespace

void to_json(Json& j, const QueueJournalRecord& r) {
    j = Json::object();
    j["sequence"] = r.sequence;
    j["queueID"] = r.queueID;
    j["inputID"] = r.inputID;
    j["page"] = r.page;
    JSON::putOptional(j, "text", r.text);
    JSON::putOptional(j, "key", r.key);
    JSON::putOptional(j, "editor", r.editor);
    JSON::putOptional(j, "presentation", r.presentation);
    j["selection"] = r.selection;
}

void from_json(const Json& j, QueueJournalRecord& r) {
    JSON::requireObject(j, "journal record");
    const int64_t sequence = JSON::requireInt(j, "sequence");
    if (sequence < 1) throw JSON::DecodeError("journal record: sequence below 1");
    r.sequence = static_cast<uint64_t>(sequence);
    r.queueID = JSON::require<UUID>(j, "queueID");
    r.inputID = JSON::require<UUID>(j, "inputID");
    r.page = JSON::requireInt(j, "page");
    r.text = JSON::optional<std::string>(j, "text");
    r.key = JSON::optional<std::string>(j, "key");
    r.editor = JSON::optional<QueueEditorState>(j, "editor");
    r.presentation = JSON::optional<QueuePresentation>(j, "presentation");
    r.selection = JSON::requireBool(j, "selection");
    // Highlights come with the key they are kept under, or not at all.
    if (r.key.has_value() != r.editor.has_value()) throw JSON::DecodeError("journal record: key without state");
}

std::vector<uint8_t> QueueEditJournal::encode(const QueueJournalRecord& record) {
    const std::vector<uint8_t> payload = JSON::encode(record);
    const auto size = static_cast<uint32_t>(payload.size());
    const uint8_t length[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                               static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    const std::string digest = recordDigest(length, payload.data(), payload.size());
    std::vector<uint8_t> out(headerBytes + payload.size());
    std::memcpy(out.data(), magic.data(), magic.size());
    std::memcpy(out.data() + 4, length, 4);
    std::memcpy(out.data() + 8, digest.data(), 64);
    if (!payload.empty()) std::memcpy(out.data() + headerBytes, payload.data(), payload.size());
    return out;
}

QueueEditJournal::Contents QueueEditJournal::parse(const std::vector<uint8_t>& bytes) {
    Contents out;
    std::size_t at = 0;
    while (bytes.size() - at >= headerBytes) {
        const uint8_t* head = bytes.data() + at;
        if (std::memcmp(head, magic.data(), magic.size()) != 0) break;
        const uint32_t size = littleEndian(head + 4);
        if (size > maximumRecordBytes || bytes.size() - at - headerBytes < size) break;
        const uint8_t* payload = head + headerBytes;
        const std::string digest = recordDigest(head + 4, payload, size);
        if (std::memcmp(digest.data(), head + 8, 64) != 0) break;
        try {
            out.records.push_back(JSON::decode<QueueJournalRecord>(std::vector<uint8_t>(payload, payload + size)));
        } catch (const std::exception&) {
            // A record with its digest but not understood was not written
            // by this system; like a torn one, it and what follows are set
            // aside, and the reader reports them.
            break;
        }
        out.lastSequence = std::max(out.lastSequence, out.records.back().sequence);
        at += headerBytes + size;
    }
    out.intactBytes = at;
    out.setAsideBytes = bytes.size() - at;
    return out;
}

QueueEditJournal::Contents QueueEditJournal::read(const SecureDirectory& folder) {
    const std::string name(fileName);
    FileIO::OpenedFile file = FileIO::openRegular(folder.descriptor(), name.c_str());
    if (file.notRegular) raise(ErrorCase::unsafePath);
    if (!file) {
        if (file.error == ENOENT) return {};
        raise(ErrorCase::damagedCheckpoint);
    }
    if (file.status.st_size < 0 || static_cast<uint64_t>(file.status.st_size) > maximumBytes) {
        raise(ErrorCase::damagedCheckpoint);
    }
    // Read no further than the size checked: a file growing meanwhile
    // cannot make the read unbounded, and its new end is a later reader's.
    return parse(readFrom(file.fd.get(), static_cast<uint64_t>(file.status.st_size)));
}

std::size_t QueueEditJournal::replay(QueueSnapshot& snapshot, const Contents& contents) {
    const uint64_t folded = snapshot.journalSequence.value_or(0);
    std::vector<const QueueJournalRecord*> pending;
    for (const auto& r : contents.records) {
        if (r.sequence > folded) pending.push_back(&r);
    }
    std::stable_sort(pending.begin(), pending.end(),
                     [](const QueueJournalRecord* a, const QueueJournalRecord* b) { return a->sequence < b->sequence; });
    std::size_t applied = 0;
    for (const QueueJournalRecord* r : pending) {
        if (r->queueID != snapshot.id) continue;
        QueueInput* input = snapshot.input(r->inputID);
        if (!input) continue;
        const PageRecord* page = pageRecord(*input, r->page);
        const bool completed = page && page->state == PageState::completed;
        // The store checked these when it was made; a queue folder put
        // together from other files may no longer agree, and then the
        // record is the one left out.
        if ((r->text || r->key) && !completed) continue;
        if (r->editor && (!page->checksum || *page->checksum != r->editor->resultChecksum ||
                          r->editor->inputID != r->inputID || r->editor->page != r->page)) {
            continue;
        }
        if (r->text) input->editedPages[r->page] = *r->text;
        if (r->key && r->editor) {
            if (!snapshot.editorStates) snapshot.editorStates.emplace();
            (*snapshot.editorStates)[*r->key] = *r->editor;
            if (r->presentation) {
                if (!snapshot.viewStates) snapshot.viewStates.emplace();
                (*snapshot.viewStates)[r->inputID.text()] = *r->presentation;
            }
        }
        if (r->selection) {
            snapshot.selectedInput = r->inputID;
            snapshot.selectedPage = r->page;
        }
        ++applied;
    }
    if (contents.lastSequence > folded) snapshot.journalSequence = contents.lastSequence;
    return applied;
}

bool QueueEditJournal::open(bool create) {
    if (fd_) return true;
    const std::string name(fileName);
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    bool made = false;
    UniqueFD fd(::openat(folder_.descriptor(), name.c_str(), flags));
    if (!fd && errno == ENOENT && create) {
        fd = UniqueFD(::openat(folder_.descriptor(), name.c_str(), flags | O_CREAT | O_EXCL, 0600));
        made = static_cast<bool>(fd);
    }
    if (!fd) {
        if (errno == ENOENT && !create) return false;
        if (errno == ELOOP) raise(ErrorCase::damagedCheckpoint);
        // A FIFO without a reader refuses a non-blocking open for writing.
        if (errno == ENXIO) raise(ErrorCase::unsafePath);
        raise(ErrorCase::saveFailed);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) raise(ErrorCase::saveFailed);
    if (!S_ISREG(st.st_mode)) raise(ErrorCase::unsafePath);
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) raise(ErrorCase::saveFailed);
    // A new journal's name must survive a crash as its records do.
    if (made && ::fsync(folder_.descriptor()) != 0) {
        ::unlinkat(folder_.descriptor(), name.c_str(), 0);
        raise(ErrorCase::saveFailed);
    }
    fd_ = std::move(fd);
    end_ = 0;
    resynchronise();
    return true;
}

void QueueEditJournal::resynchronise() {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) raise(ErrorCase::saveFailed);
    if (st.st_size >= 0 && static_cast<uint64_t>(st.st_size) == end_) return;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maximumBytes) raise(ErrorCase::damagedCheckpoint);
    const Contents found = parse(readFrom(fd_.get(), static_cast<uint64_t>(st.st_size)));
    if (found.setAsideBytes > 0) {
        // A record torn by a crash would hide every record appended after
        // it: it goes before anything is appended.
        if (::ftruncate(fd_.get(), static_cast<off_t>(found.intactBytes)) != 0 || ::fdatasync(fd_.get()) != 0) {
            raise(ErrorCase::saveFailed);
        }
    }
    end_ = found.intactBytes;
    lastSequence_ = std::max(lastSequence_, found.lastSequence);
}

void QueueEditJournal::append(const QueueJournalRecord& record) {
    const std::vector<uint8_t> bytes = encode(record);
    if (bytes.size() - headerBytes > maximumRecordBytes) raise(ErrorCase::budgetExceeded);
    open(true);
    resynchronise();
    if (end_ + bytes.size() > maximumBytes) raise(ErrorCase::budgetExceeded);
    const auto undo = [&] {
        // Whatever part of the record reached the file goes again, so the
        // next record follows the last whole one. When even that fails, the
        // next append finds the end moved and cuts it back itself, so the
        // failure of the cut is left to it.
        (void)::ftruncate(fd_.get(), static_cast<off_t>(end_));
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd_.get(), bytes.data() + written, bytes.size() - written, static_cast<off_t>(end_ + written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            undo();
            raise(ErrorCase::saveFailed);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fdatasync(fd_.get()) != 0) {
        undo();
        raise(ErrorCase::saveFailed);
    }
    end_ += bytes.size();
    lastSequence_ = std::max(lastSequence_, record.sequence);
}

bool QueueEditJournal::holdsRecords() {
    if (!open(false)) return false;
    resynchronise();
    return end_ > 0;
}

bool QueueEditJournal::foldedUpTo(uint64_t sequence) {
    if (!open(false)) return true;
    resynchronise();
    if (lastSequence_ > sequence) return false;
    if (end_ == 0) return true;
    if (::ftruncate(fd_.get(), 0) != 0 || ::fdatasync(fd_.get()) != 0) raise(ErrorCase::saveFailed);
    end_ = 0;
    return true;
}

}  // namespace velmora
