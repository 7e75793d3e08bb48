// The whole OCR pane as a window shows it: a finished queue of three
// originals with the processing list open, the same pane narrower than 900
// (its rows wrapped), the pane before any document, the recovery banner of
// saved queues, a locked PDF waiting for its password (after a run, and just
// opened), a file of another kind refused over an open report, a "PDF" that is no
// document refused as it is opened, and the tint of files dragged over the
// pane. Then whole workspace windows: the OCR section with its processing
// list open, and the web section telling of OCR work saved by an earlier
// session.
#include <gtk/gtk.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "Scene.hpp"
#include "foundation/Unicode.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrqueue/RunFixtures.hpp"
#include "ocrviews/GtkQueuePorts.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora::screenshots {

namespace {

namespace fs = std::filesystem;

const std::vector<std::vector<std::string>> documents = {
    {"本報告書は、令和六年度における地域図書館の利用状況と今後の課題をまとめたものである。",
     "貸出冊数は前年度に比べて八パーセント増加し、特に児童書と郷土資料の伸びが目立った。",
     "一方で、開館時間の短い分館では利用者が減少しており、夜間開館の試行を検討している。"},
    {"資料の電子化については、古文書三百点の撮影を終え、目録の整備を進めている。",
     "撮影した画像は館内の端末で閲覧でき、来年度には公開範囲を広げる予定である。"},
    {"利用者アンケートでは、自習席の増設と無線通信の改善を求める声が多かった。",
     "これらの要望は、施設改修の計画と合わせて検討する。"},
};

fs::path folder(const Stage& stage) {
    const fs::path f = stage.storage / "ocr-pane-scenes";
    fs::create_directories(f);
    return f;
}

// One A4 page at 100 dpi of the paragraphs, saved as a PNG, with its drawn
// lines as the recognised regions (the third line less certain). Each page
// is a pixel taller than the one before, so the recogniser tells them apart.
struct DrawnPage {
    fs::path file;
    int height = 0;
    std::vector<TextRegion> regions;
};

DrawnPage drawPage(const Stage& stage, const std::string& name, const std::vector<std::string>& paragraphs,
                   int index) {
    test::TextLayout layout;
    layout.width = 827;
    layout.height = 1169 + index;
    layout.pixelSize = 22;
    layout.left = 80;
    layout.top = 110;
    layout.lineAdvance = 1.9;
    const test::TextPage page = test::renderParagraphs(layout, paragraphs);
    DrawnPage drawn{folder(stage) / name, layout.height, {}};
    const auto bytes = Raster::png(page.image);
    std::ofstream(drawn.file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const double w = page.image.width();
    const double h = page.image.height();
    for (std::size_t i = 0; i < page.lines.size(); ++i) {
        const Rect ink = page.lines[i].ink;
        drawn.regions.emplace_back(page.lines[i].text, i == 2 ? 0.62f : 0.95f, (ink.x - 3) / w,
                                   1 - (ink.y + ink.height + 3) / h, (ink.width + 6) / w, (ink.height + 6) / h);
    }
    return drawn;
}

// A controller of its own on the scene's folder, kept for the program's
// life; its engines read each drawn page as the regions drawn on it.
std::shared_ptr<QueueController> makeController(const Stage& stage, const std::vector<DrawnPage>& pages) {
    static std::vector<std::shared_ptr<QueueController>> kept;
    std::map<int, std::vector<TextRegion>> byHeight;
    for (const DrawnPage& page : pages) byHeight[page.height] = page.regions;
    QueuePorts ports;
    ports.configureEngine = [byHeight](OCRQueueEngine& engine) {
        engine.setRecognizer([byHeight](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                        const std::function<bool()>&) {
            const auto found = byHeight.find(static_cast<int>(image.height()));
            return PageResult(page, found == byHeight.end() ? std::vector<TextRegion>{} : found->second, 0.3,
                              image.width(), image.height());
        });
    };
    auto c = QueueController::create(folder(stage) / "queues", folder(stage) / "out", ports);
    kept.push_back(c);
    return c;
}

// A managed queue of the three reports, run to its end, the first page shown.
std::shared_ptr<QueueController> finishedQueue(Stage& stage) {
    std::vector<DrawnPage> pages;
    const std::vector<std::string> names{"年度報告.png", "電子化の記録.png", "アンケート集計.png"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        pages.push_back(drawPage(stage, names[i], documents[i], static_cast<int>(i)));
    }
    auto c = makeController(stage, pages);
    c->managedQueue = true;
    std::vector<fs::path> files;
    for (const DrawnPage& page : pages) files.push_back(page.file);
    auto append = c->appendFiles(files, false);
    test::runTask(std::move(append));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    auto start = c->start();
    test::runTask(std::move(start));
    test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(30));
    c->processingList = true;
    return c;
}

// The pane in a window already laid out at the scene's size, so that the
// picture shows the settled layout.
Gtk::Window* paneWindow(Stage& stage, std::shared_ptr<QueueController> c, int width, int height,
                        OCRProductView** pane = nullptr) {
    auto* window = new Gtk::Window();
    window->set_title("OCR");
    auto& view = *Gtk::make_managed<OCRProductView>(std::move(c), stage.app.services().settings);
    window->set_child(view);
    window->set_default_size(width, height);
    window->present();
    test::spinUntil([&] {
        return view.get_width() > 0 && !view.layoutPending() && !g_main_context_pending(nullptr);
    });
    if (pane) *pane = &view;
    return window;
}

Gtk::Window* wide(Stage& stage) { return paneWindow(stage, finishedQueue(stage), 1240, 850); }

Gtk::Window* compact(Stage& stage) { return paneWindow(stage, finishedQueue(stage), 860, 850); }

Gtk::Window* recovery(Stage& stage) {
    auto c = makeController(stage, {});
    c->savedQueues = std::vector<fs::path>{folder(stage) / "queues" / "saved"};
    return paneWindow(stage, c, 1240, 850);
}

Gtk::Window* lockedPDF(Stage& stage) {
    const fs::path plain = test::writeDocument(folder(stage) / "plain.pdf", 2);
    const fs::path locked = test::lockPDF(plain, folder(stage) / "契約書.pdf", "ひらけ");
    auto c = makeController(stage, {});
    auto open = c->requestSelection({locked});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    auto start = c->start();
    test::runTask(std::move(start));
    test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(30));
    return paneWindow(stage, c, 1240, 850);
}

// The same locked PDF just opened: the pane says it is protected, with the
// field for its password, before any run.
Gtk::Window* lockedOnOpening(Stage& stage) {
    const fs::path plain = test::writeDocument(folder(stage) / "plain-opening.pdf", 2);
    const fs::path locked = test::lockPDF(plain, folder(stage) / "見積書.pdf", "ひらけ");
    auto c = makeController(stage, {});
    c->recoveryDeferred = true;
    auto open = c->requestSelection({locked});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    return paneWindow(stage, c, 1240, 850);
}

// A report open, then a WebP chosen: the refusal names the WebP, and the
// report stays as it was.
Gtk::Window* refusedKind(Stage& stage) {
    std::vector<DrawnPage> pages{drawPage(stage, "年度報告.png", documents[0], 42)};
    auto c = makeController(stage, pages);
    c->recoveryDeferred = true;
    auto open = c->requestSelection({pages[0].file});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    const fs::path photo = folder(stage) / "会議室の写真.webp";
    std::ofstream(photo) << "RIFF";
    auto refused = c->requestSelection({photo});
    test::runTask(std::move(refused));
    return paneWindow(stage, c, 1240, 850);
}

Gtk::Window* dropHover(Stage& stage) {
    OCRProductView* pane = nullptr;
    auto c = makeController(stage, {});
    // The saved queues of the scenes before are not this scene's subject.
    c->recoveryDeferred = true;
    Gtk::Window* window = paneWindow(stage, c, 1240, 850, &pane);
    GdkDragAction action{};
    g_signal_emit_by_name(pane->dropTarget()->gobj(), "enter", 600.0, 400.0, &action);
    return window;
}

// The pane before any document: nothing saved to resume, no queue open.
Gtk::Window* empty(Stage& stage) {
    auto c = makeController(stage, {});
    c->recoveryDeferred = true;
    return paneWindow(stage, c, 1240, 850);
}

// The handwriting mode chosen before a run: its option under the name the
// settings give it.
Gtk::Window* handwriting(Stage& stage) {
    auto c = makeController(stage, {});
    c->recoveryDeferred = true;
    c->recognitionMode = OCRMode::handwriting;
    return paneWindow(stage, c, 1240, 850);
}

// A text file named like a PDF, chosen: refused at once, nothing to run.
Gtk::Window* refusedPDF(Stage& stage) {
    const fs::path notes = folder(stage) / "取扱説明書.pdf";
    std::ofstream(notes) << "これはPDFではなく、名前だけPDFのテキストです。\n";
    auto c = makeController(stage, {});
    c->recoveryDeferred = true;
    auto open = c->requestSelection({notes});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    return paneWindow(stage, c, 1240, 850);
}

// A finished report with an edit on screen; then a text file named like a
// PDF chosen: refused before anything is asked, the edited page still
// shown and the refusal in red under the open button.
Gtk::Window* refusedOverEdit(Stage& stage) {
    const std::vector<std::string> names{"年度報告.png"};
    std::vector<DrawnPage> pages{drawPage(stage, names[0], documents[0], 40)};
    auto c = makeController(stage, pages);
    c->recoveryDeferred = true;
    auto open = c->requestSelection({pages[0].file});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    auto start = c->start();
    test::runTask(std::move(start));
    test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(30));
    c->editText(c->edited.get() + "（確認済み）", TextRange{static_cast<int64_t>(Unicode::toUTF16(c->edited.get()).size()), 0},
                std::string("（確認済み）"), false);
    const fs::path notes = folder(stage) / "議事メモ.pdf";
    std::ofstream(notes) << "これはPDFではなく、名前だけPDFのテキストです。\n";
    auto refused = c->requestSelection({notes});
    test::runTask(std::move(refused));
    test::spinUntil([&] { return !c->importing.get(); }, std::chrono::seconds(20));
    return paneWindow(stage, c, 1240, 850);
}

// The same report saved as TXT: the sentence names the file and its folder,
// with the button that opens it.
Gtk::Window* savedText(Stage& stage) {
    std::vector<DrawnPage> pages{drawPage(stage, "年度報告.png", documents[0], 41)};
    auto c = makeController(stage, pages);
    c->recoveryDeferred = true;
    auto open = c->requestSelection({pages[0].file});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    auto start = c->start();
    test::runTask(std::move(start));
    test::spinUntil([&] { return !c->busy.get(); }, std::chrono::seconds(30));
    const fs::path ocrFolder = folder(stage) / "ドキュメント" / "ベルモラ" / "OCR";
    c->destinationProvider = [ocrFolder](bool) -> Task<std::optional<fs::path>> { co_return ocrFolder; };
    auto save = c->save(false);
    test::runTask(std::move(save));
    return paneWindow(stage, c, 1240, 850);
}

// A queue of three brought back after a crash during its last page: the
// main button goes on from there.
Gtk::Window* resumedQueue(Stage& stage) {
    std::vector<DrawnPage> pages;
    const std::vector<std::string> names{"第一章.png", "第二章.png", "第三章.png"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        pages.push_back(drawPage(stage, names[i], documents[i], static_cast<int>(50 + i)));
    }
    auto c = makeController(stage, pages);
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (const DrawnPage& page : pages) inputs.push_back({page.file});
    auto engine = OCRQueueEngine::create(inputs, c->currentSettings(), c->parent);
    c->ports().configure(*engine);
    JobControl control;
    const UUID last = engine->snapshot().inputs.back().id;
    engine->run(control, false, {}, {}, [&](const QueueSnapshot& s) {
        if (const QueueInput* in = s.input(last); in && in->status == InputStatus::running) {
            control.request(JobControl::Stop::pause);
        }
    });
    c->selectedSaved = engine->directory()->url();
    engine.reset();
    auto recover = c->loadRecovery();
    test::runTask(std::move(recover));
    c->processingList = false;
    return paneWindow(stage, c, 1240, 850);
}

// A tall capture being read as one page: how far its reading has come, in
// the status row and on its row of the list, with 中止 at hand.
Gtk::Window* readingTallPage(Stage& stage) {
    std::vector<std::string> paragraphs;
    for (int i = 0; i < 6; ++i) {
        for (const auto& paragraph : documents) paragraphs.insert(paragraphs.end(), paragraph.begin(), paragraph.end());
    }
    test::TextLayout layout;
    layout.width = 731;
    layout.height = 4000;
    layout.pixelSize = 18;
    layout.left = 24;
    layout.top = 24;
    layout.lineAdvance = 1.8;
    const test::TextPage page = test::renderParagraphs(layout, paragraphs);
    const fs::path file = folder(stage) / "縦長キャプチャ_20261201.png";
    const auto bytes = Raster::png(page.image);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto c = makeController(stage, {});
    c->recoveryDeferred = true;
    auto open = c->requestSelection({file});
    test::runTask(std::move(open));
    test::spinUntil([&] { return c->importTask && c->importTask->done() && c->engine; }, std::chrono::seconds(20));
    // As the run shows it while the page is read.
    QueueSnapshot shown = c->engine->snapshot();
    QueueInput& input = shown.inputs[0];
    input.status = InputStatus::running;
    input.source = SourceIdentity(input.path, bytes.size(), 1, std::string(64, 'a'));
    input.pages = {PageRecord(1, PageState::inProgress)};
    shown.status = QueueStatus::running;
    c->snapshot = shown;
    c->setBusy(true);
    c->status = "OCR処理中…";
    c->reading = QueueController::Reading{input.id, 1, 0.62};
    c->managedQueue = true;
    c->processingList = true;
    return paneWindow(stage, c, 1240, 850);
}

// The restart question over a saved queue with an edit: what becomes of
// the edits, said once, and the answer ahead named and suggested.
Gtk::Window* restartQuestion(Stage& stage) {
    static std::optional<test::Spawned<bool>> asked;
    static GtkQueueConfirmer confirmer;
    asked.emplace(confirmer.confirm("別の試行として最初から処理しますか？", QueueController::restartInformative(true, true),
                                    "最初から処理", AnswerAhead::suggested));
    (void)stage;
    Gtk::Window* dialog = nullptr;
    test::spinUntil([&] {
        for (auto* window : test::visibleWindows()) {
            if (window->get_name() == GtkQueueConfirmer::dialogName) dialog = window;
        }
        return dialog != nullptr;
    });
    return dialog;
}

// A window of its own, in the application's window set, kept until the
// process ends.
WorkspaceWindow* workspaceWindow(Stage& stage) {
    stage.app.application()->activate();
    AppServices& services = stage.app.services ? stage.app.services() : AppServices::shared();
    auto* set = new WorkspaceWindows(services, stage.app.application());
    set->quitApplication = [] {};
    return set->open(std::nullopt);
}

// The OCR section at the window's default size with the processing list
// open over a queue of three pages recognised for real.
Gtk::Window* workspaceQueue(Stage& stage, bool listed) {
    WorkspaceWindow* window = workspaceWindow(stage);
    if (!window) return nullptr;
    auto& queue = *window->model()->queue;
    std::vector<fs::path> files;
    const std::vector<std::string> names{"年度報告の一.png", "年度報告の二.png", "年度報告の三.png"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        files.push_back(drawPage(stage, names[i], documents[i], static_cast<int>(i)).file);
    }
    queue.managedQueue = true;
    auto append = queue.appendFiles(files, false);
    test::runTask(std::move(append));
    test::spinUntil([&] { return queue.importTask && queue.importTask->done() && queue.engine; },
                    std::chrono::seconds(20));
    auto start = queue.start();
    test::runTask(std::move(start));
    test::spinUntil([&] { return !queue.busy.get(); }, std::chrono::seconds(120));
    queue.processingList = listed;
    window->model()->section = WindowModel::Section::ocr;
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

// Reads every page of an engine as the regions drawn on it (none for a page
// not drawn here).
void drawnRecognizer(OCRQueueEngine& engine, const std::vector<DrawnPage>& pages) {
    std::map<int, std::vector<TextRegion>> byHeight;
    for (const DrawnPage& page : pages) byHeight[page.height] = page.regions;
    engine.setRecognizer([byHeight](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                    const std::function<bool()>&) {
        const auto found = byHeight.find(static_cast<int>(image.height()));
        return PageResult(page, found == byHeight.end() ? std::vector<TextRegion>{} : found->second, 0.3,
                          image.width(), image.height());
    });
}

// A queue of the files made in the window's queue folder and run to its end
// (failing the pages named), its folder dated as last worked on then.
std::shared_ptr<OCRQueueEngine> keptQueue(QueueController& queue, const std::vector<fs::path>& files,
                                          const std::vector<DrawnPage>& pages,
                                          const std::map<std::size_t, std::set<int64_t>>& fail, time_t workedAt) {
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (const fs::path& f : files) inputs.push_back({f});
    std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::create(inputs, queue.currentSettings(), queue.parent);
    drawnRecognizer(*engine, pages);
    std::map<UUID, std::set<int64_t>> failPages;
    for (const auto& [index, numbers] : fail) failPages[engine->snapshot().inputs[index].id] = numbers;
    JobControl control;
    engine->run(control, false, {}, failPages, [](const QueueSnapshot&) {});
    const fs::path folder = engine->directory()->url();
    const timespec times[2] = {{workedAt, 0}, {workedAt, 0}};
    for (const fs::path& f : {folder / "queue.json", folder}) utimensat(AT_FDCWD, f.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return engine;
}

// The OCR section at the default size with the processing list open over a
// queue of five originals (one with failed pages, one that could not be
// read at all, as an earlier version let it in) and two queues kept from
// earlier days: the toolbars, the summary and three inputs in view, the page
// and the result below.
Gtk::Window* workspaceQueueRows(Stage& stage) {
    WorkspaceWindow* window = workspaceWindow(stage);
    if (!window) return nullptr;
    auto& queue = *window->model()->queue;
    std::vector<DrawnPage> pages;
    const std::vector<std::string> names{"議事録-2026-11.png", "請求書まとめ.png", "年度報告.png"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        pages.push_back(drawPage(stage, names[i], documents[i], static_cast<int>(10 + i)));
    }
    keptQueue(queue, {pages[0].file}, pages, {}, 1'796'000'000);
    keptQueue(queue, {pages[1].file}, pages, {}, 1'796'090'000);
    const fs::path scans = test::writeDocument(folder(stage) / "古文書スキャン.pdf", 4);
    const fs::path broken = folder(stage) / "途中で切れた資料.pdf";
    std::ofstream(broken) << "%PDF-1.4\n% cut short\n";
    std::shared_ptr<OCRQueueEngine> open = keptQueue(
        queue, {pages[2].file, scans, broken, pages[0].file, pages[1].file}, pages, {{1, {2, 4}}}, 1'796'180'000);
    queue.engine = open;
    queue.snapshot = open->snapshot();
    queue.selectedID = open->snapshot().inputs.front().id;
    queue.page = 1;
    queue.managedQueue = true;
    queue.refreshSaved();
    queue.showPage();
    queue.status = "一部のページを読み取れませんでした。完成済み結果は保持しています。";
    queue.processingList = true;
    window->model()->section = WindowModel::Section::ocr;
    test::spinFor(std::chrono::milliseconds(600));
    return &window->window();
}

// After a session that ended with work saved: 再開候補を表示 pressed on the
// OCR section's banner opens the list with the candidates in view, each
// telling when it was last worked on.
Gtk::Window* workspaceResumeCandidates(Stage& stage) {
    WorkspaceWindow* window = workspaceWindow(stage);
    if (!window) return nullptr;
    auto& queue = *window->model()->queue;
    std::vector<DrawnPage> pages;
    const std::vector<std::string> names{"議事録.png", "議事録-続き.png", "アンケート.png"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        pages.push_back(drawPage(stage, names[i], documents[i], static_cast<int>(20 + i)));
    }
    keptQueue(queue, {pages[0].file, pages[1].file}, pages, {}, 1'796'000'000);
    keptQueue(queue, {pages[0].file, pages[2].file}, pages, {{1, {1}}}, 1'796'300'000);
    queue.refreshSaved();
    window->model()->section = WindowModel::Section::ocr;
    test::spinFor(std::chrono::milliseconds(300));
    queue.processingList = true;
    queue.recoveryDeferred = true;
    test::spinFor(std::chrono::milliseconds(600));
    return &window->window();
}

// A window opening on the web section after a session that ended during
// OCR: the strip at the bottom tells of the saved work and leads to it.
Gtk::Window* workspaceResumable(Stage& stage) {
    WorkspaceWindow* window = workspaceWindow(stage);
    if (!window) return nullptr;
    auto& queue = *window->model()->queue;
    queue.savedQueues = std::vector<fs::path>{folder(stage) / "queues" / "saved"};
    window->model()->section = WindowModel::Section::web;
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

const bool registered = registerScene("ocr-pane", 1240, 850, wide) &&
                        registerScene("ocr-pane-empty", 1240, 850, empty) &&
                        registerScene("ocr-pane-handwriting", 1240, 850, handwriting) &&
                        registerScene("ocr-pane-compact", 860, 850, compact) &&
                        registerScene("ocr-pane-recovery", 1240, 850, recovery) &&
                        registerScene("ocr-pane-password", 1240, 850, lockedPDF) &&
                        registerScene("ocr-pane-locked-opened", 1240, 850, lockedOnOpening) &&
                        registerScene("ocr-pane-refused-kind", 1240, 850, refusedKind) &&
                        registerScene("ocr-pane-refused-pdf", 1240, 850, refusedPDF) &&
                        registerScene("workspace-ocr-queue", 1240, 850, [](Stage& s) { return workspaceQueue(s, true); }) &&
                        // The least window: every row whole, the list open or closed.
                        registerScene("workspace-ocr-queue-narrow", 920, 720,
                                      [](Stage& s) { return workspaceQueue(s, true); }) &&
                        registerScene("workspace-ocr-read-narrow", 920, 720,
                                      [](Stage& s) { return workspaceQueue(s, false); }) &&
                        registerScene("workspace-ocr-resumable", 1240, 850, workspaceResumable) &&
                        registerScene("workspace-ocr-queue-rows", 1240, 850, workspaceQueueRows) &&
                        // At the window's least size: the summary wraps, nothing scrolls sideways.
                        registerScene("workspace-ocr-queue-rows-narrow", 920, 720, workspaceQueueRows) &&
                        registerScene("workspace-ocr-resume-candidates", 1240, 850, workspaceResumeCandidates) &&
                        // The window at its least size: the queue panel gives up its height
                        // (and scrolls) so that the rows below it stay in the window.
                        registerScene("workspace-ocr-resume-candidates-narrow", 920, 720, workspaceResumeCandidates) &&
                        registerScene("ocr-pane-drop", 1240, 850, dropHover) &&
                        registerScene("ocr-pane-refused-over-edit", 1240, 850, refusedOverEdit) &&
                        registerScene("ocr-pane-saved-txt", 1240, 850, savedText) &&
                        registerScene("ocr-pane-resumed", 1240, 850, resumedQueue) &&
                        registerScene("ocr-pane-reading-tall", 1240, 850, readingTallPage) &&
                        registerScene("ocr-restart-question", 419, 179, restartQuestion);

}  // namespace

}  // namespace velmora::screenshots
