#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/GLibError.hpp"
#include "foundation/UUID.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/NavigationPolicy.hpp"
#include "webcapture/WebHooks.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::runTask;
using test::spinFor;
using test::spinUntil;

namespace {

// Where the engine itself would save a download nobody answered: the
// user's download folder, or the home folder without one.
std::filesystem::path engineDownloadFolder() {
    const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    return downloads ? downloads : g_get_home_dir();
}

std::string page(const std::string& title, const std::string& body = "", const std::string& head = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title>" + head + "</head><body>" +
           body + "</body></html>";
}

std::string requestOf(WebKitDownload* download) {
    return webkit_uri_request_get_uri(webkit_download_get_request(download));
}

// A one-page PDF with a large black square: its rendering is not blank.
std::string blackSquarePDF() {
    test::TempDir dir;
    test::writePDF(dir / "doc.pdf", {{400, 400}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, 20, 20, 360, 360);
        cairo_fill(cr);
    });
    return test::readFile(dir / "doc.pdf");
}

// Dark pixels in a snapshot of what the view shows.
int darkPixels(BrowserSession& session) {
    auto texture = runTask(session.snapshot(WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE));
    const int width = gdk_texture_get_width(texture.get()), height = gdk_texture_get_height(texture.get());
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    gdk_texture_download(texture.get(), pixels.data(), static_cast<gsize>(width) * 4);
    int dark = 0;
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4)
        if (pixels[i] < 60 && pixels[i + 1] < 60 && pixels[i + 2] < 60) ++dark;
    return dark;
}

// Every download the engine announces on a network session, seen after the
// session's dispatcher: whether it ended cancelled and whether anyone was
// asked for a destination.
struct DownloadWatch {
    struct Seen {
        std::string address;
        bool cancelled = false;
        bool askedDestination = false;
    };
    std::vector<std::shared_ptr<Seen>> seen;
    SignalConnection connection;

    explicit DownloadWatch(WebKitNetworkSession* network) {
        connection = SignalConnection(
            network, g_signal_connect(network, "download-started", G_CALLBACK(+[](WebKitNetworkSession*,
                                                                                  WebKitDownload* d, gpointer self) {
                auto seen = std::make_shared<Seen>();
                seen->address = requestOf(d);
                static_cast<DownloadWatch*>(self)->seen.push_back(seen);
                // The records live as long as the downloads: each signal
                // holds its own reference.
                auto* held = new std::shared_ptr<Seen>(seen);
                g_signal_connect_data(
                    d, "failed", G_CALLBACK(+[](WebKitDownload*, GError* error, gpointer s) {
                        if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER))
                            (*static_cast<std::shared_ptr<Seen>*>(s))->cancelled = true;
                    }),
                    held, +[](gpointer s, GClosure*) { delete static_cast<std::shared_ptr<Seen>*>(s); },
                    GConnectFlags(0));
                g_signal_connect_data(
                    d, "decide-destination", G_CALLBACK(+[](WebKitDownload*, char*, gpointer s) -> gboolean {
                        (*static_cast<std::shared_ptr<Seen>*>(s))->askedDestination = true;
                        return FALSE;
                    }),
                    new std::shared_ptr<Seen>(seen),
                    +[](gpointer s, GClosure*) { delete static_cast<std::shared_ptr<Seen>*>(s); }, GConnectFlags(0));
            }),
                                       this));
    }
};

// Files in the engine's download folder whose name begins with prefix.
int filesNamed(const std::string& prefix) {
    int n = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(engineDownloadFolder(), error))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
    return n;
}

class Navigation : public testing::Test {
protected:
    void SetUp() override {
        WebHooks::shared().normalStore = [] { return test::sharedPersistentStore(); };
    }
    void TearDown() override { WebHooks::shared().normalStore = nullptr; }

    // Loads a path of the server and waits until the page has finished.
    bool load(BrowserSession& session, const std::string& path) {
        session.navigate(server_.url(path));
        const std::string address = server_.url(path);
        return spinUntil([&] { return !session.loading && session.currentURL.get() == address && session.navigationNotice == ""; });
    }

    test::WebTestServer server_;
};

}  // namespace

TEST_F(Navigation, TheAddressRuleKeepsATabOnWebAddresses) {
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    for (const char* allowed : {"https://example.com/", "http://127.0.0.1:8080/x?q#f", "about:blank"})
        EXPECT_TRUE(session.allowedNavigation(allowed)) << allowed;
    for (const char* refused :
         {"file:///etc/hostname", "data:text/html,<p>x", "ftp://example.com/", "javascript:alert(1)", "about:blank#x",
          "about:srcdoc", "about:config", "http://user@example.com/", "https:///x", "", "webkit-pdfjs-viewer://pdfjs/"})
        EXPECT_FALSE(session.allowedNavigation(refused)) << refused;

    // Before any page has finished, every blob address is refused.
    const std::string sameOrigin = "blob:" + server_.url("/0f1e2d3c");
    EXPECT_FALSE(session.allowedNavigation(sameOrigin));
    server_.html("/a", page("A"));
    ASSERT_TRUE(load(session, "/a"));
    EXPECT_EQ(session.documentOrigin, server_.url("/a"));
    EXPECT_TRUE(session.allowedNavigation(sameOrigin));
    EXPECT_FALSE(session.allowedNavigation("blob:http://127.0.0.1/0f1e2d3c")) << "an absent port is not the server's";
    EXPECT_FALSE(session.allowedNavigation("blob:https://127.0.0.1:" + std::to_string(server_.port()) + "/0f"));
    EXPECT_FALSE(session.allowedNavigation("blob:http://localhost:" + std::to_string(server_.port()) + "/0f"));
    EXPECT_FALSE(session.allowedNavigation("blob:not an address"));

    // The page opens a blob of its own: allowed, and it loads.
    runTask(test::evaluate(session.webView(),
                           "location.href = URL.createObjectURL(new Blob(['<title>ブロブ</title>'], {type: 'text/html;charset=utf-8'}))"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "ブロブ" && !session.loading; }));
    EXPECT_EQ(session.navigationNotice.get(), "");
    EXPECT_EQ(session.documentOrigin, server_.url("/a")) << "a blob page is no http page";

    GError* cancelled = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, "x");
    GError* interrupted =
        g_error_new_literal(WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, "x");
    GError* failed = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FAILED, "x");
    GError* otherDomain = g_error_new_literal(G_IO_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, "x");
    EXPECT_TRUE(BrowserSession::isNavigationInterruption(cancelled));
    EXPECT_TRUE(BrowserSession::isNavigationInterruption(interrupted));
    EXPECT_FALSE(BrowserSession::isNavigationInterruption(failed));
    EXPECT_FALSE(BrowserSession::isNavigationInterruption(otherDomain));
    EXPECT_FALSE(BrowserSession::isNavigationInterruption(nullptr));
    for (GError* e : {cancelled, interrupted, failed, otherDomain}) g_error_free(e);
}

TEST_F(Navigation, APageCannotLeaveTheWebOrMoveDuringASave) {
    server_.html("/links", page("リンク", "<a id=file href='file:///etc/hostname'>f</a>"
                                          "<a id=data href='data:text/html,<title>d</title>'>d</a>"
                                          "<a id=ftp href='ftp://127.0.0.1/x'>ftp</a>"
                                          "<a id=web href='/b'>b</a>"));
    server_.html("/b", page("B"));
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    ASSERT_TRUE(load(session, "/links"));

    for (const char* script : {"document.getElementById('data').click()", "document.getElementById('ftp').click()",
                               "location.href = 'data:text/html,x'", "location.assign('ftp://127.0.0.1/')"}) {
        session.navigationNotice = std::string();
        runTask(test::evaluate(session.webView(), script));
        ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == "このアドレスへの移動は許可されていません。"; }))
            << script;
        EXPECT_EQ(session.currentURL.get(), server_.url("/links")) << script;
    }
    // A file address from a web page never even reaches the policy: the
    // engine refuses it first, without a notice. It stays unloaded.
    session.navigationNotice = std::string();
    runTask(test::evaluate(session.webView(), "document.getElementById('file').click()"));
    runTask(test::evaluate(session.webView(), "location.href = 'file:///etc/hostname'"));
    spinFor(300ms);
    EXPECT_EQ(session.currentURL.get(), server_.url("/links"));
    EXPECT_EQ(session.pageTitle.get(), "リンク");

    // During a save the page's own navigation is cancelled, and so is a
    // going back.
    session.operationPending = true;
    runTask(test::evaluate(session.webView(), "document.getElementById('web').click()"));
    ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == "保存中のページは移動できません。"; }));
    spinFor(200ms);
    EXPECT_EQ(server_.requests("/b"), 0);
    EXPECT_EQ(session.pageTitle.get(), "リンク");
    session.operationPending = false;

    // The tab's refusal (the site-data gate) cancels the page's navigation
    // too; once it allows, the link is followed.
    int asked = 0;
    bool permit = false;
    session.navigationPermitted = [&] {
        ++asked;
        return permit;
    };
    session.navigationNotice = std::string();
    runTask(test::evaluate(session.webView(), "document.getElementById('web').click()"));
    ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == "このアドレスへの移動は許可されていません。"; }));
    EXPECT_GE(asked, 1);
    permit = true;
    runTask(test::evaluate(session.webView(), "document.getElementById('web').click()"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "B" && !session.loading; }));
    EXPECT_EQ(session.navigationNotice.get(), "");

    // After shutdown the old page, kept alive by a script, may still try:
    // nothing is loaded and nothing of the session changes.
    auto old = GObjectRef<WebKitWebView>::ref(session.webView());
    session.shutdown();
    const int before = asked;
    server_.html("/c", page("C"));
    runTask(test::evaluate(old.get(), "location.href = '/c'"));
    spinFor(300ms);
    EXPECT_EQ(server_.requests("/c"), 0);
    EXPECT_EQ(asked, before);
    EXPECT_EQ(session.pageTitle.get(), "B");
}

TEST_F(Navigation, ResponsesAreShownDownloadedOrRefused) {
    const std::string pdf = blackSquarePDF();
    server_.bytes("/doc.pdf", "APPLICATION/PDF", pdf);
    server_.bytes("/a.pdf", "application/pdf", pdf, {{"Content-Disposition", "  Attachment; filename=a.pdf"}});
    server_.bytes("/unknown", "application/x-velmora-unknown", "payload");
    server_.html("/framed", page("枠", "<iframe src='/doc.pdf' width=300 height=300></iframe>"));
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    std::vector<std::string> handed;
    session.downloadStarted = [&](WebKitDownload* d) {
        handed.push_back(requestOf(d));
        webkit_download_cancel(d);
    };

    // The engine shows the PDF itself, in its viewer's sub-frame: the page
    // is not blank.
    ASSERT_TRUE(load(session, "/doc.pdf"));
    EXPECT_TRUE(session.displayedPDF);
    ASSERT_TRUE(spinUntil([&] { return darkPixels(session) > 10000; }, 15s)) << "the PDF is drawn";
    EXPECT_TRUE(session.displayedPDF) << "its viewer frame leaves it displayed";
    EXPECT_EQ(session.navigationNotice.get(), "");
    EXPECT_TRUE(handed.empty());

    // An attachment goes to the tab's downloads; the PDF stays on screen but
    // no longer counts as displayed.
    std::vector<std::string> notices;
    auto watch = session.changed.connect([&] {
        if (notices.empty() || notices.back() != session.navigationNotice.get())
            notices.push_back(session.navigationNotice.get());
    });
    session.navigate(server_.url("/a.pdf"));
    ASSERT_TRUE(spinUntil([&] { return handed.size() == 1 && !session.loading; }));
    EXPECT_EQ(handed[0], server_.url("/a.pdf"));
    EXPECT_FALSE(session.displayedPDF);
    EXPECT_EQ(session.navigationNotice.get(), "") << "the interrupted load empties 読み込み中";
    EXPECT_NE(std::find(notices.begin(), notices.end(), "読み込み中"), notices.end());
    watch.disconnect();

    // A type the view cannot show becomes a download without a header.
    session.navigate(server_.url("/unknown"));
    ASSERT_TRUE(spinUntil([&] { return handed.size() == 2 && !session.loading; }));
    EXPECT_EQ(handed[1], server_.url("/unknown"));

    // A PDF in a sub-frame is not the tab's PDF.
    ASSERT_TRUE(load(session, "/framed"));
    ASSERT_TRUE(spinUntil([&] { return server_.requests("/doc.pdf") >= 2; }));
    spinFor(300ms);
    EXPECT_FALSE(session.displayedPDF);
    EXPECT_EQ(handed.size(), 2u);
}

TEST_F(Navigation, EachDownloadReachesItsOwnTabOrIsCancelled) {
    // Names of this run only, so a file the engine saved by itself could not
    // be an older one.
    const std::string prefix = "velmora-" + UUID::random().text() + "-";
    for (const char* name : {"/file-a.bin", "/file-b.bin", "/file-c.bin", "/file-d.bin"})
        server_.bytes(name, "application/octet-stream", std::string(2048, 'x'),
                      {{"Content-Disposition", "attachment; filename=" + prefix + (name + 1)}});
    WebKitNetworkSession* network = test::sharedEphemeralStore();
    BrowserSession a(true, network), b(true, network), c(true, network);
    test::WebTestWindow windowA(a.frame()), windowB(b.frame()), windowC(c.frame());
    DownloadWatch watch(network);
    test::TempDir target;

    // The receiver answers the destination itself, so the download runs to
    // its end in a folder it chose.
    std::vector<std::string> toA, toB;
    bool finishedA = false;
    a.downloadStarted = [&](WebKitDownload* d) {
        toA.push_back(requestOf(d));
        g_signal_connect(d, "decide-destination", G_CALLBACK(+[](WebKitDownload* d, char*, gpointer dir) -> gboolean {
                             auto path = *static_cast<std::filesystem::path*>(dir) / "received";
                             webkit_download_set_destination(d, path.c_str());
                             return TRUE;
                         }),
                         const_cast<std::filesystem::path*>(&target.path()));
        g_signal_connect(d, "finished", G_CALLBACK(+[](WebKitDownload*, gpointer done) {
                             *static_cast<bool*>(done) = true;
                         }),
                         &finishedA);
    };
    b.downloadStarted = [&](WebKitDownload* d) {
        toB.push_back(requestOf(d));
        webkit_download_cancel(d);
    };
    a.navigate(server_.url("/file-a.bin"));
    b.navigate(server_.url("/file-b.bin"));
    ASSERT_TRUE(spinUntil([&] { return finishedA && toB.size() == 1; }));
    EXPECT_EQ(toA, std::vector<std::string>{server_.url("/file-a.bin")});
    EXPECT_EQ(toB, std::vector<std::string>{server_.url("/file-b.bin")});
    EXPECT_EQ(test::readFile(target / "received"), std::string(2048, 'x'));

    // Nobody to receive it: cancelled before anyone is asked where to save.
    c.navigate(server_.url("/file-c.bin"));
    ASSERT_TRUE(spinUntil([&] { return watch.seen.size() == 3 && watch.seen[2]->cancelled; }));
    EXPECT_EQ(watch.seen[2]->address, server_.url("/file-c.bin"));
    EXPECT_FALSE(watch.seen[2]->askedDestination);

    // After shutdown the old view's downloads belong to nobody.
    auto old = GObjectRef<WebKitWebView>::ref(a.webView());
    a.shutdown();
    g_object_unref(webkit_web_view_download_uri(old.get(), server_.url("/file-d.bin").c_str()));
    ASSERT_TRUE(spinUntil([&] { return watch.seen.size() == 4 && watch.seen[3]->cancelled; }));
    EXPECT_FALSE(watch.seen[3]->askedDestination);
    EXPECT_EQ(toA.size(), 1u);

    spinFor(200ms);
    EXPECT_EQ(filesNamed(prefix), 0) << "nothing was saved where nobody chose: " << engineDownloadFolder();
}

TEST_F(Navigation, FailedStoppedAndInterruptedLoadsKeepTheRightNotice) {
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    server_.html("/a", page("A"));
    ASSERT_TRUE(load(session, "/a"));

    // A refused connection: no engine error page, and the finish the engine
    // reports after the failure neither wipes the notice nor makes the
    // failed address the document's origin.
    EXPECT_EQ(session.failedURL.get(), std::nullopt);
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(test::WebTestServer::closedPort()) + "/";
    session.navigate(unreachable);
    ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == BrowserSession::loadFailedNotice && !session.loading; }));
    spinFor(300ms);
    EXPECT_EQ(session.navigationNotice.get(), "ページを読み込めません。アドレスと接続を確認してください。");
    EXPECT_EQ(session.documentOrigin, server_.url("/a"));
    // The failure is the tab's until another load begins: its address is
    // kept, whatever the view still shows of the page before.
    EXPECT_EQ(session.failedURL.get(), unreachable);

    // A stop during a held response keeps its own notice.
    server_.held("/slow", page("遅い"));
    session.navigate(server_.url("/slow"));
    ASSERT_TRUE(spinUntil([&] { return server_.requests("/slow") == 1 && session.navigationNotice == "読み込み中"; }));
    EXPECT_EQ(session.failedURL.get(), std::nullopt) << "a new load ends the failure";
    session.stopNavigation();
    ASSERT_TRUE(spinUntil([&] { return !session.loading; }));
    spinFor(300ms);
    EXPECT_EQ(session.navigationNotice.get(), "読み込みを停止しました。");
    EXPECT_EQ(session.failedURL.get(), std::nullopt) << "a stop is no failure";
    server_.release("/slow");

    // Only http and https pages become the document's origin.
    runTask(test::evaluate(session.webView(), "location.href = 'about:blank'"));
    ASSERT_TRUE(spinUntil([&] { return session.currentURL.get() == std::optional<std::string>("about:blank") && !session.loading; }));
    EXPECT_EQ(session.navigationNotice.get(), "");
    EXPECT_EQ(session.documentOrigin, server_.url("/a"));
}

TEST_F(Navigation, TheDisplayedPDFIsDownloadedOnlyWhenItCanBeFetchedAgain) {
    const std::string pdf = blackSquarePDF();
    server_.bytes("/doc.pdf", "application/pdf", pdf);
    server_.bytes("/posted.pdf", "application/pdf", pdf);
    server_.redirect("/after-post", "/doc.pdf", 303);
    server_.html("/form", page("フォーム", "<form id=f method=post action='/posted.pdf'><input name=q value=1></form>"
                                           "<form id=g method=post action='/after-post'><input name=q value=1></form>"));
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    std::vector<std::string> handed;
    session.downloadStarted = [&](WebKitDownload* d) {
        handed.push_back(requestOf(d));
        webkit_download_cancel(d);
    };
    const std::string refusal = "送信済みの内容は自動で再送しません。ページのダウンロードリンクをご利用ください。";

    // An HTML page shows no PDF.
    ASSERT_TRUE(load(session, "/form"));
    session.saveDisplayedPDF();
    EXPECT_EQ(session.navigationNotice.get(), refusal);

    // A PDF answering a form post is not posted again.
    runTask(test::evaluate(session.webView(), "document.getElementById('f').submit()"));
    ASSERT_TRUE(spinUntil([&] { return session.displayedPDF && !session.loading; }));
    EXPECT_EQ(session.lastMainMethod, "POST");
    session.saveDisplayedPDF();
    EXPECT_EQ(session.navigationNotice.get(), refusal);
    spinFor(300ms);
    EXPECT_TRUE(handed.empty());
    EXPECT_EQ(server_.methods("/posted.pdf"), std::vector<std::string>{"POST"});

    // One reached by GET is downloaded once, for its own address; a post
    // that redirects ends in a GET.
    session.navigate(server_.url("/form"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "フォーム" && !session.loading; }));
    runTask(test::evaluate(session.webView(), "document.getElementById('g').submit()"));
    ASSERT_TRUE(spinUntil([&] { return session.displayedPDF && !session.loading; }));
    EXPECT_EQ(session.currentURL.get(), server_.url("/doc.pdf"));
    EXPECT_EQ(session.lastMainMethod, "GET");
    session.navigationNotice = std::string();
    session.saveDisplayedPDF();
    ASSERT_TRUE(spinUntil([&] { return handed.size() == 1; }));
    spinFor(300ms);
    EXPECT_EQ(handed, std::vector<std::string>{server_.url("/doc.pdf")});
    EXPECT_EQ(session.navigationNotice.get(), "");

    // Never during a save.
    session.operationPending = true;
    session.saveDisplayedPDF();
    EXPECT_EQ(session.navigationNotice.get(), refusal);
    spinFor(200ms);
    EXPECT_EQ(handed.size(), 1u);
    session.operationPending = false;
}

TEST_F(Navigation, NewWindowsOpenOnlyForTheUserAndOnTheSameStore) {
    server_.html("/opener", page("親", "<button id=open onclick=\"window.open('/child')\">o</button>"
                                       "<button id=bad onclick=\"window.open('file:///etc/hostname')\">b</button>"));
    server_.html("/child", page("子"));
    server_.html("/timer", page("timer"));
    server_.html("/flood", page("flood", "<script>setTimeout(() => { for (let i = 0; i < 100; i++) "
                                         "window.open('/timer') }, 50); setTimeout(() => document.title = 'done', 300)"
                                         "</script>"));
    server_.challenge("/secret", page("認証が必要です"));
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    ASSERT_TRUE(load(session, "/opener"));

    std::vector<std::unique_ptr<BrowserSession>> children;
    bool answerNull = false;
    session.childRequested = [&](const WebViewConfiguration& configuration) -> WebKitWebView* {
        if (answerNull) return nullptr;
        children.push_back(std::make_unique<BrowserSession>(true, nullptr, configuration));
        return children.back()->webView();
    };

    // A click the user makes (a script the test runs counts as one).
    runTask(test::evaluate(session.webView(), "document.getElementById('open').click()"));
    ASSERT_TRUE(spinUntil([&] { return children.size() == 1; }));
    BrowserSession& child = *children[0];
    EXPECT_EQ(webkit_web_view_get_network_session(child.webView()),
              webkit_web_view_get_network_session(session.webView()));
    test::WebTestWindow childWindow(child.frame());
    ASSERT_TRUE(spinUntil([&] { return child.pageTitle == "子" && !child.loading; }));
    int closes = 0;
    child.closeRequested = [&] { ++closes; };
    runTask(test::evaluate(child.webView(), "window.close()"));
    ASSERT_TRUE(spinUntil([&] { return closes == 1; }));

    // From a page's timer, without the user, nothing opens; not even a
    // hundred times.
    ASSERT_TRUE(load(session, "/flood"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "done"; }));
    spinFor(200ms);
    EXPECT_EQ(children.size(), 1u);
    EXPECT_EQ(server_.requests("/timer"), 0);
    ASSERT_TRUE(load(session, "/opener"));

    session.navigationNotice = std::string();
    runTask(test::evaluate(session.webView(), "document.getElementById('bad').click()"));
    ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == "この別タブの移動は許可されていません。"; }));
    EXPECT_EQ(children.size(), 1u);

    answerNull = true;
    runTask(test::evaluate(session.webView(), "document.getElementById('open').click()"));
    ASSERT_TRUE(spinUntil([&] { return session.navigationNotice == "別タブを開けませんでした。"; }));

    // During a save no tab opens and the owner is not asked.
    answerNull = false;
    session.navigationNotice = std::string();
    session.operationPending = true;
    runTask(test::evaluate(session.webView(), "document.getElementById('open').click()"));
    spinFor(300ms);
    EXPECT_EQ(children.size(), 1u);
    session.operationPending = false;

    // A Basic challenge shows the page's own answer, no sign-in dialog.
    session.navigate(server_.url("/secret"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "認証が必要です" && !session.loading; }));
}
