#pragma once

#include "Bitmap.h"
#include "Geometry.h"

#include <cstdint>
#include <vector>

namespace corvex::gui {

// The offscreen 24-bit framebuffer everything is drawn into; a window layer copies it out.
// Drawing takes layout coordinates; the framebuffer has `scale` device pixels per layout pixel,
// rounded: layout edge v lies at device edge floor(v * scale + 0.5). Every drawing operation is
// clipped to the clip rectangle and the framebuffer.
class COffscreenContext {
public:
    // width x height layout pixels.
    COffscreenContext(int width, int height, double scale = 1.0);

    double getScale() const { return m_dScale; }
    // Device size.
    int getWidth() const { return m_iWidth; }
    int getHeight() const { return m_iHeight; }
    // The device pixels a layout rectangle covers, and the layout pixel a device pixel belongs to.
    int toDevice(int v) const;
    CRect toDevice(const CRect& r) const { return {toDevice(r.left), toDevice(r.top), toDevice(r.right), toDevice(r.bottom)}; }
    int toLayout(int device) const;
    CPoint toLayout(CPoint device) const { return {toLayout(device.x), toLayout(device.y)}; }
    const std::vector<std::uint8_t>& pixels() const { return m_aPixels; }
    const std::uint8_t* pixel(int x, int y) const { return &m_aPixels[(std::size_t(y) * m_iWidth + x) * 3]; }

    // In layout coordinates.
    void setClipRect(const CRect& clip) { m_rClip = toDevice(clip).intersection(bounds()); }
    // In device pixels.
    CRect bounds() const { return {0, 0, m_iWidth, m_iHeight}; }

    void fillRect(const CRect& rect, CColor color);
    // Copies the part of `bitmap` that starts at `offset` into `dest`. At scale 1 the pixels are
    // copied; at any other scale the bitmap's double-size drawing is used, copied at scale 2 and
    // area-averaged at the others (the single-size one when there is no double-size drawing).
    void drawBitmap(const CBitmap& bitmap, const CRect& dest, CPoint offset = {});

private:
    void drawScaled(const CBitmap& source, int sourceScale, const CRect& dest, CPoint offset);

    double m_dScale;
    int m_iWidth;
    int m_iHeight;
    CRect m_rClip; // device pixels
    std::vector<std::uint8_t> m_aPixels;
};

} // namespace corvex::gui
