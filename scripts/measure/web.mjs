// Figures of the web page (build/web, made by scripts/web): fenk.wasm's size
// raw and gzipped; the time per 128-frame render quantum of the stream in
// Node's V8 against its 4 ms deadline at 32000 Hz; and in Debian's Chromium,
// playing into the PulseAudio server of PULSE_SERVER: the page ready after
// navigation, a song opened by the file picker to its first row heard, and
// the CPU of all of Chromium's processes over 10 s of playing the same
// 20-row song as scripts/measure/cpu.sh, as a percent of one core.
//
//   PULSE_SERVER=unix:/path/native node scripts/measure/web.mjs [WEB_DIR]
// A measurement, not a test: it prints figures.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
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
  await page.waitForTimeout(500);
  // Chromium's processes are this one's children and theirs.
  const pid = process.pid;
  const before = cpuSecondsOfTree(pid);
  const started = performance.now();
  await page.waitForTimeout(8000);
  const seconds = (performance.now() - started) / 1000;
  const used = cpuSecondsOfTree(pid) - before;
  console.log(`Chromium playing, all its processes: ${(100 * used / seconds).toFixed(2)} % of a core ` +
              `over ${seconds.toFixed(1)} s`);
} finally {
  await browser.close();
  server.kill();
}
