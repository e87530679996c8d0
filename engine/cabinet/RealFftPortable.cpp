#include "cabinet/RealFft.h"

#include <new>
#include <utility>
#include <vector>

#include "base/ExactMath.h"

// A real FFT of the engine's own, so that every system computes the same bits: a complex FFT of
// half the size (Stockham's self-sorting radix-2, on split real and imaginary parts) and the usual
// split of even and odd samples. Plain float additions and products in a fixed order; the loops
// vectorise (SSE2, AVX2, NEON) without changing any rounding, and the twiddles come from the
// engine's exact cosine and sine, reduced to the first octant so that 0, 1 and the symmetric
// values are exact.

namespace corvex {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// cos and sin of 2 pi a / n, 0 <= a < n, n a power of two.
void UnitRoot(long a, long n, float& fCos, float& fSin)
{
    if (a == 0) {
        fCos = 1.0f, fSin = 0.0f;
    } else if (2 * a > n) { // 2 pi - x
        UnitRoot(n - a, n, fCos, fSin);
        fSin = -fSin;
    } else if (4 * a > n) { // pi - x
        UnitRoot(n / 2 - a, n, fCos, fSin);
        fCos = -fCos;
    } else if (8 * a > n) { // pi/2 - x
        float fC, fS;
        UnitRoot(n / 4 - a, n, fC, fS);
        fCos = fS, fSin = fC;
    } else {
        CosSinToFloat(kTwoPi * static_cast<double>(a) / static_cast<double>(n), fCos, fSin);
    }
}

bool IsPowerOfTwo(int i)
{
    return i > 0 && (i & (i - 1)) == 0;
}

// Sums a + b, and differences (a - b) w by one twiddle w = c - i s, of `count` points.
void Butterflies(const float* __restrict ar, const float* __restrict ai, const float* __restrict br,
                 const float* __restrict bi, float* __restrict sr, float* __restrict si, float* __restrict dr,
                 float* __restrict di, float c, float s, int count)
{
    for (int q = 0; q < count; ++q) {
        const float fDr = ar[q] - br[q], fDi = ai[q] - bi[q];
        sr[q] = ar[q] + br[q];
        si[q] = ai[q] + bi[q];
        dr[q] = fDr * c + fDi * s;
        di[q] = fDi * c - fDr * s;
    }
}

// The first two stages (s = 1, 2 points a twiddle): each pair's sum and difference interleaved.
template <int S>
void FirstButterflies(const float* __restrict xr, const float* __restrict xi, float* __restrict yr,
                      float* __restrict yi, const float* __restrict c, const float* __restrict s, int m)
{
    for (int p = 0; p < m; ++p)
        for (int q = 0; q < S; ++q) {
            const int a = S * p + q, b = S * (p + m) + q, y = 2 * S * p + q;
            const float fDr = xr[a] - xr[b], fDi = xi[a] - xi[b];
            yr[y] = xr[a] + xr[b];
            yi[y] = xi[a] + xi[b];
            yr[y + S] = fDr * c[p] + fDi * s[p];
            yi[y + S] = fDi * c[p] - fDr * s[p];
        }
}

} // namespace

struct CRealFft::Impl {
    int iHalf = 0; // complex points
    // e^(-2 pi i p / L) for p < L/2, stage after stage (L = iHalf, iHalf/2, ..., 2).
    std::vector<float> afStageCos, afStageSin;
    // cos and sin of 2 pi k / Size() for k <= iHalf.
    std::vector<float> afCos, afSin;
    std::vector<float> afRe[2], afIm[2];

    // The complex FFT of afRe[0], afIm[0]; returns the buffer holding the result.
    int Transform();
};

int CRealFft::Impl::Transform()
{
    int iFrom = 0;
    const float* pfCos = afStageCos.data();
    const float* pfSin = afStageSin.data();
    for (int L = iHalf, s = 1; L > 1; L /= 2, s *= 2) {
        const int m = L / 2;
        const float* xr = afRe[iFrom].data();
        const float* xi = afIm[iFrom].data();
        float* yr = afRe[1 - iFrom].data();
        float* yi = afIm[1 - iFrom].data();
        if (s == 1) {
            FirstButterflies<1>(xr, xi, yr, yi, pfCos, pfSin, m);
        } else if (s == 2) {
            FirstButterflies<2>(xr, xi, yr, yi, pfCos, pfSin, m);
        } else {
            for (int p = 0; p < m; ++p)
                Butterflies(xr + s * p, xi + s * p, xr + s * (p + m), xi + s * (p + m), yr + 2 * s * p,
                            yi + 2 * s * p, yr + 2 * s * p + s, yi + 2 * s * p + s, pfCos[p], pfSin[p], s);
        }
        pfCos += m;
        pfSin += m;
        iFrom = 1 - iFrom;
    }
    return iFrom;
}

CRealFft::CRealFft(int iSize) : m_iSize(iSize), m_pImpl(std::make_unique<Impl>())
{
    if (iSize < 2 || !IsPowerOfTwo(iSize))
        throw std::bad_alloc();
    Impl& impl = *m_pImpl;
    const int n = iSize / 2;
    impl.iHalf = n;
    for (int L = n; L > 1; L /= 2)
        for (int p = 0; p < L / 2; ++p) {
            float c, s;
            UnitRoot(p, L, c, s);
            impl.afStageCos.push_back(c);
            impl.afStageSin.push_back(s);
        }
    impl.afCos.resize(static_cast<size_t>(n) + 1);
    impl.afSin.resize(static_cast<size_t>(n) + 1);
    for (int k = 0; k <= n; ++k)
        UnitRoot(k, iSize, impl.afCos[static_cast<size_t>(k)], impl.afSin[static_cast<size_t>(k)]);
    for (int b = 0; b < 2; ++b) {
        impl.afRe[b].assign(static_cast<size_t>(n), 0.0f);
        impl.afIm[b].assign(static_cast<size_t>(n), 0.0f);
    }
}

CRealFft::~CRealFft() = default;

void CRealFft::Forward(const float* afTime, float* afRe, float* afIm)
{
    Impl& impl = *m_pImpl;
    const int n = impl.iHalf;
    float* zr = impl.afRe[0].data();
    float* zi = impl.afIm[0].data();
    for (int j = 0; j < n; ++j) {
        zr[j] = afTime[2 * j];
        zi[j] = afTime[2 * j + 1];
    }
    const int iOut = impl.Transform();
    zr = impl.afRe[iOut].data();
    zi = impl.afIm[iOut].data();
    // X[k] = (Z[k] + conj Z[n-k]) / 2 + e^(-2 pi i k / Size) (Z[k] - conj Z[n-k]) / 2i.
    afRe[0] = zr[0] + zi[0];
    afIm[0] = 0.0f;
    afRe[n] = zr[0] - zi[0];
    afIm[n] = 0.0f;
    const float* c = impl.afCos.data();
    const float* s = impl.afSin.data();
    for (int k = 1; k < n; ++k) {
        const float er = (zr[k] + zr[n - k]) * 0.5f, ei = (zi[k] - zi[n - k]) * 0.5f;
        const float orr = (zi[k] + zi[n - k]) * 0.5f, oi = (zr[n - k] - zr[k]) * 0.5f;
        afRe[k] = er + (orr * c[k] + oi * s[k]);
        afIm[k] = ei + (oi * c[k] - orr * s[k]);
    }
}

void CRealFft::Inverse(const float* afRe, const float* afIm, float* afTime)
{
    Impl& impl = *m_pImpl;
    const int n = impl.iHalf;
    // Z[k] = X[k] + conj X[n-k] + i e^(2 pi i k / Size) (X[k] - conj X[n-k]), transformed forward
    // with its real and imaginary parts swapped: the unscaled inverse, with them swapped back.
    // The imaginary parts of X[0] and X[n] are not read, as for any real signal's spectrum.
    float* zr = impl.afIm[0].data();
    float* zi = impl.afRe[0].data();
    zr[0] = afRe[0] + afRe[n];
    zi[0] = afRe[0] - afRe[n];
    const float* c = impl.afCos.data();
    const float* s = impl.afSin.data();
    for (int k = 1; k < n; ++k) {
        const float ar = afRe[k] + afRe[n - k], ai = afIm[k] - afIm[n - k];
        const float dr = afRe[k] - afRe[n - k], di = afIm[k] + afIm[n - k];
        const float er = dr * c[k] - di * s[k], ei = dr * s[k] + di * c[k];
        zr[k] = ar - ei;
        zi[k] = ai + er;
    }
    const int iOut = impl.Transform();
    const float* xr = impl.afIm[iOut].data();
    const float* xi = impl.afRe[iOut].data();
    for (int j = 0; j < n; ++j) {
        afTime[2 * j] = xr[j];
        afTime[2 * j + 1] = xi[j];
    }
}

const char* CRealFft::Backend()
{
    return "portable";
}

} // namespace corvex
