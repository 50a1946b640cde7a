// The audio callback's cost per 16 ms block at 32000 Hz with a row's ten
// calls in it, placed at the moment each call was made or at the moment the
// row was meant for (the schedule), so that the placement's share shows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine.h"

namespace {

constexpr int kRate = 32000;

void BM_RenderBlockWithARowOfCalls(benchmark::State& state) {
    const bool scheduled = state.range(0) != 0;
    fsound::Engine engine;
    fsound::InitEngine(engine, kRate, 32, fsound::Timing::DeviceClock);
    const int frames = engine.blockFrames;
    const std::int64_t blockNs = 1000000000LL * frames / kRate;
    std::vector<float> stereo(2 * static_cast<std::size_t>(frames));
    std::int64_t now = 1000000000;
    // The device clock anchors over its first callbacks.
    for (int block = 0; block < 200; ++block, now += blockNs) {
        fsound::RenderBlock(engine, stereo.data(), frames, now);
    }
    for (auto _ : state) {
        for (int call = 0; call < 10; ++call) {
            fsound::Command command;
            command.kind = fsound::CommandKind::StopAll;
            command.scheduled = scheduled;
            command.timeNs = now - engine.latencyFrames * 1000000000LL / kRate;
            fsound::PushCommand(engine.queue, command);
        }
        fsound::RenderBlock(engine, stereo.data(), frames, now);
        now += blockNs;
    }
    state.SetLabel(scheduled ? "meant-for moments" : "moments of the calls");
}
BENCHMARK(BM_RenderBlockWithARowOfCalls)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
