// Measurement tools for the tests that listen to what was played: one FFT,
// the windows, a windowed power spectrum and single-frequency amplitudes,
// written independently of the sound library's own transforms.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

namespace spectrum {

// In-place radix-2 transform of `values` (size a power of two), forward
// (e^-i), unscaled.
void Fft(std::vector<std::complex<double>>& values);

// The 4-term Blackman-Harris window (side lobes 92 dB down, main lobe four
// bins either side) and the Hann window, at sample i of n (periodic form).
double BlackmanHarris(std::size_t i, std::size_t n);
double Hann(std::size_t i, std::size_t n);

// Power of each bin 0..n/2 of `signal` (size n, a power of two) under the
// Blackman-Harris window.
std::vector<double> WindowedPower(const std::vector<double>& signal);

// Share of the power of `signal` that lies away from every multiple of
// `fundamental` (Hz, at `sampleRate` Hz): the bins within `guardBins` of
// each multiple below the Nyquist frequency are left out. In dB relative to
// the whole; -300 when the signal has no power at all.
double OffHarmonicLevelDb(const std::vector<double>& signal, double sampleRate, double fundamental,
                          int guardBins);

// Amplitude of the sinusoid at `frequency` Hz in the `length` samples at
// `signal` (Blackman-Harris weighted correlation; exact for a lone
// sinusoid); 0 for no samples.
template <typename Sample>
double AmplitudeAt(const Sample* signal, std::size_t length, double sampleRate, double frequency) {
    constexpr double kPi = 3.14159265358979323846;
    std::complex<double> sum;
    double weight = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double w = BlackmanHarris(i, length);
        sum += static_cast<double>(signal[i]) * w *
               std::polar(1.0, -2.0 * kPi * frequency * static_cast<double>(i) / sampleRate);
        weight += w;
    }
    return weight > 0.0 ? 2.0 * std::abs(sum) / weight : 0.0;
}

inline double AmplitudeAt(const std::vector<double>& signal, double sampleRate, double frequency) {
    return AmplitudeAt(signal.data(), signal.size(), sampleRate, frequency);
}

}  // namespace spectrum
