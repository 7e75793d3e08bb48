#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/UptimeClock.hpp"
#include "history/CaptureLifecycle.hpp"
#include "ocrjobs/JobControl.hpp"
#include "support/Errors.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureAdmission.hpp"
#include "webcapture/CaptureRun.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::caseOf;
using test::runTask;
using test::spinFor;
using test::spinUntil;
using Stage = WebCaptureDiagnosticStage;

namespace {

std::string page(const std::string& title, const std::string& body, const std::string& head = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title>" + head +
           "</head><body style=\"margin:0\">" + body + "</body></html>";
}

// Every scroll position the page is sent to, in order.
const std::string recordScrolls =
    "<script>window.scrolls=[];const scrollToPage=window.scrollTo.bind(window);"
    "window.scrollTo=(x,y)=>{scrolls.push(y);scrollToPage(x,y)}</script>";

// A page that grows without end.
const std::string endless = page("無限", "<div id=c style=\"height:1000px\"></div>",
                                 recordScrolls + "<script>setInterval(()=>{const c=document.getElementById('c');"
                                                 "c.style.height=(c.offsetHeight+200)+'px'},40)</script>");

OwnedRecord recordAt(const std::filesystem::path& path) {
    std::string text = test::readFile(path);
    return JSON::decode<OwnedRecord>(std::vector<uint8_t>(text.begin(), text.end()));
}

ErrorCase caseOfError(const std::exception_ptr& error) {
    return caseOf([&] { std::rethrow_exception(error); });
}


// The uptime clock moved ahead by hand: long limits pass at once while the
// short page waits keep their real length (a page that draws no frame still
// ends its frame wait).
class JumpingClock : public UptimeClock {
public:
    double seconds() const override { return UptimeClock::system().seconds() + ahead_; }
    void jump(double by) { ahead_ += by; }

private:
    double ahead_ = 0;
};

std::vector<Stage> stagesOf(const WebCaptureDiagnostic& d) {
    std::vector<Stage> out;
    for (const auto& e : d.report().events) out.push_back(e.stage);
    return out;
}

// Whether another holder could take the lease file now.
bool leaseFree(const std::filesystem::path& lease) {
    int fd = ::open(lease.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

class CapturePreparation : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "storage");
        std::filesystem::create_directories(dir_ / "out");
        session_ = std::make_unique<BrowserSession>(false, store());
        session_->setClock(clock_);
        session_->setWaitBounds(test::patientBounds());
        window_ = std::make_unique<test::WebTestWindow>(session_->frame());
        ASSERT_TRUE(window_->waitUntilShown());
        countBefore_ = WorkerBudget::shared().captures();
    }
    void TearDown() override {
        // Nothing a capture took may outlive it.
        EXPECT_FALSE(CaptureAdmission::owner());
        EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_);
        EXPECT_FALSE(session_->busy.get());
        window_.reset();
        session_.reset();
    }

    // Loads a page, also the one already shown: the title the old page is
    // given first cannot be mistaken for the new page's.
    void load(const std::string& path, const std::string& title, bool untilLoaded = true) {
        if (session_->currentURL.get()) {
            runTask(session_->evaluate("document.title='…';true"));
            ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == "…"; }));
        }
        session_->navigate(server_.url(path));
        ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == title && (!untilLoaded || !session_->loading); }));
    }

    CaptureOptions options(bool lazy = false) {
        CaptureOptions o;
        o.diagnostic = diagnostic_;
        o.lazyLoad = lazy;
        return o;
    }

    std::unique_ptr<CaptureRun> prepare(CaptureOptions o) { return runTask(session_->prepareCapture(std::move(o)), 20s); }

    ErrorCase failure(CaptureOptions o) {
        return caseOf([&] { prepare(std::move(o)); });
    }

    // Puts the page back and gives everything back, as a finished capture does.
    void end(std::unique_ptr<CaptureRun> run) {
        runTask(run->restore());
        run->release();
    }

    PageValue eval(const std::string& script) { return runTask(session_->evaluate(script)); }

    std::vector<std::string> attempts() const {
        auto root = Phase0Work::captures();
        return std::filesystem::exists(root) ? test::listNames(root) : std::vector<std::string>{};
    }

    int64_t viewportStep() const {
        return std::max<int64_t>(static_cast<int64_t>(session_->viewMetrics().boundsHeight) - 80, 1);
    }

    JumpingClock clock_;
    test::TempDir dir_;
    AppRuntime::ScopedOverride runtime_{AppRuntime{dir_ / "storage", dir_ / "out"}};
    test::WebTestServer server_;
    WebKitNetworkSession* store() const { return test::sharedEphemeralStore(); }
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
    std::shared_ptr<WebCaptureDiagnostic> diagnostic_ =
        std::make_shared<WebCaptureDiagnostic>([](const WebCaptureDiagnosticReport&) {});
    int64_t countBefore_ = 0;
};

}  // namespace

TEST_F(CapturePreparation, RefusalsComeBeforeAnythingIsTakenAndGiveBackWhatWasTaken) {
    server_.html("/", page("拒否", "<p>x</p>"));
    load("/", "拒否");

    session_->busy = true;
    EXPECT_EQ(failure(options()), ErrorCase::navigationBusy);
    EXPECT_TRUE(session_->busy.get());  // not the capture's to clear
    EXPECT_FALSE(CaptureAdmission::owner());
    session_->busy = false;

    const UUID other = UUID::random();
    CaptureAdmission::acquire(other);
    EXPECT_EQ(failure(options()), ErrorCase::navigationBusy);
    EXPECT_EQ(CaptureAdmission::owner(), other);
    CaptureAdmission::release(other);

    CaptureOptions three = options();
    three.scale = 3;
    EXPECT_EQ(failure(three), ErrorCase::invalidInput);
    for (int64_t width : {279, 4097}) {
        CaptureOptions o = options();
        o.viewportWidth = width;
        EXPECT_EQ(failure(o), ErrorCase::invalidInput);
    }
    // A view with no size, in a session of its own that no window shows.
    BrowserSession hidden(false, store());
    CaptureOptions sized = options();
    sized.viewportWidth = 800;
    EXPECT_EQ(caseOf([&] { runTask(hidden.prepareCapture(sized)); }), ErrorCase::invalidInput);

    EXPECT_TRUE(attempts().empty());
    EXPECT_FALSE(diagnostic_->report().failure);
    EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_);
}

TEST_F(CapturePreparation, APrivateSessionPreparesBothLimitWidthsWithoutADiagnostic) {
    // The fixture's normal session stays shown; this one gets its own window.
    session_ = nullptr;
    window_ = nullptr;
    session_ = std::make_unique<BrowserSession>(true);
    session_->setWaitBounds(test::patientBounds());
    window_ = std::make_unique<test::WebTestWindow>(session_->frame());
    ASSERT_TRUE(window_->waitUntilShown());
    server_.html("/", page("端", "<p>x</p>"));
    load("/", "端");

    for (int64_t width : {280, 4096}) {
        CaptureOptions o = options(true);
        o.viewportWidth = width;
        auto run = prepare(o);
        EXPECT_EQ(run->geometry.innerWidth, width);
        EXPECT_EQ(run->geometry.webViewVisibleWidth, width);
        end(std::move(run));
    }
    EXPECT_TRUE(diagnostic_->report().events.empty());
}

TEST_F(CapturePreparation, HoldsItsWorkFolderAndBudgetWhileWaitingAndGivesThemBackInTheEnd) {
    server_.html("/", page("待機", "<div style=\"height:300px\">x</div>"));
    load("/", "待機");
    auto lifecycle = std::make_shared<CaptureLifecycle>(Phase0Work::lifecycle());
    const std::filesystem::path folder = Phase0Work::captures() / lifecycle->journal().attemptID.text();

    CaptureOptions o = options(true);
    o.lifecycle = lifecycle;
    std::vector<std::string> seen;
    std::optional<CaptureGeometry> observed;
    o.geometryObserved = [&](const CaptureGeometry& g) { observed = g; };
    // What the capture holds while it waits for the page.
    auto inspect = [&] {
        EXPECT_TRUE(session_->busy.get());
        EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_ + 1);
        EXPECT_TRUE(CaptureAdmission::owner());
        auto names = test::listNames(folder);
        ASSERT_EQ(names.size(), 3u) << testing::PrintToString(names);
        EXPECT_TRUE(std::count(names.begin(), names.end(), "owner.json"));
        EXPECT_FALSE(leaseFree(folder / "lease"));
        auto marker = std::find_if(names.begin(), names.end(), [](auto& n) { return n.starts_with("work-"); });
        ASSERT_NE(marker, names.end());
        EXPECT_TRUE(marker->ends_with(".bin"));
        EXPECT_EQ(test::readFile(folder / *marker), "capture-active");
        auto record = recordAt((folder / "owner.json"));
        EXPECT_EQ(record.state, OwnedRecord::State::active);
        EXPECT_EQ(record.attemptID, lifecycle->journal().attemptID);
        EXPECT_EQ(record.files.count(*marker), 1u);
    };
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        seen.push_back(std::string(rawValue(stage)) + ":" + session_->stage.get());
        if (stage == CaptureOptions::Stage::waiting) inspect();
        co_return;
    };

    auto run = prepare(o);
    EXPECT_EQ(seen, (std::vector<std::string>{"waiting:読み込み待機", "scrolling:下部の画像を読み込み中"}));
    ASSERT_TRUE(observed);
    EXPECT_EQ(*observed, run->geometry);
    EXPECT_EQ(run->requestedWidth, 1024);
    EXPECT_EQ(run->geometry.innerWidth, 1024);
    EXPECT_EQ(run->viewportHeight, 768);
    EXPECT_TRUE(run->pageStateKey.starts_with("__brindlex_"));
    EXPECT_EQ(run->pageStateKey.size(), 11u + 32u);
    EXPECT_EQ(eval("typeof window['" + run->pageStateKey + "']").stringValue(), "object");

    std::vector<Stage> stages = stagesOf(*diagnostic_);
    ASSERT_GE(stages.size(), 8u);
    EXPECT_EQ(stages[0], Stage::prepare);
    EXPECT_EQ(stages[1], Stage::javascript);
    // The measurement's own passes (at least two), then the measured widths.
    EXPECT_TRUE(std::all_of(stages.begin() + 2, stages.end() - 3, [](Stage s) { return s == Stage::pageMetrics; }));
    EXPECT_EQ(std::vector<Stage>(stages.end() - 3, stages.end()),
              (std::vector<Stage>{Stage::waiting, Stage::lazyLoad, Stage::sticky}));
    const auto& prepared = diagnostic_->report().events[0].values;
    EXPECT_EQ(prepared.at("boundsWidth"), 1024);
    EXPECT_EQ(prepared.at("visibleWidth"), 1024);
    EXPECT_EQ(prepared.at("attached"), 1);
    EXPECT_EQ(prepared.at("backingScale"), 1);
    EXPECT_EQ(prepared.at("mainThread"), 1);
    const auto& measured = diagnostic_->report().events[stages.size() - 4].values;
    EXPECT_EQ(measured.at("scrollWidth"), 1024);
    EXPECT_EQ(measured.at("devicePixelRatio"), 1);

    end(std::move(run));
    auto record = recordAt((folder / "owner.json"));
    EXPECT_EQ(record.state, OwnedRecord::State::finished);
    EXPECT_EQ(test::listNames(folder).size(), 2u);  // the marker is gone
    EXPECT_TRUE(leaseFree(folder / "lease"));
    EXPECT_FALSE(diagnostic_->report().failure);
}

TEST_F(CapturePreparation, LazyContentIsPulledInAndThePageEndsAtItsTop) {
    std::string images;
    for (int i = 0; i < 12; ++i) {
        std::string path = "/img" + std::to_string(i) + ".png";
        server_.image(path, 40, 40);
        server_.delay(path, 120ms);
        images += "<img loading=lazy src=\"" + path + "\" style=\"display:block;width:300px;height:400px\">";
    }
    server_.html("/lazy", page("遅延", images, recordScrolls));
    server_.html("/short", page("短い", "<p>x</p>", recordScrolls));

    load("/lazy", "遅延");
    EXPECT_EQ(server_.requests("/img11.png"), 0);  // far below the first viewport
    auto run = prepare(options(true));
    EXPECT_EQ(eval("Array.from(document.images).every(i=>i.complete&&i.naturalWidth===40)").booleanValue(), true);
    EXPECT_EQ(eval("scrollY").number, 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(server_.requests("/img" + std::to_string(i) + ".png"), 1) << i;
    const int64_t steps = eval("scrolls.length").number;
    EXPECT_GE(steps, 4800 / viewportStep());
    EXPECT_EQ(eval("scrolls[1]").number, viewportStep());
    EXPECT_EQ(eval("scrolls[scrolls.length-1]").number, 0);  // back to the top
    end(std::move(run));

    // One pass: the scroll to the top of a page that fits, then the top.
    load("/short", "短い");
    run = prepare(options(true));
    EXPECT_EQ(eval("scrolls.join()").stringValue(), "0,0");
    end(std::move(run));
}

TEST_F(CapturePreparation, AnEndlessPageEndsAtTheFirstLimitItReachesOrWhenItsTaskEnds) {
    server_.html("/", endless);

    // No scroll at all.
    load("/", "無限");
    CaptureOptions none = options(true);
    none.maximumScrolls = 0;
    EXPECT_EQ(failure(none), ErrorCase::loadTimeout);
    EXPECT_EQ(eval("scrolls.join()").stringValue(), "0");  // only the restore's

    // Three scrolls, then the restore back to the saved position.
    load("/", "無限");
    CaptureOptions three = options(true);
    three.maximumScrolls = 3;
    three.maximumHeight = 1 << 30;
    EXPECT_EQ(failure(three), ErrorCase::loadTimeout);
    const int64_t step = viewportStep();
    EXPECT_EQ(eval("scrolls.join()").stringValue(),
              "0," + std::to_string(step) + "," + std::to_string(2 * step) + ",0");

    // The height limit: a page that grows past it is too tall, not slow.
    load("/", "無限");
    CaptureOptions tall = options(true);
    tall.maximumHeight = 2000;
    tall.maximumScrolls = 1000;
    EXPECT_EQ(failure(tall), ErrorCase::budgetExceeded);
    EXPECT_GT(eval("document.body.scrollHeight").number, 2000);

    // The time limit, counted from the start of the waits.
    load("/", "無限");
    CaptureOptions slow = options(true);
    slow.maximumHeight = 1 << 30;
    slow.maximumScrolls = 1000;
    slow.maximumSeconds = 60;
    test::Spawned<std::unique_ptr<CaptureRun>> running(session_->prepareCapture(slow));
    // Scrolling on for as long as the page grows, however slowly it is
    // served: three scrolls are waited for, not a time.
    ASSERT_TRUE(spinUntil([&] { return eval("scrolls.length").number >= 3; }));
    EXPECT_FALSE(running.finished());
    EXPECT_EQ(session_->stage.get(), "下部の画像を読み込み中");
    clock_.jump(60);
    ASSERT_TRUE(running.finish());
    EXPECT_EQ(caseOfError(running.out->error), ErrorCase::loadTimeout);

    // A cancelled capture still puts the page back.
    load("/", "無限");
    eval("scrollTo(0,200);true");
    test::Spawned<std::unique_ptr<CaptureRun>> cancelled(session_->prepareCapture(slow));
    ASSERT_TRUE(spinUntil([&] { return eval("scrolls.length").number >= 3; }));
    cancelled.handle.cancel();
    ASSERT_TRUE(cancelled.finish());
    EXPECT_THROW(std::rethrow_exception(cancelled.out->error), CancellationError);
    EXPECT_EQ(eval("scrollY").number, 200);
    EXPECT_EQ(eval("Object.keys(window).some(k=>/^__brindlex_[0-9A-F]{32}$/.test(k))").booleanValue(), false);

    // A capture whose task is dropped (its tab went) gives back what it took.
    load("/", "無限");
    {
        test::Spawned<std::unique_ptr<CaptureRun>> dropped(session_->prepareCapture(slow));
        ASSERT_TRUE(spinUntil([&] { return eval("scrolls.length").number >= 2; }));
        EXPECT_TRUE(session_->busy.get());
    }
    EXPECT_FALSE(session_->busy.get());
    EXPECT_FALSE(CaptureAdmission::owner());
    EXPECT_EQ(WorkerBudget::shared().captures(), countBefore_);
}

TEST_F(CapturePreparation, WaitsForFontsTheLoadAndImagesWithinTheirLimits) {
    server_.image("/ok.png", 20, 20);
    server_.brokenImage("/broken.png");
    server_.html("/broken", page("壊れ", "<img src=/ok.png><img src=/broken.png>"));
    server_.held("/never.woff2", "");
    server_.html("/font", page("書体", "本文",
                               "<style>@font-face{font-family:Slow;src:url(/never.woff2)}"
                               "body{font-family:Slow}</style>"));
    server_.held("/held.png", "");
    server_.html("/held", page("保留", "<img src=/held.png>"));
    // A page whose font never arrives draws no frame: the product's bounds
    // on the ready marker and the width are what let the capture go on to
    // its waits, which are the subject here.
    session_->setWaitBounds({});

    load("/broken", "壊れ");
    EXPECT_EQ(failure(options(true)), ErrorCase::incompleteImages);
    end(prepare(options(false)));

    // A font file that never arrives.
    bool waiting = false;
    CaptureOptions o = options();
    o.checkpoint = [&](CaptureOptions::Stage stage) -> Task<void> {
        waiting = stage == CaptureOptions::Stage::waiting;
        co_return;
    };
    load("/font", "書体", false);
    test::Spawned<std::unique_ptr<CaptureRun>> font(session_->prepareCapture(o));
    ASSERT_TRUE(spinUntil([&] { return waiting; }));
    spinFor(300ms);
    EXPECT_FALSE(font.finished());
    EXPECT_EQ(eval("document.fonts.status").stringValue(), "loading");
    clock_.jump(60);
    ASSERT_TRUE(font.finish());
    EXPECT_EQ(caseOfError(font.out->error), ErrorCase::loadTimeout);

    // Fonts are loaded but an image is still on its way.
    waiting = false;
    load("/held", "保留", false);
    EXPECT_EQ(eval("document.fonts.status").stringValue(), "loaded");
    test::Spawned<std::unique_ptr<CaptureRun>> held(session_->prepareCapture(o));
    ASSERT_TRUE(spinUntil([&] { return waiting; }));
    spinFor(300ms);
    EXPECT_FALSE(held.finished());
    server_.release("/held.png");
    ASSERT_TRUE(held.finish());
    ASSERT_FALSE(held.out->error);
    end(std::move(*held.out->value));
}

TEST_F(CapturePreparation, AFailureAfterThePreScrollPutsThePageAndTheWindowBack) {
    server_.brokenImage("/broken.png");
    server_.html("/", page("復元",
                           "<div style=\"height:3000px\"></div><input id=field style=\"position:absolute;top:1300px\">"
                           "<img loading=lazy src=/broken.png style=\"position:absolute;top:2600px\" width=10 "
                           "height=10>",
                           "<script>addEventListener('scroll',()=>{if(scrollY>1500)document.activeElement.blur()})"
                           "</script>"));
    load("/", "復元");
    eval("scrollTo(0,1234);document.getElementById('field').focus({preventScroll:true});true");
    ASSERT_EQ(eval("scrollY").number, 1234);
    Gtk::Window& window = window_->window();

    CaptureOptions o = options(true);
    o.scale = 2;
    o.viewportWidth = 600;
    int widthWhileWaiting = 0;
    o.checkpoint = [&](CaptureOptions::Stage) -> Task<void> {
        widthWhileWaiting = window.get_width();
        co_return;
    };
    o.geometryObserved = [&](const CaptureGeometry& g) {
        EXPECT_EQ(g.innerWidth, 600);
        EXPECT_EQ(g.outputPixelWidth, 1200);
    };
    EXPECT_EQ(failure(o), ErrorCase::incompleteImages);

    EXPECT_GE(widthWhileWaiting, 1200);  // the window grew for the doubled view
    EXPECT_EQ(eval("scrollY").number, 1234);
    EXPECT_EQ(eval("document.activeElement.id").stringValue(), "field");
    EXPECT_EQ(eval("Object.keys(window).some(k=>k.startsWith('__brindlex_'))").booleanValue(), false);
    EXPECT_FALSE(session_->frame().allocatedWidth());
    EXPECT_EQ(webkit_web_view_get_zoom_level(session_->webView()), 1.0);
    int w = 0, h = 0;
    window.get_default_size(w, h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    EXPECT_TRUE(spinUntil([&] { return window.get_width() == 1024; }));

    ASSERT_TRUE(diagnostic_->report().failure);
    EXPECT_EQ(diagnostic_->report().failure->stage, Stage::lazyLoad);
    EXPECT_EQ(diagnostic_->report().failure->appError, ErrorCase::incompleteImages);
    auto folders = attempts();
    ASSERT_EQ(folders.size(), 1u);
    auto record = recordAt((Phase0Work::captures() / folders[0] / "owner.json"));
    EXPECT_EQ(record.state, OwnedRecord::State::finished);
}

TEST_F(CapturePreparation, AFailedPageStateSaveRestoresNothingAndReleasesEverything) {
    server_.html("/", page("保存不可", "<p>x</p>",
                           "<script>Object.defineProperty(window,'scrollX',{get(){throw new Error('no scrollX')}})"
                           "</script>"));
    load("/", "保存不可");
    try {
        prepare(options(true));
        ADD_FAILURE() << "the save script did not fail";
    } catch (const GLibError& e) {
        EXPECT_EQ(e.domain(), WEBKIT_JAVASCRIPT_ERROR);
        EXPECT_NE(e.message().find("no scrollX"), std::string::npos) << e.message();
    }
    EXPECT_FALSE(diagnostic_->report().failure);
    EXPECT_EQ(stagesOf(*diagnostic_), (std::vector<Stage>{Stage::prepare, Stage::javascript}));
    EXPECT_FALSE(session_->frame().allocatedWidth());
    auto folders = attempts();
    ASSERT_EQ(folders.size(), 1u);
    auto record = recordAt((Phase0Work::captures() / folders[0] / "owner.json"));
    EXPECT_EQ(record.state, OwnedRecord::State::finished);
    EXPECT_TRUE(leaseFree(Phase0Work::captures() / folders[0] / "lease"));
}
