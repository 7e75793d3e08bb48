#include "settingsui/WizardModel.hpp"

#include "foundation/PortableSettings.hpp"

namespace velmora {

WizardModel::WizardModel(SettingsStore& store) : store_(store), form_(AppPreferences{}, 0, false) {}

void WizardModel::start() {
    expected_ = store_.value();
    form_.setDraft(store_.value());
    form_.setDetailed(false);
    message_.clear();
    step_ = -1;  // so that setStep announces step 0 even when it was there
    setStep(0);
}

void WizardModel::setDetailed(bool detailed) {
    if (detailed == form_.detailed()) return;
    form_.setDetailed(detailed);
    changed_.emit();
}

void WizardModel::back() {
    if (step_ > 0) setStep(step_ - 1);
}

void WizardModel::next() {
    if (step_ < summaryStep) setStep(step_ + 1);
}

bool WizardModel::apply() {
    if (step_ != summaryStep) return false;
    try {
        store_.apply(PortableSettings(form_.draft()), expected_);
        return true;
    } catch (...) {
        // Every refusal (changed elsewhere, a value outside its set, a
        // read-only store, a file that cannot be locked or written) has the
        // same remedy for the user; the error's own text is not shown.
        message_ = applyFailure;
        changed_.emit();
        return false;
    }
}

std::string WizardModel::stepLine() const {
    return std::to_string(step_ + 1) + "/" + std::to_string(stepCount) + "  " + titles.at(step_);
}

std::string WizardModel::summary() const { return PortableSettings(form_.draft()).summary(); }

void WizardModel::setStep(int step) {
    if (step == step_) return;
    step_ = step;
    // The summary step shows no form section.
    form_.setStep(step_ < summaryStep ? std::optional<int>(step_) : std::optional<int>(FormModel::sectionCount));
    changed_.emit();
}

}  // namespace velmora
