// Reads Japanese prose drawn vertically (columns right to left) and, for
// comparison, the same texts drawn horizontally with the same font, size and
// line pitch, on A4 pages at 150 and 300 dpi, clean and degraded. Prints the
// character error rate (edits over characters, white space removed, summed
// over pages) of three readers of the vertical pages:
//   (a) the reflow strip read by the standard pass (the product's reader),
//   (b) each column's own pixels read by Tesseract's vertical Japanese model,
//   (c) the vertical model over the whole page with Tesseract's own layout,
// and of the standard pass on the horizontal pages; time per page with warm
// engines; the peak memory after each reader; glyph cells against characters
// per column; refused pages and why; and how many characters a full A4 page
// of 12-point vertical text holds.
//
// Usage: VerticalBenchmark [texts] (default all 8).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <tesseract/baseapi.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Raster.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/TesseractEngines.hpp"
#include "recognition/vertical/VerticalResearch.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;
using VerticalResearch::ColumnReader;

namespace {

// Public-domain openings (Natsume Sōseki, Akutagawa Ryūnosuke, Dazai Osamu,
// Kamo no Chōmei) and two texts written for this program with half-width
// digits and Latin letters.
const std::vector<std::string> texts{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という人間中で一番獰悪な種族であったそうだ。この書生というのは時々我々を捕えて煮て食うという話である。しかしその当時は何という考もなかったから別段恐しいとも思わなかった。ただ彼の掌に載せられてスーと持ち上げられた時何だかフワフワした感じがあったばかりである。掌の上で少し落ちついて書生の顔を見たのがいわゆる人間というものの見始であろう。この時妙なものだと思った感じが今でも残っている。第一毛をもって装飾されべきはずの顔がつるつるしてまるで薬缶だ。その後猫にもだいぶ逢ったがこんな片輪には一度も出会わした事がない。のみならず顔の真中があまりに突起している。そうしてその穴の中から時々ぷうぷうと煙を吹く。どうも咽せぽくて実に弱った。これが人間の飲む煙草というものである事はようやくこの頃知った。",
    "ある日の暮方の事である。一人の下人が、羅生門の下で雨やみを待っていた。広い門の下には、この男のほかに誰もいない。ただ、所々丹塗の剥げた、大きな円柱に、蟋蟀が一匹とまっている。羅生門が、朱雀大路にある以上は、この男のほかにも、雨やみをする市女笠や揉烏帽子が、もう二三人はありそうなものである。それが、この男のほかには誰もいない。何故かと云うと、この二三年、京都には、地震とか辻風とか火事とか饑饉とか云う災がつづいて起った。そこで洛中のさびれ方は一通りではない。旧記によると、仏像や仏具を打砕いて、その丹がついたり、金銀の箔がついたりした木を、路ばたにつみ重ねて、薪の料に売っていたと云う事である。洛中がその始末であるから、羅生門の修理などは、元より誰も捨てて顧る者がなかった。するとその荒れ果てたのをよい事にして、狐狸が棲む。盗人が棲む。とうとうしまいには、引取り手のない死人を、この門へ持って来て、棄てて行くと云う習慣さえ出来た。そこで、日の目が見えなくなると、誰でも気味を悪るがって、この門の近所へは足ぶみをしない事になってしまったのである。",
    "メロスは激怒した。必ず、かの邪智暴虐の王を除かなければならぬと決意した。メロスには政治がわからぬ。メロスは、村の牧人である。笛を吹き、羊と遊んで暮して来た。けれども邪悪に対しては、人一倍に敏感であった。きょう未明メロスは村を出発し、野を越え山越え、十里はなれた此のシラクスの市にやって来た。メロスには父も、母も無い。女房も無い。十六の、内気な妹と二人暮しだ。この妹は、村の或る律気な一牧人を、近々、花婿として迎える事になっていた。結婚式も間近かなのである。メロスは、それゆえ、花嫁の衣裳やら祝宴の御馳走やらを買いに、はるばる市にやって来たのだ。先ず、その品々を買い集め、それから都の大路をぶらぶら歩いた。メロスには竹馬の友があった。セリヌンティウスである。今は此のシラクスの市で、石工をしている。その友を、これから訪ねてみるつもりなのだ。久しく逢わなかったのだから、訪ねて行くのが楽しみである。歩いているうちにメロスは、まちの様子を怪しく思った。ひっそりしている。",
    "親譲りの無鉄砲で小供の時から損ばかりしている。小学校に居る時分学校の二階から飛び降りて一週間ほど腰を抜かした事がある。なぜそんな無闇をしたと聞く人があるかも知れぬ。別段深い理由でもない。新築の二階から首を出していたら、同級生の一人が冗談に、いくら威張っても、そこから飛び降りる事は出来まい。弱虫やーい。と囃したからである。小使に負ぶさって帰って来た時、おやじが大きな眼をして二階ぐらいから飛び降りて腰を抜かす奴があるかと云ったから、この次は抜かさずに飛んで見せますと答えた。親類のものから西洋製のナイフを貰って奇麗な刃を日に翳して、友達に見せていたら、一人が光る事は光るが切れそうもないと云った。切れぬ事があるか、何でも切ってみせると受け合った。そんなら君の指を切ってみろと注文したから、何だ指ぐらいこの通りだと右の手の親指の甲をはすに切り込んだ。幸ナイフが小さいのと、親指の骨が堅かったので、今だに親指は手に付いている。しかし創痕は死ぬまで消えぬ。",
    "ある日の事でございます。御釈迦様は極楽の蓮池のふちを、独りでぶらぶら御歩きになっていらっしゃいました。池の中に咲いている蓮の花は、みんな玉のようにまっ白で、そのまん中にある金色の蕊からは、何とも云えない好い匂が、絶間なくあたりへ溢れて居ります。極楽は丁度朝なのでございましょう。やがて御釈迦様はその池のふちに御佇みになって、水の面を蔽っている蓮の葉の間から、ふと下の容子を御覧になりました。この極楽の蓮池の下は、丁度地獄の底に当って居りますから、水晶のような水を透き徹して、三途の河や針の山の景色が、丁度覗き眼鏡を見るように、はっきりと見えるのでございます。するとその地獄の底に、カンダタと云う男が一人、外の罪人と一しょに蠢いている姿が、御眼に止まりました。このカンダタと云う男は、人を殺したり家に火をつけたり、いろいろ悪事を働いた大泥坊でございますが、それでもたった一つ、善い事を致した覚えがございます。と申しますのは、ある時この男が深い林の中を通りますと、小さな蜘蛛が一匹、路ばたを這って行くのが見えました。",
    "2024年4月1日、新しい文書管理システムの運用が始まった。紙の書類はスキャナーで読み取り、PDFとPNGの形式で保存する。OCRの設定は標準で日本語と英語の二つで、縦書きの資料には専用のモードを使う。最初の週に処理した書類は1200枚を超え、そのうち約3割が縦書きだった。担当者の山田さんによると、古い契約書や社内報は縦書きが多く、数字や英字が横向きに組まれている箇所で読み取りの誤りが目立つという。たとえば「第12条」や「ver. 2」のような表記は、一文字ずつ確認しなければならない。そこで週に一度、誤りの多い書類を集めて原因を調べることにした。調べてみると、印刷のかすれや紙の傾きが原因の半分を占め、残りは小さな文字や記号の読み違いだった。対策として、読み取りの解像度を150dpiから300dpiに上げた。傾いた書類は取り込む前にまっすぐに置き直すよう案内した。翌月の集計では、手で直す箇所が目に見えて減った。来年度はこの仕組みを他の部署にも広げる予定である。",
    "駅前の小さな喫茶店は、朝7時に店を開ける。店主の佐藤さんは毎朝6時に起きて、豆を挽き、パンを焼き、店の前を掃く。看板には英語でCOFFEE & BOOKSと書かれていて、壁一面の本棚には古い文庫本が並んでいる。常連の客は新聞を読みながらトーストを食べ、学生はノートを広げて試験の勉強をする。昼を過ぎると客足は落ち着き、佐藤さんは窓際の席で本を読む。好きな作家は夏目漱石と宮沢賢治で、特に「銀河鉄道の夜」は何度読んでも飽きないという。店を始めたのは15年前のことだ。それまでは東京の会社で働いていたが、毎日同じ電車に乗り、同じ机に向かう暮らしに疲れてしまった。故郷に戻り、祖母が残した古い家を直して店にした。最初の一年は客がほとんど来なかった。それでも毎朝同じ時刻に店を開けた。やがて一人、また一人と客が増え、今では町の人々が集まる場所になった。夕方5時に店を閉めると、佐藤さんは帳簿をつけ、翌日の豆を選ぶ。日曜日は休みで、朝から山へ出かける。",
    "ゆく河の流れは絶えずして、しかももとの水にあらず。よどみに浮ぶうたかたは、かつ消えかつ結びて、久しくとどまりたるためしなし。世の中にある人とすみかと、またかくのごとし。たましきの都のうちに、棟を並べ、甍を争へる、高き卑しき人の住ひは、世々を経て尽きせぬものなれど、これをまことかと尋ぬれば、昔ありし家はまれなり。或は去年焼けて今年作れり。或は大家ほろびて小家となる。住む人もこれに同じ。所も変らず、人も多かれど、いにしへ見し人は、二三十人が中に、わづかにひとりふたりなり。朝に死に、夕に生るるならひ、ただ水の泡にぞ似たりける。知らず、生れ死ぬる人、いづかたより来りて、いづかたへか去る。また知らず、仮の宿り、誰がためにか心を悩まし、何によりてか目を喜ばしむる。その、あるじとすみかと、無常を争ふさま、いはばあさがほの露に異ならず。或は露落ちて花残れり。残るといへども朝日に枯れぬ。或は花しぼみて露なほ消えず。消えずといへども夕を待つ事なし。",
};

struct Face {
    std::string family;
    double points;
};
// Serif and sans in two families, at 10.5 to 14 points.
const std::vector<Face> faces{
    {"Noto Serif CJK JP", 12}, {"Noto Sans CJK JP", 10.5}, {"IPAMincho", 14}, {"IPAGothic", 12},
    {"Noto Sans CJK JP", 12},  {"Noto Serif CJK JP", 14},  {"IPAGothic", 10.5}, {"IPAMincho", 12},
};
constexpr double lineAdvance = 1.7;
constexpr double marginMillimetres = 20;

enum class Degradation { none, rotatePlus, rotateMinus, blur, noise, jpeg };
const char* nameOf(Degradation d) {
    switch (d) {
        case Degradation::none: return "clean";
        case Degradation::rotatePlus: return "rotated +0.5°";
        case Degradation::rotateMinus: return "rotated -0.5°";
        case Degradation::blur: return "blurred";
        case Degradation::noise: return "salt and pepper";
        case Degradation::jpeg: return "JPEG 60";
    }
    return "";
}

struct Page {
    std::string label;
    int dpi = 0;
    Degradation degradation = Degradation::none;
    RasterImage vertical;
    RasterImage horizontal;
    std::vector<std::string> verticalColumns;  // as drawn, right to left
    std::string verticalTruth;
    std::string horizontalTruth;
};

std::string withoutSpace(const std::string& s) {
    std::string out;
    for (char32_t c : Unicode::scalars(s)) {
        if (c == U' ' || c == U'\n' || c == U'\t' || c == U'\r' || c == U'\u3000') continue;
        Unicode::appendScalar(out, c);
    }
    return out;
}

std::size_t edits(const std::string& expected, const std::string& actual) {
    return test::editDistance(expected, actual);
}

double peakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

// The image drawn through cairo with a transform or filter, on white.
RasterImage throughCairo(const RasterImage& image, const std::function<void(cairo_t*, cairo_surface_t*)>& draw) {
    const int w = image.width(), h = image.height();
    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_surface_flush(src);
    unsigned char* data = cairo_image_surface_get_data(src);
    const int stride = cairo_image_surface_get_stride(src);
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * y;
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
        for (int x = 0; x < w; ++x, p += image.channels()) row[x] = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    }
    cairo_surface_mark_dirty(src);
    cairo_surface_t* dst = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(dst);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    draw(cr, src);
    cairo_destroy(cr);
    cairo_surface_flush(dst);
    data = cairo_image_surface_get_data(dst);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
        for (int x = 0; x < w; ++x) {
            uint8_t* q = pixels.data() + (static_cast<std::size_t>(y) * w + x) * 3;
            q[0] = uint8_t(row[x] >> 16), q[1] = uint8_t(row[x] >> 8), q[2] = uint8_t(row[x]);
        }
    }
    cairo_surface_destroy(src);
    cairo_surface_destroy(dst);
    return RasterImage::fromPixels(w, h, 3, pixels);
}

RasterImage degrade(const RasterImage& image, Degradation d, unsigned seed) {
    switch (d) {
        case Degradation::none:
            return image;
        case Degradation::rotatePlus:
        case Degradation::rotateMinus: {
            const double angle = (d == Degradation::rotatePlus ? 0.5 : -0.5) * M_PI / 180;
            return throughCairo(image, [&](cairo_t* cr, cairo_surface_t* src) {
                cairo_translate(cr, image.width() / 2.0, image.height() / 2.0);
                cairo_rotate(cr, angle);
                cairo_translate(cr, -image.width() / 2.0, -image.height() / 2.0);
                cairo_set_source_surface(cr, src, 0, 0);
                cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
                cairo_paint(cr);
            });
        }
        case Degradation::blur: {
            // Gaussian-like: three passes of a 3 × 3 box.
            const int w = image.width(), h = image.height();
            std::vector<uint8_t> grey = GreyPage::from(image).pixels;
            for (int pass = 0; pass < 3; ++pass) {
                std::vector<uint8_t> next(grey.size());
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        int sum = 0, n = 0;
                        for (int dy = -1; dy <= 1; ++dy) {
                            for (int dx = -1; dx <= 1; ++dx) {
                                const int xx = x + dx, yy = y + dy;
                                if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
                                sum += grey[static_cast<std::size_t>(yy) * w + xx];
                                ++n;
                            }
                        }
                        next[static_cast<std::size_t>(y) * w + x] = static_cast<uint8_t>(sum / n);
                    }
                }
                grey.swap(next);
            }
            std::vector<uint8_t> rgb(grey.size() * 3);
            for (std::size_t i = 0; i < grey.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey[i];
            return RasterImage::fromPixels(w, h, 3, rgb);
        }
        case Degradation::noise: {
            // 1 % of the pixels turned black or white.
            std::vector<uint8_t> grey = GreyPage::from(image).pixels;
            std::mt19937 random(seed);
            std::uniform_real_distribution<double> u(0, 1);
            for (uint8_t& v : grey) {
                const double r = u(random);
                if (r < 0.005) v = 0;
                else if (r < 0.01) v = 255;
            }
            std::vector<uint8_t> rgb(grey.size() * 3);
            for (std::size_t i = 0; i < grey.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey[i];
            return RasterImage::fromPixels(image.width(), image.height(), 3, rgb);
        }
        case Degradation::jpeg: {
            gchar* buffer = nullptr;
            gsize size = 0;
            GError* error = nullptr;
            if (!gdk_pixbuf_save_to_buffer(image.pixbuf(), &buffer, &size, "jpeg", &error, "quality", "60", nullptr)) {
                std::fprintf(stderr, "JPEG encoding failed\n");
                std::exit(1);
            }
            GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
            gdk_pixbuf_loader_write(loader, reinterpret_cast<guchar*>(buffer), size, nullptr);
            gdk_pixbuf_loader_close(loader, nullptr);
            GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader);
            g_object_ref(decoded);
            g_object_unref(loader);
            g_free(buffer);
            return RasterImage::adopt(decoded);
        }
    }
    return image;
}

Page makePage(std::size_t textIndex, int dpi) {
    const Face& face = faces[textIndex % faces.size()];
    const int width = static_cast<int>(std::lround(210 / 25.4 * dpi));
    const int height = static_cast<int>(std::lround(297 / 25.4 * dpi));
    const double margin = marginMillimetres / 25.4 * dpi;
    const double pixelSize = face.points / 72.0 * dpi;

    Page page;
    page.dpi = dpi;
    char label[160];
    std::snprintf(label, sizeof label, "text %zu, %s %.1f pt, %d dpi", textIndex + 1, face.family.c_str(), face.points,
                  dpi);
    page.label = label;

    test::VerticalLayout v;
    v.width = width;
    v.height = height;
    v.pixelSize = pixelSize;
    v.right = margin;
    v.top = margin;
    v.columnAdvance = lineAdvance;
    v.family = face.family;
    const test::VerticalPage vertical = test::renderVerticalParagraphs(v, {texts[textIndex]});
    page.vertical = vertical.image;
    for (const auto& c : vertical.columns) {
        page.verticalColumns.push_back(c.text);
        page.verticalTruth += c.text;
    }

    test::TextLayout h;
    h.width = width;
    h.height = height;
    h.pixelSize = pixelSize;
    h.left = margin;
    h.top = margin;
    h.lineAdvance = lineAdvance;
    h.family = face.family;
    const test::TextPage horizontal = test::renderParagraphs(h, {texts[textIndex]});
    page.horizontal = horizontal.image;
    for (const auto& l : horizontal.lines) page.horizontalTruth += l.text;
    page.verticalTruth = withoutSpace(page.verticalTruth);
    page.horizontalTruth = withoutSpace(page.horizontalTruth);
    return page;
}

// (c): the vertical model over the whole page, with Tesseract's layout.
std::string wholePageVertical(const RasterImage& image) {
    TesseractEngines::Configuration c;
    c.languages = "jpn_vert";
    tesseract::TessBaseAPI& api = TesseractEngines::engine(c);
    const GreyPage page = GreyPage::from(image).forRecognition();
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetImage(page.pixels.data(), page.width, page.height, 1, page.width);
    if (page.resolution > 0) api.SetSourceResolution(page.resolution);
    std::unique_ptr<char[]> text(api.GetUTF8Text());
    api.Clear();
    return text ? std::string(text.get()) : std::string();
}

struct Tally {
    std::size_t edits = 0;
    std::size_t characters = 0;
    double seconds = 0;
    int pages = 0;
    std::map<std::string, int> refused;

    void add(const std::string& truth, const std::string& read, double s) {
        edits += ::edits(truth, withoutSpace(read));
        characters += Unicode::scalars(truth).size();
        seconds += s;
        pages += 1;
    }
    void refuse(const std::string& why) { refused[why] += 1; }
    double rate() const { return characters ? static_cast<double>(edits) / characters : 0; }
    double perPage() const { return pages ? seconds / pages : 0; }
};

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
    const std::size_t textCount = argc > 1 ? std::min<std::size_t>(std::strtoul(argv[1], nullptr, 10), texts.size())
                                           : texts.size();
    std::printf("Texts (characters without white space):");
    for (std::size_t i = 0; i < textCount; ++i) std::printf(" %zu", Unicode::scalars(withoutSpace(texts[i])).size());
    std::printf("\n");

    // Pages: every text at 150 and 300 dpi; the 300-dpi pages of the texts
    // again in one degradation each, in turn. Drawn one at a time, so the
    // memory figures are those of reading one page.
    struct PagePlan {
        std::size_t text;
        int dpi;
        Degradation degradation;
    };
    std::vector<PagePlan> plans;
    const std::vector<Degradation> degradations{Degradation::rotatePlus, Degradation::rotateMinus, Degradation::blur,
                                                Degradation::noise, Degradation::jpeg};
    for (std::size_t i = 0; i < textCount; ++i) {
        plans.push_back({i, 150, Degradation::none});
        plans.push_back({i, 300, Degradation::none});
        plans.push_back({i, 300, degradations[i % degradations.size()]});
    }
    auto pageFor = [&](const PagePlan& plan) {
        Page page = makePage(plan.text, plan.dpi);
        if (plan.degradation != Degradation::none) {
            page.degradation = plan.degradation;
            page.vertical = degrade(page.vertical, plan.degradation, 17 + unsigned(plan.text));
            page.horizontal = degrade(page.horizontal, plan.degradation, 91 + unsigned(plan.text));
            page.label += std::string(", ") + nameOf(plan.degradation);
        }
        return page;
    };
    std::printf("Pages: %zu vertical and %zu horizontal\n", plans.size(), plans.size());

    // Warm every engine first, so the times are per page with warm engines.
    const OCRSettings settings;
    auto never = [] { return false; };
    {
        const Page warm = pageFor(plans.front());
        OCREngine::recognize(warm.horizontal, 1, 1, settings, never);
        VerticalResearch::recognizeWith(warm.vertical, VerticalResearch::Method::reflow, ColumnReader::verticalModel,
                                        never, settings);
        wholePageVertical(warm.vertical);
    }

    // Results are grouped by resolution and by clean or degraded.
    auto group = [](const Page& p) {
        return std::to_string(p.dpi) + " dpi " + (p.degradation == Degradation::none ? "clean" : "degraded");
    };
    std::map<std::string, Tally> standard, reflow, model, whole;
    std::map<std::string, std::map<std::string, double>> peak;
    std::size_t columnsCompared = 0, columnsExact = 0, cellDifference = 0, columnsCounted = 0;

    std::printf("Per page: character error rate of the standard pass (horizontal), (a), (b) and (c)\n");
    for (const PagePlan& plan : plans) {
        const Page page = pageFor(plan);
        const std::string g = group(page);
        std::printf("%-58s", page.label.c_str());
        auto rate = [&](const std::string& read, const std::string& truth) {
            return 100.0 * static_cast<double>(edits(truth, withoutSpace(read))) /
                   static_cast<double>(Unicode::scalars(truth).size());
        };

        auto t = Clock::now();
        const PageResult s = OCREngine::recognize(page.horizontal, 1, 1, settings, never);
        standard[g].add(page.horizontalTruth, s.text(), since(t));
        std::printf(" %6.2f %%", rate(s.text(), page.horizontalTruth));
        peak[g]["standard"] = std::max(peak[g]["standard"], peakMiB());

        for (auto [reader, tally, name] : {std::tuple{ColumnReader::reflowStrip, &reflow, "reflow"},
                                          std::tuple{ColumnReader::verticalModel, &model, "model"}}) {
            t = Clock::now();
            try {
                const VerticalResearch::Result r = VerticalResearch::recognizeWith(
                    page.vertical, VerticalResearch::Method::reflow, reader, never, settings);
                (*tally)[g].add(page.verticalTruth, r.text(), since(t));
                std::printf(" %6.2f %%", rate(r.text(), page.verticalTruth));
            } catch (const BrindlexError& e) {
                (*tally)[g].refuse(std::string(BrindlexError::rawValue(e.errorCase())));
                std::printf(" refused (%s)", std::string(BrindlexError::rawValue(e.errorCase())).c_str());
            }
            peak[g][name] = std::max(peak[g][name], peakMiB());
        }

        t = Clock::now();
        const std::string wholeText = wholePageVertical(page.vertical);
        whole[g].add(page.verticalTruth, wholeText, since(t));
        std::printf(" %6.2f %%\n", rate(wholeText, page.verticalTruth));
        peak[g]["whole page"] = std::max(peak[g]["whole page"], peakMiB());

        // Glyph cells against characters, column by column, where the
        // analysis finds as many columns as were drawn.
        if (page.degradation == Degradation::none) {
            const GreyPage grey = GreyPage::from(page.vertical);
            std::vector<VerticalResearch::Run> columns =
                VerticalResearch::runs(VerticalResearch::inkColumns(grey), VerticalResearch::columnGap);
            std::reverse(columns.begin(), columns.end());
            columnsCounted += page.verticalColumns.size();
            if (columns.size() == page.verticalColumns.size()) {
                for (std::size_t i = 0; i < columns.size(); ++i) {
                    std::vector<VerticalResearch::Run> cells = VerticalResearch::glyphRuns(grey, columns[i]);
                    if (VerticalResearch::needsRecut(columns[i], cells)) {
                        cells = VerticalResearch::splitGlyphs(grey, columns[i], cells);
                    }
                    const std::size_t characters = Unicode::scalars(withoutSpace(page.verticalColumns[i])).size();
                    columnsCompared += 1;
                    columnsExact += cells.size() == characters;
                    cellDifference += cells.size() > characters ? cells.size() - characters : characters - cells.size();
                }
            }
        }
    }

    std::printf("\nCharacter error rate (edits / characters) and seconds per page, warm engines\n");
    std::printf("%-20s %-22s %-22s %-22s %-22s\n", "pages", "standard (horizontal)", "(a) reflow strip",
                "(b) column jpn_vert", "(c) page jpn_vert");
    for (const auto& [g, s] : standard) {
        std::printf("%-20s %6.2f %% %6.2f s     %6.2f %% %6.2f s     %6.2f %% %6.2f s     %6.2f %% %6.2f s\n",
                    g.c_str(), 100 * s.rate(), s.perPage(), 100 * reflow[g].rate(), reflow[g].perPage(),
                    100 * model[g].rate(), model[g].perPage(), 100 * whole[g].rate(), whole[g].perPage());
    }
    std::printf("\nPeak resident memory (MiB, process high-water mark after each reader)\n");
    for (const auto& [g, m] : peak) {
        std::printf("%-20s", g.c_str());
        for (const auto& [name, mib] : m) std::printf("  %s %.0f", name.c_str(), mib);
        std::printf("\n");
    }
    std::printf("\nGlyph cells against characters (clean pages): %zu of %zu drawn columns compared, %zu exact, "
                "mean |cells - characters| %.2f\n",
                columnsCompared, columnsCounted, columnsExact,
                columnsCompared ? static_cast<double>(cellDifference) / columnsCompared : 0.0);
    std::printf("Refused pages:");
    bool any = false;
    for (auto* t : {&reflow, &model}) {
        for (const auto& [g, tally] : *t) {
            for (const auto& [why, n] : tally.refused) {
                std::printf(" %s %s: %d %s;", t == &reflow ? "(a)" : "(b)", g.c_str(), n, why.c_str());
                any = true;
            }
        }
    }
    std::printf(any ? "\n" : " none\n");

    // A full A4 page of 12-point vertical text.
    std::string filler;
    for (int i = 0; i < 8; ++i) filler += withoutSpace(texts[static_cast<std::size_t>(i)]);
    for (int dpi : {150, 300}) {
        test::VerticalLayout full;
        full.width = static_cast<int>(std::lround(210 / 25.4 * dpi));
        full.height = static_cast<int>(std::lround(297 / 25.4 * dpi));
        full.pixelSize = 12 / 72.0 * dpi;
        full.right = full.top = marginMillimetres / 25.4 * dpi;
        full.columnAdvance = lineAdvance;
        full.family = "Noto Serif CJK JP";
        const test::VerticalPage drawn = test::renderVerticalParagraphs(full, {filler});
        std::size_t characters = 0;
        for (const auto& c : drawn.columns) characters += Unicode::scalars(c.text).size();
        std::string outcome = "read";
        try {
            VerticalResearch::recognize(drawn.image, VerticalResearch::Method::reflow, never, settings);
        } catch (const BrindlexError& e) {
            outcome = std::string("refused: ") + std::string(BrindlexError::rawValue(e.errorCase()));
        }
        std::printf("Full A4 page, 12 pt, 20 mm margins, pitch %.1f, %d dpi: %zu columns, %zu characters, %s\n",
                    lineAdvance, dpi, drawn.columns.size(), characters, outcome.c_str());
    }
    std::printf("Peak resident memory overall: %.0f MiB\n", peakMiB());
    return 0;
}
