// Measurement tools for the signal core's tests: a windowed power spectrum
// and single-frequency amplitudes, written independently of the core.
#pragma once

#include <complex>
#include <vector>

namespace spectrum {

// Power of each bin 0..n/2 of `signal` (size n, a power of two) under a
// 4-term Blackman-Harris window (sidelobes below -92 dB).
std::vector<double> WindowedPower(const std::vector<double>& signal);

// Share of the power of `signal` that lies away from every multiple of
// `fundamental` (Hz, at `sampleRate` Hz): the bins within `guardBins` of
// each multiple below the Nyquist frequency are left out. In dB relative to
// the whole; -300 when the signal has no power at all.
double OffHarmonicLevelDb(const std::vector<double>& signal, double sampleRate, double fundamental,
                          int guardBins);

// Amplitude of the sinusoid at `frequency` Hz in `signal` (Blackman-Harris
// weighted correlation; exact for a lone sinusoid).
double AmplitudeAt(const std::vector<double>& signal, double sampleRate, double frequency);

}  // namespace spectrum
