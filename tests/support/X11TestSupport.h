#pragma once

// What the tests that drive the editor in real X11 windows share: windows, grabs of their pixels,
// and synthetic input through XTest.

#include "EditorLayout.h"
#include "gui/Bitmap.h"
#include "gui/Geometry.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace test {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A window's pixels as 24-bit RGB.
struct Grab {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

inline bool HasXTest(Display* display)
{
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != 0;
}

// A plain top-level window at (x, 0), returned once the server has mapped it.
inline Window OpenMappedWindow(Display* display, int x, int width, int height)
{
    const int screen = DefaultScreen(display);
    Window w = XCreateSimpleWindow(display, RootWindow(display, screen), x, 0, width, height, 0, 0,
                                   BlackPixel(display, screen));
    XSelectInput(display, w, StructureNotifyMask);
    XMapWindow(display, w);
    XEvent event;
    do
        XWindowEvent(display, w, StructureNotifyMask, &event);
    while (event.type != MapNotify);
    return w;
}

// The window's top-left width x height pixels; an empty grab when the server gives none.
inline Grab GrabWindow(Display* display, Window w, int width, int height)
{
    XSync(display, False);
    Grab grab;
    XImage* image = XGetImage(display, w, 0, 0, width, height, AllPlanes, ZPixmap);
    if (image == nullptr)
        return grab;
    grab.width = width;
    grab.height = height;
    grab.pixels.reserve(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            grab.pixels.push_back({std::uint8_t((p & image->red_mask) >> 16), std::uint8_t((p & image->green_mask) >> 8),
                                   std::uint8_t(p & image->blue_mask)});
        }
    }
    XDestroyImage(image);
    return grab;
}

// True when the grab shows `bitmap`'s sub-image starting at (sourceLeft, sourceTop) over `rect`.
inline bool Shows(const Grab& grab, const corvex::gui::CRect& rect, const corvex::gui::CBitmap& bitmap,
                  int sourceLeft = 0, int sourceTop = 0)
{
    if (grab.pixels.empty())
        return false;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            const std::uint8_t* p = bitmap.pixel(sourceLeft + x - rect.left, sourceTop + y - rect.top);
            if (!(grab.at(x, y) == Rgb{p[0], p[1], p[2]}))
                return false;
        }
    }
    return true;
}

// The panel's rectangle for the control of `id`; empty when the layout has none.
inline corvex::gui::CRect ControlRect(corvex::ParamID id)
{
    for (const corvex::editor::ControlLayout& c : corvex::editor::kControlLayouts)
        if (c.id == id)
            return corvex::gui::CRect::FromSize(c.left, c.top, c.width(), c.height());
    return {};
}

// Synthetic input at window coordinates of `w`, as a user's pointer would deliver it.
inline void MoveTo(Display* display, Window w, int x, int y)
{
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, w, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XFlush(display);
}

inline void Button(Display* display, unsigned button, bool down)
{
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XFlush(display);
}

inline void Click(Display* display, Window w, int x, int y)
{
    MoveTo(display, w, x, y);
    Button(display, 1, true);
    Button(display, 1, false);
}

inline void PressKey(Display* display, KeySym sym)
{
    const KeyCode code = XKeysymToKeycode(display, sym);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}

} // namespace test
