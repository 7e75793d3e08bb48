#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora {

// A page as the recogniser reads it: 8-bit grey, rows top to bottom, no
// padding.
struct GreyPage {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;

    // Luma of the image composited onto white: straight alpha over paper,
    // so a transparent background is not read as black ink.
    static GreyPage from(const RasterImage& image);

    // The grey level that best separates ink from paper (Otsu's method).
    uint8_t inkThreshold() const;

    // A connected piece of ink (8-connected, at the ink threshold), in
    // pixels from the top-left corner.
    struct InkPiece {
        int x = 0, y = 0, width = 0, height = 0;
    };
    // Every piece of ink; none on a page without contrast (nothing darker
    // than light grey), however its pixels spread.
    std::vector<InkPiece> inkPieces() const;
    // Whether the page holds ink that could be text: a piece of ink at
    // least 6 pixels on its longer side. Specks of dust and noise are
    // smaller, and a page without contrast holds none.
    bool holdsInk() const;
    static constexpr int smallestInk = 6;
    // About how many characters the ink shows: its pieces of text size (at
    // least smallestInk on the longer side, at most three times their median
    // height either way), a few to a character. Each letter is found by
    // its contrast with the ground about it, lighter or darker, so white
    // letters on a coloured or gradient slide count as letters. Kanji of many strokes make
    // it an over-count, Latin letters of one piece an under-count.
    int characterCells() const;
    static constexpr int piecesPerCharacter = 3;
    // One byte per pixel, 1 where there is ink; all 0 where inkPieces finds
    // none.
    std::vector<uint8_t> inkMask() const;

    // The median height in pixels of the connected pieces of ink (8-connected,
    // at the ink threshold), leaving out specks under 3 pixels and anything
    // as tall or wide as half the page (frames, rules, pictures); 0 when
    // fewer than 3 pieces remain.
    int medianInkHeight() const;

    // Resized by the factor: shrunk by area averaging, enlarged bilinearly.
    GreyPage scaled(double factor) const;
    // Resized to exactly this size (each at least 1), the same way.
    GreyPage resized(int toWidth, int toHeight) const;

    // Tesseract reads text well only in a narrow band of sizes. Small type
    // loses its strokes in thresholding, and the layout analysis takes the
    // long straight strokes of large kanji (or the aligned strokes of
    // neighbouring small ones) for ruled lines, erases them and splits the
    // line. The page is therefore resized so that its typical piece of ink
    // is this tall, and Tesseract is told the resolution at which such ink
    // is ordinary body text.
    static constexpr int readingInkHeight = 16;
    static constexpr double largestEnlargement = 3;
    static constexpr double largestReadingPixels = 36e6;
    static constexpr int resolutionPerInkPixel = 10;

    // The resolution to give Tesseract with this page; 0 lets it estimate.
    int resolution = 0;

    // Light ink on dark grounds (a header band, a coloured bar or sidebar,
    // a box in dark-mode colours), taken apart from the rest of the page.
    // The layout analysis and the models expect dark ink on light paper: a
    // dark ground is to them one large piece of ink (a picture) with the
    // letters for its holes, and once turned light, its letters stand on
    // the rows of the text beside it and are read into its lines.
    struct Grounds;
    Grounds darkGrounds() const;
    // The least side of the square of solid ink a ground holds, however
    // small the page's letters (a rule, a bullet, a black square hold
    // none), and the pieces of light ink it has to hold.
    static constexpr int thinnestGround = 2 * smallestInk;
    static constexpr int fewestLightPieces = 3;

    // Letters on a coloured, mid-grey or gradient ground that no dark
    // ground took (see darkGrounds): the layout and the models binarise the
    // page at one threshold, which a gradient crosses and a mid-grey ground
    // straddles, so that light letters on it, or dark ones, are lost with
    // half the ground. Each region darker than paper is judged by its own
    // ground (the commonest grey about it) and by whether its letters are
    // lighter or darker than that ground, and is set as dark letters on
    // white, at the contrast its letters have with their ground. Paper,
    // light panels and the grounds' boxes (`taken`) stay as they are.
    GreyPage onOwnGrounds(const std::vector<InkPiece>& taken) const;
    // The darkest a region's ground may be and still be paper (a pale panel
    // or paper scanned grey), and the least difference from it that makes a
    // pixel part of a letter.
    static constexpr int paperGround = 170;
    static constexpr int letterContrast = 32;
    // How far from its commonest grey, either way, half a ground's tile
    // at least lies.
    static constexpr int flatGround = 8;

    // The page to recognise: this one (a blank page, or ink of about the
    // right size), or a resized copy, with its resolution.
    GreyPage forRecognition() const;

private:
    // The median height of these pieces of this page, as medianInkHeight
    // counts it.
    int medianHeight(const std::vector<InkPiece>& pieces) const;
};

struct GreyPage::Grounds {
    // The page with each ground's letters painted over in its grey: the
    // layout still finds a picture where the ground was (painted white, it
    // would split and join the blocks beside it otherwise than before).
    GreyPage rest;
    // Paper white but for each ground, its light ink turned dark and its
    // ground paper; empty when the page has no ground.
    GreyPage letters;
    // Each ground's box, in the order of the page's pieces of ink.
    std::vector<InkPiece> boxes;
};

}  // namespace velmora
