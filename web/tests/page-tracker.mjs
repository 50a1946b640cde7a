// The page's tracker in Debian's Chromium (playwright-core): a tune typed
// from the keyboard, undone and redone, its .8xp the bytes fenk-make makes of
// its text; the song back after a reload and with the network off; two tabs
// on one song; sections and the order edited; a phone's taps; axe-core at
// both sizes; no console errors.
// Run by scripts/web --test with FENK_WEB_DIR (the page) and FENK_BIN
// (fenk-make), inside the private PulseAudio server of the page's test.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const webDir = process.env.FENK_WEB_DIR;
const fenkMake = join(process.env.FENK_BIN ?? '', 'fenk-make');
const shots = process.env.FENK_WEB_SHOTS;
const axeScript = createRequire(import.meta.url).resolve('axe-core/axe.min.js');
const work = mkdtempSync(join(tmpdir(), 'fenk-tracker-'));

let server;
let origin;
let browser;
let context;
const consoleErrors = [];

before(async () => {
  server = spawn(process.execPath, [new URL('../tools/serve.mjs', import.meta.url).pathname, webDir, '0']);
  origin = await new Promise((resolve) =>
    server.stdout.once('data', (data) => resolve(String(data).trim().replace(/\/$/, ''))));
  browser = await chromium.launch({ executablePath: process.env.FENK_CHROMIUM ?? '/usr/bin/chromium',
                                    args: ['--autoplay-policy=no-user-gesture-required', '--no-sandbox'] });
  context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
});

after(async () => {
  await browser?.close();
  server?.kill();
});

async function openPage(url = origin) {
  const page = await context.newPage();
  // A step that never comes fails the test rather than hanging it.
  page.setDefaultTimeout(30000);
  page.on('console', (message) => { if (message.type() === 'error') consoleErrors.push(message.text()); });
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

const text = (page) => page.inputValue('#text');
// The voice 1 column of the section shown, from the grid's cells on screen.
const voice1 = (page) => page.$$eval('#grid-body [role="row"]', (rows) =>
  rows.map((row) => row.querySelector('[data-col="0"]').textContent));

async function axeViolations(page) {
  await page.addScriptTag({ path: axeScript });
  const found = await page.evaluate(async () => (await window.axe.run()).violations);
  return found.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(', ')}`);
}

// The text's saved state: it is saved within a second of an edit.
const saved = (page) => page.waitForTimeout(1000);

test('a tune typed, undone and redone, kept through a reload and offline, shared by two tabs', async () => {
  const page = await openPage();
  await page.click('#new-song');
  await page.waitForSelector('#grid-body .cursor');
  await page.focus('#grid-body .cursor');
  // C D E in octave 4, a rest, G A from the row above (Q row: octave 5
  // after the octave went down a step), then a duration of 1/2 typed.
  for (const key of ['z', 'x', 'c', '.', '[', 't', 'y']) await page.keyboard.press(key);
  assert.deepEqual((await voice1(page)).slice(0, 6), ['C4', 'D4', 'E4', '-', 'G4', 'A4']);
  await page.keyboard.press('ArrowUp');
  for (let k = 0; k < 4; ++k) await page.keyboard.press('ArrowRight');
  for (const key of ['1', '/', '2', 'Enter']) await page.keyboard.press(key);
  assert.match(await text(page), /\n {2}A4 +- +- +- +1\/2\n/);

  // Undo the duration and A4, redo A4: each entry is one step.
  await page.keyboard.press('Control+z');
  await page.keyboard.press('Control+z');
  await page.keyboard.press('Control+Shift+z');
  assert.match(await text(page), /\n {2}A4 +- +- +- +1\n/);
  await page.click('#undo');
  assert.doesNotMatch(await text(page), /A4/);
  await page.keyboard.press('Control+y');

  // A block of two rows copied and pasted lower down, then transposed.
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('Control+Home');
  await page.keyboard.press('Shift+ArrowDown');
  await page.keyboard.press('Control+c');
  for (let k = 0; k < 6; ++k) await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Control+v');
  await page.keyboard.press('Shift+ArrowDown');
  await page.keyboard.press('Control+Shift+ArrowUp');
  assert.deepEqual((await voice1(page)).slice(0, 10), ['C4', 'D4', 'E4', '-', 'G4', 'A4', '-', 'C5', 'D5', '-']);

  // The .8xp is what fenk-make makes of the text, byte for byte.
  const songText = await text(page);
  writeFileSync(join(work, 'typed.txt'), songText);
  execFileSync(fenkMake, [join(work, 'typed.txt'), join(work, 'typed.8xp')]);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download-8xp')]);
  assert.deepEqual(readFileSync(await download.path()), readFileSync(join(work, 'typed.8xp')));

  // More than 500 notes, each a step, undo back to the song before them.
  let steps = 0;
  await page.focus('#grid-body .cursor');
  for (let pass = 0; steps < 510; ++pass) {
    await page.keyboard.press('Control+Home');
    for (let row = 0; row < 15; ++row, ++steps) await page.keyboard.press(pass % 2 === 0 ? 'n' : 'm');
  }
  assert.notEqual(await text(page), songText);
  for (let k = 0; k < steps; ++k) await page.keyboard.press('Control+z');
  assert.equal(await text(page), songText);
  await page.keyboard.press('Control+y');
  const edited = await text(page);
  await saved(page);

  // A reload brings the song back, with its undo history.
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  assert.equal(await text(page), edited);
  await page.click('#undo');
  assert.equal(await text(page), songText);
  await page.click('#redo');
  await saved(page);

  // With the network off it opens, plays, edits and downloads.
  await context.setOffline(true);
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  assert.equal(await text(page), edited);
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('b');
  await page.click('#play');
  await page.waitForFunction(() => document.body.dataset.state === 'playing');
  await page.click('#play');
  const [offline] = await Promise.all([page.waitForEvent('download'), page.click('#download-wav')]);
  assert.equal(readFileSync(await offline.path()).subarray(0, 4).toString('latin1'), 'RIFF');
  await context.setOffline(false);
  await saved(page);

  // A second tab opens the same song from the recent list; what it types
  // is not lost in the first, which says so and takes the newer one.
  const other = await openPage();
  await other.click('#recent li button.name');
  await other.waitForFunction(() => document.getElementById('text').value.includes('title'));
  const shared = await text(other);
  assert.equal(shared, await text(page));
  await other.focus('#grid-body .cursor');
  await other.keyboard.press('m');
  await saved(other);
  await page.waitForSelector('#conflict:not([hidden])');
  assert.equal(await text(page), shared);
  // What the first tab types then is a draft of its own at once, kept.
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('b');
  const mine = await text(page);
  await page.waitForFunction(() => document.getElementById('conflict-text').textContent.includes('(this tab)'));
  await page.waitForFunction(() => [...document.querySelectorAll('#recent .name')]
    .some((name) => name.textContent.endsWith('(this tab) (open)')));
  assert.equal(await page.evaluate(async () => {
    const { Drafts } = await import('./drafts.js');
    const store = await Drafts.open();
    const list = await store.list();
    const fork = await store.get(list.find((draft) => draft.name.endsWith('(this tab)')).id);
    store.close();
    return fork.text;
  }), mine);
  await page.click('#take-newer');
  await page.waitForSelector('#conflict', { state: 'hidden' });
  assert.equal(await text(page), await text(other));
  await other.close();

  // Sections and the order: one added, one duplicated and renamed, an
  // order entry added and moved, a section the order plays deleted (it asks).
  page.once('dialog', (dialog) => dialog.accept());
  await page.click('#section-add');
  await page.click('#section-duplicate');
  await page.fill('#section-name', 'chorus');
  await page.locator('#section-name').blur();
  await page.click('#order-list li:nth-child(1) button');
  await page.click('#order-add');
  await page.click('#order-later');
  await page.selectOption('#section', 's2');
  await page.click('#section-delete');
  assert.match(await text(page), /\norder s1 s1 chorus\n/);
  assert.doesNotMatch(await text(page), /section s2\n/);

  if (shots) await page.screenshot({ path: join(shots, 'tracker.png'), fullPage: true });
  assert.deepEqual(await axeViolations(page), []);
  await page.close();
});

test('a click takes the keys; an unfinished text is kept through a grid key, Undo, a reload and a download', async () => {
  const page = await openPage();
  await page.click('#new-song');
  await page.waitForSelector('#grid-body .cursor');
  // Voice 3 muted before the first Play stays muted once it plays.
  await page.click('.mute[data-voice="2"]');
  await page.waitForSelector('.mute[data-voice="2"][aria-pressed="true"]');
  await page.click('#play');
  await page.waitForFunction(() => document.body.dataset.state === 'playing');
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => window.fenkPage.player.state.mutedMask), 4);
  assert.equal(await page.getAttribute('.mute[data-voice="2"]', 'aria-pressed'), 'true');
  await page.click('#play');

  // A mouse click on a cell, then a note key: the note goes there.
  await page.click('#grid-body [role="row"]:nth-child(3) [data-col="1"]');
  await page.keyboard.press('n');
  assert.equal(await page.textContent('#grid-body [role="row"]:nth-child(3) [data-col="1"]'), 'A4');

  // Half a row typed in the editor: it does not compile yet.
  const before = await text(page);
  const unfinished = before.replace('section s1\n', 'section s1\n  C4 E4\n');
  await page.fill('#text', unfinished);
  await page.click('#grid-body [role="row"]:nth-child(5) [data-col="0"]');
  await page.keyboard.press('n');
  assert.match(await page.textContent('#edit-note'), /does not compile \(line 7: /);
  assert.match(await page.textContent('#text-error'), /^line 7: /);
  assert.equal(await text(page), unfinished, 'a grid key leaves the typed text');
  assert.equal(await page.textContent('#grid-body [role="row"]:nth-child(5) [data-col="0"]'), '-');
  // Undo takes the typed text back as one step, Redo brings it again.
  await page.click('#undo');
  assert.equal(await text(page), before);
  await page.click('#redo');
  assert.equal(await text(page), unfinished);
  const [typed] = await Promise.all([page.waitForEvent('download'), page.click('#download-text')]);
  assert.equal(readFileSync(await typed.path(), 'utf8'), unfinished);
  await saved(page);
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  assert.equal(await text(page), unfinished, 'a reload brings the text as typed');
  assert.match(await page.textContent('#text-error'), /^line 7: /);

  // Finished in the editor, it compiles and the grid shows it.
  await page.fill('#text', unfinished.replace('  C4 E4\n', '  C4 E4 - - 1\n'));
  await page.locator('#text').blur();
  await page.waitForFunction(() => document.getElementById('text-error').textContent === '');
  assert.equal(await page.textContent('#grid-body [role="row"]:nth-child(1) [data-col="1"]'), 'E4');

  // A rename sticks through later saves.
  page.once('dialog', (dialog) => dialog.accept('Tune for the crash'));
  await page.click('#recent li:first-child button:text-is("Rename")');
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('m');
  await saved(page);
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  assert.equal(await page.textContent('#recent li:first-child .name'), 'Tune for the crash (open)');

  // A renderer crash a second after an edit loses nothing.
  await page.focus('#grid-body .cursor');
  await page.keyboard.press('b');
  const edited = await text(page);
  await page.waitForTimeout(1000);
  const cdp = await context.newCDPSession(page);
  // The renderer's end: a crash, or the page closed with it.
  const crashed = new Promise((done) => { page.once('crash', done); page.once('close', done); });
  // The renderer dies at once: the call itself is never answered.
  cdp.send('Page.crash').catch(() => {});
  await crashed;
  await page.close().catch(() => {});
  const after = await openPage();
  assert.equal(await text(after), edited);
  await after.close();
});

test('Export all and Import: more than 40 drafts out as one .zip and back', async () => {
  const { zipSync, unzipSync, strToU8 } = await import('fflate');
  const many = 45;
  const files = {};
  for (let k = 1; k <= many; ++k) {
    files[`song-${String(k).padStart(2, '0')}.txt`] = strToU8(newSong(`SONG${k}`));
  }
  writeFileSync(join(work, 'many.zip'), zipSync(files));
  const first = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await first.newPage();
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  await page.setInputFiles('#import-file', join(work, 'many.zip'));
  await page.waitForFunction((n) => document.getElementById('drafts-note').textContent === `${n} drafts imported.`, many);
  // Every draft is in the list, and the search finds one by its name.
  await page.waitForFunction((n) => document.querySelectorAll('#recent li').length === n, many);
  await page.fill('#draft-search', 'song-07');
  await page.waitForFunction(() => document.querySelectorAll('#recent li').length === 1);
  await page.click('#recent li .name');
  await page.waitForFunction(() => document.getElementById('text').value.includes('SONG7'));
  await page.fill('#draft-search', '');

  const [exported] = await Promise.all([page.waitForEvent('download'), page.click('#export-all')]);
  const exportedPath = join(work, 'exported.zip');
  await exported.saveAs(exportedPath);
  const entries = unzipSync(readFileSync(exportedPath));
  assert.deepEqual(Object.keys(entries).sort(), Object.keys(files).sort());
  for (const [name, bytes] of Object.entries(entries)) assert.deepEqual(bytes, files[name], name);
  await first.close();

  // Into a browser that has none of them.
  const second = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const other = await second.newPage();
  await other.goto(origin);
  await other.waitForSelector('body[data-ready="true"]');
  await other.setInputFiles('#import-file', exportedPath);
  await other.waitForFunction((n) => document.querySelectorAll('#recent li').length === n, many);
  assert.equal(await other.textContent('#draft-count'), `${many} drafts`);
  await second.close();
});

// A small song text of its own program name.
function newSong(name) {
  return `title "${name}"\nname ${name}\ntempo 120\nsection a\n  C4 - - - 1\nend\norder a\n`;
}

test('a phone enters notes by taps; links that hold no song say so', async () => {
  const phoneContext = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true,
                                                 hasTouch: true });
  const phone = await phoneContext.newPage();
  phone.on('console', (message) => { if (message.type() === 'error') consoleErrors.push(message.text()); });
  phone.on('pageerror', (error) => consoleErrors.push(error.message));
  await phone.goto(`${origin}/index.html#song=not*base64`);
  await phone.waitForSelector('body[data-ready="true"]');
  assert.equal(await phone.textContent('#message'),
               'This link holds no song: what follows #song= is not a song file in base64url.');
  await phone.goto(`${origin}/index.html?long#song=${'A'.repeat(1_500_000)}`);
  await phone.waitForSelector('body[data-ready="true"]');
  assert.match(await phone.textContent('#message'), /^This link is longer than any song can be/);

  await phone.tap('#new-song');
  await phone.tap('#grid-body [role="row"]:nth-child(3) [data-col="1"]');
  await phone.tap('#keys button:text-is("E")');
  await phone.tap('#octave-up');
  await phone.tap('#keys button:text-is("C")');
  await phone.tap('#rest');
  await phone.selectOption('#duration', '1/2');
  await phone.tap('#set-duration');
  assert.match(await phone.inputValue('#text'), /\n {2}- +E4 +- +- +1\n {2}- +C5 +- +- +1\n {2}- +- +- +- +1\n {2}- +- +- +- +1\/2\n/);
  assert.ok(await phone.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
            'nothing scrolls sideways');
  if (shots) await phone.screenshot({ path: join(shots, 'tracker-phone.png'), fullPage: true });
  assert.deepEqual(await axeViolations(phone), []);
  await phoneContext.close();
  assert.deepEqual(consoleErrors, []);
});
