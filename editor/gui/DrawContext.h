#pragma once

#include "Bitmap.h"
#include "Geometry.h"

#include <cstdint>
#include <vector>

namespace corvex::gui {

// The offscreen 24-bit framebuffer everything is drawn into; a window layer copies it out.
// Every drawing operation is clipped to the clip rectangle and the framebuffer.
class COffscreenContext {
public:
    COffscreenContext(int width, int height);

    int getWidth() const { return m_iWidth; }
    int getHeight() const { return m_iHeight; }
    const std::vector<std::uint8_t>& pixels() const { return m_aPixels; }
    const std::uint8_t* pixel(int x, int y) const { return &m_aPixels[(std::size_t(y) * m_iWidth + x) * 3]; }

    void setClipRect(const CRect& clip) { m_rClip = clip.intersection(bounds()); }
    const CRect& getClipRect() const { return m_rClip; }
    CRect bounds() const { return {0, 0, m_iWidth, m_iHeight}; }

    void fillRect(const CRect& rect, CColor color);
    // Copies the part of `bitmap` that starts at `offset` into `dest`.
    void drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint offset = {});

private:
    int m_iWidth;
    int m_iHeight;
    CRect m_rClip;
    std::vector<std::uint8_t> m_aPixels;
};

} // namespace corvex::gui
