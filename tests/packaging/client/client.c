/* A program of someone else's, built against an installed fenk-dev: plays
 * the installed square.wav at 440 x 32 Hz into memory with fsound's offline
 * mode and checks that a tone came out. Exit status 0 when it did. */
#include <math.h>
#include <stdio.h>

#include <fsound.h>
#include <fsound_errors.h>
#include <fsound_offline.h>

int main(int argc, char **argv) {
    static float stereo[2 * 3200];
    const char *sample_path = argc > 1 ? argv[1] : "/usr/share/fenk/square.wav";
    FSOUND_SAMPLE *sample;
    int channel, frame;
    double peak = 0.0;

    if (!FSOUND_Offline_Enable(1) || !FSOUND_Init(32000, 8, 0)) {
        fprintf(stderr, "fsound did not start: %s\n", FSOUND_GetErrorText(FSOUND_GetError()));
        return 1;
    }
    sample = FSOUND_Sample_Load(FSOUND_FREE, sample_path,
                                FSOUND_16BITS | FSOUND_MONO | FSOUND_SIGNED, 0, 0);
    if (sample == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", sample_path, FSOUND_GetErrorText(FSOUND_GetError()));
        FSOUND_Close();
        return 1;
    }
    FSOUND_Sample_SetDefaults(sample, 440 * 32, 255, 128, 128);
    channel = FSOUND_PlaySoundEx(FSOUND_FREE, sample, NULL, 0);
    if (channel < 0 || FSOUND_Offline_Render(stereo, 3200) != 3200) {
        fprintf(stderr, "nothing played\n");
        FSOUND_Close();
        return 1;
    }
    for (frame = 0; frame < 2 * 3200; ++frame) {
        if (fabs(stereo[frame]) > peak) peak = fabs(stereo[frame]);
    }
    FSOUND_Close();
    printf("fsound %s: peak %.3f over 100 ms\n", sample_path, peak);
    return peak > 0.1 ? 0 : 1;
}
