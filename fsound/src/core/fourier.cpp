#include "fourier.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

namespace fsound {
namespace fourier {
namespace {

// Not every C++ library defines M_PI in strict mode.
constexpr double kPi = 3.14159265358979323846;

using Complex = std::complex<double>;

// std::complex's operator* checks for infinities on every call, which costs
// more than the arithmetic; these values are always finite.
Complex Multiply(Complex a, Complex b) {
    return Complex(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
}

// Multiplication by i.
Complex TimesI(Complex a) { return Complex(-a.imag(), a.real()); }

bool IsPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

// A size the real transforms take with these twiddles.
bool IsTransformSize(std::size_t n, const Twiddles& twiddles) {
    return IsPowerOfTwo(n) && n >= 4 && n <= twiddles.largestSize;
}

// Stockham transform of `count` points: each pass reads one buffer and
// writes the other in order, so no bit-reversal permutation (whose scattered
// accesses cost more than all the arithmetic on large transforms) is needed.
// Radix-4 passes, and one radix-2 pass when the size is an odd power of two.
// Forward uses exp(-i...), inverse exp(+i...), neither scales. The result is
// in `data`; `scratch` must hold `count` points.
void ComplexTransform(Complex* data, Complex* scratch, std::size_t count, bool inverse, const Twiddles& twiddles) {
    Complex* from = data;
    Complex* to = scratch;
    std::size_t length = count, group = 1;  // sub-transform length, interleaved groups
    for (; length >= 4; length /= 4, group *= 4) {
        const std::size_t quarter = length / 4;
        const std::size_t stride = twiddles.largestSize / length;
        for (std::size_t p = 0; p < quarter; ++p) {
            const Complex f = twiddles.factors[p * stride];
            const Complex g = twiddles.factors[2 * p * stride];
            const Complex w1(f.real(), inverse ? -f.imag() : f.imag());
            const Complex w2(g.real(), inverse ? -g.imag() : g.imag());
            const Complex w3 = Multiply(w1, w2);
            const Complex* in = from + p * group;
            Complex* out = to + 4 * p * group;
            for (std::size_t q = 0; q < group; ++q) {
                const Complex a = in[q], b = in[q + quarter * group];
                const Complex c = in[q + 2 * quarter * group], d = in[q + 3 * quarter * group];
                const Complex aPlusC = a + c, aMinusC = a - c, bPlusD = b + d;
                // -i (b - d) for the forward transform, +i (b - d) for the inverse.
                const Complex turned = inverse ? TimesI(b - d) : -TimesI(b - d);
                out[q] = aPlusC + bPlusD;
                out[q + group] = Multiply(w1, aMinusC + turned);
                out[q + 2 * group] = Multiply(w2, aPlusC - bPlusD);
                out[q + 3 * group] = Multiply(w3, aMinusC - turned);
            }
        }
        std::swap(from, to);
    }
    if (length == 2) {
        for (std::size_t q = 0; q < group; ++q) {
            const Complex a = from[q], b = from[q + group];
            to[q] = a + b;
            to[q + group] = a - b;
        }
        std::swap(from, to);
    }
    if (from != data) std::copy(from, from + count, data);
}

}  // namespace

Twiddles MakeTwiddles(std::size_t largestSize) {
    assert(IsPowerOfTwo(largestSize) && largestSize >= 4);
    Twiddles twiddles;
    twiddles.largestSize = largestSize;
    twiddles.factors.resize(largestSize / 2 + 1);
    // Computed on the first eighth of the circle and mirrored, so every
    // factor is as accurate as one cos/sin pair.
    const std::size_t eighth = largestSize / 8;
    const double scale = -2.0 * kPi / static_cast<double>(largestSize);
    for (std::size_t k = 0; k <= eighth; ++k) {
        const double angle = scale * static_cast<double>(k);
        const double c = std::cos(angle), s = std::sin(angle);
        twiddles.factors[k] = Complex(c, s);
        twiddles.factors[largestSize / 4 - k] = Complex(-s, -c);
        twiddles.factors[largestSize / 4 + k] = Complex(s, -c);
        twiddles.factors[largestSize / 2 - k] = Complex(-c, s);
    }
    return twiddles;
}

bool RealForward(std::vector<double>& signal, const Twiddles& twiddles,
                 std::vector<Complex>& spectrum) {
    const std::size_t n = signal.size();
    if (!IsTransformSize(n, twiddles)) {
        spectrum.clear();
        return false;
    }
    const std::size_t half = n / 2;
    // Even frames as the real part, odd frames as the imaginary part: one
    // complex transform of half the size, then split into the two halves.
    std::vector<Complex> packed(half), scratch(half);
    for (std::size_t j = 0; j < half; ++j) packed[j] = Complex(signal[2 * j], signal[2 * j + 1]);
    ComplexTransform(packed.data(), scratch.data(), half, false, twiddles);
    spectrum.assign(half + 1, Complex());
    const std::size_t stride = twiddles.largestSize / n;
    for (std::size_t k = 0; k <= half; ++k) {
        // Bins k and half - k, each taken modulo half.
        const Complex a = packed[k == half ? 0 : k];
        const Complex b = std::conj(packed[k == 0 ? 0 : half - k]);
        const Complex even = 0.5 * (a + b);
        const Complex odd = -0.5 * TimesI(a - b);
        spectrum[k] = even + Multiply(twiddles.factors[k * stride], odd);
    }
    return true;
}

bool RealInverse(std::vector<Complex>& spectrum, const Twiddles& twiddles, std::vector<double>& signal) {
    // Fewer than three bins is no power of two of at least 4 points (and an
    // empty spectrum must not wrap the size round).
    if (spectrum.size() < 3 || !IsTransformSize(2 * (spectrum.size() - 1), twiddles)) {
        signal.clear();
        return false;
    }
    const std::size_t half = spectrum.size() - 1;
    const std::size_t n = 2 * half;
    const std::size_t stride = twiddles.largestSize / n;
    // Rebuild the half-size transform of (even frames + i odd frames), in
    // place: bin k pairs with bin half - k.
    for (std::size_t k = 0; k <= half / 2; ++k) {
        const std::size_t m = half - k;
        const Complex xk = spectrum[k], xm = spectrum[m];
        const Complex evenK = xk + std::conj(xm);
        const Complex oddK = Multiply(xk - std::conj(xm), std::conj(twiddles.factors[k * stride]));
        const Complex evenM = xm + std::conj(xk);
        const Complex oddM = Multiply(xm - std::conj(xk), std::conj(twiddles.factors[m * stride]));
        spectrum[k] = evenK + TimesI(oddK);
        if (m != k && m != half) spectrum[m] = evenM + TimesI(oddM);
    }
    std::vector<Complex> scratch(half);
    ComplexTransform(spectrum.data(), scratch.data(), half, true, twiddles);
    signal.resize(n);
    for (std::size_t j = 0; j < half; ++j) {
        signal[2 * j] = spectrum[j].real();
        signal[2 * j + 1] = spectrum[j].imag();
    }
    return true;
}

}  // namespace fourier
}  // namespace fsound
