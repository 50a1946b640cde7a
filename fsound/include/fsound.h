/* fsound: a small sound library with the FSOUND call set.
 *
 * One output device, stereo, a fixed number of software channels, and
 * samples loaded from audio files. Samples are band-limited when they are
 * loaded, so any playback rate sounds without aliasing; every call takes
 * effect at the output frame that matches the moment it was made (or the
 * moment it was meant for, fsound_timing.h), plus one constant latency of
 * two and a half device blocks. FSOUND_Init returns once the device's clock
 * has settled, a tenth of a second or so after the device starts (a quarter
 * of a second with PulseAudio). Usable from C and C++.
 *
 * The device: on Linux a stream of the PulseAudio server (PipeWire's serves
 * it too), whose blocks are the largest power of two frames within 128 ms
 * (320 ms of latency at 32000 Hz, and the server's buffer of two blocks on
 * top); elsewhere, or when no server answers, SDL's default audio device,
 * whose blocks are within 32 ms (80 ms of latency at 8000 and 32000 Hz).
 * The environment variable FENK_AUDIO set to "sdl" chooses SDL, "pulse"
 * PulseAudio alone; SDL_AUDIODRIVER naming first another SDL driver than
 * "pulseaudio" chooses SDL too. FSOUND_Close drops what the device holds,
 * so the sound ends at once.
 * All calls must come from one thread (the "main thread").
 *
 * Scales: rates in Hz; volume 0..255 (linear: v gives v/255 of the sample's
 * amplitude); pan 0 (full left), 128 (centre), 255 (full right),
 * constant-power; priority 0 (lowest) .. 255 (highest).
 *
 * The library prints nothing: SDL's log and the errors of the system's
 * sound libraries (ALSA's) are dropped (libpulse prints none), unless the environment variable
 * FSOUND_LIBRARY_LOG is set (and not "0"), for finding out why no device
 * opens. fsound_errors.h says why a call failed.
 *
 * A call that cannot do what it is asked returns 0 (or NULL, or -1) and
 * changes nothing, and FSOUND_GetError (fsound_errors.h) says why; before
 * FSOUND_Init and after FSOUND_Close every call fails that way. Changes travel to the audio thread through a queue of
 * 4096; should the device stall with it full, a call waits up to 250 ms for
 * room and then fails.
 */
#ifndef FSOUND_H
#define FSOUND_H

/* This header's version of the library: the major number is the ABI (the
 * library's SONAME, libfsound.so.1), the minor number grows as calls and
 * flags are added (1.2: FSOUND_LOADMEMORY, every failure's reason). */
#define FSOUND_VERSION_MAJOR 1
#define FSOUND_VERSION_MINOR 2
#define FSOUND_VERSION_PATCH 0

/* What every call is declared with: exported from the library when it is
 * built (FSOUND_BUILDING), imported from the DLL by its users on Windows;
 * nothing when the library is linked in statically (FSOUND_STATIC). */
#if defined(FSOUND_STATIC)
#define FSOUND_API
#elif defined(_WIN32)
#if defined(FSOUND_BUILDING)
#define FSOUND_API __declspec(dllexport)
#else
#define FSOUND_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define FSOUND_API __attribute__((visibility("default")))
#else
#define FSOUND_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FSOUND_SAMPLE FSOUND_SAMPLE;   /* a loaded sample (opaque) */
typedef struct FSOUND_DSPUNIT FSOUND_DSPUNIT; /* unused; pass NULL (opaque) */

#define FSOUND_FREE (-1)      /* PlaySoundEx: take a free channel;
                                 Sample_Load: take a free sample slot */
#define FSOUND_ALL (-3)       /* StopSound, SetPan, SetPaused: every channel */
#define FSOUND_STEREOPAN (-1) /* SetPan: full level on both sides, without
                                 the pan law's 3 dB centre attenuation */

#define FSOUND_LOOP_OFF 0x1    /* sample mode: play once, even if the file
                                  has a loop (wins over LOOP_NORMAL) */
#define FSOUND_LOOP_NORMAL 0x2 /* sample mode: loop the whole sample when
                                  the file has no loop of its own */
#define FSOUND_16BITS 0x10     /* format flags: ignored, since every file */
#define FSOUND_MONO 0x20       /* read carries its own format */
#define FSOUND_SIGNED 0x100    /* 0x130: 16-bit signed mono */
#define FSOUND_LOADMEMORY 0x8000 /* Sample_Load: `name_or_data` points at a
                                    file's bytes in memory, `length` of them */

/* Starts the library: in stereo at `mixrate` Hz (4000..65535) with
 * `maxsoftwarechannels` channels (1..256); `flags` is unused. Opens the
 * default output device through SDL (SDL_AUDIODRIVER picks the driver as
 * SDL's users expect), or no device in offline mode (fsound_offline.h).
 * Returns non-zero on success. Fails, leaving nothing open, for a value out
 * of range, when no device opens, or when the library is already started
 * (the running library is then left as it is). */
FSOUND_API signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);

/* Loads a sample from the file `name_or_data`: any format libsndfile reads,
 * channels averaged to mono. With FSOUND_LOADMEMORY in `mode`,
 * `name_or_data` points at the bytes of such a file in memory instead and
 * `length` gives how many (1..256 MiB; they are copied, and may be freed
 * after the call); a host without files (a browser) loads its samples so.
 * `index` is FSOUND_FREE (the first free slot) or a slot 0..1023 (a sample
 * already there is replaced, and its handle then refers to the new one).
 * `offset` is ignored, and so is `length` without FSOUND_LOADMEMORY (the
 * whole file is loaded). Looping: a WAV smpl loop (its first loop) is
 * honoured; FSOUND_LOOP_OFF in `mode` makes any sample play once;
 * FSOUND_LOOP_NORMAL loops the whole of a sample whose file has no loop;
 * otherwise a sample without a loop plays once. Defaults of a new sample:
 * the file's rate, volume 255, pan 128, priority 128.
 * Returns NULL before FSOUND_Init and on any failure: a file that is missing,
 * unreadable, not a regular file (a directory, a FIFO: never waited on), not
 * audio, without frames, larger than 256 MiB or longer than 4 Mi frames.
 * Loading an unchanged file again with the same loop flags reuses the
 * decoded sample; every handle keeps its own defaults. */
FSOUND_API FSOUND_SAMPLE *FSOUND_Sample_Load(int index, const char *name_or_data,
                                             unsigned int mode, int offset, int length);

/* Sets a sample's defaults for the channels started from it later: rate in
 * Hz (1..10,000,000), volume 0..255, pan 0..255, priority 0..255. -1 leaves
 * that value as it was. Returns non-zero on success; a value out of range
 * fails the call and changes nothing. */
FSOUND_API signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE *sptr, int deffreq,
                                      int defvol, int defpan, int defpri);

/* Master pan separation, 0.0..1.0 (clamped; NaN ignored): 1.0 full (the
 * default), 0.0 everything centred, between them every pan is drawn toward
 * the centre in proportion. Applies to sounding channels too. */
FSOUND_API void FSOUND_SetPanSeperation(float pansep);

/* Stops a channel (0..channels-1), or every channel with FSOUND_ALL; a
 * sounding channel fades out over about a millisecond, and the channel is
 * free at once. Returns non-zero for a valid channel number. */
FSOUND_API signed char FSOUND_StopSound(int channel);

/* Starts `sptr` with its defaults, from its first frame and at full level
 * there (no fade-in: the onset is the sample's own), on `channel`
 * (0..channels-1: what sounds there is stopped) or with FSOUND_FREE on a
 * free channel: the lowest-numbered one that was never used, was stopped,
 * or holds a one-shot that has played out. When all are busy it takes the
 * busy channel of lowest priority, the oldest first, but never one of
 * higher priority than the sample's. Started paused, it is silent until
 * FSOUND_SetPaused(channel, 0). `dsp` is ignored. Returns the channel, or
 * -1. */
FSOUND_API int FSOUND_PlaySoundEx(int channel, FSOUND_SAMPLE *sptr, FSOUND_DSPUNIT *dsp,
                       signed char startpaused);

/* Sets the pan of a channel that holds a sound (or of every such channel
 * with FSOUND_ALL): 0..255, or FSOUND_STEREOPAN. Returns non-zero on
 * success. */
FSOUND_API signed char FSOUND_SetPan(int channel, int pan);

/* Pauses (non-zero) or resumes (0) a channel that holds a sound (or every
 * such channel with FSOUND_ALL). A sounding channel fades out over about a
 * millisecond and holds its place; it resumes from there. Returns non-zero
 * on success. */
FSOUND_API signed char FSOUND_SetPaused(int channel, signed char paused);

/* The time the mixer takes, in percent of the duration of the audio it
 * produced (0..100), smoothed over about half a second of audio. 0 when the
 * library is not started. */
FSOUND_API float FSOUND_GetCPUUsage(void);

/* Stops the output and frees every sample and channel; afterwards nothing
 * sounds and every call fails quietly until the next FSOUND_Init. */
FSOUND_API void FSOUND_Close(void);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_H */
