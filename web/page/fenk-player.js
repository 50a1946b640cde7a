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
import { FenkEngine, statusLine, switchFlags } from './fenk-engine.js';

const here = new URL('./', import.meta.url);

export class FenkPlayer extends EventTarget {
  // Fetches fenk.wasm and the default sample (square.wav) from `base`, the
  // folder this module was loaded from unless told otherwise.
  static async create({ base = here } = {}) {
    const [wasm, sample] = await Promise.all(
      ['fenk.wasm', 'square.wav'].map(async (name) => {
        const response = await fetch(new URL(name, base));
        if (!response.ok) throw new Error(`cannot fetch ${name}: ${response.status}`);
        return new Uint8Array(await response.arrayBuffer());
      }));
    return new FenkPlayer(base, wasm, await WebAssembly.compile(wasm), sample);
  }

  constructor(base, wasmBytes, module, defaultSample) {
    super();
    this.base = base;
    this.wasmBytes = wasmBytes;
    this.engine = new FenkEngine(module);
    this.defaultSample = defaultSample;
    this.sample = defaultSample;
    this.engine.setSample(this.sample);
    this.song = null;       // {bytes, info}: the song open
    this.switches = { x: false, m: false, l: false };
    this.context = null;
    this.node = null;
    this.pending = [];      // row events mixed but not heard yet
    this.heard = null;      // the row heard now
    this.state = { state: 'paused', entry: 0, songTick: 0, loopEntry: false, mutedMask: 0 };
    this.watchTimer = 0;
    this.wantPlaying = false;
  }

  // Opens a song: a .8xp file's bytes or a song text (a string or its
  // bytes); `name`, when it ends in .8xp, says it is a program file
  // whatever it holds. Returns what fenk_open says: {ok, lines, title, ...,
  // entries, rows, program} or {ok: false, lines, errors}. A failure
  // leaves the song before it playing. A new song starts from its top.
  load(bytes, name = '') {
    const result = this.engine.open(toBytes(bytes), /\.8xp$/i.test(name));
    if (!result.ok) return result;
    // A song file opens for editing as its song text (and its layout, for
    // the tracker); the file as given is what plays until it is edited.
    if (result.kind === 'program') {
      const written = this.engine.songText();
      if (written.ok) {
        result.text = written.text;
        result.warnings.push(...written.warnings.map((warning) => `warning: ${warning}`));
        result.layout = written.layout;
      } else {
        result.warnings.push(`no song text: ${written.error}`);
      }
    }
    this.song = { bytes: result.program, info: result };
    this.heard = null;
    this.pending = [];
    if (this.node) this.startStream(this.state.state === 'playing', 0);
    return result;
  }

  // Takes an edited song text: the stream plays on from the same place
  // with it. Same result as load.
  edit(bytes) {
    const result = this.engine.open(toBytes(bytes));
    if (!result.ok) return result;
    this.song = { bytes: result.program, info: result };
    this.post({ type: 'reload', song: this.song.bytes });
    return result;
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

  // Plays (the first call creates the audio context: call it from a tap or
  // a click, as phones want).
  // Each control is an action the stream takes in the order asked, so
  // play() and pause() in quick succession end paused, whatever the
  // stream has reported so far.
  async play() {
    if (!this.song) return;
    this.wantPlaying = true;
    if (this.context) this.post({ type: 'play', playing: true });
    else await this.ensureStream();
    await this.context.resume();
  }

  // The audio context and the worklet's stream, made once: playing if a
  // play() is still wanted when the worklet has loaded (a pause() asked
  // meanwhile holds), paused otherwise.
  ensureStream() {
    this.streamReady ??= (async () => {
      this.createContext();
      await this.context.audioWorklet.addModule(new URL('fenk-worklet.js', this.base));
      this.startStream(this.wantPlaying, 0);
    })();
    return this.streamReady;
  }

  pause() {
    this.wantPlaying = false;
    this.post({ type: 'play', playing: false });
  }
  // Play or pause, decided by the stream on its own state.
  toggle() { if (this.context) this.post({ type: 'toggle' }); else this.play(); }
  next() { this.post({ type: 'step', step: 1 }); }
  previous() { this.post({ type: 'step', step: -1 }); }
  home() { this.seek(0); }
  setLoop(on) { this.post({ type: 'loop', on: Boolean(on) }); }
  toggleLoop() { this.setLoop(!this.state.loopEntry); }

  // Moves to row `row` (from 0) of timeline entry `entry` (0 = the first
  // that plays).
  seek(entry, row = 0) { this.post({ type: 'seek', entry, row }); }

  // Sounds `period` on `voice` at once (a note typed): alone for 300 ms
  // when stopped, in place of the voice's note while playing. The first
  // call makes the audio context: call it from a key press or a tap.
  async preview(voice, period) {
    if (!this.song) return;
    await this.ensureStream();
    this.post({ type: 'preview', voice, period });
    if (this.context.state !== 'running') await this.context.resume();
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
    if (!this.node) return;
    if (rateChanges) {
      const playing = this.state.state === 'playing';
      this.context.close();
      this.createContext();
      this.context.audioWorklet.addModule(new URL('fenk-worklet.js', this.base))
        .then(() => this.startStream(playing, this.state.entry));
    } else {
      this.post({ type: 'switches', flags: switchFlags(this.switches) });
    }
  }

  // The song as fenk-render SONG OUT.wav [sample] [-switches] writes it, as
  // a Blob; the voices muted now stay silent in it.
  renderWav() {
    const rendered = this.engine.renderWav(switchFlags(this.switches), this.state.mutedMask);
    if (!rendered.ok) throw new Error(rendered.error);
    return new Blob([rendered.wav], { type: 'audio/wav' });
  }

  // The song as fenk-make SONG OUT.mid writes it, as a Blob.
  midiFile() {
    const exported = this.engine.midiFile();
    if (!exported.ok) throw new Error(exported.error);
    return new Blob([exported.midi], { type: 'audio/midi' });
  }

  // The .8xp of the song open (the bytes fenk-make writes for a text).
  programFile() { return this.song ? this.song.info.program : null; }

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

  createContext() {
    this.offsets = [];
    const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    // "playback": the larger buffers of a music player, which a busy
    // machine does not run dry; the rows shown allow for the latency.
    this.context = new Context({ sampleRate: this.switches.l ? 8000 : 32000, latencyHint: 'playback' });
    this.node = null;
  }

  startStream(playing, entry) {
    if (this.node) {
      // The old node ends: its processor returns false from now on.
      this.node.port.postMessage({ type: 'stop' });
      this.node.port.onmessage = null;
      this.node.disconnect();
    }
    this.node = new AudioWorkletNode(this.context, 'fenk-processor', {
      numberOfInputs: 0, outputChannelCount: [2], processorOptions: { wasm: this.wasmBytes },
    });
    this.node.port.onmessage = (message) => this.receive(message.data);
    this.node.connect(this.context.destination);
    this.pending = [];
    this.post({ type: 'start', song: this.song.bytes, sample: this.sample,
                flags: switchFlags(this.switches), playing: playing && entry === 0 });
    // Voices muted before the stream was made (or remade) stay muted.
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
