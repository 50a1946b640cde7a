// The table of the real sound library's calls, in a file of its own: the
// tests stand a recording fake in its place.
#include "playback/playback.h"

namespace playback {

const SoundLibrary& FsoundLibrary() {
    static const SoundLibrary library = {
        FSOUND_Init,
        FSOUND_Sample_Load,
        FSOUND_Sample_SetDefaults,
        FSOUND_SetPanSeperation,
        FSOUND_StopSound,
        FSOUND_PlaySoundEx,
        FSOUND_SetPan,
        FSOUND_SetPaused,
        FSOUND_GetCPUUsage,
        FSOUND_Close,
        FSOUND_Timing_SetCallTime,
    };
    return library;
}

}  // namespace playback
