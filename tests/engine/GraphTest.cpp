#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "graph/ProcessAudio.h"

namespace corvex {
namespace {

TEST(GraphSetup, SetParamPointerRefusesListMarkers)
{
    test::CheckRecorder checks;
    CProcessAudio graph;
    float value = 0.0f;
    EXPECT_EQ(graph.SetParamPointer(0, &value), 0);
    EXPECT_EQ(graph.SetParamPointer(20, &value), 0);
    EXPECT_EQ(checks.Count(), 2);
    EXPECT_EQ(graph.SetParamPointer(19, &value), 1);
}

} // namespace
} // namespace corvex
