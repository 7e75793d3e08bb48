#include <gtest/gtest.h>

#include <glib.h>
#include <poppler.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "capture/PrintHeaderFooter.hpp"
#include "capture/PrintOptions.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/UUID.hpp"
#include "support/Errors.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr double a4Width = 210 * 72 / 25.4;
constexpr double a4Height = 297 * 72 / 25.4;
const std::string date = "2026/05/01 09:30";

struct DocumentUnref {
    void operator()(PopplerDocument* d) const { g_object_unref(d); }
};
using Document = std::unique_ptr<PopplerDocument, DocumentUnref>;
struct PageUnref {
    void operator()(PopplerPage* p) const { g_object_unref(p); }
};
using Page = std::unique_ptr<PopplerPage, PageUnref>;

Document open(const fs::path& path) {
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    PopplerDocument* d = poppler_document_new_from_file(uri, nullptr, &error);
    g_free(uri);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return Document(d);
}

// Pages of the given sizes, each with one line of body text drawn by cairo.
fs::path bodyPDF(const fs::path& path, const std::vector<test::PageSize>& pages) {
    test::writePDF(path, pages, [](cairo_t* cr, int page, test::PageSize size) {
        cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 12);
        cairo_move_to(cr, 72, size.height / 2);
        const std::string text = "Body of page " + std::to_string(page + 1);
        cairo_show_text(cr, text.c_str());
    });
    return path;
}

// One drawn line found on a page: its glyph boxes (top-left origin, as
// poppler reports them) from the first to the last character.
struct Found {
    double left = 0;
    double right = 0;
    double bottom = 0;  // the lowest box bottom, from the top edge
};

// The text of a page as poppler extracts it, with each character's glyph box
// (top-left origin). Poppler drops drawn blanks and guesses its own from the
// gaps (three blanks become a line break), so lines are found by their
// characters other than blanks; the blanks are checked through the gaps.
class PageText {
public:
    explicit PageText(PopplerPage* page) {
        char* text = poppler_page_get_text(page);
        text_ = text ? text : "";
        g_free(text);
        PopplerRectangle* rects = nullptr;
        guint count = 0;
        poppler_page_get_text_layout(page, &rects, &count);
        std::size_t index = 0;
        for (const char* p = text_.c_str(); *p; p = g_utf8_next_char(p), ++index) {
            const gunichar c = g_utf8_get_char(p);
            if (g_unichar_isspace(c) || index >= count) continue;
            const std::size_t at = dense_.size();
            dense_.append(p, g_utf8_next_char(p) - p);
            for (std::size_t i = at; i < dense_.size(); ++i) boxOfByte_.push_back(rects[index]);
        }
        EXPECT_EQ(count, index) << "one glyph box per extracted character";
        g_free(rects);
        double w = 0;
        poppler_page_get_size(page, &w, &height_);
    }
    const std::string& text() const { return text_; }
    bool contains(const std::string& s) const { return dense_.find(withoutBlanks(s)) != std::string::npos; }

    // The boxes of the characters of s where it first occurs.
    std::optional<Found> find(const std::string& s) const {
        const std::string needle = withoutBlanks(s);
        const auto at = dense_.find(needle);
        if (at == std::string::npos || needle.empty()) return std::nullopt;
        Found f{boxOfByte_[at].x1, boxOfByte_[at].x2, 0};
        for (std::size_t i = at; i < at + needle.size(); ++i) {
            f.left = std::min(f.left, boxOfByte_[i].x1);
            f.right = std::max(f.right, boxOfByte_[i].x2);
            f.bottom = std::max(f.bottom, boxOfByte_[i].y2);
        }
        return f;
    }
    // The baseline of a line drawn at 8 pt, in PDF coordinates (bottom-left
    // origin): poppler's glyph box ends at the font's descent below it.
    std::optional<double> baseline(const std::string& s) const {
        auto f = find(s);
        if (!f) return std::nullopt;
        return height_ - (f->bottom - descent8pt);
    }
    // The horizontal gap between the end of a and the start of b, when b
    // follows a on the page.
    std::optional<double> gap(const std::string& a, const std::string& b) const {
        auto fa = find(a);
        auto fb = find(withoutBlanks(a) + withoutBlanks(b));
        if (!fa || !fb) return std::nullopt;
        const auto at = dense_.find(withoutBlanks(a) + withoutBlanks(b)) + withoutBlanks(a).size();
        return boxOfByte_[at].x1 - boxOfByte_[at - 1].x2;
    }

    // Calibrated on a line drawn by cairo's own text call at a known baseline.
    static inline double descent8pt = 0;

private:
    static std::string withoutBlanks(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c != ' ' && c != '\n' && c != '\t') out += c;
        }
        return out;
    }

    std::string text_;
    std::string dense_;
    std::vector<PopplerRectangle> boxOfByte_;
    double height_ = 0;
};

class Stamping : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = std::make_unique<OwnedWorkspace>(tmp_ / "work", OwnedRecord::Purpose::printScratch, UUID::random(),
                                                 UUID::random(), UUID::random());
        calibrate();
    }

    // How far below the baseline poppler puts the bottom of an 8 pt glyph box
    // of the sans face, measured on a reference line.
    void calibrate() {
        if (PageText::descent8pt != 0) return;
        const fs::path ref = tmp_ / "ref.pdf";
        test::writePDF(ref, {{200, 200}}, [](cairo_t* cr, int, test::PageSize) {
            // The header's own Latin face, not whatever "Sans" names here.
            cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, 8);
            cairo_move_to(cr, 10, 100);
            cairo_show_text(cr, "Reference 1 / 2");
        });
        Document d = open(ref);
        Page p(poppler_document_get_page(d.get(), 0));
        auto f = PageText(p.get()).find("Reference");
        ASSERT_TRUE(f);
        PageText::descent8pt = f->bottom - 100;
        ASSERT_GT(PageText::descent8pt, 0);
        ASSERT_LT(PageText::descent8pt, 4);
    }

    fs::path stamp(const fs::path& source, double marginMM, const std::string& title, const std::string& url) {
        Document d = open(source);
        return PrintHeaderFooter::stamp(d.get(), *work_, PrintHeaderFooter::marginPoints(marginMM), title, url, date);
    }

    test::TempDir tmp_;
    std::unique_ptr<OwnedWorkspace> work_;
};

}  // namespace

TEST(PrintHeaderFooter, MarginInWholePoints) {
    EXPECT_EQ(PrintHeaderFooter::marginPoints(0), 0);
    EXPECT_EQ(PrintHeaderFooter::marginPoints(5), 14);
    EXPECT_EQ(PrintHeaderFooter::marginPoints(12), 34);
}

TEST_F(Stamping, EveryPageGetsTitleAddressAndFooterAtItsMargin) {
    struct Case {
        double marginMM;
        double x;
    };
    for (const Case c : {Case{12, 34}, Case{5, 14}, Case{0, 8}}) {
        SCOPED_TRACE(c.marginMM);
        const double m = PrintHeaderFooter::marginPoints(c.marginMM);
        const fs::path source = bodyPDF(tmp_ / ("two-" + std::to_string(int(c.marginMM)) + ".pdf"),
                                        {{a4Width, a4Height}, {a4Width, a4Height}});
        const fs::path stamped = stamp(source, c.marginMM, "Quarterly report", "https://example.com/reports/q1");
        Document d = open(stamped);
        ASSERT_EQ(poppler_document_get_n_pages(d.get()), 2);
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            Page page(poppler_document_get_page(d.get(), i));
            double w = 0, h = 0;
            poppler_page_get_size(page.get(), &w, &h);
            EXPECT_NEAR(w, a4Width, 1e-3);
            EXPECT_NEAR(h, a4Height, 1e-3);
            const PageText text(page.get());
            EXPECT_TRUE(text.contains("Body of page " + std::to_string(i + 1))) << text.text();
            const std::string footer = date + "   " + std::to_string(i + 1) + " / 2";
            ASSERT_TRUE(text.contains("Quarterly report")) << text.text();
            ASSERT_TRUE(text.contains("https://example.com/reports/q1")) << text.text();
            ASSERT_TRUE(text.contains(footer)) << text.text();
            EXPECT_NEAR(*text.baseline("Quarterly"), h - m - 11, 2);
            EXPECT_NEAR(*text.baseline("https"), h - m - 23, 2);
            EXPECT_NEAR(*text.baseline(date), m + 11, 2);
            EXPECT_NEAR(text.find("Quarterly")->left, c.x, 1.5);
            EXPECT_NEAR(text.find("https")->left, c.x, 1.5);
            EXPECT_NEAR(text.find(date)->left, c.x, 1.5);
            // Three blanks between the date and the page number, one in the
            // date: the gaps say so.
            const double one = *text.gap("2026/05/01", "09:30");
            EXPECT_GT(one, 1.5);
            EXPECT_NEAR(*text.gap(date, std::to_string(i + 1) + "/2"), 3 * one, 1.5);
        }
    }
}

TEST_F(Stamping, OnePageAndPagesSlightlyOffTheFirstSize) {
    Document one = open(stamp(bodyPDF(tmp_ / "one.pdf", {{a4Width, a4Height}}), 12, "t", "u"));
    Page page(poppler_document_get_page(one.get(), 0));
    EXPECT_TRUE(PageText(page.get()).contains(date + "   1 / 1"));

    // A4 as 595 × 842 (as printed), then pages up to a point off it: every
    // page takes the first page's size, content unmoved.
    const fs::path uneven = bodyPDF(tmp_ / "uneven.pdf", {{595, 842}, {595.6, 841.3}, {594.2, 842.9}});
    Document d = open(stamp(uneven, 12, "t", "u"));
    ASSERT_EQ(poppler_document_get_n_pages(d.get()), 3);
    for (int i = 0; i < 3; ++i) {
        Page p(poppler_document_get_page(d.get(), i));
        double w = 0, h = 0;
        poppler_page_get_size(p.get(), &w, &h);
        EXPECT_EQ(w, 595);
        EXPECT_EQ(h, 842);
        const PageText text(p.get());
        EXPECT_TRUE(text.contains(date + "   " + std::to_string(i + 1) + " / 3"));
        auto body = text.find("Body of page");
        ASSERT_TRUE(body);
        EXPECT_NEAR(body->left, 72, 1.5);
    }
}

TEST_F(Stamping, LinesAreCutPlainTextInsideTheInsets) {
    // A long Japanese title is cut with "…" inside [x, W − x].
    std::string japanese;
    for (int i = 0; i < 500; ++i) japanese += i % 2 ? "語" : "日";
    Document d = open(stamp(bodyPDF(tmp_ / "a.pdf", {{a4Width, a4Height}}), 12, japanese, "https://example.com/"));
    Page page(poppler_document_get_page(d.get(), 0));
    const PageText text(page.get());
    const auto cut = text.text().find("…");
    ASSERT_NE(cut, std::string::npos) << text.text();
    EXPECT_TRUE(text.contains("日語日語"));
    EXPECT_FALSE(text.contains(japanese.substr(0, 300)));
    // The ellipsis ends the title line: the address line follows it.
    EXPECT_EQ(text.text().find("日語"), text.text().find(japanese.substr(0, 30)));
    const std::string shown = text.text().substr(text.text().find("日語"), cut + 3 - text.text().find("日語"));
    auto line = text.find(shown);
    ASSERT_TRUE(line);
    EXPECT_GE(line->left, 34 - 0.5);
    EXPECT_LE(line->right, a4Width - 34 + 0.5);
    EXPECT_GT(line->right, a4Width - 34 - 20);  // the line fills the width

    // An empty title leaves its line empty and the address in its own place;
    // markup is shown as text, a control character as U+FFFD.
    Document e = open(stamp(bodyPDF(tmp_ / "b.pdf", {{a4Width, a4Height}}), 12, "", "<b>x</b>&amp;\x01tail"));
    Page ep(poppler_document_get_page(e.get(), 0));
    const PageText et(ep.get());
    ASSERT_TRUE(et.contains("<b>x</b>&amp;\uFFFDtail")) << et.text();
    EXPECT_NEAR(*et.baseline("<b>x"), a4Height - 34 - 23, 2);
    // Nothing above the address line but the page's own body.
    const auto addressAt = et.text().find("<b>x");
    const auto bodyAt = et.text().find("Body of page");
    EXPECT_TRUE(et.text().substr(0, std::min(addressAt, bodyAt)).find_first_not_of(" \n") == std::string::npos)
        << et.text();
}

// What the fonts installed would make of the lines is not left to them: every
// control character (C0, DEL, C1, NUL) reads as U+FFFD, and the lines are set
// in the header's named faces only.
TEST_F(Stamping, TheLinesAreSetInTheirOwnFacesWithControlCharactersShownAsReplacement) {
    const fs::path blank = tmp_ / "blank.pdf";
    test::writePDF(blank, {{a4Width, a4Height}}, [](cairo_t*, int, test::PageSize) {});
    const std::string url = std::string("https://example.jp/a" "\x01" "b" "\x1f" "\x7f" "\xC2\x85" "c\td") + '\0' + "z";
    Document d = open(stamp(blank, 12, "日本語の題名 Title", url));
    Page page(poppler_document_get_page(d.get(), 0));
    const PageText text(page.get());
    EXPECT_TRUE(text.contains("日本語の題名Title")) << text.text();
    const std::string r = "\uFFFD";
    EXPECT_TRUE(text.contains("https://example.jp/a" + r + "b" + r + r + r + "c" + r + "d" + r + "z")) << text.text();

    std::vector<std::string> faces;
    PopplerFontInfo* info = poppler_font_info_new(d.get());
    PopplerFontsIter* fonts = nullptr;
    while (poppler_font_info_scan(info, 1, &fonts)) {
        if (!fonts) continue;
        do {
            const char* name = poppler_fonts_iter_get_name(fonts);
            std::string face = name ? name : "";
            // A subset's name has a tag of six capitals and "+" first.
            if (face.size() > 7 && face[6] == '+') face = face.substr(7);
            faces.push_back(face);
        } while (poppler_fonts_iter_next(fonts));
        poppler_fonts_iter_free(fonts);
        fonts = nullptr;
    }
    poppler_font_info_free(info);
    ASSERT_FALSE(faces.empty());
    for (const auto& face : faces) {
        EXPECT_TRUE(face.starts_with("DejaVuSans") || face.starts_with("NotoSansCJK")) << face;
    }
}

TEST_F(Stamping, AHugeTitleStampsManyPagesQuickly) {
    std::string huge;
    huge.reserve(5 << 20);
    while (huge.size() < (5u << 20)) huge += "Very long title ";
    std::vector<test::PageSize> pages(20, {a4Width, a4Height});
    const fs::path source = bodyPDF(tmp_ / "twenty.pdf", pages);
    const auto start = std::chrono::steady_clock::now();
    Document d = open(stamp(source, 12, huge, "https://example.com/"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("20 pages with a 5 MB title stamped in %.3f s\n", seconds);
    ASSERT_EQ(poppler_document_get_n_pages(d.get()), 20);
    Page last(poppler_document_get_page(d.get(), 19));
    const PageText text(last.get());
    EXPECT_TRUE(text.contains("Very long title"));
    EXPECT_TRUE(text.contains("…"));
    EXPECT_TRUE(text.contains(date + "   20 / 20"));
}

TEST_F(Stamping, WritesOneRecordedWorkFileAndNothingOnFailure) {
    const fs::path result = stamp(bodyPDF(tmp_ / "a.pdf", {{a4Width, a4Height}}), 12, "t", "u");
    const fs::path folder = work_->directory().url();
    EXPECT_EQ(result.parent_path(), folder);
    EXPECT_EQ(result.filename().string().rfind("work-", 0), 0u);
    EXPECT_EQ(result.extension(), ".pdf");
    EXPECT_EQ(work_->record().files.count(result.filename().string()), 1u);

    // A tree that promises a second page it does not hold.
    const fs::path broken = tmp_ / "broken.pdf";
    test::writeRawPDF(broken, {"<< /Type /Catalog /Pages 2 0 R >>",
                               "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>"});
    Document d = open(broken);
    ASSERT_TRUE(d);
    EXPECT_EQ(test::caseOf([&] { PrintHeaderFooter::stamp(d.get(), *work_, 34, "t", "u", date); }),
              ErrorCase::renderFailed);
    auto names = test::listNames(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"lease", "owner.json", result.filename().string()}));

    work_->finish();
    EXPECT_EQ(test::listNames(folder), (std::vector<std::string>{"lease", "owner.json"}));
}
