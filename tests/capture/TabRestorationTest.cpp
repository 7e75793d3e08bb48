#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/Errors.hpp"

using namespace velmora;

namespace velmora {
// Readable failures: a tab as its JSON.
inline void PrintTo(const RestoredTab& tab, std::ostream* out) { *out << JSON::print(Json(tab)); }
}  // namespace velmora
using test::caseOf;

namespace {

std::optional<std::string> get(const std::string& url) { return TabRestoration::eligible(url, "GET"); }

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

RestoredTab tab(std::optional<std::string> url = std::nullopt, bool unavailable = false) {
    return RestoredTab{UUID::random(), std::move(url), unavailable};
}

RestoredWindow window(std::vector<RestoredTab> tabs) {
    RestoredWindow w{UUID::random(), std::move(tabs), UUID()};
    if (!w.tabs.empty()) w.selected = w.tabs.back().id;
    return w;
}

TabSnapshot snapshotOf(std::vector<RestoredWindow> windows) {
    TabSnapshot s;
    s.epoch = UUID::random();
    s.generation = 7;
    s.windows = std::move(windows);
    return s;
}

ErrorCase decodeCase(const Json& j) {
    return caseOf([&] { TabRestoration::decode(JSON::bytes(j)); });
}

}  // namespace

TEST(TabEligibility, SignInAndTokenMarkersAreRefusedHoweverTheyAreSpelled) {
    const std::string base = "https://example.jp";
    for (const char* refused :
         {"/?Code=1", "/?CODE=1", "/?code", "/?a=1&code=2", "/?%63ode=1", "/?co%64e=1", "/?%43ODE=1", "/?ID_Token=x",
          "/?access_token=x", "/?refresh_token=", "/?SAMLResponse=x", "/?ticket=1", "/?oauth_token=1",
          "/?access%5Ftoken=1", "/#access_token=abc", "/#x&ID_TOKEN=1", "/#access_token%3Dabc", "/#%61ccess_token=1",
          "/#state=1&code=2", "/OAuth/start", "/oauth2/authorize", "/callbacks", "/a/saml/x", "/%6Fauth",
          "/a%2Foauth", "/a%2fcallback", "/%2FSAML", "/%00", "/?%FF=1", "/#%C3", "/?a%00=1",
          // A value is an address part too: it must decode to UTF-8 without NUL.
          "/?q=%00", "/?q=%E3%81", "/?q=%FF", "/?a=1&q=%ff&b=2", "/?q=a=%00"}) {
        EXPECT_EQ(get(base + refused), std::nullopt) << refused;
    }
    for (const char* kept : {"/?codes=1", "/?mycode=1", "/?a=code", "/?a=access_token%3D1", "/#code", "/#ticket",
                             "/#code_of_conduct", "/xoauth", "/auth/callbac", "/?c%6Fdes=1", "/?", "/#"}) {
        EXPECT_TRUE(get(base + kept).has_value()) << kept;
    }

    // The method in any case; anything but GET is refused.
    EXPECT_TRUE(TabRestoration::eligible(base + "/", "get").has_value());
    EXPECT_EQ(TabRestoration::eligible(base + "/", "POST"), std::nullopt);
    EXPECT_EQ(TabRestoration::eligible(base + "/", "post"), std::nullopt);
    EXPECT_EQ(TabRestoration::eligible(std::nullopt, "GET"), std::nullopt);

    // What the browser may not load is not kept either, and the result is the
    // validated text, not the text given.
    for (const char* refused : {"ftp://example.jp/", "http://user@example.jp/", "http:///path", "example.jp", "",
                                "http://example.jp/100%"}) {
        EXPECT_EQ(get(refused), std::nullopt) << refused;
    }
    EXPECT_EQ(get("  HTTP://Example.JP/a b  "), "http://Example.JP/a%20b");

    // At most 8192 bytes of the validated text.
    const std::string head = "https://example.jp/";
    EXPECT_EQ(get(head + std::string(8192 - head.size(), 'a'))->size(), 8192u);
    EXPECT_EQ(get(head + std::string(8193 - head.size(), 'a')), std::nullopt);
    // Escapes count as written back: 2725 spaces are 8175 bytes once escaped.
    EXPECT_EQ(get(head + std::string(2725, ' ') + "x"), std::nullopt);
}

// A stored address must come back from the check exactly as stored; if the
// round trip changed one, that tab would fail every save and block
// restoration for the process.
TEST(TabEligibility, TheKeptTextComesBackUnchanged) {
    for (const char* odd :
         {"HTTP://EXAMPLE.JP/Path", "https://Example.Jp:443/", "http://example.jp:80/", "http://example.jp:8080/a",
          "http://[::1]:8080/p?q=1", "http://[2001:DB8::1]/", "http://例え.jp/", "http://xn--r8jz45g.jp/パス",
          "http://example.jp/%7e%7E/%e3%81%82", "http://example.jp/%E3%81%82?x=%e3%81%82#%E3%81%82",
          "http://example.jp/a b/日本語?検索=東京 駅&x=1#見出し 1", "http://example.jp/?", "http://example.jp/#",
          "http://example.jp?", "http://example.jp", "http://example.jp/a%2Fb", "http://example.jp/a\"b<c>{}|^`",
          "http://example.jp/?a=b#c#d", "http://example.jp/?a+b=c%2Bd", "https://例え.テスト:8443/ä?ö=ü#ß"}) {
        const auto kept = get(odd);
        ASSERT_TRUE(kept.has_value()) << odd;
        EXPECT_EQ(get(*kept), kept) << odd;
        // And a snapshot holding it reads back.
        const TabSnapshot s = snapshotOf({window({tab(kept)})});
        EXPECT_EQ(TabRestoration::decode(JSON::encode(s)), s) << odd;
    }
}

TEST(TabSnapshotFile, TheSharedCoderWritesItAndReadsItBackExactly) {
    TabSnapshot s = snapshotOf({window({tab("https://example.jp/"), tab(std::nullopt, true)})});
    s.generation = 18446744073709551615u;
    const auto bytes = JSON::encode(s);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("\"generation\" : 18446744073709551615"), std::string::npos);
    EXPECT_NE(text.find(s.epoch.text()), std::string::npos) << "UUIDs in upper case";
    EXPECT_EQ(Json::parse(text)["windows"][0]["tabs"][1].count("url"), 0u) << "no url key when there is none";
    EXPECT_EQ(TabRestoration::decode(bytes), s);

    // Unknown keys are ignored; every listed key but url is required.
    Json j = Json(s);
    j["later"] = 1;
    j["windows"][0]["tabs"][0]["title"] = "x";
    EXPECT_EQ(TabRestoration::decode(JSON::bytes(j)), s);
    for (const char* key : {"schema", "epoch", "generation", "windows"}) {
        Json missing = Json(s);
        missing.erase(key);
        EXPECT_THROW(TabRestoration::decode(JSON::bytes(missing)), JSON::DecodeError) << key;
    }
    Json noFlag = Json(s);
    noFlag["windows"][0]["tabs"][0].erase("unavailable");
    EXPECT_THROW(TabRestoration::decode(JSON::bytes(noFlag)), JSON::DecodeError);

    // A generation is an unsigned 64-bit integer and nothing else.
    for (const char* bad : {"-1", "1.5", "18446744073709551616", "\"1\"", "true"}) {
        std::string t = JSON::print(Json(s));
        const auto at = t.find("18446744073709551615");
        t.replace(at, 20, bad);
        EXPECT_THROW(TabRestoration::decode(bytesOf(t)), JSON::DecodeError) << bad;
    }
    EXPECT_THROW(TabRestoration::decode(bytesOf("{")), JSON::DecodeError);
    EXPECT_THROW(TabRestoration::decode({}), JSON::DecodeError);
}

TEST(TabSnapshotFile, OnlyASnapshotThatWouldBeRestoredReadsBack) {
    const TabSnapshot good = snapshotOf({window({tab("https://example.jp/")})});

    // The size comes first: 2 MiB of valid JSON read, one byte more does not.
    std::string text = JSON::print(Json(good));
    text.resize(2097152, ' ');
    EXPECT_EQ(TabRestoration::decode(bytesOf(text)), good);
    text.push_back(' ');
    EXPECT_EQ(caseOf([&] { TabRestoration::decode(bytesOf(text)); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { TabRestoration::decode(std::vector<uint8_t>(2097153, '{')); }), ErrorCase::invalidInput);

    // The file as a whole.
    Json schema = Json(good);
    schema["schema"] = 2;
    EXPECT_EQ(decodeCase(schema), ErrorCase::settingsChanged);
    std::vector<RestoredWindow> many;
    for (int i = 0; i < 101; ++i) many.push_back(window({tab()}));
    EXPECT_EQ(decodeCase(Json(snapshotOf(many))), ErrorCase::settingsChanged);
    many.pop_back();
    EXPECT_EQ(TabRestoration::decode(JSON::encode(snapshotOf(many))).windows.size(), 100u);
    TabSnapshot twins = snapshotOf({window({tab()}), window({tab()})});
    twins.windows[1].id = twins.windows[0].id;
    EXPECT_EQ(decodeCase(Json(twins)), ErrorCase::settingsChanged);
    EXPECT_TRUE(TabRestoration::decode(JSON::encode(snapshotOf({}))).windows.empty());

    // Window by window.
    EXPECT_EQ(decodeCase(Json(snapshotOf({window({})}))), ErrorCase::invalidInput);
    std::vector<RestoredTab> tabs(200);
    for (auto& t : tabs) t = tab();
    EXPECT_EQ(TabRestoration::decode(JSON::encode(snapshotOf({window(tabs)}))).windows[0].tabs.size(), 200u);
    tabs.push_back(tab());
    EXPECT_EQ(decodeCase(Json(snapshotOf({window(tabs)}))), ErrorCase::invalidInput);
    TabSnapshot outside = good;
    outside.windows[0].selected = UUID::random();
    EXPECT_EQ(decodeCase(Json(outside)), ErrorCase::invalidInput);
    TabSnapshot shared = snapshotOf({window({tab()}), window({tab()})});
    shared.windows[1].tabs[0].id = shared.windows[0].tabs[0].id;
    shared.windows[1].selected = shared.windows[0].tabs[0].id;
    EXPECT_EQ(decodeCase(Json(shared)), ErrorCase::invalidInput);
    for (const char* stored : {"https://example.jp/?code=1", "HTTPS://example.jp/", "https://example.jp/a b",
                               " https://example.jp/", "file:///etc/passwd", ""}) {
        EXPECT_EQ(decodeCase(Json(snapshotOf({window({tab(std::string(stored))})}))), ErrorCase::invalidInput)
            << stored;
    }
}

TEST(TabSnapshotWindow, NormalTabsAreKeptWithWhatMayBeStoredOfThem) {
    auto facts = [](std::optional<std::string> current, std::string method = "GET") {
        RestorableTab t;
        t.id = UUID::random();
        t.currentURL = std::move(current);
        t.lastMainMethod = std::move(method);
        return t;
    };
    RestorableTab page = facts("https://example.jp/a");
    RestorableTab token = facts("https://example.jp/?code=1");
    RestorableTab posted = facts("https://example.jp/form", "POST");
    RestorableTab blank = facts(std::nullopt);
    RestorableTab withheld = facts(std::nullopt);
    withheld.restorationUnavailable = true;
    // A restored tab never opened: its deferred address counts, over whatever
    // its session shows, and its session's method is still GET.
    RestorableTab deferred = facts("https://example.jp/shown");
    deferred.deferredURL = "https://example.jp/later";
    RestorableTab hidden = facts("https://example.jp/private");
    hidden.isPrivate = true;

    const UUID id = UUID::random();
    auto w = TabRestoration::snapshotWindow(id, {hidden, page, token, posted, blank, withheld, deferred}, hidden.id);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->id, id);
    EXPECT_EQ(w->selected, page.id) << "a private selection falls back to the first normal tab";
    const std::vector<RestoredTab> expected = {
        {page.id, "https://example.jp/a", false},     {token.id, std::nullopt, true},
        {posted.id, std::nullopt, true},              {blank.id, std::nullopt, false},
        {withheld.id, std::nullopt, true},            {deferred.id, "https://example.jp/later", false}};
    EXPECT_EQ(w->tabs, expected);
    EXPECT_EQ(TabRestoration::snapshotWindow(id, {page, token}, token.id)->selected, token.id);
    EXPECT_EQ(TabRestoration::snapshotWindow(id, {hidden, hidden}, hidden.id), std::nullopt);
    EXPECT_EQ(TabRestoration::snapshotWindow(id, {}, hidden.id), std::nullopt);
}
