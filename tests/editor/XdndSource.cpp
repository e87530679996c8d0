// Drags files onto a window the way a file manager does, through XDND on its own X connection:
//
//   corvex-xdnd-source WINDOW X Y TYPE DATA [--hover]
//
// finds the top-level window under (X, Y) of WINDOW as GTK's and Qt's sources do (the client
// window, through its XdndProxy if it has one), enters it offering TYPE (e.g. text/uri-list), moves to the point and drops if the target
// accepts, serving DATA as the selection. Prints the outcome; exit status 0 when the target
// took the drop (XdndFinished accepted), 1 when it refused, 2 on a protocol fault or time-out.
// With --hover it does not drop: it prints "accepted SOURCE" or "refused SOURCE" (its own
// window's id) once the target answered, waits until a property of that window changes (the
// caller's go-ahead), then leaves; exit status 0 when the target accepted.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr long kVersion = 5;
constexpr int kTimeoutMs = 5000;

struct Atoms {
    Atom aware, enter, position, status, leave, drop, finished, selection, actionCopy, proxy, type;
};

Display* g_display = nullptr;
Window g_source = 0;
Window g_proxy = 0; // where messages for the target go, when it names a proxy
Atoms g_atoms{};

void Send(Window target, Atom type, long l1, long l2, long l3, long l4)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(g_source);
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(g_display, g_proxy != 0 ? g_proxy : target, False, NoEventMask, &event);
    XFlush(g_display);
}

// The one 32-bit value of `w`'s property, 0 if none.
unsigned long Property(Window w, Atom property, Atom type)
{
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    if (XGetWindowProperty(g_display, w, property, 0, 1, False, type, &actual, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && count == 1)
        value = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr)
        XFree(data);
    return value;
}

// Waits for the next event `accept` takes, answering selection requests meanwhile.
template <typename Accept>
bool WaitFor(const std::string& data, Accept accept)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
        while (XPending(g_display) > 0) {
            XEvent event;
            XNextEvent(g_display, &event);
            if (event.type == SelectionRequest) {
                const XSelectionRequestEvent& request = event.xselectionrequest;
                XEvent reply{};
                reply.xselection.type = SelectionNotify;
                reply.xselection.requestor = request.requestor;
                reply.xselection.selection = request.selection;
                reply.xselection.target = request.target;
                reply.xselection.time = request.time;
                reply.xselection.property = 0;
                if (request.target == g_atoms.type && request.property != 0) {
                    XChangeProperty(g_display, request.requestor, request.property, g_atoms.type, 8, PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
                    reply.xselection.property = request.property;
                }
                XSendEvent(g_display, request.requestor, False, NoEventMask, &reply);
                XFlush(g_display);
            } else if (accept(event)) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{ConnectionNumber(g_display), POLLIN, 0};
        poll(&fd, 1, int(left.count()));
    }
}

} // namespace

namespace {

int Drag(char** argv, bool hover)
{
    const auto window = Window(std::strtoul(argv[1], nullptr, 0));
    const int x = std::atoi(argv[2]), y = std::atoi(argv[3]);
    const std::string data = argv[5];
    const char* names[] = {"XdndAware",     "XdndEnter",      "XdndPosition", "XdndStatus", "XdndLeave", "XdndDrop",
                           "XdndFinished",  "XdndSelection", "XdndActionCopy", "XdndProxy",  argv[4]};
    XInternAtoms(g_display, const_cast<char**>(names), int(sizeof names / sizeof names[0]), False, &g_atoms.aware);
    const Window root = DefaultRootWindow(g_display);
    g_source = XCreateSimpleWindow(g_display, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(g_display, g_source, PropertyChangeMask);
    XSetSelectionOwner(g_display, g_atoms.selection, g_source, CurrentTime);

    // The point on the screen and the top level there (no window manager here: the root's child).
    int rootX = 0, rootY = 0;
    Window target = 0;
    XTranslateCoordinates(g_display, window, root, x, y, &rootX, &rootY, &target);
    // Its proxy, if it names one that names itself.
    const auto proxy = Window(Property(target, g_atoms.proxy, XA_WINDOW));
    if (proxy != 0 && Window(Property(proxy, g_atoms.proxy, XA_WINDOW)) == proxy)
        g_proxy = proxy;
    const long aware = long(Property(g_proxy != 0 ? g_proxy : target, g_atoms.aware, XA_ATOM));
    if (target == 0 || aware == 0) {
        std::printf("no XdndAware top level at %d, %d\n", x, y);
        return 1;
    }
    const long version = std::min(kVersion, aware);
    Send(target, g_atoms.enter, version << 24, long(g_atoms.type), 0, 0);
    Send(target, g_atoms.position, 0, (long(rootX) << 16) | rootY, CurrentTime, long(g_atoms.actionCopy));
    bool accepted = false;
    if (!WaitFor(data, [&](const XEvent& e) {
            // A status for another window is not the target's answer.
            if (e.type != ClientMessage || e.xclient.message_type != g_atoms.status ||
                Window(e.xclient.data.l[0]) != target)
                return false;
            accepted = (e.xclient.data.l[1] & 1) != 0;
            return true;
        })) {
        std::printf("no XdndStatus\n");
        return 2;
    }
    if (hover) {
        std::printf("%s %lu\n", accepted ? "accepted" : "refused", g_source);
        std::fflush(stdout);
        if (!WaitFor(data, [](const XEvent& e) { return e.type == PropertyNotify; })) {
            std::printf("no go-ahead\n");
            return 2;
        }
        Send(target, g_atoms.leave, 0, 0, 0, 0);
        return accepted ? 0 : 1;
    }
    if (!accepted) {
        Send(target, g_atoms.leave, 0, 0, 0, 0);
        std::printf("refused at %d, %d\n", x, y);
        return 1;
    }
    Send(target, g_atoms.drop, 0, CurrentTime, 0, 0);
    bool finished = false;
    if (!WaitFor(data, [&](const XEvent& e) {
            if (e.type != ClientMessage || e.xclient.message_type != g_atoms.finished ||
                Window(e.xclient.data.l[0]) != target)
                return false;
            finished = (e.xclient.data.l[1] & 1) != 0;
            return true;
        })) {
        std::printf("no XdndFinished\n");
        return 2;
    }
    std::printf(finished ? "dropped\n" : "drop refused\n");
    return finished ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const bool hover = argc == 7 && std::strcmp(argv[6], "--hover") == 0;
    if (argc != 6 && !hover) {
        std::fprintf(stderr, "usage: %s WINDOW X Y TYPE DATA [--hover]\n", argv[0]);
        return 2;
    }
    g_display = XOpenDisplay(nullptr);
    if (g_display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const int status = Drag(argv, hover);
    std::fflush(stdout);
    XCloseDisplay(g_display);
    return status;
}
