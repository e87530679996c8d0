#pragma once

#include <cstdint>

namespace corvex::render {

// A one-line progress bar on standard error, redrawn in place; silent unless standard error is a
// terminal and the render is long enough for waiting to be noticeable.
class CProgressBar {
public:
    CProgressBar(std::int64_t totalFrames, int sampleRate, bool wanted);
    void Update(std::int64_t doneFrames);
    // Clears the bar's line so the summary starts on a clean line.
    void Finish();
    bool Active() const { return m_bActive; }

private:
    std::int64_t m_iTotal;
    int m_iSampleRate;
    bool m_bActive;
    int m_iLastPermille = -1;
};

} // namespace corvex::render
