// How much typing a crash of the page can lose (build/web, made by
// scripts/web), in Debian's Chromium: a note typed in the grid, or a word
// typed in the song text editor, then the renderer crashed (Page.crash) a
// moment later, and the page opened again: was the edit kept? For each
// moment, three tries; the figure is the longest moment after which an
// edit was still lost.
//
//   node scripts/measure/web-crash.mjs [WEB_DIR]
// A measurement, not a test: it prints figures.
import { spawn } from 'node:child_process';
import { join, resolve } from 'node:path';

const root = resolve(new URL('../..', import.meta.url).pathname);
const webDir = resolve(process.argv[2] ?? join(root, 'build/web'));
const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const kMoments = [0, 50, 100, 200, 300, 400, 500, 600, 800, 1000];
const kTries = 3;

const server = spawn(process.execPath, [join(root, 'web/tools/serve.mjs'), webDir, '0']);
const origin = await new Promise((done) =>
  server.stdout.once('data', (data) => done(String(data).trim().replace(/\/$/, ''))));
const launch = () => chromium.launch({ executablePath: process.env.FENK_CHROMIUM ?? '/usr/bin/chromium',
                                       args: ['--no-sandbox'] });

async function opened(context) {
  const page = await context.newPage();
  page.setDefaultTimeout(30000);
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

// True when the edit typed `moment` ms before the crash is there after it.
// A browser of its own for each try: a crash may take more than its page.
async function kept(kind, moment) {
  const browser = await launch();
  try {
    return await keptIn(browser, kind, moment);
  } finally {
    await browser.close();
  }
}

async function keptIn(browser, kind, moment) {
  const context = await browser.newContext();
  let page = await opened(context);
  if (process.env.FENK_CRASH_DEBUG) {
    page.on('close', () => console.error('closed'));
    page.on('crash', () => console.error('crashed'));
  }
  await page.click('#new-song');
  await page.waitForSelector('#grid-body .cursor');
  await page.waitForTimeout(1500);  // the new song written
  if (kind === 'grid') {
    await page.click('#grid-body [role="row"]:nth-child(2) [data-col="0"]');
    await page.keyboard.press('n');
  } else {
    await page.focus('#text');
    await page.keyboard.press('Control+End');
    await page.keyboard.type('# typed');
  }
  const wanted = kind === 'grid' ? 'A4' : '# typed';
  await page.waitForTimeout(moment);
  const cdp = await context.newCDPSession(page);
  // The renderer's end: a crash, or the page closed with it.
  const crashed = new Promise((done) => { page.once('crash', done); page.once('close', done); });
  cdp.send('Page.crash').catch(() => {});
  await crashed;
  await page.close().catch(() => {});
  page = await opened(context);
  const text = await page.inputValue('#text');
  await context.close();
  return text.includes(wanted);
}

try {
  for (const kind of (process.env.FENK_CRASH_KINDS ?? 'grid,editor').split(',')) {
    let lostUpTo = -1;
    const row = [];
    for (const moment of kMoments) {
      let keptCount = 0;
      for (let k = 0; k < kTries; ++k) if (await kept(kind, moment)) ++keptCount;
      row.push(`${moment} ms: ${keptCount}/${kTries}`);
      if (keptCount < kTries) lostUpTo = moment;
    }
    console.log(`${kind === 'grid' ? 'a note typed in the grid' : 'text typed in the editor'}, kept after a crash ` +
                `that many ms later: ${row.join(', ')}`);
    console.log(`  a crash lost the edit when it came ${lostUpTo < 0 ? 'never' : `up to ${lostUpTo} ms`} after it`);
  }
} finally {
  server.kill();
}
