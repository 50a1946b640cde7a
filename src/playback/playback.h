// Playback: the four-voice tone output over the sound library, the
// sequencer that walks a song row by row, and the playback run around it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform.h"
#include "songfile.h"

namespace playback {

// Settings for the whole run, filled by the command line before playback and
// constant while playing.
struct PlaybackSettings {
    bool stopNotesEachRow = true;  // cleared by switch "x" (extended notes)
    bool stereoPanning = true;     // cleared by switch "m" (mono)
    int mixRate = 32000;           // output rate in Hz; 8000 with switch "l"
    // Voice sample path, at most 255 characters plus NUL.
    char samplePath[256] = "square.wav";
};

// The rate that marks a silent voice.
constexpr int kSilentRate = -1;

// Playback rate in Hz for a period byte: 1,000,000 / period, truncated, or
// kSilentRate for period 0.
int RateForPeriod(std::uint8_t period);

// ---------------------------------------------------------------------------
// Tone output: the program's only contact with the sound library.

struct ToneOutput {
    const platform::SoundLibrary* library = nullptr;
    FSOUND_SAMPLE* samples[4] = {};  // one per voice 0..3, from LoadVoiceSamples
    bool stopNotesEachRow = true;
    bool stereoPanning = true;
};

// A tone output over `library` with the two flags of `settings`.
ToneOutput MakeToneOutput(const platform::SoundLibrary& library,
                          const PlaybackSettings& settings);

// Starts the library at `mixRate` Hz with 32 software channels; true when it
// runs.
bool Start(ToneOutput& output, int mixRate);
// Loads the sample at `path` four times, once per voice, as 16-bit signed
// mono; true only when all four loaded.
bool LoadVoiceSamples(ToneOutput& output, const char* path);
// Sounds one row: rates[k] is voice k's playback rate in Hz, or kSilentRate.
void SetVoices(ToneOutput& output, const int rates[4]);
// The library's processing load in percent.
float CpuUsage(const ToneOutput& output);
// Closes the library; after it nothing sounds.
void Shutdown(ToneOutput& output);

// ---------------------------------------------------------------------------
// Sequencer

// Where the sequencer waits: the real console and sleep, or a virtual clock
// (offline render, tests).
class Clock {
public:
    virtual ~Clock() = default;
    // True when a key press waits; must return at once and leave it unread.
    virtual bool KeyPending() = 0;
    // Waits `milliseconds` ms (the sequencer's tick is 5 ms).
    virtual void SleepMs(unsigned milliseconds) = 0;
};

// The console keyboard and the system sleep.
class SystemClock : public Clock {
public:
    bool KeyPending() override;
    void SleepMs(unsigned milliseconds) override;
};

enum class PlayOutcome { Finished, StoppedByKey };

// Plays the song from the first order entry to the end of the list, or until
// a key is pending at a tick. Writes the status lines to `out`.
PlayOutcome PlaySong(const songfile::SongView& song, ToneOutput& output,
                     Clock& clock, std::FILE* out);

// The playback run: start, load, play, shut down, with their messages on
// `out`. Returns the process exit status.
int RunPlayback(const songfile::SongView& song, const PlaybackSettings& settings,
                ToneOutput& output, Clock& clock, std::FILE* out);

}  // namespace playback
