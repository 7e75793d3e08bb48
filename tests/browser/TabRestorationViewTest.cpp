#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BrowserFixture.hpp"
#include "browser/TabRestorationView.hpp"
#include "foundation/SettingsStore.hpp"

using namespace velmora;

namespace velmora {
// Readable failures: a tab as its JSON.
inline void PrintTo(const RestoredTab& tab, std::ostream* out) { *out << JSON::print(Json(tab)); }
}  // namespace velmora
using test::spinUntil;

namespace {

class Restoring : public test::BrowserFixture {
protected:
    std::shared_ptr<BrowserTab> loaded(bool privateMode, const std::string& path) {
        std::shared_ptr<BrowserTab> tab = newTab(privateMode);
        load(*tab, path);
        return tab;
    }
};

}  // namespace

// Real tabs on loopback pages: what the snapshot of their window keeps of
// each, and that an unopened restored tab survives further saves.
TEST_F(Restoring, TheSnapshotOfAWindowKeepsOnlyWhatMayBeStored) {
    server_.html("/kept", test::page("残すページ"));
    server_.html("/signin", test::page("サインイン"));

    auto hidden = loaded(true, "/kept");
    auto kept = loaded(false, "/kept");
    auto token = loaded(false, "/signin?code=1");
    std::shared_ptr<BrowserTab> blank = newTab(false);
    std::shared_ptr<BrowserTab> deferred = newTab(false);
    deferred->deferredURL = server_.url("/later");
    deferred->address = server_.url("/later");

    const UUID id = UUID::random();
    const std::vector<std::shared_ptr<BrowserTab>> tabs{hidden, kept, token, blank, deferred};
    const auto window = snapshotWindow(id, tabs, hidden->id);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->id, id);
    EXPECT_EQ(window->selected, kept->id) << "the private selection falls back to the first normal tab";
    const std::vector<RestoredTab> expected{{kept->id, server_.url("/kept"), false},
                                            {token->id, std::nullopt, true},
                                            {blank->id, std::nullopt, false},
                                            {deferred->id, server_.url("/later"), false}};
    EXPECT_EQ(window->tabs, expected);
    EXPECT_EQ(snapshotWindow(id, {hidden}, hidden->id), std::nullopt);
    EXPECT_EQ(server_.requests("/later"), 0);

    // Saved twice and read back by another instance: the unopened tab still
    // has its address, and nothing was loaded for it.
    SettingsStore settings(dir_ / "storage/settings");
    {
        TabRestoration restoration(dir_ / "storage/tabs", settings);
        restoration.setEnabled(true);
        restoration.save({*window});
        restoration.save({*snapshotWindow(id, tabs, deferred->id)});
        ASSERT_FALSE(restoration.blocked());
    }
    TabRestoration next(dir_ / "storage/tabs", settings);
    const auto restored = next.load();
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].tabs, expected);
    EXPECT_EQ(restored[0].selected, deferred->id);
    EXPECT_EQ(server_.requests("/later"), 0);
}

// The result of a form POST: its address is not kept, and the tab says so.
TEST_F(Restoring, APostedPageIsKeptWithoutItsAddress) {
    server_.html("/form", test::page("フォーム", "<form method=post action=/posted><input name=q value=1></form>"));
    server_.html("/posted", test::page("送信済み"));
    auto posted = loaded(false, "/form");
    run(*posted, "document.forms[0].submit(); true");
    ASSERT_TRUE(spinUntil([&] {
        return posted->browser->currentURL.get() == server_.url("/posted") && !posted->browser->loading;
    }));
    ASSERT_EQ(posted->browser->lastMainMethod, "POST");
    const auto window = snapshotWindow(UUID::random(), {posted}, posted->id);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->tabs, (std::vector<RestoredTab>{{posted->id, std::nullopt, true}}));
}
