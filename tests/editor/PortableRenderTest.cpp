// The editor draws the same pixels on every system: the Linux run writes its offscreen renders
// to a file, the Windows run (under Wine, with another PNG decoder) compares its own with them.

#include "CorvexEditorView.h"
#include "CrossSystemFile.h"
#include "corvexcontroller.h"

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace corvex {
namespace {

using namespace Steinberg;

constexpr char kMagic[8] = {'C', 'V', 'X', 'R', 'G', 'B', '0', '1'};
// The plain size, the double-size artwork copied, and a factor that area-averages it.
constexpr float kScales[] = {1.0f, 2.0f, 1.25f};

std::vector<std::uint8_t> Render(float scale)
{
    auto* controller = new CorvexController();
    std::vector<std::uint8_t> pixels;
    if (controller->initialize(nullptr) == kResultOk) {
        controller->setParamNormalized(kDistortionLevel, 0.8);
        controller->setParamNormalized(kModulationOnOff, 0.0);
        controller->setParamNormalized(kInputClippingLed, 1.0);
        auto* view = new CorvexEditorView(controller);
        int parent = 0;
        if (view->setContentScaleFactor(scale) == kResultOk &&
            view->attached(&parent, CEditorBase::kPlatformTypeOffscreen) == kResultOk) {
            view->onTimer();
            pixels = view->getFrame()->getOffscreen().pixels();
            view->removed();
        }
        view->release();
        controller->terminate();
    }
    controller->release();
    return pixels;
}

#if defined(CORVEX_EDITOR_RENDER_WRITE)

TEST(PortableRender, WritesTheOffscreenRendersForOtherSystems)
{
    std::vector<std::vector<std::uint8_t>> renders;
    for (float scale : kScales) {
        renders.push_back(Render(scale));
        ASSERT_FALSE(renders.back().empty()) << "no render at " << scale;
        EXPECT_EQ(Render(scale), renders.back()) << "the render at " << scale << " is not reproducible";
    }
    ASSERT_TRUE(test::WriteRecords(CORVEX_EDITOR_RENDER_WRITE, kMagic, renders));
}

#endif

#if defined(CORVEX_EDITOR_RENDER_REFERENCE)

TEST(PortableRender, EqualsTheLinuxRendersPixelForPixel)
{
    std::vector<std::vector<std::uint8_t>> reference;
    ASSERT_TRUE(test::ReadRecords(CORVEX_EDITOR_RENDER_REFERENCE, kMagic, std::size(kScales), reference));
    for (std::size_t k = 0; k < std::size(kScales); ++k) {
        const float scale = kScales[k];
        const std::vector<std::uint8_t>& expected = reference[k];
        const auto pixels = Render(scale);
        ASSERT_EQ(pixels.size(), expected.size()) << "scale " << scale;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < pixels.size(); i += 3)
            differing += std::memcmp(&pixels[i], &expected[i], 3) != 0 ? 1 : 0;
        EXPECT_EQ(differing, 0u) << "pixels differing from the Linux render at scale " << scale;
    }
}

#endif

} // namespace
} // namespace corvex
