// What the editor showed and how its pages were highlighted, kept across
// quits (each store one record of the edit journal), and the journal that
// publishes a TXT at most once per purpose.
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "foundation/Digest.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"

namespace velmora {

void OCRQueueEngine::saveSelection(const std::optional<UUID>& inputID, int64_t page) {
    mutate([&] {
        state_.selectedInput = inputID;
        state_.selectedPage = page;
    });
}

void OCRQueueEngine::saveEditor(const std::string& key, const UUID& inputID, int64_t page,
                                const OCRDecorationState& decoration,
                                const std::optional<QueuePresentation>& presentation) {
    mutate([&] {
        const QueueInput* input = state_.input(inputID);
        if (!input) raise(ErrorCase::invalidInput);
        const PageRecord* record = nullptr;
        for (const auto& r : input->pages) {
            if (r.page == page) {
                record = &r;
                break;
            }
        }
        if (!record || record->state != PageState::completed || !record->checksum) raise(ErrorCase::invalidInput);
        if (!state_.editorStates) state_.editorStates.emplace();
        (*state_.editorStates)[key] = QueueEditorState(inputID, page, *record->checksum, decoration);
        if (presentation) {
            if (!state_.viewStates) state_.viewStates.emplace();
            (*state_.viewStates)[inputID.text()] = *presentation;
        }
    });
}

void OCRQueueEngine::stageEditor(const EditorRecord& record) {
    std::lock_guard lock(stateLock_);
    const QueueInput* input = state_.input(record.inputID);
    if (!input) raise(ErrorCase::invalidInput);
    const PageRecord* page = nullptr;
    for (const auto& r : input->pages) {
        if (r.page == record.page) {
            page = &r;
            break;
        }
    }
    const bool completed = page && page->state == PageState::completed;
    if (record.text && !completed) raise(ErrorCase::invalidInput);
    if (record.key && (!completed || !page->checksum)) raise(ErrorCase::invalidInput);

    // What would change: a page left untouched stages nothing, and so costs
    // no write.
    const auto differs = [](const auto& map, const std::string& key, const auto& value) {
        if (!map) return true;
        const auto found = map->find(key);
        return found == map->end() || !(found->second == value);
    };
    std::optional<QueueEditorState> editor;
    bool changes = false;
    if (record.key) {
        editor.emplace(record.inputID, record.page, *page->checksum, record.decoration);
        changes = differs(state_.editorStates, *record.key, *editor);
        if (record.presentation) {
            changes = changes || differs(state_.viewStates, record.inputID.text(), *record.presentation);
        }
    }
    if (record.text) {
        const auto found = input->editedPages.find(record.page);
        changes = changes || found == input->editedPages.end() || found->second != *record.text;
    }
    if (record.selection) {
        changes = changes || state_.selectedInput != record.inputID || state_.selectedPage != record.page;
    }

    const bool written = directory_ && state_.persistent();
    if (changes && written) {
        // What can be known without writing is told now, while the step
        // that stores can still stop. A write under way holds the lock and
        // checks the same itself.
        std::unique_lock idle(writeLock_, std::try_to_lock);
        if (idle.owns_lock()) {
            const WriteHold hold = leaseUnlessRunning();
            verifyUnchanged();
        }
    }
    if (changes) {
        const std::optional<QueueSnapshot> before = written ? std::nullopt : std::optional<QueueSnapshot>(state_);
        QueueInput& target = *state_.input(record.inputID);
        if (editor) {
            if (!state_.editorStates) state_.editorStates.emplace();
            (*state_.editorStates)[*record.key] = std::move(*editor);
            if (record.presentation) {
                if (!state_.viewStates) state_.viewStates.emplace();
                (*state_.viewStates)[record.inputID.text()] = *record.presentation;
            }
        }
        if (record.text) target.editedPages[record.page] = *record.text;
        if (record.selection) {
            state_.selectedInput = record.inputID;
            state_.selectedPage = record.page;
        }
        if (!written) {
            // In memory the limit is the only check, and it is made now.
            try {
                persist();
            } catch (...) {
                state_ = *before;
                throw;
            }
            return;
        }
        QueueJournalRecord entry;
        entry.sequence = state_.journalSequence.value_or(0) + 1;
        entry.queueID = state_.id;
        entry.inputID = record.inputID;
        entry.page = record.page;
        entry.text = record.text;
        if (record.key) {
            entry.key = record.key;
            entry.editor = (*state_.editorStates)[*record.key];
            entry.presentation = record.presentation;
        }
        entry.selection = record.selection;
        // Every snapshot copied from here on holds this record, so the
        // write of any of them may empty the journal up to it.
        state_.journalSequence = entry.sequence;
        ++revision_;
        bool fold = false;
        try {
            std::lock_guard journalHold(journalLock_);
            journal().append(entry);
            journalAppended_ = true;
            fold = journal().size() > QueueEditJournal::foldBytes;
        } catch (...) {
            // Kept in memory and left to a whole write of the queue, which
            // the next store makes itself (see below).
            stagedRevision_ = revision_;
            flushFailed_ = true;
            throw;
        }
        // The journal has grown past its size: the next flush, on whatever
        // thread its owner gives it, folds it into the queue.
        if (fold) stagedRevision_ = revision_;
    }
    // The last write failed: this store writes, so that a failure that
    // lasts stops the step that stores instead of piling up changes.
    if (flushFailed_ && stagedRevision_ > writtenRevision_) flush();
}

void OCRQueueEngine::mirrorEditor(QueueSnapshot& copy, const UUID& inputID,
                                  const std::optional<std::string>& key) const {
    std::lock_guard lock(stateLock_);
    const QueueInput* from = state_.input(inputID);
    QueueInput* to = copy.input(inputID);
    if (!from || !to) return;
    to->editedPages = from->editedPages;
    if (key && state_.editorStates) {
        if (auto found = state_.editorStates->find(*key); found != state_.editorStates->end()) {
            if (!copy.editorStates) copy.editorStates.emplace();
            (*copy.editorStates)[*key] = found->second;
        }
    }
    if (state_.viewStates) {
        if (auto found = state_.viewStates->find(inputID.text()); found != state_.viewStates->end()) {
            if (!copy.viewStates) copy.viewStates.emplace();
            (*copy.viewStates)[inputID.text()] = found->second;
        }
    }
    copy.selectedInput = state_.selectedInput;
    copy.selectedPage = state_.selectedPage;
    copy.journalSequence = state_.journalSequence;
}

std::map<std::string, OCRDecorationState> OCRQueueEngine::restoreEditors() const {
    std::lock_guard lock(stateLock_);
    std::map<std::string, OCRDecorationState> out;
    if (!state_.editorStates) return out;
    for (const auto& [key, saved] : *state_.editorStates) {
        const QueueInput* input = state_.input(saved.inputID);
        if (!input) raise(ErrorCase::damagedCheckpoint);
        const PageRecord* record = nullptr;
        for (const auto& r : input->pages) {
            if (r.page == saved.page) {
                record = &r;
                break;
            }
        }
        // Highlights of a page recognised again would mark the wrong text.
        if (!record || !record->checksum || *record->checksum != saved.resultChecksum) {
            raise(ErrorCase::damagedCheckpoint);
        }
        out[key] = saved.decoration;
    }
    return out;
}

void OCRQueueEngine::markAutomaticExport(const std::string& key) {
    mutate([&] {
        if (!state_.automaticExports) state_.automaticExports.emplace();
        state_.automaticExports->push_back(key);
    });
}

std::filesystem::path OCRQueueEngine::exportOnce(const std::string& key, const std::vector<uint8_t>& data,
                                                 const std::filesystem::path& destination, const std::string& stem,
                                                 const std::function<void()>& afterPublish) {
    std::lock_guard lock(stateLock_);
    if (active_) raise(ErrorCase::navigationBusy);
    const WriteHold hold = leaseUnlessRunning();
    verifyPersisted();

    if (state_.exportJournal) {
        if (auto found = state_.exportJournal->find(key); found != state_.exportJournal->end()) {
            QueueExportRecord& record = found->second;
            const std::filesystem::path url(record.path);
            struct stat st {};
            const bool present = ::lstat(url.c_str(), &st) == 0;
            if (!present && errno != ENOENT) throw std::system_error(errno, std::generic_category(), "lstat");
            // The journal names the file before each link attempt, a clash
            // with someone else's file included: an unfinished record whose
            // name holds another file than the one staged was never linked
            // by us. That file is left alone and the data published anew.
            const bool stranger = present && !record.complete &&
                                  (static_cast<uint64_t>(st.st_dev) != record.stamp.device ||
                                   static_cast<uint64_t>(st.st_ino) != record.stamp.inode);
            if (present && !stranger) {
                const FileStamp current = FileStamp::read(url);
                if (current.device != record.stamp.device || current.inode != record.stamp.inode ||
                    current.size != record.stamp.size || current.sha256 != record.stamp.sha256 ||
                    current.sha256 != Digest::data(data)) {
                    raise(ErrorCase::confirmationChanged);
                }
                record.complete = true;
                persist();
                return url;
            }
            // Published and since removed by the user: not published twice.
            if (!present && record.complete) raise(ErrorCase::sourceMissing);
        }
    }

    const SecureDirectory folder(destination, true);
    const std::filesystem::path published = folder.exportData(
        data, stem, "txt", std::nullopt,
        [&](const std::filesystem::path& target, const FileStamp& stamp) {
            if (!state_.exportJournal) state_.exportJournal.emplace();
            (*state_.exportJournal)[key] = QueueExportRecord(target.string(), stamp, false);
            persist();
        },
        true);
    if (afterPublish) afterPublish();
    if (state_.exportJournal) {
        if (auto found = state_.exportJournal->find(key); found != state_.exportJournal->end()) {
            found->second.complete = true;
        }
    }
    persist();
    return published;
}

}  // namespace velmora
