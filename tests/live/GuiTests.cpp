// corvex with its editor, on a virtual X server and the fixture's JACK server: the window a
// player sees, a click on a footswitch that changes what they hear, and closing it.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FactoryPresets.h"
#include "LiveTestSupport.h"
#include "PresetFolder.h"

using namespace live_test;
using namespace std::chrono_literals;

namespace {

// The "Distortion ON OFF" footswitch: left 263, top 310, 128 x 188 on the panel.
constexpr int kDistortionX = 263 + 64;
constexpr int kDistortionY = 310 + 94;
constexpr std::uint32_t kDistortionOnOff = 4;
// The "Distortion Level" knob: left 308, top 251, 62 x 54.
constexpr int kDistortionLevelX = 308 + 31;
constexpr int kDistortionLevelY = 251 + 27;
constexpr std::uint32_t kDistortionLevel = 5;
// The preset strip under the panel: its height, and its "Save as" button at the panel's width.
constexpr int kStripHeight = 28;
constexpr int kSaveAsX = 796 + 36;

// A top-level window titled "Corvex", or 0.
Window FindCorvexWindow(Display* display)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name) {
                if (std::strcmp(name, "Corvex") == 0)
                    found = children[i];
                XFree(name);
            }
        }
        XFree(children);
    }
    return found;
}

void Click(Display* display, Window window, int x, int y, unsigned button = 1)
{
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XFlush(display);
}

// The editor's window inside ours is shown: from then on it takes the pointer and the keys.
bool EditorShown(Display* display, Window window)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XWindowAttributes attributes{};
    const bool shown = XQueryTree(display, window, &root, &parent, &children, &count) && count > 0 &&
                       XGetWindowAttributes(display, children[0], &attributes) && attributes.map_state == IsViewable;
    if (children)
        XFree(children);
    return shown;
}

// A popup menu on the screen (a mapped override-redirect top-level window), or 0.
Window FindMenu(Display* display)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    // A window listed may be gone by the time it is looked at.
    XSync(display, False);
    const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, children[i], &attributes) && attributes.override_redirect &&
                attributes.map_state == IsViewable)
                found = children[i];
        }
        XFree(children);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    return found;
}

// What a window manager sends when the user clicks the close button.
void AskToClose(Display* display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

TEST(LiveGui, WindowFootswitchAndClose)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-connect"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput("corvex: playing through", 20s)) << corvex.Err();

    // The window: its title, class and the panel's size, not resizable.
    Window window = 0;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!(window = FindCorvexWindow(display)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(window, 0u) << corvex.Err();
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
    EXPECT_EQ(attributes.width, 1024);
    EXPECT_EQ(attributes.height, 768 + kStripHeight);
    XClassHint classHint{};
    ASSERT_TRUE(XGetClassHint(display, window, &classHint));
    EXPECT_STREQ(classHint.res_class, "Corvex");
    XFree(classHint.res_name);
    XFree(classHint.res_class);
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display, window, &hints, &supplied));
    EXPECT_EQ(hints.min_width, 1024);
    EXPECT_EQ(hints.max_width, 1024);
    EXPECT_EQ(hints.max_height, 768 + kStripHeight);
    // The editor is drawn into it: a child window of the panel's size.
    auto childCount = [&] {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count) && children)
            XFree(children);
        return count;
    };
    while (childCount() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_GE(childCount(), 1u);

    // Play a phrase, switch the distortion off a quarter of the way through.
    JackRig probe({}, {}, 0);
    ASSERT_TRUE(probe.Ok());
    const int rate = static_cast<int>(probe.Rate());
    const std::size_t frames = static_cast<std::size_t>(probe.Period()) * 300;
    std::vector<float> phrase = render_test::PluckedTestSignal(rate, static_cast<double>(frames) / rate + 0.01);
    phrase.resize(frames);
    JackRig rig(phrase, phrase, frames);
    ASSERT_TRUE(rig.Connect());
    while (rig.Recorded() < frames / 4 && std::chrono::steady_clock::now() < end + 20s)
        std::this_thread::sleep_for(5ms);
    Click(display, window, kDistortionX, kDistortionY);
    ASSERT_TRUE(rig.WaitForRecording(30s));

    // The renderer at the same settings throughout: the recording leaves it after the click.
    render_test::Audio in;
    in.sampleRate = rate;
    in.channels = 2;
    for (float v : phrase) {
        in.samples.push_back(v);
        in.samples.push_back(v);
    }
    render_test::WriteAudio(dir / "in.wav", in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto result = render_test::RunRender({(dir / "in.wav").string(), (dir / "out.wav").string(), "--block",
                                                std::to_string(probe.Period()), "--format", "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const render_test::Audio rendered = render_test::ReadAudio(dir / "out.wav");
    ASSERT_EQ(rendered.Frames(), static_cast<std::int64_t>(frames));
    std::size_t firstDifference = frames;
    for (std::size_t i = 0; i < frames && firstDifference == frames; ++i)
        if (std::memcmp(&rig.Left()[i], &rendered.samples[i * 2], 4) != 0)
            firstDifference = i;
    EXPECT_GE(firstDifference, frames / 4) << "before the click, the default settings";
    EXPECT_LT(firstDifference, frames) << "the click changed nothing audible";

    // The keyboard reaches the panel: Up over "Distortion Level" turns it up by 0.05.
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), kDistortionLevelX, kDistortionLevelY, &rootX,
                          &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    const KeyCode up = XKeysymToKeycode(display, XK_Up);
    XTestFakeKeyEvent(display, up, True, CurrentTime);
    XTestFakeKeyEvent(display, up, False, CurrentTime);
    XFlush(display);
    // Settings are saved as they change: wait for the new level there.
    float level = 0.0f;
    const auto keyEnd = std::chrono::steady_clock::now() + 20s;
    do {
        std::this_thread::sleep_for(50ms);
        const std::vector<float> saved = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
        level = saved.size() == 20 ? saved[kDistortionLevel] : 0.0f;
    } while (level < 0.59f && std::chrono::steady_clock::now() < keyEnd);
    EXPECT_FLOAT_EQ(level, 0.6f);

    // Closing the window ends corvex cleanly, with the switch saved off.
    AskToClose(display, window);
    EXPECT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    const std::vector<float> state = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
    ASSERT_EQ(state.size(), 20u);
    EXPECT_EQ(state[kDistortionOnOff], 0.0f);
    EXPECT_EQ(state[1], 1.0f);
    XCloseDisplay(display);
}

// MIDI learning in the window: the host's menu on a control (right-click), "Learn MIDI", a
// controller moved; a footswitch that sends 127 on every press toggles; "Forget MIDI". What is
// learned is saved as it is made and is the map of the next start.
TEST(LiveGui, LearningThroughTheContextMenu)
{
    constexpr int kMenuRow = 20; // the menu's rows: Learn MIDI, then Forget MIDI
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
    ScratchDir dir;
    MidiSender pedal;
    ASSERT_TRUE(pedal.Ok());
    Child corvex({CorvexExe(), "--midi-in", MidiSender::kPort}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput("corvex: playing through", 20s)) << corvex.Err();
    Window window = 0;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindCorvexWindow(display)) != 0; }, 20s));
    const auto saved = [&] { return StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state")); };
    const auto settings = [&] { return ReadText(dir / "corvex" / "audio.conf"); };
    ASSERT_TRUE(WaitUntil([&] { return EditorShown(display, window); }, 20s));
    const auto menuItem = [&](int x, int y, int row) {
        Window menu = 0;
        Click(display, window, x, y, 3);
        ASSERT_TRUE(WaitUntil([&] { return (menu = FindMenu(display)) != 0; }, 20s));
        Click(display, menu, 10, kMenuRow * row + kMenuRow / 2);
        EXPECT_TRUE(WaitUntil([&] { return FindMenu(display) == 0; }, 20s));
    };

    menuItem(kDistortionLevelX, kDistortionLevelY, 0);
    ASSERT_TRUE(pedal.Send({{0xB0, 40, 10}}, 10s));
    EXPECT_TRUE(WaitUntil([&] { return settings().find("cc 40 = 5\n") != std::string::npos; }, 20s)) << settings();
    EXPECT_TRUE(WaitUntil([&] { return saved().size() == 20 && saved()[kDistortionLevel] == 10.0f / 127; }, 20s));
    EXPECT_NE(settings().find("cc 24 = none\n"), std::string::npos) << "the level's default controller let go";

    menuItem(kDistortionX, kDistortionY, 0);
    ASSERT_TRUE(pedal.Send({{0xB0, 41, 127}}, 10s));
    ASSERT_TRUE(WaitUntil([&] { return settings().find("cc 41 = 4\n") != std::string::npos; }, 20s)) << settings();
    ASSERT_TRUE(pedal.Send({{0xB0, 41, 127}}, 10s));
    EXPECT_TRUE(WaitUntil([&] { return settings().find("cc 41 = 4 toggle\n") != std::string::npos; }, 20s)) << settings();
    EXPECT_TRUE(WaitUntil([&] { return saved().size() == 20 && saved()[kDistortionOnOff] == 0.0f; }, 20s));
    ASSERT_TRUE(pedal.Send({{0xB0, 41, 127}}, 10s));
    EXPECT_TRUE(WaitUntil([&] { return saved().size() == 20 && saved()[kDistortionOnOff] == 1.0f; }, 20s));

    menuItem(kDistortionX, kDistortionY, 1);
    EXPECT_TRUE(WaitUntil([&] { return settings().find("cc 41") == std::string::npos; }, 20s)) << settings();
    AskToClose(display, window);
    EXPECT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    XCloseDisplay(display);

    Child list({CorvexExe(), "--list-midi"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_EQ(list.Wait(20s), 0) << list.Err();
    EXPECT_NE(list.Out().find("CC 40   Distortion Level\nCC 102"), std::string::npos) << list.Out();
    EXPECT_EQ(list.Out().find("CC 24"), std::string::npos) << list.Out();
    EXPECT_EQ(list.Out().find("Distortion ON OFF"), std::string::npos) << list.Out();
}

TEST(LiveGui, TheWindowFollowsTheEditorsScale)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
    ScratchDir dir;
    auto env = CorvexEnvironment(dir.Path());
    env.push_back("CORVEX_UI_SCALE=1.5");
    Child corvex({CorvexExe(), "--no-connect"}, env, dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput("corvex: playing through", 20s)) << corvex.Err();
    Window window = 0;
    XWindowAttributes attributes{};
    const auto end = std::chrono::steady_clock::now() + 20s;
    do {
        std::this_thread::sleep_for(20ms);
        window = FindCorvexWindow(display);
        if (window)
            XGetWindowAttributes(display, window, &attributes);
    } while ((!window || attributes.width != 1536) && std::chrono::steady_clock::now() < end);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(attributes.width, 1536);
    EXPECT_EQ(attributes.height, 1152 + kStripHeight);
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display, window, &hints, &supplied));
    EXPECT_EQ(hints.max_width, 1536);
    AskToClose(display, window);
    EXPECT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    XCloseDisplay(display);
}

void Key(Display* display, KeySym symbol)
{
    const KeyCode key = XKeysymToKeycode(display, symbol);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XFlush(display);
}

void PointAt(Display* display, Window window, int x, int y)
{
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
}

// What the preset strip shows, pixel by pixel.
std::vector<unsigned long> StripPixels(Display* display, Window window)
{
    std::vector<unsigned long> pixels;
    XImage* image = XGetImage(display, window, 0, 768, 1024, kStripHeight, AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    for (int y = 0; y < kStripHeight; ++y)
        for (int x = 0; x < 1024; ++x)
            pixels.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);
    return pixels;
}

// The preset strip: Page Down over it steps on and the sound follows (the saved settings hold the
// preset's controls); Page Up over a part of the panel that takes no key steps back; "Save as",
// a name and Return save a .vstpreset in the user's folder, remembered for the next start.
TEST(LiveGui, ThePresetStripStepsAndSaves)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
    ScratchDir dir;
    auto env = CorvexEnvironment(dir.Path());
    env.push_back("HOME=" + dir.Path().string());
    // Wired to the fixture's system ports: corvex processes from the first period its inputs see.
    Child corvex({CorvexExe()}, env, dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput("corvex: playing through", 20s)) << corvex.Err();
    Window window = 0;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindCorvexWindow(display)) != 0; }, 20s)) << corvex.Err();
    ASSERT_TRUE(WaitUntil([&] { return EditorShown(display, window); }, 20s));
    auto controls = [&] {
        std::vector<float> saved = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
        return saved.size() == 20 ? std::vector<float>(saved.begin() + 1, saved.begin() + 13) : std::vector<float>();
    };
    const auto& clean = corvex::FindFactoryPreset("Clean")->values;
    const auto& standard = corvex::kFactoryPresets[0].values;

    PointAt(display, window, 512, 768 + kStripHeight / 2);
    Key(display, XK_Page_Down); // from none to the first
    Key(display, XK_Page_Down);
    ASSERT_TRUE(corvex.WaitForOutput("corvex: preset \"Clean\"", 20s)) << corvex.Out() << corvex.Err();
    EXPECT_TRUE(WaitUntil([&] { return controls() == std::vector<float>(clean.begin(), clean.end()); }, 20s))
        << ::testing::PrintToString(controls());
    PointAt(display, window, 900, 600); // the speaker grille
    Key(display, XK_Page_Up);
    EXPECT_TRUE(WaitUntil([&] { return controls() == std::vector<float>(standard.begin(), standard.end()); }, 20s));

    // Keys typed before the strip asks for the name would go to the panel: wait for the question.
    const std::vector<unsigned long> browsing = StripPixels(display, window);
    Click(display, window, kSaveAsX, 768 + kStripHeight / 2);
    ASSERT_TRUE(WaitUntil([&] { return StripPixels(display, window) != browsing; }, 20s));
    PointAt(display, window, 900, 600); // the name is the strip's wherever the pointer is
    for (KeySym symbol : {XK_m, XK_i, XK_n, XK_e, XK_Return})
        Key(display, symbol);
    ASSERT_TRUE(corvex.WaitForOutput("corvex: preset \"mine\"", 20s)) << corvex.Out() << corvex.Err();
    const std::filesystem::path saved = dir / ".vst3" / "presets" / corvex::PresetFolder() / "mine.vstpreset";
    EXPECT_TRUE(std::filesystem::exists(saved)) << saved;
    AskToClose(display, window);
    EXPECT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    EXPECT_EQ(ReadText(dir / "corvex" / "last.preset"), "mine\n");
    EXPECT_EQ(corvex.Err(), "");
    XCloseDisplay(display);
}

// A long evening's play: corvex with its window on the fixture's server, wired to the dummy system
// ports, edited through the window all along (the distortion footswitch clicked, its level turned
// up and down with the keys), then SIGTERM. CORVEX_SOAK_SECONDS sets the length (60 unless given;
// scripts/soak.sh gives 600). After a warm-up its resident memory grows by less than 1 MB, it
// counts no xrun the server did not report, writes nothing on stderr, and saves the last edits.
TEST(LiveSoak, EditsThroughTheWindowLeaveNoXrunsGrowthOrComplaint)
{
    // One click in three edits: clicks further apart than a double-click (which sets the default).
    constexpr auto kEditEvery = 250ms;
    constexpr long kGrowthLimitKb = 1024;
    // The delay's lines hold 33 s and their pages are first touched as the echoes are written, so
    // the warm-up outlasts one pass through them; what grows after it stays.
    constexpr auto kWarmUp = 40s;
    constexpr int kMinSeconds = 50;
    const char* given = std::getenv("CORVEX_SOAK_SECONDS");
    const int seconds = given ? std::atoi(given) : 60;
    ASSERT_GE(seconds, kMinSeconds) << "CORVEX_SOAK_SECONDS";
    const auto warmUp = std::chrono::seconds(kWarmUp);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
    XrunCounter server;
    ASSERT_TRUE(server.Ok());
    ScratchDir dir;
    Child corvex({CorvexExe()}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput("corvex: playing through", 20s)) << corvex.Err();
    Window window = 0;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindCorvexWindow(display)) != 0; }, 20s)) << corvex.Err();
    // The editor is in it and shown before the first click.
    ASSERT_TRUE(WaitUntil([&] { return EditorShown(display, window); }, 20s));

    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    long startKb = -1;
    int clicks = 0, keys = 0;
    for (int edit = 0; std::chrono::steady_clock::now() < end; ++edit) {
        if (startKb < 0 && std::chrono::steady_clock::now() >= start + warmUp)
            startKb = ResidentKb(corvex.Pid());
        if (edit % 3 == 0) {
            Click(display, window, kDistortionX, kDistortionY);
            ++clicks;
        } else {
            int rootX = 0, rootY = 0;
            Window child = 0;
            XTranslateCoordinates(display, window, DefaultRootWindow(display), kDistortionLevelX, kDistortionLevelY,
                                  &rootX, &rootY, &child);
            XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
            const KeyCode key = XKeysymToKeycode(display, keys % 2 == 0 ? XK_Up : XK_Down);
            XTestFakeKeyEvent(display, key, True, CurrentTime);
            XTestFakeKeyEvent(display, key, False, CurrentTime);
            XFlush(display);
            ++keys;
        }
        std::this_thread::sleep_for(kEditEvery);
    }
    // The last edit settles (a state check every 0.5 s) before the end.
    std::this_thread::sleep_for(1s);
    const long endKb = ResidentKb(corvex.Pid());
    corvex.Signal(SIGTERM);
    ASSERT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    const long long heard = ExitLineXruns(corvex.Out());
    std::printf("soak: %d s, %d footswitch clicks, %d keys; resident memory %ld kB after %lld s, %ld kB at the end "
                "(%+ld kB); xruns: corvex %lld, the server %llu; stderr: %s\n",
                seconds, clicks, keys, startKb, static_cast<long long>(warmUp.count()), endKb, endKb - startKb, heard,
                static_cast<unsigned long long>(server.Xruns()), corvex.Err().empty() ? "(nothing)" : corvex.Err().c_str());
    ASSERT_GT(startKb, 0);
    EXPECT_LT(endKb - startKb, kGrowthLimitKb);
    EXPECT_GE(heard, 0) << corvex.Out();
    EXPECT_LE(static_cast<unsigned long long>(heard), server.Xruns());
    EXPECT_EQ(corvex.Err(), "");
    // The edits arrived: an even number of clicks leaves the footswitch on, the keys went up and
    // down as often (and one more up when odd).
    const std::vector<float> state = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
    ASSERT_EQ(state.size(), 20u);
    EXPECT_EQ(state[kDistortionOnOff], clicks % 2 == 0 ? 1.0f : 0.0f);
    EXPECT_NEAR(state[kDistortionLevel], 0.55f + (keys % 2 == 0 ? 0.0f : 0.05f), 1e-5f);
    XCloseDisplay(display);
}

} // namespace
