// The tracker: the section being edited as a grid of four voices and a
// duration, notes typed from two rows of the computer keyboard (or the
// on-screen keys), blocks selected, copied, transposed; sections and the
// order list edited. Every edit changes the song text's lines (SongLines)
// and is compiled at once by the host: an edit the compiler refuses (the
// song would not fit a program, a duration out of range) is taken back with
// the reason, so the grid and the text always hold a song that plays.
import { kNewSectionRows, noteName, restRows, rowLine, splitRow, transposeToken } from './song-lines.js';

export const kRowHeight = 26;      // px: the grid's rows are all one height (drawn as seen)
const kRowsDrawnAround = 12;       // rows drawn beyond those on screen
const kPageRows = 16;

// Keys of the computer keyboard as a piano (KeyboardEvent.code: the place
// of the key, whatever the layout prints on it), in semitones above C of
// the current octave.
export const kNoteKeys = {
  KeyZ: 0, KeyS: 1, KeyX: 2, KeyD: 3, KeyC: 4, KeyV: 5, KeyG: 6, KeyB: 7, KeyH: 8, KeyN: 9, KeyJ: 10, KeyM: 11,
  KeyQ: 12, Digit2: 13, KeyW: 14, Digit3: 15, KeyE: 16, KeyR: 17, Digit5: 18, KeyT: 19, Digit6: 20, KeyY: 21,
  Digit7: 22, KeyU: 23, KeyI: 24,
};

export class Tracker {
  // `elements`: {grid, body, sectionSelect, sectionName, orderList, octave}.
  // `host`: compile(text) -> the engine's open result; textEdit(edit) ->
  // the module's section or order edit ({ok, text}); preview(voice,
  // period); playFrom(section, row); changed(text, result, {history, place,
  // toText, edited}) after every song shown; refused(reason); confirm(question).
  constructor(elements, host) {
    this.el = elements;
    this.host = host;
    this.model = null;
    this.layout = null;
    this.section = 0;              // index in layout.sections
    this.cursor = { row: 0, col: 0 };
    this.anchor = null;            // the selection's other corner, or null
    this.octave = 4;
    this.orderIndex = -1;          // the order entry selected in the list
    this.clipboard = null;         // {text, cells}: the latest copy
    this.durationTyped = null;     // a duration being typed, or null
    this.playing = null;           // {section, row} being heard
    this.follow = true;
    this.el.body.addEventListener('keydown', (event) => this.key(event));
    this.el.body.addEventListener('pointerdown', (event) => this.pointerDown(event));
    this.el.grid.addEventListener('scroll', () => this.draw());
    for (const kind of ['copy', 'cut', 'paste']) {
      document.addEventListener(kind, (event) => {
        if (this.hasFocus()) this.clipboardEvent(kind, event);
      });
    }
  }

  // -- the song

  // A song opened: its model (SongModel: the text, its history and its last
  // compile) and, for a draft, the place of its cursor.
  open(model, place = null) {
    this.model = model;
    this.orderIndex = -1;
    this.durationTyped = null;
    this.section = 0;
    this.shown(place ?? { section: model.good?.result.layout.sections[0]?.name, row: 0, col: 0 },
               { edited: false, toText: true });
  }

  // No song in the grid (a song file whose text would not fit is only played).
  close() {
    this.model = null;
    this.layout = null;
  }

  get lines() { return this.model?.lines ?? null; }
  // The lines of the version the grid shows: the last that compiled.
  get shownLines() { return this.model.good.lines; }
  get sectionData() { return this.layout?.sections[this.section] ?? null; }
  rowCount() { return this.sectionData ? this.sectionData.rows.length : 0; }
  place() { return { section: this.sectionData?.name, row: this.cursor.row, col: this.cursor.col }; }
  hasFocus() { return this.el.grid.contains(document.activeElement); }

  // The words of row `row` of the section shown: four voices, a duration.
  words(row, section = this.sectionData) {
    return splitRow(this.shownLines[section.rowLines[row] - 1]).words;
  }

  // A copy of the text's lines to edit, or null (and the reason said) while
  // the text does not compile: the grid takes no edits until it does.
  editLines() {
    if (!this.model) return null;
    if (!this.model.editable) {
      this.host.refused(`The song text does not compile (${this.model.error}): mend it in the editor first.`);
      return null;
    }
    return this.lines.lines.slice();
  }

  // Makes `lines` the song as one step of undo, if the compiler takes it.
  commit(lines, after) {
    if (!lines) return false;
    const edited = this.model.edit(lines, this.place(), after);
    if (!edited.ok) {
      this.host.refused(edited.reason);
      return false;
    }
    // Nothing changed (a rest on a rest): the cursor moves all the same.
    if (!edited.result) this.goTo(after.section, after.row, after.col);
    else this.shown(after);
    return true;
  }

  // The song text typed in the text editor, as one step of undo, whether
  // it compiles or not (the grid keeps the last version that did).
  textEdited(text) {
    if (!this.model) return;
    if (this.model.type(text, this.place())) this.shown(this.place(), { toText: false });
  }

  undo() { return this.replay(() => this.model.undo()); }
  redo() { return this.replay(() => this.model.redo()); }

  replay(step) {
    if (!this.model) return false;
    const replayed = step();
    if (!replayed) return false;
    if (replayed.stale) {
      this.host.refused('The undo history was not this text\'s: it is let go.');
      this.host.changed(this.state({ edited: true, toText: false }));
      return false;
    }
    this.shown(replayed.place);
    return true;
  }

  // What the host is told after every change: the text (the model), the
  // compile the grid shows, why the text does not compile (or null), the
  // history and the cursor.
  state({ edited, toText }) {
    return { text: this.model.text(), result: this.model.good?.result ?? null, error: this.model.error,
             history: this.model.history(), place: this.place(), edited, toText,
             dropped: this.model.lines.dropped };
  }

  // The model shown: the grid draws its last version that compiled, with
  // the cursor at `place`. `toText` false when the change came from the
  // text editor, `edited` false when the song was only opened.
  shown(place, { toText = true, edited = true } = {}) {
    this.layout = this.model.good?.result.layout ?? null;
    this.el.grid.classList.toggle('stale', this.model.error !== null);
    if (this.layout) {
      const found = this.layout.sections.findIndex((section) => section.name === place.section);
      this.section = found >= 0 ? found : Math.min(this.section, Math.max(0, this.layout.sections.length - 1));
      this.cursor = { row: clamp(place.row, 0, Math.max(0, this.rowCount() - 1)), col: clamp(place.col, 0, 4) };
      this.anchor = null;
      this.drawSections();
    }
    this.draw(true);
    this.host.changed(this.state({ toText, edited }));
  }

  // -- cells

  // Sets cells: [{row, col, word}] of the section shown, as one step.
  setCells(changes, after = this.place()) {
    const lines = this.editLines();
    if (!lines) return false;
    const section = this.sectionData;
    for (const { row, col, word } of changes) {
      const at = section.rowLines[row] - 1;
      const { words, comment } = splitRow(lines[at]);
      words[col] = word;
      lines[at] = rowLine(words, comment);
    }
    return this.commit(lines, after);
  }

  // A note (MIDI key) typed at the cursor: set, heard, and the cursor a row down.
  enterNote(key) {
    if (!this.sectionData || this.cursor.col > 3) return;
    const { row, col } = this.cursor;
    const after = { ...this.place(), row: Math.min(row + 1, this.rowCount() - 1) };
    if (this.setCells([{ row, col, word: noteName(key) }], after)) {
      const period = this.layout.sections[this.section].rows[row][col];
      if (period > 0) this.host.preview(col, period);
    }
  }

  enterRest() {
    if (!this.sectionData) return;
    const cells = this.selectedCells().filter(({ col }) => col < 4);
    const after = this.anchor ? this.place() : { ...this.place(), row: Math.min(this.cursor.row + 1, this.rowCount() - 1) };
    this.setCells(cells.map(({ row, col }) => ({ row, col, word: '-' })), after);
  }

  // The duration (a word of the text format) of every row selected.
  setDuration(word) {
    if (!this.sectionData || !word) return false;
    const rows = this.selectedRows();
    return this.setCells(rows.map((row) => ({ row, col: 4, word })));
  }

  transpose(semitones) {
    const cells = this.selectedCells().filter(({ col }) => col < 4);
    this.setCells(cells.map(({ row, col }) => ({ row, col, word: transposeToken(this.words(row)[col], semitones) })));
  }

  // Sets header line `key` ('title', 'name') to `value` as the text has it
  // (a title quoted), added at the top when the text has none.
  setHeader(key, value) {
    const lines = this.editLines();
    if (!lines) return false;
    const line = this.layout.headerLines[key];
    const written = `${key.padEnd(7)} ${value}`;
    if (line) lines[line - 1] = written;
    else lines.unshift(written);
    return this.commit(lines, this.place());
  }

  // -- rows

  insertRow() {
    const section = this.sectionData;
    if (!section) return;
    const lines = this.editLines();
    if (!lines) return;
    const row = this.cursor.row;
    const at = row < section.rowLines.length ? section.rowLines[row] - 1
      : section.endLine > 0 ? section.endLine - 1 : lines.length;
    const duration = section.rowLines.length > 0 ? this.words(Math.min(row, section.rowLines.length - 1))[4] : '1';
    lines.splice(at, 0, ...restRows(1, duration));
    this.commit(lines, { ...this.place(), row });
  }

  deleteRows() {
    const section = this.sectionData;
    if (!section || section.rowLines.length === 0) return;
    const rows = this.selectedRows();
    const lines = this.editLines();
    if (!lines) return;
    for (const row of rows.slice().reverse()) lines.splice(section.rowLines[row] - 1, 1);
    this.commit(lines, { ...this.place(), row: rows[0] });
  }

  // -- the selection

  selection() {
    const a = this.anchor ?? this.cursor;
    const b = this.cursor;
    return { top: Math.min(a.row, b.row), bottom: Math.max(a.row, b.row),
             left: Math.min(a.col, b.col), right: Math.max(a.col, b.col) };
  }

  selectedRows() {
    if (this.rowCount() === 0) return [];
    const { top, bottom } = this.selection();
    return Array.from({ length: bottom - top + 1 }, (_, k) => top + k);
  }

  selectedCells() {
    if (this.rowCount() === 0) return [];
    const { left, right } = this.selection();
    return this.selectedRows().flatMap((row) =>
      Array.from({ length: right - left + 1 }, (_, k) => ({ row, col: left + k })));
  }

  // Copy: the cells inside the page, the selected rows as song text for
  // other programs (and other songs). Paste takes either back at the cursor,
  // adding rows at the section's end when it needs them.
  clipboardEvent(kind, event) {
    if (!this.sectionData) return;
    event.preventDefault();
    if (kind === 'copy' || kind === 'cut') {
      const { left, right } = this.selection();
      const rows = this.selectedRows();
      const text = rows.map((row) => rowLine(this.words(row))).join('\n') + '\n';
      this.clipboard = { text, cells: rows.map((row) => this.words(row).slice(left, right + 1)), left };
      event.clipboardData.setData('text/plain', text);
      if (kind === 'cut') {
        this.setCells(this.selectedCells().filter(({ col }) => col < 4).map(({ row, col }) => ({ row, col, word: '-' })));
      }
      return;
    }
    const text = event.clipboardData.getData('text/plain');
    let cells;
    let left = this.cursor.col;
    if (this.clipboard && text === this.clipboard.text) {
      cells = this.clipboard.cells;
    } else {
      cells = text.split('\n').map((line) => splitRow(line).words).filter((words) => words.length === 5);
      left = 0;
      if (cells.length === 0) {
        this.host.refused('The clipboard holds no rows of a song (four voices and a duration a line).');
        return;
      }
    }
    this.paste(cells, left);
  }

  paste(cells, left) {
    const section = this.sectionData;
    const lines = this.editLines();
    if (!lines) return;
    const top = this.cursor.row;
    const missing = Math.max(0, top + cells.length - section.rowLines.length);
    const end = section.endLine > 0 ? section.endLine - 1 : lines.length;
    const lastDuration = section.rowLines.length > 0 ? this.words(section.rowLines.length - 1)[4] : '1';
    lines.splice(end, 0, ...restRows(missing, lastDuration));
    cells.forEach((pasted, k) => {
      const at = k + top < section.rowLines.length ? section.rowLines[k + top] - 1 : end + (k + top - section.rowLines.length);
      const { words, comment } = splitRow(lines[at]);
      pasted.forEach((word, j) => { if (left + j <= 4) words[left + j] = word; });
      lines[at] = rowLine(words, comment);
    });
    this.commit(lines, this.place());
  }

  // -- sections and the order list

  sectionNames() { return this.layout.sections.map((section) => section.name); }

  orderNames() {
    return this.layout.orderLines.flatMap((line) => splitRow(this.shownLines[line - 1]).words.slice(1));
  }

  // A section or order edit, made by the module (fenk_text_edit) on the
  // text as it stands, then committed as one step.
  textEdit(edit, after) {
    if (!this.editLines()) return false;
    const edited = this.host.textEdit({ ...edit, text: this.lines.text() });
    if (!edited.ok) {
      this.host.refused(`Not taken: ${edited.error}.`);
      return false;
    }
    return this.commit(edited.text.split('\n'), after);
  }

  withOrder(names) { return this.textEdit({ edit: 'order', names }, this.place()); }

  freeName(base) {
    const taken = new Set(this.sectionNames());
    for (let k = 1; ; ++k) {
      const name = `${base}${k}`;
      if (!taken.has(name)) return name;
    }
  }

  // A section of the rows given added after the one shown, and named in the order.
  addSectionLines(name, rows) {
    this.textEdit({ edit: 'add', after: this.sectionData?.name ?? '', name, rows }, { section: name, row: 0, col: 0 });
  }

  addSection() {
    this.addSectionLines(this.freeName('s'), restRows(kNewSectionRows));
  }

  duplicateSection() {
    const section = this.sectionData;
    if (!section) return;
    this.addSectionLines(this.freeName(`${section.name}-`), section.rowLines.map((line) => this.shownLines[line - 1]));
  }

  renameSection(name) {
    const section = this.sectionData;
    if (!section || name === section.name) return true;
    return this.textEdit({ edit: 'rename', name: section.name, to: name }, { ...this.place(), section: name });
  }

  deleteSection() {
    const section = this.sectionData;
    if (!section) return;
    const times = this.orderNames().filter((name) => name === section.name).length;
    if (this.layout.sections.length > 1 && times > 0 &&
        !this.host.confirm(`The order plays section '${section.name}' ${times} time${times > 1 ? 's' : ''}. ` +
                           'Delete the section and those order entries?')) return;
    const next = this.layout.sections[this.section + 1] ?? this.layout.sections[this.section - 1];
    this.textEdit({ edit: 'delete', name: section.name }, { section: next?.name, row: 0, col: 0 });
  }

  // Order entries: the section shown added after the entry selected (or at
  // the end); the selected one moved by `step` or removed.
  addOrderEntry() {
    const order = this.orderNames();
    const at = this.orderIndex >= 0 ? this.orderIndex + 1 : order.length;
    order.splice(at, 0, this.sectionData.name);
    this.orderIndex = at;
    this.withOrder(order);
  }

  moveOrderEntry(step) {
    const order = this.orderNames();
    const from = this.orderIndex;
    const to = from + step;
    if (from < 0 || to < 0 || to >= order.length) return;
    [order[from], order[to]] = [order[to], order[from]];
    this.orderIndex = to;
    this.withOrder(order);
  }

  removeOrderEntry() {
    const order = this.orderNames();
    if (this.orderIndex < 0 || this.orderIndex >= order.length) return;
    order.splice(this.orderIndex, 1);
    this.orderIndex = Math.min(this.orderIndex, order.length - 1);
    this.withOrder(order);
  }

  // Shows `section` (a name) with the cursor on `row`.
  goTo(section, row, col = this.cursor.col) {
    const index = this.layout?.sections.findIndex((entry) => entry.name === section) ?? -1;
    if (index < 0) return;
    this.section = index;
    this.cursor = { row: clamp(row, 0, Math.max(0, this.rowCount() - 1)), col };
    this.anchor = null;
    this.drawSections();
    this.draw(true);
  }

  // The row heard (section name and row, or null): marked, and shown when
  // following.
  hear(section, row) {
    this.playing = section === null ? null : { section, row };
    if (this.playing && this.follow && this.sectionData?.name !== section && !this.hasFocus()) {
      this.goTo(section, this.cursor.row);
    }
    if (this.playing && this.follow && this.sectionData?.name === section) this.scrollTo(row, false);
    this.markPlaying();
  }

  // -- keys and the pointer

  key(event) {
    if (!this.sectionData || event.altKey || event.metaKey) return;
    const ctrl = event.ctrlKey;
    const last = this.rowCount() - 1;
    const move = (row, col) => {
      this.commitDuration();
      if (event.shiftKey && !this.anchor) this.anchor = { ...this.cursor };
      if (!event.shiftKey) this.anchor = null;
      this.cursor = { row: clamp(row, 0, Math.max(0, last)), col: clamp(col, 0, 4) };
      this.draw(true);
    };
    const { row, col } = this.cursor;
    let handled = true;
    if (event.key === 'ArrowUp' && ctrl) this.transpose(event.shiftKey ? 12 : 1);
    else if (event.key === 'ArrowDown' && ctrl) this.transpose(event.shiftKey ? -12 : -1);
    else if (event.key === 'ArrowUp') move(row - 1, col);
    else if (event.key === 'ArrowDown') move(row + 1, col);
    else if (event.key === 'ArrowLeft') move(row, col - 1);
    else if (event.key === 'ArrowRight') move(row, col + 1);
    else if (event.key === 'PageUp') move(row - kPageRows, col);
    else if (event.key === 'PageDown') move(row + kPageRows, col);
    else if (event.key === 'Home') move(ctrl ? 0 : row, 0);
    else if (event.key === 'End') move(ctrl ? last : row, 4);
    else if (event.key === 'Tab' && !ctrl) {
      // Tab leaves the grid from its last column (Shift+Tab from its first).
      const to = col + (event.shiftKey ? -1 : 1);
      if (to < 0 || to > 4) { this.commitDuration(); return; }
      this.anchor = null;
      this.commitDuration();
      this.cursor = { row, col: to };
      this.draw(true);
    } else if (event.key === 'Insert') this.insertRow();
    else if (event.key === 'Delete' && (ctrl || event.shiftKey)) this.deleteRows();
    else if (event.key === 'Escape') {
      this.durationTyped = null;
      this.anchor = null;
      this.draw(true);
    } else if (col === 4 && !ctrl && this.typeDuration(event)) {
      // typed into the duration
    } else if (event.key === 'Enter' && !ctrl) this.host.playFrom(this.sectionData.name, row);
    else if ((event.key === 'Delete' || event.key === '.') && !ctrl) this.enterRest();
    else if (ctrl && (event.key === 'z' || event.key === 'Z')) (event.shiftKey ? this.redo() : this.undo());
    else if (ctrl && (event.key === 'y' || event.key === 'Y')) this.redo();
    else if (ctrl && (event.key === 'a' || event.key === 'A')) {
      this.anchor = { row: 0, col: 0 };
      this.cursor = { row: last, col: 4 };
      this.draw(true);
    } else if (!ctrl && !event.shiftKey && event.code in kNoteKeys && col < 4) {
      this.enterNote((this.octave + 1) * 12 + kNoteKeys[event.code]);
    } else if (!ctrl && (event.key === '[' || event.key === ']')) this.setOctave(this.octave + (event.key === ']' ? 1 : -1));
    else handled = false;
    if (handled) {
      event.preventDefault();
      event.stopPropagation();
    }
  }

  // A duration typed into its cell: digits, '.', '/' and 't'; Enter (or
  // leaving the cell) sets it, Escape forgets it, Backspace takes a
  // character back.
  typeDuration(event) {
    if (/^[0-9./t]$/.test(event.key)) {
      this.durationTyped = (this.durationTyped ?? '') + event.key;
    } else if (event.key === 'Backspace' && this.durationTyped !== null) {
      this.durationTyped = this.durationTyped.slice(0, -1);
    } else if (event.key === 'Enter' && this.durationTyped !== null) {
      this.commitDuration();
      return true;
    } else {
      return false;
    }
    this.draw(true);
    return true;
  }

  commitDuration() {
    const typed = this.durationTyped;
    if (typed === null) return;
    this.durationTyped = null;
    if (typed === '') {
      this.draw(true);
      return;
    }
    if (!this.setCells([{ row: this.cursor.row, col: 4, word: typed }])) this.draw(true);
  }

  setOctave(octave) {
    this.octave = clamp(octave, 2, 8);
    this.el.octave.value = String(this.octave);
  }

  pointerDown(event) {
    const cell = event.target.closest('[data-col]');
    if (!cell) return;
    this.commitDuration();
    const at = { row: Number(cell.parentElement.dataset.row), col: Number(cell.dataset.col) };
    if (event.shiftKey) this.anchor ??= { ...this.cursor };
    else this.anchor = null;
    this.cursor = at;
    this.draw(true);
    // The cell clicked is drawn anew: the new one takes the keyboard, now
    // and once the button is up (the browser's own focus, given after this,
    // would go to the cell replaced, which is gone, so to the page).
    this.focusCursor();
    window.addEventListener('pointerup', () => { if (this.model) this.focusCursor(); }, { once: true });
    // Dragging selects a block.
    const moveTo = (moved) => {
      const over = document.elementFromPoint(moved.clientX, moved.clientY)?.closest('[data-col]');
      if (!over || !this.el.body.contains(over)) return;
      const row = Number(over.parentElement.dataset.row);
      const col = Number(over.dataset.col);
      if (row === this.cursor.row && col === this.cursor.col) return;
      this.anchor ??= at;
      this.cursor = { row, col };
      this.draw(false);
    };
    const up = () => {
      window.removeEventListener('pointermove', moveTo);
      window.removeEventListener('pointerup', up);
    };
    if (event.pointerType === 'mouse') {
      window.addEventListener('pointermove', moveTo);
      window.addEventListener('pointerup', up);
    }
  }

  // -- drawing

  drawSections() {
    const select = this.el.sectionSelect;
    const names = this.sectionNames();
    if ([...select.options].map((option) => option.value).join('\n') !== names.join('\n')) {
      select.replaceChildren(...names.map((name) => new Option(name, name)));
    }
    select.value = this.sectionData?.name ?? '';
    if (document.activeElement !== this.el.sectionName) this.el.sectionName.value = this.sectionData?.name ?? '';
    const order = this.orderNames();
    this.orderIndex = Math.min(this.orderIndex, order.length - 1);
    this.el.orderList.replaceChildren(...order.map((name, index) => {
      const item = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = name;
      button.setAttribute('aria-label', `Order entry ${index + 1}: ${name}`);
      button.setAttribute('aria-pressed', String(index === this.orderIndex));
      button.addEventListener('click', () => {
        this.orderIndex = index;
        this.goTo(name, 0);
      });
      item.append(button);
      return item;
    }));
  }

  // Draws the rows on screen and a few around them; the rest of the
  // section is space of the same height. `showCursor`: the cursor's row is
  // scrolled into view and focused when the grid has the focus.
  draw(showCursor = false) {
    const grid = this.el.grid;
    const body = this.el.body;
    const rows = this.rowCount();
    grid.setAttribute('aria-rowcount', String(rows + 1));
    if (showCursor) this.scrollTo(this.cursor.row, true);
    const first = clamp(Math.floor(grid.scrollTop / kRowHeight) - kRowsDrawnAround, 0, rows);
    const last = clamp(Math.ceil((grid.scrollTop + grid.clientHeight) / kRowHeight) + kRowsDrawnAround, 0, rows);
    body.style.paddingTop = `${first * kRowHeight}px`;
    body.style.paddingBottom = `${(rows - last) * kRowHeight}px`;
    const hadFocus = this.hasFocus();
    const { top, bottom, left, right } = this.selection();
    const selecting = this.anchor !== null;
    const drawn = [];
    for (let row = first; row < last; ++row) {
      const words = this.words(row);
      const element = document.createElement('div');
      element.setAttribute('role', 'row');
      element.setAttribute('aria-rowindex', String(row + 2));
      element.dataset.row = String(row);
      element.className = 'grid-row';
      const header = document.createElement('div');
      header.setAttribute('role', 'rowheader');
      header.textContent = String(row + 1);
      element.append(header);
      for (let col = 0; col < 5; ++col) {
        const cell = document.createElement('div');
        cell.setAttribute('role', 'gridcell');
        cell.dataset.col = String(col);
        const isCursor = row === this.cursor.row && col === this.cursor.col;
        const word = isCursor && col === 4 && this.durationTyped !== null ? `${this.durationTyped}_` : words[col] ?? '';
        cell.textContent = word;
        if (word === '-') cell.setAttribute('aria-label', 'rest');
        cell.tabIndex = isCursor ? 0 : -1;
        if (isCursor) cell.classList.add('cursor');
        if (selecting && row >= top && row <= bottom && col >= left && col <= right) {
          cell.classList.add('selected');
          cell.setAttribute('aria-selected', 'true');
        }
        element.append(cell);
      }
      drawn.push(element);
    }
    body.replaceChildren(...drawn);
    this.markPlaying();
    if (hadFocus) this.focusCursor();
  }

  focusCursor() {
    const cell = this.el.body.querySelector('.cursor');
    if (cell && document.activeElement !== cell) cell.focus({ preventScroll: true });
  }

  markPlaying() {
    const row = this.playing && this.sectionData?.name === this.playing.section ? this.playing.row : -1;
    for (const element of this.el.body.children) element.classList.toggle('playing', Number(element.dataset.row) === row);
  }

  scrollTo(row, nearest) {
    const grid = this.el.grid;
    const header = kRowHeight;
    const y = row * kRowHeight;
    const view = grid.clientHeight - header;
    let top = grid.scrollTop;
    if (!nearest) top = y - view / 2;
    else if (y < top) top = y;
    else if (y + kRowHeight > top + view) top = y + kRowHeight - view;
    if (Math.abs(top - grid.scrollTop) >= 1) {
      grid.scrollTop = Math.max(0, top);
      if (!nearest) this.draw(false);
    }
  }
}

function clamp(value, low, high) { return Math.min(Math.max(value, low), high); }

// The reason a compile gave, in one line.
export function refusal(result) {
  const errors = result.errors ?? [];
  return errors.length > 0 ? `Not taken: ${errors[0].replace(/^\d+: /, '')}` : `Not taken: ${result.lines || 'the song does not compile'}`;
}
