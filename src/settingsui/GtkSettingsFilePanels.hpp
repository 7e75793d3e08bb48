#pragma once

#include <functional>

#include "settingsui/SettingsFilePanels.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

// The desktop's file choosers for the settings file: a save panel and an open
// panel for one file, both modal and both filtered to the settings
// extensions (by suffix, in any case, and by the settings MIME type). GTK runs
// no dialog modally on its own loop, so each task resumes when the user
// answers; a task discarded meanwhile takes its panel away. GTK may ask
// about replacing an existing file itself; the export never replaces one.
class GtkSettingsFilePanels final : public SettingsFilePanels {
public:
    static constexpr const char* exportTitle = "設定を書き出す";
    static constexpr const char* exportAccept = "書き出す";
    static constexpr const char* importTitle = "設定を読み込む";
    static constexpr const char* importAccept = "開く";
    static constexpr const char* cancelLabel = "取消";
    static constexpr const char* mimeType = "application/x-velmora-settings";

    // The panels belong to the window parent() gives when they open, or,
    // without one, to the window the user works in then (activeToplevel).
    explicit GtkSettingsFilePanels(std::function<Gtk::Window*()> parent = nullptr) : parent_(std::move(parent)) {}

    Task<std::optional<std::filesystem::path>> chooseExport(const std::string& suggestedName,
                                                             const std::filesystem::path& startFolder) override;
    Task<std::optional<std::filesystem::path>> chooseImport(const std::vector<std::string>& extensions) override;

private:
    std::function<Gtk::Window*()> parent_;
};

}  // namespace velmora
