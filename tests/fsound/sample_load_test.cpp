// Sample_Load: loops from the smpl chunk (and libsndfile's convention for
// their end), the loop flags, formats mixed to mono, the cache of decoded
// files, the default sample square.wav, and every way a load fails.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "fixtures.h"
#include "fsound.h"
#include "fsound_offline.h"

using namespace fsound_test;

namespace {

constexpr int kRate = 32000;

// frames 0..7 silent, 8..23 one sine cycle of amplitude 0.5 (the loop),
// 24..31 at +0.9, a tail a correct loop never reaches.
WavSpec SineLoopSpec() {
    WavSpec spec;
    const double pi = std::acos(-1.0);
    for (int frame = 0; frame < 8; ++frame) spec.frames.push_back(0);
    for (int frame = 0; frame < 16; ++frame) {
        spec.frames.push_back(static_cast<std::int16_t>(std::lround(16384 * std::sin(2 * pi * frame / 16.0))));
    }
    for (int frame = 0; frame < 8; ++frame) spec.frames.push_back(29491);
    spec.loopStart = 8;
    spec.loopLastFrame = 23;
    return spec;
}

class SampleLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FSOUND_Offline_Enable(1));
        ASSERT_TRUE(FSOUND_Init(kRate, 8, 0));
    }
    void TearDown() override { FSOUND_Close(); }

    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const std::string path = dir.File(name);
        WriteFile(path, bytes);
        return path;
    }

    // The left side of `frames` frames of `sample` alone, hard left, at the
    // output rate, full volume.
    std::vector<float> Hear(FSOUND_SAMPLE* sample, int frames) {
        FSOUND_StopSound(FSOUND_ALL);
        std::vector<float> out(2 * 64);
        FSOUND_Offline_Render(out.data(), 64);
        EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, kRate, 255, 0, -1));
        EXPECT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), 0);
        out.assign(2 * static_cast<std::size_t>(frames), 0.0f);
        FSOUND_Offline_Render(out.data(), frames);
        return Side(out, 0);
    }

    TempDir dir;
};

TEST_F(SampleLoad, LibsndfileReportsTheLoopEndOnePastTheLastLoopedFrame) {
    const std::string path = Write("loop.wav", WavBytes(SineLoopSpec()));
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    SF_INSTRUMENT instrument{};
    ASSERT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
    sf_close(file);
    ASSERT_EQ(instrument.loop_count, 1);
    EXPECT_EQ(instrument.loops[0].mode, SF_LOOP_FORWARD);
    EXPECT_EQ(instrument.loops[0].start, 8u);
    EXPECT_EQ(instrument.loops[0].end, 24u) << "the chunk stores 23, the last looped frame";
}

TEST_F(SampleLoad, TheSmplLoopIsHonouredToTheFrame) {
    FSOUND_SAMPLE* sample =
        FSOUND_Sample_Load(FSOUND_FREE, Write("loop.wav", WavBytes(SineLoopSpec())).c_str(), 0x130, 0, 0);
    ASSERT_NE(sample, nullptr);
    const std::vector<float> left = Hear(sample, 4000);
    const std::vector<float> looped(left.begin() + 40, left.end());
    EXPECT_NEAR(CyclesPerFrame(looped), 1.0 / 16, 1e-5) << "a 16-frame loop, not 15 or 17";
    EXPECT_LT(MaxAbs(looped), 0.56) << "the tail after the loop is never played";
    EXPECT_GT(MaxAbs(looped), 0.45);
}

TEST_F(SampleLoad, LoopFlagsDecideForFilesWithoutALoopAndLoopOffWins) {
    WavSpec plain = SineLoopSpec();
    plain.loopLastFrame = -1;
    const std::string noLoop = Write("plain.wav", WavBytes(plain));
    const std::string withLoop = Write("loop.wav", WavBytes(SineLoopSpec()));
    auto soundsAfter = [&](const std::string& path, unsigned int mode, int frame) {
        FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), mode, 0, 0);
        EXPECT_NE(sample, nullptr);
        if (sample == nullptr) return false;
        const std::vector<float> left = Hear(sample, 600);
        return MaxAbs(std::vector<float>(left.begin() + frame, left.end())) > 0.1;
    };
    EXPECT_FALSE(soundsAfter(noLoop, 0x130, 64)) << "no loop: plays once";
    EXPECT_TRUE(soundsAfter(noLoop, 0x130 | FSOUND_LOOP_NORMAL, 64)) << "LOOP_NORMAL loops the whole";
    EXPECT_TRUE(soundsAfter(withLoop, 0x130, 64));
    EXPECT_FALSE(soundsAfter(withLoop, 0x130 | FSOUND_LOOP_OFF, 64)) << "LOOP_OFF makes a one-shot";
    EXPECT_FALSE(soundsAfter(withLoop, FSOUND_LOOP_OFF | FSOUND_LOOP_NORMAL, 64));
    // Format flags mean nothing to a file that carries its format.
    EXPECT_TRUE(soundsAfter(withLoop, 0, 64));
    EXPECT_TRUE(soundsAfter(withLoop, 0xFFFFFFF0u & ~static_cast<unsigned int>(FSOUND_LOOP_OFF), 64));

    // LOOP_NORMAL on a file without a loop: all 32 frames repeat.
    FSOUND_SAMPLE* whole = FSOUND_Sample_Load(FSOUND_FREE, noLoop.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    ASSERT_NE(whole, nullptr);
    const std::vector<float> left = Hear(whole, 3200);
    int highs = 0;  // the +0.9 tail, once per 32 frames
    for (std::size_t frame = 1; frame < left.size(); ++frame) highs += left[frame] > 0.8f && left[frame - 1] <= 0.8f;
    EXPECT_EQ(highs, 100);
}

TEST_F(SampleLoad, OtherFormatsAndChannelCountsAreMixedToMono) {
    WavSpec stereo;
    stereo.channels = 2;
    for (int frame = 0; frame < 64; ++frame) {
        stereo.frames.push_back(16384);  // +0.5 left
        stereo.frames.push_back(-3277);  // -0.1 right
    }
    stereo.loopLastFrame = 63;
    FSOUND_SAMPLE* wav = FSOUND_Sample_Load(FSOUND_FREE, Write("stereo.wav", WavBytes(stereo)).c_str(), 0x130, 0, 0);
    ASSERT_NE(wav, nullptr);
    EXPECT_NEAR(Rms(Hear(wav, 500)), 0.2, 2e-3);

    // FLAC, 3 channels, written by libsndfile: (0.6 + 0.3 - 0.3) / 3.
    const std::string flac = dir.File("three.flac");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 3;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(flac.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> frames;
    for (int frame = 0; frame < 2000; ++frame) frames.insert(frames.end(), {0.6f, 0.3f, -0.3f});
    ASSERT_EQ(sf_writef_float(file, frames.data(), 2000), 2000);
    sf_close(file);
    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, flac.c_str(), 0x130, 0, 0);
    ASSERT_NE(sample, nullptr);
    const std::vector<float> left = Hear(sample, 2200);
    EXPECT_NEAR(Rms(std::vector<float>(left.begin() + 100, left.begin() + 1900)), 0.2, 2e-3);
    EXPECT_LT(MaxAbs(std::vector<float>(left.begin() + 2040, left.end())), 0.01) << "2000 frames, once";
}

TEST_F(SampleLoad, TheDefaultRateIsTheFilesAndEveryHandleKeepsItsOwnDefaults) {
    WavSpec spec = SineLoopSpec();
    spec.sampleRate = 16000;
    const std::string path = Write("loop.wav", WavBytes(spec));
    FSOUND_SAMPLE* first = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
    FSOUND_SAMPLE* second = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(first, -1, 255, 0, -1));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(second, 8000, 51, 255, -1));
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, first, nullptr, 0), 0);
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, second, nullptr, 0), 0);
    std::vector<float> out(2 * 8000);
    FSOUND_Offline_Render(out.data(), 8000);
    const std::vector<float> left = Side(out, 0, 100);
    const std::vector<float> right = Side(out, 1, 100);
    EXPECT_NEAR(CyclesPerFrame(left), 16000.0 / 16 / kRate, 1e-5) << "the file's 16000 Hz";
    EXPECT_NEAR(CyclesPerFrame(right), 8000.0 / 16 / kRate, 1e-5);
    EXPECT_NEAR(MaxAbs(left), 0.5, 0.03);
    EXPECT_NEAR(MaxAbs(right), 0.5 * 51 / 255, 0.01);
}

TEST_F(SampleLoad, FourLoadsOfOneFileDecodeItOnce) {
    const std::string path = Write("loop.wav", WavBytes(SineLoopSpec()));
    for (int load = 0; load < 4; ++load) ASSERT_NE(FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 1);
    // Other loop flags shape another sample; a changed file is read anew.
    ASSERT_NE(FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), FSOUND_LOOP_OFF, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 2);
    WavSpec changed;
    changed.frames = Constant(32, 8192);
    changed.loopLastFrame = 31;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteFile(path, WavBytes(changed));
    FSOUND_SAMPLE* fresh = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 3);
    EXPECT_NEAR(Rms(Hear(fresh, 300)), 0.25, 2e-3);
}

TEST_F(SampleLoad, ASlotNumberReplacesTheSampleInThatSlot) {
    const std::string sine = Write("loop.wav", WavBytes(SineLoopSpec()));
    WavSpec levelSpec;
    levelSpec.frames = Constant(32, 8192);
    levelSpec.loopLastFrame = 31;
    const std::string level = Write("level.wav", WavBytes(levelSpec));
    FSOUND_SAMPLE* slot5 = FSOUND_Sample_Load(5, sine.c_str(), 0x130, 0, 0);
    ASSERT_NE(slot5, nullptr);
    FSOUND_SAMPLE* other = FSOUND_Sample_Load(FSOUND_FREE, sine.c_str(), 0x130, 0, 0);
    EXPECT_NE(other, slot5);
    EXPECT_EQ(FSOUND_Sample_Load(5, level.c_str(), 0x130, 0, 0), slot5);
    EXPECT_NEAR(Rms(Hear(slot5, 300)), 0.25, 2e-3) << "the handle now plays the new file";
    EXPECT_EQ(FSOUND_Sample_Load(1024, sine.c_str(), 0x130, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Sample_Load(-2, sine.c_str(), 0x130, 0, 0), nullptr);
}

TEST_F(SampleLoad, SquareWavIsALoopedSingleCycleSquare) {
    SF_INFO info{};
    SNDFILE* file = sf_open(FENK_SQUARE_WAV, SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.frames, 32);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> frames(32);
    EXPECT_EQ(sf_readf_short(file, frames.data(), 32), 32);
    SF_INSTRUMENT instrument{};
    ASSERT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
    sf_close(file);
    for (int frame = 0; frame < 32; ++frame) EXPECT_EQ(frames[frame], frame < 16 ? 16384 : -16384) << frame;
    ASSERT_EQ(instrument.loop_count, 1);
    EXPECT_EQ(instrument.loops[0].start, 0u);
    EXPECT_EQ(instrument.loops[0].end, 32u);
}

TEST_F(SampleLoad, EveryKindOfBadFileGivesNull) {
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, nullptr, 0x130, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, dir.File("missing.wav").c_str(), 0x130, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, "", 0x130, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, dir.path.c_str(), 0x130, 0, 0), nullptr) << "a directory";

    const std::string fifo = dir.File("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, fifo.c_str(), 0x130, 0, 0), nullptr) << "a FIFO, not waited on";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));

    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, Write("text.wav", {'h', 'e', 'l', 'l', 'o', '\n'}).c_str(), 0x130, 0, 0),
              nullptr)
        << "not audio";
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, Write("empty.wav", {}).c_str(), 0x130, 0, 0), nullptr);
    WavSpec silent;
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, Write("none.wav", WavBytes(silent)).c_str(), 0x130, 0, 0), nullptr)
        << "no frames";
    std::vector<unsigned char> cut = WavBytes(SineLoopSpec());
    cut.resize(30);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, Write("cut.wav", cut).c_str(), 0x130, 0, 0), nullptr)
        << "a header cut short";

    // Sparse files: the bounds are checked without reading megabytes.
    const std::string huge = dir.File("huge.wav");
    WriteFile(huge, WavBytes(SineLoopSpec()));
    ASSERT_EQ(truncate(huge.c_str(), (std::int64_t{256} << 20) + 1), 0);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, huge.c_str(), 0x130, 0, 0), nullptr) << "over 256 MiB";
    const std::string longWav = dir.File("long.wav");
    WavSpec header;
    header.frames = Constant(1, 0);
    std::vector<unsigned char> bytes = WavBytes(header);
    const std::uint32_t dataBytes = (16u << 20) * 2 + 2;  // 16 Mi + 1 frames
    for (int byte = 0; byte < 4; ++byte) bytes[40 + byte] = static_cast<unsigned char>(dataBytes >> (8 * byte));
    const std::uint32_t riffBytes = dataBytes + 36;
    for (int byte = 0; byte < 4; ++byte) bytes[4 + byte] = static_cast<unsigned char>(riffBytes >> (8 * byte));
    WriteFile(longWav, bytes);
    ASSERT_EQ(truncate(longWav.c_str(), 44 + dataBytes), 0);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, longWav.c_str(), 0x130, 0, 0), nullptr) << "over 16 Mi frames";

    const std::string locked = Write("locked.wav", WavBytes(SineLoopSpec()));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, locked.c_str(), 0x130, 0, 0), nullptr) << "unreadable";
    }
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 0) << "not one of them was decoded";
}

}  // namespace
