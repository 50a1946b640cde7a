#include <SDL.h>

#include <cstdlib>
#include <string>

#include "engine.h"
#include "output_device.h"
#include "system_audio_noise.h"

namespace fsound {
namespace {

// SDL's log (the disk driver's "CRITICAL" lines among it) goes nowhere: the
// program that uses the library owns standard error.
void DiscardSdlLog(void*, int, SDL_LogPriority, const char*) {}

// FSOUND_LIBRARY_LOG set to anything but "" or "0" lets SDL and the system's
// sound libraries print what they would (for finding out why no device
// opens).
bool LibraryLogWanted() {
    const char* wanted = std::getenv("FSOUND_LIBRARY_LOG");
    return wanted != nullptr && *wanted != '\0' && std::string(wanted) != "0";
}

void DeviceCallback(void* user, Uint8* stream, int length) {
    // Taken first, so the time is that of the device's request.
    const std::int64_t now = MonotonicNowNs();
    const OutputDevice& device = *static_cast<const OutputDevice*>(user);
    const int frames = length / static_cast<int>(2 * sizeof(float));
    device.render(device.user, reinterpret_cast<float*>(stream), frames, now);
}

}  // namespace

bool OpenSdlOutput(OutputDevice& device, int rate) {
    // The library only plays sound; the program's signals stay its own.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!LibraryLogWanted()) {
        SDL_LogSetOutputFunction(DiscardSdlLog, nullptr);
        SilenceSystemAudioLibraries();
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = static_cast<Uint16>(device.blockFrames);
    wanted.callback = DeviceCallback;
    wanted.userdata = &device;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts to whatever the hardware takes, so the
    // callback always sees this rate, format and block length.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (id == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    device.sdlId = id;
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void CloseSdlOutput(OutputDevice& device) {
    if (device.sdlId == 0) return;
    SDL_CloseAudioDevice(device.sdlId);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device.sdlId = 0;
}

}  // namespace fsound
