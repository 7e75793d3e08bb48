#pragma once

// A file manager of the test's own on the test's session bus: it owns
// org.freedesktop.FileManager1 while it lives and records each ShowItems
// call, so a reveal can be followed without a real file manager starting.
// The test programs' bus offers no service of the machine, so without one of
// these no file manager answers at all.

#include <string>
#include <vector>

#include <gio/gio.h>

namespace velmora::test {

class RecordingFileManager {
public:
    RecordingFileManager();
    ~RecordingFileManager();
    RecordingFileManager(const RecordingFileManager&) = delete;
    RecordingFileManager& operator=(const RecordingFileManager&) = delete;

    // Spins (bounded) until the name is this process's on the bus.
    bool awaitName();
    // The URIs of each ShowItems call, in order.
    const std::vector<std::vector<std::string>>& shown() const { return shown_; }

private:
    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);

    GDBusConnection* bus_ = nullptr;
    GDBusNodeInfo* info_ = nullptr;
    guint registration_ = 0;
    guint owner_ = 0;
    bool owned_ = false;
    std::vector<std::vector<std::string>> shown_;
};

}  // namespace velmora::test
