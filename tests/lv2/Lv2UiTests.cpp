// The LV2 editor as an LV2 host runs it: found through lilv, loaded from the built bundle,
// embedded in a window of ours on a virtual X server, driven by idle calls, with synthetic
// mouse input through XTest.

#include "EditorLayout.h"
#include "Lv2TestHost.h"
#include "gui/Bitmap.h"
#include "gui/Geometry.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/ui/ui.h>

#include "X11TestSupport.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace test {
namespace {

using namespace corvex;
using namespace corvex::lv2;

constexpr int kWidth = editor::kEditorWidth;
constexpr int kHeight = editor::kEditorHeight;
// Longer than the editor's 50 ms timer: the next idle call after it runs a tick.
constexpr auto kPastOneTick = std::chrono::milliseconds(60);

int ControlBitmap(ParamID id)
{
    for (const editor::ControlLayout& c : editor::kControlLayouts)
        if (c.id == id)
            return c.bitmap;
    return 0;
}

class Lv2UiTest : public ::testing::Test {
protected:
    struct Write {
        std::uint32_t port;
        float value;
    };

    void SetUp() override
    {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
        ASSERT_TRUE(HasXTest(display));
        parent = OpenMappedWindow(display, 0, kWidth, kHeight);

        // The UI lilv names for the plug-in, from the bundle's TTL.
        Lv2World& world = Lv2World::Get();
        ASSERT_NE(world.Plugin(), nullptr);
        LilvUIs* uis = lilv_plugin_get_uis(world.Plugin());
        LilvNode* x11 = lilv_new_uri(world.World(), LV2_UI__X11UI);
        std::string binary;
        LILV_FOREACH (uis, i, uis) {
            const LilvUI* ui = lilv_uis_get(uis, i);
            if (lilv_ui_is_a(ui, x11) && std::strcmp(lilv_node_as_uri(lilv_ui_get_uri(ui)), kUiUri) == 0) {
                char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
                binary = path;
                lilv_free(path);
            }
        }
        lilv_node_free(x11);
        lilv_uis_free(uis);
        ASSERT_FALSE(binary.empty()) << "no ui:X11UI " << kUiUri;
        library = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        ASSERT_NE(descriptor, nullptr);
        EXPECT_STREQ(descriptor->URI, kUiUri);
        EXPECT_EQ(entry(1), nullptr);
        ASSERT_NO_FATAL_FAILURE(Instantiate());
    }

    void Instantiate()
    {
        resize = {this, [](LV2UI_Feature_Handle h, int w, int ht) {
                      static_cast<Lv2UiTest*>(h)->sizes.push_back({w, ht});
                      return 0;
                  }};
        touch = {this, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                     static_cast<Lv2UiTest*>(h)->touches.push_back({port, grabbed ? 1.0f : 0.0f});
                 }};
        LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
        LV2_Feature resizeFeature{LV2_UI__resize, &resize};
        LV2_Feature touchFeature{LV2_UI__touch, &touch};
        LV2_Feature mapFeature{LV2_URID__map, Lv2World::Get().Map()};
        const LV2_Feature* features[] = {&parentFeature, &resizeFeature, &touchFeature, &mapFeature, nullptr};
        widget = nullptr;
        handle = descriptor->instantiate(descriptor, kPluginUri, CORVEX_LV2_BUNDLE_PATH "/", WriteFunction, this,
                                         &widget, features);
        ASSERT_NE(handle, nullptr);
        idle = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle, nullptr);
        // As hosts do: every control port's value once.
        for (std::uint32_t port = kPortFirstParam; port < kPortEndIndicator; ++port) {
            const float value = kParamInfos[kPorts[port].id].defaultValue;
            descriptor->port_event(handle, port, sizeof value, 0, &value);
        }
        // A plain parent window, no XEmbed: the editor shows itself at its first timer tick.
        ASSERT_TRUE(IdleUntil([&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(display, WidgetWindow(), &attributes) != 0 &&
                   attributes.map_state == IsViewable;
        }));
    }

    void TearDown() override
    {
        if (handle != nullptr)
            descriptor->cleanup(handle);
        if (library != nullptr)
            dlclose(library);
        if (display != nullptr) {
            XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
    }

    static void WriteFunction(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
                              const void* buffer)
    {
        auto* self = static_cast<Lv2UiTest*>(controller);
        if (format == Lv2World::Get().Urid(LV2_ATOM__eventTransfer)) {
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            self->atomWrites.push_back({port, std::vector<std::uint8_t>(bytes, bytes + size)});
            return;
        }
        ASSERT_EQ(format, 0u);
        ASSERT_EQ(size, sizeof(float));
        self->writes.push_back({port, *static_cast<const float*>(buffer)});
    }

    void PortEvent(ParamID id, float value) { descriptor->port_event(handle, PortOfParam(id), sizeof value, 0, &value); }

    // Idle calls until `done` holds (the X server delivers our synthetic input asynchronously).
    template <typename Done>
    bool IdleUntil(Done done)
    {
        for (int i = 0; i < 200; ++i) {
            XSync(display, False);
            idle->idle(handle);
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    void IdleAfterOneTick()
    {
        std::this_thread::sleep_for(kPastOneTick);
        idle->idle(handle);
    }

    Window WidgetWindow() const { return Window(reinterpret_cast<std::uintptr_t>(widget)); }

    Grab GrabWidget() { return GrabWindow(display, WidgetWindow(), kWidth, kHeight); }

    // True when the grab shows the sub-image of `bitmap` starting at row `sourceTop` over `rect`.
    static bool Shows(const Grab& grab, const gui::CRect& rect, const gui::CBitmap& bitmap, int sourceTop = 0)
    {
        return test::Shows(grab, rect, bitmap, 0, sourceTop);
    }

    void Click(int x, int y) { test::Click(display, WidgetWindow(), x, y); }

    Display* display = nullptr;
    Window parent = 0;
    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle handle = nullptr;
    LV2UI_Widget widget = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    LV2UI_Resize resize{};
    LV2UI_Touch touch{};
    std::vector<std::pair<int, int>> sizes;
    std::vector<Write> writes;
    std::vector<Write> touches;
    struct AtomWrite {
        std::uint32_t port;
        std::vector<std::uint8_t> atom;
    };
    std::vector<AtomWrite> atomWrites;
};

TEST_F(Lv2UiTest, DrawsThePanelInTheHostsWindowAtItsSize)
{
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0], std::make_pair(kWidth, kHeight));
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(display, parent, &root, &parentOut, &children, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(children[0], WidgetWindow());
    XFree(children);

    idle->idle(handle);
    const Grab grab = GrabWidget();
    const gui::CBitmap background(editor::kBackgroundBitmap);
    EXPECT_TRUE(Shows(grab, {0, 0, 900, 180}, background)); // the panel above the controls
    // Switches as the host's port values say: on shows the second image.
    const gui::CRect delay = ControlRect(kDelayOnOff);
    EXPECT_TRUE(Shows(grab, delay, gui::CBitmap(ControlBitmap(kDelayOnOff)), delay.height()));
    const gui::CRect enhancer = ControlRect(kStereoEnhancerOnOff);
    EXPECT_TRUE(Shows(grab, enhancer, gui::CBitmap(ControlBitmap(kStereoEnhancerOnOff)), 0));
    EXPECT_TRUE(writes.empty());
}

TEST_F(Lv2UiTest, AClickWritesThePortAndAPortEventRedrawsTheControl)
{
    const gui::CRect delay = ControlRect(kDelayOnOff);
    Click(delay.left + 10, delay.top + 10);
    ASSERT_TRUE(IdleUntil([&] { return !writes.empty(); }));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].port, PortOfParam(kDelayOnOff));
    EXPECT_EQ(writes[0].value, 0.0f);
    EXPECT_TRUE(Shows(GrabWidget(), delay, gui::CBitmap(ControlBitmap(kDelayOnOff)), 0));

    // The host (or automation) turns it back on.
    PortEvent(kDelayOnOff, 1.0f);
    IdleAfterOneTick();
    EXPECT_TRUE(Shows(GrabWidget(), delay, gui::CBitmap(ControlBitmap(kDelayOnOff)), delay.height()));
    EXPECT_EQ(writes.size(), 1u); // values from the host are not written back
}

TEST_F(Lv2UiTest, MeterAndLedPortEventsShowAfterTheNextIdleTick)
{
    const gui::CRect meter = ControlRect(kOutputLeftVumeter);
    const gui::CRect led = ControlRect(kOuputClippingLed);
    IdleAfterOneTick();
    const Grab before = GrabWidget();
    EXPECT_FALSE(Shows(before, meter, gui::CBitmap(ControlBitmap(kOutputLeftVumeter))));

    PortEvent(kOutputLeftVumeter, 1.0f);
    PortEvent(kOuputClippingLed, 1.0f);
    const Grab parked = GrabWidget();
    EXPECT_TRUE(parked.pixels == before.pixels); // parked until the tick

    IdleAfterOneTick();
    const Grab after = GrabWidget();
    EXPECT_TRUE(Shows(after, meter, gui::CBitmap(ControlBitmap(kOutputLeftVumeter)))); // every segment lit
    EXPECT_TRUE(Shows(after, led, gui::CBitmap(ControlBitmap(kOuputClippingLed)), led.height()));
    EXPECT_TRUE(writes.empty());
}

// The habits of plug-in users, through the editor's own X11 window: a double-click or a
// Ctrl+click on a knob returns it to its default, one write between the host's touch events (its
// automation records the reset as one gesture).
TEST_F(Lv2UiTest, ADoubleClickOrCtrlClickOnAKnobWritesItsDefaultBetweenTouches)
{
    PortEvent(kCompressorLevel, 0.2f);
    PortEvent(kChorusSpeed, 0.9f);
    idle->idle(handle);
    const std::uint32_t compressor = PortOfParam(kCompressorLevel);
    const gui::CRect comp = ControlRect(kCompressorLevel);
    test::MoveTo(display, WidgetWindow(), comp.left + 5, comp.top + 5);
    for (int press = 0; press < 2; ++press) {
        test::Button(display, 1, true);
        test::Button(display, 1, false);
    }
    ASSERT_TRUE(IdleUntil([&] { return !writes.empty(); }));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].port, compressor);
    EXPECT_EQ(writes[0].value, kParamInfos[kCompressorLevel].defaultValue);
    ASSERT_EQ(touches.size(), 2u);
    EXPECT_EQ(touches[0].port, compressor);
    EXPECT_EQ(touches[0].value, 1.0f); // grabbed
    EXPECT_EQ(touches[1].port, compressor);
    EXPECT_EQ(touches[1].value, 0.0f); // released

    writes.clear();
    touches.clear();
    const gui::CRect chorus = ControlRect(kChorusSpeed);
    const KeyCode ctrl = XKeysymToKeycode(display, XK_Control_L);
    XTestFakeKeyEvent(display, ctrl, True, CurrentTime);
    Click(chorus.left + 5, chorus.top + 5);
    XTestFakeKeyEvent(display, ctrl, False, CurrentTime);
    XFlush(display);
    ASSERT_TRUE(IdleUntil([&] { return !writes.empty(); }));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].port, PortOfParam(kChorusSpeed));
    EXPECT_EQ(writes[0].value, kParamInfos[kChorusSpeed].defaultValue);
    ASSERT_EQ(touches.size(), 2u);
    EXPECT_EQ(touches[0].value, 1.0f);
    EXPECT_EQ(touches[1].value, 0.0f);
}

TEST_F(Lv2UiTest, TheAboutButtonOpensTheAboutPanelAndWritesNothing)
{
    const gui::CRect button = ControlRect(kButton1);
    Click(button.left + 5, button.top + 5);
    const gui::CRect about = gui::CRect::FromSize(editor::kAboutLeft, editor::kAboutTop, editor::kAboutWidth,
                                                  editor::kAboutHeight);
    const gui::CBitmap panel(editor::kAboutDialogResource);
    const gui::CRect top = gui::CRect::FromSize(about.left, about.top, about.width(), 100);
    EXPECT_TRUE(IdleUntil([&] { return Shows(GrabWidget(), top, panel); }));
    EXPECT_TRUE(writes.empty());
}

TEST_F(Lv2UiTest, ReopeningAndClosingRepeatedlyLeavesNothingBehind)
{
    for (int i = 0; i < 5; ++i) {
        descriptor->cleanup(handle);
        handle = nullptr;
        sizes.clear();
        ASSERT_NO_FATAL_FAILURE(Instantiate());
        idle->idle(handle);
        EXPECT_EQ(sizes.size(), 1u);
    }
    descriptor->cleanup(handle);
    handle = nullptr;
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XSync(display, False);
    XQueryTree(display, parent, &root, &parentOut, &children, &count);
    EXPECT_EQ(count, 0u); // the editor's window went with it
    if (children != nullptr)
        XFree(children);
}

// Some hosts set a preset's ports without telling the UI: the plug-in's notify port does, with
// the values after the restore, and the UI shows them. Opening, it asks which IR the plug-in holds.
TEST_F(Lv2UiTest, RestoredValuesFromTheNotifyPortRedrawTheControlsAndOpeningAsksForTheIr)
{
    Lv2World& world = Lv2World::Get();
    ASSERT_EQ(atomWrites.size(), 1u);
    EXPECT_EQ(atomWrites[0].port, kPortTime);
    const auto* get = reinterpret_cast<const LV2_Atom_Object*>(atomWrites[0].atom.data());
    EXPECT_EQ(get->body.otype, world.Urid(LV2_PATCH__Get));

    const gui::CRect delay = ControlRect(kDelayOnOff);
    IdleAfterOneTick();
    ASSERT_TRUE(Shows(GrabWidget(), delay, gui::CBitmap(ControlBitmap(kDelayOnOff)), delay.height()));
    std::vector<float> values;
    for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
        values.push_back(kPorts[port].id == kDelayOnOff ? 0.0f : kParamInfos[kPorts[port].id].defaultValue);
    std::uint64_t buffer[64] = {};
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, world.Map());
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(&forge, &frame, 0, world.Urid(kNoticeUri));
    lv2_atom_forge_key(&forge, world.Urid(kControlsUri));
    lv2_atom_forge_vector(&forge, sizeof(float), world.Urid(LV2_ATOM__Float), std::uint32_t(values.size()),
                          values.data());
    lv2_atom_forge_pop(&forge, &frame);
    const auto* atom = reinterpret_cast<const LV2_Atom*>(buffer);
    descriptor->port_event(handle, kPortNotify, lv2_atom_total_size(atom), world.Urid(LV2_ATOM__eventTransfer), atom);
    IdleAfterOneTick();
    EXPECT_TRUE(Shows(GrabWidget(), delay, gui::CBitmap(ControlBitmap(kDelayOnOff)), 0));
    EXPECT_TRUE(writes.empty()); // shown, not written back
}

// What the plug-in tells the UI about its IR reaches the badge on the grille.
TEST_F(Lv2UiTest, TheIrsNameAndARefusalFromTheNotifyPortShowOnTheBadge)
{
    Lv2World& world = Lv2World::Get();
    const auto notify = [&](const char* property, LV2_URID type, const std::string& text) {
        std::vector<std::uint64_t> buffer(64);
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, world.Map());
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size() * 8);
        LV2_Atom_Forge_Frame frame;
        // A patch:Set of the IR is for the host; the UI reads the plug-in's notices.
        const bool patchSet = std::strcmp(property, kImpulseUri) == 0;
        lv2_atom_forge_object(&forge, &frame, 0, world.Urid(patchSet ? LV2_PATCH__Set : kNoticeUri));
        if (patchSet) {
            lv2_atom_forge_key(&forge, world.Urid(LV2_PATCH__property));
            lv2_atom_forge_urid(&forge, world.Urid(property));
            lv2_atom_forge_key(&forge, world.Urid(LV2_PATCH__value));
        } else
            lv2_atom_forge_key(&forge, world.Urid(property));
        lv2_atom_forge_typed_string(&forge, type, text.c_str(), std::uint32_t(text.size()));
        lv2_atom_forge_pop(&forge, &frame);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(buffer.data());
        descriptor->port_event(handle, kPortNotify, lv2_atom_total_size(atom), world.Urid(LV2_ATOM__eventTransfer),
                               atom);
        IdleAfterOneTick();
        const gui::CRect badge = gui::CRect::FromSize(editor::kImpulseBadgeLeft, editor::kImpulseBadgeTop,
                                                      editor::kImpulseBadgeWidth, editor::kImpulseBadgeHeight);
        const Grab grab = GrabWidget();
        std::vector<Rgb> pixels;
        for (int y = badge.top; y < badge.bottom; ++y)
            for (int x = badge.left; x < badge.right; ++x)
                pixels.push_back(grab.at(x, y));
        return pixels;
    };
    IdleAfterOneTick();
    const LV2_URID string = world.Urid(LV2_ATOM__String);
    const auto builtIn = notify(kImpulseNameUri, string, "");
    const auto loaded = notify(kImpulseNameUri, string, "Green 4x12.wav");
    EXPECT_FALSE(loaded == builtIn);
    EXPECT_TRUE(notify(kImpulseUri, world.Urid(LV2_ATOM__Path), "/home/player/irs/Other.wav") == loaded);
    const auto refused = notify(kImpulseErrorUri, string, "'x.wav' is silent");
    EXPECT_FALSE(refused == loaded);
    EXPECT_TRUE(notify(kImpulseNameUri, string, "") == builtIn);
    EXPECT_TRUE(writes.empty());
}

#ifdef CORVEX_XDND_SOURCE
// A file dropped on the grille the way file managers drop it (XDND, from a process of its own)
// goes to the plug-in's control port as a patch:Set of the IR property with its path.
TEST_F(Lv2UiTest, AFileDroppedOnTheGrilleGoesToThePluginAsAPatchSetOfItsPath)
{
    const std::string x = std::to_string(editor::kGrilleLeft + 20), y = std::to_string(editor::kGrilleTop + 20);
    const std::string window = std::to_string(parent);
    const char* argv[] = {CORVEX_XDND_SOURCE, window.c_str(), x.c_str(), y.c_str(), "text/uri-list",
                          "file:///tmp/irs/Green%204x12.wav\r\n", nullptr};
    pid_t source = 0;
    ASSERT_EQ(posix_spawn(&source, CORVEX_XDND_SOURCE, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(source, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        idle->idle(handle);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the drag did not end";
    EXPECT_EQ(WEXITSTATUS(status), 0);

    Lv2World& world = Lv2World::Get();
    ASSERT_EQ(atomWrites.size(), 2u); // the question at opening, then the file
    EXPECT_EQ(atomWrites[1].port, kPortTime);
    const auto* set = reinterpret_cast<const LV2_Atom_Object*>(atomWrites[1].atom.data());
    ASSERT_EQ(set->body.otype, world.Urid(LV2_PATCH__Set));
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(set, world.Urid(LV2_PATCH__property), &property, world.Urid(LV2_PATCH__value), &value, 0);
    ASSERT_TRUE(property != nullptr && value != nullptr);
    EXPECT_EQ(reinterpret_cast<const LV2_Atom_URID*>(property)->body, world.Urid(kImpulseUri));
    EXPECT_EQ(value->type, world.Urid(LV2_ATOM__Path));
    EXPECT_STREQ(static_cast<const char*>(LV2_ATOM_BODY_CONST(value)), "/tmp/irs/Green 4x12.wav");
    EXPECT_TRUE(writes.empty());
}
#endif

TEST(Lv2UiInstantiation, WithoutAParentWindowThereIsNoUi)
{
    // Loaded the same way, but given no ui:parent: refused, nothing created.
    Lv2World& world = Lv2World::Get();
    LilvUIs* uis = lilv_plugin_get_uis(world.Plugin());
    ASSERT_NE(uis, nullptr);
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    lilv_free(path);
    lilv_uis_free(uis);
    ASSERT_NE(library, nullptr);
    auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
    const LV2UI_Descriptor* descriptor = entry(0);
    LV2UI_Widget widget = nullptr;
    const LV2_Feature* none[] = {nullptr};
    EXPECT_EQ(descriptor->instantiate(descriptor, kPluginUri, CORVEX_LV2_BUNDLE_PATH "/",
                                      [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, nullptr,
                                      &widget, none),
              nullptr);
    EXPECT_EQ(descriptor->extension_data(LV2_UI__showInterface), nullptr);
    dlclose(library);
}

} // namespace
} // namespace test
