#include "DrawContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvex::gui {

namespace {

// The source pixels one device pixel covers along one axis, with the share of each.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

// Device pixel `device` covers source coordinates [a, b) (in source pixels); the footprint is
// clamped to the source span [lo, hi) so that a sub-image never bleeds into its neighbour.
Taps TapsFor(double a, double b, int lo, int hi)
{
    a = std::clamp(a, double(lo), double(hi));
    b = std::clamp(b, double(lo), double(hi));
    Taps taps;
    if (b - a <= 1e-9) {
        taps.first = std::clamp(int(std::floor(a)), lo, hi - 1);
        taps.weights.assign(1, 1.0f);
        return taps;
    }
    taps.first = int(std::floor(a));
    const int last = std::min(int(std::ceil(b)), hi);
    for (int i = taps.first; i < last; ++i)
        taps.weights.push_back(float((std::min(b, double(i + 1)) - std::max(a, double(i))) / (b - a)));
    return taps;
}

} // namespace

COffscreenContext::COffscreenContext(int width, int height, double scale)
    : m_dScale(scale > 0.0 && std::isfinite(scale) ? scale : 1.0),
      m_iWidth(std::max(0, int(std::floor(std::max(width, 0) * m_dScale + 0.5)))),
      m_iHeight(std::max(0, int(std::floor(std::max(height, 0) * m_dScale + 0.5)))), m_rClip{0, 0, m_iWidth, m_iHeight},
      m_aPixels(std::size_t(m_iWidth) * m_iHeight * 3, 0)
{
}

int COffscreenContext::toDevice(int v) const
{
    return m_dScale == 1.0 ? v : int(std::floor(v * m_dScale + 0.5));
}

int COffscreenContext::toLayout(int device) const
{
    // Device pixel p lies in layout pixel x when toDevice(x) <= p < toDevice(x + 1), that is when
    // x < (p + 0.5) / scale <= x + 1.
    return m_dScale == 1.0 ? device : int(std::ceil((device + 0.5) / m_dScale)) - 1;
}

void COffscreenContext::fillRect(const CRect& rect, CColor color)
{
    const CRect r = toDevice(rect).intersection(m_rClip);
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
    if (m_dScale != 1.0) {
        if (const CBitmap* doubled = bitmap.getDoubleSize())
            drawScaled(*doubled, 2, dest, offset);
        else
            drawScaled(bitmap, 1, dest, offset);
        return;
    }
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

void COffscreenContext::drawScaled(const CBitmap& source, int sourceScale, const CRect& dest, CPoint offset)
{
    // In layout pixels: the bitmap placed so that `offset` lands on dest's corner, and the part
    // of it dest shows.
    const int layoutWidth = source.getWidth() / sourceScale, layoutHeight = source.getHeight() / sourceScale;
    const CRect placed = CRect::FromSize(dest.left - offset.x, dest.top - offset.y, layoutWidth, layoutHeight);
    const CRect shown = placed.intersection(dest);
    const CRect r = toDevice(shown).intersection(m_rClip);
    if (r.isEmpty())
        return;
    // The source span the shown part covers, in source pixels.
    const int loX = (shown.left - placed.left) * sourceScale, hiX = (shown.right - placed.left) * sourceScale;
    const int loY = (shown.top - placed.top) * sourceScale, hiY = (shown.bottom - placed.top) * sourceScale;
    const double k = sourceScale / m_dScale; // source pixels per device pixel

    if (double(sourceScale) == m_dScale) {
        const std::size_t rowBytes = std::size_t(r.width()) * 3;
        for (int y = r.top; y < r.bottom; ++y)
            std::memcpy(&m_aPixels[(std::size_t(y) * m_iWidth + r.left) * 3],
                        source.pixel(r.left - placed.left * sourceScale, y - placed.top * sourceScale), rowBytes);
        return;
    }
    std::vector<Taps> columns;
    columns.reserve(std::size_t(r.width()));
    for (int x = r.left; x < r.right; ++x)
        columns.push_back(TapsFor(x * k - placed.left * sourceScale, (x + 1) * k - placed.left * sourceScale, loX, hiX));
    std::vector<float> row(std::size_t(r.width()) * 3);
    for (int y = r.top; y < r.bottom; ++y) {
        const Taps rows = TapsFor(y * k - placed.top * sourceScale, (y + 1) * k - placed.top * sourceScale, loY, hiY);
        std::fill(row.begin(), row.end(), 0.0f);
        for (std::size_t j = 0; j < rows.weights.size(); ++j) {
            const float wy = rows.weights[j];
            for (int x = 0; x < r.width(); ++x) {
                const Taps& c = columns[std::size_t(x)];
                const std::uint8_t* p = source.pixel(c.first, rows.first + int(j));
                float* out = &row[std::size_t(x) * 3];
                for (const float wx : c.weights) {
                    const float w = wx * wy;
                    out[0] += w * p[0];
                    out[1] += w * p[1];
                    out[2] += w * p[2];
                    p += 3;
                }
            }
        }
        std::uint8_t* to = &m_aPixels[(std::size_t(y) * m_iWidth + r.left) * 3];
        for (const float v : row)
            *to++ = std::uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
    }
}

} // namespace corvex::gui
