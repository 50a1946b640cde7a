// Which backend plays, and the calls that go to it.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine.h"
#include "output_device.h"

namespace fsound {
namespace {

// SDL's audio thread wakes for every block, and its PulseAudio driver for
// every quarter block: the waking, not the mixing, is most of that thread's
// cost, so its blocks are as long as the latency allows (32 ms: about 155
// wakes a second at 32000 Hz through PulseAudio).
constexpr int kSdlLongestBlockMilliseconds = 32;
// The PulseAudio server holds two blocks and asks for one when one has
// played: about eight wakes a second at 32000 Hz.
constexpr int kPulseLongestBlockMilliseconds = 128;

bool Is(const char* value, const char* wanted) { return value != nullptr && std::strcmp(value, wanted) == 0; }

}  // namespace

std::vector<OutputBackend> OutputBackendsToTry() {
    const char* chosen = std::getenv("FENK_AUDIO");
    if (Is(chosen, "sdl")) return {OutputBackend::Sdl};
#ifdef FSOUND_WITH_PULSEAUDIO
    if (Is(chosen, "pulse")) return {OutputBackend::PulseAudio};
    // SDL takes a list of drivers; one that does not begin with PulseAudio
    // (the disk driver of a test, ALSA) is asked for instead of it.
    const char* sdlDrivers = std::getenv("SDL_AUDIODRIVER");
    const std::string firstDriver =
        sdlDrivers == nullptr ? "" : std::string(sdlDrivers, std::strcspn(sdlDrivers, ","));
    if (!firstDriver.empty() && firstDriver != "pulseaudio") return {OutputBackend::Sdl};
    return {OutputBackend::PulseAudio, OutputBackend::Sdl};
#else
    return {OutputBackend::Sdl};
#endif
}

int BlockFramesFor(OutputBackend backend, int rate) {
    return BlockFramesForRate(rate, backend == OutputBackend::PulseAudio ? kPulseLongestBlockMilliseconds
                                                                          : kSdlLongestBlockMilliseconds);
}

bool OpenOutputDevice(OutputDevice& device, OutputBackend backend, int rate, RenderCallback render,
                      void* user) {
    if (device.backend != OutputBackend::None) return false;
    device.blockFrames = BlockFramesFor(backend, rate);
    device.render = render;
    device.user = user;
    bool opened = false;
    switch (backend) {
        case OutputBackend::Sdl: opened = OpenSdlOutput(device, rate); break;
#ifdef FSOUND_WITH_PULSEAUDIO
        case OutputBackend::PulseAudio: opened = OpenPulseOutput(device, rate); break;
#endif
        default: break;
    }
    device.backend = opened ? backend : OutputBackend::None;
    return opened;
}

void CloseOutputDevice(OutputDevice& device) {
    switch (device.backend) {
        case OutputBackend::Sdl: CloseSdlOutput(device); break;
#ifdef FSOUND_WITH_PULSEAUDIO
        case OutputBackend::PulseAudio: ClosePulseOutput(device); break;
#endif
        default: break;
    }
    device.backend = OutputBackend::None;
}

void FlushOutputDevice(OutputDevice& device, std::atomic<bool>* dropped) {
#ifdef FSOUND_WITH_PULSEAUDIO
    if (device.backend == OutputBackend::PulseAudio) FlushPulseOutput(device, dropped);
#else
    (void)device;
    (void)dropped;
#endif
}

void WaitForAudioThread(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace fsound
