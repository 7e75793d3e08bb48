#pragma once

// The settings form without a display: five fixed sections of rows, each row
// a choice over a fixed label-to-value table, a switch, or a caption, over one
// draft of the preferences. The form writes only the fields its rows bind;
// every other field of the draft (window sizes, the output folder, the tab
// restoration, the schema version) passes through every edit untouched. A
// draft value that no entry of a choice holds is shown as no selection and
// stays in the draft until the user picks an entry.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>

#include "foundation/AppPreferences.hpp"

namespace velmora {

struct FormRow {
    enum class Kind { choice, toggle, caption };

    Kind kind = Kind::caption;
    // The bound field ("saveMode", "product.paper"), or "caption.<what>";
    // views name their controls "form." + key.
    std::string key;
    // The control's label; a caption's whole text.
    std::string label;
    // Shown only in the detailed course.
    bool detailed = false;
    // Shown only while it applies to the draft (the mobile width only while
    // the display is the smartphone's); none: always.
    std::function<bool(const AppPreferences&)> applies;
    // A choice's entry labels, in order.
    std::vector<std::string> entries;

    // A choice: which entry holds the draft's value (none for a value outside
    // the table), and writing an entry's value.
    std::function<std::optional<std::size_t>(const AppPreferences&)> selected;
    std::function<void(AppPreferences&, std::size_t)> choose;
    // A switch.
    std::function<bool(const AppPreferences&)> isOn;
    std::function<void(AppPreferences&, bool)> setOn;
};

struct FormSection {
    int index = 0;
    std::string title;
    std::vector<const FormRow*> rows;
};

class FormModel {
public:
    static constexpr int sectionCount = 5;

    // An absent step shows every section; 0 to 4 one section; anything else
    // none.
    explicit FormModel(AppPreferences draft = {}, std::optional<int> step = std::nullopt, bool detailed = true);
    FormModel(const FormModel&) = delete;
    FormModel& operator=(const FormModel&) = delete;

    // The draft changed (an edit or a replacement); views sync their
    // controls, and show or hide the rows that apply to it (rowShown).
    sigc::signal<void()>& draftChanged() noexcept { return draftChanged_; }
    // The rows of the step and the course changed; views rebuild.
    sigc::signal<void()>& layoutChanged() noexcept { return layoutChanged_; }

    const AppPreferences& draft() const noexcept { return draft_; }
    void setDraft(AppPreferences draft);
    std::optional<int> step() const noexcept { return step_; }
    void setStep(std::optional<int> step);
    bool detailed() const noexcept { return detailed_; }
    void setDetailed(bool detailed);

    // The visible sections in order, each with its visible rows: the
    // always-rows, then (detailed only) the detailed rows; a row that does
    // not apply to the draft is left out.
    std::vector<FormSection> sections() const;
    // The rows of the step and the course, whether or not they apply to the
    // draft: what a view builds once, showing those that apply.
    std::vector<FormSection> layout() const;
    // The row applies to the draft.
    bool rowShown(const FormRow& row) const { return !row.applies || row.applies(draft_); }

    // Any row of the table by key, visible or not; null when unknown.
    static const FormRow* row(std::string_view key);
    std::optional<std::size_t> selection(std::string_view key) const;
    // invalidInput for an unknown key, a row of another kind or an index past
    // the entries.
    void choose(std::string_view key, std::size_t index);
    bool isOn(std::string_view key) const;
    void setOn(std::string_view key, bool on);

    // Every section with all its rows, in order.
    static const std::vector<FormSection>& table();
    // The caption of the default output folder, the home folder named.
    static std::string destinationCaption();

private:
    const FormRow& rowOf(std::string_view key, FormRow::Kind kind) const;

    AppPreferences draft_;
    std::optional<int> step_;
    bool detailed_;
    sigc::signal<void()> draftChanged_;
    sigc::signal<void()> layoutChanged_;
};

}  // namespace velmora
