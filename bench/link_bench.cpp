// A 24 KB song sent to each kind of device against the scripted calculator,
// by the link library and, side by side, by Debian's libticalcs (whose
// stream is known to work with real calculators).
//
// Counters: bulk_writes, the host's bulk transfers (packets; on the link
// port, libticalcs cuts its packets into chunks of its own, so count ours);
// bytes_out, the bytes they carry; reads_answered, the reads that got
// something from the calculator; clock_ms, the link library's fake clock
// at the end (waits only: the scripted calculator answers at once). Time is
// wall time per send; libticalcs's includes the 50 ms pause it makes after
// every variable on the USB calculators.
#include <benchmark/benchmark.h>

#include <fstream>

#include "link/link.h"
#include "tests/link/large_song.h"
#include "tests/link/scripted_calculator.h"
#include "tests/link/ticalcs_peer.h"

namespace {

const tilink::Variable& Song() {
    static const tilink::Variable variable = tilink::VariableFromProgramFile(link_test::LargeSong()).value;
    return variable;
}

void Count(benchmark::State& state, const scripted::Calculator& calculator) {
    const std::vector<scripted::Bytes> writes = scripted::HostWrites(calculator);
    std::size_t bytes = 0;
    for (const scripted::Bytes& write : writes) bytes += write.size();
    state.counters["bulk_writes"] = static_cast<double>(writes.size());
    state.counters["bytes_out"] = static_cast<double>(bytes);
    state.counters["stored"] = static_cast<double>(scripted::Stored(calculator).size());
    std::size_t answers = 0;
    for (const scripted::Exchanged& exchanged : scripted::Exchange(calculator)) answers += !exchanged.fromHost;
    state.counters["reads_answered"] = static_cast<double>(answers);
}

void OurSend(benchmark::State& state) {
    const auto kind = static_cast<tilink::DeviceKind>(state.range(0));
    for (auto _ : state) {
        scripted::Calculator calculator = scripted::MakeCalculator(kind);
        const scripted::DriveResult run = scripted::DriveTransfer(calculator, Song());
        benchmark::DoNotOptimize(run.steps);
        state.PauseTiming();
        Count(state, calculator);
        state.counters["clock_ms"] = static_cast<double>(run.clockMs);
        state.counters["data_bytes"] = static_cast<double>(run.transfer.bytesTotal);
        state.ResumeTiming();
    }
}

void LibticalcsSend(benchmark::State& state) {
    const auto kind = static_cast<tilink::DeviceKind>(state.range(0));
    const std::string path = "/tmp/fenk-link-bench-large.8xp";
    {
        const test_support::Bytes file = link_test::LargeSong();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                     static_cast<std::streamsize>(file.size()));
    }
    for (auto _ : state) {
        scripted::Calculator calculator = scripted::MakeCalculator(kind);
        const ticalcs_peer::Run run = ticalcs_peer::Send(calculator, kind, path);
        if (!run.ok) state.SkipWithError(run.error.c_str());
        state.PauseTiming();
        Count(state, calculator);
        state.ResumeTiming();
    }
}

// 0 SilverLink, 1 TI-84 Plus, 2 TI-84 Plus CE (tilink::DeviceKind).
BENCHMARK(OurSend)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibticalcsSend)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
