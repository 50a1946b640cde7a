// The page: opening songs (picker, drop, share link), the controls and
// their keys, the console lines and the status line, the piano roll and the
// song text's editor, all over one FenkPlayer.
import { FenkPlayer } from './fenk-player.js';
import { playingTime } from './fenk-engine.js';
import { Tracker } from './tracker.js';
import { Drafts, DraftKeeper } from './drafts.js';
import { SongModel, newSongText, noteName, textFacts, useTextFacts } from './song-lines.js';
import { hasWebUsb, kNoWebUsb, sendToCalculator } from './send.js';

const $ = (id) => document.getElementById(id);
const kVoiceColours = ['#ff6b6b', '#ffd166', '#06d6a0', '#4cc9f0'];
const kEditPauseMs = 400;
const kLongText = 20000;  // characters
const kTextPauseMs = 600;
// The longest share link: a program file of the largest song, in base64url.
const kMaxProgramFileBytes = 65516 + 76;
const kMaxLinkLength = Math.ceil(kMaxProgramFileBytes / 3) * 4;
// "Steadier sound", kept for the next visit.
const kSteadierKey = 'fenk-steadier-sound';

let player = null;
let tracker = null;
let drafts = null;       // null when the browser keeps nothing (no IndexedDB)
let keeper = null;       // this tab's draft and its saves (DraftKeeper)
let song = null;         // the open song's fenk_open result (its last version that compiled)
let songName = '';
let editTimer = 0;
let conflictWith = null; // the draft another tab changed, to take its version
let askedToKeep = false; // persistent storage asked for (at the first edit)
let droppedShown = 0;    // undo steps let go that the page has told of
let rollFrame = 0;
let textTimer = 0;
let pendingText = null;   // a grid edit's text not shown yet

function showMessage(text) { $('message').textContent = text; }

function base64url(bytes) {
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64url(text) {
  const padded = text.replace(/-/g, '+').replace(/_/g, '/') + '==='.slice((text.length + 3) % 4);
  return Uint8Array.from(atob(padded), (c) => c.charCodeAt(0));
}

// Opens a song's bytes (a file, a link); `name` is its file name, for
// downloads. The song becomes a new draft, and opens in the tracker as
// its song text. A failure shows fenk's words and leaves the song open.
async function openSong(bytes, name) {
  const result = player.load(bytes, name);
  if (!result.ok) {
    const why = result.lines || '';
    const errors = (result.errors || []).join('\n');
    showMessage([why.trim(), errors].filter(Boolean).join('\n'));
    return false;
  }
  showMessage('');
  const text = result.text ?? new TextDecoder().decode(bytes);
  songName = fileName(name.replace(/\.[^.]*$/, ''));
  newDraft(result.title || songName, text);
  showSong(result, text, null, null);
  return true;
}

function fileName(name) { return name.replace(/[^A-Za-z0-9_-]+/g, '-').replace(/^-|-$/g, '') || 'song'; }

// Shows an opened song: its console lines, its text and its grid. `result`
// is null for a draft whose text does not compile: the editor shows it and
// why, and the song heard before plays on until it does.
function showSong(result, text, history, place) {
  if (result) song = result;
  $('lines').textContent = result ? result.lines.trimEnd() +
    (result.summary ? '\n' + result.summary.join('\n') : '') +
    (result.warnings.length ? '\n' + result.warnings.join('\n') : '') : 'The song text does not compile yet.';
  $('status').textContent = '';
  $('editor').hidden = false;
  $('workspace').hidden = false;
  clearTimeout(textTimer);
  clearTimeout(editTimer);
  pendingText = null;
  $('text').value = text;
  $('text-error').textContent = '';
  droppedShown = 0;
  const editable = !result || Boolean(result.layout);
  $('compose').hidden = !editable;
  $('tracker').hidden = !editable;
  if (editable) tracker.open(new SongModel(text, (typed) => player.edit(typed), history, result), place);
  else tracker.close();
  if (song) for (const control of document.querySelectorAll('button')) control.disabled = false;
  if (result) showSize(result);
  updatePosition();
  drawRoll();
}

async function openFile(file) {
  if (!file) return;
  await openSong(new Uint8Array(await file.arrayBuffer()), file.name);
}

function newSong() {
  const text = newSongText();
  const result = player.load(text, 'untitled.txt');
  songName = 'untitled';
  showMessage('');
  // The new draft is this tab's before anything is typed into it.
  newDraft('Untitled', text);
  showSong(result, text, null, null);
  $('grid-body').querySelector('.cursor')?.focus();
}

// -- the song text, compiled as it is typed

function textEdited() {
  clearTimeout(editTimer);
  editTimer = setTimeout(flushEditor, kEditPauseMs);
}

// The editor's text taken into the song (a step of its history), whether
// it compiles or not: at a pause in typing, and at once when the editor is
// left, the page goes away or the text is downloaded.
function flushEditor() {
  clearTimeout(editTimer);
  if (!tracker.model || pendingText !== null) return;
  tracker.textEdited($('text').value);
}

// What the tracker asks of the page.
const trackerHost = {
  compile(text) { return player.edit(text); },
  textEdit(edit) { return player.engine.textEdit(edit); },
  preview(voice, period) { player.preview(voice, period); },
  refused(reason) { $('edit-note').textContent = reason; },
  confirm(question) { return window.confirm(question); },
  // Plays from row `row` of the section named: the entry of that section
  // heard now or after it, else its first.
  async playFrom(section, row) {
    const entries = song.entries;
    const now = player.position().entry;
    let entry = entries.findIndex((candidate, k) => k >= now && candidate.name === section);
    if (entry < 0) entry = entries.findIndex((candidate) => candidate.name === section);
    if (entry < 0) {
      $('edit-note').textContent = `Section '${section}' is not in the order: add it to hear it.`;
      return;
    }
    // The first time, the stream is made (paused) before it can seek.
    await player.ensureStream();
    player.seek(entry, row);
    player.play();
  },
  changed({ text, result, error, history, place, toText, edited, dropped }) {
    if (result && result !== song) {
      song = result;
      $('lines').textContent = result.lines.trimEnd();
      for (const control of document.querySelectorAll('button')) control.disabled = false;
      drawRollSoon();
    }
    if (toText) showText(text);
    $('text-error').textContent = error ? `${error} (the grid shows the last version that compiled)` : '';
    $('edit-note').textContent = dropped > droppedShown
      ? 'Undo keeps the last 1,000 steps: the oldest ones are let go.' : '';
    droppedShown = dropped;
    if (song) showSize(song);
    // Text typed is saved at its pause in typing already; a grid edit soon after.
    if (edited) draftChanged({ text, history, place }, toText ? undefined : 0);
  },
};

// The text view of a grid edit. A long text costs the browser a long
// layout at every change (about 100 ms for 5,000 rows): it is shown at a
// pause in typing instead, and at once when the editor is used.
function showText(text) {
  clearTimeout(textTimer);
  pendingText = text;
  if (text.length < kLongText) flushText();
  else textTimer = setTimeout(flushText, kTextPauseMs);
}

function flushText() {
  clearTimeout(textTimer);
  if (pendingText !== null && $('text').value !== pendingText) $('text').value = pendingText;
  pendingText = null;
}

// The song's size against what a program holds, and fenk-make's warning
// for a song too big for a calculator's free memory.
function showSize(result) {
  const bytes = result.bodyBytes ?? 0;
  const file = result.program ? result.program.length : 0;
  const limit = result.maxBodyBytes ?? textFacts().maxBodyBytes;
  let text = `Size ${bytes.toLocaleString('en')} of ${limit.toLocaleString('en')} bytes`;
  // fenk-make's warning: a .8xp above this does not fit a TI-83 Plus's free memory.
  const free = textFacts().calculatorFreeBytes;
  if (file > free) text += `: ${file.toLocaleString('en')} bytes as a .8xp, more than a TI-83 Plus has free (about 24 KB)`;
  show('size', text);
  $('size').classList.toggle('warn', file > free);
  $('undo').disabled = !tracker.lines || tracker.lines.undoSteps.length === 0;
  $('redo').disabled = !tracker.lines || tracker.lines.redoSteps.length === 0;
  const header = result.layout?.headerLines ?? {};
  if (document.activeElement !== $('song-title')) $('song-title').value = result.title ?? '';
  if (document.activeElement !== $('song-name') && header.name) {
    $('song-name').value = headerValue(tracker.shownLines[header.name - 1]);
  }
}

// The value of a header line as the user sees it: a quoted text's escapes read.
function headerValue(line) {
  const match = /^\s*\S+\s+(.*?)\s*$/.exec(line ?? '');
  if (!match) return '';
  const value = match[1].replace(/\s+#.*$/, '');
  if (!value.startsWith('"')) return value;
  return value.slice(1, value.lastIndexOf('"')).replace(/\\(["\\])/g, '$1');
}

// -- drafts: every change saved within a second

function draftChanged(fields, delay) {
  keeper?.change(fields, delay);
  keepStorage();
}

// The first edit asks the browser to keep the drafts under storage
// pressure; the page says whether it will.
async function keepStorage() {
  if (askedToKeep || !navigator.storage?.persist) return;
  askedToKeep = true;
  showStorage(await navigator.storage.persist().catch(() => false));
}

function showStorage(kept) {
  $('storage-note').textContent = kept
    ? 'The browser keeps these drafts for good.'
    : 'The browser may clear these drafts when it runs short of room: Export all keeps a copy.';
}

// A new draft of `text`, this tab's at once (what is typed next is its own).
function newDraft(name, text) {
  if (!keeper) return;
  keeper.flush();
  const draft = keeper.start(name, { text, history: null, place: null });
  sessionStorage.setItem('fenk-draft', draft.id);
  drafts.claim(draft.id);
  $('conflict').hidden = true;
}

// Opens a stored draft (or a version of one, as a new draft) in this tab,
// whether its text compiles or not.
async function openDraft(stored, claimed = true) {
  await keeper.flush();
  const result = player.load(stored.text, 'draft.txt');
  songName = fileName(stored.name);
  $('conflict').hidden = true;
  showMessage(result.ok ? '' : `The draft '${stored.name}' does not compile yet: its text is in the editor.`);
  keeper.take(stored);
  if (claimed) sessionStorage.setItem('fenk-draft', stored.id);
  showSong(result.ok ? result : null, stored.text, stored.history, stored.place);
  listRecentSoon();
}

// Another tab saved this tab's draft: nothing is overwritten. Its version
// can be taken; this tab's own work, if it changes, is forked into a
// draft of its own at once.
function showConflict(id, text) {
  conflictWith = id;
  $('conflict-text').textContent = text;
  $('conflict').hidden = false;
}

let recentTimer = 0;
function listRecentSoon() {
  clearTimeout(recentTimer);
  recentTimer = setTimeout(listRecent, 200);
}

// Every draft, the latest changed first, those whose name holds the search
// box's words only.
async function listRecent() {
  if (!drafts) return;
  const words = $('draft-search').value.trim().toLowerCase();
  const list = (await drafts.list()).filter((draft) => draft.name.toLowerCase().includes(words));
  $('draft-count').textContent = `${list.length} draft${list.length === 1 ? '' : 's'}`;
  $('recent').replaceChildren(...list.map((draft) => {
    const item = document.createElement('li');
    const when = new Date(draft.updated).toLocaleString();
    const current = keeper.current?.id === draft.id;
    // A draft open in another tab too is shared: each tab's saves check
    // the other's, and a tab is told when the other one changed it.
    const open = button(current ? `${draft.name} (open)` : draft.name, async () => {
      await drafts.claim(draft.id);
      openDraft(await drafts.get(draft.id));
    });
    open.classList.add('name');
    open.disabled = current;
    const rename = button('Rename', async () => {
      const name = window.prompt('New name for the song:', draft.name);
      if (name && name.trim()) {
        await drafts.rename(draft.id, name.trim());
        if (keeper.current?.id === draft.id) keeper.current.name = name.trim();
        listRecent();
      }
    });
    rename.setAttribute('aria-label', `Rename ${draft.name}`);
    const versions = button('Versions', () => listVersions(draft, item));
    versions.setAttribute('aria-label', `Versions of ${draft.name}`);
    const remove = button('Delete', async () => {
      if (!window.confirm(`Delete '${draft.name}' and its versions from this browser?`)) return;
      await drafts.remove(draft.id);
      listRecent();
    });
    remove.setAttribute('aria-label', `Delete ${draft.name}`);
    remove.disabled = current;
    const time = document.createElement('span');
    time.className = 'when';
    time.textContent = when;
    item.append(open, time, rename, versions, remove);
    return item;
  }));
}

// The versions kept of a draft, under it: each opens as a draft of its own.
async function listVersions(draft, item) {
  const shown = item.querySelector('.versions');
  if (shown) {
    shown.remove();
    return;
  }
  const list = document.createElement('ul');
  list.className = 'versions';
  for (const version of await drafts.versions(draft.id)) {
    const when = new Date(version.updated).toLocaleString();
    const entry = document.createElement('li');
    const open = button(`${when} (${version.text.length.toLocaleString('en')} characters)`, async () => {
      const made = await drafts.create({ name: `${draft.name} (${when})`, text: version.text, history: null, place: null });
      if (!made.id) return;
      await drafts.claim(made.id);
      openDraft(await drafts.get(made.id));
    });
    open.setAttribute('aria-label', `Open the version of ${when} as a new draft`);
    entry.append(open);
    list.append(entry);
  }
  item.append(list);
}

function button(text, action) {
  const element = document.createElement('button');
  element.type = 'button';
  element.textContent = text;
  element.addEventListener('click', action);
  return element;
}

// The song this tab had before a reload; else the latest draft no other
// tab holds. A duplicated tab (which inherits its draft) edits a copy.
async function restoreDraft() {
  const id = sessionStorage.getItem('fenk-draft');
  const stored = id ? await drafts.get(id) : null;
  if (stored) {
    if (await drafts.claim(stored.id)) return openDraft(stored);
    await openDraft(stored, false);
    newDraft(`${stored.name} (copy)`, stored.text);
    showMessage('This tab is a copy of another: its song is saved as a draft of its own.');
    return undefined;
  }
  for (const candidate of await drafts.list()) {
    if (await drafts.claim(candidate.id)) return openDraft(await drafts.get(candidate.id));
  }
  return undefined;
}

// True when another tab holds draft `id` now (its journal is that tab's).
async function heldElsewhere(id) {
  if (!navigator.locks?.query) return false;
  const { held } = await navigator.locks.query();
  return held.some((lock) => lock.name === `fenk-draft-${id}`);
}

// -- Export all, Import

async function exportAll() {
  const { zipSync, strToU8 } = await import('./fflate.js');
  const files = {};
  const taken = new Set();
  for (const draft of await drafts.all()) {
    let name = fileName(draft.name);
    for (let k = 2; taken.has(name.toLowerCase()); ++k) name = `${fileName(draft.name)}-${k}`;
    taken.add(name.toLowerCase());
    files[`${name}.txt`] = [strToU8(draft.text), { mtime: new Date(draft.updated) }];
  }
  const day = new Date().toISOString().slice(0, 10);
  download(new Blob([zipSync(files)], { type: 'application/zip' }), `fenk-drafts-${day}.zip`);
  $('drafts-note').textContent = `${Object.keys(files).length} drafts exported.`;
}

// Files taken back as drafts: a .zip's song texts (and .8xp and .mid
// files), or such files themselves. The song open stays open.
async function importFiles(files) {
  const found = [];
  for (const file of files) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (/\.zip$/i.test(file.name)) {
      const { unzipSync } = await import('./fflate.js');
      let entries;
      try {
        entries = unzipSync(bytes);
      } catch (error) {
        $('drafts-note').textContent = `'${file.name}' is not a .zip: ${error.message}`;
        continue;
      }
      for (const [path, content] of Object.entries(entries)) {
        if (!path.endsWith('/')) found.push({ name: path.split('/').pop(), bytes: content });
      }
    } else {
      found.push({ name: file.name, bytes });
    }
  }
  let taken = 0;
  const skipped = [];
  for (const { name, bytes } of found) {
    const text = songTextOf(name, bytes);
    if (text === null) {
      skipped.push(name);
      continue;
    }
    const made = await drafts.create({ name: name.replace(/\.[^.]*$/, ''), text, history: null, place: null });
    if (made.id) taken += 1;
    else skipped.push(`${name} (${made.reason})`);
  }
  $('drafts-note').textContent = `${taken} draft${taken === 1 ? '' : 's'} imported.` +
    (skipped.length ? ` Not taken: ${skipped.join(', ')}.` : '');
  listRecent();
}

// The song text of an imported file: a .txt as it is, a .8xp or .mid as
// the engine writes it; null for anything else.
function songTextOf(name, bytes) {
  if (/\.txt$/i.test(name)) return new TextDecoder().decode(bytes);
  if (!/\.(8xp|mid|midi)$/i.test(name)) return null;
  const engine = player.engine;
  const result = engine.openSong(bytes, /\.8xp$/i.test(name));
  if (!result.ok) return null;
  const text = result.kind === 'program' ? (engine.songText(result.handle).text ?? null) : result.text;
  engine.closeSong(result.handle);
  return text;
}

// -- the examples: the demo songs, one click to open

async function listExamples() {
  let names = [];
  try {
    names = await (await fetch('examples/index.json')).json();
  } catch {
    return;
  }
  $('examples').replaceChildren(...names.map((file) => {
    const example = button(file.replace(/\.txt$/, '').replace(/-/g, ' '), async () => {
      const response = await fetch(`examples/${file}`);
      openSong(new Uint8Array(await response.arrayBuffer()), file);
    });
    example.classList.add('example');
    return example;
  }));
}

// -- the position, the status line and the roll

// Sets a text only when it changes: most updates change nothing.
function show(id, text) {
  const element = $(id);
  if (element.textContent !== text) element.textContent = text;
}

function updatePosition() {
  if (!song || document.hidden) return;
  const position = player.position();
  const entries = song.entries.length;
  const entry = Math.min(position.entry, entries);
  show('entry', `Entry ${Math.min(entry + 1, entries)}/${entries}` + (position.loopEntry ? ' (looping)' : ''));
  const rows = position.row ? song.entries[position.row.entry]?.rows ?? '-' : '-';
  show('row', position.row ? `Row ${position.row.rowIndex + 1}/${rows}` : 'Row -');
  show('time', `Time ${playingTime(Math.min(position.songTick, song.totalTicks))} / ${playingTime(song.totalTicks)}`);
  const playing = position.state === 'playing';
  document.body.dataset.state = position.state;
  show('play', playing ? 'Pause' : 'Play');
  $('play').setAttribute('aria-label', playing ? 'Pause' : 'Play');
  $('loop').setAttribute('aria-pressed', String(position.loopEntry));
  for (const button of document.querySelectorAll('.mute')) {
    button.setAttribute('aria-pressed', String((position.mutedMask >> button.dataset.voice & 1) === 1));
  }
  drawPlayhead(position.songTick);
}

// The roll is drawn once per song (and size); the playhead is an element
// of its own over it, moved without drawing the roll again.
function drawRoll() {
  const canvas = $('roll');
  const width = canvas.clientWidth * devicePixelRatio;
  const height = canvas.clientHeight * devicePixelRatio;
  canvas.width = width;
  canvas.height = height;
  const g = canvas.getContext('2d');
  g.fillStyle = '#1a2029';
  g.fillRect(0, 0, width, height);
  if (!song || song.totalTicks === 0) return;
  const x = (tick) => (tick / song.totalTicks) * width;
  // Pitch falls as the period grows: a log scale of the period, over the
  // song's own range, puts high notes at the top.
  let lowest = 255;
  let highest = 1;
  const rows = player.roll();
  for (const row of rows) {
    for (const period of row.slice(2)) {
      if (period === 0) continue;
      lowest = Math.min(lowest, period);
      highest = Math.max(highest, period);
    }
  }
  const span = Math.max(Math.log(highest / lowest), Math.log(2));
  const bar = 3 * devicePixelRatio;
  const y = (period) => bar + (Math.log(period / lowest) / span) * (height - 3 * bar);
  g.strokeStyle = '#39424f';
  for (const entry of song.entries) {
    g.beginPath();
    g.moveTo(x(entry.start) + 0.5, 0);
    g.lineTo(x(entry.start) + 0.5, height);
    g.stroke();
  }
  // A voice at a time: a colour set per note costs more than the notes.
  for (let voice = 0; voice < 4; ++voice) {
    g.fillStyle = kVoiceColours[voice];
    for (let k = 0; k < rows.length; ++k) {
      const period = rows[k][2 + voice];
      if (period === 0) continue;
      const tick = rows[k][0];
      const end = k + 1 < rows.length ? rows[k + 1][0] : song.totalTicks;
      g.fillRect(x(tick), y(period), Math.max(1, x(end) - x(tick) - 1), bar);
    }
  }
}

// The roll drawn again once per frame at most, however many edits came.
function drawRollSoon() {
  if (rollFrame) return;
  rollFrame = requestAnimationFrame(() => {
    rollFrame = 0;
    drawRoll();
  });
}

function drawPlayhead(songTick) {
  const total = song && song.totalTicks > 0 ? song.totalTicks : 1;
  const at = (Math.min(songTick, total) / total) * $('roll').clientWidth;
  const transform = `translateX(${at.toFixed(1)}px)`;
  if ($('playhead').style.transform !== transform) $('playhead').style.transform = transform;
}

// A click on the roll plays from that entry and shows its row in the grid.
function seekToClick(event) {
  if (!song || song.entries.length === 0) return;
  const rect = $('roll').getBoundingClientRect();
  const tick = ((event.clientX - rect.left) / rect.width) * song.totalTicks;
  let entry = 0;
  while (entry + 1 < song.entries.length && song.entries[entry + 1].start <= tick) ++entry;
  player.seek(entry);
  let row = 0;
  for (const [start, rowEntry] of player.roll()) {
    if (rowEntry === entry && start <= tick && start > song.entries[entry].start) ++row;
  }
  if (!$('compose').hidden) tracker.goTo(song.entries[entry].name, row);
}

// -- downloads and the share link

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

async function copyLink() {
  const link = `${location.origin}${location.pathname}#song=${base64url(player.programFile())}`;
  try {
    await navigator.clipboard.writeText(link);
    $('share-note').textContent = 'Link copied.';
  } catch {
    // No clipboard (a page not served securely): the link to copy by hand.
    $('share-note').textContent = link;
  }
}

// A share link's song opens as a new draft; the link leaves the address,
// so that a reload opens the draft, not a second copy.
async function openSharedSong() {
  if (!location.hash.startsWith('#song=')) return false;
  const data = location.hash.slice('#song='.length);
  history.replaceState(null, '', location.pathname + location.search);
  if (data.length > kMaxLinkLength) {
    showMessage(`This link is longer than any song can be (a program holds at most 65,516 bytes): it holds no song.`);
    return true;
  }
  if (!/^[A-Za-z0-9_-]+$/.test(data) || data.length % 4 === 1) {
    showMessage('This link holds no song: what follows #song= is not a song file in base64url.');
    return true;
  }
  await openSong(fromBase64url(data), 'shared.8xp');
  return true;
}

// -- sending to a calculator

// The open song's .8xp, the bytes Download .8xp gives, through WebUSB.
async function sendSong() {
  const button = $('send-calculator');
  const status = $('send-status');
  const bar = $('send-progress');
  if (!hasWebUsb()) {
    status.textContent = kNoWebUsb;
    return;
  }
  button.disabled = true;
  status.textContent = '';
  try {
    const sent = await sendToCalculator(player.engine, player.programFile(), {
      progress: (done, total, name, calculator) => {
        bar.hidden = false;
        bar.max = total || 1;
        bar.value = done;
        status.textContent = `Sending ${name} to the ${calculator}: ${Math.floor(100 * done / (total || 1))} %`;
      },
    });
    status.textContent = sent.message;
    document.body.dataset.sent = sent.ok ? 'ok' : 'failed';
  } catch (error) {
    status.textContent = `Nothing was sent: ${error.message}`;
    document.body.dataset.sent = 'failed';
  } finally {
    bar.hidden = true;
    button.disabled = false;
  }
}

// -- controls and keys

function control(id, action) { $(id).addEventListener('click', action); }

function setUpControls() {
  control('play', () => player.toggle());
  control('previous', () => player.previous());
  control('next', () => player.next());
  control('home', () => player.home());
  control('loop', () => player.toggleLoop());
  for (const button of document.querySelectorAll('.mute')) {
    button.addEventListener('click', () => {
      const voice = Number(button.dataset.voice);
      player.mute(voice, (player.state.mutedMask >> voice & 1) === 0);
    });
  }
  for (const button of document.querySelectorAll('.solo')) {
    button.addEventListener('click', () => player.solo(Number(button.dataset.voice)));
  }
  const switches = () => ({ x: $('switch-x').checked, m: $('switch-m').checked, l: $('switch-l').checked });
  for (const id of ['switch-x', 'switch-m', 'switch-l']) {
    $(id).addEventListener('change', () => player.setSwitches(switches()));
  }
  control('copy-link', copyLink);
  control('new-song', newSong);
  control('undo', () => tracker.undo());
  control('redo', () => tracker.redo());
  // The text as it is on screen.
  control('download-text', () => {
    flushEditor();
    flushText();
    download(new Blob([tracker.model ? tracker.model.text() : $('text').value], { type: 'text/plain' }),
             `${songName}.txt`);
  });
  setUpTracker();
  control('download-8xp', () => download(new Blob([player.programFile()]), `${songName}.8xp`));
  control('send-calculator', sendSong);
  if (!hasWebUsb()) $('send-calculator').title = kNoWebUsb;
  control('download-mid', () => {
    try {
      download(player.midiFile(), `${songName}.mid`);
    } catch (error) {
      showMessage(error.message);
    }
  });
  control('download-wav', () => {
    try {
      download(player.renderWav(), `${songName}.wav`);
    } catch (error) {
      showMessage(error.message);
    }
  });
  $('song-file').addEventListener('change', (event) => openFile(event.target.files[0]));
  $('sample-file').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    const result = player.setSample(new Uint8Array(await file.arrayBuffer()));
    showMessage(result.ok ? '' : `Loading sample '${file.name}'...Failed! (${result.error})`);
  });
  $('text').addEventListener('input', textEdited);
  $('text').addEventListener('focus', flushText);
  $('text').addEventListener('blur', flushEditor);
  $('roll').addEventListener('click', seekToClick);
  window.addEventListener('resize', () => { drawRoll(); updatePosition(); });

  document.addEventListener('keydown', (event) => {
    if (!song || event.target.closest('textarea, input, select')) return;
    // Undo and redo, everywhere but in the text boxes (which have their own).
    if (event.ctrlKey && !event.altKey && /^[zy]$/i.test(event.key)) {
      if (event.key.toLowerCase() === 'y' || event.shiftKey) tracker.redo();
      else tracker.undo();
      event.preventDefault();
      return;
    }
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const digit = /^Digit([1-4])$/.exec(event.code);
    let handled = true;
    if (event.code === 'Space') player.toggle();
    else if (event.code === 'ArrowLeft') player.previous();
    else if (event.code === 'ArrowRight') player.next();
    else if (event.code === 'Home') player.home();
    else if (event.key === 'l' || event.key === 'L') player.toggleLoop();
    else if (digit && event.shiftKey) player.solo(Number(digit[1]) - 1);
    else if (digit) player.mute(Number(digit[1]) - 1, (player.state.mutedMask >> (digit[1] - 1) & 1) === 0);
    else handled = false;
    if (handled) event.preventDefault();
  });

  // Dropping a file anywhere on the page opens it.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    openFile(event.dataTransfer.files[0]);
  });
}

// The tracker's controls beside its grid.
function setUpTracker() {
  tracker = new Tracker({ grid: $('grid'), body: $('grid-body'), sectionSelect: $('section'),
                          sectionName: $('section-name'), orderList: $('order-list'), octave: $('octave') },
                        trackerHost);
  const keys = $('keys');
  for (let semitone = 0; semitone < 12; ++semitone) {
    const name = noteName(60 + semitone).replace(/\d+$/, '');
    const key = button(name, () => tracker.enterNote((tracker.octave + 1) * 12 + semitone));
    key.classList.toggle('black', name.includes('#'));
    keys.append(key);
  }
  control('rest', () => tracker.enterRest());
  control('octave-down', () => tracker.setOctave(tracker.octave - 1));
  control('octave-up', () => tracker.setOctave(tracker.octave + 1));
  $('octave').addEventListener('change', () => tracker.setOctave(Number($('octave').value) || 4));
  control('set-duration', () => tracker.setDuration($('duration').value));
  control('row-insert', () => tracker.insertRow());
  control('row-delete', () => tracker.deleteRows());
  control('down-octave', () => tracker.transpose(-12));
  control('down', () => tracker.transpose(-1));
  control('up', () => tracker.transpose(1));
  control('up-octave', () => tracker.transpose(12));
  control('play-cursor', () => trackerHost.playFrom(tracker.sectionData.name, tracker.cursor.row));
  $('follow').addEventListener('change', () => { tracker.follow = $('follow').checked; });
  $('section').addEventListener('change', () => tracker.goTo($('section').value, 0));
  $('section-name').addEventListener('change', () => {
    if (!tracker.renameSection($('section-name').value.trim())) $('section-name').value = tracker.sectionData.name;
  });
  control('section-add', () => tracker.addSection());
  control('section-duplicate', () => tracker.duplicateSection());
  control('section-delete', () => tracker.deleteSection());
  control('order-add', () => tracker.addOrderEntry());
  control('order-earlier', () => tracker.moveOrderEntry(-1));
  control('order-later', () => tracker.moveOrderEntry(1));
  control('order-remove', () => tracker.removeOrderEntry());
  $('song-title').addEventListener('change', () => {
    const value = $('song-title').value.replace(/\\/g, '\\\\').replace(/"/g, '\\"');
    if (!tracker.setHeader('title', `"${value}"`)) $('song-title').value = song.title;
  });
  $('song-name').addEventListener('change', () => {
    if (!tracker.setHeader('name', $('song-name').value.trim().toUpperCase())) showSize(song);
  });
  // The other tab's version of the song (this tab's own work, if it
  // changed, is a draft of its own by then).
  control('take-newer', async () => {
    await keeper.flush();
    const newer = await drafts.get(conflictWith);
    if (newer && (await drafts.claim(newer.id))) openDraft(newer);
    else if (newer) openDraft(newer, false);
  });
  control('keep-mine', async () => {
    $('conflict').hidden = true;
    if (!tracker.model) return;
    const { text, history, place } = tracker.state({});
    keeper.latest = { text, history, place };
    keeper.fork(keeper.current, keeper.latest);
    await keeper.flush();
  });
  control('export-all', exportAll);
  $('import-file').addEventListener('change', (event) => importFiles([...event.target.files]));
  $('draft-search').addEventListener('input', listRecentSoon);
}

// The drafts' store and this tab's keeper; the journal of a tab that went
// away taken in first.
async function openDrafts() {
  try {
    drafts = await Drafts.open();
  } catch (error) {
    showMessage(`Songs are not kept in this browser: ${error.message}`);
    $('drafts-group').hidden = true;
    return;
  }
  keeper = new DraftKeeper(drafts, localStorageOrNull());
  drafts.addEventListener('saved', ({ detail }) => {
    const current = keeper.current;
    if (current && detail.id === current.id && detail.revision > current.revision) {
      showConflict(detail.id, 'This song was changed in another tab.');
    }
    listRecentSoon();
  });
  keeper.addEventListener('saved', () => {
    $('save-note').textContent = '';
    listRecentSoon();
  });
  keeper.addEventListener('failed', ({ detail }) => {
    $('save-note').textContent = `Not saved: ${detail.reason}. Trying again; nothing is lost while this tab is open.`;
  });
  keeper.addEventListener('forked', ({ detail }) => {
    sessionStorage.setItem('fenk-draft', detail.to);
    drafts.claim(detail.to);
    showConflict(detail.from, `This song was changed in another tab: this tab's work goes on as '${detail.name}'.`);
    listRecentSoon();
  });
  const recovered = await keeper.reconcile(heldElsewhere);
  if (recovered.length > 0) showMessage(`Recovered what a closed tab had not saved: ${recovered.length} draft(s).`);
  if (navigator.storage?.persisted) showStorage(await navigator.storage.persisted().catch(() => false));
}

function localStorageOrNull() {
  try {
    return globalThis.localStorage ?? null;
  } catch {
    return null;
  }
}

// The page going away (closed, reloaded, hidden): the editor's text taken
// in and written to the journal at once, then to the store.
function pageLeaving() {
  flushEditor();
  keeper?.journalNow();
}

async function main() {
  const steadier = $('steadier');
  // A browser that keeps nothing (storage off) asks again each visit.
  try { steadier.checked = localStorage.getItem(kSteadierKey) === 'true'; } catch { /* kept nowhere */ }
  player = await FenkPlayer.create({ steadier: steadier.checked });
  useTextFacts(player.engine.textFacts());
  setUpControls();
  steadier.addEventListener('change', () => {
    try { localStorage.setItem(kSteadierKey, String(steadier.checked)); } catch { /* kept nowhere */ }
    player.setSteadierSound(steadier.checked);
  });
  player.addEventListener('row', (event) => {
    $('status').textContent = event.detail.status;
    const entry = song?.entries[event.detail.entry];
    if (entry) tracker.hear(entry.name, event.detail.rowIndex);
  });
  player.addEventListener('error', (event) => showMessage(event.detail));
  setInterval(updatePosition, 50);
  await openDrafts();
  // Nothing edited is lost when the page goes away.
  document.addEventListener('visibilitychange', () => { if (document.hidden) pageLeaving(); });
  window.addEventListener('pagehide', pageLeaving);
  window.addEventListener('hashchange', openSharedSong);
  if (!(await openSharedSong()) && drafts) await restoreDraft();
  listRecent();
  listExamples();
  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    navigator.serviceWorker.register('sw.js').catch((error) => console.warn(`offline use: ${error.message}`));
  }
  // For the browser's console and scripts/measure/web.mjs.
  window.fenkPage = { player, tracker };
  document.body.dataset.ready = 'true';
}

main().catch((error) => showMessage(`The player did not start: ${error.message}`));
