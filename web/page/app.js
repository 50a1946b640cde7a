// The page: opening songs (picker, drop, share link), the controls and
// their keys, the console lines and the status line, the piano roll and the
// song text's editor, all over one FenkPlayer.
import { FenkPlayer } from './fenk-player.js';
import { playingTime } from './fenk-engine.js';
import { Tracker } from './tracker.js';
import { Drafts } from './drafts.js';
import { newSongText, noteName } from './song-lines.js';
import { hasWebUsb, kNoWebUsb, sendToCalculator } from './send.js';

const $ = (id) => document.getElementById(id);
const kVoiceColours = ['#ff6b6b', '#ffd166', '#06d6a0', '#4cc9f0'];
const kEditPauseMs = 400;
const kSaveDelayMs = 300;
const kLongText = 20000;  // characters
const kTextPauseMs = 600;
// fenk-make's warning: a .8xp above this does not fit a TI-83 Plus's free memory.
const kCalculatorFreeBytes = 24000;
// The longest share link: a program file of the largest song, in base64url.
const kMaxProgramFileBytes = 65516 + 76;
const kMaxLinkLength = Math.ceil(kMaxProgramFileBytes / 3) * 4;

let player = null;
let tracker = null;
let drafts = null;       // null when the browser keeps nothing (no IndexedDB)
let song = null;         // the open song's fenk_open result
let songName = '';
let editTimer = 0;
let saveTimer = 0;
let pendingDraft = null;
let conflictMine = null;
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
  songName = name.replace(/\.[^.]*$/, '') || 'song';
  showSong(result, text, null, null);
  await newDraft(result.title || songName, text);
  return true;
}

// Shows an opened song: its console lines, its text and, when the text
// compiles, its grid (a .8xp whose text would not fit is played only).
function showSong(result, text, history, place) {
  song = result;
  $('lines').textContent = result.lines.trimEnd() +
    (result.summary ? '\n' + result.summary.join('\n') : '') +
    (result.warnings.length ? '\n' + result.warnings.join('\n') : '');
  $('status').textContent = '';
  $('editor').hidden = false;
  document.querySelector('.song').classList.add('with-text');
  clearTimeout(textTimer);
  pendingText = null;
  $('text').value = text;
  $('text-error').textContent = '';
  $('compose').hidden = !result.layout;
  if (result.layout) tracker.open(text, result, history, place);
  else tracker.close();
  for (const control of document.querySelectorAll('button')) control.disabled = false;
  showSize(result);
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
  showSong(result, text, null, null);
  newDraft('Untitled', text);
  $('grid-body').querySelector('.cursor')?.focus();
}

// -- the song text, compiled as it is typed

function textEdited() {
  clearTimeout(editTimer);
  editTimer = setTimeout(() => {
    const text = $('text').value;
    const result = player.edit(text);
    if (!result.ok) {
      $('text-error').textContent = (result.errors || [result.lines]).join('\n');
      return;
    }
    $('text-error').textContent = '';
    tracker.textEdited(text, result);
  }, kEditPauseMs);
}

// What the tracker asks of the page.
const trackerHost = {
  compile(text) { return player.edit(text); },
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
  changed(text, result, { history, place, toText, edited }) {
    song = result;
    if (toText) showText(text);
    $('text-error').textContent = '';
    $('edit-note').textContent = '';
    $('lines').textContent = result.lines.trimEnd();
    showSize(result);
    drawRollSoon();
    if (edited) draftChanged({ text, history, place, name: result.title || songName });
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
  const limit = result.maxBodyBytes ?? 65516;
  let text = `Size ${bytes.toLocaleString('en')} of ${limit.toLocaleString('en')} bytes`;
  if (file > kCalculatorFreeBytes) text += `: ${file.toLocaleString('en')} bytes as a .8xp, more than a TI-83 Plus has free (about 24 KB)`;
  show('size', text);
  $('size').classList.toggle('warn', file > kCalculatorFreeBytes);
  $('undo').disabled = !tracker.lines || tracker.lines.undoSteps.length === 0;
  $('redo').disabled = !tracker.lines || tracker.lines.redoSteps.length === 0;
  const header = result.layout?.headerLines ?? {};
  if (document.activeElement !== $('song-title')) $('song-title').value = result.title ?? '';
  if (document.activeElement !== $('song-name') && header.name) {
    $('song-name').value = headerValue(tracker.lines.lines[header.name - 1]);
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

function draftChanged(fields) {
  pendingDraft = fields;
  clearTimeout(saveTimer);
  saveTimer = setTimeout(saveDraft, kSaveDelayMs);
}

async function saveDraft() {
  clearTimeout(saveTimer);
  const fields = pendingDraft;
  pendingDraft = null;
  if (!fields || !drafts) return;
  const outcome = await drafts.save(fields);
  if (outcome === 'conflict') showConflict(fields);
  else listRecent();
}

async function newDraft(name, text) {
  if (!drafts) return;
  await saveDraft();
  $('conflict').hidden = true;
  await drafts.create({ name, text, history: tracker.lines?.history() ?? null, place: tracker.place() });
  listRecent();
}

async function openDraft(draft, claimed = true) {
  await saveDraft();
  const result = player.load(draft.text, 'draft.txt');
  if (!result.ok) {
    showMessage(`The draft '${draft.name}' does not open: ${(result.errors || [result.lines]).join(' ')}`);
    return;
  }
  songName = draft.name.replace(/[^A-Za-z0-9_-]+/g, '-').replace(/^-|-$/g, '') || 'song';
  $('conflict').hidden = true;
  if (claimed) drafts.take(draft);
  showSong(result, draft.text, draft.history, draft.place);
  listRecent();
}

// Another tab saved this tab's draft: nothing is overwritten; the newer one
// can be taken, or this tab's song kept as a draft of its own.
function showConflict(mine) {
  conflictMine = mine ?? { text: tracker.lines.text(), history: tracker.lines.history(), place: tracker.place(),
                           name: song?.title || songName };
  $('conflict').hidden = false;
}

async function listRecent() {
  if (!drafts) return;
  const list = await drafts.list();
  $('recent').replaceChildren(...list.map((draft) => {
    const item = document.createElement('li');
    const when = new Date(draft.updated).toLocaleString();
    const current = drafts.current?.id === draft.id;
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
        listRecent();
      }
    });
    rename.setAttribute('aria-label', `Rename ${draft.name}`);
    const remove = button('Delete', async () => {
      if (!window.confirm(`Delete '${draft.name}' from this browser?`)) return;
      await drafts.remove(draft.id);
      listRecent();
    });
    remove.setAttribute('aria-label', `Delete ${draft.name}`);
    remove.disabled = current;
    const time = document.createElement('span');
    time.className = 'when';
    time.textContent = when;
    item.append(open, time, rename, remove);
    return item;
  }));
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
  const draft = id ? await drafts.get(id) : null;
  if (draft) {
    if (await drafts.claim(draft.id)) return openDraft(draft);
    await openDraft(draft, false);
    await newDraft(`${draft.name} (copy)`, draft.text);
    showMessage('This tab is a copy of another: its song is saved as a draft of its own.');
    return undefined;
  }
  for (const candidate of await drafts.list()) {
    if (await drafts.claim(candidate.id)) return openDraft(candidate);
  }
  return undefined;
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
  for (const row of song.rows) {
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
  const rows = song.rows;
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
  for (const [start, rowEntry] of song.rows) {
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
  control('download-text', () => download(new Blob([tracker.lines ? tracker.lines.text() : $('text').value],
                                                   { type: 'text/plain' }), `${songName}.txt`));
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
  control('take-newer', async () => {
    const newer = await drafts.get(drafts.current.id);
    if (newer) openDraft(newer);
  });
  control('keep-mine', async () => {
    const mine = conflictMine;
    $('conflict').hidden = true;
    await drafts.create({ ...mine, name: `${mine.name} (mine)` });
    listRecent();
  });
}

async function main() {
  setUpControls();
  player = await FenkPlayer.create();
  player.addEventListener('row', (event) => {
    $('status').textContent = event.detail.status;
    const entry = song?.entries[event.detail.entry];
    if (entry) tracker.hear(entry.name, event.detail.rowIndex);
  });
  player.addEventListener('error', (event) => showMessage(event.detail));
  setInterval(updatePosition, 50);
  try {
    drafts = await Drafts.open();
    drafts.addEventListener('conflict', () => showConflict(null));
  } catch (error) {
    showMessage(`Songs are not kept in this browser: ${error.message}`);
  }
  // Nothing edited is lost when the page goes away.
  document.addEventListener('visibilitychange', () => { if (document.hidden) saveDraft(); });
  window.addEventListener('pagehide', saveDraft);
  window.addEventListener('hashchange', openSharedSong);
  if (!(await openSharedSong()) && drafts) await restoreDraft();
  listRecent();
  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    navigator.serviceWorker.register('sw.js').catch((error) => console.warn(`offline use: ${error.message}`));
  }
  // For the browser's console and scripts/measure/web.mjs.
  window.fenkPage = { player, tracker };
  document.body.dataset.ready = 'true';
}

main().catch((error) => showMessage(`The player did not start: ${error.message}`));
