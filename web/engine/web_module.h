// The calls the browser's module exports to the page's JavaScript
// (fenk-engine.js wraps them). The module is built for wasm32-wasi as a
// reactor: the page instantiates it, calls _initialize, then these.
//
// Each call asks for one thing. Songs are opened on handles (fenk_song_*):
// a song's summary comes with its opening, and the rest only when asked
// for (the tracker's layout, the piano roll with a row budget, the song
// text, the .8xp, a MIDI file, a WAV). The stream that is heard
// (fenk_stream_*) plays a program file's bytes: it is made and reloaded
// from fenk_song_program's output, so the instance inside the page's
// AudioWorklet never compiles a text nor writes JSON.
//
// The page keeps one instance on its main thread (the songs) and one in its
// AudioWorklet (the stream). Bytes go in through the input buffer
// (fenk_input); the song calls answer JSON at fenk_result, bytes (a file,
// a roll) at fenk_output; the calls that only take something (the sample,
// the stream's song, closing a handle) answer 1 or 0, and on 0 leave the
// reason at fenk_result as plain text. Every pointer is an offset in the
// module's memory, valid until the next call that changes that buffer.
//
// Switch flags, as the command line's letters: kFlagExtended ("x": notes go
// on into the next row), kFlagMono ("m"), kFlagLowQuality ("l": 8000 Hz
// instead of 32000).
#pragma once

#include <cstddef>
#include <cstdint>

#define FENK_WEB_EXPORT(name) __attribute__((export_name(#name)))

namespace web {

constexpr int kFlagExtended = 1;
constexpr int kFlagMono = 2;
constexpr int kFlagLowQuality = 4;

// One row that started to sound during a fenk_stream_render call: eight
// int32 values, for the page's status line and playhead. The page reads
// these by position: their sizes are pinned here and told by fenk_layout.
struct RowEvent {
    std::int32_t frame;          // frames into the rendered block where it starts
    std::int32_t entry;          // timeline entry (order entries that play), from 0
    std::int32_t orderIndex;     // order entry, from 0 (the status line's "Section")
    std::int32_t rowIndex;       // row of its section, from 0 ("Note")
    std::int32_t sectionOffset;  // the section's offset in the song block
    std::int32_t songTick;       // ticks of the song before the row (its time)
    std::int32_t duration;       // the row's ticks
    std::int32_t jumped;         // 1 when reached by a seek or a reload
};

// The stream's state after each call, read by the worklet: eight int32.
struct StreamState {
    std::int32_t state;       // 0 playing, 1 paused, 2 at the end
    std::int32_t entry;       // timeline entry of the position
    std::int32_t songTick;    // ticks of the song before the position
    std::int32_t loopEntry;   // 1 when the entry loops
    std::int32_t mutedMask;   // bit k: voice k muted
    std::int32_t eventCount;  // RowEvents at fenk_stream_events
    std::int32_t rate;        // output rate, Hz
    std::int32_t reserved;
};

static_assert(sizeof(RowEvent) == 8 * sizeof(std::int32_t), "the page reads eight int32 a row event");
static_assert(sizeof(StreamState) == 8 * sizeof(std::int32_t), "the page reads eight int32 of state");

}  // namespace web

extern "C" {

// A buffer of `size` bytes for the next call's input; its address.
FENK_WEB_EXPORT(fenk_input) std::uint8_t* fenk_input(std::size_t size);
// The latest call's result (JSON, or a plain reason: see above), and its
// length in bytes.
FENK_WEB_EXPORT(fenk_result) const char* fenk_result();
FENK_WEB_EXPORT(fenk_result_length) std::size_t fenk_result_length();
// The bytes the latest call made (a .8xp, a roll, a MIDI file, a WAV),
// and their count.
FENK_WEB_EXPORT(fenk_output) const std::uint8_t* fenk_output();
FENK_WEB_EXPORT(fenk_output_length) std::size_t fenk_output_length();

// Opens the `size` input bytes as a song on a handle of its own: a TI-83
// Plus program file (when `asProgram` is non-zero, as for a .8xp file, or
// by its signature), a song text, compiled as fenk-make compiles it, or a
// MIDI file (by its "MThd"), imported as fenk-make imports it: then the
// result is a text's with "text" (the song text written) and "summary"
// (the import's lines) besides. The handle (1 and up) on success, with
//   {"ok":true,"handle":H,"kind":"program"|"text",
//    "lines":"Loaded file ...\n...","title","artist","album",
//    "warnings":["LINE: warning: ..."],
//    "orderCount":N,"totalTicks":T,"rowCount":R,  (R: rows that play)
//    "bodyBytes":B,"maxBodyBytes":65516,  (the program's song block, bytes)
//    "entries":[{"order":K,"section":OFFSET,"name":"verse","start":TICK,
//                "ticks":T,"rows":R}]}
// (a program file's entries have no names). 0 on failure, no handle made:
// {"ok":false,"lines":fenk's failure line,"errors":["LINE: what is wrong",...]}.
// A handle holds its song until fenk_song_close.
FENK_WEB_EXPORT(fenk_song_open) int fenk_song_open(std::size_t size, int asProgram);
// Forgets the song on `handle`. 1, or 0 when none is open on it.
FENK_WEB_EXPORT(fenk_song_close) int fenk_song_close(int handle);
// The song's .8xp (the bytes fenk-make writes, or the file as given) at
// fenk_output: what fenk_stream_start and fenk_stream_reload take. 1, or 0
// when no song is open on `handle`.
FENK_WEB_EXPORT(fenk_song_program) int fenk_song_program(int handle);
// Where a text's parts stand, for the tracker, which edits the text line by
// line: every section it defines, played or not, with the 1-based lines of
// its `section`, `end` and rows and its rows compiled,
//   {"ok":true,"layout":{"sections":[{"name","line","endLine","rowLines":[L,...],
//                 "rows":[[P0,P1,P2,P3,TICKS],...]}],
//    "orderLines":[L,...],"headerLines":{"title":L,"name":L,"tempo":L,...}}}
// 0 with {"ok":false,"error"} for a program file (fenk_song_text gives the
// layout of the text written for it).
FENK_WEB_EXPORT(fenk_song_layout) int fenk_song_layout(int handle);
// The piano roll: each row that plays, at most `maxRows` of them (and never
// more than fenk_layout's maxRollRows), as rollRowInts (6) int32 at
// fenk_output: the row's tick, its timeline entry and its four periods (0
// is a rest). {"ok":true,"rows":N,"rowsCut":false} (true: the song has more
// rows than were given, past the budget or past tick 2^31 - 1).
FENK_WEB_EXPORT(fenk_song_roll) int fenk_song_roll(int handle, int maxRows);
// The song's text as fenk-make SONG.8xp OUT.txt writes it:
// 1 with {"ok":true,"text":"...","warnings":["section s2 starts ..."],
// "layout":{...}} (the text's layout, as fenk_song_layout gives it); 0 with
// {"ok":false,"error":"why"}.
FENK_WEB_EXPORT(fenk_song_text) int fenk_song_text(int handle);
// Writes the song as a Standard MIDI File at fenk_output, as fenk-make SONG
// OUT.mid does. 1 on success ({"ok":true,"notes":N}); 0 with
// {"ok":false,"error":"why"}.
FENK_WEB_EXPORT(fenk_song_midi) int fenk_song_midi(int handle);
// Takes the `size` input bytes as the voice sample (any file the desktop
// player loads, its loop honoured), for the renders and streams started
// after it. 1 when it loads; 0 with the reason (plain text), the sample
// before staying, also while a stream plays (fenk_stream_stop first).
FENK_WEB_EXPORT(fenk_set_sample) int fenk_set_sample(std::size_t size);

// Renders the song with the sample into a 16-bit stereo WAV at
// fenk_output: the bytes fenk-render writes for the same song, sample and
// switches. Voices whose bit is set in `mutedMask` stay silent. 1 on
// success ({"ok":true}); 0 with {"ok":false,"error":"why"} (also while a
// stream plays on this instance).
FENK_WEB_EXPORT(fenk_song_render_wav) int fenk_song_render_wav(int handle, int flags, int mutedMask);

// Starts the stream that is heard: the program file of the `size` input
// bytes (fenk_song_program's; nothing else is taken, so nothing is
// compiled) and the sample at 32000 Hz (8000 with kFlagLowQuality), at
// the song's start, paused unless `playing`. A stream before it ends. 1 on
// success, 0 with the reason (plain text). The state is at
// fenk_stream_state.
FENK_WEB_EXPORT(fenk_stream_start) int fenk_stream_start(std::size_t size, int flags, int playing);
// Ends the stream (its sound library shut down); nothing when none plays.
FENK_WEB_EXPORT(fenk_stream_stop) void fenk_stream_stop();
// Mixes the next `frames` frames (1..4096) into fenk_stream_audio
// (interleaved left/right floats): a 5 ms tick at every 160th frame (40th
// at 8000 Hz), each row sounding from its tick's first frame. The rows
// started are at fenk_stream_events. Returns the frames mixed.
FENK_WEB_EXPORT(fenk_stream_render) int fenk_stream_render(int frames);
FENK_WEB_EXPORT(fenk_stream_audio) const float* fenk_stream_audio();
FENK_WEB_EXPORT(fenk_stream_events) const web::RowEvent* fenk_stream_events();
FENK_WEB_EXPORT(fenk_stream_state) const web::StreamState* fenk_stream_state();
// Actions on the stream, each taking effect at once whatever was asked
// before it (a page's calls in quick succession keep their order):
// plays (1; from the top at the end) or pauses (0); the next (step > 0) or
// previous (step < 0) entry, as fenk-live's Right and Left; the entry
// looped (1) or not (0).
FENK_WEB_EXPORT(fenk_stream_play) void fenk_stream_play(int playing);
FENK_WEB_EXPORT(fenk_stream_step) void fenk_stream_step(int step);
FENK_WEB_EXPORT(fenk_stream_loop) void fenk_stream_loop(int on);
// The layouts the page reads from the module's memory by position, as the
// result: {"maxStreamFrames":4096,"rowEventInts":8,"rollRowInts":6,
// "maxRollRows":200000,"stateInts":8} (the audio buffer holds
// 2 x maxStreamFrames floats, the events maxStreamFrames RowEvents; a
// roll row is rollRowInts int32). Returns 1.
FENK_WEB_EXPORT(fenk_layout) int fenk_layout();
// Mutes the voices whose bit is set, unmutes the others (solo is one bit
// clear).
FENK_WEB_EXPORT(fenk_stream_mutes) void fenk_stream_mutes(int mutedMask);
// Moves to row `row` (from 0; clamped to the section's last) of timeline
// entry `entry`.
FENK_WEB_EXPORT(fenk_stream_seek) void fenk_stream_seek(int entry, int row);
// Sounds `period` (1..255) on `voice` (0..3) at once, as a note typed into
// the page's tracker: while playing, in place of the voice's note until the
// next row starts; otherwise alone for 300 ms. Out-of-range values do nothing.
FENK_WEB_EXPORT(fenk_stream_preview) void fenk_stream_preview(int voice, int period);
// Sets switches x and m while playing (l needs a new stream).
FENK_WEB_EXPORT(fenk_stream_switches) void fenk_stream_switches(int flags);
// Takes the program file of the `size` input bytes into the stream, as an
// edit: playing goes on from the same place, as fenk-live does when the
// file is saved (a copy of bytes read, never a compile). 1 on success; 0
// with the reason (plain text), the song before playing on.
FENK_WEB_EXPORT(fenk_stream_reload) int fenk_stream_reload(std::size_t size);

// The facts of the song text format the page's editor writes by, each
// owned by the compose library: {"ok":true,"voiceColumnWidth":7,
// "orderNamesPerLine":16,"calculatorFreeBytes":24000,"maxBodyBytes":65516,
// "noteNames":["C-1",...,"G9"]} (the name of each MIDI key 0..127). 1.
FENK_WEB_EXPORT(fenk_text_facts) int fenk_text_facts();
// A section or order edit of a song text: the `size` input bytes are the
// edit's name, the text and its arguments, apart by NUL bytes:
//   order  TEXT NAME...                 the order written again as NAME...
//   add    TEXT AFTER NAME ROW-LINE...  a section added after AFTER
//   rename TEXT NAME TO                 a section renamed
//   delete TEXT NAME                    a section deleted
// as compose/song_text.h's With... make them. 1 with {"ok":true,"text"};
// 0 with {"ok":false,"error":"why"} (the text does not compile, a name
// taken, ...).
FENK_WEB_EXPORT(fenk_text_edit) int fenk_text_edit(std::size_t size);

}  // extern "C"
