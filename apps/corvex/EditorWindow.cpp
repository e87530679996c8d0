#include "EditorWindow.h"

// Before Xlib, whose None macro would take the name of a MIDI action kind.
#include "LiveHost.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "EditorHost.h"
#include "PresetStrip.h"
#include "XEmbed.h"
#include "pluginterfaces/gui/iplugview.h"

using namespace Steinberg;

namespace corvex::live {

namespace {

constexpr const char* kTitle = "Corvex";
// The menu: rows of text in X's core "fixed" font, a frame around them.
constexpr int kMenuRowHeight = 20;
constexpr int kMenuPadding = 8;
constexpr int kMenuCharWidth = 7; // without the font
constexpr unsigned long kMenuBackground = 0xE8E8E8;
constexpr unsigned long kMenuDisabled = 0x909090;

class CX11EditorWindow final : public CEditorWindow, public Linux::IEventHandler {
public:
    CX11EditorWindow(hosting::EditorHost& runLoop, CPresetStrip* presets) : m_runLoop(runLoop), m_pStrip(presets) {}
    ~CX11EditorWindow() override;

    bool Open(CLiveHost& host, std::string& error);
    bool CloseRequested() const override { return m_bCloseRequested; }
    void Tick() override;
    void FollowViewSize();
    // The host's context menu at (x, y) of the view; `chosen` hears the entry picked, or -1.
    bool ShowMenu(const std::vector<MenuEntry>& entries, int x, int y, std::function<void(int)> chosen);

    void PLUGIN_API onFDIsSet(Linux::FileDescriptor) SMTG_OVERRIDE { ReadEvents(); }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, Linux::IEventHandler)
        QUERY_INTERFACE(iid, obj, Linux::IEventHandler::iid, Linux::IEventHandler)
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    void ReadEvents();
    void SetSize(unsigned width, unsigned height);
    // The editor's window is an XEmbed client: tell it it is embedded and give it the keyboard.
    void Embed(Window client);
    void SendXEmbed(long message, long detail = 0, long data1 = 0, long data2 = 0);
    // The preset strip under the panel: its height (0 without one), its keys, and showing what
    // changed. While it asks a question or takes a name, the panel gives up the keyboard.
    int StripHeight() const { return m_pStrip ? CStripPainter::kHeight : 0; }
    bool StripKey(XKeyEvent& key);
    void StripChanged();
    bool MenuEvent(const XEvent& event);
    void DrawMenu();
    void CloseMenu(int chosen);
    int MenuRowAt(int x, int y) const;

    hosting::EditorHost& m_runLoop;
    Display* m_pDisplay = nullptr;
    Window m_window = 0;
    Atom m_deleteWindow = 0;
    Atom m_xembed = 0;
    Window m_client = 0; // the editor's window inside ours
    unsigned m_width = 0, m_height = 0;
    IPlugView* m_pView = nullptr;
    bool m_bAttached = false;
    bool m_bHandlerRegistered = false;
    bool m_bCloseRequested = false;
    CPresetStrip* m_pStrip = nullptr;
    std::unique_ptr<CStripPainter> m_pPainter;
    bool m_bPanelKeys = true; // the panel has the keyboard (the strip asks for nothing)
    unsigned m_uStripRevision = 0; // the strip's changes from outside drawn so far
    CLiveHost* m_pHost = nullptr;

    Window m_menu = 0;
    GC m_menuGc = nullptr;
    XFontStruct* m_pMenuFont = nullptr;
    std::vector<MenuEntry> m_aMenuEntries;
    std::function<void(int)> m_menuChosen;
    int m_iMenuWidth = 0;
    int m_iMenuHighlight = -1;
    bool m_bMenuGrabbed = false;
};

CX11EditorWindow::~CX11EditorWindow()
{
    m_pPainter.reset(); // before the display it draws on
    CloseMenu(-1);
    if (m_pHost)
        m_pHost->SetMenuPresenter(nullptr);
    if (m_pMenuFont)
        XFreeFont(m_pDisplay, m_pMenuFont);
    if (m_pView) {
        if (m_bAttached)
            m_pView->removed();
        m_pView->setFrame(nullptr);
        m_pView->release();
    }
    if (m_bHandlerRegistered)
        m_runLoop.unregisterEventHandler(this);
    if (m_pDisplay) {
        if (m_window)
            XDestroyWindow(m_pDisplay, m_window);
        XCloseDisplay(m_pDisplay);
    }
}

bool CX11EditorWindow::Open(CLiveHost& host, std::string& error)
{
    const char* display = std::getenv("DISPLAY");
    m_pDisplay = XOpenDisplay(nullptr);
    if (!m_pDisplay) {
        error = std::string("cannot open the X display \"") + (display ? display : "") +
                "\" for the editor (use --no-gui to play without it)";
        return false;
    }
    m_pHost = &host;
    host.SetMenuPresenter([this](const std::vector<MenuEntry>& entries, int x, int y, std::function<void(int)> chosen) {
        return ShowMenu(entries, x, y, std::move(chosen));
    });
    m_pView = host.CreateEditorView();
    if (!m_pView || m_pView->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
        error = "the plug-in module has no X11 editor";
        return false;
    }
    ViewRect size{0, 0, 1024, 768};
    m_pView->getSize(&size);
    const unsigned width = static_cast<unsigned>(size.getWidth());
    const unsigned height = static_cast<unsigned>(size.getHeight());

    const int screen = DefaultScreen(m_pDisplay);
    m_window = XCreateSimpleWindow(m_pDisplay, RootWindow(m_pDisplay, screen), 0, 0, width,
                                   height + static_cast<unsigned>(StripHeight()), 0,
                                   BlackPixel(m_pDisplay, screen), BlackPixel(m_pDisplay, screen));
    XStoreName(m_pDisplay, m_window, kTitle);
    const Atom utf8 = XInternAtom(m_pDisplay, "UTF8_STRING", False);
    XChangeProperty(m_pDisplay, m_window, XInternAtom(m_pDisplay, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(kTitle), 6);
    XClassHint classHint{const_cast<char*>("corvex"), const_cast<char*>("Corvex")};
    XSetClassHint(m_pDisplay, m_window, &classHint);
    SetSize(width, height);
    m_deleteWindow = XInternAtom(m_pDisplay, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(m_pDisplay, m_window, &m_deleteWindow, 1);
    m_xembed = XInternAtom(m_pDisplay, kXEmbedAtomName, False);
    // SubstructureNotify: the editor's window appearing inside ours. Focus and keys: ours to pass on.
    // Exposure and buttons: the strip's.
    XSelectInput(m_pDisplay, m_window,
                 StructureNotifyMask | SubstructureNotifyMask | FocusChangeMask | KeyPressMask | KeyReleaseMask |
                     (m_pStrip ? ExposureMask | ButtonPressMask : 0));
    if (m_pStrip)
        m_pPainter = std::make_unique<CStripPainter>(m_pDisplay, m_window);
    XMapWindow(m_pDisplay, m_window);
    XFlush(m_pDisplay);

    m_runLoop.registerEventHandler(this, ConnectionNumber(m_pDisplay));
    m_bHandlerRegistered = true;
    m_pView->setFrame(&m_runLoop);
    if (m_pView->attached(reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_window)),
                          kPlatformTypeX11EmbedWindowID) != kResultOk) {
        error = "the editor could not open in its window";
        return false;
    }
    m_bAttached = true;
    FollowViewSize(); // attaching sizes the view for the screen's scale
    // The editor's window may exist already (created in attached) or appear later.
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(m_pDisplay, m_window, &root, &parent, &children, &count) && children) {
        if (count > 0)
            Embed(children[0]);
        XFree(children);
    }
    return true;
}

void CX11EditorWindow::SetSize(unsigned width, unsigned height)
{
    if (m_width != 0)
        XResizeWindow(m_pDisplay, m_window, width, height + static_cast<unsigned>(StripHeight()));
    m_width = width;
    m_height = height;
    height += static_cast<unsigned>(StripHeight());
    // The panel has one size: the window manager offers no resizing.
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = static_cast<int>(width);
    hints->min_height = hints->max_height = static_cast<int>(height);
    XSetWMNormalHints(m_pDisplay, m_window, hints);
    XFree(hints);
    XFlush(m_pDisplay);
}

void CX11EditorWindow::Tick()
{
    FollowViewSize();
    if (m_pStrip && m_pStrip->Revision() != m_uStripRevision)
        StripChanged(); // a Program Change chose a preset
    // The press that opened the menu holds the pointer for the editor's window until let go.
    if (m_menu && !m_bMenuGrabbed)
        m_bMenuGrabbed = XGrabPointer(m_pDisplay, m_menu, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                      GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
}

bool CX11EditorWindow::ShowMenu(const std::vector<MenuEntry>& entries, int x, int y, std::function<void(int)> chosen)
{
    if (entries.empty())
        return false;
    CloseMenu(-1);
    const int screen = DefaultScreen(m_pDisplay);
    if (!m_pMenuFont)
        m_pMenuFont = XLoadQueryFont(m_pDisplay, "fixed");
    int width = 0;
    for (const MenuEntry& entry : entries) {
        const std::string text = "* " + entry.title;
        width = std::max(width, m_pMenuFont ? XTextWidth(m_pMenuFont, text.c_str(), static_cast<int>(text.size()))
                                            : kMenuCharWidth * static_cast<int>(text.size()));
    }
    m_iMenuWidth = width + 2 * kMenuPadding;
    const int height = kMenuRowHeight * static_cast<int>(entries.size());
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(m_pDisplay, m_window, RootWindow(m_pDisplay, screen), x, y, &rootX, &rootY, &child);
    // Kept on the screen.
    rootX = std::clamp(rootX, 0, std::max(0, DisplayWidth(m_pDisplay, screen) - m_iMenuWidth));
    rootY = std::clamp(rootY, 0, std::max(0, DisplayHeight(m_pDisplay, screen) - height));
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = kMenuBackground;
    attributes.border_pixel = BlackPixel(m_pDisplay, screen);
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask;
    m_menu = XCreateWindow(m_pDisplay, RootWindow(m_pDisplay, screen), rootX, rootY, static_cast<unsigned>(m_iMenuWidth),
                           static_cast<unsigned>(height), 1, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
    m_menuGc = XCreateGC(m_pDisplay, m_menu, 0, nullptr);
    if (m_pMenuFont)
        XSetFont(m_pDisplay, m_menuGc, m_pMenuFont->fid);
    m_aMenuEntries = entries;
    m_menuChosen = std::move(chosen);
    m_iMenuHighlight = -1;
    XMapRaised(m_pDisplay, m_menu);
    m_bMenuGrabbed = false;
    Tick();
    XGrabKeyboard(m_pDisplay, m_menu, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    XFlush(m_pDisplay);
    return true;
}

int CX11EditorWindow::MenuRowAt(int x, int y) const
{
    if (x < 0 || x >= m_iMenuWidth || y < 0 || y >= kMenuRowHeight * static_cast<int>(m_aMenuEntries.size()))
        return -1;
    return y / kMenuRowHeight;
}

void CX11EditorWindow::DrawMenu()
{
    const int screen = DefaultScreen(m_pDisplay);
    XClearWindow(m_pDisplay, m_menu);
    const int ascent = m_pMenuFont ? m_pMenuFont->ascent : 10;
    for (std::size_t i = 0; i < m_aMenuEntries.size(); ++i) {
        const MenuEntry& entry = m_aMenuEntries[i];
        const int top = static_cast<int>(i) * kMenuRowHeight;
        const bool lit = static_cast<int>(i) == m_iMenuHighlight && entry.enabled;
        if (lit) {
            XSetForeground(m_pDisplay, m_menuGc, BlackPixel(m_pDisplay, screen));
            XFillRectangle(m_pDisplay, m_menu, m_menuGc, 0, top, static_cast<unsigned>(m_iMenuWidth), kMenuRowHeight);
        }
        if (entry.title.empty()) { // a separator
            XSetForeground(m_pDisplay, m_menuGc, kMenuDisabled);
            XDrawLine(m_pDisplay, m_menu, m_menuGc, 0, top + kMenuRowHeight / 2, m_iMenuWidth, top + kMenuRowHeight / 2);
            continue;
        }
        XSetForeground(m_pDisplay, m_menuGc,
                       lit ? WhitePixel(m_pDisplay, screen) : entry.enabled ? BlackPixel(m_pDisplay, screen) : kMenuDisabled);
        const std::string text = (entry.checked ? "* " : "  ") + entry.title;
        XDrawString(m_pDisplay, m_menu, m_menuGc, kMenuPadding, top + (kMenuRowHeight + ascent) / 2 - 1, text.c_str(),
                    static_cast<int>(text.size()));
    }
    XFlush(m_pDisplay);
}

void CX11EditorWindow::CloseMenu(int chosen)
{
    if (!m_menu)
        return;
    XUngrabPointer(m_pDisplay, CurrentTime);
    XUngrabKeyboard(m_pDisplay, CurrentTime);
    XFreeGC(m_pDisplay, m_menuGc);
    XDestroyWindow(m_pDisplay, m_menu);
    XFlush(m_pDisplay);
    m_menu = 0;
    m_menuGc = nullptr;
    // Called last: what it runs may open another menu.
    std::function<void(int)> done = std::move(m_menuChosen);
    m_menuChosen = nullptr;
    if (done)
        done(chosen);
}

bool CX11EditorWindow::MenuEvent(const XEvent& event)
{
    if (!m_menu || event.xany.window != m_menu)
        return false;
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0)
            DrawMenu();
        break;
    case MotionNotify: {
        const int row = MenuRowAt(event.xmotion.x, event.xmotion.y);
        if (row != m_iMenuHighlight) {
            m_iMenuHighlight = row;
            DrawMenu();
        }
        break;
    }
    case ButtonPress: {
        // A press picks the entry under it (the release of the click that opened the menu picks
        // nothing); a press elsewhere closes the menu.
        const int row = MenuRowAt(event.xbutton.x, event.xbutton.y);
        CloseMenu(row >= 0 && m_aMenuEntries[static_cast<std::size_t>(row)].enabled &&
                          !m_aMenuEntries[static_cast<std::size_t>(row)].title.empty()
                      ? row
                      : -1);
        break;
    }
    case KeyPress: {
        const KeySym key = XLookupKeysym(const_cast<XKeyEvent*>(&event.xkey), 0);
        if (key == XK_Escape)
            CloseMenu(-1);
        else if ((key == XK_Return || key == XK_KP_Enter) && m_iMenuHighlight >= 0 &&
                 m_aMenuEntries[static_cast<std::size_t>(m_iMenuHighlight)].enabled)
            CloseMenu(m_iMenuHighlight);
        else if (key == XK_Down || key == XK_Up) {
            const int count = static_cast<int>(m_aMenuEntries.size());
            m_iMenuHighlight = ((m_iMenuHighlight < 0 ? (key == XK_Down ? -1 : count) : m_iMenuHighlight) +
                                (key == XK_Down ? 1 : count - 1)) % count;
            DrawMenu();
        }
        break;
    }
    default:
        break;
    }
    return true;
}

void CX11EditorWindow::FollowViewSize()
{
    const ViewRect& size = m_runLoop.RequestedSize();
    const auto width = static_cast<unsigned>(size.getWidth());
    const auto height = static_cast<unsigned>(size.getHeight());
    if (width > 0 && height > 0 && (width != m_width || height != m_height))
        SetSize(width, height);
}

void CX11EditorWindow::SendXEmbed(long message, long detail, long data1, long data2)
{
    if (!m_client)
        return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_client;
    event.xclient.message_type = m_xembed;
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = message;
    event.xclient.data.l[2] = detail;
    event.xclient.data.l[3] = data1;
    event.xclient.data.l[4] = data2;
    XSendEvent(m_pDisplay, m_client, False, NoEventMask, &event);
    XFlush(m_pDisplay);
}

void CX11EditorWindow::Embed(Window client)
{
    if (m_client == client)
        return;
    m_client = client;
    SendXEmbed(kXEmbedEmbeddedNotify, 0, static_cast<long>(m_window), kXEmbedVersion);
    // The editor is all there is in this window: it has the focus whenever the window does, and
    // from the start where no window manager hands focus around.
    SendXEmbed(kXEmbedWindowActivate);
    SendXEmbed(kXEmbedFocusIn, kXEmbedFocusCurrent);
}

bool CX11EditorWindow::StripKey(XKeyEvent& key)
{
    if (!m_pStrip)
        return false;
    using Action = CPresetStrip::Action;
    char typed[8] = {};
    KeySym sym = NoSymbol;
    const int length = XLookupString(&key, typed, sizeof typed, &sym, nullptr);
    const bool page = sym == XK_Page_Up || sym == XK_Page_Down || sym == XK_KP_Page_Up || sym == XK_KP_Page_Down;
    const CPresetStrip::Mode mode = m_pStrip->CurrentMode();
    if (mode == CPresetStrip::Mode::Browse && !page)
        return false;
    if (key.type != KeyPress)
        return true; // the release of a key the strip took
    if (mode == CPresetStrip::Mode::Browse)
        m_pStrip->Step(sym == XK_Page_Up || sym == XK_KP_Page_Up ? -1 : 1);
    else if (sym == XK_Return || sym == XK_KP_Enter)
        m_pStrip->Press(Action::Yes);
    else if (sym == XK_Escape)
        m_pStrip->Press(Action::No);
    else if (mode == CPresetStrip::Mode::Confirm && (sym == XK_y || sym == XK_Y || sym == XK_n || sym == XK_N))
        m_pStrip->Press(sym == XK_y || sym == XK_Y ? Action::Yes : Action::No);
    else if (mode == CPresetStrip::Mode::Entry && sym == XK_BackSpace)
        m_pStrip->Erase();
    else if (mode == CPresetStrip::Mode::Entry && length == 1 && typed[0] >= ' ' && typed[0] <= '~')
        m_pStrip->Type(std::string(1, typed[0]));
    StripChanged();
    return true;
}

void CX11EditorWindow::StripChanged()
{
    m_uStripRevision = m_pStrip->Revision();
    m_pPainter->Draw(*m_pStrip, static_cast<int>(m_height), static_cast<int>(m_width));
    const bool panelKeys = m_pStrip->CurrentMode() == CPresetStrip::Mode::Browse;
    if (panelKeys != m_bPanelKeys) {
        m_bPanelKeys = panelKeys;
        SendXEmbed(panelKeys ? kXEmbedFocusIn : kXEmbedFocusOut, panelKeys ? kXEmbedFocusCurrent : 0);
    }
}

void CX11EditorWindow::ReadEvents()
{
    while (XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        if (MenuEvent(event))
            continue;
        switch (event.type) {
        case ClientMessage:
            if (event.xclient.window == m_window && static_cast<Atom>(event.xclient.data.l[0]) == m_deleteWindow)
                m_bCloseRequested = true;
            else if (event.xclient.message_type == m_xembed && event.xclient.data.l[1] == kXEmbedRequestFocus) {
                // A click on the panel ends a question or name the strip was asking for.
                if (!m_bPanelKeys) {
                    m_pStrip->Press(CPresetStrip::Action::No);
                    StripChanged();
                }
                SendXEmbed(kXEmbedFocusIn, kXEmbedFocusCurrent);
            }
            break;
        case Expose:
            if (m_pPainter && event.xexpose.window == m_window && event.xexpose.count == 0)
                m_pPainter->Draw(*m_pStrip, static_cast<int>(m_height), static_cast<int>(m_width));
            break;
        case ButtonPress:
            if (m_pStrip && event.xbutton.window == m_window && event.xbutton.button == Button1 &&
                event.xbutton.y >= static_cast<int>(m_height)) {
                for (const StripButton& button : StripLayout(*m_pStrip, static_cast<int>(m_width)))
                    if (event.xbutton.x >= button.x && event.xbutton.x < button.x + button.width)
                        m_pStrip->Press(button.action);
                StripChanged();
            }
            break;
        case CreateNotify:
            if (event.xcreatewindow.parent == m_window)
                Embed(event.xcreatewindow.window);
            break;
        case ReparentNotify:
            if (event.xreparent.parent == m_window)
                Embed(event.xreparent.window);
            break;
        case FocusIn:
        case FocusOut:
            // Only the window's own gains and losses, not focus moving within it or with the pointer.
            if (event.xfocus.detail == NotifyInferior || event.xfocus.detail == NotifyPointer)
                break;
            if (event.type == FocusIn && m_bPanelKeys) {
                SendXEmbed(kXEmbedWindowActivate);
                SendXEmbed(kXEmbedFocusIn, kXEmbedFocusCurrent);
            } else if (event.type == FocusOut) {
                SendXEmbed(kXEmbedFocusOut);
                SendXEmbed(kXEmbedWindowDeactivate);
            }
            break;
        case KeyPress:
        case KeyRelease:
            // Keys typed with the pointer outside the panel reach our window: pass them on, but for
            // the strip's. Keys the panel did not take come back here (send_event) for the strip.
            if (event.xkey.window == m_window && StripKey(event.xkey))
                break;
            if (m_client && event.xkey.window == m_window && !event.xkey.send_event) {
                event.xkey.window = m_client;
                XSendEvent(m_pDisplay, m_client, False, event.type == KeyPress ? KeyPressMask : KeyReleaseMask, &event);
                XFlush(m_pDisplay);
            }
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == m_window)
                m_bCloseRequested = true;
            else if (event.xdestroywindow.window == m_client)
                m_client = 0;
            break;
        default:
            break;
        }
    }
}

} // namespace

std::unique_ptr<CEditorWindow> CEditorWindow::Open(CLiveHost& host, hosting::EditorHost& runLoop, std::string& error,
                                                   CPresetStrip* presets)
{
    auto window = std::make_unique<CX11EditorWindow>(runLoop, presets);
    if (!window->Open(host, error))
        return nullptr;
    return window;
}

} // namespace corvex::live
