// The page's "Send to calculator" in Debian's Chromium (playwright-core),
// through a stand-in navigator.usb that the test puts in the page and backs
// with the scripted calculator (ti-calc-sim, one process a send): the demo
// song to a TI-84 Plus and to a TI-84 Plus CE, stored byte for byte as its
// .8xp holds it; a calculator without room for it, said in the link
// library's words; a browser without WebUSB pointing to Download .8xp and
// fenk-send.
// Run by scripts/web --test with FENK_WEB_DIR (the page) and FENK_BIN (the
// Linux build's bin/: ti-calc-sim and the demo songs).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

const webDir = process.env.FENK_WEB_DIR;
const bin = process.env.FENK_BIN ?? '';
const demoPath = join(bin, 'songs', 'demo.8xp');
const demo = readFileSync(demoPath);
// The variable as the calculator stores it: L bytes from offset 72 (L at 70).
const demoData = demo.subarray(72, 72 + demo.readUInt16LE(70)).toString('hex');

let server;
let origin;
let browser;

before(async () => {
  server = spawn(process.execPath, [new URL('../tools/serve.mjs', import.meta.url).pathname, webDir, '0']);
  origin = await new Promise((resolve) =>
    server.stdout.once('data', (data) => resolve(String(data).trim().replace(/\/$/, ''))));
  browser = await chromium.launch({ executablePath: process.env.FENK_CHROMIUM ?? '/usr/bin/chromium',
                                    args: ['--no-sandbox'] });
});

after(async () => {
  await browser?.close();
  server?.kill();
});

// ti-calc-sim as a function of one request (a JSON object) to its answer.
function simulator(device, faults = []) {
  const child = spawn(join(bin, 'ti-calc-sim'), ['--device', device, ...faults.flatMap((f) => ['--fault', f])]);
  const lines = createInterface({ input: child.stdout });
  const waiting = [];
  lines.on('line', (line) => waiting.shift()(JSON.parse(line)));
  const ask = (request) => new Promise((resolve) => {
    waiting.push(resolve);
    child.stdin.write(`${JSON.stringify(request)}\n`);
  });
  return { ask, child };
}

// In the page, before its scripts: navigator.usb with one device, whose
// bulk transfers go to window.fenkUsb (the test's bridge to ti-calc-sim).
function standInUsb({ vendorId, productId }) {
  const hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  const device = {
    vendorId, productId, configuration: null, opened: false,
    async open() { this.opened = true; },
    async selectConfiguration(value) { this.configuration = { configurationValue: value }; },
    async claimInterface(number) { if (number !== 0) throw new Error('no such interface'); },
    async releaseInterface() {},
    async close() { this.opened = false; },
    async transferOut(endpoint, data) {
      const bytes = new Uint8Array(data.buffer ?? data, data.byteOffset ?? 0, data.byteLength);
      const answer = await window.fenkUsb({ op: 'write', endpoint, data: hex(bytes),
                                            time: Math.round(performance.now()) });
      if (!answer.ok) throw new DOMException('The device was disconnected.', 'NetworkError');
      return { status: 'ok', bytesWritten: bytes.length };
    },
    async transferIn(endpoint, length) {
      // A real read waits until the device has something to send.
      for (;;) {
        const answer = await window.fenkUsb({ op: 'read', endpoint: 0x80 | endpoint, max: length,
                                              time: Math.round(performance.now()) });
        if (!answer.ok) throw new DOMException('The device was disconnected.', 'NetworkError');
        if (answer.data.length > 0) {
          const bytes = new Uint8Array(answer.data.match(/../g).map((pair) => parseInt(pair, 16)));
          return { status: 'ok', data: new DataView(bytes.buffer) };
        }
        await new Promise((resolve) => setTimeout(resolve, 5));
      }
    },
  };
  const usb = {
    async requestDevice({ filters }) {
      window.fenkUsbFilters = filters;
      if (!filters.some((f) => f.vendorId === device.vendorId && f.productId === device.productId)) {
        throw new DOMException('No device selected.', 'NotFoundError');
      }
      return device;
    },
    async getDevices() { return []; },
  };
  Object.defineProperty(Navigator.prototype, 'usb', { get: () => usb, configurable: true });
}

// The page with the demo song open and `usb` (or no WebUSB at all).
async function pageWithSong(context, usb) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  if (usb) {
    await page.addInitScript(standInUsb, usb);
  } else {
    await page.addInitScript(() => {
      Object.defineProperty(Navigator.prototype, 'usb', { get: () => undefined, configurable: true });
    });
  }
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  await page.setInputFiles('#song-file', demoPath);
  await page.waitForFunction(() => document.getElementById('lines').textContent.startsWith('Loaded'));
  return { page, errors };
}

async function sendWith(device, productId, faults = []) {
  const sim = simulator(device, faults);
  const context = await browser.newContext();
  await context.exposeFunction('fenkUsb', (request) => sim.ask(request));
  const { page, errors } = await pageWithSong(context, { vendorId: 0x0451, productId });
  const shown = [];
  await page.exposeFunction('fenkShown', (text) => shown.push(text));
  await page.evaluate(() => new MutationObserver(() => window.fenkShown(
    document.getElementById('send-status').textContent)).observe(
    document.getElementById('send-status'), { childList: true, characterData: true, subtree: true }));
  await page.click('#send-calculator');
  await page.waitForSelector('body[data-sent]', { timeout: 30000 });
  const message = await page.textContent('#send-status');
  const filters = await page.evaluate(() => window.fenkUsbFilters);
  const end = await sim.ask({ op: 'end' });
  await context.close();
  return { message, filters, end, shown, errors };
}

test('the demo song goes to a TI-84 Plus and a TI-84 Plus CE as its .8xp holds it', async () => {
  for (const [device, productId, calculator] of [['ti84p', 0xe003, 'TI-84 Plus'], ['ti84pce', 0xe008, 'TI-84 Plus CE']]) {
    const sent = await sendWith(device, productId);
    assert.equal(sent.message, `Sent ODETOJOY to the ${calculator}.`);
    assert.deepEqual(sent.end.violations, []);
    assert.equal(sent.end.stored.length, 1);
    assert.equal(sent.end.stored[0].name, 'ODETOJOY');
    assert.equal(sent.end.stored[0].type, 5);
    assert.equal(sent.end.stored[0].data, demoData);
    // The chooser offers only the link library's three devices.
    assert.deepEqual(sent.filters.map((f) => f.productId).sort(), [0xe001, 0xe003, 0xe008]);
    // Progress was shown on the way.
    assert.ok(sent.shown.some((text) => /^Sending ODETOJOY to the .*: \d+ %$/.test(text)), sent.shown.join('\n'));
    assert.deepEqual(sent.errors, []);
  }
});

test('a calculator without room for the song is said so, with its free memory', async () => {
  const sent = await sendWith('ti84p', 0xe003, ['out-of-memory=300']);
  assert.match(sent.message, /^the TI-84 Plus has no room for ODETOJOY \(306 bytes; it has 300 bytes free\)/);
  assert.deepEqual(sent.end.stored, []);
  assert.deepEqual(sent.end.violations, []);
});

test('without WebUSB the button points to Download .8xp and fenk-send', async () => {
  const context = await browser.newContext();
  const { page } = await pageWithSong(context, null);
  assert.match(await page.getAttribute('#send-calculator', 'title'), /Download \.8xp.*fenk-send/);
  await page.click('#send-calculator');
  assert.match(await page.textContent('#send-status'), /no WebUSB.*Download \.8xp and send the file with fenk-send/);
  await context.close();
});
