// The output device: stereo float at a fixed rate, rendered in blocks by a
// callback on the device's own thread. Two backends: a native PulseAudio
// stream on Linux (output_device_pulse.cpp), whose server keeps a large
// buffer so the thread wakes a few times a second, and SDL's default audio
// device (output_device_sdl.cpp) everywhere, also the fallback when no
// PulseAudio server answers. Which one is tried first is chosen at run time
// (OutputBackendsToTry). A build without a device (the browser's,
// output_device_none.cpp) opens none: the library plays there in offline
// mode only.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace fsound {

// Fills `frames` stereo frames at `stereo` (interleaved left/right);
// `nowNs` is the monotonic moment the device asked for them.
using RenderCallback = void (*)(void* user, float* stereo, int frames, std::int64_t nowNs);

enum class OutputBackend {
    None,        // closed
    PulseAudio,  // libpulse's threaded main loop, one playback stream
    Sdl,         // SDL 2's audio device (SDL_AUDIODRIVER chooses its driver)
};

struct PulseOutput;  // the PulseAudio backend's state (output_device_pulse.cpp)

struct OutputDevice {
    OutputBackend backend = OutputBackend::None;
    int blockFrames = 0;            // frames per render callback
    std::uint32_t sdlId = 0;        // Sdl: the device id
    PulseOutput* pulse = nullptr;   // PulseAudio: the stream and its loop
    RenderCallback render = nullptr;
    void* user = nullptr;
};

// The backends to try, first one first. The environment variable
// FENK_AUDIO picks one alone: "sdl" or "pulse" (case as written). Unset or
// empty: PulseAudio then SDL where the build has PulseAudio (Linux), SDL
// alone elsewhere; but SDL_AUDIODRIVER naming first a driver other than
// "pulseaudio" (disk, dummy, alsa, ...; SDL takes a comma-separated list)
// asks for SDL, so SDL alone. Any other value of FENK_AUDIO is taken as
// unset.
std::vector<OutputBackend> OutputBackendsToTry();

// The block `backend` renders in at `rate` Hz: the largest power of two
// frames within 32 ms for SDL (whose audio thread wakes for every block,
// and whose PulseAudio driver wakes for every quarter block), within 128 ms
// for PulseAudio (the server buffers two blocks and asks for one at a
// time); at least 16 frames.
int BlockFramesFor(OutputBackend backend, int rate);

// Opens `backend` in stereo float at exactly `rate` Hz with blocks of
// BlockFramesFor(backend, rate) frames (SDL converts if the hardware
// differs; the PulseAudio server resamples), then starts it. The callback
// runs until CloseOutputDevice; `device` must stay at its address
// meanwhile. Returns false, with nothing left open, when the device does
// not open (for PulseAudio: no server answers within a second and a half,
// or it refuses the stream).
//
// Should the PulseAudio server go away while the stream plays, the blocks
// are still rendered at the block's pace of the monotonic clock and
// dropped, so that calls keep being applied and the queue drains, as SDL
// does with a device it has lost.
bool OpenOutputDevice(OutputDevice& device, OutputBackend backend, int rate, RenderCallback render,
                      void* user);

// Stops the callback (it has returned when this does) and closes the
// device. What the device has buffered and not yet played is dropped (for
// PulseAudio, the server's buffer is flushed before the stream goes), so
// the sound ends at once. Nothing happens for a closed device.
void CloseOutputDevice(OutputDevice& device);

// Drops what the device holds and has not played, so that what is queued
// now is heard next: PulseAudio's server buffer (about 0.4 s) is flushed,
// `*dropped` set first (the engine's outputDropped). SDL's device holds
// about one block, which is left to play; `*dropped` stays as it is.
void FlushOutputDevice(OutputDevice& device, std::atomic<bool>* dropped);

// Gives the audio thread about `milliseconds` ms to run, for a call that
// waits on it (a full command queue, the device's clock).
void WaitForAudioThread(unsigned milliseconds);

// The backends themselves, for OpenOutputDevice and CloseOutputDevice.
bool OpenSdlOutput(OutputDevice& device, int rate);
void CloseSdlOutput(OutputDevice& device);
bool OpenPulseOutput(OutputDevice& device, int rate);
void FlushPulseOutput(OutputDevice& device, std::atomic<bool>* dropped);
void ClosePulseOutput(OutputDevice& device);

}  // namespace fsound
