// Fuzz target: bytes as a MIDI file, read and, when they are one, imported
// as fenk-make imports them. Besides the sanitizers: the notes come in order
// of start, none ends before it starts, their moments follow their ticks on
// the tempo map, and the song text an import writes compiles.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "compose/midi_file.h"
#include "compose/midi_import.h"
#include "compose/song_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const fenk::Result<midi::MidiFile> read = midi::ReadMidiFile(bytes);
    if (!read.ok()) {
        FUZZ_CHECK(!read.reason.empty());
        return 0;
    }
    const midi::MidiFile& file = read.value;
    FUZZ_CHECK(file.format == 0 || file.format == 1);
    FUZZ_CHECK(!file.tempos.empty() && file.tempos.front().tick == 0);
    FUZZ_CHECK(!file.signatures.empty() && file.signatures.front().tick == 0);
    for (std::size_t i = 0; i < file.notes.size(); ++i) {
        const midi::Note& note = file.notes[i];
        FUZZ_CHECK(note.endTick >= note.startTick && note.endTick <= file.lastTick);
        FUZZ_CHECK(std::isfinite(note.startSeconds) && note.endSeconds >= note.startSeconds);
        FUZZ_CHECK(note.track < file.trackNames.size() && note.channel < 16 && note.pitch < 128);
        if (i > 0) FUZZ_CHECK(file.notes[i - 1].startTick <= note.startTick);
    }
    midiimport::ImportOptions options;
    options.title = "Fuzz";
    options.programName = "FUZZ";
    const fenk::Result<midiimport::Import> imported = midiimport::ImportMidi(file, options);
    if (!imported.ok()) return 0;
    const songtext::CompileResult compiled = songtext::CompileSongText(imported.value.text);
    FUZZ_CHECK(compiled.ok);
    return 0;
}
