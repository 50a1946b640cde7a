// Sample_Load: the smpl loop (and libsndfile's convention for its end), the
// loop flags, formats mixed to mono, the cache of decoded files, slots, the
// default sample square.wav, and every way a load fails.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "tests/fsound/fixtures.h"
#include "fsound.h"
#include "fsound_errors.h"
#include "fsound_offline.h"

using namespace fsound_test;

namespace {

constexpr int kRate = 32000;

// Frames 0..7 silent, 8..23 one sine cycle of amplitude 0.5 (the loop),
// 24..31 at +0.9: a tail that a correct loop never reaches.
WavSpec SineLoopSpec() {
    WavSpec spec;
    spec.frames.assign(8, 0);
    for (int frame = 0; frame < 16; ++frame) {
        spec.frames.push_back(static_cast<std::int16_t>(std::lround(16384 * std::sin(std::acos(-1.0) * frame / 8.0))));
    }
    spec.frames.insert(spec.frames.end(), 8, 29491);
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
        WriteFile(dir.File(name), bytes);
        return dir.File(name);
    }
    FSOUND_SAMPLE* Load(const std::string& path, unsigned int mode = 0x130, int index = FSOUND_FREE) {
        return FSOUND_Sample_Load(index, path.c_str(), mode, 0, 0);
    }
    // `frames` frames of `sample` alone, hard left at full volume at the
    // output rate: the left side.
    std::vector<float> Hear(FSOUND_SAMPLE* sample, int frames) {
        FSOUND_StopSound(FSOUND_ALL);
        std::vector<float> out(2 * static_cast<std::size_t>(frames) + 128);
        FSOUND_Offline_Render(out.data(), 64);
        EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, kRate, 255, 0, -1));
        EXPECT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), 0);
        FSOUND_Offline_Render(out.data(), frames);
        return Side(out, 0, 0, static_cast<std::size_t>(frames));
    }
    bool SoundsAfter(FSOUND_SAMPLE* sample, int frame) {
        const std::vector<float> left = Hear(sample, 600);
        return MaxAbs(std::vector<float>(left.begin() + frame, left.end())) > 0.1;
    }
    TempDir dir;
};

TEST_F(SampleLoad, TheSmplLoopIsHonouredToTheFrameAndLibsndfileReportsItsEndOnePast) {
    const std::string path = Write("loop.wav", WavBytes(SineLoopSpec()));
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    SF_INSTRUMENT instrument{};
    ASSERT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
    sf_close(file);
    ASSERT_EQ(instrument.loop_count, 1);
    EXPECT_EQ(instrument.loops[0].start, 8u);
    EXPECT_EQ(instrument.loops[0].end, 24u) << "the chunk stores 23, the last looped frame";

    const std::vector<float> left = Hear(Load(path), 4000);
    const std::vector<float> looped(left.begin() + 40, left.end());
    EXPECT_NEAR(CyclesPerFrame(looped), 1.0 / 16, 1e-5) << "a 16-frame loop, not 15 or 17";
    EXPECT_LT(MaxAbs(looped), 0.56) << "the tail after the loop is never played";

    // The same file's bytes loaded from memory sound the same, loop and all.
    const std::vector<unsigned char> bytes = WavBytes(SineLoopSpec());
    FSOUND_SAMPLE* fromMemory =
        FSOUND_Sample_Load(FSOUND_FREE, reinterpret_cast<const char*>(bytes.data()),
                           0x130 | FSOUND_LOADMEMORY, 0, static_cast<int>(bytes.size()));
    ASSERT_NE(fromMemory, nullptr) << FSOUND_GetErrorText(FSOUND_GetError());
    EXPECT_EQ(Hear(fromMemory, 4000), left);
    const std::vector<unsigned char> garbage(100, 0x55);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, reinterpret_cast<const char*>(garbage.data()),
                                 FSOUND_LOADMEMORY, 0, 100), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_FILE_FORMAT);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, reinterpret_cast<const char*>(garbage.data()),
                                 FSOUND_LOADMEMORY, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
}

TEST_F(SampleLoad, LoopFlagsDecideForFilesWithoutALoopAndLoopOffWins) {
    WavSpec plain = SineLoopSpec();
    plain.loopLastFrame = -1;
    const std::string noLoop = Write("plain.wav", WavBytes(plain));
    const std::string withLoop = Write("loop.wav", WavBytes(SineLoopSpec()));
    EXPECT_FALSE(SoundsAfter(Load(noLoop), 64)) << "no loop: plays once";
    EXPECT_TRUE(SoundsAfter(Load(withLoop), 64));
    EXPECT_TRUE(SoundsAfter(Load(withLoop, 0), 64)) << "format flags mean nothing to a WAV";
    EXPECT_FALSE(SoundsAfter(Load(withLoop, 0x130 | FSOUND_LOOP_OFF), 64)) << "LOOP_OFF: a one-shot";
    EXPECT_FALSE(SoundsAfter(Load(withLoop, FSOUND_LOOP_OFF | FSOUND_LOOP_NORMAL), 64));
    // LOOP_NORMAL on a file without a loop: all 32 frames repeat, so the
    // +0.9 tail comes round once every 32 frames.
    const std::vector<float> left = Hear(Load(noLoop, 0x130 | FSOUND_LOOP_NORMAL), 3200);
    int tails = 0;
    for (std::size_t frame = 1; frame < left.size(); ++frame) tails += left[frame] > 0.8f && left[frame - 1] <= 0.8f;
    EXPECT_EQ(tails, 100);
}

TEST_F(SampleLoad, OtherFormatsAndChannelCountsAreMixedToMono) {
    WavSpec stereo;
    stereo.channels = 2;
    for (int frame = 0; frame < 64; ++frame) stereo.frames.insert(stereo.frames.end(), {16384, -3277});
    stereo.loopLastFrame = 63;
    EXPECT_NEAR(Rms(Hear(Load(Write("stereo.wav", WavBytes(stereo))), 500)), (0.5 - 0.1) / 2, 2e-3);

    // FLAC, 3 channels, at 44100 Hz: (0.6 + 0.3 - 0.3) / 3, 2000 frames once.
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
    const std::vector<float> left = Hear(Load(flac), 2200);
    EXPECT_NEAR(Rms(std::vector<float>(left.begin() + 100, left.begin() + 1900)), 0.2, 2e-3);
    EXPECT_LT(MaxAbs(std::vector<float>(left.begin() + 2040, left.end())), 0.01);
}

TEST_F(SampleLoad, LoadsShareOneDecodingButEachHandleKeepsItsOwnDefaults) {
    WavSpec spec = SineLoopSpec();
    spec.sampleRate = 16000;
    const std::string path = Write("loop.wav", WavBytes(spec));
    FSOUND_SAMPLE* handles[4];
    for (FSOUND_SAMPLE*& handle : handles) ASSERT_NE(handle = Load(path), nullptr);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 1);
    EXPECT_NE(handles[0], handles[1]);
    // The file's rate is the default; a second handle changes only its own.
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(handles[0], -1, 255, 0, -1));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(handles[1], 8000, 51, 255, -1));
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, handles[0], nullptr, 0), 0);
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, handles[1], nullptr, 0), 0);
    std::vector<float> out(2 * 8000);
    FSOUND_Offline_Render(out.data(), 8000);
    EXPECT_NEAR(CyclesPerFrame(Side(out, 0, 100)), 16000.0 / 16 / kRate, 1e-5);
    EXPECT_NEAR(CyclesPerFrame(Side(out, 1, 100)), 8000.0 / 16 / kRate, 1e-5);
    EXPECT_NEAR(MaxAbs(Side(out, 1, 100)), 0.5 * 51 / 255, 0.01);

    // Other loop flags make another sample; a changed file is read anew.
    ASSERT_NE(Load(path, FSOUND_LOOP_OFF), nullptr);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Write("loop.wav", WavBytes(LevelSpec(32, 8192)));
    FSOUND_SAMPLE* fresh = Load(path);
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 3);
    EXPECT_NEAR(Rms(Hear(fresh, 300)), 0.25, 2e-3);

    // A slot number replaces what the slot holds, under the same handle.
    EXPECT_EQ(Load(path, 0x130, 0), handles[0]);
    EXPECT_NEAR(Rms(Hear(handles[0], 300)), 0.25, 2e-3);
    for (int bad : {1024, -2}) EXPECT_EQ(Load(path, 0x130, bad), nullptr);
}

TEST_F(SampleLoad, SquareWavIsALoopedSingleCycleSquare) {
    SF_INFO info{};
    SNDFILE* file = sf_open(FENK_SQUARE_WAV, SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> frames(40);
    EXPECT_EQ(sf_readf_short(file, frames.data(), 40), 32);
    SF_INSTRUMENT instrument{};
    ASSERT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
    sf_close(file);
    for (int frame = 0; frame < 32; ++frame) EXPECT_EQ(frames[frame], frame < 16 ? 16384 : -16384) << frame;
    ASSERT_EQ(instrument.loop_count, 1);
    EXPECT_EQ(instrument.loops[0].start, 0u);
    EXPECT_EQ(instrument.loops[0].end, 32u);
}

TEST_F(SampleLoad, EveryKindOfBadFileGivesNullAndSaysWhy) {
    // Each refusal with the reason FSOUND_GetError gives for it.
    auto expectRefused = [](FSOUND_SAMPLE* loaded, int error) {
        EXPECT_EQ(loaded, nullptr);
        EXPECT_EQ(FSOUND_GetError(), error) << FSOUND_GetErrorText(FSOUND_GetError());
    };
    expectRefused(FSOUND_Sample_Load(FSOUND_FREE, nullptr, 0x130, 0, 0), FSOUND_ERR_INVALID_PARAM);
    expectRefused(Load(dir.File("missing.wav")), FSOUND_ERR_FILE_NOTFOUND);
    expectRefused(Load(""), FSOUND_ERR_FILE_NOTFOUND);
    expectRefused(Load(dir.path), FSOUND_ERR_FILE_NOT_REGULAR);
    const std::string fifo = dir.File("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectRefused(Load(fifo), FSOUND_ERR_FILE_NOT_REGULAR);  // without waiting for a writer

    std::vector<unsigned char> cut = WavBytes(SineLoopSpec());
    cut.resize(30);
    expectRefused(Load(Write("bad.wav", {'h', 'i', '\n'})), FSOUND_ERR_FILE_FORMAT);
    expectRefused(Load(Write("bad.wav", {})), FSOUND_ERR_FILE_FORMAT);
    expectRefused(Load(Write("bad.wav", WavBytes(WavSpec{}))), FSOUND_ERR_FILE_NO_FRAMES);
    expectRefused(Load(Write("bad.wav", cut)), FSOUND_ERR_FILE_FORMAT);
    // Sparse files: the bounds are checked without reading megabytes.
    const std::string huge = Write("huge.wav", WavBytes(SineLoopSpec()));
    ASSERT_EQ(truncate(huge.c_str(), (std::int64_t{256} << 20) + 1), 0);
    expectRefused(Load(huge), FSOUND_ERR_FILE_TOO_LARGE);
    std::vector<unsigned char> header = WavBytes(LevelSpec(1, 0, false));
    const std::uint32_t dataBytes = (4u << 20) * 2 + 2;  // 4 Mi + 1 frames
    for (int byte = 0; byte < 4; ++byte) {
        header[40 + byte] = static_cast<unsigned char>(dataBytes >> (8 * byte));        // data chunk size
        header[4 + byte] = static_cast<unsigned char>((dataBytes + 36) >> (8 * byte));  // RIFF size
    }
    const std::string longWav = Write("long.wav", header);
    ASSERT_EQ(truncate(longWav.c_str(), 44 + dataBytes), 0);
    expectRefused(Load(longWav), FSOUND_ERR_FILE_TOO_LONG);

    // A chunk before the data that claims more than the file holds (a LIST
    // of 0xFFFF0005 bytes kept libsndfile busy for minutes): refused at
    // once. The same chunk with its true length loads.
    const std::vector<unsigned char> wav = WavBytes(SineLoopSpec());
    auto withList = [&](std::uint32_t claimed) {
        std::vector<unsigned char> list = {'L', 'I', 'S', 'T', 0, 0, 0, 0, 'I', 'N', 'F', 'O'};
        for (int byte = 0; byte < 4; ++byte) list[4 + byte] = static_cast<unsigned char>(claimed >> (8 * byte));
        std::vector<unsigned char> bytes = wav;
        bytes.insert(bytes.begin() + 36, list.begin(), list.end());  // after the RIFF header and fmt chunk
        const auto riff = static_cast<std::uint32_t>(bytes.size() - 8);
        for (int byte = 0; byte < 4; ++byte) bytes.at(4 + byte) = static_cast<unsigned char>(riff >> (8 * byte));
        return bytes;
    };
    const auto start = std::chrono::steady_clock::now();
    expectRefused(Load(Write("list.wav", withList(0xFFFF0005u))), FSOUND_ERR_FILE_FORMAT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    if (geteuid() != 0) {  // root reads whatever the permissions say
        const std::string locked = Write("locked.wav", WavBytes(SineLoopSpec()));
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        expectRefused(Load(locked), FSOUND_ERR_FILE_UNREADABLE);
    }
    EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 0);
    EXPECT_NE(Load(Write("fair-list.wav", withList(4))), nullptr) << "the same LIST chunk with its true length";
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_NONE);
}

}  // namespace
