#include "capture/PrintHeaderFooter.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"

namespace velmora::PrintHeaderFooter {

namespace {

// A line shows far fewer characters than this; a title of megabytes would
// otherwise be shaped in full for every page.
constexpr std::size_t maximumLineCharacters = 1000;
constexpr double titleDrop = 11;
constexpr double urlDrop = 23;
constexpr double footerRise = 11;
constexpr double minimumInset = 8;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const noexcept {
        if (p) Free(p);
    }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using ContextPtr = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
using FontPtr = std::unique_ptr<PangoFontDescription, Deleter<PangoFontDescription, pango_font_description_free>>;

template <typename T>
struct Unref {
    void operator()(T* p) const noexcept {
        if (p) g_object_unref(p);
    }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, Unref<T>>;

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// The header's fonts, named rather than left to the "Sans" alias: what that
// resolves to, and how a font without a glyph draws it, depends on the fonts
// installed. DejaVu Sans holds the Latin letters and U+FFFD, Noto Sans CJK
// JP the Japanese ones; fontconfig's fallback still covers anything else.
constexpr const char* headerFont = "DejaVu Sans,Noto Sans CJK JP 8";
constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

// Valid UTF-8 of at most maximumLineCharacters clusters: Pango refuses
// invalid text, and the page title is whatever the page said. A control
// character is shown as U+FFFD: left to the fonts it is drawn as nothing or
// as a box of hex digits, whose digits a reader of the PDF then extracts as
// text of a line of their own.
std::string lineText(std::string_view text) {
    // A NUL byte is never part of a longer sequence, and would end the
    // C string below.
    std::string raw;
    raw.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') raw += replacement;
        else raw += c;
    }
    char* valid = g_utf8_make_valid(raw.data(), static_cast<gssize>(raw.size()));
    std::string s;
    s.reserve(std::strlen(valid));
    for (const char* p = valid; *p; p = g_utf8_next_char(p)) {
        if (g_unichar_type(g_utf8_get_char(p)) == G_UNICODE_CONTROL) s += replacement;
        else s.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    }
    g_free(valid);
    return std::string(Unicode::prefixGraphemes(s, maximumLineCharacters));
}

// One line of the header or footer: plain text, cut at its end with "…".
//
// The cut is made here rather than by Pango's own ellipsizing: Pango maps its
// ellipsis to every character it hides, so a reader of the PDF would extract
// the whole title; a line made of the shown prefix and "…" reads as it looks.
class Line {
public:
    Line(cairo_t* cr, const PangoFontDescription* font, double width)
        : layout_(pango_cairo_create_layout(cr)), width_(static_cast<int>(std::max(width, 0.0) * PANGO_SCALE)) {
        // One point per unit, whatever the screen's resolution.
        pango_cairo_context_set_resolution(pango_layout_get_context(layout_.get()), 72);
        pango_layout_context_changed(layout_.get());
        pango_layout_set_font_description(layout_.get(), font);
        pango_layout_set_single_paragraph_mode(layout_.get(), TRUE);
    }

    // The text as it fits: whole, or its longest prefix of whole clusters
    // that still fits with "…" after it. A width too narrow even for "…"
    // keeps the whole text.
    void setText(const std::string& text) {
        if (fits(text)) return;
        const std::vector<std::size_t> bounds = Unicode::graphemeBoundaries(text);
        // bounds[lo] always fits, bounds[hi] never does.
        std::size_t lo = 0;
        std::size_t hi = bounds.size() - 1;
        if (!fits(std::string(ellipsis))) {
            fits(text);
            return;
        }
        while (hi - lo > 1) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (fits(text.substr(0, bounds[mid]) + std::string(ellipsis))) lo = mid;
            else hi = mid;
        }
        fits(text.substr(0, bounds[lo]) + std::string(ellipsis));
    }

    // x from the left edge; baseline from the bottom edge of a page H high.
    void draw(cairo_t* cr, double x, double baseline, double pageHeight) {
        const double top = (pageHeight - baseline) - static_cast<double>(pango_layout_get_baseline(layout_.get())) / PANGO_SCALE;
        cairo_move_to(cr, x, top);
        pango_cairo_show_layout(cr, layout_.get());
    }

private:
    static constexpr std::string_view ellipsis = "…";

    // Sets the text and tells whether it fits the width.
    bool fits(const std::string& text) {
        pango_layout_set_text(layout_.get(), text.c_str(), static_cast<int>(text.size()));
        int w = 0;
        int h = 0;
        pango_layout_get_size(layout_.get(), &w, &h);
        return w <= width_;
    }

    ObjectPtr<PangoLayout> layout_;
    int width_;
};

}  // namespace

double marginPoints(double marginMM) { return std::round(marginMM * 72 / 25.4); }

std::filesystem::path stamp(PopplerDocument* document, OwnedWorkspace& workFolder, double margin,
                            std::string_view title, std::string_view urlText, std::string_view footerDate) {
    const int pageCount = document ? poppler_document_get_n_pages(document) : 0;
    if (pageCount < 1) raise(ErrorCase::renderFailed);
    double width = 0;
    double height = 0;
    {
        ObjectPtr<PopplerPage> first(poppler_document_get_page(document, 0));
        if (!first) raise(ErrorCase::renderFailed);
        poppler_page_get_size(first.get(), &width, &height);
    }
    if (!(width > 0 && height > 0)) raise(ErrorCase::renderFailed);

    std::vector<uint8_t> data;
    {
        SurfacePtr surface(cairo_pdf_surface_create_for_stream(appendBytes, &data, width, height));
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);
        ContextPtr cr(cairo_create(surface.get()));
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);

        FontPtr font(pango_font_description_from_string(headerFont));
        const double x = std::max(margin, minimumInset);
        const double lineWidth = width - 2 * x;
        Line titleLine(cr.get(), font.get(), lineWidth);
        Line urlLine(cr.get(), font.get(), lineWidth);
        Line footerLine(cr.get(), font.get(), lineWidth);
        titleLine.setText(lineText(title));
        urlLine.setText(lineText(urlText));
        const std::string date = lineText(footerDate);
        const std::string total = std::to_string(pageCount);

        for (int i = 0; i < pageCount; ++i) {
            ObjectPtr<PopplerPage> page(poppler_document_get_page(document, i));
            if (!page) raise(ErrorCase::renderFailed);
            // The printed page unchanged: no scaling, no translation.
            cairo_save(cr.get());
            poppler_page_render(page.get(), cr.get());
            cairo_restore(cr.get());

            cairo_set_source_rgb(cr.get(), 0, 0, 0);
            titleLine.draw(cr.get(), x, height - margin - titleDrop, height);
            urlLine.draw(cr.get(), x, height - margin - urlDrop, height);
            footerLine.setText(date + "   " + std::to_string(i + 1) + " / " + total);
            footerLine.draw(cr.get(), x, margin + footerRise, height);
            cairo_show_page(cr.get());
            if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);
        }
        cr.reset();
        cairo_surface_finish(surface.get());
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);
    }
    return workFolder.write(data, "pdf");
}

}  // namespace velmora::PrintHeaderFooter
