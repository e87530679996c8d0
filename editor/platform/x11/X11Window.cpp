// The editor's window on X11: a child of the host's window, drawn from the frame's framebuffer,
// driven by the host's run loop (the X connection's descriptor and the editor timer). No thread
// of our own: every callback arrives on the host's user-interface thread.

#include "EditorBase.h"
#include "PlatformWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace corvex {

using namespace Steinberg;

namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
constexpr unsigned kWheelUp = Button4;
constexpr unsigned kWheelDown = Button5;

unsigned ModifiersOf(unsigned state)
{
    unsigned modifiers = 0;
    if ((state & ShiftMask) != 0)
        modifiers |= gui::kShift;
    if ((state & ControlMask) != 0)
        modifiers |= gui::kControl;
    if ((state & Mod1Mask) != 0)
        modifiers |= gui::kAlt;
    return modifiers;
}

// Position of the lowest set bit of a TrueColor channel mask, and the channel's width.
void MaskShift(unsigned long mask, int& shift, int& bits)
{
    shift = 0;
    bits = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++shift;
    }
    while ((mask & 1u) != 0) {
        mask >>= 1;
        ++bits;
    }
}

// An 8-bit channel value at the visual's channel width: the top bits of a narrower channel, or
// the value with its top bits repeated below it for a wider one (10-bit deep colour), so full
// scale stays full scale.
unsigned long ScaleChannel(std::uint8_t value, int bits)
{
    if (bits <= 8)
        return value >> (8 - bits);
    unsigned long scaled = 0;
    for (int filled = 0; filled < bits; filled += 8)
        scaled = (scaled << 8) | value;
    const int excess = ((bits + 7) / 8) * 8 - bits;
    return scaled >> excess;
}

class CX11Window;

// What the run loop holds: it may keep a reference past the window's life, so it only forwards
// while the window is alive.
class CRunLoopHandler final : public Linux::IEventHandler, public Linux::ITimerHandler {
public:
    explicit CRunLoopHandler(CX11Window* window) : m_pWindow(window) {}
    void detach() { m_pWindow = nullptr; }

    void PLUGIN_API onFDIsSet(Linux::FileDescriptor fd) override;
    void PLUGIN_API onTimer() override;

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, Linux::IEventHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = static_cast<Linux::IEventHandler*>(this);
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid)) {
            addRef();
            *obj = static_cast<Linux::ITimerHandler*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++m_iRefs; }
    uint32 PLUGIN_API release() override
    {
        const uint32 refs = --m_iRefs;
        if (refs == 0)
            delete this;
        return refs;
    }

private:
    ~CRunLoopHandler() = default;

    std::atomic<uint32> m_iRefs{1};
    CX11Window* m_pWindow;
};

class CX11Window final : public CPlatformWindow {
public:
    CX11Window(CEditorBase& editor, Linux::IRunLoop* runLoop) : m_editor(editor), m_pRunLoop(runLoop) {}
    ~CX11Window() override;

    bool create(Window parent, int width, int height);
    void present(const gui::CRect& rect) override;
    std::uintptr_t nativeWindow() const override { return m_window; }

    void processEvents();
    void onTimer();

private:
    void handle(XEvent& event);
    void convert(const gui::CRect& rect);
    void put(gui::CRect rect);

    CEditorBase& m_editor;
    Linux::IRunLoop* m_pRunLoop;
    CRunLoopHandler* m_pHandler = nullptr;
    bool m_bEventHandlerRegistered = false;
    bool m_bTimerRegistered = false;
    Display* m_pDisplay = nullptr;
    Window m_window = 0;
    GC m_gc = nullptr;
    XImage* m_pImage = nullptr;
    std::vector<char> m_aImageData;
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_aShift[3] = {};
    int m_aBits[3] = {};
};

void PLUGIN_API CRunLoopHandler::onFDIsSet(Linux::FileDescriptor /*fd*/)
{
    if (m_pWindow != nullptr)
        m_pWindow->processEvents();
}

void PLUGIN_API CRunLoopHandler::onTimer()
{
    if (m_pWindow != nullptr)
        m_pWindow->onTimer();
}

bool CX11Window::create(Window parent, int width, int height)
{
    m_pDisplay = XOpenDisplay(nullptr);
    if (m_pDisplay == nullptr)
        return false;
    const int screen = DefaultScreen(m_pDisplay);
    Visual* visual = DefaultVisual(m_pDisplay, screen);
    const int depth = DefaultDepth(m_pDisplay, screen);
    if (visual->c_class != TrueColor || depth < 15)
        return false;
    MaskShift(visual->red_mask, m_aShift[0], m_aBits[0]);
    MaskShift(visual->green_mask, m_aShift[1], m_aBits[1]);
    MaskShift(visual->blue_mask, m_aShift[2], m_aBits[2]);

    m_iWidth = width;
    m_iHeight = height;
    m_pImage = XCreateImage(m_pDisplay, visual, unsigned(depth), ZPixmap, 0, nullptr, unsigned(width),
                            unsigned(height), 32, 0);
    if (m_pImage == nullptr)
        return false;
    // We write whole pixels in our own byte order; XPutImage swaps them for the server if need be.
    const std::uint32_t probe = 1;
    m_pImage->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
    m_aImageData.assign(std::size_t(m_pImage->bytes_per_line) * unsigned(height), 0);
    m_pImage->data = m_aImageData.data();

    // Our own visual and colormap: the host's window may use another one.
    XSetWindowAttributes attributes{};
    attributes.colormap = DefaultColormap(m_pDisplay, screen);
    attributes.border_pixel = 0;
    attributes.background_pixmap = None; // the framebuffer covers every pixel; no flash of white
    attributes.event_mask = kEventMask;
    m_window = XCreateWindow(m_pDisplay, parent, 0, 0, unsigned(width), unsigned(height), 0, depth, InputOutput,
                             visual, CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &attributes);
    if (m_window == 0)
        return false;
    m_gc = XCreateGC(m_pDisplay, m_window, 0, nullptr);
    XMapWindow(m_pDisplay, m_window);
    // The window exists on the server before the host hears that attached() succeeded.
    XSync(m_pDisplay, False);

    m_pHandler = new CRunLoopHandler(this);
    const int fd = ConnectionNumber(m_pDisplay);
    m_bEventHandlerRegistered = m_pRunLoop->registerEventHandler(m_pHandler, fd) == kResultOk;
    m_bTimerRegistered = m_pRunLoop->registerTimer(m_pHandler, Linux::TimerInterval(m_editor.getIdleRate())) == kResultOk;
    return m_bEventHandlerRegistered && m_bTimerRegistered;
}

CX11Window::~CX11Window()
{
    if (m_pHandler != nullptr) {
        if (m_bTimerRegistered)
            m_pRunLoop->unregisterTimer(m_pHandler);
        if (m_bEventHandlerRegistered)
            m_pRunLoop->unregisterEventHandler(m_pHandler);
        m_pHandler->detach();
        m_pHandler->release();
    }
    if (m_pRunLoop != nullptr)
        m_pRunLoop->release();
    if (m_pDisplay == nullptr)
        return;
    if (m_pImage != nullptr) {
        m_pImage->data = nullptr; // ours, not Xlib's to free
        XDestroyImage(m_pImage);
    }
    if (m_gc != nullptr)
        XFreeGC(m_pDisplay, m_gc);
    if (m_window != 0)
        XDestroyWindow(m_pDisplay, m_window);
    XCloseDisplay(m_pDisplay);
}

void CX11Window::convert(const gui::CRect& rect)
{
    const gui::CFrame* frame = m_editor.getFrame();
    if (frame == nullptr)
        return;
    const gui::COffscreenContext& offscreen = frame->getOffscreen();
    const gui::CRect r = rect.intersection({0, 0, std::min(m_iWidth, offscreen.getWidth()),
                                            std::min(m_iHeight, offscreen.getHeight())});
    const bool direct = m_pImage->bits_per_pixel == 32 && m_aBits[0] == 8 && m_aBits[1] == 8 && m_aBits[2] == 8;
    for (int y = r.top; y < r.bottom; ++y) {
        const std::uint8_t* rgb = offscreen.pixel(r.left, y);
        if (direct) {
            auto* row = reinterpret_cast<std::uint32_t*>(m_pImage->data + std::size_t(y) * unsigned(m_pImage->bytes_per_line));
            for (int x = r.left; x < r.right; ++x, rgb += 3)
                row[x] = (std::uint32_t(rgb[0]) << m_aShift[0]) | (std::uint32_t(rgb[1]) << m_aShift[1]) |
                         (std::uint32_t(rgb[2]) << m_aShift[2]);
        } else {
            for (int x = r.left; x < r.right; ++x, rgb += 3) {
                unsigned long pixel = 0;
                for (int c = 0; c < 3; ++c)
                    pixel |= ScaleChannel(rgb[c], m_aBits[c]) << m_aShift[c];
                XPutPixel(m_pImage, x, y, pixel);
            }
        }
    }
}

void CX11Window::put(gui::CRect rect)
{
    rect = rect.intersection({0, 0, m_iWidth, m_iHeight});
    if (rect.isEmpty())
        return;
    XPutImage(m_pDisplay, m_window, m_gc, m_pImage, rect.left, rect.top, rect.left, rect.top, unsigned(rect.width()),
              unsigned(rect.height()));
}

void CX11Window::present(const gui::CRect& rect)
{
    convert(rect);
    put(rect);
    XFlush(m_pDisplay);
}

void CX11Window::processEvents()
{
    while (XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        handle(event);
    }
    XFlush(m_pDisplay);
}

void CX11Window::onTimer()
{
    m_editor.onTimer();
    // Xlib may have queued events while we talked to the server; they would wait for the next
    // byte on the descriptor otherwise.
    processEvents();
}

void CX11Window::handle(XEvent& event)
{
    if (event.xany.window != m_window)
        return;
    switch (event.type) {
    case Expose:
        // The framebuffer is always current: exposed parts are copied, not repainted.
        put(gui::CRect::FromSize(event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height));
        break;
    case ButtonPress: {
        const gui::CMouseEvent mouse{{event.xbutton.x, event.xbutton.y}, ModifiersOf(event.xbutton.state)};
        if (event.xbutton.button == Button1)
            m_editor.onMouseDown(mouse);
        else if (event.xbutton.button == kWheelUp)
            m_editor.onWheel(mouse, 1.0f);
        else if (event.xbutton.button == kWheelDown)
            m_editor.onWheel(mouse, -1.0f);
        break;
    }
    case ButtonRelease:
        if (event.xbutton.button == Button1)
            m_editor.onMouseUp({{event.xbutton.x, event.xbutton.y}, ModifiersOf(event.xbutton.state)});
        break;
    case MotionNotify: {
        // Only the latest position of a run of moves matters. Never look past the run: a move
        // queued after a release must not reach the control the release let go of.
        XEvent next;
        while (XEventsQueued(m_pDisplay, QueuedAlready) > 0) {
            XPeekEvent(m_pDisplay, &next);
            if (next.type != MotionNotify || next.xany.window != m_window)
                break;
            XNextEvent(m_pDisplay, &event);
        }
        m_editor.onMouseMoved({{event.xmotion.x, event.xmotion.y}, ModifiersOf(event.xmotion.state)});
        break;
    }
    default:
        break;
    }
}

} // namespace

bool IsPlatformWindowTypeSupported(FIDString type)
{
    return type != nullptr && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0;
}

std::unique_ptr<CPlatformWindow> CreatePlatformWindow(FIDString type, void* parent, CEditorBase& editor,
                                                      IPlugFrame* plugFrame)
{
    if (!IsPlatformWindowTypeSupported(type) || plugFrame == nullptr)
        return nullptr;
    Linux::IRunLoop* runLoop = nullptr;
    if (plugFrame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&runLoop)) != kResultOk ||
        runLoop == nullptr)
        return nullptr;
    auto window = std::make_unique<CX11Window>(editor, runLoop); // takes over the reference
    const ViewRect& size = editor.getRect();
    if (!window->create(Window(reinterpret_cast<std::uintptr_t>(parent)), size.getWidth(), size.getHeight()))
        return nullptr;
    return window;
}

} // namespace corvex
