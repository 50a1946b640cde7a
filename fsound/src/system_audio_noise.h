// Keeping the system's sound libraries quiet: ALSA's error printer writes
// straight to standard error (eight lines of "ALSA lib ..." on a machine
// without a sound card, when SDL falls back to ALSA). The program's own
// messages are the only output it should have. One implementation per OS
// (system_audio_noise_posix.cpp, system_audio_noise_windows.cpp).
#pragma once

namespace fsound {

// Silences what the OS's sound libraries would print on standard error,
// for the rest of the process. Safe to call more than once.
void SilenceSystemAudioLibraries();

}  // namespace fsound
