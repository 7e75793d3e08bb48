#include "foundation/SettingsStore.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>

#include "foundation/BrindlexError.hpp"
#include "foundation/PortableSettings.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsTransfer.hpp"
#include "foundation/StateLease.hpp"

namespace velmora {

namespace {

constexpr const char* fileName = "preferences.json";
constexpr const char* leaseName = "preferences-lock";

AppPreferences::Read readFile(const SecureDirectory& dir) {
    struct stat st {};
    if (::fstatat(dir.descriptor(), fileName, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        return AppPreferences::Read{};
    }
    return AppPreferences::decode(dir.read(fileName));
}

// Whether damaged bytes still declare a newer format: such a file is never
// reset, whatever else is wrong with it.
bool declaresNewerSchema(const std::vector<uint8_t>& bytes) {
    try {
        const Json j = JSON::parse(bytes);
        if (!j.is_object()) return false;
        auto it = j.find("schemaVersion");
        if (it == j.end() || !it->is_number()) return false;
        const double v = it->get<double>();
        return std::isfinite(v) && v >= 2;
    } catch (const JSON::DecodeError&) {
        return false;  // not JSON at all: an ordinary damaged file
    }
}

}  // namespace

std::filesystem::path SettingsStore::defaultRoot() { return AppRuntime::current().storage / "settings"; }

SettingsStore::SettingsStore(std::filesystem::path root) : root_(std::move(root)) { reload(); }

void SettingsStore::reload() {
    std::error_code ec;
    if (!std::filesystem::exists(root_, ec)) return;
    try {
        SecureDirectory dir(root_, false);
        AppPreferences::Read r = readFile(dir);
        publish(r.value);
        if (readOnly()) readOnly_.set(false);
        notice_.set(r.partial ? Notices::partial : Notices::ready);
    } catch (const BrindlexError&) {
        showDefaultsReadOnly();
    } catch (const JSON::DecodeError&) {
        showDefaultsReadOnly();
    } catch (const std::system_error&) {
        showDefaultsReadOnly();
    }
}

void SettingsStore::showDefaultsReadOnly() {
    // The notice tells the user the defaults are in use; values kept from an
    // earlier good read would silently go on steering captures instead.
    if (!readOnly()) readOnly_.set(true);
    publish(AppPreferences{});
    notice_.set(Notices::unreadable);
}

// Observers hear of a real change only: reading the file again (as every tab
// snapshot save does) or writing what it already held must not make every
// window apply the same preferences again.
void SettingsStore::publish(const AppPreferences& record) {
    if (!(value_.get() == record)) value_.set(record);
}

void SettingsStore::writeChecked(const SecureDirectory& dir, const AppPreferences& record) {
    const std::vector<uint8_t> bytes = JSON::encode(record);
    // Only a record that reads back whole and equal is written, which keeps
    // out-of-range values out of the file.
    const AppPreferences::Read back = AppPreferences::decode(bytes);
    if (back.partial || !(back.value == record)) raise(ErrorCase::invalidInput);
    dir.replaceState(fileName, bytes);
    publish(record);
    notice_.set(Notices::saved);
}

void SettingsStore::change(const std::function<void(AppPreferences&)>& mutation) {
    if (readOnly()) raise(ErrorCase::settingsChanged);
    SecureDirectory dir(root_, true);
    StateLease lease(dir, leaseName, true);
    // Keys the reader replaced by defaults are written back as defaults,
    // which heals the file.
    AppPreferences record = readFile(dir).value;
    mutation(record);
    writeChecked(dir, record);
}

std::filesystem::path SettingsStore::exportSettings(const std::filesystem::path& folder,
                                                   const std::string& stem) const {
    value().product.validate();
    const SecureDirectory target(folder, true);
    SettingsTransfer transfer;
    transfer.exportedAt = std::chrono::system_clock::now();
    transfer.appVersion = Phase0::version();
    transfer.settings = PortableSettings(value());
    return target.exportData(JSON::encode(transfer), stem, ProductBrand::current().settingsExtension, std::nullopt,
                             nullptr, true);
}

void SettingsStore::apply(const PortableSettings& settings, const AppPreferences& expected) {
    settings.validate();
    change([&](AppPreferences& stored) {
        // Another window changed the preferences since the user confirmed:
        // nothing is written, and the user decides again.
        if (!(stored == expected)) raise(ErrorCase::settingsChanged);
        stored = settings.applying(stored);
    });
}

void SettingsStore::resetConfirmed() {
    if (!readOnly()) {
        SecureDirectory dir(root_, true);
        StateLease lease(dir, leaseName, true);
        const AppPreferences stored = readFile(dir).value;
        AppPreferences record;
        // The browser's tab-restoration choice survives a reset.
        record.restoreTabs = stored.restoreTabs;
        record.restoreEpoch = stored.restoreEpoch;
        writeChecked(dir, record);
        return;
    }
    SecureDirectory dir(root_, false);
    StateLease lease(dir, leaseName, true);
    const std::vector<uint8_t> old = dir.read(fileName);
    if (declaresNewerSchema(old)) raise(ErrorCase::settingsChanged);
    dir.exportData(old, "preserved-settings", "json", std::nullopt, nullptr, false);
    dir.replaceState(fileName, JSON::encode(AppPreferences{}));
    readOnly_.set(false);
    reload();
}

}  // namespace velmora
