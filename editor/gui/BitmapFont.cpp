#include "BitmapFont.h"

#include <algorithm>

namespace corvex::gui {

namespace {

// A pixel of the advance row counts as lit from half brightness up.
constexpr std::uint8_t kLit = 128;

} // namespace

CBitmapFont::CBitmapFont(int resourceId) : m_atlas(resourceId, 1), m_doubled(resourceId, 2)
{
    const int rows = (kFontGlyphCount + kFontColumns - 1) / kFontColumns;
    if (m_atlas.getWidth() != kFontColumns * kFontCellWidth || m_atlas.getHeight() != rows * kFontCellHeight) {
        m_atlas = CBitmap(0, 0, {});
        return;
    }
    if (m_doubled.getWidth() != 2 * m_atlas.getWidth() || m_doubled.getHeight() != 2 * m_atlas.getHeight())
        m_doubled = CBitmap(0, 0, {});
    for (int i = 0; i < kFontGlyphCount; ++i) {
        const int left = (i % kFontColumns) * kFontCellWidth;
        const int row = (i / kFontColumns) * kFontCellHeight + kFontCellHeight - 1;
        int advance = 0;
        while (advance < kFontCellWidth && m_atlas.pixel(left + advance, row)[0] >= kLit)
            ++advance;
        m_aiAdvance[std::size_t(i)] = advance;
    }
}

int CBitmapFont::glyphIndex(char32_t c) const
{
    if (c >= 0x20 && c < 0x7F)
        return int(c - 0x20);
    if (c >= 0xA0 && c <= 0xFF)
        return int(c - 0xA0) + kFontAsciiCount;
    int index = kFontAsciiCount + kFontLatinCount;
    for (char32_t extra : kFontExtras) {
        if (extra == c)
            return index;
        ++index;
    }
    return kFontGlyphCount - 1; // the replacement character
}

int CBitmapFont::width(const std::u32string& text) const
{
    if (!isLoaded())
        return 0;
    int total = 0;
    for (char32_t c : text)
        total += m_aiAdvance[std::size_t(glyphIndex(c))];
    return total;
}

std::u32string CBitmapFont::fit(const std::u32string& text, int maxWidth, bool keepEnd) const
{
    if (width(text) <= maxWidth)
        return text;
    const std::u32string ellipsis(1, kFontEllipsis);
    // Drop characters one at a time from the middle (or the end) until the rest fits.
    std::u32string head = text, tail;
    if (keepEnd) {
        const std::size_t half = text.size() / 2;
        head = text.substr(0, half);
        tail = text.substr(half);
    }
    while (!head.empty() || !tail.empty()) {
        if (keepEnd && tail.size() > head.size())
            tail.erase(0, 1);
        else if (!head.empty())
            head.pop_back();
        else
            tail.erase(0, 1);
        const std::u32string candidate = head + ellipsis + tail;
        if (width(candidate) <= maxWidth)
            return candidate;
    }
    return width(ellipsis) <= maxWidth ? ellipsis : std::u32string();
}

void CBitmapFont::draw(std::vector<std::uint8_t>& image, int width, int height, int scale, int x, int baseline,
                       const std::u32string& text, CColor color) const
{
    const CBitmap& atlas = scale == 2 && m_doubled.isLoaded() ? m_doubled : m_atlas;
    if (!atlas.isLoaded() || image.size() != std::size_t(width) * std::size_t(height) * 3)
        return;
    const int k = atlas.getWidth() / m_atlas.getWidth(); // atlas pixels per layout pixel
    const int cellWidth = kFontCellWidth * k, glyphHeight = (kFontCellHeight - 1) * k;
    const int target = scale == 2 ? 2 : 1;
    int pen = x;
    for (char32_t c : text) {
        const int index = glyphIndex(c);
        const int cellLeft = (index % kFontColumns) * cellWidth;
        const int cellTop = (index / kFontColumns) * kFontCellHeight * k;
        const int left = (pen - kFontPenX) * target, top = (baseline - kFontBaseline) * target;
        // An atlas drawn at another scale than the image is sampled at the nearest pixel.
        for (int gy = 0; gy < glyphHeight * target / k; ++gy) {
            const int y = top + gy;
            if (y < 0 || y >= height)
                continue;
            for (int gx = 0; gx < cellWidth * target / k; ++gx) {
                const int px = left + gx;
                if (px < 0 || px >= width)
                    continue;
                const unsigned a = atlas.pixel(cellLeft + gx * k / target, cellTop + gy * k / target)[0];
                if (a == 0)
                    continue;
                std::uint8_t* p = &image[(std::size_t(y) * std::size_t(width) + std::size_t(px)) * 3];
                const std::uint8_t rgb[3] = {color.red, color.green, color.blue};
                for (int ch = 0; ch < 3; ++ch)
                    p[ch] = std::uint8_t((p[ch] * (255 - a) + rgb[ch] * a + 127) / 255);
            }
        }
        pen += m_aiAdvance[std::size_t(index)];
    }
}

std::u32string CBitmapFont::Decode(const std::string& utf8)
{
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const int length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && i + std::size_t(length) <= utf8.size();
        for (int j = 1; valid && j < length; ++j) {
            const auto next = static_cast<unsigned char>(utf8[i + std::size_t(j)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode's end are malformed too.
        constexpr char32_t kMinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && c >= kMinOfLength[length] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        out.push_back(valid ? c : kFontReplacement);
        i += valid ? std::size_t(length) : 1;
    }
    return out;
}

} // namespace corvex::gui
