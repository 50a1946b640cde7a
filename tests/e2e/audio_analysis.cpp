#include "tests/e2e/audio_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

#include "tests/support/spectrum.h"

namespace audio_analysis {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Share of a boundary's frames skipped after it while the old voices fade.
constexpr double kFadeSeconds = 0.0015;
// How much earlier than nominal, and how much later, a row may end.
constexpr double kEarlySeconds = 0.002;
constexpr double kLateShare = 0.3;
constexpr double kLateSeconds = 0.005;
// Longest stretch on each side of a boundary that the fit looks at.
constexpr double kWindowCapSeconds = 0.02;

// A square of `periodFrames` frames, rising at phase 0, holding only its
// harmonics below 90 % of Nyquist (as a band-limited voice does), at
// `phaseFrames` frames after its rising edge; amplitude about 1.
double BandLimitedSquare(double phaseFrames, double periodFrames) {
    double value = 0.0;
    for (int harmonic = 1; harmonic < 0.45 * periodFrames; harmonic += 2) {
        value += std::sin(2.0 * kPi * harmonic * phaseFrames / periodFrames) / harmonic;
    }
    return value * 4.0 / kPi;
}

// The least-squares amplitudes for bases of Gram matrix `gram` (n x n) and
// products `products` with the target: the solution of G a = p, by
// Gaussian elimination with partial pivoting (n is at most a few), with a
// touch of regularisation for bases that coincide.
std::vector<double> LeastSquares(std::vector<double> gram, const std::vector<double>& products, std::size_t n) {
    std::vector<double> solution = products;
    if (n == 0) return solution;
    double trace = 0.0;
    for (std::size_t i = 0; i < n; ++i) trace += gram[i * n + i];
    for (std::size_t i = 0; i < n; ++i) gram[i * n + i] += 1e-9 * trace + 1e-300;
    for (std::size_t column = 0; column < n; ++column) {
        std::size_t pivot = column;
        for (std::size_t row = column + 1; row < n; ++row) {
            if (std::fabs(gram[row * n + column]) > std::fabs(gram[pivot * n + column])) pivot = row;
        }
        for (std::size_t k = 0; k < n; ++k) std::swap(gram[column * n + k], gram[pivot * n + k]);
        std::swap(solution[column], solution[pivot]);
        for (std::size_t row = column + 1; row < n; ++row) {
            const double factor = gram[row * n + column] / gram[column * n + column];
            for (std::size_t k = column; k < n; ++k) gram[row * n + k] -= factor * gram[column * n + k];
            solution[row] -= factor * solution[column];
        }
    }
    for (std::size_t column = n; column-- > 0;) {
        for (std::size_t k = column + 1; k < n; ++k) solution[column] -= gram[column * n + k] * solution[k];
        solution[column] /= gram[column * n + column];
    }
    return solution;
}

// The energy that the least-squares fit explains: p' G^-1 p.
double ExplainedEnergy(const std::vector<double>& gram, const std::vector<double>& products, std::size_t n) {
    const std::vector<double> solution = LeastSquares(gram, products, n);
    double explained = 0.0;
    for (std::size_t i = 0; i < n; ++i) explained += products[i] * solution[i];
    return explained;
}

// The fit of one side around one boundary, for every candidate frame.
struct SideFit {
    std::vector<double> residual;  // per candidate
    std::vector<double> energy;    // per candidate
};

// Candidates t = low..high: the old squares (started at oldStart) explain
// frames [oldFrom, t), all of the old row that the candidate leaves it; the
// new ones (started at t) explain frames [t + fade, t + fade + newWindow).
// Since the old frames always reach back to oldFrom, a candidate inside a
// silence that follows the old row cannot explain the silence away by
// fitting the old squares at no amplitude.
SideFit FitSide(const std::vector<float>& x, int rate, const std::vector<double>& oldHz,
                double oldStart, const std::vector<double>& newHz, long low, long high,
                long oldFrom, long newWindow, long fade) {
    SideFit fit;
    const std::size_t candidates = static_cast<std::size_t>(high - low + 1);
    fit.residual.assign(candidates, 0.0);
    fit.energy.assign(candidates, 0.0);

    // Old region: bases fixed in absolute frames, so running sums over
    // frames [oldFrom, high) give every candidate's sums at once.
    const std::size_t oldCount = oldHz.size();
    const std::size_t span = static_cast<std::size_t>(high - oldFrom);
    const std::size_t pairs = oldCount * oldCount;
    const std::size_t stride = pairs + oldCount + 1;
    std::vector<double> prefix((span + 1) * stride, 0.0);
    std::vector<double> basis(oldCount);
    for (std::size_t i = 0; i < span; ++i) {
        const long n = oldFrom + static_cast<long>(i);
        const double sample = x[static_cast<std::size_t>(n)];
        for (std::size_t v = 0; v < oldCount; ++v) {
            basis[v] = BandLimitedSquare(static_cast<double>(n) - oldStart, rate / oldHz[v]);
        }
        const double* from = &prefix[i * stride];
        double* to = &prefix[(i + 1) * stride];
        for (std::size_t a = 0; a < oldCount; ++a) {
            for (std::size_t b = 0; b < oldCount; ++b) {
                to[a * oldCount + b] = from[a * oldCount + b] + basis[a] * basis[b];
            }
            to[pairs + a] = from[pairs + a] + basis[a] * sample;
        }
        to[pairs + oldCount] = from[pairs + oldCount] + sample * sample;
    }

    // New region: bases fixed relative to the candidate, so their Gram
    // matrix is one for all candidates.
    const std::size_t newCount = newHz.size();
    const auto windowFrames = static_cast<std::size_t>(newWindow);
    std::vector<std::vector<double>> newBasis(newCount, std::vector<double>(windowFrames));
    std::vector<double> newGram(newCount * newCount, 0.0);
    for (std::size_t v = 0; v < newCount; ++v) {
        for (std::size_t j = 0; j < windowFrames; ++j) {
            newBasis[v][j] = BandLimitedSquare(static_cast<double>(fade) + static_cast<double>(j), rate / newHz[v]);
        }
    }
    for (std::size_t a = 0; a < newCount; ++a) {
        for (std::size_t b = 0; b < newCount; ++b) {
            double sum = 0.0;
            for (std::size_t j = 0; j < windowFrames; ++j) sum += newBasis[a][j] * newBasis[b][j];
            newGram[a * newCount + b] = sum;
        }
    }

    std::vector<double> oldGram(pairs), oldProducts(oldCount), newProducts(newCount);
    for (std::size_t c = 0; c < candidates; ++c) {
        const long t = low + static_cast<long>(c);
        const double* sums = &prefix[static_cast<std::size_t>(t - oldFrom) * stride];
        std::copy(sums, sums + pairs, oldGram.begin());
        std::copy(sums + pairs, sums + pairs + oldCount, oldProducts.begin());
        const double oldEnergy = sums[pairs + oldCount];
        const double oldError = std::max(0.0, oldEnergy - ExplainedEnergy(oldGram, oldProducts, oldCount));

        double newEnergy = 0.0;
        std::fill(newProducts.begin(), newProducts.end(), 0.0);
        const float* data = &x[static_cast<std::size_t>(t + fade)];
        for (std::size_t j = 0; j < windowFrames; ++j) {
            const double sample = data[j];
            newEnergy += sample * sample;
            for (std::size_t v = 0; v < newCount; ++v) newProducts[v] += newBasis[v][j] * sample;
        }
        fit.energy[c] = oldEnergy + newEnergy;
        fit.residual[c] = oldError + std::max(0.0, newEnergy - ExplainedEnergy(newGram, newProducts, newCount));
    }
    return fit;
}

struct Boundary {
    double frame = 0.0;
    double unexplained = 1.0;
};

Boundary FindBoundary(const Stereo& sound, const HeardRow* before, double beforeStart,
                      const HeardRow& after, long low, long high, long oldFrom, long newWindow,
                      long fade) {
    static const HeardRow kSilence;
    const HeardRow& old = before ? *before : kSilence;
    const SideFit left = FitSide(sound.left, sound.rate, old.leftHz, beforeStart, after.leftHz, low, high,
                                 oldFrom, newWindow, fade);
    const SideFit right = FitSide(sound.right, sound.rate, old.rightHz, beforeStart, after.rightHz, low,
                                  high, oldFrom, newWindow, fade);
    std::size_t best = 0;
    for (std::size_t c = 1; c < left.residual.size(); ++c) {
        if (left.residual[c] + right.residual[c] < left.residual[best] + right.residual[best]) best = c;
    }
    auto total = [&](std::size_t c) { return left.residual[c] + right.residual[c]; };
    Boundary boundary;
    boundary.frame = static_cast<double>(low + static_cast<long>(best));
    // Between the frames: the vertex of the parabola through the least
    // residual and its neighbours.
    if (best > 0 && best + 1 < left.residual.size()) {
        const double before = total(best - 1), at = total(best), next = total(best + 1);
        const double curvature = before - 2.0 * at + next;
        if (curvature > 0.0) boundary.frame += std::clamp(0.5 * (before - next) / curvature, -0.5, 0.5);
    }
    const double energy = left.energy[best] + right.energy[best];
    boundary.unexplained = energy > 0.0 ? total(best) / energy : 1.0;
    return boundary;
}

}  // namespace

Stereo FromFloatFrames(const std::vector<unsigned char>& bytes, int rate) {
    Stereo sound;
    sound.rate = rate;
    const std::size_t frames = bytes.size() / (2 * sizeof(float));
    sound.left.resize(frames);
    sound.right.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&sound.left[i], &bytes[i * 2 * sizeof(float)], sizeof(float));
        std::memcpy(&sound.right[i], &bytes[i * 2 * sizeof(float) + sizeof(float)], sizeof(float));
    }
    return sound;
}

Stereo FromS16Frames(const std::vector<unsigned char>& bytes, int rate) {
    Stereo sound;
    sound.rate = rate;
    const std::size_t frames = bytes.size() / 4;
    sound.left.resize(frames);
    sound.right.resize(frames);
    auto sample = [&](std::size_t at) {
        const auto value = static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
        return static_cast<float>(value) / 32768.0f;
    };
    for (std::size_t i = 0; i < frames; ++i) {
        sound.left[i] = sample(4 * i);
        sound.right[i] = sample(4 * i + 2);
    }
    return sound;
}

double SquarePitchForPeriod(int period) { return static_cast<double>(1000000 / period) / 32.0; }

std::vector<Peak> StrongestPeaks(const std::vector<float>& side, int rate, std::size_t first,
                                 std::size_t last, std::size_t count) {
    last = std::min(last, side.size());
    if (first >= last) return {};
    const std::size_t length = last - first;
    std::size_t size = 1;
    while (size < 4 * length) size <<= 1;
    std::vector<std::complex<double>> values(size);
    double windowSum = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double weight = spectrum::Hann(n, length);
        windowSum += weight;
        values[n] = side[first + n] * weight;
    }
    spectrum::Fft(values);
    std::vector<double> magnitude(size / 2 + 1);
    for (std::size_t k = 0; k < magnitude.size(); ++k) magnitude[k] = std::abs(values[k]);
    const double binHz = static_cast<double>(rate) / static_cast<double>(size);
    std::vector<Peak> peaks;
    for (std::size_t k = 1; k + 1 < magnitude.size(); ++k) {
        if (k * binHz < 20.0) continue;
        if (magnitude[k] <= magnitude[k - 1] || magnitude[k] < magnitude[k + 1]) continue;
        // The vertex of the parabola through the log magnitudes.
        const double a = std::log(magnitude[k - 1] + 1e-30), b = std::log(magnitude[k] + 1e-30),
                     c = std::log(magnitude[k + 1] + 1e-30);
        const double curvature = a - 2.0 * b + c;
        const double offset = curvature < 0.0 ? std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5) : 0.0;
        Peak peak;
        peak.hz = (static_cast<double>(k) + offset) * binHz;
        peak.amplitude = 2.0 * std::exp(b - 0.25 * (a - c) * offset) / windowSum;
        peaks.push_back(peak);
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.amplitude > y.amplitude; });
    if (peaks.size() > count) peaks.resize(count);
    return peaks;
}

double ToneAmplitude(const std::vector<float>& side, int rate, double hz, std::size_t first,
                     std::size_t last) {
    last = std::min(last, side.size());
    if (first >= last) return 0.0;
    return spectrum::AmplitudeAt(side.data() + first, last - first, rate, hz);
}

double MaxAbs(const std::vector<float>& side, std::size_t first, std::size_t last) {
    double peak = 0.0;
    for (std::size_t n = first; n < std::min(last, side.size()); ++n) peak = std::max(peak, std::fabs(double(side[n])));
    return peak;
}

long FirstSound(const Stereo& sound, double threshold, std::size_t from) {
    for (std::size_t n = from; n < sound.Frames(); ++n) {
        if (std::fabs(sound.left[n]) > threshold || std::fabs(sound.right[n]) > threshold) {
            return static_cast<long>(n);
        }
    }
    return -1;
}

std::vector<long> AlternatingRowOnsets(const Stereo& sound, std::size_t rows, double threshold) {
    std::vector<long> onsets(rows, -1);
    std::size_t from = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::vector<float>& side = row % 2 == 0 ? sound.left : sound.right;
        for (std::size_t frame = from; frame < side.size(); ++frame) {
            if (std::fabs(side[frame]) > threshold) {
                onsets[row] = static_cast<long>(frame);
                break;
            }
        }
        if (onsets[row] < 0) break;
        // A row's onset is well past the one before: skip the row before's
        // own first frames.
        from = static_cast<std::size_t>(onsets[row]) + 40;
    }
    return onsets;
}

RowStarts LocateRowStarts(const Stereo& sound, const std::vector<HeardRow>& rows, long approximateStart) {
    RowStarts result;
    const double rate = sound.rate;
    const long frames = static_cast<long>(sound.Frames());
    const long fade = std::lround(kFadeSeconds * rate);
    const long early = std::lround(kEarlySeconds * rate);
    const long cap = std::lround(kWindowCapSeconds * rate);
    auto nominal = [&](std::size_t row) { return rows[row].ticks * rate / 200.0; };
    auto fail = [&](const std::string& why) {
        result.found = false;
        result.failure = why;
        return result;
    };
    if (rows.empty()) return fail("no rows");

    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (const auto* pitches : {&rows[row].leftHz, &rows[row].rightHz}) {
            for (double hz : *pitches) {
                if (rate / hz <= fade) {
                    return fail("a pitch too high to tell its onset: " + std::to_string(hz) + " Hz");
                }
            }
        }
    }

    // Each boundary's new window stays inside the row that follows it (a
    // row lasts at least its nominal length less `early`); the last row's
    // is only kept inside the sound.
    auto newWindow = [&](std::size_t row) {
        if (row + 1 == rows.size()) return cap;
        return std::min(cap, std::lround(nominal(row)) - fade - early);
    };

    // Before the first row there is silence, up to `cap` of it; after that
    // the old frames begin `fade` after the old row's start, or `cap`
    // before the earliest candidate.
    long low = std::max(0L, approximateStart - early);
    long high = approximateStart + early;
    const HeardRow* before = nullptr;
    double beforeStart = 0.0;
    long oldFrom = std::max(0L, low - cap);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const long window = newWindow(row);
        high = std::min(high, frames - fade - window - 1);
        if (window <= 0 || (before != nullptr && oldFrom >= low)) {
            return fail("row " + std::to_string(row) + " too short to measure");
        }
        if (high < low) return fail("row " + std::to_string(row) + " lies beyond the end of the sound");
        const Boundary boundary =
            FindBoundary(sound, before, beforeStart, rows[row], low, high, oldFrom, window, fade);
        result.frames.push_back(boundary.frame);
        result.unexplained.push_back(boundary.unexplained);
        if (boundary.unexplained > result.worstUnexplained || result.worstRow < 0) {
            result.worstUnexplained = boundary.unexplained;
            result.worstRow = static_cast<int>(row);
        }
        before = &rows[row];
        beforeStart = boundary.frame;
        const double length = nominal(row);
        low = std::lround(beforeStart + length) - early;
        high = std::lround(beforeStart + length * (1.0 + kLateShare) + kLateSeconds * rate);
        oldFrom = std::max(std::lround(beforeStart) + fade, low - cap);
    }
    result.found = true;
    return result;
}

}  // namespace audio_analysis
