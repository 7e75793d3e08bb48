#include "foundation/BrindlexError.hpp"

#include <nlohmann/json.hpp>

#include "foundation/JSON.hpp"

namespace velmora {

namespace {

struct Entry {
    BrindlexError::Case value;
    std::string_view raw;
    const char* message;
};

using C = BrindlexError::Case;

constexpr std::array<Entry, BrindlexError::caseCount> table{{
    {C::invalidInput, "invalidInput", "入力を読み込めません。対応する画像またはPDFを選んでください。"},
    {C::unsupportedLanguage, "unsupportedLanguage", "この環境では指定した言語・リビジョンを利用できません。"},
    {C::unsupportedMode, "unsupportedMode", "このOCRモードは未実証です。標準OCRを選んでください。"},
    {C::lockedPDF, "lockedPDF", "PDFのパスワードが必要です。解除できた場合だけ処理します。"},
    {C::sourceChanged, "sourceChanged",
     "原稿が移動・変更されています。同じ原稿を再選択するか、最初からやり直してください。"},
    {C::settingsChanged, "settingsChanged", "認識条件が変わりました。別の試行として最初からやり直してください。"},
    {C::damagedCheckpoint, "damagedCheckpoint", "再開用データの整合性を確認できません。別の試行でやり直してください。"},
    {C::unsafePath, "unsafePath", "この保存先は安全に扱えません。別のフォルダを選んでください。"},
    {C::fileExists, "fileExists", "同じ名前のファイルが既にあります。"},
    {C::saveFailed, "saveFailed", "保存できません。空き容量と書き込み権限を確認してください。"},
    {C::budgetExceeded, "budgetExceeded", "画像処理の安全な上限を超えています。幅を小さくしてください。"},
    {C::dimensionOverflow, "dimensionOverflow", "画像の寸法が大きすぎます。"},
    {C::cancelled, "cancelled", "処理を中止しました。確定済みの結果は保持しています。"},
    {C::loadTimeout, "loadTimeout", "読み込みが上限に達しました。ページ全体の取得は確認できません。"},
    {C::incompleteImages, "incompleteImages", "読み込めない画像があります。全体取得を完了扱いにはしません。"},
    {C::navigationBusy, "navigationBusy", "このページを処理中です。完了または中止後に操作してください。"},
    {C::renderFailed, "renderFailed", "ページの描画・出力に失敗しました。"},
    {C::injectedFailure, "injectedFailure", "試験用にページ失敗を注入しました。"},
    {C::emptyResult, "emptyResult", "認識できる文字はありませんでした。"},
    {C::sourceMissing, "sourceMissing", "原稿が見つかりません。同じ原稿を選び直してください。"},
    {C::accessDenied, "accessDenied", "原稿の読み込み許可を確認できません。原稿を選び直してください。"},
    {C::confirmationChanged, "confirmationChanged", "確認後に対象が変わりました。もう一度確認してください。"},
    {C::cleanupBlocked, "cleanupBlocked", "所有や状態を確認できないため、ファイルを残しました。"},
    {C::interruptedSave, "interruptedSave", "前回の保存は途中で終了しました。確定済みの出力は保持しています。"},
    {C::looksVertical, "looksVertical", "縦書きの原稿のようです。認識モードを「縦書き」か「自動」にしてください。"},
    {C::looksHorizontal, "looksHorizontal", "横書きの原稿のようです。認識モードを「標準」か「自動」にしてください。"},
}};

constexpr bool tableInDeclarationOrder() {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (static_cast<std::size_t>(table[i].value) != i) return false;
    }
    return true;
}
static_assert(tableInDeclarationOrder(), "the table must follow the declaration order");

}  // namespace

const char* BrindlexError::what() const noexcept { return message(case_); }

std::string_view BrindlexError::rawValue(Case c) noexcept { return table[static_cast<std::size_t>(c)].raw; }

const char* BrindlexError::message(Case c) noexcept { return table[static_cast<std::size_t>(c)].message; }

std::optional<BrindlexError::Case> BrindlexError::fromRawValue(std::string_view raw) noexcept {
    for (const auto& e : table) {
        if (e.raw == raw) return e.value;
    }
    return std::nullopt;
}

const std::array<BrindlexError::Case, BrindlexError::caseCount>& BrindlexError::allCases() noexcept {
    static const std::array<Case, caseCount> all = [] {
        std::array<Case, caseCount> a{};
        for (std::size_t i = 0; i < table.size(); ++i) a[i] = table[i].value;
        return a;
    }();
    return all;
}

void to_json(nlohmann::json& j, BrindlexError::Case c) { j = std::string(BrindlexError::rawValue(c)); }

void from_json(const nlohmann::json& j, BrindlexError::Case& c) {
    if (!j.is_string()) throw JSON::DecodeError("error case: expected a string");
    auto parsed = BrindlexError::fromRawValue(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("error case: unknown name " + j.get<std::string>());
    c = *parsed;
}

}  // namespace velmora
