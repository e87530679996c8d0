#include "cabinet/RealFft.h"

#include <fftw3.h>

#include <mutex>
#include <new>

namespace corvex {
namespace {

// FFTW's planner shares state between plans: one plan at a time in the whole process.
std::mutex& PlannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

struct CRealFft::Impl {
    float* afTime = nullptr;
    fftwf_complex* aSpectrum = nullptr;
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;

    ~Impl()
    {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        if (forward)
            fftwf_destroy_plan(forward);
        if (inverse)
            fftwf_destroy_plan(inverse);
        fftwf_free(afTime);
        fftwf_free(aSpectrum);
    }
};

CRealFft::CRealFft(int iSize) : m_iSize(iSize), m_pImpl(std::make_unique<Impl>())
{
    if (iSize < 2 || iSize % 2 != 0)
        throw std::bad_alloc();
    Impl& impl = *m_pImpl;
    impl.afTime = fftwf_alloc_real(static_cast<size_t>(iSize));
    impl.aSpectrum = fftwf_alloc_complex(static_cast<size_t>(Bins()));
    if (!impl.afTime || !impl.aSpectrum)
        throw std::bad_alloc();
    {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        // Estimated plans: measuring would take far longer than a load may, and gives results
        // that vary from run to run.
        impl.forward = fftwf_plan_dft_r2c_1d(iSize, impl.afTime, impl.aSpectrum, FFTW_ESTIMATE);
        impl.inverse = fftwf_plan_dft_c2r_1d(iSize, impl.aSpectrum, impl.afTime, FFTW_ESTIMATE);
    }
    if (!impl.forward || !impl.inverse)
        throw std::bad_alloc();
}

CRealFft::~CRealFft() = default;

void CRealFft::Forward(const float* afTime, float* afRe, float* afIm)
{
    Impl& impl = *m_pImpl;
    for (int i = 0; i < m_iSize; ++i)
        impl.afTime[i] = afTime[i];
    fftwf_execute_dft_r2c(impl.forward, impl.afTime, impl.aSpectrum);
    const int iBins = Bins();
    for (int k = 0; k < iBins; ++k) {
        afRe[k] = impl.aSpectrum[k][0];
        afIm[k] = impl.aSpectrum[k][1];
    }
}

void CRealFft::Inverse(const float* afRe, const float* afIm, float* afTime)
{
    Impl& impl = *m_pImpl;
    const int iBins = Bins();
    for (int k = 0; k < iBins; ++k) {
        impl.aSpectrum[k][0] = afRe[k];
        impl.aSpectrum[k][1] = afIm[k];
    }
    // The complex-to-real transform overwrites its input; it is the object's own copy.
    fftwf_execute_dft_c2r(impl.inverse, impl.aSpectrum, impl.afTime);
    for (int i = 0; i < m_iSize; ++i)
        afTime[i] = impl.afTime[i];
}

const char* CRealFft::Backend()
{
    return "fftw";
}

} // namespace corvex
