// Drives the page in Debian's Chromium (playwright-core) through a session
// whose sound a test records from the PulseAudio server in PULSE_SERVER:
// phases of sound, each followed by at least a second of silence, so that
// the recording splits into one island of sound per phase.
//
//   node drive-page.mjs WEB_DIR SONG.8xp SONG.txt EDIT_FROM EDIT_TO OUT_DIR
//
// 1. a bad file, then SONG.8xp by the file picker (its text shown, its MIDI
//    file downloaded), played to its end;
// 2. played again, paused in its second row for 1.5 s, played to the end;
// 3. Home, voice 1 muted, Right (the second entry), played to the end;
// 4. SONG.txt by the file picker, played, paused in its second row, the
//    text edited (EDIT_FROM replaced by EDIT_TO), played to the end;
// 5. the .8xp by a share link, at a phone's size, played from a tap;
// 6. a player's play() and pause() in quick succession, silent.
// Writes OUT_DIR/page.json (what the page showed: console lines, status
// lines with their moments, messages, failures) and screenshots.
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [webDir, songPath, textPath, editFrom, editTo, outDir] = process.argv.slice(2);
const result = { messages: {}, lines: {}, status: [], consoleErrors: [], offOrigin: [], failures: [] };

const server = spawn(process.execPath, [new URL('../tools/serve.mjs', import.meta.url).pathname, webDir, '0']);
const origin = await new Promise((resolve) =>
  server.stdout.once('data', (data) => resolve(String(data).trim().replace(/\/$/, ''))));
const browser = await chromium.launch({
  executablePath: process.env.FENK_CHROMIUM ?? '/usr/bin/chromium',
  args: ['--autoplay-policy=no-user-gesture-required', '--no-sandbox'],
  // Playwright mutes a headless browser's sound; here it is what is tested.
  ignoreDefaultArgs: ['--mute-audio'],
});

try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  page.on('console', (message) => { if (message.type() === 'error') result.consoleErrors.push(message.text()); });
  page.on('pageerror', (error) => result.consoleErrors.push(error.message));
  page.on('request', (request) => {
    if (!request.url().startsWith(origin) && !request.url().startsWith('data:') &&
        !request.url().startsWith('blob:')) result.offOrigin.push(request.url());
  });
  const state = () => page.evaluate(() => document.body.dataset.state);
  const waitForState = (wanted, timeout = 20000) =>
    page.waitForFunction((s) => document.body.dataset.state === s, wanted, { timeout, polling: 10 });
  const silence = () => page.waitForTimeout(1500);
  const key = (name) => page.keyboard.press(name);
  // Space, 300 ms of playing (into the second row), Space: paused, silence.
  const pauseInTheSecondRow = async () => {
    await key('Space');
    await waitForState('playing');
    await page.waitForTimeout(300);
    await key('Space');
    await waitForState('paused');
    await silence();
  };
  // Played on to the end, its 2.5 s end wait heard, then silence.
  const toTheEnd = async () => {
    await waitForState('end');
    await page.waitForTimeout(2500);
    await silence();
  };

  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  await page.evaluate(() => {
    window.statusLog = [];
    new MutationObserver(() => {
      window.statusLog.push({ ms: performance.now(), text: document.getElementById('status').textContent });
    }).observe(document.getElementById('status'), { childList: true, characterData: true, subtree: true });
  });

  // 1. A bad file, then the song, played to its end.
  // A file is read asynchronously: its outcome is waited for.
  const shown = (id, prefix) => page.waitForFunction(
    ([element, start]) => document.getElementById(element).textContent.startsWith(start), [id, prefix]);
  await page.setInputFiles('#song-file', { name: 'bad.8xp', mimeType: 'application/octet-stream',
                                           buffer: Buffer.from('not a program file') });
  await shown('message', 'Not');
  result.messages.badFile = await page.textContent('#message');
  await page.setInputFiles('#song-file', songPath);
  await shown('lines', 'Loaded');
  result.lines.picked = await page.textContent('#lines');
  result.messages.afterSong = await page.textContent('#message');
  // The song file opens as its song text, and goes out as a MIDI file.
  result.textOfProgram = await page.inputValue('#text');
  const [midi] = await Promise.all([page.waitForEvent('download'), page.click('#download-mid')]);
  const midiBytes = readFileSync(await midi.path());
  result.midiDownload = { name: midi.suggestedFilename(), head: midiBytes.subarray(0, 4).toString('latin1'),
                          bytes: midiBytes.length };
  await page.click('#play');
  await toTheEnd();
  result.status = await page.evaluate(() => window.statusLog);
  await page.screenshot({ path: join(outDir, 'laptop.png') });

  // 2. Paused in the second row, then on to the end.
  await pauseInTheSecondRow();
  await key('Space');
  await toTheEnd();

  // 3. The second entry with voice 1 muted.
  await key('Home');
  await key('1');
  await key('ArrowRight');
  await page.waitForTimeout(100);
  result.entryShown = await page.textContent('#entry');
  await key('Space');
  await waitForState('end');
  await page.waitForTimeout(2500);
  await key('1');
  await silence();

  // 4. The song text: paused in its second row, edited, played on.
  // The editor holds the .8xp's text until the song text opens.
  await page.evaluate(() => { document.getElementById('text').value = ''; });
  await page.setInputFiles('#song-file', textPath);
  await page.waitForFunction(() => document.getElementById('text').value !== '');
  await pauseInTheSecondRow();
  const text = await page.inputValue('#text');
  if (!text.includes(editFrom)) result.failures.push(`the text has no '${editFrom}'`);
  await page.fill('#text', text.replace(editFrom, editTo));
  await page.waitForTimeout(1000);  // compiled after a pause in typing
  result.messages.textError = await page.textContent('#text-error');
  await page.fill('#text', text.replace(editFrom, 'H4 H4 H4 H4 1t'));
  await page.waitForTimeout(1000);
  result.messages.textMistake = await page.textContent('#text-error');
  await page.fill('#text', text.replace(editFrom, editTo));
  await page.waitForTimeout(1000);
  // Typing goes to the editor: play on by its button.
  await page.click('#play');
  await toTheEnd();

  // 5. A share link, on a phone's screen, played from a tap.
  const link = `${origin}/index.html#song=${readFileSync(songPath).toString('base64url')}`;
  const phone = await browser.newPage({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  phone.on('console', (message) => { if (message.type() === 'error') result.consoleErrors.push(message.text()); });
  await phone.goto(link);
  await phone.waitForSelector('body[data-ready="true"]');
  await phone.waitForFunction(() => document.getElementById('lines').textContent.startsWith('Loaded'));
  result.lines.link = await phone.textContent('#lines');
  // Phones allow sound only from a tap: the first one starts it.
  await phone.tap('#play');
  await phone.waitForFunction(() => document.body.dataset.state === 'end', null, { timeout: 20000 });
  await phone.waitForTimeout(2500);
  await phone.screenshot({ path: join(outDir, 'phone.png'), fullPage: true });
  await phone.waitForTimeout(1500);
  result.finalState = await state();

  // 6. A player's play() and pause() in quick succession end paused, before
  //    and after its worklet is running (its voices muted once it is: no
  //    sound), play() alone plays, and goes on playing when "steadier
  //    sound" makes its audio context again.
  result.quickActions = await page.evaluate(async (song) => {
    const { FenkPlayer } = await import('./fenk-player.js');
    const player = await FenkPlayer.create();
    player.load(Uint8Array.from(atob(song), (c) => c.charCodeAt(0)), 'quick.8xp');
    const settle = () => new Promise((resolve) => setTimeout(resolve, 500));
    const states = [];
    player.play();
    player.pause();
    await settle();
    states.push(player.state.state);
    player.setMutes(15);
    player.play();
    player.pause();
    await settle();
    states.push(player.state.state);
    player.play();
    await settle();
    states.push(player.state.state);
    // Steadier sound while playing: a context of its own, whose new stream
    // plays on (its voices still muted: nothing heard).
    const before = player.context;
    let fresh = null;
    player.addEventListener('state', (event) => { if (player.context !== before) fresh = event.detail.state; });
    player.setSteadierSound(true);
    await settle();
    states.push(fresh);
    player.pause();
    await settle();
    return states;
  }, readFileSync(songPath).toString('base64'));
} catch (error) {
  result.failures.push(String(error.stack ?? error));
} finally {
  await browser.close();
  server.kill();
  writeFileSync(join(outDir, 'page.json'), JSON.stringify(result, null, 1));
}
