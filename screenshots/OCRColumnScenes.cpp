// The two columns of the OCR pane side by side, on real queues: a printed
// A4 page of Japanese prose recognised by Tesseract with its boxes; the same
// kind of page with its result being edited (yellow low-confidence lines,
// a green correction, a blue search hit); a page in the handwriting mode
// with the kind tags of its regions; and the two empty states.
#include <gtkmm/paned.h>

#include <fstream>

#include "Scene.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/OCRResultColumn.hpp"
#include "ocrviews/OCRSourceColumn.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"
#include "foundation/Unicode.hpp"

namespace velmora::screenshots {

namespace {

constexpr int sceneWidth = 1180;
constexpr int sceneHeight = 800;

const std::vector<std::string> prose = {
    "本報告書は、令和六年度における地域図書館の利用状況と今後の課題をまとめたものである。",
    "貸出冊数は前年度に比べて八パーセント増加し、特に児童書と郷土資料の伸びが目立った。",
    "一方で、開館時間の短い分館では利用者が減少しており、夜間開館の試行を検討している。",
    "資料の電子化については、古文書三百点の撮影を終え、目録の整備を進めている。",
};

// An A4 page at 100 dpi, drawn once per program.
const test::TextPage& a4Page() {
    static const test::TextPage page = [] {
        test::TextLayout layout;
        layout.width = 827;
        layout.height = 1169;
        layout.pixelSize = 22;
        layout.left = 80;
        layout.top = 110;
        layout.lineAdvance = 1.9;
        return test::renderParagraphs(layout, prose);
    }();
    return page;
}

std::filesystem::path writePage(const Stage& stage, const std::string& name, const RasterImage& image) {
    const auto folder = stage.storage / "ocr-scenes";
    std::filesystem::create_directories(folder);
    const auto file = folder / name;
    const auto bytes = Raster::png(image);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

// The drawn lines as recognised regions, each on its ink, with the given
// confidences and kinds in turn.
std::vector<TextRegion> drawnRegions(const test::TextPage& page, const std::vector<float>& confidences,
                                     const std::vector<RegionKind>& kinds) {
    std::vector<TextRegion> regions;
    const double w = page.image.width();
    const double h = page.image.height();
    for (std::size_t i = 0; i < page.lines.size(); ++i) {
        const Rect ink = page.lines[i].ink;
        regions.emplace_back(page.lines[i].text, confidences[i % confidences.size()], (ink.x - 3) / w,
                             1 - (ink.y + ink.height + 3) / h, (ink.width + 6) / w, (ink.height + 6) / h,
                             kinds[i % kinds.size()]);
    }
    return regions;
}

// A controller on the scene's storage with one queue of the files, run to
// its end by the recogniser given (Tesseract when none), its first page shown.
std::shared_ptr<QueueController> runQueue(const Stage& stage, const std::vector<std::filesystem::path>& files,
                                          OCRMode mode, std::function<std::vector<TextRegion>()> regions = {}) {
    QueuePorts ports;
    if (regions) {
        ports.configureEngine = [regions](OCRQueueEngine& engine) {
            engine.setRecognizer([regions](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                           const std::function<bool()>&) {
                return PageResult(page, regions(), 0.4, image.width(), image.height());
            });
        };
    }
    auto c = QueueController::create(stage.storage / "ocr-scenes" / "queues", stage.storage / "ocr-scenes" / "out",
                                     ports);
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (const auto& file : files) inputs.push_back({file});
    OCRSettings settings;
    settings.mode = mode;
    std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::create(inputs, settings, c->parent);
    c->ports().configure(*engine);
    JobControl control;
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->engine = engine;
    c->snapshot = engine->snapshot();
    c->selectedID = c->snapshot->value().inputs.front().id;
    c->page = 1;
    c->showPage();
    return c;
}

// Both columns in a window, as the pane will place them; the controller
// lives as long as the program.
Gtk::Window* columns(std::shared_ptr<QueueController> controller) {
    static std::vector<std::shared_ptr<QueueController>> kept;
    kept.push_back(controller);
    auto* window = new Gtk::Window();
    window->set_title("OCR");
    auto& paned = *Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    auto& source = *Gtk::make_managed<OCRSourceColumn>(controller);
    auto& result = *Gtk::make_managed<OCRResultColumn>(controller);
    source.set_margin(10);
    result.set_margin(10);
    paned.set_start_child(source);
    paned.set_end_child(result);
    paned.set_position(520);
    window->set_child(paned);
    return window;
}

Gtk::Window* recognisedPage(Stage& stage) {
    const auto file = writePage(stage, "report.png", a4Page().image);
    return columns(runQueue(stage, {file}, OCRMode::standard));
}

Gtk::Window* editedPage(Stage& stage) {
    const test::TextPage& page = a4Page();
    const auto file = writePage(stage, "report-edited.png", page.image);
    const auto second = writePage(stage, "appendix.png", page.image);
    auto regions = drawnRegions(page, {0.96f, 0.91f, 0.64f, 0.93f, 0.97f, 0.71f}, {RegionKind::unknown});
    auto c = runQueue(stage, {file, second}, OCRMode::standard, [regions] { return regions; });
    // A correction typed into the third line, then a search for a word.
    std::string text = c->edited.get();
    const std::string wrong = "夜間";
    if (auto at = text.find(wrong); at != std::string::npos) {
        const auto location = static_cast<int64_t>(Unicode::utf16Length(std::string_view(text).substr(0, at)));
        text.replace(at, wrong.size(), "夜の");
        c->editText(text, TextRange{location, 2}, "夜の", false);
    }
    c->setSearch("電子化");
    c->find(1);
    c->zoom = 1.25;
    return columns(c);
}

Gtk::Window* annotationPage(Stage& stage) {
    test::TextLayout layout;
    layout.width = 827;
    layout.height = 1169;
    layout.pixelSize = 24;
    const test::TextPage page = test::renderPlaced(
        layout, {{"第三章　資料の保存と公開", 90, 120},
                 {"閲覧室の資料は、原則として館内でのみ利用できる。", 90, 200},
                 {"→ 貸出も可", 560, 250},
                 {"複写の申込みは、カウンターで受け付ける。", 90, 320},
                 {"要確認", 640, 370},
                 {"貴重書の撮影には、事前の許可が必要である。", 90, 440}});
    const auto file = writePage(stage, "annotated.png", page.image);
    auto regions = drawnRegions(page, {0.95f, 0.93f, 0.58f, 0.9f, 0.66f, 0.92f},
                                {RegionKind::printedCandidate, RegionKind::printedCandidate,
                                 RegionKind::handwrittenCandidate, RegionKind::printedCandidate, RegionKind::unknown,
                                 RegionKind::printedCandidate});
    return columns(runQueue(stage, {file}, OCRMode::handwriting, [regions] { return regions; }));
}

Gtk::Window* noQueue(Stage& stage) {
    return columns(QueueController::create(stage.storage / "ocr-scenes" / "queues",
                                           stage.storage / "ocr-scenes" / "out"));
}

Gtk::Window* failedPage(Stage& stage) {
    // A queue whose page cannot be shown: its original is gone.
    const auto file = writePage(stage, "removed.png", a4Page().image);
    auto c = runQueue(stage, {file}, OCRMode::standard, [] { return std::vector<TextRegion>{}; });
    std::filesystem::remove(file);
    c->showPage();
    c->preview = std::nullopt;
    return columns(c);
}

const bool registered =
    registerScene("ocr-recognised-page", sceneWidth, sceneHeight, recognisedPage) &&
    registerScene("ocr-edited-page", sceneWidth, sceneHeight, editedPage) &&
    registerScene("ocr-annotation-page", sceneWidth, sceneHeight, annotationPage) &&
    registerScene("ocr-no-queue", sceneWidth, sceneHeight, noQueue) &&
    registerScene("ocr-page-not-shown", sceneWidth, sceneHeight, failedPage);

}  // namespace

}  // namespace velmora::screenshots
