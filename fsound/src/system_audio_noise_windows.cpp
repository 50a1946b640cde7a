// Windows' sound output prints nothing of its own on standard error.
#include "system_audio_noise.h"

namespace fsound {

void SilenceSystemAudioLibraries() {}

}  // namespace fsound
