// One download in a process of its own, as a child of the browser tests: a
// normal tab on the stores of a storage root, saving "automatic" into the
// destination, which is approved first.
//
//   browser_download_child <storage root> <destination> <address> [tmpfs]
//
// Prints "receiving:<stage folder>" once bytes have arrived in the stage,
// then, when the download has ended, "state:<label>", "notice:<text>",
// "destination:<names>" and "stage:<names>" (names joined by "/"), and
// "done". With "tmpfs" the destination is first covered by a 1 MiB tmpfs in
// a mount namespace of this process's own ("refused:<why>" when the system
// does not allow one); the test then only learns of it from these lines.
// The program makes itself a process group, so that the test can end it
// together with the web engine's processes, as a crash of the session would.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserDownload.hpp"
#include "browser/BrowserStores.hpp"
#include "browser/BrowserTab.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Inside the namespaces the unshare tool made: this process is root there,
// and its mounts are its own.
std::string coverWithSmallTmpfs(const fs::path& destination) {
    if (::mount("tmpfs", destination.c_str(), "tmpfs", 0, "size=1M,mode=0700") != 0)
        return std::string("tmpfs: ") + std::strerror(errno);
    return "";
}

std::string names(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    std::string out;
    for (const auto& n : found) out += (out.empty() ? "" : "/") + n;
    return out;
}

int run(const fs::path& storage, const fs::path& destination, const std::string& address) {
    const AppRuntime runtime{storage, storage / "out"};
    AppRuntime::ScopedOverride roots(runtime);
    SettingsStore settings(storage / "settings");
    OutputAccess access(runtime, nullptr);
    const UUID grant = access.approve(destination).id;
    settings.change([&](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = grant;
    });

    auto stores = std::make_shared<BrowserStores>(runtime);
    auto tab = std::make_unique<BrowserTab>(UUID::random(), false, stores);
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(tab->browser->frame().gobj()));
    gtk_window_present(GTK_WINDOW(window));

    std::shared_ptr<BrowserDownload> download;
    tab->browser->downloadStarted = [&](WebKitDownload* d) {
        BrowserDownload::Services services{&settings, &access, nullptr};
        download = BrowserDownload::make(d, tab->id, UUID::random(), false, services);
        tab->downloads = {download};
    };
    tab->browser->navigate(address);
    if (!test::spinUntil([&] { return download && (download->received() > 0 || !download->active()); },
                         std::chrono::minutes(5))) {
        say("error:no bytes arrived");
        return 2;
    }
    if (download->state() == BrowserDownload::State::receiving)
        say("receiving:" + (destination / DownloadStage::rootName / download->id.text()).string());
    if (!test::spinUntil([&] { return !download->active(); }, std::chrono::minutes(5))) {
        say("error:the download did not end");
        return 2;
    }
    say("state:" + std::string(rawValue(download->state())));
    say("notice:" + download->notice());
    say("destination:" + names(destination));
    say("stage:" + names(destination / DownloadStage::rootName / download->id.text()));
    gtk_window_set_child(GTK_WINDOW(window), nullptr);
    gtk_window_destroy(GTK_WINDOW(window));
    say("done");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <storage root> <destination> <address> [tmpfs]\n", argv[0]);
        return 64;
    }
    ::setpgid(0, 0);
    const std::string mode = argc > 4 ? argv[4] : "";
    if (mode == "tmpfs") {
        // A user namespace needs a single-threaded caller, and the libraries
        // linked here start threads of their own: the namespaces are made by
        // the unshare tool, which runs this program again inside them.
        const char* again[] = {"unshare", "-Urm", "--propagation", "private", argv[0], argv[1], argv[2], argv[3],
                               "inside", nullptr};
        ::execvp("unshare", const_cast<char**>(again));
        say(std::string("refused:unshare: ") + std::strerror(errno));
        return 0;
    }
    if (mode == "inside") {
        const std::string why = coverWithSmallTmpfs(argv[2]);
        if (!why.empty()) {
            say("refused:" + why);
            return 0;
        }
    }
    if (!gtk_init_check()) {
        say("error:no display");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    try {
        return run(argv[1], argv[2], argv[3]);
    } catch (const std::exception& e) {
        say(std::string("error:") + e.what());
        return 1;
    }
}
