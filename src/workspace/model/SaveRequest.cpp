#include "workspace/model/SaveRequest.hpp"

#include <cassert>
#include <chrono>
#include <utility>

#include "capture/CaptureAdmission.hpp"
#include "capture/CaptureMetadata.hpp"
#include "capture/ProductNaming.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UptimeClock.hpp"
#include "workspace/model/CaptureHandOff.hpp"

namespace velmora::SaveRequest {

namespace {

Date now() { return std::chrono::system_clock::now(); }

Task<std::optional<std::string>> handOffTask(std::weak_ptr<Window> weak, CaptureReceipt receipt,
                                             std::filesystem::path folder, InputOrigin origin, QueueFlags flags) {
    // Held for the whole hand-off: its work is a method of this window.
    auto window = weak.lock();
    if (!window) co_return std::string(CaptureHandOff::windowGone);
    Task<std::string> handing =
        window->queueCapture(std::move(receipt), std::move(folder), origin, flags.automatic, flags.languageCorrection);
    std::string text = co_await std::move(handing);
    co_return text;
}

}  // namespace

const char* contextRefusal(const CaptureSelection& selection) {
    const bool widthOutside = selection.customWidth < 280 || selection.customWidth > 4096;
    return selection.widthMode == "custom" && widthOutside ? widthOutOfRange : notLoaded;
}

std::function<Task<std::optional<std::string>>(CaptureReceipt)> handOff(std::weak_ptr<Window> window,
                                                                         std::filesystem::path folder,
                                                                         InputOrigin origin, QueueFlags flags) {
    return [window = std::move(window), folder = std::move(folder), origin, flags](CaptureReceipt receipt) {
        return handOffTask(window, std::move(receipt), folder, origin, flags);
    };
}

Task<void> run(std::weak_ptr<Window> weak, bool printing) {
    assert(isMainThread());
    std::shared_ptr<Window> window = weak.lock();
    if (!window) co_return;

    // 1-3. The tab and its page, with the window's capture choices.
    if (window->saveBlocked()) {
        window->setMessage(saving);
        co_return;
    }
    // A failed load is no page to save, even where the view still holds the
    // one before it: the user sees the failure.
    if (window->pageFailed()) {
        window->setMessage(loadFailed);
        co_return;
    }
    if (window->pageEnded()) {
        window->setMessage(pageEnded);
        co_return;
    }
    const CaptureSelection selection = window->captureSelection();
    std::optional<Page> page;
    try {
        page = window->page(selection);
    } catch (...) {
        window->setMessage(contextRefusal(selection));
        co_return;
    }
    // 4. Only a tall PNG needs the one-capture admission; a print-style save
    // runs beside a capture.
    if (!printing && CaptureAdmission::owner()) {
        window->setMessage(otherCapture);
        co_return;
    }
    // 5-7. What the save keeps from the window as it is now.
    const PrintSelection printSelection = window->printSelection();
    const QueueFlags flags = window->queueFlags();
    SettingsStore& settings = window->settingsStore();
    OutputAccess& access = window->outputAccess();
    const ProductDefaults product = settings.value().product;

    // 8. The output root, perhaps from the user.
    std::optional<std::filesystem::path> root;
    bool refused = false;
    try {
        Task<std::optional<std::filesystem::path>> asking =
            access.destination(settings, page->saveMode == AppPreferences::SaveMode::ask, AppRuntime::isIsolated);
        // The user may take any time to answer; the window may close
        // meanwhile, and must not be kept for this.
        window.reset();
        root = co_await std::move(asking);
    } catch (...) {
        refused = true;
    }
    window = weak.lock();
    if (!window) co_return;
    // Nothing is locked yet, so a refusal here has no lock to release.
    if (refused) {
        window->setMessage(chooseAgain);
        co_return;
    }
    if (!root) {
        window->setMessage(cancelled);
        co_return;
    }
    // Step 4 again: a tall PNG may have begun elsewhere while the user chose.
    if (!printing && CaptureAdmission::owner()) {
        window->setMessage(otherCapture);
        co_return;
    }

    // 9. The page must be the one the user asked to save.
    const std::optional<TabNow> tab = window->tabNow(page->tabID);
    if (!tab || tab->pending || tab->url != page->url || tab->loading) {
        window->setMessage(pageChanged);
        co_return;
    }

    // 10-11. The kind folder (and date folder) made to exist.
    const std::filesystem::path folder = product.folder(*root, printing ? printKind : screenshotsKind, now());
    try {
        // Only the chain of folders is wanted; the handle goes at once.
        SecureDirectory made(folder, true);
    } catch (...) {
        window->setMessage(chooseAgain);
        co_return;
    }

    // 12. From here the tab is saving.
    window->lock(page->tabID, Size{static_cast<double>(page->viewportWidth), page->size.height}, folder);
    window->setMessage("");

    // 13. The print-style save.
    if (printing) {
        PrintOptions options = printSelection.options(page->url, page->title, now());
        options.filenameStem = ProductNaming::stem(page->url, page->title, product.naming, now());
        if (page->origin != InputOrigin::normal) options.metadata = std::nullopt;
        window->print(page->tabID, std::move(options), folder);
        co_return;
    }

    // 14. The tall PNG, with the OCR after it when asked.
    CaptureOptions options;
    try {
        options = page->settings.options(page->size.width);
    } catch (...) {
        window->unlock(page->tabID);
        window->setMessage(chooseAgain);
        co_return;
    }
    options.filenameStem = ProductNaming::stem(page->url, page->title, product.naming, now());
    if (page->origin == InputOrigin::normal) {
        options.metadata = CaptureMetadata::normal(page->url, page->title);
    } else {
        options.metadata = std::nullopt;
    }
    if (page->settings.ocr) options.completed = handOff(weak, folder, page->origin, flags);
    window->capture(page->tabID, std::move(options), folder);
}

}  // namespace velmora::SaveRequest
