// Stand-ins for the playback tests: a sound library that records every call
// as a line of text, a clock that counts instead of waiting, a song block
// laid out by hand, and a FILE* whose text can be read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "playback/playback.h"

namespace playback_test {

// What the recording library answers, and what it was asked. Calls are kept
// as text, e.g. "SetDefaults(S2,3921,63,128,-1)"; sample handles show as S0,
// S1, ... in the order they were handed out, channels as numbers counted
// from 10.
struct LibraryLog {
    std::vector<std::string> calls;
    signed char initResult = 1;
    // Loads that return NULL, by their number 0, 1, 2, ... in call order.
    std::vector<int> failingLoads;
    float cpuUsage = 0.37f;
    int loadsMade = 0;
    int nextChannel = 10;
};

// Makes `log` the target of RecordingLibrary()'s calls while it lives.
class RecordingScope {
public:
    explicit RecordingScope(LibraryLog& log);
    ~RecordingScope();
    RecordingScope(const RecordingScope&) = delete;
    RecordingScope& operator=(const RecordingScope&) = delete;
};

// The table of recording calls; needs a RecordingScope.
const playback::SoundLibrary& RecordingLibrary();

// A clock that never waits. StopRequested answers true from the poll number
// `keyAtPoll` on (1 is the first poll; 0 never). Ticks are counted; other
// sleeps are kept one by one. With `log` set, each call is also appended to
// it as "StopRequested" or "SleepMs(n)", so that it can be seen among the
// library's calls.
struct FakeClock : playback::Clock {
    long keyAtPoll = 0;
    long polls = 0;
    long tickSleeps = 0;                // SleepMs(5) calls
    std::vector<unsigned> otherSleeps;  // every other SleepMs, in order
    std::vector<std::string>* log = nullptr;

    bool StopRequested() override;
    void SleepMs(unsigned milliseconds) override;
};

// A song block written by hand: "FENK1", a zero byte and three empty texts,
// so the order list starts at offset 9.
struct SongBlock {
    std::vector<std::uint8_t> bytes{'F', 'E', 'N', 'K', '1', 0, 0, 0, 0};

    void Word(std::uint16_t value);
    void Row(std::uint8_t p0, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
             std::uint16_t duration);
    void EndRow() { Row(0, 0, 0, 0, 0); }
    // Zero bytes up to `offset`.
    void PadTo(std::size_t offset);
};

// A heap copy of a block of exactly its length, so that the sanitizer build
// catches any read past its end, and the view over it with its order list at
// `orderList`.
struct ExactBlock {
    explicit ExactBlock(const SongBlock& block, std::size_t orderList = 9);
    std::unique_ptr<std::uint8_t[]> data;
    songfile::SongView view;
};

// A temporary file to print into, read back as text.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::FILE* file() const { return file_; }
    std::string Text() const;

private:
    std::FILE* file_;
};

// The set-up the playback tests share: the recording library active for the
// test's lifetime, a fake clock and a captured output stream.
struct RecordingTest : ::testing::Test {
    LibraryLog log;
    RecordingScope scope{log};
    FakeClock clock;
    CapturedOutput out;

    // A tone output over the recording library, started at 32000 Hz with its
    // four samples S0..S3 loaded and the log cleared; the test fails when the
    // start or the load does.
    playback::ToneOutput LoadedToneOutput(const playback::PlaybackSettings& settings);
};

}  // namespace playback_test
