#pragma once

#include "Bitmap.h"
#include "Geometry.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corvex::gui {

// The font atlas's layout, shared with the artwork generator that draws it: a grid of cells of
// kFontColumns columns, one glyph per cell with its pen at (kFontPenX, kFontBaseline) of the cell.
// The cell's last row is no glyph: its first `advance` layout pixels are lit, so the atlas carries
// its own advance widths. In the double-size drawing every length doubles.
constexpr int kFontCellWidth = 16;
constexpr int kFontCellHeight = 16;
constexpr int kFontColumns = 16;
constexpr int kFontPenX = 2;
constexpr int kFontBaseline = 12;
constexpr double kFontSize = 11.0; // pixels, DejaVu Sans
constexpr char32_t kFontEllipsis = 0x2026;
constexpr char32_t kFontReplacement = 0xFFFD;
// After printable ASCII and Latin-1's printable half: the punctuation file names often hold, the
// euro sign, the ellipsis that shortens text and, last, the replacement character.
constexpr char32_t kFontExtras[] = {0x2013, 0x2014, 0x2018, 0x2019, 0x201C, 0x201D, 0x20AC, kFontEllipsis,
                                    kFontReplacement};
constexpr int kFontAsciiCount = 95;
constexpr int kFontLatinCount = 96;
constexpr int kFontGlyphCount = kFontAsciiCount + kFontLatinCount + int(sizeof kFontExtras / sizeof kFontExtras[0]);

// The code point of atlas cell `index`.
constexpr char32_t FontCodePoint(int index)
{
    return index < kFontAsciiCount                     ? char32_t(0x20 + index)
           : index < kFontAsciiCount + kFontLatinCount ? char32_t(0xA0 + index - kFontAsciiCount)
                                                       : kFontExtras[index - kFontAsciiCount - kFontLatinCount];
}

// Text set in the atlas's font: measured in layout pixels, drawn into RGB images at the atlas's
// scale (1, or 2 with its double-size drawing). Code points outside the atlas show as the
// replacement character.
class CBitmapFont {
public:
    // The atlas of resource `resourceId`; an empty font (nothing drawn, zero widths) without one.
    explicit CBitmapFont(int resourceId);

    bool isLoaded() const { return m_atlas.isLoaded(); }
    int width(const std::u32string& text) const;
    // `text` cut so it fits `maxWidth`: its middle replaced by an ellipsis (keeping a file name's
    // end), or with `keepEnd` false its end.
    std::u32string fit(const std::u32string& text, int maxWidth, bool keepEnd) const;
    // Blends `text` in `color` into `image` (width x height pixels, 3 bytes each, drawn at
    // `scale` 1 or 2) with its pen at layout position (x, baseline).
    void draw(std::vector<std::uint8_t>& image, int width, int height, int scale, int x, int baseline,
              const std::u32string& text, CColor color) const;

    // UTF-8 to code points; a malformed sequence becomes the replacement character.
    static std::u32string Decode(const std::string& utf8);

private:
    int glyphIndex(char32_t c) const;

    CBitmap m_atlas;
    CBitmap m_doubled;
    std::array<int, kFontGlyphCount> m_aiAdvance{};
};

} // namespace corvex::gui
