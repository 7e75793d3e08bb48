#include <gtest/gtest.h>

#include <gio/gio.h>

#include <regex>

#include "foundation/ProductBrand.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TempDir.hpp"

using namespace velmora;

TEST(ProductBrand, PublicAndInternalBrands) {
    const auto& v = ProductBrand::velmora();
    const auto& b = ProductBrand::brindlex();
    EXPECT_EQ(&ProductBrand::current(), &v);
    EXPECT_EQ(v.displayName, "ベルモラ");
    EXPECT_EQ(v.englishIdentifier, "Velmora");
    EXPECT_EQ(v.settingsUTTypeIdentifier, v.bundleIdentifier + ".settings");
    EXPECT_EQ(v.normalWebStoreID.text(), "5B47E84B-1A2F-4C32-9861-4E71DD77A9C3");
    EXPECT_EQ(b.normalWebStoreID.text(), "86F1A99E-2A8B-44D7-A184-0F5618FD7868");
    EXPECT_EQ(b.settingsTypeName, "Brindlex設定");
    EXPECT_EQ(b.applicationSupportPath, "Brindlex/Phase1");
    EXPECT_FALSE(v.isInternalBuild);
    EXPECT_TRUE(b.isInternalBuild);
    EXPECT_FALSE(v == b);
    EXPECT_EQ(v.acceptedSettingsExtensions(), (std::set<std::string>{"velmorasettings", "brindlexsettings"}));
    EXPECT_EQ(b.acceptedSettingsExtensions(), (std::set<std::string>{"brindlexsettings"}));
    EXPECT_EQ(v.settingsExportStem(), "ベルモラ_Settings");
    // The bundle identifier doubles as the desktop application id.
    EXPECT_TRUE(g_application_id_is_valid(v.bundleIdentifier.c_str()));
    EXPECT_TRUE(v.bundleIdentifier.ends_with(".velmora"));
}

TEST(ProductBrand, VersionAndPresentationFallBackOnMissingOrNonStringValues) {
    Json numeric = {{"CFBundleShortVersionString", 2}, {"CFBundleName", "Velmora"}};
    EXPECT_EQ(Phase0::version(numeric), "1.0.0");
    EXPECT_EQ(ProductPresentation::version(numeric), "");
    EXPECT_EQ(ProductPresentation::name(numeric), "Velmora");
    EXPECT_EQ(ProductPresentation::name(Json::object()), "Brindlex");
    EXPECT_EQ(ProductPresentation::build(Json::object()), "");
    Json full = {{"CFBundleDisplayName", "ベルモラ"}, {"CFBundleName", "Velmora"},
                 {"CFBundleShortVersionString", "2.3.4"}, {"CFBundleVersion", "17"}};
    EXPECT_EQ(Phase0::version(full), "2.3.4");
    EXPECT_EQ(ProductPresentation::name(full), "ベルモラ");
    EXPECT_EQ(ProductPresentation::build(full), "17");
}

TEST(ProductBrand, BuildInformationComesFromTheProject) {
    EXPECT_EQ(Phase0::version(), "1.0.0");
    EXPECT_EQ(ProductPresentation::windowTitle(), "ベルモラ");
    EXPECT_EQ(Phase0::bundleID(), ProductBrand::current().bundleIdentifier);
    ASSERT_EQ(Phase0::dictionary().size(), 12u);
    EXPECT_EQ(Phase0::dictionary().front(), "OK");
    EXPECT_EQ(Phase0::dictionary()[3], "削除");
    EXPECT_EQ(Phase0::dictionary().back(), "下へ");
}

TEST(AppRuntime, RootsFollowTheXDGLookups) {
    test::TempDir dir;
    const std::filesystem::path data = dir / "xdg-data";
    {
        test::ScopedEnvironment xdg("XDG_DATA_HOME", data.string());
        AppRuntime r = AppRuntime::resolve();
        EXPECT_EQ(r.storage, data / "Velmora");
        EXPECT_EQ(r.output.filename(), "ベルモラ");
    }
    {
        test::ScopedEnvironment noXDG("XDG_DATA_HOME", std::nullopt);
        test::ScopedEnvironment home("HOME", (dir / "home").string());
        EXPECT_EQ(AppRuntime::resolve().storage, dir / "home/.local/share/Velmora");
    }
    // Nothing is created on disk by resolving.
    EXPECT_TRUE(test::listNames(dir.path()).empty());
    EXPECT_FALSE(AppRuntime::isIsolated);
}

TEST(AppRuntime, OverrideIsScoped) {
    const AppRuntime before = AppRuntime::current();
    {
        AppRuntime::ScopedOverride o(AppRuntime{"/tmp/s", "/tmp/o"});
        EXPECT_EQ(AppRuntime::current().storage, "/tmp/s");
        EXPECT_EQ(DevPaths::jobs(), "/tmp/s/jobs");
        EXPECT_EQ(DevPaths::outputs(), "/tmp/o");
    }
    EXPECT_EQ(AppRuntime::current(), before);
}
