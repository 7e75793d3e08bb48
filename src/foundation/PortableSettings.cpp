#include "foundation/PortableSettings.hpp"

#include <algorithm>
#include <initializer_list>

#include "foundation/BrindlexError.hpp"
#include "foundation/OCRMode.hpp"

namespace velmora {

namespace {

bool oneOf(int64_t value, std::initializer_list<int64_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

template <typename E>
E requireEnum(const Json& object, const char* key) {
    const std::string raw = JSON::requireString(object, key);
    if (auto e = fromRaw<E>(raw)) return *e;
    throw JSON::DecodeError("key \"" + std::string(key) + "\": unknown value \"" + raw + "\"");
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

PortableSettings::PortableSettings(const AppPreferences& p)
    : saveMode(p.saveMode),
      panel(p.panel),
      mobileWidth(p.mobileWidth),
      lazyLoad(p.lazyLoad),
      automaticOCR(p.automaticOCR),
      historyDays(p.historyDays),
      logDays(p.logDays),
      product(p.product) {}

void PortableSettings::validate() const {
    if (!oneOf(mobileWidth, {375, 390, 430})) raise(ErrorCase::invalidInput);
    if (!oneOf(historyDays, {0, 30, 90, 365})) raise(ErrorCase::invalidInput);
    if (!oneOf(logDays, {30, 90, 180, 360})) raise(ErrorCase::invalidInput);
    product.validate();
}

AppPreferences PortableSettings::applying(const AppPreferences& preferences) const {
    validate();
    AppPreferences out = preferences;
    out.saveMode = saveMode;
    out.panel = panel;
    out.mobileWidth = mobileWidth;
    out.lazyLoad = lazyLoad;
    out.automaticOCR = automaticOCR;
    out.historyDays = historyDays;
    out.logDays = logDays;
    out.product = product;
    return out;
}

std::string PortableSettings::summary() const {
    const ProductDefaults& p = product;
    std::string s;
    s += "保存：";
    s += saveMode == AppPreferences::SaveMode::ask ? "毎回確認" : "自動";
    s += "・日付フォルダ";
    s += p.datedFolders ? "あり" : "なし";
    s += "\n操作パネル：";
    s += panel == AppPreferences::Panel::right ? "右" : "下";
    s += "\nWeb：";
    // The width only where it is used: the PC display takes the window's.
    s += p.webMode == "mobile" ? "スマホ / " + std::to_string(mobileWidth) + "px" : std::string("PC");
    s += "・";
    s += p.captureScale == 1 ? "標準" : "高解像度";
    s += "\n印刷：" + p.paper + " / ";
    s += p.printOutput == "both" ? std::string("PDF＋PNG") : upper(p.printOutput);
    s += "・";
    s += p.landscape ? "横" : "縦";
    s += "\nOCR：" + settingsLabel(p.ocrMode) + "・";
    s += automaticOCR ? "自動調整" : "順番";
    s += "\n手書き候補：";
    s += p.handwriting ? "含める" : "含めない";
    s += "\nTXT：";
    s += p.combinedTXT ? "結合TXT" : "ページ別TXT";
    s += "・";
    s += p.ocrAutoSave ? "自動保存" : "手動保存";
    s += "\n履歴：";
    s += historyDays != 0 ? std::to_string(historyDays) + "日" : std::string("無期限");
    s += "\n動作ログ：" + std::to_string(logDays) + "日";
    return s;
}

void to_json(Json& j, const PortableSettings& s) {
    j = Json::object();
    j["saveMode"] = std::string(rawValue(s.saveMode));
    j["panel"] = std::string(rawValue(s.panel));
    j["mobileWidth"] = s.mobileWidth;
    j["lazyLoad"] = s.lazyLoad;
    j["automaticOCR"] = s.automaticOCR;
    j["historyDays"] = s.historyDays;
    j["logDays"] = s.logDays;
    j["product"] = s.product;
}

void from_json(const Json& j, PortableSettings& s) {
    JSON::requireObject(j, "settings");
    s.saveMode = requireEnum<AppPreferences::SaveMode>(j, "saveMode");
    s.panel = requireEnum<AppPreferences::Panel>(j, "panel");
    s.mobileWidth = JSON::requireInt(j, "mobileWidth");
    s.lazyLoad = JSON::requireBool(j, "lazyLoad");
    s.automaticOCR = JSON::requireBool(j, "automaticOCR");
    s.historyDays = JSON::requireInt(j, "historyDays");
    s.logDays = JSON::requireInt(j, "logDays");
    s.product = JSON::require<ProductDefaults>(j, "product");
}

}  // namespace velmora
