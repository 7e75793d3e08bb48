#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/window.h>

#include "settingsui/ProductSettingsForm.hpp"
#include "support/gui/GuiHelpers.hpp"

// The form as real widgets in a presented window, driven through the
// controls found by name: what each control writes into the draft, and what
// syncing from the draft must not write.

using namespace velmora;

namespace {

class FormWindow {
public:
    explicit FormWindow(FormModel& model) : form(model) {
        scroller.set_child(form);
        window.set_child(scroller);
        window.set_default_size(600, 800);
        window.present();
        test::spinUntil([&] { return window.get_mapped(); });
    }
    ~FormWindow() { window.hide(); }

    template <typename T>
    T* control(const std::string& key) {
        return dynamic_cast<T*>(test::findByName(window, "form." + key));
    }

    Gtk::Window window;
    Gtk::ScrolledWindow scroller;
    ProductSettingsForm form;
};

}  // namespace

TEST(ProductSettingsForm, EveryControlWritesItsEntryIntoTheDraft) {
    AppPreferences start;
    start.rightPanelPreferredWidth = 444;
    start.restoreTabs = true;
    FormModel model(start);
    FormWindow shown(model);

    std::size_t choices = 0, toggles = 0;
    for (const FormSection& section : FormModel::table()) {
        for (const FormRow* row : section.rows) {
            if (row->kind == FormRow::Kind::choice) {
                auto* dropDown = shown.control<Gtk::DropDown>(row->key);
                ASSERT_NE(dropDown, nullptr) << row->key;
                ++choices;
                EXPECT_EQ(dropDown->get_model()->get_n_items(), row->entries.size()) << row->key;
                // Each entry in turn, ending on the one held at the start.
                const std::size_t held = *model.selection(row->key);
                for (std::size_t k = 1; k <= row->entries.size(); ++k) {
                    const std::size_t i = (held + k) % row->entries.size();
                    AppPreferences wanted = model.draft();
                    row->choose(wanted, i);
                    dropDown->set_selected(static_cast<guint>(i));
                    EXPECT_EQ(model.draft(), wanted) << row->key << " " << row->entries[i];
                    EXPECT_EQ(model.selection(row->key), i);
                }
            } else if (row->kind == FormRow::Kind::toggle) {
                auto* toggle = shown.control<Gtk::CheckButton>(row->key);
                ASSERT_NE(toggle, nullptr) << row->key;
                ++toggles;
                const bool was = model.isOn(row->key);
                EXPECT_EQ(toggle->get_active(), was) << row->key;
                toggle->set_active(!was);
                EXPECT_EQ(model.isOn(row->key), !was) << row->key;
                toggle->set_active(was);
                EXPECT_EQ(model.isOn(row->key), was) << row->key;
            }
        }
    }
    EXPECT_EQ(choices, 16u);
    EXPECT_EQ(toggles, 11u);
    EXPECT_EQ(model.draft(), start);

    // Stored values through the widgets, read back from the draft.
    shown.control<Gtk::DropDown>("product.printOutput")->set_selected(2);
    EXPECT_EQ(model.draft().product.printOutput, "both");
    shown.control<Gtk::DropDown>("product.waitSeconds")->set_selected(0);
    EXPECT_EQ(model.draft().product.waitSeconds, -1);
    shown.control<Gtk::DropDown>("historyDays")->set_selected(3);
    EXPECT_EQ(model.draft().historyDays, 365);
    shown.control<Gtk::DropDown>("automaticOCR")->set_selected(1);
    EXPECT_FALSE(model.draft().automaticOCR);
}

TEST(ProductSettingsForm, SyncingShowsTheDraftAndNeverWritesIt) {
    FormModel model;
    FormWindow shown(model);
    int edits = 0;
    model.draftChanged().connect([&] { ++edits; });

    AppPreferences odd;
    odd.mobileWidth = 414;
    odd.product.margin = 7;
    odd.product.landscape = true;
    odd.historyDays = 30;
    model.setDraft(odd);
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(model.draft(), odd);
    EXPECT_EQ(shown.control<Gtk::DropDown>("mobileWidth")->get_selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(shown.control<Gtk::DropDown>("product.margin")->get_selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(shown.control<Gtk::DropDown>("historyDays")->get_selected(), 1u);
    EXPECT_TRUE(shown.control<Gtk::CheckButton>("product.landscape")->get_active());

    // Rebuilding for the course is a sync too.
    model.setDetailed(false);
    EXPECT_EQ(shown.control<Gtk::DropDown>("product.margin"), nullptr);
    EXPECT_EQ(shown.control<Gtk::CheckButton>("lazyLoad"), nullptr);
    model.setDetailed(true);
    EXPECT_EQ(shown.control<Gtk::DropDown>("product.margin")->get_selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(model.draft(), odd);
    EXPECT_EQ(edits, 1);

    // Until the user picks an entry.
    shown.control<Gtk::DropDown>("mobileWidth")->set_selected(1);
    EXPECT_EQ(model.draft().mobileWidth, 390);
    EXPECT_EQ(model.draft().product.margin, 7);
}

TEST(ProductSettingsForm, SectionsFollowTheStepAndTheCaptionNamesTheDocumentsFolder) {
    FormModel model(AppPreferences{}, 2, false);
    FormWindow shown(model);
    EXPECT_NE(test::findByName(shown.window, "form.section.2"), nullptr);
    EXPECT_EQ(test::findByName(shown.window, "form.section.0"), nullptr);
    EXPECT_NE(shown.control<Gtk::DropDown>("product.paper"), nullptr);
    EXPECT_EQ(shown.control<Gtk::CheckButton>("product.backgrounds"), nullptr);

    model.setStep(5);
    for (int i = 0; i < FormModel::sectionCount; ++i) {
        EXPECT_EQ(test::findByName(shown.window, "form.section." + std::to_string(i)), nullptr);
    }
    model.setStep(std::nullopt);
    for (int i = 0; i < FormModel::sectionCount; ++i) {
        EXPECT_NE(test::findByName(shown.window, "form.section." + std::to_string(i)), nullptr);
    }

    // The test program's home has no configured documents folder, so the
    // platform's own lookup gives ホーム/Documents.
    auto* caption = shown.control<Gtk::Label>("caption.destination");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->get_text().raw(), "標準保存先：ホーム/Documents/ベルモラ。カスタム保存先の権限は書き出しません。");
    EXPECT_EQ(shown.control<Gtk::Label>("caption.history")->get_text().raw(),
              "期限整理は履歴の参照だけです。成果物は削除しません。");
}
