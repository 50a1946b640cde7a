#include "band_limited.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <complex>
#include <cstdint>
#include <new>

#include "fourier.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace fsound {

namespace {

// Not every C++ library defines M_PI in strict mode.
constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Design constants.
//
// Copy c serves steps in (2^((c-1)/2), 2^(c/2)] (copy 0: every step <= 1).
// Its content stops at the output's Nyquist frequency for the largest of
// those steps, 0.5 / 2^(c/2) cycles per original frame, and it is stored at
// a spacing where that is at most a quarter of the copy's own sampling rate.
// The interpolator then only has to separate content below 0.25 cycles per
// stored value from its images above 0.75, which 16 taps do to below
// -110 dB. Half-octave copies keep at least 1/sqrt(2) of the output's band
// (minus the filter's transition band) at every step.
constexpr int kCopiesPerOctave = 2;
constexpr int kCopyCount = 25;  // steps up to 2^12 = kMaxBandLimitedStep

// The load-time filter: a Kaiser-windowed sinc for 100 dB of stopband,
// passing 95 % of each copy's band.
constexpr double kPrefilterAttenuationDb = 100.0;
constexpr double kPrefilterBeta = 0.1102 * (kPrefilterAttenuationDb - 8.7);
constexpr double kPrefilterTransition = 0.05;  // share of the band
// The longest filter, in original frames; the copies for the largest steps
// have a wider transition instead of a longer filter.
constexpr double kPrefilterMaxSpan = 65536.0;

// The interpolator: 16 taps, 256 phases with linear interpolation between
// neighbouring phases.
constexpr int kTaps = 16;
constexpr int kPhaseBits = 8;
constexpr int kPhases = 1 << kPhaseBits;
constexpr double kKernelBeta = 12.5;
// Stored values before position 0: the kernel reaches kTaps/2 - 1 values back
// from the one at or before the position, plus one for a position exactly on
// a stored value after rounding.
constexpr std::size_t kLeadValues = kTaps / 2 + 1;
constexpr int kFirstTapOffset = static_cast<int>(kLeadValues) - (kTaps / 2 - 1);

// A looped copy repeats at least this many output frames (at its largest
// step) before the renderer wraps, up to kMaxWrapSpan original frames.
constexpr double kFramesBetweenWraps = 256.0;
constexpr double kMaxWrapSpan = 16384.0;

// The largest transform, in points; longer samples are filtered in blocks.
constexpr std::size_t kMaxBlockPoints = std::size_t{1} << 19;

// Values smaller than this are stored as 0, so no denormal ever reaches the
// renderer.
constexpr float kFlushBelow = 1e-20f;

constexpr double kFixedOne = 4294967296.0;  // 2^32: positions are 32.32 fixed point

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 200 && term > 1e-17 * sum; ++k) {
        const double factor = x / (2.0 * k);
        term *= factor * factor;
        sum += term;
    }
    return sum;
}

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    return std::sin(kPi * x) / (kPi * x);
}

// ---------------------------------------------------------------------------
// The interpolation kernel, as a table of phases. Row p holds the taps for a
// position p / kPhases past a stored value, followed by the difference to row
// p + 1, so a position between two phases costs one multiply-add per tap.

struct KernelTable {
    std::vector<float> rows;  // kPhases rows of 2 * kTaps floats
};

KernelTable BuildKernel() {
    std::vector<double> taps((kPhases + 1) * kTaps);
    const double halfWidth = kTaps / 2;
    const double windowScale = BesselI0(kKernelBeta);
    for (int phase = 0; phase <= kPhases; ++phase) {
        const double fraction = static_cast<double>(phase) / kPhases;
        double sum = 0.0;
        for (int tap = 0; tap < kTaps; ++tap) {
            // Tap t weighs the value (kTaps/2 - 1 - t) places before the
            // position's own value, i.e. at distance fraction + kTaps/2 - 1 - t.
            const double distance = fraction + (halfWidth - 1.0) - tap;
            const double ratio = distance / halfWidth;
            const double window =
                std::fabs(ratio) >= 1.0 ? 0.0 : BesselI0(kKernelBeta * std::sqrt(1.0 - ratio * ratio)) / windowScale;
            taps[phase * kTaps + tap] = Sinc(distance) * window;
            sum += taps[phase * kTaps + tap];
        }
        // Every phase passes a constant exactly, so a loop's DC does not
        // wobble with the position.
        for (int tap = 0; tap < kTaps; ++tap) taps[phase * kTaps + tap] /= sum;
    }
    KernelTable table;
    table.rows.resize(kPhases * 2 * kTaps);
    for (int phase = 0; phase < kPhases; ++phase) {
        for (int tap = 0; tap < kTaps; ++tap) {
            const double here = taps[phase * kTaps + tap];
            const double next = taps[(phase + 1) * kTaps + tap];
            table.rows[phase * 2 * kTaps + tap] = static_cast<float>(here);
            table.rows[phase * 2 * kTaps + kTaps + tap] = static_cast<float>(next - here);
        }
    }
    return table;
}

const KernelTable& Kernel() {
    static const KernelTable table = BuildKernel();
    return table;
}

// ---------------------------------------------------------------------------
// The load-time filter's frequency response. The filter is an ideal lowpass
// times a Kaiser window of span T, so its response is the ideal response
// convolved with the window's transform; with x = frequency * T that is
// Step(x + cutoff * T) - Step(x - cutoff * T), where Step is the running
// integral of the window's transform (a smooth step from 0 to 1 over a few
// units of x). The step is tabulated once with its slope, and read by cubic
// Hermite interpolation.

struct StepTable {
    double spacing = 1.0 / 128.0;
    double reach = 128.0;          // beyond +-reach the step is 0 or 1
    std::vector<double> integral;  // Step(x) - 0.5 at x = i * spacing
    std::vector<double> slope;     // Step'(x)
};

// Transform of the Kaiser window, with x = frequency * span, up to a
// constant factor.
double KaiserTransform(double x) {
    const double a = kPrefilterBeta * kPrefilterBeta - (kPi * x) * (kPi * x);
    if (a > 1e-12) {
        const double r = std::sqrt(a);
        return std::sinh(r) / r;
    }
    if (a < -1e-12) {
        const double r = std::sqrt(-a);
        return std::sin(r) / r;
    }
    return 1.0;
}

StepTable BuildStepTable() {
    StepTable table;
    const std::size_t count = static_cast<std::size_t>(table.reach / table.spacing) + 1;
    table.integral.resize(count);
    table.slope.resize(count);
    double running = 0.0;
    table.integral[0] = 0.0;
    table.slope[0] = KaiserTransform(0.0);
    for (std::size_t i = 1; i < count; ++i) {
        const double x0 = (i - 1) * table.spacing, x1 = i * table.spacing;
        // Simpson's rule on each interval: the transform is smooth and
        // oscillates with period 2 in x, so this is exact to ~1e-12.
        running += table.spacing / 6.0 *
                   (KaiserTransform(x0) + 4.0 * KaiserTransform(0.5 * (x0 + x1)) + KaiserTransform(x1));
        table.integral[i] = running;
        table.slope[i] = KaiserTransform(x1);
    }
    // Normalise so the step runs from exactly 0 to exactly 1.
    const double scale = 0.5 / running;
    for (std::size_t i = 0; i < count; ++i) {
        table.integral[i] *= scale;
        table.slope[i] *= scale;
    }
    return table;
}

const StepTable& Steps() {
    static const StepTable table = BuildStepTable();
    return table;
}

double SmoothStep(const StepTable& table, double x) {
    const double magnitude = std::fabs(x);
    if (magnitude >= table.reach) return x > 0.0 ? 1.0 : 0.0;
    const double scaled = magnitude / table.spacing;
    const std::size_t i = std::min(static_cast<std::size_t>(scaled), table.integral.size() - 2);
    const double t = scaled - static_cast<double>(i);
    const double h = table.spacing;
    const double t2 = t * t, t3 = t2 * t;
    const double value = (2 * t3 - 3 * t2 + 1) * table.integral[i] + (t3 - 2 * t2 + t) * h * table.slope[i] +
                         (-2 * t3 + 3 * t2) * table.integral[i + 1] + (t3 - t2) * h * table.slope[i + 1];
    return x > 0.0 ? 0.5 + value : 0.5 - value;
}

// ---------------------------------------------------------------------------
// Copies.

struct CopyPlan {
    double maxStep;     // largest step served
    double spacing;     // original frames per stored value
    double cutoff;      // middle of the transition band, cycles per original frame
    double span;        // filter span T, original frames
    double halfSpan;    // T / 2: how far the filter reaches either way
};

CopyPlan PlanCopy(int index) {
    CopyPlan plan;
    plan.maxStep = std::exp2(static_cast<double>(index) / kCopiesPerOctave);
    plan.spacing = std::exp2(static_cast<double>(index / kCopiesPerOctave - 1));
    const double stopEdge = 0.5 / plan.maxStep;
    // Kaiser's estimate of the span for the attenuation over the transition.
    const double kaiserFactor = (kPrefilterAttenuationDb - 8.0) / (2.285 * 2.0 * kPi);
    plan.span = std::min(kaiserFactor / (kPrefilterTransition * stopEdge), kPrefilterMaxSpan);
    const double transition = kaiserFactor / plan.span;
    plan.cutoff = stopEdge - 0.5 * transition;
    plan.halfSpan = 0.5 * plan.span;
    return plan;
}

int CopyForStep(double step) {
    if (step <= 1.0) return 0;
    const int index = static_cast<int>(std::ceil(kCopiesPerOctave * std::log2(step) - 1e-9));
    return std::clamp(index, 0, kCopyCount - 1);
}

}  // namespace

struct BandLimitedCopy {
    double spacing = 1.0;       // original frames per stored value (a power of two)
    // Looped: the renderer's positions stay below `limit`; a position reaching
    // it moves back by `wrapLength` (whole loop lengths), and positions from
    // `steadyStart` on are in the periodic part, where moving by whole loop
    // lengths changes nothing. One-shot: positions from `limit` on are silent.
    double limit = 0.0;
    double steadyStart = 0.0;
    double wrapLength = 0.0;
    std::vector<float> values;  // values[j] is the band-limited signal at (j - kLeadValues) * spacing
};

struct BandLimitedSample {
    std::size_t frames = 0;
    SampleLoop loop;
    const float* kernel = nullptr;  // KernelTable rows, shared by every sample
    std::vector<BandLimitedCopy> copies;
};

namespace {

// The signal that a voice plays, at any integer position in original frames.
struct SignalSource {
    const std::vector<float>* frames = nullptr;
    SampleLoop loop;
    bool periodicEverywhere = false;  // a loop from frame 0: it has always been repeating

    double At(std::int64_t position) const {
        const std::int64_t count = static_cast<std::int64_t>(frames->size());
        if (!loop.looped) return position >= 0 && position < count ? (*frames)[position] : 0.0;
        const std::int64_t start = static_cast<std::int64_t>(loop.start);
        const std::int64_t length = static_cast<std::int64_t>(loop.end - loop.start);
        if (position < start && !periodicEverywhere) return position >= 0 ? (*frames)[position] : 0.0;
        std::int64_t offset = (position - start) % length;
        if (offset < 0) offset += length;
        return (*frames)[start + offset];
    }
};

// Positions (original frames) that copy `copy` stores values for, and how far
// its filter reaches from each.
struct StoredRange {
    double first = 0.0;
    double last = 0.0;
    double reach = 0.0;
};

StoredRange RangeOf(const BandLimitedCopy& copy, const CopyPlan& plan) {
    StoredRange range;
    range.first = -static_cast<double>(kLeadValues) * copy.spacing;
    range.last = (static_cast<double>(copy.values.size()) - 1.0 - kLeadValues) * copy.spacing;
    range.reach = std::ceil(plan.halfSpan) + 1.0;
    return range;
}

// How a set of copies is filtered: blocks of `points` original frames, the
// first starting at `origin`, each `advance` after the one before, each
// yielding the filtered signal for the `advance` positions from
// origin + reach (where the circular transform has not disturbed it).
struct BlockLayout {
    double origin = 0.0;
    std::size_t points = 0;
    double advance = 0.0;
    std::size_t count = 0;
};

// For copies whose stored positions run from `first` to `last`, with a filter
// reaching `reach` either way, and `spacing` the widest spacing among them.
// Every block starts on a multiple of `spacing`, so each copy's stored
// positions fall on the points of its inverse transform, and on a whole
// frame, where the block's first sample of the signal is (copies at half a
// frame's spacing would otherwise be read half a frame early).
BlockLayout LayOutBlocks(double first, double last, double reach, double spacing) {
    BlockLayout layout;
    spacing = std::max(spacing, 1.0);
    layout.origin = std::floor((first - reach) / spacing) * spacing;
    const double needed = last + reach - layout.origin + spacing + 1.0;
    layout.points = 1024;
    while (layout.points < needed && layout.points < kMaxBlockPoints) layout.points *= 2;
    layout.advance = std::floor((static_cast<double>(layout.points) - 2.0 * reach) / spacing) * spacing;
    assert(layout.advance > 0.0);
    layout.count = static_cast<std::size_t>(std::floor((last - (layout.origin + reach)) / layout.advance)) + 1;
    return layout;
}

// Past kResponseReach units beyond a copy's cutoff its response is below
// 1e-7 and taken as 0; as far below it, it is within 1e-7 of 1 and taken as 1.
constexpr double kResponseReach = 16.0;

// The response of the copy planned as `plan` to content at `frequency`
// cycles per original frame, up to kResponseReach units past its cutoff.
double ResponseAt(const StepTable& steps, const CopyPlan& plan, double frequency) {
    if (frequency < plan.cutoff - kResponseReach / plan.span) return 1.0;
    return SmoothStep(steps, (frequency + plan.cutoff) * plan.span) -
           SmoothStep(steps, (frequency - plan.cutoff) * plan.span);
}

// Fills the values of the copies listed in `members` from `source`: for each
// block of the signal, one forward transform, then for each copy the spectrum
// times the copy's response, transformed back at the copy's spacing. False
// when a transform refuses its size, which the block layout never asks for.
bool FilterIntoCopies(const SignalSource& source, const std::vector<CopyPlan>& plans,
                      std::vector<BandLimitedCopy>& copies, const std::vector<std::size_t>& members) {
    double reach = 0.0, maxSpacing = 0.0, smallestSpacing = 1e300;
    double firstPosition = 0.0, lastPosition = 0.0;
    for (std::size_t c : members) {
        const StoredRange range = RangeOf(copies[c], plans[c]);
        reach = std::max(reach, range.reach);
        firstPosition = std::min(firstPosition, range.first);
        lastPosition = std::max(lastPosition, range.last);
        maxSpacing = std::max(maxSpacing, copies[c].spacing);
        smallestSpacing = std::min(smallestSpacing, copies[c].spacing);
    }
    const BlockLayout layout = LayOutBlocks(firstPosition, lastPosition, reach, maxSpacing);
    const std::size_t points = layout.points;
    const double advance = layout.advance;

    const std::size_t largestTransform = static_cast<std::size_t>(static_cast<double>(points) / smallestSpacing);
    const fourier::Twiddles twiddles = fourier::MakeTwiddles(std::max(largestTransform, points));
    const StepTable& steps = Steps();

    // Each copy's response on the bins it keeps.
    std::vector<std::vector<double>> responses(copies.size());
    for (std::size_t c : members) {
        const CopyPlan& plan = plans[c];
        const double binsPerCycle = static_cast<double>(points);
        const std::size_t nyquistBin = static_cast<std::size_t>(binsPerCycle / (2.0 * copies[c].spacing));
        const double lastFrequency = plan.cutoff + kResponseReach / plan.span;
        const std::size_t lastBin =
            std::min({nyquistBin - 1, points / 2, static_cast<std::size_t>(lastFrequency * binsPerCycle) + 1});
        responses[c].resize(lastBin + 1);
        for (std::size_t k = 0; k <= lastBin; ++k) {
            responses[c][k] = ResponseAt(steps, plan, static_cast<double>(k) / binsPerCycle);
        }
    }

    std::vector<double> signal;
    std::vector<std::complex<double>> spectrum, work;
    std::vector<double> filtered;
    const double scale = 1.0 / static_cast<double>(points);
    for (std::size_t block = 0; block < layout.count; ++block) {
        const double origin = layout.origin + static_cast<double>(block) * advance;
        signal.resize(points);
        const std::int64_t first = static_cast<std::int64_t>(origin);
        for (std::size_t i = 0; i < points; ++i) signal[i] = source.At(first + static_cast<std::int64_t>(i));
        if (!fourier::RealForward(signal, twiddles, spectrum)) return false;
        const double validFrom = origin + reach, validTo = origin + reach + advance;
        for (std::size_t c : members) {
            BandLimitedCopy& copy = copies[c];
            const std::size_t transformPoints = static_cast<std::size_t>(static_cast<double>(points) / copy.spacing);
            work.assign(transformPoints / 2 + 1, std::complex<double>());
            const std::vector<double>& response = responses[c];
            for (std::size_t k = 0; k < response.size(); ++k) work[k] = spectrum[k] * response[k];
            if (!fourier::RealInverse(work, twiddles, filtered)) return false;
            // Stored value j sits at (j - kLeadValues) * spacing.
            const double firstIndex = std::max(0.0, std::ceil(validFrom / copy.spacing + kLeadValues));
            const double endIndex =
                std::min(static_cast<double>(copy.values.size()), std::ceil(validTo / copy.spacing + kLeadValues));
            for (double j = firstIndex; j < endIndex; j += 1.0) {
                const double position = (j - kLeadValues) * copy.spacing;
                const std::size_t point = static_cast<std::size_t>((position - origin) / copy.spacing);
                const float value = static_cast<float>(filtered[point] * scale);
                copy.values[static_cast<std::size_t>(j)] = std::fabs(value) < kFlushBelow ? 0.0f : value;
            }
        }
    }
    return true;
}

// Loops from frame 0 up to this many frames are built from their harmonics.
constexpr std::size_t kLongestSynthesizedLoop = 1024;

// A loop from frame 0 has always been repeating, so each copy is the sum of
// the loop's harmonics, each weighted by the copy's response at its
// frequency: what the filtering by blocks computes too, but without its
// transforms, which are as long as the longest filter (2^17 points and more)
// however short the loop. Costs (stored values) x (harmonics kept) operations,
// a few hundred thousand for the 32-frame square.
void SynthesizePeriodicCopies(const std::vector<float>& loop, const std::vector<CopyPlan>& plans,
                              std::vector<BandLimitedCopy>& copies) {
    const std::size_t length = loop.size();
    // PrepareSample refuses empty loops and chooses only short ones.
    assert(length > 0 && length <= kLongestSynthesizedLoop);
    if (length == 0 || length > kLongestSynthesizedLoop) return;
    // turns[m] = exp(2 pi i m / (2 length)): every stored position is a
    // multiple of half a frame, so every phase a harmonic needs is one of these.
    const std::size_t turnCount = std::max<std::size_t>(2, 2 * length);
    std::vector<std::complex<double>> turns(turnCount);
    for (std::size_t m = 0; m < turnCount; ++m) {
        turns[m] = std::polar(1.0, 2.0 * kPi * static_cast<double>(m) / static_cast<double>(turnCount));
    }
    // Harmonic k of the loop, k = 0 .. length / 2, scaled so that the signal
    // is the sum of Re(harmonic[k] exp(2 pi i k t / length)).
    std::vector<std::complex<double>> harmonics(length / 2 + 1);
    for (std::size_t k = 0; k < harmonics.size(); ++k) {
        std::complex<double> sum;
        for (std::size_t j = 0; j < length; ++j) sum += static_cast<double>(loop[j]) * std::conj(turns[(2 * j * k) % turnCount]);
        const bool single = k == 0 || 2 * k == length;
        harmonics[k] = sum * ((single ? 1.0 : 2.0) / static_cast<double>(length));
    }
    const StepTable& steps = Steps();
    std::vector<std::complex<double>> kept;
    std::vector<std::size_t> keptIndex;
    for (std::size_t c = 0; c < copies.size(); ++c) {
        BandLimitedCopy& copy = copies[c];
        kept.clear();
        keptIndex.clear();
        for (std::size_t k = 0; k < harmonics.size(); ++k) {
            const double frequency = static_cast<double>(k) / static_cast<double>(length);
            const CopyPlan& plan = plans[c];
            if (frequency >= 0.5 / copy.spacing || frequency > plan.cutoff + kResponseReach / plan.span) continue;
            kept.push_back(harmonics[k] * ResponseAt(steps, plan, frequency));
            keptIndex.push_back(k);
        }
        const auto halfFramesPerValue = static_cast<std::int64_t>(2.0 * copy.spacing);
        for (std::size_t j = 0; j < copy.values.size(); ++j) {
            // Stored value j sits at (j - kLeadValues) * spacing, in half frames here.
            const std::int64_t halfFrames = (static_cast<std::int64_t>(j) - static_cast<std::int64_t>(kLeadValues)) * halfFramesPerValue;
            std::int64_t phase = halfFrames % static_cast<std::int64_t>(turnCount);
            if (phase < 0) phase += static_cast<std::int64_t>(turnCount);
            double sum = 0.0;
            for (std::size_t h = 0; h < kept.size(); ++h) {
                const std::size_t turn = (keptIndex[h] * static_cast<std::size_t>(phase)) % turnCount;
                sum += kept[h].real() * turns[turn].real() - kept[h].imag() * turns[turn].imag();
            }
            const float value = static_cast<float>(sum);
            copy.values[j] = std::fabs(value) < kFlushBelow ? 0.0f : value;
        }
    }
}

// Filters every copy, sharing the forward transforms among the copies that
// need the same blocks: short samples then pay for long transforms, and long
// ones for extra blocks, only in the copies whose filters are long.
bool FilterAllCopies(const SignalSource& source, const std::vector<CopyPlan>& plans,
                     std::vector<BandLimitedCopy>& copies) {
    std::vector<std::size_t> pointsOf(copies.size()), blocksOf(copies.size());
    for (std::size_t c = 0; c < copies.size(); ++c) {
        const StoredRange range = RangeOf(copies[c], plans[c]);
        const BlockLayout layout = LayOutBlocks(range.first, range.last, range.reach, copies[c].spacing);
        pointsOf[c] = layout.points;
        blocksOf[c] = layout.count;
    }
    std::vector<bool> done(copies.size(), false);
    for (std::size_t c = 0; c < copies.size(); ++c) {
        if (done[c]) continue;
        std::vector<std::size_t> members;
        for (std::size_t other = c; other < copies.size(); ++other) {
            if (!done[other] && pointsOf[other] == pointsOf[c] && blocksOf[other] == blocksOf[c]) {
                members.push_back(other);
                done[other] = true;
            }
        }
        if (!FilterIntoCopies(source, plans, copies, members)) return false;
    }
    return true;
}

std::shared_ptr<const BandLimitedSample> BuildSample(const std::vector<float>& mono, const SampleLoop& loop) {
    auto sample = std::make_shared<BandLimitedSample>();
    sample->frames = mono.size();
    sample->loop = loop.looped ? loop : SampleLoop{};
    sample->kernel = Kernel().rows.data();

    SignalSource source;
    source.frames = &mono;
    source.loop = sample->loop;
    source.periodicEverywhere = loop.looped && loop.start == 0;

    std::vector<CopyPlan> plans;
    plans.reserve(kCopyCount);
    for (int c = 0; c < kCopyCount; ++c) plans.push_back(PlanCopy(c));
    sample->copies.resize(kCopyCount);
    const double frames = static_cast<double>(mono.size());
    for (int c = 0; c < kCopyCount; ++c) {
        const CopyPlan& plan = plans[c];
        BandLimitedCopy& copy = sample->copies[c];
        copy.spacing = plan.spacing;
        // How far the interpolator reaches from a position, either way.
        const double kernelReach = (kTaps / 2 + 1) * plan.spacing;
        if (loop.looped) {
            const double loopLength = static_cast<double>(loop.end - loop.start);
            // The filtered signal repeats exactly once the filter no longer
            // sees the intro.
            copy.steadyStart =
                source.periodicEverywhere ? 0.0 : std::ceil(static_cast<double>(loop.start) + plan.halfSpan + kernelReach);
            const double wantedSpan = std::min(kFramesBetweenWraps * plan.maxStep, kMaxWrapSpan);
            copy.wrapLength = loopLength * std::max(1.0, std::ceil(wantedSpan / loopLength));
            copy.limit = copy.steadyStart + copy.wrapLength;
        } else {
            copy.limit = std::ceil(frames + plan.halfSpan + kernelReach);
        }
        const std::size_t count = static_cast<std::size_t>(std::floor(copy.limit / copy.spacing)) + kLeadValues + kTaps / 2 + 1;
        copy.values.assign(count, 0.0f);
    }
    if (source.periodicEverywhere && loop.end <= kLongestSynthesizedLoop) {
        SynthesizePeriodicCopies(std::vector<float>(mono.begin(), mono.begin() + static_cast<std::ptrdiff_t>(loop.end)),
                                 plans, sample->copies);
        return sample;
    }
    if (!FilterAllCopies(source, plans, sample->copies)) {
        assert(!"the block layout asked for a transform size the transforms refuse");
        return nullptr;
    }
    return sample;
}

}  // namespace

std::shared_ptr<const BandLimitedSample> PrepareSample(const std::vector<float>& mono, const SampleLoop& loop) {
    if (mono.empty() || mono.size() > kMaxPreparedFrames) return nullptr;
    if (loop.looped && !(loop.start < loop.end && loop.end <= mono.size())) return nullptr;
    for (float value : mono) {
        if (!std::isfinite(value)) return nullptr;
    }

    // Out of memory is a failure to prepare this sample, not of the program.
    // Built without exceptions (the browser's module) it ends the module, as
    // any allocation there does.
#if defined(__cpp_exceptions)
    try {
        return BuildSample(mono, loop);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
#else
    return BuildSample(mono, loop);
#endif
}

std::size_t FrameCount(const BandLimitedSample& sample) { return sample.frames; }
bool IsLooped(const BandLimitedSample& sample) { return sample.loop.looped; }

std::size_t StorageBytes(const BandLimitedSample& sample) {
    std::size_t bytes = sizeof(BandLimitedSample);
    for (const BandLimitedCopy& copy : sample.copies) bytes += sizeof(copy) + copy.values.capacity() * sizeof(float);
    return bytes;
}

namespace {

// The renderer's view of one copy, in 32.32 fixed point of stored values.
struct FixedCopy {
    const float* values;
    const float* kernel;
    std::int64_t limit;
    std::int64_t steadyStart;
    std::int64_t wrapLength;
    bool looped;
};

// Where a fixed-point position falls: the first stored value the kernel
// reads, the kernel row, and how far the position is towards the next row.
struct KernelPlace {
    const float* from;
    const float* taps;
    float between;
};

// A position's sub-phase (its low 32 - kPhaseBits bits) as a share of
// the step between two kernel rows.
constexpr float kSubPhaseScale = 1.0f / static_cast<float>(1 << (32 - kPhaseBits));

[[gnu::always_inline]] inline KernelPlace PlaceOf(const float* values, const float* kernel, std::int64_t at) {
    const std::uint32_t fraction = static_cast<std::uint32_t>(at);
    KernelPlace place;
    place.from = values + (at >> 32);
    place.taps = kernel + (fraction >> (32 - kPhaseBits)) * (2 * kTaps);
    place.between = static_cast<float>(fraction & ((1u << (32 - kPhaseBits)) - 1)) * kSubPhaseScale;
    return place;
}

// The interpolated signal at `place`, as four partial sums (one per vector
// lane) to be added up by Total. Lane l adds the products of taps l, l + 8,
// l + 4 and l + 12 in the order (l + l+8) + (l+4 + l+12): the order that
// eight-wide vectors give too (RenderRunWide), so that every build and every
// processor renders the same samples. Always inlined: as a call it costs a
// tenth of the mixing time.
struct PartialSums {
    float lanes[4];
};

[[gnu::always_inline]] inline float Product(const KernelPlace& place, int tap) {
    return place.from[tap] * (place.taps[tap] + place.between * place.taps[kTaps + tap]);
}

[[gnu::always_inline]] inline PartialSums Interpolate(const KernelPlace& place) {
    static_assert(kTaps == 16, "the sum below is written out for 16 taps");
    PartialSums sums;
    for (int lane = 0; lane < 4; ++lane) {
        sums.lanes[lane] = (Product(place, lane) + Product(place, lane + 8)) +
                           (Product(place, lane + 4) + Product(place, lane + 12));
    }
    return sums;
}

inline float Total(const PartialSums& sums) {
    return (sums.lanes[0] + sums.lanes[1]) + (sums.lanes[2] + sums.lanes[3]);
}

// The frames of a run that are not a multiple of four, one by one.
void RenderTail(const float* values, const FixedCopy& copy, std::int64_t& here, std::int64_t step, float& left,
                float& right, float leftDelta, float rightDelta, float* stereo, int count) {
    for (int i = 0; i < count; ++i) {
        const float value = Total(Interpolate(PlaceOf(values, copy.kernel, here)));
        stereo[2 * i] += value * left;
        stereo[2 * i + 1] += value * right;
        left += leftDelta;
        right += rightDelta;
        here += step;
    }
}

// Renders `count` frames from `position` without any wrap or end check; the
// caller has made sure the kernel stays inside the copy.
void RenderRun(const FixedCopy& copy, std::int64_t& position, std::int64_t step, float& leftGain, float& rightGain,
               float leftDelta, float rightDelta, float* stereo, int count) {
    const float* values = copy.values + kFirstTapOffset;
    std::int64_t here = position;
    float left = leftGain, right = rightGain;
    int i = 0;
    // Four frames at a time: their sums overlap in the pipeline, and their
    // gains and the stereo buffer are handled as vectors too.
    for (; i + 4 <= count; i += 4) {
        PartialSums sums[4];
        for (int f = 0; f < 4; ++f) sums[f] = Interpolate(PlaceOf(values, copy.kernel, here + f * step));
        for (int f = 0; f < 4; ++f) {
            const float value = Total(sums[f]);
            stereo[2 * (i + f)] += value * (left + static_cast<float>(f) * leftDelta);
            stereo[2 * (i + f) + 1] += value * (right + static_cast<float>(f) * rightDelta);
        }
        left += 4.0f * leftDelta;
        right += 4.0f * rightDelta;
        here += 4 * step;
    }
    RenderTail(values, copy, here, step, left, right, leftDelta, rightDelta, stereo + 2 * i, count - i);
    position = here;
    leftGain = left;
    rightGain = right;
}

#if defined(__x86_64__) && defined(__GNUC__)
// RenderRun with eight-wide vectors (AVX, not part of the x86-64 baseline,
// so chosen at run time): the same operations in the same order, so the
// same samples, in about half the time. No fused multiply-add, which would
// round differently.
// Lanes l of one frame's partial sums (Interpolate's order).
[[gnu::target("avx"), gnu::always_inline]] inline __m128 InterpolateWide(const KernelPlace& place) {
    const __m256 between = _mm256_set1_ps(place.between);
    // Taps 0-7 and 8-15, each moved towards the next phase.
    const __m256 low = _mm256_add_ps(_mm256_loadu_ps(place.taps),
                                     _mm256_mul_ps(between, _mm256_loadu_ps(place.taps + kTaps)));
    const __m256 high = _mm256_add_ps(_mm256_loadu_ps(place.taps + 8),
                                      _mm256_mul_ps(between, _mm256_loadu_ps(place.taps + kTaps + 8)));
    // Lane k: product k + product k + 8; then lanes l and l + 4.
    const __m256 pairs = _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(place.from), low),
                                       _mm256_mul_ps(_mm256_loadu_ps(place.from + 8), high));
    return _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1));
}

[[gnu::target("avx")]] void RenderRunWide(const FixedCopy& copy, std::int64_t& position, std::int64_t step,
                                          float& leftGain, float& rightGain, float leftDelta, float rightDelta,
                                          float* stereo, int count) {
    const float* values = copy.values + kFirstTapOffset;
    const float* kernel = copy.kernel;
    std::int64_t here = position;
    // The gains of the first of four frames, in every lane: they grow by
    // four deltas a step, as RenderRun's do.
    __m128 left = _mm_set1_ps(leftGain), right = _mm_set1_ps(rightGain);
    const __m128 leftStep = _mm_set1_ps(4.0f * leftDelta), rightStep = _mm_set1_ps(4.0f * rightDelta);
    const __m128 frameIndex = _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f);
    const __m128 leftOffsets = _mm_mul_ps(frameIndex, _mm_set1_ps(leftDelta));
    const __m128 rightOffsets = _mm_mul_ps(frameIndex, _mm_set1_ps(rightDelta));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 frame0 = InterpolateWide(PlaceOf(values, kernel, here));
        const __m128 frame1 = InterpolateWide(PlaceOf(values, kernel, here + step));
        const __m128 frame2 = InterpolateWide(PlaceOf(values, kernel, here + 2 * step));
        const __m128 frame3 = InterpolateWide(PlaceOf(values, kernel, here + 3 * step));
        // Each frame's total: (lane 0 + lane 1) + (lane 2 + lane 3).
        const __m128 totals = _mm_hadd_ps(_mm_hadd_ps(frame0, frame1), _mm_hadd_ps(frame2, frame3));
        const __m128 lefts = _mm_mul_ps(totals, _mm_add_ps(left, leftOffsets));
        const __m128 rights = _mm_mul_ps(totals, _mm_add_ps(right, rightOffsets));
        float* out = stereo + 2 * i;
        _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_unpacklo_ps(lefts, rights)));
        _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_unpackhi_ps(lefts, rights)));
        left = _mm_add_ps(left, leftStep);
        right = _mm_add_ps(right, rightStep);
        here += 4 * step;
    }
    float leftNow = _mm_cvtss_f32(left), rightNow = _mm_cvtss_f32(right);
    RenderTail(values, copy, here, step, leftNow, rightNow, leftDelta, rightDelta, stereo + 2 * i, count - i);
    position = here;
    leftGain = leftNow;
    rightGain = rightNow;
}

// RenderRunWide with one sixteen-wide vector a frame (AVX-512, chosen at
// run time), the same samples again in about two thirds of the
// instructions: all 16 products of a frame at once, and the sums of four
// frames side by side, in Interpolate's order (lane k + lane k + 8, then
// lanes l and l + 4, then (0 + 1) + (2 + 3); the swaps that line lanes up
// only swap the two sides of an addition, which gives the same sum). Four
// frames' phases in one vector too. The build keeps multiplies and adds
// apart (-ffp-contract=off: AVX-512 has fused ones, which round
// differently). GCC 12's AVX-512 intrinsics start from an undefined vector
// that its own uninitialised-value warning then sees (a false alarm).
// Not on Windows: GCC there keeps the stack aligned to 16 bytes only, and
// a 64-byte vector it spills would fault.
#if !defined(_WIN32)
#define FSOUND_HAVE_AVX512_RENDERER 1
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
[[gnu::target("avx512f"), gnu::always_inline]] inline __m512 ProductsWidest(const float* values, const float* kernel,
                                                                           std::int64_t at, __m512 between) {
    const float* from = values + (at >> 32);
    const float* taps = kernel + (static_cast<std::uint32_t>(at) >> (32 - kPhaseBits)) * (2 * kTaps);
    const __m512 moved = _mm512_add_ps(_mm512_loadu_ps(taps), _mm512_mul_ps(between, _mm512_loadu_ps(taps + kTaps)));
    return _mm512_mul_ps(_mm512_loadu_ps(from), moved);
}

// kRamping false: both deltas are 0, and the gains' sums with them (each
// frame's gain plus its offset, the next four frames' gain plus four
// deltas) are the gains themselves, so they are left out. The gain plus 0
// once keeps what those sums would do to a gain of -0.
template <bool kRamping>
[[gnu::target("avx512f")]] void RenderRunWidestOf(const FixedCopy& copy, std::int64_t& position, std::int64_t step,
                                                  float& leftGain, float& rightGain, float leftDelta,
                                                  float rightDelta, float* stereo, int count) {
    const float* values = copy.values + kFirstTapOffset;
    const float* kernel = copy.kernel;
    std::int64_t here = position;
    // The gains as RenderRunWide has them.
    __m128 left = _mm_set1_ps(kRamping ? leftGain : leftGain + 0.0f);
    __m128 right = _mm_set1_ps(kRamping ? rightGain : rightGain + 0.0f);
    const __m128 leftStep = _mm_set1_ps(4.0f * leftDelta), rightStep = _mm_set1_ps(4.0f * rightDelta);
    const __m128 frameIndex = _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f);
    const __m128 leftOffsets = _mm_mul_ps(frameIndex, _mm_set1_ps(leftDelta));
    const __m128 rightOffsets = _mm_mul_ps(frameIndex, _mm_set1_ps(rightDelta));
    // The low 32 bits of the four positions, wrapping as PlaceOf's do; the
    // sub-phase below 2^24 converts exactly, as PlaceOf's does.
    const auto step32 = static_cast<std::uint32_t>(step);
    const __m128i fractionOffsets = _mm_set_epi32(static_cast<int>(3 * step32), static_cast<int>(2 * step32),
                                                  static_cast<int>(step32), 0);
    const __m128i subPhaseMask = _mm_set1_epi32((1 << (32 - kPhaseBits)) - 1);
    const __m128 subPhaseScale = _mm_set1_ps(kSubPhaseScale);
    const __m512i firstOfEachFrame = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 8, 4, 0);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i fractions =
            _mm_add_epi32(_mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(here))), fractionOffsets);
        const __m128 betweens = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(fractions, subPhaseMask)), subPhaseScale);
        const __m512 products0 = ProductsWidest(values, kernel, here, _mm512_broadcastss_ps(betweens));
        const __m512 products1 =
            ProductsWidest(values, kernel, here + step, _mm512_broadcastss_ps(_mm_permute_ps(betweens, 0x55)));
        const __m512 products2 =
            ProductsWidest(values, kernel, here + 2 * step, _mm512_broadcastss_ps(_mm_permute_ps(betweens, 0xAA)));
        const __m512 products3 =
            ProductsWidest(values, kernel, here + 3 * step, _mm512_broadcastss_ps(_mm_permute_ps(betweens, 0xFF)));
        // Lane k + lane k + 8: frames 0 and 1 in one vector, 2 and 3 in another.
        const __m512 pairs01 = _mm512_add_ps(_mm512_shuffle_f32x4(products0, products1, 0x44),
                                             _mm512_shuffle_f32x4(products0, products1, 0xEE));
        const __m512 pairs23 = _mm512_add_ps(_mm512_shuffle_f32x4(products2, products3, 0x44),
                                             _mm512_shuffle_f32x4(products2, products3, 0xEE));
        // Lanes l and l + 4: each frame's four partial sums, frame f in
        // lanes 4f..4f+3.
        const __m512 partial = _mm512_add_ps(_mm512_shuffle_f32x4(pairs01, pairs23, 0x88),
                                             _mm512_shuffle_f32x4(pairs01, pairs23, 0xDD));
        // (0 + 1) and (2 + 3), then their sum, in lane 4f.
        const __m512 halves = _mm512_add_ps(partial, _mm512_permute_ps(partial, 0xB1));
        const __m512 wholes = _mm512_add_ps(halves, _mm512_permute_ps(halves, 0x4E));
        const __m128 totals = _mm512_castps512_ps128(_mm512_permutexvar_ps(firstOfEachFrame, wholes));
        const __m128 lefts = _mm_mul_ps(totals, kRamping ? _mm_add_ps(left, leftOffsets) : left);
        const __m128 rights = _mm_mul_ps(totals, kRamping ? _mm_add_ps(right, rightOffsets) : right);
        float* out = stereo + 2 * i;
        _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_unpacklo_ps(lefts, rights)));
        _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_unpackhi_ps(lefts, rights)));
        if (kRamping) {
            left = _mm_add_ps(left, leftStep);
            right = _mm_add_ps(right, rightStep);
        }
        here += 4 * step;
    }
    // The frames after the last four, one by one as RenderTail has them
    // (its gains grow by one delta a frame), each frame's sum in vectors.
    float leftNow = _mm_cvtss_f32(left), rightNow = _mm_cvtss_f32(right);
    for (; i < count; ++i) {
        const KernelPlace place = PlaceOf(values, kernel, here);
        const __m512 products = ProductsWidest(values, kernel, here, _mm512_set1_ps(place.between));
        const __m256 pairs = _mm256_add_ps(_mm512_castps512_ps256(products),
                                           _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(products), 1)));
        const __m128 partial = _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1));
        const __m128 halves = _mm_add_ps(partial, _mm_movehdup_ps(partial));  // lanes 0 + 1 and 2 + 3
        const float value = _mm_cvtss_f32(_mm_add_ss(halves, _mm_movehl_ps(halves, halves)));
        stereo[2 * i] += value * leftNow;
        stereo[2 * i + 1] += value * rightNow;
        leftNow += leftDelta;
        rightNow += rightDelta;
        here += step;
    }
    position = here;
    leftGain = leftNow;
    rightGain = rightNow;
}

[[gnu::target("avx512f")]] void RenderRunWidest(const FixedCopy& copy, std::int64_t& position, std::int64_t step,
                                                float& leftGain, float& rightGain, float leftDelta, float rightDelta,
                                                float* stereo, int count) {
    const auto render = leftDelta == 0.0f && rightDelta == 0.0f ? RenderRunWidestOf<false> : RenderRunWidestOf<true>;
    render(copy, position, step, leftGain, rightGain, leftDelta, rightDelta, stereo, count);
}
#pragma GCC diagnostic pop
#endif  // !_WIN32
#endif

using RunRenderer = void (*)(const FixedCopy&, std::int64_t&, std::int64_t, float&, float&, float, float, float*, int);

// The renderer of each MixPath, null where this processor (or build) has
// none.
RunRenderer RendererFor(MixPath path) {
    switch (path) {
        case MixPath::Portable: return RenderRun;
#if defined(__x86_64__) && defined(__GNUC__)
        case MixPath::Avx: return __builtin_cpu_supports("avx") ? RenderRunWide : nullptr;
#else
        case MixPath::Avx: return nullptr;
#endif
#if defined(FSOUND_HAVE_AVX512_RENDERER)
        case MixPath::Avx512: return __builtin_cpu_supports("avx512f") ? RenderRunWidest : nullptr;
#else
        case MixPath::Avx512: return nullptr;
#endif
        case MixPath::Best: break;
    }
    for (const MixPath widest : {MixPath::Avx512, MixPath::Avx}) {
        if (const RunRenderer renderer = RendererFor(widest)) return renderer;
    }
    return RenderRun;
}

std::atomic<RunRenderer> g_renderer{nullptr};

RunRenderer ChosenRenderer() {
    RunRenderer renderer = g_renderer.load(std::memory_order_relaxed);
    if (renderer == nullptr) {
        renderer = RendererFor(MixPath::Best);
        g_renderer.store(renderer, std::memory_order_relaxed);
    }
    return renderer;
}

// Brings a looped position that has run past the copy's end back by whole
// wrap lengths.
std::int64_t WrapLooped(const FixedCopy& copy, std::int64_t position) {
    if (position < copy.limit) return position;
    return copy.steadyStart + (position - copy.steadyStart) % copy.wrapLength;
}

}  // namespace

void MixVoice(const BandLimitedSample& sample, VoiceCursor& cursor, double step, float leftGainStart,
              float rightGainStart, float leftGainEnd, float rightGainEnd, float* stereo, int frames) {
    if (cursor.finished || frames <= 0 || !(step > 0.0)) return;
    step = std::min(step, kMaxStep);
    const BandLimitedCopy& chosen = sample.copies[CopyForStep(step)];
    const double perValue = kFixedOne / chosen.spacing;

    FixedCopy copy;
    copy.values = chosen.values.data();
    copy.kernel = sample.kernel;
    copy.limit = static_cast<std::int64_t>(chosen.limit * perValue);
    copy.steadyStart = static_cast<std::int64_t>(chosen.steadyStart * perValue);
    copy.wrapLength = static_cast<std::int64_t>(chosen.wrapLength * perValue);
    copy.looped = sample.loop.looped;

    std::int64_t position = static_cast<std::int64_t>(std::max(0.0, cursor.position) * perValue);
    const std::int64_t fixedStep = std::max<std::int64_t>(1, std::llround(step * perValue));
    if (copy.looped && position >= copy.limit) {
        // Any position in the periodic part may come from another copy with
        // another wrap length; all of them are whole loop lengths. (Below
        // the limit, steadyStart + wrapLength, it is where it belongs.)
        position = copy.steadyStart + (position - copy.steadyStart) % copy.wrapLength;
    }

    const RunRenderer render = ChosenRenderer();
    const bool silent = leftGainStart == 0.0f && rightGainStart == 0.0f && leftGainEnd == 0.0f && rightGainEnd == 0.0f;
    float leftGain = leftGainStart, rightGain = rightGainStart;
    const float leftDelta = (leftGainEnd - leftGainStart) / static_cast<float>(frames);
    const float rightDelta = (rightGainEnd - rightGainStart) / static_cast<float>(frames);
    int done = 0;
    while (done < frames) {
        if (!copy.looped && position >= copy.limit) {
            cursor.finished = true;
            break;
        }
        // Frames until the position reaches the limit (at least one).
        const std::int64_t untilLimit = (copy.limit - position + fixedStep - 1) / fixedStep;
        const int run = static_cast<int>(std::min<std::int64_t>(untilLimit, frames - done));
        if (silent) {
            position += fixedStep * run;
        } else {
            render(copy, position, fixedStep, leftGain, rightGain, leftDelta, rightDelta, stereo + 2 * done, run);
        }
        done += run;
        if (copy.looped) position = WrapLooped(copy, position);
    }
    cursor.position = static_cast<double>(position) / perValue;
}

bool UseMixPath(MixPath path) {
    const RunRenderer renderer = RendererFor(path);
    if (renderer == nullptr) return false;
    g_renderer.store(renderer, std::memory_order_relaxed);
    return true;
}

}  // namespace fsound
