#pragma once

#include <algorithm>
#include <cstdint>

namespace corvex::gui {

struct CPoint {
    int x = 0;
    int y = 0;
};

// Half-open pixel rectangle: right and bottom lie just outside.
struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static CRect FromSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool pointInside(CPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool overlaps(const CRect& o) const { return !intersection(o).isEmpty(); }

    CRect intersection(const CRect& o) const
    {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    CRect united(const CRect& o) const
    {
        if (isEmpty())
            return o;
        if (o.isEmpty())
            return *this;
        return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                std::max(bottom, o.bottom)};
    }
    bool operator==(const CRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const CRect& o) const { return !(*this == o); }
};

struct CColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 255;
};

} // namespace corvex::gui
