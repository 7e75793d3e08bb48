// The history section: empty, a list of real outputs with their thumbnails
// (a tall capture, a print with its page PNGs, an OCR text, an interrupted
// capture with a file on its way to the Trash), a row whose file was
// deleted outside the application, selected so its detail shows, a file the
// desktop has no application to open, and a history file that can no longer
// be read.
#include <unicode/locid.h>

#include <cmath>
#include <cstring>

#include <gtkmm/button.h>
#include <gtkmm/listview.h>
#include <gtkmm/singleselection.h>

#include "Scene.hpp"
#include "foundation/JSON.hpp"
#include "foundation/SecureDirectory.hpp"
#include "history/CaptureHistory.hpp"
#include "support/FakeDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "workspace/sections/HistoryView.hpp"

namespace velmora::screenshots {

namespace {

namespace fs = std::filesystem;

fs::path outputs(Stage& stage) { return stage.storage.parent_path() / "out" / "ベルモラ"; }

// The history file as the store writes it, with whatever states the scene
// needs (the store itself only records files it can vouch for).
void writeHistory(Stage& stage, const std::vector<CaptureHistoryEntry>& entries) {
    Json j = Json::object();
    j["schemaVersion"] = 1;
    j["entries"] = entries;
    SecureDirectory(stage.storage / "history", true).replaceState(CaptureHistory::fileName, JSON::bytes(j));
}

SavedOutput saved(const fs::path& p) {
    SavedOutput o;
    o.path = p.string();
    o.stamp = FileStamp::read(p);
    return o;
}

CaptureHistoryEntry record(std::string kind, std::vector<SavedOutput> outputs, int minutesAgo,
                           std::optional<CaptureMetadata> metadata = std::nullopt) {
    CaptureHistoryEntry e;
    e.kind = std::move(kind);
    e.state = "completed";
    e.outputs = std::move(outputs);
    e.created = historyNow() - std::chrono::minutes(minutesAgo);
    e.metadata = std::move(metadata);
    return e;
}

CaptureMetadata page(std::string url, std::string title, std::string format) {
    CaptureMetadata m;
    m.url = std::move(url);
    m.title = std::move(title);
    m.format = std::move(format);
    return m;
}

// A web page as a tall capture: a coloured header, then paragraphs of grey
// lines and a picture here and there.
void capturePNG(const fs::path& p, int height, uint8_t r, uint8_t g, uint8_t b) {
    test::writePNG(p, 1280, height, 3, [=](int y, uint8_t* row) {
        for (int x = 0; x < 1280; ++x) {
            uint8_t* px = row + x * 3;
            if (y < 140) {
                px[0] = r, px[1] = g, px[2] = b;
            } else if ((y / 900) % 3 == 1 && y % 900 < 420 && x > 200 && x < 1080) {
                px[0] = static_cast<uint8_t>(120 + (x + y) % 80), px[1] = 150, px[2] = static_cast<uint8_t>(180 - y % 60);
            } else if (x > 160 && x < 1120 && y % 36 < 16 && (x / 9 + y / 36) % 11 != 0) {
                px[0] = px[1] = px[2] = 90;
            } else {
                px[0] = px[1] = px[2] = 250;
            }
        }
    });
}

void printPDF(const fs::path& p) {
    test::writePDF(p, {{595.28, 841.89}}, [](cairo_t* cr, int, test::PageSize size) {
        cairo_set_source_rgb(cr, 0.15, 0.3, 0.55);
        cairo_rectangle(cr, 50, 50, size.width - 100, 60);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        for (double y = 150; y < size.height - 80; y += 16) {
            cairo_rectangle(cr, 60, y, size.width - 120 - std::fmod(y * 5, 140), 7);
        }
        cairo_fill(cr);
    });
}

// The sample outputs, made once per run.
struct Samples {
    CaptureHistoryEntry news, invoice, ocr, interrupted, gone;
};

Samples makeSamples(Stage& stage) {
    const fs::path dir = outputs(stage);
    fs::create_directories(dir);
    Samples s;
    const fs::path news = dir / "WEB_20261207_093012_国内ニュース.png";
    capturePNG(news, 9000, 180, 30, 40);
    s.news = record("capture", {saved(news)}, 12,
                    page("https://www.example.jp/news/2026/12/07/local.html", "国内ニュース｜地域の話題 - サンプル新聞",
                         "PNG"));

    const fs::path pdf = dir / "PRINT_20261207_091544_請求書のご案内.pdf";
    printPDF(pdf);
    const fs::path page1 = dir / "PRINT_20261207_091544_請求書のご案内_p001.png";
    const fs::path page2 = dir / "PRINT_20261207_091544_請求書のご案内_p002.png";
    capturePNG(page1, 1754, 40, 80, 140);
    capturePNG(page2, 1754, 40, 80, 140);
    s.invoice = record("print", {saved(pdf), saved(page1), saved(page2)}, 47,
                       page("https://shop.example.com/account/invoice?id=2026-1207", "請求書のご案内", "PDF + PNG"));

    const fs::path text = dir / "OCR-combined.txt";
    test::writeFile(text, "令和八年十二月七日\n会議資料\n");
    s.ocr = record("ocr", {saved(text)}, 180);

    const fs::path partial = dir / "WEB_20261206_181020_旅行ガイド.png";
    capturePNG(partial, 6000, 30, 120, 90);
    s.interrupted = record("capture", {saved(partial)}, 60 * 15,
                           page("https://travel.example.org/guide/kyoto", "京都旅行ガイド 冬の庭園めぐり：嵐山・嵯峨野から東山まで、雪化粧の名園を一日で巡るモデルコースと拝観時間・アクセス・混雑を避けるコツ、周辺の甘味処とおすすめの宿をまとめて紹介します。冬季限定の特別公開と夜間ライトアップの情報も掲載", "PNG"));
    s.interrupted.state = "interrupted";
    s.interrupted.outputs[0].state = SavedOutput::State::pending;
    s.interrupted.outputs[0].pendingPath = (dir / ".trash-confirmed-0B9D/confirmed-output").string();

    const fs::path deleted = dir / "WEB_20261205_120301_料理レシピ.png";
    capturePNG(deleted, 3000, 200, 140, 40);
    s.gone = record("capture", {saved(deleted)}, 60 * 40,
                    page("https://recipes.example.net/r/1234", "簡単！冬野菜のスープ", "PNG"));
    fs::remove(deleted);
    return s;
}

Samples& samples(Stage& stage) {
    static Samples s = makeSamples(stage);
    return s;
}

std::vector<Gtk::Widget*> shownPictures(Gtk::Widget& root) {
    std::vector<Gtk::Widget*> found;
    std::function<void(Gtk::Widget&)> walk = [&](Gtk::Widget& w) {
        if (std::string(w.get_name()) == HistoryView::Names::rowPicture && w.is_drawable()) found.push_back(&w);
        for (Gtk::Widget* c = w.get_first_child(); c; c = c->get_next_sibling()) walk(*c);
    };
    walk(root);
    return found;
}

// A window holding only the history section, as the workspace window's
// history pane shows it; thumbnails loaded before it is photographed.
Gtk::Window* historyWindow(std::size_t pictures, const std::function<void(HistoryView&)>& then = nullptr,
                           DesktopActions* desktop = nullptr) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ja_JP"), status);
    auto* window = new Gtk::Window();
    window->set_title("ベルモラ");
    auto* view = Gtk::make_managed<HistoryView>(nullptr, true, desktop);
    window->set_child(*view);
    window->set_default_size(900, 760);
    window->present();
    test::spinUntil([&] { return shownPictures(*view).size() >= pictures; });
    if (then) then(*view);
    return window;
}

Gtk::Window* empty(Stage& stage) {
    writeHistory(stage, {});
    return historyWindow(0);
}

Gtk::Window* list(Stage& stage) {
    Samples& s = samples(stage);
    writeHistory(stage, {s.gone, s.interrupted, s.ocr, s.invoice, s.news});
    return historyWindow(3, [&](HistoryView& view) {
        view.model().select(s.news.id);
        test::spinFor(std::chrono::milliseconds(100));
    });
}

Gtk::Window* errorRow(Stage& stage) {
    Samples& s = samples(stage);
    writeHistory(stage, {s.gone, s.interrupted, s.ocr, s.invoice, s.news});
    return historyWindow(3, [&](HistoryView& view) {
        view.model().select(s.gone.id);
        test::spinFor(std::chrono::milliseconds(100));
    });
}

// 開く on the second file of a print, on a desktop with no application for
// it: the refusal shows on the entry's row and under that file.
Gtk::Window* openRefused(Stage& stage) {
    Samples& s = samples(stage);
    writeHistory(stage, {s.gone, s.interrupted, s.ocr, s.invoice, s.news});
    static test::FakeDesktopActions refusing;
    refusing.openSucceeds = false;
    return historyWindow(
            3,
            [&](HistoryView& view) {
                view.model().select(s.invoice.id);
                test::spinFor(std::chrono::milliseconds(100));
                if (auto* open = dynamic_cast<Gtk::Button*>(
                            test::findByName(view, HistoryView::Names::open + std::string("1")))) {
                    g_signal_emit_by_name(open->gobj(), "clicked");
                }
                test::spinFor(std::chrono::milliseconds(100));
            },
            &refusing);
}

// The history file turned unreadable behind a listed view: "履歴を更新"
// keeps the list and says so.
Gtk::Window* loadError(Stage& stage) {
    Samples& s = samples(stage);
    writeHistory(stage, {s.gone, s.interrupted, s.ocr, s.invoice, s.news});
    return historyWindow(3, [&](HistoryView& view) {
        SecureDirectory(stage.storage / "history", true)
            .replaceState(CaptureHistory::fileName, std::vector<uint8_t>{'{', '"', 'e'});
        view.model().reload();
        test::spinFor(std::chrono::milliseconds(100));
    });
}

const bool registered = registerScene("history-empty", 900, 760, empty) &&
                        registerScene("history-list", 900, 760, list) &&
                        registerScene("history-error-row", 900, 760, errorRow) &&
                        registerScene("history-open-refused", 900, 760, openRefused) &&
                        registerScene("history-load-error", 900, 760, loadError);

}  // namespace

}  // namespace velmora::screenshots
