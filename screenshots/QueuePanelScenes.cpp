// The queue panel of the OCR pane on a queue of three originals: one being
// read, one with two failed pages and its error, one waiting for its PDF
// password; with a folder listing waiting for review, two saved queues and
// a refused resume. The panel grows to 230 high (more when its toolbars, its
// summary and three inputs need it), so the same panel is shown twice: as
// the pane holds it, and let out to its whole length.
#include <gtkmm/box.h>

#include <fstream>

#include "Scene.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/QueueView.hpp"
#include "support/RasterFiles.hpp"

namespace velmora::screenshots {

namespace {

constexpr int sceneWidth = 1000;
constexpr int sceneHeight = 250;
constexpr int wholeHeight = 900;

std::filesystem::path writeDocument(const std::filesystem::path& path, int pages) {
    std::vector<test::PageSize> sizes(static_cast<std::size_t>(pages), test::PageSize{144, 216});
    test::writePDF(path, sizes, [](cairo_t* cr, int page, test::PageSize) {
        cairo_rectangle(cr, 10 + page * 5, 10, 30, 30);
        cairo_fill(cr);
    });
    return path;
}

std::shared_ptr<QueueController> panelController(const Stage& stage, const std::string& name) {
    const auto folder = stage.storage / name;
    std::filesystem::create_directories(folder / "originals");
    QueuePorts ports;
    ports.configureEngine = [](OCRQueueEngine& engine) {
        engine.setRecognizer([](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                const std::function<bool()>&) {
            return PageResult(page, {TextRegion("本文", 0.95f, 0.1, 0.6, 0.8, 0.1)}, 0.1, image.width(),
                              image.height());
        });
    };
    auto c = QueueController::create(folder / "queues", folder / "out", ports);

    // Two queues kept from earlier days.
    for (const char* name : {"議事録-2026-11.pdf", "請求書まとめ.pdf"}) {
        auto kept = OCRQueueEngine::create({{writeDocument(folder / "originals" / name, 2)}}, OCRSettings{},
                                           c->parent);
        c->ports().configure(*kept);
        JobControl control;
        kept->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    }
    c->refreshSaved();

    // The open queue: the first original half read, the second with two
    // failed pages, the third a locked PDF waiting for its password.
    const auto report = writeDocument(folder / "originals" / "地域図書館報告書.pdf", 6);
    const auto scans = writeDocument(folder / "originals" / "古文書スキャン.pdf", 4);
    const auto locked = writeDocument(folder / "originals" / "契約書（保護付き）.pdf", 1);
    std::shared_ptr<OCRQueueEngine> engine =
        OCRQueueEngine::create({{report}, {scans}, {locked}}, OCRSettings{}, c->parent);
    c->ports().configure(*engine);
    {
        JobControl control;
        std::map<UUID, std::set<int64_t>> fail{{engine->snapshot().inputs[1].id, {2, 4}}};
        engine->run(control, false, {}, fail, [](const QueueSnapshot&) {});
    }
    QueueSnapshot shown = engine->snapshot();
    QueueInput& running = shown.inputs[0];
    running.status = InputStatus::running;
    for (std::size_t i = 0; i < running.pages.size(); ++i) {
        running.pages[i].state = i < 3 ? PageState::completed : i == 3 ? PageState::inProgress : PageState::pending;
    }
    shown.inputs[1].status = InputStatus::failed;
    shown.inputs[1].error = ErrorCase::renderFailed;
    shown.inputs[1].pages[3].error = ErrorCase::renderFailed;
    QueueInput& waiting = shown.inputs[2];
    waiting.status = InputStatus::waitingPassword;
    waiting.source.reset();
    waiting.pages.clear();
    waiting.error = ErrorCase::lockedPDF;
    shown.status = QueueStatus::running;
    c->engine = engine;
    c->snapshot = shown;
    c->selectedID = shown.inputs[1].id;
    c->managedQueue = true;

    c->folderCandidates = std::vector<std::filesystem::path>{folder / "受領" / "見積書-001.png",
                                                             folder / "受領" / "見積書-002.png",
                                                             folder / "受領" / "納品書.pdf"};
    const auto refused = c->savedQueues->back();
    c->rejection = QueueController::ResumeRejection{OCRQueueEngine::inspect(refused), refused,
                                                    ErrorCase::settingsChanged};
    c->status = "3件の一覧を確認してから追加してください。";
    return c;
}

Gtk::Window* panelWindow(std::shared_ptr<QueueController> controller, bool whole) {
    static std::vector<std::shared_ptr<QueueController>> kept;
    kept.push_back(controller);
    auto* window = new Gtk::Window();
    window->set_title("OCR");
    auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto& view = *Gtk::make_managed<QueueView>(controller);
    box.append(view);
    window->set_child(box);
    if (whole) view.set_max_content_height(wholeHeight);
    return window;
}

Gtk::Window* panelTop(Stage& stage) { return panelWindow(panelController(stage, "queue-panel-top"), false); }

Gtk::Window* panelWhole(Stage& stage) { return panelWindow(panelController(stage, "queue-panel-whole"), true); }

const bool registered = registerScene("ocr-queue-panel", sceneWidth, sceneHeight, panelTop) &&
                        registerScene("ocr-queue-panel-whole", sceneWidth, wholeHeight, panelWhole);

}  // namespace

}  // namespace velmora::screenshots
