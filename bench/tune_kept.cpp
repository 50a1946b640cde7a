// How much of a MIDI file's tune a song keeps: the share of 10 ms moments
// at which the file's highest and lowest non-percussion notes sound in the
// song's voices (midiimport::MeasureTuneKept), for any song file, whichever
// program made it.
//
//   tune_kept FILE.mid SONG.8xp [TRANSPOSE]
// prints "melody 97.1 bass 94.0 moments 1234" (percent); exit 1 with a
// line on standard error when a file cannot be read.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compose/midi_file.h"
#include "compose/midi_import.h"
#include "songfile/songfile.h"

namespace {

bool ReadAll(const char* path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: tune_kept FILE.mid SONG.8xp [TRANSPOSE]\n");
        return 2;
    }
    std::vector<std::uint8_t> midiBytes;
    if (!ReadAll(argv[1], midiBytes)) {
        std::fprintf(stderr, "tune_kept: cannot read %s\n", argv[1]);
        return 1;
    }
    const fenk::Result<midi::MidiFile> file = midi::ReadMidiFile(midiBytes);
    if (!file.ok()) {
        std::fprintf(stderr, "tune_kept: %s: %s\n", argv[1], file.reason.c_str());
        return 1;
    }
    const songfile::ReadResult read = songfile::ReadTiProgramFile(argv[2]);
    if (!read.ok()) {
        std::fprintf(stderr, "tune_kept: %s: %s\n", argv[2], read.reason.c_str());
        return 1;
    }
    const songfile::ParseResult song = songfile::ParseSong(read.value.data.data(), read.value.data.size());
    if (!song.ok()) {
        std::fprintf(stderr, "tune_kept: %s: %s\n", argv[2], song.reason.c_str());
        return 1;
    }
    const int transpose = argc == 4 ? std::atoi(argv[3]) : 0;
    const midiimport::TuneKept kept =
        midiimport::MeasureTuneKept(file.value, transpose, midiimport::PlayedRows(song.value));
    std::printf("melody %.1f bass %.1f moments %zu\n", 100.0 * kept.melody, 100.0 * kept.bass, kept.moments);
    return 0;
}
