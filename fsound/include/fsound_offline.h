/* fsound offline mode: no device; the caller advances the mix.
 *
 * Call FSOUND_Offline_Enable(1) before FSOUND_Init: Init then opens no
 * device, and time stands still except when FSOUND_Offline_Render advances
 * it. Every call takes effect at the current render position (the first
 * frame of the next render), so the same calls give the same audio as the
 * device path, through the same mixer, many times faster than real time.
 */
#ifndef FSOUND_OFFLINE_H
#define FSOUND_OFFLINE_H

#include "fsound.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Chooses offline (non-zero) or device (0) output for the next FSOUND_Init;
 * the choice stays until it is changed. Returns non-zero on success; fails
 * while the library is started. */
FSOUND_API signed char FSOUND_Offline_Enable(signed char enable);

/* Mixes the next `frames` output frames into `stereo` (2 * frames floats,
 * interleaved left/right, -1..1, clipped; the buffer is overwritten).
 * Returns the frames written, or 0 when the library is not started in
 * offline mode, `stereo` is NULL or `frames` is not positive. */
FSOUND_API int FSOUND_Offline_Render(float *stereo, int frames);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_OFFLINE_H */
