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
engine.open(text);
const left = new Float32Array(128);
const right = new Float32Array(128);
for (const pass of ['cold', 'warm']) {
  engine.streamStart(0, true);
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

const server = spawn(process.execPath, [join(root, 'web/tools/serve.mjs'), webDir, '0']);
const origin = await new Promise((r) => server.stdout.once('data', (d) => r(String(d).trim())));
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', ignoreDefaultArgs: ['--mute-audio'],
  args: ['--autoplay-policy=no-user-gesture-required', '--no-sandbox'],
});
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
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
              '(the first Play creates the audio context and the worklet)');
  // The first seconds cost more (code compiled as it first runs): left out.
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
  await page.click('#play');

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
    if (when === 'playing') await page.click('#play');
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
  await page.click('#play');

  // The same in a recording of the server's sink (FENK_TEST_PULSE_SINK, as
  // scripts/lib/pulse.sh names it): a new song of rests, a key pressed ten
  // times stopped and ten times playing, from the frames recorded when the
  // key went to the first sound after them (parec's own latency, 5 ms
  // asked, included; while playing, the song's voices muted).
  const sink = process.env.FENK_TEST_PULSE_SINK;
  if (sink) {
    await page.click('#new-song');
    const recording = join(work, 'keys.raw');
    const parec = spawn('parec', ['-d', `${sink}.monitor`, '--raw', '--format=s16le', '--rate=32000',
                                  '--channels=2', '--latency-msec=5'], { stdio: ['ignore', openSync(recording, 'w'), 'inherit'] });
    // The null sink's clock restarted at the latency parec asks for.
    for (const state of ['1', '0']) spawnSync('pactl', ['suspend-sink', sink, state]);
    await page.waitForTimeout(1500);
    const pressed = { stopped: [], playing: [] };
    for (const state of ['stopped', 'playing']) {
      if (state === 'playing') {
        // The notes typed are in the song now: its voices muted, only the
        // note each key sounds (which mutes do not stop) is heard.
        await page.evaluate(() => window.fenkPage.player.setMutes(15));
        await page.click('#play');
        await page.waitForTimeout(500);
      }
      for (let k = 0; k < 10; ++k) {
        await page.focus('#grid-body .cursor');
        pressed[state].push(statSync(recording).size / 4);
        await page.keyboard.press(k % 2 ? 'n' : 'm');
        await page.waitForTimeout(700);
      }
    }
    await page.click('#play');
    parec.kill();
    const bytes = readFileSync(recording);
    const sound = new Int16Array(bytes.buffer, bytes.byteOffset, bytes.length >> 1);
    for (const state of ['stopped', 'playing']) {
      const delays = pressed[state].map((at) => {
        let frame = at;
        while (2 * frame + 1 < sound.length && Math.abs(sound[2 * frame]) < 1000 && Math.abs(sound[2 * frame + 1]) < 1000) ++frame;
        return (frame - at) / 32;
      }).sort((a, b) => a - b);
      console.log(`key press to its note in a recording, ${state}: ${delays[5].toFixed(0)} ms (median of 10; ` +
                  `${delays[0].toFixed(0)} to ${delays[9].toFixed(0)})`);
    }
  }

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
  await page.click('#play');
  await observe();
  await page.waitForTimeout(8000);
  await longTasks('playing 5,000 rows for 8 s, the grid following');
} finally {
  await browser.close();
  server.kill();
}
