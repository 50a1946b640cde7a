// ALSA is silenced by handing it an error printer that prints nothing.
// SDL loads libasound itself at run time, so it is reached the same way
// here, with no build-time dependency on ALSA: where the library is not
// installed there is nothing to silence.
#include <dlfcn.h>

#include "system_audio_noise.h"

namespace fsound {
namespace {

// snd_lib_error_handler_t: (file, line, function, error, format, ...).
void PrintNothing(const char*, int, const char*, int, const char*, ...) {}

using SetErrorHandler = int (*)(void (*)(const char*, int, const char*, int, const char*, ...));

}  // namespace

void SilenceSystemAudioLibraries() {
    // The handle is kept (never closed): the handler must stay set while
    // SDL has the library loaded, and dlopen of the same library again
    // returns this same copy.
    static void* const alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (alsa == nullptr) return;
    const auto setHandler =
        reinterpret_cast<SetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (setHandler != nullptr) setHandler(PrintNothing);
}

}  // namespace fsound
