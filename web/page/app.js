// The page: opening songs (picker, drop, share link), the controls and
// their keys, the console lines and the status line, the piano roll and the
// song text's editor, all over one FenkPlayer.
import { FenkPlayer } from './fenk-player.js';
import { playingTime } from './fenk-engine.js';

const $ = (id) => document.getElementById(id);
const kVoiceColours = ['#ff6b6b', '#ffd166', '#06d6a0', '#4cc9f0'];
const kEditPauseMs = 400;

let player = null;
let song = null;  // the open song's fenk_open result
let songName = '';
let editTimer = 0;

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

// Opens a song's bytes; `name` is its file name, for downloads. A failure
// shows fenk's words and leaves the song that played before.
function openSong(bytes, name) {
  const result = player.load(bytes, name);
  if (!result.ok) {
    const why = result.lines || '';
    const errors = (result.errors || []).join('\n');
    showMessage([why.trim(), errors].filter(Boolean).join('\n'));
    return false;
  }
  showMessage('');
  song = result;
  songName = name.replace(/\.[^.]*$/, '') || 'song';
  $('lines').textContent = result.lines.trimEnd() +
    (result.summary ? '\n' + result.summary.join('\n') : '') +
    (result.warnings.length ? '\n' + result.warnings.join('\n') : '');
  $('status').textContent = '';
  // A song file and a MIDI file's import are edited as their song text.
  const isText = result.kind === 'text' || result.text !== undefined;
  $('editor').hidden = !isText;
  document.querySelector('.song').classList.toggle('with-text', isText);
  if (isText) {
    $('text').value = result.text ?? new TextDecoder().decode(bytes);
    $('text-error').textContent = '';
  }
  for (const control of document.querySelectorAll('button')) control.disabled = false;
  updatePosition();
  drawRoll();
  return true;
}

async function openFile(file) {
  if (!file) return;
  openSong(new Uint8Array(await file.arrayBuffer()), file.name);
}

// -- the song text, compiled as it is typed

function textEdited() {
  clearTimeout(editTimer);
  editTimer = setTimeout(() => {
    const result = player.edit($('text').value);
    if (!result.ok) {
      $('text-error').textContent = (result.errors || [result.lines]).join('\n');
      return;
    }
    $('text-error').textContent = '';
    song = result;
    $('lines').textContent = result.lines.trimEnd();
    drawRoll();
  }, kEditPauseMs);
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
  const rows = song.rows;
  for (let k = 0; k < rows.length; ++k) {
    const [tick] = rows[k];
    const end = k + 1 < rows.length ? rows[k + 1][0] : song.totalTicks;
    for (let voice = 0; voice < 4; ++voice) {
      const period = rows[k][2 + voice];
      if (period === 0) continue;
      g.fillStyle = kVoiceColours[voice];
      g.fillRect(x(tick), y(period), Math.max(1, x(end) - x(tick) - 1), bar);
    }
  }
}

function drawPlayhead(songTick) {
  const total = song && song.totalTicks > 0 ? song.totalTicks : 1;
  const at = (Math.min(songTick, total) / total) * $('roll').clientWidth;
  const transform = `translateX(${at.toFixed(1)}px)`;
  if ($('playhead').style.transform !== transform) $('playhead').style.transform = transform;
}

function seekToClick(event) {
  if (!song || song.entries.length === 0) return;
  const rect = $('roll').getBoundingClientRect();
  const tick = ((event.clientX - rect.left) / rect.width) * song.totalTicks;
  let entry = 0;
  while (entry + 1 < song.entries.length && song.entries[entry + 1].start <= tick) ++entry;
  player.seek(entry);
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
  history.replaceState(null, '', link);
  try {
    await navigator.clipboard.writeText(link);
    $('share-note').textContent = 'Link copied.';
  } catch {
    $('share-note').textContent = 'The link is in the address bar.';
  }
}

function openSharedSong() {
  const match = /^#song=([A-Za-z0-9_-]+)$/.exec(location.hash);
  if (!match) return;
  try {
    openSong(fromBase64url(match[1]), 'shared.8xp');
  } catch {
    showMessage('Not a valid TI-83 Plus program file!');
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
  control('download-8xp', () => download(new Blob([player.programFile()]), `${songName}.8xp`));
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
  $('roll').addEventListener('click', seekToClick);
  window.addEventListener('resize', () => { drawRoll(); updatePosition(); });

  document.addEventListener('keydown', (event) => {
    if (!song || event.target.closest('textarea, input, select') || event.ctrlKey || event.metaKey || event.altKey) return;
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

async function main() {
  setUpControls();
  player = await FenkPlayer.create();
  player.addEventListener('row', (event) => {
    $('status').textContent = event.detail.status;
  });
  player.addEventListener('error', (event) => showMessage(event.detail));
  setInterval(updatePosition, 50);
  window.addEventListener('hashchange', openSharedSong);
  openSharedSong();
  document.body.dataset.ready = 'true';
}

main().catch((error) => showMessage(`The player did not start: ${error.message}`));
