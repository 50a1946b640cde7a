/* fsound: a small sound library with the FSOUND call set.
 *
 * One output device, stereo, a fixed number of software channels, and
 * samples loaded from audio files. Samples are band-limited when they are
 * loaded, so any playback rate sounds without aliasing; every call takes
 * effect at the output frame that matches the moment it was made (plus one
 * constant latency). Usable from C and C++.
 *
 * Scales: rates in Hz; volume 0..255 (linear); pan 0 (full left), 128
 * (centre), 255 (full right), constant-power; priority 0..255.
 */
#ifndef FSOUND_H
#define FSOUND_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FSOUND_SAMPLE FSOUND_SAMPLE;   /* a loaded sample (opaque) */
typedef struct FSOUND_DSPUNIT FSOUND_DSPUNIT; /* unused; pass NULL (opaque) */

#define FSOUND_FREE (-1)      /* PlaySoundEx: take a free channel */
#define FSOUND_ALL (-3)       /* StopSound: every channel */
#define FSOUND_STEREOPAN (-1) /* SetPan: the pan value meaning "no pan" */

#define FSOUND_LOOP_OFF 0x1    /* sample mode: play once */
#define FSOUND_LOOP_NORMAL 0x2 /* sample mode: loop the whole sample */
#define FSOUND_16BITS 0x10
#define FSOUND_MONO 0x20
#define FSOUND_SIGNED 0x100    /* 0x130: 16-bit signed mono */

/* Opens the default output device (through SDL; SDL_AUDIODRIVER picks the
 * driver) in stereo at `mixrate` Hz (4000..65535) with
 * `maxsoftwarechannels` channels (1..256). `flags` is unused. Returns
 * non-zero on success; on failure nothing stays open. */
signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);

/* Loads and band-limits a sample from the file `name_or_data` (any format
 * libsndfile reads, mixed to mono). `index` must be -1 (a free slot) or a
 * slot number; `offset` and `length` are ignored (whole file). A WAV smpl
 * loop is honoured; otherwise FSOUND_LOOP_NORMAL in `mode` loops the whole
 * sample and anything else plays it once. Returns NULL on any failure or
 * before FSOUND_Init. Loading one path again reuses the decoded file. */
FSOUND_SAMPLE *FSOUND_Sample_Load(int index, const char *name_or_data,
                                  unsigned int mode, int offset, int length);

/* Sets a sample's defaults for the channels started from it later: rate in
 * Hz, volume 0..255, pan 0..255, priority 0..255. -1 leaves the rate, the
 * volume or the priority as it was (and the pan too). Returns non-zero on
 * success. */
signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE *sptr, int deffreq,
                                      int defvol, int defpan, int defpri);

/* Master pan separation: 1.0 full (the default), 0.0 everything centred. */
void FSOUND_SetPanSeperation(float pansep);

/* Stops a channel, or every channel with FSOUND_ALL; a sounding channel
 * fades out over about a millisecond. Returns non-zero on success. */
signed char FSOUND_StopSound(int channel);

/* Starts `sptr` on `channel`, or with FSOUND_FREE on a free channel (when
 * all are busy, the one of lowest priority is taken, the oldest first), with
 * the sample's defaults. Started paused, it is silent until
 * FSOUND_SetPaused(channel, 0). Returns the channel, or -1. */
int FSOUND_PlaySoundEx(int channel, FSOUND_SAMPLE *sptr, FSOUND_DSPUNIT *dsp,
                       signed char startpaused);

/* Sets a channel's pan, 0..255. Returns non-zero on success. */
signed char FSOUND_SetPan(int channel, int pan);

/* Pauses (non-zero) or resumes (0) a channel. Returns non-zero on success. */
signed char FSOUND_SetPaused(int channel, signed char paused);

/* Share of time the mixer takes, in percent of the audio it produced
 * (0..100). */
float FSOUND_GetCPUUsage(void);

/* Stops the output and frees every sample and channel; afterwards nothing
 * sounds and every call fails quietly until the next FSOUND_Init. */
void FSOUND_Close(void);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_H */
