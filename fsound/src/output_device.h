// The output device: SDL's default audio device, stereo float at a fixed
// rate, driven by a callback on SDL's audio thread (output_device_sdl.cpp).
// A build without one (the browser's, output_device_none.cpp) opens no
// device: the library plays there in offline mode only.
#pragma once

#include <cstdint>

namespace fsound {

// Fills `frames` stereo frames at `stereo` (interleaved left/right);
// `nowNs` is the monotonic moment the device asked for them.
using RenderCallback = void (*)(void* user, float* stereo, int frames, std::int64_t nowNs);

struct OutputDevice {
    std::uint32_t id = 0;          // SDL device id; 0 when closed
    RenderCallback render = nullptr;
    void* user = nullptr;
};

// Starts SDL's audio (SDL_AUDIODRIVER chooses the driver as usual) and opens
// the default device in stereo float at exactly `rate` Hz with blocks of
// `blockFrames` frames (SDL converts if the hardware differs), then starts
// it. The callback runs until CloseOutputDevice. `device` must stay at its
// address meanwhile. Returns false, with SDL's audio shut down again, when
// no device opens.
bool OpenOutputDevice(OutputDevice& device, int rate, int blockFrames, RenderCallback render,
                      void* user);

// Stops the callback (it has returned when this does), closes the device and
// shuts SDL's audio down. Nothing happens for a closed device.
void CloseOutputDevice(OutputDevice& device);

// Gives the audio thread about `milliseconds` ms to run, for a call that
// waits on it (a full command queue, the device's clock).
void WaitForAudioThread(unsigned milliseconds);

}  // namespace fsound
