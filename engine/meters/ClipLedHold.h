#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Base of the blocks that drive a clip LED: a clip lights the LED for that host block and the
// LED hold - 1 blocks after it, whatever their length; a further clip restarts the count.
class CClipLedHold : public CMyEffect {
public:
    static constexpr int kLedHoldBlocks = 200;

    // Clears the hold count.
    int Reset() override
    {
        m_iHoldCounter = 0;
        return 1;
    }

protected:
    // Counts one host block and returns the LED value for it (1.0 lit, 0.0 dark).
    float CountBlock(bool bClipped)
    {
        if (bClipped)
            m_iHoldCounter = kLedHoldBlocks;
        const float fLed = m_iHoldCounter != 0 ? 1.0f : 0.0f;
        if (--m_iHoldCounter < 0)
            m_iHoldCounter = 0;
        return fLed;
    }

private:
    int m_iHoldCounter = 0;
};

} // namespace corvex
