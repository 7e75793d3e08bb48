#include <gtest/gtest.h>

#include <poppler.h>

#include <string>

#include "capture/PrintHeaderFooter.hpp"
#include "capture/PrintOptions.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/UUID.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/PrintRun.hpp"

using namespace velmora;
using test::runTask;
using test::spinUntil;
namespace fs = std::filesystem;

namespace {

struct DocumentUnref {
    void operator()(PopplerDocument* d) const { g_object_unref(d); }
};
using Document = std::unique_ptr<PopplerDocument, DocumentUnref>;

Document open(const fs::path& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    PopplerDocument* d = poppler_document_new_from_file(uri, nullptr, nullptr);
    g_free(uri);
    return Document(d);
}

std::string pageText(PopplerDocument* d, int index) {
    PopplerPage* page = poppler_document_get_page(d, index);
    char* text = poppler_page_get_text(page);
    std::string s = text ? text : "";
    g_free(text);
    g_object_unref(page);
    return s;
}

std::string withoutBlanks(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c != ' ' && c != '\n') out += c;
    }
    return out;
}

}  // namespace

// A page the web engine itself printed to the file printer keeps its own text
// when the header and footer are stamped on it.
TEST(PrintStamp, AWebKitPrintedArticleIsStampedAndKeepsItsText) {
    std::string article = "<!doctype html><meta charset=utf-8><title>記事の題名</title><body style='font:14px sans-serif'>";
    for (int i = 1; i <= 60; ++i) {
        article += "<p>Paragraph " + std::to_string(i) + " of the loopback article, long enough to wrap across the "
                   "printed line more than once so that the article fills several pages.</p>";
    }
    test::WebTestServer server;
    server.html("/article", article);
    BrowserSession session(true);
    test::WebTestWindow window(session.frame());
    ASSERT_TRUE(window.waitUntilShown());
    session.navigate(server.url("/article"));
    ASSERT_TRUE(spinUntil([&] { return session.pageTitle == "記事の題名" && !session.loading; }));

    const auto printer = runTask(PrintRun::pdfPrinterName());
    ASSERT_TRUE(printer) << "the GTK file printer was not found";

    test::TempDir tmp;
    OwnedWorkspace work(tmp / "printing", OwnedRecord::Purpose::printScratch, UUID::random(), UUID::random(),
                        UUID::random());
    const fs::path scratch = work.reserveMutablePDF();
    PrintOptions options;
    options.headerFooter = true;
    auto setup = PrintRun::pageSetup(options);
    auto settings = PrintRun::printSettings(*printer, scratch);
    runTask(PrintRun::print(session.webView(), setup.get(), settings.get()), std::chrono::seconds(60));
    // The printer replaced the reserved file with one of its own.
    work.registerFile(scratch);

    Document printed = open(scratch);
    ASSERT_TRUE(printed);
    const int pages = poppler_document_get_n_pages(printed.get());
    ASSERT_GE(pages, 2);
    const fs::path stamped = PrintHeaderFooter::stamp(printed.get(), work, 34, "記事の題名", server.url("/article"),
                                                      "2026/05/01 09:30");
    Document result = open(stamped);
    ASSERT_TRUE(result);
    ASSERT_EQ(poppler_document_get_n_pages(result.get()), pages);
    for (int i = 0; i < pages; ++i) {
        SCOPED_TRACE(i);
        PopplerPage* page = poppler_document_get_page(result.get(), i);
        double w = 0, h = 0;
        poppler_page_get_size(page, &w, &h);
        g_object_unref(page);
        EXPECT_NEAR(w, 595.28, 1);
        EXPECT_NEAR(h, 841.89, 1);
        const std::string text = withoutBlanks(pageText(result.get(), i));
        EXPECT_NE(text.find("記事の題名"), std::string::npos);
        EXPECT_NE(text.find(withoutBlanks(server.url("/article"))), std::string::npos);
        EXPECT_NE(text.find("2026/05/0109:30" + std::to_string(i + 1) + "/" + std::to_string(pages)), std::string::npos)
            << text;
        // The article's own text, as printed, is still text.
        const std::string body = withoutBlanks(pageText(printed.get(), i));
        ASSERT_GT(body.size(), 100u);
        EXPECT_NE(text.find(body.substr(0, 60)), std::string::npos);
        EXPECT_NE(text.find(body.substr(body.size() - 60)), std::string::npos);
    }
    EXPECT_NE(withoutBlanks(pageText(result.get(), 0)).find("Paragraph1oftheloopbackarticle"), std::string::npos);
    work.finish();
    EXPECT_EQ(test::listNames(work.directory().url()), (std::vector<std::string>{"lease", "owner.json"}));
}
