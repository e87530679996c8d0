#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/MyEffect.h"

namespace corvex::test {

using Signal = std::vector<float>;

struct Stereo {
    Signal left, right;
};

// Runs a stereo block over whole signals in host-sized slices, so that state carried from one
// call to the next is exercised; every call must succeed.
inline Stereo ProcessAll(CMyEffect& block, const Signal& inL, const Signal& inR, int iSlice = 512)
{
    Stereo out{Signal(inL.size()), Signal(inR.size())};
    const int n = static_cast<int>(inL.size());
    for (int i = 0; i < n; i += iSlice) {
        const int count = std::min(iSlice, n - i);
        EXPECT_EQ(block.Process(&inL[i], &inR[i], &out.left[i], &out.right[i], count), 1);
    }
    return out;
}

} // namespace corvex::test
