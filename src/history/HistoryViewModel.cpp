#include "history/HistoryViewModel.hpp"

#include <glib.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "foundation/FolderText.hpp"
#include "foundation/Unicode.hpp"
#include "history/CaptureHistory.hpp"

namespace velmora {

namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(std::filesystem::path(path), ec);
}

}  // namespace

HistoryViewModel::HistoryViewModel(Confirmation& confirmation, DesktopActions& desktop, RecaptureHost* host,
                                   HistoryThumbnailCache& cache, bool active)
    : confirmation_(confirmation), desktop_(desktop), host_(host), cache_(cache), active_(active) {
    // Disconnected with the model: it is trackable.
    AppHistory::startupNotice().changed().connect(sigc::mem_fun(*this, &HistoryViewModel::onNotice));
}

HistoryViewModel::~HistoryViewModel() {
    // The waiting task refers to this model; it must not resume into it.
    trashTask_.discard();
}

// ---- State ----------------------------------------------------------------

void HistoryViewModel::setActive(bool active) {
    const bool turnedOn = active && !active_;
    active_ = active;
    if (turnedOn) reload();
}

void HistoryViewModel::select(std::optional<UUID> id) {
    if (id == selected_) return;
    selected_ = id;
    selectionChanged_.emit();
}

const CaptureHistoryEntry* HistoryViewModel::selectedEntry() const {
    if (!selected_) return nullptr;
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.id == *selected_; });
    return it == entries_.end() ? nullptr : &*it;
}

std::string HistoryViewModel::notice() const {
    const std::string& text = AppHistory::startupNotice().get();
    return text == AppHistory::initialNotice ? std::string() : text;
}

void HistoryViewModel::onNotice(const std::string&) { noticeChanged_.emit(); }

void HistoryViewModel::setStatus(std::string text) {
    status_ = std::move(text);
    statusChanged_.emit();
    setRefusal(std::nullopt);
}

void HistoryViewModel::setRefusal(std::optional<OpenRefusal> refusal) {
    const bool same = refusal.has_value() == openRefusal_.has_value() &&
                      (!refusal || (refusal->entry == openRefusal_->entry && refusal->file == openRefusal_->file &&
                                    refusal->text == openRefusal_->text));
    openRefusal_ = std::move(refusal);
    if (!same) refusalChanged_.emit();
}

std::optional<UUID> HistoryViewModel::owner(const std::filesystem::path& file) const {
    const auto holds = [&](const CaptureHistoryEntry& e) {
        return std::any_of(e.outputs.begin(), e.outputs.end(),
                           [&](const SavedOutput& o) { return std::filesystem::path(o.path) == file; });
    };
    if (const CaptureHistoryEntry* selected = selectedEntry(); selected && holds(*selected)) return selected->id;
    for (const auto& e : entries_) {
        if (holds(e)) return e.id;
    }
    return std::nullopt;
}

// ---- What a row and the detail show ---------------------------------------

std::string HistoryViewModel::title(const CaptureHistoryEntry& entry) {
    if (entry.metadata) return entry.metadata->title;
    if (!entry.outputs.empty()) return fileName(entry.outputs.front());
    return "保存結果";
}

std::string HistoryViewModel::kind(const CaptureHistoryEntry& entry) {
    if (entry.kind == "ocr") return "OCR TXT";
    if (entry.kind == "print") return "印刷";
    return "Webキャプチャ";
}

std::string HistoryViewModel::formats(const CaptureHistoryEntry& entry) {
    if (entry.metadata) return entry.metadata->format;
    std::vector<std::string> extensions;
    for (const SavedOutput& output : entry.outputs) {
        std::string ext = std::filesystem::path(output.path).extension().string();
        if (!ext.empty()) ext.erase(0, 1);
        char* upper = g_utf8_strup(ext.c_str(), static_cast<gssize>(ext.size()));
        extensions.emplace_back(upper);
        g_free(upper);
    }
    std::sort(extensions.begin(), extensions.end());
    // Several files of one type are counted, as the detail counts them: a
    // save of many files would otherwise fill the line with one word.
    std::string joined;
    for (std::size_t i = 0; i < extensions.size();) {
        std::size_t same = i;
        while (same < extensions.size() && extensions[same] == extensions[i]) ++same;
        if (i) joined += " / ";
        joined += extensions[i];
        if (same - i > 1) joined += " " + std::to_string(same - i) + "件";
        i = same;
    }
    return joined;
}

bool HistoryViewModel::missing(const CaptureHistoryEntry& entry) {
    return std::any_of(entry.outputs.begin(), entry.outputs.end(), [](const SavedOutput& o) {
        return o.state == SavedOutput::State::missing ||
               (o.state == SavedOutput::State::available && !fileExists(o.path));
    });
}

std::string HistoryViewModel::stateText(const CaptureHistoryEntry& entry) {
    if (missing(entry)) return "ファイルが見つかりません";
    if (entry.state == "completed") return "保存完了";
    return "一部保存・中断";
}

std::string HistoryViewModel::dateText(const CaptureHistoryEntry& entry) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort, icu::Locale()));
    if (!format) return {};
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.created.time_since_epoch()).count();
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string HistoryViewModel::captionText(const CaptureHistoryEntry& entry) {
    return dateText(entry) + " · " + kind(entry) + " · " + formats(entry);
}

bool HistoryViewModel::available(const SavedOutput& output) {
    return output.state == SavedOutput::State::available && fileExists(output.path);
}

std::string HistoryViewModel::fileName(const SavedOutput& output) {
    return std::filesystem::path(output.path).filename().string();
}

std::string HistoryViewModel::rangeText(const std::string& first, const std::string& last) {
    // What the two names share is said once: the last name from the start
    // of the word where they part ("_0001.png" and "_0019.png" part in
    // their number).
    std::size_t shared = 0;
    while (shared < first.size() && shared < last.size() && first[shared] == last[shared]) ++shared;
    std::size_t from = shared;
    while (from > 0 && std::isalnum(static_cast<unsigned char>(last[from - 1]))) --from;
    // Never inside a character of several bytes.
    while (from > 0 && (static_cast<unsigned char>(last[from]) & 0xC0) == 0x80) --from;
    return first + " 〜 " + last.substr(from);
}

std::vector<HistoryViewModel::OutputLine> HistoryViewModel::outputLines(const CaptureHistoryEntry& entry) {
    const auto type = [](const SavedOutput& output) {
        return Unicode::uppercased(std::filesystem::path(output.path).extension().string());
    };
    std::map<std::string, std::size_t> perType;
    for (const SavedOutput& output : entry.outputs) ++perType[type(output)];
    std::vector<OutputLine> lines;
    // The line of the several outputs of one type, once it is made.
    std::map<std::string, std::size_t> shared;
    for (std::size_t i = 0; i < entry.outputs.size(); ++i) {
        const std::string ext = type(entry.outputs[i]);
        if (perType[ext] > 1) {
            if (const auto it = shared.find(ext); it != shared.end()) {
                lines[it->second].outputs.push_back(i);
                continue;
            }
            shared[ext] = lines.size();
        }
        lines.push_back(OutputLine{{i}, {}, {}, std::nullopt, 0});
    }
    for (OutputLine& line : lines) {
        const SavedOutput& first = entry.outputs[line.outputs.front()];
        if (line.outputs.size() == 1) {
            line.name = fileName(first);
        } else {
            std::string label = type(first);
            if (!label.empty() && label.front() == '.') label.erase(0, 1);
            line.name = label + " " + std::to_string(line.outputs.size()) + "件";
            line.range = rangeText(fileName(first), fileName(entry.outputs[line.outputs.back()]));
        }
        for (std::size_t i : line.outputs) {
            if (!available(entry.outputs[i])) {
                ++line.unavailable;
            } else if (!line.target) {
                line.target = i;
            }
        }
    }
    return lines;
}

std::string HistoryViewModel::unavailableText(const OutputLine& line) {
    if (line.unavailable == 0) return {};
    if (line.unavailable == line.outputs.size()) return "ファイルが見つかりません、または移動済みです。";
    return "うち" + std::to_string(line.unavailable) + "件は見つかりません、または移動済みです。";
}

std::optional<std::string> HistoryViewModel::pageAddress(const CaptureHistoryEntry& entry) {
    if (!entry.metadata || !entry.metadata->url) return std::nullopt;
    const std::string& url = *entry.metadata->url;
    // The scheme as written: "HTTP:" is not offered, though it would load.
    if (!url.starts_with("http:") && !url.starts_with("https:")) return std::nullopt;
    if (!g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr)) return std::nullopt;
    return url;
}

std::string HistoryViewModel::trashedText(int64_t moved, int64_t kept) {
    if (moved == 0 && kept == 0) return "ゴミ箱へ移す成果物はありませんでした。";
    if (moved == 0) return "ゴミ箱へ移せませんでした。" + std::to_string(kept) + "件は保持します。";
    std::string text = std::to_string(moved) + "件をゴミ箱へ移しました。";
    if (kept > 0) text += "移動できない" + std::to_string(kept) + "件は保持します。";
    return text;
}

// ---- Actions --------------------------------------------------------------

void HistoryViewModel::reload() {
    std::vector<CaptureHistoryEntry> listed;
    try {
        listed = AppHistory::required()->entries();
    } catch (...) {
        // The list, the selection and the thumbnails stay as they were.
        setStatus(loadFailed);
        return;
    }
    // Newest first; the store's order among equal dates.
    std::stable_sort(listed.begin(), listed.end(),
                     [](const CaptureHistoryEntry& a, const CaptureHistoryEntry& b) { return a.created > b.created; });
    entries_ = std::move(listed);
    entriesChanged_.emit();
    if (openRefusal_ && std::none_of(entries_.begin(), entries_.end(),
                                     [&](const CaptureHistoryEntry& e) { return e.id == openRefusal_->entry; })) {
        setRefusal(std::nullopt);
    }

    std::set<UUID> kept;
    for (const auto& e : entries_) kept.insert(e.id);
    cache_.retain(std::move(kept));
}

bool HistoryViewModel::removeReference(UUID id) {
    try {
        // An entry that keeps a file held on its way to the Trash stays, so
        // that file keeps its record; that is not a removal.
        return AppHistory::required()->removeReference(id);
    } catch (...) {
        return false;
    }
}

void HistoryViewModel::deleteHistoryOnly() {
    const CaptureHistoryEntry* entry = selectedEntry();
    if (!entry) return;
    if (!removeReference(entry->id)) {
        setStatus(historyOnlyFailed);
        return;
    }
    reload();
    // Set after the reload, so it stands even when the reload failed.
    setStatus(historyOnlyDeleted);
}

void HistoryViewModel::startTrashOutputs() {
    if (trashing()) return;
    trashTask_ = spawn(trashOutputs());
}

bool HistoryViewModel::trashing() const { return !trashTask_.done(); }

Task<void> HistoryViewModel::trashOutputs() {
    const CaptureHistoryEntry* selected = selectedEntry();
    if (!selected) co_return;
    const CaptureHistoryEntry entry = *selected;

    // One store from the proposal to the final removal: the proposal is used
    // once, through the store that made it.
    std::unique_ptr<CaptureHistory> store;
    std::optional<DeleteProposal> proposal;
    try {
        store = AppHistory::required();
        proposal.emplace(store->proposal(entry.id));
    } catch (...) {
        setStatus(trashFailed);
        co_return;
    }

    Confirmation::Request request;
    request.message = confirmMessage;
    for (std::size_t i = 0; i < entry.outputs.size(); ++i) {
        if (i) request.informativeText += '\n';
        request.informativeText += fileName(entry.outputs[i]);
    }
    request.cancelLabel = cancelLabel;
    request.confirmLabel = trashLabel;
    const bool confirmed = co_await confirmation_.confirm(request);
    // Anything but the move itself changes nothing, not even the status.
    if (!confirmed) co_return;

    std::vector<TrashReceipt> receipts;
    try {
        receipts = store->execute(*proposal);
    } catch (...) {
        // What was kept or moved is the store's record; the list stays as
        // shown until the user reloads.
        setStatus(trashFailed);
        co_return;
    }
    const auto moved = std::count_if(receipts.begin(), receipts.end(),
                                     [](const TrashReceipt& r) { return r.state == SavedOutput::State::trashed; });
    if (moved == static_cast<std::ptrdiff_t>(receipts.size())) {
        bool removed = false;
        try {
            removed = store->removeReference(entry.id);
        } catch (...) {
            removed = false;
        }
        if (!removed) {
            setStatus(trashFailed);
            co_return;
        }
    }
    // Before the reload, so a failing reload has the last word.
    setStatus(trashedText(static_cast<int64_t>(moved), static_cast<int64_t>(receipts.size()) - moved));
    reload();
}

void HistoryViewModel::copyURL(const std::string& url) { desktop_.copyText(url); }

void HistoryViewModel::reopenForRecapture(const std::string& url) {
    if (!host_ || !host_->reopenForRecapture(url)) return;
    setStatus(reopened);
}

void HistoryViewModel::openOutput(const std::filesystem::path& file) {
    if (!desktop_.open(file)) {
        // No application took it (none for its type, or none that starts):
        // its folder is the next best thing, and the user is told which.
        desktop_.revealAnswered(file, answer(file, true));
        return;
    }
    // The file opened after all: what was said about it is over. The
    // status line keeps its last word, as every success that says nothing.
    setRefusal(std::nullopt);
}

void HistoryViewModel::revealOutput(const std::filesystem::path& file) {
    desktop_.revealAnswered(file, answer(file, false));
}

std::function<void(bool)> HistoryViewModel::answer(const std::filesystem::path& file, bool opening) {
    return [this, alive = std::weak_ptr<bool>(alive_), file, opening](bool shown) {
        if (alive.expired()) return;
        // A folder shown for a reveal is all that was asked: nothing to say.
        if (shown && !opening) return;
        refuse(file, refusedText(file, opening, shown));
    };
}

void HistoryViewModel::refuse(const std::filesystem::path& file, std::string text) {
    // Told under the output the user asked for, and only there; a file
    // no listed entry holds has no such place, so the status line says it.
    if (std::optional<UUID> entry = owner(file)) {
        setRefusal(OpenRefusal{*entry, file, std::move(text)});
    } else {
        setStatus(std::move(text));
    }
}

std::string HistoryViewModel::refusedText(const std::filesystem::path& file, bool opening, bool folderShown) {
    const std::string where = "保存先：" + folderText(file.parent_path());
    if (!opening) return std::string(revealFailed) + "ファイルマネージャーが応答しません。" + where;
    if (folderShown) return std::string(openFailed) + "開くアプリを起動できないため、保存先のフォルダを表示しました。";
    return std::string(openFailed) + "開くアプリもファイルマネージャーも起動できません。" + where;
}

Task<std::optional<std::vector<uint8_t>>> HistoryViewModel::thumbnail(CaptureHistoryEntry entry) {
    if (entry.outputs.empty()) co_return std::nullopt;
    const std::string& path = entry.outputs.front().path;
    if (!fileExists(path)) co_return std::nullopt;
    auto load = cache_.load(entry.id, std::filesystem::path(path));
    std::optional<std::vector<uint8_t>> data = co_await load;
    // A row that went away meanwhile drops what came.
    if (isCurrentTaskCancelled()) co_return std::nullopt;
    co_return data;
}

}  // namespace velmora
