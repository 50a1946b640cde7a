// Cost of the signal core: mixing voices at 32000 Hz for steps across the
// song format's whole range, and preparing samples of several lengths.
//
// core_percent: the share of one core that mixing takes in real time, i.e.
// the processor time to mix one second of audio / 1 s * 100.
#include "band_limited.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr double kOutputRate = 32000.0;
constexpr int kBlockFrames = 256;

std::shared_ptr<const fsound::BandLimitedSample> Square() {
    std::vector<float> frames(32, 0.5f);
    for (int i = 16; i < 32; ++i) frames[i] = -0.5f;
    return fsound::PrepareSample(frames, fsound::SampleLoop{true, 0, 32});
}

// Processor time spent in the timed loop / audio time it produced * 100
// (processor time, so other programs on a busy machine do not count).
void ReportCorePercent(benchmark::State& state, std::clock_t spent, double outputRate) {
    const double audioSeconds = static_cast<double>(state.iterations()) * kBlockFrames / outputRate;
    const double seconds = static_cast<double>(spent) / CLOCKS_PER_SEC;
    state.counters["core_percent"] = audioSeconds > 0.0 ? seconds / audioSeconds * 100.0 : 0.0;
}

// Args: voices, period p (every voice at 1,000,000 / p Hz; p = 0: the voices
// spread over p = 1..255).
void BM_MixVoices(benchmark::State& state) {
    const int voices = static_cast<int>(state.range(0));
    const int period = static_cast<int>(state.range(1));
    const auto sample = Square();
    std::vector<fsound::VoiceCursor> cursors(voices);
    std::vector<double> steps(voices);
    for (int v = 0; v < voices; ++v) {
        const int p = period > 0 ? period : 1 + (v * 254) / std::max(1, voices - 1);
        steps[v] = 1e6 / p / kOutputRate;
        cursors[v].position = v * 1.7;
    }
    std::vector<float> stereo(2 * kBlockFrames);
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        std::fill(stereo.begin(), stereo.end(), 0.0f);
        for (int v = 0; v < voices; ++v)
            fsound::MixVoice(*sample, cursors[v], steps[v], 0.25f, 0.1f, 0.25f, 0.1f, stereo.data(), kBlockFrames);
        benchmark::DoNotOptimize(stereo.data());
        benchmark::ClobberMemory();
    }
    ReportCorePercent(state, std::clock() - start, kOutputRate);
}
BENCHMARK(BM_MixVoices)
    ->ArgNames({"voices", "p"})
    ->ArgsProduct({{1, 4, 32}, {1, 3, 7, 13, 29, 61, 125, 127, 255, 0}});

// Four voices spread over the periods, by each way of mixing this processor
// has (path: 1 portable, 2 AVX, 3 AVX-512); one it lacks is skipped.
void BM_MixPaths(benchmark::State& state) {
    const auto path = static_cast<fsound::MixPath>(state.range(0));
    if (!fsound::UseMixPath(path)) {
        state.SkipWithError("this processor lacks the path");
        return;
    }
    const auto sample = Square();
    std::vector<fsound::VoiceCursor> cursors(4);
    std::vector<double> steps(4);
    for (int v = 0; v < 4; ++v) steps[v] = 1e6 / (1 + v * 84) / kOutputRate;
    std::vector<float> stereo(2 * kBlockFrames);
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        std::fill(stereo.begin(), stereo.end(), 0.0f);
        for (int v = 0; v < 4; ++v)
            fsound::MixVoice(*sample, cursors[v], steps[v], 0.25f, 0.1f, 0.25f, 0.1f, stereo.data(), kBlockFrames);
        benchmark::DoNotOptimize(stereo.data());
        benchmark::ClobberMemory();
    }
    ReportCorePercent(state, std::clock() - start, kOutputRate);
    fsound::UseMixPath(fsound::MixPath::Best);
}
BENCHMARK(BM_MixPaths)->ArgName("path")->DenseRange(1, 3);

// Preparing a one-shot of `frames` frames of noise (44100 frames: 1 s at
// 44.1 kHz), and the 32-frame square.
void BM_PrepareSample(benchmark::State& state) {
    const std::size_t frames = static_cast<std::size_t>(state.range(0));
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> mono(frames);
    for (float& v : mono) v = noise(random);
    const fsound::SampleLoop loop = frames == 32 ? fsound::SampleLoop{true, 0, 32} : fsound::SampleLoop{};
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto sample = fsound::PrepareSample(mono, loop);
        bytes = fsound::StorageBytes(*sample);
        benchmark::DoNotOptimize(sample);
    }
    state.counters["stored_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_PrepareSample)->ArgName("frames")->Arg(32)->Arg(44100)->Arg(441000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
