// The built bundle's editor inside a real X11 window, driven the way a Linux host drives it:
// IPlugView::attached with an X11 window id, an IPlugFrame offering the host's run loop, and
// synthetic mouse input through XTest. Runs under a virtual X server (see CMakeLists.txt).

#include <gtest/gtest.h>

#include "BundleModule.h"
#include "CorvexEditorView.h"
#include "EditRecorder.h"
#include "EditorHost.h"
#include "EditorLayout.h"
#include "OffscreenEditor.h"
#include "PluginInstance.h"
#include "PluginModule.h"
#include "corvexcontroller.h"

#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include "X11TestSupport.h"
// Xlib's macros collide with ordinary names.
#undef Bool
#undef None
#undef Status

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace corvex {
namespace {

using namespace Steinberg;
using namespace std::chrono_literals;
using hosting::EditorHost;
using hosting::PluginInstance;
using hosting::PluginModule;
using test::ControlRect;
using test::Grab;
using test::Module;
using test::Rgb;
using test::Shows;

constexpr int kWidth = editor::kEditorWidth;
constexpr int kHeight = editor::kEditorHeight;

class X11EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
        ASSERT_TRUE(test::HasXTest(display));
        top = OpenTopLevel(0);

        std::string error;
        plugin = PluginInstance::Create(Module().Factory(), &hostApplication, error);
        ASSERT_TRUE(plugin) << error;
        controller = plugin->Controller();
        handler.controller = controller;
        controller->setComponentHandler(&handler);
    }

    void TearDown() override
    {
        for (IPlugView* view : views) {
            view->removed();
            view->setFrame(nullptr);
            view->release();
        }
        views.clear();
        if (controller != nullptr)
            controller->setComponentHandler(nullptr);
        plugin.reset();
        if (display != nullptr) {
            for (Window w : tops)
                XDestroyWindow(display, w);
            XCloseDisplay(display);
        }
    }

    Window OpenTopLevel(int x)
    {
        const Window w = test::OpenMappedWindow(display, x, kWidth, kHeight);
        tops.push_back(w);
        return w;
    }

    IPlugView* NewView()
    {
        IPlugView* view = controller->createView("editor");
        EXPECT_NE(view, nullptr);
        if (view != nullptr)
            views.push_back(view);
        return view;
    }

    // Attaches `view` to `parent` with `frame` as its IPlugFrame.
    tresult Attach(IPlugView* view, Window parent, IPlugFrame* frame)
    {
        view->setFrame(frame);
        return view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID);
    }

    void Detach(IPlugView* view)
    {
        EXPECT_EQ(view->removed(), kResultOk);
        view->setFrame(nullptr);
    }

    std::vector<Window> Children(Window parent)
    {
        Window root = 0, parentOut = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        XSync(display, False);
        if (XQueryTree(display, parent, &root, &parentOut, &children, &count) != 0 && children != nullptr) {
            result.assign(children, children + count);
            XFree(children);
        }
        return result;
    }

    int MapState(Window w)
    {
        XWindowAttributes attributes{};
        XSync(display, False);
        return XGetWindowAttributes(display, w, &attributes) != 0 ? attributes.map_state : -1;
    }

    Atom XEmbedAtom() { return XInternAtom(display, "_XEMBED", False); }
    Atom XEmbedInfoAtom() { return XInternAtom(display, "_XEMBED_INFO", False); }

    // The window's _XEMBED_INFO (version, flags); false when it has none.
    bool XEmbedInfo(Window w, long& version, long& flags)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom info = XEmbedInfoAtom();
        const bool found = XGetWindowProperty(display, w, info, 0, 2, False, info, &type, &format, &count, &after,
                                              &data) == Success &&
                           type == info && format == 32 && count == 2;
        if (found) {
            version = reinterpret_cast<long*>(data)[0];
            flags = reinterpret_cast<long*>(data)[1];
        }
        if (data != nullptr)
            XFree(data);
        return found;
    }

    // Runs the host's loop until the editor's window `w` selects keys (it has taken an XEmbed
    // focus message) or no longer does: a key sent to it before then would reach no one.
    bool RunUntilKeysSelected(Window w, bool selected)
    {
        return host.RunUntil(
            [&] {
                XWindowAttributes attributes{};
                XSync(display, False);
                return XGetWindowAttributes(display, w, &attributes) != 0 &&
                       ((attributes.all_event_masks & KeyPressMask) != 0) == selected;
            },
            std::chrono::seconds(3));
    }

    // An embedder's XEmbed message to `w`.
    void SendXEmbed(Window w, long message, long detail = 0, long data1 = 0, long data2 = 0)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XEmbedAtom();
        event.xclient.format = 32;
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = message;
        event.xclient.data.l[2] = detail;
        event.xclient.data.l[3] = data1;
        event.xclient.data.l[4] = data2;
        XSendEvent(display, w, False, NoEventMask, &event);
        XFlush(display);
    }

    // A key as an embedder forwards it to its client (GtkSocket does this).
    void ForwardKey(Window w, KeySym sym, unsigned state = 0)
    {
        XEvent event{};
        event.xkey.type = KeyPress;
        event.xkey.display = display;
        event.xkey.window = w;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.time = CurrentTime;
        event.xkey.state = state;
        event.xkey.keycode = XKeysymToKeycode(display, sym);
        event.xkey.same_screen = True;
        XSendEvent(display, w, False, KeyPressMask, &event);
        event.xkey.type = KeyRelease;
        XSendEvent(display, w, False, KeyReleaseMask, &event);
        XFlush(display);
    }

    void PressKey(KeySym sym) { test::PressKey(display, sym); }
    Grab GrabWindow(Window w) { return test::GrabWindow(display, w, kWidth, kHeight); }
    void MoveTo(Window w, int x, int y) { test::MoveTo(display, w, x, y); }
    void Button(unsigned button, bool down) { test::Button(display, button, down); }
    void Click(Window w, int x, int y) { test::Click(display, w, x, y); }

    Display* display = nullptr;
    Window top = 0;
    std::vector<Window> tops;
    EditorHost host;
    Vst::HostApplication hostApplication;
    std::unique_ptr<PluginInstance> plugin;
    Vst::IEditController* controller = nullptr;
    test::EditRecorder handler;
    std::vector<IPlugView*> views;
};

TEST_F(X11EditorTest, AttachesAChildWindowOnTheHostsRunLoopAndLeavesNothingBehind)
{
    IPlugView* view = NewView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(CEditorBase::kPlatformTypeOffscreen), kResultFalse);

    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    EXPECT_EQ(host.EventHandlerCount(), 1u);
    EXPECT_EQ(host.TimerCount(), 1u);
    EXPECT_EQ(host.RequestedSize().getWidth(), kWidth);
    EXPECT_EQ(host.RequestedSize().getHeight(), kHeight);
    const std::vector<Window> children = Children(top);
    ASSERT_EQ(children.size(), 1u);
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(display, children[0], &attributes), 0);
    EXPECT_EQ(attributes.width, kWidth);
    EXPECT_EQ(attributes.height, kHeight);
    // A parent that never speaks XEmbed: the window shows itself once the host's loop runs.
    EXPECT_TRUE(host.RunUntil([&] { return MapState(children[0]) == IsViewable; }, 3s));

    // The 50 ms timer runs on the host's loop: at most 10 ticks in half a second (fewer on a
    // loaded machine).
    const int ticksBefore = host.TimerCalls();
    host.RunFor(500ms);
    EXPECT_GE(host.TimerCalls() - ticksBefore, 3);
    EXPECT_LE(host.TimerCalls() - ticksBefore, 10);
    // The window shows the panel.
    const Grab grab = GrabWindow(children[0]);
    ASSERT_EQ(grab.width, kWidth);
    EXPECT_TRUE(Shows(grab, {20, 20, 60, 60}, gui::CBitmap(editor::kBackgroundBitmap), 20, 20));

    Detach(view);
    EXPECT_EQ(host.EventHandlerCount(), 0u);
    EXPECT_EQ(host.TimerCount(), 0u);
    EXPECT_TRUE(Children(top).empty());
    EXPECT_EQ(host.References(), 0u);
    const int ticks = host.TimerCalls();
    host.RunFor(120ms);
    EXPECT_EQ(host.TimerCalls(), ticks);
}

// XEmbed message numbers.
constexpr long kEmbeddedNotify = 0, kWindowActivate = 1, kRequestFocus = 3, kFocusIn = 4, kFocusOut = 5;
constexpr long kXEmbedMapped = 1;

// An embedder as strict as the VST 3 SDK's editor host: it reads _XEMBED_INFO the moment it
// sees the child appear, gives up without it, then embeds it and maps it itself.
TEST_F(X11EditorTest, AStrictXEmbedEmbedderFindsTheInfoAtCreationAndShowsThePanel)
{
    XSelectInput(display, top, StructureNotifyMask | SubstructureNotifyMask);
    XSync(display, False);
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    // Nothing of the host's loop has run: what the embedder sees is what attached() left.
    XEvent event;
    bool created = false;
    for (int tries = 0; tries < 100 && !created; ++tries) {
        XSync(display, False);
        while (!created && XCheckTypedWindowEvent(display, top, CreateNotify, &event))
            created = event.xcreatewindow.parent == top;
    }
    ASSERT_TRUE(created);
    const Window child = event.xcreatewindow.window;
    long version = -1, flags = -1;
    ASSERT_TRUE(XEmbedInfo(child, version, flags)) << "no _XEMBED_INFO on the new window";
    EXPECT_EQ(version, 0);
    EXPECT_EQ(flags & kXEmbedMapped, 0) << "mapping is the embedder's call";
    EXPECT_EQ(MapState(child), IsUnmapped);

    SendXEmbed(child, kEmbeddedNotify, 0, long(top), 0);
    XMapWindow(display, child);
    ASSERT_TRUE(host.RunUntil([&] { return XEmbedInfo(child, version, flags) && (flags & kXEmbedMapped) != 0; }, 3s));
    EXPECT_EQ(MapState(child), IsViewable);
    host.RunFor(120ms);
    EXPECT_TRUE(Shows(GrabWindow(child), {20, 20, 60, 60}, gui::CBitmap(editor::kBackgroundBitmap), 20, 20));
    Detach(view);
}

TEST_F(X11EditorTest, EmbeddedItMapsItselfOnNotifyAsksForFocusOnAClickAndTakesItsKeys)
{
    XSelectInput(display, top, StructureNotifyMask | SubstructureNotifyMask | KeyPressMask);
    XSync(display, False);
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    const Window child = Children(top).at(0);
    // An embedder that leaves mapping to its client.
    SendXEmbed(child, kEmbeddedNotify, 0, long(top), 0);
    ASSERT_TRUE(host.RunUntil([&] { return MapState(child) == IsViewable; }, 3s));

    // Until the embedder gives it the focus the editor takes no key, not even one it uses: a key
    // typed with the pointer over it is the host's (its shortcuts keep working).
    const gui::CRect knob = ControlRect(kDistortionLevel);
    const int x = knob.left + knob.width() / 2, y = knob.top + knob.height() / 2;
    XSetInputFocus(display, top, RevertToParent, CurrentTime);
    MoveTo(top, x, y);
    PressKey(XK_Up);
    KeySym hostGot = 0;
    ASSERT_TRUE(host.RunUntil(
        [&] {
            XEvent e;
            while (XCheckTypedWindowEvent(display, top, KeyPress, &e))
                hostGot = XLookupKeysym(&e.xkey, 0);
            return hostGot != 0;
        },
        3s));
    EXPECT_EQ(hostGot, XK_Up);
    EXPECT_TRUE(handler.edits.empty());

    // A click asks the embedder for the focus.
    Click(top, x, y);
    bool asked = false;
    ASSERT_TRUE(host.RunUntil(
        [&] {
            XEvent e;
            while (XCheckTypedWindowEvent(display, top, ClientMessage, &e))
                asked = asked || (e.xclient.message_type == XEmbedAtom() && e.xclient.data.l[1] == kRequestFocus);
            return asked;
        },
        3s));
    EXPECT_TRUE(handler.edits.empty()) << "a click without a drag changes nothing";

    // Focused, the keys the embedder forwards turn the knob under the pointer, one whole edit
    // per key, and Shift makes the step fine.
    SendXEmbed(child, kWindowActivate);
    SendXEmbed(child, kFocusIn, 1);
    ASSERT_TRUE(RunUntilKeysSelected(child, true));
    const double start = controller->getParamNormalized(kDistortionLevel);
    ForwardKey(child, XK_Up);
    ASSERT_TRUE(host.RunUntil([&] { return handler.editsOf(kDistortionLevel).size() == 1; }, 3s));
    EXPECT_NEAR(handler.editsOf(kDistortionLevel)[0].value, start + 0.05, 1e-6);
    EXPECT_EQ(handler.beginOrEnd, 2);
    ForwardKey(child, XK_Page_Down, ShiftMask);
    ASSERT_TRUE(host.RunUntil([&] { return handler.editsOf(kDistortionLevel).size() == 2; }, 3s));
    EXPECT_NEAR(handler.editsOf(kDistortionLevel)[1].value, start + 0.05 - 0.025, 1e-6);

    // A key typed with the pointer over the editor that it does not use goes back to the
    // embedder; one it uses does not.
    XSetInputFocus(display, top, RevertToParent, CurrentTime);
    MoveTo(top, x, y);
    host.RunFor(60ms);
    for (XEvent stale; XCheckTypedWindowEvent(display, top, KeyPress, &stale);)
        ;
    PressKey(XK_space);
    PressKey(XK_Down);
    std::vector<KeySym> returned;
    host.RunUntil(
        [&] {
            XEvent e;
            while (XCheckTypedWindowEvent(display, top, KeyPress, &e))
                returned.push_back(XLookupKeysym(&e.xkey, 0));
            return handler.editsOf(kDistortionLevel).size() == 3 && !returned.empty();
        },
        3s);
    EXPECT_EQ(returned, std::vector<KeySym>{XK_space});
    ASSERT_EQ(handler.editsOf(kDistortionLevel).size(), 3u);

    // Without the focus it takes no keys at all.
    SendXEmbed(child, kFocusOut);
    ASSERT_TRUE(RunUntilKeysSelected(child, false));
    ForwardKey(child, XK_Up);
    host.RunFor(120ms);
    EXPECT_EQ(handler.editsOf(kDistortionLevel).size(), 3u);

    // Once the pointer has left the editor, the keys turn the knob last touched, not the one the
    // pointer passed over on its way out.
    SendXEmbed(child, kFocusIn, 1);
    ASSERT_TRUE(RunUntilKeysSelected(child, true));
    const gui::CRect passed = ControlRect(kReverbLevel);
    MoveTo(top, passed.left + passed.width() / 2, passed.top + passed.height() / 2);
    MoveTo(top, kWidth + 100, 100);
    ForwardKey(child, XK_Up);
    ASSERT_TRUE(host.RunUntil([&] { return handler.edits.size() == 4; }, 3s));
    EXPECT_EQ(handler.edits.back().id, kDistortionLevel);
    Detach(view);
}

TEST_F(X11EditorTest, InAPlainParentAClickMakesItTakeTheKeysTypedOverItAndHandBackTheRest)
{
    XSelectInput(display, top, StructureNotifyMask | SubstructureNotifyMask | KeyPressMask);
    XSync(display, False);
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    const Window child = Children(top).at(0);
    // No XEmbed message ever comes: the window shows itself.
    ASSERT_TRUE(host.RunUntil([&] { return MapState(child) == IsViewable; }, 3s));
    const gui::CRect knob = ControlRect(kDistortionLevel);
    const int x = knob.left + knob.width() / 2, y = knob.top + knob.height() / 2;
    XSetInputFocus(display, top, RevertToParent, CurrentTime);
    const auto keysTheHostGot = [&] {
        std::vector<KeySym> got;
        XEvent e;
        while (XCheckTypedWindowEvent(display, top, KeyPress, &e))
            got.push_back(XLookupKeysym(&e.xkey, 0));
        return got;
    };

    // Before any click, a key typed over the editor is the host's.
    MoveTo(top, x, y);
    PressKey(XK_Up);
    std::vector<KeySym> got;
    ASSERT_TRUE(host.RunUntil(
        [&] {
            for (KeySym k : keysTheHostGot())
                got.push_back(k);
            return !got.empty();
        },
        3s));
    EXPECT_EQ(got, std::vector<KeySym>{XK_Up});
    EXPECT_TRUE(handler.edits.empty());

    // A click: from now on the keys it uses turn the knob under the pointer, one whole edit each,
    // and the others go back to the host's window.
    Click(top, x, y);
    ASSERT_TRUE(RunUntilKeysSelected(child, true));
    EXPECT_TRUE(handler.edits.empty()) << "a click without a drag changes nothing";
    const double start = controller->getParamNormalized(kDistortionLevel);
    PressKey(XK_Up);
    PressKey(XK_space);
    got.clear();
    ASSERT_TRUE(host.RunUntil(
        [&] {
            for (KeySym k : keysTheHostGot())
                got.push_back(k);
            return handler.editsOf(kDistortionLevel).size() == 1 && !got.empty();
        },
        3s));
    EXPECT_EQ(got, std::vector<KeySym>{XK_space});
    EXPECT_NEAR(handler.editsOf(kDistortionLevel)[0].value, start + 0.05, 1e-6);
    EXPECT_EQ(handler.beginOrEnd, 2);

    // With the pointer away from the editor the host has every key.
    MoveTo(top, kWidth + 100, 100);
    PressKey(XK_Down);
    got.clear();
    ASSERT_TRUE(host.RunUntil(
        [&] {
            for (KeySym k : keysTheHostGot())
                got.push_back(k);
            return !got.empty();
        },
        3s));
    EXPECT_EQ(got, std::vector<KeySym>{XK_Down});
    EXPECT_EQ(handler.editsOf(kDistortionLevel).size(), 1u);
    Detach(view);
}

TEST_F(X11EditorTest, AHostsScaleFactorSizesTheWindowAndClicksLandOnTheSameControls)
{
    IPlugView* view = NewView();
    IPlugViewContentScaleSupport* scaling = nullptr;
    ASSERT_EQ(view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scaling)), kResultOk);
    scaling->release(); // the view outlives this test's use of it
    ASSERT_EQ(scaling->setContentScaleFactor(1.5f), kResultTrue);
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    EXPECT_EQ(host.RequestedSize().getWidth(), 1536);
    EXPECT_EQ(host.RequestedSize().getHeight(), 1152);
    const Window child = Children(top).at(0);
    ASSERT_TRUE(host.RunUntil([&] { return MapState(child) == IsViewable; }, 3s));
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display, child, &attributes), 0);
    EXPECT_EQ(attributes.width, 1536);
    EXPECT_EQ(attributes.height, 1152);

    // The footswitch's last device pixel at 1.5 is still the footswitch.
    const gui::CRect onOff = ControlRect(kDistortionOnOff);
    Click(top, int(std::floor(onOff.right * 1.5 + 0.5)) - 1, int(std::floor(onOff.bottom * 1.5 + 0.5)) - 1);
    ASSERT_TRUE(host.RunUntil([&] { return !handler.editsOf(kDistortionOnOff).empty(); }, 3s));

    // A new factor while open: the host is asked for the new size and the window follows.
    ASSERT_EQ(scaling->setContentScaleFactor(2.0f), kResultTrue);
    EXPECT_EQ(host.RequestedSize().getWidth(), 2048);
    EXPECT_EQ(host.RequestedSize().getHeight(), 1536);
    host.RunFor(150ms);
    ASSERT_NE(XGetWindowAttributes(display, child, &attributes), 0);
    EXPECT_EQ(attributes.width, 2048);
    EXPECT_EQ(attributes.height, 1536);
    const Grab grab = GrabWindow(child);
    const gui::CBitmap sharp(editor::kBackgroundBitmap, 2);
    EXPECT_TRUE(Shows(grab, {40, 40, 200, 120}, sharp, 40, 40));
    EXPECT_EQ(controller->getParamNormalized(kDistortionOnOff), 0.0) << "the rebuilt panel keeps the values";
    Detach(view);
}

TEST_F(X11EditorTest, WithoutAHostFactorTheVariableOrXftDpiChooseTheScale)
{
    IPlugView* view = NewView();
    setenv(CEditorBase::kScaleVariable, "1.25", 1);
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    unsetenv(CEditorBase::kScaleVariable);
    EXPECT_EQ(host.RequestedSize().getWidth(), 1280);
    EXPECT_EQ(host.RequestedSize().getHeight(), 960);
    Detach(view);

    // The desktop's resource database, as xrdb leaves it on the root window.
    const char resources[] = "Xft.antialias:\t1\nXft.dpi:\t144\n";
    XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), int(sizeof resources - 1));
    XSync(display, False);
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    XDeleteProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER);
    XSync(display, False);
    EXPECT_EQ(host.RequestedSize().getWidth(), 1536);
    EXPECT_EQ(host.RequestedSize().getHeight(), 1152);
    Detach(view);
}

TEST_F(X11EditorTest, AttachFailsCleanlyWithoutARunLoop)
{
    IPlugView* view = NewView();
    ASSERT_NE(view, nullptr);
    EditorHost withoutLoop(false);
    EXPECT_EQ(Attach(view, top, &withoutLoop), kResultFalse);
    EXPECT_EQ(view->attached(reinterpret_cast<void*>(top), kPlatformTypeX11EmbedWindowID), kResultFalse);
    EXPECT_TRUE(Children(top).empty());
    EXPECT_EQ(withoutLoop.References(), 0u);
    view->setFrame(nullptr);
    EXPECT_EQ(Attach(view, top, nullptr), kResultFalse);
    EXPECT_TRUE(Children(top).empty());
    EXPECT_EQ(view->removed(), kResultFalse);

    // Nothing of the failed attempts is in the way of a host that has a loop.
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    EXPECT_EQ(Children(top).size(), 1u);
    Detach(view);
}

TEST_F(X11EditorTest, ClicksDragsAndTheWheelBecomeEditsAfterTheControllerHasTheValue)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    host.RunFor(150ms);
    ASSERT_EQ(controller->getParamNormalized(kDistortionOnOff), 1.0);

    const gui::CRect onOff = ControlRect(kDistortionOnOff);
    Click(top, onOff.left + onOff.width() / 2, onOff.top + onOff.height() / 2);
    ASSERT_TRUE(host.RunUntil([&] { return !handler.editsOf(kDistortionOnOff).empty(); }, 3s));
    auto edits = handler.editsOf(kDistortionOnOff);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].value, 0.0);
    EXPECT_EQ(edits[0].controllerValue, 0.0);

    // Dragging up by 40 pixels turns the knob by 40 / 200 of its range.
    const gui::CRect knob = ControlRect(kDistortionLevel);
    const double start = controller->getParamNormalized(kDistortionLevel);
    const int x = knob.left + knob.width() / 2, y = knob.top + knob.height() / 2;
    MoveTo(top, x, y);
    Button(1, true);
    host.RunFor(60ms);
    MoveTo(top, x, y - 20);
    host.RunFor(60ms);
    MoveTo(top, x, y - 40);
    host.RunFor(60ms);
    Button(1, false);
    const double expected = start + 40.0 / 200.0;
    ASSERT_TRUE(host.RunUntil(
        [&] {
            auto e = handler.editsOf(kDistortionLevel);
            return !e.empty() && std::abs(e.back().value - expected) < 1e-5;
        },
        3s));
    for (const auto& e : handler.editsOf(kDistortionLevel))
        EXPECT_EQ(e.controllerValue, e.value) << "performEdit before setParamNormalized";
    EXPECT_EQ(handler.beginOrEnd, 0);

    // A wheel notch moves the knob by a step, with Shift by a tenth of one.
    MoveTo(top, x, y);
    Button(4, true);
    Button(4, false);
    ASSERT_TRUE(host.RunUntil([&] { return std::abs(handler.edits.back().value - (expected + 0.05)) < 1e-5; }, 3s));
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    XTestFakeKeyEvent(display, shift, True, CurrentTime);
    Button(5, true);
    Button(5, false);
    XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XFlush(display);
    ASSERT_TRUE(host.RunUntil([&] { return std::abs(handler.edits.back().value - (expected + 0.045)) < 1e-5; }, 3s));

    // The window shows the switch's new state.
    host.RunFor(120ms);
    const Grab grab = GrabWindow(Children(top).at(0));
    EXPECT_TRUE(Shows(grab, onOff, gui::CBitmap(108), 0, 0));
    Detach(view);
}

// Run on its own server with a 30-bit screen (see CMakeLists.txt); skipped elsewhere.
TEST_F(X11EditorTest, DeepColourScreensShowThePanelAtFullBrightness)
{
    if (DefaultDepth(display, DefaultScreen(display)) != 30)
        GTEST_SKIP() << "needs a 30-bit screen";
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    host.RunFor(150ms);
    const Window window = Children(top).at(0);
    XSync(display, False);
    XImage* image = XGetImage(display, window, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    // Each 10-bit channel holds the 8-bit value scaled up: its top 8 bits are the value.
    const gui::CBitmap background(editor::kBackgroundBitmap);
    const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
    int wrong = 0;
    for (int y = 20; y < 60; ++y)
        for (int x = 20; x < 60; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            for (int c = 0; c < 3; ++c) {
                unsigned long mask = masks[c], value = pixel & mask;
                while ((mask & 1u) == 0) {
                    mask >>= 1;
                    value >>= 1;
                }
                wrong += (value >> 2) == background.pixel(x, y)[c] ? 0 : 1;
            }
        }
    XDestroyImage(image);
    EXPECT_EQ(wrong, 0);
    Detach(view);
}

TEST_F(X11EditorTest, RepeatedAttachOrRemoveAndAReleaseWhileAttachedLeaveNothingBehind)
{
    IPlugView* view = controller->createView("editor");
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    EXPECT_EQ(view->attached(reinterpret_cast<void*>(top), kPlatformTypeX11EmbedWindowID), kResultFalse);
    EXPECT_EQ(Children(top).size(), 1u);
    EXPECT_EQ(host.EventHandlerCount(), 1u);
    EXPECT_EQ(host.TimerCount(), 1u);
    host.RunFor(60ms);
    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(view->removed(), kResultFalse);
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    host.RunFor(60ms);

    // A host that drops the view without removing it first.
    view->release();
    EXPECT_TRUE(Children(top).empty());
    EXPECT_EQ(host.EventHandlerCount() + host.TimerCount(), 0u);
    EXPECT_EQ(host.References(), 0u);
    controller->setParamNormalized(kCompressorLevel, 0.3);
    controller->setParamNormalized(kOutputLeftVumeter, 0.7);
    host.RunFor(120ms);
}

TEST_F(X11EditorTest, MovesQueuedAfterAReleaseDoNotTurnTheKnob)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    host.RunFor(150ms);
    const gui::CRect knob = ControlRect(kDistortionLevel);
    const double start = controller->getParamNormalized(kDistortionLevel);
    const int x = knob.left + knob.width() / 2, y = knob.top + knob.height() / 2;
    MoveTo(top, x, y);
    host.RunFor(60ms);
    // A quick gesture the editor reads in one go: drag up 20 pixels, let go, then move the free
    // pointer well below.
    Button(1, true);
    MoveTo(top, x, y - 20);
    Button(1, false);
    MoveTo(top, x, y + 150);
    XSync(display, False);
    host.RunFor(150ms);
    const auto edits = handler.editsOf(kDistortionLevel);
    ASSERT_FALSE(edits.empty());
    for (const auto& e : edits)
        EXPECT_GE(e.value, start - 1e-6) << "the knob went down, but the drag only went up";
    EXPECT_NEAR(edits.back().value, start + 20.0 / 200.0, 1e-5);
    Detach(view);
}

TEST_F(X11EditorTest, MeterAndLedValuesReachTheWindowOnTheTick)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    const Window window = Children(top).at(0);
    const gui::CRect left = ControlRect(kOutputLeftVumeter), right = ControlRect(kOutputRightVumeter);
    const gui::CRect inputLed = ControlRect(kInputClippingLed), compLed = ControlRect(kCompressionLed);
    const gui::CBitmap leftOn(120), leftOff(119), rightOff(121), inputLeds(106), compLeds(105);

    // The processor reports once per block; keep the values coming across several ticks.
    controller->setParamNormalized(kInputClippingLed, 1.0);
    controller->setParamNormalized(kCompressionLed, 0.2);
    for (int i = 0; i < 12; ++i) {
        controller->setParamNormalized(kOutputLeftVumeter, 0.5);
        host.RunFor(20ms);
    }
    Grab grab = GrabWindow(window);
    // 0.5 shows as 0.75: 20 of 26 segments lit.
    const int lit = 20 * left.width() / editor::kMeterSegments;
    EXPECT_TRUE(Shows(grab, {left.left, left.top, left.left + lit, left.bottom}, leftOn));
    EXPECT_TRUE(Shows(grab, {left.left + lit, left.top, left.right, left.bottom}, leftOff, lit));
    EXPECT_TRUE(Shows(grab, right, rightOff));
    EXPECT_TRUE(Shows(grab, inputLed, inputLeds, 0, inputLed.height()));
    EXPECT_TRUE(Shows(grab, compLed, compLeds, 0, 0));

    // Without new values the meter falls to nothing; the LEDs hold until told otherwise.
    host.RunFor(900ms);
    grab = GrabWindow(window);
    EXPECT_TRUE(Shows(grab, left, leftOff));
    EXPECT_TRUE(Shows(grab, inputLed, inputLeds, 0, inputLed.height()));
    controller->setParamNormalized(kInputClippingLed, 0.0);
    controller->setParamNormalized(kCompressionLed, 0.5);
    host.RunFor(120ms);
    grab = GrabWindow(window);
    EXPECT_TRUE(Shows(grab, inputLed, inputLeds, 0, 0));
    EXPECT_TRUE(Shows(grab, compLed, compLeds, 0, compLed.height()));
    Detach(view);
}

TEST_F(X11EditorTest, TheWindowShowsExactlyTheOffscreenRenderAtTheSameValues)
{
    test::OffscreenEditor reference;
    ASSERT_TRUE(reference.Open(test::ShowcaseValues()));
    for (const auto& [id, value] : test::ShowcaseValues())
        controller->setParamNormalized(id, value);

    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    host.RunFor(200ms);
    const Grab grab = GrabWindow(Children(top).at(0));
    ASSERT_EQ(grab.width, kWidth);
    const gui::COffscreenContext& expected = reference.Pixels();
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t* p = expected.pixel(x, y);
            differing += grab.at(x, y) == Rgb{p[0], p[1], p[2]} ? 0 : 1;
        }
    EXPECT_EQ(differing, 0);
    Detach(view);
}

TEST_F(X11EditorTest, Button1OpensTheAboutBoxWhichTakesAllInputUntilOk)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    const Window window = Children(top).at(0);
    host.RunFor(150ms);
    const Grab before = GrabWindow(window);
    const gui::CRect panel = gui::CRect::FromSize(editor::kAboutLeft, editor::kAboutTop, editor::kAboutWidth,
                                                  editor::kAboutHeight);
    const gui::CRect ok = gui::CRect::FromSize(editor::kAboutOkLeft, editor::kAboutOkTop, editor::kAboutOkWidth,
                                               editor::kAboutOkHeight);
    const gui::CBitmap panelImage(editor::kAboutDialogResource), okImage(editor::kAboutOkBitmap);
    const gui::CRect text{panel.left, panel.top, panel.right, ok.top};

    const gui::CRect button1 = ControlRect(kButton1);
    Click(top, button1.left + 5, button1.top + 5);
    ASSERT_TRUE(host.RunUntil([&] { return Shows(GrabWindow(window), text, panelImage); }, 3s));
    EXPECT_TRUE(Shows(GrabWindow(window), ok, okImage));
    EXPECT_TRUE(handler.edits.empty()) << "Button1 is no parameter edit";

    // Controls, under the panel or not, take no input while it is open; nor does a second press
    // on Button1 open another.
    const gui::CRect onOff = ControlRect(kDistortionOnOff);
    Click(top, onOff.left + 10, onOff.top + 10);
    const gui::CRect reverb = ControlRect(kReverbOnOff);
    Click(top, reverb.left + 10, reverb.bottom - 10);
    Click(top, button1.left + 5, button1.top + 5);
    host.RunFor(200ms);
    EXPECT_TRUE(handler.edits.empty());
    EXPECT_EQ(controller->getParamNormalized(kReverbOnOff), 1.0);

    // Pressing OK and letting go elsewhere keeps it open.
    MoveTo(top, ok.left + 10, ok.top + 10);
    Button(1, true);
    host.RunFor(80ms);
    EXPECT_TRUE(Shows(GrabWindow(window), ok, okImage, 0, ok.height())) << "OK shows pressed";
    MoveTo(top, ok.left - 40, ok.top + 10);
    Button(1, false);
    host.RunFor(120ms);
    EXPECT_TRUE(Shows(GrabWindow(window), text, panelImage));

    Click(top, ok.left + 10, ok.top + 10);
    ASSERT_TRUE(host.RunUntil([&] { return GrabWindow(window).pixels == before.pixels; }, 3s));

    // Closed: the editor takes input again.
    Click(top, reverb.left + 10, reverb.bottom - 10);
    ASSERT_TRUE(host.RunUntil([&] { return !handler.edits.empty(); }, 3s));
    EXPECT_EQ(handler.edits[0].id, kReverbOnOff);
    Detach(view);
}

TEST_F(X11EditorTest, OpensAndClosesRepeatedlyAndTwoEditorsFollowTheController)
{
    IPlugView* view = NewView();
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(Attach(view, top, &host), kResultOk) << "cycle " << cycle;
        host.RunFor(cycle % 5 == 0 ? 60ms : 5ms);
        Detach(view);
        ASSERT_EQ(host.EventHandlerCount() + host.TimerCount(), 0u);
        ASSERT_TRUE(Children(top).empty());
    }
    // New views each time, too.
    for (int cycle = 0; cycle < 5; ++cycle) {
        IPlugView* fresh = controller->createView("editor");
        ASSERT_EQ(Attach(fresh, top, &host), kResultOk);
        host.RunFor(10ms);
        Detach(fresh);
        fresh->release();
    }

    // Side by side: a window grab only holds what is not covered.
    ASSERT_GE(DisplayWidth(display, DefaultScreen(display)), 2 * kWidth + 16);
    const Window second = OpenTopLevel(kWidth + 16);
    IPlugView* other = NewView();
    ASSERT_EQ(Attach(view, top, &host), kResultOk);
    ASSERT_EQ(Attach(other, second, &host), kResultOk);
    EXPECT_EQ(host.EventHandlerCount(), 2u);
    EXPECT_EQ(host.TimerCount(), 2u);
    controller->setParamNormalized(kDelayOnOff, 0.0);
    controller->setParamNormalized(kCompressionLed, 1.0);
    host.RunFor(200ms);
    const gui::CRect delay = ControlRect(kDelayOnOff), led = ControlRect(kCompressionLed);
    for (Window parent : {top, second}) {
        const Grab grab = GrabWindow(Children(parent).at(0));
        EXPECT_TRUE(Shows(grab, delay, gui::CBitmap(110), 0, 0));
        EXPECT_TRUE(Shows(grab, led, gui::CBitmap(105), 0, led.height()));
    }
    // An edit in one window shows in the other.
    Click(top, delay.left + 10, delay.top + 10);
    ASSERT_TRUE(host.RunUntil([&] { return !handler.edits.empty(); }, 3s));
    host.RunFor(150ms);
    EXPECT_TRUE(Shows(GrabWindow(Children(second).at(0)), delay, gui::CBitmap(110), 0, delay.height()));

    Detach(other);
    EXPECT_EQ(host.EventHandlerCount(), 1u);
    EXPECT_EQ(Children(second).size(), 0u);
    EXPECT_EQ(Children(top).size(), 1u);
    Detach(view);
    EXPECT_EQ(host.EventHandlerCount() + host.TimerCount(), 0u);
}

} // namespace
} // namespace corvex
