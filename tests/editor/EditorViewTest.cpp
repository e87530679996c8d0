#include "CorvexEditorView.h"
#include "EditRecorder.h"
#include "corvexcontroller.h"

#include "public.sdk/source/common/memorystream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace corvex {
namespace {

using namespace Steinberg;
using gui::CRect;

// The view with its About dialog counted instead of shown.
class CountingView : public CorvexEditorView {
public:
    using CorvexEditorView::CorvexEditorView;
    std::vector<int> dialogs;

protected:
    void runModalDialog(int resourceId) override { dialogs.push_back(resourceId); }
};

int kParentWindow = 0;

// A controller reporting to the recorder, and a `View` of it to open offscreen.
template <typename Base, typename View>
class ViewFixture : public Base {
protected:
    void SetUp() override
    {
        controller = new CorvexController();
        ASSERT_EQ(controller->initialize(nullptr), kResultOk);
        handler.controller = controller;
        controller->setComponentHandler(&handler);
        view = new View(controller);
    }
    void TearDown() override
    {
        if (view->isAttached())
            view->removed();
        view->release();
        controller->terminate();
        controller->release();
    }
    bool attach() { return view->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen) == kResultOk; }

    CorvexController* controller = nullptr;
    test::EditRecorder handler;
    View* view = nullptr;
};

class EditorViewTest : public ViewFixture<::testing::Test, CountingView> {
protected:
    gui::CControl* control(ParamID id) { return view->getControl(id); }
    gui::CVuMeter* meter(ParamID id) { return dynamic_cast<gui::CVuMeter*>(control(id)); }
    const std::uint8_t* pixel(int x, int y) { return view->getFrame()->getOffscreen().pixel(x, y); }
    // True when the frame shows sub-image `index` of the control's bitmap strip.
    bool showsImage(ParamID id, int index)
    {
        const gui::CControl* c = control(id);
        const CRect r = c->getViewSize();
        const gui::CBitmap& strip = *c->getBackground();
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x)
                for (int k = 0; k < 3; ++k)
                    if (pixel(r.left + x, r.top + y)[k] != strip.pixel(x, index * r.height() + y)[k])
                        return false;
        return true;
    }
};

struct Expected {
    ParamID id;
    const std::type_info& type;
    CRect rect;
    int tag;
};

TEST_F(EditorViewTest, OpenBuildsTheEighteenControlsAtTheirRectanglesWithoutOverlap)
{
    ASSERT_TRUE(attach());
    const Expected expected[] = {
        {1, typeid(gui::COnOffButton), CRect::FromSize(482, 209, 31, 31), 1},
        {2, typeid(gui::COnOffButton), CRect::FromSize(88, 310, 115, 188), 2},
        {3, typeid(gui::CAnimKnob), CRect::FromSize(148, 251, 54, 54), 3},
        {4, typeid(gui::COnOffButton), CRect::FromSize(263, 310, 128, 188), 4},
        {5, typeid(gui::CAnimKnob), CRect::FromSize(308, 251, 62, 54), 5},
        {6, typeid(gui::COnOffButton), CRect::FromSize(543, 209, 34, 31), 6},
        {7, typeid(gui::COnOffButton), CRect::FromSize(600, 310, 144, 188), 7},
        {8, typeid(gui::COnOffButton), CRect::FromSize(431, 310, 134, 188), 8},
        {9, typeid(gui::CAnimKnob), CRect::FromSize(471, 251, 56, 54), 9},
        {10, typeid(gui::COnOffButton), CRect::FromSize(765, 310, 156, 188), 10},
        {11, typeid(gui::CAnimKnob), CRect::FromSize(631, 251, 57, 54), 11},
        {12, typeid(gui::CAnimKnob), CRect::FromSize(789, 251, 57, 54), 12},
        {13, typeid(gui::CVuMeter), CRect::FromSize(610, 194, 279, 27), 0},
        {14, typeid(gui::CVuMeter), CRect::FromSize(610, 222, 279, 28), 0},
        {15, typeid(gui::CMovieBitmap), CRect::FromSize(121, 279, 20, 20), 15},
        {16, typeid(gui::CMovieBitmap), CRect::FromSize(872, 283, 22, 18), 16},
        {17, typeid(gui::CMovieBitmap), CRect::FromSize(230, 284, 18, 16), 17},
        {18, typeid(gui::CKickButton), CRect::FromSize(968, 0, 54, 27), 18},
    };
    // The eighteen controls, the cabinet IR badge on the grille, the tuner's button and panel.
    ASSERT_EQ(view->getFrame()->getNbViews(), 21u);
    const gui::CControl* badge = view->getImpulseBadge();
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->getViewSize(), CRect::FromSize(292, 694, 440, 40));
    ASSERT_NE(view->getTunerButton(), nullptr);
    ASSERT_NE(view->getTunerPanel(), nullptr);
    for (const gui::CControl* added : {badge, static_cast<const gui::CControl*>(view->getTunerButton()),
                                       static_cast<const gui::CControl*>(view->getTunerPanel())}) {
        for (const Expected& e : expected)
            EXPECT_FALSE(e.rect.overlaps(added->getViewSize())) << "overlaps " << e.id;
        if (added != badge) {
            EXPECT_FALSE(added->getViewSize().overlaps(badge->getViewSize()));
        }
    }
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        gui::CControl* c = control(e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(typeid(*c), e.type);
        EXPECT_EQ(c->getViewSize(), e.rect);
        EXPECT_EQ(c->getTag(), e.tag);
        EXPECT_EQ(c->getListener() == nullptr, e.tag == 0);
        ASSERT_TRUE(c->getBackground() && c->getBackground()->isLoaded());
        EXPECT_EQ(c->getBackground()->getWidth(), e.rect.width());
        for (const Expected& other : expected) {
            if (other.id != e.id) {
                EXPECT_FALSE(e.rect.overlaps(other.rect)) << "overlaps " << other.id;
            }
        }
    }
    EXPECT_EQ(control(kBypass), nullptr);
    ViewRect size;
    view->getSize(&size);
    EXPECT_EQ(size.getWidth(), 1024);
    EXPECT_EQ(size.getHeight(), 768);
}

TEST_F(EditorViewTest, OpeningAnOpenViewFailsAndCreatesNothing)
{
    ASSERT_TRUE(attach());
    gui::CFrame* frame = view->getFrame();
    gui::CControl* knob = control(kDistortionLevel);
    EXPECT_FALSE(view->open(&kParentWindow));
    EXPECT_EQ(view->getFrame(), frame);
    EXPECT_EQ(frame->getNbViews(), 21u);
    EXPECT_EQ(control(kDistortionLevel), knob);
    EXPECT_NE(view->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    EXPECT_EQ(controller->Views().size(), 1u);
}

TEST_F(EditorViewTest, OpenShowsTheControllersValuesAndParksIndicatorsUntilTheFirstTick)
{
    controller->setParamNormalized(kDistortionLevel, 0.3);
    controller->setParamNormalized(kDelayOnOff, 0.0);
    controller->setParamNormalized(kOutputLeftVumeter, 0.5);
    controller->setParamNormalized(kInputClippingLed, 1.0);
    ASSERT_TRUE(attach());
    EXPECT_FLOAT_EQ(control(kDistortionLevel)->getValue(), 0.3f);
    EXPECT_EQ(control(kDelayOnOff)->getValue(), 0.0f);
    EXPECT_FLOAT_EQ(control(kCompressorLevel)->getValue(), 0.8f);
    EXPECT_TRUE(showsImage(kDelayOnOff, 0));
    EXPECT_TRUE(showsImage(kReverbOnOff, 1));
    EXPECT_EQ(meter(kOutputLeftVumeter)->getValue(), 0.0f);
    EXPECT_EQ(control(kInputClippingLed)->getValue(), 0.0f);
    EXPECT_TRUE(showsImage(kInputClippingLed, 0));
    EXPECT_EQ(view->getPendingValue(kOutputLeftVumeter), 0.5f);
    view->onTimer();
    EXPECT_EQ(meter(kOutputLeftVumeter)->getValue(), 0.75f);
    EXPECT_TRUE(showsImage(kInputClippingLed, 1));
}

TEST_F(EditorViewTest, FindParameterAnswersControlsButNotMetersOrAClosedView)
{
    Vst::ParamID id = 0;
    EXPECT_EQ(view->findParameter(500, 220, id), kResultFalse);
    ASSERT_TRUE(attach());
    ASSERT_EQ(view->findParameter(500, 220, id), kResultOk);
    EXPECT_EQ(id, kInputSelection);
    EXPECT_EQ(view->findParameter(700, 200, id), kResultFalse); // the left meter
    EXPECT_EQ(view->findParameter(130, 288, id), kResultFalse); // an LED
    ASSERT_EQ(view->findParameter(1000, 10, id), kResultOk);
    EXPECT_EQ(id, kButton1);
    ASSERT_EQ(view->findParameter(308, 251, id), kResultOk);
    EXPECT_EQ(id, kDistortionLevel);
    EXPECT_EQ(view->findParameter(369, 304, id), kResultOk);
    EXPECT_EQ(view->findParameter(370, 251, id), kResultFalse); // right and bottom edges lie outside
    EXPECT_EQ(view->findParameter(10, 10, id), kResultFalse);
    Vst::IParameterFinder* finder = nullptr;
    ASSERT_EQ(view->queryInterface(Vst::IParameterFinder::iid, reinterpret_cast<void**>(&finder)), kResultOk);
    finder->release();
}

TEST_F(EditorViewTest, SizeConstraintsClampToTheFixedRangeAndTheViewDoesNotResize)
{
    ViewRect tooBig(10, 20, 10 + 2000, 20 + 500);
    EXPECT_EQ(view->checkSizeConstraint(&tooBig), kResultOk);
    EXPECT_EQ(tooBig.left, 10);
    EXPECT_EQ(tooBig.top, 20);
    EXPECT_EQ(tooBig.getWidth(), 1074);
    EXPECT_EQ(tooBig.getHeight(), 768);
    ViewRect fine(0, 0, 1050, 800);
    EXPECT_EQ(view->checkSizeConstraint(&fine), kResultOk);
    EXPECT_EQ(fine.getWidth(), 1050);
    EXPECT_EQ(fine.getHeight(), 800);
    ViewRect tiny(0, 0, 10, 2000);
    view->checkSizeConstraint(&tiny);
    EXPECT_EQ(tiny.getWidth(), 1024);
    EXPECT_EQ(tiny.getHeight(), 818);
    EXPECT_EQ(view->checkSizeConstraint(nullptr), kResultFalse);
    EXPECT_EQ(view->canResize(), kResultFalse);
}

TEST_F(EditorViewTest, TurningAKnobSetsTheControllerThenPerformsTheEditWithoutBeginOrEnd)
{
    ASSERT_TRUE(attach());
    gui::CFrame* frame = view->getFrame();
    const CRect r = control(kDistortionLevel)->getViewSize();
    const gui::CPoint centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ASSERT_TRUE(frame->onMouseDown({centre, 0}));
    frame->onMouseMoved({{centre.x, centre.y - 40}, 0});
    frame->onMouseUp({{centre.x, centre.y - 40}, 0});
    const double expected = double(0.55f + 0.2f);
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].kind, "perform");
    EXPECT_EQ(handler.calls[0].id, kDistortionLevel);
    EXPECT_NEAR(handler.calls[0].value, expected, 1e-6);
    EXPECT_EQ(handler.calls[0].controllerValue, handler.calls[0].value); // set before performEdit
    EXPECT_EQ(controller->getParamNormalized(kDistortionLevel), handler.calls[0].value);

    // A switch press: one edit with the new value.
    const CRect s = control(kReverbOnOff)->getViewSize();
    frame->onMouseDown({{s.left + 5, s.top + 5}, 0});
    frame->onMouseUp({{s.left + 5, s.top + 5}, 0});
    ASSERT_EQ(handler.calls.size(), 2u);
    EXPECT_EQ(handler.calls[1].id, kReverbOnOff);
    EXPECT_EQ(handler.calls[1].value, 0.0);
    view->onTimer();
    EXPECT_TRUE(showsImage(kReverbOnOff, 0));
}

// The SDK's VirtualKeyCodes and KeyModifier values.
constexpr int16 kKeySpace = 7, kKeyUp = 12, kKeyDown = 14, kKeyPageUp = 15, kKeyPageDown = 16;
constexpr int16 kShiftKey = 1;

TEST_F(EditorViewTest, ArrowKeysTurnTheKnobUnderThePointerOrTheLastTouchedAsWholeEdits)
{
    ASSERT_TRUE(attach());
    EXPECT_EQ(view->onKeyDown(0, kKeyUp, 0), kResultFalse) << "no knob touched, none under the pointer";
    EXPECT_TRUE(handler.calls.empty());

    const CRect delay = control(kDelayLevel)->getViewSize();
    view->onMouseMoved({{delay.left + 3, delay.top + 3}, 0});
    EXPECT_EQ(view->onKeyDown(0, kKeyUp, 0), kResultTrue);
    ASSERT_EQ(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls[0].kind, "begin");
    EXPECT_EQ(handler.calls[1].kind, "perform");
    EXPECT_EQ(handler.calls[2].kind, "end");
    EXPECT_EQ(handler.calls[1].id, kDelayLevel);
    EXPECT_NEAR(handler.calls[1].value, 0.75 + 0.05, 1e-6);
    EXPECT_EQ(handler.calls[1].controllerValue, handler.calls[1].value);
    EXPECT_EQ(view->onKeyDown(0, kKeyDown, kShiftKey), kResultTrue);
    EXPECT_NEAR(handler.calls[4].value, 0.8 - 0.005, 1e-6);
    EXPECT_EQ(view->onKeyDown(0, kKeyPageDown, 0), kResultTrue);
    EXPECT_NEAR(handler.calls[7].value, 0.795 - 0.25, 1e-6);
    EXPECT_EQ(view->onKeyUp(0, kKeyPageDown, 0), kResultFalse);

    // Off the knobs, the keys go to the one last touched: a press on it is a touch.
    const CRect reverb = control(kReverbLevel)->getViewSize();
    view->onMouseDown({{reverb.left + 3, reverb.top + 3}, 0});
    view->onMouseUp({{reverb.left + 3, reverb.top + 3}, 0});
    view->onMouseMoved({{10, 700}, 0});
    handler.calls.clear();
    EXPECT_EQ(view->onKeyDown(0, kKeyPageUp, 0), kResultTrue);
    ASSERT_EQ(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls[1].id, kReverbLevel);
    EXPECT_NEAR(handler.calls[1].value, 0.55 + 0.25, 1e-6);
    view->onTimer();
    EXPECT_TRUE(showsImage(kReverbLevel, gui::SubImageIndex(0.8f, 16)));

    // At the end of its range the knob stays put, and the key is still the editor's.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(view->onKeyDown(0, kKeyPageUp, 0), kResultTrue);
    EXPECT_EQ(controller->getParamNormalized(kReverbLevel), 1.0);
    const std::size_t edits = handler.calls.size();
    EXPECT_EQ(view->onKeyDown(0, kKeyUp, 0), kResultTrue);
    EXPECT_EQ(handler.calls.size(), edits);

    // Keys the editor has no use for are the host's.
    EXPECT_EQ(view->onKeyDown(' ', kKeySpace, 0), kResultFalse);
    EXPECT_EQ(view->onKeyDown('a', 0, 0), kResultFalse);
    EXPECT_EQ(handler.calls.size(), edits);
}

TEST_F(EditorViewTest, ADoubleClickOrCtrlClickReturnsAKnobToItsDefaultAsOneEdit)
{
    ASSERT_TRUE(attach());
    controller->setParamNormalized(kCompressorLevel, 0.2);
    controller->setParamNormalized(kChorusSpeed, 0.9);
    const CRect comp = control(kCompressorLevel)->getViewSize();
    const gui::CPoint at{comp.left + 5, comp.top + 5};
    view->onMouseDown({at, 0, 1});
    view->onMouseUp({at, 0, 1});
    EXPECT_TRUE(handler.calls.empty());
    view->onMouseDown({at, 0, 2});
    // Moves before the release do not turn it away from the default again.
    view->onMouseMoved({{at.x, at.y - 30}, 0});
    view->onMouseUp({{at.x, at.y - 30}, 0});
    ASSERT_EQ(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls[0].kind, "begin");
    EXPECT_EQ(handler.calls[1].kind, "perform");
    EXPECT_EQ(handler.calls[2].kind, "end");
    EXPECT_NEAR(handler.calls[1].value, 0.8, 1e-6);
    EXPECT_NEAR(controller->getParamNormalized(kCompressorLevel), 0.8, 1e-6);

    const CRect chorus = control(kChorusSpeed)->getViewSize();
    view->onMouseDown({{chorus.left + 5, chorus.top + 5}, gui::kControl});
    view->onMouseUp({{chorus.left + 5, chorus.top + 5}, gui::kControl});
    ASSERT_EQ(handler.calls.size(), 6u);
    EXPECT_EQ(handler.calls[4].id, kChorusSpeed);
    EXPECT_NEAR(handler.calls[4].value, 0.1, 1e-6);

    // A double-click on a switch is two presses, as before.
    const CRect onOff = control(kDelayOnOff)->getViewSize();
    view->onMouseDown({{onOff.left + 5, onOff.top + 5}, 0, 2});
    view->onMouseUp({{onOff.left + 5, onOff.top + 5}, 0, 2});
    ASSERT_EQ(handler.calls.size(), 7u);
    EXPECT_EQ(handler.calls[6].kind, "perform");
    EXPECT_EQ(handler.calls[6].value, 0.0);
}

TEST_F(EditorViewTest, TheAboutButtonOpensTheDialogOncePerPressAndEditsNothing)
{
    ASSERT_TRUE(attach());
    gui::CFrame* frame = view->getFrame();
    for (int press = 1; press <= 2; ++press) {
        frame->onMouseDown({{990, 10}, 0});
        EXPECT_EQ(view->dialogs.size(), std::size_t(press));
        frame->onMouseUp({{990, 10}, 0});
        EXPECT_EQ(view->dialogs.size(), std::size_t(press));
    }
    EXPECT_EQ(view->dialogs, (std::vector<int>{103, 103}));
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_EQ(controller->getParamNormalized(kButton1), 0.0);
}

TEST_F(EditorViewTest, MetersShowTheLastValueOfEachTickThroughTheCurveThenDrop)
{
    ASSERT_TRUE(attach());
    controller->setParamNormalized(kOutputLeftVumeter, 0.5);
    EXPECT_EQ(meter(kOutputLeftVumeter)->getValue(), 0.0f); // nothing shown before the tick
    view->onTimer();
    EXPECT_EQ(meter(kOutputLeftVumeter)->getValue(), 0.75f);
    EXPECT_EQ(meter(kOutputLeftVumeter)->getDisplayedValue(), 0.75f);
    EXPECT_EQ(view->getPendingValue(kOutputLeftVumeter), 0.0f);
    std::vector<float> shown;
    for (int tick = 0; tick < 4; ++tick) {
        view->onTimer();
        EXPECT_EQ(meter(kOutputLeftVumeter)->getValue(), 0.0f);
        shown.push_back(meter(kOutputLeftVumeter)->getDisplayedValue());
    }
    EXPECT_NEAR(shown[0], 0.65f, 1e-6f);
    EXPECT_NEAR(shown[1], 0.55f, 1e-6f);
    EXPECT_NEAR(shown[3], 0.35f, 1e-6f);

    for (double v : {0.9, 0.2, 0.4})
        controller->setParamNormalized(kOutputRightVumeter, v);
    view->onTimer();
    EXPECT_FLOAT_EQ(meter(kOutputRightVumeter)->getValue(), 0.64f);
    EXPECT_EQ(meter(kOutputRightVumeter)->getDisplayedValue(), meter(kOutputRightVumeter)->getValue());
    EXPECT_EQ(meter(kOutputLeftVumeter)->getDisplayedValue(), shown[3] - 0.1f);
}

TEST_F(EditorViewTest, LedsHoldTheirStateUntilAValueBelowOneHalfArrives)
{
    ASSERT_TRUE(attach());
    controller->setParamNormalized(kOuputClippingLed, 1.0);
    for (int tick = 0; tick < 5; ++tick) {
        view->onTimer();
        EXPECT_TRUE(showsImage(kOuputClippingLed, 1)) << tick;
    }
    controller->setParamNormalized(kOuputClippingLed, 0.5);
    view->onTimer();
    EXPECT_TRUE(showsImage(kOuputClippingLed, 1));
    controller->setParamNormalized(kOuputClippingLed, 0.49);
    view->onTimer();
    EXPECT_TRUE(showsImage(kOuputClippingLed, 0));
    view->update(kCompressionLed, 3.0); // above full scale counts as on
    view->onTimer();
    EXPECT_TRUE(showsImage(kCompressionLed, 1));
}

TEST_F(EditorViewTest, RenderedPixelsShowTheImageEachValueSelects)
{
    ASSERT_TRUE(attach());
    const struct {
        ParamID id;
        double value;
        int image;
    } cases[] = {{kCompressorLevel, 0.0, 0},  {kCompressorLevel, 1.0, 15}, {kChorusSpeed, 0.5, 8},
                 {kReverbLevel, 0.2, 3},      {kDelayLevel, 1.5, 15},      {kInputSelection, 0.0, 0},
                 {kInputSelection, 1.0, 1},   {kStereoEnhancerOnOff, 0.0, 0}, {kGateCompressorOnOff, 1.0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " at " + std::to_string(c.value));
        controller->setParamNormalized(c.id, c.value);
        view->onTimer();
        EXPECT_TRUE(showsImage(c.id, c.image));
    }
    // The About button and the background outside every control.
    EXPECT_TRUE(showsImage(kButton1, 0));
    const gui::CBitmap background(150);
    EXPECT_EQ(pixel(20, 700)[0], background.pixel(20, 700)[0]);
}

TEST(EditorArtwork, KnobLabelsOnTheSwitchTilesKeepClearOfTheTileBorders)
{
    // The cream lettering must not run into the tile's border stroke, 6 pixels in from each side.
    constexpr int kBorderInset = 6, kClearance = 5, kLabelTop = 8, kLabelBottom = 22;
    for (int id : {107, 108, 109, 110, 111}) {
        const gui::CBitmap strip(id);
        ASSERT_TRUE(strip.isLoaded());
        const int w = strip.getWidth();
        for (int frame = 0; frame < 2; ++frame) {
            const int top = frame * strip.getHeight() / 2;
            for (int y = top + kLabelTop; y < top + kLabelBottom; ++y)
                for (int x : {kBorderInset, w - kBorderInset - kClearance})
                    for (int dx = 0; dx < kClearance; ++dx) {
                        const std::uint8_t* p = strip.pixel(x + dx, y);
                        EXPECT_FALSE(p[0] > 160 && p[1] > 150 && p[2] > 120)
                            << "bitmap " << id << " lettering at " << x + dx << ", " << y;
                    }
        }
    }
}

TEST_F(EditorViewTest, ForceRefreshRepaintsEverythingAndChangesNoValue)
{
    ASSERT_TRUE(attach());
    controller->setParamNormalized(kOutputLeftVumeter, 0.8);
    controller->setParamNormalized(kCompressionLed, 1.0);
    view->onTimer();
    const std::vector<std::uint8_t> before = view->getFrame()->getOffscreen().pixels();
    std::vector<float> values;
    for (ParamID id = 1; id <= 18; ++id)
        values.push_back(control(id)->getValue());
    const std::size_t draws = view->getFrame()->getDrawCount();

    // The controller sends it after restoring its own state.
    Steinberg::MemoryStream stream;
    ASSERT_EQ(controller->getState(&stream), kResultOk);
    stream.seek(0, IBStream::kIBSeekSet, nullptr);
    view->Notify(CorvexEditorViewBase::kForceRefresh);
    // The eighteen controls, the badge and the tuner's button and panel.
    EXPECT_EQ(view->getFrame()->getDrawCount(), draws + 21);
    EXPECT_TRUE(view->getFrame()->getDirtyRegion().empty());
    for (ParamID id = 1; id <= 18; ++id)
        EXPECT_EQ(control(id)->getValue(), values[id - 1]) << id;
    EXPECT_EQ(view->getFrame()->getOffscreen().pixels(), before);
    EXPECT_EQ(view->getPendingValue(kCompressionLed), 1.0f);

    ASSERT_EQ(controller->setState(&stream), kResultOk);
    EXPECT_EQ(view->getFrame()->getDrawCount(), draws + 42);
}

TEST_F(EditorViewTest, TheTimerRunsOnlyWhileAttachedAndClosingForgetsEverything)
{
    EXPECT_EQ(view->getIdleRate(), 50);
    EXPECT_FALSE(view->isTimerRunning());
    view->onTimer(); // no frame, nothing to do
    view->update(kOutputLeftVumeter, 0.7);
    EXPECT_EQ(view->getPendingValue(kOutputLeftVumeter), 0.0f); // closed views store nothing
    ASSERT_TRUE(attach());
    EXPECT_TRUE(view->isTimerRunning());
    view->update(kOutputLeftVumeter, 0.7);
    ASSERT_EQ(view->removed(), kResultOk);
    EXPECT_FALSE(view->isTimerRunning());
    EXPECT_EQ(view->getFrame(), nullptr);
    EXPECT_EQ(view->getPendingValue(kOutputLeftVumeter), 0.0f);
    EXPECT_EQ(control(kCompressorLevel), nullptr);
    EXPECT_TRUE(controller->Views().empty());
    view->update(kCompressorLevel, 0.1); // ignored: no control
    EXPECT_NE(view->attached(nullptr, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    EXPECT_NE(view->attached(&kParentWindow, "HWND"), kResultOk);
}

TEST(EditorView, TheControllerCreatesOnlyTheViewNamedEditorAndFeedsEveryOpenOne)
{
    auto* controller = new CorvexController();
    ASSERT_EQ(controller->initialize(nullptr), kResultOk);
    EXPECT_EQ(controller->createView("Editor"), nullptr);
    IPlugView* first = controller->createView("editor");
    IPlugView* second = controller->createView("editor");
    ASSERT_NE(first, nullptr);
    auto* a = dynamic_cast<CorvexEditorView*>(first);
    auto* b = dynamic_cast<CorvexEditorView*>(second);
    ASSERT_TRUE(a && b);
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(first->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
        ASSERT_EQ(first->removed(), kResultOk);
    }
    ASSERT_EQ(first->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    ASSERT_EQ(second->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    EXPECT_EQ(controller->Views().size(), 2u);
    EXPECT_EQ(controller->setParamNormalized(kCompressorLevel, 1.5), kResultOk);
    EXPECT_EQ(a->getControl(kCompressorLevel)->getValue(), 1.5f);
    EXPECT_EQ(b->getControl(kCompressorLevel)->getValue(), 1.5f);
    EXPECT_EQ(controller->getParamNormalized(kCompressorLevel), 1.0);
    first->removed();
    // Released while attached: it leaves the controller's list on its own.
    second->release();
    EXPECT_TRUE(controller->Views().empty());
    first->release();
    controller->terminate();
    controller->release();
}

// A host of the parameters that is no VST 3 controller: what the view reads and sends.
class FakeParameters : public CParameterAccess {
public:
    double values[kParamTableSize] = {};
    std::vector<std::string>* log = nullptr;

    double getParamNormalized(ParamID id) const override { return IsParameter(id) ? values[id] : 0.0; }
    double getDefaultNormalized(ParamID id) const override
    {
        return IsParameter(id) ? double(kParamInfos[id].defaultValue) : 0.0;
    }
    void beginEdit(ParamID id) override { log->push_back("begin " + std::to_string(id)); }
    void performEdit(ParamID id, double value) override
    {
        values[id] = value;
        log->push_back("perform " + std::to_string(id) + " " + std::to_string(value));
    }
    void endEdit(ParamID id) override { log->push_back("end " + std::to_string(id)); }
};

TEST(EditorView, AViewWithoutAControllerReadsAndEditsThroughItsParameterAccess)
{
    std::vector<std::string> log;
    auto parameters = std::make_unique<FakeParameters>();
    parameters->log = &log;
    parameters->values[kDistortionLevel] = 0.25;
    parameters->values[kDelayOnOff] = 0.0;
    parameters->values[kCompressionLed] = 1.0;
    auto* view = new CorvexEditorView(std::move(parameters));
    ASSERT_EQ(view->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    EXPECT_EQ(view->getControl(kDistortionLevel)->getValue(), 0.25f);
    EXPECT_EQ(view->getControl(kDelayOnOff)->getValue(), 0.0f);
    EXPECT_EQ(view->getControl(kReverbOnOff)->getValue(), 0.0f); // the host's value, not the default
    EXPECT_EQ(view->getPendingValue(kCompressionLed), 1.0f);

    const CRect s = view->getControl(kDelayOnOff)->getViewSize();
    view->getFrame()->onMouseDown({{s.left + 5, s.top + 5}, 0});
    view->getFrame()->onMouseUp({{s.left + 5, s.top + 5}, 0});
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "perform 7 1.000000");
    EXPECT_EQ(view->getParameterAccess().getParamNormalized(kDelayOnOff), 1.0);
    EXPECT_EQ(view->removed(), kResultOk);
    view->release();
}

TEST_F(EditorViewTest, TheControllersParameterAccessReportsDefaultsAndPassesGesturesToTheHost)
{
    CParameterAccess& access = view->getParameterAccess();
    controller->setParamNormalized(kCompressorLevel, 0.3);
    EXPECT_EQ(access.getParamNormalized(kCompressorLevel), 0.3);
    EXPECT_EQ(access.getDefaultNormalized(kCompressorLevel), double(0.8f));
    EXPECT_EQ(access.getDefaultNormalized(kStereoEnhancerOnOff), 0.0);
    access.beginEdit(kChorusSpeed);
    access.performEdit(kChorusSpeed, 0.6);
    access.endEdit(kChorusSpeed);
    ASSERT_EQ(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls[0].kind, "begin");
    EXPECT_EQ(handler.calls[1].kind, "perform");
    EXPECT_EQ(handler.calls[1].value, 0.6);
    EXPECT_EQ(handler.calls[1].controllerValue, 0.6); // stored before the host hears of it
    EXPECT_EQ(handler.calls[2].kind, "end");
    EXPECT_EQ(handler.calls[2].id, kChorusSpeed);
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// The view at a host's content scale factor, offscreen.
class ScaledEditorTest : public ViewFixture<::testing::TestWithParam<double>, CorvexEditorView> {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ViewFixture::SetUp());
        IPlugViewContentScaleSupport* scaling = nullptr;
        ASSERT_EQ(view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scaling)), kResultOk);
        ASSERT_EQ(scaling->setContentScaleFactor(float(GetParam())), kResultTrue);
        scaling->release();
    }
    int device(int v) const { return int(std::floor(v * GetParam() + 0.5)); }
    const gui::COffscreenContext& pixels() const { return view->getFrame()->getOffscreen(); }
};

TEST_P(ScaledEditorTest, SizesAgreeAndTheScreenshotIsThePanelAtThatScale)
{
    const double s = GetParam();
    ViewRect size;
    ASSERT_EQ(view->getSize(&size), kResultOk);
    EXPECT_EQ(size.getWidth(), int(std::lround(1024 * s)));
    EXPECT_EQ(size.getHeight(), int(std::lround(768 * s)));
    EXPECT_EQ(view->canResize(), kResultFalse);
    ViewRect small(0, 0, 100, 100);
    EXPECT_EQ(view->checkSizeConstraint(&small), kResultOk);
    EXPECT_EQ(small.getWidth(), size.getWidth());
    EXPECT_EQ(small.getHeight(), size.getHeight());
    ViewRect same = size;
    EXPECT_EQ(view->onSize(&same), kResultTrue);
    if (s > 1.0) {
        ViewRect unscaled(0, 0, 1024, 768);
        EXPECT_EQ(view->onSize(&unscaled), kResultFalse);
    }

    ASSERT_TRUE(attach());
    view->onTimer();
    EXPECT_EQ(pixels().getWidth(), size.getWidth());
    EXPECT_EQ(pixels().getHeight(), size.getHeight());
    // The screenshot of this factor, kept beside the test for a reader to look at.
    std::vector<unsigned char> png;
    ASSERT_TRUE(gui::EncodePng(pixels().getWidth(), pixels().getHeight(), pixels().pixels(), png));
    const std::string name = "editor-scale-" + std::to_string(int(s * 100)) + ".png";
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));

    // A patch of the plain panel: at 1 and 2 exactly the bitmap drawn for that size, at 1.5 the
    // double-size drawing averaged down, within a few levels of the single-size one.
    const gui::CBitmap background(editor::kBackgroundBitmap, s == 1.0 ? 1 : 2);
    const gui::CBitmap single(editor::kBackgroundBitmap);
    int worst = 0;
    for (int y = 60; y < 90; ++y)
        for (int x = 100; x < 140; ++x)
            for (int c = 0; c < 3; ++c) {
                const int shown = pixels().pixel(device(x), device(y))[c];
                const int drawn = s == 1.0 || s == 2.0 ? background.pixel(int(x * s), int(y * s))[c]
                                                       : single.pixel(x, y)[c];
                worst = std::max(worst, std::abs(shown - drawn));
            }
    EXPECT_LE(worst, s == 1.0 || s == 2.0 ? 0 : 6);
}

TEST_P(ScaledEditorTest, EveryDevicePixelOfAControlFindsThatControlAndAClickThereEditsIt)
{
    ASSERT_TRUE(attach());
    for (ParamID id = kInputSelection; id <= kButton1; ++id) {
        if (IsIndicator(id))
            continue;
        const CRect r = view->getControl(id)->getViewSize();
        const CRect d{device(r.left), device(r.top), device(r.right), device(r.bottom)};
        Vst::ParamID found = 0;
        for (const gui::CPoint p : {gui::CPoint{d.left, d.top}, gui::CPoint{d.right - 1, d.bottom - 1},
                                    gui::CPoint{d.left, d.bottom - 1}, gui::CPoint{d.right - 1, d.top}}) {
            ASSERT_EQ(view->findParameter(p.x, p.y, found), kResultOk) << id;
            EXPECT_EQ(found, id) << "at " << p.x << ", " << p.y;
        }
        // The device pixels just outside belong to something else.
        for (const gui::CPoint p : {gui::CPoint{d.left - 1, d.top}, gui::CPoint{d.right, d.bottom - 1},
                                    gui::CPoint{d.left, d.top - 1}, gui::CPoint{d.right - 1, d.bottom}})
            EXPECT_FALSE(view->findParameter(p.x, p.y, found) == kResultOk && found == id) << p.x << ", " << p.y;
    }
    // A click at a switch's last device pixel switches that switch.
    const CRect reverb = view->getControl(kReverbOnOff)->getViewSize();
    const gui::CPoint corner{device(reverb.right) - 1, device(reverb.bottom) - 1};
    view->onMouseDown({corner, 0});
    view->onMouseUp({corner, 0});
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].id, kReverbOnOff);
    // A drag turns a knob by layout pixels: 40 of them at any scale.
    const CRect knob = view->getControl(kDistortionLevel)->getViewSize();
    const gui::CPoint centre{device((knob.left + knob.right) / 2), device((knob.top + knob.bottom) / 2)};
    view->onMouseDown({centre, 0});
    view->onMouseUp({{centre.x, centre.y - device(40)}, 0});
    ASSERT_EQ(handler.calls.size(), 2u);
    EXPECT_EQ(handler.calls[1].id, kDistortionLevel);
    EXPECT_NEAR(handler.calls[1].value, 0.55 + 0.2, 0.006);
}

// 1.1 makes fractional sizes (1126.4 x 844.8): they round, to 1126 x 845.
INSTANTIATE_TEST_SUITE_P(Factors, ScaledEditorTest, ::testing::Values(1.0, 1.1, 1.5, 2.0));

class TunerEditorTest : public ScaledEditorTest {
protected:
    void click(const CRect& r)
    {
        const gui::CPoint p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        view->getFrame()->onMouseDown({p, 0});
        view->getFrame()->onMouseUp({p, 0});
        view->onTimer();
    }
    // The device pixel at layout (x, y), as 0xRRGGBB.
    unsigned at(int x, int y) const
    {
        const std::uint8_t* p = pixels().pixel(device(x), device(y));
        return unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2];
    }
    static unsigned rgb(gui::CColor c) { return unsigned(c.red) << 16 | unsigned(c.green) << 8 | c.blue; }
    // The panel's rectangle shows the grille of the background bitmap drawn for this scale.
    bool showsGrille(const CRect& r) const
    {
        const int s = int(GetParam());
        const gui::CBitmap background(editor::kBackgroundBitmap, s);
        for (int y = device(r.top); y < device(r.bottom); ++y)
            for (int x = device(r.left); x < device(r.right); ++x)
                if (std::memcmp(pixels().pixel(x, y), background.pixel(x, y), 3) != 0)
                    return false;
        return true;
    }
};

// The TUNER button shows the tuner over the grille and hides it again; the needle stands at the
// reading's cents, green in the in-tune zone, and is gone with no pitch; the mute toggle (on at
// first) and the reference's buttons change what the host side is asked for.
TEST_P(TunerEditorTest, ShowsTheReadingOverTheGrille)
{
    ASSERT_TRUE(attach());
    view->onTimer();
    const CRect panel = view->getTunerPanel()->getViewSize();
    EXPECT_FALSE(view->isTunerShown());
    EXPECT_TRUE(showsGrille(panel));
    click(view->getTunerButton()->getViewSize());
    ASSERT_TRUE(view->isTunerShown());
    EXPECT_TRUE(view->getTunerMute());
    EXPECT_FALSE(showsGrille(panel));

    const int scaleLeft = panel.left + 30, scaleMiddle = panel.top + 77; // 5 pixels a cent
    const struct {
        double cents;
        bool inTune;
    } readings[] = {{20.0, false}, {-1.5, true}, {-40.0, false}};
    for (const auto& r : readings) {
        SCOPED_TRACE(r.cents);
        view->showTunerReading({true, 110.0 * std::exp2(r.cents / 1200.0), 45, r.cents});
        view->onTimer();
        EXPECT_EQ(view->getTunerPanel()->inTune(), r.inTune);
        const unsigned needle = rgb(r.inTune ? CTunerPanel::kInTuneColor : CTunerPanel::kTextColor);
        EXPECT_EQ(at(scaleLeft + int(std::lround((r.cents + 50.0) * 5.0)), scaleMiddle), needle);
    }
    view->showTunerReading({});
    view->onTimer();
    for (int x = scaleLeft; x <= scaleLeft + 500; ++x)
        ASSERT_NE(at(x, scaleMiddle), rgb(CTunerPanel::kTextColor)) << "a needle with no pitch at " << x;

    click(view->getTunerPanel()->muteRect());
    EXPECT_FALSE(view->getTunerMute());
    click(view->getTunerPanel()->referenceUpRect());
    click(view->getTunerPanel()->referenceUpRect());
    click(view->getTunerPanel()->referenceDownRect());
    EXPECT_EQ(view->getTunerReference(), 441.0);
    click(view->getTunerButton()->getViewSize());
    EXPECT_FALSE(view->isTunerShown());
    EXPECT_TRUE(showsGrille(panel));
}

INSTANTIATE_TEST_SUITE_P(Factors, TunerEditorTest, ::testing::Values(1.0, 2.0));

TEST(EditorScaling, At200PercentAKnobIsTheDoubleSizeDrawingNotABlownUpOne)
{
    auto* controller = new CorvexController();
    ASSERT_EQ(controller->initialize(nullptr), kResultOk);
    auto* view = new CorvexEditorView(controller);
    ASSERT_EQ(view->setContentScaleFactor(2.0f), kResultTrue);
    ASSERT_EQ(view->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    const gui::COffscreenContext& shown = view->getFrame()->getOffscreen();
    const CRect r = view->getControl(kDistortionLevel)->getViewSize();
    const int frame = gui::SubImageIndex(0.55f, editor::kKnobFrames);
    const gui::CBitmap sharp(116, 2), single(116);
    ASSERT_EQ(sharp.getWidth(), 2 * r.width());
    int differing = 0, blownUp = 0;
    for (int y = 0; y < 2 * r.height(); ++y)
        for (int x = 0; x < 2 * r.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int value = shown.pixel(2 * r.left + x, 2 * r.top + y)[c];
                differing += value != sharp.pixel(x, 2 * r.height() * frame + y)[c];
                blownUp += value != single.pixel(x / 2, r.height() * frame + y / 2)[c];
            }
    EXPECT_EQ(differing, 0);
    // The knob's edges and pointer differ from pixel doubling in a good share of the pixels.
    EXPECT_GT(blownUp, 2 * r.width() * r.height());
    view->removed();
    view->release();
    controller->terminate();
    controller->release();
}

TEST(EditorScaling, AHostFactorOutsideHalfToFourTimesIsRefusedAndChangesNothing)
{
    auto* controller = new CorvexController();
    ASSERT_EQ(controller->initialize(nullptr), kResultOk);
    auto* view = new CorvexEditorView(controller);
    for (float edge : {0.5f, 4.0f}) {
        EXPECT_EQ(view->setContentScaleFactor(edge), kResultTrue) << edge;
        ViewRect size;
        ASSERT_EQ(view->getSize(&size), kResultOk);
        EXPECT_EQ(size.getWidth(), int(1024 * edge));
    }
    ASSERT_EQ(view->setContentScaleFactor(1.5f), kResultTrue);
    ASSERT_EQ(view->attached(&kParentWindow, CEditorBase::kPlatformTypeOffscreen), kResultOk);
    for (float bad : {0.0f, 0.25f, 0.49f, 4.01f, 8.0f, -1.5f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(view->setContentScaleFactor(bad), kResultFalse);
        ViewRect size;
        ASSERT_EQ(view->getSize(&size), kResultOk);
        EXPECT_EQ(size.getWidth(), 1536);
        EXPECT_EQ(size.getHeight(), 1152);
        EXPECT_EQ(view->getFrame()->getOffscreen().getWidth(), 1536);
        EXPECT_EQ(view->getContentScale(), 1.5);
    }
    view->removed();
    view->release();
    controller->terminate();
    controller->release();
}

TEST(EditorScaling, TheScaleVariableNamesANumberInRange)
{
    EXPECT_EQ(CEditorBase::ParseScale("1.5"), 1.5);
    EXPECT_EQ(CEditorBase::ParseScale("2"), 2.0);
    EXPECT_EQ(CEditorBase::ParseScale(""), 0.0);
    EXPECT_EQ(CEditorBase::ParseScale(nullptr), 0.0);
    EXPECT_EQ(CEditorBase::ParseScale("2x"), 0.0);
    EXPECT_EQ(CEditorBase::ParseScale("0.1"), 0.0);
    EXPECT_EQ(CEditorBase::ParseScale("9"), 0.0);
    EXPECT_EQ(CEditorBase::ParseScale("nan"), 0.0);
}

} // namespace
} // namespace corvex
