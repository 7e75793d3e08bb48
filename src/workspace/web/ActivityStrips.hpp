#pragma once

// The one-line strips that report a window's work running outside the
// section shown: the OCR queue's (while it runs, or waits paused) and one per
// saving tab. Each strip observes its object and keeps no state of its own.
//
// A strip is always visible as a widget: while it has nothing to report its
// row is hidden and it takes no space, so the workspace view may hide or
// show the strip itself by section without the two rules fighting over one
// visibility. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

#include "foundation/UUID.hpp"

namespace velmora {

class BrowserSession;
class QueueController;
class WindowModel;

class QueueActivityStrip : public Gtk::Box {
public:
    static constexpr const char* stripName = "workspace.ocrActivity";
    static constexpr const char* textName = "workspace.ocrActivity.status";
    static constexpr const char* showName = "workspace.ocrActivity.show";

    // show brings the OCR pane to the front.
    QueueActivityStrip(std::shared_ptr<QueueController> controller, std::function<void()> show);
    ~QueueActivityStrip() override;
    QueueActivityStrip(const QueueActivityStrip&) = delete;
    QueueActivityStrip& operator=(const QueueActivityStrip&) = delete;

    // Whether the strip reports anything now.
    bool shown() const { return row_.get_visible(); }

private:
    void sync();

    std::shared_ptr<QueueController> controller_;
    std::function<void()> show_;
    Gtk::Box row_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Label text_;
    Gtk::Button button_{"OCRを表示"};
    sigc::connection observation_;
};

class WebActivityStrip : public Gtk::Box {
public:
    static constexpr const char* stripName = "workspace.webActivity";
    static constexpr const char* textName = "workspace.webActivity.stage";
    static constexpr const char* showName = "workspace.webActivity.show";
    static constexpr const char* cancelName = "workspace.webActivity.cancel";

    // show brings the session's tab and the web pane to the front.
    WebActivityStrip(std::shared_ptr<BrowserSession> browser, std::function<void()> show);
    ~WebActivityStrip() override;
    WebActivityStrip(const WebActivityStrip&) = delete;
    WebActivityStrip& operator=(const WebActivityStrip&) = delete;

    bool shown() const { return row_.get_visible(); }
    const std::shared_ptr<BrowserSession>& browser() const noexcept { return browser_; }

private:
    void sync();

    std::shared_ptr<BrowserSession> browser_;
    std::function<void()> show_;
    Gtk::Box row_{Gtk::Orientation::HORIZONTAL, 8};
    Gtk::Label text_;
    Gtk::Button showButton_{"Webキャプチャを表示"};
    Gtk::Button cancel_{"保存を中止"};
    sigc::connection observation_;
};

// The web strips of a window: one per tab, in the order of the tabs, each
// kept with its tab's id (and named "workspace.webActivity.<UUID>") so a
// strip stays the same widget while its tab lives. A strip's show selects
// its tab without loading a restored page and then the web section.
class WebActivityStrips : public Gtk::Box {
public:
    static constexpr const char* stripPrefix = "workspace.webActivity.";

    explicit WebActivityStrips(std::shared_ptr<WindowModel> model);
    ~WebActivityStrips() override;
    WebActivityStrips(const WebActivityStrips&) = delete;
    WebActivityStrips& operator=(const WebActivityStrips&) = delete;

    // The tabs whose strips report a save now, in the tabs' order.
    std::vector<UUID> shownTabs() const;
    // The action of a strip's "Webキャプチャを表示".
    void showTab(const UUID& tabID);

private:
    void sync();

    std::shared_ptr<WindowModel> model_;
    std::map<UUID, WebActivityStrip*> strips_;
    std::vector<UUID> order_;
    sigc::connection observation_;
};

}  // namespace velmora
