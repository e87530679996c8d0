#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace corvex::render {

namespace {
constexpr double kMinSecondsForBar = 5.0;
constexpr int kBarWidth = 40;
} // namespace

CProgressBar::CProgressBar(std::int64_t totalFrames, int sampleRate, bool wanted)
    : m_iTotal(totalFrames), m_iSampleRate(sampleRate),
      m_bActive(wanted && isatty(STDERR_FILENO) && totalFrames > kMinSecondsForBar * sampleRate)
{
}

void CProgressBar::Update(std::int64_t doneFrames)
{
    if (!m_bActive)
        return;
    // A stream without a length, or one longer than it said, holds at full.
    const int permille = static_cast<int>(std::min<std::int64_t>(doneFrames * 1000 / m_iTotal, 1000));
    if (permille == m_iLastPermille)
        return;
    m_iLastPermille = permille;
    const int filled = permille * kBarWidth / 1000;
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f / %.1f s", bar, permille / 10,
                 static_cast<double>(doneFrames) / m_iSampleRate, static_cast<double>(m_iTotal) / m_iSampleRate);
    std::fflush(stderr);
}

void CProgressBar::Finish()
{
    if (!m_bActive)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

} // namespace corvex::render
