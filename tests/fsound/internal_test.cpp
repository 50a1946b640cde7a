// The library's inner modules: the frame clock against a jittery device,
// the render loop's placing of commands (latency, order, lateness, rows on a
// bursty device), the command queue, the channel allocator, and the decoder
// on bytes in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <vector>

#include "channel_allocator.h"
#include "engine.h"
#include "tests/fsound/fixtures.h"
#include "sample_decode.h"

using namespace fsound_test;

namespace {

constexpr int kRate = 32000;
constexpr double kFrameNs = 1e9 / kRate;

TEST(FrameClock, FollowsADeviceThatRunsSlowWithJitteryCallbacksAndRestartsAfterAStall) {
    fsound::FrameClock clock;
    fsound::InitFrameClock(clock, kRate, 128);
    // 0.1 % slower than nominal (a poor sound card), each callback up to
    // 0.7 ms late (0.35 ms on average, a constant offset rather than an
    // error).
    const double framePeriodNs = 1.001 * kFrameNs;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> lateness(0.0, 0.7e6);
    const double origin = 1e12;
    double worstNs = 0.0;
    std::int64_t frame = 0;
    for (int index = 0; index < 2000; ++index, frame += 128) {
        const double due = origin + frame * framePeriodNs;
        fsound::UpdateFrameClock(clock, static_cast<std::int64_t>(due + lateness(random)), frame);
        if (index < 1000) continue;  // four seconds to lock
        for (double into : {-1.0, 0.0, 0.5, 1.0}) {  // moments around the block
            const double error = (fsound::FrameAtTime(clock, static_cast<std::int64_t>(due + into * 128 * framePeriodNs)) -
                                  (frame + into * 128)) * framePeriodNs;
            worstNs = std::fmax(worstNs, std::fabs(error + 0.35e6));
        }
    }
    std::printf("frame clock: worst error %.3f ms\n", worstNs * 1e-6);
    EXPECT_LT(worstNs, 0.5e6) << "the card's drift followed, jitter of 0.7 ms filtered";
    EXPECT_EQ(clock.resets, 0);

    // 100 ms without a callback: the next one becomes the new anchor.
    const auto stalled = static_cast<std::int64_t>(origin + frame * framePeriodNs + 100e6);
    fsound::UpdateFrameClock(clock, stalled, frame);
    EXPECT_EQ(clock.resets, 1);
    EXPECT_NEAR(fsound::FrameAtTime(clock, stalled), static_cast<double>(frame), 1e-6);
    fsound::UpdateFrameClock(clock, stalled + 4000000, frame + 1000);
    EXPECT_EQ(clock.resets, 2) << "a block out of sequence";
}

TEST(FrameClock, AnchorsOnTheSteadyLineOfADeviceThatFillsItsBufferInABurstAtTheStart) {
    // A device with a buffer of nine blocks of 128 frames: at the start it
    // asks for all nine at once, then for four at a time whenever four have
    // played (every 16 ms), each burst up to 0.5 ms late. Frame f plays at
    // start + f / rate, so the steady line of its callbacks lies a buffer
    // (36 ms) earlier, plus the middle of a burst.
    fsound::FrameClock clock;
    fsound::InitFrameClock(clock, kRate, 128);
    const double blockNs = 128 * kFrameNs;
    const double start = 3e12;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> lateness(0.0, 0.5e6);
    std::int64_t frame = 0;
    for (int index = 0; index < 9; ++index, frame += 128) {
        fsound::UpdateFrameClock(clock, static_cast<std::int64_t>(start + index * 20e3), frame);
    }
    EXPECT_FALSE(fsound::FrameClockAnchored(clock));
    // The frame that FrameAtTime gives for a moment, against that moment's
    // frame on the steady line: the same constant all along once anchored.
    const auto offsetAt = [&](double moment) {
        return fsound::FrameAtTime(clock, static_cast<std::int64_t>(moment)) - (moment - start) / kFrameNs;
    };
    double anchoredOffset = 0.0, worstDriftFrames = 0.0;
    bool anchored = false;
    for (int burst = 1; burst < 250; ++burst) {
        const double burstTime = start + burst * 4 * blockNs + lateness(random);
        for (int index = 0; index < 4; ++index, frame += 128) {
            const double now = burstTime + index * 20e3;
            fsound::UpdateFrameClock(clock, static_cast<std::int64_t>(now), frame);
            if (!anchored && fsound::FrameClockAnchored(clock)) {
                anchored = true;
                anchoredOffset = offsetAt(now);
                EXPECT_LT(burstTime - start, 200e6) << "anchored in the first fifth of a second";
            } else if (anchored) {
                worstDriftFrames = std::fmax(worstDriftFrames, std::fabs(offsetAt(now) - anchoredOffset));
            }
        }
    }
    ASSERT_TRUE(anchored);
    std::printf("frame clock after a start-up burst: drifts at most %.3f ms once anchored\n",
                worstDriftFrames * kFrameNs * 1e-6);
    EXPECT_LT(worstDriftFrames * kFrameNs, 0.5e6) << "a row placed after the anchoring keeps its length";
    EXPECT_EQ(clock.resets, 0);
}

std::shared_ptr<const fsound::BandLimitedSample> Level() {
    return fsound::PrepareSample(std::vector<float>(32, 0.5f), fsound::SampleLoop{true, 0, 32});
}

fsound::Command Start(int channel, const fsound::BandLimitedSample* sample, int pan, std::int64_t timeNs) {
    fsound::Command command;
    command.kind = fsound::CommandKind::Start;
    command.channel = channel;
    command.sample = sample;
    command.step = 1.0;
    command.volume = 1.0f;
    command.pan = pan;
    command.noteId = 1;
    command.timeNs = timeNs;
    return command;
}

TEST(RenderBlock, PlacesCommandsAtTheirMomentPlusTheLatencyInQueueOrder) {
    fsound::Engine engine;
    fsound::InitEngine(engine, kRate, 4, fsound::Timing::DeviceClock);
    const int blockFrames = engine.blockFrames;
    ASSERT_EQ(blockFrames, 1024) << "32 ms blocks at 32000 Hz";
    const int latency = engine.latencyFrames;
    ASSERT_EQ(latency, 5 * blockFrames / 2);
    const auto level = Level();
    const std::int64_t origin = 5000000000;
    // Made 1 ms (32 frames) after the first callback: heard at 32 + latency.
    fsound::PushCommand(engine.queue, Start(0, level.get(), 0, origin + static_cast<std::int64_t>(32 * kFrameNs)));
    // Made 2 ms earlier but queued after it: never before it.
    fsound::PushCommand(engine.queue, Start(1, level.get(), 255, origin - 1000000));
    std::vector<float> out;
    std::vector<float> block(2 * static_cast<std::size_t>(blockFrames));
    const int blocks = latency / blockFrames + 2;
    for (int index = 0; index < blocks; ++index) {
        fsound::RenderBlock(engine, block.data(), blockFrames,
                            origin + static_cast<std::int64_t>(index * blockFrames * kFrameNs));
        out.insert(out.end(), block.begin(), block.end());
    }
    EXPECT_EQ(FirstAbove(Side(out, 0), 0.1), 32 + latency);
    EXPECT_EQ(FirstAbove(Side(out, 1), 0.1), 32 + latency);
    EXPECT_EQ(engine.lateCommands.load(), 1);
    // A command whose frame has passed applies at the start of the block.
    fsound::PushCommand(engine.queue, Start(2, level.get(), 0, origin));
    fsound::RenderBlock(engine, block.data(), blockFrames,
                        origin + static_cast<std::int64_t>(blocks * blockFrames * kFrameNs));
    EXPECT_NEAR(block[0], 1.0f, 0.01) << "two voices on the left from the block's first frame";
    EXPECT_EQ(engine.lateCommands.load(), 2);
}

// A device that dropped the blocks it held (a stop meant for now flushes
// PulseAudio's buffer): what was queued for the dropped blocks, a latency
// away, sounds from the first frame of the next block, which is the next
// heard; the clock starts again there, and the calls after it are placed a
// latency after the new line, not the old one.
TEST(RenderBlock, AfterTheDeviceDroppedItsBlocksWhatWasQueuedSoundsAtOnce) {
    fsound::Engine engine;
    fsound::InitEngine(engine, kRate, 4, fsound::Timing::DeviceClock, 4096);
    const int blockFrames = engine.blockFrames;
    const auto level = Level();
    std::vector<float> block(2 * static_cast<std::size_t>(blockFrames));
    const double blockNs = blockFrames * kFrameNs;
    const std::int64_t origin = 5000000000;
    int rendered = 0;
    auto render = [&](double atNs) {
        fsound::RenderBlock(engine, block.data(), blockFrames, static_cast<std::int64_t>(atNs));
        ++rendered;
    };
    for (int index = 0; index < 8; ++index) render(origin + index * blockNs);
    const int resetsBefore = engine.clock.resets;

    // Made just after the eighth block: due two and a half blocks on.
    const double madeNs = origin + 7.2 * blockNs;
    fsound::PushCommand(engine.queue, Start(0, level.get(), 0, static_cast<std::int64_t>(madeNs)));
    engine.outputDropped.store(true);
    // The server asks for two blocks at once to fill its emptied buffer.
    render(madeNs + 2e6);
    EXPECT_NEAR(block[0], 0.5f, 0.01) << "the start sounds from the block's first frame";
    EXPECT_FALSE(engine.outputDropped.load());
    EXPECT_EQ(fsound::PeekCommand(engine.queue), nullptr);
    EXPECT_EQ(engine.clock.resets, resetsBefore + 1);
    render(madeNs + 2e6);

    // The next request comes when the first block of the burst has played:
    // the clock's new line runs through it, and a call made at that
    // request lands a latency after the block it asks for (by the old
    // line, one and three quarter blocks earlier).
    const double nextNs = madeNs + 2e6 + blockNs;
    const std::int64_t requested = static_cast<std::int64_t>(rendered) * blockFrames;
    const std::int64_t due = requested + engine.latencyFrames;
    fsound::PushCommand(engine.queue, Start(1, level.get(), 255, static_cast<std::int64_t>(nextNs)));
    std::vector<float> out;
    for (double atNs = nextNs; static_cast<std::int64_t>(rendered) * blockFrames <= due; atNs += blockNs) {
        render(atNs);
        out.insert(out.end(), block.begin(), block.end());
    }
    const long heard = FirstAbove(Side(out, 1), 0.1);
    ASSERT_GE(heard, 0);
    EXPECT_NEAR(static_cast<double>(requested + heard), static_cast<double>(due), 2.0);
}

TEST(RenderBlock, RowsLastTheTimeBetweenTheirCallsOnABurstyJitteryDevice) {
    // A device at exactly 32000 Hz that asks for two blocks (32 ms) at
    // once, each burst up to 3 ms late; rows of 1, 2, 5, 10 and 37 ticks
    // whose calls come up to 1 ms late.
    fsound::Engine engine;
    fsound::InitEngine(engine, kRate, 4, fsound::Timing::DeviceClock);
    const int blockFrames = engine.blockFrames;
    constexpr int kBurst = 2;
    const auto level = Level();
    std::mt19937 random(11);
    std::uniform_real_distribution<double> burstLateness(0.0, 3e6), callLateness(0.0, 1e6);
    const double blockNs = blockFrames * kFrameNs;
    const double origin = 1e9;
    std::vector<std::int64_t> rowTimes;
    double moment = origin + 1e9;  // after a second of locking
    for (int round = 0; round < 4; ++round) {
        for (int ticks : {1, 2, 5, 10, 37}) {
            rowTimes.push_back(static_cast<std::int64_t>(moment + callLateness(random)));
            moment += ticks * 5e6;
        }
    }
    rowTimes.push_back(static_cast<std::int64_t>(moment));

    std::vector<float> out;
    std::vector<float> block(2 * static_cast<std::size_t>(blockFrames));
    std::size_t nextRow = 0;
    for (int burst = 0; burst < static_cast<int>((moment - origin + 3e8) / (kBurst * blockNs)); ++burst) {
        const double burstTime = origin + burst * kBurst * blockNs + burstLateness(random);
        for (int index = 0; index < kBurst; ++index) {
            const auto now = static_cast<std::int64_t>(burstTime + index * 50e3);
            for (; nextRow < rowTimes.size() && rowTimes[nextRow] <= now; ++nextRow) {
                fsound::Command stop;
                stop.kind = fsound::CommandKind::StopAll;
                stop.timeNs = rowTimes[nextRow];
                fsound::PushCommand(engine.queue, stop);
                fsound::PushCommand(engine.queue, Start(0, level.get(), nextRow % 2 ? 255 : 0, rowTimes[nextRow]));
            }
            fsound::RenderBlock(engine, block.data(), blockFrames, now);
            out.insert(out.end(), block.begin(), block.end());
        }
    }
    ASSERT_EQ(nextRow, rowTimes.size());
    long previous = -1;
    double worstMs = 0.0;
    for (std::size_t row = 0; row < rowTimes.size(); ++row) {
        const long onset = FirstAbove(Side(out, static_cast<int>(row % 2)), 0.1,
                                      previous < 0 ? 0 : static_cast<std::size_t>(previous) + 40);
        ASSERT_GE(onset, 0);
        if (previous >= 0) {
            const double errorMs = (onset - previous) * 1e3 / kRate - (rowTimes[row] - rowTimes[row - 1]) * 1e-6;
            worstMs = std::fmax(worstMs, std::fabs(errorMs));
        }
        previous = onset;
    }
    std::printf("bursty device: worst row-length error %.3f ms\n", worstMs);
    EXPECT_LT(worstMs, 1.0);
    EXPECT_EQ(engine.lateCommands.load(), 0);
    EXPECT_EQ(engine.clock.resets, 0);
}

TEST(CommandQueue, KeepsOrderRefusesWhenFullAndWrapsAround) {
    fsound::CommandQueue queue;
    fsound::InitCommandQueue(queue, 5);  // rounded up to 8
    int pushed = 0, popped = 0;
    for (int round = 0; round < 5; ++round) {
        fsound::Command command;
        for (command.channel = pushed; fsound::PushCommand(queue, command); command.channel = ++pushed) {
        }
        EXPECT_EQ(fsound::FreeCommandSlots(queue), 0u);
        for (int take = 0; take < 5; ++take, fsound::PopCommand(queue)) {
            ASSERT_NE(fsound::PeekCommand(queue), nullptr);
            EXPECT_EQ(fsound::PeekCommand(queue)->channel, popped++);
        }
    }
    EXPECT_EQ(pushed, 8 + 4 * 5);
}

TEST(ChannelAllocator, TakesFreeChannelsThenTheLowestPriorityOldestAndFreesPlayedOutOneShots) {
    std::atomic<std::uint32_t> ended[3] = {{0}, {0}, {0}};
    fsound::ChannelAllocator channels = fsound::MakeChannelAllocator(3, ended);
    const std::uint32_t first = fsound::TakeChannel(channels, 0, 128, true);
    fsound::TakeChannel(channels, 1, 10, false);
    fsound::TakeChannel(channels, 2, 10, false);
    EXPECT_EQ(fsound::ChooseChannel(channels, 128), 1) << "priority 10, the older of two";
    EXPECT_EQ(fsound::ChooseChannel(channels, 5), -1) << "every channel outranks it";
    ended[0].store(first);  // the mixer: the one-shot on channel 0 played out
    EXPECT_TRUE(fsound::ChannelIsFree(channels, 0));
    EXPECT_EQ(fsound::ChooseChannel(channels, 5), 0);
    const std::uint32_t again = fsound::TakeChannel(channels, 0, 128, true);
    EXPECT_NE(again, first);
    EXPECT_FALSE(fsound::ChannelIsFree(channels, 0)) << "the old note's end is not the new one's";
}

TEST(DecodeSampleBytes, DecodesAFileImageWithItsLoopAndRefusesGarbage) {
    WavSpec spec;
    spec.channels = 2;
    spec.sampleRate = 22050;
    for (int frame = 0; frame < 40; ++frame) {
        spec.frames.insert(spec.frames.end(), {8192, static_cast<std::int16_t>(-8192 + frame * 200)});
    }
    spec.loopStart = 4;
    spec.loopLastFrame = 35;
    std::vector<unsigned char> bytes = WavBytes(spec);
    const fsound::DecodeResult result = fsound::DecodeSampleBytes(bytes.data(), bytes.size());
    ASSERT_EQ(result.failure, fsound::DecodeFailure::None);
    EXPECT_EQ(result.sample.sampleRate, 22050);
    ASSERT_EQ(result.sample.mono.size(), 40u);
    EXPECT_NEAR(result.sample.mono[10], 2000 / 2 / 32768.0, 1e-6) << "the channels' mean";
    EXPECT_TRUE(result.sample.loop.looped);
    EXPECT_EQ(result.sample.loop.start, 4u);
    EXPECT_EQ(result.sample.loop.end, 36u);
    // A loop past the end is cut to the frames; one starting past them goes.
    spec.loopLastFrame = 90;
    bytes = WavBytes(spec);
    EXPECT_EQ(fsound::DecodeSampleBytes(bytes.data(), bytes.size()).sample.loop.end, 40u);
    spec.loopStart = 50;
    bytes = WavBytes(spec);
    EXPECT_FALSE(fsound::DecodeSampleBytes(bytes.data(), bytes.size()).sample.loop.looped);

    const unsigned char text[] = "not a sound at all, just words";
    EXPECT_EQ(fsound::DecodeSampleBytes(text, sizeof text).failure, fsound::DecodeFailure::NotAudio);
    EXPECT_EQ(fsound::DecodeSampleBytes(nullptr, 0).failure, fsound::DecodeFailure::NotAudio);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
        const fsound::DecodeResult partial = fsound::DecodeSampleBytes(bytes.data(), cut);
        if (partial.failure == fsound::DecodeFailure::None) {
            EXPECT_LE(partial.sample.mono.size(), 40u);
        }
    }
}

}  // namespace
