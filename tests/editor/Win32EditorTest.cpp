// The built module's editor inside a real Win32 window, driven the way a Windows host drives it:
// IPlugView::attached with the host's HWND, input as window messages to the editor's window, the
// host's message loop running its timer. Runs under Wine on a virtual X server (CMakeLists.txt).

#include <gtest/gtest.h>

#include "BundleModule.h"
#include "CorvexEditorView.h"
#include "EditRecorder.h"
#include "EditorLayout.h"
#include "OffscreenEditor.h"
#include "PluginInstance.h"
#include "PluginModule.h"
#include "corvexcontroller.h"

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvex {
namespace {

using namespace Steinberg;
using hosting::PluginInstance;
using hosting::PluginModule;
using test::Module;

constexpr int kWidth = editor::kEditorWidth;
constexpr int kHeight = editor::kEditorHeight;
constexpr wchar_t kHostClass[] = L"CorvexTestHostWindow";

// Keys that reached the host's windows.
std::vector<WPARAM> g_hostKeys;

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN)
        g_hostKeys.push_back(wParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A host's IPlugFrame: records the size the view asks for.
class HostFrame : public IPlugFrame {
public:
    ViewRect requested{0, 0, 0, 0};
    tresult PLUGIN_API resizeView(IPlugView*, ViewRect* size) override
    {
        requested = *size;
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
};

class Win32EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kHostClass;
        RegisterClassExW(&windowClass); // fails harmlessly when an earlier test registered it
        top = OpenTopLevel(0);
        ASSERT_NE(top, nullptr);

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
        for (HWND w : tops)
            DestroyWindow(w);
        Pump([] { return false; }, 20);
    }

    HWND OpenTopLevel(int x)
    {
        RECT rect{0, 0, kWidth, kHeight};
        AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
        HWND w = CreateWindowExW(0, kHostClass, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, x, 0,
                                 rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        if (w != nullptr)
            tops.push_back(w);
        Pump([] { return false; }, 50);
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

    tresult Attach(IPlugView* view, HWND parent)
    {
        view->setFrame(&frame);
        return view->attached(parent, kPlatformTypeHWND);
    }

    void Detach(IPlugView* view)
    {
        EXPECT_EQ(view->removed(), kResultOk);
        view->setFrame(nullptr);
    }

    // Runs the host's message loop until `done` holds, for at most `rounds` rounds of 10 ms.
    static bool Pump(const std::function<bool()>& done, int rounds)
    {
        for (int round = 0; round < rounds; ++round) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (done())
                return true;
            Sleep(10);
        }
        return done();
    }

    static std::vector<HWND> Children(HWND parent)
    {
        std::vector<HWND> children;
        for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            children.push_back(child);
        return children;
    }

    // The window's client area as 24-bit RGB, read back from the screen.
    static std::vector<std::uint8_t> GrabWindow(HWND w)
    {
        std::vector<std::uint8_t> rgb;
        HDC windowDc = GetDC(w);
        HDC memoryDc = CreateCompatibleDC(windowDc);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap != nullptr && bits != nullptr) {
            HGDIOBJ previous = SelectObject(memoryDc, bitmap);
            if (BitBlt(memoryDc, 0, 0, kWidth, kHeight, windowDc, 0, 0, SRCCOPY)) {
                GdiFlush();
                const auto* pixels = static_cast<const std::uint32_t*>(bits);
                rgb.reserve(std::size_t(kWidth) * kHeight * 3);
                for (int i = 0; i < kWidth * kHeight; ++i) {
                    rgb.push_back(std::uint8_t(pixels[i] >> 16));
                    rgb.push_back(std::uint8_t(pixels[i] >> 8));
                    rgb.push_back(std::uint8_t(pixels[i]));
                }
            }
            SelectObject(memoryDc, previous);
            DeleteObject(bitmap);
        }
        DeleteDC(memoryDc);
        ReleaseDC(w, windowDc);
        return rgb;
    }

    static gui::CRect ControlRect(Vst::ParamID id)
    {
        for (const editor::ControlLayout& c : editor::kControlLayouts)
            if (c.id == id)
                return gui::CRect::FromSize(c.left, c.top, c.width(), c.height());
        return {};
    }

    // Pixels of two RGB images that differ; -1 for images of different sizes.
    static int Differing(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
    {
        if (a.size() != b.size())
            return -1;
        int differing = 0;
        for (std::size_t i = 0; i < a.size(); i += 3)
            differing += a[i] == b[i] && a[i + 1] == b[i + 1] && a[i + 2] == b[i + 2] ? 0 : 1;
        return differing;
    }

    static LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

    HWND top = nullptr;
    std::vector<HWND> tops;
    HostFrame frame;
    Vst::HostApplication hostApplication;
    std::unique_ptr<PluginInstance> plugin;
    Vst::IEditController* controller = nullptr;
    test::EditRecorder handler;
    std::vector<IPlugView*> views;
};

TEST_F(Win32EditorTest, OpensAsAChildOfTheHostWindowAndLeavesNothingBehind)
{
    IPlugView* view = NewView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(CEditorBase::kPlatformTypeOffscreen), kResultFalse);
    EXPECT_EQ(view->attached(top, kPlatformTypeX11EmbedWindowID), kResultFalse);
    ASSERT_TRUE(Children(top).empty());

    ASSERT_EQ(Attach(view, top), kResultOk);
    EXPECT_EQ(frame.requested.getWidth(), kWidth);
    EXPECT_EQ(frame.requested.getHeight(), kHeight);
    const auto children = Children(top);
    ASSERT_EQ(children.size(), 1u);
    HWND child = children[0];
    EXPECT_TRUE(IsChild(top, child));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE((GetWindowLongW(child, GWL_STYLE) & WS_CHILD) != 0);
    RECT client{};
    ASSERT_TRUE(GetClientRect(child, &client));
    EXPECT_EQ(client.right - client.left, kWidth);
    EXPECT_EQ(client.bottom - client.top, kHeight);
    EXPECT_EQ(Attach(view, top), kResultFalse) << "attached twice";

    Detach(view);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(Children(top).empty());

    // Again, and two editors at once: the window class outlives neither.
    ASSERT_EQ(Attach(view, top), kResultOk);
    IPlugView* second = NewView();
    HWND otherTop = OpenTopLevel(40);
    ASSERT_EQ(Attach(second, otherTop), kResultOk);
    EXPECT_EQ(Children(top).size(), 1u);
    EXPECT_EQ(Children(otherTop).size(), 1u);
    Detach(view);
    Detach(second);
    EXPECT_TRUE(Children(top).empty());
    EXPECT_TRUE(Children(otherTop).empty());
    ASSERT_EQ(Attach(view, top), kResultOk);
    EXPECT_EQ(Children(top).size(), 1u);
    Detach(view);
}

TEST_F(Win32EditorTest, AClickOnAFootswitchAndTheWheelOnAKnobBecomeEdits)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top), kResultOk);
    HWND child = Children(top).at(0);
    ASSERT_EQ(controller->getParamNormalized(kDistortionOnOff), 1.0);

    const gui::CRect onOff = ControlRect(kDistortionOnOff);
    const int x = (onOff.left + onOff.right) / 2, y = (onOff.top + onOff.bottom) / 2;
    PostMessageW(child, WM_MOUSEMOVE, 0, At(x, y));
    PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    PostMessageW(child, WM_LBUTTONUP, 0, At(x, y));
    ASSERT_TRUE(Pump([&] { return !handler.editsOf(kDistortionOnOff).empty(); }, 300));
    auto edits = handler.editsOf(kDistortionOnOff);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].value, 0.0);
    EXPECT_EQ(edits[0].controllerValue, 0.0) << "setParamNormalized comes before performEdit";
    EXPECT_EQ(controller->getParamNormalized(kDistortionOnOff), 0.0);

    // The wheel: positions in screen coordinates, one notch up.
    const gui::CRect knob = ControlRect(kDistortionLevel);
    POINT point{(knob.left + knob.right) / 2, (knob.top + knob.bottom) / 2};
    ClientToScreen(child, &point);
    const double start = controller->getParamNormalized(kDistortionLevel);
    PostMessageW(child, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(point.x, point.y));
    ASSERT_TRUE(Pump([&] { return !handler.editsOf(kDistortionLevel).empty(); }, 300));
    EXPECT_GT(controller->getParamNormalized(kDistortionLevel), start);
    for (const auto& e : handler.editsOf(kDistortionLevel))
        EXPECT_EQ(e.controllerValue, e.value);
    Detach(view);
}

TEST_F(Win32EditorTest, KeysTurnTheKnobUnderThePointerAndOtherKeysGoToTheHost)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top), kResultOk);
    HWND child = Children(top).at(0);
    const gui::CRect knob = ControlRect(kDistortionLevel);
    const double start = controller->getParamNormalized(kDistortionLevel);
    PostMessageW(child, WM_MOUSEMOVE, 0, At((knob.left + knob.right) / 2, (knob.top + knob.bottom) / 2));
    PostMessageW(child, WM_KEYDOWN, VK_UP, 1);
    PostMessageW(child, WM_KEYUP, VK_UP, 1 | (1u << 30) | (1u << 31));
    ASSERT_TRUE(Pump([&] { return !handler.editsOf(kDistortionLevel).empty(); }, 300));
    EXPECT_NEAR(controller->getParamNormalized(kDistortionLevel), start + 0.05, 1e-6);
    EXPECT_TRUE(g_hostKeys.empty()) << "the editor used the key";

    g_hostKeys.clear();
    PostMessageW(child, WM_KEYDOWN, VK_SPACE, 1);
    ASSERT_TRUE(Pump([&] { return !g_hostKeys.empty(); }, 300)) << "a key the editor does not use reaches the host";
    EXPECT_EQ(g_hostKeys.at(0), WPARAM(VK_SPACE));
    EXPECT_EQ(handler.editsOf(kDistortionLevel).size(), 1u);
    Detach(view);
}

TEST_F(Win32EditorTest, TheHostsContentScaleResizesTheWindowAndClicksLandOnTheScaledControls)
{
    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top), kResultOk);
    HWND child = Children(top).at(0);
    FUnknownPtr<IPlugViewContentScaleSupport> scaling(view);
    ASSERT_TRUE(scaling);
    ASSERT_EQ(scaling->setContentScaleFactor(1.5f), kResultOk);
    RECT client{};
    ASSERT_TRUE(GetClientRect(child, &client));
    EXPECT_EQ(client.right, 1536);
    EXPECT_EQ(client.bottom, 1152);
    EXPECT_EQ(frame.requested.getWidth(), 1536);
    EXPECT_EQ(frame.requested.getHeight(), 1152);

    const gui::CRect onOff = ControlRect(kDelayOnOff);
    const int x = (onOff.left + onOff.right) * 3 / 4, y = (onOff.top + onOff.bottom) * 3 / 4;
    const double before = controller->getParamNormalized(kDelayOnOff);
    PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    PostMessageW(child, WM_LBUTTONUP, 0, At(x, y));
    ASSERT_TRUE(Pump([&] { return !handler.editsOf(kDelayOnOff).empty(); }, 300));
    EXPECT_NE(controller->getParamNormalized(kDelayOnOff), before);
    Detach(view);
}

TEST_F(Win32EditorTest, TheWindowShowsExactlyTheOffscreenRenderAtTheSameValues)
{
    // Meters and LEDs show their values at the first tick of the window's timer.
    test::OffscreenEditor reference;
    ASSERT_TRUE(reference.Open(test::ShowcaseValues()));
    for (const auto& [id, value] : test::ShowcaseValues())
        controller->setParamNormalized(id, value);
    const gui::COffscreenContext& expected = reference.Pixels();

    IPlugView* view = NewView();
    ASSERT_EQ(Attach(view, top), kResultOk);
    HWND child = Children(top).at(0);
    // Ticks until the window shows the reference (the timer is the only way the LEDs get there).
    int differing = -1;
    Pump([&] { return (differing = Differing(GrabWindow(child), expected.pixels())) == 0; }, 100);
    EXPECT_EQ(differing, 0) << "pixels differing from the offscreen render";

    // Covered and uncovered again, in part and whole: the window repaints from its framebuffer.
    RECT part{100, 200, 400, 500};
    InvalidateRect(child, &part, FALSE);
    Pump([] { return false; }, 5);
    EXPECT_EQ(Differing(GrabWindow(child), expected.pixels()), 0) << "after repainting a part";
    InvalidateRect(child, nullptr, FALSE);
    Pump([] { return false; }, 5);
    EXPECT_EQ(Differing(GrabWindow(child), expected.pixels()), 0) << "after repainting the whole window";
    Detach(view);
}

} // namespace
} // namespace corvex
