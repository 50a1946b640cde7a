// The command line front end: the banner and usage text, the loading and
// checking of the song file, the switches that fill the playback settings,
// and the hand-over to the playback run.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "playback/playback.h"
#include "songfile/songfile.h"

namespace app {

// What a run talks to besides the song file.
struct Environment {
    const playback::SoundLibrary* library = nullptr;  // the sound library calls
    playback::Clock* clock = nullptr;  // keyboard test and sleep while playing
    std::FILE* out = nullptr;          // every message goes here
};

// One whole run over `argc` arguments at `argv`, argv[0] being the
// program's name: the banner; the usage text when there is no other
// argument (exit status 0); the song file named by argv[1], whatever it
// begins with, read, shown and checked (exit status 1 when it cannot be
// opened, is not a TI-83 Plus program file or holds no song); the settings
// from argv[2..]; then the playback run, whose exit status is returned.
// The song data stays alive until the playback run has ended.
int Run(int argc, const char* const* argv, const Environment& environment);

// The program as main starts it: console output and keyboard set up, Run
// with the real sound library, the system clock and standard output, the
// keyboard restored. Returns the process exit status.
int Main(int argc, const char* const* argv);

}  // namespace app
