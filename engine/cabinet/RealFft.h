#pragma once

#include <memory>

namespace corvex {

// One real-to-complex transform size. The plan is made in the constructor (off the audio
// thread: planning allocates and is not thread-safe); Forward and Inverse then run on the audio
// thread without allocating. The spectrum is held split, real parts and imaginary parts each in
// Bins() floats, so that products of spectra run as plain vector loops. The engine's own transform
// rather than a library's: it gives the same bits on every system.
class CRealFft {
public:
    // iSize: a power of two, 2 or more. Throws std::bad_alloc for another size or when the memory
    // cannot be had.
    explicit CRealFft(int iSize);
    ~CRealFft();
    CRealFft(const CRealFft&) = delete;
    CRealFft& operator=(const CRealFft&) = delete;

    int Size() const { return m_iSize; }
    int Bins() const { return m_iSize / 2 + 1; }

    // Size() samples to Bins() real and imaginary parts.
    void Forward(const float* afTime, float* afRe, float* afIm);
    // Bins() real and imaginary parts to Size() samples, not normalised: a forward then an
    // inverse transform multiplies by Size().
    void Inverse(const float* afRe, const float* afIm, float* afTime);

    // The library behind the transforms, for reports and benchmarks.
    static const char* Backend();

private:
    struct Impl;
    int m_iSize;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace corvex
