#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "foundation/Digest.hpp"
#include "recognition/engine/EngineIdentity.hpp"
#include "foundation/JSON.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> keysOf(const Json& j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}

// sha256sum's own answer, read through a pipe.
std::string sha256sum(const fs::path& file) {
    const std::string command = "sha256sum '" + file.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char buf[65] = {};
    const std::size_t n = std::fread(buf, 1, 64, pipe);
    ::pclose(pipe);
    return std::string(buf, n);
}

bool isHexDigest(const std::string& s) {
    return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

TEST(OCRSettings, DefaultsAndTheirStoredForm) {
    const OCRSettings s;
    const Json j = s;
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"bundledCodeSHA256", "customWords", "dpi", "engine",
                                                   "engineVersion", "implementationSHA256", "languageCorrection",
                                                   "languages", "mode", "osVersion", "preprocessing", "revision"}));
    EXPECT_EQ(j["mode"], "standard");
    EXPECT_EQ(j["languages"], Json::array({"ja-JP", "en-US"}));
    EXPECT_EQ(j["revision"], 3);
    EXPECT_EQ(j["dpi"], 150.0);
    EXPECT_EQ(j["languageCorrection"], true);
    EXPECT_EQ(j["customWords"], Json::array());
    EXPECT_EQ(j["preprocessing"], "none");
    EXPECT_EQ(j["engine"], "VNRecognizeTextRequest");
    EXPECT_EQ(j["engineVersion"], "phase0-1");
    EXPECT_EQ(j["implementationSHA256"], EngineIdentity::sha256());
    EXPECT_EQ(j["bundledCodeSHA256"], EngineIdentity::bundleSHA256());
    EXPECT_EQ(j["osVersion"], EngineIdentity::osVersion());
    EXPECT_EQ(JSON::decode<OCRSettings>(JSON::parse(JSON::print(j))), s);
}

TEST(OCRSettings, EqualityIsFieldByFieldAndOrderSensitive) {
    const OCRSettings base;
    EXPECT_EQ(base, OCRSettings());
    auto differs = [&](auto change) {
        OCRSettings other = base;
        change(other);
        return !(other == base);
    };
    EXPECT_TRUE(differs([](OCRSettings& s) { s.osVersion += " "; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.languages = {"en-US", "ja-JP"}; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.customWords = {"校正"}; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.dpi = 150.0000001; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.mode = OCRMode::automatic; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.implementationSHA256 = "unavailable"; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.bundledCodeSHA256 = "unavailable"; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.languageCorrection = false; }));
    EXPECT_TRUE(differs([](OCRSettings& s) { s.revision = 2; }));
}

TEST(OCRSettings, DecodingRequiresAllTwelveKeysWithTheirTypes) {
    OCRSettings s;
    s.mode = OCRMode::vertical;
    s.customWords = {"赤字", "トル"};
    const Json good = s;
    for (const auto& key : keysOf(good)) {
        Json missing = good;
        missing.erase(key);
        EXPECT_THROW(JSON::decode<OCRSettings>(missing), JSON::DecodeError) << key;
    }
    auto refuses = [&](const char* key, Json value) {
        Json bad = good;
        bad[key] = std::move(value);
        EXPECT_THROW(JSON::decode<OCRSettings>(bad), JSON::DecodeError) << key;
    };
    refuses("mode", "Vertical");
    refuses("languages", "ja-JP");
    refuses("revision", 3.5);
    refuses("dpi", "150");
    refuses("languageCorrection", 1);
    refuses("customWords", Json::array({1}));
    refuses("osVersion", nullptr);

    // A record made elsewhere still reads; it merely compares unequal.
    Json other = good;
    other["osVersion"] = "Debian GNU/Linux 99";
    other["unlisted"] = true;
    const auto read = JSON::decode<OCRSettings>(other);
    EXPECT_EQ(read.osVersion, "Debian GNU/Linux 99");
    EXPECT_EQ(read.customWords, s.customWords);
    EXPECT_NE(read, s);
}

TEST(OCRSettings, DictionaryHashJoinsWordsWithNUL) {
    OCRSettings s;
    EXPECT_EQ(s.dictionaryHash(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    s.customWords = {"a", "b"};
    const std::string ab = s.dictionaryHash();
    EXPECT_EQ(ab, Digest::data(std::string_view("a\0b", 3)));
    s.customWords = {"ab"};
    EXPECT_NE(s.dictionaryHash(), ab);
    s.customWords = {"a", "", "b"};
    EXPECT_NE(s.dictionaryHash(), ab);
    s.customWords = {"校正"};
    EXPECT_EQ(s.dictionaryHash(), Digest::data(std::string_view("校正")));
}

TEST(EngineIdentity, ExecutableDigestIsTheRunningBinary) {
    const fs::path exe = EngineIdentity::executablePath();
    ASSERT_FALSE(exe.empty());
    const std::string expected = sha256sum(exe);
    ASSERT_TRUE(isHexDigest(expected)) << expected;
    EXPECT_EQ(EngineIdentity::sha256(), expected);
    // A test binary lives in no ".app" folder.
    EXPECT_TRUE(EngineIdentity::bundleRoot(exe).empty());
    EXPECT_EQ(EngineIdentity::bundleSHA256(), EngineIdentity::sha256());
    EXPECT_EQ(EngineIdentity::fileSHA256(exe.parent_path() / "no-such-file"), "unavailable");
}

TEST(EngineIdentity, BundleRootIsTheNearestAppFolder) {
    EXPECT_EQ(EngineIdentity::bundleRoot("/opt/Velmora.app/bin/velmora"), fs::path("/opt/Velmora.app"));
    EXPECT_EQ(EngineIdentity::bundleRoot("/opt/Outer.app/Inner.app/velmora"), fs::path("/opt/Outer.app/Inner.app"));
    EXPECT_TRUE(EngineIdentity::bundleRoot("/usr/bin/velmora").empty());
    EXPECT_TRUE(EngineIdentity::bundleRoot("/opt/Velmora.App/bin/velmora").empty());
    EXPECT_TRUE(EngineIdentity::bundleRoot("/opt/velmora.app").empty());
}

TEST(EngineIdentity, BundleManifestCoversFilesAndLinksByRelativePath) {
    test::TempDir dir;
    const fs::path root = dir / "Velmora.app";
    fs::create_directories(root / "bin");
    fs::create_directories(root / "share" / "empty");
    test::writeFile(root / "bin" / "velmora", "executable");
    test::writeFile(root / ".hidden", "hidden");
    fs::create_symlink("bin/velmora", root / "launcher");

    // The manifest, written out by hand.
    const std::string manifest = "/.hidden:" + Digest::data(std::string_view("hidden")) + "\n" +
                                 "/bin/velmora:" + Digest::data(std::string_view("executable")) + "\n" +
                                 "/launcher:link:bin/velmora";
    const std::string digest = EngineIdentity::bundleManifestSHA256(root, "fallback");
    EXPECT_EQ(digest, Digest::data(std::string_view(manifest)));

    // Renaming the folder keeps the digest: paths are relative to it.
    fs::rename(root, dir / "Moved.app");
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(dir / "Moved.app", "fallback"), digest);
    fs::rename(dir / "Moved.app", root);

    // Any change to a file, a new file, a removed file or a retargeted link
    // changes it.
    test::writeFile(root / "bin" / "velmora", "executablf");
    const std::string changed = EngineIdentity::bundleManifestSHA256(root, "fallback");
    EXPECT_NE(changed, digest);
    test::writeFile(root / "share" / "empty" / "new", "");
    const std::string added = EngineIdentity::bundleManifestSHA256(root, "fallback");
    EXPECT_NE(added, changed);
    fs::remove(root / "share" / "empty" / "new");
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(root, "fallback"), changed);
    fs::remove(root / "launcher");
    fs::create_symlink("./bin/velmora", root / "launcher");
    EXPECT_NE(EngineIdentity::bundleManifestSHA256(root, "fallback"), changed);
}

TEST(EngineIdentity, BundleManifestRefusesLinksLeavingTheFolder) {
    test::TempDir dir;
    const fs::path root = dir / "Velmora.app";
    fs::create_directories(root);
    test::writeFile(dir / "outside", "outside");
    test::writeFile(root / "inside", "inside");
    fs::create_symlink("../outside", root / "escape");
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(root, "fallback"), "unavailable");
    fs::remove(root / "escape");
    // A link naming the folder itself does not point inside it.
    fs::create_symlink(".", root / "self");
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(root, "fallback"), "unavailable");
    fs::remove(root / "self");
    fs::create_symlink("missing", root / "dangling");
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(root, "fallback"), "unavailable");
    fs::remove(root / "dangling");
    EXPECT_TRUE(isHexDigest(EngineIdentity::bundleManifestSHA256(root, "fallback")));
    // A folder that cannot be listed gives the fallback.
    EXPECT_EQ(EngineIdentity::bundleManifestSHA256(dir / "absent.app", "fallback"), "fallback");
    if (::geteuid() != 0) {
        fs::permissions(root / "inside", fs::perms::none);
        EXPECT_EQ(EngineIdentity::bundleManifestSHA256(root, "fallback"), "unavailable");
    }
}

TEST(EngineIdentity, SystemVersionNamesTheSystemAndTheRecogniser) {
    test::TempDir dir;
    test::writeFile(dir / "quoted", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
    test::writeFile(dir / "bare", "PRETTY_NAME=Plain\n");
    test::writeFile(dir / "escaped", "PRETTY_NAME=\"Say \\\"hi\\\"\"\n");
    test::writeFile(dir / "none", "NAME=Nothing\n");
    EXPECT_EQ(EngineIdentity::operatingSystemName(dir / "quoted"), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(EngineIdentity::operatingSystemName(dir / "bare"), "Plain");
    EXPECT_EQ(EngineIdentity::operatingSystemName(dir / "escaped"), "Say \"hi\"");
    EXPECT_EQ(EngineIdentity::operatingSystemName(dir / "none"), "");
    EXPECT_EQ(EngineIdentity::operatingSystemName(dir / "absent"), "");

    const std::string version = EngineIdentity::osVersion();
    const std::string system = EngineIdentity::operatingSystemName("/etc/os-release");
    if (!system.empty()) {
        EXPECT_EQ(version.rfind(system + "; ", 0), 0u) << version;
    }
    EXPECT_NE(version.find("; Tesseract 5."), std::string::npos) << version;
    EXPECT_NE(version.find("; Leptonica 1."), std::string::npos) << version;
    EXPECT_NE(version.find("; data " + EngineIdentity::languageDataDigest(EngineIdentity::languageDataDirectory())),
              std::string::npos)
        << version;
    EXPECT_TRUE(fs::exists(EngineIdentity::languageDataDirectory() / "jpn.traineddata"));
}

TEST(EngineIdentity, LanguageDataDigestFollowsTheFiles) {
    test::TempDir dir;
    const std::string none = EngineIdentity::languageDataDigest(dir.path());
    EXPECT_EQ(none.size(), 12u);
    test::writeFile(dir / "jpn.traineddata", "model one");
    const std::string one = EngineIdentity::languageDataDigest(dir.path());
    EXPECT_NE(one, none);
    EXPECT_EQ(EngineIdentity::languageDataDigest(dir.path()), one);
    // Same size, new contents: the cached digest must not be reused.
    test::writeFile(dir / "jpn.traineddata", "model two");
    EXPECT_NE(EngineIdentity::languageDataDigest(dir.path()), one);
    // Files the recogniser does not load play no part.
    const std::string two = EngineIdentity::languageDataDigest(dir.path());
    test::writeFile(dir / "osd.traineddata", "unused");
    EXPECT_EQ(EngineIdentity::languageDataDigest(dir.path()), two);
}
