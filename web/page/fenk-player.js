// FenkPlayer: a Fenk song player for any web page (docs/web.md).
//
//   const player = await FenkPlayer.create();
//   player.load(bytesOfSong8xpOrText);
//   button.onclick = () => player.play();
//   player.addEventListener('row', (e) => console.log(e.detail.status));
//
// Songs are opened, measured and rendered by one fenk.wasm instance on the
// page; what is heard is mixed by another inside an AudioWorklet, at the
// player's own rate, and each row is announced when it reaches the ear
// (the output latency taken into account), not when it was mixed.
//
// The audio context, its worklet and the stream are made when the first
// song opens (the context suspended until a click or a key lets it run),
// so that Play only resumes it. The worklet gets the module compiled, and
// each song after that as its program file's bytes.
import { FenkEngine, statusLine, switchFlags } from './fenk-engine.js';

const here = new URL('./', import.meta.url);

// The latency hints: the least the machine keeps up with, and the larger
// buffers of "steadier sound" for a busy machine.
const kLatencyHint = 'interactive';
const kSteadierLatencyHint = 'playback';

export class FenkPlayer extends EventTarget {
  // Fetches fenk.wasm and the default sample (square.wav) from `base`, the
  // folder this module was loaded from unless told otherwise. `steadier`:
  // the larger output buffer of setSteadierSound(true).
  static async create({ base = here, steadier = false } = {}) {
    const [wasm, sample] = await Promise.all(
      ['fenk.wasm', 'square.wav'].map(async (name) => {
        const response = await fetch(new URL(name, base));
        if (!response.ok) throw new Error(`cannot fetch ${name}: ${response.status}`);
        return new Uint8Array(await response.arrayBuffer());
      }));
    return new FenkPlayer(base, wasm, await WebAssembly.compile(wasm), sample, steadier);
  }

  constructor(base, wasmBytes, module, defaultSample, steadier = false) {
    super();
    this.base = base;
    this.wasmBytes = wasmBytes;
    this.module = module;
    this.engine = new FenkEngine(module);
    this.defaultSample = defaultSample;
    this.sample = defaultSample;
    this.engine.setSample(this.sample);
    this.song = null;       // {handle, bytes, info, roll}: the song open
    this.switches = { x: false, m: false, l: false };
    this.steadier = Boolean(steadier);
    this.context = null;
    this.node = null;
    this.nodeSample = null; // the sample the node's stream has
    this.streamReady = null;
    this.pending = [];      // row events mixed but not heard yet
    this.heard = null;      // the row heard now
    this.state = { state: 'paused', entry: 0, songTick: 0, loopEntry: false, mutedMask: 0 };
    this.watchTimer = 0;
    this.wantPlaying = false;
  }

  // Opens a song: a .8xp file's bytes or a song text (a string or its
  // bytes); `name`, when it ends in .8xp, says it is a program file
  // whatever it holds. Returns {ok, lines, title, ..., entries, program,
  // layout, text} or {ok: false, lines, errors}. A failure leaves the song
  // before it playing. A new song starts from its top.
  load(bytes, name = '') {
    const result = this.engine.openSong(toBytes(bytes), /\.8xp$/i.test(name));
    if (!result.ok) return result;
    this.take(result);
    this.heard = null;
    this.pending = [];
    if (this.node) this.startStream(this.state.state === 'playing', 0);
    else this.ensureStream();
    // A song file opens for editing as its song text (and its layout, for
    // the tracker); the file as given is what plays until it is edited.
    if (result.kind === 'program') {
      const written = this.engine.songText(result.handle);
      if (written.ok) {
        result.text = written.text;
        result.warnings.push(...written.warnings.map((warning) => `warning: ${warning}`));
        result.layout = written.layout;
      } else {
        result.warnings.push(`no song text: ${written.error}`);
      }
    } else {
      result.layout = this.engine.songLayout(result.handle).layout;
    }
    return result;
  }

  // Takes an edited song text: the stream plays on from the same place
  // with it (the worklet gets its program's bytes at once; the layout is
  // made after). Same result as load.
  edit(bytes) {
    const result = this.engine.openSong(toBytes(bytes));
    if (!result.ok) return result;
    this.take(result);
    this.post({ type: 'reload', song: this.song.bytes });
    if (result.kind === 'text') result.layout = this.engine.songLayout(result.handle).layout;
    return result;
  }

  // The piano roll of the song open: each row that plays, [tick, entry,
  // period0, ..., period3], asked of the module once per song.
  roll() {
    if (!this.song) return [];
    this.song.roll ??= this.engine.songRoll(this.song.handle).rows;
    return this.song.roll;
  }

  // A voice sample of one's own (WAV, FLAC, Ogg ... with its loop), or
  // null for square.wav. {ok} or {ok: false, error}.
  setSample(bytes) {
    const sample = bytes ? toBytes(bytes) : this.defaultSample;
    const result = this.engine.setSample(sample);
    if (!result.ok) {
      this.engine.setSample(this.sample);
      return result;
    }
    this.sample = sample;
    if (this.node) this.startStream(this.state.state === 'playing', this.state.entry);
    return result;
  }

  // Plays. Phones and browsers let sound start only from a tap, a click or
  // a key: call it from one (the audio context, made when the song opened,
  // is resumed here).
  // Each control is an action the stream takes in the order asked, so
  // play() and pause() in quick succession end paused, whatever the
  // stream has reported so far.
  async play() {
    if (!this.song) return;
    this.wantPlaying = true;
    this.post({ type: 'play', playing: true });
    const resumed = this.resumeContext();
    await this.ensureStream();
    await resumed;
  }

  // The audio context and the worklet's stream, made once per context:
  // playing if a play() is still wanted when the worklet has loaded (a
  // pause() asked meanwhile holds), paused otherwise.
  ensureStream() {
    if (!this.context) this.createContext();
    this.streamReady ??= (async () => {
      const context = this.context;
      await context.audioWorklet.addModule(new URL('fenk-worklet.js', this.base));
      // A context made again meanwhile (a switch) has its own stream.
      if (context === this.context) this.startStream(this.wantPlaying, this.state.entry);
    })();
    return this.streamReady;
  }

  pause() {
    this.wantPlaying = false;
    this.post({ type: 'play', playing: false });
  }
  // Play or pause, decided by the stream on its own state.
  toggle() {
    if (this.node && this.context.state === 'running') this.post({ type: 'toggle' });
    else this.play();
  }
  next() { this.post({ type: 'step', step: 1 }); }
  previous() { this.post({ type: 'step', step: -1 }); }
  home() { this.seek(0); }
  setLoop(on) { this.post({ type: 'loop', on: Boolean(on) }); }
  toggleLoop() { this.setLoop(!this.state.loopEntry); }

  // Moves to row `row` (from 0) of timeline entry `entry` (0 = the first
  // that plays).
  seek(entry, row = 0) { this.post({ type: 'seek', entry, row }); }

  // Sounds `period` on `voice` at once (a note typed): alone for 300 ms
  // when stopped, in place of the voice's note while playing. Call it from
  // a key press or a tap: it lets the audio context run.
  async preview(voice, period) {
    if (!this.song) return;
    this.post({ type: 'preview', voice, period });
    this.resumeContext();
    if (!this.node) {
      await this.ensureStream();
      this.post({ type: 'preview', voice, period });
    }
  }

  mute(voice, muted) {
    const bit = 1 << voice;
    this.setMutes(muted ? this.state.mutedMask | bit : this.state.mutedMask & ~bit);
  }
  // Only `voice` sounds; again on the same voice, all of them.
  solo(voice) {
    const soloMask = 15 & ~(1 << voice);
    this.setMutes(this.state.mutedMask === soloMask ? 0 : soloMask);
  }
  setMutes(mask) {
    this.state.mutedMask = mask;
    this.post({ type: 'mutes', mask });
  }

  // fenk's switches: x (extended notes), m (mono), l (low quality: the
  // context is made again at 8000 Hz, at the same entry).
  setSwitches(switches) {
    const rateChanges = Boolean(switches.l) !== this.switches.l;
    this.switches = { x: Boolean(switches.x), m: Boolean(switches.m), l: Boolean(switches.l) };
    if (rateChanges) this.remakeContext();
    else this.post({ type: 'switches', flags: switchFlags(this.switches) });
  }

  // Steadier sound: a larger output buffer (more latency) that a busy
  // machine does not run dry; off, the least latency. The context is made
  // again, at the same entry.
  setSteadierSound(on) {
    if (Boolean(on) === this.steadier) return;
    this.steadier = Boolean(on);
    this.remakeContext();
  }

  // The song as fenk-render SONG OUT.wav [sample] [-switches] writes it, as
  // a Blob; the voices muted now stay silent in it.
  renderWav() {
    const rendered = this.engine.renderWav(switchFlags(this.switches), this.state.mutedMask, this.song?.handle ?? 0);
    if (!rendered.ok) throw new Error(rendered.error);
    return new Blob([rendered.wav], { type: 'audio/wav' });
  }

  // The song as fenk-make SONG OUT.mid writes it, as a Blob.
  midiFile() {
    const exported = this.engine.midiFile(this.song?.handle ?? 0);
    if (!exported.ok) throw new Error(exported.error);
    return new Blob([exported.midi], { type: 'audio/midi' });
  }

  // The .8xp of the song open (the bytes fenk-make writes for a text).
  programFile() { return this.song ? this.song.bytes : null; }

  // What is heard now: the row event (null before the first), the state,
  // and the song's time in ticks.
  position() {
    const heardTime = this.heardTime();
    let songTick = this.state.songTick;
    if (this.heard && this.state.state === 'playing') {
      const ticks = Math.floor((heardTime - this.heard.time) * 200);
      songTick = this.heard.songTick + Math.min(Math.max(ticks, 0), this.heard.duration - 1);
    }
    return { row: this.heard, state: this.state.state, entry: this.heard ? this.heard.entry : this.state.entry,
             songTick, loopEntry: this.state.loopEntry, mutedMask: this.state.mutedMask };
  }

  // -- inside

  // The song just opened replaces the one before, whose handle is closed.
  take(result) {
    if (this.song) this.engine.closeSong(this.song.handle);
    result.program = this.engine.songProgram(result.handle);
    this.song = { handle: result.handle, bytes: result.program, info: result, roll: null };
  }

  // Lets the audio context run, made first where no song has opened it yet
  // (a song that came in as an edit); resolves when it runs.
  resumeContext() {
    if (!this.context) this.createContext();
    return this.context.state === 'running' ? Promise.resolve() : this.context.resume();
  }

  createContext() {
    this.offsets = [];
    const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    this.context = new Context({ sampleRate: this.switches.l ? 8000 : 32000,
                                 latencyHint: this.steadier ? kSteadierLatencyHint : kLatencyHint });
    this.node = null;
    this.nodeSample = null;
    this.streamReady = null;
  }

  // A context of the rate or latency asked, its stream at the entry heard,
  // playing on if it played.
  remakeContext() {
    if (!this.context) return;
    const playing = this.state.state === 'playing';
    this.endNode();
    this.context.close();
    this.createContext();
    this.wantPlaying = playing;
    if (playing) this.context.resume();
    if (this.song) this.ensureStream();
  }

  endNode() {
    if (!this.node) return;
    // The old node ends: its processor returns false from now on.
    this.node.port.postMessage({ type: 'stop' });
    this.node.port.onmessage = null;
    this.node.disconnect();
    this.node = null;
  }

  makeNode() {
    const options = { numberOfInputs: 0, outputChannelCount: [2] };
    const layout = this.engine.layout;
    try {
      // The module compiled once, where the browser can pass it...
      return new AudioWorkletNode(this.context, 'fenk-processor',
                                  { ...options, processorOptions: { module: this.module, layout } });
    } catch {
      // ...else its bytes, compiled there.
      return new AudioWorkletNode(this.context, 'fenk-processor',
                                  { ...options, processorOptions: { wasm: this.wasmBytes, layout } });
    }
  }

  // The stream on the node (made once per context) for the song open:
  // from its top, or from `entry`.
  startStream(playing, entry) {
    if (!this.song) return;
    if (!this.node) {
      this.node = this.makeNode();
      this.node.port.onmessage = (message) => this.receive(message.data);
      // A processor that throws is silent from then on: the page is told.
      this.node.onprocessorerror = () => {
        this.dispatchEvent(new CustomEvent('error', { detail: 'The sound stopped: the player inside the audio worklet failed.' }));
      };
      this.node.connect(this.context.destination);
    }
    this.pending = [];
    // The sample goes over only when the node's stream has another.
    const sample = this.nodeSample === this.sample ? null : this.sample;
    this.nodeSample = this.sample;
    this.post({ type: 'start', song: this.song.bytes, sample,
                flags: switchFlags(this.switches), playing: playing && entry === 0 });
    // Voices muted before the stream was made (or made again) stay muted.
    if (this.state.mutedMask !== 0) this.post({ type: 'mutes', mask: this.state.mutedMask });
    if (entry !== 0) {
      this.post({ type: 'seek', entry });
      if (playing) this.post({ type: 'play', playing: true });
    }
  }

  post(message) { if (this.node) this.node.port.postMessage(message); }

  receive(message) {
    if (message.type === 'log') console.warn(`fenk.wasm: ${message.line}`);
    if (message.type === 'started' && !message.ok) {
      this.dispatchEvent(new CustomEvent('error', { detail: message.error }));
    }
    if (message.type !== 'state') return;
    const rate = this.context.sampleRate;
    for (const event of message.events) {
      this.pending.push({ ...event, time: event.frame / rate, status: statusLine(event) });
    }
    this.state = message.state;
    if (message.events.length > 0) this.watch();
    this.dispatchEvent(new CustomEvent('state', { detail: this.state }));
  }

  // The context time of the sound reaching the ear now. Each output
  // timestamp pairs a context time with the moment it is heard, but the
  // pairs come from the audio callbacks, which run late by some ms now and
  // then: the median pairing of the last second is the steady one.
  heardTime() {
    if (!this.context) return 0;
    const now = performance.now();
    const stamp = this.context.getOutputTimestamp ? this.context.getOutputTimestamp() : null;
    if (!stamp || !(stamp.contextTime > 0)) {
      return this.context.currentTime - (this.context.outputLatency || this.context.baseLatency || 0);
    }
    const offsets = this.offsets;
    offsets.push({ at: now, offsetMs: stamp.performanceTime - stamp.contextTime * 1000 });
    while (offsets.length > 1 && now - offsets[0].at > 1000) offsets.shift();
    const sorted = offsets.map((sample) => sample.offsetMs).sort((a, b) => a - b);
    return (now - sorted[sorted.length >> 1]) / 1000;
  }

  // Announces each row when it is heard: a timer set for the moment the
  // next one reaches the ear, and nothing while none is due.
  watch() {
    clearTimeout(this.watchTimer);
    if (this.pending.length === 0) return;
    const dueMs = (this.pending[0].time - this.heardTime()) * 1000;
    this.watchTimer = setTimeout(() => {
      const now = this.heardTime();
      while (this.pending.length > 0 && this.pending[0].time <= now) {
        this.heard = this.pending.shift();
        this.dispatchEvent(new CustomEvent('row', { detail: this.heard }));
      }
      this.watch();
    }, Math.max(0, dueMs));
  }
}

function toBytes(data) {
  if (typeof data === 'string') return new TextEncoder().encode(data);
  return data instanceof Uint8Array ? data : new Uint8Array(data);
}
