// The AudioWorklet side: fenk.wasm's stream, mixed 128 frames at a time at
// the context's own rate (the player's 32000 Hz, or 8000), so each tick
// falls on its exact frame whatever the page's main thread does. Rows that
// start are posted with the context frame they start on; the page shows
// each when it is heard.
//
// The node lives as long as its context: the module comes compiled (or as
// bytes where a compiled module cannot be passed), and every song after
// that is a program file's bytes, read, never compiled, and no JSON is
// written here.
import { FenkEngine } from './fenk-engine.js';

class FenkProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { module, wasm, layout } = options.processorOptions;
    this.engine = new FenkEngine(module ?? new WebAssembly.Module(wasm),
                                 (line) => this.port.postMessage({ type: 'log', line }), layout);
    this.started = false;
    this.stopped = false;
    this.warm = false;
    this.lastStateFrame = -Infinity;
    this.port.onmessage = (message) => this.handle(message.data);
  }

  // The module's code is compiled as it first runs, which would make the
  // first quanta late: a second of the song, mixed and dropped, takes that
  // cost once, before anything is heard.
  warmUp(command) {
    if (this.warm || !this.engine.streamStart(command.song, command.flags, true).ok) return;
    const scratch = new Float32Array(128);
    for (let k = 0; k < sampleRate / 128; ++k) this.engine.renderQuantum(scratch, scratch);
    this.warm = true;
  }

  handle(command) {
    const engine = this.engine;
    switch (command.type) {
      case 'start': {
        // A new song, sample or set of switches: the stream made anew.
        engine.streamStop();
        // The sample comes only when it is not the one the stream has.
        const sample = command.sample ? engine.setSample(command.sample) : { ok: true };
        if (sample.ok) this.warmUp(command);
        const started = sample.ok ? engine.streamStart(command.song, command.flags, command.playing) : sample;
        this.started = started.ok;
        this.port.postMessage({ type: 'started', ok: started.ok, error: started.error });
        break;
      }
      case 'reload': engine.streamReload(command.song); break;
      // Actions, in the order the page asked for them; a toggle is decided
      // here, on the stream's own state, never on one reported earlier.
      case 'play': engine.streamPlay(command.playing); break;
      case 'toggle': engine.streamPlay(engine.streamState().state !== 'playing'); break;
      case 'step': engine.streamStep(command.step); break;
      case 'loop': engine.streamLoop(command.on); break;
      case 'stop':
        // The page has a new context: this node ends (process returns false).
        this.stopped = true;
        break;
      case 'mutes': engine.streamMutes(command.mask); break;
      case 'seek': engine.streamSeek(command.entry, command.row ?? 0); break;
      case 'preview': engine.streamPreview(command.voice, command.period); break;
      case 'switches': engine.streamSwitches(command.flags); break;
    }
    if (this.started && !this.stopped) this.postState([]);
  }

  postState(events) {
    this.port.postMessage({ type: 'state', frame: currentFrame, events,
                            state: this.engine.streamState() });
    this.lastStateFrame = currentFrame;
  }

  process(inputs, outputs) {
    if (this.stopped) return false;
    const [left, right] = outputs[0];
    if (!this.started || !left) return true;
    const started = this.engine.renderQuantum(left, right);
    // Rows as they start; the state besides, four times a second.
    if (started > 0 || currentFrame - this.lastStateFrame >= sampleRate / 4) {
      const events = started > 0 ? this.engine.streamEvents() : [];
      this.postState(events.map((event) => ({ ...event, frame: currentFrame + event.frame })));
    }
    return true;
  }
}

registerProcessor('fenk-processor', FenkProcessor);
