#include "foundation/AppPreferences.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "foundation/BrindlexError.hpp"

namespace velmora {

std::string_view rawValue(AppPreferences::Panel p) { return p == AppPreferences::Panel::right ? "right" : "bottom"; }

std::string_view rawValue(AppPreferences::SaveMode m) {
    return m == AppPreferences::SaveMode::ask ? "ask" : "automatic";
}

template <>
std::optional<AppPreferences::Panel> fromRaw<AppPreferences::Panel>(std::string_view raw) {
    if (raw == "right") return AppPreferences::Panel::right;
    if (raw == "bottom") return AppPreferences::Panel::bottom;
    return std::nullopt;
}

template <>
std::optional<AppPreferences::SaveMode> fromRaw<AppPreferences::SaveMode>(std::string_view raw) {
    if (raw == "ask") return AppPreferences::SaveMode::ask;
    if (raw == "automatic") return AppPreferences::SaveMode::automatic;
    return std::nullopt;
}

namespace {

const Json* find(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

template <typename E>
void readEnum(const Json& object, const char* key, E& field, bool& partial) {
    const Json* v = find(object, key);
    if (v && v->is_string()) {
        if (auto e = fromRaw<E>(v->get_ref<const std::string&>())) {
            field = *e;
            return;
        }
    }
    partial = true;
}

void readIntIn(const Json& object, const char* key, std::initializer_list<int64_t> allowed, int64_t& field,
               bool& partial) {
    if (const Json* v = find(object, key)) {
        if (auto i = JSON::integerValue(*v); i && std::find(allowed.begin(), allowed.end(), *i) != allowed.end()) {
            field = *i;
            return;
        }
    }
    partial = true;
}

void readBool(const Json& object, const char* key, bool& field, bool& partial) {
    const Json* v = find(object, key);
    if (v && v->is_boolean()) {
        field = v->get<bool>();
        return;
    }
    partial = true;
}

// A string key holding a UUID; anything but a string counts as absent.
void readUUID(const Json& object, const char* key, std::optional<UUID>& field, bool& partial) {
    const Json* v = find(object, key);
    if (!v || !v->is_string()) return;
    field = UUID::parse(v->get_ref<const std::string&>());
    if (!field) partial = true;
}

void readSize(const Json& object, const char* key, double& field, bool& partial) {
    const Json* v = find(object, key);
    if (!v) return;
    if (v->is_number()) {
        const double d = v->get<double>();
        if (std::isfinite(d) && d >= 1 && d <= 100000) {
            field = d;
            return;
        }
    }
    partial = true;
}

}  // namespace

AppPreferences::Read AppPreferences::decode(const std::vector<uint8_t>& bytes) {
    const Json j = JSON::parse(bytes);
    if (!j.is_object()) raise(ErrorCase::invalidInput);
    const Json* schema = find(j, "schemaVersion");
    if (!schema || JSON::integerValue(*schema) != std::optional<int64_t>(1)) raise(ErrorCase::settingsChanged);

    Read r;
    AppPreferences& p = r.value;
    bool& partial = r.partial;
    readEnum(j, "panel", p.panel, partial);
    readEnum(j, "saveMode", p.saveMode, partial);
    readUUID(j, "destinationID", p.destinationID, partial);
    readIntIn(j, "mobileWidth", {375, 390, 430}, p.mobileWidth, partial);
    readBool(j, "lazyLoad", p.lazyLoad, partial);
    readBool(j, "automaticOCR", p.automaticOCR, partial);
    readIntIn(j, "logDays", {30, 90, 180, 360}, p.logDays, partial);
    readIntIn(j, "historyDays", {0, 30, 90, 365}, p.historyDays, partial);
    if (const Json* v = find(j, "restoreTabs")) {
        if (v->is_boolean()) p.restoreTabs = v->get<bool>();
        else partial = true;
    }
    readUUID(j, "restoreEpoch", p.restoreEpoch, partial);
    // Tabs are restored only for an epoch that says which session to restore.
    if (p.restoreTabs && !p.restoreEpoch) {
        p.restoreTabs = false;
        partial = true;
    }
    readSize(j, "rightPanelPreferredWidth", p.rightPanelPreferredWidth, partial);
    readSize(j, "bottomPanelPreferredHeight", p.bottomPanelPreferredHeight, partial);
    readSize(j, "ocrPreviewPreferredWidth", p.ocrPreviewPreferredWidth, partial);
    if (const Json* product = find(j, "product")) {
        // No fallback for the product block: a value that is not a whole,
        // valid block fails the read.
        p.product = JSON::decode<ProductDefaults>(*product);
        p.product.validate();
    }
    return r;
}

void to_json(Json& j, const AppPreferences& p) {
    j = Json::object();
    j["schemaVersion"] = p.schemaVersion;
    j["product"] = p.product;
    j["rightPanelPreferredWidth"] = p.rightPanelPreferredWidth;
    j["bottomPanelPreferredHeight"] = p.bottomPanelPreferredHeight;
    j["ocrPreviewPreferredWidth"] = p.ocrPreviewPreferredWidth;
    j["panel"] = std::string(rawValue(p.panel));
    j["saveMode"] = std::string(rawValue(p.saveMode));
    JSON::putOptional(j, "destinationID", p.destinationID);
    j["mobileWidth"] = p.mobileWidth;
    j["lazyLoad"] = p.lazyLoad;
    j["automaticOCR"] = p.automaticOCR;
    j["logDays"] = p.logDays;
    j["historyDays"] = p.historyDays;
    j["restoreTabs"] = p.restoreTabs;
    JSON::putOptional(j, "restoreEpoch", p.restoreEpoch);
}

void from_json(const Json& j, AppPreferences& p) {
    JSON::requireObject(j, "preferences");
    AppPreferences r;
    r.schemaVersion = JSON::requireInt(j, "schemaVersion");
    r.product = JSON::require<ProductDefaults>(j, "product");
    r.rightPanelPreferredWidth = JSON::requireDouble(j, "rightPanelPreferredWidth");
    r.bottomPanelPreferredHeight = JSON::requireDouble(j, "bottomPanelPreferredHeight");
    r.ocrPreviewPreferredWidth = JSON::requireDouble(j, "ocrPreviewPreferredWidth");
    auto panel = fromRaw<AppPreferences::Panel>(JSON::requireString(j, "panel"));
    auto saveMode = fromRaw<AppPreferences::SaveMode>(JSON::requireString(j, "saveMode"));
    if (!panel || !saveMode) throw JSON::DecodeError("preferences: unknown panel or save mode");
    r.panel = *panel;
    r.saveMode = *saveMode;
    r.destinationID = JSON::optional<UUID>(j, "destinationID");
    r.mobileWidth = JSON::requireInt(j, "mobileWidth");
    r.lazyLoad = JSON::requireBool(j, "lazyLoad");
    r.automaticOCR = JSON::requireBool(j, "automaticOCR");
    r.logDays = JSON::requireInt(j, "logDays");
    r.historyDays = JSON::requireInt(j, "historyDays");
    r.restoreTabs = JSON::requireBool(j, "restoreTabs");
    r.restoreEpoch = JSON::optional<UUID>(j, "restoreEpoch");
    p = std::move(r);
}

}  // namespace velmora
