#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BrowserFixture.hpp"
#include "browser/CaptureContext.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::caseOf;
using test::spinUntil;

namespace {

class Context : public test::BrowserFixture {
protected:
    CaptureSelection selection(const std::string& widthMode = "mobile") {
        CaptureSelection s;
        s.widthMode = widthMode;
        s.mobileWidth = 390;
        return s;
    }
    ErrorCase refusal(BrowserTab& tab, const CaptureSelection& s) {
        return caseOf([&] { CaptureContext context(window_, settings_, tab, s); });
    }

    UUID window_ = UUID::random();
    SettingsStore settings_{dir_ / "storage" / "settings"};
};

}  // namespace

TEST_F(Context, ATabThatCannotBeCapturedIsRefusedByItsFirstFailingCheck) {
    CaptureSelection invalid = selection();
    invalid.scale = 3;

    auto tab = newTab(false);
    // Nothing loaded yet.
    EXPECT_EQ(refusal(*tab, selection()), ErrorCase::loadTimeout);
    EXPECT_EQ(refusal(*tab, invalid), ErrorCase::invalidInput);

    // Restored and not loaded: the selection is checked first.
    tab->deferredURL = server_.url("/");
    EXPECT_EQ(refusal(*tab, invalid), ErrorCase::invalidInput);
    EXPECT_EQ(refusal(*tab, selection()), ErrorCase::loadTimeout);
    tab->deferredURL = std::nullopt;

    // Still loading: the server holds the page back.
    server_.held("/slow", test::page("遅いページ"));
    tab->browser->navigate(server_.url("/slow"));
    EXPECT_EQ(refusal(*tab, selection()), ErrorCase::loadTimeout) << "at once, before the session has published it";
    ASSERT_TRUE(spinUntil([&] { return tab->browser->loading.get(); }));
    EXPECT_EQ(refusal(*tab, selection()), ErrorCase::loadTimeout);
    server_.release("/slow");
    ASSERT_TRUE(spinUntil([&] { return tab->browser->pageTitle.get() == "遅いページ" && !tab->browser->loading; }));
    EXPECT_NO_THROW(CaptureContext(window_, settings_, *tab, selection()));

    // A save already running.
    auto privateTab = newTab(true);
    server_.html("/", test::page("保存するページ", "<div style='height:1200px'>本文</div>"));
    load(*privateTab, "/");
    startHeldCapture(*privateTab);
    EXPECT_EQ(refusal(*privateTab, selection()), ErrorCase::navigationBusy);
    EXPECT_EQ(refusal(*privateTab, invalid), ErrorCase::invalidInput);
    endHeldCapture(*privateTab);
    EXPECT_NO_THROW(CaptureContext(window_, settings_, *privateTab, selection()));
}

TEST_F(Context, TheContextIsTheTabAsItStandsAndTheSettingsAsTheyAreNow) {
    server_.html("/", test::page("保存するページ"));
    auto tab = newTab(true);
    load(*tab, "/", "保存するページ");
    tab->browser->frame().setAllocatedWidth(279);
    ASSERT_TRUE(spinUntil([&] { return tab->browser->viewMetrics().boundsWidth == 279; }));

    const CaptureContext current(window_, settings_, *tab, selection("current"));
    EXPECT_EQ(current.windowID, window_);
    EXPECT_EQ(current.tabID, tab->id);
    EXPECT_EQ(current.browser, tab->browser);
    EXPECT_EQ(current.origin, InputOrigin::privateSession);
    EXPECT_EQ(current.url, server_.url("/"));
    EXPECT_EQ(current.title, "保存するページ");
    EXPECT_EQ(current.size.width, 279);
    EXPECT_EQ(current.size.height, tab->browser->viewMetrics().boundsHeight);
    EXPECT_GT(current.size.height, 0);
    EXPECT_EQ(current.viewportWidth, 280) << "raised to the narrowest capture";
    EXPECT_EQ(current.settings, selection("current"));
    EXPECT_EQ(current.saveMode, AppPreferences::SaveMode::ask);

    // The mode's own width, whatever the view's; and the save mode as the
    // settings hold it at the second request.
    tab->browser->frame().setAllocatedWidth(600);
    ASSERT_TRUE(spinUntil([&] { return tab->browser->viewMetrics().boundsWidth == 600; }));
    EXPECT_EQ(CaptureContext(window_, settings_, *tab, selection("current")).viewportWidth, 600);
    settings_.change([](AppPreferences& p) { p.saveMode = AppPreferences::SaveMode::automatic; });
    const CaptureContext mobile(window_, settings_, *tab, selection("mobile"));
    EXPECT_EQ(mobile.viewportWidth, 390);
    EXPECT_EQ(mobile.saveMode, AppPreferences::SaveMode::automatic);

    auto normal = newTab(false);
    load(*normal, "/");
    EXPECT_EQ(CaptureContext(window_, settings_, *normal, selection()).origin, InputOrigin::normal);
}
