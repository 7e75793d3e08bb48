#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <limits>
#include <system_error>

#include "JobFixtures.hpp"
#include "foundation/Digest.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

QueueInput fullInput() {
    QueueInput input("/data/スキャン/doc.pdf", InputOrigin::normal);
    input.expectedSHA256 = std::string(64, 'a');
    input.source = SourceIdentity("/data/スキャン/doc.pdf", 1234, 3, std::string(64, 'a'));
    input.attemptID = UUID::random();
    input.status = InputStatus::waitingInput;
    input.error = ErrorCase::sourceChanged;
    input.pages = {PageRecord(1, PageState::completed, "page-1.json", std::string(64, 'b')),
                   PageRecord(2, PageState::failed, std::nullopt, std::nullopt, ErrorCase::renderFailed,
                              std::vector<ErrorCase>{ErrorCase::injectedFailure}),
                   PageRecord(3)};
    input.editedPages = {{1, "直した文"}, {12, ""}};
    input.settings = test::currentSettings();
    input.settings->mode = OCRMode::vertical;
    input.presentation = QueuePresentation(false, true, false, true, true);
    return input;
}

// A minimal input as stored, every optional key left out.
Json bareInputJSON() {
    QueueInput input("/data/a.png", InputOrigin::normal);
    return Json(input);
}

}  // namespace

TEST(QueueRecords, InputsDecodeStrictly) {
    Json bare = bareInputJSON();
    for (const char* key : {"expectedSHA256", "source", "attemptID", "error", "settings", "presentation"}) {
        EXPECT_FALSE(bare.contains(key)) << key;
    }
    const QueueInput decoded = JSON::decode<QueueInput>(bare);
    EXPECT_FALSE(decoded.expectedSHA256 || decoded.source || decoded.attemptID || decoded.error ||
                 decoded.settings || decoded.presentation);
    EXPECT_EQ(decoded.status, InputStatus::pending);

    // A queue status is not an input status.
    Json paused = bare;
    paused["status"] = "paused";
    EXPECT_THROW(JSON::decode<QueueInput>(paused), JSON::DecodeError);
    Json badOrigin = bare;
    badOrigin["origin"] = "private";
    EXPECT_THROW(JSON::decode<QueueInput>(badOrigin), JSON::DecodeError);
    Json badError = bare;
    badError["error"] = "noSuchCase";
    EXPECT_THROW(JSON::decode<QueueInput>(badError), JSON::DecodeError);

    for (const char* key : {"id", "path", "origin", "jobID", "status", "pages", "editedPages"}) {
        Json missing = bare;
        missing.erase(key);
        EXPECT_THROW(JSON::decode<QueueInput>(missing), JSON::DecodeError) << key;
    }

    Json presentation = Json(QueuePresentation());
    presentation.erase("automaticSave");
    EXPECT_THROW(JSON::decode<QueuePresentation>(presentation), JSON::DecodeError);
    Json withPresentation = bare;
    withPresentation["presentation"] = presentation;
    EXPECT_THROW(JSON::decode<QueueInput>(withPresentation), JSON::DecodeError);
}

TEST(QueueRecords, EditedPagesAreKeyedByDecimalPageNumbers) {
    Json j = bareInputJSON();
    j["editedPages"] = Json::parse(R"({"3":"abc"})");
    const QueueInput input = JSON::decode<QueueInput>(j);
    EXPECT_EQ(input.editedPages, (std::map<int64_t, std::string>{{3, "abc"}}));
    EXPECT_EQ(JSON::encode(input), JSON::encode(j));
    EXPECT_EQ(Json(input)["editedPages"], Json::parse(R"({"3":"abc"})"));

    // Only the form written here: anything else could give one page two texts.
    for (const char* bad : {R"({"x":"abc"})", R"({"03":"abc"})", R"({"-1":"abc"})", R"({"+3":"abc"})",
                            R"({"3 ":"abc"})", R"({"":"abc"})", R"({"3":4})", R"({"99999999999999999999":"a"})",
                            R"(["abc"])"}) {
        Json edited = j;
        edited["editedPages"] = Json::parse(bad);
        EXPECT_THROW(JSON::decode<QueueInput>(edited), JSON::DecodeError) << bad;
    }
}

TEST(QueueRecords, AFullSnapshotRoundTripsToTheSameBytes) {
    QueueSnapshot s(test::currentSettings(), {fullInput(), QueueInput("/data/b.png", InputOrigin::normal)});
    s.status = QueueStatus::waitingInput;
    s.viewStates = std::map<std::string, QueuePresentation>{{s.inputs[0].id.text(), QueuePresentation()}};
    // Yellow where the recogniser was unsure, green where the user typed,
    // with a character outside the BMP in each.
    OCRDecorationState decoration("確認𠀋済み", {TextRange{2, 2}});
    decoration.update("確認𠀋済み😀");
    ASSERT_FALSE(decoration.yellow().empty());
    ASSERT_FALSE(decoration.green().empty());
    s.editorStates = std::map<std::string, QueueEditorState>{
        {"editor-1", QueueEditorState(s.inputs[0].id, 1, std::string(64, 'b'), decoration)}};
    s.selectedInput = s.inputs[1].id;
    s.selectedPage = 2;
    s.automaticExports = std::vector<std::string>{"queue-completed", "queue-completed"};
    FileStamp stamp;
    stamp.device = 0xFFFFFFFF00000001ULL;
    stamp.inode = 77;
    stamp.size = 10;
    stamp.sha256 = std::string(64, 'c');
    stamp.links = 1;
    s.exportJournal = std::map<std::string, QueueExportRecord>{
        {"queue-completed", QueueExportRecord("/out/OCR-combined.txt", stamp, false)}};

    const auto bytes = JSON::encode(s);
    const QueueSnapshot back = JSON::decode<QueueSnapshot>(bytes);
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.editorStates->at("editor-1").decoration.green(), decoration.green());
    EXPECT_EQ(back.editorStates->at("editor-1").decoration.yellow(), decoration.yellow());
    EXPECT_EQ(JSON::encode(back), bytes);

    // The envelope carries those exact bytes and their digest.
    const QueueEnvelope e = QueueEnvelope::seal(s);
    EXPECT_EQ(e.payload, bytes);
    EXPECT_EQ(e.sha256, Digest::data(bytes));
    const QueueEnvelope read = JSON::decode<QueueEnvelope>(JSON::encode(e));
    EXPECT_EQ(read, e);
    EXPECT_TRUE(read.intact());
}

TEST(QueueRecords, SnapshotsDecodeStrictlyButLeaveTheirChecksToTheEngine) {
    const QueueSnapshot s(test::currentSettings(), {QueueInput("/data/a.png", InputOrigin::normal)});
    const Json j = Json(s);
    for (const char* key :
         {"viewStates", "editorStates", "selectedInput", "selectedPage", "automaticExports", "exportJournal"}) {
        EXPECT_FALSE(j.contains(key)) << key;
    }
    const QueueSnapshot back = JSON::decode<QueueSnapshot>(j);
    EXPECT_FALSE(back.viewStates || back.editorStates || back.selectedInput || back.selectedPage ||
                 back.automaticExports || back.exportJournal);
    EXPECT_EQ(back, s);

    for (const char* key : {"schemaVersion", "id", "created", "settings", "status", "inputs"}) {
        Json missing = j;
        missing.erase(key);
        EXPECT_THROW(JSON::decode<QueueSnapshot>(missing), JSON::DecodeError) << key;
    }
    Json old = j;
    old["schemaVersion"] = 2;
    EXPECT_EQ(JSON::decode<QueueSnapshot>(old).schemaVersion, 2);
    Json badStatus = j;
    badStatus["status"] = "pending";
    EXPECT_THROW(JSON::decode<QueueSnapshot>(badStatus), JSON::DecodeError);

    // Records inside are as strict as the snapshot.
    Json record = j;
    record["exportJournal"] = Json::parse(R"({"k":{"path":"/x.txt","complete":true}})");
    EXPECT_THROW(JSON::decode<QueueSnapshot>(record), JSON::DecodeError);
    Json editor = j;
    editor["editorStates"] = Json::object({{"k", Json(QueueEditorState(s.inputs[0].id, 1, "x", OCRDecorationState()))}});
    editor["editorStates"]["k"].erase("resultChecksum");
    EXPECT_THROW(JSON::decode<QueueSnapshot>(editor), JSON::DecodeError);

    // A decoration whose marks do not fit its text is a damaged queue.
    Json decoration = j;
    Json state = Json(QueueEditorState(s.inputs[0].id, 1, "x", OCRDecorationState("abc", {TextRange{0, 1}})));
    state["decoration"]["marks"] = Json::array({1, 0});
    decoration["editorStates"] = Json::object({{"k", state}});
    EXPECT_EQ(caseOf([&] { JSON::decode<QueueSnapshot>(decoration); }), ErrorCase::damagedCheckpoint);

    // A damaged envelope is not read as some other payload.
    Json envelope = Json(QueueEnvelope::seal(s));
    envelope["payload"] = envelope["payload"].get<std::string>() + " ";
    EXPECT_THROW(JSON::decode<QueueEnvelope>(envelope), JSON::DecodeError);
    QueueEnvelope tampered = QueueEnvelope::seal(s);
    tampered.payload.back() ^= 1;
    EXPECT_FALSE(tampered.intact());
}

TEST(QueueRecords, CountsComeFromPageRecordsOrTheKnownSource) {
    EXPECT_EQ(QueueCounts(std::vector<QueueInput>{}), QueueCounts());
    EXPECT_EQ(QueueCounts(std::vector<QueueInput>{}).total(), 0);

    QueueInput unread("/a.pdf", InputOrigin::normal);
    QueueInput read("/b.pdf", InputOrigin::normal);
    read.source = SourceIdentity("/b.pdf", 10, 12, std::string(64, 'a'));
    QueueCounts before({unread, read});
    EXPECT_EQ(before.pending, 12);
    EXPECT_EQ(before.total(), 12);

    for (int64_t p = 1; p <= 12; ++p) {
        const PageState state = p <= 3 ? PageState::completed : p == 4 ? PageState::failed : PageState::pending;
        read.pages.emplace_back(p, state);
    }
    const QueueCounts exact({unread, read});
    EXPECT_EQ(exact.pending, 8);
    EXPECT_EQ(exact.success, 3);
    EXPECT_EQ(exact.failed, 1);
    EXPECT_EQ(exact.total(), 12);

    read.pages[10].state = PageState::inProgress;
    read.pages[11].state = PageState::cancelled;
    const QueueCounts mixed({unread, read});
    EXPECT_EQ(mixed.pending, 6);
    EXPECT_EQ(mixed.running, 1);
    EXPECT_EQ(mixed.skipped, 1);
    EXPECT_EQ(mixed.total(), 12);

    // Hand-edited page counts neither subtract nor overflow.
    QueueInput negative("/c.pdf", InputOrigin::normal);
    negative.source = SourceIdentity("/c.pdf", 1, -5, std::string(64, 'a'));
    QueueInput huge("/d.pdf", InputOrigin::normal);
    huge.source = SourceIdentity("/d.pdf", 1, std::numeric_limits<int64_t>::max(), std::string(64, 'a'));
    const QueueCounts odd({negative, huge, huge, read});
    EXPECT_EQ(odd.pending, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(odd.total(), std::numeric_limits<int64_t>::max());
    QueueSnapshot oddQueue(test::currentSettings(), {negative, huge, huge});
    EXPECT_EQ(oddQueue.knownPages(), std::numeric_limits<int64_t>::max());
}

TEST(QueueRecords, DerivedCountersOfASnapshot) {
    const QueueSnapshot empty(test::currentSettings(), {});
    EXPECT_TRUE(empty.persistent());
    EXPECT_EQ(empty.knownPages() + empty.unknownFiles() + empty.completedPages() + empty.failedPages(), 0);

    std::vector<QueueInput> inputs;
    for (int i = 0; i < 10; ++i) {
        QueueInput in("/n" + std::to_string(i) + ".png", InputOrigin::normal);
        in.source = SourceIdentity(in.path, 1, 1, std::string(64, 'a'));
        inputs.push_back(in);
    }
    inputs[0].pages = {PageRecord(1, PageState::completed)};
    inputs[1].pages = {PageRecord(1, PageState::failed)};
    inputs[2].status = InputStatus::completed;  // no records: counts for nothing
    QueueInput locked("/locked.pdf", InputOrigin::normal);
    inputs.push_back(locked);
    QueueSnapshot s(test::currentSettings(), inputs);
    EXPECT_TRUE(s.persistent());
    EXPECT_EQ(s.knownPages(), 10);
    EXPECT_EQ(s.unknownFiles(), 1);
    EXPECT_EQ(s.completedPages(), 1);
    EXPECT_EQ(s.failedPages(), 1);

    s.inputs.push_back(QueueInput("/private.png", InputOrigin::privateSession));
    EXPECT_FALSE(s.persistent());
}

TEST(QueueRecords, APathFromAFileIsUsedOnlyWhenAbsolute) {
    QueueInput input("/data/a.png", InputOrigin::normal);
    EXPECT_EQ(input.fileURL(), fs::path("/data/a.png"));
    input.path = "a.png";
    EXPECT_EQ(caseOf([&] { input.fileURL(); }), ErrorCase::sourceMissing);
    input.path = "";
    EXPECT_EQ(caseOf([&] { input.fileURL(); }), ErrorCase::sourceMissing);
    input.path = std::string("/data/a.png") + '\0' + "/../../etc/passwd";
    EXPECT_EQ(caseOf([&] { input.fileURL(); }), ErrorCase::sourceMissing);
}

TEST(QueueRecords, ARevisionNoticesATouchedOrReplacedFile) {
    test::TempDir tmp;
    const fs::path file = tmp / "doc.png";
    test::writeFile(file, "first");
    const InputRevision first = InputRevision::read(file);
    EXPECT_EQ(first.size, 5u);
    EXPECT_EQ(InputRevision::read(file), first);

    // The same bytes with a new modification time.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const InputRevision touched = InputRevision::read(file);
    EXPECT_NE(touched, first);
    EXPECT_EQ(touched.inode, first.inode);

    // Another file of the same size and time under the same name.
    test::writeFile(tmp / "other", "xxxxx");
    ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "other").c_str(), times, 0), 0);
    fs::rename(tmp / "other", file);
    const InputRevision replaced = InputRevision::read(file);
    EXPECT_EQ(replaced.size, touched.size);
    EXPECT_EQ(replaced.modified, touched.modified);
    EXPECT_NE(replaced, touched);

    EXPECT_THROW(InputRevision::read(tmp / "missing"), std::system_error);
    EXPECT_THROW(InputRevision::read(fs::path(file.string() + std::string(1, '\0') + "x")), std::system_error);
}
