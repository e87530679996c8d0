#include "CorvexEditorView.h"
#include "corvexcontroller.h"
#include "gui/Controls.h"
#include "gui/Frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvex {
namespace {

using namespace Steinberg;
using gui::CFrame;
using gui::CRect;

gui::SharedBitmap Solid(int width, int height, std::uint8_t grey)
{
    return std::make_shared<const gui::CBitmap>(width, height,
                                                std::vector<std::uint8_t>(std::size_t(width) * height * 3, grey));
}

// Two on/off buttons and a panel over part of the first, with OK in its corner.
struct ModalFrame {
    CFrame frame{CRect{0, 0, 60, 20}, nullptr};
    gui::CControl* under = nullptr;
    gui::CControl* beside = nullptr;

    ModalFrame()
    {
        std::vector<std::uint8_t> strip(10 * 20 * 3, 40);
        std::fill(strip.begin() + 10 * 10 * 3, strip.end(), 80);
        auto switchImage = std::make_shared<const gui::CBitmap>(10, 20, strip);
        under = frame.addView(std::make_unique<gui::COnOffButton>(CRect{0, 0, 10, 10}, nullptr, 1, switchImage));
        beside = frame.addView(std::make_unique<gui::COnOffButton>(CRect{40, 0, 50, 10}, nullptr, 2, switchImage));
        frame.redraw();
    }
    gui::CControl* open()
    {
        std::vector<std::uint8_t> ok(4 * 8 * 3, 200);
        std::fill(ok.begin() + 4 * 4 * 3, ok.end(), 250);
        return frame.openModal(std::make_unique<gui::CDialogPanel>(
            CRect{5, 2, 25, 18}, nullptr, 103, Solid(20, 16, 120), CRect{20, 13, 24, 17},
            std::make_shared<const gui::CBitmap>(4, 8, ok)));
    }
    std::uint8_t at(int x, int y) const { return frame.getOffscreen().pixel(x, y)[0]; }
};

TEST(GuiModalPanel, TakesEveryPressUntilOkIsReleasedOverIt)
{
    ModalFrame m;
    const std::vector<std::uint8_t> before = m.frame.getOffscreen().pixels();
    ASSERT_NE(m.open(), nullptr);
    m.frame.redraw();
    EXPECT_EQ(m.at(7, 5), 120);  // the panel covers the switch beneath
    EXPECT_EQ(m.at(2, 5), 40);   // and leaves the rest of it alone
    EXPECT_EQ(m.at(21, 14), 200); // OK, up

    // Nothing below the panel, nor beside it, reacts; the wheel does nothing either.
    EXPECT_TRUE(m.frame.onMouseDown({{2, 5}, 0}));
    m.frame.onMouseUp({{2, 5}, 0});
    EXPECT_TRUE(m.frame.onMouseDown({{45, 5}, 0}));
    m.frame.onMouseUp({{45, 5}, 0});
    EXPECT_TRUE(m.frame.onWheel({{45, 5}, 0}, 1.0f));
    EXPECT_EQ(m.under->getValue(), 0.0f);
    EXPECT_EQ(m.beside->getValue(), 0.0f);
    ASSERT_NE(m.frame.getModal(), nullptr);

    // Pressed, OK shows pressed; let go away from it and the panel stays.
    m.frame.onMouseDown({{21, 14}, 0});
    m.frame.redraw();
    EXPECT_EQ(m.at(21, 14), 250);
    m.frame.onMouseMoved({{10, 10}, 0});
    m.frame.redraw();
    EXPECT_EQ(m.at(21, 14), 200);
    m.frame.onMouseUp({{10, 10}, 0});
    ASSERT_NE(m.frame.getModal(), nullptr);

    m.frame.onMouseDown({{21, 14}, 0});
    m.frame.onMouseUp({{22, 15}, 0});
    EXPECT_EQ(m.frame.getModal(), nullptr);
    m.frame.redraw();
    EXPECT_EQ(m.frame.getOffscreen().pixels(), before);
    // Input reaches the controls again.
    m.frame.onMouseDown({{45, 5}, 0});
    EXPECT_EQ(m.beside->getValue(), 1.0f);
}

TEST(GuiFrame, RepaintsEveryControlTheGrowingRegionReaches)
{
    // The dirty rectangle touches only the left control; merged with it, the region reaches the
    // right one, whose pixels must not be left painted over with background.
    CFrame frame(CRect{0, 0, 40, 20}, nullptr);
    frame.setBackgroundColor({1, 1, 1, 255});
    frame.addView(std::make_unique<gui::CMovieBitmap>(CRect{0, 0, 10, 10}, nullptr, 1, 1, 10, Solid(10, 10, 50)));
    frame.addView(std::make_unique<gui::CMovieBitmap>(CRect{12, 8, 20, 18}, nullptr, 2, 1, 10, Solid(8, 10, 90)));
    frame.redraw();
    frame.invalidRect(CRect{5, 5, 13, 7});
    frame.redraw();
    EXPECT_EQ(frame.getOffscreen().pixel(12, 8)[0], 90);
    EXPECT_EQ(frame.getOffscreen().pixel(5, 5)[0], 50);
}

// The Corvex view, open offscreen, and its pixels before anything happened.
class EditorAboutBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        controller = new CorvexController();
        ASSERT_EQ(controller->initialize(nullptr), kResultOk);
        view = new CorvexEditorView(controller);
        ASSERT_EQ(view->attached(&parent, CEditorBase::kPlatformTypeOffscreen), kResultOk);
        before = view->getFrame()->getOffscreen().pixels();
    }
    void TearDown() override
    {
        if (view != nullptr) {
            view->removed();
            view->release();
        }
        controller->terminate();
        controller->release();
    }
    void click(gui::CPoint where)
    {
        view->onMouseDown({where, 0});
        view->onMouseUp({where, 0});
    }
    void clickButton1()
    {
        const gui::CRect button = view->getControl(kButton1)->getViewSize();
        click({button.left + 2, button.top + 2});
    }

    int parent = 0;
    CorvexController* controller = nullptr;
    CorvexEditorView* view = nullptr;
    std::vector<std::uint8_t> before;
};

TEST_F(EditorAboutBox, Button1OpensItInsideTheEditorAndOkClosesIt)
{
    clickButton1();
    ASSERT_NE(view->getFrame()->getModal(), nullptr);
    const gui::CBitmap panel(editor::kAboutDialogResource);
    ASSERT_TRUE(panel.isLoaded());
    EXPECT_EQ(panel.getWidth(), editor::kAboutWidth);
    const std::uint8_t* shown = view->getFrame()->getOffscreen().pixel(editor::kAboutLeft + 200, editor::kAboutTop + 60);
    const std::uint8_t* drawn = panel.pixel(200, 60);
    EXPECT_TRUE(shown[0] == drawn[0] && shown[1] == drawn[1] && shown[2] == drawn[2]);

    // A switch under the panel keeps its value; the controller hears nothing.
    const gui::CRect distortion = view->getControl(kDistortionOnOff)->getViewSize();
    click({distortion.left + 60, distortion.top + 60});
    EXPECT_EQ(controller->getParamNormalized(kDistortionOnOff), 1.0);

    const gui::CPoint ok{editor::kAboutOkLeft + 5, editor::kAboutOkTop + 5};
    click(ok);
    EXPECT_EQ(view->getFrame()->getModal(), nullptr);
    EXPECT_EQ(view->getFrame()->getOffscreen().pixels(), before);
}

TEST_F(EditorAboutBox, EscapeClosesItAndIsLeftToTheHostOtherwise)
{
    constexpr int16 kEscape = 6; // the SDK's KEY_ESCAPE
    EXPECT_EQ(view->onKeyDown(0, kEscape, 0), kResultFalse) << "nothing to close: the host's key";

    clickButton1();
    ASSERT_NE(view->getFrame()->getModal(), nullptr);
    EXPECT_EQ(view->onKeyDown(' ', 7, 0), kResultFalse);
    EXPECT_EQ(view->onKeyDown(0, 12, 0), kResultFalse) << "no knob turns under the About box";
    EXPECT_EQ(view->onKeyDown(0, kEscape, 0), kResultTrue);
    EXPECT_EQ(view->getFrame()->getModal(), nullptr);
    EXPECT_EQ(view->getFrame()->getOffscreen().pixels(), before);
}

} // namespace
} // namespace corvex
