#include "DrawContext.h"

#include <cstring>

namespace corvex::gui {

COffscreenContext::COffscreenContext(int width, int height)
    : m_iWidth(width > 0 ? width : 0), m_iHeight(height > 0 ? height : 0), m_rClip{0, 0, m_iWidth, m_iHeight},
      m_aPixels(std::size_t(m_iWidth) * m_iHeight * 3, 0)
{
}

void COffscreenContext::fillRect(const CRect& rect, CColor color)
{
    const CRect r = rect.intersection(m_rClip);
    for (int y = r.top; y < r.bottom; ++y) {
        std::uint8_t* p = &m_aPixels[(std::size_t(y) * m_iWidth + r.left) * 3];
        for (int x = r.left; x < r.right; ++x) {
            *p++ = color.red;
            *p++ = color.green;
            *p++ = color.blue;
        }
    }
}

void COffscreenContext::drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint offset)
{
    if (!bitmap.isLoaded())
        return;
    // The source region is the bitmap from `offset`, placed at dest's corner.
    const CRect source = CRect{0, 0, bitmap.getWidth(), bitmap.getHeight()};
    CRect placed{dest.left - offset.x, dest.top - offset.y, dest.left - offset.x + source.width(),
                 dest.top - offset.y + source.height()};
    const CRect r = placed.intersection(dest).intersection(m_rClip);
    if (r.isEmpty())
        return;
    const std::size_t rowBytes = std::size_t(r.width()) * 3;
    for (int y = r.top; y < r.bottom; ++y) {
        const std::uint8_t* from = bitmap.pixel(r.left - placed.left, y - placed.top);
        std::memcpy(&m_aPixels[(std::size_t(y) * m_iWidth + r.left) * 3], from, rowBytes);
    }
}

} // namespace corvex::gui
