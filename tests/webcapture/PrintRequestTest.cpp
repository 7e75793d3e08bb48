#include <gtest/gtest.h>

#include <poppler.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/CaptureNaming.hpp"
#include "capture/PrintOptions.hpp"
#include "capture/CaptureOutcome.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/FolderText.hpp"
#include "foundation/JSON.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/WebPrinter.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::runTask;
using test::spinUntil;
using Event = OperationTrace::Event;
using Kind = NativePrintObservation::Kind;
using Stage = PrintOptions::Stage;
using Output = PrintOptions::Output;

namespace {

constexpr const char* title = "印刷の記事";
const Date fixedDate = Date(std::chrono::seconds(1777595400));  // 2026-05-01T00:30:00Z
constexpr const char* footerDate = "2026/05/0109:30";            // blanks dropped, as extracted

// Three pages of text: each block ends its page.
std::string article(int pages = 3) {
    std::string body;
    for (int p = 1; p <= pages; ++p) {
        body += std::string(p < pages ? "<section style='break-after:page'>" : "<section>") + "<h1>Section " +
                std::to_string(p) + "</h1>";
        for (int i = 0; i < 4; ++i)
            body += "<p>Words of section " + std::to_string(p) + " paragraph " + std::to_string(i) + ".</p>";
        body += "</section>";
    }
    return "<!doctype html><html><head><meta charset=utf-8><title>" + std::string(title) +
           "</title></head><body style='font:14px sans-serif'>" + body + "</body></html>";
}

struct DocumentUnref {
    void operator()(PopplerDocument* d) const { g_object_unref(d); }
};
using Document = std::unique_ptr<PopplerDocument, DocumentUnref>;

Document openPDF(const fs::path& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    PopplerDocument* d = poppler_document_new_from_file(uri, nullptr, nullptr);
    g_free(uri);
    return Document(d);
}

struct PageInfo {
    double width = 0;
    double height = 0;
    std::string text;  // without blanks
};

std::vector<PageInfo> pagesOf(const fs::path& path) {
    std::vector<PageInfo> out;
    Document d = openPDF(path);
    if (!d) return out;
    for (int i = 0; i < poppler_document_get_n_pages(d.get()); ++i) {
        PopplerPage* page = poppler_document_get_page(d.get(), i);
        PageInfo info;
        poppler_page_get_size(page, &info.width, &info.height);
        char* text = poppler_page_get_text(page);
        for (const char* c = text; c && *c; ++c) {
            if (*c != ' ' && *c != '\n') info.text += *c;
        }
        g_free(text);
        g_object_unref(page);
        out.push_back(info);
    }
    return out;
}

std::vector<std::string> eventNames(const OperationTrace& trace) {
    std::vector<std::string> out;
    for (const auto& item : trace.items()) out.emplace_back(OperationTrace::rawValue(item.event));
    return out;
}

CaptureLifecycle::Journal journalAt(const fs::path& folder) {
    return JSON::decode<CaptureLifecycle::Journal>(JSON::parse(test::readFile(folder / "lifecycle.json")));
}

// A print engine for the cases the real one cannot be made to produce: a
// run that writes chosen bytes, reports failure or never answers, and a
// lookup that finds no printer.
struct TestEngine {
    enum class Mode { write, fail, silent };
    Mode mode = Mode::write;
    std::string bytes;
    bool printerFound = true;
    int runs = 0;

    PrintEngine engine(std::chrono::milliseconds watchdog = 120s) {
        PrintEngine e;
        e.watchdog = watchdog;
        e.findPrinter = [this]() -> Task<std::optional<std::string>> {
            co_return printerFound ? std::optional<std::string>("test-printer") : std::nullopt;
        };
        e.prepare = [](WebKitWebView*, GtkPageSetup*, GtkPrintSettings* settings) {
            return GObjectRef<GObject>::ref(G_OBJECT(settings));
        };
        e.run = [this](GObject* operation, std::function<void(bool)> done) {
            ++runs;
            if (mode == Mode::silent) return;
            const char* uri = gtk_print_settings_get(GTK_PRINT_SETTINGS(operation), GTK_PRINT_SETTINGS_OUTPUT_URI);
            gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
            if (mode == Mode::write) {
                // As the file printer does: a new file in place of the reserved one.
                fs::remove(path);
                test::writeFile(path, bytes);
            }
            g_free(path);
            const bool ok = mode == Mode::write;
            detail::onMainContext([done, ok] { done(ok); });
        };
        return e;
    }
};

std::string cairoPDF(const fs::path& path, std::vector<test::PageSize> pages) {
    test::writePDF(path, pages, [](cairo_t*, int, test::PageSize) {});
    return test::readFile(path);
}

class PrintRequest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(storage_);
        fs::create_directories(outputRoot_);
        open(false);
    }
    void TearDown() override {
        PrintEngine::shared() = PrintEngine::system();
        window_.reset();
        session_.reset();
    }

    void open(bool privateMode) {
        window_.reset();
        session_.reset();
        session_ = std::make_unique<BrowserSession>(privateMode, test::sharedEphemeralStore());
        window_ = std::make_unique<test::WebTestWindow>(session_->frame(), 1024, 800);
        ASSERT_TRUE(window_->waitUntilShown());
    }

    void load(const std::string& html = article()) {
        server_.html("/article", html);
        session_->navigate(server_.url("/article"));
        ASSERT_TRUE(spinUntil([&] { return session_->pageTitle.get() == title && !session_->loading; }));
    }

    // The window's choices for the current page, without a stem.
    PrintOptions options(PrintSelection selection = {}) {
        PrintOptions o = selection.options(session_->currentURL.get(), session_->pageTitle.get(), fixedDate);
        o.filenameStem.reset();
        return o;
    }

    void print(PrintOptions o) {
        session_->print(std::move(o), folder_);
        ASSERT_TRUE(session_->busy.get());
        ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s));
        ASSERT_TRUE(spinUntil([&] { return recentFilesSettled(); }, 20s));
    }

    // GTK adds the file it printed to to the recent files on a turn after
    // the job, and the save takes it out again on the list's next write:
    // writes of the list that may come after the save has ended. Whether
    // neither the list nor its file holds a work file any more, so that no
    // write of an earlier save lands over a list a later test writes.
    static bool recentFilesSettled() {
        gchar* root = g_filename_to_uri(Phase0Work::root().c_str(), nullptr, nullptr);
        const std::string work = root;
        g_free(root);
        bool listed = false;
        GList* items = gtk_recent_manager_get_items(gtk_recent_manager_get_default());
        for (GList* i = items; i; i = i->next) {
            auto* info = static_cast<GtkRecentInfo*>(i->data);
            listed = listed || std::string(gtk_recent_info_get_uri(info)).starts_with(work);
            gtk_recent_info_unref(info);
        }
        g_list_free(items);
        const fs::path xbel = fs::path(g_get_user_data_dir()) / "recently-used.xbel";
        return !listed && (!fs::exists(xbel) || test::readFile(xbel).find(work) == std::string::npos);
    }

    PageValue eval(const std::string& script) { return runTask(session_->evaluate(script)); }

    bool backgrounds() const {
        return webkit_settings_get_print_backgrounds(webkit_web_view_get_settings(session_->webView()));
    }

    // After every save: idle, the page without its print style, the
    // preference as it was, no PDF left in any work folder.
    void expectPutBack(bool backgroundsBefore) {
        EXPECT_FALSE(session_->busy.get());
        EXPECT_FALSE(session_->captureTask);
        EXPECT_EQ(eval("document.querySelectorAll('style[id^=\"brindlex-print-\"]').length").integer(), 0);
        EXPECT_EQ(backgrounds(), backgroundsBefore);
        for (const auto& work : workFolders()) {
            for (const auto& name : test::listNames(work))
                EXPECT_TRUE(name == "lease" || name == "owner.json") << work / name;
        }
    }

    std::vector<fs::path> workFolders() const {
        std::vector<fs::path> out;
        if (!fs::exists(Phase0Work::printing())) return out;
        for (const auto& name : test::listNames(Phase0Work::printing())) out.push_back(Phase0Work::printing() / name);
        return out;
    }

    std::vector<fs::path> journals() const {
        std::vector<fs::path> out;
        if (!fs::exists(Phase0Work::lifecycle())) return out;
        for (const auto& name : test::listNames(Phase0Work::lifecycle())) out.push_back(Phase0Work::lifecycle() / name);
        return out;
    }

    std::vector<std::string> outputs() const {
        if (!fs::exists(folder_)) return {};
        auto names = test::listNames(folder_);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<CaptureHistoryEntry> history() const { return AppHistory::required()->entries(); }

    test::TempDir dir_;
    fs::path storage_ = dir_ / "storage";
    fs::path outputRoot_ = dir_ / "out";
    fs::path folder_ = outputRoot_ / "Print";
    AppRuntime::ScopedOverride runtime_{AppRuntime{storage_, outputRoot_}};
    SettingsStore settings_{storage_ / "settings"};
    FixedOutputRoots roots_{{outputRoot_}};
    AppHistory::ScopedEnvironment historyEnvironment_{{storage_, &settings_, &roots_}};
    test::WebTestServer server_;
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
};

}  // namespace

TEST_F(PrintRequest, AThreePageArticleIsPrintedStampedPublishedJournalledAndReported) {
    load();
    const bool backgroundsBefore = backgrounds();
    PrintSelection selection;
    selection.headerFooter = true;
    PrintOptions o = options(selection);
    std::vector<fs::path> published;
    std::vector<std::string> stages;
    std::vector<NativePrintObservation> observed;
    o.onPublished = [&](const fs::path& url) { published.push_back(url); };
    o.checkpoint = [&](Stage s) -> Task<void> {
        stages.emplace_back(rawValue(s));
        co_return;
    };
    o.nativeObservation = [&](const NativePrintObservation& n) { observed.push_back(n); };
    print(o);

    EXPECT_EQ(session_->stage.get(),
              "PDF1件とページ画像（PNG）3枚を保存しました。保存先：" + folderText(folder_));
    expectPutBack(backgroundsBefore);
    ASSERT_EQ(outputs(), (std::vector<std::string>{"print-page-0001.png", "print-page-0002.png",
                                                   "print-page-0003.png", "print.pdf"}));
    EXPECT_EQ(published, (std::vector<fs::path>{folder_ / "print.pdf", folder_ / "print-page-0001.png",
                                                folder_ / "print-page-0002.png", folder_ / "print-page-0003.png"}));
    EXPECT_EQ(stages, (std::vector<std::string>{"beforePrint", "printing", "afterPrint", "beforePublish", "writing",
                                                "rasterizing", "writing", "rasterizing", "writing", "rasterizing",
                                                "writing"}));

    const auto pages = pagesOf(folder_ / "print.pdf");
    ASSERT_EQ(pages.size(), 3u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(pages[i].width, 595, 1);
        EXPECT_NEAR(pages[i].height, 842, 1);
        EXPECT_NE(pages[i].text.find(title), std::string::npos) << pages[i].text;
        EXPECT_NE(pages[i].text.find(server_.url("/article")), std::string::npos);
        EXPECT_NE(pages[i].text.find(footerDate + std::to_string(i + 1) + "/3"), std::string::npos);
        EXPECT_NE(pages[i].text.find("Section" + std::to_string(i + 1)), std::string::npos);
    }
    for (int i = 1; i <= 3; ++i) {
        const RasterImage image = Raster::image(folder_ / ("print-page-000" + std::to_string(i) + ".png")).image;
        // 595 × 842 pt at 150 dpi, each side rounded up as every PDF raster.
        ASSERT_EQ(image.width(), 1240);
        ASSERT_EQ(image.height(), 1755);
        // The header band (34 to 66 pt from the top) holds the drawn title.
        int dark = 0;
        for (int y = 71; y < 137; ++y) {
            for (int x = 71; x < 600; ++x) dark += test::pixelAt(image, x, y)[0] < 100;
        }
        EXPECT_GT(dark, 50);
    }

    // The journal and the history.
    const auto folders = journals();
    ASSERT_EQ(folders.size(), 1u);
    const auto journal = journalAt(folders[0]);
    EXPECT_EQ(journal.kind, "print");
    EXPECT_EQ(journal.state, CaptureLifecycle::Journal::State::reconciled);
    EXPECT_EQ(journal.expectedCount, 4);
    ASSERT_TRUE(journal.metadata);
    EXPECT_EQ(journal.metadata->pageCount, 3);
    EXPECT_EQ(journal.metadata->format, "PDF + PNG");
    ASSERT_EQ(journal.outputs.size(), 4u);
    const auto entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, "print");
    EXPECT_EQ(entries[0].outputs.size(), 4u);

    // The trace and the observations of the print run.
    const auto& trace = *session_->operation.get();
    const auto names = eventNames(trace);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
              (std::vector<std::string>{"stopped", "completed"}));
    EXPECT_EQ(std::count(names.begin(), names.end(), "published"), 4);
    std::vector<std::string> stageItems;
    for (const auto& item : trace.items()) {
        if (item.event == Event::stage) stageItems.push_back(item.stage);
    }
    const std::vector<std::string> aroundTheRun = {"printing", "nativePrinting", "nativeReturned", "afterPrint"};
    EXPECT_NE(std::search(stageItems.begin(), stageItems.end(), aroundTheRun.begin(), aroundTheRun.end()),
              stageItems.end());
    std::vector<Kind> kinds;
    for (const auto& n : observed) kinds.push_back(n.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::factoryBegin, Kind::factoryReady, Kind::runCallBegin,
                                        Kind::runCallReturned, Kind::completionCallback, Kind::continuationResumed,
                                        Kind::pdfAvailable, Kind::decorationBegin, Kind::decorationEnd}));
    EXPECT_EQ(trace.nativeItems(), observed);
    EXPECT_FALSE(observed[0].saveDisposition);
    EXPECT_EQ(observed[1].saveDisposition, true);
    EXPECT_EQ(observed[1].hasSavingURL, true);
    EXPECT_EQ(observed[1].showsPrintPanel, false);
}

TEST_F(PrintRequest, PaperMarginOutputAndNamesFollowTheOptions) {
    load();
    const bool backgroundsBefore = backgrounds();
    // Letter landscape without a margin: the header bands alone, in the
    // page's print style while it prints.
    PrintSelection letter;
    letter.paper = PrintOptions::Paper::letter;
    letter.landscape = true;
    letter.margin = 0;
    letter.headerFooter = true;
    letter.output = Output::pdf;
    letter.backgrounds = !backgroundsBefore;
    PrintOptions o = options(letter);
    std::string style;
    bool backgroundsWhilePrinting = backgroundsBefore;
    o.checkpoint = [&](Stage s) -> Task<void> {
        if (s == Stage::printing) {
            Task<PageValue> read =
                session_->evaluate("document.querySelector('style[id^=\"brindlex-print-\"]').textContent");
            const PageValue value = co_await std::move(read);
            style = value.stringValue().value_or("");
            backgroundsWhilePrinting = backgrounds();
        }
        co_return;
    };
    print(o);
    EXPECT_EQ(session_->stage.get(), "PDF1件を保存しました。保存先：" + folderText(folder_));
    EXPECT_EQ(style, "@page { margin-top: 32.0pt !important; margin-bottom: 32.0pt !important; margin-left: 0.0pt "
                     "!important; margin-right: 0.0pt !important; }");
    EXPECT_EQ(backgroundsWhilePrinting, !backgroundsBefore);
    expectPutBack(backgroundsBefore);
    ASSERT_EQ(outputs(), std::vector<std::string>{"print.pdf"});
    for (const auto& page : pagesOf(folder_ / "print.pdf")) {
        EXPECT_NEAR(page.width, 792, 1);
        EXPECT_NEAR(page.height, 612, 1);
    }

    // PNG only: no PDF published.
    fs::remove_all(folder_);
    PrintSelection png;
    png.output = Output::png;
    print(options(png));
    EXPECT_EQ(outputs(), (std::vector<std::string>{"print-page-0001.png", "print-page-0002.png", "print-page-0003.png"}));

    // A stem names every file; a file of the PDF's name stays as it was.
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    test::writeFile(folder_ / "report.pdf", "the user's own file");
    PrintOptions named = options();
    named.filenameStem = "report";
    print(named);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"report.pdf", "report_0001.png", "report_0002.png",
                                                   "report_0003.png", "report_001.pdf"}));
    EXPECT_EQ(test::readFile(folder_ / "report.pdf"), "the user's own file");
    EXPECT_EQ(pagesOf(folder_ / "report_001.pdf").size(), 3u);
}

TEST_F(PrintRequest, RefusedRequestsChangeNothing) {
    load();
    int checkpoints = 0;
    auto counted = [&](PrintOptions o) {
        o.checkpoint = [&](Stage) -> Task<void> {
            ++checkpoints;
            co_return;
        };
        return o;
    };
    for (double margin : {7.0}) {
        PrintOptions o = counted(options());
        o.marginMM = margin;
        print(o);
        EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::invalidInput).what());
    }
    PrintOptions dpi = counted(options());
    dpi.dpi = 200;
    print(dpi);
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::invalidInput).what());
    EXPECT_EQ(checkpoints, 0);
    EXPECT_FALSE(fs::exists(folder_));
    EXPECT_TRUE(workFolders().empty());

    // A request while busy: no new trace, nothing started.
    PrintOptions slow = options();
    bool release = false;
    slow.checkpoint = [&](Stage) -> Task<void> {
        while (!release) co_await sleepFor(10ms);
    };
    session_->print(slow, folder_);
    auto trace = session_->operation.get();
    session_->print(options(), folder_);
    EXPECT_EQ(session_->operation.get(), trace);
    release = true;
    ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 60s));
    EXPECT_EQ(session_->stage.get(),
              "PDF1件とページ画像（PNG）3枚を保存しました。保存先：" + folderText(folder_));

    // A journal that cannot be opened ends the save before it prints.
    fs::remove_all(folder_);
    fs::remove_all(Phase0Work::lifecycle());
    test::writeFile(Phase0Work::lifecycle(), "not a folder");
    PrintOptions blocked = counted(options());
    checkpoints = 0;
    print(blocked);
    EXPECT_EQ(checkpoints, 0);
    EXPECT_FALSE(fs::exists(folder_));
    // The journal's own error, unchanged.
    std::string journalError;
    try {
        CaptureLifecycle(Phase0Work::lifecycle(), "print");
    } catch (const BrindlexError& e) {
        journalError = e.what();
    }
    EXPECT_FALSE(journalError.empty());
    EXPECT_EQ(session_->stage.get(), journalError);
    EXPECT_EQ(session_->operation.get()->items().back().event, Event::failed);
}

TEST_F(PrintRequest, APrivateSessionPublishesWithoutJournalOrHistory) {
    open(true);
    load();
    print(options());
    EXPECT_EQ(session_->stage.get(),
              "PDF1件とページ画像（PNG）3枚を保存しました。保存先：" + folderText(folder_));
    EXPECT_EQ(outputs().size(), 4u);
    EXPECT_TRUE(journals().empty());
    EXPECT_TRUE(history().empty());

    // A view in no window is refused.
    window_.reset();
    print(options());
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::invalidInput).what());
}

// The file printer records what it printed in the desktop's recent files, a
// scratch PDF of the work folder too; a save's work files never stay there,
// from a normal or a private tab, and the user's own entries stay as they
// were.
TEST_F(PrintRequest, TheRecentFilesKeepTheUsersEntriesAndNoneOfTheWorkFiles) {
    const fs::path xbel = fs::path(g_get_user_data_dir()) / "recently-used.xbel";
    ASSERT_TRUE(xbel.string().starts_with(fs::temp_directory_path().string())) << "not the user's real file";
    const fs::path documents = dir_ / "documents";
    fs::create_directories(documents);
    const std::vector<fs::path> mine{documents / "報告書.pdf", documents / "notes.txt"};
    // As another program of the user's desktop left it.
    const auto writeUsersList = [&] {
        GBookmarkFile* bookmarks = g_bookmark_file_new();
        for (const auto& file : mine) {
            test::writeFile(file, "mine");
            gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
            g_bookmark_file_set_mime_type(bookmarks, uri, "application/octet-stream");
            g_bookmark_file_add_application(bookmarks, uri, "editor", "editor %u");
            g_free(uri);
        }
        const bool written = g_bookmark_file_to_file(bookmarks, xbel.c_str(), nullptr);
        g_bookmark_file_free(bookmarks);
        return written;
    };
    ASSERT_TRUE(writeUsersList());
    // The hrefs of the file as it is now.
    const auto hrefs = [&] {
        std::vector<std::string> out;
        GBookmarkFile* bookmarks = g_bookmark_file_new();
        if (g_bookmark_file_load_from_file(bookmarks, xbel.c_str(), nullptr)) {
            gsize n = 0;
            gchar** uris = g_bookmark_file_get_uris(bookmarks, &n);
            for (gsize i = 0; i < n; ++i) out.emplace_back(uris[i]);
            g_strfreev(uris);
        }
        g_bookmark_file_free(bookmarks);
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto users = hrefs();
    ASSERT_EQ(users.size(), 2u);
    gchar* work = g_filename_to_uri(Phase0Work::root().c_str(), nullptr, nullptr);
    const std::string workURI = work;
    g_free(work);
    const auto holdsWorkFile = [&](const std::vector<std::string>& uris) {
        return std::any_of(uris.begin(), uris.end(), [&](const std::string& u) { return u.starts_with(workURI); });
    };

    // The manager records nothing for a program without a name; the
    // application has one.
    if (!g_get_prgname()) g_set_prgname("velmora");
    if (!g_get_application_name()) g_set_application_name("ベルモラ");
    GtkRecentManager* manager = gtk_recent_manager_get_default();
    gchar* firstURI = g_filename_to_uri(mine[0].c_str(), nullptr, nullptr);
    const std::string first = firstURI;
    g_free(firstURI);
    // The manager reads the file when made, or again when it sees it change.
    // A list with a change of its own not yet written (an earlier test's
    // save, whose entry GTK adds after the job) writes itself over the file
    // instead: the user's list is then written again, until the manager has
    // read it.
    ASSERT_TRUE(spinUntil(
        [&] {
            if (hrefs() != users) writeUsersList();
            return gtk_recent_manager_has_item(manager, first.c_str());
        },
        10s));

    // Each write of the list is followed by "changed": seen here, the file
    // shows whether the printer's entry was written.
    bool recorded = false;
    std::function<void()> onChanged = [&] { recorded = recorded || holdsWorkFile(hrefs()); };
    const gulong watch = g_signal_connect(
        manager, "changed",
        G_CALLBACK(+[](GtkRecentManager*, gpointer data) { (*static_cast<std::function<void()>*>(data))(); }),
        &onChanged);
    for (const bool privateTab : {false, true}) {
        open(privateTab);
        load();
        recorded = false;
        print(options());
        EXPECT_EQ(outputs().size(), 4u) << privateTab;
        fs::remove_all(folder_);
        // The printer's entry is written, then taken out again.
        EXPECT_TRUE(spinUntil([&] { return recorded && !holdsWorkFile(hrefs()); }, 20s))
            << privateTab << " recorded " << recorded << ": " << test::readFile(xbel);
        EXPECT_EQ(hrefs(), users) << privateTab;
    }
    g_signal_handler_disconnect(manager, watch);
    // The user's entries as they were, with their programs.
    GBookmarkFile* after = g_bookmark_file_new();
    ASSERT_TRUE(g_bookmark_file_load_from_file(after, xbel.c_str(), nullptr));
    for (const auto& uri : users) EXPECT_TRUE(g_bookmark_file_has_application(after, uri.c_str(), "editor", nullptr));
    g_bookmark_file_free(after);
}

TEST_F(PrintRequest, BrokenPrintsAreRenderFailedAndPutEverythingBack) {
    load();
    const bool before = backgrounds();
    TestEngine test;
    struct Case {
        const char* name;
        TestEngine::Mode mode;
        std::string bytes;
        bool printer;
    };
    const std::vector<Case> cases = {
        {"reported failure", TestEngine::Mode::fail, "", true},
        {"600 × 842 for A4", TestEngine::Mode::write, cairoPDF(dir_ / "wide.pdf", {{600, 842}}), true},
        {"no PDF", TestEngine::Mode::write, "%PDF-1.4 not really", true},
        {"no page", TestEngine::Mode::write, "", true},
        {"no printer", TestEngine::Mode::write, "", false},
    };
    test::writeRawPDF(dir_ / "empty.pdf", {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test.mode = c.mode;
        test.bytes = std::string(c.name) == "no page" ? test::readFile(dir_ / "empty.pdf") : c.bytes;
        test.printerFound = c.printer;
        test.runs = 0;
        PrintEngine::shared() = test.engine();
        print(options());
        EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::renderFailed).what());
        EXPECT_EQ(test.runs, c.printer ? 1 : 0);
        EXPECT_TRUE(outputs().empty());
        expectPutBack(before);
    }
    // The failed saves saved nothing: no row in the history.
    EXPECT_TRUE(history().empty());
}

TEST_F(PrintRequest, AFailureOrCancelAfterPublishingKeepsWhatWasPublished) {
    load();
    PrintOptions o = options();
    int pngWrites = 0;
    o.checkpoint = [&](Stage s) -> Task<void> {
        if (s == Stage::writing && ++pngWrites == 2) raise(ErrorCase::saveFailed);
        co_return;
    };
    print(o);
    EXPECT_EQ(session_->stage.get(),
              std::string("保存済み出力1件は保持しています。 ") + BrindlexError(ErrorCase::saveFailed).what());
    EXPECT_EQ(outputs(), std::vector<std::string>{"print.pdf"});
    auto entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, "partial");
    EXPECT_EQ(entries[0].error, ErrorCase::saveFailed);
    ASSERT_EQ(entries[0].outputs.size(), 1u);
    EXPECT_EQ(entries[0].outputs[0].path, (folder_ / "print.pdf").string());

    // A cancel while the second page is rendered.
    fs::remove_all(folder_);
    PrintOptions c = options();
    int rasterizing = 0;
    bool committed = false;
    c.checkpoint = [&](Stage s) -> Task<void> {
        if (s == Stage::rasterizing && ++rasterizing == 2) session_->cancel();
        co_return;
    };
    c.afterCommit = [&]() -> Task<void> {
        committed = true;
        co_return;
    };
    print(c);
    EXPECT_EQ(session_->stage.get(), "保存済み出力2件は保持しています。 処理を中止しました。確定済みの結果は保持しています。");
    EXPECT_EQ(outputs(), (std::vector<std::string>{"print-page-0001.png", "print.pdf"}));
    EXPECT_FALSE(committed);
    const auto names = eventNames(*session_->operation.get());
    EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()), (std::vector<std::string>{"stopped", "cancelled"}));
    expectPutBack(backgrounds());
}

TEST_F(PrintRequest, ASaveAlwaysEnds) {
    load();
    TestEngine test;
    test.mode = TestEngine::Mode::silent;

    // A run that never answers meets its watchdog.
    PrintEngine::shared() = test.engine(1s);
    print(options());
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::renderFailed).what());
    expectPutBack(backgrounds());

    // A cancel ends a run that never answers.
    PrintEngine::shared() = test.engine();
    PrintOptions o = options();
    o.nativeObservation = [&](const NativePrintObservation& n) {
        if (n.kind == Kind::runCallReturned) detail::onMainContext([this] { session_->cancel(); });
    };
    print(o);
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::cancelled).what());
    expectPutBack(backgrounds());

    // The web process going away mid-run fails the save at once, saying so.
    PrintOptions killed = options();
    killed.nativeObservation = [&](const NativePrintObservation& n) {
        if (n.kind == Kind::runCallReturned) {
            detail::onMainContext([this] { webkit_web_view_terminate_web_process(session_->webView()); });
        }
    };
    const auto start = std::chrono::steady_clock::now();
    print(killed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(session_->stage.get(), CaptureOutcome::pageEnded);
    EXPECT_FALSE(session_->busy.get());
}

// A page busy in a script loop answers no script: the save still ends when
// the user cancels, and the tab can then close.
TEST_F(PrintRequest, APageStuckInAScriptIsCancelledAndClosed) {
    load();
    eval("setTimeout(() => { for (;;) {} }, 100); true");
    test::spinFor(300ms);
    const auto start = std::chrono::steady_clock::now();
    session_->print(options(), folder_);
    test::spinFor(500ms);
    EXPECT_TRUE(session_->busy.get());
    session_->cancel();
    ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get(); }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::cancelled).what());
    EXPECT_FALSE(session_->hasPendingOperation());
    EXPECT_TRUE(outputs().empty());
    session_->shutdown();
    EXPECT_TRUE(session_->closingWeb());
    webkit_web_view_terminate_web_process(session_->webView());
}

// A page that gets stuck after its print style went in: the clean-up's
// removal script goes unanswered and is given up after its bound.
TEST_F(PrintRequest, AnUnansweredCleanUpScriptIsGivenUp) {
    load();
    TestEngine test;
    test.mode = TestEngine::Mode::silent;
    PrintEngine::shared() = test.engine();
    PrintOptions o = options();
    o.checkpoint = [&](Stage s) -> Task<void> {
        // The loop is sent ahead of every later script of the view, so the
        // page is stuck before the removal can be answered. (Started from a
        // page timer instead, it could begin after the removal's answer.)
        if (s == Stage::printing) {
            webkit_web_view_evaluate_javascript(session_->webView(), "for (;;) {}", -1, nullptr, nullptr, nullptr,
                                                nullptr, nullptr);
        }
        co_return;
    };
    std::optional<std::chrono::steady_clock::time_point> cancelled;
    o.nativeObservation = [&](const NativePrintObservation& n) {
        if (n.kind == Kind::runCallReturned) {
            detail::onMainContext([this, &cancelled] {
                cancelled = std::chrono::steady_clock::now();
                session_->cancel();
            });
        }
    };
    print(o);
    // From the cancel on, the save only tidies up, and the removal is the one
    // thing it waits on: at least its bound, then given up. The time before
    // the cancel (the run's preparation) is the machine's and not measured.
    ASSERT_TRUE(cancelled);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - *cancelled).count();
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(session_->stage.get(), BrindlexError(ErrorCase::cancelled).what());
    EXPECT_FALSE(session_->busy.get());
    for (const auto& work : workFolders()) {
        for (const auto& name : test::listNames(work)) EXPECT_TRUE(name == "lease" || name == "owner.json") << name;
    }
    webkit_web_view_terminate_web_process(session_->webView());
}

// A view and the window it opened share one settings object: two saves on
// them take turns with the background preference, each printing with its own
// choice, and the preference ends as it began.
TEST_F(PrintRequest, TwoSavesOnRelatedViewsDoNotMixTheirBackgrounds) {
    load();
    BrowserSession child(false, test::sharedEphemeralStore(),
                         WebViewConfiguration{GObjectRef<WebKitWebView>::ref(session_->webView())});
    test::WebTestWindow childWindow(child.frame(), 800, 600);
    ASSERT_TRUE(childWindow.waitUntilShown());
    child.navigate(server_.url("/article"));
    ASSERT_TRUE(spinUntil([&] { return child.pageTitle.get() == title && !child.loading; }));
    // As a page's own new window does, the second view uses the first one's
    // settings object.
    webkit_web_view_set_settings(child.webView(), webkit_web_view_get_settings(session_->webView()));

    const bool before = backgrounds();
    std::vector<std::pair<std::string, bool>> seen;
    auto observing = [&](const std::string& who, BrowserSession& s, bool choice) {
        PrintSelection selection;
        selection.backgrounds = choice;
        selection.output = Output::pdf;
        PrintOptions o = selection.options(s.currentURL.get(), s.pageTitle.get(), fixedDate);
        o.filenameStem = who;
        WebKitSettings* settings = webkit_web_view_get_settings(s.webView());
        o.checkpoint = [&seen, who, settings](Stage stage) -> Task<void> {
            if (stage == Stage::printing || stage == Stage::afterPrint)
                seen.emplace_back(who, webkit_settings_get_print_backgrounds(settings));
            co_return;
        };
        return o;
    };
    session_->print(observing("first", *session_, !before), folder_);
    child.print(observing("second", child, before), folder_);
    ASSERT_TRUE(spinUntil([&] { return !session_->operationPending.get() && !child.operationPending.get(); }, 60s));
    EXPECT_EQ(session_->stage.get(), "PDF1件を保存しました。保存先：" + folderText(folder_));
    EXPECT_EQ(child.stage.get(), "PDF1件を保存しました。保存先：" + folderText(folder_));
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{
                        {"first", !before}, {"first", !before}, {"second", before}, {"second", before}}));
    EXPECT_EQ(backgrounds(), before);
}
