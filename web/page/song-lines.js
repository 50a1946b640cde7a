// The song text as the tracker edits it: an array of lines changed one
// splice at a time, each splice a step of undo, and the small pieces of the
// text format the grid needs (a row's words, note names, a new song). The
// text stays the user's own: only the lines an edit touches are written
// again; comments elsewhere stay.

export const kMaxUndoSteps = 1000;
export const kNewSectionRows = 16;  // the rows of a new section (of a new song, or one added)

// The facts of the text format, from the module that owns them
// (fenk_text_facts: the writer's column width, the note names, ...): given
// once at start, before any text is written.
let facts = null;
export function useTextFacts(given) { facts = given; }
export function textFacts() { return facts; }

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

// The text's name of MIDI key `key` (0..127; C4 is 60), or null beyond.
export function noteName(key) {
  return facts.noteNames[key] ?? null;
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
  return key === null ? token : noteName(key + semitones) ?? token;
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
  const code = '  ' + words.map((word, k) => (k < words.length - 1 ? word.padEnd(facts.voiceColumnWidth - 1) + ' ' : word)).join('');
  return comment ? `${code}  ${comment}` : code;
}

// Lines of the text, changed by splices; undo and redo replay them.
// A step: {at, removed: [lines], inserted: [lines], before, after}, where
// before and after are what the caller keeps with it (the cursor). A step
// is never changed once made, so a copy of the step lists is a copy of the
// history.
export class SongLines {
  constructor(text, history = null) {
    this.lines = text.split('\n');
    this.undoSteps = history?.undo?.slice() ?? [];
    this.redoSteps = history?.redo?.slice() ?? [];
    this.dropped = 0;  // steps let go at the cap, since this text opened
  }

  text() { return this.lines.join('\n'); }

  // The undo and redo steps as plain data, a copy of their state now (kept
  // with a draft, which is written later).
  history() { return { undo: this.undoSteps.slice(), redo: this.redoSteps.slice() }; }

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
    this.lines = lines.slice();
    this.undoSteps.push(step);
    if (this.undoSteps.length > kMaxUndoSteps) {
      this.undoSteps.shift();
      this.dropped += 1;
    }
    this.redoneBefore = this.redoSteps;
    this.redoSteps = [];
    return true;
  }

  // Undoes the latest step; its `before`, or undefined when there is none.
  // A step whose lines are not the text's any more (a history kept with
  // another text) is not replayed: the history is let go ('stale').
  undo() { return this.replay(this.undoSteps, this.redoSteps, 'inserted', 'removed', 'before'); }

  redo() { return this.replay(this.redoSteps, this.undoSteps, 'removed', 'inserted', 'after'); }

  replay(from, to, expected, put, place) {
    const step = from.at(-1);
    if (!step) return undefined;
    const here = this.lines.slice(step.at, step.at + step[expected].length);
    if (step.at > this.lines.length || here.length !== step[expected].length ||
        here.some((line, k) => line !== step[expected][k])) {
      this.undoSteps = [];
      this.redoSteps = [];
      return 'stale';
    }
    from.pop();
    this.lines.splice(step.at, step[expected].length, ...step[put]);
    to.push(step);
    return step[place];
  }

  // Takes back the latest replace as if it never was (an edit the
  // compiler refused): the lines and the redo steps as they were.
  revert() {
    const step = this.undoSteps.pop();
    if (step) this.lines.splice(step.at, step.inserted.length, ...step.removed);
    this.redoSteps = this.redoneBefore ?? [];
  }
}

// What a compile's first mistake says, as "line 31: unknown note 'H4'".
export function compileError(result) {
  const first = (result.errors ?? [])[0];
  if (!first) return result.lines?.trim() || 'the song does not compile';
  const match = /^(\d+): (.*)$/s.exec(first);
  return match ? `line ${match[1]}: ${match[2]}` : first;
}

// The song: its text is the one model, changed a splice at a time (from the
// grid or typed in the text editor) in one history. The text may not
// compile (a row half typed): then `error` says why and `good` stays the
// last version that did, which the grid shows and which plays.
//   compile(text) -> the engine's open result ({ok, layout, errors, ...});
//   `compiled`: that result for `text` when the caller has it already.
export class SongModel {
  constructor(text, compile, history = null, compiled = null) {
    this.compile = compile;
    this.lines = new SongLines(text, history);
    this.good = null;    // {result, lines}: the last text that compiled, and its compile
    this.error = null;   // why the text as it stands does not compile, or null
    if (compiled?.ok && compiled.layout) this.good = { result: compiled, lines: this.lines.lines.slice() };
    else this.check();
  }

  text() { return this.lines.text(); }
  history() { return this.lines.history(); }
  get editable() { return this.error === null && this.good !== null; }

  // Compiles the text as it stands; its result.
  check() {
    const result = this.compile(this.lines.text());
    if (result.ok) {
      this.good = { result, lines: this.lines.lines.slice() };
      this.error = null;
    } else {
      this.error = compileError(result);
    }
    return result;
  }

  // A grid edit: `lines` as a step, taken only when the text compiles as it
  // is and with it. {ok, result} or {ok: false, reason}.
  edit(lines, before, after) {
    if (!this.editable) return { ok: false, reason: `The song text does not compile (${this.error}): mend it first.` };
    if (!this.lines.replace(lines, before, after)) return { ok: true, result: null };
    const result = this.compile(this.lines.text());
    if (!result.ok) {
      this.lines.revert();
      return { ok: false, reason: `Not taken: ${compileError(result).replace(/^line \d+: /, '')}` };
    }
    this.good = { result, lines: this.lines.lines.slice() };
    return { ok: true, result };
  }

  // Text typed in the editor: always taken, as one step; its compile (null
  // when nothing changed).
  type(text, place) {
    if (!this.lines.replace(text.split('\n'), place, place)) return null;
    return this.check();
  }

  // Undo or redo: {place, result}, or null with nothing to replay, or
  // {stale: true} when the history did not belong to the text.
  undo() { return this.replayed(this.lines.undo()); }
  redo() { return this.replayed(this.lines.redo()); }

  replayed(place) {
    if (place === undefined) return null;
    if (place === 'stale') return { stale: true };
    return { place, result: this.check() };
  }
}
