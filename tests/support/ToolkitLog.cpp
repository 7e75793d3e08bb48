#include "support/ToolkitLog.hpp"

#include <glib.h>

#include <atomic>
#include <cstring>
#include <utility>

namespace velmora::test {

namespace {

std::atomic<std::size_t> faults{0};
std::function<void(const std::string&)>& reporter() {
    static std::function<void(const std::string&)> report;
    return report;
}

std::string field(const GLogField* fields, gsize count, const char* key) {
    for (gsize i = 0; i < count; ++i) {
        if (std::strcmp(fields[i].key, key) != 0 || !fields[i].value) continue;
        const auto* text = static_cast<const char*>(fields[i].value);
        return fields[i].length < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(fields[i].length));
    }
    return "";
}

GLogWriterOutput write(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
    if (level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL)) {
        faults.fetch_add(1);
        const char* kind = (level & G_LOG_LEVEL_CRITICAL) ? "CRITICAL" : "WARNING";
        const std::string line = field(fields, count, "GLIB_DOMAIN") + "-" + kind + ": " +
                                 field(fields, count, "MESSAGE");
        if (reporter()) reporter()(line);
    }
    return g_log_writer_default(level, fields, count, nullptr);
}

}  // namespace

void watchToolkitLog(std::function<void(const std::string& line)> report) {
    reporter() = std::move(report);
    g_log_set_writer_func(write, nullptr, nullptr);
}

std::size_t toolkitLogFaults() { return faults.load(); }

}  // namespace velmora::test
