// Bad files met by the real programs: song and sample paths that are no
// regular files, that cannot be read or that are huge, WAV files with broken
// headers or loops outside their data, and rows of 65535 ticks. Each ends
// with the program's exact output and exit status, or with audio that shows
// what the sample did.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/child_process.h"
#include "tests/fsound/fixtures.h"
#include "fsound.h"
#include "fsound_offline.h"
#include "tests/hardening/hardening_helpers.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

const std::vector<std::string> kQuietAudio = {"SDL_AUDIODRIVER=dummy"};

child_process::ProgramResult Fenk(std::vector<std::string> arguments, int timeoutMs = 30000) {
    arguments.insert(arguments.begin(), FENK_PROGRAM);
    return child_process::RunProgram(arguments, kQuietAudio, timeoutMs);
}

void ExpectRun(const child_process::ProgramResult& run, const std::string& out, int status) {
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.ExitStatus(), status) << "wait status " << run.waitStatus;
}

// A short valid song: one row of 10 ticks.
std::string WriteTune(const test_support::TempDir& dir) {
    test_support::SongParts song;
    song.title = "Tune";
    song.name = "TUNE";
    song.sections = {{Row(100, 0, 0, 0, 10)}};
    song.order = {0};
    return dir.Write("tune.8xp", test_support::SongFile(song));
}

std::string SampleFailedOutput(const std::string& samplePath) {
    return hardening::LoadedSongOutput("TUNE", "Tune") + "Starting FMOD...Done.\n" +
           "Loading sample '" + samplePath + "'...Failed!\n" + "\nShutting down FMOD...Done.\n";
}

// Bytes the process has read through read() and its kin so far.
std::uint64_t BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

// A 16-bit mono WAV header for `dataBytes` bytes of frames, with no frames
// after it: the rest of the file is left to ftruncate.
std::vector<unsigned char> HeaderFor(std::uint32_t dataBytes) {
    std::vector<unsigned char> header = fsound_test::WavBytes(fsound_test::LevelSpec(1, 0, false));
    header.resize(44);
    for (int byte = 0; byte < 4; ++byte) {
        header[4 + byte] = static_cast<unsigned char>((dataBytes + 36) >> (8 * byte));
        header[40 + byte] = static_cast<unsigned char>(dataBytes >> (8 * byte));
    }
    return header;
}

// A 32-frame square (16 frames up, 16 down) at half scale.
fsound_test::WavSpec SquareSpec(int loopStart, int loopLastFrame) {
    fsound_test::WavSpec spec;
    for (int frame = 0; frame < 32; ++frame) spec.frames.push_back(frame < 16 ? 16384 : -16384);
    spec.loopStart = loopStart;
    spec.loopLastFrame = loopLastFrame;
    return spec;
}

TEST(BadSongFile, PathThatIsNoRegularFileIsNotOpenedAndNeverWaitedOn) {
    test_support::TempDir dir;
    const std::string folder = dir.File("folder.8xp");
    const std::string fifo = dir.File("fifo.8xp");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO without a writer would block an open for ever, and /dev/zero
    // never ends: both must be refused before reading, well inside the
    // time limit after which the run is killed (status -1).
    for (const std::string& path : {folder, fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        ExpectRun(Fenk({path}, 10000), test_support::Banner() + "Error loading " + path + "!\n", 1);
    }
}

TEST(BadSongFile, UnreadableSongCannotBeOpened) {
    test_support::TempDir dir;
    const std::string song = WriteTune(dir);
    ASSERT_EQ(chmod(song.c_str(), 0), 0);
    // The folder must let the unprivileged user reach the file, so that the
    // permission of the file itself is what stops the read.
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    bool dropped = false;
    const child_process::ProgramResult run = hardening::RunUnprivileged(
        {FENK_PROGRAM, song}, kQuietAudio, dir.Path().string(), &dropped);
    if (!dropped && access(song.c_str(), R_OK) == 0) {
        GTEST_SKIP() << "this user reads files whatever their permissions say";
    }
    ExpectRun(run, test_support::Banner() + "Error loading " + song + "!\n", 1);
}

TEST(BadSampleFile, SampleThatCannotBeLoadedFailsTheRunAfterTheShutdown) {
    test_support::TempDir dir;
    const std::string song = WriteTune(dir);
    const std::string folder = dir.File("folder.wav");
    const std::string fifo = dir.File("fifo.wav");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // 1 GiB, all of it a hole but a WAV header at the front that claims
    // the lot as frames.
    const std::string huge = dir.File("huge.wav");
    fsound_test::WriteFile(huge, HeaderFor(0x40000000u - 44));
    ASSERT_EQ(truncate(huge.c_str(), std::int64_t{1} << 30), 0);

    std::vector<std::string> samples = {folder, fifo, huge};
    // Broken headers: the fmt chunk cut short, no channels, a format code
    // nobody knows, a data chunk before any fmt chunk.
    const std::vector<unsigned char> good = fsound_test::WavBytes(SquareSpec(0, 31));
    std::vector<unsigned char> cutInFmt(good.begin(), good.begin() + 30);
    std::vector<unsigned char> noChannels = good;
    noChannels[22] = 0;  // fmt channels (offset 22, 2 bytes)
    std::vector<unsigned char> unknownFormat = good;
    unknownFormat[20] = 0x34;  // fmt format code (offset 20): 0x1234
    unknownFormat[21] = 0x12;
    std::vector<unsigned char> dataFirst(good.begin(), good.begin() + 12);
    const std::vector<unsigned char> dataChunk = {'d', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4};
    dataFirst.insert(dataFirst.end(), dataChunk.begin(), dataChunk.end());
    int index = 0;
    for (const auto& bytes : {cutInFmt, noChannels, unknownFormat, dataFirst}) {
        const std::string path = dir.File("broken" + std::to_string(index++) + ".wav");
        fsound_test::WriteFile(path, bytes);
        samples.push_back(path);
    }

    // All at once: each run waits 2.5 s after its failure.
    std::vector<std::future<child_process::ProgramResult>> runs;
    for (const std::string& sample : samples) {
        runs.push_back(std::async(std::launch::async, [&song, sample] {
            return Fenk({song, sample}, 20000);
        }));
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(samples[i]);
        ExpectRun(runs[i].get(), SampleFailedOutput(samples[i]), 1);
    }
}

TEST(BadSampleFile, HugeSampleIsRefusedWithoutReadingIt) {
    test_support::TempDir dir;
    const std::string huge = dir.File("huge.wav");
    fsound_test::WriteFile(huge, HeaderFor(0x40000000u - 44));
    ASSERT_EQ(truncate(huge.c_str(), std::int64_t{1} << 30), 0);

    ASSERT_TRUE(FSOUND_Offline_Enable(1));
    ASSERT_TRUE(FSOUND_Init(32000, 32, 0));
    const std::uint64_t before = BytesReadSoFar();
    ASSERT_GT(before, 0u) << "no read count in /proc/self/io";
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, huge.c_str(), 0x130, 0, 0), nullptr);
    const std::uint64_t read = BytesReadSoFar() - before;
    FSOUND_Close();
    FSOUND_Offline_Enable(0);
    EXPECT_LT(read, std::uint64_t{1} << 20) << "bytes read from a 1 GiB sample";
}

// The smpl chunk stores the last looped frame; a loop that starts past the
// 32 frames leaves nothing to loop, so the sample plays once; one that
// starts inside but ends past them loops what lies inside.
TEST(BadSampleFile, LoopOutsideTheDataPlaysOnceAndLoopPastTheEndIsCut) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.title = "Hold";
    song.sections = {{Row(100, 0, 0, 0, 200)}};  // 10 kHz for 1 s
    song.order = {0};
    const std::string songPath = dir.Write("hold.8xp", test_support::SongFile(song));

    struct Case {
        const char* name;
        int loopStart, loopLastFrame;
        bool sustains;
    };
    for (const Case& c : {Case{"outside", 100, 200, false}, Case{"reversed", 20, 4, false},
                          Case{"past-end", 16, 500, true}, Case{"whole", 0, 31, true}}) {
        SCOPED_TRACE(c.name);
        const std::string sample = dir.File(std::string(c.name) + ".wav");
        fsound_test::WriteFile(sample, fsound_test::WavBytes(SquareSpec(c.loopStart, c.loopLastFrame)));
        const std::string out = dir.File(std::string(c.name) + "-out.wav");
        const child_process::ProgramResult run = child_process::RunProgram(
            {FENK_RENDER_PROGRAM, songPath, out, sample, "--rate", "8000"});
        ASSERT_EQ(run.ExitStatus(), 0) << run.err;

        const fsound_test::Audio audio = fsound_test::ReadAudio(out);
        ASSERT_GT(audio.channels, 0) << out;
        ASSERT_EQ(audio.Frames(), 8000u + 20000u);  // the row, then the 2.5 s wait
        // The 32 frames last 3.2 ms at 10 kHz; the start sounds either way.
        EXPECT_GT(fsound_test::PeakOver(audio, 0, 40), 0.05f);
        const double late = fsound_test::PeakOver(audio, 400, 8000);
        if (c.sustains) {
            EXPECT_GT(late, 0.05f) << "a looped sample fell silent";
        } else {
            EXPECT_LT(late, 0.001f) << "a sample without a usable loop went on sounding";
        }
    }
}

// Two rows of 65535 ticks: 655.35 s of rows, then the final wait, each
// tick exactly 5 ms of audio, the note held throughout.
TEST(LongRows, RowsOf65535TicksLastTheirFullLength) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.title = "Drone";
    song.sections = {{Row(100, 0, 0, 0, 65535), Row(0, 0, 0, 100, 65535)}};
    song.order = {0};
    const std::string songPath = dir.Write("drone.8xp", test_support::SongFile(song));
    const std::string out = dir.File("drone.wav");
    const child_process::ProgramResult run = child_process::RunProgram(
        {FENK_RENDER_PROGRAM, songPath, out, "--rate", "4000"}, {}, 300000);
    ASSERT_EQ(run.ExitStatus(), 0) << run.err;

    const fsound_test::Audio audio = fsound_test::ReadAudio(out);
    ASSERT_GT(audio.channels, 0) << out;
    ASSERT_EQ(audio.channels, 2);
    const std::size_t rowFrames = 65535u * 20u;  // 5 ms at 4000 Hz is 20 frames
    ASSERT_EQ(audio.Frames(), 2 * rowFrames + 10000u);
    // Voice 0 on the left through the first row, voice 3 on the right
    // through the second: every second of each row holds its note.
    for (int side = 0; side < 2; ++side) {
        const std::size_t rowStart = side * rowFrames;
        for (std::size_t second = 0; second + 4000 <= rowFrames; second += 4000) {
            float peak = 0.0f;
            for (std::size_t frame = rowStart + second; frame < rowStart + second + 4000; ++frame) {
                peak = std::max(peak, std::fabs(audio.samples[2 * frame + side]));
            }
            ASSERT_GT(peak, 0.05f) << "side " << side << ", second " << second / 4000;
        }
    }
}

}  // namespace
