// Radix-2 fast Fourier transforms of real signals, for building the
// band-limited copies of a sample. Internal to the signal core.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace fsound {
namespace fourier {

// Twiddle factors for every transform up to `largestSize` points.
struct Twiddles {
    std::size_t largestSize = 0;                 // a power of two, >= 4
    std::vector<std::complex<double>> factors;   // exp(-2 pi i k / largestSize), k in 0..largestSize/2
};

// Builds the twiddles for transforms of up to `largestSize` points (a power
// of two, >= 4).
Twiddles MakeTwiddles(std::size_t largestSize);

// Spectrum of the real signal `signal` (size n: a power of two, 4 <= n <=
// twiddles.largestSize): spectrum[k] = sum_j signal[j] exp(-2 pi i j k / n)
// for k in 0..n/2 (the rest follows by symmetry). `spectrum` is resized to
// n/2 + 1; `signal` is used as scratch and left undefined. Returns false, and
// leaves `spectrum` empty and `signal` as it was, when n is not a power of
// two in that range.
bool RealForward(std::vector<double>& signal, const Twiddles& twiddles,
                 std::vector<std::complex<double>>& spectrum);

// The unscaled inverse: given the n/2 + 1 bins of a real signal's spectrum
// (bins 0 and n/2 real), signal[j] = sum over all n bins of
// spectrum[k] exp(+2 pi i j k / n). `spectrum` is used as scratch and left
// undefined; `signal` is resized to n. n = 2 * (spectrum.size() - 1) must be
// a power of two, 4 <= n <= twiddles.largestSize; otherwise returns false,
// leaves `signal` empty and `spectrum` as it was.
bool RealInverse(std::vector<std::complex<double>>& spectrum, const Twiddles& twiddles,
                 std::vector<double>& signal);

}  // namespace fourier
}  // namespace fsound
