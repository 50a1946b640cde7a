// What the tests of the real fenk program share: the banner, a voice sample
// of their own, and output with the changing CPU figures masked.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace program_helpers {


// The environment additions for a run that plays without a sound card.
std::vector<std::string> QuietAudio();

// A mono 16-bit WAV file (8000 frames per second) of a square wave,
// `frames` frames long.
test_support::Bytes SquareWav(std::size_t frames);

// `text` with every "CPU:<digits>.<2 digits>%" of the status lines written
// "CPU:#", since the library's load differs from run to run.
std::string WithoutCpuFigures(const std::string& text);

}  // namespace program_helpers
