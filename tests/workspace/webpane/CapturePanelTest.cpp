#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>

#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"

// The control panel as real widgets over a real window model: what each
// control writes and shows, the width controls of each mode, the width
// field, the sections' columns at the breakpoint, where the save buttons
// stand, and the panel closed to input while another tab saves.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;
using Panel = AppPreferences::Panel;
using test::PaneWindow;

namespace {

class CapturePanelTest : public test::WebPaneFixture {
protected:
    Gtk::DropDown* picker(PaneWindow& pane, const char* name) { return named<Gtk::DropDown>(pane.panel, name); }
    // Whether the row of a control stands in the panel.
    bool rowShown(PaneWindow& pane, const char* name) { return shownNow(named(pane.panel, name)); }
};

}  // namespace

TEST_F(CapturePanelTest, EachControlWritesItsFieldAndShowsTheModelsValue) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    model->widthMode = "mobile";
    auto* display = picker(pane, CapturePanel::displayName);
    auto* pcWidth = picker(pane, CapturePanel::pcWidthName);
    ASSERT_TRUE(display && pcWidth);
    EXPECT_EQ(display->get_selected(), 1u);
    EXPECT_TRUE(rowShown(pane, CapturePanel::mobileWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::pcWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::customWidthName));

    // PC, then a custom width: both PC controls.
    display->set_selected(0);
    EXPECT_EQ(model->widthMode.get(), "current");
    EXPECT_TRUE(rowShown(pane, CapturePanel::pcWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::customWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::mobileWidthName));
    pcWidth->set_selected(1);
    EXPECT_EQ(model->widthMode.get(), "custom");
    EXPECT_EQ(display->get_selected(), 0u);  // custom shows as PC
    EXPECT_TRUE(rowShown(pane, CapturePanel::pcWidthName));
    EXPECT_TRUE(rowShown(pane, CapturePanel::customWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::mobileWidthName));

    // スマホ and back to PC lands on the current width, not the custom one.
    display->set_selected(1);
    EXPECT_EQ(model->widthMode.get(), "mobile");
    EXPECT_TRUE(rowShown(pane, CapturePanel::mobileWidthName));
    EXPECT_FALSE(rowShown(pane, CapturePanel::pcWidthName));
    display->set_selected(0);
    EXPECT_EQ(model->widthMode.get(), "current");
    EXPECT_EQ(pcWidth->get_selected(), 0u);

    // The pickers write their fields.
    picker(pane, CapturePanel::mobileWidthName)->set_selected(0);
    EXPECT_EQ(model->mobileWidth.get(), 375);
    picker(pane, CapturePanel::scaleName)->set_selected(1);
    EXPECT_EQ(model->scale.get(), 2);
    picker(pane, CapturePanel::waitName)->set_selected(3);
    EXPECT_EQ(model->waitSeconds.get(), 3);
    picker(pane, CapturePanel::paperName)->set_selected(2);
    EXPECT_EQ(model->paper.get(), PrintOptions::Paper::b5);
    picker(pane, CapturePanel::marginName)->set_selected(2);
    EXPECT_EQ(model->margin.get(), 0);
    picker(pane, CapturePanel::formatName)->set_selected(1);
    EXPECT_EQ(model->format.get(), PrintOptions::Output::png);
    for (auto [name, field] : std::vector<std::pair<const char*, Published<bool>*>>{
             {CapturePanel::ocrName, &model->captureOCR},
             {CapturePanel::lazyLoadName, &model->lazyLoad},
             {CapturePanel::landscapeName, &model->landscape},
             {CapturePanel::backgroundsName, &model->backgrounds},
             {CapturePanel::headerFooterName, &model->headerFooter}}) {
        auto* toggle = named<Gtk::CheckButton>(pane.panel, name);
        ASSERT_NE(toggle, nullptr) << name;
        const bool before = field->get();
        EXPECT_EQ(toggle->get_active(), before) << name;
        toggle->set_active(!before);
        EXPECT_EQ(field->get(), !before) << name;
        // And back from the model.
        *field = before;
        EXPECT_EQ(toggle->get_active(), before) << name;
    }

    // A model change shows in the pickers, and writes nothing back.
    int changes = 0;
    auto counting = model->changed.connect([&] { ++changes; });
    model->paper = PrintOptions::Paper::letter;
    EXPECT_EQ(picker(pane, CapturePanel::paperName)->get_selected(), 3u);
    EXPECT_EQ(changes, 1);
    // A value no picker offers: no selection, and the value stays.
    model->widthMode = "mobile";
    model->mobileWidth = 400;
    model->waitSeconds = 2;
    model->margin = 7.5;
    EXPECT_EQ(picker(pane, CapturePanel::mobileWidthName)->get_selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(picker(pane, CapturePanel::waitName)->get_selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(picker(pane, CapturePanel::marginName)->get_selected(), GTK_INVALID_LIST_POSITION);
    test::spinFor(50ms);
    EXPECT_EQ(model->mobileWidth.get(), 400);
    EXPECT_EQ(model->waitSeconds.get(), 2);
    EXPECT_EQ(model->margin.get(), 7.5);
    EXPECT_EQ(changes, 5);
    counting.disconnect();
}

TEST_F(CapturePanelTest, TheWidthFieldTakesAnyIntegerAndShowsTheWidthAgainOtherwise) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    model->widthMode = "custom";
    auto* field = named<Gtk::Entry>(pane.panel, CapturePanel::customWidthName);
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(shownNow(field));
    EXPECT_EQ(model->customWidth.get(), 1440);
    EXPECT_EQ(field->get_text().raw(), CapturePanelRules::formatWidth(1440));

    field->set_text("abc");
    pressReturn(*field);
    EXPECT_EQ(model->customWidth.get(), 1440);
    EXPECT_EQ(field->get_text().raw(), CapturePanelRules::formatWidth(1440));

    field->set_text("5000");
    pressReturn(*field);
    EXPECT_EQ(model->customWidth.get(), 5000);
    EXPECT_EQ(field->get_text().raw(), CapturePanelRules::formatWidth(5000));

    // What the user is typing survives changes of other fields and of the
    // tabs' sessions.
    field->set_text("12");
    model->scale = 2;
    model->selectedTab()->browser->stage = "ページを選んでください";
    EXPECT_EQ(field->get_text().raw(), "12");
    // The model's own new width replaces it.
    model->customWidth = 1024;
    EXPECT_EQ(field->get_text().raw(), CapturePanelRules::formatWidth(1024));
}

TEST_F(CapturePanelTest, AtTheBottomTheSectionsStandSideBySideFromAPanelWidthOf792) {
    auto model = makeModel();
    model->panel = Panel::bottom;
    PaneWindow pane(model, desktop, 1300, 900);
    pane.panel.set_halign(Gtk::Align::START);
    ASSERT_TRUE(pane.shown());
    auto* capture = named(pane.panel, CapturePanel::captureSectionName);
    auto* print = named(pane.panel, CapturePanel::printSectionName);
    ASSERT_TRUE(capture && print);

    struct Case {
        int width;
        int columns;
    };
    for (const Case c : {Case{791, 1}, Case{792, 2}, Case{791, 1}}) {
        pane.panel.set_size_request(c.width, 700);
        ASSERT_TRUE(spinUntil([&] { return pane.panel.get_width() == c.width && pane.panel.columns() == c.columns; }))
            << c.width << " gives " << pane.panel.columns() << " at " << pane.panel.get_width();
        test::spinFor(50ms);
        double x = -1, y = -1;
        ASSERT_TRUE(gtk_widget_translate_coordinates(GTK_WIDGET(print->gobj()), GTK_WIDGET(capture->gobj()), 0, 0,
                                                     &x, &y));
        if (c.columns == 2) {
            // Side by side, top-aligned, 20 apart.
            EXPECT_EQ(y, 0) << c.width;
            EXPECT_EQ(x, capture->get_width() + 20) << c.width;
            EXPECT_EQ(capture->get_width(), (c.width - 32 - 20) / 2);
        } else {
            // Below it, 16 apart, as wide as the panel less its padding.
            EXPECT_EQ(x, 0) << c.width;
            EXPECT_EQ(y, capture->get_height() + 16) << c.width;
            EXPECT_EQ(capture->get_width(), c.width - 32);
        }
    }
}

TEST_F(CapturePanelTest, TheSaveButtonsStandInTheSectionsOnTheRightAndInTheStatusRowAtTheBottom) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    for (const char* name : {CapturePanel::captureName, CapturePanel::printName}) {
        model->panel = Panel::right;
        EXPECT_TRUE(shownNow(named(pane.panel, name))) << name;
        EXPECT_FALSE(shownNow(named(pane.status, name))) << name;
        model->panel = Panel::bottom;
        EXPECT_FALSE(shownNow(named(pane.panel, name))) << name;
        EXPECT_TRUE(shownNow(named(pane.status, name))) << name;
    }
    // On the right, the separator stands between the sections.
    model->panel = Panel::right;
    ASSERT_TRUE(spinUntil([&] { return pane.panel.columns() == 1; }));
}

TEST_F(CapturePanelTest, ThePanelIsClosedToInputWhileAnotherTabOfTheWindowSaves) {
    auto model = makeModel();
    PaneWindow pane(model, desktop);
    ASSERT_TRUE(pane.shown());
    auto saving = model->selectedTab();
    show(*saving);
    load(*model, "/page");
    startHeldSave(*model, *saving, named(pane.panel, CapturePanel::captureName));
    EXPECT_FALSE(pane.panel.is_sensitive());

    // Another tab selected: the panel stays closed, every control with it.
    auto other = model->addTab(false);
    ASSERT_EQ(model->selectedTab(), other);
    EXPECT_FALSE(pane.panel.is_sensitive());
    EXPECT_FALSE(named(pane.panel, CapturePanel::displayName)->is_sensitive());
    EXPECT_FALSE(named(pane.panel, CapturePanel::printName)->is_sensitive());
    model->panel = Panel::bottom;
    EXPECT_FALSE(named(pane.status, CaptureStatusRow::captureName)->is_sensitive());
    EXPECT_FALSE(named(pane.status, CaptureStatusRow::printName)->is_sensitive());

    endHeldCapture(*saving);
    EXPECT_TRUE(pane.panel.is_sensitive());
    EXPECT_TRUE(named(pane.status, CaptureStatusRow::captureName)->is_sensitive());

    // And while the window closes.
    model->closing = true;
    EXPECT_FALSE(pane.panel.is_sensitive());
    EXPECT_FALSE(named(pane.status, CaptureStatusRow::captureName)->is_sensitive());
    model->closing = false;
}
