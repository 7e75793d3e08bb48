// The print pipeline: one call prints the page, checks, stamps and publishes.
//
// What a crash leaves at each step: before the print, an empty reserved PDF
// in a leased work folder; after it, the printed scratch (registered once it
// is read) and, with a header, the stamped copy; during publication, files
// that the journal (kept by the request) has announced before linking them.
// The launch-time clean-up of print work folders removes the recorded files
// of folders whose lease is free; what was published stays.
#include "webcapture/WebPrinter.hpp"

#include <poppler.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "foundation/BrindlexError.hpp"
#include "foundation/ExportBatch.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
#include "foundation/WorkerBudget.hpp"
#include "capture/PrintHeaderFooter.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/PrintRun.hpp"

namespace velmora {

using Stage = PrintOptions::Stage;
using Kind = NativePrintObservation::Kind;
namespace fs = std::filesystem;

void PrintCompletion::deliver(bool success, const PrintClock& clock) {
    if (!continuation) return;
    Resumer<bool> taken = std::move(*continuation);
    continuation.reset();
    if (onCompletion) onCompletion(clock);
    taken.resume(success);
}

void PrintCompletion::fail(std::exception_ptr error) {
    if (!continuation) return;
    Resumer<bool> taken = std::move(*continuation);
    continuation.reset();
    taken.fail(std::move(error));
}

PrintEngine PrintEngine::system() {
    PrintEngine engine;
    engine.findPrinter = [] { return PrintRun::pdfPrinterName(); };
    engine.prepare = PrintRun::prepareOperation;
    engine.run = PrintRun::startOperation;
    return engine;
}

PrintEngine& PrintEngine::shared() {
    static PrintEngine engine = system();
    return engine;
}

namespace {

constexpr std::chrono::milliseconds cleanupScriptBound{2000};

// One view's background preference is shared with the views it opened: two
// saves must not interleave between setting it and the end of their run.
bool& backgroundsGateHeld() {
    static bool held = false;
    return held;
}

std::string pointText(double points) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", points);
    return text;
}

// What staging one output came to: nothing wrong, or the error of drawing
// it or of writing it, each reported where the one-by-one save met it.
struct Staged {
    std::exception_ptr renderError;
    std::exception_ptr writeError;
};

// Draws and encodes the pages of the PDF at dpi and writes each into its
// slot of the batch (page i into slot first + i), on as many threads as the
// worker budget gives a save and the memory of one page drawn whole allows,
// each with a document of its own: a Poppler
// document is never shared between threads. Threads take the next page not
// yet taken, so pages of unequal cost even out. Runs on a worker of the
// task; returns once every thread has ended, stopping after the page in hand
// when the task is cancelled, so no thread still reads the PDF after it.
std::vector<Staged> stagePages(const fs::path& pdf, int pages, double dpi, Size paper, ExportBatch& batch,
                               std::size_t first, std::optional<std::size_t> failAfterBytes) {
    // Drawn one at a time, a page was held whole twice over (the drawing
    // and its copy, 7 bytes a pixel). Drawn at once, the pages hold no more:
    // each thread draws an eighth of a page at a time beside its encoder,
    // and there are no more threads than that leaves room for.
    const auto side = [dpi](double points) { return static_cast<int64_t>(std::ceil(dpi * points / 72)); };
    const int64_t width = side(paper.width);
    const int64_t height = side(paper.height);
    const int64_t band = std::max<int64_t>(width * height * 4 / 8, width * 4);
    const int64_t room = width * height * 7 / (band + Raster::PDFPages::encoderBytes);
    const int threads =
        static_cast<int>(std::clamp<int64_t>(std::min<int64_t>(WorkerBudget::pageThreads(), room), 1, pages));

    std::vector<Staged> staged(static_cast<std::size_t>(pages));
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    auto work = [&](bool task) {
        std::optional<Raster::PDFPages> document;
        std::exception_ptr openError;
        try {
            document.emplace(pdf);
        } catch (...) {
            openError = std::current_exception();
        }
        for (;;) {
            // Only the task's own worker can read its cancel; it tells the
            // others.
            if (task && isCurrentTaskCancelled()) stop = true;
            if (stop) return;
            const int i = next++;
            if (i >= pages) return;
            Staged& s = staged[static_cast<std::size_t>(i)];
            std::vector<uint8_t> png;
            try {
                if (openError) std::rethrow_exception(openError);
                png = document->png(i, dpi, band);
            } catch (...) {
                s.renderError = std::current_exception();
                continue;
            }
            try {
                batch.write(first + static_cast<std::size_t>(i), png, failAfterBytes);
            } catch (...) {
                s.writeError = std::current_exception();
            }
        }
    };
    std::vector<std::thread> others;
    try {
        for (int t = 1; t < threads; ++t) others.emplace_back(work, false);
    } catch (const std::system_error&) {
        // Fewer threads than asked for still draw every page.
    }
    work(true);
    for (auto& t : others) t.join();
    checkCancellation();
    return staged;
}

struct DocumentUnref {
    void operator()(PopplerDocument* d) const noexcept { g_object_unref(d); }
};
using Document = std::unique_ptr<PopplerDocument, DocumentUnref>;

// One call of the pipeline and what it has changed so far, so every path
// out puts back exactly that.
class PrintJob {
public:
    PrintJob(BrowserSession& session, PrintOptions options, fs::path output)
        : session_(session), options_(std::move(options)), output_(std::move(output)), engine_(PrintEngine::shared()) {}

    ~PrintJob() {
        // A task discarded midway still gives the gate and the preference
        // back; the work folder's lease goes with it.
        restoreBackgrounds();
        if (watchdog_) g_source_remove(watchdog_);
    }

    Task<std::vector<fs::path>> run();

private:
    Task<void> checkpoint(Stage stage) {
        if (options_.checkpoint) co_await options_.checkpoint(stage);
    }
    void observe(Kind kind, const PrintClock& clock = PrintClock()) {
        if (!options_.nativeObservation) return;
        options_.nativeObservation(NativePrintObservation(kind, GTK_WIDGET(view_.get()), operationSettings_, clock));
    }
    void restoreBackgrounds() {
        if (!backgroundsChanged_) return;
        webkit_settings_set_print_backgrounds(webkit_web_view_get_settings(view_.get()), previousBackgrounds_);
        backgroundsChanged_ = false;
        backgroundsGateHeld() = false;
    }
    Task<void> takeBackgroundsGate() {
        while (backgroundsGateHeld()) co_await sleepFor(std::chrono::milliseconds(20));
        backgroundsGateHeld() = true;
    }
    Task<bool> printRun(GObject* operation);
    Task<void> cleanUp();
    fs::path publish(std::size_t slot, const std::string& stem);

    BrowserSession& session_;
    PrintOptions options_;
    fs::path output_;
    PrintEngine engine_;
    GObjectRef<WebKitWebView> view_;
    std::optional<SecureDirectory> outputFolder_;
    // The save's outputs, staged together. Shared with the pages' worker,
    // which may outlive a discarded save; declared after the folder they are
    // published into, so it goes first.
    std::shared_ptr<ExportBatch> batch_;
    std::unique_ptr<OwnedWorkspace> work_;
    fs::path scratch_;
    bool scratchRegistered_ = false;
    bool backgroundsChanged_ = false;
    bool previousBackgrounds_ = false;
    std::string styleID_;
    bool styleMayExist_ = false;
    std::optional<PrintOperationSettings> operationSettings_;
    PrintCompletion completion_;
    guint watchdog_ = 0;
    std::vector<fs::path> published_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

Task<bool> PrintJob::printRun(GObject* operation) {
    // The view's web process going away ends the run: it will never finish.
    SignalConnection terminated(
        view_.get(), g_signal_connect(view_.get(), "web-process-terminated",
                                      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
                                          static_cast<PrintCompletion*>(self)->fail(
                                              std::make_exception_ptr(BrindlexError(ErrorCase::renderFailed)));
                                      }),
                                      &completion_));
    // A cancel ends the wait at once; the run's late answer finds the
    // continuation already answered.
    const bool success = co_await awaitCallback<bool>([this, operation](Resumer<bool> resumer) {
        completion_.continuation.emplace(std::move(resumer));
        watchdog_ = g_timeout_add(static_cast<guint>(engine_.watchdog.count()), [](gpointer self) -> gboolean {
            auto* job = static_cast<PrintJob*>(self);
            job->watchdog_ = 0;
            job->completion_.fail(std::make_exception_ptr(BrindlexError(ErrorCase::renderFailed)));
            return G_SOURCE_REMOVE;
        }, this);
        observe(Kind::runCallBegin);
        // A run that answers after the save gave up finds the job gone.
        std::weak_ptr<int> alive = alive_;
        engine_.run(operation, [this, alive](bool ok) {
            if (alive.lock()) completion_.deliver(ok, PrintClock());
        });
        observe(Kind::runCallReturned);
    }, WhenCancelled::stopWaiting);
    if (watchdog_) g_source_remove(std::exchange(watchdog_, 0));
    co_return success;
}

fs::path PrintJob::publish(std::size_t slot, const std::string& stem) {
    const fs::path url = batch_->publish(slot, stem, options_.willPublish, options_.filenameStem.has_value());
    published_.push_back(url);
    if (options_.onPublished) options_.onPublished(url);
    return url;
}

Task<void> PrintJob::cleanUp() {
    if (styleMayExist_) {
        styleMayExist_ = false;
        const std::string removal = "document.getElementById('" + styleID_ + "')?.remove();true";
        try {
            co_await BrowserSession::runScript(view_.get(), removal, cleanupScriptBound, WhenCancelled::keepWaiting);
        } catch (...) {
            // The save's own error is the one reported; a page that cannot
            // run the removal has lost the style with its document anyway.
        }
    }
    restoreBackgrounds();
    // Staged outputs that were not published go; published ones stay.
    batch_.reset();
    if (work_) {
        if (!scratchRegistered_) {
            try {
                if (fs::exists(scratch_)) work_->registerFile(scratch_);
            } catch (...) {
                // Unregistered, the scratch stays for the launch clean-up to
                // judge; the save still ends.
            }
        }
        try {
            work_->finish();
        } catch (...) {
            // A work folder that cannot be finished is left to the
            // launch-time clean-up, which removes what it recorded.
        }
        work_.reset();
    }
}

Task<std::vector<fs::path>> PrintJob::run() {
    // A blank or failed page never loaded anything to save, whoever asks.
    if (!session_.holdsPage()) raise(ErrorCase::loadTimeout);
    view_ = GObjectRef<WebKitWebView>::ref(session_.webView());
    // 1. What the window offers, and a view that is shown in one.
    const double mm = options_.marginMM;
    GtkRoot* root = view_ ? gtk_widget_get_root(GTK_WIDGET(view_.get())) : nullptr;
    if (!(mm == 0 || mm == 5 || mm == 12) || !(options_.dpi == 150 || options_.dpi == 300) || !root ||
        !GTK_IS_WINDOW(root)) {
        raise(ErrorCase::invalidInput);
    }
    checkCancellation();
    co_await checkpoint(Stage::beforePrint);

    // 4. The folders. A work folder whose reservation fails is left to the
    // launch clean-up.
    outputFolder_.emplace(output_, true);
    work_ = std::make_unique<OwnedWorkspace>(Phase0Work::printing(), OwnedRecord::Purpose::printScratch,
                                             UUID::random(), UUID::random(), UUID::random());
    try {
        scratch_ = work_->reserveMutablePDF();
    } catch (...) {
        work_->abandon();
        work_.reset();
        throw;
    }

    std::exception_ptr error;
    try {
        // 5. The header's texts.
        const char* pageTitle = webkit_web_view_get_title(view_.get());
        const char* pageURI = webkit_web_view_get_uri(view_.get());
        const std::string title = options_.headerTitle.value_or(pageTitle ? pageTitle : "");
        const std::string urlText = options_.headerURL.value_or(
            PrintProduct::safeURL(pageURI ? std::optional<std::string>(pageURI) : std::nullopt));

        // The printer comes first: without it nothing is printed at all.
        std::optional<std::string> printer = co_await engine_.findPrinter();
        if (!printer) raise(ErrorCase::renderFailed);

        // 6. The page setup and the settings of the file printer.
        auto setup = PrintRun::pageSetup(options_);
        auto settings = PrintRun::printSettings(*printer, scratch_);

        // 7. The background preference, one save at a time.
        co_await takeBackgroundsGate();
        WebKitSettings* webSettings = webkit_web_view_get_settings(view_.get());
        previousBackgrounds_ = webkit_settings_get_print_backgrounds(webSettings);
        backgroundsChanged_ = true;
        webkit_settings_set_print_backgrounds(webSettings, options_.backgrounds);

        // 8, 9. The margins as a page rule, the CSS passed as a JSON literal.
        styleID_ = "brindlex-print-" + UUID::random().text();
        const auto margin = [&](double m) { return pointText(m) + "pt !important"; };
        const std::string css =
            "@page { margin-top: " + margin(gtk_page_setup_get_top_margin(setup.get(), GTK_UNIT_POINTS)) +
            "; margin-bottom: " + margin(gtk_page_setup_get_bottom_margin(setup.get(), GTK_UNIT_POINTS)) +
            "; margin-left: " + margin(gtk_page_setup_get_left_margin(setup.get(), GTK_UNIT_POINTS)) +
            "; margin-right: " + margin(gtk_page_setup_get_right_margin(setup.get(), GTK_UNIT_POINTS)) + "; }";
        const std::string literal = Json::array({css}).dump();
        const std::string injection = "(()=>{let s=document.createElement('style');s.id='" + styleID_ +
                                      "';s.textContent=" + literal + "[0];document.head.appendChild(s);return true})()";
        co_await BrowserSession::runScript(view_.get(), injection, std::nullopt, WhenCancelled::stopWaiting);
        styleMayExist_ = true;

        // 10, 11. The operation and its completion.
        observe(Kind::factoryBegin);
        GObjectRef<GObject> operation = engine_.prepare(view_.get(), setup.get(), settings.get());
        operationSettings_ = PrintOperationSettings::fromPrintSettings(settings.get(), *printer);
        observe(Kind::factoryReady);
        completion_.onCompletion = [this](const PrintClock& clock) { observe(Kind::completionCallback, clock); };

        // 12-14. The run.
        co_await checkpoint(Stage::printing);
        checkCancellation();
        if (options_.nativeEvent) options_.nativeEvent(false);
        const bool success = co_await printRun(operation.get());
        observe(Kind::continuationResumed);
        if (options_.nativeEvent) options_.nativeEvent(true);
        checkCancellation();
        co_await checkpoint(Stage::afterPrint);

        // 15. The printed PDF, read once through the work folder.
        if (!success) raise(ErrorCase::renderFailed);
        std::vector<uint8_t> pdf;
        try {
            pdf = work_->directory().read(scratch_.filename().string());
        } catch (const BrindlexError&) {
            raise(ErrorCase::renderFailed);
        }
        GBytes* bytes = g_bytes_new(pdf.data(), pdf.size());
        Document document(poppler_document_new_from_bytes(bytes, nullptr, nullptr));
        g_bytes_unref(bytes);
        if (!document) raise(ErrorCase::renderFailed);
        const int pages = poppler_document_get_n_pages(document.get());
        if (pages < 1) raise(ErrorCase::renderFailed);
        observe(Kind::pdfAvailable);
        work_->registerFile(scratch_);
        scratchRegistered_ = true;
        if (options_.onLayout) options_.onLayout(pages);
        const Size paper = options_.size();
        for (int i = 0; i < pages; ++i) {
            PopplerPage* page = poppler_document_get_page(document.get(), i);
            if (!page) raise(ErrorCase::renderFailed);
            double w = 0, h = 0;
            poppler_page_get_size(page, &w, &h);
            g_object_unref(page);
            if (std::abs(w - paper.width) > 1.0 || std::abs(h - paper.height) > 1.0) raise(ErrorCase::renderFailed);
        }

        // 16. The header and footer.
        fs::path current = scratch_;
        if (options_.headerFooter) {
            observe(Kind::decorationBegin);
            current = PrintHeaderFooter::stamp(document.get(), *work_, PrintHeaderFooter::marginPoints(mm), title,
                                               urlText, PrintProduct::footerDate(options_.date));
            pdf = work_->directory().read(current.filename().string());
            observe(Kind::decorationEnd);
        }
        document.reset();

        // 17-19. Publication. Every output is staged first: the PDF as it
        // is, the pages drawn and encoded in parallel, each written and
        // synced into one work folder that is then synced once; then each
        // is published in order, as a save one output at a time would, and
        // where staging one failed, its publication fails the same way.
        checkCancellation();
        co_await checkpoint(Stage::beforePublish);
        const bool withPDF = options_.output != PrintOptions::Output::png;
        const bool withPages = options_.output != PrintOptions::Output::pdf;
        std::vector<std::string> extensions;
        if (withPDF) extensions.emplace_back("pdf");
        if (withPages) extensions.insert(extensions.end(), static_cast<std::size_t>(pages), "png");
        batch_ = std::make_shared<ExportBatch>(*outputFolder_, extensions);
        const std::size_t firstPage = withPDF ? 1 : 0;
        std::vector<Staged> staged(extensions.size());
        if (withPDF) {
            try {
                batch_->write(0, pdf, options_.failAfterBytes);
            } catch (...) {
                staged[0].writeError = std::current_exception();
            }
        }
        pdf.clear();
        pdf.shrink_to_fit();
        if (withPages) {
            std::shared_ptr<ExportBatch> batch = batch_;
            const std::optional<std::size_t> failAfter = options_.failAfterBytes;
            const double dpi = options_.dpi;
            // Made in a statement of its own: g++ 12 destroys twice a
            // temporary with non-trivial members made inside a co_await.
            auto drawing = runOnWorker([current, pages, dpi, paper, batch, firstPage, failAfter] {
                return stagePages(current, pages, dpi, paper, *batch, firstPage, failAfter);
            });
            std::vector<Staged> drawn = co_await std::move(drawing);
            std::move(drawn.begin(), drawn.end(), staged.begin() + static_cast<std::ptrdiff_t>(firstPage));
        }
        // Publication stops at the first output that could not be staged:
        // those after it are emptied before the seal, so a full disk still
        // has room for the record of those before it.
        std::vector<std::size_t> written;
        bool failed = false;
        for (std::size_t i = 0; i < staged.size(); ++i) {
            failed = failed || staged[i].renderError || staged[i].writeError;
            if (failed) {
                batch_->discard(i);
            } else {
                written.push_back(i);
            }
        }
        batch_->seal(written);

        if (withPDF) {
            co_await checkpoint(Stage::writing);
            if (staged[0].writeError) std::rethrow_exception(staged[0].writeError);
            publish(0, options_.filenameStem.value_or("print"));
        }
        for (int i = 0; withPages && i < pages; ++i) {
            const Staged& page = staged[firstPage + static_cast<std::size_t>(i)];
            checkCancellation();
            co_await checkpoint(Stage::rasterizing);
            if (page.renderError) std::rethrow_exception(page.renderError);
            checkCancellation();
            co_await checkpoint(Stage::writing);
            if (page.writeError) std::rethrow_exception(page.writeError);
            char stem[48];
            std::snprintf(stem, sizeof stem, "print-page-%04d", i + 1);
            publish(firstPage + static_cast<std::size_t>(i),
                    options_.filenameStem ? PrintProduct::pageStem(*options_.filenameStem, i) : stem);
        }
        // The staged names go before the save counts as done: each published
        // file then has the one link its announced stamp counts.
        batch_->finish();
        batch_.reset();

        // 20-22.
        if (options_.afterCommit) co_await options_.afterCommit();
        const std::string removal = "document.getElementById('" + styleID_ + "')?.remove();true";
        co_await BrowserSession::runScript(view_.get(), removal, cleanupScriptBound, WhenCancelled::keepWaiting);
        styleMayExist_ = false;
    } catch (...) {
        error = std::current_exception();
    }
    co_await cleanUp();
    if (error) std::rethrow_exception(error);
    co_return published_;
}

}  // namespace

namespace WebPrinter {

Task<std::vector<fs::path>> printPDF(BrowserSession& session, PrintOptions options, fs::path output) {
    auto job = std::make_unique<PrintJob>(session, std::move(options), std::move(output));
    std::vector<fs::path> published = co_await job->run();
    co_return published;
}

}  // namespace WebPrinter
}  // namespace velmora
