#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "JobFixtures.hpp"
#include "foundation/Digest.hpp"
#include "foundation/StateLease.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Errors.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

fs::path writeLockedPDF(const fs::path& path, int pages) {
    const fs::path plain = test::writeSamplePDF(path.parent_path() / ("plain-" + path.filename().string()), pages);
    EXPECT_EQ(test::runProgram({"qpdf", "--encrypt", "ひらけ-1234", "owner-secret", "256", "--", plain.string(),
                                path.string()}),
              0);
    return path;
}

// Every file under a folder with its bytes, by relative path; the lock file,
// made empty by the first lease and never written, is left out.
std::map<std::string, std::string> treeBytes(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename() == "queue-lease") continue;
        if (entry.is_regular_file()) out[fs::relative(entry.path(), folder).string()] = test::readFile(entry.path());
    }
    return out;
}

// The queue file as another writer (or a hand edit) would leave it.
void writeQueueFile(const fs::path& folder, const QueueSnapshot& s) {
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, JSON::encode(QueueEnvelope::seal(s)));
}

void editQueueFile(const fs::path& folder, const std::function<void(QueueSnapshot&)>& change) {
    QueueSnapshot s = OCRQueueEngine::inspect(folder);
    change(s);
    writeQueueFile(folder, s);
}

uint64_t inodeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
}

// A saved queue of two sample files under a temporary storage root.
struct SavedQueue {
    test::TempDir tmp;
    fs::path parent;
    fs::path folder;
    QueueSnapshot snapshot;

    SavedQueue() {
        parent = tmp / "storage" / "queues";
        auto engine = OCRQueueEngine::create({{test::writeSamplePNG(tmp / "a.png")}, {test::writeSamplePDF(tmp / "b.pdf", 2)}},
                                             test::currentSettings(), parent);
        folder = engine->directory()->url();
        snapshot = engine->snapshot();
    }
};

}  // namespace

TEST(OCRQueueEngine, ANewQueueIsWrittenInItsOwnFolder) {
    test::TempDir tmp;
    const fs::path png = test::writeSamplePNG(tmp / "scan.png");
    const fs::path pdf = test::writeSamplePDF(tmp / "本.pdf", 2);
    const fs::path locked = writeLockedPDF(tmp / "locked.pdf", 3);
    const fs::path missing = tmp / "missing.png";
    const fs::path parent = tmp / "storage" / "queues";
    const QueuePresentation presentation(false, false, true, false, true);

    auto engine = OCRQueueEngine::create({{png}, {pdf}, {locked}, {missing}}, test::currentSettings(), parent,
                                         presentation);
    const QueueSnapshot s = engine->snapshot();
    ASSERT_TRUE(engine->directory());
    const fs::path folder = engine->directory()->url();
    EXPECT_EQ(folder, parent / s.id.text());
    // Written at once, and nothing else: no lease is taken, no job exists.
    EXPECT_EQ(test::listNames(folder), std::vector<std::string>{"queue.json"});

    EXPECT_EQ(s.schemaVersion, 3);
    EXPECT_EQ(s.status, QueueStatus::ready);
    EXPECT_EQ(s.settings, test::currentSettings());
    ASSERT_EQ(s.inputs.size(), 4u);
    const std::vector<fs::path> order{png, pdf, locked, missing};
    for (std::size_t i = 0; i < 4; ++i) {
        const QueueInput& in = s.inputs[i];
        EXPECT_EQ(in.path, order[i].string());
        EXPECT_EQ(in.status, InputStatus::pending);
        EXPECT_EQ(in.settings, test::currentSettings());
        EXPECT_EQ(in.presentation, presentation);
        EXPECT_FALSE(in.attemptID);
        EXPECT_TRUE(in.pages.empty() && in.editedPages.empty());
    }
    EXPECT_EQ(s.inputs[0].source, SourceIdentity::read(png));
    EXPECT_EQ(s.inputs[1].source, SourceIdentity::read(pdf));
    EXPECT_EQ(s.inputs[1].expectedSHA256, Digest::file(pdf));
    // The locked document is pinned by its bytes until its password comes.
    EXPECT_FALSE(s.inputs[2].source);
    EXPECT_EQ(s.inputs[2].expectedSHA256, Digest::file(locked));
    EXPECT_FALSE(s.inputs[3].source || s.inputs[3].expectedSHA256);
    EXPECT_NE(s.inputs[0].id, s.inputs[1].id);
    EXPECT_NE(s.inputs[0].jobID, s.inputs[1].jobID);
    EXPECT_EQ(s.knownPages(), 3);
    EXPECT_EQ(s.unknownFiles(), 2);

    // The file is the envelope of exactly this snapshot.
    const Json file = JSON::parse(test::readFile(folder / "queue.json"));
    EXPECT_EQ(file.size(), 2u);
    const QueueEnvelope envelope = JSON::decode<QueueEnvelope>(file);
    EXPECT_EQ(envelope.payload, JSON::encode(s));
    EXPECT_EQ(envelope.sha256, Digest::data(envelope.payload));
    EXPECT_EQ(OCRQueueEngine::inspect(folder), s);
}

TEST(OCRQueueEngine, AFileThatIsNoDocumentBecomesAnInputOfNoKnownIdentity) {
    test::TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe.pdf").c_str(), 0600), 0);
    fs::create_directory(tmp / "folder.png");
    // In a child with an alarm: a creation that waited for a writer on the
    // FIFO would otherwise hang the whole test program.
    EXPECT_EQ(test::runInChild([&] {
                  ::alarm(30);
                  auto engine = OCRQueueEngine::create({{tmp / "pipe.pdf"}, {tmp / "folder.png"}},
                                                       test::currentSettings(), tmp / "queues");
                  for (const auto& in : engine->snapshot().inputs) {
                      if (in.source || in.expectedSHA256) throw std::runtime_error("identity of a non-document");
                  }
              }),
              0);
}

TEST(OCRQueueEngine, PrivateAndParentlessQueuesNeverTouchTheDisk) {
    test::TempDir tmp;
    const fs::path png = test::writeSamplePNG(tmp / "a.png");
    const fs::path parent = tmp / "storage" / "queues";

    auto withPrivate = OCRQueueEngine::create({{png}, {png, InputOrigin::privateSession}}, test::currentSettings(),
                                              parent);
    EXPECT_FALSE(withPrivate->directory());
    EXPECT_FALSE(withPrivate->snapshot().persistent());
    withPrivate->persist();
    EXPECT_FALSE(fs::exists(tmp / "storage"));

    auto parentless = OCRQueueEngine::create({{png}}, test::currentSettings(), std::nullopt);
    EXPECT_FALSE(parentless->directory());
    parentless->persist();
    EXPECT_EQ(test::listNames(tmp.path()), std::vector<std::string>{"a.png"});

    EXPECT_EQ(caseOf([&] { OCRQueueEngine::create({}, test::currentSettings(), parent); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::create({{"a.png"}}, test::currentSettings(), parent); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] {
                  OCRQueueEngine::create({{fs::path(png.string() + std::string(1, '\0'))}}, test::currentSettings(),
                                         parent);
              }),
              ErrorCase::invalidInput);
    EXPECT_FALSE(fs::exists(tmp / "storage"));
}

TEST(OCRQueueEngine, AMemoryOnlyQueueMayTakeExactlyThePrivateLimit) {
    test::TempDir tmp;
    const fs::path parent = tmp / "queues";
    // A file that cannot be read adds only its path; its length sets the
    // size of the snapshot byte for byte.
    const auto sizeWith = [&](const std::string& path) {
        auto engine = OCRQueueEngine::create({{path, InputOrigin::privateSession}}, test::currentSettings(), parent);
        return static_cast<int64_t>(JSON::encode(engine->snapshot()).size());
    };
    const std::string shortPath = "/q";
    const int64_t base = sizeWith(shortPath);
    const std::string atLimit = shortPath + std::string(static_cast<std::size_t>(JobStore::privateTextLimit - base), 'a');
    EXPECT_EQ(sizeWith(atLimit), JobStore::privateTextLimit);
    EXPECT_EQ(caseOf([&] { sizeWith(atLimit + "a"); }), ErrorCase::budgetExceeded);
    EXPECT_FALSE(fs::exists(parent));
}

TEST(OCRQueueEngine, PersistWritesEveryTimeButNeverOverAnotherWriter) {
    SavedQueue q;
    auto engine = OCRQueueEngine::resume(q.folder, test::currentSettings());
    const fs::path file = q.folder / "queue.json";
    const uint64_t first = inodeOf(file);
    engine->persist();
    const uint64_t second = inodeOf(file);
    engine->persist();
    EXPECT_NE(first, second);
    EXPECT_NE(second, inodeOf(file));
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder), engine->snapshot());

    // Another process rewrites the queue between two writes of this engine.
    ASSERT_EQ(test::runInChild([&] {
                  editQueueFile(q.folder, [](QueueSnapshot& s) { s.status = QueueStatus::completed; });
              }),
              0);
    const std::string theirs = test::readFile(file);
    EXPECT_EQ(caseOf([&] { engine->verifyPersisted(); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(caseOf([&] { engine->persist(); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(test::readFile(file), theirs);
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder).status, QueueStatus::completed);

    // A file that went away is not written again either.
    fs::remove(file);
    EXPECT_EQ(caseOf([&] { engine->persist(); }), ErrorCase::damagedCheckpoint);
    EXPECT_FALSE(fs::exists(file));
}

TEST(OCRQueueEngine, InspectRefusesQueuesThatCannotBeTrusted) {
    SavedQueue q;
    const auto before = treeBytes(q.folder);
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder), q.snapshot);
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder.string() + "/"), q.snapshot);
    EXPECT_EQ(treeBytes(q.folder), before);  // no lease file, no write

    // A copy under another name.
    const fs::path copy = q.parent / UUID::random().text();
    fs::copy(q.folder, copy);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(copy); }), ErrorCase::damagedCheckpoint);
    const fs::path renamed = q.parent / "saved";
    fs::rename(copy, renamed);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(renamed); }), ErrorCase::damagedCheckpoint);

    const auto refused = [&](const std::function<void(QueueSnapshot&)>& change) {
        QueueSnapshot s = q.snapshot;
        change(s);
        writeQueueFile(q.folder, s);
        return caseOf([&] { OCRQueueEngine::inspect(q.folder); });
    };
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.schemaVersion = 2; }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.inputs[1].id = s.inputs[0].id; }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.inputs[1].jobID = s.inputs[0].jobID; }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.inputs[1].origin = InputOrigin::privateSession; }),
              ErrorCase::damagedCheckpoint);
    // The same snapshot written again by anyone is a sound queue.
    writeQueueFile(q.folder, q.snapshot);
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder), q.snapshot);

    // A digest that does not match its payload.
    QueueEnvelope envelope = QueueEnvelope::seal(q.snapshot);
    envelope.sha256 = Digest::data(std::string("something else"));
    SecureDirectory(q.folder, false).replaceState("queue.json", JSON::encode(envelope));
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(q.folder); }), ErrorCase::damagedCheckpoint);

    // Text that is no envelope is the decoder's error.
    test::writeFile(q.folder / "queue.json", "{\"payload\" : 12}");
    EXPECT_THROW(OCRQueueEngine::inspect(q.folder), JSON::DecodeError);
    fs::remove(q.folder / "queue.json");
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(q.folder); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::inspect(q.parent / UUID::random().text()); }), ErrorCase::unsafePath);
}

TEST(OCRQueueEngine, ABusyQueueIsNotResumed) {
    SavedQueue q;
    test::HeldChild child([&] {
        static std::optional<StateLease> held;
        held.emplace(SecureDirectory(q.folder, false), "queue-lease", true);
    });
    ASSERT_TRUE(child.setupSucceeded());
    const auto before = treeBytes(q.folder);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::resume(q.folder, test::currentSettings()); }), ErrorCase::navigationBusy);
    EXPECT_EQ(treeBytes(q.folder), before);
    child.stop();

    auto engine = OCRQueueEngine::resume(q.folder, test::currentSettings());
    EXPECT_EQ(engine->snapshot(), q.snapshot);
    // Idle, the engine holds no lease.
    EXPECT_NO_THROW(StateLease(*engine->directory(), "queue-lease", false));
}

TEST(OCRQueueEngine, AQueueSavedRunningComesBackPausedWithoutAWrite) {
    SavedQueue q;
    editQueueFile(q.folder, [](QueueSnapshot& s) { s.status = QueueStatus::running; });
    const auto before = treeBytes(q.folder);
    auto engine = OCRQueueEngine::resume(q.folder, test::currentSettings());
    EXPECT_EQ(engine->snapshot().status, QueueStatus::paused);
    EXPECT_EQ(treeBytes(q.folder), before);
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder).status, QueueStatus::running);

    // The engine knows the bytes it read: its next write goes through, and
    // an outside write after it is still noticed.
    engine->persist();
    EXPECT_EQ(OCRQueueEngine::inspect(q.folder).status, QueueStatus::paused);
    writeQueueFile(q.folder, q.snapshot);
    EXPECT_EQ(caseOf([&] { engine->persist(); }), ErrorCase::confirmationChanged);

    for (QueueStatus kept : {QueueStatus::paused, QueueStatus::completed, QueueStatus::waitingInput,
                             QueueStatus::cancelled, QueueStatus::ready}) {
        editQueueFile(q.folder, [&](QueueSnapshot& s) { s.status = kept; });
        EXPECT_EQ(OCRQueueEngine::resume(q.folder, test::currentSettings())->snapshot().status, kept);
    }
}

TEST(OCRQueueEngine, ResumeNeedsTheSameSettingsAndEngine) {
    SavedQueue q;
    const auto refused = [&](const std::function<void(QueueSnapshot&)>& change, const OCRSettings& current) {
        writeQueueFile(q.folder, q.snapshot);
        editQueueFile(q.folder, change);
        const auto before = treeBytes(q.folder);
        const ErrorCase c = caseOf([&] { OCRQueueEngine::resume(q.folder, current); });
        EXPECT_EQ(treeBytes(q.folder), before);
        return c;
    };
    const OCRSettings current = test::currentSettings();

    OCRSettings otherSystem = current;
    otherSystem.osVersion += " (updated)";
    EXPECT_EQ(refused([](QueueSnapshot&) {}, otherSystem), ErrorCase::settingsChanged);

    // A fingerprint that is no hash matches nothing, even itself.
    OCRSettings unknownBuild = current;
    unknownBuild.implementationSHA256 = "unavailable";
    EXPECT_EQ(refused([&](QueueSnapshot& s) { s.settings = unknownBuild; }, unknownBuild), ErrorCase::settingsChanged);
    OCRSettings upperCase = current;
    for (char& c : upperCase.bundledCodeSHA256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(refused([&](QueueSnapshot& s) { s.settings = upperCase; }, upperCase), ErrorCase::settingsChanged);

    // An input's own settings may choose another mode, not another engine.
    writeQueueFile(q.folder, q.snapshot);
    editQueueFile(q.folder, [](QueueSnapshot& s) { s.inputs[0].settings->mode = OCRMode::handwriting; });
    EXPECT_EQ(OCRQueueEngine::resume(q.folder, current)->snapshot().inputs[0].settings->mode, OCRMode::handwriting);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.inputs[1].settings->implementationSHA256 = std::string(64, '0'); },
                      current),
              ErrorCase::settingsChanged);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.inputs[1].settings->bundledCodeSHA256 = std::string(64, '0'); },
                      current),
              ErrorCase::settingsChanged);
    EXPECT_EQ(refused([](QueueSnapshot& s) { s.schemaVersion = 2; }, current), ErrorCase::damagedCheckpoint);
}

TEST(OCRQueueEngine, StartedInputsAreCheckedAgainstTheirJobsWithoutAWrite) {
    test::TempDir tmp;
    const fs::path three = test::writeSamplePDF(tmp / "three.pdf", 3);
    const fs::path two = test::writeSamplePDF(tmp / "two.pdf", 2);
    const fs::path locked = writeLockedPDF(tmp / "locked.pdf", 1);
    auto made = OCRQueueEngine::create({{three}, {two}, {locked}}, test::currentSettings(), tmp / "queues");
    const fs::path folder = made->directory()->url();
    QueueSnapshot s = made->snapshot();
    made.reset();

    // Two inputs were under way when the application ended: page 1 of each
    // committed, page 2 begun.
    std::vector<std::unique_ptr<JobStore>> jobs;
    for (int i = 0; i < 2; ++i) {
        QueueInput& in = s.inputs[static_cast<std::size_t>(i)];
        auto store = JobStore::create(*in.source, test::currentSettings(), folder / "jobs", in.jobID);
        store->begin(1);
        store->commit(test::sampleResult(1, "一頁目"));
        store->begin(2);
        in.attemptID = store->checkpoint().attemptID;
        in.pages.clear();  // stale: the checkpoint is what counts
        jobs.push_back(std::move(store));
    }
    s.inputs[0].status = InputStatus::running;
    s.inputs[1].status = InputStatus::cancelled;
    s.inputs[2].attemptID = UUID::random();  // no source: never opened
    s.status = QueueStatus::running;
    writeQueueFile(folder, s);
    jobs.clear();

    const auto before = treeBytes(folder);
    auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
    EXPECT_EQ(treeBytes(folder), before);
    const QueueSnapshot r = engine->snapshot();
    const auto states = [&](std::size_t i) {
        std::vector<PageState> out;
        for (const auto& p : r.inputs[i].pages) out.push_back(p.state);
        return out;
    };
    EXPECT_EQ(states(0), (std::vector<PageState>{PageState::completed, PageState::pending, PageState::pending}));
    EXPECT_EQ(states(1), (std::vector<PageState>{PageState::completed, PageState::cancelled}));
    EXPECT_TRUE(r.inputs[2].pages.empty());
    // Statuses stay as stored until a run or an edit touches them.
    EXPECT_EQ(r.inputs[0].status, InputStatus::running);
    EXPECT_EQ(r.inputs[1].status, InputStatus::cancelled);
    EXPECT_EQ(r.inputs[0].pages[0].checksum, Digest::data(test::readFile(
                                                  OCRQueueEngine::jobFolder(folder, *r.inputs[0].attemptID) /
                                                  "page-1.json")));
    engine.reset();

    // A committed page whose file was damaged, or a stored identity that no
    // longer fits the job, keeps the queue closed.
    const fs::path page = OCRQueueEngine::jobFolder(folder, *s.inputs[1].attemptID) / "page-1.json";
    const std::string good = test::readFile(page);
    test::writeFile(page, good + " ");
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::resume(folder, test::currentSettings()); }), ErrorCase::damagedCheckpoint);
    test::writeFile(page, good);
    editQueueFile(folder, [](QueueSnapshot& q) { q.inputs[0].source->sha256 = std::string(64, 'f'); });
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::resume(folder, test::currentSettings()); }), ErrorCase::sourceChanged);
    editQueueFile(folder, [&](QueueSnapshot& q) { q.inputs[0] = s.inputs[0]; q.inputs[0].attemptID = UUID::random(); });
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::resume(folder, test::currentSettings()); }), ErrorCase::unsafePath);
}

TEST(OCRQueueEngine, TheDefaultAccessCheckNeverResolvesAgainstTheWorkingFolder) {
    test::TempDir tmp;
    const fs::path png = test::writeSamplePNG(tmp / "doc.png");
    EXPECT_NO_THROW(OCRQueueEngine::defaultAccessCheck(png));
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::defaultAccessCheck(tmp / "gone.png"); }), ErrorCase::sourceMissing);

    // A hand-edited queue can name "doc.png" while the working folder holds
    // one; it is still no file of this queue.
    SavedQueue q;
    editQueueFile(q.folder, [](QueueSnapshot& s) {
        s.inputs[0].path = "doc.png";
        s.inputs[1].path = "/" + std::string("a") + '\0' + "b";
    });
    const QueueSnapshot s = OCRQueueEngine::resume(q.folder, test::currentSettings())->snapshot();
    const fs::path previous = fs::current_path();
    fs::current_path(tmp.path());
    EXPECT_EQ(caseOf([&] { s.inputs[0].fileURL(); }), ErrorCase::sourceMissing);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::defaultAccessCheck(s.inputs[0].path); }), ErrorCase::sourceMissing);
    fs::current_path(previous);
    EXPECT_EQ(caseOf([&] { s.inputs[1].fileURL(); }), ErrorCase::sourceMissing);
    EXPECT_EQ(caseOf([&] { OCRQueueEngine::defaultAccessCheck(s.inputs[1].path); }), ErrorCase::sourceMissing);

    // A file that exists but cannot be read, for a user who may not read it.
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(png.c_str(), 0000), 0);
    EXPECT_EQ(test::runInChild([&] {
                  if (::geteuid() == 0 && ::setuid(65534) != 0) throw std::runtime_error("setuid");
                  if (caseOf([&] { OCRQueueEngine::defaultAccessCheck(png); }) != ErrorCase::accessDenied) {
                      throw std::runtime_error("not accessDenied");
                  }
              }),
              0);
}
