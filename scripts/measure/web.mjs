// Figures of the web page (build/web, made by scripts/web): fenk.wasm's size
// raw and gzipped; the time per 128-frame render quantum of the stream in
// Node's V8 against its 4 ms deadline at 32000 Hz; and in Debian's Chromium,
// playing into the PulseAudio server of PULSE_SERVER: the page ready after
// navigation, a song opened by the file picker to its first row heard, and
// the CPU of all of Chromium's processes over 10 s of playing the same
// 20-row song as scripts/measure/cpu.sh, as a percent of one core, with
// the tracker's grid following and not. Then the tracker: the page's files
// gzipped (what the tracker added), a key press to its note reaching the
// worklet beside the output latency the page measures, stopped and playing,
// and the long tasks (over 50 ms) while typing into a song of 5,000 rows and
// while it plays with the grid following.
//
//   PULSE_SERVER=unix:/path/native [FENK_TEST_PULSE_SINK=sink] node scripts/measure/web.mjs [WEB_DIR]
// A measurement, not a test: it prints figures.
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, openSync, readFileSync, readdirSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { gzipSync } from 'node:zlib';

const root = resolve(new URL('../..', import.meta.url).pathname);
const webDir = resolve(process.argv[2] ?? join(root, 'build/web'));
const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const { FenkEngine } = await import(join(webDir, 'fenk-engine.js'));

const wasm = readFileSync(join(webDir, 'fenk.wasm'));
console.log(`fenk.wasm: ${(wasm.length / 1024).toFixed(0)} KiB, ${(gzipSync(wasm, { level: 9 }).length / 1024).toFixed(0)} KiB gzipped`);

// The song of scripts/measure/cpu.sh: 20 rows of 0.5 s, four voices.
let text = 'title "CPU"\nname CPU\nsection chords\n';
for (let row = 0; row < 20; ++row) text += `  ${60 + row} ${120 + 2 * row} ${80 + row} ${160 + 3 * row} 100t\n`;
text += 'end\norder chords\n';
const work = mkdtempSync(join(tmpdir(), 'fenk-measure-'));
writeFileSync(join(work, 'cpu.txt'), text);

// The stream in V8, quantum by quantum: 10 s from a cold start (the
// engine compiles its code as it first runs), then 10 s more.
const engine = new FenkEngine(await WebAssembly.compile(wasm));
engine.setSample(readFileSync(join(webDir, 'square.wav')));
const { program } = engine.open(text);
const left = new Float32Array(128);
const right = new Float32Array(128);
for (const pass of ['cold', 'warm']) {
  engine.streamStart(program, 0, true);
  const times = [];
  for (let k = 0; k < 2500; ++k) {
    const started = performance.now();
    engine.renderQuantum(left, right);
    times.push(performance.now() - started);
  }
  times.sort((a, b) => a - b);
  const mean = times.reduce((a, b) => a + b, 0) / times.length;
  const us = (ms) => (ms * 1000).toFixed(1);
  console.log(`stream in Node's V8, ${pass}: ${us(mean)} us per 128-frame quantum on average, ` +
              `99.9th percentile ${us(times[Math.floor(times.length * 0.999)])} us, ` +
              `most ${us(times[times.length - 1])} us (deadline 4000 us)`);
}

// The CPU seconds of every process below `rootPid` (itself left out).
function cpuSecondsOfTree(rootPid) {
  const stats = new Map();
  for (const name of readdirSync('/proc').filter((entry) => /^\d+$/.test(entry))) {
    try {
      const fields = readFileSync(`/proc/${name}/stat`, 'utf8').replace(/^.*\) /, '').split(' ');
      stats.set(Number(name), { parent: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch { /* gone meanwhile */ }
  }
  let ticks = 0;
  for (const [pid, stat] of stats) {
    if (pid === rootPid) continue;
    for (let at = pid; at > 1; at = stats.get(at)?.parent ?? 0) {
      if (at === rootPid) { ticks += stat.ticks; break; }
    }
  }
  return ticks / 100;  // USER_HZ
}

// The proportional set size of every process below `rootPid`, bytes.
function pssOfTree(rootPid) {
  const parents = new Map();
  for (const name of readdirSync('/proc').filter((entry) => /^\d+$/.test(entry))) {
    try {
      parents.set(Number(name), Number(readFileSync(`/proc/${name}/stat`, 'utf8').replace(/^.*\) /, '').split(' ')[1]));
    } catch { /* gone meanwhile */ }
  }
  let bytes = 0;
  for (const pid of parents.keys()) {
    if (pid === rootPid) continue;
    let at = pid;
    while (at > 1 && at !== rootPid) at = parents.get(at) ?? 0;
    if (at !== rootPid) continue;
    try {
      const pss = /^Pss:\s+(\d+) kB/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'));
      if (pss) bytes += Number(pss[1]) * 1024;
    } catch { /* gone meanwhile */ }
  }
  return bytes;
}

// The bare page the page's latency is weighed against.
const kReferencePage = `<!doctype html><title>reference</title><button id="play">Play</button><script>
const context = new AudioContext({ latencyHint: 'interactive', sampleRate: 32000 });
function sound() {
  context.resume();
  const oscillator = new OscillatorNode(context, { type: 'square', frequency: 440 });
  const gain = new GainNode(context, { gain: 0.3 });
  oscillator.connect(gain).connect(context.destination);
  oscillator.start();
  oscillator.stop(context.currentTime + 0.3);
}
addEventListener('keydown', sound);
document.getElementById('play').addEventListener('click', sound);
document.body.dataset.ready = 'true';
</script>`;

const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];
const spread = (values) => `median of ${values.length}; ${Math.min(...values).toFixed(0)} to ${Math.max(...values).toFixed(0)}`;

const server = spawn(process.execPath, [join(root, 'web/tools/serve.mjs'), webDir, '0']);
const origin = await new Promise((r) => server.stdout.once('data', (d) => r(String(d).trim())));
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', ignoreDefaultArgs: ['--mute-audio'],
  args: ['--autoplay-policy=no-user-gesture-required', '--no-sandbox'],
});
try {
  // One context: the fresh pages of the latency figures open beside this one.
  const page = await (await browser.newContext({ viewport: { width: 1280, height: 800 } })).newPage();
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  const readyMs = await page.evaluate(() => performance.now());
  console.log(`page ready ${readyMs.toFixed(0)} ms after navigation began (served from 127.0.0.1)`);
  const opened = await page.evaluate(() => performance.now());
  await page.setInputFiles('#song-file', join(work, 'cpu.txt'));
  await page.waitForFunction(() => document.getElementById('lines').textContent.startsWith('Loaded'));
  await page.click('#play');
  await page.waitForFunction(() => document.getElementById('status').textContent !== '', null, { polling: 1 });
  const heard = await page.evaluate(() => performance.now());
  console.log(`song opened by the file picker to its first row heard: ${(heard - opened).toFixed(0)} ms ` +
              '(the first Play)');
  // The song (10 s) loops for the 24 s the figures take; the first
  // seconds cost more (code compiled as it first runs): left out.
  await page.evaluate(() => window.fenkPage.player.setLoop(true));
  await page.waitForTimeout(8000);
  // Chromium's processes are this one's children and theirs.
  const pid = process.pid;
  await page.uncheck('#follow');
  const unfollowed = cpuSecondsOfTree(pid);
  const startedAgain = performance.now();
  await page.waitForTimeout(8000);
  const secondsAgain = (performance.now() - startedAgain) / 1000;
  console.log(`Chromium playing, all its processes, the grid not following: ` +
              `${(100 * (cpuSecondsOfTree(pid) - unfollowed) / secondsAgain).toFixed(2)} % of a core over ` +
              `${secondsAgain.toFixed(1)} s`);
  await page.check('#follow');
  const before = cpuSecondsOfTree(pid);
  const started = performance.now();
  await page.waitForTimeout(8000);
  const seconds = (performance.now() - started) / 1000;
  const used = cpuSecondsOfTree(pid) - before;
  console.log(`the same, the grid following: ${(100 * used / seconds).toFixed(2)} % of a core over ` +
              `${seconds.toFixed(1)} s`);
  await page.evaluate(() => window.fenkPage.player.pause());

  // The page's weight: each file gzipped, and the tracker's share.
  const tracker = ['tracker.js', 'song-lines.js', 'drafts.js', 'sw.js', 'manifest.webmanifest', 'icon-192.png',
                   'icon-512.png'];
  let total = 0;
  let added = 0;
  for (const name of readdirSync(webDir).filter((entry) => /\.(html|js|css|webmanifest|png|wasm|wav)$/.test(entry))) {
    const zipped = gzipSync(readFileSync(join(webDir, name)), { level: 9 }).length;
    total += zipped;
    if (tracker.includes(name)) added += zipped;
  }
  console.log(`the page's files gzipped: ${(total / 1024).toFixed(1)} KiB; the tracker's own files ${(added / 1024).toFixed(1)} ` +
              'KiB of them (app.js, index.html and style.css grew too)');

  // A key press to its note: the worklet has sounded it when the player
  // gets the state the worklet posts after it; the output latency follows.
  const keyToNote = () => page.evaluate(() => new Promise((resolve) => {
    const { player } = window.fenkPage;
    const cell = document.querySelector('#grid-body .cursor');
    cell.focus();
    let pressed = 0;
    const heard = () => {
      player.removeEventListener('state', heard);
      const context = player.context;
      resolve({ worklet: performance.now() - pressed,
                latency: 1000 * ((context.outputLatency || 0) + (context.baseLatency || 0)) });
    };
    cell.addEventListener('keydown', () => {
      pressed = performance.now();
      player.addEventListener('state', heard);
    }, { once: true, capture: true });
    cell.dispatchEvent(new KeyboardEvent('keydown', { key: 'n', code: 'KeyN', bubbles: true }));
  }));
  for (const [state, when] of [['stopped', 'paused'], ['playing', 'playing']]) {
    if (when === 'playing') await page.evaluate(() => window.fenkPage.player.play());
    await page.waitForTimeout(500);
    const samples = [];
    for (let k = 0; k < 10; ++k) {
      samples.push(await keyToNote());
      await page.waitForTimeout(100);
    }
    const median = (values) => values.sort((a, b) => a - b)[values.length >> 1];
    const worklet = median(samples.map((sample) => sample.worklet));
    const latency = median(samples.map((sample) => sample.latency));
    console.log(`key press to its note, ${state}: ${worklet.toFixed(1)} ms to the worklet (median of 10) + ` +
                `${latency.toFixed(1)} ms output latency = ${(worklet + latency).toFixed(1)} ms`);
  }
  await page.evaluate(() => window.fenkPage.player.pause());

  // In a recording of the server's sink (FENK_TEST_PULSE_SINK, as
  // scripts/lib/pulse.sh names it), beside a bare reference page that
  // starts an oscillator on a key or a click in an 'interactive'
  // AudioContext at 32000 Hz, in the same browser and recording: each
  // delay runs from the frames recorded when the key or click went to the
  // first sound after it (parec's own latency, 5 ms asked, is in both).
  const sink = process.env.FENK_TEST_PULSE_SINK;
  if (sink) await recorded(page);
  // A song of 5,000 rows: long tasks while typing 40 notes into it, then
  // while it plays 8 s with the grid following.
  const rows = Array.from({ length: 5000 }, (_, k) => `  ${['C4', 'E4', 'G4', 'C5'][k % 4]} - - C3 1/4`);
  writeFileSync(join(work, 'long.txt'), ['title "Long"', 'name LONG', 'tempo 120', 'section a', ...rows, 'end',
                                         'order a', ''].join('\n'));
  await page.setInputFiles('#song-file', join(work, 'long.txt'));
  await page.waitForFunction(() => document.getElementById('lines').textContent.includes('Long'));
  const observe = () => page.evaluate(() => {
    window.longTasks = [];
    window.longTaskObserver?.disconnect();
    window.longTaskObserver = new PerformanceObserver((list) => window.longTasks.push(...list.getEntries().map((e) => e.duration)));
    window.longTaskObserver.observe({ type: 'longtask' });
  });
  const longTasks = async (what) => {
    const found = await page.evaluate(() => window.longTasks);
    console.log(`long tasks ${what}: ${found.length}` + (found.length ? `, the longest ${Math.max(...found).toFixed(0)} ms` : ''));
  };
  await page.focus('#grid-body .cursor');
  await observe();
  const typing = performance.now();
  for (let k = 0; k < 40; ++k) await page.keyboard.press(k % 2 ? 'n' : 'm');
  const perNote = (performance.now() - typing) / 40;
  await longTasks(`typing 40 notes into 5,000 rows (${perNote.toFixed(0)} ms a key press, round trip)`);
  await page.evaluate(() => window.fenkPage.player.play());
  await observe();
  await page.waitForTimeout(8000);
  await longTasks('playing 5,000 rows for 8 s, the grid following');
  await page.evaluate(() => window.fenkPage.player.pause());
  await memoryAfterSongs(page);
} finally {
  await browser.close();
  server.kill();
}

// The first frame at or after `at` that sounds (either side at 1000 or
// more), as ms after `at`; null when none does within `limit` frames.
function firstSound(sound, at, limit = 64000) {
  for (let frame = at; frame < at + limit && 2 * frame + 1 < sound.length; ++frame) {
    if (Math.abs(sound[2 * frame]) >= 1000 || Math.abs(sound[2 * frame + 1]) >= 1000) return (frame - at) / 32;
  }
  return null;
}

// Where the pitch heard changes after `at`, as ms after it: the rising
// edges of the louder side's square, and the first cycle after `at` whose
// length is 3 % off the cycles of the 50 ms before it.
function pitchChange(sound, at) {
  const loudness = (side) => {
    let sum = 0;
    for (let frame = at - 1600; frame < at; ++frame) sum += Math.abs(sound[2 * frame + side]);
    return sum;
  };
  const side = loudness(0) >= loudness(1) ? 0 : 1;
  const edges = [];
  let high = sound[2 * (at - 1600) + side] > 0;
  for (let frame = at - 1600; frame < at + 32000 && 2 * frame + 1 < sound.length; ++frame) {
    const value = sound[2 * frame + side];
    if (!high && value > 1000) {
      high = true;
      edges.push(frame);
    } else if (high && value < -1000) {
      high = false;
    }
  }
  const before = [];
  for (let k = 1; k < edges.length && edges[k] < at; ++k) before.push(edges[k] - edges[k - 1]);
  if (before.length < 3) return null;
  const cycle = median(before);
  for (let k = 1; k + 1 < edges.length; ++k) {
    if (edges[k + 1] < at) continue;
    // A cycle that began before `at` and ended after it counts from `at`.
    if (Math.abs(edges[k + 1] - edges[k] - cycle) > 0.03 * cycle) return Math.max(0, edges[k] - at) / 32;
  }
  return null;
}

// The playout statistics Chromium keeps for the page's AudioContext (its
// `playbackStats`), as a plain object; null where the browser has none.
function playbackStats(page) {
  return page.evaluate(() => {
    const stats = window.fenkPage.player.context?.playbackStats;
    if (!stats) return null;
    const plain = {};
    for (const key of Object.keys(Object.getPrototypeOf(stats))) {
      if (typeof stats[key] === 'number') plain[key] = stats[key];
    }
    return plain;
  });
}

// The latency figures of a recording, the reference page's beside ours;
// then the dropouts and the memory.
async function recorded(page) {
  const sink = process.env.FENK_TEST_PULSE_SINK;
  const recording = join(work, 'recorded.raw');
  const parec = spawn('parec', ['-d', `${sink}.monitor`, '--raw', '--format=s16le', '--rate=32000',
                                '--channels=2', '--latency-msec=5'], { stdio: ['ignore', openSync(recording, 'w'), 'inherit'] });
  // The null sink's clock restarted at the latency parec asks for.
  for (const state of ['1', '0']) spawnSync('pactl', ['suspend-sink', sink, state]);
  // The recording grows in bursts (a loaded machine's server sends it a
  // few hundred ms at a time): its size is polled, and a moment's frame is
  // the upper bound of those polls, sized at 32 frames a millisecond.
  const polls = [];
  let lastSize = -1;
  const poller = setInterval(() => {
    const size = statSync(recording).size / 4;
    if (size !== lastSize) polls.push([performance.now(), size]);
    lastSize = size;
  }, 1);
  const frameAt = (time) => {
    let offset = -Infinity;
    for (const [at, size] of polls) if (Math.abs(at - time) < 10000) offset = Math.max(offset, size - 32 * at);
    return Math.round(32 * time + offset);
  };
  await page.waitForTimeout(1500);
  const mark = () => performance.now();
  const marks = new Map();
  const note = (what, at) => marks.set(what, [...(marks.get(what) ?? []), at]);
  const browserContext = page.context();

  // The reference page: a key ten times; then the first click on a
  // fresh page, five times.
  const reference = await browserContext.newPage();
  await reference.setContent(kReferencePage);
  await reference.waitForTimeout(1000);
  for (let k = 0; k < 10; ++k) {
    note('reference key', mark());
    await reference.keyboard.press('a');
    await reference.waitForTimeout(700);
  }
  await reference.close();
  for (let k = 0; k < 5; ++k) {
    const fresh = await browserContext.newPage();
    await fresh.setContent(kReferencePage);
    await fresh.waitForTimeout(1000);
    const box = await fresh.locator('#play').boundingBox();
    note('reference first click', mark());
    await fresh.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await fresh.waitForTimeout(1000);
    await fresh.close();
  }

  // The page's first Play after a song opens, on a fresh page each time.
  for (let k = 0; k < 5; ++k) {
    const fresh = await browserContext.newPage({ viewport: { width: 1280, height: 800 } });
    await fresh.goto(origin);
    await fresh.waitForSelector('body[data-ready="true"]');
    await fresh.setInputFiles('#song-file', join(work, 'cpu.txt'));
    await fresh.waitForFunction(() => document.getElementById('lines').textContent.includes('CPU'));
    await fresh.waitForTimeout(1000);
    const box = await fresh.locator('#play').boundingBox();
    note('first Play', mark());
    await fresh.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await fresh.waitForTimeout(1500);
    await fresh.close();
  }

  // A note key, ten times stopped and ten times playing, in a new song of
  // rests (while playing, the song's voices muted: only the note each key
  // sounds, which mutes do not stop, is heard).
  await page.bringToFront();
  await page.click('#new-song');
  await page.waitForTimeout(500);
  for (const state of ['stopped', 'playing']) {
    if (state === 'playing') {
      await page.evaluate(() => window.fenkPage.player.setMutes(15));
      await page.evaluate(() => window.fenkPage.player.play());
      await page.waitForTimeout(500);
    }
    for (let k = 0; k < 10; ++k) {
      await page.focus('#grid-body .cursor');
      note(`note key, ${state}`, mark());
      await page.keyboard.press(k % 2 ? 'n' : 'm');
      await page.waitForTimeout(700);
    }
  }
  await page.evaluate(() => window.fenkPage.player.pause());
  await page.evaluate(() => window.fenkPage.player.setMutes(0));

  // An edit typed into a playing song of 5,000 rows: its first row a C4
  // of 16 s, transposed a semitone up and down by Ctrl+Up/Down while it
  // sounds (no note is previewed): the change of pitch heard.
  const rests = Array.from({ length: 4999 }, () => '  - - - - 1/4');
  writeFileSync(join(work, 'edit.txt'), ['title "Edit"', 'name EDIT', 'tempo 120', 'section a', '  C4 - - - 32',
                                         ...rests, 'end', 'order a', ''].join('\n'));
  await page.setInputFiles('#song-file', join(work, 'edit.txt'));
  await page.waitForFunction(() => document.getElementById('lines').textContent.includes('Edit'));
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('Enter');
  await page.waitForTimeout(1000);
  for (let k = 0; k < 10; ++k) {
    await page.focus('#grid-body .cursor');
    note('edit of 5,000 rows, playing', mark());
    await page.keyboard.press(k % 2 ? 'Control+ArrowDown' : 'Control+ArrowUp');
    await page.waitForTimeout(600);
  }
  await page.evaluate(() => window.fenkPage.player.pause());
  await page.waitForTimeout(300);
  // The last polls bound the frames of the last marks.
  await page.waitForTimeout(1000);
  clearInterval(poller);
  parec.kill();

  const bytes = readFileSync(recording);
  const sound = new Int16Array(bytes.buffer, bytes.byteOffset, bytes.length >> 1);
  const figures = new Map();
  for (const [what, ats] of marks) {
    const find = what.startsWith('edit') ? pitchChange : firstSound;
    const delays = ats.map((at) => find(sound, frameAt(at))).filter((delay) => delay !== null);
    if (delays.length === 0) {
      console.log(`${what}: nothing heard`);
      continue;
    }
    figures.set(what, median(delays));
    console.log(`${what}, in the recording: ${median(delays).toFixed(0)} ms (${spread(delays)})` +
                (delays.length < ats.length ? `, ${ats.length - delays.length} not heard` : ''));
  }
  const key = figures.get('reference key');
  const click = figures.get('reference first click');
  for (const state of ['stopped', 'playing']) {
    const ours = figures.get(`note key, ${state}`);
    if (ours !== undefined && key !== undefined) {
      console.log(`  a note key ${state}: ${(ours - key).toFixed(0)} ms above the reference's key`);
    }
  }
  if (figures.has('first Play') && click !== undefined) {
    console.log(`  the first Play: ${(figures.get('first Play') - click).toFixed(0)} ms above the reference's first click`);
  }

  // Dropouts: a dense song (four voices, a row every 50 ms) playing with
  // the grid following while 40 notes are typed into it, counted by the
  // context's own playout statistics.
  const dense = Array.from({ length: 2000 }, (_, k) => `  ${60 + (k % 24)} ${120 + (k % 30)} ${80 + (k % 20)} ${160 + (k % 40)} 10t`);
  writeFileSync(join(work, 'dense.txt'), ['title "Dense"', 'name DENSE', 'section a', ...dense, 'end', 'order a', ''].join('\n'));
  await page.setInputFiles('#song-file', join(work, 'dense.txt'));
  await page.waitForFunction(() => document.getElementById('lines').textContent.includes('Dense'));
  await page.check('#follow');
  // At the page's own latency, then with "Steadier sound" where the page has it.
  for (const setting of ['the least latency', 'steadier sound']) {
    if (setting === 'steadier sound') {
      if (!(await page.$('#steadier'))) break;
      await page.check('#steadier');
      await page.waitForTimeout(1000);
    }
    await page.evaluate(() => document.querySelector('#grid-body .cursor')?.focus());
    await page.keyboard.press('Enter');
    await page.waitForTimeout(1000);
    const statsBefore = await playbackStats(page);
    for (let k = 0; k < 40; ++k) {
      // The grid following draws its rows anew: the cursor, wherever it is now.
      await page.evaluate(() => document.querySelector('#grid-body .cursor')?.focus());
      await page.keyboard.press(k % 2 ? 'n' : 'm');
      await page.waitForTimeout(250);
    }
    const statsAfter = await playbackStats(page);
    await page.evaluate(() => window.fenkPage.player.pause());
    if (!statsBefore || !statsAfter) {
      console.log('dropouts: this browser keeps no playout statistics');
      break;
    }
    // Chromium's figures are in seconds.
    const delta = (field) => (statsAfter[field] ?? 0) - (statsBefore[field] ?? 0);
    const ms = (seconds) => (1000 * seconds).toFixed(1);
    console.log(`dropouts while a dense song plays, the grid following and 40 notes typed, ${setting} ` +
                `(${delta('totalDuration').toFixed(1)} s of sound): ${delta('underrunEvents')} underruns, ` +
                `${ms(delta('underrunDuration'))} ms of them (the context's playbackStats; its latency ` +
                `${ms(statsAfter.minimumLatency)} to ${ms(statsAfter.maximumLatency)} ms, on average ` +
                `${ms(statsAfter.averageLatency)} ms; ${statsAfter.underrunEvents} underruns since it was made)`);
  }
  if (await page.$('#steadier')) await page.uncheck('#steadier');
}

// The page's memory after 20 songs opened one after the other (each
// played a moment), beside its memory with the first open: all of
// Chromium's processes' proportional set sizes, after a garbage
// collection of the page.
async function memoryAfterSongs(page) {
  const session = await page.context().newCDPSession(page);
  const settle = async () => {
    await session.send('HeapProfiler.collectGarbage');
    await page.waitForTimeout(3000);
    await session.send('HeapProfiler.collectGarbage');
    return pssOfTree(process.pid);
  };
  const open = async (k) => {
    const sections = ['a', 'b', 'c', 'd'];
    const lines = [`title "Song ${k}"`, `name SONG${k}`, 'tempo 140'];
    for (const section of sections) {
      lines.push(`section ${section}`);
      for (let row = 0; row < 60 * (k + 1); ++row) {
        lines.push(`  ${['C4', 'E4', 'G4', 'B4'][(row + k) % 4]} ${['E3', 'G3'][row % 2]} ${60 + ((row * 7 + k) % 90)} C3 1/8`);
      }
      lines.push('end');
    }
    lines.push(`order ${sections.join(' ')} ${sections.join(' ')}`, '');
    writeFileSync(join(work, `song-${k}.txt`), lines.join('\n'));
    await page.setInputFiles('#song-file', join(work, `song-${k}.txt`));
    await page.waitForFunction((title) => document.getElementById('lines').textContent.includes(title), `Song ${k}`);
    await page.click('#play');
    await page.waitForTimeout(300);
    await page.click('#play');
  };
  await open(0);
  const first = await settle();
  for (let k = 1; k <= 20; ++k) await open(k);
  const after = await settle();
  const mib = (bytes) => (bytes / 1048576).toFixed(1);
  console.log(`memory, all of Chromium's processes: ${mib(first)} MiB with one song open, ${mib(after)} MiB after ` +
              `20 songs more (of 480 to 5,040 rows) opened one after the other: ${after >= first ? '+' : ''}${mib(after - first)} MiB`);
}
