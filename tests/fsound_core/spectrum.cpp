#include "spectrum.h"

#include <cmath>
#include <cstddef>

namespace spectrum {
namespace {

// Not every C++ library defines M_PI in strict mode.
constexpr double kPi = 3.14159265358979323846;

using Complex = std::complex<double>;

// Plain recursive radix-2 transform; speed does not matter here.
void Transform(std::vector<Complex>& data) {
    const std::size_t n = data.size();
    if (n == 1) return;
    std::vector<Complex> even(n / 2), odd(n / 2);
    for (std::size_t i = 0; i < n / 2; ++i) {
        even[i] = data[2 * i];
        odd[i] = data[2 * i + 1];
    }
    Transform(even);
    Transform(odd);
    for (std::size_t k = 0; k < n / 2; ++k) {
        const Complex twiddle = std::polar(1.0, -2.0 * kPi * static_cast<double>(k) / static_cast<double>(n)) * odd[k];
        data[k] = even[k] + twiddle;
        data[k + n / 2] = even[k] - twiddle;
    }
}

double BlackmanHarris(std::size_t i, std::size_t n) {
    const double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
    return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
}

}  // namespace

std::vector<double> WindowedPower(const std::vector<double>& signal) {
    const std::size_t n = signal.size();
    std::vector<Complex> data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = signal[i] * BlackmanHarris(i, n);
    Transform(data);
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
    if (total <= 0.0) return -300.0;
    if (away <= 0.0) return -300.0;
    return 10.0 * std::log10(away / total);
}

double AmplitudeAt(const std::vector<double>& signal, double sampleRate, double frequency) {
    const std::size_t n = signal.size();
    Complex sum;
    double weight = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = BlackmanHarris(i, n);
        sum += signal[i] * w * std::polar(1.0, -2.0 * kPi * frequency * static_cast<double>(i) / sampleRate);
        weight += w;
    }
    return 2.0 * std::abs(sum) / weight;
}

}  // namespace spectrum
