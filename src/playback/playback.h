// Playback: the four-voice tone output over the sound library, the
// sequencer that walks a song row by row, and the playback run around it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fsound.h"
#include "fsound_timing.h"
#include "platform/platform.h"
#include "playback/song_engine.h"
#include "songfile/songfile.h"

namespace playback {

// Settings for the whole run, filled by the command line before playback and
// constant while playing.
struct PlaybackSettings {
    bool stopNotesEachRow = true;  // cleared by switch "x" (extended notes)
    bool stereoPanning = true;     // cleared by switch "m" (mono)
    int mixRate = 32000;           // output rate in Hz; kLowQualityMixRate with switch "l"
    // Voice sample path, at most 255 characters plus NUL.
    char samplePath[256] = "square.wav";
};

// The output rate of the low-quality switch, Hz.
constexpr int kLowQualityMixRate = 8000;

// A switch letter: what it is called in the help and what it changes.
struct SwitchLetter {
    char letter;       // lower case
    const char* help;  // "extended notes"
    void (*apply)(PlaybackSettings& settings);
};

// The switch letters, the one table from which the settings are parsed and
// every program's help is made: "x" clears stopNotesEachRow (extended
// notes), "m" clears stereoPanning (mono), "l" sets mixRate to
// kLowQualityMixRate (low quality).
constexpr std::size_t kSwitchLetterCount = 3;
extern const SwitchLetter kSwitchLetters[kSwitchLetterCount];

// The letters for a help text: "x: extended notes, m: mono, l: low quality".
std::string SwitchLettersHelp();

// The settings for the arguments that follow the song path, taken in order
// from the defaults. An argument beginning with "-" is a switch group: each
// letter after the "-" that kSwitchLetters holds changes the settings; any
// other character (upper case included) is skipped. Any other argument, the empty one included,
// is a sample path: its first 255 characters replace samplePath, so the
// last one given wins. `count` arguments at `arguments` (count >= 0).
PlaybackSettings ParseSettings(int count, const char* const* arguments);
// The same for arguments held as strings (the tools' command lines).
PlaybackSettings ParseSettings(const std::vector<std::string>& arguments);

// ---------------------------------------------------------------------------
// Sound library

// The ten sound library calls the player makes, and one extension, as a
// table, so that tests can stand in a recording fake. Same meaning as the
// fsound.h calls.
struct SoundLibrary {
    signed char (*Init)(int mixrate, int maxsoftwarechannels, unsigned int flags);
    FSOUND_SAMPLE* (*SampleLoad)(int index, const char* name_or_data,
                                 unsigned int mode, int offset, int length);
    signed char (*SampleSetDefaults)(FSOUND_SAMPLE* sptr, int deffreq,
                                     int defvol, int defpan, int defpri);
    void (*SetPanSeperation)(float pansep);
    signed char (*StopSound)(int channel);
    int (*PlaySoundEx)(int channel, FSOUND_SAMPLE* sptr, FSOUND_DSPUNIT* dsp,
                       signed char startpaused);
    signed char (*SetPan)(int channel, int pan);
    signed char (*SetPaused)(int channel, signed char paused);
    float (*GetCPUUsage)();
    void (*Close)();
    // The timing extension (fsound_timing.h): the moment the calls that
    // follow are meant for, ns on platform::MonotonicNanoseconds' clock, 0 for the
    // moment each is made. May be null (a library without it).
    signed char (*SetCallTime)(long long timeNs);
};

// The table of the real fsound library's calls.
const SoundLibrary& FsoundLibrary();

// ---------------------------------------------------------------------------
// Tone output: the program's only contact with the sound library.

struct ToneOutput {
    // The sound library calls; the table must outlive the tone output.
    const SoundLibrary* library = nullptr;
    // One per voice 0..3, from a successful LoadVoiceSamples until Shutdown;
    // null otherwise.
    FSOUND_SAMPLE* samples[songfile::kVoices] = {};
    bool stopNotesEachRow = true;  // stop every channel before each row
    bool stereoPanning = true;     // voices 0, 1 left and 2, 3 right; else centred
};

// A tone output over `library` with the two flags of `settings`.
ToneOutput MakeToneOutput(const SoundLibrary& library,
                          const PlaybackSettings& settings);

// Starts the library at `mixRate` Hz (4000..65535) with 32 software channels;
// true when it runs. On false nothing is open and Shutdown must not be called.
bool Start(ToneOutput& output, int mixRate);
// Loads the sample at `path` four times, once per voice, as 16-bit signed
// mono. All four loads are made before any result is looked at; true only
// when none failed, and only then are `samples` filled. Needs Start; after a
// failure the library stays started and Shutdown is still due.
bool LoadVoiceSamples(ToneOutput& output, const char* path);
// The same for a sample file's `size` bytes at `bytes` (size >= 1), read
// as the library reads a file (FSOUND_LOADMEMORY): the browser's samples.
bool LoadVoiceSamplesFromMemory(ToneOutput& output, const std::uint8_t* bytes, int size);
// Sounds one row: rates[k] is voice k's playback rate in Hz, or kSilentRate.
// With stopNotesEachRow every channel is stopped first; otherwise earlier
// rows go on sounding. Each sample gets the row's rate (kSilentRate leaves it
// as it was), volume 63 of 255 and the default pan 128 (centre); each
// non-silent voice then starts on a free channel, panned 0 (voices 0, 1) or
// 255 (voices 2, 3) when stereoPanning is set, centred otherwise. Needs a
// successful LoadVoiceSamples.
//
// `startNs` (0: now) is the moment the row was meant to start, on
// platform::MonotonicNanoseconds' clock: with the library's timing extension
// the row's calls take effect then, however late they are made (up to the
// library's latency).
void SetVoices(ToneOutput& output, const int rates[songfile::kVoices], std::int64_t startNs = 0);
// As SetVoices, but every channel is stopped first whatever stopNotesEachRow
// says, and the calls take effect at once: what sounds is exactly `rates`
// (fenk-live's pause, resume, seek and mute).
void RestartVoices(ToneOutput& output, const int rates[songfile::kVoices]);
// The library's processing load in percent (0..100), for the status line.
float CpuUsage(const ToneOutput& output);
// Closes the library and forgets the sample handles; after it nothing
// sounds.
void Shutdown(ToneOutput& output);

// ---------------------------------------------------------------------------
// Sequencer

// Where the sequencer waits: the real console and sleep, or a virtual clock
// (offline render, tests).
class Clock {
public:
    virtual ~Clock() = default;
    // True when playing should stop now (a key press waits, for the
    // console); must return at once and leave the key unread.
    virtual bool StopRequested() = 0;
    // Waits `milliseconds` ms (the sequencer's tick is 5 ms).
    virtual void SleepMs(unsigned milliseconds) = 0;
    // The moment the row about to sound was meant to start, ns on
    // platform::MonotonicNanoseconds' clock; 0 when the clock keeps no such
    // time (then the row sounds when its calls are made).
    virtual std::int64_t RowStartNs() { return 0; }
};

// How far behind its deadlines a series of sleeps may fall and still catch
// up (sleeps that end at once until it is back on time): a system that was
// busy for a moment. Further behind (the first sleep, a program stopped and
// continued), the series starts again from now.
constexpr std::int64_t kLongestCatchUpNs = 100000000;

// Where a sleep of `lengthNs` that begins at `nowNs` ends, when the previous
// one of the series ended at `previousDeadlineNs` (0 for none): a length
// after the previous deadline, so that the time between sleeps and the
// lateness of waking do not add up; or a length after now when the series
// is more than kLongestCatchUpNs behind (or has not begun).
std::int64_t NextSleepDeadline(std::int64_t previousDeadlineNs, std::int64_t nowNs, std::int64_t lengthNs);

// The console keyboard and the system's monotonic clock; the caller sets the
// keyboard up with platform::BeginKeyboardPolling first. Sleeps form one
// series (NextSleepDeadline, platform::SleepUntilWatchingKeys), so that
// sounding a row and printing its status line take nothing from its ticks:
// a row of d ticks lasts d x 5 ms. Each sleep watches the keyboard where it
// can, and then is the next StopRequested's key test.
class SystemClock : public Clock {
public:
    // A key came during the last sleep; or, where that sleep could not
    // watch (and before the first), platform::KeyPending.
    bool StopRequested() override;
    void SleepMs(unsigned milliseconds) override;
    // The deadline the last sleep ended at; before the first sleep (or more
    // than kLongestCatchUpNs behind) now, where the series then begins.
    std::int64_t RowStartNs() override;

private:
    std::int64_t deadlineNs_ = 0;  // end of the previous sleep; 0 before the first
    platform::KeyWatch lastWatch_ = platform::KeyWatch::NotWatched;  // how the previous sleep went
};

enum class PlayOutcome { Finished, StoppedByKey };

// One row's status: what the status line shows.
struct RowStatus {
    int note = 0;                     // row of the section, from 0
    int section = 0;                  // entry of the order list, from 0
    std::uint16_t sectionOffset = 0;  // the section's offset in the block
    float cpuUsage = 0;               // the sound library's load, percent
};

// What the playback run shows, and where: fenk prints it on the console;
// fenk-render shows nothing of it.
class RunPrinter {
public:
    virtual ~RunPrinter() = default;
    // One of the run's messages, exactly as it stands ("Starting FMOD...").
    virtual void Message(const std::string& text) = 0;
    // The status of a row that has just started to sound.
    virtual void Status(const RowStatus& status) = 0;
};

// Prints to `out` as the player does: messages as they are, each status as
// "Note:%03d Section:%03d=" + the offset as four upper-case hex digits +
// " CPU:%.02f%%\r" (no line feed, so each row's line overwrites the one
// before).
class ConsolePrinter : public RunPrinter {
public:
    explicit ConsolePrinter(std::FILE* out) : out_(out) {}
    void Message(const std::string& text) override;
    void Status(const RowStatus& status) override;

private:
    std::FILE* out_;
};

// Shows nothing: for a run that no one watches (an offline render).
class SilentPrinter : public RunPrinter {
public:
    void Message(const std::string&) override {}
    void Status(const RowStatus&) override {}
};

// Plays `player` from its position to its end (SongPlayer::endEntry, or
// the end of the order list), or until the clock asks to stop at a tick.
// Each tick is one PlayTick: a row that starts is sounded by SetVoices at
// clock.RowStartNs() and its status handed to `printer`; then, per tick,
// one clock.StopRequested() and one clock.SleepMs(5). A stop prints the
// message "\n" and returns StoppedByKey at once; the end waits
// clock.SleepMs(kEndWaitMilliseconds) (stops not watched) and returns
// Finished. Needs `output` started and loaded, and the player not paused.
PlayOutcome PlaySong(SongPlayer& player, ToneOutput& output, Clock& clock, RunPrinter& printer);

// Where a playback run ended.
enum class RunStage {
    Played,       // the song played (to its end, or stopped)
    StartFailed,  // the sound library did not start
    LoadFailed,   // the voice samples did not load
};

struct RunResult {
    RunStage stage = RunStage::Played;
    PlayOutcome outcome = PlayOutcome::Finished;  // when stage is Played
    // The process exit status: 0 when the song played, 1 otherwise.
    int ExitStatus() const { return stage == RunStage::Played ? 0 : 1; }
};

// The playback run: start, load, play, shut down, with their messages
// through `printer`. `output` comes from MakeToneOutput with the same
// settings; the sample loaded is platform::ResolveDataFile(samplePath),
// while the message shows samplePath as given. It ends Played (the song
// finished or was stopped), StartFailed (the library did not start: nothing
// shut down) or LoadFailed (the samples did not load: after a 2500 ms wait
// and the shutdown). The song block, which the player views, stays the
// caller's; free it after the call.
RunResult RunPlayback(SongPlayer& player, const PlaybackSettings& settings,
                      ToneOutput& output, Clock& clock, RunPrinter& printer);

}  // namespace playback
