#include "support/SessionOfItsOwn.hpp"

#include <stdlib.h>

namespace velmora::test {

void useSessionOfItsOwn(const std::optional<std::filesystem::path>& home) {
    if (home) {
        ::setenv("HOME", home->c_str(), 1);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
            ::unsetenv(name);
        }
    }
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "WAYLAND_DISPLAY", "GTK_IM_MODULE", "GTK_THEME",
          "GTK_USE_PORTAL", "GDK_SCALE", "GDK_DPI_SCALE", "LANGUAGE", "LANG"}) {
        ::unsetenv(name);
    }
    ::setenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share", 1);
    ::setenv("XDG_CONFIG_DIRS", "/etc/xdg", 1);
    ::setenv("GDK_BACKEND", "x11", 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("GIO_USE_VFS", "local", 1);
    ::setenv("GIO_USE_VOLUME_MONITOR", "unix", 1);
    ::setenv("GTK_A11Y", "none", 1);
    ::setenv("WEBKIT_A11Y_BUS_ADDRESS", "", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
}

}  // namespace velmora::test
