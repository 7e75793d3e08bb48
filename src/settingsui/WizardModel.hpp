#pragma once

// The setup wizard without a display: six steps over one draft of the
// preferences (five form sections, then a summary), a short or a detailed
// course, and one apply against the preferences stored when the wizard came
// on screen. Nothing is written before the apply; a refused apply writes
// nothing and keeps the wizard on the last step with the draft as it was.

#include <array>
#include <string>

#include <sigc++/sigc++.h>

#include "foundation/AppPreferences.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/FormModel.hpp"

namespace velmora {

class WizardModel {
public:
    static constexpr int stepCount = 6;
    static constexpr int summaryStep = 5;
    static constexpr std::array<const char*, stepCount> titles{"保存", "Webキャプチャ", "印刷", "OCR", "履歴", "確認"};
    static constexpr const char* applyFailure =
        "適用できませんでした。現在の設定は変更していません。取消して設定を読み直してください。";

    explicit WizardModel(SettingsStore& store);
    WizardModel(const WizardModel&) = delete;
    WizardModel& operator=(const WizardModel&) = delete;

    // Step, course or message changed. Draft edits are the form's own signal.
    sigc::signal<void()>& changed() noexcept { return changed_; }

    // The draft the steps edit, with the current step and course.
    FormModel& form() noexcept { return form_; }
    const AppPreferences& draft() const noexcept { return form_.draft(); }
    const AppPreferences& expected() const noexcept { return expected_; }
    int step() const noexcept { return step_; }
    bool detailed() const noexcept { return form_.detailed(); }
    const std::string& message() const noexcept { return message_; }

    // Coming on screen: the stored record as it is in memory (no reload),
    // first as the baseline of the apply, then as the draft; step 0, the
    // short course, no message.
    void start();
    // Keeps the step and every value; only the rows shown change.
    void setDetailed(bool detailed);
    // Ignored at step 0.
    void back();
    // Ignored at the summary step.
    void next();
    // At the summary step only: the portable part of the draft applied
    // against the baseline. True when written (the wizard closes); false with
    // the failure sentence otherwise.
    bool apply();

    // "1/6  保存": the step number, a slash, the count, two spaces, the title.
    std::string stepLine() const;
    // The summary of what would be applied.
    std::string summary() const;

private:
    void setStep(int step);

    SettingsStore& store_;
    FormModel form_;
    AppPreferences expected_;
    int step_ = 0;
    std::string message_;
    sigc::signal<void()> changed_;
};

}  // namespace velmora
