#include "band_limited.h"
#include "fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <complex>
#include <cstdio>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/spectrum.h"

namespace {

// Not every C++ library defines M_PI in strict mode.
constexpr double kPi = 3.14159265358979323846;

using fsound::BandLimitedSample;
using fsound::MixVoice;
using fsound::PrepareSample;
using fsound::SampleLoop;
using fsound::VoiceCursor;

// The default sample: a 32-frame square cycle, 16 frames high, 16 low.
std::vector<float> SquareCycle(float amplitude) {
    std::vector<float> frames(32, amplitude);
    for (int i = 16; i < 32; ++i) frames[i] = -amplitude;
    return frames;
}

std::shared_ptr<const BandLimitedSample> LoopedSample(const std::vector<float>& frames, std::size_t start = 0) {
    SampleLoop loop{true, start, frames.size()};
    auto sample = PrepareSample(frames, loop);
    EXPECT_NE(sample, nullptr);
    return sample;
}

std::shared_ptr<const BandLimitedSample> OneShotSample(const std::vector<float>& frames) {
    auto sample = PrepareSample(frames, SampleLoop{});
    EXPECT_NE(sample, nullptr);
    return sample;
}

// Renders `frames` frames at a constant gain of 1 on the left and 0.5 on the
// right, in blocks as the mixer does, and returns the left channel; checks
// that the right channel is half of it.
std::vector<double> Render(const BandLimitedSample& sample, VoiceCursor& cursor, double step, int frames,
                           int block = 512) {
    std::vector<double> left;
    left.reserve(frames);
    std::vector<float> stereo;
    double worstRight = 0.0;
    for (int done = 0; done < frames; done += block) {
        const int count = std::min(block, frames - done);
        stereo.assign(2 * count, 0.0f);
        MixVoice(sample, cursor, step, 1.0f, 0.5f, 1.0f, 0.5f, stereo.data(), count);
        for (int i = 0; i < count; ++i) {
            left.push_back(stereo[2 * i]);
            worstRight = std::max(worstRight, std::fabs(stereo[2 * i + 1] - 0.5 * stereo[2 * i]));
        }
    }
    EXPECT_LT(worstRight, 1e-6);
    return left;
}

std::vector<double> Tail(const std::vector<double>& signal, std::size_t skip, std::size_t count) {
    return std::vector<double>(signal.begin() + skip, signal.begin() + skip + count);
}

double Rms(const std::vector<double>& signal) {
    double sum = 0.0;
    for (double v : signal) sum += v * v;
    return std::sqrt(sum / signal.size());
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

// Amplitude of harmonic n of the 32-frame square cycle: the sampled square
// holds harmonics 4A / (32 sin(pi n / 32)) for odd n (close to the
// continuous square's 4A / (pi n) for small n).
double SquareHarmonic(double amplitude, int n) { return 4.0 * amplitude / (32.0 * std::sin(kPi * n / 32.0)); }

// The same square read by plain linear interpolation, as a reference the
// measurement must find full of aliases.
std::vector<double> LinearlyInterpolatedSquare(double amplitude, double step, std::size_t skip, std::size_t count) {
    const std::vector<float> cycle = SquareCycle(static_cast<float>(amplitude));
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double position = std::fmod(static_cast<double>(skip + i) * step, 32.0);
        const std::size_t index = static_cast<std::size_t>(position);
        const double fraction = position - static_cast<double>(index);
        out[i] = cycle[index] + fraction * (cycle[(index + 1) % 32] - cycle[index]);
    }
    return out;
}

// ---------------------------------------------------------------------------
// The alias target: the square at 1,000,000 / p Hz, everything but its
// harmonics at -80 dB or less; a fundamental above Nyquist is silence.

struct AliasCase {
    int period;
    double outputRate;
};

// Printed by name: GoogleTest's fallback dumps the struct's raw bytes,
// padding included, which memcheck rightly calls a read of uninitialised
// memory.
void PrintTo(const AliasCase& param, std::ostream* out) {
    *out << "p=" << param.period << " at " << param.outputRate << " Hz";
}

class SquareAliasTest : public ::testing::TestWithParam<AliasCase> {};

TEST_P(SquareAliasTest, HoldsOnlyHarmonicsBelowNyquist) {
    const AliasCase param = GetParam();
    const float amplitude = 0.5f;
    auto sample = LoopedSample(SquareCycle(amplitude));
    const double rate = 1e6 / param.period;
    const double step = rate / param.outputRate;
    const double fundamental = rate / 32.0;
    // About 4 s of audio after the first frames.
    const std::size_t analysed = param.outputRate > 16000 ? (1u << 17) : (1u << 15);
    const std::size_t skip = 2048;
    VoiceCursor cursor;
    const std::vector<double> left = Render(*sample, cursor, step, static_cast<int>(skip + analysed));
    const std::vector<double> signal = Tail(left, skip, analysed);

    if (fundamental >= param.outputRate / 2) {
        const double rms = Rms(signal);
        std::printf("  p=%d at %.0f Hz: fundamental %.0f Hz above Nyquist, RMS %.2e of the amplitude\n",
                    param.period, param.outputRate, fundamental, rms / amplitude);
        EXPECT_LT(rms, 1e-4 * amplitude);
        return;
    }
    const double offHarmonicDb = spectrum::OffHarmonicLevelDb(signal, param.outputRate, fundamental, 24);
    const double level = spectrum::AmplitudeAt(signal, param.outputRate, fundamental);
    const double levelErrorDb = Db(level / (4.0 / kPi * amplitude));
    const double linearDb = spectrum::OffHarmonicLevelDb(
        LinearlyInterpolatedSquare(amplitude, step, skip, analysed), param.outputRate, fundamental, 24);
    std::printf("  p=%d at %.0f Hz: off-harmonic %.1f dB (linear interpolation: %.1f dB), fundamental %.3f dB from 4/pi A\n",
                param.period, param.outputRate, offHarmonicDb, linearDb, levelErrorDb);
    EXPECT_LE(offHarmonicDb, -80.0);
    EXPECT_GT(linearDb, -60.0) << "the measurement misses aliases";
    EXPECT_LT(std::fabs(levelErrorDb), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Periods, SquareAliasTest,
                         ::testing::Values(AliasCase{1, 32000}, AliasCase{3, 32000}, AliasCase{7, 32000},
                                           AliasCase{13, 32000}, AliasCase{29, 32000}, AliasCase{61, 32000},
                                           AliasCase{3, 8000}, AliasCase{7, 8000}, AliasCase{13, 8000},
                                           AliasCase{29, 8000}, AliasCase{61, 8000}),
                         [](const ::testing::TestParamInfo<AliasCase>& info) {
                             return "p" + std::to_string(info.param.period) + "_at_" +
                                    std::to_string(static_cast<int>(info.param.outputRate));
                         });

TEST(SquareLevel, HarmonicsWellInsideTheBandKeepTheirAmplitude) {
    // p = 61 at 32000 Hz: fundamental 512 Hz. The 32 frames hold harmonics
    // 1..15 (harmonic 17 would be the image of 15); all of them lie in the
    // band every copy keeps (at least 0.67 of Nyquist).
    const float amplitude = 0.5f;
    auto sample = LoopedSample(SquareCycle(amplitude));
    const double rate = 1e6 / 61, fundamental = rate / 32;
    VoiceCursor cursor;
    const auto signal = Tail(Render(*sample, cursor, rate / 32000, 2048 + (1 << 16)), 2048, 1 << 16);
    for (int n = 1; n <= 15; n += 2) {
        const double level = spectrum::AmplitudeAt(signal, 32000, n * fundamental);
        EXPECT_NEAR(Db(level / SquareHarmonic(amplitude, n)), 0.0, 0.1) << "harmonic " << n;
    }
    // Even harmonics are absent from a square, and nothing above harmonic 15
    // is made up.
    EXPECT_LT(spectrum::AmplitudeAt(signal, 32000, 2 * fundamental), 1e-5);
    EXPECT_LT(spectrum::AmplitudeAt(signal, 32000, 17 * fundamental), 1e-5);
}

TEST(SquareLevel, DcOfALoopRemainsWhenEveryOtherHarmonicIsAboveNyquist) {
    // 24 frames high, 8 low: mean A / 2. At p = 1 (fundamental 31250 Hz)
    // only that mean fits below 16 kHz.
    std::vector<float> frames(32, 0.6f);
    for (int i = 24; i < 32; ++i) frames[i] = -0.6f;
    auto sample = LoopedSample(frames);
    VoiceCursor cursor;
    const auto signal = Tail(Render(*sample, cursor, 1e6 / 32000, 20000), 1000, 19000);
    double worst = 0.0;
    for (double v : signal) worst = std::max(worst, std::fabs(v - 0.3));
    EXPECT_LT(worst, 1e-4);
}

// ---------------------------------------------------------------------------
// Pitch: rate / loop length.

// Frequency of `signal` from its upward zero crossings, each placed by linear
// interpolation between the frames around it.
double CrossingFrequency(const std::vector<double>& signal, double sampleRate) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < signal.size(); ++i) {
        if (signal[i - 1] < 0.0 && signal[i] >= 0.0) {
            const double at = (i - 1) + signal[i - 1] / (signal[i - 1] - signal[i]);
            if (first < 0.0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * sampleRate / (last - first);
}

TEST(Pitch, IsRateOverLoopLength) {
    struct Case {
        std::size_t loopLength;
        double rate;
        double outputRate;
    };
    for (const Case& c : {Case{32, 1e6 / 29, 32000}, Case{32, 1e6 / 200, 32000}, Case{100, 44100, 32000},
                          Case{100, 44100, 8000}, Case{37, 3000, 32000}, Case{1000, 1e6, 32000}}) {
        std::vector<float> frames(c.loopLength);
        for (std::size_t i = 0; i < c.loopLength; ++i) frames[i] = static_cast<float>(0.7 * std::sin(2 * kPi * i / c.loopLength));
        auto sample = LoopedSample(frames);
        VoiceCursor cursor;
        const auto signal = Render(*sample, cursor, c.rate / c.outputRate, static_cast<int>(3 * c.outputRate));
        const double expected = c.rate / c.loopLength;
        EXPECT_NEAR(CrossingFrequency(signal, c.outputRate), expected, expected * 1e-6)
            << "loop " << c.loopLength << " at " << c.rate << " Hz";
    }
}

// ---------------------------------------------------------------------------
// Gains.

TEST(Gains, RampLinearlyFromTheStartPairToTheEndPairAndAddToTheBuffer) {
    auto sample = LoopedSample(std::vector<float>(8, 0.5f));
    VoiceCursor cursor;
    const int frames = 100;
    std::vector<float> stereo(2 * frames, 0.25f);
    MixVoice(*sample, cursor, 2.3, 0.2f, 1.0f, 0.8f, 0.0f, stereo.data(), frames);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / frames;
        EXPECT_NEAR(stereo[2 * i], 0.25 + 0.5 * (0.2 + 0.6 * t), 1e-5) << i;
        EXPECT_NEAR(stereo[2 * i + 1], 0.25 + 0.5 * (1.0 - t), 1e-5) << i;
    }
    // The next block continues from the end pair.
    std::vector<float> next(2 * 10, 0.0f);
    MixVoice(*sample, cursor, 2.3, 0.8f, 0.0f, 0.8f, 0.0f, next.data(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(next[2 * i], 0.4, 1e-5);
        EXPECT_EQ(next[2 * i + 1], 0.0f);
    }
}

TEST(Gains, ZeroGainsAdvanceThePositionExactlyAsSoundingOnesDo) {
    std::vector<float> frames(50);
    for (int i = 0; i < 50; ++i) frames[i] = static_cast<float>(std::sin(2 * kPi * i / 50));
    auto sample = LoopedSample(frames);
    VoiceCursor heard, silent;
    std::vector<float> stereo(2 * 777);
    for (int block = 0; block < 40; ++block) {
        MixVoice(*sample, heard, 3.7, 1.0f, 1.0f, 1.0f, 1.0f, stereo.data(), 777);
        std::vector<float> untouched(2 * 777, 0.125f);
        MixVoice(*sample, silent, 3.7, 0.0f, 0.0f, 0.0f, 0.0f, untouched.data(), 777);
        for (float v : untouched) ASSERT_EQ(v, 0.125f);
    }
    EXPECT_DOUBLE_EQ(heard.position, silent.position);
}

// ---------------------------------------------------------------------------
// One-shots.

TEST(OneShot, PlaysOutSetsFinishedAndAddsNothingAfter) {
    for (double step : {0.37, 1.5, 9.0, 1000.0}) {
        SCOPED_TRACE(step);
        const int length = 1000;
        auto sample = OneShotSample(std::vector<float>(length, 1.0f));
        VoiceCursor cursor;
        std::vector<double> left;
        std::vector<float> stereo(2 * 64);
        int blocks = 0;
        while (!cursor.finished && blocks < 100000) {
            std::fill(stereo.begin(), stereo.end(), 0.0f);
            MixVoice(*sample, cursor, step, 1.0f, 1.0f, 1.0f, 1.0f, stereo.data(), 64);
            for (int i = 0; i < 64; ++i) left.push_back(stereo[2 * i]);
            ++blocks;
        }
        ASSERT_TRUE(cursor.finished);
        // It lasts the sample's length at this step, plus the filter's short
        // ringing after the end.
        EXPECT_GE(static_cast<double>(left.size()), length / step - 64);
        EXPECT_LE(static_cast<double>(left.size()), (length + 60000) / step + 128);
        if (step < 10.0) {
            // Away from the edges it plays the constant at full level (with
            // the band limit's ripple from the edges)...
            const std::size_t middle = static_cast<std::size_t>(length / 2 / step);
            EXPECT_NEAR(left[middle], 1.0, 2e-3);
            // ...and soon after the end it is silent.
            const std::size_t after = static_cast<std::size_t>((length + 200.0 * std::max(1.0, step)) / step);
            for (std::size_t i = after; i < left.size(); ++i) ASSERT_LT(std::fabs(left[i]), 1e-3) << i;
        }
        std::vector<float> later(2 * 64, 0.5f);
        MixVoice(*sample, cursor, step, 1.0f, 1.0f, 1.0f, 1.0f, later.data(), 64);
        for (float v : later) ASSERT_EQ(v, 0.5f);
        EXPECT_TRUE(cursor.finished);
    }
}

// ---------------------------------------------------------------------------
// A loop after an intro, and positions over hours.

TEST(Loop, AfterAnIntroPlaysTheIntroOnceThenRepeatsTheLoopWithoutDrift) {
    const std::size_t intro = 2000, period = 50;
    std::vector<float> frames(intro + period + 300, 0.9f);  // frames after the loop are never heard
    for (std::size_t i = 0; i < intro; ++i) frames[i] = 0.0f;
    for (std::size_t i = 0; i < period; ++i) frames[intro + i] = static_cast<float>(0.8 * std::sin(2 * kPi * i / period));
    SampleLoop loop{true, intro, intro + period};
    auto sample = PrepareSample(frames, loop);
    ASSERT_NE(sample, nullptr);
    const auto expected = [&](double position) {
        return 0.8 * std::sin(2 * kPi * (position - static_cast<double>(intro)) / period);
    };
    for (double step : {0.9, 2.7}) {
        SCOPED_TRACE(step);
        VoiceCursor cursor;
        const int frames10s = 320000;
        const auto left = Render(*sample, cursor, step, frames10s);
        double worstSilence = 0.0, worstTone = 0.0;
        for (int i = 0; i < frames10s; ++i) {
            const double position = i * step;
            if (position < intro - 400) worstSilence = std::max(worstSilence, std::fabs(left[i]));
            if (position > intro + 300) worstTone = std::max(worstTone, std::fabs(left[i] - expected(position)));
        }
        EXPECT_LT(worstSilence, 1e-4);
        EXPECT_LT(worstTone, 1e-4);

        // An hour later (advanced with zero gains, which costs nothing to
        // compute) the tone is still in phase with the exact position.
        const long long hour = 32000LL * 3600;
        long long done = frames10s;
        std::vector<float> scratch(2 * 4096);
        while (done < hour) {
            const int count = static_cast<int>(std::min<long long>(4096, hour - done));
            MixVoice(*sample, cursor, step, 0.0f, 0.0f, 0.0f, 0.0f, scratch.data(), count);
            done += count;
        }
        EXPECT_LT(cursor.position, static_cast<double>(intro + period + 100000));
        const auto later = Render(*sample, cursor, step, 1000);
        double worstLater = 0.0;
        for (int i = 0; i < 1000; ++i) {
            const double position = static_cast<double>(hour + i) * step;
            const double inLoop = intro + 300 + std::fmod(position - (intro + 300), static_cast<double>(period));
            worstLater = std::max(worstLater, std::fabs(later[i] - expected(inLoop)));
        }
        // 2e-3 of amplitude 0.8 is a phase error of 0.02 frames.
        EXPECT_LT(worstLater, 2e-3);
    }
}

TEST(Loop, FromFrameZeroSoundsAsTheSameLoopAfterAnIntroOncePastIt) {
    // Short loops from frame 0 are built from their harmonics; a loop after
    // an intro is filtered by blocks. Past the intro both play one periodic
    // signal.
    std::vector<float> cycle = SquareCycle(0.7f);
    for (std::size_t i = 0; i < cycle.size(); ++i) cycle[i] += static_cast<float>(0.2 * std::sin(0.3 * i * i));
    std::vector<float> twice = cycle;
    twice.insert(twice.end(), cycle.begin(), cycle.end());
    auto fromZero = LoopedSample(cycle);
    auto afterIntro = LoopedSample(twice, cycle.size());
    for (double step : {0.37, 0.9, 3.3, 17.0, 200.0, 5000.0}) {
        SCOPED_TRACE(step);
        // Far enough past the intro for the longest filter and the kernel.
        VoiceCursor first{100000.25, false}, second{100000.25, false};
        const auto expected = Render(*afterIntro, second, step, 3000);
        const auto left = Render(*fromZero, first, step, 3000);
        double worst = 0.0;
        for (std::size_t i = 0; i < left.size(); ++i) worst = std::max(worst, std::fabs(left[i] - expected[i]));
        EXPECT_LT(worst, 1e-5);
    }
}

// ---------------------------------------------------------------------------
// Very short samples.

TEST(ShortSamples, OneAndTwoFrameLoopsHoldOnlyTheirDc) {
    struct Case {
        std::vector<float> frames;
        double dc;
    };
    for (const Case& c : {Case{{0.3f}, 0.3}, Case{{0.9f, 0.1f}, 0.5}, Case{{0.5f, -0.5f}, 0.0}}) {
        auto sample = LoopedSample(c.frames);
        for (double step : {0.25, 0.5, 1.0, 3.0, 100.0}) {
            VoiceCursor cursor;
            const auto left = Render(*sample, cursor, step, 3000);
            double worst = 0.0;
            for (double v : left) worst = std::max(worst, std::fabs(v - c.dc));
            EXPECT_LT(worst, 1e-4) << "loop of " << c.frames.size() << " at step " << step;
        }
    }
}

TEST(ShortSamples, OneAndTwoFrameOneShotsSoundBrieflyAndFinish) {
    for (const std::vector<float>& frames : {std::vector<float>{0.7f}, std::vector<float>{0.7f, -0.2f}}) {
        for (double step : {0.25, 1.0, 40.0}) {
            auto sample = OneShotSample(frames);
            VoiceCursor cursor;
            double peak = 0.0;
            int rendered = 0;
            std::vector<float> stereo(2 * 32);
            while (!cursor.finished && rendered < 1000000) {
                std::fill(stereo.begin(), stereo.end(), 0.0f);
                MixVoice(*sample, cursor, step, 1.0f, 1.0f, 1.0f, 1.0f, stereo.data(), 32);
                for (float v : stereo) {
                    ASSERT_TRUE(std::isfinite(v));
                    peak = std::max(peak, std::fabs(static_cast<double>(v)));
                }
                rendered += 32;
            }
            EXPECT_TRUE(cursor.finished) << frames.size() << " frames at step " << step;
            EXPECT_GT(peak, 0.0);
            EXPECT_LT(peak, 0.8);
        }
    }
}

// ---------------------------------------------------------------------------
// The transforms under the filters: sizes they cannot take are refused
// (rather than dividing by zero or running off the twiddles), and the sizes
// they take still round-trip.

TEST(Fourier, RefusesSizesOutsideItsPowersOfTwoAndStillRoundTrips) {
    const fsound::fourier::Twiddles twiddles = fsound::fourier::MakeTwiddles(16);
    for (std::size_t points : {0u, 1u, 2u, 3u, 6u, 32u}) {
        std::vector<double> signal(points, 1.0);
        std::vector<std::complex<double>> spectrum(3, 1.0);
        EXPECT_FALSE(fsound::fourier::RealForward(signal, twiddles, spectrum)) << points << " points";
        EXPECT_TRUE(spectrum.empty()) << points << " points";
        EXPECT_EQ(signal, std::vector<double>(points, 1.0)) << points << " points";
    }
    // Bins b stand for 2 (b - 1) points: none, 0, 2, 6, 32 (too many), 34.
    for (std::size_t bins : {0u, 1u, 2u, 4u, 17u, 18u}) {
        std::vector<std::complex<double>> spectrum(bins, 1.0);
        std::vector<double> signal(5, 1.0);
        EXPECT_FALSE(fsound::fourier::RealInverse(spectrum, twiddles, signal)) << bins << " bins";
        EXPECT_TRUE(signal.empty()) << bins << " bins";
    }

    const std::vector<double> original = {0.5, -1.0, 2.0, 0.25, 3.0, -0.75, 1.5, 0.0};
    std::vector<double> signal = original;
    std::vector<std::complex<double>> spectrum;
    ASSERT_TRUE(fsound::fourier::RealForward(signal, twiddles, spectrum));
    ASSERT_EQ(spectrum.size(), 5u);
    std::vector<double> back;
    ASSERT_TRUE(fsound::fourier::RealInverse(spectrum, twiddles, back));
    ASSERT_EQ(back.size(), original.size());
    // The inverse is unscaled: n times the signal.
    for (std::size_t j = 0; j < original.size(); ++j) EXPECT_NEAR(back[j], 8.0 * original[j], 1e-9) << j;
}

// Bad input, and numbers that stay numbers.

TEST(Prepare, RejectsEmptyInputBadLoopsAndValuesThatAreNotNumbers) {
    EXPECT_EQ(PrepareSample({}, SampleLoop{}), nullptr);
    EXPECT_EQ(PrepareSample({}, SampleLoop{true, 0, 0}), nullptr);
    EXPECT_EQ(PrepareSample({0.1f, 0.2f}, SampleLoop{true, 1, 1}), nullptr);
    EXPECT_EQ(PrepareSample({0.1f, 0.2f}, SampleLoop{true, 2, 1}), nullptr);
    EXPECT_EQ(PrepareSample({0.1f, 0.2f}, SampleLoop{true, 0, 3}), nullptr);
    EXPECT_EQ(PrepareSample({0.1f, std::numeric_limits<float>::quiet_NaN()}, SampleLoop{}), nullptr);
    EXPECT_EQ(PrepareSample({std::numeric_limits<float>::infinity()}, SampleLoop{}), nullptr);

    auto whole = PrepareSample({0.1f, 0.2f}, SampleLoop{true, 0, 2});
    ASSERT_NE(whole, nullptr);
    EXPECT_TRUE(fsound::IsLooped(*whole));
    EXPECT_EQ(fsound::FrameCount(*whole), 2u);
    // Loop points of a one-shot mean nothing.
    auto once = PrepareSample({0.1f, 0.2f, 0.3f}, SampleLoop{false, 5, 1});
    ASSERT_NE(once, nullptr);
    EXPECT_FALSE(fsound::IsLooped(*once));
    EXPECT_EQ(fsound::FrameCount(*once), 3u);
}

TEST(Mix, NoNaNsOrDenormalsAtAnyStepAndNothingForAStepThatIsNotPositive) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> frames(5000);
    for (float& v : frames) v = noise(random);
    // A burst in silence: the band-limited copies hold long stretches of
    // tiny values before and after it.
    for (std::size_t i = 0; i < 2000; ++i) frames[i] = frames[4999 - i] = 0.0f;
    std::vector<std::shared_ptr<const BandLimitedSample>> samples = {OneShotSample(frames), LoopedSample(frames),
                                                                     LoopedSample(frames, 1000)};
    for (const auto& sample : samples) {
        for (double step : {1e-3, 0.37, 1.0, 7.77, 125.0, 3000.0, 1e7}) {
            VoiceCursor cursor;
            std::vector<float> stereo(2 * 20000, 0.0f);
            MixVoice(*sample, cursor, step, 0.0f, 1e-3f, 1.0f, 1.0f, stereo.data(), 20000);
            for (float v : stereo) {
                ASSERT_TRUE(std::isfinite(v)) << step;
                ASSERT_NE(std::fpclassify(v), FP_SUBNORMAL) << step;
            }
        }
    }
    for (double step : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        VoiceCursor cursor;
        cursor.position = 12.5;
        std::vector<float> stereo(2 * 100, 0.0f);
        MixVoice(*samples[1], cursor, step, 1.0f, 1.0f, 1.0f, 1.0f, stereo.data(), 100);
        for (float v : stereo) ASSERT_EQ(v, 0.0f);
        EXPECT_EQ(cursor.position, 12.5);
    }
}

// Every way of mixing this processor has gives the portable one's samples
// bit for bit (the browser's build has only that one, and its renders are
// fenk-render's byte for byte): loops and one-shots, at steps of every copy,
// with ramping and steady gains and blocks that end between four-frame
// groups.
TEST(Mix, EveryPathGivesThePortableSamplesBitForBit) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> frames(3000);
    for (float& v : frames) v = noise(random);
    const std::vector<std::shared_ptr<const BandLimitedSample>> samples = {
        LoopedSample(SquareCycle(0.5f)), OneShotSample(frames), LoopedSample(frames, 700)};
    const auto mix = [&](fsound::MixPath path, const BandLimitedSample& sample, double step) {
        EXPECT_TRUE(fsound::UseMixPath(path));
        VoiceCursor cursor;
        std::vector<float> stereo(2 * 9000, 0.0f);
        for (int done = 0, block = 1; done < 9000; done += block, block = block % 300 + 37) {
            const int count = std::min(block, 9000 - done);
            // Every other block ramps; the rest hold their gains.
            const float gain = static_cast<float>(done % 1000) / 1000.0f;
            const bool ramp = block % 2 == 0;
            MixVoice(sample, cursor, step, gain, 1.0f - gain, ramp ? 1.0f - gain : gain, ramp ? gain : 1.0f - gain,
                     stereo.data() + 2 * done, count);
        }
        return stereo;
    };
    int compared = 0;
    for (const fsound::MixPath path : {fsound::MixPath::Avx, fsound::MixPath::Avx512}) {
        if (!fsound::UseMixPath(path)) continue;
        for (const auto& sample : samples) {
            for (const double step : {0.013, 0.3, 1.0, 1.37, 5.5, 333.3}) {
                SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)) + ", step " + std::to_string(step));
                const std::vector<float> portable = mix(fsound::MixPath::Portable, *sample, step);
                const std::vector<float> vectors = mix(path, *sample, step);
                ASSERT_EQ(std::memcmp(portable.data(), vectors.data(), portable.size() * sizeof(float)), 0);
                ++compared;
            }
        }
    }
    EXPECT_TRUE(fsound::UseMixPath(fsound::MixPath::Best));
    if (compared == 0) GTEST_SKIP() << "this processor mixes only the portable way";
}

}  // namespace
