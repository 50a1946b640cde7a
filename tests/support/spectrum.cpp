#include "tests/support/spectrum.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace spectrum {
namespace {

// Not every C++ library defines M_PI in strict mode.
constexpr double kPi = 3.14159265358979323846;

}  // namespace

void Fft(std::vector<std::complex<double>>& values) {
    const std::size_t size = values.size();
    for (std::size_t i = 1, j = 0; i < size; ++i) {
        std::size_t bit = size >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(values[i], values[j]);
    }
    for (std::size_t length = 2; length <= size; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * kPi / static_cast<double>(length));
        for (std::size_t start = 0; start < size; start += length) {
            std::complex<double> twiddle(1.0, 0.0);
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> even = values[start + k];
                const std::complex<double> odd = values[start + k + length / 2] * twiddle;
                values[start + k] = even + odd;
                values[start + k + length / 2] = even - odd;
                twiddle *= step;
            }
        }
    }
}

double BlackmanHarris(std::size_t i, std::size_t n) {
    const double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
    return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
}

double Hann(std::size_t i, std::size_t n) {
    return 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
}

std::vector<double> WindowedPower(const std::vector<double>& signal) {
    const std::size_t n = signal.size();
    std::vector<std::complex<double>> data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = signal[i] * BlackmanHarris(i, n);
    Fft(data);
    std::vector<double> power(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) power[k] = std::norm(data[k]);
    return power;
}

double OffHarmonicLevelDb(const std::vector<double>& signal, double sampleRate, double fundamental,
                          int guardBins) {
    const std::vector<double> power = WindowedPower(signal);
    const double binWidth = sampleRate / static_cast<double>(signal.size());
    std::vector<bool> nearHarmonic(power.size(), false);
    for (double harmonic = 0.0; harmonic < sampleRate / 2 + guardBins * binWidth; harmonic += fundamental) {
        const long centre = std::lround(harmonic / binWidth);
        for (long k = centre - guardBins; k <= centre + guardBins; ++k) {
            if (k >= 0 && k < static_cast<long>(power.size())) nearHarmonic[k] = true;
        }
    }
    double total = 0.0, away = 0.0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        total += power[k];
        if (!nearHarmonic[k]) away += power[k];
    }
    if (total <= 0.0 || away <= 0.0) return -300.0;
    return 10.0 * std::log10(away / total);
}

}  // namespace spectrum
