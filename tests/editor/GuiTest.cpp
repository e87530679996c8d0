#include "gui/Controls.h"
#include "gui/Frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace corvex::gui {
namespace {

// A strip of `frames` solid images, frame k filled with grey level 10 * (k + 1).
SharedBitmap SolidStrip(int width, int height, int frames)
{
    std::vector<std::uint8_t> rgb;
    for (int f = 0; f < frames; ++f)
        rgb.insert(rgb.end(), std::size_t(width) * height * 3, std::uint8_t(10 * (f + 1)));
    return std::make_shared<const CBitmap>(width, height * frames, std::move(rgb));
}

SharedBitmap Solid(int width, int height, CColor c)
{
    std::vector<std::uint8_t> rgb;
    for (int i = 0; i < width * height; ++i)
        rgb.insert(rgb.end(), {c.red, c.green, c.blue});
    return std::make_shared<const CBitmap>(width, height, std::move(rgb));
}

struct RecordingListener : CControlListener {
    std::vector<std::string> events;
    std::vector<float> values;
    void valueChanged(CControl* control) override
    {
        events.push_back("changed");
        values.push_back(control->getValue());
    }
    void controlBeginEdit(CControl*) override { events.push_back("begin"); }
    void controlEndEdit(CControl*) override { events.push_back("end"); }
};

TEST(GuiSubImage, ValuesPickTheNearestImageAndOutOfRangeValuesPinToTheEnds)
{
    EXPECT_EQ(SubImageIndex(0.0f, 16), 0);
    EXPECT_EQ(SubImageIndex(1.0f, 16), 15);
    EXPECT_EQ(SubImageIndex(0.5f, 16), 8);
    EXPECT_EQ(SubImageIndex(1.5f, 16), 15);
    EXPECT_EQ(SubImageIndex(-0.2f, 16), 0);
    EXPECT_EQ(SubImageIndex(std::numeric_limits<float>::quiet_NaN(), 16), 0);
    // Two images switch at one half exactly, never just below it.
    EXPECT_EQ(SubImageIndex(0.5f, 2), 1);
    EXPECT_EQ(SubImageIndex(std::nextafter(0.5f, 0.0f), 2), 0);
}

TEST(GuiBitmap, UnknownResourcesAndMalformedPixelsGiveEmptyBitmaps)
{
    EXPECT_FALSE(CBitmap(9999).isLoaded());
    EXPECT_FALSE(CBitmap(4, 4, std::vector<std::uint8_t>(10)).isLoaded());
    const CBitmap background(150);
    ASSERT_TRUE(background.isLoaded());
    EXPECT_EQ(background.getWidth(), 1024);
    EXPECT_EQ(background.getHeight(), 768);

    std::vector<unsigned char> png;
    ASSERT_TRUE(EncodePng(background.getWidth(), background.getHeight(), background.pixels(), png));
    int w = 0, h = 0;
    std::vector<std::uint8_t> decoded;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), w, h, decoded));
    EXPECT_EQ(decoded, background.pixels());
    EXPECT_FALSE(DecodePng(png.data(), 20, w, h, decoded));
}

TEST(GuiKnob, VerticalDragTurnsItShiftIsFineAndTheWheelSteps)
{
    RecordingListener listener;
    CAnimKnob knob(CRect::FromSize(0, 0, 10, 10), &listener, 5, 16, 10, SolidStrip(10, 10, 16));
    knob.setValue(0.25f);
    ASSERT_TRUE(knob.onMouseDown({{5, 100}, 0}));
    knob.onMouseMoved({{5, 60}, 0}); // 40 px up: a fifth of full scale
    EXPECT_NEAR(knob.getValue(), 0.45f, 1e-6f);
    knob.onMouseMoved({{5, 20}, kShift}); // 40 px up, fine
    EXPECT_NEAR(knob.getValue(), 0.47f, 1e-6f);
    knob.onMouseMoved({{5, -400}, 0}); // far beyond the top
    EXPECT_EQ(knob.getValue(), 1.0f);
    knob.onMouseUp({{5, -400}, 0});
    EXPECT_EQ(listener.events.front(), "begin");
    EXPECT_EQ(listener.events.back(), "end");
    EXPECT_EQ(listener.values.size(), 3u);

    knob.onMouseMoved({{5, 500}, 0}); // no drag in progress
    EXPECT_EQ(knob.getValue(), 1.0f);
    ASSERT_TRUE(knob.onWheel({{5, 5}, 0}, -2.0f));
    EXPECT_NEAR(knob.getValue(), 0.9f, 1e-6f);
    knob.onWheel({{5, 5}, kShift}, -1.0f);
    EXPECT_NEAR(knob.getValue(), 0.895f, 1e-6f);
}

TEST(GuiKnob, AnOutOfRangeValueDrawsTheLastImageAndDragsFromFullScale)
{
    CFrame frame(CRect{0, 0, 10, 10}, nullptr);
    RecordingListener listener;
    auto* knob = frame.addView(std::make_unique<CAnimKnob>(CRect{0, 0, 10, 10}, &listener, 3, 16, 10,
                                                           SolidStrip(10, 10, 16)));
    knob->setValue(1.5f);
    frame.redraw();
    EXPECT_EQ(frame.getOffscreen().pixel(5, 5)[0], 160);
    knob->onMouseDown({{5, 50}, 0});
    knob->onMouseMoved({{5, 70}, 0});
    EXPECT_NEAR(knob->getValue(), 0.9f, 1e-6f);
}

TEST(GuiButtons, OnOffTogglesOnPressAndTheKickButtonIsOneOnlyWhilePressed)
{
    RecordingListener listener;
    COnOffButton button(CRect{0, 0, 10, 10}, &listener, 2, SolidStrip(10, 10, 2));
    button.onMouseDown({{1, 1}, 0});
    EXPECT_EQ(button.getValue(), 1.0f);
    button.onMouseUp({{1, 1}, 0});
    EXPECT_EQ(button.getValue(), 1.0f);
    button.setValue(0.3f); // any non-zero value is on, so a press turns it off
    button.onMouseDown({{1, 1}, 0});
    EXPECT_EQ(button.getValue(), 0.0f);
    EXPECT_EQ(listener.values, (std::vector<float>{1.0f, 0.0f}));

    RecordingListener kickListener;
    CKickButton kick(CRect{0, 0, 10, 10}, &kickListener, 18, SolidStrip(10, 10, 1));
    kick.onMouseDown({{1, 1}, 0});
    EXPECT_EQ(kick.getValue(), 1.0f);
    kick.onMouseUp({{1, 1}, 0});
    EXPECT_EQ(kickListener.values, (std::vector<float>{1.0f, 0.0f}));
    kick.onMouseDown({{1, 1}, 0});
    kick.onMouseMoved({{30, 1}, 0}); // dragged off: released once, not twice
    kick.onMouseUp({{30, 1}, 0});
    EXPECT_EQ(kickListener.values, (std::vector<float>{1.0f, 0.0f, 1.0f, 0.0f}));
}

TEST(GuiVuMeter, RisesAtOnceFallsByATenthPerRedrawAndLightsWholeSegments)
{
    const CColor on{200, 0, 0}, off{0, 0, 200};
    CFrame frame(CRect{0, 0, 260, 4}, nullptr);
    auto* meter = static_cast<CVuMeter*>(
        frame.addView(std::make_unique<CVuMeter>(CRect{0, 0, 260, 4}, Solid(260, 4, on), Solid(260, 4, off), 26)));
    auto litColumns = [&] {
        int lit = 0;
        for (int x = 0; x < 260; ++x)
            lit += frame.getOffscreen().pixel(x, 2)[0] == 200 ? 1 : 0;
        return lit;
    };
    meter->setValue(0.75f);
    frame.idle();
    frame.redraw();
    EXPECT_EQ(meter->getDisplayedValue(), 0.75f);
    EXPECT_EQ(litColumns(), 200); // int(26 * 0.75 + 0.5) = 20 segments of 10 px

    meter->setValue(0.0f);
    std::vector<int> segments;
    for (int redraw = 0; redraw < 10 && meter->isDirty(); ++redraw) {
        frame.idle();
        frame.redraw();
        segments.push_back(meter->getLitSegments());
        EXPECT_EQ(litColumns(), segments.back() * 10);
    }
    // Single-precision steps: after five the value is just under 0.25, so 6 segments, not 7.
    EXPECT_EQ(segments, (std::vector<int>{17, 14, 12, 9, 6, 4, 1, 0}));
    EXPECT_FALSE(meter->isDirty());

    meter->setValue(std::numeric_limits<float>::quiet_NaN()); // reads as silence
    frame.idle();
    frame.redraw();
    EXPECT_EQ(litColumns(), 0);
}

TEST(GuiFrame, OnlyControlsWhoseValueChangedAreRepainted)
{
    CFrame frame(CRect{0, 0, 40, 10}, nullptr);
    frame.setBackgroundColor({1, 2, 3, 255});
    auto* left = frame.addView(std::make_unique<CMovieBitmap>(CRect{0, 0, 10, 10}, nullptr, 1, 2, 10, SolidStrip(10, 10, 2)));
    auto* right = frame.addView(std::make_unique<CMovieBitmap>(CRect{20, 0, 30, 10}, nullptr, 2, 2, 10, SolidStrip(10, 10, 2)));
    EXPECT_EQ(frame.redraw(), (CRect{0, 0, 40, 10}));
    EXPECT_EQ(frame.getDrawCount(), 2u);
    EXPECT_EQ(frame.getOffscreen().pixel(15, 5)[2], 3); // background colour between the controls

    frame.idle();
    EXPECT_TRUE(frame.redraw().isEmpty());
    right->setValue(1.0f);
    frame.idle();
    EXPECT_EQ(frame.redraw(), (CRect{20, 0, 30, 10}));
    EXPECT_EQ(frame.getDrawCount(), 3u);
    EXPECT_EQ(frame.getOffscreen().pixel(25, 5)[0], 20);
    EXPECT_EQ(frame.getOffscreen().pixel(5, 5)[0], 10);

    // A region touching a control repaints the control whole, once.
    frame.invalidRect(CRect{5, 5, 6, 6});
    frame.invalidRect(CRect{8, 0, 9, 1});
    EXPECT_EQ(frame.redraw(), (CRect{0, 0, 10, 10}));
    EXPECT_EQ(frame.getDrawCount(), 4u);
    EXPECT_EQ(frame.getViewAt({25, 5}), right);
    EXPECT_EQ(frame.getViewAt({15, 5}), nullptr);
    EXPECT_EQ(frame.getViewAt({0, 0}), left);
}

TEST(GuiFrame, MouseReleaseGoesToThePressedControlEvenOutsideIt)
{
    CFrame frame(CRect{0, 0, 40, 10}, nullptr);
    RecordingListener listener;
    frame.addView(std::make_unique<CKickButton>(CRect{0, 0, 10, 10}, &listener, 18, SolidStrip(10, 10, 1)));
    EXPECT_FALSE(frame.onMouseDown({{30, 5}, 0}));
    EXPECT_TRUE(frame.onMouseDown({{5, 5}, 0}));
    frame.onMouseUp({{35, 5}, 0});
    EXPECT_EQ(listener.values, (std::vector<float>{1.0f, 0.0f}));
    frame.onMouseUp({{5, 5}, 0}); // nothing captured any more
    EXPECT_EQ(listener.values.size(), 2u);
}

} // namespace
} // namespace corvex::gui
