// The browser privacy section as the settings screen places it: with the
// sites of the normal store listed and one chosen, the question before that
// site's data is deleted, and the result of a deletion. The sites come from
// a store of sample names and the tabs are samples too: a picture must not
// depend on what the engine happens to keep.
#include <gtkmm/frame.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>

#include "Scene.hpp"
#include "capture/TabRestoration.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/BrowserSettings.hpp"
#include "settingsui/PrivacySettings.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"

namespace velmora::screenshots {

namespace {

constexpr int sceneWidth = 620;
constexpr int sceneHeight = 420;

class SampleStores final : public SiteDataStores {
public:
    Task<std::vector<WebsiteDataRecord>> records(bool privateMode) override {
        std::vector<WebsiteDataRecord> out;
        if (privateMode) co_return out;
        for (const char* name : {"news.example.co.jp", "city.example.lg.jp", "shop.example.com", "example.jp",
                                 "library.example.ac.jp", "video.example.net"}) {
            out.push_back({name, nullptr});
        }
        co_return out;
    }
    std::shared_ptr<Store> store(bool) override { return std::make_shared<Removed>(); }
    bool beginDeletion(bool) override { return true; }
    void endDeletion(bool) override {}

private:
    class Removed final : public Store {
    public:
        Task<void> remove(std::vector<WebsiteDataRecord>) override { co_return; }
    };
};

class SampleTab final : public PrivacyTab {
public:
    explicit SampleTab(std::string url) : url_(std::move(url)) {}
    UUID id() const override { return id_; }
    bool isPrivate() const override { return false; }
    std::optional<std::string> currentURL() const override { return url_; }
    std::string address() const override { return url_; }
    bool active() const override { return false; }
    void cancel() override {}
    void close() override {}

private:
    UUID id_ = UUID::random();
    std::string url_;
};

class SampleWindows final : public PrivacyWindows {
public:
    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override { return tabs_; }
    void saveSnapshot() override {}

private:
    std::vector<std::shared_ptr<PrivacyTab>> tabs_{
        std::make_shared<SampleTab>("https://news.example.co.jp/articles/2026/12/07/"),
        std::make_shared<SampleTab>("https://www.news.example.co.jp/"),
        std::make_shared<SampleTab>("https://library.example.ac.jp/search?q=%E5%9C%B0%E5%9B%B3")};
};

// A user who agrees at once.
class Agreeing final : public Confirmation {
public:
    Task<bool> confirm(const Request&) override { co_return true; }
};

struct Privacy {
    SettingsStore settings;
    TabRestoration restoration;
    explicit Privacy(const std::filesystem::path& root) : settings(root / "settings"), restoration(root / "tabs", settings) {
        restoration.setEnabled(true);
    }
};

Privacy& privacyOf(Stage& stage) {
    static Privacy& shared = *new Privacy(stage.storage / "privacy-scene");
    return shared;
}

// The section under the heading the settings screen gives it, with its
// list loaded and a site chosen.
std::pair<Gtk::Window*, std::shared_ptr<PrivacySettings>> listedSection(Stage& stage) {
    Privacy& privacy = privacyOf(stage);
    auto controller = PrivacySettings::create(privacy.settings, privacy.restoration, std::make_shared<SampleStores>(),
                                              std::make_shared<SampleWindows>());
    auto* window = new Gtk::Window();
    window->set_title("設定");
    auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    box.set_margin(20);
    auto& heading = *Gtk::make_managed<Gtk::Label>("プライバシー・Cookie");
    heading.set_xalign(0);
    heading.add_css_class("heading");
    box.append(heading);
    auto& frame = *Gtk::make_managed<Gtk::Frame>();
    auto& section = *Gtk::make_managed<BrowserSettings>(controller);
    section.set_margin(12);
    frame.set_child(section);
    box.append(frame);
    window->set_child(box);
    window->set_default_size(sceneWidth, sceneHeight);
    window->present();
    controller->loadRecords();
    test::spinUntil([&] { return !controller->working && !controller->records->empty(); });
    controller->select("news.example.co.jp");
    return {window, controller};
}

Gtk::Window* listed(Stage& stage) { return listedSection(stage).first; }

Gtk::Window* asking(Stage& stage) {
    // The window and its section stay until the program ends: the question
    // is still up when the picture is taken.
    const auto made = listedSection(stage);
    Gtk::Window* window = made.first;
    made.second->confirm(false);
    Gtk::Window* found = nullptr;
    test::spinUntil([&] {
        for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
            if (dialog->get_transient_for() == window) found = dialog;
        }
        return found != nullptr;
    });
    return found;
}

Gtk::Window* deleted(Stage& stage) {
    const auto made = listedSection(stage);
    const std::shared_ptr<PrivacySettings>& controller = made.second;
    controller->sheet = [] { return std::make_shared<Agreeing>(); };
    controller->confirm(false);
    test::spinUntil([&] { return controller->notice.get() == PrivacySettings::deletedNotice; });
    return made.first;
}

const bool registered = registerScene("privacy-section", sceneWidth, sceneHeight, listed) &&
                        registerScene("privacy-section-question", 503, 179, asking) &&
                        registerScene("privacy-section-deleted", sceneWidth, sceneHeight, deleted);

}  // namespace

}  // namespace velmora::screenshots
