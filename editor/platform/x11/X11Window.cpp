// The editor's window on X11: a child of the host's window, drawn from the frame's framebuffer,
// driven by the host's run loop (the X connection's descriptor and the editor timer). No thread
// of our own: every callback arrives on the host's user-interface thread.
//
// The window is an XEmbed client. It carries _XEMBED_INFO from its creation, so an embedder
// (GtkSocket, the VST 3 SDK's editor host) finds it when it sees the window appear, and it maps
// itself when the embedder says XEMBED_EMBEDDED_NOTIFY. Hosts that never speak XEmbed just
// give a parent window; there the window maps itself at the first timer tick. While the
// embedder gives it the focus it takes the keys it uses and hands every other one back. A plain
// parent has no focus to give: there a click makes the editor take the keys typed with the
// pointer over it, and it hands back the ones it does not use in the same way.
//
// Files dragged from a file manager arrive through XDND: the window is XdndAware, answers each
// XdndPosition with whether the editor takes files at that point, and on XdndDrop asks the
// source for the text/uri-list. Sources (GTK's, Qt's) talk to the top-level window under the
// pointer only; so when the host's top level takes no drops itself, the editor marks it
// XdndAware with an XdndProxy naming the editor's window, which then answers for it. The desktop's file chooser runs beside the window, polled on the
// editor timer.

#include "DesktopFileChooser.h"
#include "EditorBase.h"
#include "PlatformWindow.h"
#include "UriList.h"
#include "XEmbed.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace corvex {

namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask;
// Keys are selected only while an embedder has given us the focus, or after a click in a plain
// parent: a window that selects them takes every key typed with the pointer over it away from
// the host.
constexpr long kFocusedEventMask = kEventMask | KeyPressMask | KeyReleaseMask;
constexpr unsigned kWheelUp = Button4;
constexpr unsigned kWheelDown = Button5;
// A second press this soon and this close to the first makes a double-click.
constexpr Time kDoubleClickMs = 400;
constexpr int kDoubleClickSlop = 4;
// The XDND version we speak, and the oldest whose messages we read (the same fields since 3).
constexpr long kXdndVersion = 5;
constexpr long kXdndMinVersion = 3;
// The longest uri-list we read (many thousands of paths).
constexpr long kMaxUriListLongs = 1 << 20;
// Ticks (5 s) to wait for the window manager to frame the host's window before giving up on
// answering drags for it.
constexpr int kProxyTicks = 100;

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

// The window below the root that holds `window`: the host's toplevel.
Window TopLevelOf(Display* display, Window window)
{
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
            return window;
        if (children != nullptr)
            XFree(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
}

gui::VirtualKey VirtualKeyOf(KeySym sym)
{
    switch (sym) {
    case XK_Up: case XK_KP_Up: return gui::VirtualKey::Up;
    case XK_Down: case XK_KP_Down: return gui::VirtualKey::Down;
    case XK_Page_Up: case XK_KP_Page_Up: return gui::VirtualKey::PageUp;
    case XK_Page_Down: case XK_KP_Page_Down: return gui::VirtualKey::PageDown;
    case XK_Escape: return gui::VirtualKey::Escape;
    case XK_Menu: return gui::VirtualKey::Menu;
    default: return gui::VirtualKey::Other;
    }
}

class CX11Window final : public CPlatformWindow {
public:
    CX11Window(CEditorBase& editor, CHostWindow& host) : m_editor(editor), m_host(host) {}
    ~CX11Window() override;

    bool create(Window parent, int width, int height);
    void present(const gui::CRect& rect) override;
    void resize(int width, int height) override;
    std::uintptr_t nativeWindow() const override { return m_window; }
    bool chooseFile(const std::string& title, const FileFilter& filter, std::string& error) override;
    bool isChoosingFile() const override { return m_pChooser && m_pChooser->isOpen(); }

    void processEvents();
    void onTimer();

private:
    void handle(XEvent& event);
    void handleXEmbed(const XClientMessageEvent& message);
    void handleKey(XKeyEvent& key);
    void sendXEmbed(Window to, long message, Time time);
    void setXEmbedInfo(long flags);
    void selectKeys(bool selected);
    void show();
    bool createImage(int width, int height);
    void onButtonPress(const XButtonEvent& button);
    // XDND: true when `message` was one of its messages.
    bool handleXdnd(const XClientMessageEvent& message);
    void sendXdnd(Window to, Atom type, long flags, Atom action);
    void dropArrived(const XSelectionEvent& selection);
    // The drag left, or was dropped: the editor stops showing it.
    void endDrag();
    // Makes the host's top level hand drags to us, if it takes none itself; false while its
    // window manager has not yet framed it (try again later). unproxyDrops undoes it.
    bool proxyDrops();
    void unproxyDrops();
    void convert(const gui::CRect& rect);
    void put(gui::CRect rect);

    CEditorBase& m_editor;
    CHostWindow& m_host;
    bool m_bWatching = false;
    Display* m_pDisplay = nullptr;
    Window m_window = 0;
    GC m_gc = nullptr;
    XImage* m_pImage = nullptr;
    std::vector<char> m_aImageData;
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_aShift[3] = {};
    int m_aBits[3] = {};
    Atom m_atomXEmbed = 0;
    Atom m_atomXEmbedInfo = 0;
    Window m_parent = 0;
    Window m_embedder = 0;  // set by XEMBED_EMBEDDED_NOTIFY
    bool m_bShown = false;
    bool m_bFocused = false; // the embedder gave us the keyboard focus, or a click in a plain parent
    Time m_lastPressTime = 0;
    gui::CPoint m_lastPress;
    bool m_bLastPressCounts = false;

    struct {
        Atom aware, enter, position, status, leave, drop, finished, selection, typeList, actionCopy, uriList, property,
        proxy, wmState, wmCheck;
    } m_xdnd{};
    Window m_dropProxied = 0;    // the host's top level we answer for, 0 when none
    Window m_dropTarget = 0;     // the window the source of the drag over us addresses
    int m_iProxyTries = 0;       // ticks left to find the host's framed top level, 0 when decided
    Window m_dragSource = 0;     // the source of the drag over us, 0 when none
    bool m_bDragHasFiles = false; // it offers text/uri-list
    bool m_bDropAccepted = false; // our answer to its last position
    gui::CPoint m_dropPoint;
    std::unique_ptr<CDesktopFileChooser> m_pChooser;
};

bool CX11Window::create(Window parent, int width, int height)
{
    m_parent = parent;
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

    if (!createImage(width, height))
        return false;

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
    // In the same request stream as the creation: an embedder reading it when it hears of the
    // window always finds it. Not mapped yet: that is the embedder's call.
    m_atomXEmbed = XInternAtom(m_pDisplay, kXEmbedAtomName, False);
    m_atomXEmbedInfo = XInternAtom(m_pDisplay, kXEmbedInfoAtomName, False);
    setXEmbedInfo(0);
    const char* xdndNames[] = {"XdndAware",    "XdndEnter",    "XdndPosition",    "XdndStatus",
                               "XdndLeave",    "XdndDrop",     "XdndFinished",    "XdndSelection",
                               "XdndTypeList", "XdndActionCopy", "text/uri-list", "CORVEX_XDND_DROP",
                               "XdndProxy",    "WM_STATE",     "_NET_SUPPORTING_WM_CHECK"};
    static_assert(sizeof xdndNames / sizeof xdndNames[0] == sizeof m_xdnd / sizeof(Atom));
    XInternAtoms(m_pDisplay, const_cast<char**>(xdndNames), int(sizeof xdndNames / sizeof xdndNames[0]), False,
                 &m_xdnd.aware);
    XChangeProperty(m_pDisplay, m_window, m_xdnd.aware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&kXdndVersion), 1);
    m_gc = XCreateGC(m_pDisplay, m_window, 0, nullptr);
    // The window exists on the server before the host hears that attached() succeeded.
    XSync(m_pDisplay, False);

    m_bWatching = true;
    return m_host.watchDescriptor(ConnectionNumber(m_pDisplay), [this] { processEvents(); }) &&
           m_host.startTimer(m_editor.getIdleRate(), [this] { onTimer(); });
}

CX11Window::~CX11Window()
{
    if (m_bWatching)
        m_host.stopWatching();
    if (m_pDisplay == nullptr)
        return;
    if (m_pImage != nullptr) {
        m_pImage->data = nullptr; // ours, not Xlib's to free
        XDestroyImage(m_pImage);
    }
    unproxyDrops();
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

bool CX11Window::createImage(int width, int height)
{
    if (m_pImage != nullptr) {
        m_pImage->data = nullptr; // ours, not Xlib's to free
        XDestroyImage(m_pImage);
    }
    const int screen = DefaultScreen(m_pDisplay);
    m_iWidth = width;
    m_iHeight = height;
    m_pImage = XCreateImage(m_pDisplay, DefaultVisual(m_pDisplay, screen), unsigned(DefaultDepth(m_pDisplay, screen)),
                            ZPixmap, 0, nullptr, unsigned(width), unsigned(height), 32, 0);
    if (m_pImage == nullptr)
        return false;
    // We write whole pixels in our own byte order; XPutImage swaps them for the server if need be.
    const std::uint32_t probe = 1;
    m_pImage->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
    m_aImageData.assign(std::size_t(m_pImage->bytes_per_line) * unsigned(height), 0);
    m_pImage->data = m_aImageData.data();
    return true;
}

void CX11Window::resize(int width, int height)
{
    if (width == m_iWidth && height == m_iHeight)
        return;
    XResizeWindow(m_pDisplay, m_window, unsigned(width), unsigned(height));
    createImage(width, height);
    XFlush(m_pDisplay);
}

void CX11Window::setXEmbedInfo(long flags)
{
    const long info[2] = {kXEmbedVersion, flags};
    XChangeProperty(m_pDisplay, m_window, m_atomXEmbedInfo, m_atomXEmbedInfo, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(info), 2);
}

void CX11Window::show()
{
    if (m_bShown)
        return;
    m_bShown = true;
    // An embedder maps the window when the flag appears; one that redirects mapping gets a
    // request, and a plain parent window shows it at once.
    setXEmbedInfo(kXEmbedMapped);
    XMapWindow(m_pDisplay, m_window);
    // The host's window is usually on the screen by now; if its window manager has not framed
    // it yet, the next ticks look again.
    m_iProxyTries = proxyDrops() ? 0 : kProxyTicks;
    XFlush(m_pDisplay);
}

bool CX11Window::proxyDrops()
{
    // The client top level holding us: the highest ancestor with WM_STATE; with no window
    // manager running, the one right below the root.
    Window topLevel = 0, belowRoot = 0;
    for (Window w = m_window;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(m_pDisplay, w, &root, &parent, &children, &count) == 0)
            return true;
        if (children != nullptr)
            XFree(children);
        if (parent == 0 || parent == root) {
            belowRoot = w;
            break;
        }
        w = parent;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_pDisplay, w, m_xdnd.wmState, 0, 0, False, AnyPropertyType, &type, &format, &items,
                               &after, &data) == Success &&
            type != 0)
            topLevel = w;
        if (data != nullptr)
            XFree(data);
    }
    if (topLevel == 0) {
        // A window manager frames top levels with WM_STATE; ours may not have yet.
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(m_pDisplay, DefaultRootWindow(m_pDisplay), m_xdnd.wmCheck, 0, 1, False, XA_WINDOW, &type,
                           &format, &items, &after, &data);
        if (data != nullptr)
            XFree(data);
        if (type != 0)
            return false;
        topLevel = belowRoot;
    }
    if (topLevel == m_window)
        return true;
    // A top level with drop targets of its own keeps its drags.
    for (Atom property : {m_xdnd.aware, m_xdnd.proxy}) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(m_pDisplay, topLevel, property, 0, 1, False, AnyPropertyType, &type, &format, &items, &after,
                           &data);
        if (data != nullptr)
            XFree(data);
        if (type != 0)
            return true;
    }
    // The proxy names itself too, as sources check.
    const Window self = m_window;
    XChangeProperty(m_pDisplay, m_window, m_xdnd.proxy, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&self), 1);
    XChangeProperty(m_pDisplay, topLevel, m_xdnd.proxy, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&self), 1);
    XChangeProperty(m_pDisplay, topLevel, m_xdnd.aware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&kXdndVersion), 1);
    m_dropProxied = topLevel;
    return true;
}

void CX11Window::unproxyDrops()
{
    if (m_dropProxied == 0)
        return;
    // Only while the properties are still ours: the host may have set its own since.
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_pDisplay, m_dropProxied, m_xdnd.proxy, 0, 1, False, XA_WINDOW, &type, &format, &items,
                           &after, &data) == Success &&
        data != nullptr && items == 1 && Window(*reinterpret_cast<unsigned long*>(data)) == m_window) {
        XDeleteProperty(m_pDisplay, m_dropProxied, m_xdnd.proxy);
        XDeleteProperty(m_pDisplay, m_dropProxied, m_xdnd.aware);
    }
    if (data != nullptr)
        XFree(data);
    m_dropProxied = 0;
}

void CX11Window::sendXEmbed(Window to, long message, Time time)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = to;
    event.xclient.message_type = m_atomXEmbed;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(time);
    event.xclient.data.l[1] = message;
    XSendEvent(m_pDisplay, to, False, NoEventMask, &event);
    XFlush(m_pDisplay);
}

void CX11Window::handleXEmbed(const XClientMessageEvent& message)
{
    switch (message.data.l[1]) {
    case kXEmbedEmbeddedNotify:
        m_embedder = Window(message.data.l[3]);
        if (m_embedder == 0) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (XQueryTree(m_pDisplay, m_window, &root, &parent, &children, &count) != 0)
                m_embedder = parent;
            if (children != nullptr)
                XFree(children);
        }
        show();
        break;
    case kXEmbedFocusIn:
        selectKeys(true);
        break;
    case kXEmbedFocusOut:
        selectKeys(false);
        break;
    case kXEmbedWindowActivate:
    case kXEmbedWindowDeactivate:
        // Nothing on the panel shows activation; keys follow FOCUS_IN and FOCUS_OUT.
    default:
        break;
    }
}

void CX11Window::selectKeys(bool selected)
{
    m_bFocused = selected;
    XSelectInput(m_pDisplay, m_window, selected ? kFocusedEventMask : kEventMask);
}

void CX11Window::handleKey(XKeyEvent& key)
{
    const gui::VirtualKey virtualKey = VirtualKeyOf(XLookupKeysym(&key, 0));
    bool used = false;
    if (key.type == KeyPress)
        used = m_editor.onKey({virtualKey, ModifiersOf(key.state)});
    else
        used = virtualKey != gui::VirtualKey::Other; // the release of a key the editor takes
    // A key the server gave us because the pointer is over us never reached the host: send it
    // back to the embedder's toplevel, where toolkits run their shortcuts. Keys the embedder
    // forwarded (send_event) have had their chance there already. Toolkits that read keys only
    // through XInput 2 (GTK 3) cannot take a key back this way; keys typed with the pointer
    // elsewhere reach their shortcuts before the editor in any case.
    if (!used && !key.send_event) {
        const Window target = TopLevelOf(m_pDisplay, m_embedder != 0 ? m_embedder : m_parent);
        XEvent back{};
        back.xkey = key;
        back.xkey.window = target;
        back.xkey.subwindow = 0;
        XSendEvent(m_pDisplay, target, True, key.type == KeyPress ? KeyPressMask : KeyReleaseMask, &back);
    }
}

void CX11Window::onButtonPress(const XButtonEvent& button)
{
    gui::CMouseEvent mouse{{button.x, button.y}, ModifiersOf(button.state)};
    if (button.button == Button1) {
        const bool close = m_bLastPressCounts && button.time - m_lastPressTime <= kDoubleClickMs &&
                           std::abs(button.x - m_lastPress.x) <= kDoubleClickSlop &&
                           std::abs(button.y - m_lastPress.y) <= kDoubleClickSlop;
        mouse.clickCount = close ? 2 : 1;
        // A third press starts over rather than making another double-click.
        m_bLastPressCounts = !close;
        m_lastPressTime = button.time;
        m_lastPress = mouse.where;
        // A click asks the embedder for the keyboard, so the editor's keys reach it; in a plain
        // parent it takes the keys typed over it from now on.
        if (m_embedder != 0 && !m_bFocused)
            sendXEmbed(m_embedder, kXEmbedRequestFocus, button.time);
        else if (m_embedder == 0 && !m_bFocused)
            selectKeys(true);
        m_editor.onMouseDown(mouse);
    } else if (button.button == Button3) {
        m_editor.onContextMenu(mouse);
    } else if (button.button == kWheelUp) {
        m_editor.onWheel(mouse, 1.0f);
    } else if (button.button == kWheelDown) {
        m_editor.onWheel(mouse, -1.0f);
    }
}

bool CX11Window::chooseFile(const std::string& title, const FileFilter& filter, std::string& error)
{
    if (!m_pChooser)
        m_pChooser = std::make_unique<CDesktopFileChooser>(
            [this](const std::string& path, const std::string& failure) { m_editor.onFileChosen(path, failure); });
    return m_pChooser->open(m_window, title, filter, error);
}

void CX11Window::sendXdnd(Window to, Atom type, long flags, Atom action)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = to;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    // The window the source addresses: ours, or the top level we answer for.
    event.xclient.data.l[0] = long(m_dropTarget != 0 ? m_dropTarget : m_window);
    event.xclient.data.l[1] = flags;
    // XdndStatus: an empty rectangle, so every move brings a new position to answer.
    event.xclient.data.l[4] = long(action);
    XSendEvent(m_pDisplay, to, False, NoEventMask, &event);
    XFlush(m_pDisplay);
}

bool CX11Window::handleXdnd(const XClientMessageEvent& message)
{
    const Atom type = message.message_type;
    const auto source = Window(message.data.l[0]);
    if (type == m_xdnd.enter) {
        const long version = (unsigned long)(message.data.l[1]) >> 24;
        endDrag();
        m_dragSource = version >= kXdndMinVersion ? source : 0;
        m_dropTarget = message.window;
        m_bDragHasFiles = false;
        if (m_dragSource == 0)
            return true;
        // Up to three types in the message; more in the source's XdndTypeList.
        if ((message.data.l[1] & 1) != 0) {
            Atom actual = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(m_pDisplay, source, m_xdnd.typeList, 0, 1024, False, XA_ATOM, &actual, &format,
                                   &count, &after, &data) == Success && data != nullptr) {
                const auto* types = reinterpret_cast<const unsigned long*>(data);
                for (unsigned long i = 0; format == 32 && i < count; ++i)
                    m_bDragHasFiles = m_bDragHasFiles || types[i] == m_xdnd.uriList;
            }
            if (data != nullptr)
                XFree(data);
        } else {
            for (int i = 2; i <= 4; ++i)
                m_bDragHasFiles = m_bDragHasFiles || Atom(message.data.l[i]) == m_xdnd.uriList;
        }
    } else if (type == m_xdnd.position) {
        if (source != m_dragSource)
            return true;
        const int rootX = int((message.data.l[2] >> 16) & 0xFFFF), rootY = int(message.data.l[2] & 0xFFFF);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_pDisplay, DefaultRootWindow(m_pDisplay), m_window, rootX, rootY, &x, &y, &child);
        m_dropPoint = {x, y};
        const bool wasAccepted = m_bDropAccepted;
        m_bDropAccepted = m_bDragHasFiles && m_editor.acceptsDrop(m_dropPoint);
        if (m_bDropAccepted != wasAccepted)
            m_editor.onDragOver(m_bDropAccepted);
        sendXdnd(source, m_xdnd.status, m_bDropAccepted ? 1 : 0, m_bDropAccepted ? m_xdnd.actionCopy : 0);
    } else if (type == m_xdnd.leave) {
        if (source == m_dragSource)
            endDrag();
    } else if (type == m_xdnd.drop) {
        if (source != m_dragSource)
            return true;
        if (!m_bDropAccepted) {
            sendXdnd(source, m_xdnd.finished, 0, 0);
            endDrag();
            return true;
        }
        // The files come as the selection's text/uri-list; the drag ends when it arrives.
        XConvertSelection(m_pDisplay, m_xdnd.selection, m_xdnd.uriList, m_xdnd.property, m_window,
                          Time(message.data.l[2]));
        XFlush(m_pDisplay);
    } else {
        return false;
    }
    return true;
}

void CX11Window::endDrag()
{
    m_dragSource = 0;
    if (m_bDropAccepted)
        m_editor.onDragOver(false);
    m_bDropAccepted = false;
}

void CX11Window::dropArrived(const XSelectionEvent& selection)
{
    const Window source = m_dragSource;
    endDrag();
    if (source == 0)
        return;
    std::string list;
    if (selection.property != 0) {
        Atom actual = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_pDisplay, m_window, m_xdnd.property, 0, kMaxUriListLongs, True, AnyPropertyType,
                               &actual, &format, &count, &after, &data) == Success &&
            data != nullptr && format == 8)
            list.assign(reinterpret_cast<const char*>(data), count);
        if (data != nullptr)
            XFree(data);
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        host[0] = 0;
    const bool taken = m_editor.onDrop(m_dropPoint, LocalFilesOfUriList(list, host));
    sendXdnd(source, m_xdnd.finished, taken ? 1 : 0, taken ? m_xdnd.actionCopy : 0);
}

void CX11Window::onTimer()
{
    // No embedder has spoken by the first tick: a plain parent window, which leaves showing us
    // to us.
    if (m_embedder == 0)
        show();
    if (m_iProxyTries > 0 && proxyDrops())
        m_iProxyTries = 0;
    else if (m_iProxyTries > 0)
        --m_iProxyTries;
    if (m_pChooser)
        m_pChooser->poll();
    m_editor.onTimer();
    // Xlib may have queued events while we talked to the server; they would wait for the next
    // byte on the descriptor otherwise.
    processEvents();
}

void CX11Window::handle(XEvent& event)
{
    // XDND messages for the top level we answer for arrive addressed to it.
    if (event.type == ClientMessage && m_dropProxied != 0 && event.xany.window == m_dropProxied &&
        event.xclient.format == 32) {
        handleXdnd(event.xclient);
        return;
    }
    if (event.xany.window != m_window)
        return;
    switch (event.type) {
    case Expose:
        // The framebuffer is always current: exposed parts are copied, not repainted.
        put(gui::CRect::FromSize(event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height));
        break;
    case ButtonPress:
        onButtonPress(event.xbutton);
        break;
    case LeaveNotify:
        m_editor.onMouseExited();
        break;
    case KeyPress:
    case KeyRelease:
        handleKey(event.xkey);
        break;
    case ClientMessage:
        if (event.xclient.message_type == m_atomXEmbed && event.xclient.format == 32)
            handleXEmbed(event.xclient);
        else if (event.xclient.format == 32)
            handleXdnd(event.xclient);
        break;
    case SelectionNotify:
        if (event.xselection.selection == m_xdnd.selection)
            dropArrived(event.xselection);
        break;
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

double PlatformContentScale(const char* type)
{
    constexpr double kBaseDpi = 96.0;
    if (!IsPlatformWindowTypeSupported(type))
        return 0.0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 0.0;
    double scale = 0.0;
    // The resource database as the desktop set it (xrdb): a line "Xft.dpi:\t192".
    if (const char* resources = XResourceManagerString(display)) {
        const char* line = std::strstr(resources, "Xft.dpi:");
        if (line != nullptr && (line == resources || line[-1] == '\n')) {
            const double dpi = std::strtod(line + std::strlen("Xft.dpi:"), nullptr);
            if (dpi > 0.0)
                scale = dpi / kBaseDpi;
        }
    }
    XCloseDisplay(display);
    return scale;
}

bool IsPlatformWindowTypeSupported(const char* type)
{
    return type != nullptr && std::strcmp(type, kPlatformTypeX11) == 0;
}

std::unique_ptr<CPlatformWindow> CreatePlatformWindow(const char* type, void* parent, CEditorBase& editor,
                                                      CHostWindow* host)
{
    if (!IsPlatformWindowTypeSupported(type) || host == nullptr)
        return nullptr;
    auto window = std::make_unique<CX11Window>(editor, *host);
    const gui::CRect size = editor.scaledSize();
    if (!window->create(Window(reinterpret_cast<std::uintptr_t>(parent)), size.width(), size.height()))
        return nullptr;
    return window;
}

} // namespace corvex
