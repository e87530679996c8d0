#include "cabinet/RealFft.h"

#include <complex>
#include <new>
#include <vector>

#include <unsupported/Eigen/FFT>

namespace corvex {

struct CRealFft::Impl {
    Eigen::FFT<float> fft;
    std::vector<float> afTime;
    std::vector<std::complex<float>> aSpectrum;
};

CRealFft::CRealFft(int iSize) : m_iSize(iSize), m_pImpl(std::make_unique<Impl>())
{
    if (iSize < 2 || iSize % 2 != 0)
        throw std::bad_alloc();
    Impl& impl = *m_pImpl;
    // Half spectra as FFTW gives them, and an inverse without the 1/N.
    impl.fft.SetFlag(Eigen::FFT<float>::HalfSpectrum);
    impl.fft.SetFlag(Eigen::FFT<float>::Unscaled);
    impl.afTime.assign(static_cast<size_t>(iSize), 0.0f);
    impl.aSpectrum.assign(static_cast<size_t>(Bins()), {});
    // The first transforms of a size make its twiddle tables and scratch: here, not on the
    // audio thread.
    impl.fft.fwd(impl.aSpectrum.data(), impl.afTime.data(), iSize);
    impl.fft.inv(impl.afTime.data(), impl.aSpectrum.data(), iSize);
}

CRealFft::~CRealFft() = default;

void CRealFft::Forward(const float* afTime, float* afRe, float* afIm)
{
    Impl& impl = *m_pImpl;
    impl.fft.fwd(impl.aSpectrum.data(), afTime, m_iSize);
    const int iBins = Bins();
    for (int k = 0; k < iBins; ++k) {
        afRe[k] = impl.aSpectrum[static_cast<size_t>(k)].real();
        afIm[k] = impl.aSpectrum[static_cast<size_t>(k)].imag();
    }
}

void CRealFft::Inverse(const float* afRe, const float* afIm, float* afTime)
{
    Impl& impl = *m_pImpl;
    const int iBins = Bins();
    for (int k = 0; k < iBins; ++k)
        impl.aSpectrum[static_cast<size_t>(k)] = {afRe[k], afIm[k]};
    impl.fft.inv(afTime, impl.aSpectrum.data(), m_iSize);
}

const char* CRealFft::Backend()
{
    return "eigen";
}

} // namespace corvex
