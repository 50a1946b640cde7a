#include "data/square/looped_wav.h"

#include <sndfile.h>

namespace looped_wav {

bool Write(const std::string& path, const Spec& spec, std::string* error) {
    SF_INFO info{};
    info.samplerate = spec.sampleRate;
    info.channels = spec.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        *error = sf_strerror(nullptr);
        return false;
    }
    if (spec.loopLastFrame >= 0) {
        // Set before the first frame, so that the chunk goes into the header.
        SF_INSTRUMENT instrument{};
        instrument.basenote = 60;
        instrument.gain = 1;
        instrument.velocity_hi = instrument.key_hi = 127;
        instrument.loop_count = 1;
        instrument.loops[0].mode = SF_LOOP_FORWARD;
        instrument.loops[0].start = static_cast<unsigned>(spec.loopStart);
        // libsndfile takes the end one past the last looped frame.
        instrument.loops[0].end = static_cast<unsigned>(spec.loopLastFrame) + 1;
        instrument.loops[0].count = 0;  // for ever
        if (sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE) {
            *error = "cannot set the loop: " + std::string(sf_strerror(file));
            sf_close(file);
            return false;
        }
    }
    const auto values = static_cast<sf_count_t>(spec.frames.size());
    const bool written = sf_write_short(file, spec.frames.data(), values) == values;
    if (!written) *error = sf_strerror(file);
    const bool closed = sf_close(file) == 0;
    if (written && !closed) *error = "cannot complete the file";
    return written && closed;
}

}  // namespace looped_wav
