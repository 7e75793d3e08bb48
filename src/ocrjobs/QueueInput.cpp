#include "ocrjobs/QueueInput.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <system_error>

namespace velmora {

namespace {

template <typename E>
void decodeRaw(const Json& j, E& out, std::string_view what) {
    if (!j.is_string()) throw JSON::DecodeError(std::string(what) + ": expected a string");
    auto parsed = fromRaw<E>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError(std::string(what) + ": unknown value " + j.get<std::string>());
    out = *parsed;
}

template <typename E, std::size_t N>
std::optional<E> findRaw(const E (&all)[N], std::string_view raw) {
    for (E e : all) {
        if (rawValue(e) == raw) return e;
    }
    return std::nullopt;
}

constexpr QueueStatus allQueueStatuses[] = {QueueStatus::ready,     QueueStatus::running,   QueueStatus::paused,
                                            QueueStatus::cancelled, QueueStatus::completed, QueueStatus::waitingInput};
constexpr InputStatus allInputStatuses[] = {InputStatus::pending,         InputStatus::running,
                                            InputStatus::completed,       InputStatus::failed,
                                            InputStatus::waitingPassword, InputStatus::waitingInput,
                                            InputStatus::cancelled};

// Only the form this system writes: decimal digits, no sign, no leading zero.
// Accepting "03" beside "3" would give one page two texts.
std::optional<int64_t> pageKey(const std::string& key) {
    if (key.empty() || (key.size() > 1 && key[0] == '0')) return std::nullopt;
    int64_t value = 0;
    auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), value);
    if (ec != std::errc() || end != key.data() + key.size() || value < 0) return std::nullopt;
    return value;
}

int64_t addSaturating(int64_t a, int64_t b) {
    int64_t out = 0;
    if (__builtin_add_overflow(a, b, &out)) return std::numeric_limits<int64_t>::max();
    return out;
}

}  // namespace

std::string_view rawValue(QueueStatus s) {
    switch (s) {
    case QueueStatus::ready: return "ready";
    case QueueStatus::running: return "running";
    case QueueStatus::paused: return "paused";
    case QueueStatus::cancelled: return "cancelled";
    case QueueStatus::completed: return "completed";
    case QueueStatus::waitingInput: return "waitingInput";
    }
    return "";
}

std::string_view rawValue(InputStatus s) {
    switch (s) {
    case InputStatus::pending: return "pending";
    case InputStatus::running: return "running";
    case InputStatus::completed: return "completed";
    case InputStatus::failed: return "failed";
    case InputStatus::waitingPassword: return "waitingPassword";
    case InputStatus::waitingInput: return "waitingInput";
    case InputStatus::cancelled: return "cancelled";
    }
    return "";
}

template <>
std::optional<QueueStatus> fromRaw<QueueStatus>(std::string_view raw) {
    return findRaw(allQueueStatuses, raw);
}

template <>
std::optional<InputStatus> fromRaw<InputStatus>(std::string_view raw) {
    return findRaw(allInputStatuses, raw);
}

std::string_view displayName(InputStatus s) {
    switch (s) {
    case InputStatus::pending: return "未処理";
    case InputStatus::running: return "処理中";
    case InputStatus::completed: return "処理終了";
    case InputStatus::failed: return "失敗";
    case InputStatus::waitingPassword: return "パスワード待ち";
    case InputStatus::waitingInput: return "原稿の選び直し待ち";
    case InputStatus::cancelled: return "取消";
    }
    return "";
}

void to_json(Json& j, QueueStatus s) { j = std::string(rawValue(s)); }
void from_json(const Json& j, QueueStatus& s) { decodeRaw(j, s, "queue status"); }
void to_json(Json& j, InputStatus s) { j = std::string(rawValue(s)); }
void from_json(const Json& j, InputStatus& s) { decodeRaw(j, s, "input status"); }

void to_json(Json& j, const QueuePresentation& p) {
    j = Json::object();
    j["includeHandwriting"] = p.includeHandwriting;
    j["instructionsOnly"] = p.instructionsOnly;
    j["preserveLines"] = p.preserveLines;
    j["pageSeparators"] = p.pageSeparators;
    j["automaticSave"] = p.automaticSave;
}

void from_json(const Json& j, QueuePresentation& p) {
    JSON::requireObject(j, "presentation");
    p.includeHandwriting = JSON::requireBool(j, "includeHandwriting");
    p.instructionsOnly = JSON::requireBool(j, "instructionsOnly");
    p.preserveLines = JSON::requireBool(j, "preserveLines");
    p.pageSeparators = JSON::requireBool(j, "pageSeparators");
    p.automaticSave = JSON::requireBool(j, "automaticSave");
}

std::filesystem::path QueueInput::fileURL(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) raise(ErrorCase::sourceMissing);
    std::filesystem::path url(path);
    if (!url.is_absolute()) raise(ErrorCase::sourceMissing);
    return url;
}

void to_json(Json& j, const QueueInput& input) {
    j = Json::object();
    j["id"] = input.id;
    j["path"] = input.path;
    j["origin"] = input.origin;
    JSON::putOptional(j, "expectedSHA256", input.expectedSHA256);
    JSON::putOptional(j, "source", input.source);
    j["jobID"] = input.jobID;
    JSON::putOptional(j, "attemptID", input.attemptID);
    j["status"] = input.status;
    JSON::putOptional(j, "error", input.error);
    j["pages"] = input.pages;
    Json edited = Json::object();
    for (const auto& [page, text] : input.editedPages) edited[std::to_string(page)] = text;
    j["editedPages"] = std::move(edited);
    JSON::putOptional(j, "settings", input.settings);
    JSON::putOptional(j, "presentation", input.presentation);
}

void from_json(const Json& j, QueueInput& input) {
    JSON::requireObject(j, "queue input");
    input.id = JSON::require<UUID>(j, "id");
    input.path = JSON::requireString(j, "path");
    input.origin = JSON::require<InputOrigin>(j, "origin");
    input.expectedSHA256 = JSON::optional<std::string>(j, "expectedSHA256");
    input.source = JSON::optional<SourceIdentity>(j, "source");
    input.jobID = JSON::require<UUID>(j, "jobID");
    input.attemptID = JSON::optional<UUID>(j, "attemptID");
    input.status = JSON::require<InputStatus>(j, "status");
    input.error = JSON::optional<ErrorCase>(j, "error");
    input.pages = JSON::require<std::vector<PageRecord>>(j, "pages");

    const Json& edited = JSON::member(j, "editedPages");
    JSON::requireObject(edited, "editedPages");
    input.editedPages.clear();
    for (auto it = edited.begin(); it != edited.end(); ++it) {
        auto page = pageKey(it.key());
        if (!page) throw JSON::DecodeError("editedPages: key is not a page number: " + it.key());
        if (!it.value().is_string()) throw JSON::DecodeError("editedPages: expected a string");
        input.editedPages[*page] = it.value().get<std::string>();
    }

    input.settings = JSON::optional<OCRSettings>(j, "settings");
    input.presentation = JSON::optional<QueuePresentation>(j, "presentation");
}

QueueCounts::QueueCounts(const std::vector<QueueInput>& inputs) {
    for (const auto& input : inputs) {
        if (input.pages.empty()) {
            if (input.source && input.source->pageCount > 0) pending = addSaturating(pending, input.source->pageCount);
            continue;
        }
        for (const auto& r : input.pages) {
            switch (r.state) {
            case PageState::pending: pending = addSaturating(pending, 1); break;
            case PageState::inProgress: running = addSaturating(running, 1); break;
            case PageState::completed: success = addSaturating(success, 1); break;
            case PageState::failed: failed = addSaturating(failed, 1); break;
            case PageState::cancelled: skipped = addSaturating(skipped, 1); break;
            }
        }
    }
}

int64_t QueueCounts::total() const {
    return addSaturating(addSaturating(addSaturating(addSaturating(pending, running), success), failed), skipped);
}

InputRevision InputRevision::read(const std::filesystem::path& url) {
    // c_str() would end a path at an embedded NUL and stat a shorter one.
    if (url.native().find('\0') != std::string::npos) {
        throw std::system_error(ENOENT, std::generic_category(), "stat " + url.string());
    }
    struct stat st {};
    if (::stat(url.c_str(), &st) != 0) {
        throw std::system_error(errno, std::generic_category(), "stat " + url.string());
    }
    InputRevision r;
    r.size = st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
    r.modified = Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(st.st_mtim.tv_sec) +
                                                                 std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    r.inode = static_cast<uint64_t>(st.st_ino);
    return r;
}

}  // namespace velmora
