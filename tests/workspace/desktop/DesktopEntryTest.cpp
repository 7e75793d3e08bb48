#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "foundation/JSON.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

// The application as the desktop sees it once `make install` has put it
// under a home's ~/.local: a valid desktop entry that starts the installed
// program, the settings files' own type with our entry as its default
// application, and a settings file opened from the desktop while the
// program runs, confirmed in that running instance's import sheet.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct Shell {
    std::string output;
    int status = -1;
};

Shell shell(const std::string& command) {
    Shell result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const fs::path& path) {
    char* q = g_shell_quote(path.c_str());
    std::string text = q;
    g_free(q);
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) found.push_back(line);
    }
    return found;
}

// The value of a key of the entry's main group.
std::string entryValue(const fs::path& entry, const std::string& key) {
    GKeyFile* file = g_key_file_new();
    std::string value;
    if (g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr)) {
        if (char* v = g_key_file_get_string(file, "Desktop Entry", key.c_str(), nullptr)) {
            value = v;
            g_free(v);
        }
    }
    g_key_file_free(file);
    return value;
}

const std::string appID = ProductBrand::current().bundleIdentifier;
const std::string entryName = appID + ".desktop";

class DesktopEntryTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path home = tmp / "home";
    fs::path prefix = home / ".local";
    fs::path dataHome = prefix / "share";
    fs::path storage = dataHome / ProductBrand::current().applicationSupportPath;
    std::vector<pid_t> running;

    DesktopEntryTest() { fs::create_directories(home); }
    ~DesktopEntryTest() override {
        for (pid_t pid : running) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The variables that place a user's folders in this home; the display
    // and the session bus are the test's.
    std::string environment() const {
        return "env HOME=" + quoted(home) + " XDG_DATA_HOME=" + quoted(dataHome) +
               " XDG_CONFIG_HOME=" + quoted(home / ".config") + " XDG_CACHE_HOME=" + quoted(home / ".cache") +
               " XDG_STATE_HOME=" + quoted(home / ".local/state") + " XDG_DATA_DIRS=/usr/local/share:/usr/share ";
    }

    Shell install(const fs::path& into) {
        return shell("cmake --install " + quoted(VELMORA_BUILD_DIR) + " --prefix " + quoted(into));
    }

    pid_t start(const fs::path& program) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
            ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
            ::setenv("XDG_STATE_HOME", (home / ".local/state").c_str(), 1);
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        running.push_back(pid);
        return pid;
    }

    // The visible windows whose title is exactly title, waiting (bounded)
    // for one.
    static std::vector<std::string> awaitWindows(const std::string& title) {
        return lines(shell("timeout 30 xdotool search --sync --onlyvisible --name '^" + title + "$'").output);
    }
    static std::vector<std::string> windows(const std::string& title) {
        return lines(shell("xdotool search --onlyvisible --name '^" + title + "$'").output);
    }

    // A settings file of the given name whose history days are days.
    fs::path settingsFile(const std::string& stem, int64_t days) {
        SettingsStore store(tmp / ("store-" + stem));
        store.update(&AppPreferences::historyDays, days);
        return store.exportSettings(tmp / "files", stem);
    }

    int64_t storedHistoryDays() const {
        const fs::path file = storage / "settings" / "preferences.json";
        if (!fs::exists(file)) return -1;
        return JSON::parse(test::readFile(file)).value("historyDays", int64_t{-1});
    }
};

}  // namespace

TEST_F(DesktopEntryTest, TheBuildTreesEntryIsValidAndNamedAfterTheApplication) {
    const fs::path entry = fs::path(VELMORA_BUILD_DIR) / "data" / entryName;
    ASSERT_TRUE(fs::exists(entry)) << entry;
    const auto check = shell("desktop-file-validate " + quoted(entry));
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "");
    EXPECT_EQ(entryValue(entry, "Name"), "ベルモラ");
    EXPECT_EQ(entryValue(entry, "Icon"), appID);
    EXPECT_EQ(entryValue(entry, "MimeType"), "application/x-velmora-settings;");
    EXPECT_EQ(entryValue(entry, "StartupNotify"), "true");
}

TEST_F(DesktopEntryTest, TheInstalledEntryStartsTheInstalledProgramWhateverThePrefix) {
    // A prefix the desktop would split: the path is quoted in Exec and
    // still names the installed program.
    const fs::path spaced = tmp / "odd \"place\" $HOME" / ".local";
    const auto installed = install(spaced);
    ASSERT_EQ(installed.status, 0) << installed.output;
    const fs::path entry = spaced / "share/applications" / entryName;
    const auto check = shell("desktop-file-validate " + quoted(entry));
    EXPECT_EQ(check.status, 0) << check.output;
    // Split as the desktop splits it: the program, then the files.
    int argc = 0;
    char** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(entryValue(entry, "Exec").c_str(), &argc, &argv, nullptr));
    ASSERT_EQ(argc, 2);
    EXPECT_EQ(argv[0], (spaced / "bin/velmora").string());
    EXPECT_STREQ(argv[1], "%F");
    g_strfreev(argv);
}

TEST_F(DesktopEntryTest, ASettingsFileOpenedFromTheDesktopIsConfirmedInTheRunningInstance) {
    const auto installed = install(prefix);
    ASSERT_EQ(installed.status, 0) << installed.output;

    // What was installed, the entry starting the installed program.
    const fs::path program = prefix / "bin/velmora";
    const fs::path entry = dataHome / "applications" / entryName;
    EXPECT_TRUE(fs::exists(program));
    EXPECT_TRUE(fs::exists(dataHome / "icons/hicolor/scalable/apps" / (appID + ".svg")));
    EXPECT_TRUE(fs::exists(dataHome / "mime/packages" / (appID + ".xml")));
    EXPECT_EQ(entryValue(entry, "Exec"), program.string() + " %F");
    const auto check = shell("desktop-file-validate " + quoted(entry));
    EXPECT_EQ(check.status, 0) << check.output;

    // The type of a settings file and its default application.
    const fs::path first = settingsFile("x", 30);
    const fs::path second = settingsFile("y", 90);
    ASSERT_EQ(first.filename(), "x.velmorasettings");
    const auto type = shell(environment() + "gio info -a standard::content-type " + quoted(first));
    EXPECT_NE(type.output.find("standard::content-type: application/x-velmora-settings"), std::string::npos)
        << type.output;
    const auto brindlex = tmp / "files" / "old.brindlexsettings";
    fs::copy_file(first, brindlex);
    EXPECT_NE(shell(environment() + "gio info -a standard::content-type " + quoted(brindlex))
                  .output.find("application/x-velmora-settings"),
              std::string::npos);
    const auto mime = shell(environment() + "gio mime application/x-velmora-settings");
    EXPECT_NE(mime.output.find("Default application for “application/x-velmora-settings”: " + entryName),
              std::string::npos)
        << mime.output;

    // The program runs; the desktop opens a file: the running instance
    // shows its import sheet, and the second process has handed it over.
    const pid_t pid = start(program);
    ASSERT_EQ(awaitWindows("ベルモラ").size(), 1u);
    const int64_t before = storedHistoryDays();
    auto opened = shell(environment() + "gio open " + quoted(first));
    ASSERT_EQ(opened.status, 0) << opened.output;
    auto sheets = awaitWindows("設定の読み込み確認");
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(windows("ベルモラ").size(), 1u);

    // A second file of another name replaces the first in the same sheet.
    opened = shell(environment() + "gio open " + quoted(second));
    ASSERT_EQ(opened.status, 0) << opened.output;
    // The sheet stays one; a call answered on the running instance's main
    // loop comes after the forwarded request.
    const auto barrier = shell("gdbus call --session --dest " + appID +
                               " --object-path /invalid/velmora/velmora --method org.gtk.Actions.List");
    EXPECT_EQ(barrier.status, 0) << barrier.output;
    EXPECT_EQ(windows("設定の読み込み確認"), sheets);
    EXPECT_EQ(storedHistoryDays(), before) << "nothing applied before the confirmation";

    // "読み込む", the right half of the answer row along the sheet's foot:
    // the second file's settings are stored.
    const auto geometry = shell("xdotool getwindowgeometry --shell " + sheets[0]).output;
    int width = 0, height = 0;
    for (const auto& line : lines(geometry)) {
        if (line.rfind("WIDTH=", 0) == 0) width = std::stoi(line.substr(6));
        if (line.rfind("HEIGHT=", 0) == 0) height = std::stoi(line.substr(7));
    }
    ASSERT_GT(width, 0);
    // No window manager keeps the sheet above its window here: raised first.
    const auto click = shell("xdotool windowraise " + sheets[0] + " mousemove --window " + sheets[0] + " " + std::to_string(width * 3 / 4) + " " +
                             std::to_string(height - 16) + " click 1");
    ASSERT_EQ(click.status, 0) << click.output;
    EXPECT_TRUE(test::spinUntil([&] { return storedHistoryDays() == 90; }, 30s)) << storedHistoryDays();
    EXPECT_TRUE(test::spinUntil([&] { return windows("設定の読み込み確認").empty(); }, 30s));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the running instance ended";
}
