// fenk.wasm, instantiated and called: one instance is one player (see
// web_module.h for the calls). Runs on the page, in an AudioWorklet and in
// Node alike: nothing here needs more than WebAssembly itself.
import { wasiImports } from './wasi.js';

export const Flags = { extended: 1, mono: 2, lowQuality: 4 };

// The switches as flags: {x, m, l} booleans.
export function switchFlags({ x = false, m = false, l = false } = {}) {
  return (x ? Flags.extended : 0) | (m ? Flags.mono : 0) | (l ? Flags.lowQuality : 0);
}

// UTF-8, without TextDecoder (which an AudioWorklet's scope may lack).
function decodeUtf8(bytes) {
  if (typeof TextDecoder !== 'undefined') return new TextDecoder().decode(bytes);
  let text = '';
  for (let k = 0; k < bytes.length;) {
    const lead = bytes[k];
    const extra = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
    let point = extra === 0 ? lead : lead & (0x3f >> extra);
    for (let j = 1; j <= extra; ++j) point = (point << 6) | (bytes[k + j] & 0x3f);
    text += String.fromCodePoint(point);
    k += extra + 1;
  }
  return text;
}

export class FenkEngine {
  // `module`: a compiled WebAssembly.Module of fenk.wasm; `layout`: its
  // fenk_layout, when another instance has asked already (the worklet's
  // writes no JSON).
  constructor(module, log = (line) => console.warn(`fenk.wasm: ${line}`), layout = null) {
    let memory = null;
    this.instance = new WebAssembly.Instance(module, wasiImports(() => memory, log));
    this.calls = this.instance.exports;
    memory = this.calls.memory;
    this.calls._initialize();
    // The stream's buffers are read by position: their sizes come from the
    // module, never written twice.
    if (layout) {
      this.layout = layout;
    } else {
      this.calls.fenk_layout();
      this.layout = this.result();
    }
    this.current = 0;  // open()'s song
  }

  static async fromBytes(bytes) {
    return new FenkEngine(await WebAssembly.compile(bytes));
  }

  memory() { return new Uint8Array(this.calls.memory.buffer); }

  // Copies `bytes` (or a string, as UTF-8) into the module's input
  // buffer; their count.
  input(bytes) {
    const data = typeof bytes === 'string' ? new TextEncoder().encode(bytes)
      : bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
    const at = this.calls.fenk_input(data.length);
    this.memory().set(data, at);
    return data.length;
  }

  result() {
    const at = this.calls.fenk_result();
    return JSON.parse(decodeUtf8(this.memory().slice(at, at + this.calls.fenk_result_length())));
  }

  // The file the latest call made, as a copy.
  output() {
    const at = this.calls.fenk_output();
    return this.memory().slice(at, at + this.calls.fenk_output_length());
  }

  // The reason a call that only takes something gave for failing.
  reason() {
    const at = this.calls.fenk_result();
    return decodeUtf8(this.memory().slice(at, at + this.calls.fenk_result_length()));
  }

  // -- songs, on handles (web_module.h's fenk_song_*)

  // Opens a song (.8xp, text or MIDI file): fenk_song_open's result,
  // {ok, handle, kind, lines, title, ..., entries} or {ok: false, lines,
  // errors}. `asProgram`: read it as a program file whatever it begins
  // with (a .8xp's name, a share link). closeSong(handle) forgets it.
  openSong(bytes, asProgram = false) {
    this.calls.fenk_song_open(this.input(bytes), asProgram ? 1 : 0);
    return this.result();
  }

  closeSong(handle) { this.calls.fenk_song_close(handle); }

  // The .8xp's bytes (what the stream plays), or null.
  songProgram(handle) { return this.calls.fenk_song_program(handle) === 1 ? this.output() : null; }

  // A text's layout for the tracker: {ok, layout} or {ok: false, error}.
  songLayout(handle) {
    this.calls.fenk_song_layout(handle);
    return this.result();
  }

  // The piano roll, at most `maxRows` rows: {ok, rows, rowsCut}, each row
  // [tick, entry, period0, ..., period3] (a view of one Int32Array).
  songRoll(handle, maxRows = this.layout.maxRollRows) {
    const ok = this.calls.fenk_song_roll(handle, maxRows) === 1;
    const result = this.result();
    if (!ok) return result;
    const bytes = this.output();
    const flat = new Int32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
    const size = this.layout.rollRowInts;
    const rows = new Array(result.rows);
    for (let k = 0; k < result.rows; ++k) rows[k] = flat.subarray(size * k, size * k + size);
    return { ok, rows, rowsCut: result.rowsCut };
  }

  // The song's text as fenk-make writes it: {ok, text, warnings, layout} or
  // {ok: false, error}.
  songText(handle = this.current) {
    this.calls.fenk_song_text(handle);
    return this.result();
  }

  // The facts of the song text format (web_module.h's fenk_text_facts).
  textFacts() {
    this.calls.fenk_text_facts();
    return this.result();
  }

  // A section or order edit of a song text (fenk_text_edit): `edit` is
  // {edit: 'order', text, names} | {edit: 'add', text, after, name, rows} |
  // {edit: 'rename', text, name, to} | {edit: 'delete', text, name}.
  // {ok, text} or {ok: false, error}.
  textEdit(edit) {
    const fields = { order: ['names'], add: ['after', 'name', 'rows'], rename: ['name', 'to'], delete: ['name'] }[edit.edit];
    const parts = [edit.edit, edit.text, ...(fields ?? []).flatMap((field) => edit[field] ?? '')];
    if (!fields || parts.some((part) => typeof part !== 'string' || part.includes('\0'))) {
      return { ok: false, error: 'the text or a name holds a NUL character' };
    }
    this.calls.fenk_text_edit(this.input(parts.join('\0')));
    return this.result();
  }

  // The song as fenk-make's MIDI file: {ok, midi} or {ok: false, error}.
  midiFile(handle = this.current) {
    const ok = this.calls.fenk_song_midi(handle) === 1;
    const result = this.result();
    if (ok) result.midi = this.output();
    return result;
  }

  // The song as fenk-render's WAV: {ok, wav} or {ok: false, error}.
  renderWav(flags = 0, mutedMask = 0, handle = this.current) {
    const ok = this.calls.fenk_song_render_wav(handle, flags, mutedMask) === 1;
    const result = this.result();
    if (ok) result.wav = this.output();
    return result;
  }

  // Everything of a song at once, in one instance that has one song open
  // at a time (the tests' and the measurements' shorthand; the page asks
  // for each part when it needs it): the opening's result with its
  // `program`, `rows` and `rowsCut`, and a text's `layout`. The song opened
  // before is closed when this one opens.
  open(bytes, asProgram = false) {
    const result = this.openSong(bytes, asProgram);
    if (!result.ok) return result;
    if (this.current) this.closeSong(this.current);
    this.current = result.handle;
    result.program = this.songProgram(result.handle);
    const roll = this.songRoll(result.handle);
    result.rows = roll.rows;
    result.rowsCut = roll.rowsCut;
    if (result.kind === 'text') result.layout = this.songLayout(result.handle).layout;
    return result;
  }

  // A voice sample for what is rendered or streamed next: {ok} or {ok:
  // false, error}.
  setSample(bytes) {
    return this.calls.fenk_set_sample(this.input(bytes)) === 1 ? { ok: true } : { ok: false, error: this.reason() };
  }

  // -- the stream that is heard (fenk_stream_*)

  // Starts it on a program file's bytes (songProgram's): {ok} or {ok:
  // false, error}.
  streamStart(program, flags, playing) {
    const ok = this.calls.fenk_stream_start(this.input(program), flags, playing ? 1 : 0) === 1;
    return ok ? { ok } : { ok, error: this.reason() };
  }

  // Takes an edited song's program file, playing on from the same place.
  streamReload(program) { return this.calls.fenk_stream_reload(this.input(program)) === 1; }

  streamStop() { this.calls.fenk_stream_stop(); }

  // Mixes `frames` frames: {frames, audio (interleaved, a view valid until
  // the next call), events, state}.
  streamRender(frames) {
    const done = this.calls.fenk_stream_render(frames);
    const views = this.views();
    return { frames: done, audio: views.audio.subarray(0, 2 * done), events: this.streamEvents(),
             state: this.streamState() };
  }

  // The worklet's render: one quantum mixed straight into the output's
  // channels, nothing allocated unless rows started. Returns the number of
  // rows started (streamEvents() has them).
  renderQuantum(left, right) {
    const done = this.calls.fenk_stream_render(left.length);
    const { audio, state } = this.views();
    for (let k = 0; k < done; ++k) {
      left[k] = audio[2 * k];
      if (right) right[k] = audio[2 * k + 1];
    }
    return state[5];
  }

  // The rows started in the latest render, each with its frame in it.
  streamEvents() {
    const { events, state } = this.views();
    const started = [];
    for (let k = 0; k < state[5]; ++k) {
      const size = this.layout.rowEventInts;
      const e = events.subarray(size * k, size * k + size);
      started.push({ frame: e[0], entry: e[1], orderIndex: e[2], rowIndex: e[3],
                     sectionOffset: e[4], songTick: e[5], duration: e[6], jumped: e[7] === 1 });
    }
    return started;
  }

  streamState() {
    const s = this.views().state;
    return { state: ['playing', 'paused', 'end'][s[0]], entry: s[1], songTick: s[2],
             loopEntry: s[3] === 1, mutedMask: s[4], eventCount: s[5], rate: s[6] };
  }

  // Views of the stream's buffers, made again only when memory has grown.
  views() {
    const buffer = this.calls.memory.buffer;
    if (!this.cached || this.cached.buffer !== buffer) {
      this.cached = {
        buffer,
        audio: new Float32Array(buffer, this.calls.fenk_stream_audio(), 2 * this.layout.maxStreamFrames),
        events: new Int32Array(buffer, this.calls.fenk_stream_events(),
                               this.layout.rowEventInts * this.layout.maxStreamFrames),
        state: new Int32Array(buffer, this.calls.fenk_stream_state(), this.layout.stateInts),
      };
    }
    return this.cached;
  }

  // Actions, as web_module.h says: play (true) or pause (false), the next
  // (1) or previous (-1) entry, the entry looped or not.
  streamPlay(playing) { this.calls.fenk_stream_play(playing ? 1 : 0); }
  streamStep(step) { this.calls.fenk_stream_step(step); }
  streamLoop(on) { this.calls.fenk_stream_loop(on ? 1 : 0); }
  streamMutes(mask) { this.calls.fenk_stream_mutes(mask); }
  streamSeek(entry, row = 0) { this.calls.fenk_stream_seek(entry, row); }
  streamPreview(voice, period) { this.calls.fenk_stream_preview(voice, period); }
  streamSwitches(flags) { this.calls.fenk_stream_switches(flags); }
}

// "Note:004 Section:002=01F6", the console's status line without its CPU
// figure, for a row event.
export function statusLine(event) {
  const pad = (value, width) => String(value).padStart(width, '0');
  return `Note:${pad(event.rowIndex, 3)} Section:${pad(event.orderIndex, 3)}=` +
         event.sectionOffset.toString(16).toUpperCase().padStart(4, '0');
}

// M:SS.s of a count of 5 ms ticks.
export function playingTime(ticks) {
  const tenths = Math.floor(ticks / 20);
  const minutes = Math.floor(tenths / 600);
  const seconds = (tenths % 600) / 10;
  return `${minutes}:${seconds.toFixed(1).padStart(4, '0')}`;
}
