// The built bundle's editor inside GTK 3's GtkSocket, a real XEmbed embedder, the way GTK-based
// Linux hosts embed plug-in windows: the socket's window id is the view's parent, GTK runs its
// toplevel (with a host shortcut on the space bar) and the host's run loop drives the editor.
// Synthetic input through XTest, on a virtual X server of its own (see CMakeLists.txt).

#include <gtest/gtest.h>

#include "BundleModule.h"
#include "EditRecorder.h"
#include "EditorHost.h"
#include "EditorLayout.h"
#include "gui/Bitmap.h"
#include "gui/Geometry.h"
#include "PluginInstance.h"
#include "PluginModule.h"

#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gtk/gtk.h>
#include <gtk/gtkx.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include "X11TestSupport.h"
#undef Bool
#undef None
#undef Status

#include <cstdint>
#include <cstdlib>
#include <functional>
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
using test::Module;

constexpr int kHeaderHeight = 40; // a strip of the host's own window above the socket

gboolean CountShortcut(GtkAccelGroup*, GObject*, guint, GdkModifierType, gpointer count)
{
    ++*static_cast<int*>(count);
    return TRUE;
}

void CountPlug(GtkSocket*, gpointer count)
{
    ++*static_cast<int*>(count);
}

class GtkSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);

        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        // A focusable control of the host's own, which has the focus to begin with.
        header = gtk_button_new_with_label("host");
        gtk_widget_set_size_request(header, editor::kEditorWidth, kHeaderHeight);
        socket = gtk_socket_new();
        gtk_widget_set_size_request(socket, editor::kEditorWidth, editor::kEditorHeight);
        gtk_widget_set_can_focus(socket, TRUE);
        gtk_box_pack_start(GTK_BOX(box), header, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), socket, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        g_signal_connect(socket, "plug-added", G_CALLBACK(CountPlug), &plugsAdded);

        // The host's transport shortcut.
        GtkAccelGroup* accelerators = gtk_accel_group_new();
        gtk_accel_group_connect(accelerators, GDK_KEY_space, GdkModifierType(0), GtkAccelFlags(0),
                                g_cclosure_new(G_CALLBACK(CountShortcut), &shortcuts, nullptr));
        gtk_window_add_accel_group(GTK_WINDOW(window), accelerators);
        g_object_unref(accelerators);

        gtk_widget_show_all(window);
        gtk_window_move(GTK_WINDOW(window), 0, 0);
        ASSERT_TRUE(Run([&] { return gtk_widget_get_mapped(socket); }));

        std::string error;
        plugin = PluginInstance::Create(Module().Factory(), &hostApplication, error);
        ASSERT_TRUE(plugin) << error;
        controller = plugin->Controller();
        controller->setComponentHandler(&handler);
    }

    void TearDown() override
    {
        if (view != nullptr) {
            view->removed();
            view->setFrame(nullptr);
            view->release();
        }
        if (controller != nullptr)
            controller->setComponentHandler(nullptr);
        plugin.reset();
        if (window != nullptr)
            gtk_widget_destroy(window);
        Pump();
        if (display != nullptr)
            XCloseDisplay(display);
    }

    static void Pump()
    {
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
    }

    // Runs the host's loop and GTK's side by side until `done` or a generous timeout.
    bool Run(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s)
    {
        return host.RunUntil(
            [&] {
                XSync(display, False);
                Pump();
                return done && done();
            },
            timeout);
    }
    void RunFor(std::chrono::milliseconds duration) { Run(nullptr, duration); }

    Window SocketWindow() const { return gtk_socket_get_id(GTK_SOCKET(socket)); }
    Window PlugWindow() const
    {
        GdkWindow* plug = gtk_socket_get_plug_window(GTK_SOCKET(socket));
        return plug != nullptr ? GDK_WINDOW_XID(plug) : 0;
    }

    // Pointer at (x, y) of the editor's panel; y below 0 lies on the host's header strip.
    void MoveTo(int x, int y) { test::MoveTo(display, SocketWindow(), x, y); }
    void Click(int x, int y) { test::Click(display, SocketWindow(), x, y); }
    void PressKey(KeySym sym) { test::PressKey(display, sym); }

    Display* display = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* socket = nullptr;
    GtkWidget* header = nullptr;
    int plugsAdded = 0;
    int shortcuts = 0;
    EditorHost host;
    Vst::HostApplication hostApplication;
    std::unique_ptr<PluginInstance> plugin;
    Vst::IEditController* controller = nullptr;
    test::EditRecorder handler;
    IPlugView* view = nullptr;
};

TEST_F(GtkSocketTest, EmbedsDrawsTakesClicksAndFocusTurnsAKnobAndLeavesOtherKeysToTheHost)
{
    view = controller->createView("editor");
    ASSERT_NE(view, nullptr);
    view->setFrame(&host);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(SocketWindow()), kPlatformTypeX11EmbedWindowID), kResultOk);

    // The socket takes the window in and shows it.
    ASSERT_TRUE(Run([&] {
        XWindowAttributes attributes{};
        return plugsAdded == 1 && PlugWindow() != 0 && XGetWindowAttributes(display, PlugWindow(), &attributes) != 0 &&
               attributes.map_state == IsViewable;
    }));
    RunFor(150ms);
    // The panel is drawn: a patch of the background bitmap, pixel for pixel.
    {
        const gui::CBitmap background(editor::kBackgroundBitmap);
        XImage* image = XGetImage(display, PlugWindow(), 20, 20, 40, 40, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        int wrong = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                const std::uint8_t* expected = background.pixel(20 + x, 20 + y);
                wrong += ((p >> 16) & 0xff) == expected[0] && ((p >> 8) & 0xff) == expected[1] &&
                                 (p & 0xff) == expected[2]
                             ? 0
                             : 1;
            }
        XDestroyImage(image);
        EXPECT_EQ(wrong, 0);
    }

    // The host's toplevel has the keyboard, as the user's active window.
    gtk_window_present(GTK_WINDOW(window));
    XSetInputFocus(display, GDK_WINDOW_XID(gtk_widget_get_window(window)), RevertToParent, CurrentTime);
    gtk_widget_grab_focus(header);
    ASSERT_TRUE(Run([&] { return gtk_window_has_toplevel_focus(GTK_WINDOW(window)); }));
    ASSERT_FALSE(gtk_widget_has_focus(socket));

    // A click on a footswitch is an edit, and asks the socket for the focus.
    const gui::CRect footswitch = ControlRect(kDistortionOnOff);
    const double before = controller->getParamNormalized(kDistortionOnOff);
    Click(footswitch.left + footswitch.width() / 2, footswitch.top + footswitch.height() / 2);
    ASSERT_TRUE(Run([&] { return !handler.editsOf(kDistortionOnOff).empty(); }));
    EXPECT_EQ(handler.editsOf(kDistortionOnOff)[0].value, before != 0.0 ? 0.0 : 1.0);
    ASSERT_TRUE(Run([&] { return gtk_widget_has_focus(socket); })) << "the click did not bring the focus";

    // Touch a knob, then type on the host's window: GTK passes the key through the socket.
    const gui::CRect knob = ControlRect(kReverbLevel);
    Click(knob.left + knob.width() / 2, knob.top + knob.height() / 2);
    MoveTo(200, -kHeaderHeight / 2);
    RunFor(100ms);
    const double start = controller->getParamNormalized(kReverbLevel);
    PressKey(XK_Up);
    ASSERT_TRUE(Run([&] { return handler.editsOf(kReverbLevel).size() == 1; }));
    EXPECT_NEAR(handler.editsOf(kReverbLevel)[0].value, start + 0.05, 1e-6);
    EXPECT_NEAR(controller->getParamNormalized(kReverbLevel), start + 0.05, 1e-6);
    const std::vector<std::string> gesture = {"begin", "perform", "end"};
    std::vector<std::string> kinds;
    for (const auto& e : handler.calls)
        if (e.id == kReverbLevel)
            kinds.push_back(e.kind);
    EXPECT_EQ(kinds, gesture);

    // The space bar is the host's: the editor, focused, leaves it to the host's shortcut.
    const std::size_t edits = handler.calls.size();
    PressKey(XK_space);
    ASSERT_TRUE(Run([&] { return shortcuts == 1; })) << "the host's shortcut did not run";
    RunFor(100ms);
    EXPECT_EQ(handler.calls.size(), edits);
    // A key the editor uses, typed with the pointer over it, stays with it.
    MoveTo(knob.left + 5, knob.top + 5);
    RunFor(60ms);
    PressKey(XK_Down);
    ASSERT_TRUE(Run([&] { return handler.editsOf(kReverbLevel).size() == 2; }));
    EXPECT_NEAR(handler.editsOf(kReverbLevel)[1].value, start, 1e-6);
    EXPECT_EQ(shortcuts, 1);
    EXPECT_EQ(handler.calls.size(), edits + 3);
}

} // namespace
} // namespace corvex
