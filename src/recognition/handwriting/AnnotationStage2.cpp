#include "recognition/handwriting/AnnotationStage2.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/Unicode.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"

namespace velmora {

namespace {

using Table = std::vector<std::string_view>;

const Table notePhrases{"よろしく", "良い感じ", "確認しました", "後で相談", "あとで相談", "参考まで", "参考情報",
                        "メモです", "メモだけ", "この方向で", "次回確認", "了解", "助かります", "検討中"};
const Table priorityWords(AnnotationOCR::priorityTerms.begin(), AnnotationOCR::priorityTerms.end());
const Table editWords{"差し替え", "移動", "確認", "直す", "訂正", "追記", "ここ", "詳しく", "小さめ", "大きめ"};
const Table directionWords{"右へ", "左へ", "上へ", "下へ", "移動"};
const Table sizeWords{"大きく", "小さく", "大きめ", "小さめ"};
const Table actionWords{"して", "する", "直す", "替え", "追記", "修正", "削除", "追加", "変更"};
const Table editVerbs{"差し替え", "差替", "入れ替え", "移動", "訂正", "追記", "戻す", "戻して",
                      "寄せ", "拡大", "縮小", "不要", "消す", "消して", "直す", "直して"};
const Table requestPhrases{"して", "してください", "寄せて", "寄せる", "差し替え", "入れ替え", "戻して",
                           "移動", "訂正", "追記", "不要", "消して", "直して"};
const Table targets{"日付", "期限", "番号", "語句", "表現", "文字", "見出し", "行",
                    "段落", "図", "写真", "注記", "説明", "内容", "ここ"};
const Table stems{"消", "変え", "変更", "追加", "追記", "移", "寄せ", "上げ", "下げ",
                  "拡大", "縮小", "差し替", "差替", "入れ替", "訂正", "直", "確認"};
const Table requestEndings{"してください", "して下さい", "してほしい", "して", "てください", "て下さい"};
const Table acknowledgements{"確認", "対応", "共有", "了解", "承知", "問題", "良い", "方向", "お願い", "ありがとう", "助か", "見"};
const Table contextWords{"もう少し", "少し", "この部分", "この箇所", "日付", "期限", "番号", "図", "図版", "写真",
                         "画像", "表", "文字", "行", "段落", "注釈", "説明", "表現", "誤字", "ここ"};

constexpr std::array<std::pair<AnnotationInstructionClass, std::string_view>, 3> classNames{{
    {AnnotationInstructionClass::proofreadingInstruction, "proofreadingInstruction"},
    {AnnotationInstructionClass::handwrittenNote, "handwrittenNote"},
    {AnnotationInstructionClass::unknownInstruction, "unknownInstruction"},
}};

constexpr std::array<std::pair<AnnotationStage2Strategy, std::string_view>, 7> strategyNames{{
    {AnnotationStage2Strategy::r1Baseline, "r1Baseline"},
    {AnnotationStage2Strategy::contextualSignals, "contextualSignals"},
    {AnnotationStage2Strategy::contextualComposition, "contextualComposition"},
    {AnnotationStage2Strategy::conservativeRescue, "conservativeRescue"},
    {AnnotationStage2Strategy::conservativeComposition, "conservativeComposition"},
    {AnnotationStage2Strategy::r4NoteProtectedComposition, "r4NoteProtectedComposition"},
    {AnnotationStage2Strategy::r4HighConfidenceComposition, "r4HighConfidenceComposition"},
}};

template <typename E, std::size_t N>
std::string_view nameIn(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
    for (const auto& [v, name] : names) {
        if (v == value) return name;
    }
    return names.front().second;
}

template <typename E, std::size_t N>
std::optional<E> valueIn(const std::array<std::pair<E, std::string_view>, N>& names, std::string_view raw) {
    for (const auto& [v, name] : names) {
        if (name == raw) return v;
    }
    return std::nullopt;
}

bool contains(std::string_view n, std::string_view word) { return n.find(word) != std::string_view::npos; }
bool containsAny(std::string_view n, const Table& table) {
    return std::any_of(table.begin(), table.end(), [n](std::string_view w) { return contains(n, w); });
}
bool endsWith(std::string_view n, std::string_view s) { return n.ends_with(s); }
bool termMatch(std::string_view n, const Table& table) {
    return std::any_of(table.begin(), table.end(), [n](std::string_view w) { return AnnotationOCR::termMatches(n, w); });
}

// The grapheme clusters of a text.
std::vector<std::string_view> characters(std::string_view text) {
    const std::vector<std::size_t> b = Unicode::graphemeBoundaries(text);
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) out.push_back(text.substr(b[i], b[i + 1] - b[i]));
    return out;
}

bool fuzzyEditMatch(std::string_view n) {
    const std::size_t length = characters(n).size();
    if (length < 2 || length > 12) return false;
    for (const Table* table : {&priorityWords, &editWords}) {
        for (std::string_view word : *table) {
            const std::string w = AnnotationStage2Classifier::normalized(word);
            if (contains(n, w)) return true;
            if (characters(w).size() >= 3 && AnnotationStage2Classifier::editDistance(n, w, 1) <= 1) return true;
        }
    }
    return false;
}

bool noteRule(std::string_view n, bool s, bool t) {
    const bool done = contains(n, "済み") || endsWith(n, "ました") || endsWith(n, "ありません");
    const bool polite = endsWith(n, "と思います") || endsWith(n, "です") || endsWith(n, "ます");
    const bool ack = containsAny(n, acknowledgements);
    const bool request = containsAny(n, requestEndings);
    const bool note = done || (polite && ack);
    if (containsAny(n, stems)) {
        if (contains(n, "を") || contains(n, "へ")) return (s || t || request) ? false : note;
        if (s) return false;
        if (t) return (request || contains(n, "に")) ? false : note;
        return request ? false : note;
    }
    return (s || request) ? false : note;
}

int rank(AnnotationStage2Strategy s) { return static_cast<int>(s); }

}  // namespace

std::string_view rawValue(AnnotationInstructionClass c) { return nameIn(classNames, c); }
template <>
std::optional<AnnotationInstructionClass> fromRaw<AnnotationInstructionClass>(std::string_view raw) {
    return valueIn(classNames, raw);
}
void to_json(Json& j, AnnotationInstructionClass c) { j = std::string(rawValue(c)); }
void from_json(const Json& j, AnnotationInstructionClass& c) {
    if (!j.is_string()) throw JSON::DecodeError("instruction class: expected a string");
    const auto v = fromRaw<AnnotationInstructionClass>(j.get_ref<const std::string&>());
    if (!v) throw JSON::DecodeError("instruction class: unknown value");
    c = *v;
}

std::string_view rawValue(AnnotationStage2Strategy s) { return nameIn(strategyNames, s); }
template <>
std::optional<AnnotationStage2Strategy> fromRaw<AnnotationStage2Strategy>(std::string_view raw) {
    return valueIn(strategyNames, raw);
}
void to_json(Json& j, AnnotationStage2Strategy s) { j = std::string(rawValue(s)); }
void from_json(const Json& j, AnnotationStage2Strategy& s) {
    if (!j.is_string()) throw JSON::DecodeError("stage-2 strategy: expected a string");
    const auto v = fromRaw<AnnotationStage2Strategy>(j.get_ref<const std::string&>());
    if (!v) throw JSON::DecodeError("stage-2 strategy: unknown value");
    s = *v;
}

namespace AnnotationStage2Classifier {

std::string normalized(std::string_view text) {
    std::string spaced;
    for (char32_t c : Unicode::scalars(Unicode::nfc(text))) {
        if (c == U' ' || c == U'\u3000') continue;
        Unicode::appendScalar(spaced, c);
    }
    const std::vector<std::string_view> chars = characters(spaced);
    auto trimmed = [](std::string_view ch) {
        const std::vector<char32_t> s = Unicode::scalars(ch);
        return !s.empty() && Unicode::isPunctuationOrWhiteSpace(s.front());
    };
    std::size_t first = 0, last = chars.size();
    while (first < last && trimmed(chars[first])) ++first;
    while (last > first && trimmed(chars[last - 1])) --last;
    std::string out;
    for (std::size_t i = first; i < last; ++i) out += chars[i];
    return out;
}

std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit) {
    const std::string na = normalized(a), nb = normalized(b);
    const std::vector<std::string_view> x = characters(na), y = characters(nb);
    const std::size_t gap = x.size() > y.size() ? x.size() - y.size() : y.size() - x.size();
    if (gap > limit) return limit + 1;
    std::vector<std::size_t> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        std::size_t smallest = row[0];
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
            smallest = std::min(smallest, row[j]);
        }
        if (smallest > limit) return limit + 1;
    }
    return row[y.size()];
}

AnnotationInstructionClass classify(std::string_view text, const AnnotationStage2Features& f,
                                    AnnotationStage2Strategy strategy) {
    using enum AnnotationInstructionClass;
    using S = AnnotationStage2Strategy;
    const std::string n = normalized(text);
    if (n.empty()) return unknownInstruction;
    if (containsAny(n, notePhrases)) return handwrittenNote;
    const bool r4 = strategy == S::r4NoteProtectedComposition || strategy == S::r4HighConfidenceComposition;
    const bool s = f.nearbyStroke, t = f.targetProximity, m = f.marginPosition, g = f.geometrySupport;
    if (r4 && noteRule(n, s, t)) return handwrittenNote;

    const bool P = termMatch(n, priorityWords);
    const bool K = termMatch(n, editWords) || fuzzyEditMatch(n);
    const bool D = containsAny(n, directionWords);
    const bool Z = containsAny(n, sizeWords);
    const bool O = n == "OK" || n == "OFF";
    const bool V = containsAny(n, actionWords);

    if (strategy == S::r1Baseline) {
        if (P) return proofreadingInstruction;
        if (s && g) return proofreadingInstruction;
        return unknownInstruction;
    }
    const int score = 2 * P + 2 * K + ((D || Z || O) ? 1 : 0) + V + 2 * s + t + m + (characters(n).size() < 6 ? 1 : 0);
    if ((P || K) && (s || t || m || V || D || Z) && score >= 3) return proofreadingInstruction;
    if (g && s && score >= 3) return proofreadingInstruction;

    const bool E = P || K || termMatch(n, editVerbs);
    const bool Ph = termMatch(n, requestPhrases);
    const bool Tg = termMatch(n, targets);
    const bool near = s || t;
    if (strategy == S::conservativeRescue || strategy == S::conservativeComposition) {
        if (contains(n, "ここ") || contains(n, "この行")) {
            if (E || Ph || (O && (near || m))) return proofreadingInstruction;
        } else if (near) {
            if (O || E || Ph) return proofreadingInstruction;
        } else if (((E || Ph) && (Tg || contains(n, "この段落") || m)) || (O && m)) {
            return proofreadingInstruction;
        }
    }
    if (r4) {
        if (contains(n, "ここ") || contains(n, "この行") || contains(n, "この段落") || contains(n, "この部分")) {
            if (E || Ph || (O && (near || m))) return proofreadingInstruction;
        } else if (near) {
            if (O || E || Ph) return proofreadingInstruction;
        } else if (((E || Ph) && (Tg || contains(n, "この箇所") || m)) || (O && m)) {
            return proofreadingInstruction;
        }
    }
    if (strategy != S::r4HighConfidenceComposition) return unknownInstruction;

    const bool Q = containsAny(n, requestEndings);
    bool R = containsAny(n, stems);
    if (!Q && !endsWith(n, "する")) R = R && endsWith(n, "る");
    if (Tg || contains(n, "この行") || contains(n, "この部分") || contains(n, "この箇所")) {
        if (R) return noteRule(n, s, t) ? unknownInstruction : proofreadingInstruction;
        return unknownInstruction;
    }
    if (R && near) return noteRule(n, s, t) ? unknownInstruction : proofreadingInstruction;
    return unknownInstruction;
}

double distance(const Rect& box, const std::vector<Rect>& boxes) {
    double best = std::numeric_limits<double>::infinity();
    for (const Rect& b : boxes) {
        const double dx = std::max({box.minX() - b.maxX(), b.minX() - box.maxX(), 0.0});
        const double dy = std::max({box.minY() - b.maxY(), b.minY() - box.maxY(), 0.0});
        best = std::min(best, std::sqrt(dx * dx + dy * dy));
    }
    return best;
}

std::set<std::size_t> compositionIndices(const std::vector<AnnotationStage2Item>& items,
                                         AnnotationStage2Strategy strategy) {
    using S = AnnotationStage2Strategy;
    std::set<std::size_t> out;
    if (items.size() > mostItems) return out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].classification == AnnotationInstructionClass::proofreadingInstruction) out.insert(i);
    }
    const S pair = rank(strategy) <= rank(S::conservativeRescue) ? S::contextualSignals
                   : strategy == S::conservativeComposition      ? S::conservativeRescue
                                                                 : strategy;
    const std::size_t count = items.size();
    std::vector<std::string> texts;
    texts.reserve(count);
    for (const auto& item : items) texts.push_back(normalized(item.text));
    // The gaps are measured once: the triple loop reads them again and again.
    std::vector<double> gaps(count * count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = i + 1; j < count; ++j) {
            gaps[i * count + j] = gaps[j * count + i] = distance(items[i].box, {items[j].box});
        }
    }
    auto note = [&](std::size_t i) { return items[i].classification == AnnotationInstructionClass::handwrittenNote; };
    auto combined = [&](std::initializer_list<std::size_t> which) {
        AnnotationStage2Features f;
        for (std::size_t k : which) {
            f.nearbyStroke = f.nearbyStroke || items[k].features.nearbyStroke;
            f.targetProximity = f.targetProximity || items[k].features.targetProximity;
            f.marginPosition = f.marginPosition || items[k].features.marginPosition;
            f.geometrySupport = f.geometrySupport || items[k].features.geometrySupport;
        }
        return f;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (note(i)) continue;
        for (std::size_t j = i + 1; j < count; ++j) {
            if (note(j) || gaps[i * count + j] > compositionDistance) continue;
            if (!containsAny(texts[i], contextWords) && !containsAny(texts[j], contextWords)) continue;
            const AnnotationStage2Features f = combined({i, j});
            if (classify(texts[i] + texts[j], f, pair) == AnnotationInstructionClass::proofreadingInstruction ||
                classify(texts[j] + texts[i], f, pair) == AnnotationInstructionClass::proofreadingInstruction) {
                out.insert(i);
                out.insert(j);
            }
        }
    }
    const bool triples = strategy == S::conservativeComposition || strategy == S::r4NoteProtectedComposition ||
                         strategy == S::r4HighConfidenceComposition;
    if (triples && count >= maximumCompositionRegions) {
        for (std::size_t i = 0; i < count; ++i) {
            if (note(i)) continue;
            for (std::size_t j = i + 1; j < count; ++j) {
                if (note(j) || gaps[i * count + j] > compositionDistance) continue;
                for (std::size_t k = j + 1; k < count; ++k) {
                    if (note(k) || gaps[j * count + k] > compositionDistance) continue;
                    if (classify(texts[i] + texts[j] + texts[k], combined({i, j, k}), pair) ==
                        AnnotationInstructionClass::proofreadingInstruction) {
                        out.insert(i);
                        out.insert(j);
                        out.insert(k);
                    }
                }
            }
        }
    }
    return out;
}

}  // namespace AnnotationStage2Classifier
}  // namespace velmora
