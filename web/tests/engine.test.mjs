// The browser's engine run headless in Node, against the desktop programs
// of a Linux build: the WAV it renders is fenk-render's byte for byte, the
// .8xp it compiles is fenk-make's, the stream the worklet plays is that
// WAV's samples with each row on its tick's frame, a MIDI file is
// fenk-make's import, and failures read as fenk's.
//
//   FENK_WEB_DIR=build/web FENK_BIN=build/release/bin node --test web/tests/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

const root = resolve(new URL('../..', import.meta.url).pathname);
const webDir = resolve(process.env.FENK_WEB_DIR ?? join(root, 'build/web'));
const bin = resolve(process.env.FENK_BIN ?? join(root, 'build/release/bin'));
const { FenkEngine, statusLine } = await import(join(webDir, 'fenk-engine.js'));

const wasm = await WebAssembly.compile(readFileSync(join(webDir, 'fenk.wasm')));
const square = readFileSync(join(webDir, 'square.wav'));
const work = mkdtempSync(join(tmpdir(), 'fenk-web-'));

function engineWith(sample = square) {
  const engine = new FenkEngine(wasm, (line) => assert.fail(`the module wrote: ${line}`));
  assert.deepEqual(engine.setSample(sample), { ok: true });
  return engine;
}

// fenk-render's WAV for `song`, or null when it refuses the song.
function desktopRender(song, extra = []) {
  const out = join(work, 'desktop.wav');
  try {
    execFileSync(join(bin, 'fenk-render'), [song, out, ...extra], { stdio: 'pipe' });
  } catch {
    return null;
  }
  return readFileSync(out);
}

function firstDifference(a, b) {
  const length = Math.min(a.length, b.length);
  for (let k = 0; k < length; ++k) if (a[k] !== b[k]) return k;
  return a.length === b.length ? -1 : length;
}

const kLongestTicks = 12000;  // a minute
const switchSets = [
  { flags: 0, args: [] },
  { flags: 1, args: ['-x'] },
  { flags: 2, args: ['-m'] },
  { flags: 4, args: ['-l'] },
];

test('every song renders to the bytes fenk-render writes, with each switch', () => {
  const songs = readdirSync(join(bin, 'songs')).map((name) => join(bin, 'songs', name));
  const corpus = join(root, 'fuzz/corpus/song');
  const odd = readdirSync(corpus).map((name) => join(corpus, name));
  let compared = 0;
  let refused = 0;
  let long = 0;
  for (const song of [...songs, ...odd]) {
    const sets = songs.includes(song) ? switchSets : switchSets.slice(0, 2);
    for (const { flags, args } of sets) {
      const engine = engineWith();
      const opened = engine.open(readFileSync(song));
      // Some seeds play for hours (rows of 65535 ticks): a minute is enough.
      if (opened.ok && opened.totalTicks > kLongestTicks) {
        ++long;
        break;
      }
      const expected = desktopRender(song, args);
      if (expected === null) {
        // fenk-render refused it: so must the page.
        assert.equal(opened.ok, false, `${song} opened, but fenk-render refuses it`);
        ++refused;
        continue;
      }
      assert.ok(opened.ok, `${song}: ${opened.lines}`);
      const rendered = engine.renderWav(flags, 0);
      assert.ok(rendered.ok, rendered.error);
      const at = firstDifference(rendered.wav, expected);
      assert.equal(at, -1, `${song} ${args.join(' ')}: the WAVs differ from byte ${at} ` +
                           `(${rendered.wav.length} and ${expected.length} bytes)`);
      ++compared;
    }
  }
  console.log(`# ${compared} renders byte for byte as fenk-render's; ${refused} refused by both; ` +
              `${long} songs longer than a minute left out`);
  assert.ok(compared >= 10);
});

test('a voice sample of the user\'s own renders as fenk-render renders it', () => {
  const song = join(bin, 'songs', 'demo.8xp');
  const sample = join(work, 'voice.wav');
  // A looped saw cycle, written by sox with the loop libsndfile reads.
  execFileSync('sox', ['-n', '-r', '32000', '-b', '16', '-c', '1', sample, 'synth', '0.002', 'saw', '500']);
  const expected = desktopRender(song, [sample]);
  assert.ok(expected, 'fenk-render took the sample');
  const engine = engineWith(readFileSync(sample));
  assert.ok(engine.open(readFileSync(song)).ok);
  const rendered = engine.renderWav(0, 0);
  assert.equal(firstDifference(rendered.wav, expected), -1);
  assert.equal(engineWith().setSample(new TextEncoder().encode('not audio')).ok, false);
});

test('a song text or a MIDI file compiles as fenk-make compiles it, and its mistakes read as fenk-make\'s', () => {
  const texts = join(root, 'data/songs');
  for (const name of readdirSync(texts).filter((file) => file.endsWith('.txt') && file !== 'CMakeLists.txt')) {
    const out = join(work, 'made.8xp');
    execFileSync(join(bin, 'fenk-make'), [join(texts, name), out], { stdio: 'pipe' });
    const opened = engineWith().open(readFileSync(join(texts, name)));
    assert.ok(opened.ok, name);
    assert.equal(opened.kind, 'text');
    assert.equal(firstDifference(opened.program, readFileSync(out)), -1, name);
    assert.ok(opened.entries.every((entry) => entry.name !== ''), 'each entry has its section name');
    // The .8xp opens with fenk-make's song text of it (its first line names
    // the file), and goes out as fenk-make's MIDI file.
    const written = join(work, 'written.txt'), midi = join(work, 'written.mid');
    execFileSync(join(bin, 'fenk-make'), [out, written], { stdio: 'pipe' });
    execFileSync(join(bin, 'fenk-make'), [out, midi], { stdio: 'pipe' });
    const program = engineWith();
    const reopened = program.open(readFileSync(out), true);
    assert.equal(reopened.kind, 'program');
    const afterFirstLine = (text) => text.slice(text.indexOf('\n'));
    assert.equal(afterFirstLine(program.songText().text), afterFirstLine(readFileSync(written, 'utf8')), name);
    assert.equal(firstDifference(program.midiFile().midi, readFileSync(midi)), -1, name);
  }
  // A MIDI file opens as the song text fenk-make imports from it (the
  // program's name and fallback title aside), with fenk-make's summary.
  const withoutNames = (text) => text.split('\n').filter((line) => !/^(name|title) /.test(line)).join('\n');
  const midis = join(root, 'fuzz/corpus/midi');
  for (const name of readdirSync(midis)) {
    const out = join(work, 'import.txt');
    const printed = execFileSync(join(bin, 'fenk-make'), [join(midis, name), out], { encoding: 'utf8' });
    const opened = engineWith().open(readFileSync(join(midis, name)));
    assert.ok(opened.ok, name);
    assert.equal(withoutNames(opened.text), withoutNames(readFileSync(out, 'utf8')), name);
    assert.deepEqual(opened.summary, printed.split('\n').filter((line) => line.startsWith('  ')).map((line) => line.slice(2)));
  }
  const engine = engineWith();
  assert.ok(engine.open(readFileSync(join(texts, 'demo.txt'))).ok);
  const broken = engine.open('name BROKEN\ntempo 120\nsection verse\n  H4 C4 C4 C4 1\nend\norder verse\n');
  assert.equal(broken.ok, false);
  assert.match(broken.errors[0], /^4: 'H4' is not a note/);
  const garbage = engine.open(new Uint8Array([0x2a, 0x2a, 0x54, 0x49, 0x38, 0x33, 0x46, 0x2a, 1, 2, 3]), true);
  assert.equal(garbage.lines, 'Not a valid TI-83 Plus program file!\n');
  const notASong = readFileSync(join(bin, 'songs', 'demo.8xp'));
  notASong[74 + 2] ^= 0xff;  // the song's signature, two bytes into the data block
  const refused = engine.open(notASong);
  assert.match(refused.lines, /^Loaded file ODETOJOY \(.*\)\nThis is not a valid Fenk music file!\n$/);
  // The song opened before is still the one that renders.
  assert.ok(engine.renderWav(0, 0).ok);
});

test('the stream is the WAV\'s sound, each row from its tick\'s first frame', () => {
  const song = readFileSync(join(bin, 'songs', 'demo.8xp'));
  const engine = engineWith();
  const opened = engine.open(song);
  const wav = engine.renderWav(0, 0).wav;
  const expected = new Int16Array(wav.buffer, wav.byteOffset + 44, (wav.length - 44) / 2);
  assert.ok(engine.streamStart(opened.program, 0, true).ok);
  // libsndfile's conversion with clipping: scaled to 32 bits, rounded,
  // then the top 16.
  const toPcm = (value) => {
    const scaled = value * 2147483648;
    if (scaled >= 2147483647) return 32767;
    if (scaled <= -2147483648) return -32768;
    const floor = Math.floor(scaled);
    const fraction = scaled - floor;
    const rounded = fraction > 0.5 || (fraction === 0.5 && floor % 2 !== 0) ? floor + 1 : floor;
    return Math.floor(rounded / 65536);
  };
  const events = [];
  let frame = 0;
  let worst = 0;
  // The render quantum of an AudioWorklet.
  while (frame * 2 < expected.length) {
    const { frames, audio, events: started } = engine.streamRender(128);
    for (const event of started) events.push({ ...event, frame: frame + event.frame });
    for (let k = 0; k < 2 * frames && 2 * frame + k < expected.length; ++k) {
      worst = Math.max(worst, Math.abs(toPcm(audio[k]) - expected[2 * frame + k]));
    }
    frame += frames;
  }
  assert.equal(worst, 0, 'the streamed samples are the WAV\'s');
  assert.equal(events.length, opened.rows.length);
  events.forEach((event, k) => {
    assert.equal(event.frame, opened.rows[k][0] * 160, `row ${k} starts on its tick`);
    assert.equal(event.songTick, opened.rows[k][0]);
  });
  assert.equal(statusLine(events[1]), 'Note:001 Section:000=' +
               opened.entries[0].section.toString(16).toUpperCase().padStart(4, '0'));
  // The last row sounds through the end wait, then the stream is silent at the end.
  assert.equal(engine.streamState().state, 'end');
  engine.streamRender(128);
  const { audio } = engine.streamRender(128);
  assert.ok(audio.every((value) => value === 0), 'silent after the end wait');
});

test('leaving the end while the last row still sounds stops it', () => {
  const engine = engineWith();
  const { program } = engine.open('title "End"\nname END\nsection s\n  50 - - - 4t\nend\norder s\n');
  const left = new Float32Array(128);
  const right = new Float32Array(128);
  const loudness = (quanta) => {
    let peak = 0;
    for (let k = 0; k < quanta; ++k) {
      engine.renderQuantum(left, right);
      for (let j = 0; j < 128; ++j) peak = Math.max(peak, Math.abs(left[j]), Math.abs(right[j]));
    }
    return peak;
  };
  for (const action of ['previous', 'play']) {  // to the last entry, paused; from the top
    assert.ok(engine.streamStart(program, 0, true).ok);
    assert.ok(loudness(20) > 0.05, 'the end wait sounds the last row');
    assert.equal(engine.streamState().state, 'end');
    if (action === 'previous') engine.streamStep(-1); else engine.streamPlay(true);
    assert.equal(engine.streamState().state, action === 'previous' ? 'paused' : 'playing');
    loudness(4);  // the stop's short fade
    if (action === 'previous') assert.equal(loudness(20), 0, 'paused at the last entry, silent');
  }
  // Actions in quick succession end as the last one says, whatever came
  // before: no toggle is read from a state reported earlier.
  assert.ok(engine.streamStart(program, 0, false).ok);
  engine.streamPlay(true);
  engine.streamPlay(false);
  assert.equal(engine.streamState().state, 'paused');
  engine.streamPlay(true);
  engine.streamPlay(true);
  assert.equal(engine.streamState().state, 'playing');
  engine.streamLoop(true);
  engine.streamLoop(true);
  assert.equal(engine.streamState().loopEntry, true);
  // The buffers the page reads by position are the module's own sizes.
  assert.deepEqual(engine.layout, { maxStreamFrames: 4096, rowEventInts: 8, rollRowInts: 6, maxRollRows: 200000,
                                    stateInts: 8 });
});

test('songs open on handles of their own, each part asked for when it is wanted', () => {
  const engine = engineWith();
  const demo = readFileSync(join(root, 'data/songs/demo.txt'));
  const frere = readFileSync(join(root, 'data/songs/frere-jacques.txt'));
  // Everything at once (open) is what the parts give one by one.
  const whole = engineWith().open(demo);
  const first = engine.openSong(demo);
  const second = engine.openSong(readFileSync(join(bin, 'songs', 'demo.8xp')), true);
  const third = engine.openSong(frere);
  assert.ok(first.ok && second.ok && third.ok);
  assert.equal(new Set([first.handle, second.handle, third.handle]).size, 3, 'a handle each');
  for (const part of ['rows', 'layout', 'program', 'rowsCut']) assert.equal(first[part], undefined, `${part} waits to be asked`);
  const { handle, ...summary } = first;
  const { handle: wholeHandle, rows, rowsCut, layout, program, ...wholeSummary } = whole;
  assert.deepEqual(summary, wholeSummary);
  assert.equal(firstDifference(engine.songProgram(handle), program), -1);
  assert.deepEqual(engine.songLayout(handle), { ok: true, layout });
  const roll = engine.songRoll(handle);
  assert.equal(roll.rowsCut, false);
  assert.deepEqual(roll.rows.map((row) => [...row]), rows.map((row) => [...row]));
  assert.equal(roll.rows.length, first.rowCount);
  assert.equal(first.rowCount, first.entries.reduce((sum, entry) => sum + entry.rows, 0));
  // Rows begin where the entries say, each at the ticks of the one before.
  const starts = first.entries.map((entry) => entry.start);
  assert.deepEqual(roll.rows.filter((row, k) => k === 0 || row[1] !== roll.rows[k - 1][1]).map((row) => row[0]), starts);
  // A budget gives the first rows and says the rest were left out.
  const cut = engine.songRoll(handle, 3);
  assert.equal(cut.rowsCut, true);
  assert.deepEqual(cut.rows.map((row) => [...row]), rows.slice(0, 3).map((row) => [...row]));

  // Each handle keeps its own song: the .8xp is fenk-make's, its WAV
  // fenk-render's, whatever else is open.
  const made = join(work, 'frere.8xp');
  execFileSync(join(bin, 'fenk-make'), [join(root, 'data/songs/frere-jacques.txt'), made], { stdio: 'pipe' });
  assert.equal(firstDifference(engine.songProgram(third.handle), readFileSync(made)), -1);
  assert.equal(firstDifference(engine.renderWav(0, 0, third.handle).wav, desktopRender(made)), -1);
  assert.equal(firstDifference(engine.renderWav(0, 0, second.handle).wav, desktopRender(join(bin, 'songs', 'demo.8xp'))), -1);
  // A program file has no text layout of its own; its song text has one.
  assert.equal(engine.songLayout(second.handle).ok, false);
  assert.ok(engine.songText(second.handle).layout.sections.length > 0);

  // A closed handle, or one never given, holds nothing; a failed open gives none.
  engine.closeSong(third.handle);
  assert.equal(engine.songProgram(third.handle), null);
  for (const answer of [engine.songRoll(third.handle), engine.songLayout(third.handle), engine.songText(third.handle),
                        engine.renderWav(0, 0, third.handle), engine.midiFile(9999)]) {
    assert.deepEqual(answer, { ok: false, error: 'no song is open on that handle' });
  }
  const broken = engine.openSong('name BROKEN\nsection s\n  H4 - - - 1\nend\norder s\n');
  assert.equal(broken.ok, false);
  assert.equal(broken.handle, undefined);
  assert.ok(engine.renderWav(0, 0, first.handle).ok, 'the songs open before stay open');
});

test('the stream plays program files only, and takes an edit as its bytes, playing on from the same place', () => {
  const engine = engineWith();
  const song = (first) => engine.open(`title "Edit"\nname EDIT\nsection s\n  ${first} - - - 400t\n  - - - - 400t\nend\norder s\n`).program;
  const rests = song('-');
  const note = song('C4');
  const left = new Float32Array(128);
  const right = new Float32Array(128);
  const peak = (quanta) => {
    let loudest = 0;
    for (let k = 0; k < quanta; ++k) {
      engine.renderQuantum(left, right);
      for (let j = 0; j < 128; ++j) loudest = Math.max(loudest, Math.abs(left[j]), Math.abs(right[j]));
    }
    return loudest;
  };
  // A text is not taken: the stream never compiles.
  const refused = engine.streamStart(new TextEncoder().encode('name T\nsection s\n  C4 - - - 1\nend\norder s\n'), 0, true);
  assert.deepEqual(refused, { ok: false, error: 'the stream plays only program files' });
  assert.ok(engine.streamStart(rests, 0, true).ok);
  assert.equal(peak(250), 0, 'a row of rests is silent');
  const before = engine.streamState().songTick;
  assert.ok(before > 150 && before < 400);
  // The edit is heard at once in the row that plays, from the same tick.
  assert.ok(engine.streamReload(note));
  assert.ok(Math.abs(engine.streamState().songTick - before) <= 1, 'the place is kept');
  assert.ok(peak(10) > 0.05, 'the edited row sounds');
  // Bytes that are not a program file leave the song playing on.
  assert.equal(engine.streamReload(new Uint8Array([1, 2, 3])), false);
  assert.equal(engine.reason(), 'the stream plays only program files');
  assert.ok(peak(10) > 0.05);
  assert.equal(engine.streamState().state, 'playing');
  // The sample is one for the whole module: taken only with no stream.
  assert.equal(engine.setSample(square).ok, false);
  engine.streamStop();
  assert.deepEqual(engine.setSample(square), { ok: true });
  assert.equal(engine.streamReload(note), false, 'no stream, nothing to reload');
});
