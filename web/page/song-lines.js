// The song text as the tracker edits it: an array of lines changed one
// splice at a time, each splice a step of undo, and the small pieces of the
// text format the grid needs (a row's words, note names, a new song). The
// text stays the user's own: only the lines an edit touches are written
// again; comments elsewhere stay.

export const kMaxUndoSteps = 1000;
export const kColumnWidth = 7;  // the writer's columns: rows line up in either view
export const kNewSectionRows = 16;  // the rows of a new section (of a new song, or one added)

const kNoteNames = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
const kLetterSemitones = { C: 0, D: 2, E: 4, F: 5, G: 7, A: 9, B: 11 };

// The text of a new song: tempo 120, one section of 16 rows of rests, each
// a beat (100 ticks), named once in the order.
export function newSongText(name = 'UNTITLED') {
  return [`title   "Untitled"`, `name    ${name}`, '', 'tempo 120', '', 'section s1', ...restRows(kNewSectionRows),
          'end', '', 'order s1', ''].join('\n');
}

// `count` rows of rests, each `duration` long (a word of the text format).
export function restRows(count, duration = '1') {
  return Array.from({ length: count }, () => rowLine(['-', '-', '-', '-', duration]));
}

// C4 is MIDI key 60, as the text's scientific pitch names have it.
export function noteName(key) {
  return `${kNoteNames[((key % 12) + 12) % 12]}${Math.floor(key / 12) - 1}`;
}

// The MIDI key of a note name ('C#4', 'bb3', 'C-1'), or null for anything
// else (a raw period, a rest).
export function noteKey(token) {
  const match = /^([A-Ga-g])([#b]?)(-1|\d)$/.exec(token);
  if (!match) return null;
  const accidental = match[2] === '#' ? 1 : match[2] === 'b' ? -1 : 0;
  return (Number(match[3]) + 1) * 12 + kLetterSemitones[match[1].toUpperCase()] + accidental;
}

// A note name moved by `semitones`; other words (periods, rests) stay.
export function transposeToken(token, semitones) {
  const key = noteKey(token);
  return key === null ? token : noteName(key + semitones);
}

// The words of a row's line and its comment ('# ...' to the end, or '').
export function splitRow(line) {
  const comment = /(^|\s)#/.exec(line);
  const code = comment ? line.slice(0, comment.index + comment[1].length) : line;
  return { words: code.trim().split(/\s+/).filter(Boolean),
           comment: comment ? line.slice(comment.index + comment[1].length) : '' };
}

// A row's line from its five words, lined up in columns as fenk-make's
// writer lines them up, with its comment kept.
export function rowLine(words, comment = '') {
  const code = '  ' + words.map((word, k) => (k < words.length - 1 ? word.padEnd(kColumnWidth - 1) + ' ' : word)).join('');
  return comment ? `${code}  ${comment}` : code;
}

// Lines of the text, changed by splices; undo and redo replay them.
// A step: {at, removed: [lines], inserted: [lines], before, after}, where
// before and after are what the caller keeps with it (the cursor).
export class SongLines {
  constructor(text, history = null) {
    this.lines = text.split('\n');
    this.undoSteps = history?.undo ?? [];
    this.redoSteps = history?.redo ?? [];
  }

  text() { return this.lines.join('\n'); }

  // The undo and redo steps, as plain data (kept with a draft).
  history() { return { undo: this.undoSteps, redo: this.redoSteps }; }

  // Makes `lines` the text as one step of undo: the changed lines are the
  // ones between the longest common start and end. False when nothing changed.
  replace(lines, before, after) {
    const old = this.lines;
    let start = 0;
    while (start < old.length && start < lines.length && old[start] === lines[start]) ++start;
    let end = 0;
    while (end < old.length - start && end < lines.length - start &&
           old[old.length - 1 - end] === lines[lines.length - 1 - end]) ++end;
    if (start === old.length && start === lines.length) return false;
    const step = { at: start, removed: old.slice(start, old.length - end),
                   inserted: lines.slice(start, lines.length - end), before, after };
    this.lines = lines;
    this.undoSteps.push(step);
    if (this.undoSteps.length > kMaxUndoSteps) this.undoSteps.shift();
    this.redoneBefore = this.redoSteps;
    this.redoSteps = [];
    return true;
  }

  // Undoes the latest step; its `before`, or undefined when there is none.
  undo() {
    const step = this.undoSteps.pop();
    if (!step) return undefined;
    this.lines.splice(step.at, step.inserted.length, ...step.removed);
    this.redoSteps.push(step);
    return step.before;
  }

  redo() {
    const step = this.redoSteps.pop();
    if (!step) return undefined;
    this.lines.splice(step.at, step.removed.length, ...step.inserted);
    this.undoSteps.push(step);
    return step.after;
  }

  // Takes back the latest replace as if it never was (an edit the
  // compiler refused): the lines and the redo steps as they were.
  revert() {
    const step = this.undoSteps.pop();
    if (step) this.lines.splice(step.at, step.inserted.length, ...step.removed);
    this.redoSteps = this.redoneBefore ?? [];
  }
}
