/* fsound's reason for a failure: after any call returned 0, NULL or -1 (or
 * did nothing, for FSOUND_SetPanSeperation), FSOUND_GetError says why, and
 * FSOUND_GetErrorText gives a sentence for it ("not an audio file libsndfile
 * can read") that a program can show after its own words.
 */
#ifndef FSOUND_ERRORS_H
#define FSOUND_ERRORS_H

#include "fsound.h"

#ifdef __cplusplus
extern "C" {
#endif

enum FSOUND_ERRORS {
    FSOUND_ERR_NONE = 0,         /* no call has failed */
    FSOUND_ERR_UNINITIALIZED,    /* the library is not started */
    FSOUND_ERR_BUSY,             /* FSOUND_Init: the library is already started */
    FSOUND_ERR_INIT,             /* FSOUND_Init: no output device opened */
    FSOUND_ERR_INVALID_PARAM,    /* a value out of its range, or NULL */
    FSOUND_ERR_NO_SLOT,          /* Sample_Load: every sample slot is taken */
    FSOUND_ERR_FILE_NOTFOUND,    /* Sample_Load: no file at that path */
    FSOUND_ERR_FILE_UNREADABLE,  /* Sample_Load: the file cannot be opened */
    FSOUND_ERR_FILE_NOT_REGULAR, /* Sample_Load: a directory, FIFO or device */
    FSOUND_ERR_FILE_TOO_LARGE,   /* Sample_Load: over 256 MiB */
    FSOUND_ERR_FILE_FORMAT,      /* Sample_Load: not audio libsndfile reads */
    FSOUND_ERR_FILE_NO_FRAMES,   /* Sample_Load: audio without a frame */
    FSOUND_ERR_FILE_TOO_LONG,    /* Sample_Load: over 4 Mi frames */
    FSOUND_ERR_FILE_BAD,         /* Sample_Load: the frames cannot be read */
    FSOUND_ERR_MEMORY,           /* not enough memory */
    FSOUND_ERR_CHANNEL_ALLOC,    /* PlaySoundEx: every channel is busy with a
                                    sound of higher priority */
    FSOUND_ERR_OUTPUT_STALLED,   /* the output device has taken no changes
                                    for 250 ms: its queue is full */
    FSOUND_ERR_NOT_OFFLINE       /* Offline_Render: the library is started
                                    with a device */
};

/* The reason the latest call that failed failed, as one of FSOUND_ERRORS:
 * every call sets it when it fails, and like errno the other calls leave it
 * as it is when they succeed, so a program may ask after the calls that
 * follow a failure. FSOUND_Init and FSOUND_Sample_Load set FSOUND_ERR_NONE
 * when they succeed. From the main thread, like every call. */
FSOUND_API int FSOUND_GetError(void);

/* A short sentence in lower case for `error` (an FSOUND_ERRORS value), or
 * "unknown error" for any other number. The text is static. */
FSOUND_API const char *FSOUND_GetErrorText(int error);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_ERRORS_H */
