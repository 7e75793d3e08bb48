#include "support/gui/RecordingFileManager.hpp"

#include "support/MainLoop.hpp"

namespace velmora::test {

namespace {

constexpr const char* name = "org.freedesktop.FileManager1";
constexpr const char* path = "/org/freedesktop/FileManager1";
constexpr const char* introspection =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface></node>";

}  // namespace

RecordingFileManager::RecordingFileManager() {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus_) return;
    info_ = g_dbus_node_info_new_for_xml(introspection, nullptr);
    static const GDBusInterfaceVTable vtable{&RecordingFileManager::onCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(bus_, path, info_->interfaces[0], &vtable, this, nullptr, nullptr);
    owner_ = g_bus_own_name_on_connection(
        bus_, name, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer self) { static_cast<RecordingFileManager*>(self)->owned_ = true; },
        nullptr, this, nullptr);
}

RecordingFileManager::~RecordingFileManager() {
    if (owner_) g_bus_unown_name(owner_);
    if (registration_) g_dbus_connection_unregister_object(bus_, registration_);
    if (info_) g_dbus_node_info_unref(info_);
    if (bus_) g_object_unref(bus_);
}

bool RecordingFileManager::awaitName() {
    return spinUntil([this] { return owned_; });
}

void RecordingFileManager::onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    if (g_strcmp0(method, "ShowItems") == 0) {
        std::vector<std::string> uris;
        GVariantIter* iter = nullptr;
        const gchar* startup = nullptr;
        g_variant_get(parameters, "(as&s)", &iter, &startup);
        for (const gchar* uri = nullptr; g_variant_iter_next(iter, "&s", &uri);) uris.emplace_back(uri);
        g_variant_iter_free(iter);
        static_cast<RecordingFileManager*>(self)->shown_.push_back(std::move(uris));
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace velmora::test
