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

#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
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

// One page rendered and encoded on a worker from the moment it is made;
// take() waits for it. A render nobody takes is dropped when it ends.
class PageRender {
public:
    PageRender(fs::path pdf, int index, double dpi) : s_(std::make_shared<State>()) {
        detail::runOnWorkerThread([s = s_, pdf = std::move(pdf), index, dpi] {
            std::optional<std::vector<uint8_t>> png;
            std::exception_ptr error;
            try {
                png = Raster::png(Raster::pdf(pdf, index, dpi));
            } catch (...) {
                error = std::current_exception();
            }
            detail::onMainContext([s, png = std::move(png), error]() mutable {
                s->png = std::move(png);
                s->error = error;
                s->done = true;
                if (s->waiter) s->waiter->resume();
            });
        });
    }

    Task<std::vector<uint8_t>> take() {
        std::shared_ptr<State> s = s_;
        if (!s->done) {
            co_await awaitCallback<void>([&s](Resumer<void> resumer) { s->waiter.emplace(std::move(resumer)); });
        }
        if (s->error) std::rethrow_exception(s->error);
        co_return std::move(*s->png);
    }

    // Waits for the worker to end without taking its page: a save that
    // fails must not report its end while a render still reads its PDF.
    Task<void> settle() {
        std::shared_ptr<State> s = s_;
        if (!s->done) {
            co_await awaitCallback<void>([&s](Resumer<void> resumer) { s->waiter.emplace(std::move(resumer)); });
        }
    }

private:
    // Touched on the main thread only, once the worker has handed over.
    struct State {
        std::optional<std::vector<uint8_t>> png;
        std::exception_ptr error;
        bool done = false;
        std::optional<Resumer<void>> waiter;
    };
    std::shared_ptr<State> s_;
};

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
    fs::path publish(const std::vector<uint8_t>& data, const std::string& stem, std::string_view ext);

    BrowserSession& session_;
    PrintOptions options_;
    fs::path output_;
    PrintEngine engine_;
    GObjectRef<WebKitWebView> view_;
    std::optional<SecureDirectory> outputFolder_;
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

fs::path PrintJob::publish(const std::vector<uint8_t>& data, const std::string& stem, std::string_view ext) {
    const fs::path url = outputFolder_->exportData(data, stem, ext, options_.failAfterBytes, options_.willPublish,
                                                   options_.filenameStem.has_value());
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
    // The page rendering ahead on a worker while the one before is published.
    std::optional<PageRender> next;
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

        // 17-19. Publication: the PDF, then each page.
        checkCancellation();
        co_await checkpoint(Stage::beforePublish);
        if (options_.output != PrintOptions::Output::png) {
            co_await checkpoint(Stage::writing);
            publish(pdf, options_.filenameStem.value_or("print"), "pdf");
        }
        pdf.clear();
        pdf.shrink_to_fit();
        if (options_.output != PrintOptions::Output::pdf) {
            // The next page renders on a worker while this one is published
            // on the main thread: at most one page image and two encoded
            // pages are held at a time.
            next.emplace(current, 0, options_.dpi);
            for (int i = 0; i < pages; ++i) {
                checkCancellation();
                co_await checkpoint(Stage::rasterizing);
                PageRender render = std::move(*next);
                next.reset();
                std::vector<uint8_t> png = co_await render.take();
                if (i + 1 < pages) next.emplace(current, i + 1, options_.dpi);
                checkCancellation();
                co_await checkpoint(Stage::writing);
                char stem[48];
                std::snprintf(stem, sizeof stem, "print-page-%04d", i + 1);
                publish(png, options_.filenameStem ? PrintProduct::pageStem(*options_.filenameStem, i) : stem, "png");
            }
        }

        // 20-22.
        if (options_.afterCommit) co_await options_.afterCommit();
        const std::string removal = "document.getElementById('" + styleID_ + "')?.remove();true";
        co_await BrowserSession::runScript(view_.get(), removal, cleanupScriptBound, WhenCancelled::keepWaiting);
        styleMayExist_ = false;
    } catch (...) {
        error = std::current_exception();
    }
    if (next) co_await next->settle();
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
