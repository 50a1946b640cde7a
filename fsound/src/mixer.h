// The mixer: software channels that play band-limited samples, and the
// commands that change them. Runs on the audio thread (or, offline, in the
// render call); it neither allocates, locks nor calls the system once set
// up by InitMixer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "band_limited.h"

namespace fsound {

// Pan value for "full level on both sides" (FSOUND_STEREOPAN).
constexpr int kPanBothSides = -1;

enum class CommandKind : std::uint8_t {
    Start,          // start `sample` on `channel`, replacing what sounds there
    Stop,           // stop `channel`
    StopAll,        // stop every channel
    SetPan,         // set the pan of `channel`
    SetPanAll,      // set the pan of every channel
    SetPaused,      // pause or resume `channel`
    SetPausedAll,   // pause or resume every channel
    SetSeparation,  // set the master pan separation
};

// One API call's change, stamped on the main thread.
struct Command {
    CommandKind kind = CommandKind::StopAll;
    int channel = 0;                            // 0..channels-1 where it names one
    std::int64_t timeNs = 0;                    // monotonic clock when the call was made, ns
    bool scheduled = false;                     // timeNs is the moment the call was meant for
    const BandLimitedSample* sample = nullptr;  // Start: kept alive by the library until Close
    double step = 0.0;                          // Start: sample frames per output frame (> 0)
    float volume = 0.0f;                        // Start: linear gain 0..1
    int pan = 128;                              // Start, SetPan*: 0..255 or kPanBothSides
    bool paused = false;                        // Start, SetPaused*
    std::uint32_t noteId = 0;                   // Start: published when a one-shot ends
    float separation = 1.0f;                    // SetSeparation: 0..1
};

// Left and right gain of a pan at full volume.
struct StereoGains {
    float left = 0.0f;
    float right = 0.0f;
};

// Constant-power pan law. `pan` 0..255 maps to a position -1 (full left) ..
// 0 (128, exact centre) .. +1 (255, full right), linear on each side of 128;
// `separation` (0..1) scales the position toward the centre; then
// left = sin((1 - position) * pi/4), right = sin((1 + position) * pi/4), so
// both sides are sqrt(1/2) at the centre and a hard pan is exactly 1 and 0.
// kPanBothSides gives 1 and 1 whatever the separation.
StereoGains PanGains(int pan, float separation);

// One sounding (or fading) sample.
struct Voice {
    bool active = false;
    const BandLimitedSample* sample = nullptr;
    VoiceCursor cursor;
    double step = 0.0;        // sample frames per output frame
    float volume = 0.0f;      // 0..1
    int pan = 128;            // 0..255 or kPanBothSides
    bool paused = false;
    bool sounded = false;     // has been mixed since it started
    float leftGain = 0.0f;    // gains now
    float rightGain = 0.0f;
    float leftTarget = 0.0f;  // gains it ramps toward
    float rightTarget = 0.0f;
    int rampFramesLeft = 0;   // frames until the gains reach their targets
    std::uint32_t noteId = 0;
};

struct Mixer {
    int outputRate = 0;                 // Hz
    int rampFrames = 1;                 // length of every gain change: about 1 ms
    float separation = 1.0f;            // master pan separation 0..1
    std::vector<Voice> channels;        // one voice per software channel
    std::vector<Voice> releasing;       // stopped voices fading out
    // Per channel: the noteId of the last one-shot that played out there
    // (0: none yet). Written by the mixer, read by the main thread.
    std::unique_ptr<std::atomic<std::uint32_t>[]> endedNotes;
};

// Sets up `channelCount` silent channels (and twice as many fading slots)
// for output at `outputRate` Hz; the fade and gain-change length is
// outputRate / 1000 frames (at least 1).
void InitMixer(Mixer& mixer, int outputRate, int channelCount);

// Applies one command at the current position (between two frames).
void ApplyCommand(Mixer& mixer, const Command& command);

// Adds the next `frames` frames of every voice into `stereo` (2 * frames
// floats, interleaved left/right), advancing them.
void MixFrames(Mixer& mixer, float* stereo, int frames);

}  // namespace fsound
