#pragma once

// The web pane's control panel: the capture section ("縦長画像") and the
// print section ("印刷") over the window's own capture and print
// options, beside the web view (one column, the save buttons at the foot of
// their sections) or below it (the sections side by side from a panel width
// of 792, the save buttons in the status row instead).
//
// Every option the settings show as well has their name, entries and kind
// of control (CapturePanelRules::SharedOption).
// Every control writes its field of the WindowModel and shows the field
// again whenever the model changes; showing a value never writes it back, and
// a value a picker does not offer shows no selection and writes nothing.
// Only "表示" reaches the preferences, through the model
// (WindowModel::chooseDisplay), as the next launch's display. The whole
// panel is insensitive while any tab of the window saves and while the
// window closes, so the options of a running save cannot change under it. The rules themselves are display-free
// (CapturePanelRules.hpp). Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/scrolledwindow.h>

namespace velmora {

class WindowModel;

class CapturePanel : public Gtk::ScrolledWindow {
public:
    // Widget names; those the accessibility tree of the window names are
    // the first five.
    static constexpr const char* displayName = "capture.display";
    static constexpr const char* ocrName = "capture.ocr";
    static constexpr const char* captureName = "web.capture";
    static constexpr const char* printName = "web.print";
    static constexpr const char* formatName = "web.format";
    static constexpr const char* panelName = "web.panel";
    static constexpr const char* pcWidthName = "capture.pcWidth";
    static constexpr const char* mobileWidthName = "capture.mobileWidth";
    static constexpr const char* customWidthName = "capture.customWidth";
    static constexpr const char* scaleName = "capture.scale";
    static constexpr const char* lazyLoadName = "capture.lazyLoad";
    static constexpr const char* waitName = "capture.wait";
    static constexpr const char* paperName = "print.paper";
    static constexpr const char* landscapeName = "print.landscape";
    static constexpr const char* marginName = "print.margin";
    static constexpr const char* backgroundsName = "print.backgrounds";
    static constexpr const char* headerFooterName = "print.headerFooter";
    static constexpr const char* captureSectionName = "capture.section";
    static constexpr const char* printSectionName = "print.section";

    explicit CapturePanel(std::shared_ptr<WindowModel> model);
    ~CapturePanel() override;
    CapturePanel(const CapturePanel&) = delete;
    CapturePanel& operator=(const CapturePanel&) = delete;

    // The sections' columns at the last layout.
    int columns() const;
    // The most of that height, from the panel's top, that ends on no row
    // of the last layout: the panel shown that high stops between rows,
    // never through one. The height itself when no row crosses it, or
    // before the first layout.
    int wholeRows(int height) const;

    // The interface every synced control offers the panel (CapturePanel.cpp).
    class Control;

private:
    Gtk::Widget& captureSection();
    Gtk::Widget& printSection();
    void sync();
    void syncWidth();
    void commitWidth();

    std::shared_ptr<WindowModel> model_;
    std::vector<std::unique_ptr<Control>> controls_;
    class Sections;
    Sections* sections_ = nullptr;
    Gtk::Widget* pcWidthRow_ = nullptr;
    Gtk::Widget* mobileWidthRow_ = nullptr;
    Gtk::Widget* customWidthRow_ = nullptr;
    Gtk::Entry* widthEntry_ = nullptr;
    Gtk::Button* captureButton_ = nullptr;
    Gtk::Button* printButton_ = nullptr;
    // The width the field shows, so that a change of another field does not
    // overwrite what the user is typing.
    std::optional<int64_t> shownWidth_;
    sigc::connection observation_;
    sigc::connection focusLeave_;
};

}  // namespace velmora
