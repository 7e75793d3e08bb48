#include "foundation/SettingsTransfer.hpp"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "foundation/BrindlexError.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

// True when some key of `given` has no key of the same name at the same
// place in `known`. Only objects are descended into; arrays and other values
// are not compared.
bool hasUnknownKeys(const Json& given, const Json& known) {
    for (auto it = given.begin(); it != given.end(); ++it) {
        auto match = known.find(it.key());
        if (match == known.end()) return true;
        if (it->is_object() && match->is_object() && hasUnknownKeys(*it, *match)) return true;
    }
    return false;
}

std::string lowercaseASCII(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

void to_json(Json& j, const SettingsTransfer& t) {
    j = Json::object();
    j["schemaVersion"] = t.schemaVersion;
    j["exportedAt"] = t.exportedAt;
    j["appVersion"] = t.appVersion;
    j["settings"] = t.settings;
}

void from_json(const Json& j, SettingsTransfer& t) {
    JSON::requireObject(j, "settings transfer");
    t.schemaVersion = JSON::requireInt(j, "schemaVersion");
    t.exportedAt = JSON::require<Date>(j, "exportedAt");
    t.appVersion = JSON::requireString(j, "appVersion");
    t.settings = JSON::require<PortableSettings>(j, "settings");
}

SettingsTransfer::Parsed SettingsTransfer::parse(const std::vector<uint8_t>& data) {
    if (data.size() > maximumBytes) raise(ErrorCase::invalidInput);
    const Json object = JSON::parse(data);
    if (!object.is_object()) raise(ErrorCase::invalidInput);
    for (const char* key : {"schemaVersion", "exportedAt", "appVersion", "settings"}) {
        if (!object.contains(key)) raise(ErrorCase::invalidInput);
    }
    Parsed out;
    out.transfer = JSON::decode<SettingsTransfer>(object);
    const SettingsTransfer& t = out.transfer;
    // A date decoded from whole-second ISO 8601 text is always finite, so
    // the format version and the app version are what this step can refuse.
    if (t.schemaVersion != 1 || Unicode::graphemeCount(t.appVersion) > maximumAppVersionCharacters) {
        raise(ErrorCase::settingsChanged);
    }
    t.settings.validate();
    const Json known = JSON::parse(JSON::encode(t));
    out.extraKeys = hasUnknownKeys(object, known);
    return out;
}

SettingsTransfer::Parsed SettingsTransfer::read(const std::filesystem::path& url, const ProductBrand& brand) {
    return read(url, brand, nullptr);
}

SettingsTransfer::Parsed SettingsTransfer::read(const std::filesystem::path& url, const ProductBrand& brand,
                                                const std::function<void()>& afterSizeCheck) {
    std::string extension = url.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    if (!brand.acceptedSettingsExtensions().count(lowercaseASCII(extension))) raise(ErrorCase::invalidInput);
    // Linux has no security-scoped access to start or stop here.
    const SecureDirectory folder(url.parent_path(), false);
    const std::string leaf = url.filename().string();
    if (!SecureDirectory::validLeaf(leaf)) raise(ErrorCase::unsafePath);
    // One open, through the folder, without following a link or waiting on
    // a FIFO; the size check and the read both use this descriptor, and the
    // read stops one byte past the limit, so a file swapped or grown after
    // the check can never be read whole into memory.
    FileIO::OpenedFile file = FileIO::openRegular(folder.descriptor(), leaf.c_str());
    if (file.notRegular) raise(ErrorCase::invalidInput);
    // A link at the name is what reading through the folder refuses: the
    // state-file read's own case. Any other failure is the file's own error.
    if (file.error == ELOOP) raise(ErrorCase::damagedCheckpoint);
    if (!file) throw std::system_error(file.error, std::generic_category(), "open " + url.string());
    if (file.status.st_size < 0 || static_cast<uint64_t>(file.status.st_size) > maximumBytes) {
        raise(ErrorCase::invalidInput);
    }
    if (afterSizeCheck) afterSizeCheck();
    std::vector<uint8_t> bytes(maximumBytes + 1);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(file.fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read " + url.string());
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
    return parse(bytes);
}

}  // namespace velmora
