// The window model's side of a save: the save request's port over the
// window's fields and tabs, and the hand-off of a finished capture to OCR.
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "browser/CaptureContext.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/CaptureHandOff.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

namespace {

// The address a capture would record for the view: the session's, else the
// view's own; none when neither shows one.
std::optional<std::string> shownURL(BrowserSession& session) {
    if (session.currentURL.get()) return session.currentURL.get();
    const char* viewURL = webkit_web_view_get_uri(session.webView());
    if (!viewURL || !*viewURL) return std::nullopt;
    return std::string(viewURL);
}

CaptureHandOff::Target handOffTarget(const std::shared_ptr<WindowModel>& model) {
    const std::weak_ptr<WindowModel> weak = model;
    return CaptureHandOff::Target{model->queue,
                                  [weak] {
                                      if (auto shown = weak.lock()) shown->section = WindowModel::Section::ocr;
                                  },
                                  model};
}

}  // namespace

Task<void> WindowModel::save(bool printing) { return SaveRequest::run(weak_from_this(), printing); }

Task<std::string> WindowModel::queueCapture(CaptureReceipt receipt, std::filesystem::path folder, InputOrigin origin,
                                            bool automatic, bool languageCorrection) {
    WindowSetLink* windows = &windows_;
    std::function<std::optional<CaptureHandOff::Target>()> openWindow =
        [windows]() -> std::optional<CaptureHandOff::Target> {
        std::shared_ptr<WindowModel> opened = windows->openWindow();
        if (!opened) return std::nullopt;
        CaptureHandOff::Target target = handOffTarget(opened);
        // The sentence names the new window by its title, and the window
        // comes forward, in its OCR section, when the run has ended.
        const UUID id = opened->id;
        Gtk::Window* window = windows->platformWindow(id);
        target.where = WebWorkspaceRules::otherWindowOCR(window ? window->get_title().raw() : std::string());
        target.bringForward = [windows, id, weak = std::weak_ptr<WindowModel>(opened)] {
            auto shown = weak.lock();
            if (!shown) return;
            shown->section = WindowModel::Section::ocr;
            if (Gtk::Window* window = windows->platformWindow(id)) window->present();
        };
        return target;
    };
    return CaptureHandOff::run(std::move(receipt), std::move(folder), origin, automatic, languageCorrection,
                               handOffTarget(shared_from_this()), std::move(openWindow));
}

// ---- the save request's port

bool WindowModel::saveBlocked() const { return browser().hasPendingOperation() || closing; }

bool WindowModel::pageFailed() const { return browser().failedURL->has_value(); }

bool WindowModel::pageEnded() const { return browser().endedURL->has_value(); }

CaptureSelection WindowModel::captureSelection() const {
    CaptureSelection selection;
    selection.widthMode = widthMode;
    selection.mobileWidth = mobileWidth;
    selection.customWidth = customWidth;
    selection.scale = scale;
    selection.lazyLoad = lazyLoad;
    selection.waitSeconds = waitSeconds;
    selection.ocr = captureOCR;
    return selection;
}

PrintSelection WindowModel::printSelection() const {
    PrintSelection selection;
    selection.paper = paper;
    selection.landscape = landscape;
    selection.margin = margin;
    selection.backgrounds = backgrounds;
    selection.headerFooter = headerFooter;
    selection.output = format;
    return selection;
}

SaveRequest::Page WindowModel::page(const CaptureSelection& selection) {
    const CaptureContext context(id, services.settings, *selectedTab(), selection);
    return SaveRequest::Page{context.tabID, context.origin,        context.url,      context.title,
                             context.size,  context.viewportWidth, context.settings, context.saveMode};
}

SaveRequest::QueueFlags WindowModel::queueFlags() const {
    return SaveRequest::QueueFlags{queue->automatic, queue->languageCorrection};
}

SettingsStore& WindowModel::settingsStore() { return services.settings; }

OutputAccess& WindowModel::outputAccess() { return services.access; }

std::shared_ptr<BrowserTab> WindowModel::listedTab(const UUID& tabID) const {
    for (const auto& tab : tabs.get()) {
        if (tab->id == tabID) return tab;
    }
    return nullptr;
}

std::optional<SaveRequest::TabNow> WindowModel::tabNow(const UUID& tabID) const {
    // A window that began closing while the user chose the folder takes no
    // new work: its close waits for every save it holds.
    const std::shared_ptr<BrowserTab> tab = listedTab(tabID);
    if (!tab || closing) return std::nullopt;
    BrowserSession& session = *tab->browser;
    return SaveRequest::TabNow{session.hasPendingOperation(), shownURL(session),
                               session.loading || webkit_web_view_is_loading(session.webView())};
}

void WindowModel::setMessage(std::string text) {
    // A refusal is also the selected tab's, shown beside the control that
    // asked, for as long as its page stays as it was; a save that starts
    // ends it (operationChanged). The row already follows a save that runs:
    // the refusal of a second one would outlast it there.
    if (!text.empty() && text != SaveRequest::saving) refuse(*selectedTab(), text, text != SaveRequest::cancelled);
    message = std::move(text);
}

void WindowModel::refuse(BrowserTab& tab, const std::string& text, bool failure) {
    toldAtControl_ = text;
    const BrowserSession& session = *tab.browser;
    tab.refusal = PageRefusal{text, session.currentURL.get(), session.loading.get(), failure};
}

void WindowModel::lock(const UUID& tabID, Size size, const std::filesystem::path& folder) {
    if (const auto tab = listedTab(tabID)) {
        tab->lockedSize = size;
        tab->lastOutput = folder;
    }
}

void WindowModel::unlock(const UUID& tabID) {
    if (const auto tab = listedTab(tabID)) tab->lockedSize = std::nullopt;
}

void WindowModel::capture(const UUID& tabID, CaptureOptions options, const std::filesystem::path& folder) {
    if (const auto tab = listedTab(tabID)) tab->browser->capture(std::move(options), folder);
}

void WindowModel::print(const UUID& tabID, PrintOptions options, const std::filesystem::path& folder) {
    if (const auto tab = listedTab(tabID)) tab->browser->print(std::move(options), folder);
}

}  // namespace velmora
