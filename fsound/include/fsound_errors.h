/* fsound's reason for a failure: after FSOUND_Init or FSOUND_Sample_Load
 * returned 0 or NULL, FSOUND_GetError says why, and FSOUND_GetErrorText
 * gives a sentence for it ("not an audio file libsndfile can read") that a
 * program can show after its own words.
 */
#ifndef FSOUND_ERRORS_H
#define FSOUND_ERRORS_H

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
    FSOUND_ERR_MEMORY            /* not enough memory */
};

/* The reason the latest FSOUND_Init or FSOUND_Sample_Load failed, as one of
 * FSOUND_ERRORS; either call sets FSOUND_ERR_NONE when it succeeds. From the
 * main thread, like every call. */
int FSOUND_GetError(void);

/* A short sentence in lower case for `error` (an FSOUND_ERRORS value), or
 * "unknown error" for any other number. The text is static. */
const char *FSOUND_GetErrorText(int error);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_ERRORS_H */
