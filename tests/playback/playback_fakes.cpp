#include "tests/playback/playback_fakes.h"

#include <algorithm>
#include <cassert>

#include "tests/support/test_support.h"

namespace playback_test {
namespace {

LibraryLog* activeLog = nullptr;

// Storage whose addresses serve as sample handles.
char sampleStorage[16];

std::string SampleName(FSOUND_SAMPLE* sample) {
    if (sample == nullptr) return "null";
    const char* address = reinterpret_cast<const char*>(sample);
    if (address < sampleStorage || address >= sampleStorage + sizeof sampleStorage)
        return "S?";
    return "S" + std::to_string(address - sampleStorage);
}

void Record(const std::string& call) {
    assert(activeLog != nullptr);
    activeLog->calls.push_back(call);
}

signed char Init(int mixrate, int channels, unsigned flags) {
    Record("Init(" + std::to_string(mixrate) + "," + std::to_string(channels) +
           "," + std::to_string(flags) + ")");
    return activeLog->initResult;
}

FSOUND_SAMPLE* SampleLoad(int index, const char* name, unsigned mode, int offset,
                          int length) {
    char modeText[16];
    std::snprintf(modeText, sizeof modeText, "0x%X", mode);
    Record("SampleLoad(" + std::to_string(index) + "," + name + "," + modeText +
           "," + std::to_string(offset) + "," + std::to_string(length) + ")");
    const int number = activeLog->loadsMade++;
    const std::vector<int>& failing = activeLog->failingLoads;
    if (std::find(failing.begin(), failing.end(), number) != failing.end())
        return nullptr;
    assert(number < static_cast<int>(sizeof sampleStorage));
    return reinterpret_cast<FSOUND_SAMPLE*>(sampleStorage + number);
}

signed char SetDefaults(FSOUND_SAMPLE* sample, int rate, int volume, int pan,
                        int priority) {
    Record("SetDefaults(" + SampleName(sample) + "," + std::to_string(rate) + "," +
           std::to_string(volume) + "," + std::to_string(pan) + "," +
           std::to_string(priority) + ")");
    return 1;
}

void SetPanSeperation(float separation) {
    char text[64];
    std::snprintf(text, sizeof text, "SetPanSeperation(%.3f)", separation);
    Record(text);
}

signed char StopSound(int channel) {
    Record("StopSound(" + std::to_string(channel) + ")");
    return 1;
}

int PlaySoundEx(int channel, FSOUND_SAMPLE* sample, FSOUND_DSPUNIT* dsp,
                signed char paused) {
    const int given = activeLog->nextChannel++;
    Record("PlaySoundEx(" + std::to_string(channel) + "," + SampleName(sample) + "," +
           (dsp == nullptr ? "null" : "dsp") + "," + std::to_string(paused) +
           ")->" + std::to_string(given));
    return given;
}

signed char SetPan(int channel, int pan) {
    Record("SetPan(" + std::to_string(channel) + "," + std::to_string(pan) + ")");
    return 1;
}

signed char SetPaused(int channel, signed char paused) {
    Record("SetPaused(" + std::to_string(channel) + "," + std::to_string(paused) + ")");
    return 1;
}

float GetCPUUsage() {
    Record("GetCPUUsage()");
    return activeLog->cpuUsage;
}

void Close() { Record("Close()"); }

const playback::SoundLibrary recordingTable = {
    Init,   SampleLoad, SetDefaults, SetPanSeperation, StopSound,
    PlaySoundEx, SetPan, SetPaused,  GetCPUUsage,      Close,
    nullptr,  // no timing extension: every call at the moment it is made
};

}  // namespace

RecordingScope::RecordingScope(LibraryLog& log) {
    assert(activeLog == nullptr);
    activeLog = &log;
}

RecordingScope::~RecordingScope() { activeLog = nullptr; }

const playback::SoundLibrary& RecordingLibrary() { return recordingTable; }

bool FakeClock::StopRequested() {
    ++polls;
    if (log != nullptr) log->push_back("StopRequested");
    return keyAtPoll != 0 && polls >= keyAtPoll;
}

void FakeClock::SleepMs(unsigned milliseconds) {
    if (milliseconds == 5)
        ++tickSleeps;
    else
        otherSleeps.push_back(milliseconds);
    if (log != nullptr) log->push_back("SleepMs(" + std::to_string(milliseconds) + ")");
}

void SongBlock::Word(std::uint16_t value) {
    const test_support::Bytes word = test_support::Word(value);
    bytes.insert(bytes.end(), word.begin(), word.end());
}

void SongBlock::Row(std::uint8_t p0, std::uint8_t p1, std::uint8_t p2,
                    std::uint8_t p3, std::uint16_t duration) {
    bytes.insert(bytes.end(), {p0, p1, p2, p3});
    Word(duration);
}

void SongBlock::PadTo(std::size_t offset) {
    assert(offset >= bytes.size());
    bytes.resize(offset, 0);
}

ExactBlock::ExactBlock(const SongBlock& block, std::size_t orderList)
    : data(new std::uint8_t[block.bytes.size()]) {
    std::copy(block.bytes.begin(), block.bytes.end(), data.get());
    view.data = data.get();
    view.length = block.bytes.size();
    view.title = 6;
    view.artist = 7;
    view.album = 8;
    view.orderList = orderList;
}

CapturedOutput::CapturedOutput() : file_(std::tmpfile()) { assert(file_ != nullptr); }

CapturedOutput::~CapturedOutput() { std::fclose(file_); }

std::string CapturedOutput::Text() const {
    std::fflush(file_);
    const long end = std::ftell(file_);
    std::string text(static_cast<std::size_t>(end), '\0');
    std::rewind(file_);
    const std::size_t got = std::fread(&text[0], 1, text.size(), file_);
    text.resize(got);
    std::fseek(file_, 0, SEEK_END);
    return text;
}

playback::ToneOutput RecordingTest::LoadedToneOutput(
    const playback::PlaybackSettings& settings) {
    playback::ToneOutput output = playback::MakeToneOutput(RecordingLibrary(), settings);
    EXPECT_TRUE(playback::Start(output, 32000));
    EXPECT_TRUE(playback::LoadVoiceSamples(output, "square.wav"));
    log.calls.clear();
    return output;
}

}  // namespace playback_test
