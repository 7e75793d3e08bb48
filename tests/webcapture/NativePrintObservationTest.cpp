#include <gtest/gtest.h>

#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include <thread>

#include "foundation/JSON.hpp"
#include "webcapture/NativePrintObservation.hpp"

using namespace velmora;
using Kind = NativePrintObservation::Kind;

TEST(NativePrintObservation, WithoutAnOperationOnlyTheSixFixedKeysAreWritten) {
    Gtk::Window window;
    Gtk::Label label("x");
    window.set_child(label);
    // A clock taken on another thread, recorded here on the main thread.
    std::optional<PrintClock> clock;
    std::thread([&] { clock.emplace(); }).join();
    ASSERT_TRUE(clock);
    EXPECT_FALSE(clock->mainThread);
    EXPECT_TRUE(PrintClock().mainThread);

    NativePrintObservation o(Kind::completionCallback, GTK_WIDGET(label.gobj()), std::nullopt, *clock);
    EXPECT_EQ(o.time, clock->time);
    EXPECT_EQ(o.wallTime, clock->wallTime);
    EXPECT_FALSE(o.mainThread);
    EXPECT_TRUE(o.recordingMainThread);
    EXPECT_GT(o.windowNumber, 0);

    Json j = o;
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"kind", "mainThread", "recordingMainThread", "time", "wallTime",
                                              "windowNumber"}));
    EXPECT_EQ(j["kind"], "completionCallback");
    EXPECT_EQ(JSON::decode<NativePrintObservation>(j), o);

    window.unset_child();
}

TEST(NativePrintObservation, WindowNumbersAreStablePerWindowAndUniqueInTheProcess) {
    Gtk::Window first, second;
    Gtk::Label a("a"), b("b"), c("c");
    first.set_child(a);
    second.set_child(b);
    int64_t one = windowNumber(GTK_WIDGET(a.gobj()));
    EXPECT_GT(one, 0);
    EXPECT_EQ(windowNumber(GTK_WIDGET(first.gobj())), one);
    EXPECT_NE(windowNumber(GTK_WIDGET(b.gobj())), one);
    EXPECT_EQ(windowNumber(GTK_WIDGET(c.gobj())), 0) << "a widget in no window has no number";
    EXPECT_EQ(windowNumber(nullptr), 0);
    first.unset_child();
    second.unset_child();
}

TEST(NativePrintObservation, TheOperationsSettingsSayWhetherItSaves) {
    GtkPrintSettings* settings = gtk_print_settings_new();
    gtk_print_settings_set_printer(settings, "ファイルに出力");
    auto none = PrintOperationSettings::fromPrintSettings(settings, "ファイルに出力");
    EXPECT_FALSE(none.hasSavingURL);
    EXPECT_FALSE(none.saveDisposition);

    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, "file:///tmp/out.pdf");
    auto saving = PrintOperationSettings::fromPrintSettings(settings, "ファイルに出力");
    EXPECT_TRUE(saving.hasSavingURL);
    EXPECT_TRUE(saving.saveDisposition);
    EXPECT_FALSE(PrintOperationSettings::fromPrintSettings(settings, "Print to File").saveDisposition);
    gtk_print_settings_set_printer(settings, "office-laser");
    EXPECT_FALSE(PrintOperationSettings::fromPrintSettings(settings, "ファイルに出力").saveDisposition);
    g_object_unref(settings);

    NativePrintObservation o(Kind::runCallReturned, nullptr, saving, PrintClock(1.0, 2.0, true));
    EXPECT_EQ(o.windowNumber, 0);
    Json j = o;
    EXPECT_EQ(j.size(), 12u);
    EXPECT_EQ(j["saveDisposition"], true);
    EXPECT_EQ(j["hasSavingURL"], true);
    for (const char* key : {"copyingOperation", "canSpawnSeparateThread", "showsPrintPanel", "showsProgressPanel"})
        EXPECT_EQ(j[key], false) << key;
    EXPECT_EQ(JSON::decode<NativePrintObservation>(j), o);
}

TEST(NativePrintObservation, KindsDecodeOnlyFromTheirNames) {
    const std::vector<std::string> names{"factoryBegin",       "factoryReady",        "runCallBegin",
                                         "runCallReturned",    "completionCallback",  "continuationResumed",
                                         "pdfAvailable",       "decorationBegin",     "decorationEnd"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        Json j = {{"kind", names[i]}, {"time", 1}, {"wallTime", 2.5}, {"mainThread", true},
                  {"recordingMainThread", false}, {"windowNumber", 3}};
        auto o = JSON::decode<NativePrintObservation>(j);
        EXPECT_EQ(static_cast<std::size_t>(o.kind), i) << names[i];
        EXPECT_EQ(NativePrintObservation::rawValue(o.kind), names[i]);
        EXPECT_FALSE(o.saveDisposition.has_value());
    }
    Json bad = {{"kind", "decorationend"}, {"time", 1}, {"wallTime", 2}, {"mainThread", true},
                {"recordingMainThread", true}, {"windowNumber", 1}};
    EXPECT_THROW(JSON::decode<NativePrintObservation>(bad), JSON::DecodeError);
    bad["kind"] = "printed";
    EXPECT_THROW(JSON::decode<NativePrintObservation>(bad), JSON::DecodeError);
    bad["kind"] = "pdfAvailable";
    bad["hasSavingURL"] = "yes";
    EXPECT_THROW(JSON::decode<NativePrintObservation>(bad), JSON::DecodeError);
}
